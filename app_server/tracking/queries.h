// The statements behind the methods of the tracking service, per engine and per filter shape
// (docs/service.md shows them, the indexes that serve them and what binds to each parameter).
//
// A filtered search has one statement for each combination of the criteria a call restricts
// (its shape), composed from fixed fragments: a criterion that is not restricted is left out of
// the statement rather than switched off by its flag inside it, so that the planner sees only
// the conditions that matter and can take the index that fits them; the most selective
// criterion given decides which table the statement starts from. No text of the client ever
// enters the SQL: the shape is a set of booleans, and the values are bound as parameters (a
// selection list as one parameter).
//
// The statements name no engine: where the engines' texts differ they take it from the engine's
// dialect (TSqlDialect, database.h): how a selection list is read (json_each in SQLite, = ANY of a
// text[] in PostgreSQL), the delivery date's stand-in for "none", the join order SQLite is held
// to with CROSS JOIN, and the subqueries PostgreSQL is kept from folding (OFFSET 0).
//
// Parameters are named (":cdFilial"). Dates are bound as days (see TParam); selection lists as
// their codes; product codes normalised (tracking_service.h).
#pragma once

#include <string_view>
#include <vector>

#include "app_server/auth/read_scope.h"
#include "app_server/db/database.h"
#include "protocol/contract.h"

namespace app {

// The criteria a call restricts. A method has some of them (docs/service.md lists which); the
// others are ignored for it.
struct TFilterShape {
  bool RequestDates = false;   // stDtSoli is not "T"
  bool DeliveryDates = false;  // stDtEntr is not "T"
  bool BranchList = false;     // stTFilSoli is not "T"
  bool RequestList = false;    // stTSolicita is not "T"
  bool ProductFrom = false;    // stTCdProd is not "T" and cdProdIni is not blank
  bool ProductTo = false;      // stTCdProd is not "T" and cdProdFin is not blank

  bool operator==(const TFilterShape&) const = default;
};

// What the caller's read scope adds to a statement (read_scope.h). An account that reads every
// branch and every request adds nothing: its statements are the shapes' own. Otherwise each
// statement gains, where it meets the request (SOLICITACAO S) or the branch (FILIAL F):
// - Branches: the branch is one of the account's, found in USUARIOFILIAL by its key: a statement
//   of the branch table starts from the account's branches (`USUARIOFILIAL G JOIN FILIAL F ...
//   WHERE G.LOGIN = :login`); a search of requests keeps those of its branches
//   (`S.CDFILIAL IN (SELECT G.CDFILIAL FROM USUARIOFILIAL G WHERE G.LOGIN = :login)`); where the
//   call names its branch (GetItens, the look-ups by key) the named branch is looked up, once
//   (`EXISTS (... WHERE G.LOGIN = :login AND G.CDFILIAL = :cdFilial)`);
// - OwnRequests: the request is the account's own (`S.CDOPERSOLI = :cdOperSoli`, through the
//   index on (CDOPERSOLI, CDFILIAL, DTHRLANCSOL));
// and GetItemCota answers only for a quotation of an item of a visible request (an EXISTS over
// the index on ITEMSOLICITACAO (CDFILIAL, NRCOLEPRECO)). The login and the operator are bound as
// parameters like any other value.

// The statement for a call of `method` of that shape, for a caller of that scope; nullptr for a
// method without one. The same method, dialect and shapes always give the same pointer
// (connections prepare each statement once, keyed by it).
const char* SqlFor(std::string_view method, TDialect dialect, const TFilterShape& shape = {},
                   const TScopeShape& scope = {});

// Every scope a statement has a form for: none, branches, own requests, both.
std::vector<TScopeShape> ScopeShapes();

// Every shape of `method` that has a statement of its own: the combinations of the criteria the
// method has (one empty shape for a method without criteria; none for an unknown method).
std::vector<TFilterShape> ShapesOf(std::string_view method);

// A method of the tracking object as the server serves it, read from the one table of its
// methods (queries.cpp): each is named there once, with its criteria, its statements, how it is
// run and what is warmed.
struct TTrackingMethod {
  const char* Name = nullptr;
  const service::TMethodDef* Contract = nullptr;  // parameters and fields (protocol/contract.h)
  // A look-up by key, run on the connection's own thread; otherwise a search, run on the query
  // pool (server.h).
  bool Quick = false;
  std::vector<TFilterShape> WarmShapes;  // run by TTrackingService::Warm before the first call
};

// Every method of the table, in its order.
std::vector<TTrackingMethod> TrackingMethods();
// nullptr for a name the table does not have.
const TTrackingMethod* FindTrackingMethod(std::string_view name);

}  // namespace app
