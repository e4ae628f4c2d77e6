// The host's aids around the real request screen (the package opened through the main window,
// the canned service behind it): the status bar after each query, the help button and F1, the
// branch picker's result beside "Lista", and the report's "Usar o filtro da tela".
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "framework/host/config.h"
#include "framework/testing/canned_service.h"
#include "framework/ui/application.h"
#include "host_app/dialogs.h"
#include "host_app/help_window.h"
#include "host_app/main_window.h"
#include "host_app/module_loader.h"
#include "host_app/picker_result.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_platform.h"
#include "host_app/status_bar.h"
#include "test_form.h"

namespace hostapp::testing {
namespace {

class ScreenAidsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    canned.ServeText("GetFilSoliGD", {"CDFILIAL", "NMFILIAL"},
                     {{"0001", "Matriz"}, {"0002", "Filial Centro"}});
    canned.ServeText("GetItens",
                     {"STATUS", "CDFILLAN", "NRSOLICMP", "NMDESTSOLI", "NRCOMPRA", "CDFILIAL"},
                     {{"A", "0001", "0000000101", "Almoxarifado", "0000005001", "0001"},
                      {"C", "0001", "0000000102", "Manutenção", "0000005002", "0001"},
                      {"C", "0001", "0000000103", "Manutenção", "0000005003", "0001"}});
    canned.ServeText("GetDestSolGere", {"IDAPROVPRGER", "NMOPERADOR"}, {{"S", "Carlos Souza"}});
    canned.ServeText(
        "GetFilSoli", {"IDMARCADO", "CDFILSOLI", "NMFILIAL"},
        {{"", "0001", "Matriz"}, {"", "0002", "Filial Centro"}, {"", "0003", "Santos"}});
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
    if (HelpWindow* help = HelpWindow::Current()) help->close();
    fw::DoneApplication();
    loader->FinalizeAll();
    window.reset();
    loader.reset();
    fw::HostConfig().ServiceFactory = savedFactory;
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
  }

  fw::TForm* Open() {
    EXPECT_TRUE(window->OpenRequestTracking());
    QApplication::processEvents();
    return fw::Application->FindForm("frmAcompSoli");
  }
  template <typename T>
  T* Widget(fw::TForm* form, const char* name) const {
    fw::TComponent* control = form ? form->FindComponent(name) : nullptr;
    return control ? dynamic_cast<T*>(window->Binding().WidgetOf(control)) : nullptr;
  }
  QLineEdit* DateLine(fw::TForm* form, const char* name) const {
    fw::TComponent* control = form ? form->FindComponent(name) : nullptr;
    return control ? qobject_cast<QLineEdit*>(window->Binding().FocusWidgetOf(control)) : nullptr;
  }
  static void TypeDate(QLineEdit* edit, const char* digits) {
    QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(3, edit->height() / 2));
    QApplication::processEvents();
    QTest::keyClicks(edit, QString::fromLatin1(digits));
  }
  // Leaves the filter for the branch grid: the query runs.
  void Query(fw::TForm* form) {
    auto* branches = Widget<QTableView>(form, "dbgPadrao");
    ASSERT_NE(branches, nullptr);
    QTest::mouseClick(branches->viewport(), Qt::LeftButton, {}, QPoint(40, 10));
    QApplication::processEvents();
  }
  QString Records() {
    QApplication::processEvents();
    QLabel* label = window->Status().RecordsLabel();
    return label->isVisibleTo(window.get()) ? label->text() : QString();
  }

  service::TCannedAppServer canned;
  decltype(fw::THostConfig::ServiceFactory) savedFactory;
  std::unique_ptr<ModuleLoader> loader;
  std::unique_ptr<MainWindow> window;
};

TEST_F(ScreenAidsTest, StatusBar_TheRecordsOfEachQuery_AndNoneFoundWhenEmpty) {
  fw::TForm* request = Open();
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(QString(), Records());
  Query(request);
  EXPECT_EQ(QStringLiteral("2 registros"), Records());
  // The items' tab: the grid in view is the items'.
  fw::Application->UserSelectTab(dynamic_cast<fw::TTabSheet*>(request->FindComponent("tshItens")));
  EXPECT_EQ(QStringLiteral("3 registros"), Records());
  fw::Application->UserSelectTab(dynamic_cast<fw::TTabSheet*>(request->FindComponent("tshPadrao")));

  // Back in the filter the grids close; a query that finds nothing says so.
  QLineEdit* first = DateLine(request, "depSolicitacaoIni");
  ASSERT_NE(first, nullptr);
  QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(3, first->height() / 2));
  QApplication::processEvents();
  EXPECT_EQ(QString(), Records());
  canned.ServeEmpty("GetFilSoliGD");
  Query(request);
  EXPECT_EQ(QStringLiteral("Nenhum registro encontrado."), Records());
}

TEST_F(ScreenAidsTest, HelpButtonAndF1_OpenTheScreensHelp) {
  fw::TForm* request = Open();
  ASSERT_NE(request, nullptr);
  auto* help = Widget<QToolButton>(request, "sbtAjuda");
  ASSERT_NE(help, nullptr);
  QTest::mouseClick(help, Qt::LeftButton);
  QApplication::processEvents();
  ASSERT_NE(HelpWindow::Current(), nullptr);
  EXPECT_EQ(QStringLiteral("CMP09500"), HelpWindow::Current()->Topic());
  EXPECT_EQ(std::vector<std::string>{}, window->Platform().Messages) << "no 'não está instalada'";
  HelpWindow::Current()->close();
  QApplication::processEvents();

  Query(request);
  auto* branches = Widget<QTableView>(request, "dbgPadrao");
  QTest::keyClick(branches, Qt::Key_F1);
  ASSERT_NE(HelpWindow::Current(), nullptr);
  EXPECT_TRUE(HelpWindow::Current()->isVisible());
  EXPECT_EQ(QStringLiteral("CMP09500"), HelpWindow::Current()->Topic());
}

TEST_F(ScreenAidsTest, BranchPicker_TheChoiceShowsBesideLista) {
  fw::TForm* request = Open();
  ASSERT_NE(request, nullptr);
  auto* lista = Widget<QRadioButton>(request, "rbtListFilSoli");
  auto* picker = Widget<QToolButton>(request, "sbtFilSoli");
  ASSERT_TRUE(lista && picker);
  QTest::mouseClick(lista, Qt::LeftButton);
  QApplication::processEvents();
  ASSERT_TRUE(picker->isEnabled());
  OnNextModal([](QWidget* modal) {
    auto* dialog = dynamic_cast<PickListDialog*>(modal);
    if (!dialog) {
      modal->close();
      return;
    }
    for (int row : {0, 2}) {
      dialog->Table()->setCurrentIndex(dialog->Table()->model()->index(row, 2));
      QTest::keyClick(dialog->Table(), Qt::Key_Space);
    }
    dialog->accept();
  });
  QTest::mouseClick(picker, Qt::LeftButton);
  QApplication::processEvents();
  QLabel* shown = window->Platform().Picks().LabelIn(
      dynamic_cast<fw::TControl*>(request->FindComponent("sbtFilSoli")));
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(QStringLiteral("2: 0001, 0003"), shown->accessibleName());
  EXPECT_TRUE(shown->toolTip().contains(QStringLiteral("0003 — Santos")));
  EXPECT_TRUE(shown->isVisible());
  EXPECT_GT(shown->geometry().left(), picker->geometry().right());
}

// The print button's dialog takes the screen's request dates and the branches it lists.
TEST_F(ScreenAidsTest, ReportDialog_UsesTheScreensFilter) {
  fw::TForm* request = Open();
  ASSERT_NE(request, nullptr);
  TypeDate(DateLine(request, "depSolicitacaoIni"), "01032024");
  TypeDate(DateLine(request, "depSolicitacaoFin"), "31032024");
  Query(request);
  auto* print = Widget<QToolButton>(request, "sbtImprimir");
  ASSERT_TRUE(print && print->isEnabled());
  QStringList marked;
  QString first, last;
  bool offered = false;
  OnNextModal([&](QWidget* modal) {
    QPushButton* use = nullptr;
    for (QPushButton* button : modal->findChildren<QPushButton*>())
      if (button->text() == QStringLiteral("Usar o &filtro da tela")) use = button;
    offered = use && !use->isHidden();
    if (use) use->click();
    const auto lines = modal->findChildren<QLineEdit*>();
    if (lines.size() >= 2) {
      first = lines[0]->displayText();
      last = lines[1]->displayText();
    }
    if (auto* list = modal->findChild<QListWidget*>())
      for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->checkState() == Qt::Checked)
          marked << list->item(i)->data(Qt::UserRole).toString();
    modal->close();
  });
  QTest::mouseClick(print, Qt::LeftButton);
  QApplication::processEvents();
  EXPECT_TRUE(offered);
  EXPECT_EQ(QStringLiteral("01/03/2024"), first);
  EXPECT_EQ(QStringLiteral("31/03/2024"), last);
  EXPECT_EQ((QStringList{QStringLiteral("0001"), QStringLiteral("0002")}), marked);
}

}  // namespace
}  // namespace hostapp::testing
