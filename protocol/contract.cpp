#include "protocol/contract.h"

namespace service {

namespace {

using fw::TFieldType;
constexpr TParamKind D = TParamKind::Date;
constexpr TParamKind S = TParamKind::String;
constexpr TParamKind R = TParamKind::InOutString;

fw::TPacketField Str(const char* name, int size) {
  return {name, TFieldType::ftString, size};
}
fw::TPacketField Date(const char* name) {
  return {name, TFieldType::ftDateTime, 0};
}
fw::TPacketField Num(const char* name) {
  return {name, TFieldType::ftFloat, 0};
}

std::vector<TMethodDef> BuildMethods() {
  return {
      {"GetFilSoli",
       {},
       {Str("IDMARCADO", 1), Str("CDFILSOLI", 4), Str("NMFILIAL", 30)},
       "cdsFilSoli"},
      {"GetNrSolicita",
       {{"dtSoliIni", D},
        {"dtSoliFin", D},
        {"stDtSoli", R},
        {"dtEntrIni", D},
        {"dtEntrFin", D},
        {"stDtEntr", R},
        {"stLFilSoli", R},
        {"stTFilSoli", R}},
       {Str("IDMARCADO", 1), Str("NRSOLICMP", 10)},
       "cdsSolicita"},
      {"GetFilSoliGD",
       {{"dtSoliIni", D},
        {"dtSoliFin", D},
        {"stDtSoli", R},
        {"dtEntrIni", D},
        {"dtEntrFin", D},
        {"stDtEntr", R},
        {"stLFilSoli", R},
        {"stTFilSoli", R},
        {"stLSolicita", R},
        {"stTSolicita", R},
        {"cdProdIni", S},
        {"cdProdFin", S},
        {"stTCdProd", R}},
       {Str("CDFILIAL", 4), Str("NMFILIAL", 30)},
       "cdsFilSoliGrid"},
      {"GetItens",
       {{"dtSoliIni", D},
        {"dtSoliFin", D},
        {"stDtSoli", R},
        {"dtEntrIni", D},
        {"dtEntrFin", D},
        {"stDtEntr", R},
        {"cdFilial", S},
        {"stLSolicita", R},
        {"stTSolicita", R},
        {"cdProdIni", S},
        {"cdProdFin", S},
        {"stTCdProd", R}},
       {Str("STATUS", 1),       Str("CDFILLAN", 4),  Str("NRSOLICMP", 10),  Str("CDOPERLANC", 12),
        Str("NMDESTSOLI", 30),  Str("NRCOMPRA", 10), Date("DTCONCOLEPREC"), Date("DTPROGENTR"),
        Str("NMOPERADOR", 40),  Date("DTHRLANCSOL"), Num("QTSOLIPROD"),     Num("QTEFETENTRAF"),
        Str("NRAUTOFORN", 10),  Date("DTAUTOFORN"),  Str("CDOPERAPRO", 12), Str("CDDESTSOLI", 3),
        Str("NRCOLEPRECO", 10), Str("CDFILIAL", 4),  Date("DTEMISSAO"),     Date("DTPROGENTAF")},
       "cdsItensGrid"},
      {"GetDestSolGere",
       {{"nrSoliCmp", S}, {"cdFilial", S}, {"cdFilLan", S}, {"cdDestSoli", S}},
       {Str("IDAPROVPRGER", 1), Str("NMOPERADOR", 40), Str("CDDESTSOLI", 3),
        Date("DTAPRSOLPRODGER")},
       "cdsDestSolGere"},
      {"GetItemProduto",
       {{"cdFilial", S},
        {"nrSoliCmp", S},
        {"cdProdIni", S},
        {"cdProdFin", S},
        {"stTCdProd", R},
        {"stDtSoli", R},
        {"dtSoliIni", D},
        {"dtSoliFin", D},
        {"dtProgEntr", D},
        {"cdFilLan", S},
        {"nrCompra", S}},
       {Str("CDARVPROD", 20), Str("CDPRODUTO", 10), Str("NMPRODUTO", 50), Str("SGUNIDADE", 10),
        Num("QTSOLIPROD"), Num("VRCMPANTERIOR"), Str("NMRAZSOCFORN", 40), Num("VRTOTALAF"),
        Str("NRNOTAFISC", 20), Date("DTEMISSAO"), Str("CDTIPOOPER", 2), Num("VRNOTAFISC"),
        Date("DTAPROVACAO"), Str("NMOPERADOR", 40), Str("CDMARCA", 5), Str("CDFILLANC", 4),
        Date("DTENTRSAID")},
       "cdsProduto"},
      {"GetItemCota",
       {{"cdFilial", S}, {"cdProduto", S}, {"nrColePreco", S}},
       {Str("NRCOLEPRECO", 10), Str("IDSITUCOLETA", 1), Str("NMOPERADOR", 40),
        Str("NMRAZSOCFORN", 40), Num("VRPRECUNIITM")},
       "cdsCotacao"},
  };
}

}  // namespace

const std::vector<TMethodDef>& Methods() {
  static const std::vector<TMethodDef> methods = BuildMethods();
  return methods;
}

const TMethodDef* FindMethod(std::string_view name) {
  for (const auto& method : Methods())
    if (name == method.Name) return &method;
  return nullptr;
}

int ParamIndex(const TMethodDef& method, std::string_view param) {
  for (size_t i = 0; i < method.Params.size(); ++i)
    if (param == method.Params[i].Name) return static_cast<int>(i);
  return -1;
}

fw::TDataPacket EmptyPacket(const TMethodDef& method) {
  return fw::TDataPacket(method.Fields);
}

}  // namespace service
