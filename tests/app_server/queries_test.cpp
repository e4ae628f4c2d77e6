// The statements per filter shape (app_server/tracking/queries.h), in process on the engine under
// test.
//
// - Every shape of every filtered method gives the rows, in order, of the statement that tests
//   each criterion's flag inside it (the one statement per method the service had before the
//   shapes, kept here as the methods' definition), for calls drawn from the demo data.
// - At a site's volume (a demo of its own, with the planner's statistics of it), no shape that
//   a date, a branch or a list restricts reads the whole request or item table, and a request
//   date window, unless a request list leads, bounds the search of the requests through an
//   index: the planner's own account of each statement (EXPLAIN QUERY PLAN, EXPLAIN).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <memory>
#include <set>

#include "app_server/db/database.h"
#include "app_server/db/iso_date.h"
#include "app_server/db/postgres_internal.h"
#include "app_server/tracking/queries.h"
#include "app_server/tracking/tracking_service.h"
#include "protocol/contract.h"
#include "tests/app_server/fixture.h"

namespace testing_app {
namespace {

using app::TFilterShape;

// ------------------------------------------------------------------ the definition

// The methods as one statement each, every criterion switched on and off by its flag (SQLite's
// text; PostgreSQL's follows from it), and so the read scope: the request's branch one of the
// account's unless it reads them all, the request its operator's when it reads only its own.
const std::map<std::string, std::string> kDefinitions = {
    {"GetNrSolicita", R"SQL(SELECT '' AS IDMARCADO, S.NRSOLICMP
  FROM SOLICITACAO S
 WHERE (:stTFilSoli = 'T' OR S.CDFILIAL IN (SELECT value FROM json_each(:lFilSoli)))
   AND (:stDtSoli = 'T' OR (S.DTHRLANCSOL >= :dtSoliIni AND S.DTHRLANCSOL < :dtSoliFim))
   AND (:stDtEntr = 'T' OR EXISTS (
         SELECT 1 FROM ITEMSOLICITACAO I
          WHERE I.CDFILLAN = S.CDFILLAN AND I.NRSOLICMP = S.NRSOLICMP
            AND I.DTPROGENTR >= :dtEntrIni AND I.DTPROGENTR < :dtEntrFim))
   AND (:scopeAll = 'S' OR S.CDFILIAL IN (SELECT CDFILIAL FROM USUARIOFILIAL WHERE LOGIN = :login))
   AND (:scopeOwn = 'N' OR S.CDOPERSOLI = :cdOperSoli)
 GROUP BY S.NRSOLICMP
 ORDER BY S.NRSOLICMP)SQL"},
    {"GetFilSoliGD", R"SQL(SELECT F.CDFILIAL, F.NMFILIAL
  FROM FILIAL F
 WHERE (:stTFilSoli = 'T' OR F.CDFILIAL IN (SELECT value FROM json_each(:lFilSoli)))
   AND EXISTS (
       SELECT 1
         FROM SOLICITACAO S
         JOIN ITEMSOLICITACAO I ON I.CDFILLAN = S.CDFILLAN AND I.NRSOLICMP = S.NRSOLICMP
         JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO
        WHERE S.CDFILIAL = F.CDFILIAL
          AND (:stDtSoli = 'T' OR (S.DTHRLANCSOL >= :dtSoliIni AND S.DTHRLANCSOL < :dtSoliFim))
          AND (:stDtEntr = 'T' OR (I.DTPROGENTR >= :dtEntrIni AND I.DTPROGENTR < :dtEntrFim))
          AND (:stTSolicita = 'T' OR S.NRSOLICMP IN (SELECT value FROM json_each(:lSolicita)))
          AND (:stTCdProd = 'T' OR (P.CDARVPROD >= :cdProdIni
                                    AND (:cdProdFin = '' OR P.CDARVPROD <= :cdProdFin)))
          AND (:scopeAll = 'S'
               OR S.CDFILIAL IN (SELECT CDFILIAL FROM USUARIOFILIAL WHERE LOGIN = :login))
          AND (:scopeOwn = 'N' OR S.CDOPERSOLI = :cdOperSoli))
 ORDER BY F.CDFILIAL)SQL"},
    {"GetItens",
     R"SQL(SELECT I.STATUS, S.CDFILLAN, S.NRSOLICMP, S.CDOPERLANC, D.NMDESTSOLI, I.NRCOMPRA,
       C.DTCONCOLEPREC, I.DTPROGENTR, O.NMOPERADOR, S.DTHRLANCSOL, I.QTSOLIPROD,
       AI.QTEFETENTRAF, AI.NRAUTOFORN, A.DTAUTOFORN, N.CDOPERAPRO, I.CDDESTSOLI,
       I.NRCOLEPRECO, I.CDFILIAL, N.DTEMISSAO, A.DTPROGENTAF
  FROM SOLICITACAO S
  JOIN ITEMSOLICITACAO I ON I.CDFILLAN = S.CDFILLAN AND I.NRSOLICMP = S.NRSOLICMP
  JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO
  LEFT JOIN DESTINO D ON D.CDDESTSOLI = I.CDDESTSOLI
  LEFT JOIN OPERADOR O ON O.CDOPERADOR = S.CDOPERSOLI
  LEFT JOIN COLETAPRECO C ON C.CDFILIAL = I.CDFILIAL AND C.NRCOLEPRECO = I.NRCOLEPRECO
  LEFT JOIN ITEMAUTOFORN AI ON AI.CDFILLAN = I.CDFILLAN AND AI.NRSOLICMP = I.NRSOLICMP
                           AND AI.NRITEMSOLI = I.NRITEMSOLI
  LEFT JOIN AUTORIZACAOFORN A ON A.CDFILIAL = AI.CDFILIAL AND A.NRAUTOFORN = AI.NRAUTOFORN
  LEFT JOIN NOTAFISCAL N ON N.CDFILIAL = A.CDFILIAL AND N.NRAUTOFORN = A.NRAUTOFORN
 WHERE S.CDFILIAL = :cdFilial
   AND (:stDtSoli = 'T' OR (S.DTHRLANCSOL >= :dtSoliIni AND S.DTHRLANCSOL < :dtSoliFim))
   AND (:stDtEntr = 'T' OR (I.DTPROGENTR >= :dtEntrIni AND I.DTPROGENTR < :dtEntrFim))
   AND (:stTSolicita = 'T' OR S.NRSOLICMP IN (SELECT value FROM json_each(:lSolicita)))
   AND (:stTCdProd = 'T' OR (P.CDARVPROD >= :cdProdIni
                             AND (:cdProdFin = '' OR P.CDARVPROD <= :cdProdFin)))
   AND (:scopeAll = 'S' OR S.CDFILIAL IN (SELECT CDFILIAL FROM USUARIOFILIAL WHERE LOGIN = :login))
   AND (:scopeOwn = 'N' OR S.CDOPERSOLI = :cdOperSoli)
 ORDER BY S.NRSOLICMP, S.CDFILLAN, I.NRITEMSOLI)SQL"},
    {"GetItemProduto",
     R"SQL(SELECT P.CDARVPROD, P.CDPRODUTO, P.NMPRODUTO, P.SGUNIDADE, I.QTSOLIPROD, P.VRCMPANTERIOR,
       F.NMRAZSOCFORN, A.VRTOTALAF, N.NRNOTAFISC, N.DTEMISSAO, N.CDTIPOOPER, N.VRNOTAFISC,
       N.DTAPROVACAO, O.NMOPERADOR, P.CDMARCA, S.CDFILLAN AS CDFILLANC, N.DTENTRSAID
  FROM SOLICITACAO S
  JOIN ITEMSOLICITACAO I ON I.CDFILLAN = S.CDFILLAN AND I.NRSOLICMP = S.NRSOLICMP
  JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO
  LEFT JOIN ITEMAUTOFORN AI ON AI.CDFILLAN = I.CDFILLAN AND AI.NRSOLICMP = I.NRSOLICMP
                           AND AI.NRITEMSOLI = I.NRITEMSOLI
  LEFT JOIN AUTORIZACAOFORN A ON A.CDFILIAL = AI.CDFILIAL AND A.NRAUTOFORN = AI.NRAUTOFORN
  LEFT JOIN FORNECEDOR F ON F.CDFORNECED = A.CDFORNECED
  LEFT JOIN NOTAFISCAL N ON N.CDFILIAL = A.CDFILIAL AND N.NRAUTOFORN = A.NRAUTOFORN
  LEFT JOIN OPERADOR O ON O.CDOPERADOR = N.CDOPERAPRO
 WHERE S.CDFILIAL = :cdFilial
   AND S.NRSOLICMP = :nrSoliCmp
   AND S.CDFILLAN = :cdFilLan
   AND COALESCE(I.NRCOMPRA, '') = :nrCompra
   AND COALESCE(I.DTPROGENTR, '1899-12-30 00:00:00') >= :dtProgEntr
   AND COALESCE(I.DTPROGENTR, '1899-12-30 00:00:00') < :dtProgEntrFim
   AND (:stDtSoli = 'T' OR (S.DTHRLANCSOL >= :dtSoliIni AND S.DTHRLANCSOL < :dtSoliFim))
   AND (:stTCdProd = 'T' OR (P.CDARVPROD >= :cdProdIni
                             AND (:cdProdFin = '' OR P.CDARVPROD <= :cdProdFin)))
   AND (:scopeAll = 'S' OR S.CDFILIAL IN (SELECT CDFILIAL FROM USUARIOFILIAL WHERE LOGIN = :login))
   AND (:scopeOwn = 'N' OR S.CDOPERSOLI = :cdOperSoli)
 ORDER BY P.CDARVPROD, I.NRITEMSOLI)SQL"},
};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The definition in the engine's dialect; the text lives as long as the test program, since
// connections key their prepared statements by it.
const char* Definition(const std::string& method, app::TDialect dialect) {
  static std::map<std::pair<std::string, app::TDialect>, std::string> texts;
  auto& text = texts[{method, dialect}];
  if (text.empty()) {
    text = kDefinitions.at(method);
    if (dialect == app::TDialect::Postgres) {
      for (const char* list : {"lFilSoli", "lSolicita"})
        text = Replaced(text, std::string("IN (SELECT value FROM json_each(:") + list + "))",
                        std::string("= ANY (:") + list + ")");
      text = Replaced(text, "'1899-12-30 00:00:00'", "TIMESTAMP '1899-12-30 00:00:00'");
    }
  }
  return text.c_str();
}

// ------------------------------------------------------------------ calls

// splitmix64, so that a call that shows a difference shows it again.
class TDraw {
 public:
  explicit TDraw(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Between(int low, int high) {
    return low + static_cast<int>(Next() % static_cast<uint64_t>(high - low + 1));
  }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Next() % items.size()];
  }

 private:
  uint64_t state_;
};

std::vector<std::string> Column(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::string> values;
  for (const auto& row : rows) values.push_back(row.at(0));
  return values;
}

// Values of the demo to draw calls from.
struct TPool {
  std::vector<std::string> Branches, Requests, Products, RequestDays, DeliveryDays;
  std::vector<std::vector<std::string>> Items;  // CDFILIAL NRSOLICMP CDFILLAN NRCOMPRA DTPROGENTR
};

const TPool& Pool() {
  static const TPool pool = [] {
    TPool made;
    made.Branches = Column(Sql("SELECT CDFILIAL FROM FILIAL ORDER BY 1"));
    made.Requests = Column(Sql("SELECT NRSOLICMP FROM SOLICITACAO ORDER BY 1"));
    made.Products = Column(Sql("SELECT CDARVPROD FROM PRODUTO ORDER BY 1"));
    made.RequestDays = Column(Sql("SELECT DISTINCT substr(DTHRLANCSOL, 1, 10) FROM SOLICITACAO"));
    made.DeliveryDays =
        Column(Sql("SELECT DISTINCT substr(DTPROGENTR, 1, 10) FROM ITEMSOLICITACAO "
                   "WHERE DTPROGENTR IS NOT NULL"));
    made.Items =
        Sql("SELECT S.CDFILIAL, S.NRSOLICMP, S.CDFILLAN, COALESCE(I.NRCOMPRA, ''), "
            "COALESCE(substr(I.DTPROGENTR, 1, 10), '') FROM ITEMSOLICITACAO I JOIN SOLICITACAO S "
            "USING (CDFILLAN, NRSOLICMP) ORDER BY 2, 3, I.NRITEMSOLI");
    return made;
  }();
  return pool;
}

double Day(const std::string& iso) {
  return iso.empty() ? 0 : std::floor(*app::IsoTextToDays(iso));
}

std::string SelectionOf(const std::vector<std::string>& codes) {
  std::string text;
  for (const auto& code : codes) text += (text.empty() ? "'" : ",'") + code + "'";
  return text;
}

// The parameters of a call of `method` with the criteria of `shape` restricted, drawn from the
// data (the kind of value varies with `variant`: windows around data or outside it, lists of
// codes that are there and of some that are not, product codes with and without the mask).
std::vector<app::TRpcValue> CallOf(const std::string& method, const TFilterShape& shape,
                                   TDraw& draw, int variant) {
  const TPool& pool = Pool();
  std::map<std::string, std::string> text;
  std::map<std::string, double> dates;
  static const std::vector<std::string> restricting = {"", "", "F", "t", " T"};
  auto flag = [&](bool restricted) { return restricted ? draw.Pick(restricting) : "T"; };
  text["stDtSoli"] = flag(shape.RequestDates);
  text["stDtEntr"] = flag(shape.DeliveryDates);
  text["stTFilSoli"] = flag(shape.BranchList);
  text["stTSolicita"] = flag(shape.RequestList);
  // A product flag that restricts with both ends blank matches every product: the shape
  // without a product range.
  const bool product = shape.ProductFrom || shape.ProductTo;
  text["stTCdProd"] = product || variant == 3 ? draw.Pick(restricting) : "T";

  auto window = [&](const std::vector<std::string>& days, const char* from, const char* to) {
    double start = Day(draw.Pick(days)) - draw.Between(0, 20);
    double end = start + draw.Between(0, 40);
    if (variant == 1) start = end = Day("1990-06-15");  // nothing then
    dates[from] = start;
    dates[to] = end;
  };
  window(pool.RequestDays, "dtSoliIni", "dtSoliFin");
  window(pool.DeliveryDays, "dtEntrIni", "dtEntrFin");

  auto codes = [&](const std::vector<std::string>& real, const char* odd) {
    std::vector<std::string> chosen;
    for (int i = draw.Between(1, 5); i > 0; --i) chosen.push_back(draw.Pick(real));
    if (variant == 2) chosen.push_back(odd);
    return SelectionOf(chosen);
  };
  text["stLFilSoli"] = codes(pool.Branches, "9999");
  text["stLSolicita"] = codes(pool.Requests, "1999000001");

  auto masked = [](const std::string& code) {
    return code.size() == 8 ? code.substr(0, 2) + "." + code.substr(2, 3) + "." + code.substr(5)
                            : code;
  };
  std::string from = draw.Pick(pool.Products), to = draw.Pick(pool.Products);
  if (from > to) std::swap(from, to);
  text["cdProdIni"] = shape.ProductFrom ? (variant == 2 ? masked(from) : from) : "";
  text["cdProdFin"] = shape.ProductTo ? to : "";
  if (variant == 1 && shape.ProductFrom) text["cdProdIni"] = "99";  // after every product

  const auto& item = draw.Pick(pool.Items);
  text["cdFilial"] = variant == 2 ? draw.Pick(pool.Branches) : item[0];
  text["nrSoliCmp"] = item[1];
  text["cdFilLan"] = item[2];
  text["nrCompra"] = item[3];
  dates["dtProgEntr"] = Day(item[4]);
  if (method == "GetItemProduto" && shape.RequestDates && variant != 1) {
    // Around the request's own date, so that the window may keep it.
    const auto entered =
        Sql("SELECT substr(DTHRLANCSOL, 1, 10) FROM SOLICITACAO WHERE "
            "CDFILLAN = '" +
            item[2] + "' AND NRSOLICMP = '" + item[1] + "'");
    dates["dtSoliIni"] = Day(entered.at(0).at(0)) - draw.Between(0, 2);
    dates["dtSoliFin"] = Day(entered.at(0).at(0)) + draw.Between(-1, 2);
  }

  std::vector<app::TRpcValue> params;
  for (const auto& def : service::FindMethod(method)->Params) {
    app::TRpcValue value;
    if (def.Kind == service::TParamKind::Date) {
      value.Kind = app::TRpcValue::TKind::Float;
      value.Number = dates.at(def.Name);
    } else {
      value.Kind = app::TRpcValue::TKind::String;
      value.Text = text.at(def.Name);
    }
    params.push_back(std::move(value));
  }
  return params;
}

std::string Describe(const TFilterShape& shape) {
  std::string text;
  if (shape.RequestDates) text += " request-dates";
  if (shape.DeliveryDates) text += " delivery-dates";
  if (shape.BranchList) text += " branch-list";
  if (shape.RequestList) text += " request-list";
  if (shape.ProductFrom) text += " product-from";
  if (shape.ProductTo) text += " product-to";
  return text.empty() ? " (no criterion)" : text;
}

std::vector<std::string> RowsOf(app::IConnection& connection, const char* sql,
                                const app::TNamedParams& params, int columns) {
  std::vector<std::string> rows;
  connection.Query(sql, params, columns, 30000, [&](const app::IRow& row) {
    std::string line;
    for (int column = 0; column < columns; ++column) {
      line += "|";
      if (row.IsNull(column))
        line += "<null>";
      else if (row.IsNumber(column))
        line += std::to_string(row.Number(column));
      else
        line += row.Text(column);
    }
    rows.push_back(std::move(line));
    return true;
  });
  return rows;
}

const std::vector<std::string> kFilteredMethods = {"GetNrSolicita", "GetFilSoliGD", "GetItens",
                                                   "GetItemProduto"};

// The call's parameters with the read scope's: the definitions' flags, and what the statements of
// the scope bind (the account's login and operator).
app::TNamedParams WithScope(app::TNamedParams params, const app::TScopeShape& scope,
                            const std::string& login, const std::string& operatorCode) {
  params.emplace_back("scopeAll", scope.Branches ? "N" : "S");
  params.emplace_back("scopeOwn", scope.OwnRequests ? "S" : "N");
  params.emplace_back("login", login);
  params.emplace_back("cdOperSoli", operatorCode);
  return params;
}

std::string Describe(const app::TScopeShape& scope) {
  if (scope.Branches && scope.OwnRequests) return " as a branch list's own requests";
  if (scope.Branches) return " as a branch list";
  return scope.OwnRequests ? " as own requests" : "";
}

TEST(FilterShapes, EveryShapeOfEveryMethod_GivesTheRowsOfTheDefinition) {
  auto connection = app::OpenDatabase(Demo().Served);
  const app::TDialect dialect = connection->Dialect();
  TDraw draw(20240628);
  for (const auto& method : kFilteredMethods) {
    const service::TMethodDef& def = *service::FindMethod(method);
    const int columns = static_cast<int>(def.Fields.size());
    size_t calls = 0, withRows = 0, empty = 0;
    for (const TFilterShape& shape : app::ShapesOf(method)) {
      for (int variant = 0; variant < 4; ++variant) {
        const auto params = CallOf(method, shape, draw, variant);
        const app::TBoundCall call = app::BindCall(def, params);
        // The criteria of the call are the shape's (the flag of an empty product range
        // restricts nothing).
        ASSERT_EQ(call.Shape, shape) << method << Describe(shape) << " variant " << variant;
        const auto bound = WithScope(call.Params, {}, "", "");
        const auto expected = RowsOf(*connection, Definition(method, dialect), bound, columns);
        const auto got =
            RowsOf(*connection, app::SqlFor(method, dialect, call.Shape), bound, columns);
        EXPECT_EQ(expected, got) << method << Describe(shape) << " variant " << variant;
        ++calls;
        (expected.empty() ? empty : withRows) += 1;
      }
    }
    // The calls found rows and found none, so the comparison compared something.
    EXPECT_GT(withRows, calls / 4) << method;
    EXPECT_GT(empty, 0u) << method;
  }
}

// The demo's "filial02" reads branches 0002 and 0003; the operator is a requester of 0002, so that
// the branch list with own requests keeps some of its requests.
TEST(FilterShapes, EveryShapeForEveryReadScope_GivesTheRowsOfTheDefinitionWithTheScope) {
  auto connection = app::OpenDatabase(Demo().Served);
  const app::TDialect dialect = connection->Dialect();
  const std::string requester = SqlValue(
      "SELECT CDOPERSOLI FROM SOLICITACAO WHERE CDFILIAL = '0002' GROUP BY CDOPERSOLI "
      "ORDER BY COUNT(*) DESC, 1");
  TDraw draw(20240705);
  std::map<std::string, size_t> withRows;
  for (const app::TScopeShape& scope : app::ScopeShapes()) {
    if (scope == app::TScopeShape{}) continue;
    for (const auto& method : kFilteredMethods) {
      const service::TMethodDef& def = *service::FindMethod(method);
      const int columns = static_cast<int>(def.Fields.size());
      size_t calls = 0, fewer = 0;
      for (const TFilterShape& shape : app::ShapesOf(method)) {
        for (int variant = 0; variant < 4; ++variant) {
          const app::TBoundCall call = app::BindCall(def, CallOf(method, shape, draw, variant));
          const auto bound = WithScope(call.Params, scope, "filial02", requester);
          const auto expected = RowsOf(*connection, Definition(method, dialect), bound, columns);
          const auto got =
              RowsOf(*connection, app::SqlFor(method, dialect, call.Shape, scope), bound, columns);
          EXPECT_EQ(expected, got)
              << method << Describe(shape) << Describe(scope) << " variant " << variant;
          const auto all = RowsOf(*connection, Definition(method, dialect),
                                  WithScope(call.Params, {}, "", ""), columns);
          ++calls;
          withRows[method] += expected.empty() ? 0 : 1;
          fewer += expected.size() < all.size() ? 1 : 0;
        }
      }
      // The scope hid rows, and (below) kept some, so the comparison compared something.
      EXPECT_GT(fewer, calls / 10) << method << Describe(scope);
    }
  }
  for (const auto& method : kFilteredMethods) EXPECT_GT(withRows[method], 3u) << method;
}

TEST(FilterShapes, EachMethodHasAStatementPerShapeOfItsOwnCriteria) {
  EXPECT_EQ(8u, app::ShapesOf("GetNrSolicita").size());   // request dates, delivery, branches
  EXPECT_EQ(64u, app::ShapesOf("GetFilSoliGD").size());   // all six
  EXPECT_EQ(32u, app::ShapesOf("GetItens").size());       // no branch list
  EXPECT_EQ(8u, app::ShapesOf("GetItemProduto").size());  // request dates, product range
  EXPECT_EQ(1u, app::ShapesOf("GetItemCota").size());
  EXPECT_TRUE(app::ShapesOf("Apagar").empty());
  for (const auto dialect : {app::TDialect::Sqlite, app::TDialect::Postgres}) {
    std::set<std::string> texts;
    for (const TFilterShape& shape : app::ShapesOf("GetFilSoliGD"))
      texts.insert(app::SqlFor("GetFilSoliGD", dialect, shape));
    EXPECT_EQ(64u, texts.size());
    // A criterion the method does not have leaves its statement as it is.
    TFilterShape branches;
    branches.BranchList = true;
    EXPECT_EQ(app::SqlFor("GetItens", dialect), app::SqlFor("GetItens", dialect, branches));
    EXPECT_EQ(app::SqlFor("GetItemCota", dialect), app::SqlFor("GetItemCota", dialect, branches));
  }
}

// The one table of the methods: every method of the contract once, in its order, with a
// statement; the look-ups by key quick and the filtered searches not; every warmed shape one the
// method has a statement for.
// Each engine's dialect, as its own engine reads it: a list as a condition and as a table of
// its codes (the form only one engine's statements use today included), and a fenced subquery.
TEST(FilterShapes, TheEnginesDialect_ReadsListsAndFencedSubqueries) {
  auto connection = app::OpenDatabase(Demo().Served);
  const app::TSqlDialect& dialect = app::SqlDialect(connection->Dialect());
  EXPECT_EQ(connection->Dialect(), dialect.Engine);
  const app::TNamedParams params = {{"l", app::TParam::FromCodes({"c", "a", "b", "a"})},
                                    {"m", app::TParam::FromCodes({"b", "x", "c"})}};
  const std::string sql = "SELECT V.x FROM (SELECT L.value AS x FROM " +
                          dialect.ListRows("l", "L") + " WHERE " + dialect.InList("L.value", "m") +
                          dialect.Fence("\n ", "L.value") + ") V\n ORDER BY V.x";
  EXPECT_EQ((std::vector<std::string>{"|b", "|c"}), RowsOf(*connection, sql.c_str(), params, 1))
      << sql;
  const std::string noDate = std::string("SELECT CAST(") + dialect.NoDate + " AS TEXT)";
  const auto none = RowsOf(*connection, noDate.c_str(), {}, 1);
  ASSERT_EQ(1u, none.size());
  EXPECT_EQ(0u, none[0].find("|1899-12-30")) << none[0];
}

TEST(FilterShapes, TheMethodTableServesEachContractMethodOnce) {
  const auto methods = app::TrackingMethods();
  ASSERT_EQ(service::Methods().size(), methods.size());
  std::set<std::string> quick;
  size_t warmed = 0;
  for (size_t i = 0; i < methods.size(); ++i) {
    const app::TTrackingMethod& method = methods[i];
    EXPECT_STREQ(service::Methods()[i].Name, method.Name);
    EXPECT_EQ(&service::Methods()[i], method.Contract);
    const app::TTrackingMethod* found = app::FindTrackingMethod(method.Name);
    ASSERT_NE(nullptr, found) << method.Name;
    EXPECT_EQ(method.Contract, found->Contract);
    EXPECT_NE(nullptr, app::SqlFor(method.Name, app::TDialect::Sqlite)) << method.Name;
    if (method.Quick) quick.insert(method.Name);
    const auto shapes = app::ShapesOf(method.Name);
    EXPECT_FALSE(method.WarmShapes.empty()) << method.Name;
    for (const TFilterShape& shape : method.WarmShapes) {
      EXPECT_NE(shapes.end(), std::find(shapes.begin(), shapes.end(), shape)) << method.Name;
      ++warmed;
    }
  }
  EXPECT_EQ(
      (std::set<std::string>{"GetFilSoli", "GetDestSolGere", "GetItemProduto", "GetItemCota"}),
      quick);
  EXPECT_EQ(14u, warmed);  // the filter panel's usual shapes and the look-ups
  EXPECT_EQ(nullptr, app::FindTrackingMethod("Apagar"));
}

// ------------------------------------------------------------------ plans

// A demo at a site's scale for the planner (300: 20 branches, 24,000 requests, 60,000 items, the
// planner's statistics of them), on the engine under test; its plans are those of scale 5000.
struct TPlanDemo {
  TTempDir Dir;
  std::unique_ptr<TPostgresDatabase> Postgres;
  std::string Location;
  std::unique_ptr<app::IConnection> Connection;
  TPlanDemo() {
    Location = Dir.Path() + "/plans.db";
    if (EngineUnderTest() == TEngine::Postgres) {
      Postgres = std::make_unique<TPostgresDatabase>();
      Location = Postgres->Conninfo();
    }
    InitDemo(Location, 1, 300, Dir.Path() + "/init.log");
    Connection = app::OpenDatabase(Location);
  }
};

// A filter of a buyer's: March 2024, five branches, twenty requests, one product subgroup.
std::vector<app::TRpcValue> TypicalCall(const std::string& method, const TFilterShape& shape) {
  auto flag = [](bool restricted) { return restricted ? "" : "T"; };
  const std::map<std::string, std::string> text = {
      {"stDtSoli", flag(shape.RequestDates)},
      {"stDtEntr", flag(shape.DeliveryDates)},
      {"stTFilSoli", flag(shape.BranchList)},
      {"stTSolicita", flag(shape.RequestList)},
      {"stTCdProd", flag(shape.ProductFrom || shape.ProductTo)},
      {"stLFilSoli", "'0001','0004','0007','0010','0013'"},
      {"stLSolicita",
       "'2024000101','2024000202','2024000303','2024000404','2024000505','2024000606',"
       "'2024000707','2024000808','2024000909','2024001010','2024001111','2024001212',"
       "'2024001313','2024001414','2024001515','2024001616','2024001717','2024001818',"
       "'2024001919','2024002020'"},
      {"cdProdIni", shape.ProductFrom ? "01.002.000" : ""},
      {"cdProdFin", shape.ProductTo ? "01.002.999" : ""},
      {"cdFilial", "0001"},
      {"nrSoliCmp", "2024000101"},
      {"cdFilLan", "0001"},
      {"nrCompra", ""},
      {"cdDestSoli", "001"},
      {"cdProduto", "000001"},
      {"nrColePreco", "0000000001"}};
  std::vector<app::TRpcValue> params;
  for (const auto& def : service::FindMethod(method)->Params) {
    app::TRpcValue value;
    if (def.Kind == service::TParamKind::Date) {
      value.Kind = app::TRpcValue::TKind::Float;
      const std::string name = def.Name;
      value.Number = Day(name.find("Fin") != std::string::npos ? "2024-03-31" : "2024-03-01");
    } else {
      value.Kind = app::TRpcValue::TKind::String;
      value.Text = text.at(def.Name);
    }
    params.push_back(std::move(value));
  }
  return params;
}

// The plan's lines: SQLite's EXPLAIN QUERY PLAN details ("SEARCH S USING INDEX ..."), or
// PostgreSQL's EXPLAIN.
std::vector<std::string> PlanOf(app::IConnection& connection, const char* sql,
                                const app::TNamedParams& params) {
  static std::vector<std::unique_ptr<std::string>> texts;  // kept: statements are keyed by them
  const bool sqlite = connection.Dialect() == app::TDialect::Sqlite;
  texts.push_back(std::make_unique<std::string>((sqlite ? "EXPLAIN QUERY PLAN " : "EXPLAIN ") +
                                                std::string(sql)));
  std::vector<std::string> lines;
  connection.Query(texts.back()->c_str(), params, sqlite ? 4 : 1, 30000, [&](const app::IRow& row) {
    lines.emplace_back(row.Text(sqlite ? 3 : 0));
    return true;
  });
  return lines;
}

bool OnRequestsOrItems(const std::string& line) {
  return line.find(" on solicitacao ") != std::string::npos ||
         line.find(" on itemsolicitacao ") != std::string::npos ||
         line.find(" on itemsolifilial ") != std::string::npos ||
         line.find(" on itemsoliandamento ") != std::string::npos;
}

// The lines of the plan that read all of SOLICITACAO (alias S), ITEMSOLICITACAO (I), the items
// by requesting branch (X) or the items' progress (T): SQLite's SCAN, PostgreSQL's sequential
// scan or an index scan without an index condition.
std::vector<std::string> FullScans(const std::vector<std::string>& plan) {
  std::vector<std::string> scans;
  for (size_t i = 0; i < plan.size(); ++i) {
    const std::string& line = plan[i];
    if (line.rfind("SCAN S", 0) == 0 || line.rfind("SCAN I", 0) == 0 ||
        line.rfind("SCAN X", 0) == 0 || line.rfind("SCAN T", 0) == 0) {
      if (line.size() == 6 || line[6] == ' ') scans.push_back(line);
      continue;
    }
    if (!OnRequestsOrItems(line)) continue;
    if (line.find("Seq Scan") != std::string::npos) {
      scans.push_back(line);
    } else if (line.find("Index Scan") != std::string::npos ||
               line.find("Index Only Scan") != std::string::npos) {
      bool bounded = false;
      for (size_t next = i + 1; next < plan.size() && plan[next].find("->") == std::string::npos;
           ++next)
        bounded = bounded || plan[next].find("Index Cond:") != std::string::npos;
      if (!bounded) scans.push_back(line);
    }
  }
  return scans;
}

// Whether `column`'s range bounds a search through an index: SQLite's SEARCH of one of
// `aliases` with "COLUMN>?", or a PostgreSQL index scan on one of `tables` whose index
// condition has "column >=".
bool RangeThroughAnIndex(const std::vector<std::string>& plan, const std::string& column,
                         const std::vector<std::string>& aliases,
                         const std::vector<std::string>& tables) {
  std::string lower = column;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (size_t i = 0; i < plan.size(); ++i) {
    const std::string& line = plan[i];
    for (const auto& alias : aliases)
      if (line.rfind("SEARCH " + alias + " ", 0) == 0 &&
          line.find(column + ">?") != std::string::npos)
        return true;
    bool onTable = false;
    for (const auto& table : tables)
      onTable = onTable || line.find(" on " + table + " ") != std::string::npos;
    if (!onTable) continue;
    for (size_t next = i + 1; next < plan.size() && plan[next].find("->") == std::string::npos;
         ++next)
      if (plan[next].find("Index Cond:") != std::string::npos &&
          plan[next].find(lower + " >=") != std::string::npos)
        return true;
  }
  return false;
}

// Whether the request dates bound a search of SOLICITACAO, or of the items' progress, through an
// index.
bool DatesThroughAnIndex(const std::vector<std::string>& plan) {
  return RangeThroughAnIndex(plan, "DTHRLANCSOL", {"S", "T"}, {"solicitacao", "itemsoliandamento"});
}

// Whether the delivery window bounds a search of the items' progress through an index (its index
// by branch and due date: the planner's choice when that window is the narrower).
bool DueDatesThroughAnIndex(const std::vector<std::string>& plan) {
  return RangeThroughAnIndex(plan, "DTPROGENTR", {"T"}, {"itemsoliandamento"});
}

// Whether the range's items of the branch are read from ITEMSOLIFILIAL as one range of its key,
// the branch and the product's code: not from the branch's requests and all their items, nor
// once per product of the range.
bool ProductsThroughBranchItems(const std::vector<std::string>& plan) {
  for (size_t i = 0; i < plan.size(); ++i) {
    const std::string& line = plan[i];
    if (line.rfind("SEARCH X ", 0) == 0 &&
        line.find("CDFILSOLI=? AND CDARVPROD") != std::string::npos)
      return true;
    if (line.find(" on itemsolifilial ") == std::string::npos) continue;
    for (size_t next = i + 1; next < plan.size() && plan[next].find("->") == std::string::npos;
         ++next)
      if (plan[next].find("Index Cond:") != std::string::npos &&
          plan[next].find("cdfilsoli") != std::string::npos &&
          plan[next].find("cdarvprod") != std::string::npos)
        return true;
  }
  return false;
}

// The shapes whose search starts from the range's products: a product range, with no request
// list or request dates to start from, of one branch (GetItens) or of each (GetFilSoliGD, unless
// it starts from the items due in a delivery window).
bool FromTheRangesProducts(const std::string& method, const TFilterShape& shape) {
  if (!(shape.ProductFrom || shape.ProductTo) || shape.RequestList || shape.RequestDates)
    return false;
  return method == "GetItens" ||
         (method == "GetFilSoliGD" && (shape.BranchList || !shape.DeliveryDates));
}

// Whether the plan finds requests or items by their requester (SOLICITACAO_SOLICITANTE,
// ITEMSOLIANDAMENTO_SOLICITANTE).
bool ThroughTheRequester(const std::vector<std::string>& plan) {
  for (const auto& line : plan)
    if (line.find("_SOLICITANTE") != std::string::npos ||
        line.find("_solicitante") != std::string::npos)
      return true;
  return false;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += "\n  " + line;
  return text;
}

TEST(QueryPlans, NoShapeRestrictedByDateBranchOrList_ReadsAllRequestsOrItems) {
  TPlanDemo demo;
  size_t checked = 0;
  for (const auto& method : kFilteredMethods) {
    // GetItens is always of one branch, GetItemProduto of one request.
    const bool keyed = method == "GetItens" || method == "GetItemProduto";
    for (const TFilterShape& shape : app::ShapesOf(method)) {
      // A product range restricts too: the range's items are a few in a hundred.
      const bool restricted = keyed || shape.RequestDates || shape.DeliveryDates ||
                              shape.BranchList || shape.RequestList || shape.ProductFrom ||
                              shape.ProductTo;
      if (!restricted) continue;
      const app::TBoundCall call =
          app::BindCall(*service::FindMethod(method), TypicalCall(method, shape));
      const auto plan =
          PlanOf(*demo.Connection, app::SqlFor(method, demo.Connection->Dialect(), call.Shape),
                 call.Params);
      EXPECT_EQ(FullScans(plan), std::vector<std::string>())
          << method << Describe(shape) << Lines(plan);
      // The date window bounds the search of the requests, unless the request list does (the
      // item screen's look-up of one request is bounded by its key); or the delivery window does,
      // where it is given too and the planner takes it as the narrower.
      if (shape.RequestDates && !shape.RequestList && method != "GetItemProduto") {
        EXPECT_TRUE(DatesThroughAnIndex(plan) ||
                    (shape.DeliveryDates && DueDatesThroughAnIndex(plan)))
            << method << Describe(shape) << Lines(plan);
      }
      if (FromTheRangesProducts(method, shape)) {
        EXPECT_TRUE(ProductsThroughBranchItems(plan)) << method << Describe(shape) << Lines(plan);
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, 7u + 63u + 32u + 8u);
}

}  // namespace
}  // namespace testing_app

namespace testing_app {
namespace {

// The accounts of a large site beside the demo's, for the planner: 5,000 accounts of every
// branch (100,000 rows of USUARIOFILIAL at scale 300), with their statistics.
void AddManyAccounts(const std::string& location) {
  if (EngineUnderTest() == TEngine::Postgres) {
    PostgresQuery(location,
                  "INSERT INTO USUARIOFILIAL (LOGIN, CDFILIAL) SELECT 'conta' || I, F.CDFILIAL "
                  "FROM generate_series(1, 5000) I CROSS JOIN FILIAL F; ANALYZE");
    return;
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(location.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  const int status =
      sqlite3_exec(db,
                   "WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 5000) "
                   "INSERT INTO USUARIOFILIAL (LOGIN, CDFILIAL) SELECT 'conta' || N.I, F.CDFILIAL "
                   "FROM N CROSS JOIN FILIAL F; ANALYZE",
                   nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_EQ(SQLITE_OK, status);
}

// The lines of a plan that read USUARIOFILIAL (alias G) other than by its key.
std::vector<std::string> ScopeScans(const std::vector<std::string>& plan) {
  std::vector<std::string> scans;
  for (const auto& line : plan)
    if (line.rfind("SCAN G", 0) == 0 ||
        (line.find("Seq Scan on usuariofilial") != std::string::npos))
      scans.push_back(line);
  return scans;
}

TEST(QueryPlans, ReadScopes_AddNoScanOfRequestsOrItems_AndFindTheAccountsBranchesByKey) {
  TPlanDemo demo;
  AddManyAccounts(demo.Location);
  demo.Connection = app::OpenDatabase(demo.Location);
  const app::TDialect dialect = demo.Connection->Dialect();
  std::vector<std::string> methods = kFilteredMethods;
  methods.insert(methods.end(), {"GetFilSoli", "GetDestSolGere", "GetItemCota"});
  size_t checked = 0;
  for (const auto& method : methods) {
    const bool keyed =
        method != "GetNrSolicita" && method != "GetFilSoliGD" && method != "GetFilSoli";
    for (const TFilterShape& shape : app::ShapesOf(method)) {
      const bool restricted = keyed || shape.RequestDates || shape.DeliveryDates ||
                              shape.BranchList || shape.RequestList || shape.ProductFrom ||
                              shape.ProductTo;
      const app::TBoundCall call =
          app::BindCall(*service::FindMethod(method), TypicalCall(method, shape));
      const auto unscoped = PlanOf(*demo.Connection, app::SqlFor(method, dialect, call.Shape),
                                   WithScope(call.Params, {}, "", ""));
      for (const app::TScopeShape& scope : app::ScopeShapes()) {
        if (scope == app::TScopeShape{}) continue;
        const auto plan = PlanOf(*demo.Connection, app::SqlFor(method, dialect, call.Shape, scope),
                                 WithScope(call.Params, scope, "filial02", "MSILVA"));
        const std::string what = method + Describe(shape) + Describe(scope) + Lines(plan);
        if (restricted) {
          EXPECT_EQ(FullScans(plan), std::vector<std::string>()) << what;
          // An account of its own requests, from its own items of the range
          // (ITEMSOLIFILIAL_SOLICITANTE).
          if (FromTheRangesProducts(method, shape)) {
            EXPECT_TRUE(ProductsThroughBranchItems(plan)) << what;
            if (scope.OwnRequests) {
              EXPECT_TRUE(ThroughTheRequester(plan)) << what;
            }
          }
          // So does its delivery window: the items due in it of every branch are far more.
          if (scope.OwnRequests && shape.DeliveryDates && !shape.RequestDates &&
              !shape.RequestList && (method == "GetFilSoliGD" || method == "GetItens")) {
            EXPECT_TRUE(ThroughTheRequester(plan)) << what;
          }
        } else {
          EXPECT_LE(FullScans(plan).size(), FullScans(unscoped).size()) << what;
        }
        EXPECT_EQ(ScopeScans(plan), std::vector<std::string>()) << what;
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 3u * (8u + 64u + 32u + 8u + 3u));
}

}  // namespace
}  // namespace testing_app

namespace testing_app {
namespace {

// `sql` with its named parameters as PostgreSQL's $1, $2... (as the connection sends it); the
// values, in that order, as literals for EXECUTE.
std::pair<std::string, std::string> Positional(const char* sql, const app::TNamedParams& params) {
  const app::postgres::TPositional positional = app::postgres::ToPositional(sql);
  std::string values;
  for (const std::string& name : positional.Names) {
    const auto param = std::find_if(params.begin(), params.end(),
                                    [&](const auto& each) { return each.first == name; });
    EXPECT_NE(param, params.end()) << name;
    if (param == params.end()) return {};
    const app::TParam& value = param->second;
    const std::string text = value.Kind == app::TParam::TKind::Day ? app::DayText(value.Day)
                             : value.Kind == app::TParam::TKind::Codes
                                 ? app::postgres::ArrayLiteral(value.Codes)
                                 : value.Text;
    std::string literal = "'";
    for (const char c : text) literal += c == '\'' ? std::string("''") : std::string(1, c);
    values += (values.empty() ? "" : ", ") + literal + "'";
  }
  return {positional.Text, values};
}

// How many times the plan's scans driven by the request list (an index condition on the list)
// ran, at most (EXPLAIN ANALYZE's loops).
int MostLoopsOfTheList(const std::vector<std::vector<std::string>>& plan) {
  int most = 0;
  for (size_t i = 0; i < plan.size(); ++i) {
    const std::string& line = plan[i].at(0);
    const size_t at = line.find("loops=");
    if (line.find("Scan") == std::string::npos || at == std::string::npos) continue;
    for (size_t next = i + 1;
         next < plan.size() && plan[next].at(0).find("->") == std::string::npos; ++next) {
      const std::string& detail = plan[next].at(0);
      if (detail.find("Index Cond:") != std::string::npos &&
          detail.find("nrsolicmp)::text = ANY") != std::string::npos)
        most = std::max(most, std::atoi(line.c_str() + at + 6));
    }
  }
  return most;
}

// PostgreSQL plans a statement it has run a few times once for any parameters (a generic plan),
// from estimates that cannot see whose account it is: on a site where most accounts have one
// branch it takes any account for one. For an account of every branch, a plan that looks the
// request list up again for each of the account's branches costs the branches times the list.
TEST(PostgresEngine, GenericPlans_LookTheRequestListUpOnceForAnAccountOfEveryBranch) {
  TPlanDemo demo;
  PostgresQuery(demo.Location,
                "INSERT INTO USUARIOFILIAL (LOGIN, CDFILIAL) "
                "SELECT 'conta' || I, (SELECT CDFILIAL FROM FILIAL ORDER BY CDFILIAL "
                "OFFSET I % (SELECT COUNT(*) FROM FILIAL) LIMIT 1) FROM generate_series(1, 3000) I;"
                "INSERT INTO USUARIOFILIAL (LOGIN, CDFILIAL) SELECT 'todas', CDFILIAL FROM FILIAL;"
                "ANALYZE USUARIOFILIAL");
  const app::TScopeShape scope{.Branches = true};
  size_t checked = 0;
  for (const TFilterShape& shape : app::ShapesOf("GetFilSoliGD")) {
    if (!shape.RequestList) continue;
    const app::TBoundCall call =
        app::BindCall(*service::FindMethod("GetFilSoliGD"), TypicalCall("GetFilSoliGD", shape));
    const auto statement =
        Positional(app::SqlFor("GetFilSoliGD", app::TDialect::Postgres, call.Shape, scope),
                   WithScope(call.Params, scope, "todas", ""));
    auto planIn = [&](const char* mode) {
      return PostgresQuery(demo.Location, std::string("SET plan_cache_mode = ") + mode +
                                              "; PREPARE p AS " + statement.first +
                                              "; EXPLAIN ANALYZE EXECUTE p(" + statement.second +
                                              ")");
    };
    const auto plan = planIn("force_generic_plan");
    std::string lines;
    for (const auto& row : plan) lines += "\n  " + row.at(0);
    EXPECT_LE(MostLoopsOfTheList(plan), 1) << Describe(shape) << lines;
    ++checked;
  }
  EXPECT_EQ(32u, checked);
}

}  // namespace
}  // namespace testing_app
