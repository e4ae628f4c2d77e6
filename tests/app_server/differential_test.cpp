// The two engines side by side: the same demo data (seed 11, scale 3) in a SQLite file and in a
// PostgreSQL database, a server on each, and some hundreds of generated calls over the seven
// methods — date windows, lists, product ranges, empty results, unusual codes and flags, keys
// that match nothing, refused lists and wrong calls. Every answer must be the same bytes from
// both servers: the same fields, types and sizes, the same rows in the same order with the same
// values to the last bit, the same refs, the same refusals and errors.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "app_server/db/iso_date.h"
#include "protocol/contract.h"
#include "tests/app_server/fixture.h"
#include "tests/app_server/generated_calls.h"

namespace testing_app {
namespace {

constexpr int kSeed = 11;
constexpr int kScale = 3;

// What differs between two answers, for the failure message.
std::string Difference(const std::string& sqlite, const std::string& postgres) {
  const fw::wire::TReply a = fw::wire::DecodeReply(sqlite);
  const fw::wire::TReply b = fw::wire::DecodeReply(postgres);
  if (a.Failed != b.Failed || a.ErrorMessage != b.ErrorMessage)
    return "errors: [" + a.ErrorMessage + "] vs [" + b.ErrorMessage + "]";
  if (a.Result.Refused != b.Result.Refused || a.Result.RefusalMessage != b.Result.RefusalMessage)
    return "refusals: [" + a.Result.RefusalMessage + "] vs [" + b.Result.RefusalMessage + "]";
  const auto& x = a.Result.Data;
  const auto& y = b.Result.Data;
  if (x.RowCount() != y.RowCount())
    return std::to_string(x.RowCount()) + " rows vs " + std::to_string(y.RowCount());
  for (size_t field = 0; field < x.Fields().size() && field < y.Fields().size(); ++field) {
    if (x.Fields()[field].Name != y.Fields()[field].Name ||
        x.Fields()[field].Size != y.Fields()[field].Size ||
        x.Fields()[field].Type != y.Fields()[field].Type)
      return "field " + x.Fields()[field].Name + " differs";
    for (size_t row = 0; row < x.RowCount(); ++row) {
      const auto& cx = x.Columns()[field];
      const auto& cy = y.Columns()[field];
      const std::string vx = cx.IsNull(row) ? "<null>"
                             : x.Fields()[field].Type == fw::TFieldType::ftString
                                 ? std::string(cx.GetString(row))
                                 : std::to_string(cx.GetNumber(row));
      const std::string vy = cy.IsNull(row) ? "<null>"
                             : y.Fields()[field].Type == fw::TFieldType::ftString
                                 ? std::string(cy.GetString(row))
                                 : std::to_string(cy.GetNumber(row));
      if (vx != vy || (!cx.IsNull(row) && x.Fields()[field].Type != fw::TFieldType::ftString &&
                       cx.GetNumber(row) != cy.GetNumber(row)))
        return "row " + std::to_string(row + 1) + " " + x.Fields()[field].Name + ": " + vx +
               " vs " + vy;
    }
  }
  return "the refs or the encoding";
}

TEST(Differential, HundredsOfGeneratedCalls_GetTheSameAnswerFromBothEngines) {
  TTempDir dir;
  const std::string sqlite = dir.Path() + "/demo.db";
  InitDemo(sqlite, kSeed, kScale, dir.Path() + "/init.log");
  TPostgresDatabase postgres;
  InitDemo(postgres.Conninfo(), kSeed, kScale, dir.Path() + "/init.log");
  TServerProcess onSqlite(sqlite, dir.Path() + "/sqlite.log");
  TServerProcess onPostgres(postgres.Conninfo(), dir.Path() + "/postgres.log");

  const TPool pool = PoolOf(sqlite);
  const std::vector<TCall> calls = TGenerator(pool, 20240628).Calls();
  ASSERT_GE(calls.size(), 200u);

  TRawClient a(onSqlite.Port());
  a.Login();
  TRawClient b(onPostgres.Port());
  b.Login();
  std::map<std::string, int> withRows, empty, refused, errors;
  size_t rows = 0;
  uint32_t msgid = 1;
  for (const TCall& call : calls) {
    const std::string bytes =
        call.Bytes.empty() ? RequestBytes(msgid++, Full(call.Method), call.Args) : call.Bytes;
    a.Send(bytes);
    b.Send(bytes);
    const std::string fromSqlite = a.ReadBytes(10000);
    const std::string fromPostgres = b.ReadBytes(10000);
    if (fromSqlite != fromPostgres) {
      ADD_FAILURE() << call.Method << ": " << Difference(fromSqlite, fromPostgres);
      continue;
    }
    const fw::wire::TReply reply = fw::wire::DecodeReply(fromSqlite);
    if (reply.Failed)
      ++errors[call.Method];
    else if (reply.Result.Refused)
      ++refused[call.Method];
    else if (reply.Result.Data.RowCount() == 0)
      ++empty[call.Method];
    else
      ++withRows[call.Method];
    rows += reply.Result.Data.RowCount();
  }

  // The calls reached every kind of answer, so the comparison compared something.
  for (const auto& method : service::Methods()) {
    EXPECT_GT(withRows[method.Name], 0) << method.Name;
    if (method.Name != std::string("GetFilSoli")) {
      EXPECT_GT(empty[method.Name], 0) << method.Name;
    }
  }
  EXPECT_GT(refused["GetFilSoliGD"] + refused["GetNrSolicita"] + refused["GetItens"], 5);
  EXPECT_GE(errors["GetItemCota"], 3);
  EXPECT_GT(rows, 2000u);
}

}  // namespace
}  // namespace testing_app
