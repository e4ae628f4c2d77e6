// Opening a PostgreSQL connection: the service's defaults, the gate that spaces the attempts
// while the database cannot be reached, and what may be shown of a connection string.
#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app_server/db/database_postgres.h"
#include "app_server/db/postgres_internal.h"

namespace app {

namespace postgres {

using TClock = std::chrono::steady_clock;

std::string FirstLine(const char* text) {
  std::string line = text ? text : "";
  const size_t end = line.find('\n');
  if (end != std::string::npos) line.resize(end);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line.empty() ? "sem detalhes" : line;
}

namespace {

// libpq's own parse of a connection string or URI, for what may be shown of it.
struct TConninfo {
  std::string Host, Port, Database, User;
};

TConninfo ParseConninfo(const std::string& conninfo) {
  TConninfo parsed;
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (error) PQfreemem(error);
  if (options == nullptr) return parsed;
  for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    if (option->val == nullptr) continue;
    const std::string_view keyword = option->keyword;
    if (keyword == "host" || (keyword == "hostaddr" && parsed.Host.empty()))
      parsed.Host = option->val;
    else if (keyword == "port")
      parsed.Port = option->val;
    else if (keyword == "dbname")
      parsed.Database = option->val;
    else if (keyword == "user")
      parsed.User = option->val;
  }
  PQconninfoFree(options);
  return parsed;
}

// The attempts to connect to one database while it cannot be reached (see database.h). While
// it can, connections are opened freely, several at once.
class TConnectGate {
 public:
  // Returns when this caller may attempt; raises EDatabaseError with the last reason when it
  // may not.
  void Enter() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (last_.empty()) return;
    if (trying_) throw EDatabaseError(last_);
    const auto now = TClock::now();
    if (now < next_) {
      // One call waits for the attempt due, and makes it; the others meanwhile fail at once,
      // so that no more than one query thread sleeps here.
      if (waiting_ || next_ - now > kMaxConnectWait) throw EDatabaseError(last_);
      waiting_ = true;
      const auto due = next_;
      lock.unlock();
      std::this_thread::sleep_until(due);
      lock.lock();
      waiting_ = false;
      if (last_.empty()) return;
      if (trying_ || next_ != due) throw EDatabaseError(last_);
    }
    trying_ = true;
  }

  void Succeeded() {
    std::string line;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      trying_ = false;
      if (last_.empty()) return;
      last_.clear();
      spacing_ = TClock::duration::zero();
      line = "banco de dados: conexão com o PostgreSQL restabelecida";
    }
    DatabaseLog(line);
  }

  void Failed(const std::string& reason) {
    std::string line;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      trying_ = false;
      spacing_ = spacing_ == TClock::duration::zero()
                     ? TClock::duration(std::chrono::milliseconds(100))
                     : std::min<TClock::duration>(spacing_ * 2, kMaxConnectSpacing);
      next_ = TClock::now() + spacing_;
      last_ = reason;
      line =
          reason + " (próxima tentativa em " +
          std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(spacing_).count()) +
          " ms)";
    }
    DatabaseLog(line);
  }

 private:
  std::mutex mutex_;
  std::string last_;  // the reason of the last failure; empty while the database answers
  bool trying_ = false;
  bool waiting_ = false;
  TClock::time_point next_{};
  TClock::duration spacing_{};
};

TConnectGate& GateOf(const std::string& conninfo) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<TConnectGate>> gates;
  std::lock_guard<std::mutex> lock(mutex);
  auto& gate = gates[conninfo];
  if (!gate) gate = std::make_unique<TConnectGate>();
  return *gate;
}

}  // namespace

PGconn* ConnectGated(const std::string& conninfo) {
  TConnectGate& gate = GateOf(conninfo);
  gate.Enter();
  PGconn* conn = nullptr;
  try {
    conn = ConnectPostgres(conninfo);
  } catch (const EDatabaseError& failure) {
    gate.Failed(failure.what());
    throw;
  }
  gate.Succeeded();
  return conn;
}

}  // namespace postgres

using postgres::FirstLine;

PGconn* ConnectPostgres(const std::string& conninfo) {
  // Defaults first, then the caller's connection string (which may override them), then what
  // the service depends on.
  const char* keywords[] = {"connect_timeout", "application_name",    "keepalives",
                            "keepalives_idle", "keepalives_interval", "keepalives_count",
                            "dbname",          "client_encoding",     nullptr};
  const char* values[] = {"5", "app-server",     "1",    "30",   "10",
                          "3", conninfo.c_str(), "UTF8", nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, 1);
  if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
    const std::string reason = conn ? FirstLine(PQerrorMessage(conn)) : "sem memória";
    PQfinish(conn);
    throw EDatabaseError("Falha no banco de dados: não foi possível conectar ao PostgreSQL em " +
                         DescribeTarget(conninfo) + " (" + reason + ").");
  }
  return conn;
}

bool IsPostgresTarget(std::string_view target) {
  if (target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0) return true;
  // key=value: a keyword of letters and underscores, then "=" (blanks may come between).
  size_t i = 0;
  while (i < target.size() && ((target[i] >= 'a' && target[i] <= 'z') ||
                               (target[i] >= 'A' && target[i] <= 'Z') || target[i] == '_'))
    ++i;
  if (i == 0) return false;
  while (i < target.size() && target[i] == ' ') ++i;
  return i < target.size() && target[i] == '=';
}

std::string DescribeTarget(const std::string& target) {
  if (!IsPostgresTarget(target)) return target;
  const postgres::TConninfo parsed = postgres::ParseConninfo(target);
  std::string text = parsed.Host.empty() ? "localhost" : parsed.Host;
  if (!text.empty() && text.front() == '/') text = "socket " + text;
  if (!parsed.Port.empty()) text += ":" + parsed.Port;
  if (!parsed.Database.empty()) text += "/" + parsed.Database;
  return text;
}

}  // namespace app
