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
#include "app_server/db/database_postgres.h"
#include "app_server/demo/demo_data.h"

namespace app {

// Text columns compare and sort by their bytes (COLLATE "C"), as SQLite's do, whatever the
// database's own collation: ORDER BY and the product-code ranges give the same rows in the same
// order on both engines. Dates are timestamps; values and quantities exact decimals.
const char* const kPostgresSchemaSql = R"SQL(
CREATE TABLE FILIAL (
  CDFILIAL      VARCHAR(4)  COLLATE "C" NOT NULL PRIMARY KEY,
  NMFILIAL      VARCHAR(30) COLLATE "C" NOT NULL
);
CREATE TABLE OPERADOR (
  CDOPERADOR    VARCHAR(12) COLLATE "C" NOT NULL PRIMARY KEY,
  NMOPERADOR    VARCHAR(40) COLLATE "C" NOT NULL,
  IDFUNCAO      CHAR(1)     COLLATE "C" NOT NULL,
  CDFILIAL      VARCHAR(4)  COLLATE "C" NOT NULL
);
CREATE TABLE DESTINO (
  CDDESTSOLI    VARCHAR(3)  COLLATE "C" NOT NULL PRIMARY KEY,
  NMDESTSOLI    VARCHAR(30) COLLATE "C" NOT NULL
);
CREATE TABLE UNIDADE (
  SGUNIDADE     VARCHAR(10) COLLATE "C" NOT NULL PRIMARY KEY,
  NMUNIDADE     VARCHAR(30) COLLATE "C" NOT NULL
);
CREATE TABLE PRODUTO (
  CDPRODUTO     VARCHAR(10) COLLATE "C" NOT NULL PRIMARY KEY,
  CDARVPROD     VARCHAR(20) COLLATE "C" NOT NULL UNIQUE,
  NMPRODUTO     VARCHAR(50) COLLATE "C" NOT NULL,
  SGUNIDADE     VARCHAR(10) COLLATE "C" NOT NULL,
  CDMARCA       VARCHAR(5)  COLLATE "C",
  VRCMPANTERIOR NUMERIC(15,4)
);
CREATE TABLE FORNECEDOR (
  CDFORNECED    VARCHAR(8)  COLLATE "C" NOT NULL PRIMARY KEY,
  NMRAZSOCFORN  VARCHAR(40) COLLATE "C" NOT NULL,
  NRCNPJ        VARCHAR(14) COLLATE "C" NOT NULL
);
CREATE TABLE SOLICITACAO (
  CDFILLAN      VARCHAR(4)  COLLATE "C" NOT NULL,
  NRSOLICMP     VARCHAR(10) COLLATE "C" NOT NULL,
  CDFILIAL      VARCHAR(4)  COLLATE "C" NOT NULL,
  CDOPERLANC    VARCHAR(12) COLLATE "C" NOT NULL,
  CDOPERSOLI    VARCHAR(12) COLLATE "C" NOT NULL,
  DTHRLANCSOL   TIMESTAMP(0) NOT NULL,
  PRIMARY KEY (CDFILLAN, NRSOLICMP)
);
CREATE TABLE ITEMSOLICITACAO (
  CDFILLAN      VARCHAR(4)  COLLATE "C" NOT NULL,
  NRSOLICMP     VARCHAR(10) COLLATE "C" NOT NULL,
  NRITEMSOLI    INTEGER     NOT NULL,
  CDPRODUTO     VARCHAR(10) COLLATE "C" NOT NULL,
  CDDESTSOLI    VARCHAR(3)  COLLATE "C" NOT NULL,
  QTSOLIPROD    NUMERIC(15,3) NOT NULL,
  DTPROGENTR    TIMESTAMP(0),
  STATUS        CHAR(1)     COLLATE "C" NOT NULL,
  CDFILIAL      VARCHAR(4)  COLLATE "C" NOT NULL,
  NRCOLEPRECO   VARCHAR(10) COLLATE "C",
  NRCOMPRA      VARCHAR(10) COLLATE "C",
  PRIMARY KEY (CDFILLAN, NRSOLICMP, NRITEMSOLI)
);
CREATE TABLE APROVACAOGERENTE (
  CDFILLAN      VARCHAR(4)  COLLATE "C" NOT NULL,
  NRSOLICMP     VARCHAR(10) COLLATE "C" NOT NULL,
  CDDESTSOLI    VARCHAR(3)  COLLATE "C" NOT NULL,
  NRNIVEL       INTEGER     NOT NULL,
  CDOPERGER     VARCHAR(12) COLLATE "C" NOT NULL,
  IDAPROVPRGER  CHAR(1)     COLLATE "C" NOT NULL,
  DTAPRSOLPRODGER TIMESTAMP(0),
  PRIMARY KEY (CDFILLAN, NRSOLICMP, CDDESTSOLI, NRNIVEL)
);
CREATE TABLE COLETAPRECO (
  CDFILIAL      VARCHAR(4)  COLLATE "C" NOT NULL,
  NRCOLEPRECO   VARCHAR(10) COLLATE "C" NOT NULL,
  IDSITUCOLETA  CHAR(1)     COLLATE "C" NOT NULL,
  CDOPERCOMP    VARCHAR(12) COLLATE "C" NOT NULL,
  DTABERTURA    TIMESTAMP(0) NOT NULL,
  DTCONCOLEPREC TIMESTAMP(0),
  PRIMARY KEY (CDFILIAL, NRCOLEPRECO)
);
CREATE TABLE ITEMCOLETAPRECO (
  CDFILIAL      VARCHAR(4)  COLLATE "C" NOT NULL,
  NRCOLEPRECO   VARCHAR(10) COLLATE "C" NOT NULL,
  CDPRODUTO     VARCHAR(10) COLLATE "C" NOT NULL,
  CDFORNECED    VARCHAR(8)  COLLATE "C" NOT NULL,
  VRPRECUNIITM  NUMERIC(15,4) NOT NULL,
  PRIMARY KEY (CDFILIAL, NRCOLEPRECO, CDPRODUTO, CDFORNECED)
);
CREATE TABLE COMPRA (
  CDFILIAL      VARCHAR(4)  COLLATE "C" NOT NULL,
  NRCOMPRA      VARCHAR(10) COLLATE "C" NOT NULL,
  NRCOLEPRECO   VARCHAR(10) COLLATE "C",
  CDOPERCOMP    VARCHAR(12) COLLATE "C" NOT NULL,
  DTCOMPRA      TIMESTAMP(0) NOT NULL,
  PRIMARY KEY (CDFILIAL, NRCOMPRA)
);
CREATE TABLE AUTORIZACAOFORN (
  CDFILIAL      VARCHAR(4)  COLLATE "C" NOT NULL,
  NRAUTOFORN    VARCHAR(10) COLLATE "C" NOT NULL,
  NRCOMPRA      VARCHAR(10) COLLATE "C" NOT NULL,
  CDFORNECED    VARCHAR(8)  COLLATE "C" NOT NULL,
  DTAUTOFORN    TIMESTAMP(0) NOT NULL,
  DTPROGENTAF   TIMESTAMP(0),
  VRTOTALAF     NUMERIC(15,2) NOT NULL,
  PRIMARY KEY (CDFILIAL, NRAUTOFORN)
);
CREATE TABLE ITEMAUTOFORN (
  CDFILIAL      VARCHAR(4)  COLLATE "C" NOT NULL,
  NRAUTOFORN    VARCHAR(10) COLLATE "C" NOT NULL,
  CDFILLAN      VARCHAR(4)  COLLATE "C" NOT NULL,
  NRSOLICMP     VARCHAR(10) COLLATE "C" NOT NULL,
  NRITEMSOLI    INTEGER     NOT NULL,
  QTPRODAF      NUMERIC(15,3) NOT NULL,
  VRUNITAF      NUMERIC(15,4) NOT NULL,
  QTEFETENTRAF  NUMERIC(15,3) NOT NULL,
  PRIMARY KEY (CDFILLAN, NRSOLICMP, NRITEMSOLI)
);
CREATE TABLE NOTAFISCAL (
  CDFILIAL      VARCHAR(4)  COLLATE "C" NOT NULL,
  CDFORNECED    VARCHAR(8)  COLLATE "C" NOT NULL,
  NRNOTAFISC    VARCHAR(20) COLLATE "C" NOT NULL,
  NRAUTOFORN    VARCHAR(10) COLLATE "C" NOT NULL,
  CDTIPOOPER    CHAR(2)     COLLATE "C" NOT NULL,
  DTEMISSAO     TIMESTAMP(0) NOT NULL,
  DTENTRSAID    TIMESTAMP(0),
  DTAPROVACAO   TIMESTAMP(0),
  VRNOTAFISC    NUMERIC(15,2) NOT NULL,
  CDOPERAPRO    VARCHAR(12) COLLATE "C",
  PRIMARY KEY (CDFILIAL, CDFORNECED, NRNOTAFISC)
);
)SQL";

const char* const kPostgresForeignKeySql = R"SQL(
ALTER TABLE OPERADOR ADD FOREIGN KEY (CDFILIAL) REFERENCES FILIAL;
ALTER TABLE PRODUTO ADD FOREIGN KEY (SGUNIDADE) REFERENCES UNIDADE;
ALTER TABLE SOLICITACAO ADD FOREIGN KEY (CDFILLAN) REFERENCES FILIAL,
  ADD FOREIGN KEY (CDFILIAL) REFERENCES FILIAL,
  ADD FOREIGN KEY (CDOPERLANC) REFERENCES OPERADOR,
  ADD FOREIGN KEY (CDOPERSOLI) REFERENCES OPERADOR;
ALTER TABLE ITEMSOLICITACAO ADD FOREIGN KEY (CDFILLAN, NRSOLICMP) REFERENCES SOLICITACAO,
  ADD FOREIGN KEY (CDPRODUTO) REFERENCES PRODUTO,
  ADD FOREIGN KEY (CDDESTSOLI) REFERENCES DESTINO,
  ADD FOREIGN KEY (CDFILIAL) REFERENCES FILIAL;
ALTER TABLE APROVACAOGERENTE ADD FOREIGN KEY (CDFILLAN, NRSOLICMP) REFERENCES SOLICITACAO,
  ADD FOREIGN KEY (CDDESTSOLI) REFERENCES DESTINO,
  ADD FOREIGN KEY (CDOPERGER) REFERENCES OPERADOR;
ALTER TABLE COLETAPRECO ADD FOREIGN KEY (CDFILIAL) REFERENCES FILIAL,
  ADD FOREIGN KEY (CDOPERCOMP) REFERENCES OPERADOR;
ALTER TABLE ITEMCOLETAPRECO ADD FOREIGN KEY (CDFILIAL, NRCOLEPRECO) REFERENCES COLETAPRECO,
  ADD FOREIGN KEY (CDPRODUTO) REFERENCES PRODUTO,
  ADD FOREIGN KEY (CDFORNECED) REFERENCES FORNECEDOR;
ALTER TABLE COMPRA ADD FOREIGN KEY (CDFILIAL) REFERENCES FILIAL,
  ADD FOREIGN KEY (CDOPERCOMP) REFERENCES OPERADOR;
ALTER TABLE AUTORIZACAOFORN ADD FOREIGN KEY (CDFILIAL, NRCOMPRA) REFERENCES COMPRA,
  ADD FOREIGN KEY (CDFORNECED) REFERENCES FORNECEDOR;
ALTER TABLE ITEMAUTOFORN ADD FOREIGN KEY (CDFILIAL, NRAUTOFORN) REFERENCES AUTORIZACAOFORN,
  ADD FOREIGN KEY (CDFILLAN, NRSOLICMP, NRITEMSOLI) REFERENCES ITEMSOLICITACAO;
ALTER TABLE NOTAFISCAL ADD FOREIGN KEY (CDFILIAL, NRAUTOFORN) REFERENCES AUTORIZACAOFORN,
  ADD FOREIGN KEY (CDFORNECED) REFERENCES FORNECEDOR,
  ADD FOREIGN KEY (CDOPERAPRO) REFERENCES OPERADOR;
)SQL";

// The indexes of SQLite's kIndexSql. Those of a branch's requests carry the columns GetItens
// reads of the request, so that, once VACUUM has marked the pages all-visible, the table itself
// is not read (an index-only scan). So do the keys GetItens looks each item's quotation, AF
// item, AF and invoice up by (SQLite's tables are their keys: a look-up by key reads the row
// there), which takes a third off GetItens of all dates (3,994 items, scale 5000).
const char* const kPostgresIndexSql = R"SQL(
CREATE INDEX SOLICITACAO_FILIAL ON SOLICITACAO (CDFILIAL, DTHRLANCSOL)
  INCLUDE (CDFILLAN, NRSOLICMP, CDOPERSOLI, CDOPERLANC);
CREATE INDEX SOLICITACAO_FILIAL_NUMERO ON SOLICITACAO (CDFILIAL, NRSOLICMP, CDFILLAN)
  INCLUDE (DTHRLANCSOL, CDOPERSOLI, CDOPERLANC);
CREATE INDEX SOLICITACAO_NUMERO ON SOLICITACAO (NRSOLICMP);
CREATE INDEX SOLICITACAO_DATA ON SOLICITACAO (DTHRLANCSOL);
CREATE INDEX ITEMSOLICITACAO_ENTREGA ON ITEMSOLICITACAO (DTPROGENTR);
CREATE INDEX ITEMSOLICITACAO_PRODUTO ON ITEMSOLICITACAO (CDPRODUTO);
CREATE INDEX ITEMAUTOFORN_AF ON ITEMAUTOFORN (CDFILIAL, NRAUTOFORN);
CREATE UNIQUE INDEX NOTAFISCAL_AF ON NOTAFISCAL (CDFILIAL, NRAUTOFORN)
  INCLUDE (CDOPERAPRO, DTEMISSAO);
CREATE INDEX ITEMAUTOFORN_ITEM ON ITEMAUTOFORN (CDFILLAN, NRSOLICMP, NRITEMSOLI)
  INCLUDE (CDFILIAL, NRAUTOFORN, QTEFETENTRAF);
CREATE INDEX AUTORIZACAOFORN_ITENS ON AUTORIZACAOFORN (CDFILIAL, NRAUTOFORN)
  INCLUDE (DTAUTOFORN, DTPROGENTAF);
CREATE INDEX COLETAPRECO_ITENS ON COLETAPRECO (CDFILIAL, NRCOLEPRECO) INCLUDE (DTCONCOLEPREC);
CREATE INDEX SOLICITACAO_SOLICITANTE ON SOLICITACAO (CDOPERSOLI, CDFILIAL, DTHRLANCSOL)
  INCLUDE (CDFILLAN, NRSOLICMP, CDOPERLANC);
CREATE INDEX ITEMSOLICITACAO_COLETA ON ITEMSOLICITACAO (CDFILIAL, NRCOLEPRECO);
)SQL";

namespace {

// Marks a database as a demo's, so that --init-demo replaces it again and only it.
constexpr const char* kDemoMark = "acomp-demo";
constexpr const char* kTables =
    "NOTAFISCAL, ITEMAUTOFORN, AUTORIZACAOFORN, COMPRA, ITEMCOLETAPRECO, COLETAPRECO, "
    "APROVACAOGERENTE, ITEMSOLICITACAO, SOLICITACAO, FORNECEDOR, PRODUTO, UNIDADE, DESTINO, "
    "USUARIOFILIAL, USUARIO, OPERADOR, FILIAL";
constexpr size_t kFlushBytes = 16 * 1024 * 1024;

class TSession {
 public:
  explicit TSession(const std::string& conninfo) : conn_(ConnectPostgres(conninfo)) {}
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
