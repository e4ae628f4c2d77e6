// The Qt binding: widgets from the model, the model's changes reflected, and the user's input
// reaching the model only as the framework's user events.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <algorithm>
#include <cstdio>

#include "host_app/conversions.h"
#include "host_app/qt_widgets.h"
#include "host_app/screenshot.h"
#include "test_form.h"

namespace hostapp::testing {
namespace {

using Log = std::vector<std::string>;

class BindingTest : public BoundTest {};

TEST_F(BindingTest, ShownForm_HasOneWidgetPerControlWithModelGeometryAndTexts) {
  TTestForm* form = ShowTestForm();
  EXPECT_EQ(binding->WindowOf(form)->windowTitle(), QStringLiteral("Tela de Teste"));

  auto* name = Widget<QLineEdit>(form->edtNome);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->geometry(), QRect(60, 4, 120, 21));
  EXPECT_EQ(name->toolTip(), QStringLiteral("Nome da filial"));
  EXPECT_EQ(Widget<QLabel>(form->lblNome)->text(), QStringLiteral("Nome"));
  EXPECT_EQ(Widget<QLabel>(form->lblNome)->pos(), QPoint(8, 8));

  auto* group = Widget<QGroupBox>(form->grbOpcao);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), QStringLiteral("Opção"));
  EXPECT_TRUE(group->font().bold());
  EXPECT_FALSE(Widget<QRadioButton>(form->rbtTodas)->font().bold())
      << "the bold caption is the group box's own";
  EXPECT_EQ(Widget<QRadioButton>(form->rbtLista)->text(), QStringLiteral("Lista"));
  EXPECT_EQ(Widget<QRadioButton>(form->rbtLista)->geometry(), QRect(8, 44, 80, 17));

  auto* greyed = Widget<QLineEdit>(form->edtSomente);
  EXPECT_FALSE(greyed->isEnabled());
  EXPECT_EQ(greyed->palette().color(QPalette::Base), greyed->palette().color(QPalette::Button));
  EXPECT_EQ(Widget<QToolButton>(form->sbtPesquisa)->toolTip(), QStringLiteral("Pesquisar"));
  EXPECT_EQ(Widget<QToolButton>(form->sbtPesquisa)->focusPolicy(), Qt::NoFocus);

  // Aligned panels span the client area; the page control fills what is left between them.
  const QSize client = binding->RootOf(form)->Client()->size();
  EXPECT_EQ(Widget<QWidget>(form->panTopo)->geometry(), QRect(0, 0, client.width(), 90));
  EXPECT_EQ(Widget<QWidget>(form->panRodape)->geometry(),
            QRect(0, client.height() - 30, client.width(), 30));
  EXPECT_EQ(Widget<QWidget>(form->pgcDados)->geometry(),
            QRect(0, 90, client.width(), client.height() - 120));
  EXPECT_EQ(client, QSize(600, 400));

  auto* tabs = binding->TabsOf(form->pgcDados);
  ASSERT_EQ(tabs->count(), 2);
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("Filiais"));
  EXPECT_EQ(tabs->tabText(1), QStringLiteral("Itens"));
  EXPECT_EQ(tabs->currentIndex(), 0);
}

TEST_F(BindingTest, ModelChanges_AreReflectedInTheWidgets) {
  TTestForm* form = ShowTestForm();
  form->edtNome->SetText("Matriz");
  form->lblNome->SetCaption("Razão");
  form->grbOpcao->SetCaption("Escolha");
  form->rbtLista->SetChecked(true);
  form->sbtPesquisa->SetEnabled(false);
  form->edtNome->SetBounds(70, 6, 150, 21);
  form->depData->SetVisible(false);
  form->tshDois->SetCaption("Aprovações");
  form->SetCaption("Outra Tela");

  EXPECT_EQ(Widget<QLineEdit>(form->edtNome)->text(), QStringLiteral("Matriz"));
  EXPECT_EQ(Widget<QLabel>(form->lblNome)->text(), QStringLiteral("Razão"));
  EXPECT_EQ(Widget<QGroupBox>(form->grbOpcao)->title(), QStringLiteral("Escolha"));
  EXPECT_TRUE(Widget<QRadioButton>(form->rbtLista)->isChecked());
  form->rbtTodas->SetChecked(true);
  EXPECT_TRUE(Widget<QRadioButton>(form->rbtTodas)->isChecked());
  EXPECT_FALSE(Widget<QRadioButton>(form->rbtLista)->isChecked()) << "the model unchecked it";
  EXPECT_FALSE(Widget<QToolButton>(form->sbtPesquisa)->isEnabled());
  EXPECT_EQ(Widget<QLineEdit>(form->edtNome)->geometry(), QRect(70, 6, 150, 21));
  EXPECT_FALSE(Widget<QWidget>(form->depData)->isVisible());
  EXPECT_EQ(binding->TabsOf(form->pgcDados)->tabText(1), QStringLiteral("Aprovações"));
  EXPECT_EQ(binding->WindowOf(form)->windowTitle(), QStringLiteral("Outra Tela"));
}

TEST_F(BindingTest, TypingInALineEdit_ReachesTheModelAsChanges) {
  TTestForm* form = ShowTestForm();
  auto* name = Widget<QLineEdit>(form->edtNome);
  QTest::keyClicks(name, "abc");
  EXPECT_EQ(form->edtNome->Text(), "abc");
  EXPECT_EQ(std::count(form->Log.begin(), form->Log.end(), "edtNome.Change"), 3);

  // What a change handler does to the text is what the edit then shows.
  form->edtNome->OnChange = [form](fw::TComponent*) {
    std::string text = form->edtNome->Text();
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    form->edtNome->SetText(text);
  };
  QTest::keyClicks(name, "d");
  EXPECT_EQ(form->edtNome->Text(), "ABCD");
  EXPECT_EQ(name->text(), QStringLiteral("ABCD"));
}

TEST_F(BindingTest, TypingInAReadOnlyEdit_IsUndoneFromTheModel) {
  TTestForm* form = ShowTestForm();
  form->edtNome->SetText("fixo");
  form->edtNome->ReadOnly = true;
  form->edtNome->SetHint("somente leitura");  // any notification refreshes the widget
  auto* name = Widget<QLineEdit>(form->edtNome);
  EXPECT_TRUE(name->isReadOnly());
  // Even if the widget let a text through, the model refuses it and the widget follows.
  name->setReadOnly(false);
  QTest::keyClicks(name, "x");
  EXPECT_EQ(form->edtNome->Text(), "fixo");
  EXPECT_EQ(name->text(), QStringLiteral("fixo"));
}

TEST_F(BindingTest, MaskedEdit_ShowsLiteralsAndStoresTheValueWithoutThem) {
  TTestForm* form = ShowTestForm();
  auto* code = Widget<QLineEdit>(form->medCodigo);
  EXPECT_EQ(code->inputMask(), QStringLiteral("99.999.999;_"));
  QTest::mouseClick(code, Qt::LeftButton, {}, QPoint(2, 10));
  code->setCursorPosition(0);
  QTest::keyClicks(code, "0100");
  EXPECT_EQ(form->medCodigo->Text(), "0100");
  EXPECT_EQ(code->displayText(), QStringLiteral("01.00_.___"));
  QTest::keyClicks(code, "2003");
  EXPECT_EQ(form->medCodigo->Text(), "01002003");
  EXPECT_EQ(form->medCodigo->EditText(), "01.002.003");

  form->medCodigo->SetText("98765432");
  EXPECT_EQ(code->displayText(), QStringLiteral("98.765.432"));
  form->medCodigo->SetEditMask(">aaaa;0; ");
  EXPECT_EQ(code->inputMask(), QStringLiteral(">nnnn")) << "Qt leaves out a blank of ' '";
  form->medCodigo->SetText("ab1");
  EXPECT_EQ(code->displayText(), QStringLiteral("AB1 "));
}

TEST_F(BindingTest, MaskedEdits_AreReadyForTypingHoweverTheFocusArrives) {
  TTestForm* form = ShowTestForm();
  auto* code = Widget<QLineEdit>(form->medCodigo);
  QLineEdit* date = Widget<DateEditWidget>(form->depData)->Edit();
  // As a screen's first activation does: the mask given, the date cleared, by the program.
  form->medCodigo->SetEditMask("");
  form->medCodigo->SetEditMask("00.000.000;0;_");
  form->depData->SetText("01/01/2024");
  form->depData->Clear();

  // Typing, then Tab: the model moves the focus on, and typing goes on at once.
  QTest::keyClicks(Widget<QLineEdit>(form->edtNome), "abc");
  QTest::keyClick(Widget<QLineEdit>(form->edtNome), Qt::Key_Tab);
  ASSERT_TRUE(code->hasFocus());
  QTest::keyClicks(code, "0100");
  EXPECT_EQ(form->medCodigo->Text(), "0100");
  // On to the date edit (the disabled edit between them is skipped).
  QTest::keyClick(code, Qt::Key_Tab);
  ASSERT_TRUE(date->hasFocus());
  QTest::keyClicks(date, "0503");
  EXPECT_EQ(form->depData->Text(), "05/03/");
  // Shift+Tab back: typing continues after what the edit holds.
  QTest::keyClick(date, Qt::Key_Tab, Qt::ShiftModifier);
  ASSERT_TRUE(code->hasFocus());
  QTest::keyClicks(code, "2003");
  EXPECT_EQ(form->medCodigo->Text(), "01002003");

  // The program moves the focus into a blank edit.
  form->medCodigo->SetText("");
  form->edtNome->SetFocus();
  form->medCodigo->SetFocus();
  ASSERT_TRUE(code->hasFocus());
  QTest::keyClicks(code, "12");
  EXPECT_EQ(form->medCodigo->Text(), "12");

  // A click past what was typed starts where the typing stopped.
  form->edtNome->SetFocus();
  QTest::mouseClick(code, Qt::LeftButton, {}, QPoint(code->width() - 4, 10));
  QApplication::processEvents();
  QTest::keyClicks(code, "3");
  EXPECT_EQ(form->medCodigo->Text(), "123");
}

TEST_F(BindingTest, DateEdit_TypedOrPickedDateReachesTheModel) {
  TTestForm* form = ShowTestForm();
  auto* date = Widget<DateEditWidget>(form->depData);
  ASSERT_NE(date, nullptr);
  QTest::mouseClick(date->Edit(), Qt::LeftButton, {}, QPoint(2, 10));
  date->Edit()->setCursorPosition(0);
  QTest::keyClicks(date->Edit(), "0503");
  EXPECT_EQ(form->depData->Text(), "05/03/") << "literals kept, the blank tail dropped";
  QTest::keyClicks(date->Edit(), "2024");
  EXPECT_EQ(form->depData->Text(), "05/03/2024");
  EXPECT_EQ(date->Edit()->palette().color(QPalette::Text), QColor(0, 0, 255))
      << "a valid date shows in the edit's valid-date colour";

  date->OnDatePicked(QDate(2024, 12, 31));
  EXPECT_EQ(form->depData->Text(), "31/12/2024");
  EXPECT_EQ(date->Edit()->text(), QStringLiteral("31/12/2024"));
  form->depData->Clear();
  EXPECT_EQ(date->Edit()->displayText(), QStringLiteral("__/__/____"));
}

TEST_F(BindingTest, RadioClick_CheckesThroughTheModelOnce) {
  TTestForm* form = ShowTestForm();
  auto* lista = Widget<QRadioButton>(form->rbtLista);
  form->rbtTodas->SetChecked(true);
  form->Log.clear();
  QTest::mouseClick(lista, Qt::LeftButton);
  EXPECT_TRUE(form->rbtLista->Checked());
  EXPECT_FALSE(form->rbtTodas->Checked());
  EXPECT_TRUE(lista->isChecked());
  EXPECT_FALSE(Widget<QRadioButton>(form->rbtTodas)->isChecked());
  EXPECT_EQ(std::count(form->Log.begin(), form->Log.end(), "rbtLista.Click"), 1);
  EXPECT_EQ(form->ActiveControl(), form->rbtLista) << "a radio button takes the focus first";

  // A click that came without a focus move (its window was not active) focuses through the
  // model's click.
  form->edtNome->SetFocus();
  form->Log.clear();
  Widget<QRadioButton>(form->rbtTodas)->click();
  EXPECT_TRUE(form->rbtTodas->Checked());
  EXPECT_EQ(form->ActiveControl(), form->rbtTodas);
  EXPECT_EQ(form->Log, (Log{"edtNome.Exit", "grbOpcao.Enter", "rbtTodas.Enter", "rbtTodas.Click"}));
  form->rbtLista->SetChecked(true);

  // Clicking the checked one raises nothing and leaves it checked.
  form->Log.clear();
  QTest::mouseClick(lista, Qt::LeftButton);
  EXPECT_TRUE(lista->isChecked());
  EXPECT_EQ(std::count(form->Log.begin(), form->Log.end(), "rbtLista.Click"), 0);
}

TEST_F(BindingTest, RadioClick_IsDroppedWhenAnExitHandlerKeepsTheFocus) {
  TTestForm* form = ShowTestForm();
  form->edtNome->OnExit = [form](fw::TComponent*) { form->edtNome->SetFocus(); };
  ASSERT_EQ(form->ActiveControl(), form->edtNome);
  auto* lista = Widget<QRadioButton>(form->rbtLista);
  QTest::mouseClick(lista, Qt::LeftButton);
  EXPECT_FALSE(form->rbtLista->Checked());
  EXPECT_FALSE(lista->isChecked());
  EXPECT_EQ(form->ActiveControl(), form->edtNome);
  EXPECT_TRUE(Widget<QLineEdit>(form->edtNome)->hasFocus()) << "the focus went back to the edit";
}

TEST_F(BindingTest, FocusMoves_RaiseExitAndEnterInTheModelsOrder) {
  TTestForm* form = ShowTestForm();
  EXPECT_TRUE(Widget<QLineEdit>(form->edtNome)->hasFocus()) << "the form's active control";
  form->Log.clear();
  // From an edit in the top panel to the grid on the page control.
  auto* grid = static_cast<QTableView*>(binding->FocusWidgetOf(form->dbgDados));
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(50, 50));
  EXPECT_EQ(form->Log, (Log{"edtNome.Exit", "panTopo.Exit", "pgcDados.Enter", "dbgDados.Enter"}));
  EXPECT_EQ(form->ActiveControl(), form->dbgDados);
  EXPECT_TRUE(binding->FocusWidgetOf(form->dbgDados)->hasFocus());

  // Back into the panel, to the group box's radio button.
  form->Log.clear();
  QTest::mouseClick(Widget<QRadioButton>(form->rbtTodas), Qt::LeftButton);
  EXPECT_EQ(form->Log, (Log{"dbgDados.Exit", "pgcDados.Exit", "panTopo.Enter", "grbOpcao.Enter",
                            "rbtTodas.Enter", "rbtTodas.Click"}));

  // The Tab key moves in the model's tab order.
  form->Log.clear();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(form->ActiveControl(), form->rbtLista);
  EXPECT_TRUE(Widget<QRadioButton>(form->rbtLista)->hasFocus());
  EXPECT_EQ(form->Log, (Log{"rbtTodas.Exit", "rbtLista.Enter"}));
}

TEST_F(BindingTest, Grid_ShowsDisplayTextsAndFollowsTheCursor) {
  TTestForm* form = ShowTestForm();
  form->cdsDados->SetData(Packet(5));
  auto* view = Widget<QTableView>(form->dbgDados);
  ASSERT_NE(view, nullptr);
  QAbstractItemModel* model = view->model();
  ASSERT_EQ(model->rowCount(), 5);
  ASSERT_EQ(model->columnCount(), 3);
  EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Código"));
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Nome da Filial"));
  EXPECT_EQ(model->index(1, 1).data().toString(), QStringLiteral("Filial 2"));
  EXPECT_EQ(model->index(1, 2).data().toString(), QStringLiteral("2.469,000"));
  EXPECT_EQ(view->horizontalHeader()->sectionSize(0), 60);
  EXPECT_EQ(view->horizontalHeader()->sectionSize(1), form->dbgDados->ColumnWidth(1));
  EXPECT_EQ(view->palette().color(QPalette::Base), view->palette().color(QPalette::ToolTipBase));
  EXPECT_EQ(view->currentIndex().row(), 0);
  EXPECT_EQ(Widget<QLabel>(form->dbtNome)->text(), QStringLiteral("Filial 1"));

  form->cdsDados->MoveTo(3);
  EXPECT_EQ(view->currentIndex().row(), 3);
  EXPECT_EQ(Widget<QLabel>(form->dbtNome)->text(), QStringLiteral("Filial 4"));

  // A click on a row moves the data set's cursor (after-scroll) and selects the column.
  form->Log.clear();
  const QRect cell = view->visualRect(model->index(1, 2));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(form->cdsDados->RecNo(), 2);
  EXPECT_EQ(form->dbgDados->SelectedIndex(), 2);
  EXPECT_EQ(view->currentIndex(), model->index(1, 2));
  EXPECT_EQ(form->Log, (Log{"edtNome.Exit", "panTopo.Exit", "pgcDados.Enter", "dbgDados.Enter",
                            "cdsDados.AfterScroll"}));
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(std::count(form->Log.begin(), form->Log.end(), "dbgDados.DblClick"), 1);

  // Keys move the cursor through the model: the view only follows.
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(form->cdsDados->RecNo(), 3);
  EXPECT_EQ(view->currentIndex().row(), 2);

  form->cdsDados->Close();
  EXPECT_EQ(model->rowCount(), 0);
  EXPECT_EQ(Widget<QLabel>(form->dbtNome)->text(), QString());
}

TEST_F(BindingTest, Grid_WithAHundredThousandRows_AsksOnlyForTheRowsInView) {
  TTestForm* form = ShowTestForm();
  long long asked = 0;
  form->cdsDados->FindField("NOME")->OnGetText = [&asked](fw::TField* field, std::string& text,
                                                          bool) {
    ++asked;
    text = field->AsString();
  };
  QElapsedTimer clock;
  clock.start();
  form->cdsDados->SetData(Packet(100000));
  auto* view = Widget<QTableView>(form->dbgDados);
  view->viewport()->repaint();
  QApplication::processEvents();
  const qint64 openMs = clock.elapsed();
  EXPECT_EQ(view->model()->rowCount(), 100000);
  EXPECT_GT(asked, 0);
  EXPECT_LT(asked, 200) << "the view asks only for what it shows";
  EXPECT_LT(openMs, 2000);
  std::printf("[ figures  ] 100000 rows: opened and painted in %lld ms, %lld name cells asked\n",
              static_cast<long long>(openMs), asked);

  clock.restart();
  asked = 0;
  form->cdsDados->Last();
  view->viewport()->repaint();
  QApplication::processEvents();
  EXPECT_EQ(view->currentIndex().row(), 99999);
  EXPECT_EQ(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
  EXPECT_GT(asked, 0);
  EXPECT_LT(asked, 200);
  EXPECT_LT(clock.elapsed(), 1000);
  std::printf("[ figures  ] jump to the last row: %lld ms, %lld name cells asked\n",
              static_cast<long long>(clock.elapsed()), asked);
  const QModelIndex last = view->model()->index(99999, 1);
  EXPECT_EQ(last.data().toString(), QStringLiteral("Filial 100000"));
}

TEST_F(BindingTest, TabClick_SelectsThePageInTheModelAndModelChoiceMovesTheTabs) {
  TTestForm* form = ShowTestForm();
  QTabWidget* tabs = binding->TabsOf(form->pgcDados);
  form->Log.clear();
  QTabBar* bar = tabs->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  EXPECT_EQ(form->pgcDados->ActivePage(), form->tshDois);
  EXPECT_EQ(form->Log, (Log{"pgcDados.Change"})) << "tabs take no focus";
  EXPECT_EQ(tabs->currentIndex(), 1);

  form->pgcDados->SetActivePage(form->tshUm);
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(form->Log.size(), 1u) << "a program change raises no change event";

  // With the focus on the page going out of view, the focus goes to the page control and
  // nowhere else: Qt moving its focus off the hidden page is not the user's move.
  form->cdsDados->SetData(Packet(3));
  auto* grid = Widget<QTableView>(form->dbgDados);
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(20, 30));
  ASSERT_EQ(form->ActiveControl(), form->dbgDados);
  form->Log.clear();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  QApplication::processEvents();
  EXPECT_EQ(form->Log, (Log{"pgcDados.Change"}));
  EXPECT_EQ(form->ActiveControl(), form->pgcDados);
  EXPECT_TRUE(binding->FocusWidgetOf(form->pgcDados)->hasFocus());
  form->pgcDados->SetActivePage(form->tshUm);

  // A tab the model hides cannot be chosen.
  form->tshDois->TabVisible = false;
  form->tshDois->SetCaption("Outros");  // TabVisible has no notification of its own
  EXPECT_FALSE(tabs->isTabVisible(1));
}

TEST_F(BindingTest, MenuShortcut_ReachesTheModelFromAnEdit) {
  TTestForm* form = ShowTestForm();
  QAction* automatic = binding->ActionOf(form->mnuAutomatico);
  ASSERT_NE(automatic, nullptr);
  EXPECT_EQ(automatic->text(), QStringLiteral("Cadastramento A&utomático\tCtrl+A"));
  EXPECT_EQ(binding->ActionOf(form->mnuArquivo)->text(), QStringLiteral("&Arquivo"));
  EXPECT_FALSE(binding->ActionOf(form->mnuDesligado)->isEnabled());

  auto* name = Widget<QLineEdit>(form->edtNome);
  ASSERT_TRUE(name->hasFocus());
  QTest::keyClicks(name, "ab");
  form->Log.clear();
  QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(form->Log, (Log{"mnuAutomatico.Click"}));
  EXPECT_EQ(form->edtNome->Text(), "ab");

  form->Log.clear();
  automatic->trigger();
  EXPECT_EQ(form->Log, (Log{"mnuAutomatico.Click"}));

  // A disabled item's shortcut does nothing; an added item appears.
  form->mnuAutomatico->SetEnabled(false);
  EXPECT_FALSE(automatic->isEnabled());
  form->Log.clear();
  QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
  EXPECT_TRUE(form->Log.empty());
  auto* extra = form->Create<fw::TMenuItem>("mnuExtra");
  extra->SetCaption("E&xtra");
  form->mnuArquivo->Add(extra);
  ASSERT_NE(binding->ActionOf(extra), nullptr);
  EXPECT_EQ(binding->ActionOf(extra)->text(), QStringLiteral("E&xtra"));
}

TEST_F(BindingTest, ResizingTheWindow_KeepsAlignedControlsOnTheirEdges) {
  TTestForm* form = ShowTestForm();
  QWidget* window = binding->WindowOf(form);
  window->resize(window->width() + 200, window->height() + 100);
  QApplication::processEvents();
  const QSize client = binding->RootOf(form)->Client()->size();
  EXPECT_EQ(client, QSize(800, 500));
  EXPECT_EQ(Widget<QWidget>(form->panTopo)->width(), 800);
  EXPECT_EQ(Widget<QWidget>(form->panRodape)->geometry(), QRect(0, 470, 800, 30));
  EXPECT_EQ(Widget<QWidget>(form->pgcDados)->geometry(), QRect(0, 90, 800, 380));
  EXPECT_EQ(Widget<QWidget>(form->edtNome)->pos(), QPoint(60, 4)) << "unaligned controls stay";
}

TEST_F(BindingTest, ControlsAddedAfterShowing_AreBuilt) {
  TTestForm* form = ShowTestForm();
  auto* late = form->Create<fw::TEdit>("edtTarde");
  late->SetParent(form->tshDois);
  late->SetBounds(10, 40, 80, 21);
  QApplication::processEvents();
  auto* edit = Widget<QLineEdit>(late);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->geometry(), QRect(10, 40, 80, 21));
  form->FreeComponent(late);
  EXPECT_EQ(binding->WidgetOf(late), nullptr);
}

TEST_F(BindingTest, ClosingAReleasedForm_RemovesItsWindow) {
  TTestForm* form = ShowTestForm();
  form->OnClose = [](fw::TComponent*, fw::TCloseAction& action) {
    action = fw::TCloseAction::caFree;
  };
  QPointer<QWidget> window = binding->WindowOf(form);
  fw::Application->UserClose(form);
  EXPECT_EQ(fw::Application->FindForm("frmTeste"), nullptr);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window.isNull());
}

TEST_F(BindingTest, WindowCloseButton_AsksTheModel) {
  TTestForm* form = ShowTestForm();
  form->OnClose = [](fw::TComponent*, fw::TCloseAction& action) {
    action = fw::TCloseAction::caNone;
  };
  QWidget* window = binding->WindowOf(form);
  window->close();
  EXPECT_TRUE(window->isVisible()) << "the model said no";
  form->OnClose = nullptr;
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(form->Visible());
}

TEST_F(BindingTest, ModalForm_RunsUntilTheModelHidesIt) {
  TTestForm* owner = ShowTestForm();
  auto* modal = new fw::TForm(fw::Application, "frmModal");
  modal->SetCaption("Itens");
  modal->SetBounds(0, 0, 300, 200);
  auto* edit = modal->Create<fw::TEdit>("edtModal");
  edit->SetParent(modal);
  edit->SetBounds(10, 10, 100, 21);
  modal->SetActiveControl(edit);
  bool sawWindow = false;
  OnNextModal([&](QWidget* window) {
    sawWindow = window == binding->WindowOf(modal) && window->isModal() &&
                window->windowTitle() == QStringLiteral("Itens");
    QTest::keyClicks(binding->FocusWidgetOf(edit), "ok");
    window->close();
  });
  const int result = modal->ShowModal();
  EXPECT_TRUE(sawWindow);
  EXPECT_EQ(result, fw::mrCancel);
  EXPECT_EQ(edit->Text(), "ok");
  EXPECT_FALSE(binding->WindowOf(modal)->isVisible());
  EXPECT_EQ(fw::Application->ActiveForm(), owner);
}

TEST_F(BindingTest, Screenshot_WritesTheFormAsAPng) {
  TTestForm* form = ShowTestForm();
  form->cdsDados->SetData(Packet(3));
  const QString path = QDir::temp().filePath(QStringLiteral("host_app_test_form.png"));
  QFile::remove(path);
  ASSERT_TRUE(SaveWidgetPng(binding->RootOf(form), path));
  const QImage image(path);
  EXPECT_EQ(image.size(), binding->RootOf(form)->size());
  QFile::remove(path);
}

}  // namespace
}  // namespace hostapp::testing
