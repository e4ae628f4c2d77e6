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

// pgbouncer in front of the test cluster, on 127.0.0.1 at a free port, for the life of the
// object (started as the postgres user when the tests run as root, since it refuses root).
class TPgBouncer {
 public:
  // `poolSize` server connections per database, shared by every client, in transaction mode.
  explicit TPgBouncer(int poolSize);
  ~TPgBouncer();
  TPgBouncer(const TPgBouncer&) = delete;
  TPgBouncer& operator=(const TPgBouncer&) = delete;
  // A connection string through it to a database of the cluster.
  std::string Conninfo(const std::string& database) const;

 private:
  std::string dir_;
  int port_ = 0;
  int pid_ = -1;
};

}  // namespace testing_app
