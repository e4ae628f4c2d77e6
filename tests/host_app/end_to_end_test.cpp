// The tracking module from end to end in the Qt host: the real package opened through the main
// window's menu and module loader, the canned service behind the screens, and the user's part
// played only on the widgets (typing, clicks, a double-click); what the test checks is what the
// Qt grids show.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateEdit>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/host/config.h"
#include "framework/testing/canned_service.h"
#include "framework/ui/application.h"
#include "host_app/layout_store.h"
#include "host_app/main_window.h"
#include "host_app/module_loader.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_platform.h"
#include "host_app/qt_widgets.h"
#include "host_app/remote_server.h"
#include "protocol/datetime.h"
#include "protocol/report_contract.h"
#include "test_form.h"
#include "tests/report_module/report_rows.h"

namespace hostapp::testing {
namespace {

using Calls = std::vector<std::string>;

// The rows of the scenario the screen driver plays (tests/scenarios/main_job.txt).
void ServeScenario(service::TCannedAppServer& canned) {
  canned.ServeText("GetFilSoliGD", {"CDFILIAL", "NMFILIAL"},
                   {{"0001", "Matriz"}, {"0002", "Filial Centro"}});
  canned.ServeText("GetItens",
                   {"STATUS", "CDFILLAN", "NRSOLICMP", "CDOPERLANC", "NMDESTSOLI", "NRCOMPRA",
                    "DTPROGENTR", "QTSOLIPROD", "CDDESTSOLI", "NRCOLEPRECO", "CDFILIAL"},
                   {{"A", "0001", "0000000101", "ana.lima", "Almoxarifado", "0000005001",
                     "05/03/2024", "12.5", "001", "0000000701", "0001"},
                    {"C", "0002", "0000000102", "ana.lima", "Manutenção", "0000005002", "", "1",
                     "002", "0000000702", "0002"}});
  canned.ServeText("GetDestSolGere",
                   {"IDAPROVPRGER", "NMOPERADOR", "CDDESTSOLI", "DTAPRSOLPRODGER"},
                   {{"S", "Carlos Souza", "001", "04/03/2024 10:15:00"}});
  canned.ServeText(
      "GetItemProduto",
      {"CDARVPROD", "CDPRODUTO", "NMPRODUTO", "SGUNIDADE", "QTSOLIPROD", "NMRAZSOCFORN",
       "VRTOTALAF"},
      {{"01001001", "1001", "Parafuso sextavado", "UN", "100", "Ferragens Silva", "1234.5"},
       {"01001002", "1002", "Porca M8", "UN", "50", "Ferragens Silva", "80"}});
  canned.ServeText("GetItemCota",
                   {"NRCOLEPRECO", "IDSITUCOLETA", "NMOPERADOR", "NMRAZSOCFORN", "VRPRECUNIITM"},
                   {{"0000000702", "A", "Beatriz", "Ferragens Silva", "12.34"},
                    {"0000000702", "C", "Beatriz", "Casa do Parafuso", "13"}});
}

// The column of a Qt grid by the title its header shows; -1 when there is none.
int ColumnTitled(const QTableView* view, const QString& title) {
  const QAbstractItemModel* model = view->model();
  for (int column = 0; column < model->columnCount(); ++column)
    if (model->headerData(column, Qt::Horizontal).toString() == title) return column;
  return -1;
}

// What the Qt grid shows in a cell, found by its column title.
QString Cell(const QTableView* view, int row, const QString& title) {
  const int column = ColumnTitled(view, title);
  if (column < 0) return QStringLiteral("<no column '%1'>").arg(title);
  return view->model()->index(row, column).data().toString();
}

QPoint CellCentre(const QTableView* view, int row, const QString& title) {
  return view->visualRect(view->model()->index(row, ColumnTitled(view, title))).center();
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServeScenario(canned);
    savedFactory = fw::HostConfig().ServiceFactory;
    fw::HostConfig().ServiceFactory = [this](const std::string&, int, const std::string&) {
      return canned.Connect();
    };
    loader = std::make_unique<ModuleLoader>(PKG_CMP09500_DIR);
    window = std::make_unique<MainWindow>(*loader);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  void TearDown() override {
    // As the program ends: the forms go first, then the package's unload entry.
    fw::DoneApplication();
    loader->FinalizeAll();
    window.reset();
    loader.reset();
    fw::HostConfig().ServiceFactory = savedFactory;
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
  }

  // "Compras > Acompanhamento da Solicitação", as the user chooses it.
  fw::TForm* OpenFromMenu() {
    QAction* tracking = nullptr;
    for (QAction* menu : window->menuBar()->actions())
      if (menu->menu())
        for (QAction* action : menu->menu()->actions())
          if (action->text() == QStringLiteral("&Acompanhamento da Solicitação")) tracking = action;
    if (!tracking) return nullptr;
    tracking->trigger();
    QApplication::processEvents();
    return fw::Application->FindForm("frmAcompSoli");
  }

  // The widget the binding built for a control of the form, found by the control's name.
  template <typename T>
  T* Widget(fw::TForm* form, const char* name) const {
    fw::TComponent* control = form ? form->FindComponent(name) : nullptr;
    return control ? dynamic_cast<T*>(window->Binding().WidgetOf(control)) : nullptr;
  }
  // The line edit the user types a date into.
  QLineEdit* DateLine(fw::TForm* form, const char* name) const {
    fw::TComponent* control = form ? form->FindComponent(name) : nullptr;
    return control ? qobject_cast<QLineEdit*>(window->Binding().FocusWidgetOf(control)) : nullptr;
  }

  // Clicks into a date edit and types its digits; the mask supplies the slashes.
  static void TypeDate(QLineEdit* edit, const char* digits) {
    QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(3, edit->height() / 2));
    QApplication::processEvents();  // the focus move reaches the model after Qt's own
    QTest::keyClicks(edit, QString::fromLatin1(digits));
  }

  Calls CallsSince(size_t first) const {
    Calls methods;
    for (size_t i = first; i < canned.Calls.size(); ++i) methods.push_back(canned.Calls[i].Method);
    return methods;
  }
  // An argument of the last call of a method as text (dates as "dd/mm/yyyy").
  std::string Arg(const std::string& method, const std::string& param) const {
    const service::TMethodDef* def = service::FindMethod(method);
    const int index = def ? service::ParamIndex(*def, param) : -1;
    for (auto call = canned.Calls.rbegin(); call != canned.Calls.rend(); ++call) {
      if (call->Method != method || index < 0) continue;
      const fw::TRemoteArg& arg = call->Args.at(static_cast<size_t>(index));
      return arg.Kind == fw::TRemoteArg::TKind::Date ? fw::DateTimeToText(arg.Date) : arg.Text;
    }
    return "<no call>";
  }

  service::TCannedAppServer canned;
  decltype(fw::THostConfig::ServiceFactory) savedFactory;
  std::unique_ptr<ModuleLoader> loader;
  std::unique_ptr<MainWindow> window;
};

// Runs `action` once a modal window is up, inside its event loop; gives up after about five
// seconds so that a window that never comes cannot leave a timer behind.
class ModalWatch {
 public:
  explicit ModalWatch(std::function<void(QWidget*)> action) : action_(std::move(action)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if ((!modal || !modal->isVisible()) && ++ticks_ < 500) return;
      timer_.stop();
      if (modal && modal->isVisible()) {
        seen_ = true;
        action_(modal);
      }
    });
    timer_.start();
  }
  bool Seen() const { return seen_; }

 private:
  std::function<void(QWidget*)> action_;
  QTimer timer_;
  int ticks_ = 0;
  bool seen_ = false;
};

TEST_F(EndToEndTest, QueryFromTheFilterThenTheItemScreenByDoubleClick) {
  fw::TForm* request = OpenFromMenu();
  ASSERT_NE(request, nullptr) << "the package's IniProc opens the request screen";
  auto* sub = qobject_cast<QMdiSubWindow*>(window->Binding().WindowOf(request));
  ASSERT_NE(sub, nullptr) << "the request screen is an MDI child of the main window";
  EXPECT_EQ(sub->windowTitle(), QStringLiteral("Acompanhamento da Solicitação"));
  EXPECT_TRUE(sub->isVisible());
  EXPECT_EQ(window->Area()->activeSubWindow(), sub);

  auto* branches = Widget<QTableView>(request, "dbgPadrao");
  auto* items = Widget<QTableView>(request, "dbgItens");
  auto* approvals = Widget<QTableView>(request, "dbgDestSolGere");
  QLineEdit* soliIni = DateLine(request, "depSolicitacaoIni");
  QLineEdit* soliFin = DateLine(request, "depSolicitacaoFin");
  QTabWidget* pages = window->Binding().TabsOf(
      dynamic_cast<fw::TPageControl*>(request->FindComponent("pgcPadrao")));
  ASSERT_TRUE(branches && items && approvals && soliIni && soliFin && pages);
  EXPECT_EQ(branches->model()->rowCount(), 0) << "nothing is asked before the filter is left";
  EXPECT_TRUE(canned.Calls.empty());

  // The request dates, typed; leaving the filter panel for the branch grid runs the query.
  TypeDate(soliIni, "01032024");
  TypeDate(soliFin, "31032024");
  EXPECT_EQ(soliIni->text(), QStringLiteral("01/03/2024"));
  EXPECT_EQ(soliFin->text(), QStringLiteral("31/03/2024"));
  EXPECT_TRUE(canned.Calls.empty()) << "typing in the filter asks nothing";
  QTest::mouseClick(branches->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
  QApplication::processEvents();
  EXPECT_EQ(window->Platform().Messages, std::vector<std::string>{});
  ASSERT_EQ(CallsSince(0), (Calls{"GetFilSoliGD", "GetItens", "GetDestSolGere"}));
  EXPECT_EQ(Arg("GetFilSoliGD", "dtSoliIni"), "01/03/2024");
  EXPECT_EQ(Arg("GetFilSoliGD", "dtSoliFin"), "31/03/2024");
  EXPECT_EQ(Arg("GetItens", "cdFilial"), "0001");
  EXPECT_EQ(Arg("GetDestSolGere", "nrSoliCmp"), "0000000101");
  EXPECT_TRUE(branches->hasFocus());
  EXPECT_EQ(window->Platform().Busy(), nullptr) << "the busy indicator is gone";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // Branch, item and approval rows, as the grids show them.
  ASSERT_EQ(branches->model()->rowCount(), 2);
  EXPECT_EQ(Cell(branches, 0, QStringLiteral("Código")), QStringLiteral("0001"));
  EXPECT_EQ(Cell(branches, 0, QStringLiteral("Nome")), QStringLiteral("Matriz"));
  EXPECT_EQ(Cell(branches, 1, QStringLiteral("Nome")), QStringLiteral("Filial Centro"));
  EXPECT_EQ(branches->currentIndex().row(), 0);
  ASSERT_EQ(items->model()->rowCount(), 2);
  EXPECT_EQ(Cell(items, 0, QStringLiteral("Status")), QStringLiteral("Aguardando Aprovação"));
  EXPECT_EQ(Cell(items, 1, QStringLiteral("Status")), QStringLiteral("Cotado"));
  EXPECT_EQ(Cell(items, 0, QStringLiteral("Nº Solicitação")), QStringLiteral("0000000101"));
  EXPECT_EQ(Cell(items, 0, QStringLiteral("Dt. Entrega Solicitação")),
            QStringLiteral("05/03/2024"));
  EXPECT_EQ(Cell(items, 1, QStringLiteral("Dt. Entrega Solicitação")), QString());
  EXPECT_EQ(Cell(items, 0, QStringLiteral("Quantidade AF")), QStringLiteral("12,500"));
  ASSERT_EQ(approvals->model()->rowCount(), 1);
  EXPECT_EQ(Cell(approvals, 0, QStringLiteral("Aprovação")), QStringLiteral("Aprovada"));
  EXPECT_EQ(Cell(approvals, 0, QStringLiteral("Gerente")), QStringLiteral("Carlos Souza"));
  EXPECT_EQ(Cell(approvals, 0, QStringLiteral("Dt. Aprovação/Reprovação")),
            QStringLiteral("04/03/2024 10:15:00"));

  // A click on the second branch loads its items.
  size_t mark = canned.Calls.size();
  QTest::mouseClick(branches->viewport(), Qt::LeftButton, {},
                    CellCentre(branches, 1, QStringLiteral("Nome")));
  EXPECT_EQ(CallsSince(mark), (Calls{"GetItens", "GetDestSolGere"}));
  EXPECT_EQ(Arg("GetItens", "cdFilial"), "0002");
  EXPECT_EQ(branches->currentIndex().row(), 1);

  // The items tab, then a double-click on the second item's request number.
  QTabBar* bar = pages->tabBar();
  int itemsTab = -1;
  for (int tab = 0; tab < bar->count(); ++tab)
    if (bar->tabText(tab).remove(QLatin1Char('&')) == QStringLiteral("Itens")) itemsTab = tab;
  ASSERT_GE(itemsTab, 0);
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(itemsTab).center());
  ASSERT_TRUE(items->isVisible());

  struct {
    QString Title;
    QStringList Products, Prices, Situations, Quotations;
    Calls AfterProductClick;
    std::string CdProduto;
    bool ClosedByButton = false;
  } seen;
  mark = canned.Calls.size();
  ModalWatch inside([&](QWidget* modal) {
    fw::TForm* itemScreen = fw::Application->FindForm("frmAcompItens");
    if (itemScreen && modal == window->Binding().WindowOf(itemScreen)) {
      seen.Title = modal->windowTitle();
      auto* products = Widget<QTableView>(itemScreen, "dbgPadrao");
      auto* quotations = Widget<QTableView>(itemScreen, "dbgCotacao");
      if (products && quotations) {
        for (int row = 0; row < products->model()->rowCount(); ++row) {
          seen.Products << Cell(products, row, QStringLiteral("Nome do Produto"));
          seen.Prices << Cell(products, row, QStringLiteral("Vr. Total AF"));
        }
        for (int row = 0; row < quotations->model()->rowCount(); ++row) {
          seen.Situations << Cell(quotations, row, QStringLiteral("Situação"));
          seen.Quotations << Cell(quotations, row, QStringLiteral("Fornecedor")) + " " +
                                 Cell(quotations, row, QStringLiteral("Valor Unitário"));
        }
        // The second product: its quotations are asked for.
        const size_t before = canned.Calls.size();
        QTest::mouseClick(products->viewport(), Qt::LeftButton, {},
                          CellCentre(products, 1, QStringLiteral("Nome do Produto")));
        seen.AfterProductClick = CallsSince(before);
        seen.CdProduto = Arg("GetItemCota", "cdProduto");
      }
      if (auto* close = Widget<QToolButton>(itemScreen, "sbtFechar")) {
        QTest::mouseClick(close, Qt::LeftButton);
        seen.ClosedByButton = !modal->isVisible();
      }
    }
    if (modal->isVisible()) modal->close();  // never leave the test waiting on the window
  });
  // A real double-click: press and release, then the double-click press.
  const QPoint number = CellCentre(items, 1, QStringLiteral("Nº Solicitação"));
  QTest::mouseClick(items->viewport(), Qt::LeftButton, {}, number);
  EXPECT_EQ(CallsSince(mark), (Calls{"GetDestSolGere"})) << "the press selects the row";
  QTest::mouseDClick(items->viewport(), Qt::LeftButton, {}, number);
  QApplication::processEvents();

  ASSERT_TRUE(inside.Seen()) << "the item screen opened modally";
  EXPECT_EQ(seen.Title, QStringLiteral("Acompanhamento de Itens de Solicitação"));
  EXPECT_EQ(CallsSince(mark),
            (Calls{"GetDestSolGere", "GetItemProduto", "GetItemCota", "GetItemCota"}))
      << "the double-click opens the screen, which loads its products and quotations";
  EXPECT_EQ(Arg("GetItemProduto", "cdFilial"), "0002");
  EXPECT_EQ(Arg("GetItemProduto", "nrSoliCmp"), "0000000102");
  EXPECT_EQ(Arg("GetItemProduto", "dtSoliIni"), "01/03/2024");
  EXPECT_EQ(Arg("GetItemProduto", "nrCompra"), "0000005002");
  EXPECT_EQ(seen.Products,
            (QStringList{QStringLiteral("Parafuso sextavado"), QStringLiteral("Porca M8")}));
  EXPECT_EQ(seen.Prices, (QStringList{QStringLiteral("1.234,500"), QStringLiteral("80,000")}));
  EXPECT_EQ(seen.Situations,
            (QStringList{QStringLiteral("Em andamento"), QStringLiteral("Concluída")}));
  EXPECT_EQ(seen.Quotations, (QStringList{QStringLiteral("Ferragens Silva 12,340"),
                                          QStringLiteral("Casa do Parafuso 13,000")}));
  EXPECT_EQ(seen.AfterProductClick, (Calls{"GetItemCota"}));
  EXPECT_EQ(seen.CdProduto, "1002");
  EXPECT_TRUE(seen.ClosedByButton) << "the close button hides the modal window";

  // Closed: the item screen is freed, the cursor is back and the request screen is active.
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(fw::Application->FindForm("frmAcompItens"), nullptr);
  EXPECT_EQ(fw::Application->Cursor(), fw::TCursor::crDefault);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(fw::Application->ActiveForm(), request);
  EXPECT_EQ(window->Area()->activeSubWindow(), sub);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(items->currentIndex().row(), 1);
  EXPECT_EQ(items->window()->focusWidget(), items) << "the focus goes back to the items grid";
}

// The report service as the print module reaches it: answers GetRelAcomp with the items given.
class ReportStandIn : public fw::IAppServer {
 public:
  explicit ReportStandIn(std::vector<fw::TRemoteArg>* lastArgs) : lastArgs_(lastArgs) {}
  fw::TRemoteResult Invoke(const std::string& method, std::vector<fw::TRemoteArg>& args) override {
    if (method != service::kReportMethodName) throw fw::ERemoteError("Método desconhecido.");
    *lastArgs_ = args;
    fw::TRemoteResult result;
    result.Data = report_test::MakePacket({{{"CDFILIAL", "0001"},
                                            {"NMFILIAL", "Matriz"},
                                            {"NRSOLICMP", "0000000101"},
                                            {"NRITEMSOLI", "1"},
                                            {"STATUS", "A"},
                                            {"DTHRLANCSOL", "04/03/2024 10:00:00"},
                                            {"IDAPROVNIV1", "P"}}});
    result.Refs.resize(args.size());
    return result;
  }

 private:
  std::vector<fw::TRemoteArg>* lastArgs_;
};

TEST_F(EndToEndTest, PrintButton_OpensTheReportModule_WhichAsksTheReportServiceThroughTheHost) {
  std::vector<std::string> objects;
  std::vector<fw::TRemoteArg> reportArgs;
  fw::HostConfig().ServiceFactory =
      [&](const std::string&, int, const std::string& name) -> std::unique_ptr<fw::IAppServer> {
    objects.push_back(name);
    if (name == service::kReportServerName) return std::make_unique<ReportStandIn>(&reportArgs);
    return canned.Connect();
  };
  fw::TForm* request = OpenFromMenu();
  ASSERT_NE(request, nullptr);
  auto* branches = Widget<QTableView>(request, "dbgPadrao");
  ASSERT_NE(branches, nullptr);
  QTest::mouseClick(branches->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
  QApplication::processEvents();
  auto* print = Widget<QToolButton>(request, "sbtImprimir");
  ASSERT_TRUE(print && print->isEnabled());

  QString dialogTitle, previewTitle, pageCount;
  // The preview, once "Visualizar" opens it inside the dialog.
  QTimer previewWatch;
  previewWatch.setInterval(10);
  QObject::connect(&previewWatch, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->windowTitle().endsWith(QStringLiteral("Visualização"))) return;
    previewWatch.stop();
    previewTitle = modal->windowTitle();
    for (QLabel* label : modal->findChildren<QLabel*>())
      if (label->text().startsWith(QStringLiteral("de "))) pageCount = label->text();
    modal->close();
  });
  ModalWatch dialog([&](QWidget* modal) {
    dialogTitle = modal->windowTitle();
    // The date fields are line edits under the screens' date mask.
    const auto dates = modal->findChildren<QLineEdit*>();
    if (dates.size() >= 2) {
      dates[0]->setText(QStringLiteral("01/03/2024"));
      dates[1]->setText(QStringLiteral("31/03/2024"));
    }
    for (QPushButton* button : modal->findChildren<QPushButton*>())
      if (button->text() == QStringLiteral("&Visualizar")) {
        previewWatch.start();
        button->click();
      }
    previewWatch.stop();
    modal->close();
  });
  QTest::mouseClick(print, Qt::LeftButton);
  QApplication::processEvents();

  ASSERT_TRUE(dialog.Seen()) << "the print button opens the report's dialog";
  EXPECT_EQ(QStringLiteral("Relatório de Acompanhamento de Solicitações"), dialogTitle);
  EXPECT_EQ(QStringLiteral("Relatório de Acompanhamento de Solicitações — Visualização"),
            previewTitle);
  EXPECT_EQ(QStringLiteral("de 1"), pageCount);
  EXPECT_EQ(std::vector<std::string>{}, window->Platform().Messages)
      << "no 'não está instalado' any more";
  // Through the host's connection and factory, to the report's own object.
  ASSERT_NE(objects.end(), std::find(objects.begin(), objects.end(), "SUP00700.rdmRelAcomp"));
  ASSERT_EQ(6u, reportArgs.size());
  EXPECT_EQ("01/03/2024", fw::DateTimeToText(reportArgs[0].Date));
  EXPECT_EQ("31/03/2024", fw::DateTimeToText(reportArgs[1].Date));
  EXPECT_EQ("T", reportArgs[2].Text) << "every branch";
  EXPECT_EQ("T", reportArgs[4].Text) << "every status";
}

TEST_F(EndToEndTest, InvertedRequestDates_AreReportedInABoxAndNothingIsAsked) {
  fw::TForm* request = OpenFromMenu();
  ASSERT_NE(request, nullptr);
  auto* branches = Widget<QTableView>(request, "dbgPadrao");
  QLineEdit* soliIni = DateLine(request, "depSolicitacaoIni");
  QLineEdit* soliFin = DateLine(request, "depSolicitacaoFin");
  ASSERT_TRUE(branches && soliIni && soliFin);
  TypeDate(soliIni, "31032024");
  TypeDate(soliFin, "01032024");

  QString title, text;
  ModalWatch box([&](QWidget* modal) {
    if (auto* message = qobject_cast<QMessageBox*>(modal)) {
      title = message->windowTitle();
      text = message->text();
      message->buttons().front()->click();
    } else {
      modal->close();
    }
  });
  QTest::mouseClick(branches->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
  QApplication::processEvents();
  ASSERT_TRUE(box.Seen()) << "a message box was shown";
  EXPECT_EQ(title, QStringLiteral("Atenção"));
  EXPECT_EQ(text, QStringLiteral("Data de solicitação inicial é maior que a final."));
  EXPECT_TRUE(canned.Calls.empty());
  EXPECT_EQ(branches->model()->rowCount(), 0);
  // The focus is back on the initial date, in the model and in Qt.
  EXPECT_EQ(fw::Application->FocusedControl(), request->FindComponent("depSolicitacaoIni"));
  // The offscreen platform, unlike a window manager, does not give the main window back its
  // activation when the box closes: the focus is where Qt will put it once it does.
  EXPECT_EQ(soliIni->window()->focusWidget(), soliIni);
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  EXPECT_TRUE(soliIni->hasFocus());
  EXPECT_FALSE(branches->hasFocus());
}

TEST_F(EndToEndTest, HungServer_TheQueryCanBeCancelledAndFailsAsAnyRemoteFailure) {
  // The real TCP client, to a server that takes the connection and never answers.
  StoppedServer server;
  fw::THostConfig& config = fw::HostConfig();
  const std::string savedHost = config.ServerHost;
  const int savedPort = config.ServerPort;
  config.ServerHost = "127.0.0.1";
  config.ServerPort = server.Port();
  config.ServiceFactory = CancellableServiceFactory(window->Platform(), {2000, 60000});
  window->Platform().CancelOfferDelayMs = 300;

  fw::TForm* request = OpenFromMenu();
  ASSERT_NE(request, nullptr);
  auto* branches = Widget<QTableView>(request, "dbgPadrao");
  QLineEdit* soliIni = DateLine(request, "depSolicitacaoIni");
  QLineEdit* soliFin = DateLine(request, "depSolicitacaoFin");
  auto* lista = Widget<QWidget>(request, "rbtListFilSoli");
  ASSERT_TRUE(branches && soliIni && soliFin && lista);
  TypeDate(soliIni, "01032024");
  TypeDate(soliFin, "31032024");

  struct {
    bool Offered = false;
    QString Caption;
    QString Message;
  } seen;
  auto* poll = new QTimer();
  poll->setInterval(20);
  QObject::connect(poll, &QTimer::timeout, [&] {
    BusyOverlay* busy = window->Platform().Busy();
    if (!busy || !busy->CancelOffered()) return;
    poll->stop();
    seen.Offered = true;
    seen.Caption = busy->Caption();
    // A click elsewhere while the call hangs reaches nothing; then the user cancels.
    QTest::mouseClick(lista, Qt::LeftButton);
    QTest::mouseClick(busy->CancelButton(), Qt::LeftButton);
  });
  ModalWatch box([&](QWidget* modal) {
    if (auto* message = qobject_cast<QMessageBox*>(modal)) {
      seen.Message = message->text();
      message->buttons().front()->click();
    } else {
      modal->close();
    }
  });
  poll->start();
  const auto started = std::chrono::steady_clock::now();
  // Leaving the filter for the branch grid asks GetFilSoliGD, which hangs.
  QTest::mouseClick(branches->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
  QApplication::processEvents();
  const auto waited = std::chrono::steady_clock::now() - started;
  delete poll;

  EXPECT_TRUE(seen.Offered);
  EXPECT_LT(waited, std::chrono::seconds(10)) << "cancelled, not timed out";
  EXPECT_EQ(seen.Message, QStringLiteral("Operação cancelada pelo usuário."));
  EXPECT_EQ(window->Platform().Busy(), nullptr) << "the indicator is hidden";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(branches->model()->rowCount(), 0) << "no branch was loaded";
  auto* listRadio = dynamic_cast<fw::TRadioButton*>(request->FindComponent("rbtListFilSoli"));
  ASSERT_NE(listRadio, nullptr);
  EXPECT_FALSE(listRadio->Checked()) << "the click during the call did not reach the screen";

  fw::DoneApplication();
  config.ServerHost = savedHost;
  config.ServerPort = savedPort;
}

// Drags a splitter's handle by `dy` pixels, as the mouse does.
void DragSplitter(QWidget* handle, int dy) {
  const QPoint grip(handle->width() / 2, handle->height() / 2);
  QTest::mousePress(handle, Qt::LeftButton, {}, grip);
  QTest::mouseMove(handle, grip + QPoint(0, dy));
  QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(0, dy));
}

TEST_F(EndToEndTest, MoreRoom_GoesToThePagesAndTheItemsGrid_TheBarsKeepTheirs) {
  fw::TForm* request = OpenFromMenu();
  ASSERT_NE(request, nullptr);
  auto* sub = qobject_cast<QMdiSubWindow*>(window->Binding().WindowOf(request));
  auto* pages = Widget<QWidget>(request, "pgcPadrao");
  auto* toolbar = Widget<QWidget>(request, "panMenu");
  auto* filter = Widget<QWidget>(request, "panFiltro");
  auto* recordBar = Widget<QWidget>(request, "panNavigator");
  auto* navigator = Widget<QWidget>(request, "dbnPadrao");
  auto* code = Widget<QWidget>(request, "lblCodTela");
  auto* items = Widget<QWidget>(request, "panItens");
  auto* approvals = Widget<QWidget>(request, "panDestSolGere");
  auto* splitter = Widget<QWidget>(request, "Splitter1");
  ASSERT_TRUE(sub && pages && toolbar && filter && recordBar && navigator && code && items &&
              approvals && splitter);
  // The items tab, so that its page is laid out as the user sees it.
  dynamic_cast<fw::TPageControl*>(request->FindComponent("pgcPadrao"))
      ->SetActivePage(dynamic_cast<fw::TTabSheet*>(request->FindComponent("tshItens")));
  QApplication::processEvents();

  // At the designed size everything is where the screen's description puts it.
  EXPECT_EQ(toolbar->geometry(), QRect(0, 0, 1020, 28));
  EXPECT_EQ(filter->geometry(), QRect(0, 28, 1020, 85));
  EXPECT_EQ(pages->geometry(), QRect(0, 113, 1020, 337));
  EXPECT_EQ(recordBar->geometry(), QRect(0, 450, 1020, 38));
  EXPECT_EQ(navigator->geometry(), QRect(860, 6, 148, 25));
  EXPECT_EQ(items->height(), 249);
  const int approvalsHeight = approvals->height();

  // Larger: the toolbar stays at the top, the record bar at the bottom, the pages take the rest;
  // on the items tab the approvals keep their height and the items grid takes the rest.
  sub->resize(sub->width() + 200, sub->height() + 150);
  QApplication::processEvents();
  EXPECT_EQ(toolbar->geometry(), QRect(0, 0, 1220, 28));
  EXPECT_EQ(pages->geometry(), QRect(0, 113, 1220, 487));
  EXPECT_EQ(recordBar->geometry(), QRect(0, 600, 1220, 38));
  EXPECT_EQ(navigator->geometry(), QRect(1060, 6, 148, 25)) << "at the right edge";
  EXPECT_EQ(code->x(), 1150) << "the screen code at the right edge";
  EXPECT_EQ(items->height(), 249 + 150);
  EXPECT_EQ(approvals->height(), approvalsHeight);
  EXPECT_EQ(Widget<QWidget>(request, "dbgItens")->height(), items->height() - 8)
      << "the grid fills its panel";

  // The splitter still moves the boundary, and the window's next growth goes to the items again.
  ASSERT_GE(splitter->height(), 4) << "a handle the mouse can take";
  EXPECT_EQ(splitter->cursor().shape(), Qt::SizeVerCursor);
  DragSplitter(splitter, -50);
  EXPECT_EQ(items->height(), 349);
  EXPECT_EQ(approvals->height(), approvalsHeight + 50);
  sub->resize(sub->width(), sub->height() + 40);
  QApplication::processEvents();
  EXPECT_EQ(items->height(), 389);
  EXPECT_EQ(approvals->height(), approvalsHeight + 50);
  // Dragged all the way down, the approvals keep a sliver.
  DragSplitter(splitter, 1000);
  EXPECT_GE(approvals->height(), 20);

  // Back to the designed size: the design again, but for what the user dragged.
  sub->resize(sub->width() - 200, sub->height() - 190);
  QApplication::processEvents();
  EXPECT_EQ(pages->geometry(), QRect(0, 113, 1020, 337));
  EXPECT_EQ(recordBar->geometry(), QRect(0, 450, 1020, 38));
  fw::DoneApplication();
}

TEST_F(EndToEndTest, ItemScreen_TheQuotationsSplitterCanBeTakenAndBothGridsGrow) {
  fw::TForm* request = OpenFromMenu();
  ASSERT_NE(request, nullptr);
  QLineEdit* soliIni = DateLine(request, "depSolicitacaoIni");
  auto* branches = Widget<QTableView>(request, "dbgPadrao");
  auto* items = Widget<QTableView>(request, "dbgItens");
  ASSERT_TRUE(soliIni && branches && items);
  TypeDate(soliIni, "01032024");
  TypeDate(DateLine(request, "depSolicitacaoFin"), "31032024");
  QTest::mouseClick(branches->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
  QApplication::processEvents();
  dynamic_cast<fw::TPageControl*>(request->FindComponent("pgcPadrao"))
      ->SetActivePage(dynamic_cast<fw::TTabSheet*>(request->FindComponent("tshItens")));
  QApplication::processEvents();

  struct {
    int Handle = 0, Products = 0, Quotations = 0, ProductsDragged = 0, QuotationsDragged = 0;
    QSize ProductsGrown, QuotationsGrown;
  } seen;
  ModalWatch inside([&](QWidget* modal) {
    fw::TForm* itemScreen = fw::Application->FindForm("frmAcompItens");
    auto* products = itemScreen ? Widget<QWidget>(itemScreen, "panDbgPadrao") : nullptr;
    auto* quotations = itemScreen ? Widget<QWidget>(itemScreen, "dbgCotacao") : nullptr;
    auto* splitter = itemScreen ? Widget<QWidget>(itemScreen, "Splitter1") : nullptr;
    if (products && quotations && splitter) {
      seen.Handle = splitter->height();
      seen.Products = products->height();
      seen.Quotations = quotations->height();
      DragSplitter(splitter, -60);
      seen.ProductsDragged = products->height();
      seen.QuotationsDragged = quotations->height();
      const QSize before = products->size(), quotationsBefore = quotations->size();
      modal->resize(modal->width() + 100, modal->height() + 120);
      QApplication::processEvents();
      seen.ProductsGrown = products->size() - before;
      seen.QuotationsGrown = quotations->size() - quotationsBefore;
    }
    modal->close();
  });
  const QPoint number = items
                            ->visualRect(items->model()->index(
                                0, ColumnTitled(items, QStringLiteral("Nº Solicitação"))))
                            .center();
  QTest::mouseClick(items->viewport(), Qt::LeftButton, {}, number);
  QTest::mouseDClick(items->viewport(), Qt::LeftButton, {}, number);
  QApplication::processEvents();
  ASSERT_TRUE(inside.Seen());
  EXPECT_GE(seen.Handle, 4) << "the designed splitter is 0 pixels high; its handle is not";
  EXPECT_EQ(seen.Products, 223) << "as designed";
  EXPECT_EQ(seen.ProductsDragged, 223 - 60);
  EXPECT_EQ(seen.QuotationsDragged, seen.Quotations + 60);
  EXPECT_EQ(seen.ProductsGrown.width(), 100);
  EXPECT_EQ(seen.QuotationsGrown, QSize(100, 120));
  fw::DoneApplication();
}

// The real screens with the keyboard and sorting: Tab moves through the items grid's columns and
// Ctrl+Tab changes the tab without a call; a title click sorts the items by date with nothing
// asked of the server; Enter on the request number opens the item screen and Esc closes it. The
// sort, the splitter and the window are kept for the user: the screen reopened has them.
TEST_F(EndToEndTest, RealScreens_KeysAndSorting_AndTheLayoutKeptForTheUser) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  fw::HostConfig().Credentials.Login = "demo";
  window->Binding().SetLayoutStore(
      std::make_shared<LayoutStore>(folder.filePath(QStringLiteral("telas.conf"))));
  fw::TForm* request = OpenFromMenu();
  ASSERT_NE(request, nullptr);
  auto* branches = Widget<QTableView>(request, "dbgPadrao");
  auto* items = Widget<QTableView>(request, "dbgItens");
  auto* itemsGrid = dynamic_cast<fw::TDBGrid*>(request->FindComponent("dbgItens"));
  ASSERT_TRUE(branches && items && itemsGrid);
  TypeDate(DateLine(request, "depSolicitacaoIni"), "01032024");
  TypeDate(DateLine(request, "depSolicitacaoFin"), "31032024");
  QTest::mouseClick(branches->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
  QApplication::processEvents();
  ASSERT_EQ(CallsSince(0), (Calls{"GetFilSoliGD", "GetItens", "GetDestSolGere"}));

  // Tab in the branch grid: the next column, not the filter panel; Ctrl+Tab: the items tab.
  size_t mark = canned.Calls.size();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QApplication::processEvents();
  EXPECT_TRUE(branches->hasFocus());
  EXPECT_EQ(2, branches->model()->rowCount()) << "the results stay";
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_TRUE(items->isVisible());
  EXPECT_TRUE(items->hasFocus());
  EXPECT_EQ(CallsSince(mark), Calls{});

  // The delivery date's title: sorted by date, the empty one first; the current item stays.
  QHeaderView* titles = items->horizontalHeader();
  const int date = ColumnTitled(items, QStringLiteral("Dt. Entrega Solicitação"));
  QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                    QPoint(titles->sectionViewportPosition(date) + 5, titles->height() / 2));
  QApplication::processEvents();
  EXPECT_EQ(Cell(items, 0, QStringLiteral("Nº Solicitação")), QStringLiteral("0000000102"));
  EXPECT_EQ(Cell(items, 1, QStringLiteral("Dt. Entrega Solicitação")),
            QStringLiteral("05/03/2024"));
  EXPECT_EQ(titles->sortIndicatorSection(), date);
  EXPECT_EQ(items->currentIndex().row(), 1) << "the first item, now second";
  EXPECT_EQ(CallsSince(mark), Calls{}) << "no call, no after-scroll cascade";

  // Enter on the request number opens the item screen; Esc closes it.
  fw::Application->UserSelectColumn(itemsGrid, itemsGrid->ColumnIndex("NRSOLICMP"));
  QApplication::processEvents();
  bool escClosed = false;
  ModalWatch inside([&](QWidget* modal) {
    const bool active = QTest::qWaitFor([modal] { return QApplication::activeWindow() == modal; });
    EXPECT_TRUE(active) << "the item screen's window takes the keys";
    // As the keyboard sends it: to the active window, which hands it to its focused widget.
    QTest::keyClick(modal->windowHandle(), Qt::Key_Escape);
    QApplication::processEvents();
    escClosed = !modal->isVisible();
    if (modal->isVisible()) modal->close();
  });
  // Pressed from the event loop, as a key comes: the modal window's activation, a window-system
  // event, is not held behind a key the test delivers on the spot.
  QTimer::singleShot(0, [items] { QTest::keyClick(items, Qt::Key_Return); });
  QTRY_VERIFY(inside.Seen());
  EXPECT_TRUE(escClosed);
  EXPECT_EQ(Arg("GetItemProduto", "nrSoliCmp"), "0000000101") << "the item under the cursor";

  // The approvals' splitter dragged, the window made larger; the screen closed and opened again.
  DragSplitter(Widget<QWidget>(request, "Splitter1"), -40);
  const int itemsHeight = Widget<QWidget>(request, "panItens")->height();
  auto* sub = qobject_cast<QMdiSubWindow*>(window->Binding().WindowOf(request));
  sub->resize(sub->width() + 30, sub->height() + 20);
  QApplication::processEvents();
  const QSize size = sub->size();
  sub->showMaximized();
  QApplication::processEvents();
  fw::Application->UserClick(dynamic_cast<fw::TControl*>(request->FindComponent("sbtFechar")));
  QApplication::processEvents();
  request = OpenFromMenu();
  ASSERT_NE(request, nullptr);
  sub = qobject_cast<QMdiSubWindow*>(window->Binding().WindowOf(request));
  EXPECT_TRUE(sub->isMaximized()) << "left maximized, opened maximized";
  sub->showNormal();
  QApplication::processEvents();
  EXPECT_EQ(sub->size(), size) << "its normal size, as left";
  auto* itemsData = dynamic_cast<fw::TDataSet*>(request->FindComponent("cdsItensGrid"));
  ASSERT_NE(itemsData, nullptr);
  EXPECT_EQ(itemsData->IndexFields(), (std::vector<fw::TIndexField>{{"DTPROGENTR"}}));
  dynamic_cast<fw::TPageControl*>(request->FindComponent("pgcPadrao"))
      ->SetActivePage(dynamic_cast<fw::TTabSheet*>(request->FindComponent("tshItens")));
  QApplication::processEvents();
  EXPECT_EQ(Widget<QWidget>(request, "panItens")->height(), itemsHeight + 20)
      << "the dragged boundary, and the window's extra height to the items";
  fw::HostConfig().Credentials = {};
  fw::DoneApplication();
}

TEST_F(EndToEndTest, GridColumns_DatesFitTheirDesignedWidths_AndADraggedWidthStays) {
  fw::TForm* request = OpenFromMenu();
  ASSERT_NE(request, nullptr);
  auto* branches = Widget<QTableView>(request, "dbgPadrao");
  auto* items = Widget<QTableView>(request, "dbgItens");
  auto* grid = dynamic_cast<fw::TDBGrid*>(request->FindComponent("dbgItens"));
  ASSERT_TRUE(branches && items && grid);
  const auto query = [&] {
    TypeDate(DateLine(request, "depSolicitacaoIni"), "01032024");
    TypeDate(DateLine(request, "depSolicitacaoFin"), "31032024");
    QTest::mouseClick(branches->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
    QApplication::processEvents();
  };
  query();
  ASSERT_EQ(items->model()->rowCount(), 2);

  // Where the design gives a date room (60 to 83 pixels), the grid's face fits it whole in the
  // cell's text area (its width less the grid line and the text margins), at the designed width.
  const int margin = items->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, items) + 1;
  const QFontMetrics metrics(items->font());
  int dates = 0;
  for (int column = 0; column < grid->ColumnCount(); ++column) {
    const fw::TField* field = grid->ColumnField(column);
    const int width = grid->ColumnWidth(column);
    EXPECT_EQ(items->columnWidth(column), width) << "nothing grows: " << grid->ColumnTitle(column);
    if (!field || field->DataType() != fw::TFieldType::ftDateTime || width < 60 || width > 83)
      continue;
    ++dates;
    EXPECT_LE(metrics.horizontalAdvance(QStringLiteral("15/03/2024")), width - 1 - 2 * margin)
        << grid->ColumnTitle(column) << " (" << width << " px)";
  }
  EXPECT_GE(dates, 4);
  const int delivery = ColumnTitled(items, QStringLiteral("Dt. Entrega Solicitação"));
  EXPECT_LE(metrics.horizontalAdvance(Cell(items, 0, QStringLiteral("Dt. Entrega Solicitação"))),
            items->columnWidth(delivery) - 1 - 2 * margin);
  EXPECT_EQ(items->model()->headerData(delivery, Qt::Horizontal, Qt::ToolTipRole).toString(),
            QStringLiteral("Dt. Entrega Solicitação"))
      << "a title cut by its column reads whole in its tooltip";
  const int quantity = ColumnTitled(items, QStringLiteral("Quantidade AF"));
  EXPECT_TRUE(items->model()->index(0, quantity).data(Qt::TextAlignmentRole).toInt() &
              Qt::AlignRight)
      << "numbers align right";
  EXPECT_FALSE(items->model()->index(0, delivery).data(Qt::TextAlignmentRole).toInt() &
               Qt::AlignRight);

  // The user drags the border of "Destino" 40 pixels wider.
  QHeaderView* header = items->horizontalHeader();
  const int destination = ColumnTitled(items, QStringLiteral("Destino"));
  const int designed = items->columnWidth(destination);
  const QPoint border(header->sectionViewportPosition(destination) + designed - 1,
                      header->height() / 2);
  QTest::mousePress(header->viewport(), Qt::LeftButton, {}, border);
  QTest::mouseMove(header->viewport(), border + QPoint(40, 0));
  QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, border + QPoint(40, 0));
  ASSERT_EQ(items->columnWidth(destination), designed + 40);

  // A new query reloads the grid: the dragged width stays, the others are as designed.
  const size_t mark = canned.Calls.size();
  QTest::mouseClick(DateLine(request, "depSolicitacaoIni"), Qt::LeftButton);
  QApplication::processEvents();
  query();
  ASSERT_EQ(CallsSince(mark), (Calls{"GetFilSoliGD", "GetItens", "GetDestSolGere"}));
  EXPECT_EQ(items->columnWidth(destination), designed + 40);
  EXPECT_EQ(items->columnWidth(delivery), grid->ColumnWidth(delivery));
  fw::DoneApplication();
}

TEST_F(EndToEndTest, SmallerThings_PartDateMessage_HelpPicture_ReadableNames) {
  fw::TForm* request = OpenFromMenu();
  ASSERT_NE(request, nullptr);
  QLineEdit* soliIni = DateLine(request, "depSolicitacaoIni");
  ASSERT_NE(soliIni, nullptr);
  TypeDate(soliIni, "010320");
  QString text;
  ModalWatch box([&](QWidget* modal) {
    if (auto* message = qobject_cast<QMessageBox*>(modal)) {
      text = message->text();
      message->buttons().front()->click();
    } else {
      modal->close();
    }
  });
  QTest::keyClick(soliIni, Qt::Key_Tab);
  QApplication::processEvents();
  ASSERT_TRUE(box.Seen());
  EXPECT_EQ(text, QStringLiteral("Data incompleta: 01/03/20__. Falta completar o ano."));

  // The help button's picture reads as help: a blue disc with a white question mark, no red.
  auto* help = Widget<QToolButton>(request, "sbtAjuda");
  ASSERT_NE(help, nullptr);
  const QImage picture = help->icon().pixmap(16, 16).toImage();
  int blue = 0, red = 0, white = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) {
      const QColor c = picture.pixelColor(x, y);
      if (c.alpha() < 128) continue;
      blue += c.blue() > c.red() + 60;
      red += c.red() > c.blue() + 60;
      white += c.red() > 200 && c.green() > 200 && c.blue() > 200;
    }
  EXPECT_GT(blue, 80);
  EXPECT_GT(white, 8);
  EXPECT_EQ(red, 0);

  // The product names only display: disabled, but drawn in the normal text colour.
  auto* name = Widget<QLineEdit>(request, "edtNmProdIni");
  ASSERT_NE(name, nullptr);
  EXPECT_FALSE(name->isEnabled());
  EXPECT_EQ(name->palette().color(QPalette::Disabled, QPalette::Text),
            name->palette().color(QPalette::Active, QPalette::Text));
  EXPECT_NE(name->palette().color(QPalette::Disabled, QPalette::Text),
            name->palette().color(QPalette::Disabled, QPalette::Base));
  fw::DoneApplication();
}

}  // namespace
}  // namespace hostapp::testing
