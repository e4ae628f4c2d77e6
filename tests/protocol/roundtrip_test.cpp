// Each message written by one end and read by the other, in one process: the client's request
// through the server's decoder, and the server's envelopes through the client's reply reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/account.h"
#include "protocol/contract.h"
#include "protocol/request.h"
#include "protocol/text.h"
#include "protocol/wire.h"

namespace {

using fw::TRemoteArg;
using TStatus = app::TRequestDecoder::TStatus;

// Feeds `bytes` to a decoder in pieces of `step` bytes and collects what it yields.
std::vector<app::TRequestDecoder::TNext> Decode(const std::string& bytes, size_t step) {
  app::TRequestDecoder decoder;
  std::vector<app::TRequestDecoder::TNext> out;
  for (size_t at = 0; at < bytes.size(); at += step) {
    const size_t count = std::min(step, bytes.size() - at);
    char* room = decoder.Room(count);
    std::memcpy(room, bytes.data() + at, count);
    decoder.Received(count);
    for (auto next = decoder.Next(); next.Status != TStatus::NeedMore; next = decoder.Next())
      out.push_back(std::move(next));
  }
  return out;
}

std::string Request(uint32_t msgid, std::string_view method, const std::vector<TRemoteArg>& args) {
  std::string bytes;
  fw::wire::TWireWriter writer(bytes);
  fw::wire::EncodeRequest(writer, msgid, method, args);
  return bytes;
}

TEST(ProtocolRoundTrip, Request_ReachesTheServerAsTheClientWroteIt) {
  const std::vector<TRemoteArg> args = {
      TRemoteArg::FromDate(45356.5), TRemoteArg::FromString("Filial São Paulo"),
      TRemoteArg::FromInOut(""), TRemoteArg::FromDate(-1.25), TRemoteArg::FromString("")};
  const std::string bytes = Request(4294967295u, "CMP09500.rdmAcompSoli.GetItens", args);
  for (size_t step : {bytes.size(), size_t{1}, size_t{7}}) {
    SCOPED_TRACE(step);
    const auto got = Decode(bytes, step);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].Status, TStatus::Call) << got[0].Message;
    const app::TRpcRequest& request = got[0].Request;
    EXPECT_EQ(request.MsgId, 4294967295u);
    EXPECT_EQ(request.Method, "CMP09500.rdmAcompSoli.GetItens");
    ASSERT_EQ(request.Params.size(), args.size());
    for (size_t i = 0; i < args.size(); ++i) {
      SCOPED_TRACE(i);
      if (args[i].Kind == TRemoteArg::TKind::Date) {
        EXPECT_EQ(request.Params[i].Kind, app::TRpcValue::TKind::Float);
        EXPECT_EQ(request.Params[i].Number, args[i].Date);
      } else {
        EXPECT_EQ(request.Params[i].Kind, app::TRpcValue::TKind::String);
        EXPECT_EQ(request.Params[i].Text, args[i].Text);
      }
    }
  }
}

TEST(ProtocolRoundTrip, RequestsBackToBack_AreReadOneByOneInOrder) {
  std::string bytes;
  for (uint32_t id = 1; id <= 3; ++id)
    bytes += Request(id, "CMP09500.rdmAcompSoli.GetFilSoliGD",
                     {TRemoteArg::FromString(std::to_string(id))});
  const auto got = Decode(bytes, 5);
  ASSERT_EQ(got.size(), 3u);
  for (uint32_t id = 1; id <= 3; ++id) {
    ASSERT_EQ(got[id - 1].Status, TStatus::Call);
    EXPECT_EQ(got[id - 1].Request.MsgId, id);
    ASSERT_EQ(got[id - 1].Request.Params.size(), 1u);
    EXPECT_EQ(got[id - 1].Request.Params[0].Text, std::to_string(id));
  }
}

TEST(ProtocolRoundTrip, EveryContractMethod_ArrivesWithItsParameterKinds) {
  for (const auto& method : service::Methods()) {
    SCOPED_TRACE(method.Name);
    std::vector<TRemoteArg> args;
    for (const auto& param : method.Params)
      args.push_back(param.Kind == service::TParamKind::Date ? TRemoteArg::FromDate(45000)
                     : param.Kind == service::TParamKind::String
                         ? TRemoteArg::FromString(param.Name)
                         : TRemoteArg::FromInOut(param.Name));
    const std::string full = std::string(service::kServerName) + "." + method.Name;
    const auto got = Decode(Request(7, full, args), 3);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].Status, TStatus::Call);
    EXPECT_EQ(got[0].Request.Method, full);
    ASSERT_EQ(got[0].Request.Params.size(), method.Params.size());
    for (size_t i = 0; i < method.Params.size(); ++i) {
      const bool date = method.Params[i].Kind == service::TParamKind::Date;
      EXPECT_EQ(got[0].Request.Params[i].Kind,
                date ? app::TRpcValue::TKind::Float : app::TRpcValue::TKind::String);
      if (!date) {
        EXPECT_EQ(got[0].Request.Params[i].Text, method.Params[i].Name);
      }
    }
  }
}

TEST(ProtocolRoundTrip, ErrorEnvelope_ReachesTheClientAsAFailedCallWithItsMessage) {
  std::string response;
  app::EncodeErrorResponse(response, 12, "Objeto desconhecido no servidor de aplicação: X.");
  const fw::wire::TReply reply = fw::wire::DecodeReply(response);
  EXPECT_EQ(reply.MsgId, 12u);
  EXPECT_TRUE(reply.Failed);
  EXPECT_EQ(reply.ErrorMessage, "Objeto desconhecido no servidor de aplicação: X.");
}

TEST(ProtocolRoundTrip, FailEnvelope_ReachesTheClientAsARefusal) {
  std::string response;
  app::EncodeFailResponse(response, 3, "Solicitação não encontrada.");
  const fw::wire::TReply reply = fw::wire::DecodeReply(response);
  EXPECT_EQ(reply.MsgId, 3u);
  EXPECT_FALSE(reply.Failed);
  EXPECT_TRUE(reply.Result.Refused);
  EXPECT_EQ(reply.Result.RefusalMessage, "Solicitação não encontrada.");
}

TEST(ProtocolRoundTrip, EnvelopesMakeTheMessageSafeBeforeItTravels) {
  std::string response;
  app::EncodeErrorResponse(response, 1, "linha\nquebrada \xff");
  const fw::wire::TReply error = fw::wire::DecodeReply(response);
  EXPECT_EQ(error.ErrorMessage, app::SafeMessage("linha\nquebrada \xff"));
  EXPECT_EQ(error.ErrorMessage.find('\n'), std::string::npos);
  app::EncodeFailResponse(response, 2, "a\x1b[2Jb");
  const fw::wire::TReply fail = fw::wire::DecodeReply(response);
  EXPECT_EQ(fail.Result.RefusalMessage, "a\\x1b[2Jb");
}

TEST(ProtocolRoundTrip, LoginEnvelope_CarriesTheAccountAndItsScope) {
  fw::TAccountScope scope;
  scope.Known = true;
  scope.Branches = {"0002", "0003"};
  scope.OwnRequests = true;
  scope.Operator = "000123";
  std::string response;
  app::EncodeLoginResponse(response, 1, "demo", "Usuário de Demonstração", scope);
  const fw::wire::TReply reply = fw::wire::DecodeReply(response);
  EXPECT_FALSE(reply.Failed);
  EXPECT_FALSE(reply.HasPacket);
  EXPECT_EQ(reply.Texts.at("usuario"), "demo");
  EXPECT_EQ(reply.Texts.at("nome"), "Usuário de Demonstração");
  EXPECT_EQ(fw::ReadLoginScope(reply.Texts), scope);

  scope = {};
  scope.Known = true;
  scope.AllBranches = true;
  app::EncodeLoginResponse(response, 2, "admin", "Administrador", scope);
  EXPECT_EQ(fw::ReadLoginScope(fw::wire::DecodeReply(response).Texts), scope);
}

TEST(ProtocolText, Utf8Length_AcceptsWellFormedSequencesOnly) {
  EXPECT_EQ(fw::Utf8Length("a"), 1u);
  EXPECT_EQ(fw::Utf8Length("ção"), 2u);
  EXPECT_EQ(fw::Utf8Length("€"), 3u);
  EXPECT_EQ(fw::Utf8Length("\xF0\x9F\x98\x80"), 4u);
  EXPECT_EQ(fw::Utf8Length("\xC0\xAF"), 0u);          // overlong
  EXPECT_EQ(fw::Utf8Length("\xED\xA0\x80"), 0u);      // surrogate
  EXPECT_EQ(fw::Utf8Length("\xF4\x90\x80\x80"), 0u);  // past U+10FFFF
  EXPECT_EQ(fw::Utf8Length("\xE2\x82"), 0u);          // cut short
}

TEST(ProtocolText, SystemErrors_AreWordedInPortuguese) {
  EXPECT_EQ(fw::SystemErrorText(ECONNREFUSED), "conexão recusada");
  EXPECT_EQ(fw::SystemErrorText(ETIMEDOUT), "tempo esgotado");
  EXPECT_EQ(fw::SystemErrorText(EACCES), "acesso negado");
  EXPECT_EQ(fw::SystemErrorText(999999), "erro do sistema 999999");
}

}  // namespace
