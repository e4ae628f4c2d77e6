// Calls of the tracking service drawn from the demo data, for the tests that compare answers
// (the engines side by side, an account's read scope against the unrestricted answer): date
// windows, lists, product ranges, empty results, unusual codes and flags, keys that match
// nothing, refused lists and wrong calls, always the same for the same seed.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "protocol/contract.h"
#include "protocol/remote.h"
#include "protocol/report_contract.h"
#include "tests/app_server/fixture.h"

namespace testing_app {

using fw::TRemoteArg;

// The same deterministic numbers on every run, so that a difference found is found again.
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
  bool Chance(int percent) { return Between(1, 100) <= percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Next() % items.size()];
  }

 private:
  uint64_t state_;
};

struct TCall {
  std::string Method;
  std::vector<TRemoteArg> Args;
  std::string Bytes;  // when the call is not a well-formed one of the contract
};

// Values to draw from: the data's own and some it does not have.
struct TPool {
  std::vector<std::string> Branches, Requests, Products, RequestDates, DeliveryDates;
  std::vector<std::vector<std::string>> Approvals, Items, Quotes;
};

// Codes the data does not have, some of them odd to a statement ("'", "%", "NULL", "🧾").
extern const std::vector<std::string> kOddCodes;
// The first value of each row.
std::vector<std::string> FirstColumn(const std::vector<std::vector<std::string>>& rows);
// A selection string of the codes, as the list picker builds it.
std::string SelectionOf(const std::vector<std::string>& codes);
// An ISO date-time as days since 30/12/1899.
double DayOf(const std::string& iso);
// The values of the demo database (a SQLite file) to draw calls from.
TPool PoolOf(const std::string& db);

// Some hundreds of calls over the seven methods (Calls), or of the report (ReportCalls), drawn
// from the pool.
class TGenerator {
 public:
  TGenerator(const TPool& pool, uint64_t seed) : pool_(pool), draw_(seed) {}

  std::vector<TCall> Calls() {
    std::vector<TCall> calls;
    calls.push_back({"GetFilSoli", Args("GetFilSoli"), {}});
    for (int i = 0; i < 50; ++i) calls.push_back({"GetNrSolicita", NrSolicita(), {}});
    for (int i = 0; i < 60; ++i) calls.push_back({"GetFilSoliGD", FilSoliGD(), {}});
    for (int i = 0; i < 60; ++i) calls.push_back({"GetItens", Itens(), {}});
    for (int i = 0; i < 40; ++i) calls.push_back({"GetDestSolGere", DestSolGere(), {}});
    for (int i = 0; i < 40; ++i) calls.push_back({"GetItemProduto", ItemProduto(), {}});
    for (int i = 0; i < 40; ++i) calls.push_back({"GetItemCota", ItemCota(), {}});
    for (auto& call : WrongCalls()) calls.push_back(std::move(call));
    return calls;
  }

  // Calls of the report's GetRelAcomp (SUP00700.rdmRelAcomp): date windows, branch and status
  // lists, some refused.
  std::vector<TCall> ReportCalls(int count) {
    static const std::vector<std::string> statuses = {"A", "B", "C", "D", "7", "5",
                                                      "4", "3", "2", "1", "X", "'"};
    std::vector<TCall> calls;
    for (int i = 0; i < count; ++i) {
      const auto request = Window(pool_.RequestDates);
      std::vector<std::string> codes;
      for (int n = draw_.Between(1, 3); n > 0; --n) codes.push_back(draw_.Pick(statuses));
      calls.push_back(
          {service::kReportMethodName,
           {TRemoteArg::FromDate(request.first), TRemoteArg::FromDate(request.second),
            TRemoteArg::FromString(Flag(40).Text),
            TRemoteArg::FromString(List(pool_.Branches).Text),
            TRemoteArg::FromString(Flag(30).Text), TRemoteArg::FromString(SelectionOf(codes))},
           {}});
    }
    return calls;
  }

 private:
  // A flag: mostly "T" or "", sometimes text that is not exactly "T" (so it restricts).
  TRemoteArg Flag(int restrictPercent) {
    if (!draw_.Chance(restrictPercent)) return TRemoteArg::FromInOut("T");
    static const std::vector<std::string> odd = {"", "", "", "", "t", " T", "TT", "F", "N"};
    return TRemoteArg::FromInOut(draw_.Pick(odd));
  }

  std::string Code(const std::vector<std::string>& real) {
    return draw_.Chance(80) ? draw_.Pick(real) : draw_.Pick(kOddCodes);
  }

  // A date window around a date of the data, or none of it.
  std::pair<double, double> Window(const std::vector<std::string>& dates) {
    const int kind = draw_.Between(1, 10);
    if (kind == 1) return {DayOf("1990-01-01 00:00:00"), DayOf("1990-12-31 00:00:00")};
    if (kind == 2) return {0, 0};  // empty date fields
    const double day = std::floor(DayOf(draw_.Pick(dates)));
    if (kind == 3) return {day, day};                // one day
    if (kind == 4) return {day + 5, day - 5};        // inverted: nothing
    if (kind == 5) return {day + 0.75, day + 0.25};  // times of day are dropped
    if (kind == 6) return {-693593, 2958465.9};      // from 01/01/0001 to 31/12/9999
    return {day - draw_.Between(0, 40), day + draw_.Between(0, 40)};
  }

  TRemoteArg List(const std::vector<std::string>& real) {
    const int kind = draw_.Between(1, 12);
    if (kind == 1) return TRemoteArg::FromInOut("");
    if (kind == 2) return TRemoteArg::FromInOut("'0001");  // malformed: refused
    std::vector<std::string> codes;
    const int count = kind == 3 ? 400 : draw_.Between(1, 6);
    for (int i = 0; i < count; ++i) codes.push_back(Code(real));
    return TRemoteArg::FromInOut(SelectionOf(codes));
  }

  // A product code as typed: the stored one, masked or not, a prefix, blank, or odd.
  std::string Product() {
    const int kind = draw_.Between(1, 8);
    if (kind == 1) return "";
    if (kind == 2) return draw_.Pick(kOddCodes);
    std::string code = draw_.Pick(pool_.Products);
    if (kind == 3) return code.substr(0, static_cast<size_t>(draw_.Between(1, 5)));
    if (kind == 4) return code.substr(0, 2) + "." + code.substr(2, 3) + "." + code.substr(5);
    if (kind == 5) return " " + code + " ";
    return code;
  }

  std::vector<TRemoteArg> Common(const std::string& method) {
    const auto request = Window(pool_.RequestDates);
    const auto delivery = Window(pool_.DeliveryDates);
    return Args(method, {{"dtSoliIni", TRemoteArg::FromDate(request.first)},
                         {"dtSoliFin", TRemoteArg::FromDate(request.second)},
                         {"stDtSoli", Flag(60)},
                         {"dtEntrIni", TRemoteArg::FromDate(delivery.first)},
                         {"dtEntrFin", TRemoteArg::FromDate(delivery.second)},
                         {"stDtEntr", Flag(40)},
                         {"stLFilSoli", List(pool_.Branches)},
                         {"stTFilSoli", Flag(40)},
                         {"stLSolicita", List(pool_.Requests)},
                         {"stTSolicita", Flag(30)},
                         {"cdProdIni", TRemoteArg::FromString(Product())},
                         {"cdProdFin", TRemoteArg::FromString(Product())},
                         {"stTCdProd", Flag(50)},
                         {"cdFilial", TRemoteArg::FromString(Code(pool_.Branches))}});
  }

  std::vector<TRemoteArg> Args(const std::string& method,
                               const std::map<std::string, TRemoteArg>& values = {}) {
    // Only the parameters the method has.
    std::map<std::string, TRemoteArg> own;
    for (const auto& param : service::FindMethod(method)->Params) {
      const auto found = values.find(param.Name);
      if (found != values.end()) own.emplace(param.Name, found->second);
    }
    return testing_app::Args(method, own);
  }

  std::vector<TRemoteArg> NrSolicita() { return Common("GetNrSolicita"); }
  std::vector<TRemoteArg> FilSoliGD() { return Common("GetFilSoliGD"); }
  std::vector<TRemoteArg> Itens() { return Common("GetItens"); }

  std::vector<TRemoteArg> DestSolGere() {
    const auto& key = draw_.Pick(pool_.Approvals);  // NRSOLICMP, CDFILIAL, CDFILLAN, CDDESTSOLI
    auto field = [&](size_t i) { return draw_.Chance(85) ? key[i] : draw_.Pick(kOddCodes); };
    return Args("GetDestSolGere", {{"nrSoliCmp", TRemoteArg::FromString(field(0))},
                                   {"cdFilial", TRemoteArg::FromString(field(1))},
                                   {"cdFilLan", TRemoteArg::FromString(field(2))},
                                   {"cdDestSoli", TRemoteArg::FromString(field(3))}});
  }

  std::vector<TRemoteArg> ItemProduto() {
    // CDFILIAL, NRSOLICMP, CDFILLAN, NRCOMPRA, DTPROGENTR, DTHRLANCSOL
    const auto& key = draw_.Pick(pool_.Items);
    double due = key[4].empty() ? 0 : DayOf(key[4]);
    if (draw_.Chance(20)) due += draw_.Between(-2, 2) + 0.5;
    const double entered = std::floor(DayOf(key[5]));
    return Args("GetItemProduto",
                {{"cdFilial", TRemoteArg::FromString(draw_.Chance(90) ? key[0] : "0002")},
                 {"nrSoliCmp", TRemoteArg::FromString(key[1])},
                 {"cdProdIni", TRemoteArg::FromString(Product())},
                 {"cdProdFin", TRemoteArg::FromString(Product())},
                 {"stTCdProd", Flag(40)},
                 {"stDtSoli", Flag(40)},
                 {"dtSoliIni", TRemoteArg::FromDate(entered - draw_.Between(0, 3))},
                 {"dtSoliFin", TRemoteArg::FromDate(entered + draw_.Between(-1, 3))},
                 {"dtProgEntr", TRemoteArg::FromDate(due)},
                 {"cdFilLan", TRemoteArg::FromString(key[2])},
                 {"nrCompra", TRemoteArg::FromString(draw_.Chance(85) ? key[3] : "")}});
  }

  std::vector<TRemoteArg> ItemCota() {
    const auto& key = draw_.Pick(pool_.Quotes);  // CDFILIAL, CDPRODUTO, NRCOLEPRECO
    auto field = [&](size_t i) { return draw_.Chance(85) ? key[i] : draw_.Pick(kOddCodes); };
    return Args("GetItemCota", {{"cdFilial", TRemoteArg::FromString(field(0))},
                                {"cdProduto", TRemoteArg::FromString(field(1))},
                                {"nrColePreco", TRemoteArg::FromString(field(2))}});
  }

  // Calls the service answers with an error, alike on both.
  std::vector<TCall> WrongCalls() {
    std::vector<TCall> calls;
    auto bytes = [](const std::string& method, std::vector<TRemoteArg> args) {
      return TCall{method, {}, RequestBytes(1, Full(method), args)};
    };
    calls.push_back(bytes("GetItens", Args("GetFilSoliGD")));
    calls.push_back(bytes("Apagar", {}));
    calls.push_back(
        bytes("GetItemCota", {TRemoteArg::FromString(std::string("\xff", 1)),
                              TRemoteArg::FromString("1"), TRemoteArg::FromString("1")}));
    calls.push_back(
        bytes("GetItemCota", {TRemoteArg::FromString(std::string("0\0", 2)),
                              TRemoteArg::FromString("1"), TRemoteArg::FromString("1")}));
    calls.push_back(bytes("GetItemCota", {TRemoteArg::FromDate(1), TRemoteArg::FromString("1"),
                                          TRemoteArg::FromString("1")}));
    auto absurd = Args("GetFilSoliGD", {{"dtSoliIni", TRemoteArg::FromDate(3e6)}});
    calls.push_back({"GetFilSoliGD", absurd, {}});
    return calls;
  }

  const TPool& pool_;
  TDraw draw_;
};

}  // namespace testing_app
