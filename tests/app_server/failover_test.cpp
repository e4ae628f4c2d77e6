// Several application servers on one PostgreSQL database, and the host's connection moving
// between them: the list comes from the host's configuration, as the screens get it, and each
// call is made as the screens make theirs (through the connection component, which reads the
// server object afresh for every call).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "framework/host/config.h"
#include "framework/host/net_connection.h"
#include "framework/net/failover_app_server.h"
#include "protocol/contract.h"
#include "tests/app_server/fixture.h"

namespace testing_app {
namespace {

using fw::TRemoteArg;

// How many calls of `method` the server's log shows; the log is written every 100 ms, so this
// waits for it up to a second when fewer than `expected` are there.
int CallsInLog(const TServerProcess& server, const std::string& method, int expected) {
  int count = 0;
  for (int attempt = 0; attempt < 20; ++attempt) {
    const std::string log = server.Log();
    count = 0;
    for (size_t at = log.find(Full(method) + " "); at != std::string::npos;
         at = log.find(Full(method) + " ", at + 1))
      ++count;
    if (count >= expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return count;
}

struct TTwoServers {
  TTempDir Dir;
  TServerProcess First{Demo().Served, Dir.Path() + "/first.log"};
  TServerProcess Second{Demo().Served, Dir.Path() + "/second.log"};
  fw::TNetConnection Connection{nullptr, "netAcompSoli"};

  explicit TTwoServers(const std::string& first = {}) {
    fw::HostConfig().ServerHost =
        (first.empty() ? "127.0.0.1:" + std::to_string(First.Port()) : first) +
        ", 127.0.0.1:" + std::to_string(Second.Port());
    fw::HostConfig().Credentials = DemoLogin();
    Connection.ServerName = service::kServerName;
    Connection.BeforeConnect = [this](fw::TComponent*) {
      Connection.Host = fw::HostConfig().ServerHost;
      Connection.Port = fw::HostConfig().ServerPort;
    };
    Connection.SetConnected(true);
  }

  size_t Items() {
    auto args = Args("GetItens", {{"cdFilial", TRemoteArg::FromString("0001")}});
    return Connection.AppServer().Invoke("GetItens", args).Data.RowCount();
  }
};

size_t ExpectedItems() {
  return std::stoul(SqlValue(
      "SELECT COUNT(*) FROM ITEMSOLICITACAO I JOIN SOLICITACAO S USING (CDFILLAN, NRSOLICMP) "
      "WHERE S.CDFILIAL = '0001'"));
}

TEST(Failover, TheFirstServerStopped_TheUsersNextActionGoesThroughTheSecond) {
  TTwoServers servers;
  EXPECT_EQ(ExpectedItems(), servers.Items());
  EXPECT_EQ(1, CallsInLog(servers.First, "GetItens", 1));

  EXPECT_EQ(0, servers.First.Stop());
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // the user looks at the rows

  EXPECT_EQ(ExpectedItems(), servers.Items());
  EXPECT_EQ(1, CallsInLog(servers.Second, "GetItens", 1));
  EXPECT_EQ(ExpectedItems(), servers.Items());
  EXPECT_EQ(2, CallsInLog(servers.Second, "GetItens", 2));
}

TEST(Failover, ACallCutShortByTheServersEnd_IsNotRepeatedAndTheNextGoesToTheSecond) {
  TTwoServers servers;
  EXPECT_EQ(ExpectedItems(), servers.Items());
  servers.First.Pause();  // the call will be in flight when the server dies
  std::string message;
  std::thread call([&] {
    try {
      servers.Items();
    } catch (const fw::ERemoteError& error) {
      message = error.what();
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  servers.First.Signal(SIGKILL);
  call.join();
  EXPECT_NE(std::string::npos, message.find("foi encerrada durante a chamada")) << message;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(0, CallsInLog(servers.Second, "GetItens", 0));  // not repeated there

  EXPECT_EQ(ExpectedItems(), servers.Items());  // the next call, on the second
  EXPECT_EQ(1, CallsInLog(servers.Second, "GetItens", 1));
}

TEST(Failover, ConnectingTriesTheServersInOrder_AndNamesEachWhenNoneAnswers) {
  // A port nobody listens on: a stopped server's.
  int closedPort = 0;
  {
    TTempDir dir;
    TServerProcess gone(Demo().Served, dir.Path() + "/gone.log");
    closedPort = gone.Port();
  }
  TTwoServers servers("127.0.0.1:" + std::to_string(closedPort));
  EXPECT_EQ(ExpectedItems(), servers.Items());
  EXPECT_EQ(1, CallsInLog(servers.Second, "GetItens", 1));

  fw::TFailoverAppServer none(
      fw::ParseServerList("127.0.0.1:" + std::to_string(closedPort) + ",127.0.0.1:1", 0),
      service::kServerName);
  try {
    none.Connect();
    ADD_FAILURE() << "connected to nothing";
  } catch (const fw::ERemoteError& error) {
    const std::string text = error.what();
    EXPECT_EQ(0u, text.find("Nenhum servidor de aplicação respondeu.")) << text;
    EXPECT_NE(std::string::npos, text.find("127.0.0.1:" + std::to_string(closedPort))) << text;
    EXPECT_NE(std::string::npos, text.find("127.0.0.1:1 ")) << text;
  }
}

TEST(Failover, TheServerList_IsReadAsTheConfigurationWritesIt) {
  const auto servers = fw::ParseServerList(" app1:7450, app2 ,[::1]:7451,::1, ", 7460);
  ASSERT_EQ(4u, servers.size());
  EXPECT_EQ("app1", servers[0].Host);
  EXPECT_EQ(7450, servers[0].Port);
  EXPECT_EQ("app2", servers[1].Host);
  EXPECT_EQ(7460, servers[1].Port);
  EXPECT_EQ("::1", servers[2].Host);
  EXPECT_EQ(7451, servers[2].Port);
  EXPECT_EQ("::1", servers[3].Host);
  EXPECT_EQ(7460, servers[3].Port);
  for (const char* bad : {"", " , ", "app1:0", "app1:70000", "app1:x", ":7450", "[::1"})
    EXPECT_THROW(fw::ParseServerList(bad, 7450), fw::ERemoteError) << bad;
  // Without a default, every entry needs its port (the driver's --service).
  EXPECT_THROW(fw::ParseServerList("app1:7450,app2", 0), fw::ERemoteError);
}

}  // namespace
}  // namespace testing_app
