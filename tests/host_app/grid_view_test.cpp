// A grid's view as the user arranges it: a title click sorts (with the arrow), columns are moved
// by dragging their titles, hidden and shown from the titles' menu and put back as designed; the
// data set and the screens see none of it but the order; and all of it is kept per user and
// screen for the next time.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "framework/host/config.h"
#include "host_app/dialogs.h"
#include "host_app/layout_store.h"
#include "host_app/main_window.h"
#include "host_app/module_loader.h"
#include "test_form.h"

namespace hostapp::testing {
namespace {

using Log = std::vector<std::string>;

fw::TDataPacket Branches() {
  fw::TDataPacket packet({{"CODIGO", fw::TFieldType::ftString, 4},
                          {"NOME", fw::TFieldType::ftString, 20},
                          {"VALOR", fw::TFieldType::ftFloat, 0}});
  const std::vector<std::pair<const char*, double>> rows = {
      {"Matriz", 300}, {"Centro", 10}, {"Água Branca", 25.5}, {"armazém", 7}};
  int code = 0;
  for (const auto& [name, value] : rows) {
    packet.Columns()[0].AppendString("000" + std::to_string(++code));
    packet.Columns()[1].AppendString(name);
    packet.Columns()[2].AppendNumber(value);
  }
  return packet;
}

class GridViewTest : public BoundTest {
 protected:
  void SetUp() override {
    BoundTest::SetUp();
    ASSERT_TRUE(folder.isValid());
    fw::HostConfig().Credentials.Login = "maria";
    store = std::make_shared<LayoutStore>(folder.filePath(QStringLiteral("telas.conf")));
    binding->SetLayoutStore(store);
    Open();
  }
  void TearDown() override {
    fw::HostConfig().Credentials = {};
    BoundTest::TearDown();
  }
  // The test form opened (again, after a close), its rows loaded.
  void Open() {
    form = ShowTestForm();
    form->cdsDados->SetData(Branches());
    form->cdsDados->MoveTo(1);  // Centro
    QApplication::processEvents();
    view = Widget<QTableView>(form->dbgDados);
    header = view->horizontalHeader();
    form->Log.clear();
  }
  void CloseForm() {
    form->OnClose = [](fw::TComponent*, fw::TCloseAction& action) {
      action = fw::TCloseAction::caFree;
    };
    fw::Application->UserClose(form);
    QApplication::processEvents();
  }
  void ClickTitle(int column) {
    const QPoint at(header->sectionViewportPosition(column) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    QApplication::processEvents();
  }
  QStringList Names() const {
    QStringList names;
    for (int row = 0; row < view->model()->rowCount(); ++row)
      names << view->model()->index(row, 1).data().toString();
    return names;
  }
  QMenu* TitlesMenu() {
    const QPoint at(header->sectionViewportPosition(0) + 5, header->height() / 2);
    emit header->customContextMenuRequested(at);
    QApplication::processEvents();
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
  }
  static QAction* Entry(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
      if (action->text() == text) return action;
    return nullptr;
  }
  // Where the view shows each column, left to right, by title (hidden ones left out).
  QStringList Shown() const {
    QStringList titles;
    for (int place = 0; place < header->count(); ++place) {
      const int column = header->logicalIndex(place);
      if (!header->isSectionHidden(column))
        titles << view->model()->headerData(column, Qt::Horizontal).toString();
    }
    return titles;
  }

  QTemporaryDir folder;
  std::shared_ptr<LayoutStore> store;
  TTestForm* form = nullptr;
  QTableView* view = nullptr;
  QHeaderView* header = nullptr;
};

TEST_F(GridViewTest, TitleClicks_SortWithTheArrow_ThenDescending_ThenAsServed) {
  ClickTitle(1);
  EXPECT_EQ((QStringList{"Água Branca", "armazém", "Centro", "Matriz"}), Names());
  EXPECT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(1, header->sortIndicatorSection());
  // Qt's styles point Qt::DescendingOrder up, as the desktop draws an ascending sort.
  EXPECT_EQ(Qt::DescendingOrder, header->sortIndicatorOrder());
  EXPECT_EQ(3, form->cdsDados->RecNo()) << "Centro stays current";
  EXPECT_EQ(2, view->currentIndex().row()) << "and selected in the view";
  ClickTitle(1);
  EXPECT_EQ((QStringList{"Matriz", "Centro", "armazém", "Água Branca"}), Names());
  EXPECT_EQ(Qt::AscendingOrder, header->sortIndicatorOrder()) << "pointing down";
  ClickTitle(1);
  EXPECT_EQ((QStringList{"Matriz", "Centro", "Água Branca", "armazém"}), Names());
  EXPECT_FALSE(header->isSortIndicatorShown());
  ClickTitle(2);
  EXPECT_EQ((QStringList{"armazém", "Centro", "Água Branca", "Matriz"}), Names());
  EXPECT_EQ(Log{}, form->Log) << "no after-scroll, no focus move";
}

TEST_F(GridViewTest, MovedAndHiddenColumns_ChangeOnlyTheView_TheKeysFollowIt) {
  // The value's title dragged to the first place.
  const int y = header->height() / 2;
  QTest::mousePress(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(2) + 10, y));
  for (int x = header->sectionViewportPosition(2) + 10; x > 2; x -= 10)
    QTest::mouseMove(header->viewport(), QPoint(x, y));
  QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(3, y));
  QApplication::processEvents();
  EXPECT_EQ((QStringList{"VALOR", "Código", "Nome da Filial"}), Shown());
  EXPECT_EQ("CODIGO", form->dbgDados->Columns[0].FieldName) << "the grid's columns as designed";

  // Hidden from the titles' menu: the code.
  QMenu* menu = TitlesMenu();
  ASSERT_NE(menu, nullptr);
  Entry(menu, QStringLiteral("Código"))->trigger();
  menu->close();
  EXPECT_EQ((QStringList{"VALOR", "Nome da Filial"}), Shown());
  // The last column shown cannot go.
  menu = TitlesMenu();
  Entry(menu, QStringLiteral("Nome da Filial"))->trigger();
  menu->close();
  menu = TitlesMenu();
  EXPECT_FALSE(Entry(menu, QStringLiteral("VALOR"))->isEnabled());
  Entry(menu, QStringLiteral("Nome da Filial"))->trigger();
  menu->close();

  // Tab goes as the user sees the columns: value, name, then out.
  fw::Application->UserSelectColumn(form->dbgDados, 2);
  QApplication::processEvents();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(1, form->dbgDados->SelectedIndex());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
  EXPECT_EQ(2, form->dbgDados->SelectedIndex());

  // An export and a copy write what the view shows, as it shows it.
  QApplication::clipboard()->clear();
  binding->CopyGrid(form->dbgDados, true);
  EXPECT_TRUE(QApplication::clipboard()->text().startsWith(
      QStringLiteral("VALOR\tNome da Filial\n300,000\tMatriz\n")))
      << QApplication::clipboard()->text().toStdString();

  // A reload keeps the arrangement; "Restaurar colunas" puts back the design.
  form->cdsDados->SetData(Branches());
  QApplication::processEvents();
  EXPECT_EQ((QStringList{"VALOR", "Nome da Filial"}), Shown());
  menu = TitlesMenu();
  Entry(menu, QStringLiteral("&Restaurar colunas"))->trigger();
  menu->close();
  EXPECT_EQ((QStringList{"Código", "Nome da Filial", "VALOR"}), Shown());
  EXPECT_TRUE(form->dbgDados->ViewOrder.empty());
  EXPECT_EQ(store->GridColumns("frmTeste", "dbgDados").Order, QStringList());
}

TEST_F(GridViewTest, WhatTheUserArranged_IsThereWhenTheScreenOpensAgain) {
  header->moveSection(header->visualIndex(2), 0);
  header->resizeSection(1, 222);
  QMenu* menu = TitlesMenu();
  Entry(menu, QStringLiteral("Código"))->trigger();
  menu->close();
  ClickTitle(1);
  ClickTitle(1);
  QWidget* window = binding->WindowOf(form);
  window->setGeometry(QRect(window->geometry().topLeft() + QPoint(7, 9), QSize(640, 480)));
  QApplication::processEvents();
  const QRect left = window->geometry();
  CloseForm();

  // A stored layout naming columns the grid no longer has: ignored.
  LayoutStore::Columns columns = store->GridColumns("frmTeste", "dbgDados");
  columns.Order.prepend(QStringLiteral("NAOEXISTE"));
  columns.Hidden << QStringLiteral("OUTRA");
  store->SetGridColumns("frmTeste", "dbgDados", columns);

  // Next session: the sort is back before the rows load, the view as it was left.
  TTestForm* again = nullptr;
  fw::Application->CreateForm(again);
  EXPECT_EQ((std::vector<fw::TIndexField>{{"NOME", true}}), again->cdsDados->IndexFields());
  again->Show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(binding->WindowOf(again)));
  again->cdsDados->SetData(Branches());
  QApplication::processEvents();
  form = again;
  view = Widget<QTableView>(form->dbgDados);
  header = view->horizontalHeader();
  EXPECT_EQ((QStringList{"VALOR", "Nome da Filial"}), Shown());
  EXPECT_EQ(222, header->sectionSize(1));
  EXPECT_EQ(QStringLiteral("Matriz"), view->model()->index(0, 1).data().toString());
  EXPECT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(Qt::AscendingOrder, header->sortIndicatorOrder()) << "descending, pointing down";
  EXPECT_EQ(left.size(), binding->WindowOf(form)->geometry().size());

  // Another user sees the design.
  CloseForm();
  fw::HostConfig().Credentials.Login = "jose";
  Open();
  EXPECT_EQ((QStringList{"Código", "Nome da Filial", "VALOR"}), Shown());
  EXPECT_TRUE(form->cdsDados->IndexFields().empty());
}

TEST_F(GridViewTest, OrdenarDialog_SortsByUpToThreeColumns) {
  std::vector<fw::TIndexField> chosen;
  OnNextModal([&](QWidget* window) {
    auto* dialog = dynamic_cast<SortDialog*>(window);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(4, dialog->Column(0)->count()) << "(nenhuma) and the three columns";
    dialog->Column(0)->setCurrentIndex(dialog->Column(0)->findText(QStringLiteral("VALOR")));
    dialog->Descending(0)->setChecked(true);
    dialog->SortButton()->click();
  });
  fw::Application->UserFocus(form->dbgDados);
  QApplication::processEvents();
  platform->Interactive = true;
  QMenu* menu = TitlesMenu();
  Entry(menu, QStringLiteral("&Ordenar…"))->trigger();
  menu->close();
  QTRY_COMPARE(Names(), (QStringList{"Matriz", "Água Branca", "Centro", "armazém"}));
  EXPECT_EQ(2, header->sortIndicatorSection());
  EXPECT_EQ(Qt::AscendingOrder, header->sortIndicatorOrder()) << "descending, pointing down";
  EXPECT_EQ(store->GridSort("frmTeste", "dbgDados"),
            (std::vector<fw::TIndexField>{{"VALOR", true}}));
}

}  // namespace
}  // namespace hostapp::testing
