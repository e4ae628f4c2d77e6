// The host's own grid commands: the context menu, Ctrl+C, and exports with the view's widths,
// a progress box that cancels, and failures reported; none of them reaches the model.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
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

  // A right click on the grid: the menu that pops up.
  QMenu* RightClick() {
    const QPoint at = view->visualRect(view->model()->index(0, 0)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &event);
    QApplication::processEvents();
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
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
  QMenu* menu = RightClick();
  ASSERT_NE(menu, nullptr);
  Action(menu, QStringLiteral("Exportar para &Excel…"))->trigger();
  menu->close();
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
