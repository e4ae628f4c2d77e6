#include "app_server/report/report_service.h"

#include <array>
#include <string>

#include "app_server/auth/read_scope.h"
#include "app_server/db/iso_date.h"
#include "app_server/db/selection.h"
#include "app_server/tracking/tracking_service.h"
#include "protocol/report_contract.h"

namespace app {

namespace {

// Each approval level is joined by its key (the item's destination and the level), so that a
// level a destination lacks reads null, and a pending one "P" without a date.
constexpr const char* kReportSqlite =
    R"SQL(SELECT S.CDFILIAL, F.NMFILIAL, S.NRSOLICMP, S.CDFILLAN, I.NRITEMSOLI, P.CDARVPROD,
       P.NMPRODUTO, I.QTSOLIPROD, I.STATUS, O.NMOPERADOR, S.DTHRLANCSOL,
       G1.IDAPROVPRGER, G1.DTAPRSOLPRODGER, G2.IDAPROVPRGER, G2.DTAPRSOLPRODGER,
       G3.IDAPROVPRGER, G3.DTAPRSOLPRODGER, C.DTCONCOLEPREC, AI.NRAUTOFORN, A.DTAUTOFORN,
       A.DTPROGENTAF, N.NRNOTAFISC, N.DTEMISSAO, N.DTENTRSAID, N.DTAPROVACAO
  FROM SOLICITACAO S
  JOIN FILIAL F ON F.CDFILIAL = S.CDFILIAL
  JOIN ITEMSOLICITACAO I ON I.CDFILLAN = S.CDFILLAN AND I.NRSOLICMP = S.NRSOLICMP
  JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO
  LEFT JOIN OPERADOR O ON O.CDOPERADOR = S.CDOPERSOLI
  LEFT JOIN APROVACAOGERENTE G1 ON G1.CDFILLAN = I.CDFILLAN AND G1.NRSOLICMP = I.NRSOLICMP
                               AND G1.CDDESTSOLI = I.CDDESTSOLI AND G1.NRNIVEL = 1
  LEFT JOIN APROVACAOGERENTE G2 ON G2.CDFILLAN = I.CDFILLAN AND G2.NRSOLICMP = I.NRSOLICMP
                               AND G2.CDDESTSOLI = I.CDDESTSOLI AND G2.NRNIVEL = 2
  LEFT JOIN APROVACAOGERENTE G3 ON G3.CDFILLAN = I.CDFILLAN AND G3.NRSOLICMP = I.NRSOLICMP
                               AND G3.CDDESTSOLI = I.CDDESTSOLI AND G3.NRNIVEL = 3
  LEFT JOIN COLETAPRECO C ON C.CDFILIAL = I.CDFILIAL AND C.NRCOLEPRECO = I.NRCOLEPRECO
  LEFT JOIN ITEMAUTOFORN AI ON AI.CDFILLAN = I.CDFILLAN AND AI.NRSOLICMP = I.NRSOLICMP
                           AND AI.NRITEMSOLI = I.NRITEMSOLI
  LEFT JOIN AUTORIZACAOFORN A ON A.CDFILIAL = AI.CDFILIAL AND A.NRAUTOFORN = AI.NRAUTOFORN
  LEFT JOIN NOTAFISCAL N ON N.CDFILIAL = A.CDFILIAL AND N.NRAUTOFORN = A.NRAUTOFORN
 WHERE S.DTHRLANCSOL >= :dtSoliIni AND S.DTHRLANCSOL < :dtSoliFim
   AND (:stTFilSoli = 'T' OR S.CDFILIAL IN (SELECT value FROM json_each(:lFilSoli)))
   AND (:stTStatus = 'T' OR I.STATUS IN (SELECT value FROM json_each(:lStatus)))
 ORDER BY S.CDFILIAL, S.NRSOLICMP, S.CDFILLAN, I.NRITEMSOLI)SQL";

constexpr const char* kReportPostgres =
    R"SQL(SELECT S.CDFILIAL, F.NMFILIAL, S.NRSOLICMP, S.CDFILLAN, I.NRITEMSOLI, P.CDARVPROD,
       P.NMPRODUTO, I.QTSOLIPROD, I.STATUS, O.NMOPERADOR, S.DTHRLANCSOL,
       G1.IDAPROVPRGER, G1.DTAPRSOLPRODGER, G2.IDAPROVPRGER, G2.DTAPRSOLPRODGER,
       G3.IDAPROVPRGER, G3.DTAPRSOLPRODGER, C.DTCONCOLEPREC, AI.NRAUTOFORN, A.DTAUTOFORN,
       A.DTPROGENTAF, N.NRNOTAFISC, N.DTEMISSAO, N.DTENTRSAID, N.DTAPROVACAO
  FROM SOLICITACAO S
  JOIN FILIAL F ON F.CDFILIAL = S.CDFILIAL
  JOIN ITEMSOLICITACAO I ON I.CDFILLAN = S.CDFILLAN AND I.NRSOLICMP = S.NRSOLICMP
  JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO
  LEFT JOIN OPERADOR O ON O.CDOPERADOR = S.CDOPERSOLI
  LEFT JOIN APROVACAOGERENTE G1 ON G1.CDFILLAN = I.CDFILLAN AND G1.NRSOLICMP = I.NRSOLICMP
                               AND G1.CDDESTSOLI = I.CDDESTSOLI AND G1.NRNIVEL = 1
  LEFT JOIN APROVACAOGERENTE G2 ON G2.CDFILLAN = I.CDFILLAN AND G2.NRSOLICMP = I.NRSOLICMP
                               AND G2.CDDESTSOLI = I.CDDESTSOLI AND G2.NRNIVEL = 2
  LEFT JOIN APROVACAOGERENTE G3 ON G3.CDFILLAN = I.CDFILLAN AND G3.NRSOLICMP = I.NRSOLICMP
                               AND G3.CDDESTSOLI = I.CDDESTSOLI AND G3.NRNIVEL = 3
  LEFT JOIN COLETAPRECO C ON C.CDFILIAL = I.CDFILIAL AND C.NRCOLEPRECO = I.NRCOLEPRECO
  LEFT JOIN ITEMAUTOFORN AI ON AI.CDFILLAN = I.CDFILLAN AND AI.NRSOLICMP = I.NRSOLICMP
                           AND AI.NRITEMSOLI = I.NRITEMSOLI
  LEFT JOIN AUTORIZACAOFORN A ON A.CDFILIAL = AI.CDFILIAL AND A.NRAUTOFORN = AI.NRAUTOFORN
  LEFT JOIN NOTAFISCAL N ON N.CDFILIAL = A.CDFILIAL AND N.NRAUTOFORN = A.NRAUTOFORN
 WHERE S.DTHRLANCSOL >= :dtSoliIni AND S.DTHRLANCSOL < :dtSoliFim
   AND (:stTFilSoli = 'T' OR S.CDFILIAL = ANY (:lFilSoli))
   AND (:stTStatus = 'T' OR I.STATUS = ANY (:lStatus))
 ORDER BY S.CDFILIAL, S.NRSOLICMP, S.CDFILLAN, I.NRITEMSOLI)SQL";

bool IsList(std::string_view name) {
  return name == "stLFilSoli" || name == "stLStatus";
}

// The statement with the read scope's conditions on the request (queries.h, TScopeShape), before
// its ORDER BY.
std::string Scoped(const char* statement, const TScopeShape& scope) {
  std::string sql = statement;
  std::string conditions;
  if (scope.Branches)
    conditions +=
        "\n   AND S.CDFILIAL IN (SELECT G.CDFILIAL FROM USUARIOFILIAL G WHERE G.LOGIN = :login)";
  if (scope.OwnRequests) conditions += "\n   AND S.CDOPERSOLI = :cdOperSoli";
  sql.insert(sql.rfind("\n ORDER BY"), conditions);
  return sql;
}

}  // namespace

const char* ReportSql(TDialect dialect, const TScopeShape& scope) {
  // [dialect][branches][own requests], made once.
  static const auto statements = [] {
    std::array<std::string, 8> made;
    for (int i = 0; i < 8; ++i) {
      TScopeShape shape;
      shape.Branches = (i & 2) != 0;
      shape.OwnRequests = (i & 1) != 0;
      made[static_cast<size_t>(i)] = Scoped(i < 4 ? kReportSqlite : kReportPostgres, shape);
    }
    return made;
  }();
  const int index = (dialect == TDialect::Sqlite ? 0 : 4) + (scope.Branches ? 2 : 0) +
                    (scope.OwnRequests ? 1 : 0);
  return statements[static_cast<size_t>(index)].c_str();
}

namespace {

// Every method of the report object, named once: its contract (parameters and fields), its
// statement, and how it is run. A report is a search over a date range, never a look-up by key,
// and reads much: it is long (IServiceObject::IsLong). Nothing of it is warmed.
struct TReportMethodEntry {
  const char* Method;
  const service::TMethodDef& (*Contract)();
  const char* (*Sql)(TDialect, const TScopeShape&);
  bool Quick;
  bool Long;
};

const TReportMethodEntry kReportMethods[] = {
    {service::kReportMethodName, service::ReportMethod, ReportSql, false, true},
};

const TReportMethodEntry* FindReportMethod(std::string_view name) {
  for (const auto& entry : kReportMethods)
    if (name == entry.Method) return &entry;
  return nullptr;
}

}  // namespace

bool TReportService::IsQuick(std::string_view method) const {
  const TReportMethodEntry* entry = FindReportMethod(method);
  return entry != nullptr && entry->Quick;
}

// An unknown name is answered with an error at once; it is scheduled as the report would be.
bool TReportService::IsLong(std::string_view method) const {
  const TReportMethodEntry* entry = FindReportMethod(method);
  return entry == nullptr || entry->Long;
}

size_t TReportService::Invoke(std::string_view methodName, const std::vector<TRpcValue>& params,
                              const TCallContext& context, fw::wire::TWireWriter& out) {
  const TReportMethodEntry* entry = FindReportMethod(methodName);
  if (entry == nullptr)
    throw ECallError("Método desconhecido: " + std::string(service::kReportServerName) + "." +
                     QuoteClientText(methodName) + ".");
  const service::TMethodDef& method = entry->Contract();
  const std::string name = method.Name;
  if (params.size() != method.Params.size())
    throw ECallError("O método " + name + " espera " + std::to_string(method.Params.size()) +
                     " parâmetros; recebeu " + std::to_string(params.size()) + ".");
  for (size_t i = 0; i < params.size(); ++i) {
    const service::TParamDef& def = method.Params[i];
    const TRpcValue& value = params[i];
    const auto where = [&] {
      return "Parâmetro " + std::to_string(i + 1) + " (" + def.Name + ") de " + name;
    };
    if (def.Kind == service::TParamKind::Date) {
      if (value.Kind != TRpcValue::TKind::Float && value.Kind != TRpcValue::TKind::Integer)
        throw ECallError(where() + ": esperava-se data (número), veio " + KindName(value.Kind) +
                         ".");
      continue;
    }
    if (value.Kind != TRpcValue::TKind::String)
      throw ECallError(where() + ": esperava-se texto, veio " + KindName(value.Kind) + ".");
    if (value.Text.size() > fw::wire::kMaxStringSize && !IsList(def.Name))
      throw ECallError(where() + " excede o limite de 64 KiB.");
    if (const char* problem = TextProblem(value.Text)) throw ECallError(where() + ": " + problem);
  }
  for (const int date : {0, 1})
    if (!IsWireDateInRange(params[date].Number))
      throw ERefusal("Data inválida em " + std::string(method.Params[date].Name) +
                     ": fora do intervalo de 01/01/0001 a 31/12/9999.");

  // A range covers whole days: from the start of the first day to the start of the day after
  // the last.
  TNamedParams bound;
  bound.emplace_back("dtSoliIni", TParam::FromDay(WireDay(params[0].Number)));
  bound.emplace_back("dtSoliFim", TParam::FromDay(WireDay(params[1].Number) + 1));
  bound.emplace_back("stTFilSoli", params[2].Text);
  bound.emplace_back("lFilSoli", SelectionParam(params[2].Text, params[3].Text, "stLFilSoli",
                                                "filiais", options_.MaxSelectionCodes));
  bound.emplace_back("stTStatus", params[4].Text);
  bound.emplace_back("lStatus", SelectionParam(params[4].Text, params[5].Text, "stLStatus",
                                               "situações", options_.MaxSelectionCodes));

  // Only the items the account may read, and so only those in the totals (read_scope.h).
  auto connection = pool_.Acquire();
  const TReadScope scope = ReadScopeOf(*connection, context.Login, options_.QueryTimeLimitMs);
  if (const char* denial = scope.Denial()) throw ERefusal(denial);
  scope.Bind(bound);

  const auto& fields = method.Fields;
  out.Map(2);
  out.Str("data");
  fw::wire::TPacketWriter packet(out, fields);
  {
    connection->Query(entry->Sql(connection->Dialect(), scope.Shape()), bound,
                      static_cast<int>(fields.size()), options_.QueryTimeLimitMs,
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
  for (size_t i = 0; i < params.size(); ++i) out.Nil();
  return packet.Rows();
}

}  // namespace app
