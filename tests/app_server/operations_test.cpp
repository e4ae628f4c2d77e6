// What a site's operators meet: the configuration file (its errors by line, the command line
// over it, --check-config), and the metrics and health endpoint of a running server, read over
// HTTP as a scraper and a load balancer read them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "app_server/config/server_config.h"
#include "protocol/contract.h"
#include "tests/app_server/fixture.h"
#include "tests/app_server/metrics_client.h"

namespace testing_app {
namespace {

using namespace std::chrono_literals;

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The message a file's text is refused with ("" when it reads).
std::string FileError(const std::string& text) {
  TTempDir dir;
  const std::string path = dir.Path() + "/app-server.conf";
  WriteFile(path, text);
  app::TServerSettings settings;
  try {
    app::ReadSettingsFile(path, settings);
  } catch (const app::ESettingError& failure) {
    const std::string message = failure.what();
    // Paths differ from run to run: keep what follows the file's name.
    const size_t at = message.find(path);
    return at == std::string::npos ? message : message.substr(at + path.size());
  }
  return "";
}

TEST(ServerConfig, ARefusedLine_IsNamedByItsNumberAndWhy) {
  EXPECT_EQ(", linha 3: chave desconhecida: max_conections",
            FileError("# comentário\n\nmax_conections = 10\n"));
  EXPECT_EQ(", linha 2: valor inválido para workers: \"muitos\" (esperado um número de 1 a 256)",
            FileError("db = x.db\nworkers = muitos\n"));
  EXPECT_EQ(
      ", linha 1: valor inválido para max_connections: \"0\" (esperado um número de 1 a "
      "1000000)",
      FileError("max_connections = 0\n"));
  EXPECT_EQ(", linha 2: valor inválido para insecure: \"talvez\" (esperado sim ou nao)",
            FileError("db = x.db\n  insecure = talvez\n"));
  EXPECT_EQ(", linha 4: workers já foi dada na linha 1",
            FileError("workers = 2\n#\n\nworkers = 3\n"));
  EXPECT_EQ(", linha 1: esperado chave = valor, veio \"workers 2\"", FileError("workers 2\n"));
  // The command line's spelling is pointed at the file's.
  EXPECT_EQ(", linha 1: chave desconhecida: max-connections (no arquivo: max_connections)",
            FileError("max-connections = 10\n"));
  EXPECT_EQ(", linha 1: valor inválido para listen: \"7450\" (esperado HOST:PORTA)",
            FileError("listen = 7450\r\n"));
  EXPECT_EQ(
      ", linha 1: valor inválido para log_level: \"verboso\" (esperado erro, aviso, nota "
      "ou info)",
      FileError("log_level = verboso\n"));
}

TEST(ServerConfig, AGoodFile_SetsEveryKindOfValue) {
  TTempDir dir;
  const std::string path = dir.Path() + "/app-server.conf";
  WriteFile(path,
            "db = \"host=db1 dbname=compras # não é comentário\"\n"
            "listen = [::1]:7451\n"
            "   # indented comment\n"
            "insecure = nao\n"
            "max_pending_mib = 3\n"
            "query_timeout = 7\n"
            "max_login_failures = 5\n"
            "metrics = 9451\n"
            "log_level = aviso\n");
  app::TServerSettings settings;
  app::ReadSettingsFile(path, settings);
  EXPECT_EQ("host=db1 dbname=compras # não é comentário", settings.Database);
  EXPECT_EQ("::1", settings.Server.Host);
  EXPECT_EQ(7451, settings.Server.Port);
  EXPECT_FALSE(settings.Server.AllowInsecure);
  EXPECT_EQ(3u * 1024 * 1024, settings.Server.MaxPendingBytes);
  EXPECT_EQ(7000, settings.Service.QueryTimeLimitMs);
  EXPECT_EQ(5, settings.Throttle.MaxFailures);
  EXPECT_EQ("127.0.0.1", settings.MetricsHost);
  EXPECT_EQ(9451, settings.MetricsPort);
  EXPECT_EQ(app::TLogPriority::Warning, settings.LogLevel);

  // A SIGHUP re-reading it: the limits change now, the address waits for a restart.
  app::TServerSettings after = settings;
  app::ApplySetting(after, "max_connections", "10");
  app::ApplySetting(after, "listen", "127.0.0.1:7451");
  EXPECT_EQ(std::vector<std::string>{"listen"}, app::ChangesNeedingRestart(settings, after));
}

TEST(ServerConfig, TheCommandLineOverridesTheFile_AndABadFileStopsTheStartWithItsLine) {
  TTempDir dir;
  const std::string db = dir.Path() + "/demo.db";
  MakeDemo(db, 3, 1);
  const std::string config = dir.Path() + "/app-server.conf";
  // The file's database does not exist and its address is taken by the test's: the command
  // line's --db and --listen (TServerProcess's) must win.
  WriteFile(config, "db = " + dir.Path() + "/nao-existe.db\nlisten = 127.0.0.1:1\nworkers = 2\n");
  {
    TServerProcess server(db, dir.Path() + "/server.log", {"--config", config});
    EXPECT_NE(std::string::npos, server.Banner().find("2 workers")) << server.Banner();
    EXPECT_NE(std::string::npos, server.Banner().find("demo.db")) << server.Banner();
    TRawClient raw(server.Port());
    raw.Login();
    raw.Send(RequestBytes(2, std::string(service::kServerName) + ".GetFilSoli", {}));
    EXPECT_FALSE(raw.Read().Failed);
    EXPECT_EQ(0, server.Stop());
  }

  WriteFile(config, "db = " + db + "\n\nlisten = 127.0.0.1:0\nmax_queued_queries = -1\n");
  const std::string log = dir.Path() + "/bad.log";
  EXPECT_EQ(2, RunAppServer({"--config", config}, log, 20000));
  EXPECT_NE(std::string::npos,
            ReadAll(log).find(config + ", linha 4: valor inválido para max_queued_queries"))
      << ReadAll(log);
  // A mistyped option stays a usage error, whatever the file.
  EXPECT_EQ(2, RunAppServer({"--config", config, "--workers", "0"}, log, 20000));
  // A --config that is not there is refused, not taken as none.
  EXPECT_EQ(2, RunAppServer({"--config", dir.Path() + "/outro.conf", "--db", db}, log, 20000));
}

TEST(ServerConfig, CheckConfig_TriesTheDatabaseAndExits) {
  TTempDir dir;
  const std::string db = dir.Path() + "/demo.db";
  MakeDemo(db, 3, 1);
  const std::string config = dir.Path() + "/app-server.conf";
  WriteFile(config, "db = " + db + "\nlisten = 127.0.0.1:0\nmetrics = 127.0.0.1:0\n");
  const std::string log = dir.Path() + "/check.log";
  EXPECT_EQ(0, RunAppServer({"--config", config, "--check-config"}, log, 20000)) << ReadAll(log);
  EXPECT_NE(std::string::npos, ReadAll(log).find("configuração válida")) << ReadAll(log);

  // A database that does not answer fails the check, saying which.
  WriteFile(config, "db = " + dir.Path() + "/vazio.db\n");
  WriteFile(dir.Path() + "/vazio.db", "");
  EXPECT_EQ(1, RunAppServer({"--config", config, "--check-config"}, log, 20000));
  EXPECT_NE(std::string::npos, ReadAll(log).find("vazio.db")) << ReadAll(log);
  // Cleartext beyond loopback is refused by the check as the start would refuse it.
  WriteFile(config, "db = " + db + "\nlisten = 0.0.0.0:0\n");
  EXPECT_EQ(1, RunAppServer({"--config", config, "--check-config"}, log, 20000));
  EXPECT_EQ(0, RunAppServer({"--config", config, "--check-config", "--insecure"}, log, 20000));
}

TEST(ServerConfig, Sighup_RereadsTheLogLevelAndLimitsAndKeepsServing) {
  TTempDir dir;
  const std::string db = dir.Path() + "/demo.db";
  MakeDemo(db, 3, 1);
  const std::string config = dir.Path() + "/app-server.conf";
  WriteFile(config, "log_level = info\nmax_connections = 50\n");
  TServerProcess server(db, dir.Path() + "/server.log", {"--config", config});
  const std::string method = std::string(service::kServerName) + ".GetFilSoli";
  TRawClient raw(server.Port());
  raw.Login();
  raw.Send(RequestBytes(2, method, {}));
  EXPECT_FALSE(raw.Read().Failed);

  // Warnings only from now on; the address in the file cannot change until a restart.
  WriteFile(config, "log_level = aviso\nmax_connections = 40\nworkers = 3\n");
  server.Signal(SIGHUP);
  std::string log;
  for (int i = 0; i < 50 && log.find("configuração relida") == std::string::npos; ++i) {
    std::this_thread::sleep_for(100ms);
    log = server.Log();
  }
  ASSERT_NE(std::string::npos, log.find("configuração relida")) << log;
  EXPECT_NE(std::string::npos, log.find("workers mudou na configuração")) << log;
  const size_t reread = log.size();
  raw.Send(RequestBytes(3, method, {}));
  EXPECT_FALSE(raw.Read().Failed);

  // A file that no longer reads changes nothing, and the server goes on.
  WriteFile(config, "log_level = muito\n");
  server.Signal(SIGHUP);
  for (int i = 0; i < 50 && log.find("não relida") == std::string::npos; ++i) {
    std::this_thread::sleep_for(100ms);
    log = server.Log();
  }
  EXPECT_NE(std::string::npos, log.find("linha 1")) << log;
  raw.Send(RequestBytes(4, method, {}));
  EXPECT_FALSE(raw.Read().Failed);
  EXPECT_EQ(0, server.Stop());
  log = server.Log();
  // The calls after the first re-reading were not logged: info is below the level.
  EXPECT_NE(std::string::npos, log.find("GetFilSoli")) << log;
  EXPECT_EQ(std::string::npos, log.find("GetFilSoli", reread)) << log;
}

TEST(Metrics, ACallAndALogin_MoveTheirSeries) {
  TTempDir dir;
  const std::string db = dir.Path() + "/demo.db";
  MakeDemo(db, 3, 1);
  TServerProcess server(db, dir.Path() + "/server.log", {"--metrics", "127.0.0.1:0"});
  const int port = MetricsPort(server);
  const std::string method = std::string(service::kServerName) + ".GetFilSoli";
  const std::string calls = "acomp_rpc_calls_total{method=\"" + method + "\"}";
  const std::string count = "acomp_rpc_duration_seconds_count{method=\"" + method + "\"}";
  const std::string slowest =
      "acomp_rpc_duration_seconds_bucket{method=\"" + method + "\",le=\"+Inf\"}";
  const std::string accepted = "acomp_logins_total{result=\"aceito\"}";
  const std::string refused = "acomp_logins_total{result=\"recusado\"}";

  const auto [status, before] = HttpGet(port, "/metrics");
  ASSERT_EQ(200, status);
  EXPECT_NE(std::string::npos, before.find("# TYPE acomp_rpc_duration_seconds histogram"));
  EXPECT_NE(std::string::npos, before.find("acomp_build_info{version=\""));
  EXPECT_EQ(0, Sample(before, calls)) << before;
  EXPECT_EQ(0, Sample(before, accepted));

  {
    TRawClient raw(server.Port());
    raw.Login();
    raw.Send(RequestBytes(7, method, {}));
    EXPECT_FALSE(raw.Read().Failed);
    raw.Send(RequestBytes(8, method, {}));
    EXPECT_FALSE(raw.Read().Failed);
    TRawClient wrong(server.Port());
    wrong.Send(LoginBytes(1, "demo", "errada"));
    EXPECT_TRUE(wrong.Read().Failed);
  }
  const auto [statusAfter, after] = HttpGet(port, "/metrics");
  ASSERT_EQ(200, statusAfter);
  EXPECT_EQ(2, Sample(after, calls)) << after;
  EXPECT_EQ(2, Sample(after, count));
  EXPECT_EQ(2, Sample(after, slowest));
  EXPECT_EQ(1, Sample(after, accepted));
  EXPECT_EQ(1, Sample(after, refused));
  EXPECT_EQ(0, Sample(after, "acomp_db_connections_in_use"));
  EXPECT_EQ(1, Sample(after, "acomp_db_up"));
  // A method no service has is counted apart, under one name whatever a client sends.
  {
    TRawClient raw(server.Port());
    raw.Login();
    raw.Send(RequestBytes(9, "Qualquer.Coisa", {}));
    EXPECT_TRUE(raw.Read().Failed);
  }
  const std::string other = HttpGet(port, "/metrics").second;
  EXPECT_EQ(std::string::npos, other.find("Qualquer.Coisa"));
  EXPECT_EQ(1, Sample(other, "acomp_rpc_calls_total{method=\"outro\"}")) << other;

  EXPECT_EQ(404, HttpGet(port, "/outra").first);
  EXPECT_EQ(0, server.Stop());
}

TEST(Metrics, Health_Turns503WhenTheDatabaseGoesAnd200WhenItIsBack) {
  TTempDir dir;
  const std::string db = dir.Path() + "/demo.db";
  MakeDemo(db, 3, 1);
  TServerProcess server(db, dir.Path() + "/server.log", {"--metrics", "127.0.0.1:0"});
  const int port = MetricsPort(server);
  EXPECT_EQ(200, HttpGet(port, "/health").first);

  std::filesystem::rename(db, db + ".fora");
  // An answer is kept for up to a second.
  std::pair<int, std::string> health;
  for (int i = 0; i < 40; ++i) {
    health = HttpGet(port, "/health");
    if (health.first == 503) break;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(503, health.first) << health.second;
  EXPECT_NE(std::string::npos, health.second.find("banco")) << health.second;
  EXPECT_EQ(0, Sample(HttpGet(port, "/metrics").second, "acomp_db_up"));

  std::filesystem::rename(db + ".fora", db);
  for (int i = 0; i < 40; ++i) {
    health = HttpGet(port, "/health");
    if (health.first == 200) break;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(200, health.first) << health.second;
  EXPECT_EQ(0, server.Stop());
}

}  // namespace
}  // namespace testing_app
