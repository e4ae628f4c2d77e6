// The report service "SUP00700.rdmRelAcomp": GetRelAcomp (protocol/report_contract.h), one row per
// request item with the date of every stage, from one statement per engine (ReportSql).
//
// Parameters are checked as the tracking service checks its own, before any query, so that the
// answers are the same on both engines:
// - count and kinds (dates: numbers; the rest: str), otherwise an error;
// - strings in UTF-8, without U+0000; up to 64 KiB except the two selection lists, which only
//   the message limit bounds;
// - dates from 01/01/0001 to 31/12/9999, otherwise a refusal;
// - a list is read only when its flag is not "T", and refused when it is not 'A','B''C' or when
//   it holds more than MaxSelectionCodes codes (the tracking service's limit,
//   --max-selection-codes).
// A result over the message limit is refused ("restrinja o filtro"), as the tracking service's.
#pragma once

#include "app_server/db/database.h"
#include "app_server/rpc/rpc.h"
#include "app_server/tracking/queries.h"

namespace app {

class TReportService : public IServiceObject {
 public:
  struct TOptions {
    int QueryTimeLimitMs = 50000;  // below the client's 60 s call time-out
    size_t MaxSelectionCodes = 100000;
  };

  TReportService(TConnectionPool& pool, TOptions options) : pool_(pool), options_(options) {}

  // The report holds only the items the call's account may read (read_scope.h).
  size_t Invoke(std::string_view method, const std::vector<TRpcValue>& params,
                const TCallContext& context, fw::wire::TWireWriter& out) override;
  // From the table of the object's methods (report_service.cpp): the report runs on the query
  // pool, as a long call.
  bool IsQuick(std::string_view method) const override;
  bool IsLong(std::string_view method) const override;

 private:
  TConnectionPool& pool_;
  TOptions options_;
};

// The statement of GetRelAcomp on each engine (docs/reports.md quotes both), for a caller of
// that read scope.
const char* ReportSql(TDialect dialect, const TScopeShape& scope = {});

}  // namespace app
