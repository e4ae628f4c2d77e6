#include "app_server/tracking/queries.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

namespace app {

namespace {

// ------------------------------------------------------------------ statements without shapes

constexpr const char* kGetFilSoli =
    R"SQL(SELECT '' AS IDMARCADO, F.CDFILIAL AS CDFILSOLI, F.NMFILIAL
  FROM FILIAL F
 WHERE EXISTS (SELECT 1 FROM SOLICITACAO S WHERE S.CDFILIAL = F.CDFILIAL)
 ORDER BY F.CDFILIAL)SQL";

constexpr const char* kGetDestSolGere =
    R"SQL(SELECT A.IDAPROVPRGER, G.NMOPERADOR, A.CDDESTSOLI, A.DTAPRSOLPRODGER
  FROM APROVACAOGERENTE A
  JOIN SOLICITACAO S ON S.CDFILLAN = A.CDFILLAN AND S.NRSOLICMP = A.NRSOLICMP
  LEFT JOIN OPERADOR G ON G.CDOPERADOR = A.CDOPERGER
 WHERE A.NRSOLICMP = :nrSoliCmp
   AND S.CDFILIAL = :cdFilial
   AND A.CDFILLAN = :cdFilLan
   AND A.CDDESTSOLI = :cdDestSoli
   AND A.IDAPROVPRGER IN ('S', 'N')
 ORDER BY A.NRNIVEL)SQL";

constexpr const char* kGetItemCota =
    R"SQL(SELECT Q.NRCOLEPRECO, C.IDSITUCOLETA, B.NMOPERADOR, F.NMRAZSOCFORN, Q.VRPRECUNIITM
  FROM ITEMCOLETAPRECO Q
  JOIN COLETAPRECO C ON C.CDFILIAL = Q.CDFILIAL AND C.NRCOLEPRECO = Q.NRCOLEPRECO
  LEFT JOIN OPERADOR B ON B.CDOPERADOR = C.CDOPERCOMP
  LEFT JOIN FORNECEDOR F ON F.CDFORNECED = Q.CDFORNECED
 WHERE Q.CDFILIAL = :cdFilial
   AND Q.CDPRODUTO = :cdProduto
   AND Q.NRCOLEPRECO = :nrColePreco
 ORDER BY Q.VRPRECUNIITM, F.NMRAZSOCFORN)SQL";

// ------------------------------------------------------------------ fragments

// The join of a request's items; the product's, where a product range asks for it (an item
// always has its product: ITEMSOLICITACAO.CDPRODUTO references PRODUTO).
constexpr const char* kItemsOfRequest =
    "ITEMSOLICITACAO I ON I.CDFILLAN = S.CDFILLAN AND I.NRSOLICMP = S.NRSOLICMP";
constexpr const char* kProductOfItem = "PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO";

constexpr const char* kRequestDates = "S.DTHRLANCSOL >= :dtSoliIni AND S.DTHRLANCSOL < :dtSoliFim";
constexpr const char* kDeliveryDates = "I.DTPROGENTR >= :dtEntrIni AND I.DTPROGENTR < :dtEntrFim";

// The read scope (queries.h, TScopeShape): the branch is one of the account's; the request is
// its own.
std::string Granted(const char* branch) {
  return std::string(branch) +
         " IN (SELECT G.CDFILIAL FROM USUARIOFILIAL G WHERE G.LOGIN = :login)";
}
constexpr const char* kOwnRequest = "S.CDOPERSOLI = :cdOperSoli";

// Conditions joined with AND, each on a line of its own under `indent`.
class TConditions {
 public:
  void Add(std::string condition) { items_.push_back(std::move(condition)); }
  bool Empty() const { return items_.empty(); }
  // "WHERE a\n   AND b" (with `where` as the first word), or nothing.
  std::string Text(const char* where, const std::string& indent) const {
    std::string text;
    for (size_t i = 0; i < items_.size(); ++i) {
      text += i == 0 ? "\n" + indent + where + " " : "\n" + indent + "  AND ";
      text += items_[i];
    }
    return text;
  }
  // "\n   AND a\n   AND b": more of a WHERE already written.
  std::string More(const std::string& indent) const {
    std::string text;
    for (const auto& item : items_) text += "\n" + indent + "  AND " + item;
    return text;
  }

 private:
  std::vector<std::string> items_;
};

// The branches a statement over the branch table (GetFilSoli, GetFilSoliGD) starts from: all
// of FILIAL, or, for an account of a list, the account's (USUARIOFILIAL G, by its key, each at
// most once), each with its FILIAL row; the conditions on a branch then test G.CDFILIAL, so that
// a branch that does not qualify costs no look-up of its FILIAL row. (Testing FILIAL's rows
// against the list instead, as a semi-join, costs PostgreSQL a look-up of each of the account's
// branches: a third more on a call of a few rows for an account of 255 branches.)
std::string BranchesOf(const TSqlDialect& dialect, const TScopeShape& scope) {
  if (!scope.Branches) return "FILIAL F";
  return std::string("USUARIOFILIAL G\n  ") + dialect.OrderedJoin +
         " FILIAL F ON F.CDFILIAL = G.CDFILIAL";
}

// The scope's conditions on the request S.
void AddScope(const TScopeShape& scope, TConditions& conditions) {
  if (scope.Branches) conditions.Add(Granted("S.CDFILIAL"));
  if (scope.OwnRequests) conditions.Add(kOwnRequest);
}

// The scope's conditions for a call that names its branch (`S.CDFILIAL = :cdFilial`): the
// branch named, tested once (one look-up by the whole key) rather than on every request.
// `ownRequest`: the condition of an own request, where the statement's rows carry the requester;
// none where the statement has it already.
void AddScopeOfNamedBranch(const TScopeShape& scope, TConditions& conditions,
                           const char* ownRequest = kOwnRequest) {
  if (scope.Branches)
    conditions.Add(
        "EXISTS (SELECT 1 FROM USUARIOFILIAL G WHERE G.LOGIN = :login AND G.CDFILIAL = :cdFilial)");
  if (scope.OwnRequests && ownRequest != nullptr) conditions.Add(ownRequest);
}

bool Product(const TFilterShape& shape) {
  return shape.ProductFrom || shape.ProductTo;
}

// A product range searched among the requesting branch's items by their product's code
// (ITEMSOLIFILIAL, kept by triggers: app_server/db/branch_items.h), when no request list or
// request-date window is there to start from: the branch's items of the range, and no other,
// one range of the table's key, where the branch's requests would give all its items to keep a
// few in a hundred, and the range's products, each searched among the branch's items, cost a
// search per product (157 for a subgroup at scale 5000, most without an item of the branch).
// For an account of its own requests, the requester's items of the branch in the range
// (ITEMSOLIFILIAL_SOLICITANTE): its answer's and no other, where its requests of the branch, each
// with a search of its items, were a thousand items for a few dozen kept (1.5 ms on SQLite at
// scale 5000).
bool FromBranchItems(const TFilterShape& shape) {
  return Product(shape) && !shape.RequestList && !shape.RequestDates;
}

// The product range on `code`: PRODUTO's P.CDARVPROD, or ITEMSOLIFILIAL's X.CDARVPROD.
void AddProduct(const TFilterShape& shape, TConditions& conditions,
                const char* code = "P.CDARVPROD") {
  if (shape.ProductFrom) conditions.Add(std::string(code) + " >= :cdProdIni");
  if (shape.ProductTo) conditions.Add(std::string(code) + " <= :cdProdFin");
}

// `branch`'s items of the range (ITEMSOLIFILIAL X), the requester's for an account of its own
// requests: their conditions.
void AddBranchItemsOfRange(const TFilterShape& shape, const TScopeShape& scope,
                           const std::string& branch, TConditions& conditions) {
  if (scope.OwnRequests) conditions.Add("X.CDOPERSOLI = :cdOperSoli");
  conditions.Add("X.CDFILSOLI = " + branch);
  AddProduct(shape, conditions, "X.CDARVPROD");
}

std::string FilSoli(const TSqlDialect& dialect, const TFilterShape&, const TScopeShape& scope) {
  if (scope == TScopeShape{}) return kGetFilSoli;
  const char* branch = scope.Branches ? "G.CDFILIAL" : "F.CDFILIAL";
  std::string sql = "SELECT '' AS IDMARCADO, F.CDFILIAL AS CDFILSOLI, F.NMFILIAL\n  FROM " +
                    BranchesOf(dialect, scope) + "\n WHERE ";
  if (scope.Branches) sql += "G.LOGIN = :login\n   AND ";
  sql += std::string("EXISTS (SELECT 1 FROM SOLICITACAO S WHERE S.CDFILIAL = ") + branch;
  if (scope.OwnRequests) sql += std::string(" AND ") + kOwnRequest;
  sql += std::string(")\n ORDER BY ") + branch;
  return sql;
}

// The look-ups by key, for a scope: the fixed statement with the scope's conditions before its
// ORDER BY.
std::string WithConditions(const char* fixed, const TConditions& conditions) {
  std::string sql = fixed;
  const size_t order = sql.rfind("\n ORDER BY");
  return sql.substr(0, order) + conditions.More(" ") + sql.substr(order);
}

std::string DestSolGere(const TSqlDialect&, const TFilterShape&, const TScopeShape& scope) {
  TConditions scoped;
  AddScopeOfNamedBranch(scope, scoped);
  return WithConditions(kGetDestSolGere, scoped);
}

// A quotation is visible when it is the quotation of an item of a visible request.
std::string ItemCota(const TSqlDialect& dialect, const TFilterShape&, const TScopeShape& scope) {
  if (scope == TScopeShape{}) return kGetItemCota;
  TConditions visible;
  visible.Add("I.CDFILIAL = :cdFilial AND I.NRCOLEPRECO = :nrColePreco");
  AddScope(scope, visible);
  TConditions scoped;
  scoped.Add(std::string("EXISTS (\n       SELECT 1 FROM ITEMSOLICITACAO I\n         ") +
             dialect.OrderedJoin +
             " SOLICITACAO S ON S.CDFILLAN = I.CDFILLAN AND S.NRSOLICMP = I.NRSOLICMP" +
             visible.Text("WHERE", "        ") + ")");
  return WithConditions(kGetItemCota, scoped);
}

// ------------------------------------------------------------------ GetNrSolicita

// Starts from the branches listed or from the request dates when given (an index of
// SOLICITACAO on each); from the items due in the delivery range when that is the only
// criterion.
std::string NrSolicita(const TSqlDialect& dialect, const TFilterShape& shape,
                       const TScopeShape& scope) {
  TConditions where;
  if (shape.DeliveryDates && !shape.BranchList && !shape.RequestDates) {
    // The request numbers of the items due in the range: every item has its request
    // (ITEMSOLICITACAO references SOLICITACAO), and nothing else of the request is asked but
    // whether the caller may read it (looked up by its key).
    where.Add(kDeliveryDates);
    TConditions visible;
    visible.Add("S.CDFILLAN = I.CDFILLAN AND S.NRSOLICMP = I.NRSOLICMP");
    AddScope(scope, visible);
    // PostgreSQL would fold the look-up into a join over every request (OFFSET 0 keeps it a
    // look-up per item, as in GetFilSoliGD).
    if (!(scope == TScopeShape{}))
      where.Add("EXISTS (SELECT 1 FROM SOLICITACAO S" + visible.Text("WHERE", "          ") +
                dialect.Fence(" ") + ")");
    return "SELECT '' AS IDMARCADO, I.NRSOLICMP\n  FROM ITEMSOLICITACAO I" +
           where.Text("WHERE", " ") + "\n GROUP BY I.NRSOLICMP\n ORDER BY I.NRSOLICMP";
  }
  std::string sql = "SELECT '' AS IDMARCADO, S.NRSOLICMP\n  FROM ";
  if (shape.BranchList && dialect.ListLeadsJoin) {
    // SQLite would rather read every request in number order than sort those of a few
    // branches; the list, first, makes it search each branch's (a code listed twice is
    // harmless under the GROUP BY).
    sql += dialect.ListRows("lFilSoli", "L") + "\n  " + dialect.OrderedJoin +
           " SOLICITACAO S ON S.CDFILIAL = L.value";
    if (shape.RequestDates) where.Add(kRequestDates);
  } else {
    sql += "SOLICITACAO S";
    if (shape.BranchList) where.Add(dialect.InList("S.CDFILIAL", "lFilSoli"));
    if (shape.RequestDates) where.Add(kRequestDates);
  }
  AddScope(scope, where);
  if (shape.DeliveryDates)
    where.Add(std::string("EXISTS (\n         SELECT 1 FROM ITEMSOLICITACAO I\n") +
              "          WHERE I.CDFILLAN = S.CDFILLAN AND I.NRSOLICMP = S.NRSOLICMP\n" +
              "            AND " + kDeliveryDates + ")");
  sql += where.Text("WHERE", " ");
  sql += "\n GROUP BY S.NRSOLICMP\n ORDER BY S.NRSOLICMP";
  return sql;
}

// ------------------------------------------------------------------ GetFilSoliGD

// Branches with at least one matching item, in one of three forms:
// - per branch, whether one of its requests matches (EXISTS, correlated): the search of each
//   branch stops at its first match, and finds no match at once when the request dates leave
//   none, through the index on (CDFILIAL, DTHRLANCSOL). For the request dates, a branch list,
//   a product range without delivery dates, and no criterion at all. A product range is met
//   by about one request in thirty: each branch's search stops after a few dozen of its
//   requests, where the range's items of every branch are tens of thousands (three times
//   faster at scale 5000).
// - the branches of the requests of the request list (IN, once), through the index on
//   NRSOLICMP.
// - the branches of the items due in the delivery range (IN, once), through the index on
//   DTPROGENTR; each item's request is looked up by its key (a subquery, so that no engine may
//   trade the look-ups for a scan of every request).
// With request dates, the search per branch is only made when some request of any branch falls
// in the dates (one look-up of the index on DTHRLANCSOL, made once): a window without requests
// costs that look-up instead of one per branch.
// PostgreSQL would fold a subquery into a join of its own choosing (a hash join over a scan of
// a whole table, the per-branch search for the uncorrelated forms); OFFSET 0 keeps each the
// search it is written as.
std::string FilSoliGD(const TSqlDialect& dialect, const TFilterShape& shape,
                      const TScopeShape& scope) {
  const char* branch = scope.Branches ? "G.CDFILIAL" : "F.CDFILIAL";
  // A delivery window alone: each branch's first item due in it (the items' progress by branch
  // and due date), where the items due in the window of every branch would be read, each with
  // its request looked up. Not with a product range (its items by branch and product serve it)
  // nor for an account of its own requests.
  const bool dueByBranch = shape.DeliveryDates && !shape.RequestDates && !shape.BranchList &&
                           !shape.RequestList && !Product(shape) && !scope.OwnRequests;
  const bool perBranch = !shape.RequestList && (shape.RequestDates || shape.BranchList ||
                                                !shape.DeliveryDates || dueByBranch);
  // Otherwise a delivery window (without request dates or lists) starts from the items due in
  // it, each with its request; for an account of its own requests from its items due in it
  // (the items' progress by requester and due date): the answer's items and no other, where
  // the items due in a week of every branch are many thousands (at scale 50000, 190,000: 175 ms
  // on SQLite and 370 on PostgreSQL for the week's branch grid), and the requester's requests,
  // each with a search of its items, a few hundred (1 ms on PostgreSQL at scale 5000).
  const bool fromItems = !perBranch && !shape.RequestList && !scope.OwnRequests;
  const bool ownDue = !perBranch && !shape.RequestList && scope.OwnRequests;
  std::string select, from;
  TConditions inner;
  const bool fromBranchItems = perBranch && FromBranchItems(shape);
  // A branch's first matching item from the items' progress (ITEMSOLIANDAMENTO, see GetItens):
  // one search of its key (the branch, then the request's date) where the requests would cost
  // a search of theirs and one of their items. Not for an account of its own requests: the
  // requester's requests of a branch are found by their own index.
  const bool fromProgress = perBranch && !fromBranchItems && !scope.OwnRequests;
  if (ownDue) {
    select = "SELECT DISTINCT T.CDFILSOLI";
    from = "ITEMSOLIANDAMENTO T";
    if (Product(shape))
      from += std::string("\n         ") + dialect.OrderedJoin +
              " PRODUTO P ON P.CDPRODUTO = T.CDPRODUTO";
    inner.Add("T.CDOPERSOLI = :cdOperSoli");
  } else if (fromProgress) {
    select = "SELECT 1";
    from = "ITEMSOLIANDAMENTO T";
    if (Product(shape))
      from += std::string("\n         ") + dialect.OrderedJoin +
              " PRODUTO P ON P.CDPRODUTO = T.CDPRODUTO";
    inner.Add(std::string("T.CDFILSOLI = ") + branch);
  } else if (fromBranchItems) {
    // The branch's items of the range (each item by its key for a delivery window).
    select = "SELECT 1";
    from = "ITEMSOLIFILIAL X";
    if (shape.DeliveryDates)
      from += std::string("\n         ") + dialect.OrderedJoin +
              " ITEMSOLICITACAO I ON I.CDFILLAN = X.CDFILLAN AND I.NRSOLICMP = X.NRSOLICMP"
              "\n                                AND I.NRITEMSOLI = X.NRITEMSOLI";
    AddBranchItemsOfRange(shape, scope, branch, inner);
  } else if (!fromItems) {
    // The list's branches once each: an account's branches (USUARIOFILIAL) are then matched
    // against a handful of rows. Without DISTINCT, PostgreSQL's generic plan, which takes an
    // account for one branch, runs the list's look-ups again for each of the account's
    // branches (518 times for an account of every branch at scale 50000: 56 ms against 1).
    select = perBranch ? "SELECT 1" : "SELECT DISTINCT S.CDFILIAL";
    from = std::string("SOLICITACAO S\n         ") +
           (shape.RequestList ? "JOIN" : dialect.OrderedJoin) + " " + kItemsOfRequest;
    if (Product(shape)) from += std::string("\n         JOIN ") + kProductOfItem;
    if (perBranch) inner.Add(std::string("S.CDFILIAL = ") + branch);
    if (shape.RequestList) inner.Add(dialect.InList("S.NRSOLICMP", "lSolicita"));
    if (scope.OwnRequests) inner.Add(kOwnRequest);
  } else {
    // An item of a request the caller may not read gives no branch (null).
    select =
        "SELECT (SELECT S.CDFILIAL FROM SOLICITACAO S\n"
        "                WHERE S.CDFILLAN = I.CDFILLAN AND S.NRSOLICMP = I.NRSOLICMP";
    if (scope.OwnRequests) select += std::string("\n                  AND ") + kOwnRequest;
    select += ")";
    from = "ITEMSOLICITACAO I";
    if (Product(shape)) from += std::string("\n         JOIN ") + kProductOfItem;
  }
  if (shape.RequestDates)
    inner.Add(fromProgress ? "T.DTHRLANCSOL >= :dtSoliIni AND T.DTHRLANCSOL < :dtSoliFim"
                           : kRequestDates);
  if (shape.DeliveryDates)
    inner.Add(fromProgress || ownDue ? "T.DTPROGENTR >= :dtEntrIni AND T.DTPROGENTR < :dtEntrFim"
                                     : kDeliveryDates);
  if (!fromBranchItems) AddProduct(shape, inner);
  std::string subquery = select + "\n         FROM " + from + inner.Text("WHERE", "        ");
  // For the first match of a branch PostgreSQL would read the request table from its start,
  // counting on a match soon (none comes for a branch without requests: the whole table is
  // read); in date order it takes the branch's index. Likewise, for a product range, in code
  // order it takes the branch's items by their code.
  subquery += dialect.Fence("\n        ", fromBranchItems ? "X.CDARVPROD"
                                          : dueByBranch   ? "T.DTPROGENTR"
                                          : fromProgress  ? "T.DTHRLANCSOL"
                                          : perBranch     ? "S.DTHRLANCSOL"
                                                          : "");

  TConditions outer;
  if (perBranch && shape.RequestDates)
    // PostgreSQL would read the table from its start, counting on a match soon.
    outer.Add(std::string("EXISTS (\n       SELECT 1 FROM SOLICITACAO S\n        WHERE ") +
              kRequestDates + dialect.Fence("\n        ", "S.DTHRLANCSOL") + ")");
  if (scope.Branches) outer.Add("G.LOGIN = :login");
  if (shape.BranchList) outer.Add(dialect.InList(branch, "lFilSoli"));
  outer.Add((perBranch ? "EXISTS (\n       " : std::string(branch) + " IN (\n       ") + subquery +
            ")");
  return "SELECT F.CDFILIAL, F.NMFILIAL\n  FROM " + BranchesOf(dialect, scope) +
         outer.Text("WHERE", " ") + "\n ORDER BY " + branch;
}

// ------------------------------------------------------------------ GetItens

// The items of one requesting branch, each with its request, quotation, purchase order and
// invoice, read from ITEMSOLIANDAMENTO T (a row per item kept by triggers:
// app_server/db/item_progress.h), where the tables themselves cost six look-ups by key per item.
// The rows are found:
// - for a product range without request dates or a list, from the branch's items of the range
//   (ITEMSOLIFILIAL, by the branch and the product's code; for an account of its own requests,
//   by the requester first), then each item's row by its key;
// - for a request list or an account of its own requests, from the requests (the index on
//   NRSOLICMP; the requester's, on (CDOPERSOLI, CDFILIAL, DTHRLANCSOL)), then each request's
//   rows by the item key's start; for an account of its own requests with a delivery window and
//   neither request dates nor a list, from its rows due in the window (by requester and due
//   date), the branch's kept;
// - otherwise by the branch: a range of T's own key (the branch, then the request's date) for
//   request dates; without them, the branch's rows in the answer's order, by request number
//   (ITEMSOLIANDAMENTO_NUMERO), which both planners take over sorting them.
// The requester's name is the row's; the destination's (eight of them) is looked up.
std::string Itens(const TSqlDialect& dialect, const TFilterShape& shape, const TScopeShape& scope) {
  const char* join = dialect.OrderedJoin;
  std::string sql =
      R"SQL(SELECT T.STATUS, T.CDFILLAN, T.NRSOLICMP, T.CDOPERLANC, D.NMDESTSOLI, T.NRCOMPRA,
       T.DTCONCOLEPREC, T.DTPROGENTR, T.NMOPERSOLI, T.DTHRLANCSOL, T.QTSOLIPROD,
       T.QTEFETENTRAF, T.NRAUTOFORN, T.DTAUTOFORN, T.CDOPERAPRO, T.CDDESTSOLI,
       T.NRCOLEPRECO, T.CDFILIAL, T.DTEMISSAO, T.DTPROGENTAF
  FROM )SQL";
  const char* byItem =
      " ITEMSOLIANDAMENTO T ON T.CDFILLAN = X.CDFILLAN AND T.NRSOLICMP = X.NRSOLICMP"
      "\n                           AND T.NRITEMSOLI = X.NRITEMSOLI";
  const bool fromBranchItems = FromBranchItems(shape);
  const bool ownDue = scope.OwnRequests && shape.DeliveryDates && !shape.RequestDates &&
                      !shape.RequestList && !fromBranchItems;
  const bool fromRequests = !fromBranchItems && !ownDue && (shape.RequestList || scope.OwnRequests);
  TConditions where;
  if (fromBranchItems && dialect.FencesSubqueries) {
    // The branch's items of the range first, as a subquery of its own: for a range open at one
    // end PostgreSQL would rather hash them against every item's row.
    TConditions range;
    AddBranchItemsOfRange(shape, scope, ":cdFilial", range);
    sql += "(SELECT X.CDFILLAN, X.NRSOLICMP, X.NRITEMSOLI\n          FROM ITEMSOLIFILIAL X" +
           range.Text("WHERE", "         ") + dialect.Fence("\n         ", "X.CDARVPROD") +
           ") X\n  JOIN" + byItem;
  } else if (fromBranchItems) {
    sql += std::string("ITEMSOLIFILIAL X\n  ") + join + byItem;
    AddBranchItemsOfRange(shape, scope, ":cdFilial", where);
  } else if (fromRequests) {
    sql += std::string("SOLICITACAO S\n  ") + join +
           " ITEMSOLIANDAMENTO T ON T.CDFILLAN = S.CDFILLAN AND T.NRSOLICMP = S.NRSOLICMP";
    where.Add("S.CDFILIAL = :cdFilial");
    if (shape.RequestList) where.Add(dialect.InList("S.NRSOLICMP", "lSolicita"));
    if (shape.RequestDates) where.Add(kRequestDates);
  } else if (ownDue) {
    // The requester's rows (its condition with the scope's, below) of the branch.
    sql += "ITEMSOLIANDAMENTO T";
    where.Add("T.CDFILSOLI = :cdFilial");
  } else {
    sql += "ITEMSOLIANDAMENTO T";
    where.Add("T.CDFILSOLI = :cdFilial");
    if (shape.RequestDates) where.Add("T.DTHRLANCSOL >= :dtSoliIni AND T.DTHRLANCSOL < :dtSoliFim");
  }
  // The product before the names, so that a row out of the range costs no look-up of them.
  if (Product(shape) && !fromBranchItems) {
    sql += std::string("\n  ") + join + " PRODUTO P ON P.CDPRODUTO = T.CDPRODUTO";
    AddProduct(shape, where);
  }
  sql += "\n  LEFT JOIN DESTINO D ON D.CDDESTSOLI = T.CDDESTSOLI";
  AddScopeOfNamedBranch(scope, where,
                        fromBranchItems ? nullptr
                        : ownDue        ? "T.CDOPERSOLI = :cdOperSoli"
                                        : kOwnRequest);
  if (shape.DeliveryDates) where.Add("T.DTPROGENTR >= :dtEntrIni AND T.DTPROGENTR < :dtEntrFim");
  sql += where.Text("WHERE", " ");
  sql += "\n ORDER BY T.NRSOLICMP, T.CDFILLAN, T.NRITEMSOLI";
  return sql;
}

// ------------------------------------------------------------------ GetItemProduto

// One request, by its key; the filter's request dates and product range on top.
std::string ItemProduto(const TSqlDialect& dialect, const TFilterShape& shape,
                        const TScopeShape& scope) {
  const std::string due = std::string("COALESCE(I.DTPROGENTR, ") + dialect.NoDate + ")";
  std::string sql =
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
  LEFT JOIN OPERADOR O ON O.CDOPERADOR = N.CDOPERAPRO)SQL";
  TConditions where;
  where.Add("S.CDFILIAL = :cdFilial");
  where.Add("S.NRSOLICMP = :nrSoliCmp");
  where.Add("S.CDFILLAN = :cdFilLan");
  where.Add("COALESCE(I.NRCOMPRA, '') = :nrCompra");
  where.Add(due + " >= :dtProgEntr");
  where.Add(due + " < :dtProgEntrFim");
  AddScopeOfNamedBranch(scope, where);
  if (shape.RequestDates) where.Add(kRequestDates);
  AddProduct(shape, where);
  sql += where.Text("WHERE", " ");
  sql += "\n ORDER BY P.CDARVPROD, I.NRITEMSOLI";
  return sql;
}

// ------------------------------------------------------------------ the table

// The criteria of each method, as bits of a shape: request dates, delivery dates, branch list,
// request list, product from, product to.
constexpr unsigned kRequestDatesBit = 1, kDeliveryDatesBit = 2, kBranchListBit = 4,
                   kRequestListBit = 8, kProductFromBit = 16, kProductToBit = 32, kAllBits = 63;

unsigned Bits(const TFilterShape& shape) {
  return (shape.RequestDates ? kRequestDatesBit : 0u) |
         (shape.DeliveryDates ? kDeliveryDatesBit : 0u) | (shape.BranchList ? kBranchListBit : 0u) |
         (shape.RequestList ? kRequestListBit : 0u) | (shape.ProductFrom ? kProductFromBit : 0u) |
         (shape.ProductTo ? kProductToBit : 0u);
}

TFilterShape ShapeOfBits(unsigned bits) {
  TFilterShape shape;
  shape.RequestDates = bits & kRequestDatesBit;
  shape.DeliveryDates = bits & kDeliveryDatesBit;
  shape.BranchList = bits & kBranchListBit;
  shape.RequestList = bits & kRequestListBit;
  shape.ProductFrom = bits & kProductFromBit;
  shape.ProductTo = bits & kProductToBit;
  return shape;
}

// A set of shapes, as one bit per shape's bits (bit 0: the empty shape).
constexpr uint64_t WarmShapes(std::initializer_list<unsigned> shapes) {
  uint64_t set = 0;
  for (const unsigned bits : shapes) set |= uint64_t{1} << bits;
  return set;
}

using TComposer = std::string (*)(const TSqlDialect&, const TFilterShape&, const TScopeShape&);

enum class TRun { Quick, Search };

struct TMethodEntry {
  const char* Method;
  unsigned Criteria;  // the bits the method has
  TComposer Compose;
  TRun Run;
  uint64_t Warm;  // the shapes warmed (WarmShapes)
};

// Every method of the tracking object, named once: the criteria it has, the composer of its
// statements, whether it is a quick look-up by key (run on the connection's thread) or a search
// (run on the query pool), and the shapes Warm runs before the first call (the filter panel's
// usual ones: a date window, all dates, a list). Its parameters and fields are the contract's
// (protocol/contract.h), found by the name.
constexpr TMethodEntry kMethods[] = {
    {"GetFilSoli", 0, FilSoli, TRun::Quick, WarmShapes({0})},
    {"GetNrSolicita", kRequestDatesBit | kDeliveryDatesBit | kBranchListBit, NrSolicita,
     TRun::Search, WarmShapes({kRequestDatesBit, kBranchListBit})},
    {"GetFilSoliGD", kAllBits, FilSoliGD, TRun::Search,
     WarmShapes({kRequestDatesBit, 0, kBranchListBit, kRequestListBit})},
    {"GetItens", kAllBits & ~kBranchListBit, Itens, TRun::Search,
     WarmShapes({kRequestDatesBit, 0, kRequestListBit})},
    {"GetDestSolGere", 0, DestSolGere, TRun::Quick, WarmShapes({0})},
    {"GetItemProduto", kRequestDatesBit | kProductFromBit | kProductToBit, ItemProduto, TRun::Quick,
     WarmShapes({kRequestDatesBit, 0})},
    {"GetItemCota", 0, ItemCota, TRun::Quick, WarmShapes({0})},
};
constexpr size_t kMethodCount = std::size(kMethods);
constexpr size_t kScopeCount = 4;

size_t ScopeIndex(const TScopeShape& scope) {
  return (scope.Branches ? 1u : 0u) | (scope.OwnRequests ? 2u : 0u);
}

TScopeShape ScopeOfIndex(size_t index) {
  TScopeShape scope;
  scope.Branches = (index & 1u) != 0;
  scope.OwnRequests = (index & 2u) != 0;
  return scope;
}

// Every statement, made once: [dialect][method][scope][shape bits].
struct TComposed {
  std::array<
      std::array<std::array<std::array<std::string, kAllBits + 1>, kScopeCount>, kMethodCount>, 2>
      Text;
  TComposed() {
    for (int d = 0; d < 2; ++d) {
      const TDialect dialect = d == 0 ? TDialect::Sqlite : TDialect::Postgres;
      for (size_t m = 0; m < kMethodCount; ++m)
        for (size_t scope = 0; scope < kScopeCount; ++scope)
          for (unsigned bits = 0; bits <= kAllBits; ++bits)
            if ((bits & ~kMethods[m].Criteria) == 0)
              Text[d][m][scope][bits] =
                  kMethods[m].Compose(SqlDialect(dialect), ShapeOfBits(bits), ScopeOfIndex(scope));
    }
  }
};

const TComposed& Composed() {
  static const auto composed = std::make_unique<TComposed>();
  return *composed;
}

const TMethodEntry* FindEntry(std::string_view method) {
  for (const auto& entry : kMethods)
    if (method == entry.Method) return &entry;
  return nullptr;
}

}  // namespace

const char* SqlFor(std::string_view method, TDialect dialect, const TFilterShape& shape,
                   const TScopeShape& scope) {
  const TMethodEntry* entry = FindEntry(method);
  if (entry == nullptr) return nullptr;
  const auto m = static_cast<size_t>(entry - kMethods);
  const unsigned bits = Bits(shape) & entry->Criteria;
  return Composed().Text[dialect == TDialect::Sqlite ? 0 : 1][m][ScopeIndex(scope)][bits].c_str();
}

std::vector<TTrackingMethod> TrackingMethods() {
  std::vector<TTrackingMethod> methods;
  for (const auto& entry : kMethods) {
    TTrackingMethod method;
    method.Name = entry.Method;
    method.Contract = service::FindMethod(entry.Method);
    method.Quick = entry.Run == TRun::Quick;
    for (unsigned bits = 0; bits <= kAllBits; ++bits)
      if ((entry.Warm >> bits) & 1u) method.WarmShapes.push_back(ShapeOfBits(bits));
    methods.push_back(std::move(method));
  }
  return methods;
}

const TTrackingMethod* FindTrackingMethod(std::string_view name) {
  static const std::vector<TTrackingMethod> methods = TrackingMethods();
  for (const auto& method : methods)
    if (name == method.Name) return &method;
  return nullptr;
}

std::vector<TScopeShape> ScopeShapes() {
  std::vector<TScopeShape> scopes;
  for (size_t scope = 0; scope < kScopeCount; ++scope) scopes.push_back(ScopeOfIndex(scope));
  return scopes;
}

std::vector<TFilterShape> ShapesOf(std::string_view method) {
  std::vector<TFilterShape> shapes;
  for (const auto& entry : kMethods) {
    if (method != entry.Method) continue;
    for (unsigned bits = 0; bits <= kAllBits; ++bits)
      if ((bits & ~entry.Criteria) == 0) shapes.push_back(ShapeOfBits(bits));
  }
  return shapes;
}

}  // namespace app
