// The framework's dialogs for real, the busy indicator, module loading and the main window.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "framework/host/services.h"
#include "host_app/conversions.h"
#include "host_app/dialogs.h"
#include "host_app/main_window.h"
#include "host_app/module_loader.h"
#include "host_app/qt_widgets.h"
#include "host_app/remote_server.h"
#include "test_form.h"

namespace hostapp::testing {
namespace {

QPushButton* ButtonNamed(QWidget* window, const QString& text) {
  for (QPushButton* button : window->findChildren<QPushButton*>())
    if (button->text() == text) return button;
  return nullptr;
}

fw::TClientDataSet* PickerRows(fw::TComponent* owner) {
  auto* rows = new fw::TClientDataSet(owner, "cdsFilSoli");
  rows->AddField("cdsFilSoliIDMARCADO", "IDMARCADO", fw::TFieldType::ftString, 1);
  rows->AddField("cdsFilSoliCDFILSOLI", "CDFILSOLI", fw::TFieldType::ftString, 4)
      ->SetDisplayLabel("Código");
  rows->AddField("cdsFilSoliNMFILIAL", "NMFILIAL", fw::TFieldType::ftString, 30)
      ->SetDisplayLabel("Nome");
  fw::TDataPacket packet({{"IDMARCADO", fw::TFieldType::ftString, 1},
                          {"CDFILSOLI", fw::TFieldType::ftString, 4},
                          {"NMFILIAL", fw::TFieldType::ftString, 30}});
  for (const auto& [code, name] :
       {std::pair{"0001", "Matriz"}, std::pair{"0002", "Campinas"}, std::pair{"0003", "Santos"}}) {
    packet.Columns()[0].AppendString("N");
    packet.Columns()[1].AppendString(code);
    packet.Columns()[2].AppendString(name);
  }
  rows->SetData(std::move(packet));
  return rows;
}

class PlatformTest : public BoundTest {
 protected:
  void SetUp() override {
    BoundTest::SetUp();
    platform->Interactive = true;
  }
};

TEST_F(PlatformTest, ErrorDisplay_IsAWarningBoxInPortuguese) {
  TTestForm* form = ShowTestForm();
  form->sbtPesquisa->OnClick = [](fw::TComponent*) { fw::MensErro("Filial deve ser informada."); };
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  OnNextModal([&](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    box->buttons().front()->click();
  });
  QTest::mouseClick(Widget<QWidget>(form->sbtPesquisa), Qt::LeftButton);
  EXPECT_EQ(title, QStringLiteral("Atenção"));
  EXPECT_EQ(text, QStringLiteral("Filial deve ser informada."));
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(platform->Messages, (std::vector<std::string>{"Filial deve ser informada."}));

  OnNextModal([&](QWidget* window) {
    title = window->windowTitle();
    static_cast<QMessageBox*>(window)->buttons().front()->click();
  });
  platform->ShowMessage("Registro não encontrado.");
  EXPECT_EQ(title, QStringLiteral("Informação"));
}

TEST_F(PlatformTest, BusyIndicator_CoversTheOwningFormWithItsCaptionUntilHidden) {
  TTestForm* form = ShowTestForm();
  fw::ActiveShowAvi(form, 6, "Consultando filiais");
  BusyOverlay* busy = platform->Busy();
  ASSERT_NE(busy, nullptr);
  EXPECT_EQ(busy->parentWidget(), binding->RootOf(form));
  EXPECT_EQ(busy->geometry(), binding->RootOf(form)->rect());
  EXPECT_EQ(busy->Caption(), QStringLiteral("Consultando filiais"));
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

  fw::ActiveShowAvi(form, 6, "");
  EXPECT_EQ(platform->Busy(), busy) << "shown again it only changes its caption";
  EXPECT_EQ(busy->Caption(), QString());
  fw::DeactiveShowAvi();
  EXPECT_EQ(platform->Busy(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "one hide hides it";

  // A form still being created has no window: the indicator goes over the active one.
  auto* unshown = new fw::TForm(fw::Application, "frmNova");
  fw::ActiveShowAvi(unshown, 6, "Carregando");
  ASSERT_NE(platform->Busy(), nullptr);
  EXPECT_EQ(platform->Busy()->window(), QApplication::activeWindow());
  fw::DeactiveShowAvi();
}

// A remote call stand-in that blocks until cancelled (or ten seconds pass), then fails as the TCP
// client does.
class BlockingCall {
 public:
  void Run() {
    std::unique_lock lock(mutex_);
    if (!done_.wait_for(lock, std::chrono::seconds(10), [this] { return cancelled_; }))
      throw fw::ERemoteError("tempo esgotado no teste");
    throw fw::ERemoteError("Operação cancelada pelo usuário.");
  }
  void Cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    ++cancels_;
    done_.notify_all();
  }
  int Cancels() {
    std::lock_guard lock(mutex_);
    return cancels_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool cancelled_ = false;
  int cancels_ = 0;
};

std::string FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "(no error)";
}

TEST_F(PlatformTest, LongRemoteCall_OffersCancelAfterTheDelay_AndNoInputReachesTheModel) {
  TTestForm* form = ShowTestForm();
  platform->CancelOfferDelayMs = 400;
  fw::ActiveShowAvi(form, 6, "Consultando filiais");
  form->Log.clear();
  const std::string nameBefore = form->edtNome->Text();

  struct {
    bool OfferedEarly = true, OfferedLate = false, ButtonShown = false;
    int CancelsAfterEarlyEscape = -1;
  } seen;
  BlockingCall call;
  QTimer::singleShot(150, [&] {
    seen.OfferedEarly = platform->Busy() && platform->Busy()->CancelOffered();
    // What the user does meanwhile: a click on a radio button, typing, Esc, closing the window.
    QTest::mouseClick(Widget<QWidget>(form->rbtLista), Qt::LeftButton);
    QTest::keyClicks(binding->FocusWidgetOf(form->edtNome), "xyz");
    QTest::keyClick(binding->FocusWidgetOf(form->edtNome), Qt::Key_Escape);
    binding->WindowOf(form)->close();
    seen.CancelsAfterEarlyEscape = call.Cancels();
  });
  QTimer::singleShot(700, [&] {
    BusyOverlay* busy = platform->Busy();
    seen.OfferedLate = busy && busy->CancelOffered();
    seen.ButtonShown = busy && busy->CancelButton()->isVisible();
    QTest::keyClick(binding->FocusWidgetOf(form->edtNome), Qt::Key_Escape);
  });
  const std::string failure =
      FailureOf([&] { platform->RunRemoteCall([&] { call.Run(); }, [&] { call.Cancel(); }); });

  EXPECT_EQ(failure, "Operação cancelada pelo usuário.");
  EXPECT_FALSE(seen.OfferedEarly) << "no offer before the delay";
  EXPECT_EQ(seen.CancelsAfterEarlyEscape, 0) << "Esc cancels only once offered";
  EXPECT_TRUE(seen.OfferedLate);
  EXPECT_TRUE(seen.ButtonShown);
  EXPECT_EQ(call.Cancels(), 1);
  EXPECT_EQ(form->Log, std::vector<std::string>{})
      << "no user event reached the model during the call";
  EXPECT_FALSE(form->rbtLista->Checked());
  EXPECT_EQ(form->edtNome->Text(), nameBefore);
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(binding->WindowOf(form)->isVisible()) << "the window was not closed";
  ASSERT_NE(platform->Busy(), nullptr) << "the indicator is the caller's to hide";
  EXPECT_FALSE(platform->Busy()->CancelOffered());
  fw::DeactiveShowAvi();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // Afterwards the window answers again.
  QTest::mouseClick(Widget<QWidget>(form->rbtLista), Qt::LeftButton);
  QApplication::processEvents();
  EXPECT_TRUE(form->rbtLista->Checked());
}

// A click on "Cancelar" as the mouse makes it: through the window, which hands it to the button.
// Before, the guard that keeps input from the screens swallowed it at the window, so only Esc
// cancelled.
TEST_F(PlatformTest, LongRemoteCall_TheMouseOnCancelarCancels) {
  TTestForm* form = ShowTestForm();
  platform->CancelOfferDelayMs = 100;
  fw::ActiveShowAvi(form, 6, "Consultando filiais");
  BlockingCall call;
  int clicks = 0;
  // Another click only if the last one has had a whole second to cancel: a slow machine (the
  // sanitizer build) may take longer than the poll's period to end the call after the first.
  QElapsedTimer sinceClick;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    BusyOverlay* busy = platform->Busy();
    if (!busy || !busy->CancelOffered() || clicks >= 3) return;
    if (clicks > 0 && sinceClick.elapsed() < 1000) return;
    sinceClick.start();
    QPushButton* button = busy->CancelButton();
    QWidget* window = button->window();
    const QPoint at = button->mapTo(window, button->rect().center());
    QTest::mouseMove(window->windowHandle(), at);
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, at);
    ++clicks;
  });
  poll.start();
  const std::string failure =
      FailureOf([&] { platform->RunRemoteCall([&] { call.Run(); }, [&] { call.Cancel(); }); });
  poll.stop();
  EXPECT_EQ(failure, "Operação cancelada pelo usuário.");
  EXPECT_EQ(1, clicks) << "the first click cancels";
  EXPECT_EQ(1, call.Cancels());
  EXPECT_EQ(std::vector<std::string>{}, form->Log) << "the click reached nothing else";
  fw::DeactiveShowAvi();
}

TEST_F(PlatformTest, QuickRemoteCall_ShowsNoOffer) {
  TTestForm* form = ShowTestForm();
  platform->CancelOfferDelayMs = 0;
  fw::ActiveShowAvi(form, 6, "");
  bool ran = false;
  platform->RunRemoteCall([&] { ran = true; }, [] { ADD_FAILURE() << "nothing to cancel"; });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(platform->Busy()->CancelOffered());
  fw::DeactiveShowAvi();
}

TEST_F(PlatformTest, RemoteCalls_RunInTurnOnOneThreadThatOutlivesEachCall) {
  ShowTestForm();
  platform->CancelOfferDelayMs = 60000;
  // The kernel's thread ids, which a new thread does not take over from an ended one (a
  // std::thread::id may be reused).
  std::vector<pid_t> ran;
  const auto record = [&] { ran.push_back(::gettid()); };
  for (int i = 0; i < 3; ++i) platform->RunRemoteCall(record, [] {});
  // One long enough to go through the event loop, and one that fails.
  platform->RunRemoteCall(
      [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        record();
      },
      [] {});
  EXPECT_EQ(FailureOf([&] {
              platform->RunRemoteCall(
                  [&] {
                    record();
                    throw fw::ERemoteError("falhou");
                  },
                  [] {});
            }),
            "falhou");
  platform->RunRemoteCall(record, [] {});
  ASSERT_EQ(ran.size(), 6u);
  for (const pid_t id : ran) EXPECT_EQ(id, ran[0]) << "a thread per call";
  EXPECT_NE(ran[0], ::gettid()) << "the window's thread must not block";
}

TEST_F(PlatformTest, HungServer_TheCancelButtonAbandonsTheTcpCall) {
  ShowTestForm();
  platform->CancelOfferDelayMs = 200;
  StoppedServer server;
  auto connect = CancellableServiceFactory(*platform, {2000, 60000});
  // The configured list: the first server refuses, so the window's connection is the second's.
  const std::string servers =
      "127.0.0.1:" + std::to_string(RefusedPort()) + ",127.0.0.1:" + std::to_string(server.Port());
  std::unique_ptr<fw::IAppServer> connection = connect(servers, 7450, "CMP09500.rdmAcompSoli");
  auto& client = static_cast<CancellableAppServer&>(*connection).Client();
  ASSERT_TRUE(client.Connected());
  EXPECT_EQ(client.Current().Port, server.Port());

  bool clicked = false;
  QWidget* overlayParent = nullptr;
  auto* poll = new QTimer();
  poll->setInterval(20);
  QObject::connect(poll, &QTimer::timeout, [&] {
    // No indicator was shown: the offer comes over the active window all the same.
    BusyOverlay* busy = OverlayIn(QApplication::activeWindow());
    if (!busy || !busy->CancelOffered()) return;
    poll->stop();
    overlayParent = busy->parentWidget();
    QTest::mouseClick(busy->CancelButton(), Qt::LeftButton);
    clicked = true;
  });
  poll->start();
  std::vector<fw::TRemoteArg> args;
  const auto started = std::chrono::steady_clock::now();
  const std::string failure = FailureOf([&] { connection->Invoke("GetFilSoli", args); });
  const auto waited = std::chrono::steady_clock::now() - started;
  delete poll;

  EXPECT_TRUE(clicked);
  EXPECT_EQ(failure, "Operação cancelada pelo usuário.");
  EXPECT_LT(waited, std::chrono::seconds(5)) << "not the call time-out of 60 s";
  EXPECT_FALSE(client.Connected()) << "the connection is closed";
  ASSERT_NE(overlayParent, nullptr);
  EXPECT_EQ(OverlayIn(overlayParent), nullptr) << "its own overlay is gone";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(PlatformTest, ListPicker_MarksTheKeysGivenAndReturnsTheUsersMarks) {
  fw::TForm* owner = ShowTestForm();
  fw::TClientDataSet* rows = PickerRows(owner);
  auto* source = new fw::TDataSource(owner, "dtsFilSoli");
  source->SetDataSet(rows);

  std::vector<Qt::CheckState> initial;
  QStringList headers;
  OnNextModal([&](QWidget* window) {
    auto* dialog = dynamic_cast<PickListDialog*>(window);
    ASSERT_NE(dialog, nullptr);
    QAbstractItemModel* model = dialog->Table()->model();
    for (int row = 0; row < model->rowCount(); ++row)
      initial.push_back(model->index(row, 0).data(Qt::CheckStateRole).value<Qt::CheckState>());
    for (int column = 1; column < model->columnCount(); ++column)
      headers << model->headerData(column, Qt::Horizontal).toString();
    ButtonNamed(window, QStringLiteral("Marcar todos"))->click();
    ButtonNamed(window, QStringLiteral("Confirmar"))->click();
  });
  std::string selection = "'0002'";
  fw::PesquisaLista(source, "CDFILSOLI", "Filial", false, selection);
  EXPECT_EQ(initial, (std::vector<Qt::CheckState>{Qt::Unchecked, Qt::Checked, Qt::Unchecked}));
  EXPECT_EQ(headers, (QStringList{QStringLiteral("Código"), QStringLiteral("Nome")}))
      << "the mark column is the picker's own";
  EXPECT_EQ(selection, "'0001','0002','0003'");

  OnNextModal([&](QWidget* window) {
    auto* dialog = static_cast<PickListDialog*>(window);
    ButtonNamed(window, QStringLiteral("Limpar"))->click();
    QAbstractItemModel* model = dialog->Table()->model();
    model->setData(model->index(2, 0), Qt::Checked, Qt::CheckStateRole);
    ButtonNamed(window, QStringLiteral("Confirmar"))->click();
  });
  fw::PesquisaLista(source, "CDFILSOLI", "Filial", false, selection);
  EXPECT_EQ(selection, "'0003'");

  OnNextModal([&](QWidget* window) {
    ButtonNamed(window, QStringLiteral("Limpar"))->click();
    ButtonNamed(window, QStringLiteral("Cancelar"))->click();
  });
  fw::PesquisaLista(source, "CDFILSOLI", "Filial", false, selection);
  EXPECT_EQ(selection, "'0003'") << "a cancelled picker leaves the selection";
  EXPECT_EQ(rows->RecNo(), 1) << "the picker never moves the cursor";
}

TEST_F(PlatformTest, RecordSearch_OffersTheGridsTitlesAndFindsWhatAPersonTypes) {
  TTestForm* form = ShowTestForm();
  fw::TDataPacket packet({{"CODIGO", fw::TFieldType::ftString, 4},
                          {"NOME", fw::TFieldType::ftString, 20},
                          {"VALOR", fw::TFieldType::ftFloat, 0}});
  for (const auto& [code, name] :
       {std::pair{"0001", "Santos"}, std::pair{"0002", "São Paulo"}, std::pair{"0003", "Campinas"},
        std::pair{"0004", "São Carlos"}}) {
    packet.Columns()[0].AppendString(code);
    packet.Columns()[1].AppendString(name);
    packet.Columns()[2].AppendNumber(1234.5);
  }
  form->cdsDados->SetData(std::move(packet));

  struct {
    QStringList Fields;
    QString Current;
    bool SearchEnabledWhenBlank = true;
  } seen;
  // The user picks a column by its title, types, chooses the matching and confirms.
  auto answer = [&](const QString& title, const QString& value, bool contains) {
    OnNextModal([&, title, value, contains](QWidget* window) {
      auto* dialog = dynamic_cast<SearchDialog*>(window);
      if (!dialog) return static_cast<QMessageBox*>(window)->buttons().front()->click();
      seen.Fields.clear();
      for (int i = 0; i < dialog->Fields()->count(); ++i)
        seen.Fields << dialog->Fields()->itemText(i);
      seen.Current = dialog->Fields()->currentText();
      dialog->ValueEdit()->clear();
      seen.SearchEnabledWhenBlank = dialog->SearchButton()->isEnabled();
      dialog->Fields()->setCurrentIndex(dialog->Fields()->findText(title));
      QTest::keyClicks(dialog->ValueEdit(), value);
      QTest::mouseClick(contains ? dialog->Contains() : dialog->StartsWith(), Qt::LeftButton);
      QTest::mouseClick(dialog->SearchButton(), Qt::LeftButton);
    });
  };
  answer(QStringLiteral("Nome da Filial"), QStringLiteral("sao"), false);
  fw::Procura(form->cdsDados);
  EXPECT_EQ(seen.Fields, (QStringList{QStringLiteral("Código"), QStringLiteral("Nome da Filial"),
                                      QStringLiteral("VALOR")}))
      << "the grid's columns by the titles it shows";
  EXPECT_EQ(seen.Current, QStringLiteral("Código")) << "the grid's selected column";
  EXPECT_FALSE(seen.SearchEnabledWhenBlank);
  EXPECT_EQ(form->cdsDados->RecNo(), 2) << "\"sao\" begins \"São Paulo\"";
  EXPECT_EQ(Widget<QTableView>(form->dbgDados)->currentIndex().row(), 1);

  answer(QStringLiteral("Nome da Filial"), QStringLiteral("SAO"), false);
  fw::Procura(form->cdsDados);
  EXPECT_EQ(form->cdsDados->RecNo(), 4) << "from the row after the cursor";
  EXPECT_EQ(seen.Current, QStringLiteral("Nome da Filial")) << "the last search's column";

  answer(QStringLiteral("Nome da Filial"), QStringLiteral("pinas"), true);
  fw::Procura(form->cdsDados);
  EXPECT_EQ(form->cdsDados->RecNo(), 3) << "contains, round past the end";

  answer(QStringLiteral("VALOR"), QStringLiteral("1.234"), false);
  fw::Procura(form->cdsDados);
  EXPECT_EQ(form->cdsDados->RecNo(), 4) << "numbers as the grid shows them";

  answer(QStringLiteral("Nome da Filial"), QStringLiteral("Rio"), true);
  // The "not found" box comes after the search dialog: answer it too.
  QTimer::singleShot(300, [] {
    OnNextModal(
        [](QWidget* window) { static_cast<QMessageBox*>(window)->buttons().front()->click(); });
  });
  fw::Procura(form->cdsDados);
  EXPECT_EQ(platform->Messages.back(), "Registro não encontrado.");
  EXPECT_EQ(form->cdsDados->RecNo(), 4);
}

TEST_F(PlatformTest, ProductLookup_FiltersAsTheUserTypesAndPicksTheRow) {
  TTestForm* form = ShowTestForm();
  auto* products = new fw::TClientDataSet(form, "qryProduto");
  products->AddField("qryProdutoCDARVPROD", "CDARVPROD", fw::TFieldType::ftString)
      ->SetDisplayLabel("Código");
  products->AddField("qryProdutoCDPRODUTO", "CDPRODUTO", fw::TFieldType::ftString, 10)->Visible =
      false;
  products->AddField("qryProdutoNMPRODUTO", "NMPRODUTO", fw::TFieldType::ftString, 50)
      ->SetDisplayLabel("Nome");
  products->FindField("CDARVPROD")->SetEditMask("00.000.000;0;_");
  fw::TDataPacket packet({{"CDARVPROD", fw::TFieldType::ftString, 0},
                          {"CDPRODUTO", fw::TFieldType::ftString, 10},
                          {"NMPRODUTO", fw::TFieldType::ftString, 50}});
  for (const auto& [code, internal, name] :
       {std::tuple{"01001001", "P1", "Parafuso sextavado"}, std::tuple{"01001002", "P2", "Porca"},
        std::tuple{"02001001", "P3", "Arruela lisa"}}) {
    packet.Columns()[0].AppendString(code);
    packet.Columns()[1].AppendString(internal);
    packet.Columns()[2].AppendString(name);
  }
  products->SetData(std::move(packet));
  auto* source = new fw::TDataSource(form, "dtsProduto");
  source->SetDataSet(products);
  form->sbtPesquisa->OnClick = nullptr;
  auto* lookup = form->Create<fw::TBtnPesquisa>("btnProd");
  lookup->SetParent(form->panTopo);
  lookup->SetBounds(300, 56, 21, 21);
  lookup->DataSource = source;
  lookup->CodeField = "CDPRODUTO";
  lookup->NameField = "NMPRODUTO";
  bool after = false;
  lookup->OnAfterPesq = [&](fw::TComponent*) { after = true; };
  QApplication::processEvents();  // the button is built once the model is done with it

  QStringList headers;
  QString firstCode;
  int shown = -1;
  OnNextModal([&](QWidget* window) {
    auto* dialog = dynamic_cast<ProductLookupDialog*>(window);
    ASSERT_NE(dialog, nullptr);
    QAbstractItemModel* model = dialog->Table()->model();
    for (int column = 0; column < model->columnCount(); ++column)
      headers << model->headerData(column, Qt::Horizontal).toString();
    firstCode = model->index(0, 0).data().toString();
    QTest::keyClicks(dialog->Filter(), "ARRUE");
    shown = dialog->VisibleRows();
    ButtonNamed(window, QStringLiteral("Confirmar"))->click();
  });
  QTest::mouseClick(Widget<QWidget>(lookup), Qt::LeftButton);
  EXPECT_EQ(headers, (QStringList{QStringLiteral("Código"), QStringLiteral("Nome")}));
  EXPECT_EQ(firstCode, QStringLiteral("01.001.001")) << "codes show under their mask";
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(products->RecNo(), 3);
  EXPECT_TRUE(after);
}

TEST(QtTexts, AreBrazilianPortuguese) {
  ASSERT_TRUE(InstallPortugueseTexts()) << "Qt's translations are installed (scripts/deps.sh)";
  QLineEdit edit;
  edit.setText(QStringLiteral("abc"));
  std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  QStringList texts;
  for (QAction* action : menu->actions())
    if (!action->isSeparator())
      texts << action->text().remove(QLatin1Char('&')).section('\t', 0, 0);
  EXPECT_TRUE(texts.contains(QStringLiteral("Copiar")))
      << texts.join(QStringLiteral(", ")).toStdString();
  EXPECT_FALSE(texts.contains(QStringLiteral("Copy")));
  EXPECT_EQ(QLocale().toString(1234.5, 'f', 1), QStringLiteral("1.234,5"));
}

TEST_F(PlatformTest, AbsentHostModule_IsReportedPlainly) {
  QTemporaryDir empty;
  ModuleLoader loader(empty.path().toStdString());
  QtPlatform withLoader(*binding, &loader);
  withLoader.Interactive = false;
  fw::Application->SetPlatform(&withLoader);
  fw::LoadBPL("SUP00700");
  EXPECT_EQ(withLoader.Messages,
            (std::vector<std::string>{"O módulo SUP00700 não está instalado."}));
  fw::Application->SetPlatform(platform.get());
}

class LoaderTest : public BoundTest {
 protected:
  using TCount = int (*)(int);
  int Count(int which) {
    void* handle = dlopen((std::string(TEST_MODULE_DIR) + "/libhostapptest.so").c_str(),
                          RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return -1;
    auto count = reinterpret_cast<TCount>(dlsym(handle, "TestCount"));
    dlclose(handle);
    return count ? count(which) : -1;
  }
};

TEST_F(LoaderTest, Package_LoadsOnceThenRunsItsEntryEachTime) {
  ModuleLoader loader(TEST_MODULE_DIR);
  EXPECT_EQ(loader.Run("libhostapptest.so", "IniProc").Outcome, ModuleLoader::Status::Started);
  EXPECT_EQ(loader.StartModule("HOSTAPPTEST").Outcome, ModuleLoader::Status::Started)
      << "a module name finds lib<name in lower case>.so";
  EXPECT_EQ(Count(0), 1) << "Initialize runs once";
  EXPECT_EQ(Count(1), 2);

  // A failure inside the module is shown, not fatal.
  void* handle =
      dlopen((std::string(TEST_MODULE_DIR) + "/libhostapptest.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  reinterpret_cast<void (*)(int)>(dlsym(handle, "TestFail"))(1);
  EXPECT_EQ(loader.Run("libhostapptest.so", "IniProc").Outcome, ModuleLoader::Status::Started);
  EXPECT_EQ(platform->Messages, (std::vector<std::string>{"Falha ao abrir a tela."}));
  reinterpret_cast<void (*)(int)>(dlsym(handle, "TestFail"))(0);
  dlclose(handle);

  loader.FinalizeAll();
  EXPECT_EQ(Count(2), 1);
}

TEST_F(LoaderTest, MissingPackageOrEntry_IsReportedNotCrashed) {
  ModuleLoader loader(TEST_MODULE_DIR);
  const ModuleLoader::Result missing = loader.Run("libpkg_cmp09500.so", "IniProc");
  EXPECT_EQ(missing.Outcome, ModuleLoader::Status::NotInstalled);
  EXPECT_NE(missing.Message.find("libpkg_cmp09500.so"), std::string::npos);
  EXPECT_NE(missing.Message.find(TEST_MODULE_DIR), std::string::npos);
  const ModuleLoader::Result broken = loader.Run("libhostapptest_noentry.so", "IniProc");
  EXPECT_EQ(broken.Outcome, ModuleLoader::Status::Broken);
  EXPECT_EQ(broken.Message,
            "O módulo libhostapptest_noentry.so não tem o ponto de entrada IniProc.");
  EXPECT_EQ(loader.StartModule("SUP00700").Outcome, ModuleLoader::Status::NotInstalled);
}

TEST(MainWindowTest, MenusOpenTheModuleAndAMissingPackageIsReported) {
  QTemporaryDir empty;
  ModuleLoader loader(empty.path().toStdString());
  {
    MainWindow window(loader);
    window.Platform().Interactive = false;
    QStringList menus;
    for (QAction* action : window.menuBar()->actions()) menus << action->text();
    EXPECT_EQ(menus, (QStringList{QStringLiteral("&Compras"), QStringLiteral("A&juda")}));
    QStringList entries;
    for (QAction* action : window.menuBar()->actions().front()->menu()->actions())
      entries << action->text();
    EXPECT_TRUE(entries.contains(QStringLiteral("&Acompanhamento da Solicitação")));

    // On the 1280 x 800 display that scripts/run serves the whole window, frame included, fits;
    // on a larger one it has its designed size.
    const QSize small = MainWindow::SizeFor(QSize(1280, 800));
    EXPECT_LE(small.width() + MainWindow::kFrameAllowance.width(), 1280);
    EXPECT_LE(small.height() + MainWindow::kFrameAllowance.height(), 800);
    EXPECT_EQ(MainWindow::SizeFor(QSize(1920, 1080)), QSize(1300, 820));

    EXPECT_FALSE(window.OpenRequestTracking());
    ASSERT_EQ(window.Platform().Messages.size(), 1u);
    EXPECT_NE(window.Platform().Messages[0].find("libpkg_cmp09500.so não está instalado"),
              std::string::npos);

    // A screen that is an MDI child goes into the work area.
    auto* child = new fw::TForm(fw::Application, "frmFilho");
    child->FormStyle = fw::TFormStyle::fsMDIChild;
    child->SetCaption("Filho");
    child->SetBounds(220, 168, 400, 300);
    child->Show();
    ASSERT_EQ(window.Area()->subWindowList().size(), 1);
    QMdiSubWindow* sub = window.Area()->subWindowList().front();
    EXPECT_EQ(sub->windowTitle(), QStringLiteral("Filho"));
    EXPECT_EQ(sub->pos(), QPoint(220, 168));

    // Its close button asks the model; a form released on close takes its subwindow along.
    child->OnClose = [](fw::TComponent*, fw::TCloseAction& action) {
      action = fw::TCloseAction::caFree;
    };
    sub->close();
    EXPECT_EQ(fw::Application->FindForm("frmFilho"), nullptr);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.Area()->subWindowList().isEmpty());
    fw::DoneApplication();
  }
  EXPECT_EQ(fw::Application, nullptr);
}

}  // namespace
}  // namespace hostapp::testing
