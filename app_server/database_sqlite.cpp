#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <unordered_map>

#include "app_server/database.h"

namespace app {

// No memory map: a file truncated or written over while mapped kills the process (SIGBUS) at
// the next read of a page that is gone, whereas read() just reports the damage. Reads are no
// slower for it: GetItens over every branch and month of a scale 50 database takes as long
// either way (bench_call, SqlScan), and so it did at scale 500 with SQLite's default page
// cache, so the connections keep that cache (2 MiB each).
const char* const kSqliteConnectionPragmas = "PRAGMA mmap_size = 0";

namespace {

using TClock = std::chrono::steady_clock;

class TSqliteRow : public IRow {
 public:
  explicit TSqliteRow(sqlite3_stmt* statement) : statement_(statement) {}
  bool IsNull(int column) const override {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
  }
  bool IsNumber(int column) const override {
    const int type = sqlite3_column_type(statement_, column);
    return type == SQLITE_INTEGER || type == SQLITE_FLOAT;
  }
  std::string_view Text(int column) const override {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    if (text == nullptr) return {};
    return std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
  }
  double Number(int column) const override { return sqlite3_column_double(statement_, column); }

 private:
  sqlite3_stmt* statement_;
};

class TSqliteConnection : public IConnection {
 public:
  explicit TSqliteConnection(const std::string& path) {
    // No mutex of SQLite's own: the pool lends a connection to one thread at a time.
    const int opened =
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
      const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(opened);
      sqlite3_close(db_);
      db_ = nullptr;
      // The client sees this: it names no file of the server.
      throw EDatabaseError("Não foi possível abrir o banco de dados: " + reason + ".");
    }
    sqlite3_busy_timeout(db_, 5000);
    sqlite3_exec(db_, kSqliteConnectionPragmas, nullptr, nullptr, nullptr);
    sqlite3_progress_handler(db_, 4000, &TSqliteConnection::Progress, this);
  }

  ~TSqliteConnection() override {
    for (auto& entry : statements_) sqlite3_finalize(entry.second);
    sqlite3_close(db_);
  }

  void Query(const char* sql, const TNamedParams& params, int columns, int timeLimitMs,
             const std::function<bool(const IRow&)>& onRow) override {
    sqlite3_stmt* statement = Prepare(sql, columns);
    struct TReset {
      sqlite3_stmt* statement;
      ~TReset() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
      }
    } reset{statement};

    const int count = sqlite3_bind_parameter_count(statement);
    for (int i = 1; i <= count; ++i) {
      const char* name = sqlite3_bind_parameter_name(statement, i);
      const std::string_view bare = name ? std::string_view(name + 1) : std::string_view();
      const std::string* value = nullptr;
      for (const auto& param : params)
        if (param.first == bare) value = &param.second;
      if (value == nullptr)
        throw EDatabaseError("Parâmetro " + std::string(name ? name : "?") + " sem valor.");
      sqlite3_bind_text(statement, i, value->data(), static_cast<int>(value->size()),
                        SQLITE_STATIC);
    }

    deadline_ = TClock::now() + std::chrono::milliseconds(timeLimitMs);
    TSqliteRow row(statement);
    for (;;) {
      const int stepped = sqlite3_step(statement);
      if (stepped == SQLITE_ROW) {
        if (!onRow(row)) break;
        continue;
      }
      if (stepped == SQLITE_DONE) break;
      if (stepped == SQLITE_INTERRUPT)
        throw EQueryTimeout("A consulta excedeu o tempo limite de " +
                            std::to_string(timeLimitMs / 1000) + " s.");
      throw EDatabaseError(std::string("Falha no banco de dados: ") + sqlite3_errmsg(db_));
    }
  }

 private:
  static int Progress(void* self) {
    return TClock::now() > static_cast<TSqliteConnection*>(self)->deadline_ ? 1 : 0;
  }

  sqlite3_stmt* Prepare(const char* sql, int columns) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK)
      throw EDatabaseError(std::string("Falha no banco de dados ao preparar a consulta: ") +
                           sqlite3_errmsg(db_));
    if (sqlite3_column_count(statement) != columns) {
      sqlite3_finalize(statement);
      throw EDatabaseError("A consulta ao banco de dados não traz as colunas do pacote.");
    }
    statements_.emplace(sql, statement);
    return statement;
  }

  sqlite3* db_ = nullptr;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
  TClock::time_point deadline_ = TClock::time_point::max();
};

}  // namespace

std::unique_ptr<IConnection> OpenSqlite(const std::string& path) {
  return std::make_unique<TSqliteConnection>(path);
}

std::string SqliteFileIdentity(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  // The change time moves with every write and cannot be set back (a copy keeping the
  // modification time still changes it).
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" +
         std::to_string(info.st_size) + ":" + std::to_string(info.st_ctim.tv_sec) + "." +
         std::to_string(info.st_ctim.tv_nsec);
}

}  // namespace app
