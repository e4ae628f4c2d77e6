// The list picker: Space on any cell of a row, "Filtrar" by code or name, and what was chosen
// shown beside the group it was opened from once confirmed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "framework/host/services.h"
#include "host_app/dialogs.h"
#include "host_app/picker_result.h"
#include "test_form.h"

namespace hostapp::testing {
namespace {

const char* const kCities[] = {"Matriz",    "Campinas",
                               "Santos",    "São Paulo - Centro",
                               "Jundiaí",   "Sorocaba",
                               "Bauru",     "Ribeirão Preto",
                               "Franca",    "Marília",
                               "Limeira",   "Piracicaba",
                               "Osasco",    "Guarulhos",
                               "Barueri",   "Americana",
                               "Taubaté",   "Itu",
                               "Assis",     "Botucatu",
                               "Ourinhos",  "Avaré",
                               "Tatuí",     "Registro",
                               "Lins",      "Jaú",
                               "Birigui",   "Araçatuba",
                               "Catanduva", "Presidente Prudente"};

// The branches a picker offers: the mark column, code and name, 30 of them (scale 500).
class PickerTest : public BoundTest {
 protected:
  void SetUp() override {
    BoundTest::SetUp();
    owner = new fw::TForm(fw::Application, "frmDados");
    rows = owner->Create<fw::TClientDataSet>("cdsFilSoli");
    rows->AddField("cdsFilSoliIDMARCADO", "IDMARCADO", fw::TFieldType::ftString, 1);
    rows->AddField("cdsFilSoliCDFILSOLI", "CDFILSOLI", fw::TFieldType::ftString, 4)
        ->SetDisplayLabel("Código");
    rows->AddField("cdsFilSoliNMFILIAL", "NMFILIAL", fw::TFieldType::ftString, 30)
        ->SetDisplayLabel("Nome");
    fw::TDataPacket packet({{"IDMARCADO", fw::TFieldType::ftString, 1},
                            {"CDFILSOLI", fw::TFieldType::ftString, 4},
                            {"NMFILIAL", fw::TFieldType::ftString, 30}});
    for (size_t i = 0; i < std::size(kCities); ++i) {
      char code[24];
      std::snprintf(code, sizeof code, "%04zu", i + 1);
      packet.Columns()[0].AppendString("");
      packet.Columns()[1].AppendString(code);
      packet.Columns()[2].AppendString(std::string("Filial ") + kCities[i]);
    }
    rows->SetData(std::move(packet));
    source = owner->Create<fw::TDataSource>("dtsFilSoli");
    source->SetDataSet(rows);
  }
  // Presses Space on a row's cell of the given column.
  static void SpaceOn(QTableView* table, int row, int column) {
    table->setCurrentIndex(table->model()->index(row, column));
    QTest::keyClick(table, Qt::Key_Space);
  }

  fw::TForm* owner = nullptr;
  fw::TClientDataSet* rows = nullptr;
  fw::TDataSource* source = nullptr;
};

TEST_F(PickerTest, SpaceOnAnyCellOfARow_MarksIt_AndAgainClearsIt) {
  PickListDialog dialog(rows, "CDFILSOLI", "Filial", {});
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QTableView* table = dialog.Table();
  table->setFocus();
  SpaceOn(table, 2, 2);  // the name
  SpaceOn(table, 4, 1);  // the code
  SpaceOn(table, 6, 0);  // the check box itself
  EXPECT_EQ((std::vector<std::string>{"0003", "0005", "0007"}), dialog.Marked());
  SpaceOn(table, 2, 1);
  EXPECT_EQ((std::vector<std::string>{"0005", "0007"}), dialog.Marked());
}

TEST_F(PickerTest, Filter_ByCodeOrName_CaseAndAccentsAside_MarksKept) {
  PickListDialog dialog(rows, "CDFILSOLI", "Filial", {"0001"});
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(30, dialog.VisibleRows());
  QTest::keyClicks(dialog.Filter(), QStringLiteral("sao paulo"));
  EXPECT_EQ(1, dialog.VisibleRows()) << "\"São Paulo\" without its accent";
  dialog.Filter()->clear();
  QTest::keyClicks(dialog.Filter(), QStringLiteral("0012"));
  ASSERT_EQ(1, dialog.VisibleRows());
  // Down from the filter into the rows it left; Space marks the one there.
  QTest::keyClick(dialog.Filter(), Qt::Key_Down);
  EXPECT_TRUE(dialog.Table()->hasFocus());
  QTest::keyClick(dialog.Table(), Qt::Key_Space);
  // "Marcar todos" under a filter marks the rows it shows (Sorocaba, Bauru, Piracicaba, Barueri,
  // Taubaté, Araçatuba), no other.
  dialog.Filter()->clear();
  QTest::keyClicks(dialog.Filter(), QStringLiteral("BA"));
  EXPECT_EQ(6, dialog.VisibleRows());
  dialog.MarkAll(true);
  dialog.Filter()->clear();
  EXPECT_EQ(30, dialog.VisibleRows());
  EXPECT_EQ((std::vector<std::string>{"0001", "0006", "0007", "0012", "0015", "0017", "0028"}),
            dialog.Marked());
}

// Confirmed, the picker's result shows beside "Lista": the count and the codes, the names in
// the tooltip; it goes when the group goes back to "Todas".
TEST_F(PickerTest, Confirmed_TheCountAndCodesShowBesideTheList_UntilAllIsChosen) {
  platform->Interactive = true;
  TTestForm* form = ShowTestForm();
  std::string selection;
  form->sbtPesquisa->OnClick = [&](fw::TComponent*) {
    fw::PesquisaLista(source, "CDFILSOLI", "Filial", false, selection);
  };
  auto* lista = Widget<QRadioButton>(form->rbtLista);
  auto* button = Widget<QToolButton>(form->sbtPesquisa);
  ASSERT_TRUE(lista && button);
  QTest::mouseClick(lista, Qt::LeftButton);
  QApplication::processEvents();
  ASSERT_TRUE(form->rbtLista->Checked());

  OnNextModal([&](QWidget* modal) {
    auto* dialog = dynamic_cast<PickListDialog*>(modal);
    if (!dialog) {
      modal->close();
      return;
    }
    SpaceOn(dialog->Table(), 1, 2);
    SpaceOn(dialog->Table(), 3, 2);
    for (QPushButton* push : dialog->findChildren<QPushButton*>())
      if (push->text() == QStringLiteral("Confirmar")) push->click();
  });
  QTest::mouseClick(button, Qt::LeftButton);
  QApplication::processEvents();
  EXPECT_EQ("'0002','0004'", selection);

  QLabel* shown = platform->Picks().LabelIn(form->rbtLista);
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(shown->isVisible());
  EXPECT_EQ(QStringLiteral("2: 0002, 0004"), shown->accessibleName());
  EXPECT_TRUE(shown->text().startsWith(QStringLiteral("2:"))) << shown->text().toStdString();
  EXPECT_TRUE(shown->toolTip().contains(QStringLiteral("0002 — Filial Campinas")));
  EXPECT_TRUE(shown->toolTip().contains(QStringLiteral("0004 — Filial São Paulo - Centro")));
  // Beside the picker's button, inside the group.
  const QRect at = shown->geometry();
  EXPECT_GE(at.left(), button->geometry().right());
  EXPECT_LE(at.right(), shown->parentWidget()->width());

  QTest::mouseClick(Widget<QRadioButton>(form->rbtTodas), Qt::LeftButton);
  QApplication::processEvents();
  EXPECT_EQ(nullptr, platform->Picks().LabelIn(form->rbtLista)) << "the list was dropped";
}

}  // namespace
}  // namespace hostapp::testing
