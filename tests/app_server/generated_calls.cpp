#include "tests/app_server/generated_calls.h"

#include "app_server/db/iso_date.h"

namespace testing_app {

const std::vector<std::string> kOddCodes = {
    "",      " ", "9999", "'",  "''", "a", "Z", "~", "é",    "São", "0",    "00", "0001 ",
    " 0001", "%", "_",    "\\", "\"", "{", "}", ",", "NULL", "01.", "🧾", "\t"};

std::vector<std::string> FirstColumn(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::string> values;
  for (const auto& row : rows) values.push_back(row.at(0));
  return values;
}

std::string SelectionOf(const std::vector<std::string>& codes) {
  std::string text;
  for (const auto& code : codes) {
    if (!text.empty()) text += ",";
    text += "'";
    for (const char c : code) {
      if (c == '\'') text += "'";
      text += c;
    }
    text += "'";
  }
  return text;
}

double DayOf(const std::string& iso) {
  return *app::IsoTextToDays(iso);
}

TPool PoolOf(const std::string& db) {
  TPool pool;
  pool.Branches = FirstColumn(SqlAt(db, "SELECT CDFILIAL FROM FILIAL"));
  pool.Requests = FirstColumn(SqlAt(db, "SELECT NRSOLICMP FROM SOLICITACAO"));
  pool.Products = FirstColumn(SqlAt(db, "SELECT CDARVPROD FROM PRODUTO"));
  pool.RequestDates = FirstColumn(SqlAt(db, "SELECT DTHRLANCSOL FROM SOLICITACAO"));
  pool.DeliveryDates =
      FirstColumn(SqlAt(db, "SELECT DTPROGENTR FROM ITEMSOLICITACAO WHERE DTPROGENTR IS NOT NULL"));
  pool.Approvals = SqlAt(db,
                         "SELECT DISTINCT A.NRSOLICMP, S.CDFILIAL, A.CDFILLAN, A.CDDESTSOLI FROM "
                         "APROVACAOGERENTE A JOIN SOLICITACAO S USING (CDFILLAN, NRSOLICMP)");
  pool.Items = SqlAt(db,
                     "SELECT S.CDFILIAL, S.NRSOLICMP, S.CDFILLAN, COALESCE(I.NRCOMPRA, ''), "
                     "COALESCE(I.DTPROGENTR, ''), S.DTHRLANCSOL FROM ITEMSOLICITACAO I JOIN "
                     "SOLICITACAO S USING (CDFILLAN, NRSOLICMP)");
  pool.Quotes = SqlAt(db, "SELECT DISTINCT CDFILIAL, CDPRODUTO, NRCOLEPRECO FROM ITEMCOLETAPRECO");
  return pool;
}

}  // namespace testing_app
