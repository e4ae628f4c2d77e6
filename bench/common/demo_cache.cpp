#include "bench/common/demo_cache.h"

#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "bench/common/server.h"
#include "demo_version.h"

namespace bench {

namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Rows of a statement, every value as text.
std::vector<std::vector<std::string>> Query(const std::string& conninfo, const std::string& sql) {
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

void InitDemo(const std::string& target, int scale) {
  std::string output;
  std::fprintf(stderr, "making the scale %d demo in %s (once per version of the generator)...\n",
               scale, target.c_str());
  if (RunAppServer({"--init-demo", target, "--scale", std::to_string(scale)}, output) != 0)
    throw std::runtime_error("app-server --init-demo " + target + " failed:\n" + output);
}

}  // namespace

const char* DemoVersion() {
  return ACOMP_DEMO_VERSION;
}

std::string CacheDir(const std::string& given) {
  if (!given.empty()) return given;
  if (!Env("ACOMP_BENCH_CACHE").empty()) return Env("ACOMP_BENCH_CACHE");
  if (!Env("XDG_CACHE_HOME").empty()) return Env("XDG_CACHE_HOME") + "/acomp-bench";
  if (!Env("HOME").empty()) return Env("HOME") + "/.cache/acomp-bench";
  return "/tmp/acomp-bench";
}

std::string SqliteDemo(int scale, const std::string& cacheDir) {
  fs::create_directories(cacheDir);
  const std::string suffix = "-s" + std::to_string(scale) + ".db";
  const std::string path = cacheDir + "/demo-" + DemoVersion() + suffix;
  if (fs::exists(path)) return path;
  // Other versions at this scale are of no more use.
  for (const auto& entry : fs::directory_iterator(cacheDir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("demo-", 0) == 0 && name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      fs::remove(entry.path());
  }
  // --init-demo builds beside the file and renames it at the end: an interrupted run leaves
  // nothing that passes for a demo.
  InitDemo(path, scale);
  return path;
}

std::string PostgresDemo(int scale, const std::string& cluster) {
  const std::string name =
      std::string("acomp_bench_") + DemoVersion() + "_s" + std::to_string(scale);
  const std::string conninfo = cluster + " dbname=" + name;
  const std::string admin = cluster + " dbname=postgres";
  // The load is one transaction that marks the database a demo's at its end: a marked database
  // is whole.
  const std::string mark = "acomp-demo: semente 1, escala " + std::to_string(scale);
  const auto exists = Query(admin, "SELECT 1 FROM pg_database WHERE datname = '" + name + "'");
  if (!exists.empty()) {
    const auto marked = Query(conninfo,
                              "SELECT coalesce(obj_description(to_regclass('solicitacao'), "
                              "'pg_class'), '')");
    if (!marked.empty() && marked[0][0] == mark) return conninfo;
  } else {
    for (const auto& row :
         Query(admin, "SELECT datname FROM pg_database WHERE datname LIKE 'acomp_bench_%_s" +
                          std::to_string(scale) + "'"))
      Query(admin, "DROP DATABASE " + row[0] + " WITH (FORCE)");
    Query(admin,
          "CREATE DATABASE " + name + " TEMPLATE template0 ENCODING 'UTF8' LOCALE 'C.UTF-8'");
  }
  InitDemo(conninfo, scale);
  return conninfo;
}

}  // namespace bench
