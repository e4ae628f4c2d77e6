// The TCP client against a scripted server on loopback: what reaches the caller when the server
// answers, refuses, misbehaves, goes silent or goes away.
#include "framework/net/tcp_app_server.h"

#include "framework/net/cancelled.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <msgpack.hpp>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "framework/net/failover_app_server.h"
#include "protocol/wire.h"

namespace fw {
namespace {

using wire::TWireWriter;

int ListenOnLoopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(fd, 8) != 0)
    ADD_FAILURE() << "cannot listen";
  socklen_t length = sizeof(address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

// Reads one MessagePack request; returns its msgid and method, or false when the peer closed.
bool ReadRequest(int fd, uint32_t& msgid, std::string& method) {
  msgpack::unpacker unpacker;
  msgpack::object_handle handle;
  while (!unpacker.next(handle)) {
    unpacker.reserve_buffer(4096);
    const ssize_t count = ::recv(fd, unpacker.buffer(), unpacker.buffer_capacity(), 0);
    if (count <= 0) return false;
    unpacker.buffer_consumed(static_cast<size_t>(count));
  }
  const auto& items = handle.get().via.array;
  msgid = items.ptr[1].as<uint32_t>();
  method = items.ptr[2].as<std::string>();
  return true;
}

void SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t count = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return;
    sent += static_cast<size_t>(count);
  }
}

// A server that hands each accepted connection to `serve`, one connection at a time.
class TScriptedServer {
 public:
  using TServe = std::function<void(int fd)>;
  explicit TScriptedServer(TServe serve) : serve_(std::move(serve)) {
    listener_ = ListenOnLoopback(port_);
    thread_ = std::thread([this] {
      for (;;) {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0 || stopping_) {
          if (fd >= 0) ::close(fd);
          return;
        }
        ++connections_;
        serve_(fd);
        ::close(fd);
      }
    });
  }
  ~TScriptedServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  int Port() const { return port_; }
  int Connections() const { return connections_; }

 private:
  TServe serve_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

std::string DataReply(uint32_t msgid, const std::vector<std::optional<std::string>>& refs) {
  std::string bytes;
  TWireWriter writer(bytes);
  writer.Array(4);
  writer.Unsigned(1);
  writer.Unsigned(msgid);
  writer.Nil();
  writer.Map(2);
  writer.Str("data");
  TDataPacket packet({{"CDFILIAL", TFieldType::ftString, 4}});
  packet.Columns()[0].AppendString("0001");
  wire::EncodePacket(writer, packet);
  writer.Str("refs");
  writer.Array(static_cast<uint32_t>(refs.size()));
  for (const auto& ref : refs) ref ? writer.Str(*ref) : writer.Nil();
  return bytes;
}

// Answers every request on the connection with `reply(msgid)`.
TScriptedServer::TServe Answering(std::function<std::string(uint32_t)> reply) {
  return [reply](int fd) {
    uint32_t msgid;
    std::string method;
    while (ReadRequest(fd, msgid, method)) SendAll(fd, reply(msgid));
  };
}

TTcpAppServer Client(int port, int callTimeoutMs = 5000) {
  return TTcpAppServer("127.0.0.1", port, "CMP09500.rdmAcompSoli", {2000, callTimeoutMs});
}

std::string MessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ERemoteError& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(TcpAppServer, Invoke_ReturnsThePacketAndWritesRefsBackIntoInOutArguments) {
  std::string seenMethod;
  TScriptedServer server([&](int fd) {
    uint32_t msgid;
    while (ReadRequest(fd, msgid, seenMethod))
      SendAll(fd, DataReply(msgid, {std::nullopt, "novo", std::nullopt}));
  });
  auto client = Client(server.Port());
  std::vector<TRemoteArg> args = {TRemoteArg::FromDate(1), TRemoteArg::FromInOut("velho"),
                                  TRemoteArg::FromInOut("mantido")};
  const TRemoteResult result = client.Invoke("GetFilSoliGD", args);
  EXPECT_EQ("CMP09500.rdmAcompSoli.GetFilSoliGD", seenMethod);
  ASSERT_EQ(1u, result.Data.RowCount());
  EXPECT_EQ("0001", result.Data.Columns()[0].GetString(0));
  EXPECT_EQ("novo", args[1].Text);
  EXPECT_EQ("mantido", args[2].Text);  // nil leaves the value as it was
  ASSERT_EQ(3u, result.Refs.size());
  EXPECT_EQ("novo", result.Refs[1]);
  // The connection stays open for the next call.
  client.Invoke("GetFilSoliGD", args);
  EXPECT_EQ(1, server.Connections());
}

TEST(TcpAppServer, ErrorAndFail_ComeBackAsExceptionAndRefusal) {
  int calls = 0;
  TScriptedServer server(Answering([&](uint32_t msgid) {
    std::string bytes;
    TWireWriter w(bytes);
    w.Array(4);
    w.Unsigned(1);
    w.Unsigned(msgid);
    if (calls++ == 0) {
      w.Map(1);
      w.Str("message");
      w.Str("Método desconhecido: X.");
      w.Nil();
    } else {
      w.Nil();
      w.Map(1);
      w.Str("fail");
      w.Map(1);
      w.Str("message");
      w.Str("A lista está malformada.");
    }
    return bytes;
  }));
  auto client = Client(server.Port());
  std::vector<TRemoteArg> args = {TRemoteArg::FromInOut("x")};
  EXPECT_EQ("Método desconhecido: X.", MessageOf([&] { client.Invoke("X", args); }));
  const TRemoteResult refused = client.Invoke("X", args);
  EXPECT_TRUE(refused.Refused);
  EXPECT_EQ("A lista está malformada.", refused.RefusalMessage);
  EXPECT_EQ("x", args[0].Text);
  EXPECT_EQ(1, server.Connections());
}

TEST(TcpAppServer, Connect_ToAClosedPort_NamesHostAndPortInPortuguese) {
  int port = 0;
  ::close(ListenOnLoopback(port));
  auto client = Client(port);
  const std::string message = MessageOf([&] { client.Connect(); });
  EXPECT_EQ("Não foi possível conectar ao servidor de aplicação em 127.0.0.1:" +
                std::to_string(port) + " (conexão recusada).",
            message);
  std::vector<TRemoteArg> args;
  EXPECT_NE(std::string::npos,
            MessageOf([&] { client.Invoke("GetFilSoli", args); }).find(std::to_string(port)));
}

// A listener whose accept queue is full: new connection attempts to it hang.
class TFullListener {
 public:
  TFullListener() {
    listener_ = ListenOnLoopback(port_);
    ::listen(listener_, 0);
    for (int i = 0; i < 16; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(port_));
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
      fillers_.push_back(fd);
      pollfd poller{fd, POLLOUT, 0};
      if (::poll(&poller, 1, 100) == 0) break;  // this one hangs: the queue is full
    }
  }
  ~TFullListener() {
    for (const int fd : fillers_) ::close(fd);
    ::close(listener_);
  }
  int Port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

TEST(TcpAppServer, Connect_ToAServerThatDoesNotAccept_GivesUpAfterTheConnectTimeOut) {
  TFullListener full;
  TTcpAppServer client("127.0.0.1", full.Port(), "CMP09500.rdmAcompSoli", {300, 1000});
  const auto started = std::chrono::steady_clock::now();
  const std::string message = MessageOf([&] { client.Connect(); });
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::seconds(2));
  EXPECT_EQ("Não foi possível conectar ao servidor de aplicação em 127.0.0.1:" +
                std::to_string(full.Port()) + " (tempo esgotado após 300 ms).",
            message);
}

TEST(TcpAppServer, ServerThatNeverAnswers_TimesOutAndTheNextCallReconnects) {
  std::atomic<int> served{0};
  TScriptedServer server([&](int fd) {
    uint32_t msgid;
    std::string method;
    if (served++ == 0) {
      // Swallow the request and wait for the client to give up.
      ReadRequest(fd, msgid, method);
      char byte;
      ::recv(fd, &byte, 1, 0);
      return;
    }
    while (ReadRequest(fd, msgid, method)) SendAll(fd, DataReply(msgid, {}));
  });
  auto client = Client(server.Port(), 300);
  std::vector<TRemoteArg> args;
  const auto started = std::chrono::steady_clock::now();
  const std::string message = MessageOf([&] { client.Invoke("GetFilSoli", args); });
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_NE(std::string::npos, message.find("não respondeu")) << message;
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(1u, client.Invoke("GetFilSoli", args).Data.RowCount());
  EXPECT_EQ(2, server.Connections());
}

// Cancels `client` from another thread after `delay`, as the window does while the call runs.
std::thread CancelAfter(TTcpAppServer& client, std::chrono::milliseconds delay) {
  return std::thread([&client, delay] {
    std::this_thread::sleep_for(delay);
    client.Cancel();
  });
}

TEST(TcpAppServer, CancelDuringACallThatHangs_EndsItAtOnceAndTheNextCallReconnects) {
  std::atomic<int> served{0};
  TScriptedServer server([&](int fd) {
    uint32_t msgid;
    std::string method;
    if (served++ == 0) {
      // A stopped server: the request is taken and never answered.
      ReadRequest(fd, msgid, method);
      char byte;
      ::recv(fd, &byte, 1, 0);
      return;
    }
    while (ReadRequest(fd, msgid, method)) SendAll(fd, DataReply(msgid, {}));
  });
  auto client = Client(server.Port(), 60000);
  std::vector<TRemoteArg> args;
  std::thread user = CancelAfter(client, std::chrono::milliseconds(200));
  const auto started = std::chrono::steady_clock::now();
  const std::string message = MessageOf([&] { client.Invoke("GetFilSoli", args); });
  const auto waited = std::chrono::steady_clock::now() - started;
  user.join();
  EXPECT_EQ("Operação cancelada pelo usuário.", message);
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::seconds(5)) << "not the 60 s time-out";
  EXPECT_FALSE(client.Connected()) << "the abandoned connection is closed";
  EXPECT_EQ(1u, client.Invoke("GetFilSoli", args).Data.RowCount());
  EXPECT_EQ(2, server.Connections());
}

TEST(TcpAppServer, CancelWithNothingInFlight_DoesNotReachTheNextCall) {
  TScriptedServer server(Answering([](uint32_t msgid) { return DataReply(msgid, {}); }));
  auto client = Client(server.Port());
  std::vector<TRemoteArg> args;
  client.Cancel();
  EXPECT_EQ(1u, client.Invoke("GetFilSoli", args).Data.RowCount());
  client.Cancel();
  EXPECT_EQ(1u, client.Invoke("GetFilSoli", args).Data.RowCount());
  EXPECT_EQ(1, server.Connections());
}

TEST(TcpAppServer, CancelWhileConnecting_EndsTheConnectAtOnce) {
  TFullListener full;
  TTcpAppServer client("127.0.0.1", full.Port(), "CMP09500.rdmAcompSoli", {30000, 60000});
  std::thread user = CancelAfter(client, std::chrono::milliseconds(200));
  const auto started = std::chrono::steady_clock::now();
  const std::string message = MessageOf([&] { client.Connect(); });
  const auto waited = std::chrono::steady_clock::now() - started;
  user.join();
  EXPECT_EQ("Operação cancelada pelo usuário.", message);
  EXPECT_LT(waited, std::chrono::seconds(5)) << "not the 30 s connect time-out";
  EXPECT_FALSE(client.Connected());
}

TEST(TcpAppServer, Cancel_RaisesItsOwnTypeWhereATimeOutRaisesAPlainRemoteError) {
  {
    TFullListener full;
    TTcpAppServer client("127.0.0.1", full.Port(), "CMP09500.rdmAcompSoli", {30000, 60000});
    std::thread user = CancelAfter(client, std::chrono::milliseconds(100));
    EXPECT_THROW(client.Connect(), ECancelled);
    user.join();
  }
  {
    TScriptedServer server([](int fd) {
      uint32_t msgid;
      std::string method;
      ReadRequest(fd, msgid, method);
      char byte;
      ::recv(fd, &byte, 1, 0);  // never answers
    });
    auto client = Client(server.Port(), 60000);
    std::vector<TRemoteArg> args;
    std::thread user = CancelAfter(client, std::chrono::milliseconds(100));
    EXPECT_THROW(client.Invoke("GetFilSoli", args), ECancelled);
    user.join();
  }
  {
    TFullListener full;
    TTcpAppServer client("127.0.0.1", full.Port(), "CMP09500.rdmAcompSoli", {300, 60000});
    bool cancelled = false, failed = false;
    try {
      client.Connect();
    } catch (const ECancelled&) {
      cancelled = true;
    } catch (const ERemoteError&) {
      failed = true;
    }
    EXPECT_TRUE(failed);
    EXPECT_FALSE(cancelled) << "a time-out is no cancel";
  }
}

TEST(FailoverAppServer, CancelWhileConnecting_DoesNotGoOnToTheNextServer) {
  TFullListener full;
  TScriptedServer second(Answering([](uint32_t msgid) { return DataReply(msgid, {}); }));
  TFailoverAppServer client({{"127.0.0.1", full.Port()}, {"127.0.0.1", second.Port()}},
                            "CMP09500.rdmAcompSoli", {30000, 60000});
  std::thread user([&client] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    client.Cancel();
  });
  const std::string message = MessageOf([&] { client.Connect(); });
  user.join();
  EXPECT_EQ("Operação cancelada pelo usuário.", message);
  EXPECT_EQ(0, second.Connections()) << "the user gave up: no other server is tried";
  // The next call starts with the next server, as after any transport failure.
  std::vector<TRemoteArg> args;
  EXPECT_EQ(1u, client.Invoke("GetFilSoli", args).Data.RowCount());
  EXPECT_EQ(second.Port(), client.Current().Port);
}

TEST(TcpAppServer, SystemErrors_ArePortugueseNeverTheLibrarysEnglish) {
  EXPECT_EQ("conexão recusada", SystemErrorText(ECONNREFUSED));
  EXPECT_EQ("tempo esgotado", SystemErrorText(ETIMEDOUT));
  EXPECT_EQ("servidor inalcançável", SystemErrorText(EHOSTUNREACH));
  EXPECT_EQ("rede inalcançável", SystemErrorText(ENETUNREACH));
  EXPECT_EQ("conexão reiniciada pelo servidor", SystemErrorText(ECONNRESET));
  EXPECT_EQ("endereço não encontrado", ResolverErrorText(EAI_NONAME));
  for (int error = 1; error < 134; ++error)
    EXPECT_NE(std::string(std::strerror(error)), SystemErrorText(error)) << error;
  for (int code : {EAI_AGAIN, EAI_FAIL, EAI_FAMILY, EAI_SERVICE, EAI_MEMORY, EAI_BADFLAGS})
    EXPECT_NE(std::string(::gai_strerror(code)), ResolverErrorText(code)) << code;
}

TEST(TcpAppServer, ServerClosingDuringTheCall_RaisesAndTheNextCallReconnects) {
  std::atomic<int> served{0};
  TScriptedServer server([&](int fd) {
    uint32_t msgid;
    std::string method;
    if (served++ == 0) {
      ReadRequest(fd, msgid, method);
      SendAll(fd, DataReply(msgid, {}).substr(0, 10));  // half a reply, then gone
      return;
    }
    while (ReadRequest(fd, msgid, method)) SendAll(fd, DataReply(msgid, {}));
  });
  auto client = Client(server.Port());
  std::vector<TRemoteArg> args;
  const std::string message = MessageOf([&] { client.Invoke("GetFilSoli", args); });
  EXPECT_NE(std::string::npos, message.find("foi encerrada durante a chamada")) << message;
  EXPECT_NE(std::string::npos, message.find("127.0.0.1:" + std::to_string(server.Port())));
  EXPECT_EQ(1u, client.Invoke("GetFilSoli", args).Data.RowCount());
}

TEST(TcpAppServer, IdleConnectionClosedByTheServer_IsReplacedBeforeSending) {
  // The server answers one call per connection and then hangs up, as a restarted server would.
  TScriptedServer server([](int fd) {
    uint32_t msgid;
    std::string method;
    if (ReadRequest(fd, msgid, method)) SendAll(fd, DataReply(msgid, {}));
  });
  auto client = Client(server.Port());
  std::vector<TRemoteArg> args;
  client.Invoke("GetFilSoli", args);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_NO_THROW(client.Invoke("GetFilSoli", args));
  EXPECT_EQ(2, server.Connections());
}

TEST(TcpAppServer, ReplyThatIsNotAPacket_RaisesAndClosesTheConnection) {
  const std::vector<std::function<std::string(uint32_t)>> replies = {
      [](uint32_t msgid) {  // data that is a number
        std::string bytes;
        TWireWriter w(bytes);
        w.Array(4);
        w.Unsigned(1);
        w.Unsigned(msgid);
        w.Nil();
        w.Map(1);
        w.Str("data");
        w.Unsigned(42);
        return bytes;
      },
      [](uint32_t) { return std::string("\xc1\xc1\xc1", 3); },  // not MessagePack
      [](uint32_t msgid) { return DataReply(msgid + 1, {}); },  // someone else's answer
      [](uint32_t msgid) {
        return DataReply(msgid, {"a", "b"});
      },  // refs for 2 of 1 params
  };
  for (size_t i = 0; i < replies.size(); ++i) {
    TScriptedServer server(Answering(replies[i]));
    auto client = Client(server.Port());
    std::vector<TRemoteArg> args = {TRemoteArg::FromInOut("x")};
    const std::string message = MessageOf([&] { client.Invoke("GetFilSoli", args); });
    EXPECT_NE(std::string::npos, message.find("Resposta inválida")) << i << ": " << message;
    EXPECT_EQ("x", args[0].Text) << i;
  }
}

TEST(TcpAppServer, RequestOverTheMessageLimit_IsRefusedWithoutSending) {
  TScriptedServer server(Answering([](uint32_t msgid) { return DataReply(msgid, {}); }));
  auto client = Client(server.Port());
  std::vector<TRemoteArg> args(2, TRemoteArg::FromInOut(std::string(33 * 1024 * 1024, 'x')));
  const std::string message = MessageOf([&] { client.Invoke("GetFilSoliGD", args); });
  EXPECT_NE(std::string::npos, message.find("64 MiB")) << message;
  args = {};
  EXPECT_EQ(1u, client.Invoke("GetFilSoli", args).Data.RowCount());
}

}  // namespace
}  // namespace fw
