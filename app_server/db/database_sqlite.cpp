#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "app_server/db/database.h"
#include "app_server/db/iso_date.h"
#include "app_server/db/selection.h"

namespace app {

// No memory map: a file truncated or written over while mapped kills the process (SIGBUS) at
// the next read of a page that is gone, whereas read() just reports the damage. Reads are no
// slower for it: GetItens over every branch and month of a scale 50 database takes as long
// either way (bench_call, SqlScan).
// A page cache of up to 64 MiB per connection, taken as pages are read (SQLite's default is
// 2 MiB): the filter panel's usual searches read tens of MiB of index pages between them (a
// month's branch grid alone about 800 pages at a million items); in 2 MiB each search read its
// pages again from the system, one read() each. bench_cascade, one month: at a million items
// 2.66 ms with 2 MiB, 2.15 with 32 (no better with 8 or 16 than with 2, nor with 128); at ten
// million 8.21 with 32 MiB, 6.21 with 64, 6.07 with 128.
const char* const kSqliteConnectionPragmas = "PRAGMA mmap_size = 0; PRAGMA cache_size = -65536";

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

// A parameter as the statements compare it: dates as ISO text, lists as a JSON array read with
// json_each. A day is its date alone, "2024-04-20": as text it sorts before every time of that
// day ("2024-04-20 10:00:00", "2024-04-20T10:00") and after every time of the day before, so
// "day >= start and < start of the next day" holds for every form the day may be stored in,
// with the column compared as it is (its index serves).
const std::string& Written(const TParam& param, std::string& storage) {
  switch (param.Kind) {
    case TParam::TKind::Text:
      return param.Text;
    case TParam::TKind::Day:
      // The day after 31/12/9999 only ends a range: a text after every form of 31/12/9999.
      storage = param.Day > kLastWireDay ? "9999-12-32" : DayText(param.Day);
      return storage;
    case TParam::TKind::Codes:
      storage = CodesToJsonArray(param.Codes);
      return storage;
  }
  return param.Text;
}

class TSqliteConnection : public IConnection {
 public:
  explicit TSqliteConnection(const std::string& path) : path_(path) {
    Open();
    file_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }

  ~TSqliteConnection() override {
    Close();
    if (file_ >= 0) ::close(file_);
  }

  void Open() {
    const std::string& path = path_;
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

  void Close() {
    for (auto& entry : statements_) sqlite3_finalize(entry.second);
    statements_.clear();
    sqlite3_close(db_);
    db_ = nullptr;
  }

  TDialect Dialect() const override { return TDialect::Sqlite; }

  void Query(const char* sql, const TNamedParams& params, int columns, int timeLimitMs,
             const std::function<bool(const IRow&)>& onRow) override {
    // In rollback-journal mode a read holds SQLite's shared lock from its first page to its
    // end, and no writer that goes through SQLite can change the file meanwhile: a change seen
    // while the lock is held was made by something else (a copy over the file, a cut), and what
    // was read may mix two files. So the read takes the lock first, notes the file's size and
    // change time, and compares them at the end. In WAL mode writers never touch the pages a
    // reader's snapshot needs (checkpoints change the file legitimately), so nothing is noted.
    struct TTransaction {
      sqlite3* Db;
      ~TTransaction() {
        if (sqlite3_get_autocommit(Db) == 0)
          sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
      }
    };
    if (db_ == nullptr) Open();  // a reopening that failed before
    std::string before;
    const bool guarded = RollbackJournal();
    if (guarded) {
      // Written over in place since the last read without SQLite's change counter moving (a
      // copy of another file): what SQLite cached of the old contents would be read as the new.
      // A commit always moves the counter.
      if (!lastStamp_.empty() && Stamp() != lastStamp_ && Counter() == lastCounter_) {
        Close();
        Open();
      }
    }
    TTransaction transaction{db_};
    if (guarded) {
      Begin();
      before = Stamp();
    }
    try {
      Run(sql, params, columns, timeLimitMs, onRow);
    } catch (const EQueryTimeout&) {
      throw;
    } catch (const EDatabaseError&) {
      if (!before.empty() && Stamp() != before) throw EDatabaseError(kChangedInPlace);
      throw;
    }
    if (!before.empty() && Stamp() != before) throw EDatabaseError(kChangedInPlace);
    if (guarded) {
      lastStamp_ = before;
      lastCounter_ = Counter();
    }
  }

 private:
  uint32_t Counter() const {
    unsigned char bytes[4] = {};
    if (file_ < 0 || ::pread(file_, bytes, 4, 24) != 4) return 0;
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
  }

  static constexpr const char* kChangedInPlace =
      "O banco de dados foi substituído ou alterado durante a consulta; tente novamente.";

  bool RollbackJournal() const {
    unsigned char version = 0;  // the header's write version: 1 legacy, 2 WAL
    return file_ >= 0 && ::pread(file_, &version, 1, 18) == 1 && version == 1;
  }

  std::string Stamp() const {
    struct stat info {};
    if (::fstat(file_, &info) != 0) return "?";
    return std::to_string(info.st_size) + ":" + std::to_string(info.st_ctim.tv_sec) + "." +
           std::to_string(info.st_ctim.tv_nsec);
  }

  // A read transaction with the shared lock taken (by reading the schema's first page).
  void Begin() {
    if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
      throw EDatabaseError(std::string("Falha no banco de dados: ") + sqlite3_errmsg(db_));
    Run("SELECT 1 FROM sqlite_master LIMIT 1", {}, 1, 5000, [](const IRow&) { return false; });
  }

  void Run(const char* sql, const TNamedParams& params, int columns, int timeLimitMs,
           const std::function<bool(const IRow&)>& onRow) {
    sqlite3_stmt* statement = Prepare(sql, columns);
    struct TReset {
      sqlite3_stmt* statement;
      ~TReset() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
      }
    } reset{statement};

    const int count = sqlite3_bind_parameter_count(statement);
    std::vector<std::string> written(static_cast<size_t>(count));
    for (int i = 1; i <= count; ++i) {
      const char* name = sqlite3_bind_parameter_name(statement, i);
      const std::string_view bare = name ? std::string_view(name + 1) : std::string_view();
      const TParam* value = nullptr;
      for (const auto& param : params)
        if (param.first == bare) value = &param.second;
      if (value == nullptr)
        throw EDatabaseError("Parâmetro " + std::string(name ? name : "?") + " sem valor.");
      const std::string& text = Written(*value, written[static_cast<size_t>(i - 1)]);
      sqlite3_bind_text(statement, i, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
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

  std::string path_;
  sqlite3* db_ = nullptr;
  std::string lastStamp_;  // the file's size and change time at the end of the last read
  uint32_t lastCounter_ = 0;
  int file_ = -1;  // the file SQLite reads, for its header and its size and change time
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
  // The file, not its contents: the site's other programs write it all the time, and SQLite's
  // locks give each read a consistent snapshot meanwhile (see docs/deployment.md). Only another
  // file at the path (a rename over it, a restore) is a replacement.
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

// A list is bound as its JSON text and read with json_each; the planner is held to a join order
// with CROSS JOIN and to a list's search per code by putting the list first.
const TSqlDialect& SqliteDialect() {
  static const TSqlDialect dialect{
      .Engine = TDialect::Sqlite,
      .OrderedJoin = "CROSS JOIN",
      .NoDate = "'1899-12-30 00:00:00'",
      .InListOpen = " IN (SELECT value FROM json_each(:",
      .InListClose = "))",
      .ListRowsOpen = "json_each(:",
      .ListRowsAs = ") ",
      .ListRowsColumns = "",
      .FencesSubqueries = false,
      .ListLeadsJoin = true,
  };
  return dialect;
}

}  // namespace app
