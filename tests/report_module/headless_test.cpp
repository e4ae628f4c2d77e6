// host-app --relatorio SUP00700 ... --pdf FILE, end to end: the real package loaded by the host's
// loader, a real app-server on a demo database, the PDF read back with pdftotext.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "tests/app_server/server_process.h"

namespace {

namespace fs = std::filesystem;
using testing_app::TServerProcess;
using testing_app::TTempDir;

struct TRun {
  int Status = -1;
  std::string Output;
};

std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

TRun Shell(const std::string& command) {
  TRun run;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  size_t read = 0;
  while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.Output.append(buffer, read);
  const int status = pclose(pipe);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class Headless : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TTempDir>();
    const std::string db = dir_->Path() + "/demo.db";
    ASSERT_EQ(0, testing_app::RunAppServer({"--init-demo", db}, dir_->Path() + "/init.log"));
    server_ = std::make_unique<TServerProcess>(db, dir_->Path() + "/server.log");
  }
  static void TearDownTestSuite() {
    server_.reset();
    dir_.reset();
  }

  TRun Report(const std::vector<std::string>& options, int port = 0) const {
    // A scheduled report logs in from the environment, as nobody is there to type.
    std::string command = "ACOMP_USUARIO=demo ACOMP_SENHA=demo " + Quote(HOST_APP_PATH) +
                          " --server 127.0.0.1:" + std::to_string(port ? port : server_->Port()) +
                          " --relatorio SUP00700";
    for (const std::string& option : options) {
      command += ' ';  // appended apart: GCC 12 at -O3 sees a false overlap in " " + std::string
      command += Quote(option);
    }
    return Shell(command);
  }
  std::string Path(const std::string& name) const { return dir_->Path() + "/" + name; }

  static inline std::unique_ptr<TTempDir> dir_;
  static inline std::unique_ptr<TServerProcess> server_;
};

TEST_F(Headless, WritesThePdf_TitleAndBranchesInItsText) {
  const std::string pdf = Path("relatorio.pdf");
  const TRun run = Report(
      {"--de", "01/01/2024", "--ate", "30/06/2024", "--data-base", "28/06/2024", "--pdf", pdf});
  ASSERT_EQ(0, run.Status) << run.Output;
  EXPECT_NE(std::string::npos, run.Output.find("PDF em " + pdf)) << run.Output;
  const std::string text = Shell("pdftotext -layout " + Quote(pdf) + " -").Output;
  EXPECT_NE(std::string::npos, text.find("Relatório de Acompanhamento de Solicitações")) << text;
  EXPECT_NE(std::string::npos, text.find("Filial São Paulo - Centro")) << text;
  EXPECT_NE(std::string::npos, text.find("Filial Campinas")) << text;
  EXPECT_NE(std::string::npos, text.find("Solicitações de 01/01/2024 a 30/06/2024")) << text;
  EXPECT_NE(std::string::npos, text.find("Data-base: 28/06/2024")) << text;
  EXPECT_NE(std::string::npos, text.find("Página 1 de ")) << text;
}

TEST_F(Headless, BranchesAndStatuses_OnlyThoseInTheReport) {
  const std::string pdf = Path("campinas.pdf");
  const TRun run = Report({"--de", "01/01/2023", "--ate", "31/12/2024", "--filiais", "0002",
                           "--situacoes", "A,B", "--pdf", pdf});
  ASSERT_EQ(0, run.Status) << run.Output;
  const std::string text = Shell("pdftotext -layout " + Quote(pdf) + " -").Output;
  EXPECT_NE(std::string::npos, text.find("Filial Campinas"));
  EXPECT_EQ(std::string::npos, text.find("Filial São Paulo"));
  EXPECT_NE(std::string::npos, text.find("Situações: Aguardando Aprovação, Aguardando Cotação"));
  EXPECT_EQ(std::string::npos, text.find("Baixa Total"));
}

TEST_F(Headless, BadOptionsOrNoServer_StatusOneWithTheReason_NoFile) {
  const std::string pdf = Path("nao.pdf");
  struct TCase {
    std::vector<std::string> Options;
    const char* Says;
  };
  const std::vector<TCase> cases = {
      {{"--ate", "30/06/2024", "--pdf", pdf}, "Falta a data inicial (--de dd/mm/aaaa)."},
      {{"--de", "31/02/2024", "--ate", "30/06/2024", "--pdf", pdf},
       "Data inválida em --de: 31/02/2024 (esperado dd/mm/aaaa)."},
      {{"--de", "01/07/2024", "--ate", "30/06/2024", "--pdf", pdf},
       "A data inicial do período não pode ser posterior à final."},
      {{"--de", "01/01/2024", "--ate", "30/06/2024"}, "Falta o arquivo do relatório (--pdf"},
      {{"--de", "01/01/2024", "--ate", "30/06/2024", "--situacoes", "A,Z", "--pdf", pdf},
       "Situação desconhecida em --situacoes: Z."},
      {{"--de", "01/01/2024", "--ate", "30/06/2024", "--pdf", Path("nao-existe/r.pdf")},
       "Não foi possível gravar o PDF em "},
  };
  for (const TCase& test : cases) {
    const TRun run = Report(test.Options);
    EXPECT_EQ(1, run.Status) << run.Output;
    EXPECT_NE(std::string::npos, run.Output.find(test.Says)) << run.Output;
  }
  // A server that is not there: a port nobody listens on.
  TTempDir empty;
  const TRun down = Report({"--de", "01/01/2024", "--ate", "30/06/2024", "--pdf", pdf}, 1);
  EXPECT_EQ(1, down.Status);
  EXPECT_NE(std::string::npos, down.Output.find("Não foi possível conectar")) << down.Output;
  EXPECT_FALSE(fs::exists(pdf));
  EXPECT_FALSE(fs::exists(Path("nao-existe")));
}

}  // namespace
