// The keyboard in the host window, through the binding: Tab in a grid, Ctrl+Tab and Ctrl+PgDn
// over the tabs (in the main window's work area too), Enter in a grid, Esc on a modal form, the
// focus mark of every focusable control and the product look-up's cursor keys.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include "host_app/dialogs.h"
#include "host_app/main_window.h"
#include "host_app/module_loader.h"
#include "test_form.h"

namespace hostapp::testing {
namespace {

using Log = std::vector<std::string>;

class KeyboardTest : public BoundTest {
 protected:
  void SetUp() override {
    BoundTest::SetUp();
    form = ShowTestForm();
    form->cdsDados->SetData(Packet(3));
    QApplication::processEvents();
  }
  void Key(int key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key), modifiers);
    QApplication::processEvents();
  }
  TTestForm* form = nullptr;
};

TEST_F(KeyboardTest, TabInAGridWithDgTabs_GoesFromColumnToColumn_ThenLeavesIt) {
  fw::Application->UserSelectColumn(form->dbgDados, 0);
  QApplication::processEvents();
  form->Log.clear();
  Key(Qt::Key_Tab);
  Key(Qt::Key_Tab);
  EXPECT_EQ(2, form->dbgDados->SelectedIndex());
  EXPECT_EQ(form->dbgDados, form->ActiveControl());
  auto* view = Widget<QTableView>(form->dbgDados);
  EXPECT_TRUE(view->hasFocus());
  EXPECT_EQ(2, view->currentIndex().column()) << "the view shows the selected column";
  EXPECT_EQ(Log{}, form->Log);
  Key(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(1, form->dbgDados->SelectedIndex());
  Key(Qt::Key_Tab);
  Key(Qt::Key_Tab);
  EXPECT_NE(form->dbgDados, form->ActiveControl()) << "past the last column the grid is left";
  EXPECT_EQ((Log{"dbgDados.Exit", "pgcDados.Exit", "panTopo.Enter", "edtNome.Enter"}), form->Log);
}

TEST_F(KeyboardTest, CtrlTabAndCtrlPgDn_ChangeTheTab) {
  fw::Application->UserFocus(form->dbgDados);
  QApplication::processEvents();
  auto* tabs = binding->TabsOf(form->pgcDados);
  Key(Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(form->tshDois, form->pgcDados->ActivePage());
  EXPECT_EQ(1, tabs->currentIndex());
  EXPECT_EQ(form->edtDois, form->ActiveControl());
  EXPECT_TRUE(binding->FocusWidgetOf(form->edtDois)->hasFocus());
  Key(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(form->tshUm, form->pgcDados->ActivePage());
  EXPECT_EQ(form->dbgDados, form->ActiveControl());
  Key(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(form->tshDois, form->pgcDados->ActivePage());
}

// The main window's work area keeps Ctrl+Tab for going between its windows: in a screen it
// still changes the screen's tab.
TEST(KeyboardInTheWorkArea, CtrlTab_ChangesTheScreensTab) {
  fw::InitApplication();
  {
    ModuleLoader loader(TEST_MODULE_DIR);
    MainWindow window(loader);
    window.Platform().Interactive = false;
    window.show();
    auto* form = new TTestForm(fw::Application);
    form->FormStyle = fw::TFormStyle::fsMDIChild;
    form->Show();
    QApplication::processEvents();
    fw::Application->UserFocus(form->dbgDados);
    QApplication::processEvents();
    ASSERT_TRUE(window.Binding().FocusWidgetOf(form->dbgDados)->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(form->tshDois, form->pgcDados->ActivePage());
    EXPECT_EQ(form->edtDois, form->ActiveControl());
    fw::DoneApplication();
  }
  QApplication::processEvents();
}

TEST_F(KeyboardTest, EnterInAGrid_DoubleClicksTheSelectedCell) {
  fw::Application->UserSelectColumn(form->dbgDados, 1);
  QApplication::processEvents();
  form->Log.clear();
  Key(Qt::Key_Return);
  EXPECT_EQ(Log{"dbgDados.DblClick"}, form->Log);
}

TEST_F(KeyboardTest, EscOnAModalForm_ClosesIt) {
  auto* modal = new fw::TForm(fw::Application, "frmModal");
  modal->SetCaption("Itens");
  modal->SetBounds(0, 0, 300, 200);
  auto* edit = modal->Create<fw::TEdit>("edtModal");
  edit->SetParent(modal);
  edit->SetBounds(10, 10, 100, 21);
  edit->TabStop = true;
  int closes = 0;
  modal->OnClose = [&](fw::TComponent*, fw::TCloseAction&) { ++closes; };
  OnNextModal([&](QWidget*) { QTest::keyClick(binding->FocusWidgetOf(edit), Qt::Key_Escape); });
  modal->ShowModal();
  EXPECT_EQ(1, closes);
  EXPECT_FALSE(modal->Visible());
  EXPECT_EQ(fw::Application->ActiveForm(), form);
}

// What a control looks like focused differs from what it looks like without the focus: the user
// always sees where the keys go.
TEST_F(KeyboardTest, EveryFocusableControl_ShowsAFocusMark) {
  form->rbtTodas->SetChecked(true);
  const std::vector<fw::TControl*> controls = {form->edtNome,  form->medCodigo, form->depData,
                                               form->rbtTodas, form->rbtLista,  form->dbgDados};
  for (fw::TControl* control : controls) {
    fw::TControl* other = control == form->edtNome ? form->medCodigo : form->edtNome;
    QWidget* widget = binding->WidgetOf(control);
    fw::Application->UserFocus(other);
    QApplication::processEvents();
    const QImage without = widget->grab().toImage();
    fw::Application->UserFocus(control);
    QApplication::processEvents();
    ASSERT_TRUE(binding->FocusWidgetOf(control)->hasFocus()) << control->Name();
    const QImage with = widget->grab().toImage();
    EXPECT_NE(without, with) << control->Name() << " shows no focus mark";
  }
}

TEST_F(KeyboardTest, ProductLookup_UpAndDownInTheFilter_MoveTheListsCursor) {
  auto* products = new fw::TClientDataSet(form, "qryProduto");
  products->AddField("qryProdutoCDPRODUTO", "CDPRODUTO", fw::TFieldType::ftString, 10);
  products->AddField("qryProdutoNMPRODUTO", "NMPRODUTO", fw::TFieldType::ftString, 50);
  fw::TDataPacket packet(
      {{"CDPRODUTO", fw::TFieldType::ftString, 10}, {"NMPRODUTO", fw::TFieldType::ftString, 50}});
  int code = 0;
  for (const char* name : {"Parafuso", "Porca", "Prego", "Arruela"}) {
    packet.Columns()[0].AppendString("C" + std::to_string(++code));
    packet.Columns()[1].AppendString(name);
  }
  products->SetData(std::move(packet));
  ProductLookupDialog dialog(products, "CDPRODUTO", "NMPRODUTO");
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  QTest::keyClicks(dialog.Filter(), "p");
  EXPECT_EQ(3, dialog.VisibleRows());
  EXPECT_EQ(0, dialog.ChosenRow());
  QTest::keyClick(dialog.Filter(), Qt::Key_Down);
  EXPECT_EQ(1, dialog.ChosenRow());
  QTest::keyClick(dialog.Filter(), Qt::Key_Down);
  QTest::keyClick(dialog.Filter(), Qt::Key_Down);
  EXPECT_EQ(2, dialog.ChosenRow()) << "the last row shown";
  QTest::keyClick(dialog.Filter(), Qt::Key_Up);
  EXPECT_EQ(1, dialog.ChosenRow());
  EXPECT_TRUE(dialog.Filter()->hasFocus()) << "typing goes on in the filter";
  QTest::keyClicks(dialog.Filter(), "a");
  EXPECT_EQ(QStringLiteral("pa"), dialog.Filter()->text());
}

}  // namespace
}  // namespace hostapp::testing
