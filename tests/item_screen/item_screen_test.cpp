// The item screen as the user sees it: its life cycle, grids, texts, mask and command states.
#include "tests/item_screen/item_screen_fixture.h"

namespace item_screen_test {
namespace {

// ---- life cycle ----

using LifecycleTest = ItemScreenTest;

TEST_F(LifecycleTest, CursorIsHourglassWhileShown_AndDefaultOnlyAfterTheScreenCloses) {
  OpenRequestScreenWithQuery();
  ClearRecords();

  OpenItemScreen([&](TfrmAcompItens& screen) {
    EXPECT_EQ(fw::Application->Cursor(), fw::TCursor::crHourGlass);
    EXPECT_TRUE(screen.Modal());
    EXPECT_EQ(Cli_cmp09501::frmAcompItens, &screen);
  });

  EXPECT_EQ(platform.Cursors,
            (std::vector<fw::TCursor>{fw::TCursor::crHourGlass, fw::TCursor::crDefault}));
  EXPECT_EQ(fw::Application->Cursor(), fw::TCursor::crDefault);
}

TEST_F(LifecycleTest, Closing_ReleasesTheScreen_ClearsItsFlagAndReference) {
  OpenRequestScreenWithQuery();
  Cli_cmp09501::boStCriado = true;

  OpenItemScreen();

  EXPECT_FALSE(Cli_cmp09501::boStCriado);
  EXPECT_EQ(Cli_cmp09501::frmAcompItens, nullptr);
  EXPECT_EQ(fw::Application->FindForm("frmAcompItens"), nullptr);
  EXPECT_EQ(fw::Application->ActiveForm(), soli);
}

TEST_F(LifecycleTest, EachOpening_CreatesAFreshScreenThatLoadsAgain) {
  OpenRequestScreenWithQuery();
  ClearRecords();

  OpenItemScreen([&](TfrmAcompItens&) {});
  OpenItemScreen([&](TfrmAcompItens& screen) { EXPECT_EQ(screen.cdsProduto->RecNo(), 1); });

  EXPECT_EQ(CallsOf("GetItemProduto").size(), 2u);
  EXPECT_EQ(CallsOf("GetItemCota").size(), 2u);
}

TEST_F(LifecycleTest, WithoutTheRequestScreen_ReportsIt_AndOpensEmpty) {
  OpenItemScreen([&](TfrmAcompItens& screen) { EXPECT_FALSE(screen.cdsProduto->Active()); });

  EXPECT_EQ(platform.Errors,
            (std::vector<std::string>{"A tela de acompanhamento da solicitação não está aberta."}));
  EXPECT_TRUE(canned.Calls.empty());
  EXPECT_FALSE(platform.BusyVisible);
  EXPECT_EQ(fw::Application->Cursor(), fw::TCursor::crDefault);
}

// ---- what the grids show ----

using DisplayTest = ItemScreenTest;

TEST_F(DisplayTest, ProductGrid_ShowsItsFourteenColumns_WithMaskedCodesAndBrazilianNumbers) {
  OpenRequestScreenWithQuery();

  OpenItemScreen([&](TfrmAcompItens& screen) {
    const fw::TDBGrid& grid = *screen.dbgPadrao;
    const std::vector<std::string> titles = {
        "Produto",           "Nome do Produto",  "UN",           "Quantidade",
        "Vr. Com. Ant.",     "Fornecedor da AF", "Vr. Total AF", "Número NF",
        "Dt. Emissao NF",    "Tipo Oper.",       "Vr. NF",       "Dt. Aprovação",
        "Dt. de Entrada NF", "Resp. Aprov. NF"};
    ASSERT_EQ(grid.ColumnCount(), 14);
    for (int column = 0; column < grid.ColumnCount(); ++column)
      EXPECT_EQ(grid.ColumnTitle(column), titles[static_cast<size_t>(column)]) << column;
    // Fields without a column are neither shown nor lost.
    for (const char* hidden : {"CDPRODUTO", "CDMARCA", "CDFILLANC"})
      EXPECT_EQ(grid.ColumnIndex(hidden), -1) << hidden;
    // The column's own title; the field keeps its bare name as label.
    EXPECT_EQ(screen.cdsProdutoDTENTRSAID->DisplayLabel(), "DTENTRSAID");

    const int code = grid.ColumnIndex("CDARVPROD");
    const int total = grid.ColumnIndex("VRTOTALAF");
    const int quantity = grid.ColumnIndex("QTSOLIPROD");
    const int entry = grid.ColumnIndex("DTENTRSAID");
    EXPECT_EQ(grid.CellText(0, code), "01.002.003");
    EXPECT_EQ(screen.cdsProdutoCDARVPROD->AsString(), "01002003");  // stored as loaded
    EXPECT_EQ(grid.CellText(0, total), "1.234,500");
    EXPECT_EQ(grid.CellText(1, total), "0,000");
    EXPECT_EQ(grid.CellText(2, total), "1.234.567,891");
    EXPECT_EQ(grid.CellText(3, total), "-1.234,500");
    EXPECT_EQ(grid.CellText(0, quantity), "12,500");
    EXPECT_EQ(grid.CellText(0, entry), "05/03/2024");
    EXPECT_EQ(grid.CellText(1, entry), "");
    EXPECT_EQ(grid.CellText(2, entry), "06/03/2024 14:07:09");
    // Painting reads other rows without moving the cursor (no quotation call).
    EXPECT_EQ(screen.cdsProduto->RecNo(), 1);
  });
  EXPECT_EQ(CallsOf("GetItemCota").size(), 1u);
}

TEST_F(DisplayTest, QuotationGrid_ShowsItsFiveColumnsAndTheNumberInTheRecordBar) {
  OpenRequestScreenWithQuery();

  OpenItemScreen([&](TfrmAcompItens& screen) {
    const fw::TDBGrid& grid = *screen.dbgCotacao;
    ASSERT_EQ(grid.ColumnCount(), 5);
    const std::vector<std::string> titles = {"Nº Cotação", "Situação", "Comprador", "Fornecedor",
                                             "Valor Unitário"};
    for (int column = 0; column < 5; ++column)
      EXPECT_EQ(grid.ColumnTitle(column), titles[static_cast<size_t>(column)]) << column;
    EXPECT_EQ(grid.ColumnWidth(1), 77);
    EXPECT_EQ(grid.CellText(0, 4), "0,350");
    EXPECT_EQ(screen.dbtNome->Text(), "Q-1");
    ASSERT_TRUE(fw::Application->UserSelectRow(screen.dbgCotacao, 1));
    EXPECT_EQ(screen.dbtNome->Text(), "Q-1b");
  });
}

TEST_F(DisplayTest, QuotationSituation_OnlyExactCAndAHaveTexts) {
  struct TCase {
    const char* Code;
    const char* Text;
  };
  const TCase cases[] = {{"C", "Concluída"}, {"A", "Em andamento"}, {"c", ""}, {"X", ""}, {"", ""}};
  std::vector<std::vector<std::string>> rows;
  for (const TCase& c : cases) rows.push_back({"Q", c.Code});
  canned.ServeText("GetItemCota", {"NRCOLEPRECO", "IDSITUCOLETA"}, rows);
  OpenRequestScreenWithQuery();

  OpenItemScreen([&](TfrmAcompItens& screen) {
    const int column = screen.dbgCotacao->ColumnIndex("IDSITUCOLETA");
    for (int row = 0; row < 5; ++row) {
      const TCase& c = cases[row];
      EXPECT_EQ(screen.dbgCotacao->CellText(row, column), c.Text) << "code \"" << c.Code << "\"";
      fw::TDataSet::TRowScope scope(screen.cdsCotacao, static_cast<size_t>(row));
      // The edit text comes from the same handler.
      EXPECT_EQ(screen.cdsCotacaoIDSITUCOLETA->Text(), c.Text) << "code \"" << c.Code << "\"";
    }
  });
}

TEST_F(DisplayTest, ProductCodeMask_IsTakenFromTheHostOnEveryActivation) {
  OpenRequestScreenWithQuery();

  OpenItemScreen([&](TfrmAcompItens& screen) {
    EXPECT_EQ(screen.cdsProdutoCDARVPROD->EditMask(), "00.000.000;0;_");
    fw::HostConfig().ProductMask = "0.0000000;0;_";
    fw::Application->UserActivate(&screen);
    EXPECT_EQ(screen.dbgPadrao->CellText(0, 0), "0.1002003");
    EXPECT_EQ(screen.cdsProdutoCDARVPROD->AsString(), "01002003");
  });
}

// ---- commands ----

using CommandTest = ItemScreenTest;

TEST_F(CommandTest, FocusInQuotations_DisablesAllSeven_AndBackInProducts_EnablesFindAndVerify) {
  OpenRequestScreenWithQuery();

  OpenItemScreen([&](TfrmAcompItens& screen) {
    // Untouched until the focus first enters one of the two places.
    for (const auto& command : screen.MaintenanceCommands()) {
      EXPECT_FALSE(command.Item->Enabled()) << command.Item->Name();
      EXPECT_FALSE(command.Button->Enabled()) << command.Button->Name();
    }

    ASSERT_TRUE(fw::Application->UserFocus(screen.dbgPadrao));
    for (const auto& command : screen.MaintenanceCommands()) {
      const bool expected =
          command.Item == screen.mnuProcurar || command.Item == screen.mnuVerificar;
      EXPECT_EQ(command.Item->Enabled(), expected) << command.Item->Name();
      EXPECT_EQ(command.Button->Enabled(), expected) << command.Button->Name();
    }
    EXPECT_TRUE(screen.BrowseDependentControl()->Enabled());

    ASSERT_TRUE(fw::Application->UserFocus(screen.dbgCotacao));
    for (const auto& command : screen.MaintenanceCommands()) {
      EXPECT_FALSE(command.Item->Enabled()) << command.Item->Name();
      EXPECT_FALSE(command.Button->Enabled()) << command.Button->Name();
    }
    EXPECT_TRUE(screen.BrowseDependentControl()->Enabled());  // kept

    ASSERT_TRUE(fw::Application->UserFocus(screen.dbgPadrao));
    EXPECT_TRUE(screen.sbtProcurar->Enabled());
    EXPECT_TRUE(screen.sbtVerificar->Enabled());

    // Print stays disabled and the automatic entry does nothing, by menu or by Ctrl+A.
    EXPECT_FALSE(screen.sbtImprimir->Enabled());
    EXPECT_FALSE(screen.mnuListagem->Enabled());
    EXPECT_FALSE(screen.mnuConfigImpressora->Enabled());
    const size_t calls = canned.Calls.size();
    ASSERT_TRUE(fw::Application->UserKey(screen.dbgPadrao, 'A', fw::ssCtrl));
    EXPECT_TRUE(fw::Application->UserClickMenu(screen.mnuAutomatico));
    EXPECT_EQ(canned.Calls.size(), calls);
    EXPECT_EQ(screen.cdsProduto->RecNo(), 1);
  });
}

TEST_F(CommandTest, Find_SearchesTheProducts_AndAFoundRowReloadsItsQuotations) {
  OpenRequestScreenWithQuery();
  platform.SearchAnswers.push_back(fw::TFakePlatform::TSearchAnswer{"CDARVPROD", "02.000.001"});
  platform.SearchAnswers.push_back(std::nullopt);

  OpenItemScreen([&](TfrmAcompItens& screen) {
    ASSERT_TRUE(fw::Application->UserFocus(screen.dbgPadrao));
    ServeQuotations("3");
    ASSERT_TRUE(fw::Application->UserClick(screen.sbtProcurar));
    EXPECT_EQ(screen.cdsProdutoCDPRODUTO->AsString(), "P300");
    EXPECT_EQ(screen.cdsCotacaoNRCOLEPRECO->AsString(), "Q-3");

    // A cancelled search moves nothing.
    ASSERT_TRUE(fw::Application->UserClickMenu(screen.mnuProcurar));
    EXPECT_EQ(screen.cdsProdutoCDPRODUTO->AsString(), "P300");
  });

  EXPECT_EQ(platform.Searches, 2);
  const auto calls = CallsOf("GetItemCota");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(Arg(calls[1], "cdProduto").Text, "P300");
}

}  // namespace
}  // namespace item_screen_test
