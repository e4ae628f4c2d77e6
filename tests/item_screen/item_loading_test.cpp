// Opening the item screen: what it asks the service for, in which order, and what it does when a
// load fails.
#include "tests/item_screen/item_screen_fixture.h"

namespace item_screen_test {
namespace {

using LoadingTest = ItemScreenTest;

TEST_F(LoadingTest, Opening_AsksForProductsThenFirstProductsQuotations_InsideTheProductLoad) {
  OpenRequestScreenWithQuery();
  ClearRecords();

  TfrmAcompItens* seen = nullptr;
  OpenItemScreen([&](TfrmAcompItens& screen) {
    seen = &screen;
    EXPECT_EQ(screen.cdsProduto->RecordCount(), 4);
    EXPECT_EQ(screen.cdsProduto->RecNo(), 1);
    EXPECT_EQ(screen.cdsCotacaoNRCOLEPRECO->AsString(), "Q-1");
    EXPECT_EQ(screen.dbgCotacao->RowCount(), 2);
  });

  ASSERT_EQ(canned.Calls.size(), 2u);
  EXPECT_EQ(canned.Calls[0].Method, "GetItemProduto");
  EXPECT_EQ(canned.Calls[1].Method, "GetItemCota");
  EXPECT_EQ(Arg(canned.Calls[1], "cdProduto").Text, "P100");
  // The quotation call is answered and loaded before the product call hides its indicator.
  const std::vector<std::string> expected = {"busy shown: \"\"", "call GetItemProduto",
                                             "busy shown: \"\"", "call GetItemCota",
                                             "busy hidden",      "busy hidden"};
  EXPECT_EQ(log, expected);
  // Both indicators belong to the item screen, whose list has no caption entry.
  EXPECT_EQ(platform.BusyOwners, (std::vector<fw::TForm*>{seen, seen}));
  EXPECT_TRUE(platform.Errors.empty());
}

TEST_F(LoadingTest, ProductArguments_ComeFromTheRequestScreensCurrentRowsAndFilter) {
  OpenRequestScreenWithQuery();
  // A code set by the program after the query: the item screen reads the control as it is now.
  soli->medCdProdIni->SetText("01002003");
  ClearRecords();

  OpenItemScreen();

  const auto calls = CallsOf("GetItemProduto");
  ASSERT_EQ(calls.size(), 1u);
  const TCall& call = calls[0];
  EXPECT_EQ(Arg(call, "cdFilial").Text, "0001");  // the branch grid's row, not the item's "0009"
  EXPECT_EQ(Arg(call, "nrSoliCmp").Text, "S-123");
  EXPECT_EQ(Arg(call, "cdProdIni").Text, "01002003");
  EXPECT_EQ(Arg(call, "cdProdFin").Text, "");
  EXPECT_EQ(Arg(call, "stTCdProd").Text, soli->stTCdProd);
  EXPECT_EQ(Arg(call, "stDtSoli").Text, "");  // request dates given
  EXPECT_DOUBLE_EQ(Arg(call, "dtSoliIni").Date, Date("01/03/2024"));
  EXPECT_DOUBLE_EQ(Arg(call, "dtSoliFin").Date, Date("31/03/2024"));
  EXPECT_DOUBLE_EQ(Arg(call, "dtProgEntr").Date, Date("15/03/2024"));
  EXPECT_EQ(Arg(call, "cdFilLan").Text, "0001");
  EXPECT_EQ(Arg(call, "nrCompra").Text, "C-77");

  const auto quotations = CallsOf("GetItemCota");
  ASSERT_EQ(quotations.size(), 1u);
  EXPECT_EQ(Arg(quotations[0], "cdFilial").Text, "0009");  // the item row's own branch
  EXPECT_EQ(Arg(quotations[0], "nrColePreco").Text, "Q-55");
}

TEST_F(LoadingTest, ProductArguments_FollowRequestDateEdits_ButNotDeliveryDateEdits) {
  OpenRequestScreenWithQuery();
  OpenItemScreen();

  Type(soli->depEntrIni, "01/04/2024");
  Type(soli->depEntrFin, "30/04/2024");
  RunQuery();
  OpenItemScreen();

  Type(soli->depSolicitacaoIni, "02/03/2024");
  RunQuery();
  OpenItemScreen();

  const auto calls = CallsOf("GetItemProduto");
  ASSERT_EQ(calls.size(), 3u);
  for (size_t i = 0; i < calls[0].Args.size(); ++i) {
    EXPECT_EQ(calls[1].Args[i].Text, calls[0].Args[i].Text) << "argument " << i;
    EXPECT_DOUBLE_EQ(calls[1].Args[i].Date, calls[0].Args[i].Date) << "argument " << i;
  }
  EXPECT_DOUBLE_EQ(Arg(calls[2], "dtSoliIni").Date, Date("02/03/2024"));
  EXPECT_DOUBLE_EQ(Arg(calls[2], "dtSoliFin").Date, Date("31/03/2024"));
}

TEST_F(LoadingTest, BlankRequestDates_SendTheFlagAndDatesNotLaterThanAnyTypedDate) {
  OpenRequestScreen();
  RunQuery();
  ClearRecords();

  OpenItemScreen();

  const auto calls = CallsOf("GetItemProduto");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(Arg(calls[0], "stDtSoli").Text, "T");
  EXPECT_EQ(Arg(calls[0], "stTCdProd").Text, "T");
  EXPECT_LE(Arg(calls[0], "dtSoliIni").Date, fw::kZeroDate);
  EXPECT_LE(Arg(calls[0], "dtSoliFin").Date, fw::kZeroDate);
}

TEST_F(LoadingTest, ItemWithoutScheduledDelivery_SendsTheZeroDate) {
  ServeItems({{"0001", "S-124", "C-78", "", "0009", "Q-56"}});
  OpenRequestScreenWithQuery();
  ClearRecords();

  OpenItemScreen();

  const auto calls = CallsOf("GetItemProduto");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_DOUBLE_EQ(Arg(calls[0], "dtProgEntr").Date, fw::kZeroDate);
  EXPECT_EQ(Arg(calls[0], "nrCompra").Text, "C-78");
}

TEST_F(LoadingTest, NoCurrentItemRow_SendsEmptyStringsAndTheZeroDate) {
  canned.ServeEmpty("GetItens");
  OpenRequestScreenWithQuery();
  ASSERT_TRUE(soli->cdsItensGrid->IsEmpty());
  ClearRecords();

  OpenItemScreen();

  const auto calls = CallsOf("GetItemProduto");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(Arg(calls[0], "cdFilial").Text, "0001");  // the branch row still exists
  EXPECT_EQ(Arg(calls[0], "nrSoliCmp").Text, "");
  EXPECT_DOUBLE_EQ(Arg(calls[0], "dtProgEntr").Date, fw::kZeroDate);
  EXPECT_EQ(Arg(calls[0], "cdFilLan").Text, "");
  EXPECT_EQ(Arg(calls[0], "nrCompra").Text, "");
  const auto quotations = CallsOf("GetItemCota");
  ASSERT_EQ(quotations.size(), 1u);
  EXPECT_EQ(Arg(quotations[0], "cdFilial").Text, "");
  EXPECT_EQ(Arg(quotations[0], "nrColePreco").Text, "");
}

TEST_F(LoadingTest, EmptyProductPacket_MakesNoQuotationCall_AndLeavesFindAndVerifyDisabled) {
  OpenRequestScreenWithQuery();
  canned.ServeEmpty("GetItemProduto");
  ClearRecords();

  OpenItemScreen([&](TfrmAcompItens& screen) {
    EXPECT_TRUE(screen.cdsProduto->Active());
    EXPECT_EQ(screen.dbgPadrao->RowCount(), 0);
    EXPECT_FALSE(screen.cdsCotacao->Active());
    ASSERT_TRUE(fw::Application->UserFocus(screen.dbgPadrao));
    EXPECT_FALSE(screen.mnuProcurar->Enabled());
    EXPECT_FALSE(screen.mnuVerificar->Enabled());
    EXPECT_FALSE(screen.sbtProcurar->Enabled());
    EXPECT_FALSE(screen.sbtVerificar->Enabled());
    // The set browses, empty: the navigator still follows the browse state.
    EXPECT_TRUE(screen.BrowseDependentControl()->Enabled());
    EXPECT_EQ(screen.dbtNome->Text(), "");
  });

  EXPECT_EQ(CallsOf("GetItemProduto").size(), 1u);
  EXPECT_TRUE(CallsOf("GetItemCota").empty());
}

TEST_F(LoadingTest, EveryProductCursorMove_LoadsThatProductsQuotations) {
  OpenRequestScreenWithQuery();
  ClearRecords();

  OpenItemScreen([&](TfrmAcompItens& screen) {
    for (int move = 0; move < 3; ++move)
      ASSERT_TRUE(fw::Application->UserKey(screen.dbgPadrao, fw::vk::Down, 0));
    // Down on the last row stays there and asks for nothing.
    ASSERT_TRUE(fw::Application->UserKey(screen.dbgPadrao, fw::vk::Down, 0));
  });

  const auto calls = CallsOf("GetItemCota");
  ASSERT_EQ(calls.size(), 4u);  // the first product at opening, then one per move
  const char* products[] = {"P100", "P200", "P300", "P400"};
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(Arg(calls[i], "cdFilial").Text, "0009") << i;
    EXPECT_EQ(Arg(calls[i], "cdProduto").Text, products[i]) << i;
    EXPECT_EQ(Arg(calls[i], "nrColePreco").Text, "Q-55") << i;
  }
  EXPECT_EQ(CallsOf("GetItemProduto").size(), 1u);
}

TEST_F(LoadingTest, ServiceChangingTheInOutFlags_ChangesTheRequestScreensFilterState) {
  OpenRequestScreenWithQuery();
  ASSERT_EQ(soli->stDtSoli, "");
  canned.RefsNext("GetItemProduto", {{"stDtSoli", "T"}, {"stTCdProd", "X"}});

  OpenItemScreen();

  EXPECT_EQ(soli->stDtSoli, "T");
  EXPECT_EQ(soli->stTCdProd, "X");
  EXPECT_EQ(Cli_cmp09501::stDtSoli, "");  // the unit's own variables are not the flags
  EXPECT_EQ(Cli_cmp09501::stTCdProd, "");
}

TEST_F(LoadingTest, FailingQuotationLoadAtOpening_OpensWithProductsAndNoQuotations) {
  OpenRequestScreenWithQuery();
  canned.ErrorNext("GetItemCota", "Conexão perdida com o servidor.");
  ClearRecords();

  bool opened = false;
  OpenItemScreen([&](TfrmAcompItens& screen) {
    opened = true;
    EXPECT_TRUE(screen.cdsProduto->Active());
    EXPECT_EQ(screen.cdsProduto->RecordCount(), 4);
    EXPECT_EQ(screen.cdsProdutoCDPRODUTO->AsString(), "P100");
    EXPECT_FALSE(screen.cdsCotacao->Active());
    EXPECT_FALSE(platform.BusyVisible);
  });

  EXPECT_TRUE(opened);
  EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Conexão perdida com o servidor."}));
  EXPECT_EQ(platform.BusyHides, static_cast<int>(platform.BusyCaptions.size()));
}

TEST_F(LoadingTest, RefusedProductLoad_ShowsTheRefusalOnce_AndOpensEmpty) {
  OpenRequestScreenWithQuery();
  canned.FailNext("GetItemProduto", "Lista de solicitações ilegível.");
  ClearRecords();

  OpenItemScreen([&](TfrmAcompItens& screen) {
    EXPECT_FALSE(screen.cdsProduto->Active());
    EXPECT_FALSE(screen.cdsCotacao->Active());
    // Find does nothing while the product set is closed.
    screen.sbtProcurarClick(screen.sbtProcurar);
    EXPECT_EQ(platform.Searches, 0);
  });

  EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Lista de solicitações ilegível."}));
  EXPECT_TRUE(CallsOf("GetItemCota").empty());
  EXPECT_FALSE(platform.BusyVisible);
}

TEST_F(LoadingTest, FailingQuotationLoadAfterAMove_KeepsThePreviousQuotations) {
  OpenRequestScreenWithQuery();

  OpenItemScreen([&](TfrmAcompItens& screen) {
    ASSERT_EQ(screen.cdsCotacaoNRCOLEPRECO->AsString(), "Q-1");
    ServeQuotations("2");
    canned.ErrorNext("GetItemCota", "Tempo esgotado.");
    platform.Clear();

    ASSERT_TRUE(fw::Application->UserSelectRow(screen.dbgPadrao, 1));

    EXPECT_EQ(platform.Errors, (std::vector<std::string>{"Tempo esgotado."}));
    EXPECT_EQ(screen.cdsProdutoCDPRODUTO->AsString(), "P200");
    EXPECT_EQ(screen.cdsCotacaoNRCOLEPRECO->AsString(), "Q-1");
    EXPECT_EQ(screen.dbtNome->Text(), "Q-1");
    EXPECT_FALSE(platform.BusyVisible);

    // The next move loads again.
    ASSERT_TRUE(fw::Application->UserSelectRow(screen.dbgPadrao, 2));
    EXPECT_EQ(screen.cdsCotacaoNRCOLEPRECO->AsString(), "Q-2");
  });
}

}  // namespace
}  // namespace item_screen_test
