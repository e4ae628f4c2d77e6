#include "app_server/tracking_service.h"

#include "app_server/iso_date.h"
#include "app_server/queries.h"
#include "app_server/selection.h"
#include "service/contract.h"

namespace app {

namespace {

using service::TParamKind;

bool IsSelectionList(std::string_view name) {
  return name == "stLFilSoli" || name == "stLSolicita";
}

// The ISO text of each date parameter, as its statement compares it.
void BindDate(std::string_view name, double days, TNamedParams& bound) {
  if (name == "dtSoliIni" || name == "dtEntrIni") {
    bound.emplace_back(std::string(name), DayStartText(days));
  } else if (name == "dtSoliFin") {
    bound.emplace_back("dtSoliFim", DayStartText(days, 1));
  } else if (name == "dtEntrFin") {
    bound.emplace_back("dtEntrFim", DayStartText(days, 1));
  } else if (name == "dtProgEntr") {
    bound.emplace_back("dtProgEntr", DayStartText(days));
    bound.emplace_back("dtProgEntrFim", DayStartText(days, 1));
  }
}

std::string ListAsJson(const service::TMethodDef& method, const std::vector<TRpcValue>& params,
                       std::string_view listName, std::string_view flagName, const char* what,
                       size_t maxCodes) {
  const int flag = service::ParamIndex(method, flagName);
  if (flag >= 0 && params[flag].Text == "T") return "[]";
  const std::string& text = params[service::ParamIndex(method, listName)].Text;
  TSelectionJson parsed = SelectionListToJson(text, maxCodes);
  if (parsed.TooMany)
    throw ERefusal(std::string("A lista de ") + what + " selecionadas tem " +
                   std::to_string(parsed.Codes) + " códigos; o limite é " +
                   std::to_string(maxCodes) + ". Restrinja a seleção.");
  if (!parsed.Ok)
    throw ERefusal(std::string("A lista de ") + what + " selecionadas está malformada (" +
                   std::string(listName) + ", posição " + std::to_string(parsed.ErrorPosition) +
                   ": esperava-se " + parsed.Expected + ").");
  return std::move(parsed.Json);
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

}  // namespace

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

bool TTrackingService::IsQuick(std::string_view method) const {
  return method == "GetFilSoli" || method == "GetDestSolGere" || method == "GetItemProduto" ||
         method == "GetItemCota";
}

size_t TTrackingService::Invoke(std::string_view methodName, const std::vector<TRpcValue>& params,
                                fw::wire::TWireWriter& out) {
  const service::TMethodDef* method = service::FindMethod(methodName);
  const char* sql = SqlFor(methodName);
  if (method == nullptr || sql == nullptr)
    throw ECallError("Método desconhecido: " + std::string(service::kServerName) + "." +
                     QuoteClientText(methodName) + ".");
  const std::string name = method->Name;
  if (params.size() != method->Params.size())
    throw ECallError("O método " + name + " espera " + std::to_string(method->Params.size()) +
                     " parâmetros; recebeu " + std::to_string(params.size()) + ".");

  for (size_t i = 0; i < params.size(); ++i) {
    const service::TParamDef& def = method->Params[i];
    const TRpcValue& value = params[i];
    const auto where = [&] {
      return "Parâmetro " + std::to_string(i + 1) + " (" + def.Name + ") de " + name;
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
  }

  TNamedParams bound;
  bound.reserve(params.size() + 4);
  for (size_t i = 0; i < params.size(); ++i) {
    const service::TParamDef& def = method->Params[i];
    const std::string_view paramName = def.Name;
    if (def.Kind == TParamKind::Date) {
      if (!IsWireDateInRange(params[i].Number))
        throw ERefusal("Data inválida em " + std::string(paramName) +
                       ": fora do intervalo de 01/01/0001 a 31/12/9999.");
      BindDate(paramName, params[i].Number, bound);
    } else if (paramName == "stLFilSoli") {
      bound.emplace_back("lFilSoli", ListAsJson(*method, params, paramName, "stTFilSoli", "filiais",
                                                options_.MaxSelectionCodes));
    } else if (paramName == "stLSolicita") {
      bound.emplace_back("lSolicita", ListAsJson(*method, params, paramName, "stTSolicita",
                                                 "solicitações", options_.MaxSelectionCodes));
    } else if (paramName == "cdProdIni" || paramName == "cdProdFin") {
      bound.emplace_back(std::string(paramName), NormalizeProductCode(params[i].Text));
    } else {
      bound.emplace_back(std::string(paramName), params[i].Text);
    }
  }

  const auto& fields = method->Fields;
  out.Map(2);
  out.Str("data");
  fw::wire::TPacketWriter packet(out, fields);
  {
    auto connection = pool_.Acquire();
    connection->Query(sql, bound, static_cast<int>(fields.size()), options_.QueryTimeLimitMs,
                      [&](const IRow& row) {
                        packet.BeginRow();
                        for (size_t column = 0; column < fields.size(); ++column)
                          WriteCell(packet, fields[column].Type, row, static_cast<int>(column));
                        if ((packet.Rows() & 1023) == 0 && out.Size() > fw::wire::kMaxMessageSize)
                          throw ERefusal(
                              "O resultado excede o limite de 64 MiB por mensagem; restrinja o "
                              "filtro.");
                        return true;
                      });
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
