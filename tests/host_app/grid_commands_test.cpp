// The host's own grid commands: the context menu, Ctrl+C, and exports with the view's widths,
// a progress box that cancels, and failures reported; none of them reaches the model.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QPointer>
#include <QProgressDialog>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "host_app/qt_widgets.h"
#include "test_form.h"

namespace hostapp::testing {
namespace {

namespace fs = std::filesystem;

class GridCommandsTest : public BoundTest {
 protected:
  void SetUp() override {
    BoundTest::SetUp();
    dir = fs::temp_directory_path() / ("grid-commands-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    form = ShowTestForm();
    Load(3);
    view = Widget<QTableView>(form->dbgDados);
    ASSERT_NE(view, nullptr);
    form->cdsDados->MoveTo(1);
    form->Log.clear();
  }
  void TearDown() override {
    fs::remove_all(dir);
    BoundTest::TearDown();
  }

  void Load(int rows) {
    fw::TDataPacket packet({{"CODIGO", fw::TFieldType::ftString, 4},
                            {"NOME", fw::TFieldType::ftString, 20},
                            {"VALOR", fw::TFieldType::ftFloat, 0}});
    for (int row = 0; row < rows; ++row) {
      char code[16];
      std::snprintf(code, sizeof code, "%04d", row + 1);
      packet.Columns()[0].AppendString(code);
      packet.Columns()[1].AppendString(row == 1 ? "Filial Centro" : "Matriz");
      packet.Columns()[2].AppendNumber(1234.5 * (row + 1));
    }
    form->cdsDados->SetData(std::move(packet));
    QApplication::processEvents();
  }

  // A right click on a cell (by default the current row's first), as the mouse makes it: through
  // the window, so that Qt moves its focus and raises the context menu itself. The menu that
  // pops up.
  QMenu* RightClick(int row = -1, int column = 0) {
    if (row < 0) row = std::max(form->dbgDados->CurrentRow(), 0);
    const QPoint at = view->visualRect(view->model()->index(row, column)).center();
    QWidget* window = view->window();
    QTest::mouseClick(window->windowHandle(), Qt::RightButton, {},
                      view->viewport()->mapTo(window, at));
    QApplication::processEvents();
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
  }
  // A left click on a menu entry, through the menu's window, as the mouse makes it.
  static void ClickEntry(QMenu* menu, QAction* action) {
    QTest::mouseMove(menu->windowHandle(), menu->actionGeometry(action).center());
    QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {},
                      menu->actionGeometry(action).center());
  }
  static QAction* Action(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
      if (action->text() == text) return action;
    return nullptr;
  }

  fs::path dir;
  TTestForm* form = nullptr;
  QTableView* view = nullptr;
};

TEST_F(GridCommandsTest, RightClick_OffersCopyAndExports_TheModelHearsNothing) {
  // On the current cell of the focused grid: the click itself changes nothing either.
  fw::Application->UserFocus(form->dbgDados);
  form->Log.clear();
  QMenu* menu = RightClick();
  ASSERT_NE(menu, nullptr);
  QStringList texts;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) texts << action->text();
  EXPECT_EQ(
      (QStringList{QStringLiteral("&Copiar célula"), QStringLiteral("Copiar &todas as linhas"),
                   QStringLiteral("Exportar para &Excel…"), QStringLiteral("Exportar C&SV…")}),
      texts);
  EXPECT_EQ(QKeySequence(QKeySequence::Copy), Action(menu, texts[0])->shortcut());
  Action(menu, QStringLiteral("Copiar &todas as linhas"))->trigger();
  menu->close();
  EXPECT_EQ(QStringLiteral("Código\tNome da Filial\tVALOR\n0001\tMatriz\t1.234,500\n"
                           "0002\tFilial Centro\t2.469,000\n0003\tMatriz\t3.703,500\n"),
            QApplication::clipboard()->text());
  EXPECT_EQ(2, form->cdsDados->RecNo()) << "the cursor stays";
  EXPECT_EQ(std::vector<std::string>{}, form->Log) << "no event of the screen";

  // A grid without rows offers nothing to copy or export.
  form->cdsDados->Close();
  QApplication::processEvents();
  menu = RightClick();
  ASSERT_NE(menu, nullptr);
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) {
      EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    }
  menu->close();
}

TEST_F(GridCommandsTest, CtrlC_TheCurrentCell_OrTheCurrentRowWithTitles) {
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                    view->visualRect(view->model()->index(1, 1)).center());
  QApplication::processEvents();
  ASSERT_EQ(form->dbgDados, form->ActiveControl());
  ASSERT_EQ(1, form->dbgDados->SelectedIndex());
  form->Log.clear();
  QApplication::clipboard()->clear();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QStringLiteral("Filial Centro"), QApplication::clipboard()->text());
  EXPECT_EQ(std::vector<std::string>{}, form->Log) << "the key did not reach the model";

  form->dbgDados->Options |= fw::dgRowSelect;
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(QStringLiteral("Código\tNome da Filial\tVALOR\n0002\tFilial Centro\t2.469,000\n"),
            QApplication::clipboard()->text());
}

TEST_F(GridCommandsTest, Export_TheViewsWidths_TheChosenPath_AndFailuresReported) {
  // A width the user dragged is the width exported.
  view->horizontalHeader()->resizeSection(1, 300);
  QString suggested;
  binding->ChooseExportPath = [&](const QString& name, const QString&) {
    suggested = name;
    return QString::fromStdString((dir / "filiais").string());
  };
  fw::Application->UserFocus(form->dbgDados);
  form->Log.clear();
  QMenu* menu = RightClick();
  ASSERT_NE(menu, nullptr);
  Action(menu, QStringLiteral("Exportar para &Excel…"))->trigger();
  menu->close();
  // The export runs once the menu is done with.
  QTRY_VERIFY(!suggested.isEmpty());
  EXPECT_EQ(QStringLiteral("Tela de Teste - Filiais.xlsx"), suggested);
  const std::string xlsx = (dir / "filiais.xlsx").string();
  ASSERT_TRUE(fs::exists(xlsx)) << "the extension is added";
  std::string sheet;
  FILE* pipe = popen(("unzip -p '" + xlsx + "' xl/worksheets/sheet1.xml").c_str(), "r");
  char buffer[8192];
  for (size_t read; (read = fread(buffer, 1, sizeof buffer, pipe)) > 0;) sheet.append(buffer, read);
  pclose(pipe);
  EXPECT_NE(std::string::npos, sheet.find("<col min=\"2\" max=\"2\" width=\"42.")) << sheet;
  EXPECT_NE(std::string::npos, sheet.find("<v>2469</v>")) << "numbers stay numbers";

  EXPECT_FALSE(binding->ExportGrid(form->dbgDados,
                                   QString::fromStdString((dir / "nao/existe.csv").string())));
  ASSERT_FALSE(platform->Messages.empty());
  EXPECT_EQ("Não foi possível gravar o arquivo " + (dir / "nao/existe.csv").string() +
                ": a pasta não existe.",
            platform->Messages.back());
  EXPECT_EQ(std::vector<std::string>{}, form->Log);
}

// A right click on a cell makes it current first, as a left click does (the screen's after-scroll
// runs), and then the menu copies that cell: not the one the cursor was on.
TEST_F(GridCommandsTest, RightClickOnAnotherRow_MakesItsCellCurrent_AndCopiesThatCell) {
  ASSERT_EQ(2, form->cdsDados->RecNo());
  QMenu* menu = RightClick(2, 0);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(3, form->cdsDados->RecNo());
  EXPECT_EQ(0, form->dbgDados->SelectedIndex());
  EXPECT_EQ(form->dbgDados, form->ActiveControl());
  EXPECT_EQ((std::vector<std::string>{"edtNome.Exit", "panTopo.Exit", "pgcDados.Enter",
                                      "dbgDados.Enter", "cdsDados.AfterScroll"}),
            form->Log);
  QApplication::clipboard()->clear();
  ClickEntry(menu, Action(menu, QStringLiteral("&Copiar célula")));
  QApplication::processEvents();
  EXPECT_EQ(QStringLiteral("0003"), QApplication::clipboard()->text());

  // On another column of the current row: that column is selected, no row move.
  form->Log.clear();
  menu = RightClick(2, 1);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(1, form->dbgDados->SelectedIndex());
  ClickEntry(menu, Action(menu, QStringLiteral("&Copiar célula")));
  QApplication::processEvents();
  EXPECT_EQ(QStringLiteral("Matriz"), QApplication::clipboard()->text());
  EXPECT_EQ(std::vector<std::string>{}, form->Log);
}

// Marks the stretch during which a widget handles a mouse release or a key: from the event's
// arrival until the event loop runs the next posted event, which is posted on arrival.
class HandlerWatch : public QObject {
 public:
  bool Inside = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::KeyPress) {
      Inside = true;
      QMetaObject::invokeMethod(
          this, [this] { Inside = false; }, Qt::QueuedConnection);
    }
    return false;
  }
};

// The export chosen in the grid's menu runs once the menu has closed. Before, it ran inside the
// menu's own mouse (or key) handler: the progress box's event processing freed the menu, the
// handler then wrote to it, and the window aborted moments later, at the next clicks (a write
// inside Qt, which AddressSanitizer does not see; the export's place on the stack says it).
TEST_F(GridCommandsTest, ExportFromTheMenu_ByMouseAndByKeyboard_ThenClicks_TheWindowLives) {
  Load(3000);
  binding->ExportProgressDelayMs = 0;
  QString target;
  HandlerWatch watch;
  bool insideTheMenusHandler = false;
  binding->ChooseExportPath = [&](const QString&, const QString&) {
    insideTheMenusHandler = insideTheMenusHandler || watch.Inside;
    return target;
  };
  for (const bool spreadsheet : {true, false}) {
    target = QString::fromStdString((dir / (spreadsheet ? "itens.xlsx" : "itens.csv")).string());
    QMenu* menu = RightClick(5, 1);
    ASSERT_NE(menu, nullptr);
    QPointer<QMenu> alive = menu;
    menu->installEventFilter(&watch);
    QAction* entry = Action(menu, spreadsheet ? QStringLiteral("Exportar para &Excel…")
                                              : QStringLiteral("Exportar C&SV…"));
    ASSERT_NE(entry, nullptr);
    if (spreadsheet) {
      ClickEntry(menu, entry);
    } else {
      menu->setActiveAction(entry);
      QTest::keyClick(menu, Qt::Key_Return);
    }
    QTRY_VERIFY(fs::exists(target.toStdString()));
    QTRY_VERIFY(!alive);
    // The buyer goes on clicking rows.
    for (int row : {7, 2, 9}) {
      QTest::mouseClick(
          view->window()->windowHandle(), Qt::LeftButton, {},
          view->viewport()->mapTo(view->window(),
                                  view->visualRect(view->model()->index(row, 1)).center()));
      QApplication::processEvents();
      EXPECT_EQ(row + 1, form->cdsDados->RecNo());
    }
  }
  EXPECT_FALSE(insideTheMenusHandler) << "the export ran inside the menu's own event handler";
  EXPECT_TRUE(platform->Messages.empty());
}

TEST_F(GridCommandsTest, LongExport_ShowsProgressThatCancels_NothingLeftBehind) {
  Load(150000);
  // A Release build writes these rows in less than the half second; the box must still show
  // and cancel while the export runs.
  binding->ExportProgressDelayMs = 0;
  QString shownText;
  bool shown = false;
  QTimer watch;
  watch.setInterval(20);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QProgressDialog*>(top); box && box->isVisible()) {
        shown = true;
        shownText = box->labelText();
        box->cancel();
      }
  });
  watch.start();
  const std::string path = (dir / "grande.xlsx").string();
  EXPECT_FALSE(binding->ExportGrid(form->dbgDados, QString::fromStdString(path)));
  watch.stop();
  EXPECT_TRUE(shown) << "a progress box while it runs";
  EXPECT_EQ(QStringLiteral("Exportando grande.xlsx…"), shownText);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(fs::is_empty(dir)) << "no temporary file left";
  EXPECT_TRUE(platform->Messages.empty()) << "a cancel is not an error";
}

}  // namespace
}  // namespace hostapp::testing
