#include "tests/app_server/engines.h"

#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

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

namespace {

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t length = sizeof(address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

TPgBouncer::TPgBouncer(int poolSize) {
  char pattern[] = "/tmp/acomp-pgbouncer-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
  dir_ = pattern;
  ::chmod(dir_.c_str(), 0777);  // the postgres user writes its log there
  const std::string socket = PostgresSocketPath();
  const std::string socketDir = socket.substr(0, socket.rfind('/'));
  port_ = FreePort();
  {
    std::ofstream users(dir_ + "/users.txt");
    users << "\"postgres\" \"\"\n";
    std::ofstream config(dir_ + "/pgbouncer.ini");
    config << "[databases]\n* = host=" << socketDir << " port=5432\n"
           << "[pgbouncer]\nlisten_addr = 127.0.0.1\nlisten_port = " << port_ << "\n"
           << "unix_socket_dir =\nauth_type = trust\nauth_file = " << dir_ << "/users.txt\n"
           << "pool_mode = transaction\ndefault_pool_size = " << poolSize << "\n"
           << "max_client_conn = 200\nlogfile = " << dir_ << "/pgbouncer.log\n";
  }
  std::vector<std::string> arguments = {"/usr/sbin/pgbouncer"};
  if (::geteuid() == 0) arguments.insert(arguments.end(), {"-u", "postgres"});
  arguments.push_back(dir_ + "/pgbouncer.ini");
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start pgbouncer (scripts/deps.sh installs it)");
  pid_ = pid;
  for (int attempt = 0; attempt < 100 && !Accepts(port_); ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (!Accepts(port_)) {
    std::ifstream log(dir_ + "/pgbouncer.log");
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    throw std::runtime_error("pgbouncer did not start: " + text);
  }
}

TPgBouncer::~TPgBouncer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string TPgBouncer::Conninfo(const std::string& database) const {
  return "host=127.0.0.1 port=" + std::to_string(port_) + " user=postgres dbname=" + database;
}

}  // namespace testing_app
