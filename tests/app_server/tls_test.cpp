// Encryption end to end: app-server processes with certificates the tests make at run time, and
// the TCP client with TLS on. What a certificate that does not check out, a client and server
// that disagree about TLS, a handshake left hanging, the login deadline around the handshake and
// a paused server come to. The clients log in as the demo's "demo" over the TLS stream.
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "app_server/db/iso_date.h"
#include "protocol/contract.h"
#include "tests/app_server/certificates.h"
#include "tests/app_server/fixture.h"

namespace testing_app {
namespace {

using namespace std::chrono_literals;
using fw::TRemoteArg;
using TClock = std::chrono::steady_clock;

// A folder with the site's authority and a server certificate for 127.0.0.1 it signed.
struct TSite {
  TTempDir Dir;
  TTestAuthority Authority{Dir.Path(), "site"};
  TCertificateFiles Server = Authority.Issue("server", "IP:127.0.0.1");

  std::string Log(const std::string& name) const { return Dir.Path() + "/" + name + ".log"; }
};

std::vector<std::string> TlsArguments(const TCertificateFiles& files,
                                      std::vector<std::string> extra = {}) {
  std::vector<std::string> arguments = {"--tls-cert", files.Certificate, "--tls-key", files.Key};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return arguments;
}

fw::TTcpAppServer TlsClient(int port, const std::string& caFile,
                            const std::string& host = "127.0.0.1", int connectMs = 3000,
                            int callMs = 10000) {
  fw::TTcpAppServer::TOptions options;
  options.ConnectTimeoutMs = connectMs;
  options.CallTimeoutMs = callMs;
  options.Tls = true;
  options.TlsCaFile = caFile;
  return fw::TTcpAppServer(host, port, service::kServerName, options, DemoLogin());
}

// The message Connect raised, or "" when it connected.
std::string ConnectFailure(fw::TTcpAppServer& client) {
  try {
    client.Connect();
    return "";
  } catch (const fw::ERemoteError& error) {
    return error.what();
  }
}

std::string InvokeFailure(fw::TTcpAppServer& client, const std::string& method) {
  try {
    auto args = Args(method);
    client.Invoke(method, args);
    return "";
  } catch (const fw::ERemoteError& error) {
    return error.what();
  }
}

size_t BranchCount(fw::TTcpAppServer& client) {
  auto args = Args("GetFilSoli");
  return client.Invoke("GetFilSoli", args).Data.RowCount();
}

// Every cell of a result as text, rows in order.
std::string Dump(const fw::TRemoteResult& result) {
  std::string text = result.Refused ? "recusada: " + result.RefusalMessage + "\n" : "";
  const auto& packet = result.Data;
  for (size_t row = 0; row < packet.RowCount(); ++row) {
    for (const auto& column : packet.Columns()) {
      if (column.IsNull(row))
        text += "null";
      else if (column.Type() == fw::TFieldType::ftString)
        text += std::string(column.GetString(row));
      else
        text += std::to_string(column.GetNumber(row));
      text += '|';
    }
    text += '\n';
  }
  for (const auto& ref : result.Refs) text += ref ? *ref + ";" : "-;";
  return text;
}

double Seconds(TClock::time_point since) {
  return std::chrono::duration<double>(TClock::now() - since).count();
}

TEST(Tls, WithTheSitesAuthority_TheSevenMethodsAnswerAsOverPlainTcp) {
  TSite site;
  TServerProcess server(Demo().Served, site.Log("server"), TlsArguments(site.Server));
  // An item that went all the way to an invoice, so that every method has rows.
  const auto item =
      Sql("SELECT S.CDFILIAL, S.NRSOLICMP, S.CDFILLAN, I.CDDESTSOLI, I.NRCOMPRA, I.CDPRODUTO, "
          "I.NRCOLEPRECO, I.DTPROGENTR FROM ITEMSOLICITACAO I JOIN SOLICITACAO S USING (CDFILLAN, "
          "NRSOLICMP) WHERE I.STATUS = '2' ORDER BY S.NRSOLICMP LIMIT 1")[0];
  std::map<std::string, std::map<std::string, TRemoteArg>> values = {
      {"GetItens", {{"cdFilial", TRemoteArg::FromString(item[0])}}},
      {"GetDestSolGere",
       {{"nrSoliCmp", TRemoteArg::FromString(item[1])},
        {"cdFilial", TRemoteArg::FromString(item[0])},
        {"cdFilLan", TRemoteArg::FromString(item[2])},
        {"cdDestSoli", TRemoteArg::FromString(item[3])}}},
      {"GetItemProduto",
       {{"cdFilial", TRemoteArg::FromString(item[0])},
        {"nrSoliCmp", TRemoteArg::FromString(item[1])},
        {"cdFilLan", TRemoteArg::FromString(item[2])},
        {"nrCompra", TRemoteArg::FromString(item[4])},
        {"dtProgEntr", TRemoteArg::FromDate(*app::IsoTextToDays(item[7]))}}},
      {"GetItemCota",
       {{"cdFilial", TRemoteArg::FromString(item[0])},
        {"cdProduto", TRemoteArg::FromString(item[5])},
        {"nrColePreco", TRemoteArg::FromString(item[6])}}},
  };
  auto plain = Client();
  auto encrypted = TlsClient(server.Port(), site.Authority.CertificateFile());
  for (const auto& method : service::Methods()) {
    SCOPED_TRACE(method.Name);
    auto plainArgs = Args(method.Name, values[method.Name]);
    auto encryptedArgs = plainArgs;
    const fw::TRemoteResult overPlain = plain.Invoke(method.Name, plainArgs);
    const fw::TRemoteResult overTls = encrypted.Invoke(method.Name, encryptedArgs);
    EXPECT_GT(overTls.Data.RowCount(), 0u);
    EXPECT_EQ(Dump(overPlain), Dump(overTls));
  }
  EXPECT_TRUE(encrypted.Connected());
  EXPECT_EQ(std::string::npos, server.Log().find("TLS recusada")) << server.Log();
}

TEST(Tls, ACertificateThatDoesNotCheckOut_IsRefusedNamingHostAndPortAndWhy) {
  TSite site;
  TTestAuthority stranger(site.Dir.Path(), "stranger");
  struct TCase {
    const char* Name;
    TCertificateFiles Served;
    std::string Authority;  // the client's
    std::string Host;       // the client connects to
    std::string Expected;   // "" when it connects
  };
  const std::string ours = site.Authority.CertificateFile();
  const TCase cases[] = {
      {"another authority", site.Server, stranger.CertificateFile(), "127.0.0.1",
       "não reconhecido pela autoridade certificadora configurada (" + stranger.CertificateFile() +
           ")"},
      {"another address", site.Authority.Issue("other-ip", "IP:127.0.0.2"), ours, "127.0.0.1",
       "o certificado do servidor não é para o endereço 127.0.0.1"},
      {"an address, not the name", site.Server, ours, "localhost",
       "o certificado do servidor não é para o endereço localhost"},
      {"expired", site.Authority.Issue("expired", "IP:127.0.0.1", -30, -1), ours, "127.0.0.1",
       "certificado do servidor expirado em "},
      {"not yet valid", site.Authority.Issue("future", "IP:127.0.0.1", 2, 30), ours, "127.0.0.1",
       "ainda não é válido"},
      {"the name", site.Authority.Issue("by-name", "DNS:localhost"), ours, "localhost", ""},
      {"the server's own certificate as authority", site.Server, site.Server.Certificate,
       "127.0.0.1", ""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Name);
    TServerProcess server(Demo().Served, site.Log(test.Name), TlsArguments(test.Served));
    auto client = TlsClient(server.Port(), test.Authority, test.Host);
    const std::string failure = ConnectFailure(client);
    if (test.Expected.empty()) {
      EXPECT_EQ("", failure);
      EXPECT_GT(BranchCount(client), 0u);
      continue;
    }
    EXPECT_EQ(0u, failure.find("Não foi possível conectar com segurança ao servidor de aplicação "
                               "em " +
                               test.Host + ":" + std::to_string(server.Port()) + " ("))
        << failure;
    EXPECT_NE(std::string::npos, failure.find(test.Expected)) << failure;
    EXPECT_FALSE(client.Connected());
    // Nothing was sent: an Invoke connects again, and is refused again.
    EXPECT_NE(std::string::npos, InvokeFailure(client, "GetFilSoli").find(test.Expected));
    EXPECT_TRUE(server.Running());
  }
}

TEST(Tls, PlainAndEncryptedAtOppositeEnds_AreRefusedWithAClearMessage) {
  TSite site;
  TServerProcess server(Demo().Served, site.Log("server"), TlsArguments(site.Server));

  // A plain client is answered in plain why, with its own msgid, and the connection closes.
  auto plain = Client(server.Port());
  EXPECT_NE(
      std::string::npos,
      InvokeFailure(plain, "GetFilSoli").find("aceita somente conexões criptografadas (TLS)"));
  TRawClient raw(server.Port());
  raw.Send(RequestBytes(41, Full("GetFilSoli"), Args("GetFilSoli")));
  const auto reply = raw.Read();
  EXPECT_EQ(41u, reply.MsgId);
  EXPECT_TRUE(reply.Failed);
  EXPECT_TRUE(raw.ClosedByServer(3000));
  // Neither TLS nor MessagePack: closed as well.
  TRawClient web(server.Port());
  web.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_TRUE(web.ClosedByServer(3000));

  // A TLS client against a plain server is told the server does not speak TLS.
  auto encrypted = TlsClient(Demo().Server->Port(), site.Authority.CertificateFile());
  const std::string failure = ConnectFailure(encrypted);
  EXPECT_NE(std::string::npos,
            failure.find("em 127.0.0.1:" + std::to_string(Demo().Server->Port()) +
                         " (o servidor não respondeu em TLS"))
      << failure;

  // Both servers go on serving their own kind.
  auto good = TlsClient(server.Port(), site.Authority.CertificateFile());
  EXPECT_GT(BranchCount(good), 0u);
  auto plainAgain = Client();
  EXPECT_GT(BranchCount(plainAgain), 0u);
}

TEST(Tls, AHandshakeThatNeverCompletes_IsClosedInTimeAndOthersAreServed) {
  TSite site;
  TServerProcess server(Demo().Served, site.Log("server"),
                        TlsArguments(site.Server, {"--handshake-timeout", "1"}));
  const auto started = TClock::now();
  TRawClient silent(server.Port());
  TRawClient partial(server.Port());
  // The start of a ClientHello record that announces 512 bytes and sends 7.
  partial.Send(std::string("\x16\x03\x01\x02\x00\x01\x00", 7));
  auto good = TlsClient(server.Port(), site.Authority.CertificateFile());
  EXPECT_GT(BranchCount(good), 0u);
  EXPECT_TRUE(silent.ClosedByServer(5000));
  EXPECT_TRUE(partial.ClosedByServer(5000));
  const double elapsed = Seconds(started);
  EXPECT_GE(elapsed, 0.9);
  EXPECT_LT(elapsed, 4.0);
  // The connection that finished its handshake is not closed by that time-out.
  std::this_thread::sleep_for(1200ms);
  EXPECT_GT(BranchCount(good), 0u);
  EXPECT_TRUE(good.Connected());
  EXPECT_NE(std::string::npos, server.Log().find("negociação TLS não concluída"));
}

// The login deadline runs from the accept, the handshake inside it: a client that spends most of
// it on a late handshake is closed at the deadline, not a whole deadline after the handshake. One
// that logged in over TLS stays past it.
TEST(Tls, TheLoginDeadline_CountsFromTheAcceptWithTheHandshakeInside) {
  TSite site;
  TServerProcess server(
      Demo().Served, site.Log("server"),
      TlsArguments(site.Server, {"--login-timeout", "2", "--handshake-timeout", "5"}));
  auto good = TlsClient(server.Port(), site.Authority.CertificateFile());
  EXPECT_GT(BranchCount(good), 0u);

  TRawClient late(server.Port());
  const auto accepted = TClock::now();
  timeval patience{8, 0};  // a server that never closes fails the test instead of hanging it
  ::setsockopt(late.Fd(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience));
  std::this_thread::sleep_for(1500ms);
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  ASSERT_NE(nullptr, context);
  ASSERT_EQ(
      1, SSL_CTX_load_verify_locations(context, site.Authority.CertificateFile().c_str(), nullptr));
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  SSL* tls = SSL_new(context);
  SSL_set_fd(tls, late.Fd());
  const int handshake = SSL_connect(tls);
  char byte = 0;
  const int read = handshake == 1 ? SSL_read(tls, &byte, 1) : 0;
  const double closedAfter = Seconds(accepted);
  SSL_free(tls);
  SSL_CTX_free(context);
  EXPECT_EQ(1, handshake);
  EXPECT_LE(read, 0);
  EXPECT_GE(closedAfter, 1.9);
  EXPECT_LT(closedAfter, 3.0);

  // The client would reconnect unseen; the log tells it logged in once, on one connection.
  EXPECT_GT(BranchCount(good), 0u);
  EXPECT_EQ(0, server.Stop());  // stopped, everything is in the log
  const std::string log = server.Log();
  EXPECT_NE(std::string::npos, log.find("sem login em 2 s")) << log;
  size_t logins = 0;
  for (size_t at = log.find("Sessao.Login"); at != std::string::npos;
       at = log.find("Sessao.Login", at + 1))
    ++logins;
  EXPECT_EQ(1u, logins) << log;
}

TEST(Tls, ConnectionLimits_HoldOverTls) {
  TSite site;
  TServerProcess server(Demo().Served, site.Log("server"),
                        TlsArguments(site.Server, {"--max-connections-per-address", "2"}));
  auto first = TlsClient(server.Port(), site.Authority.CertificateFile());
  auto second = TlsClient(server.Port(), site.Authority.CertificateFile());
  EXPECT_GT(BranchCount(first), 0u);
  EXPECT_GT(BranchCount(second), 0u);
  // A third is refused with the limit's message, over TLS.
  auto third = TlsClient(server.Port(), site.Authority.CertificateFile());
  EXPECT_NE(std::string::npos,
            InvokeFailure(third, "GetFilSoli").find("limite de 2 conexões por endereço"));
  // So is a raw connection that never starts its handshake: it holds a slot only briefly.
  TRawClient silent(server.Port());
  EXPECT_TRUE(silent.ClosedByServer(5000));
  first.Disconnect();
  std::this_thread::sleep_for(200ms);
  EXPECT_GT(BranchCount(third), 0u);
}

TEST(Tls, CancelAndTimeOuts_EndTheHandshakeAndTheCallOverTls) {
  TSite site;
  TServerProcess server(Demo().Served, site.Log("server"), TlsArguments(site.Server));
  const std::string ca = site.Authority.CertificateFile();
  const std::string address = "127.0.0.1:" + std::to_string(server.Port());
  // Paused, the server's kernel still takes connections: the handshake is what waits.
  server.Pause();
  {
    auto client = TlsClient(server.Port(), ca, "127.0.0.1", 500);
    const auto started = TClock::now();
    const std::string failure = ConnectFailure(client);
    EXPECT_NE(std::string::npos, failure.find(address + " (tempo esgotado na negociação TLS"))
        << failure;
    EXPECT_LT(Seconds(started), 2.0);
  }
  {
    auto client = TlsClient(server.Port(), ca, "127.0.0.1", 30000);
    std::thread user([&client] { std::this_thread::sleep_for(300ms), client.Cancel(); });
    const auto started = TClock::now();
    EXPECT_EQ(fw::TTcpAppServer::kCancelledMessage, ConnectFailure(client));
    EXPECT_LT(Seconds(started), 2.0);
    user.join();
  }
  server.Signal(SIGCONT);

  auto client = TlsClient(server.Port(), ca, "127.0.0.1", 3000, 500);
  EXPECT_GT(BranchCount(client), 0u);
  server.Pause();
  std::string failure = InvokeFailure(client, "GetFilSoli");
  EXPECT_NE(std::string::npos, failure.find("em " + address + " não respondeu a")) << failure;
  EXPECT_FALSE(client.Connected());
  server.Signal(SIGCONT);
  EXPECT_GT(BranchCount(client), 0u);

  auto patient = TlsClient(server.Port(), ca, "127.0.0.1", 3000, 30000);
  EXPECT_GT(BranchCount(patient), 0u);
  server.Pause();
  std::thread user([&patient] { std::this_thread::sleep_for(300ms), patient.Cancel(); });
  const auto started = TClock::now();
  EXPECT_EQ(fw::TTcpAppServer::kCancelledMessage, InvokeFailure(patient, "GetFilSoli"));
  EXPECT_LT(Seconds(started), 2.0);
  user.join();
  server.Signal(SIGCONT);
}

TEST(Tls, AServerRestartedBetweenCalls_TheNextCallConnectsAgainOverTls) {
  TSite site;
  auto server =
      std::make_unique<TServerProcess>(Demo().Served, site.Log("first"), TlsArguments(site.Server));
  const int port = server->Port();
  auto client = TlsClient(port, site.Authority.CertificateFile());
  EXPECT_GT(BranchCount(client), 0u);
  EXPECT_EQ(0, server->Stop());
  server = std::make_unique<TServerProcess>(
      Demo().Served, site.Log("second"),
      TlsArguments(site.Server, {"--listen", "127.0.0.1:" + std::to_string(port)}));
  // Past a second idle the client looks before it sends, and finds the old connection closed.
  std::this_thread::sleep_for(1100ms);
  EXPECT_GT(BranchCount(client), 0u);
}

TEST(Tls, WhatTheServerAndClientAreGivenToStart_IsCheckedWithAClearMessage) {
  TSite site;
  TTestAuthority other(site.Dir.Path(), "other");
  const TCertificateFiles another = other.Issue("another", "IP:127.0.0.1");
  const std::string db = Demo().Served;
  struct TCase {
    const char* Name;
    std::vector<std::string> Arguments;
    std::string Expected;
  };
  const TCase cases[] = {
      {"every address, no TLS",
       {"--listen", "0.0.0.0:0"},
       "Recusado escutar em 0.0.0.0 sem criptografia"},
      {"a certificate that is not there",
       {"--tls-cert", site.Dir.Path() + "/none.pem", "--tls-key", site.Server.Key},
       "Não foi possível ler o certificado TLS " + site.Dir.Path() + "/none.pem"},
      {"the key of another certificate",
       {"--tls-cert", site.Server.Certificate, "--tls-key", another.Key},
       "A chave privada " + another.Key + " não corresponde ao certificado"},
      {"a certificate without its key",
       {"--tls-cert", site.Server.Certificate},
       "são precisos o certificado e a chave"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Name);
    const std::string log = site.Log(test.Name);
    std::vector<std::string> arguments = {"--db", db};
    arguments.insert(arguments.end(), test.Arguments.begin(), test.Arguments.end());
    EXPECT_EQ(1, RunAppServer(arguments, log, 10000));
    std::FILE* file = std::fopen(log.c_str(), "r");
    ASSERT_NE(nullptr, file);
    char text[4096] = {};
    const size_t length = std::fread(text, 1, sizeof(text) - 1, file);
    std::fclose(file);
    EXPECT_NE(std::string::npos, std::string(text, length).find(test.Expected)) << text;
  }

  // Every address with TLS, or with --insecure: it listens.
  {
    TServerProcess open(db, site.Log("insecure"), {"--listen", "0.0.0.0:0", "--insecure"});
    auto client = Client(open.Port());
    EXPECT_GT(BranchCount(client), 0u);
  }
  {
    TServerProcess open(db, site.Log("everywhere"),
                        TlsArguments(site.Server, {"--listen", "0.0.0.0:0"}));
    auto client = TlsClient(open.Port(), site.Authority.CertificateFile());
    EXPECT_GT(BranchCount(client), 0u);

    // A client whose authorities cannot be read says which file.
    auto lost = TlsClient(open.Port(), site.Dir.Path() + "/lost-ca.pem");
    EXPECT_NE(std::string::npos,
              ConnectFailure(lost).find("(não foi possível ler as autoridades certificadoras em " +
                                        site.Dir.Path() + "/lost-ca.pem)"));
  }
}

}  // namespace
}  // namespace testing_app
