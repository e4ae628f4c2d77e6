// The demo data on PostgreSQL: the same rows as the SQLite file for the same seed and scale,
// loaded with COPY in one transaction.
//
// Rows are collected per table in COPY's text format and sent when 16 MiB have gathered (then
// every table's, in the generator's order), so memory stays small at any scale and each COPY is
// large. The tables have their primary keys from the start; the foreign keys and the secondary
// indexes come after the rows (one check and one sort each instead of a million), then ANALYZE;
// after the commit, VACUUM.
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "app_server/auth/accounts.h"
#include "app_server/auth/read_scope.h"
#include "app_server/db/branch_items.h"
#include "app_server/db/database_postgres.h"
#include "app_server/db/item_progress.h"
#include "app_server/demo/demo_data.h"

namespace app {

namespace {

// Marks a database as a demo's, so that --init-demo replaces it again and only it.
constexpr const char* kDemoMark = "acomp-demo";
constexpr const char* kTables =
    "ITEMSOLIANDAMENTO, ITEMSOLIFILIAL, NOTAFISCAL, ITEMAUTOFORN, AUTORIZACAOFORN, COMPRA, "
    "ITEMCOLETAPRECO, "
    "COLETAPRECO, "
    "APROVACAOGERENTE, ITEMSOLICITACAO, SOLICITACAO, FORNECEDOR, PRODUTO, UNIDADE, DESTINO, "
    "USUARIOFILIAL, USUARIO, OPERADOR, FILIAL";
constexpr size_t kFlushBytes = 16 * 1024 * 1024;

class TSession {
 public:
  explicit TSession(const std::string& conninfo) : conn_(ConnectPostgres(conninfo)) {
    // "trigger ... does not exist, skipping" and the like are not for the terminal.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
  }
  ~TSession() { PQfinish(conn_); }
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  // Runs statements; the rows of the last one, every value as text ("" for null).
  std::vector<std::vector<std::string>> Execute(const char* sql) {
    PGresult* result = PQexec(conn_, sql);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      const std::string reason = Reason(result);
      PQclear(result);
      throw std::runtime_error("Falha ao gravar o banco de demonstração: " + reason);
    }
    std::vector<std::vector<std::string>> rows;
    for (int row = 0; row < PQntuples(result); ++row) {
      rows.emplace_back();
      for (int column = 0; column < PQnfields(result); ++column)
        rows.back().emplace_back(PQgetvalue(result, row, column));
    }
    PQclear(result);
    return rows;
  }

  void Copy(const std::string& table, const std::string& columns, const std::string& data) {
    const std::string sql = "COPY " + table + " (" + columns + ") FROM STDIN";
    PGresult* started = PQexec(conn_, sql.c_str());
    const bool copying = PQresultStatus(started) == PGRES_COPY_IN;
    const std::string reason = copying ? "" : Reason(started);
    PQclear(started);
    if (!copying) throw std::runtime_error("Falha ao gravar o banco de demonstração: " + reason);
    if (PQputCopyData(conn_, data.data(), static_cast<int>(data.size())) != 1 ||
        PQputCopyEnd(conn_, nullptr) != 1)
      throw std::runtime_error("Falha ao gravar o banco de demonstração: " +
                               std::string(PQerrorMessage(conn_)));
    std::string failure;
    while (PGresult* result = PQgetResult(conn_)) {
      if (PQresultStatus(result) != PGRES_COMMAND_OK && failure.empty()) failure = Reason(result);
      PQclear(result);
    }
    if (!failure.empty())
      throw std::runtime_error("Falha ao gravar o banco de demonstração (" + table +
                               "): " + failure);
  }

 private:
  static std::string Reason(PGresult* result) {
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    if (primary) return primary;
    std::string text = PQresultErrorMessage(result);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }

  PGconn* conn_;
};

// The rows as COPY's text format: tab between values, \N for null, backslash escapes.
class TCopyWriter : public IDemoWriter {
 public:
  explicit TCopyWriter(TSession& session) : session_(session) {}

  size_t Table(const char* name, const char* columns) override {
    tables_.push_back({name, columns, {}});
    return tables_.size() - 1;
  }

  void Row(size_t table, std::initializer_list<TDemoValue> values) override {
    std::string& out = tables_[table].Data;
    const size_t before = out.size();
    bool first = true;
    for (const auto& value : values) {
      if (!first) out.push_back('\t');
      first = false;
      switch (value.Kind) {
        case TDemoValue::TKind::Null:
          out += "\\N";
          break;
        case TDemoValue::TKind::Text:
          for (const char c : value.Text) {
            switch (c) {
              case '\\':
                out += "\\\\";
                break;
              case '\t':
                out += "\\t";
                break;
              case '\n':
                out += "\\n";
                break;
              case '\r':
                out += "\\r";
                break;
              default:
                out.push_back(c);
            }
          }
          break;
        case TDemoValue::TKind::Real:
          Number(out, value.Real);
          break;
        case TDemoValue::TKind::Integer:
          out += std::to_string(value.Integer);
          break;
      }
    }
    out.push_back('\n');
    pending_ += out.size() - before;
    if (pending_ >= kFlushBytes) Flush();
  }

  void Flush() {
    for (auto& table : tables_) {
      if (table.Data.empty()) continue;
      session_.Copy(table.Name, table.Columns, table.Data);
      table.Data.clear();
    }
    pending_ = 0;
  }

 private:
  // The shortest text that reads back as the same double, so both engines hold the same value.
  static void Number(std::string& out, double value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof(text), value);
    out.append(text, written.ptr);
  }

  struct TBuffer {
    std::string Name, Columns, Data;
  };
  TSession& session_;
  std::vector<TBuffer> tables_;
  size_t pending_ = 0;
};

}  // namespace

TDemoCounts CreatePostgresDemo(const std::string& conninfo, const TDemoOptions& options) {
  TSession session(conninfo);
  const std::string encoding = session.Execute("SHOW server_encoding").at(0).at(0);
  if (encoding != "UTF8")
    throw std::runtime_error("O banco " + DescribeTarget(conninfo) + " usa a codificação " +
                             encoding + "; o acompanhamento precisa de UTF8.");

  session.Execute(
      "BEGIN; SET LOCAL synchronous_commit = off; SET LOCAL statement_timeout = 0; "
      "SET LOCAL idle_in_transaction_session_timeout = 0; "
      "SET LOCAL maintenance_work_mem = '256MB'");
  const auto existing = session.Execute(
      "SELECT to_regclass('solicitacao') IS NOT NULL, "
      "coalesce(obj_description(to_regclass('solicitacao'), 'pg_class'), '')");
  if (existing.at(0).at(0) == "t") {
    if (existing[0][1].rfind(kDemoMark, 0) != 0) {
      session.Execute("ROLLBACK");
      throw std::runtime_error(
          "O banco " + DescribeTarget(conninfo) +
          " já tem uma tabela SOLICITACAO que não é de uma demonstração; nada foi alterado. "
          "Use um banco vazio para --init-demo.");
    }
    session.Execute((std::string("DROP TABLE IF EXISTS ") + kTables).c_str());
  }

  session.Execute(kPostgresSchemaSql);
  session.Execute(kAccountsPostgresSql);
  session.Execute(ReadScopeSchemaSql(TDialect::Postgres));
  TCopyWriter writer(session);
  const TDemoCounts counts = GenerateDemoData(writer, options);
  writer.Flush();
  session.Execute(kPostgresForeignKeySql);
  session.Execute(kPostgresIndexSql);
  // The items by requesting branch, filled once from the rows, then kept by its triggers.
  session.Execute(BranchItemsSql(TDialect::Postgres));
  // The items' progress likewise.
  session.Execute(ItemProgressSql(TDialect::Postgres));
  const std::string mark = std::string("COMMENT ON TABLE SOLICITACAO IS '") + kDemoMark +
                           ": semente " + std::to_string(options.Seed) + ", escala " +
                           std::to_string(options.Scale) + "'";
  session.Execute(mark.c_str());
  session.Execute("ANALYZE");
  // The commit written to disk before it returns, whatever the cluster's synchronous_commit:
  // until it is, VACUUM cannot take the rows as visible to all, and it left the first table it
  // met (NOTAFISCAL) without a page marked, its index-only scans reading the table.
  session.Execute("SET LOCAL synchronous_commit = on");
  session.Execute("COMMIT");
  // Outside the transaction (VACUUM cannot run in one): the rows' visibility settled once, so
  // that the first searches do not each write it back, and index-only scans become possible.
  session.Execute(("VACUUM " + std::string(kTables)).c_str());
  return counts;
}

}  // namespace app
