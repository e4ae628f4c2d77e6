#include "service/tracking_call.h"

#include <stdexcept>

namespace service {

namespace {

TCallArg Date(TDate value) {
  return {TParamKind::Date, value, {}, nullptr};
}
TCallArg Str(std::string value) {
  return {TParamKind::String, 0, std::move(value), nullptr};
}
TCallArg Ref(std::string* variable) {
  if (!variable) throw std::invalid_argument("in-out argument without a variable");
  return {TParamKind::InOutString, 0, {}, variable};
}

const TMethodDef& Method(const char* name) {
  const TMethodDef* method = FindMethod(name);
  if (!method) throw std::logic_error(std::string("unknown method ") + name);
  return *method;
}

}  // namespace

void TrackingCall(const TCallContext& context, const TMethodDef& method,
                  const std::function<std::vector<TCallArg>()>& collect) {
  if (context.Caption) {
    fw::ActiveShowAvi(context.Owner, 6,
                      context.Messages ? context.Messages->Msg("GetFili") : std::string());
  } else {
    fw::ActiveShowAvi(context.Owner, 6);
  }
  try {
    std::vector<TCallArg> args = collect ? collect() : std::vector<TCallArg>{};
    if (args.size() != method.Params.size())
      throw std::invalid_argument(std::string("wrong argument count for ") + method.Name);
    std::vector<fw::TRemoteArg> remote;
    remote.reserve(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i].Kind != method.Params[i].Kind)
        throw std::invalid_argument(std::string("wrong argument kind for ") + method.Name + "." +
                                    method.Params[i].Name);
      switch (args[i].Kind) {
        case TParamKind::Date:
          remote.push_back(fw::TRemoteArg::FromDate(args[i].Date));
          break;
        case TParamKind::String:
          remote.push_back(fw::TRemoteArg::FromString(args[i].Text));
          break;
        case TParamKind::InOutString:
          remote.push_back(fw::TRemoteArg::FromInOut(*args[i].InOut));
          break;
      }
    }
    if (!context.Connection) throw fw::ERemoteError("Tela sem conexão com o servidor.");
    fw::TRemoteResult result = context.Connection->AppServer().Invoke(method.Name, remote);
    // What the service left in an in-out argument stays in its filter variable.
    for (size_t i = 0; i < args.size(); ++i)
      if (args[i].InOut) *args[i].InOut = remote[i].Text;
    fw::TDataPacket packet = fw::CheckResultServ(std::move(result), true, 0);
    if (context.Target) context.Target->SetData(std::move(packet));
  } catch (...) {
    fw::DeactiveShowAvi();
    throw;
  }
  fw::DeactiveShowAvi();
}

void GetFilSoli(const TCallContext& context) {
  TrackingCall(context, Method("GetFilSoli"), [] { return std::vector<TCallArg>{}; });
}

void GetNrSolicita(const TCallContext& context,
                   const std::function<TGetNrSolicitaArgs()>& collect) {
  TrackingCall(context, Method("GetNrSolicita"), [&] {
    const TGetNrSolicitaArgs a = collect();
    return std::vector<TCallArg>{Date(a.dtSoliIni), Date(a.dtSoliFin), Ref(a.stDtSoli),
                                 Date(a.dtEntrIni), Date(a.dtEntrFin), Ref(a.stDtEntr),
                                 Ref(a.stLFilSoli), Ref(a.stTFilSoli)};
  });
}

void GetFilSoliGD(const TCallContext& context, const std::function<TGetFilSoliGDArgs()>& collect) {
  TrackingCall(context, Method("GetFilSoliGD"), [&] {
    const TGetFilSoliGDArgs a = collect();
    return std::vector<TCallArg>{Date(a.dtSoliIni),  Date(a.dtSoliFin), Ref(a.stDtSoli),
                                 Date(a.dtEntrIni),  Date(a.dtEntrFin), Ref(a.stDtEntr),
                                 Ref(a.stLFilSoli),  Ref(a.stTFilSoli), Ref(a.stLSolicita),
                                 Ref(a.stTSolicita), Str(a.cdProdIni),  Str(a.cdProdFin),
                                 Ref(a.stTCdProd)};
  });
}

void GetItens(const TCallContext& context, const std::function<TGetItensArgs()>& collect) {
  TrackingCall(context, Method("GetItens"), [&] {
    const TGetItensArgs a = collect();
    return std::vector<TCallArg>{Date(a.dtSoliIni), Date(a.dtSoliFin),  Ref(a.stDtSoli),
                                 Date(a.dtEntrIni), Date(a.dtEntrFin),  Ref(a.stDtEntr),
                                 Str(a.cdFilial),   Ref(a.stLSolicita), Ref(a.stTSolicita),
                                 Str(a.cdProdIni),  Str(a.cdProdFin),   Ref(a.stTCdProd)};
  });
}

void GetDestSolGere(const TCallContext& context,
                    const std::function<TGetDestSolGereArgs()>& collect) {
  TrackingCall(context, Method("GetDestSolGere"), [&] {
    const TGetDestSolGereArgs a = collect();
    return std::vector<TCallArg>{Str(a.nrSoliCmp), Str(a.cdFilial), Str(a.cdFilLan),
                                 Str(a.cdDestSoli)};
  });
}

void GetItemProduto(const TCallContext& context,
                    const std::function<TGetItemProdutoArgs()>& collect) {
  TrackingCall(context, Method("GetItemProduto"), [&] {
    const TGetItemProdutoArgs a = collect();
    return std::vector<TCallArg>{Str(a.cdFilial),   Str(a.nrSoliCmp),  Str(a.cdProdIni),
                                 Str(a.cdProdFin),  Ref(a.stTCdProd),  Ref(a.stDtSoli),
                                 Date(a.dtSoliIni), Date(a.dtSoliFin), Date(a.dtProgEntr),
                                 Str(a.cdFilLan),   Str(a.nrCompra)};
  });
}

void GetItemCota(const TCallContext& context, const std::function<TGetItemCotaArgs()>& collect) {
  TrackingCall(context, Method("GetItemCota"), [&] {
    const TGetItemCotaArgs a = collect();
    return std::vector<TCallArg>{Str(a.cdFilial), Str(a.cdProduto), Str(a.nrColePreco)};
  });
}

}  // namespace service
