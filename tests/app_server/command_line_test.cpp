// app-server's command line: the usage generated from the declarations names every option and
// every setting of the file, and a line that does not read is refused in Portuguese, with exit
// status 2, before anything is opened.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app_server/config/command_line.h"
#include "app_server/config/server_config.h"
#include "tests/app_server/fixture.h"

namespace testing_app {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(ServerConfig, TheUsage_NamesEverySettingAndCommand) {
  const std::string usage = app::Usage();
  EXPECT_EQ(0u, usage.find("app-server: ")) << usage;
  EXPECT_NE(std::string::npos, usage.find("Uso: app-server [OPÇÕES]")) << usage;
  for (const auto& setting : app::Settings()) {
    std::string option = std::string("--") + setting.Key;
    for (char& c : option)
      if (c == '_') c = '-';
    const std::string shown = setting.Flag ? option : option + " " + setting.Value;
    EXPECT_NE(std::string::npos, usage.find("  " + shown + " ")) << shown << "\n" << usage;
    EXPECT_NE(std::string(), setting.Help) << setting.Key;
  }
  for (const char* command :
       {"--config ARQUIVO", "--check-config", "--schema MOTOR", "--upgrade-schema",
        "--init-demo BANCO", "--seed N", "--scale N", "--add-user USUARIO", "--name NOME",
        "--disable-user USUARIO", "--unlock-user USUARIO", "--grant-branches USUARIO FILIAIS",
        "--grant-all-branches USUARIO", "--revoke-branches USUARIO",
        "--own-requests USUARIO sim|nao", "--operator USUARIO CODIGO", "--show-user USUARIO",
        "-h,--help"})
    EXPECT_NE(std::string::npos, usage.find("  " + std::string(command) + " ")) << command << "\n"
                                                                                << usage;
}

TEST(ServerConfig, ACommandLineThatDoesNotRead_IsAUsageErrorSaidInPortuguese) {
  TTempDir dir;
  struct TCase {
    std::vector<std::string> Arguments;
    std::string Said;
  };
  const std::vector<TCase> cases = {
      {{"--workers", "0"},
       "app-server: valor inválido para --workers: \"0\" (esperado um número de 1 a 256)"},
      {{"--db", "x.db", "--workers"}, "app-server: falta o valor de --workers"},
      {{"--db", "x.db", "--listen"}, "app-server: falta o valor de --listen"},
      {{"--bancos", "x.db"}, "app-server: opção desconhecida: --bancos"},
      {{"x.db"}, "app-server: opção desconhecida: x.db"},
      {{"--insecure=talvez"},
       "app-server: valor inválido para --insecure: \"talvez\" (esperado sim ou nao)"},
      {{"--seed", "semente"}, "app-server: valor inválido para --seed: semente"},
      {{"--schema", "oracle"},
       "app-server: --schema espera sqlite ou postgresql, recebeu \"oracle\""},
      {{"--grant-branches", "ana"}, "app-server: falta o valor de --grant-branches"},
      {{"--grant-branches", "ana", "0001", "--show-user", "ana", "--db", "x.db"},
       "app-server: use uma opção de escopo por vez"},
      {{"--show-user", "ana", "--show-user", "bia", "--db", "x.db"},
       "app-server: use uma opção de escopo por vez"},
      {{"--db", "x.db", "--init-demo", "y.db"}, "app-server: use --db ou --init-demo, não ambos"},
      {{"--upgrade-schema"}, "app-server: --upgrade-schema pede --db BANCO"},
  };
  int number = 0;
  for (const auto& each : cases) {
    const std::string log = dir.Path() + "/run" + std::to_string(++number) + ".log";
    std::string line;
    for (const auto& argument : each.Arguments) line += argument + " ";
    EXPECT_EQ(2, RunAppServer(each.Arguments, log, 20000)) << line << ReadAll(log);
    const std::string said = ReadAll(log);
    // The problem, then the usage.
    EXPECT_EQ(0u, said.find(each.Said + "\n\n")) << line << "\n" << said;
    EXPECT_NE(std::string::npos, said.find("Uso: app-server")) << line;
  }
  const std::string help = dir.Path() + "/help.log";
  EXPECT_EQ(0, RunAppServer({"--help"}, help, 20000));
  EXPECT_EQ(app::Usage(), ReadAll(help));
}

TEST(ServerConfig, AFlagOnTheCommandLine_TakesSimOrNaoOverTheFile) {
  TTempDir dir;
  const std::string db = dir.Path() + "/demo.db";
  MakeDemo(db, 3, 1);
  const std::string config = dir.Path() + "/app-server.conf";
  std::ofstream(config) << "db = " << db << "\nlisten = 0.0.0.0:0\ninsecure = sim\n";
  const std::string log = dir.Path() + "/check.log";
  EXPECT_EQ(0, RunAppServer({"--config", config, "--check-config"}, log, 20000)) << ReadAll(log);
  // --insecure=nao over the file's sim: cleartext beyond loopback is refused again.
  EXPECT_EQ(1, RunAppServer({"--config", config, "--check-config", "--insecure=nao"}, log, 20000))
      << ReadAll(log);
  EXPECT_EQ(0, RunAppServer({"--config", config, "--check-config", "--insecure"}, log, 20000))
      << ReadAll(log);
}

}  // namespace
}  // namespace testing_app
