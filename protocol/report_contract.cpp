#include "protocol/report_contract.h"

namespace service {

namespace {

using fw::TFieldType;

fw::TPacketField Str(const char* name, int size) {
  return {name, TFieldType::ftString, size};
}
fw::TPacketField Date(const char* name) {
  return {name, TFieldType::ftDateTime, 0};
}
fw::TPacketField Num(const char* name) {
  return {name, TFieldType::ftFloat, 0};
}

}  // namespace

const TMethodDef& ReportMethod() {
  static const TMethodDef method{
      kReportMethodName,
      {{"dtSoliIni", TParamKind::Date},
       {"dtSoliFin", TParamKind::Date},
       {"stTFilSoli", TParamKind::String},
       {"stLFilSoli", TParamKind::String},
       {"stTStatus", TParamKind::String},
       {"stLStatus", TParamKind::String}},
      {Str("CDFILIAL", 4),  Str("NMFILIAL", 30),   Str("NRSOLICMP", 10),  Str("CDFILLAN", 4),
       Num("NRITEMSOLI"),   Str("CDARVPROD", 20),  Str("NMPRODUTO", 50),  Num("QTSOLIPROD"),
       Str("STATUS", 1),    Str("NMOPERADOR", 40), Date("DTHRLANCSOL"),   Str("IDAPROVNIV1", 1),
       Date("DTAPROVNIV1"), Str("IDAPROVNIV2", 1), Date("DTAPROVNIV2"),   Str("IDAPROVNIV3", 1),
       Date("DTAPROVNIV3"), Date("DTCONCOLEPREC"), Str("NRAUTOFORN", 10), Date("DTAUTOFORN"),
       Date("DTPROGENTAF"), Str("NRNOTAFISC", 20), Date("DTEMISSAO"),     Date("DTENTRSAID"),
       Date("DTAPROVACAO")},
      "cdsRelAcomp"};
  return method;
}

}  // namespace service
