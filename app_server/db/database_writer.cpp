#include "app_server/db/database_writer.h"

#include <sqlite3.h>

#include <cstdlib>
#include <stdexcept>

#include "app_server/db/database_postgres.h"

namespace app {

namespace {

[[noreturn]] void WriteFailure(const std::string& reason) {
  throw std::runtime_error("Falha ao gravar no banco: " + reason + ".");
}

class TSqliteWriter : public TWriteConnection {
 public:
  explicit TSqliteWriter(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      const std::string reason = db_ ? sqlite3_errmsg(db_) : "sem memória";
      sqlite3_close(db_);
      throw std::runtime_error("Não foi possível abrir o banco " + path + ": " + reason + ".");
    }
    sqlite3_busy_timeout(db_, 5000);
  }
  ~TSqliteWriter() override { sqlite3_close(db_); }
  TSqliteWriter(const TSqliteWriter&) = delete;
  TSqliteWriter& operator=(const TSqliteWriter&) = delete;

  TDialect Dialect() const override { return TDialect::Sqlite; }

  void Execute(const char* sql) override {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string reason = error ? error : sqlite3_errmsg(db_);
      sqlite3_free(error);
      WriteFailure(reason);
    }
  }

  int Change(const char* sql, const std::vector<std::string>& values) override {
    Run(sql, values, nullptr);
    return sqlite3_changes(db_);
  }

  std::vector<std::vector<std::string>> Rows(const char* sql,
                                             const std::vector<std::string>& values) override {
    std::vector<std::vector<std::string>> rows;
    Run(sql, values, &rows);
    return rows;
  }

 private:
  void Run(const char* sql, const std::vector<std::string>& values,
           std::vector<std::vector<std::string>>* rows) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK)
      WriteFailure(sqlite3_errmsg(db_));
    for (size_t i = 0; i < values.size(); ++i) {
      // "$2" and "?2" are names to SQLite; a value goes to its position's name wherever the
      // statement uses it.
      std::string name = "$";
      name += std::to_string(i + 1);
      int at = sqlite3_bind_parameter_index(statement, name.c_str());
      name[0] = '?';
      if (at == 0) at = sqlite3_bind_parameter_index(statement, name.c_str());
      if (at == 0) continue;
      sqlite3_bind_text(statement, at, values[i].data(), static_cast<int>(values[i].size()),
                        SQLITE_TRANSIENT);
    }
    int status = SQLITE_ROW;
    while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
      if (rows == nullptr) continue;
      rows->emplace_back();
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        const auto* text = sqlite3_column_text(statement, column);
        rows->back().emplace_back(text ? reinterpret_cast<const char*>(text) : "");
      }
    }
    sqlite3_finalize(statement);
    if (status != SQLITE_DONE) WriteFailure(sqlite3_errmsg(db_));
  }

  sqlite3* db_ = nullptr;
};

class TPostgresWriter : public TWriteConnection {
 public:
  explicit TPostgresWriter(const std::string& conninfo) : conn_(ConnectPostgres(conninfo)) {
    // "relation already exists, skipping" and the like are not for the operator's terminal.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
  }
  ~TPostgresWriter() override { PQfinish(conn_); }
  TPostgresWriter(const TPostgresWriter&) = delete;
  TPostgresWriter& operator=(const TPostgresWriter&) = delete;

  TDialect Dialect() const override { return TDialect::Postgres; }

  void Execute(const char* sql) override { PQclear(Checked(PQexec(conn_, sql))); }

  int Change(const char* sql, const std::vector<std::string>& values) override {
    PGresult* result = Run(sql, values);
    const char* tuples = PQcmdTuples(result);
    const int changed = tuples && *tuples ? std::atoi(tuples) : 0;
    PQclear(result);
    return changed;
  }

  std::vector<std::vector<std::string>> Rows(const char* sql,
                                             const std::vector<std::string>& values) override {
    PGresult* result = Run(sql, values);
    std::vector<std::vector<std::string>> rows;
    for (int row = 0; row < PQntuples(result); ++row) {
      rows.emplace_back();
      for (int column = 0; column < PQnfields(result); ++column)
        rows.back().emplace_back(PQgetvalue(result, row, column));
    }
    PQclear(result);
    return rows;
  }

 private:
  PGresult* Run(const char* sql, const std::vector<std::string>& values) {
    std::vector<const char*> texts;
    std::vector<int> lengths;
    for (const auto& value : values) {
      texts.push_back(value.c_str());
      lengths.push_back(static_cast<int>(value.size()));
    }
    return Checked(PQexecParams(conn_, sql, static_cast<int>(values.size()), nullptr, texts.data(),
                                lengths.data(), nullptr, 0));
  }

  static PGresult* Checked(PGresult* result) {
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
    std::string reason = PQresultErrorMessage(result);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    PQclear(result);
    WriteFailure(reason);
  }

  PGconn* conn_;
};

}  // namespace

std::unique_ptr<TWriteConnection> OpenWriteConnection(const std::string& target) {
  if (IsPostgresTarget(target)) return std::make_unique<TPostgresWriter>(target);
  return std::make_unique<TSqliteWriter>(target);
}

}  // namespace app
