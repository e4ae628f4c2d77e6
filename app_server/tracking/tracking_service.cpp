#include "app_server/tracking/tracking_service.h"

#include <fmt/format.h>

#include <memory>
#include <optional>

#include "app_server/auth/read_scope.h"
#include "app_server/db/iso_date.h"
#include "app_server/db/selection.h"
#include "app_server/tracking/queries.h"
#include "protocol/contract.h"

namespace app {

namespace {

using service::TParamKind;

bool IsSelectionList(std::string_view name) {
  return name == "stLFilSoli" || name == "stLSolicita";
}

// Each date parameter as the day its range starts or ends with: a range covers whole days, from
// the start of the initial date's day to the start of the day after the final date's.
void BindDate(std::string_view name, double days, TNamedParams& bound) {
  const int64_t day = WireDay(days);
  if (name == "dtSoliIni" || name == "dtEntrIni") {
    bound.emplace_back(std::string(name), TParam::FromDay(day));
  } else if (name == "dtSoliFin") {
    bound.emplace_back("dtSoliFim", TParam::FromDay(day + 1));
  } else if (name == "dtEntrFin") {
    bound.emplace_back("dtEntrFim", TParam::FromDay(day + 1));
  } else if (name == "dtProgEntr") {
    bound.emplace_back("dtProgEntr", TParam::FromDay(day));
    bound.emplace_back("dtProgEntrFim", TParam::FromDay(day + 1));
  }
}

TParam ListParam(const service::TMethodDef& method, const std::vector<TRpcValue>& params,
                 std::string_view listName, std::string_view flagName, const char* what,
                 size_t maxCodes) {
  const int flag = service::ParamIndex(method, flagName);
  return SelectionParam(flag >= 0 ? params[flag].Text : std::string(),
                        params[service::ParamIndex(method, listName)].Text, listName, what,
                        maxCodes);
}

}  // namespace

TParam SelectionParam(const std::string& flag, const std::string& text, std::string_view listName,
                      const char* what, size_t maxCodes) {
  if (flag == "T") return TParam::FromCodes({});
  TSelectionParse parsed = ParseSelectionList(text, maxCodes);
  if (parsed.TooMany)
    throw ERefusal(fmt::format(
        "A lista de {} selecionadas tem {} códigos; o limite é {}. Restrinja a seleção.", what,
        parsed.Count, maxCodes));
  if (!parsed.Ok)
    throw ERefusal(
        fmt::format("A lista de {} selecionadas está malformada ({}, posição {}: esperava-se {}).",
                    what, listName, parsed.ErrorPosition, parsed.Expected));
  return TParam::FromCodes(std::move(parsed.Codes));
}

void WriteCell(fw::wire::TPacketWriter& packet, fw::TFieldType type, const IRow& row, int column) {
  if (row.IsNull(column)) return packet.Null();
  switch (type) {
    case fw::TFieldType::ftString:
      return packet.String(row.Text(column));
    case fw::TFieldType::ftFloat:
      return packet.Number(row.Number(column));
    case fw::TFieldType::ftDateTime: {
      if (row.IsNumber(column)) return packet.Number(row.Number(column));
      const auto days = IsoTextToDays(row.Text(column));
      if (days) return packet.Number(*days);
      return packet.Null();
    }
  }
}

std::string NormalizeProductCode(std::string_view code) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!code.empty() && blank(code.front())) code.remove_prefix(1);
  while (!code.empty() && blank(code.back())) code.remove_suffix(1);
  std::string normalized;
  normalized.reserve(code.size());
  for (const char c : code)
    if (c != '.') normalized.push_back(c);
  return normalized;
}

TBoundCall BindCall(const service::TMethodDef& method, const std::vector<TRpcValue>& params,
                    size_t maxCodes) {
  TBoundCall call;
  TNamedParams& bound = call.Params;
  bound.reserve(params.size() + 4);
  for (size_t i = 0; i < params.size(); ++i) {
    const service::TParamDef& def = method.Params[i];
    const std::string_view paramName = def.Name;
    if (def.Kind == TParamKind::Date) {
      if (!IsWireDateInRange(params[i].Number))
        throw ERefusal("Data inválida em " + std::string(paramName) +
                       ": fora do intervalo de 01/01/0001 a 31/12/9999.");
      BindDate(paramName, params[i].Number, bound);
    } else if (paramName == "stLFilSoli") {
      bound.emplace_back("lFilSoli",
                         ListParam(method, params, paramName, "stTFilSoli", "filiais", maxCodes));
    } else if (paramName == "stLSolicita") {
      bound.emplace_back("lSolicita", ListParam(method, params, paramName, "stTSolicita",
                                                "solicitações", maxCodes));
    } else if (paramName == "cdProdIni" || paramName == "cdProdFin") {
      bound.emplace_back(std::string(paramName), NormalizeProductCode(params[i].Text));
    } else {
      bound.emplace_back(std::string(paramName), params[i].Text);
    }
  }

  // A criterion restricts when its flag is there and is not exactly "T"; a blank end of the
  // product range leaves that side open.
  auto restricted = [&](std::string_view flag) {
    const int at = service::ParamIndex(method, flag);
    return at >= 0 && params[at].Text != "T";
  };
  auto given = [&](std::string_view name) {
    for (const auto& param : bound)
      if (param.first == name) return !param.second.Text.empty();
    return false;
  };
  TFilterShape& shape = call.Shape;
  shape.RequestDates = restricted("stDtSoli");
  shape.DeliveryDates = restricted("stDtEntr");
  shape.BranchList = restricted("stTFilSoli");
  shape.RequestList = restricted("stTSolicita");
  shape.ProductFrom = restricted("stTCdProd") && given("cdProdIni");
  shape.ProductTo = restricted("stTCdProd") && given("cdProdFin");
  return call;
}

void TTrackingService::Warm(int connections) {
  // Nothing matches: no branch or request is empty, no date is of 1900, no product code is
  // "~" (after every digit).
  TNamedParams none;
  for (const char* day : {"dtSoliIni", "dtEntrIni", "dtProgEntr"})
    none.emplace_back(day, TParam::FromDay(1));
  for (const char* day : {"dtSoliFim", "dtEntrFim", "dtProgEntrFim"})
    none.emplace_back(day, TParam::FromDay(2));
  for (const char* list : {"lFilSoli", "lSolicita"}) none.emplace_back(list, TParam::FromCodes({}));
  for (const char* text :
       {"cdFilial", "cdFilLan", "nrSoliCmp", "nrCompra", "cdDestSoli", "cdProduto", "nrColePreco"})
    none.emplace_back(text, "");
  none.emplace_back("cdProdIni", "~");
  none.emplace_back("cdProdFin", "~");
  none.emplace_back("login", "");
  none.emplace_back("cdOperSoli", "");
  // Each call reads its account's scope first; an account of a list of branches has
  // statements of its own.
  TScopeShape branchList;
  branchList.Branches = true;
  // All held at once, so that the pool opens that many.
  std::vector<std::unique_ptr<TConnectionPool::TLease>> leases;
  for (int i = 0; i < connections; ++i) {
    leases.emplace_back(new TConnectionPool::TLease(pool_.Acquire()));
    IConnection& connection = **leases.back();
    ReadScopeOf(connection, "", options_.QueryTimeLimitMs);
    for (const auto& scope : {TScopeShape{}, branchList})
      for (const TTrackingMethod& method : TrackingMethods()) {
        const int columns = static_cast<int>(method.Contract->Fields.size());
        for (const TFilterShape& shape : method.WarmShapes)
          connection.Query(SqlFor(method.Name, connection.Dialect(), shape, scope), none, columns,
                           options_.QueryTimeLimitMs, [](const IRow&) { return true; });
      }
  }
}

bool TTrackingService::IsQuick(std::string_view method) const {
  const TTrackingMethod* entry = FindTrackingMethod(method);
  return entry != nullptr && entry->Quick;
}

size_t TTrackingService::Invoke(std::string_view methodName, const std::vector<TRpcValue>& params,
                                const TCallContext& context, fw::wire::TWireWriter& out) {
  const TTrackingMethod* served = FindTrackingMethod(methodName);
  const service::TMethodDef* method = served != nullptr ? served->Contract : nullptr;
  if (method == nullptr)
    throw ECallError(fmt::format("Método desconhecido: {}.{}.", service::kServerName,
                                 QuoteClientText(methodName)));
  const std::string name = method->Name;
  if (params.size() != method->Params.size())
    throw ECallError(fmt::format("O método {} espera {} parâmetros; recebeu {}.", name,
                                 method->Params.size(), params.size()));

  for (size_t i = 0; i < params.size(); ++i) {
    const service::TParamDef& def = method->Params[i];
    const TRpcValue& value = params[i];
    const auto where = [&] {
      return fmt::format("Parâmetro {} ({}) de {}", i + 1, def.Name, name);
    };
    if (def.Kind == TParamKind::Date) {
      if (value.Kind != TRpcValue::TKind::Float && value.Kind != TRpcValue::TKind::Integer)
        throw ECallError(where() + ": esperava-se data (número), veio " + KindName(value.Kind) +
                         ".");
      continue;
    }
    if (value.Kind != TRpcValue::TKind::String)
      throw ECallError(where() + ": esperava-se texto, veio " + KindName(value.Kind) + ".");
    if (value.Text.size() > fw::wire::kMaxStringSize && !IsSelectionList(def.Name))
      throw ECallError(where() + " excede o limite de 64 KiB.");
    // Text the database could not hold, which one engine would refuse and another compare:
    // refused alike on every engine.
    if (const char* problem = TextProblem(value.Text)) throw ECallError(where() + ": " + problem);
  }

  TBoundCall call = BindCall(*method, params, options_.MaxSelectionCodes);

  // What the account may read, as it stands now (read_scope.h): a change to it takes effect at
  // this call. The statement of its scope finds only what it may read.
  auto connection = pool_.Acquire();
  const auto& fields = method->Fields;
  const int columns = static_cast<int>(fields.size());
  out.Map(2);
  out.Str("data");
  fw::wire::TPacketWriter packet(out, fields);
  const auto onRow = [&](const IRow& row) {
    packet.BeginRow();
    for (size_t column = 0; column < fields.size(); ++column)
      WriteCell(packet, fields[column].Type, row, static_cast<int>(column));
    if ((packet.Rows() & 1023) == 0 && out.Size() > fw::wire::kMaxMessageSize)
      throw ERefusal("O resultado excede o limite de 64 MiB por mensagem; restrinja o filtro.");
    return true;
  };

  std::optional<TReadScope> last;
  {
    std::lock_guard lock(scopesMutex_);
    if (const auto found = lastScopes_.find(context.Login); found != lastScopes_.end())
      last = found->second;
  }
  TReadScope scope;
  scope.Login = context.Login;
  bool answered = false;
  // The call's own parameters (a list may hold 100,000 codes) are bound to once, not copied.
  const size_t ownParams = call.Params.size();
  if (last && last->Denial() == nullptr) {
    last->Bind(call.Params);
    const TNamedParams scopeParams = ScopeParams(context.Login);
    connection->QueryThen(
        ScopeStatement(scopeParams, scope), [&] { return scope == *last; },
        {SqlFor(methodName, connection->Dialect(), call.Shape, last->Shape()), call.Params, columns,
         onRow},
        options_.QueryTimeLimitMs);
    answered = scope == *last;
  } else {
    scope = ReadScopeOf(*connection, context.Login, options_.QueryTimeLimitMs);
  }
  {
    std::lock_guard lock(scopesMutex_);
    lastScopes_[context.Login] = scope;
  }
  if (!answered) {
    if (const char* denial = scope.Denial()) throw ERefusal(denial);
    call.Params.resize(ownParams);
    scope.Bind(call.Params);
    connection->Query(SqlFor(methodName, connection->Dialect(), call.Shape, scope.Shape()),
                      call.Params, columns, options_.QueryTimeLimitMs, onRow);
  }
  packet.Finish();

  out.Str("refs");
  out.Array(static_cast<uint32_t>(params.size()));
  for (size_t i = 0; i < params.size(); ++i) {
    if (method->Params[i].Kind == TParamKind::InOutString)
      out.Str(params[i].Text);
    else
      out.Nil();
  }
  return packet.Rows();
}

}  // namespace app
