// The tracking service "CMP09500.rdmAcompSoli": the seven methods of protocol/contract.h, each
// answered from one statement (queries.cpp) with a packet of exactly the method's fields.
//
// Parameter rules, checked before any query:
// - count and kinds as the contract lists them (date: a number; string and in-out: a str),
//   otherwise an error;
// - strings in UTF-8, without the character U+0000, otherwise an error;
// - strings up to 64 KiB, except the selection lists stLFilSoli and stLSolicita, which only the
//   message limit bounds (100,000 request numbers take 1.3 MB), otherwise an error;
// - dates from 01/01/0001 to 31/12/9999 (NaN, infinities, 1e300 are refused);
// - a selection list is read only when its flag is not "T", and refused when its layout is not
//   'A','B''C' (see selection.h) or when it holds more than MaxSelectionCodes codes;
// - the in-out strings come back unchanged in "refs".
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

#include "app_server/auth/read_scope.h"
#include "app_server/db/database.h"
#include "app_server/rpc/rpc.h"
#include "app_server/tracking/queries.h"
#include "protocol/contract.h"
#include "protocol/wire.h"

namespace app {

class TTrackingService : public IServiceObject {
 public:
  struct TOptions {
    int QueryTimeLimitMs = 50000;  // below the client's 60 s call time-out
    // A selection list with more codes is refused; 100,000 request numbers take 1.3 MB.
    size_t MaxSelectionCodes = 100000;
  };

  TTrackingService(TConnectionPool& pool, TOptions options) : pool_(pool), options_(options) {}

  // Every call answers only what its account may read (read_scope.h).
  size_t Invoke(std::string_view method, const std::vector<TRpcValue>& params,
                const TCallContext& context, fw::wire::TWireWriter& out) override;
  // The look-ups by key (a branch list, one item's approvals, products and prices); the
  // filtered searches GetNrSolicita, GetFilSoliGD and GetItens are not.
  bool IsQuick(std::string_view method) const override;

  // Before the first call: opens `connections` database connections and, on each, runs the
  // statements of the filter panel's usual shapes (a date window, all dates, a list) and of the
  // look-ups, for a filter that matches nothing: the first user's first query then finds the
  // connection open, its statements prepared and the indexes' upper pages read, as every later
  // query does. Raises EDatabaseError.
  void Warm(int connections);

 private:
  TConnectionPool& pool_;
  TOptions options_;
  // Each account's scope as its last call found it. A call sends the statement of that scope
  // with the reading of the scope as it is now, one round trip on PostgreSQL, and keeps the rows
  // only when the two agree; otherwise it runs the statement of the scope it read.
  std::mutex scopesMutex_;
  std::unordered_map<std::string, TReadScope> lastScopes_;
};

// A call's parameters as its statement takes them (dates as days, lists as codes, product codes
// normalised; docs/service.md), and its shape: the criteria it restricts. `params` are the
// method's, of the right kinds. Raises ERefusal for a date out of range, a malformed list or one
// of more than `maxCodes` codes.
struct TBoundCall {
  TNamedParams Params;
  TFilterShape Shape;
};
TBoundCall BindCall(const service::TMethodDef& method, const std::vector<TRpcValue>& params,
                    size_t maxCodes = TTrackingService::TOptions{}.MaxSelectionCodes);

// A selection list as its statement takes it: no codes when `flag` is "T" (the list is not
// read), else the codes of `text`. Raises ERefusal, naming `listName` and `what` ("filiais"),
// when the list is malformed or holds more than `maxCodes` codes.
TParam SelectionParam(const std::string& flag, const std::string& text, std::string_view listName,
                      const char* what, size_t maxCodes);

// One cell of an answer's row, by its field's type: dates as days whatever form they are stored in.
void WriteCell(fw::wire::TPacketWriter& packet, fw::TFieldType type, const IRow& row, int column);

// The product code as compared with PRODUTO.CDARVPROD: blanks around it dropped, and the mask's
// literal dots too ("01.002.003" -> "01002003"), since codes are stored without them.
std::string NormalizeProductCode(std::string_view code);

}  // namespace app
