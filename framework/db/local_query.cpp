#include "framework/db/local_query.h"

#include <sqlite3.h>

#include <memory>

namespace fw {

TLocalDatabase& TLocalDatabase::Instance() {
  static TLocalDatabase database;
  return database;
}

void TLocalDatabase::SetPath(std::string path) {
  path_ = std::move(path);
}

TDataPacket TLocalDatabase::Run(const std::string& sql, const std::vector<std::string>& params,
                                const std::vector<TPacketField>& fields) const {
  sqlite3* raw = nullptr;
  if (sqlite3_open_v2(path_.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    const std::string reason = raw ? sqlite3_errmsg(raw) : "sem memória";
    sqlite3_close(raw);
    throw EDatabaseError("Não foi possível abrir o banco de dados local " + path_ + " (" + reason +
                         ").");
  }
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, sqlite3_close);
  sqlite3_stmt* rawStatement = nullptr;
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &rawStatement, nullptr) != SQLITE_OK)
    throw EDatabaseError(std::string("Erro na consulta ao banco de dados local: ") +
                         sqlite3_errmsg(db.get()));
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(rawStatement,
                                                                       sqlite3_finalize);
  for (size_t i = 0; i < params.size(); ++i)
    sqlite3_bind_text(statement.get(), static_cast<int>(i + 1), params[i].data(),
                      static_cast<int>(params[i].size()), SQLITE_TRANSIENT);
  TDataPacket packet(fields);
  auto& columns = packet.Columns();
  int step;
  while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
    for (size_t c = 0; c < columns.size(); ++c) {
      const int index = static_cast<int>(c);
      if (sqlite3_column_type(statement.get(), index) == SQLITE_NULL) {
        columns[c].AppendNull();
      } else if (columns[c].Type() == TFieldType::ftString) {
        const auto* text =
            reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), index));
        columns[c].AppendString(std::string_view(
            text, static_cast<size_t>(sqlite3_column_bytes(statement.get(), index))));
      } else {
        columns[c].AppendNumber(sqlite3_column_double(statement.get(), index));
      }
    }
  }
  if (step != SQLITE_DONE)
    throw EDatabaseError(std::string("Erro na leitura do banco de dados local: ") +
                         sqlite3_errmsg(db.get()));
  return packet;
}

TLocalQuery::TLocalQuery(TComponent* owner, std::string name)
    : TComponent(owner, std::move(name)), query_(new TClientDataSet(this, "Query")) {}

std::string TLocalQuery::StatementText() const {
  const std::vector<std::string>* lines = &SQL;
  switch (TLocalDatabase::Instance().Dialect()) {
    case TSqlDialect::Oracle:
      lines = &SQL_ORACLE;
      break;
    case TSqlDialect::MSSQL:
      lines = &SQL_MSSQL;
      break;
    case TSqlDialect::InterBase:
      lines = &SQL_IB;
      break;
    case TSqlDialect::Generic:
      break;
  }
  if (lines->empty()) lines = &SQL;
  std::string text;
  for (const auto& line : *lines) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text;
}

void TLocalQuery::Open() {
  std::vector<TPacketField> fields;
  for (const TField* field : query_->Fields())
    fields.push_back({field->FieldName(), field->DataType(), field->Size()});
  query_->SetData(TLocalDatabase::Instance().Run(StatementText(), {}, fields));
}

}  // namespace fw
