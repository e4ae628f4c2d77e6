// A small form built the way the screens build theirs, bound and shown by the tests.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "framework/host/host_controls.h"
#include "framework/ui/application.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_platform.h"
#include "host_app/qt_widgets.h"

// Failed checks show Qt strings as text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace hostapp::testing {

inline fw::TDataPacket Packet(int rows) {
  fw::TDataPacket packet({{"CODIGO", fw::TFieldType::ftString, 4},
                          {"NOME", fw::TFieldType::ftString, 20},
                          {"VALOR", fw::TFieldType::ftFloat, 0}});
  for (int row = 0; row < rows; ++row) {
    packet.Columns()[0].AppendString(std::to_string(1000 + row));
    packet.Columns()[1].AppendString("Filial " + std::to_string(row + 1));
    packet.Columns()[2].AppendNumber(1234.5 * (row + 1));
  }
  return packet;
}

// Top panel with edits, a date edit and two radio buttons in a group box; a page control with
// a grid on its first tab and an edit on the second; a bottom panel; a menu with a shortcut.
// Every event a handler can see is written to Log as "name.Event".
class TTestForm : public fw::TForm {
 public:
  explicit TTestForm(fw::TComponent* owner) : fw::TForm(owner, "frmTeste") {
    SetCaption("Tela de Teste");
    SetBounds(10, 20, 616, 440);
    ClientWidth = 600;
    ClientHeight = 400;

    panTopo = Control<fw::TPanel>("panTopo", this, 0, 0, 600, 90);
    panTopo->SetAlign(fw::TAlign::alTop);
    panTopo->BevelOuter = fw::TBevel::bvLowered;
    lblNome = Control<fw::TLabel>("lblNome", panTopo, 8, 8, 40, 13);
    lblNome->SetCaption("&Nome");
    edtNome = Control<fw::TEdit>("edtNome", panTopo, 60, 4, 120, 21);
    edtNome->SetHint("Nome da filial");
    medCodigo = Control<fw::TMaskEdit>("medCodigo", panTopo, 60, 30, 100, 21);
    medCodigo->SetEditMask("00.000.000;0;_");
    edtSomente = Control<fw::TEdit>("edtSomente", panTopo, 60, 56, 221, 21);
    edtSomente->SetEnabled(false);
    edtSomente->SetColor(fw::clBtnFace);
    edtSomente->TabStop = false;
    depData = Control<fw::TDateEditPlus>("depData", panTopo, 190, 4, 105, 21);
    grbOpcao = Control<fw::TGroupBox>("grbOpcao", panTopo, 320, 2, 200, 80);
    grbOpcao->SetCaption("Opção");
    grbOpcao->Font.Bold = true;
    rbtTodas = Control<fw::TRadioButton>("rbtTodas", grbOpcao, 8, 20, 80, 17);
    rbtTodas->SetCaption("Todas");
    rbtLista = Control<fw::TRadioButton>("rbtLista", grbOpcao, 8, 44, 80, 17);
    rbtLista->SetCaption("Lista");
    sbtPesquisa = Control<fw::TButtonFlat>("sbtPesquisa", grbOpcao, 100, 42, 21, 21);
    sbtPesquisa->SetHint("Pesquisar");

    panRodape = Control<fw::TPanel>("panRodape", this, 0, 370, 600, 30);
    panRodape->SetAlign(fw::TAlign::alBottom);
    dbtNome = Control<fw::TDBText>("dbtNome", panRodape, 8, 8, 200, 17);

    pgcDados = Control<fw::TPageControl>("pgcDados", this, 0, 90, 600, 280);
    pgcDados->SetAlign(fw::TAlign::alClient);
    tshUm = Create<fw::TTabSheet>("tshUm", pgcDados);
    tshUm->SetCaption("Filiais");
    tshDois = Create<fw::TTabSheet>("tshDois", pgcDados);
    tshDois->SetCaption("Itens");
    edtDois = Control<fw::TEdit>("edtDois", tshDois, 10, 10, 100, 21);

    cdsDados = Create<fw::TClientDataSet>("cdsDados");
    cdsDados->AddField("cdsDadosCODIGO", "CODIGO", fw::TFieldType::ftString, 4)
        ->SetDisplayLabel("Código");
    cdsDados->AddField("cdsDadosNOME", "NOME", fw::TFieldType::ftString, 20)
        ->SetDisplayLabel("Nome");
    fw::TField* valor = cdsDados->AddField("cdsDadosVALOR", "VALOR", fw::TFieldType::ftFloat);
    valor->DisplayFormat = "###,##0.000";
    dtsDados = Create<fw::TDataSource>("dtsDados");
    dtsDados->SetDataSet(cdsDados);
    dbtNome->DataSource = dtsDados;
    dbtNome->DataField = "NOME";
    dbgDados = Control<fw::TDBGrid>("dbgDados", tshUm, 0, 0, 592, 250);
    dbgDados->SetAlign(fw::TAlign::alClient);
    dbgDados->SetDataSource(dtsDados);
    dbgDados->Options = fw::dgTitles | fw::dgColumnResize | fw::dgColLines | fw::dgRowLines |
                        fw::dgTabs | fw::dgAlwaysShowSelection;
    dbgDados->SetColor(fw::clInfoBk);
    dbgDados->Columns = {{"CODIGO", "", 60}, {"NOME", "Nome da Filial", -1}, {"VALOR", "", 90}};

    mnuMenu = Create<fw::TMainMenu>("mnuMenu");
    Menu = mnuMenu;
    mnuArquivo = Create<fw::TMenuItem>("mnuArquivo");
    mnuArquivo->SetCaption("&Arquivo");
    mnuMenu->Items()->Add(mnuArquivo);
    mnuAutomatico = Create<fw::TMenuItem>("mnuAutomatico");
    mnuAutomatico->SetCaption("Cadastramento A&utomático");
    mnuAutomatico->SetShortCut(16449);
    mnuArquivo->Add(mnuAutomatico);
    mnuDesligado = Create<fw::TMenuItem>("mnuDesligado");
    mnuDesligado->SetCaption("&Desligado");
    mnuDesligado->SetEnabled(false);
    mnuArquivo->Add(mnuDesligado);

    for (fw::TControl* control :
         std::vector<fw::TControl*>{panTopo, edtNome, medCodigo, depData, grbOpcao, rbtTodas,
                                    rbtLista, pgcDados, dbgDados, edtDois}) {
      control->OnEnter = [this](fw::TComponent* sender) {
        Log.push_back(sender->Name() + ".Enter");
      };
      control->OnExit = [this](fw::TComponent* sender) { Log.push_back(sender->Name() + ".Exit"); };
    }
    rbtTodas->OnClick = [this](fw::TComponent*) { Log.push_back("rbtTodas.Click"); };
    rbtLista->OnClick = [this](fw::TComponent*) { Log.push_back("rbtLista.Click"); };
    edtNome->OnChange = [this](fw::TComponent*) { Log.push_back("edtNome.Change"); };
    medCodigo->OnChange = [this](fw::TComponent*) { Log.push_back("medCodigo.Change"); };
    sbtPesquisa->OnClick = [this](fw::TComponent*) { Log.push_back("sbtPesquisa.Click"); };
    pgcDados->OnChange = [this](fw::TComponent*) { Log.push_back("pgcDados.Change"); };
    mnuAutomatico->OnClick = [this](fw::TComponent*) { Log.push_back("mnuAutomatico.Click"); };
    cdsDados->AfterScroll = [this](fw::TDataSet*) { Log.push_back("cdsDados.AfterScroll"); };
    dbgDados->OnDblClick = [this](fw::TComponent*) { Log.push_back("dbgDados.DblClick"); };
    SetActiveControl(edtNome);
  }

  template <typename T>
  T* Control(const char* name, fw::TWinControl* parent, int left, int top, int width, int height) {
    T* control = Create<T>(name);
    control->SetParent(parent);
    control->SetBounds(left, top, width, height);
    return control;
  }

  std::vector<std::string> Log;
  fw::TPanel* panTopo;
  fw::TLabel* lblNome;
  fw::TEdit* edtNome;
  fw::TMaskEdit* medCodigo;
  fw::TEdit* edtSomente;
  fw::TDateEditPlus* depData;
  fw::TGroupBox* grbOpcao;
  fw::TRadioButton* rbtTodas;
  fw::TRadioButton* rbtLista;
  fw::TButtonFlat* sbtPesquisa;
  fw::TPanel* panRodape;
  fw::TDBText* dbtNome;
  fw::TPageControl* pgcDados;
  fw::TTabSheet* tshUm;
  fw::TTabSheet* tshDois;
  fw::TEdit* edtDois;
  fw::TClientDataSet* cdsDados;
  fw::TDataSource* dtsDados;
  fw::TDBGrid* dbgDados;
  fw::TMainMenu* mnuMenu;
  fw::TMenuItem* mnuArquivo;
  fw::TMenuItem* mnuAutomatico;
  fw::TMenuItem* mnuDesligado;
};

// An application with the Qt platform, no MDI area (forms get windows of their own) and no
// modules; messages are recorded, not shown.
class BoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::InitApplication();
    binding = std::make_unique<QtBinding>();
    platform = std::make_unique<QtPlatform>(*binding, nullptr);
    platform->Interactive = false;
    fw::Application->SetPlatform(platform.get());
  }
  void TearDown() override {
    fw::DoneApplication();
    platform.reset();
    binding.reset();
    QApplication::processEvents();
  }

  // Creates the test form, shows it, and waits until its window is the active one.
  TTestForm* ShowTestForm() {
    TTestForm* form = new TTestForm(fw::Application);
    form->Show();
    QWidget* window = binding->WindowOf(form);
    EXPECT_TRUE(window && QTest::qWaitForWindowActive(window));
    QApplication::processEvents();
    return form;
  }

  template <typename T>
  T* Widget(const fw::TComponent* control) {
    return dynamic_cast<T*>(binding->WidgetOf(control));
  }

  std::unique_ptr<QtBinding> binding;
  std::unique_ptr<QtPlatform> platform;
};

// Runs `action` on the next modal window once it is up (a dialog's own event loop is running).
inline void OnNextModal(std::function<void(QWidget*)> action) {
  auto* timer = new QTimer();
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, action] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    action(modal);
  });
  timer->start();
}

// A server stopped in the middle of its work: connections are taken by the system and requests
// are never answered.
class StoppedServer {
 public:
  StoppedServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd_, 8) != 0)
      ADD_FAILURE() << "cannot listen";
    socklen_t length = sizeof(address);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~StoppedServer() { ::close(fd_); }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A local port nothing listens on (connections to it are refused).
inline int RefusedPort() {
  const StoppedServer gone;
  return gone.Port();
}

// The busy indicator inside a window, if any.
inline BusyOverlay* OverlayIn(QWidget* window) {
  if (!window) return nullptr;
  for (QWidget* child : window->findChildren<QWidget*>())
    if (auto* overlay = dynamic_cast<BusyOverlay*>(child)) return overlay;
  return nullptr;
}

}  // namespace hostapp::testing
