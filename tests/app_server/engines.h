// The database engines under test. The end-to-end tests run once per engine: the variable
// ACOMP_TEST_ENGINE says which ("sqlite", the default, or "postgresql"). PostgreSQL tests use
// the throwaway cluster scripts/test starts, named by ACOMP_TEST_PG (a libpq connection string
// without a database: "host=/tmp/acomp-pg.XXXX port=5432 user=postgres"); each test program
// makes databases of its own there and drops them at the end.
#pragma once

#include <string>
#include <vector>

namespace testing_app {

enum class TEngine { Sqlite, Postgres };

TEngine EngineUnderTest();

// The cluster's connection string; raises, saying how to get one, when ACOMP_TEST_PG is unset.
std::string PostgresCluster();

// A database of its own in the test cluster, dropped with its connections at the end. Its
// default collation is ICU's pt-BR, as a Brazilian site's may be: unlike the byte order the
// service relies on ("~" before digits, "a" before "B"), so the schema's must be what holds.
class TPostgresDatabase {
 public:
  TPostgresDatabase();
  ~TPostgresDatabase();
  TPostgresDatabase(const TPostgresDatabase&) = delete;
  TPostgresDatabase& operator=(const TPostgresDatabase&) = delete;

  const std::string& Name() const { return name_; }
  // The connection string app-server --db takes.
  const std::string& Conninfo() const { return conninfo_; }
  // Runs statements; the rows of the last, every value as text ("" for null).
  std::vector<std::vector<std::string>> Query(const std::string& sql) const;

 private:
  std::string name_;
  std::string conninfo_;
};

// Runs statements on a database of the cluster (or on the cluster's default one).
std::vector<std::vector<std::string>> PostgresQuery(const std::string& conninfo,
                                                    const std::string& sql);

// The Unix socket of the cluster, for the proxy below.
std::string PostgresSocketPath();

}  // namespace testing_app
