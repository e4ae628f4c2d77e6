#include "tests/app_server/engines.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

namespace testing_app {

TEngine EngineUnderTest() {
  const char* engine = std::getenv("ACOMP_TEST_ENGINE");
  if (engine == nullptr || std::string(engine) == "sqlite") return TEngine::Sqlite;
  if (std::string(engine) == "postgresql") return TEngine::Postgres;
  throw std::runtime_error(std::string("ACOMP_TEST_ENGINE must be sqlite or postgresql, not ") +
                           engine);
}

std::string PostgresCluster() {
  const char* cluster = std::getenv("ACOMP_TEST_PG");
  if (cluster == nullptr || *cluster == '\0')
    throw std::runtime_error(
        "ACOMP_TEST_PG is not set: run the tests through scripts/test, which starts a throwaway "
        "PostgreSQL cluster, or start one with scripts/pg-cluster start DIR and export "
        "ACOMP_TEST_PG with the connection string it prints");
  return cluster;
}

std::vector<std::vector<std::string>> PostgresQuery(const std::string& conninfo,
                                                    const std::string& sql) {
  PGconn* conn = PQconnectdb(conninfo.c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    const std::string message = PQerrorMessage(conn);
    PQfinish(conn);
    throw std::runtime_error("cannot connect to " + conninfo + ": " + message);
  }
  PGresult* result = PQexec(conn, sql.c_str());
  const ExecStatusType status = PQresultStatus(result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    const std::string message = PQresultErrorMessage(result);
    PQclear(result);
    PQfinish(conn);
    throw std::runtime_error(message + " in " + sql);
  }
  std::vector<std::vector<std::string>> rows;
  for (int row = 0; row < PQntuples(result); ++row) {
    rows.emplace_back();
    for (int column = 0; column < PQnfields(result); ++column)
      rows.back().emplace_back(PQgetvalue(result, row, column));
  }
  PQclear(result);
  PQfinish(conn);
  return rows;
}

TPostgresDatabase::TPostgresDatabase() {
  static std::atomic<int> count{0};
  name_ = "acomp_test_" + std::to_string(::getpid()) + "_" + std::to_string(++count);
  const std::string cluster = PostgresCluster();
  PostgresQuery(cluster + " dbname=postgres",
                "CREATE DATABASE " + name_ +
                    " TEMPLATE template0 ENCODING 'UTF8' LOCALE_PROVIDER icu ICU_LOCALE 'pt-BR' "
                    "LOCALE 'C.UTF-8'");
  conninfo_ = cluster + " dbname=" + name_;
}

TPostgresDatabase::~TPostgresDatabase() {
  try {
    PostgresQuery(PostgresCluster() + " dbname=postgres",
                  "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (const std::exception&) {
    // The cluster is removed at the end of the run anyway.
  }
}

std::vector<std::vector<std::string>> TPostgresDatabase::Query(const std::string& sql) const {
  return PostgresQuery(conninfo_, sql);
}

std::string PostgresSocketPath() {
  const std::string cluster = PostgresCluster();
  auto value = [&](const std::string& key, const std::string& fallback) {
    const size_t at = cluster.find(key + "=");
    if (at == std::string::npos) return fallback;
    const size_t start = at + key.size() + 1;
    return cluster.substr(start, cluster.find(' ', start) - start);
  };
  return value("host", "/var/run/postgresql") + "/.s.PGSQL." + value("port", "5432");
}

}  // namespace testing_app
