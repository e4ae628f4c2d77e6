// The session: transcript, checks, dialog answers, the canned service, modal screens and scripts
// that cannot run, driven against a small test form instead of the package.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "driver/session.h"
#include "framework/host/config.h"
#include "framework/host/services.h"
#include "framework/platform.h"

namespace driver {
namespace {

using fw::TRemoteArg;

// A modal screen with one edit; closing frees it when FreeOnClose is set.
class TItemForm : public fw::TForm {
 public:
  explicit TItemForm(fw::TComponent* owner) : TForm(owner, "frmItem") {
    SetCaption("Item");
    edtItem = Create<fw::TEdit>("edtItem");
    edtItem->SetParent(this);
    OnClose = [](fw::TComponent*, fw::TCloseAction& action) {
      if (FreeOnClose) action = fw::TCloseAction::caFree;
    };
  }
  fw::TEdit* edtItem;
  static inline bool FreeOnClose = false;
};

class TTestForm : public fw::TForm {
 public:
  explicit TTestForm(fw::TComponent* owner) : TForm(owner, "frmTeste") {
    SetCaption("Tela de teste");
    panFiltro = Create<fw::TPanel>("panFiltro");
    panFiltro->SetParent(this);
    edtNome = Create<fw::TEdit>("edtNome");
    edtNome->SetParent(panFiltro);
    edtNome->TabStop = true;
    rbtTodas = Create<fw::TRadioButton>("rbtTodas");
    rbtTodas->SetParent(panFiltro);
    rbtTodas->TabStop = true;
    rbtTodas->SetTabOrder(1);
    rbtLista = Create<fw::TRadioButton>("rbtLista");
    rbtLista->SetParent(panFiltro);
    lblTitulo = Create<fw::TLabel>("lblTitulo");
    lblTitulo->SetParent(this);
    lblTitulo->SetCaption("Cotações");

    cdsCotacao = Create<fw::TClientDataSet>("cdsCotacao");
    cdsCotacao->AddField("cdsCotacaoNRCOLEPRECO", "NRCOLEPRECO", fw::TFieldType::ftString, 10);
    cdsCotacao->AddField("cdsCotacaoIDSITUCOLETA", "IDSITUCOLETA", fw::TFieldType::ftString, 1);
    cdsCotacao->AddField("cdsCotacaoNMOPERADOR", "NMOPERADOR", fw::TFieldType::ftString, 40);
    cdsCotacao->AddField("cdsCotacaoNMRAZSOCFORN", "NMRAZSOCFORN", fw::TFieldType::ftString, 40);
    cdsCotacao->AddField("cdsCotacaoVRPRECUNIITM", "VRPRECUNIITM", fw::TFieldType::ftFloat)
        ->DisplayFormat = "###,##0.000";
    dtsCotacao = Create<fw::TDataSource>("dtsCotacao");
    dtsCotacao->SetDataSet(cdsCotacao);
    dbgCotacao = Create<fw::TDBGrid>("dbgCotacao");
    dbgCotacao->SetParent(this);
    dbgCotacao->SetDataSource(dtsCotacao);
    dbgCotacao->Columns = {{"NRCOLEPRECO", "", -1}, {"VRPRECUNIITM", "", -1}};
    dbgCotacao->OnDblClick = [this](fw::TComponent*) {
      fw::Application->Platform()->ShowMessage("Coluna " +
                                               dbgCotacao->SelectedField()->FieldName());
    };

    sbtCarregar = Create<fw::TSpeedButton>("sbtCarregar");
    sbtCarregar->SetParent(this);
    sbtCarregar->OnClick = [this](fw::TComponent*) { Load(); };
    sbtSolicita = Create<fw::TSpeedButton>("sbtSolicita");
    sbtSolicita->SetParent(this);
    sbtSolicita->OnClick = [this](fw::TComponent*) { LoadRequests(); };
    sbtItem = Create<fw::TSpeedButton>("sbtItem");
    sbtItem->SetParent(this);
    sbtItem->OnClick = [this](fw::TComponent*) {
      TItemForm* item = nullptr;
      fw::Application->CreateForm(item);
      item->ShowModal();
      fw::Application->Platform()->ShowMessage("Voltou da tela de item.");
    };
    sbtDesligado = Create<fw::TSpeedButton>("sbtDesligado");
    sbtDesligado->SetParent(this);
    sbtDesligado->SetEnabled(false);
    sbtDesligado->OnClick = [](fw::TComponent*) {
      fw::Application->Platform()->ShowMessage("não devia");
    };
    sbtProcurar = Create<fw::TSpeedButton>("sbtProcurar");
    sbtProcurar->SetParent(this);
    sbtProcurar->OnClick = [this](fw::TComponent*) { fw::Procura(cdsCotacao); };

    mnuMenu = Create<fw::TMainMenu>("mnuMenu");
    mnuVerificar = Create<fw::TMenuItem>("mnuVerificar");
    mnuMenu->Items()->Add(mnuVerificar);
    mnuVerificar->SetCaption("&Verificar");
    mnuVerificar->SetEnabled(false);
    Menu = mnuMenu;
  }

  void Load() {
    fw::ActiveShowAvi(this, 6, "Carregando...");
    try {
      auto server = fw::HostConfig().ServiceFactory("localhost", 1, "CMP09500.rdmAcompSoli");
      std::vector<TRemoteArg> args = {TRemoteArg::FromString("0001"),
                                      TRemoteArg::FromString(edtNome->Text()),
                                      TRemoteArg::FromString("C1")};
      cdsCotacao->SetData(fw::CheckResultServ(server->Invoke("GetItemCota", args)));
    } catch (...) {
      fw::DeactiveShowAvi();
      throw;
    }
    fw::DeactiveShowAvi();
  }

  void LoadRequests() {
    auto server = fw::HostConfig().ServiceFactory("localhost", 1, "CMP09500.rdmAcompSoli");
    std::vector<TRemoteArg> args = {TRemoteArg::FromDate(45352),     TRemoteArg::FromDate(45352.5),
                                    TRemoteArg::FromInOut(stDtSoli), TRemoteArg::FromDate(0),
                                    TRemoteArg::FromDate(0),         TRemoteArg::FromInOut("T"),
                                    TRemoteArg::FromInOut(""),       TRemoteArg::FromInOut("T")};
    fw::CheckResultServ(server->Invoke("GetNrSolicita", args));
    stDtSoli = args[2].Text;
  }

  fw::TPanel* panFiltro;
  fw::TEdit* edtNome;
  fw::TRadioButton* rbtTodas;
  fw::TRadioButton* rbtLista;
  fw::TLabel* lblTitulo;
  fw::TClientDataSet* cdsCotacao;
  fw::TDataSource* dtsCotacao;
  fw::TDBGrid* dbgCotacao;
  fw::TSpeedButton* sbtCarregar;
  fw::TSpeedButton* sbtSolicita;
  fw::TSpeedButton* sbtItem;
  fw::TSpeedButton* sbtDesligado;
  fw::TSpeedButton* sbtProcurar;
  fw::TMainMenu* mnuMenu;
  fw::TMenuItem* mnuVerificar;
  std::string stDtSoli = "T";
};

struct TRun {
  int Status = -1;
  std::string Out;
  std::optional<TScriptError> Error;
  std::vector<std::string> PickerAnswers;  // what the platform still held at the end
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { TItemForm::FreeOnClose = false; }

  TRun Run(const std::string& script, TSession::TService service = TSession::TService::Canned,
           bool withVariables = true) {
    TTestForm* form = nullptr;
    TModuleHooks hooks;
    hooks.Start = [&form] {
      if (!form) fw::Application->CreateForm(form);
      form->Show();
    };
    hooks.RequestScreen = [&form]() -> fw::TForm* { return form; };
    if (withVariables)
      hooks.ReadVariable = [&form](const std::string& name) -> std::optional<std::string> {
        if (name == "stDtSoli" && form) return form->stDtSoli;
        if (name == "boVD") return std::string("true");
        return std::nullopt;
      };
    std::ostringstream out;
    TRun run;
    {
      TSession session(out, hooks, service);
      if (service == TSession::TService::Remote)
        fw::HostConfig().ServiceFactory = [&session](const std::string&, int, const std::string&) {
          return session.Record(session.Canned().Connect());
        };
      run.Status = session.Run(ParseScript(script));
      run.Error = session.ScriptError();
    }
    run.Out = out.str();
    return run;
  }
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(SessionTest, Transcript_EchoesCommandsThenTheirEventsInOrder) {
  const TRun run =
      Run("start  # abre\n"
          "type edtNome P1\n"
          "focus dbgCotacao\n"
          "expect focus dbgCotacao\n");
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out,
            "> start\n"
            "  form shown: Tela de teste\n"
            "  focus: edtNome\n"
            "> type edtNome P1\n"
            "> focus dbgCotacao\n"
            "  focus: dbgCotacao\n"
            "> expect focus dbgCotacao\n");
}

TEST_F(SessionTest, FailedChecks_ArePrintedWithTheirLineAndTheRunGoesOn) {
  const TRun run =
      Run("start\n"
          "expect text lblTitulo Cotações\n"
          "expect text lblTitulo Produtos\n"
          "expect form \"Outra tela\"\n"
          "type edtNome x\n"
          "expect text edtNome x\n");
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(Contains(run.Out, "FAIL line 3: expected text \"Produtos\", got \"Cotações\"\n"));
  EXPECT_TRUE(
      Contains(run.Out, "FAIL line 4: expected form \"Outra tela\", got \"Tela de teste\""));
  EXPECT_TRUE(Contains(run.Out, "> type edtNome x\n"));
  EXPECT_FALSE(Contains(run.Out, "line 6"));
}

TEST_F(SessionTest, UnknownNames_StopTheScriptWithStatusTwoAndTheLine) {
  struct Case {
    std::string Script;
    int Line;
    std::string MessagePart;
  };
  const Case cases[] = {
      {"start\nclick sbtNada\nstart\n", 2, "no 'sbtNada' on the active form"},
      {"start\ntype lblTitulo x\n", 2, "'lblTitulo' is not an edit"},
      {"start\nexpect rows dbgCotacao 1\n", 2, "'dbgCotacao' is not a data set"},
      {"start\nexpect checked edtNome yes\n", 2, "is not a radio button"},
      {"start\ncolumn dbgCotacao NMOPERADOR\n", 2, "has no column of field 'NMOPERADOR'"},
      {"start\nexpect cell dbgCotacao 1 CDFOO x\n", 2, "has no column of field 'CDFOO'"},
      {"click sbtCarregar\n", 1, "no form is open"},
      {"start\nrow dbgCotacao 1\n", 2, "row 1 out of range: dbgCotacao shows 0 rows"},
      {"start\nexpect focus edtNada\n", 2, "no 'edtNada' on any open form"},
      {"open\n", 1, "no module to open"},
  };
  for (const auto& c : cases) {
    const TRun run = Run(c.Script);
    EXPECT_EQ(run.Status, 2) << c.Script;
    ASSERT_TRUE(run.Error) << c.Script;
    EXPECT_EQ(run.Error->Line(), c.Line) << c.Script;
    EXPECT_TRUE(Contains(run.Error->what(), c.MessagePart))
        << c.Script << " -> " << run.Error->what();
    EXPECT_TRUE(Contains(run.Out, "ERROR line " + std::to_string(c.Line) + ": ")) << run.Out;
    const size_t lastLine = run.Out.rfind('\n', run.Out.size() - 2) + 1;
    EXPECT_EQ(run.Out.compare(lastLine, 6, "ERROR "), 0) << "nothing runs after: " << run.Out;
  }
}

TEST_F(SessionTest, ServeRows_AreLoadedAndShownAsTheGridDisplaysThem) {
  const TRun run =
      Run("serve GetItemCota\n"
          "NRCOLEPRECO | VRPRECUNIITM\n"
          "C1 | 1234.5\n"
          "C2 |\n"
          "end\n"
          "start\n"
          "type edtNome P1\n"
          "click sbtCarregar\n"
          "expect rows cdsCotacao 2\n"
          "expect cell dbgCotacao 1 VRPRECUNIITM 1.234,500\n"
          "expect cell dbgCotacao 2 VRPRECUNIITM \"\"\n"
          "expect cell dbgCotacao 3 NRCOLEPRECO C3\n"
          "expect current cdsCotacao 1\n"
          "row dbgCotacao 2\n"
          "expect current cdsCotacao 2\n"
          "expect calls GetItemCota\n"
          "expect arg GetItemCota cdProduto P1\n"
          "expect busy 1\n"
          "expect caption Carregando...\n"
          "expect busy-off\n");
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(Contains(run.Out,
                       "  busy shown: \"Carregando...\"\n"
                       "  call GetItemCota(cdFilial=\"0001\", cdProduto=\"P1\", "
                       "nrColePreco=\"C1\") -> 2 rows\n"
                       "  busy hidden\n"));
  EXPECT_TRUE(Contains(run.Out, "FAIL line 12: expected \"C3\" in row 3, got no row 3 (2 rows)"));
  EXPECT_EQ(run.Out.find("FAIL"), run.Out.rfind("FAIL")) << "one failure only: " << run.Out;
}

std::string ReadAll(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t read; pipe && (read = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    text.append(buffer, read);
  if (pipe) pclose(pipe);
  return text;
}

// `export GRID FILE`: what the host's grid menu writes, so that a script can check it; a path
// that cannot be written is the message a user would see, and the run goes on.
TEST_F(SessionTest, Export_WritesTheGridAsShown_AFailureIsAMessage) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("driver-export-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string csv = (dir / "cotacoes.csv").string();
  const std::string xlsx = (dir / "cotacoes.xlsx").string();
  const std::string missing = (dir / "nao" / "existe.xlsx").string();
  const TRun run =
      Run("serve GetItemCota\n"
          "NRCOLEPRECO | VRPRECUNIITM\n"
          "C1 | 1234.5\n"
          "C2 |\n"
          "end\n"
          "start\n"
          "click sbtCarregar\n"
          "row dbgCotacao 2\n"
          "export dbgCotacao " +
          csv +
          "\n"
          "export dbgCotacao " +
          xlsx +
          "\n"
          "expect no-message\n"
          "expect current cdsCotacao 2\n"
          "export dbgCotacao " +
          missing +
          "\n"
          "expect message \"Não foi possível gravar o arquivo " +
          missing + ": a pasta não existe.\"\n");
  EXPECT_EQ(0, run.Status) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "> export dbgCotacao " + csv + "\n  exported 2 rows to " + csv))
      << run.Out;

  std::ifstream in(csv, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ("\xEF\xBB\xBFNRCOLEPRECO;VRPRECUNIITM\r\nC1;1234,500\r\nC2;\r\n", written);
  const std::string sheet = ReadAll("unzip -p '" + xlsx + "' xl/worksheets/sheet1.xml");
  EXPECT_NE(std::string::npos, sheet.find("<v>1234.5</v>")) << sheet;
  EXPECT_FALSE(fs::exists(dir / "nao"));
  fs::remove_all(dir);
}

TEST_F(SessionTest, CallChecks_CountOnlyCallsSinceThePreviousCheck) {
  const TRun run =
      Run("start\n"
          "click sbtCarregar\n"
          "click sbtCarregar\n"
          "expect calls GetItemCota GetItemCota\n"
          "expect calls\n"
          "click sbtCarregar\n"
          "expect calls GetItemCota GetItemCota\n");
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(Contains(run.Out,
                       "FAIL line 7: expected calls GetItemCota GetItemCota, got "
                       "GetItemCota\n"));
  EXPECT_FALSE(Contains(run.Out, "line 5"));
}

TEST_F(SessionTest, DateArguments_ArePrintedAndComparedAsDates) {
  const TRun run =
      Run("start\n"
          "refs GetNrSolicita stDtSoli=X\n"
          "click sbtSolicita\n"
          "expect arg GetNrSolicita dtSoliIni 01/03/2024\n"
          "expect arg GetNrSolicita dtSoliFin \"01/03/2024 12:00:00\"\n"
          "expect arg GetNrSolicita dtEntrIni 30/12/1899\n"
          "expect arg GetNrSolicita stDtSoli T\n"
          "expect var stDtSoli X\n"
          "expect arg GetNrSolicita dtEntrFin 31/12/1899\n");
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(Contains(run.Out,
                       "  call GetNrSolicita(dtSoliIni=01/03/2024, dtSoliFin=01/03/2024 12:00:00, "
                       "stDtSoli=\"T\", dtEntrIni=30/12/1899, dtEntrFin=30/12/1899, "
                       "stDtEntr=\"T\", stLFilSoli=\"\", stTFilSoli=\"T\") -> 0 rows; "
                       "stDtSoli := \"X\"\n"));
  EXPECT_TRUE(Contains(run.Out,
                       "FAIL line 9: expected GetNrSolicita dtEntrFin = 31/12/1899, got "
                       "\"30/12/1899\""));
}

TEST_F(SessionTest, RefusalsAndTransportErrors_AreCallOutcomesAndShownMessages) {
  const TRun run =
      Run("start\n"
          "fail GetItemCota \"Lista ilegível.\"\n"
          "error GetItemCota \"Conexão perdida.\"\n"
          "click sbtCarregar\n"
          "expect message \"Lista ilegível.\"\n"
          "expect busy-off\n"
          "click sbtCarregar\n"
          "expect message-like perdida\n"
          "click sbtCarregar\n"
          "expect no-message\n"
          "expect calls GetItemCota GetItemCota GetItemCota\n");
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_TRUE(Contains(run.Out,
                       "nrColePreco=\"C1\") -> refused: Lista ilegível.\n"
                       "  message: Lista ilegível.\n"
                       "  busy hidden\n"));
  EXPECT_TRUE(Contains(run.Out, "-> error: Conexão perdida.\n"));
  EXPECT_TRUE(Contains(run.Out, "-> 0 rows\n"));
}

TEST_F(SessionTest, MessageChecks_LookOnlyAtMessagesSinceThePreviousOne) {
  const TRun run =
      Run("start\n"
          "expect no-message\n"
          "fail GetItemCota Primeira\n"
          "click sbtCarregar\n"
          "fail GetItemCota Segunda\n"
          "click sbtCarregar\n"
          "expect message Segunda\n"
          "expect message Segunda\n"
          "expect message-like Terceira\n");
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(Contains(run.Out, "FAIL line 8: expected message \"Segunda\", got no message\n"));
  EXPECT_TRUE(
      Contains(run.Out, "FAIL line 9: expected message containing \"Terceira\", got no message\n"));
}

TEST_F(SessionTest, ModalScreen_ReadsTheScriptUntilItsCloseThenTheCallerGoesOn) {
  for (bool freeOnClose : {false, true}) {
    TItemForm::FreeOnClose = freeOnClose;
    const TRun run =
        Run("start\n"
            "click sbtItem\n"
            "expect form Item\n"
            "type edtItem abc\n"
            "expect text edtItem abc\n"
            "close\n"
            "expect form \"Tela de teste\"\n"
            "expect message \"Voltou da tela de item.\"\n");
    EXPECT_EQ(run.Status, 0) << run.Out;
    EXPECT_TRUE(Contains(run.Out,
                         "> click sbtItem\n"
                         "  focus: (none)\n"
                         "  focus: edtItem\n"
                         "  form shown modally: Item\n"
                         "> expect form Item\n"
                         "> type edtItem abc\n"
                         "> expect text edtItem abc\n"
                         "> close\n"
                         "  form closed: Item\n"
                         "  focus: edtNome\n"
                         "  message: Voltou da tela de item.\n"
                         "> expect form \"Tela de teste\"\n"))
        << run.Out;
  }
}

TEST_F(SessionTest, ModalScreen_ScriptErrorInsideItEndsTheRunCleanly) {
  TItemForm::FreeOnClose = true;
  const TRun run =
      Run("start\n"
          "click sbtItem\n"
          "click sbtNada\n"
          "close\n"
          "start\n");
  EXPECT_EQ(run.Status, 2);
  ASSERT_TRUE(run.Error);
  EXPECT_EQ(run.Error->Line(), 3);
  EXPECT_FALSE(Contains(run.Out, "Voltou")) << "nothing is printed after the error";
  EXPECT_FALSE(Contains(run.Out, "> close"));
}

TEST_F(SessionTest, ModalScreen_LeftOpenWhenTheScriptEnds) {
  const TRun run = Run("start\nclick sbtItem\nexpect form Item\n");
  EXPECT_EQ(run.Status, 0);
  EXPECT_TRUE(Contains(run.Out, "  message: Voltou da tela de item.\n"));
}

TEST_F(SessionTest, DisabledControls_IgnoreTheUserAndItIsPrinted) {
  const TRun run =
      Run("start\n"
          "click sbtDesligado\n"
          "click mnuVerificar\n"
          "expect enabled sbtDesligado no\n"
          "expect enabled mnuVerificar no\n"
          "expect enabled sbtCarregar yes\n"
          "expect no-message\n");
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "> click sbtDesligado\n  ignored: sbtDesligado is disabled\n"));
  EXPECT_TRUE(Contains(run.Out, "> click mnuVerificar\n  ignored: mnuVerificar is disabled\n"));
}

TEST_F(SessionTest, RadioButtons_TakeTheFocusAndCheck) {
  const TRun run =
      Run("start\n"
          "click rbtLista\n"
          "expect checked rbtLista yes\n"
          "expect checked rbtTodas no\n"
          "expect focus rbtLista\n"
          "expect checked rbtTodas yes\n");
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(Contains(run.Out, "FAIL line 6: expected checked yes, got no\n"));
}

TEST_F(SessionTest, DialogAnswers_AreQueuedAndUnansweredSearchesCancelled) {
  const TRun run =
      Run("serve GetItemCota\n"
          "NRCOLEPRECO|VRPRECUNIITM\n"
          "C1|1\n"
          "C2|2.5\n"
          "end\n"
          "start\n"
          "click sbtCarregar\n"
          "find VRPRECUNIITM 2,500\n"
          "click sbtProcurar\n"
          "expect current cdsCotacao 2\n"
          "click sbtProcurar\n"
          "expect current cdsCotacao 2\n"
          "find NRCOLEPRECO C9\n"
          "click sbtProcurar\n"
          "expect message \"Registro não encontrado.\"\n");
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "  search opened: cdsCotacao\n  search: VRPRECUNIITM = 2,500\n"));
  EXPECT_TRUE(Contains(run.Out, "  search opened: cdsCotacao\n  search cancelled\n"));
}

TEST_F(SessionTest, ColumnAndDoubleClick_SelectTheFieldFirst) {
  const TRun run =
      Run("start\n"
          "dblclick dbgCotacao VRPRECUNIITM\n"
          "expect message \"Coluna VRPRECUNIITM\"\n"
          "column dbgCotacao NRCOLEPRECO\n"
          "dblclick dbgCotacao\n"
          "expect message \"Coluna NRCOLEPRECO\"\n");
  EXPECT_EQ(run.Status, 0) << run.Out;
}

TEST_F(SessionTest, Keys_ReachTheControlAfterItTakesTheFocus) {
  const TRun run =
      Run("start\n"
          "type edtNome ab\n"
          "key edtNome c\n"
          "key edtNome d shift\n"
          "key edtNome 7\n"
          "expect text edtNome abcD7\n"
          "key edtNome Tab\n"
          "expect focus rbtTodas\n");
  EXPECT_EQ(run.Status, 0) << run.Out;
}

TEST_F(SessionTest, Variables_NeedTheModuleHooks) {
  const TRun run = Run("start\nexpect var boVD true\nexpect var stDtSoli X\n");
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(Contains(run.Out, "FAIL line 3: expected stDtSoli = \"X\", got \"T\""));
  const TRun without = Run("start\nexpect var boVD true\n", TSession::TService::Canned, false);
  EXPECT_EQ(without.Status, 2);
  const TRun unreadable = Run("start\nexpect var stTFilSoli T\n");
  EXPECT_TRUE(Contains(unreadable.Out, "got (no request screen)"));
}

TEST_F(SessionTest, RemoteService_RefusesCannedCommands) {
  for (const char* line : {"serve GetFilSoli empty", "fail GetItens x", "error GetItens x",
                           "refs GetItens stDtSoli=T"}) {
    const TRun run = Run(std::string("start\n") + line + "\n", TSession::TService::Remote);
    EXPECT_EQ(run.Status, 2) << line;
    EXPECT_TRUE(Contains(run.Out, "ERROR line 2: ")) << line;
  }
  // Calls through the remote service are recorded all the same.
  const TRun run =
      Run("start\nclick sbtCarregar\nexpect calls GetItemCota\n", TSession::TService::Remote);
  EXPECT_EQ(run.Status, 0) << run.Out;
}

TEST_F(SessionTest, ActivateAndClose_WithoutAScreenAreIgnored) {
  const TRun run = Run("activate\nclose\nexpect cursor default\nexpect busy 0\n");
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out,
            "> activate\n  ignored: no request screen\n"
            "> close\n  ignored: no form is open\n"
            "> expect cursor default\n> expect busy 0\n");
}

}  // namespace
}  // namespace driver
