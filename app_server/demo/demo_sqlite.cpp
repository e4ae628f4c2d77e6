// The demo data into a SQLite file: the generator's rows through one prepared INSERT per table,
// the schema before them and the secondary indexes after.
#include <sqlite3.h>

#include <cstdio>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "app_server/auth/accounts.h"
#include "app_server/auth/read_scope.h"
#include "app_server/db/branch_items.h"
#include "app_server/db/item_progress.h"
#include "app_server/demo/demo_data.h"

namespace app {

namespace {

using TValue = TDemoValue;

class TDatabase {
 public:
  explicit TDatabase(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      const std::string reason = db_ ? sqlite3_errmsg(db_) : "sem memória";
      sqlite3_close(db_);
      throw std::runtime_error("Não foi possível criar " + path + ": " + reason);
    }
  }
  ~TDatabase() {
    for (auto* statement : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }

  void Execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string reason = message ? message : "?";
      sqlite3_free(message);
      throw std::runtime_error("Falha ao gravar o banco de demonstração: " + reason);
    }
  }

  // Prepares an INSERT for the table's columns; returns its handle.
  size_t Prepare(const char* table, const char* columns) {
    std::string sql = std::string("INSERT INTO ") + table + " (" + columns + ") VALUES (?";
    for (const char* c = columns; *c; ++c)
      if (*c == ',') sql += ", ?";
    sql += ")";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("Falha ao preparar inserção: ") + sqlite3_errmsg(db_));
    statements_.push_back(statement);
    return statements_.size() - 1;
  }

  void Insert(size_t handle, std::initializer_list<TValue> values) {
    sqlite3_stmt* statement = statements_[handle];
    int index = 1;
    for (const auto& value : values) {
      switch (value.Kind) {
        case TValue::TKind::Null:
          sqlite3_bind_null(statement, index);
          break;
        case TValue::TKind::Text:
          sqlite3_bind_text(statement, index, value.Text.data(),
                            static_cast<int>(value.Text.size()), SQLITE_STATIC);
          break;
        case TValue::TKind::Real:
          sqlite3_bind_double(statement, index, value.Real);
          break;
        case TValue::TKind::Integer:
          sqlite3_bind_int64(statement, index, value.Integer);
          break;
      }
      ++index;
    }
    const int stepped = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (stepped != SQLITE_DONE)
      throw std::runtime_error(std::string("Falha ao gravar o banco de demonstração: ") +
                               sqlite3_errmsg(db_));
  }

 private:
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
};

// The rows into a SQLite database, one prepared INSERT per table.
class TSqliteWriter : public IDemoWriter {
 public:
  explicit TSqliteWriter(TDatabase& db) : db_(db) {}
  size_t Table(const char* name, const char* columns) override {
    return db_.Prepare(name, columns);
  }
  void Row(size_t table, std::initializer_list<TValue> values) override {
    db_.Insert(table, values);
  }

 private:
  TDatabase& db_;
};

}  // namespace

TDemoCounts CreateDemoDatabase(const std::string& path, const TDemoOptions& options) {
  const std::string building = path + ".building";
  std::remove(building.c_str());
  TDemoCounts counts;
  {
    TDatabase db(building);
    db.Execute(
        "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA page_size = 8192; "
        "PRAGMA cache_size = -262144; PRAGMA temp_store = MEMORY;");
    db.Execute(kSchemaSql);
    db.Execute(kAccountsSqliteSql);
    db.Execute(ReadScopeSchemaSql(TDialect::Sqlite));
    db.Execute("BEGIN");
    TSqliteWriter writer(db);
    counts = GenerateDemoData(writer, options);
    db.Execute("COMMIT");
    // Secondary indexes after the rows: one sort instead of a million scattered inserts.
    db.Execute(kIndexSql);
    // The items by requesting branch, filled once from the rows, then kept by its triggers.
    db.Execute(BranchItemsSql(TDialect::Sqlite));
    // The items' progress likewise.
    db.Execute(ItemProgressSql(TDialect::Sqlite));
    db.Execute("ANALYZE");
    db.Execute("PRAGMA journal_mode = DELETE");
  }
  if (std::rename(building.c_str(), path.c_str()) != 0) {
    std::remove(building.c_str());
    throw std::runtime_error("Não foi possível gravar " + path + ".");
  }
  return counts;
}

}  // namespace app
