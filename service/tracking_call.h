// The standard sequence of one remote call of the tracking service, and the seven methods with
// their parameter lists in contract order.
//
// TrackingCall, in order: show the busy indicator (with the owning screen's "GetFili" caption, or
// none); collect the arguments from the screen (read now, never cached); invoke the method on the
// connection's server object; copy the in-out strings back into the filter variables; check the
// result (CheckResultServ(result, true, 0)); load the packet into the receiving data set; hide the
// indicator. On a failure at any step the indicator is hidden and the same failure goes on to the
// caller; the receiving data set keeps what it held.
//
// Each method takes a collector returning its argument struct, so a screen cannot pass a wrong
// count or kind of argument; in-out strings are pointers to the filter variables themselves.
#pragma once

#include <functional>
#include <string>

#include "framework/data/dataset.h"
#include "framework/host/net_connection.h"
#include "framework/host/services.h"
#include "protocol/contract.h"

namespace service {

using TDate = double;  // days since 30/12/1899

struct TCallContext {
  fw::TForm* Owner = nullptr;               // the screen that owns the busy indicator
  const fw::TMessages* Messages = nullptr;  // its message list (the caption's source)
  fw::TNetConnection* Connection = nullptr;
  fw::TClientDataSet* Target = nullptr;  // receives the packet
  bool Caption = true;                   // show the "GetFili" caption
};

// One argument as collected: its kind must match the contract's parameter.
struct TCallArg {
  TParamKind Kind;
  TDate Date = 0;
  std::string Text;
  std::string* InOut = nullptr;
};

// The generic sequence; `collect` returns the arguments in contract order. Raises
// std::invalid_argument when they do not match the method's parameter list.
void TrackingCall(const TCallContext& context, const TMethodDef& method,
                  const std::function<std::vector<TCallArg>()>& collect);

struct TGetNrSolicitaArgs {
  TDate dtSoliIni = 0, dtSoliFin = 0;
  std::string* stDtSoli = nullptr;
  TDate dtEntrIni = 0, dtEntrFin = 0;
  std::string* stDtEntr = nullptr;
  std::string* stLFilSoli = nullptr;
  std::string* stTFilSoli = nullptr;
};

struct TGetFilSoliGDArgs {
  TDate dtSoliIni = 0, dtSoliFin = 0;
  std::string* stDtSoli = nullptr;
  TDate dtEntrIni = 0, dtEntrFin = 0;
  std::string* stDtEntr = nullptr;
  std::string* stLFilSoli = nullptr;
  std::string* stTFilSoli = nullptr;
  std::string* stLSolicita = nullptr;
  std::string* stTSolicita = nullptr;
  std::string cdProdIni, cdProdFin;
  std::string* stTCdProd = nullptr;
};

struct TGetItensArgs {
  TDate dtSoliIni = 0, dtSoliFin = 0;
  std::string* stDtSoli = nullptr;
  TDate dtEntrIni = 0, dtEntrFin = 0;
  std::string* stDtEntr = nullptr;
  std::string cdFilial;
  std::string* stLSolicita = nullptr;
  std::string* stTSolicita = nullptr;
  std::string cdProdIni, cdProdFin;
  std::string* stTCdProd = nullptr;
};

struct TGetDestSolGereArgs {
  std::string nrSoliCmp, cdFilial, cdFilLan, cdDestSoli;
};

struct TGetItemProdutoArgs {
  std::string cdFilial, nrSoliCmp, cdProdIni, cdProdFin;
  std::string* stTCdProd = nullptr;
  std::string* stDtSoli = nullptr;
  TDate dtSoliIni = 0, dtSoliFin = 0, dtProgEntr = 0;
  std::string cdFilLan, nrCompra;
};

struct TGetItemCotaArgs {
  std::string cdFilial, cdProduto, nrColePreco;
};

void GetFilSoli(const TCallContext& context);
void GetNrSolicita(const TCallContext& context, const std::function<TGetNrSolicitaArgs()>& collect);
void GetFilSoliGD(const TCallContext& context, const std::function<TGetFilSoliGDArgs()>& collect);
void GetItens(const TCallContext& context, const std::function<TGetItensArgs()>& collect);
void GetDestSolGere(const TCallContext& context,
                    const std::function<TGetDestSolGereArgs()>& collect);
void GetItemProduto(const TCallContext& context,
                    const std::function<TGetItemProdutoArgs()>& collect);
void GetItemCota(const TCallContext& context, const std::function<TGetItemCotaArgs()>& collect);

}  // namespace service
