// The three-level loading, its failures, the verify reload and the double-click drill-down.
#include "tests/request_screen/screen_fixture.h"

namespace request_screen_test {
namespace {

using LoadingTest = RequestScreenTest;
namespace unit = Cli_cmp09500;

TEST_F(LoadingTest, LeavingThePanel_RunsTheCascadeInOrderWithTheFirstRowsKeys) {
  ServeFullCascade();
  screen->depEntrIni->SetText("01/03/2024");
  screen->depEntrFin->SetText("31/03/2024");
  screen->medCdProdIni->SetText("01002003");
  LeavePanel();
  EXPECT_EQ(Methods(), (std::vector<std::string>{"GetFilSoliGD", "GetItens", "GetDestSolGere"}));

  const auto& level1 = canned.Calls[0].Args;
  ASSERT_EQ(level1.size(), 13u);
  EXPECT_DOUBLE_EQ(level1[0].Date, fw::kBlankDate);  // blank request dates
  EXPECT_EQ(level1[2].Text, "T");
  EXPECT_DOUBLE_EQ(level1[3].Date, *fw::TextToDateTime("01/03/2024"));
  EXPECT_DOUBLE_EQ(level1[4].Date, *fw::TextToDateTime("31/03/2024"));
  EXPECT_EQ(level1[5].Text, "");
  EXPECT_EQ(level1[6].Text, "");
  EXPECT_EQ(level1[7].Text, "T");
  EXPECT_EQ(level1[8].Text, "");
  EXPECT_EQ(level1[9].Text, "T");
  EXPECT_EQ(level1[10].Text, "01002003");
  EXPECT_EQ(level1[11].Text, "");
  EXPECT_EQ(level1[12].Text, "");

  EXPECT_EQ(Arg("GetItens", "cdFilial"), "0001");
  EXPECT_EQ(Arg("GetItens", "cdProdIni"), "01002003");
  EXPECT_EQ(Arg("GetDestSolGere", "nrSoliCmp"), "S000000001");
  EXPECT_EQ(Arg("GetDestSolGere", "cdFilial"), "0001");
  EXPECT_EQ(Arg("GetDestSolGere", "cdFilLan"), "0101");
  EXPECT_EQ(Arg("GetDestSolGere", "cdDestSoli"), "001");

  EXPECT_EQ(screen->cdsFilSoliGrid->RecNo(), 1);
  EXPECT_EQ(screen->cdsItensGrid->RecNo(), 1);
  EXPECT_EQ(screen->cdsDestSolGere->RecordCount(), 1);
  // Nested calls: each inner indicator is shown and hidden inside the outer one.
  const std::vector<std::string> busy(fake.Events.begin(), fake.Events.end());
  EXPECT_EQ(busy,
            (std::vector<std::string>{"busy shown: \"\"", "busy shown: \"\"", "busy shown: \"\"",
                                      "busy hidden", "busy hidden", "busy hidden"}));
}

TEST_F(LoadingTest, OnlyTheApprovalsLoad_ShowsTheBusyIndicatorWithoutCaption) {
  screen->msgPadrao->Items.push_back("GetFili|Consultando...");
  ServeFullCascade();
  LeavePanel();
  EXPECT_EQ(fake.BusyCaptions, (std::vector<std::string>{"Consultando...", "Consultando...", ""}));
}

TEST_F(LoadingTest, ServiceChangingAnInOutArgument_ChangesTheFilterStateForLaterCalls) {
  ServeFullCascade();
  canned.RefsNext("GetFilSoliGD", {{"stLSolicita", "'S9'"}});
  LeavePanel();
  EXPECT_EQ(unit::stLSolicita, "'S9'");
  EXPECT_EQ(Arg("GetItens", "stLSolicita"), "'S9'");
  EXPECT_EQ(Arg("GetItens", "stTSolicita"), "");  // recomputed from the list by level 2
}

TEST_F(LoadingTest, QueryWithoutBranches_LeavesTheLowerLevelsClosed) {
  canned.ServeEmpty("GetFilSoliGD");
  LeavePanel();
  EXPECT_EQ(Methods(), std::vector<std::string>{"GetFilSoliGD"});
  EXPECT_TRUE(screen->cdsFilSoliGrid->Active());
  EXPECT_TRUE(screen->cdsFilSoliGrid->IsEmpty());
  EXPECT_FALSE(screen->cdsItensGrid->Active());
  EXPECT_FALSE(screen->cdsDestSolGere->Active());
}

TEST_F(LoadingTest, BranchWithoutItems_LeavesTheApprovalsClosed) {
  ServeBranches({{"0001", "Filial Um"}});
  canned.ServeEmpty("GetItens");
  LeavePanel();
  EXPECT_EQ(Methods(), (std::vector<std::string>{"GetFilSoliGD", "GetItens"}));
  EXPECT_TRUE(screen->cdsItensGrid->Active());
  EXPECT_TRUE(screen->cdsItensGrid->IsEmpty());
  EXPECT_FALSE(screen->cdsDestSolGere->Active());
}

TEST_F(LoadingTest, ItemWithoutApprovals_OpensAnEmptyApprovalsSet) {
  ServeFullCascade();
  canned.ServeEmpty("GetDestSolGere");
  LeavePanel();
  EXPECT_TRUE(screen->cdsDestSolGere->Active());
  EXPECT_TRUE(screen->cdsDestSolGere->IsEmpty());
}

TEST_F(LoadingTest, BranchQueryRefused_ShowsTheMessageAndLoadsNothing) {
  ServeFullCascade();
  canned.FailNext("GetFilSoliGD", "Lista de filiais ilegível.");
  LeavePanel();
  EXPECT_EQ(LastError(), "Lista de filiais ilegível.");
  EXPECT_EQ(Methods(), std::vector<std::string>{"GetFilSoliGD"});
  EXPECT_FALSE(screen->cdsFilSoliGrid->Active());
  EXPECT_FALSE(fake.BusyVisible);
  EXPECT_EQ(fake.BusyHides, 1);
}

TEST_F(LoadingTest, ItemsCallFailingInsideTheBranchLoad_KeepsTheBranchesJustLoaded) {
  ServeFullCascade();
  canned.ErrorNext("GetItens", "Conexão perdida.");
  LeavePanel();
  EXPECT_EQ(LastError(), "Conexão perdida.");
  EXPECT_EQ(Methods(), (std::vector<std::string>{"GetFilSoliGD", "GetItens"}));
  EXPECT_EQ(screen->cdsFilSoliGrid->RecordCount(), 2);
  EXPECT_EQ(screen->cdsFilSoliGrid->RecNo(), 1);
  EXPECT_FALSE(screen->cdsItensGrid->Active());
  EXPECT_FALSE(screen->cdsDestSolGere->Active());
  EXPECT_EQ(fake.BusyHides, 2);
  EXPECT_FALSE(fake.BusyVisible);
}

TEST_F(LoadingTest, ItemsCallFailingOnABranchMove_ClosesTheOtherBranchsItemsKeepsTheNewRow) {
  ServeFullCascade();
  LeavePanel();
  canned.FailNext("GetItens", "Recusado.");
  fw::Application->UserSelectRow(screen->dbgPadrao, 1);
  EXPECT_EQ(LastError(), "Recusado.");
  EXPECT_EQ(screen->cdsFilSoliGrid->RecNo(), 2);
  // The items of branch 0001 are not offered under branch 0002.
  EXPECT_FALSE(screen->cdsItensGrid->Active());
  EXPECT_FALSE(screen->cdsDestSolGere->Active());

  // Nor does anything use their keys afterwards.
  canned.Calls.clear();
  fw::Application->UserSelectTab(screen->tshItens);
  fw::Application->UserFocus(screen->dbgItens);
  fw::Application->UserClickMenu(screen->mnuVerificar);
  EXPECT_TRUE(canned.Calls.empty());

  // The next move that succeeds shows that branch's items.
  fw::Application->UserSelectTab(screen->tshPadrao);
  fw::Application->UserSelectRow(screen->dbgPadrao, 0);
  EXPECT_EQ(screen->cdsItensGrid->RecordCount(), 2);
  EXPECT_EQ(Arg("GetDestSolGere", "cdFilial"), "0001");
}

TEST_F(LoadingTest, ApprovalsFailingInsideTheItemsLoadOfABranchMove_KeepThatBranchsItems) {
  ServeFullCascade();
  LeavePanel();
  canned.ErrorNext("GetDestSolGere", "Tempo esgotado.");
  fw::Application->UserSelectRow(screen->dbgPadrao, 1);
  EXPECT_EQ(LastError(), "Tempo esgotado.");
  ASSERT_TRUE(screen->cdsItensGrid->Active());
  EXPECT_EQ(screen->cdsItensGrid->RecordCount(), 2);
  EXPECT_EQ(Arg("GetItens", "cdFilial"), "0002");
  EXPECT_FALSE(screen->cdsDestSolGere->Active());
}

TEST_F(LoadingTest, ItemsReloadFailingOnTheItemsTab_KeepsTheItemsOfTheSameBranch) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectRow(screen->dbgPadrao, 1);
  fw::Application->UserSelectTab(screen->tshItens);
  canned.FailNext("GetItens", "Recusado.");
  fw::Application->UserClickMenu(screen->mnuVerificar);
  EXPECT_EQ(LastError(), "Recusado.");
  EXPECT_EQ(screen->cdsItensGrid->RecordCount(), 2);
  EXPECT_TRUE(screen->cdsDestSolGere->Active());  // the items reload closes nothing
}

TEST_F(LoadingTest, BranchReloadWhoseItemsFail_KeepsItemsOnlyWhenTheyAreOfTheFirstBranch) {
  ServeFullCascade();
  LeavePanel();
  // The cursor was on the first branch: its items are still the first branch's.
  canned.ErrorNext("GetItens", "Conexão perdida.");
  fw::Application->UserClickMenu(screen->mnuVerificar);
  EXPECT_EQ(LastError(), "Conexão perdida.");
  EXPECT_EQ(screen->cdsItensGrid->RecordCount(), 2);
  // The cursor was on the second branch: the reload puts it back on the first.
  fw::Application->UserSelectRow(screen->dbgPadrao, 1);
  canned.ErrorNext("GetItens", "Conexão perdida.");
  fw::Application->UserClickMenu(screen->mnuVerificar);
  EXPECT_EQ(screen->cdsFilSoliGrid->RecNo(), 1);
  EXPECT_FALSE(screen->cdsItensGrid->Active());
}

// ---- focus and results agree ----

TEST_F(LoadingTest, RefusalWhileLeavingThePanel_TheFocusReachesTheGridAndTheFilterStaysClosed) {
  ServeFullCascade();
  canned.FailNext("GetItens", "Serviço indisponível.");
  LeavePanel();
  EXPECT_EQ(fake.Errors, std::vector<std::string>{"Serviço indisponível."});
  EXPECT_EQ(Focused(), "dbgPadrao");
  EXPECT_EQ(screen->cdsFilSoliGrid->RecordCount(), 2);
  ExpectResultsAgreeWithFocusAndFlags();

  // Editing the filter means entering the panel: the results close, and a verify sends nothing.
  fw::Application->UserType(screen->medCdProdIni, "01002003");
  ExpectResultsAgreeWithFocusAndFlags();
  fw::Application->UserType(screen->depSolicitacaoIni, "10/03/2024");
  fw::Application->UserType(screen->depSolicitacaoFin, "01/03/2024");
  ExpectResultsAgreeWithFocusAndFlags();
  canned.Calls.clear();
  screen->sbtVerificarClick(nullptr);
  EXPECT_TRUE(canned.Calls.empty());

  // A validation that refuses keeps the focus in the panel, results closed.
  LeavePanel();
  EXPECT_EQ(LastError(), "Data de solicitação inicial é maior que a final.");
  EXPECT_EQ(Focused(), "depSolicitacaoIni");
  EXPECT_TRUE(canned.Calls.empty());
  ExpectResultsAgreeWithFocusAndFlags();

  fw::Application->UserType(screen->depSolicitacaoFin, "31/03/2024");
  LeavePanel();
  EXPECT_EQ(Focused(), "dbgPadrao");
  EXPECT_EQ(Arg("GetFilSoliGD", "stTCdProd"), "");
  EXPECT_EQ(Arg("GetItens", "stDtSoli"), "");
  ExpectResultsAgreeWithFocusAndFlags();
}

TEST_F(LoadingTest, TransportFailureOfTheBranchQueryWhileLeaving_TheFocusLeavesWithNothingShown) {
  canned.ErrorNext("GetFilSoliGD", "Conexão perdida.");
  EnterPanel();
  LeavePanel();
  EXPECT_EQ(fake.Errors, std::vector<std::string>{"Conexão perdida."});
  EXPECT_EQ(Focused(), "dbgPadrao");
  EXPECT_FALSE(screen->cdsFilSoliGrid->Active());
  EXPECT_FALSE(fake.BusyVisible);
}

TEST_F(LoadingTest, ApprovalsCallFailingOnAnItemMove_KeepsThePreviousApprovals) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectTab(screen->tshItens);
  canned.ErrorNext("GetDestSolGere", "Tempo esgotado.");
  fw::Application->UserSelectRow(screen->dbgItens, 1);
  EXPECT_EQ(LastError(), "Tempo esgotado.");
  EXPECT_EQ(screen->cdsItensGrid->RecNo(), 2);
  ASSERT_TRUE(screen->cdsDestSolGere->Active());
  EXPECT_EQ(screen->cdsDestSolGereNMOPERADOR->AsString(), "Gerente Um");
}

TEST_F(LoadingTest, BranchMoveWithAnInconsistentDate_ReportsAndLoadsNoItems) {
  ServeFullCascade();
  LeavePanel();
  canned.Calls.clear();
  screen->depSolicitacaoIni->SetText("10/03/2024");  // changed without visiting the panel
  fw::Application->UserSelectRow(screen->dbgPadrao, 1);
  EXPECT_EQ(LastError(), "A data final de solicitação deve ser informada.");
  EXPECT_TRUE(canned.Calls.empty());
  EXPECT_EQ(Focused(), "depSolicitacaoFin");
}

TEST_F(LoadingTest, EveryBranchMove_CallsTheServiceAgain) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectRow(screen->dbgPadrao, 1);
  fw::Application->UserSelectRow(screen->dbgPadrao, 0);
  EXPECT_EQ(Methods(),
            (std::vector<std::string>{"GetFilSoliGD", "GetItens", "GetDestSolGere", "GetItens",
                                      "GetDestSolGere", "GetItens", "GetDestSolGere"}));
  EXPECT_EQ(Arg("GetItens", "cdFilial"), "0001");
}

// ---- verify ----

TEST_F(LoadingTest, VerifyOnTheBranchTab_ReloadsAllLevelsFromTheFirstBranch) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectRow(screen->dbgPadrao, 1);
  canned.Calls.clear();
  fw::Application->UserClickMenu(screen->mnuVerificar);
  EXPECT_EQ(Methods(), (std::vector<std::string>{"GetFilSoliGD", "GetItens", "GetDestSolGere"}));
  EXPECT_EQ(screen->cdsFilSoliGrid->RecNo(), 1);
  EXPECT_EQ(Arg("GetItens", "cdFilial"), "0001");
}

TEST_F(LoadingTest, VerifyOnTheItemsTab_ReloadsTheItemsOfTheCurrentBranch) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectRow(screen->dbgPadrao, 1);
  fw::Application->UserSelectTab(screen->tshItens);
  canned.Calls.clear();
  fw::Application->UserClickMenu(screen->mnuVerificar);
  EXPECT_EQ(Methods(), (std::vector<std::string>{"GetItens", "GetDestSolGere"}));
  EXPECT_EQ(Arg("GetItens", "cdFilial"), "0002");
}

TEST_F(LoadingTest, VerifyOnTheItemsTab_ReturningNoItems_LeavesTheOldApprovals) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectTab(screen->tshItens);
  canned.ServeEmpty("GetItens");
  fw::Application->UserClickMenu(screen->mnuVerificar);
  EXPECT_TRUE(screen->cdsItensGrid->Active());
  EXPECT_TRUE(screen->cdsItensGrid->IsEmpty());
  ASSERT_TRUE(screen->cdsDestSolGere->Active());
  EXPECT_EQ(screen->cdsDestSolGereNMOPERADOR->AsString(), "Gerente Um");
}

TEST_F(LoadingTest, VerifyDoesNotValidate_ItUsesTheFlagsAsLastComputed) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectTab(screen->tshItens);
  screen->depSolicitacaoIni->SetText("10/03/2024");  // would fail a validation
  canned.Calls.clear();
  fw::Application->UserClickMenu(screen->mnuVerificar);
  EXPECT_TRUE(fake.Errors.empty());
  EXPECT_EQ(Methods(), (std::vector<std::string>{"GetItens", "GetDestSolGere"}));
  EXPECT_EQ(Arg("GetItens", "stDtSoli"), "T");
  EXPECT_DOUBLE_EQ(LastCall("GetItens")->Args[0].Date, *fw::TextToDateTime("10/03/2024"));
}

TEST_F(LoadingTest, VerifyWithTheGridInViewClosedOrEmpty_CallsNothing) {
  screen->sbtVerificarClick(nullptr);  // closed branch grid
  canned.ServeEmpty("GetFilSoliGD");
  LeavePanel();
  canned.Calls.clear();
  screen->sbtVerificarClick(nullptr);  // empty branch grid
  fw::Application->UserSelectTab(screen->tshItens);
  screen->sbtVerificarClick(nullptr);  // closed items grid
  EXPECT_TRUE(canned.Calls.empty());
}

// ---- double-click ----

TEST_F(LoadingTest, DoubleClickOnEachItemsColumn_OpensTheItemScreenOnlyOnTheRequestNumber) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectTab(screen->tshItens);
  for (int column = 0; column < screen->dbgItens->ColumnCount(); ++column) {
    const std::string field = screen->dbgItens->Columns[column].FieldName;
    SCOPED_TRACE(field);
    fake.Clear();
    fw::Application->UserSelectColumn(screen->dbgItens, column);
    fw::Application->UserDblClick(screen->dbgItens);
    EXPECT_EQ(ModalShows(), field == "NRSOLICMP" ? 1 : 0);
  }
  EXPECT_EQ(Cli_cmp09500::frmAcompSoli, screen);
}

TEST_F(LoadingTest, DoubleClickWithNoSelectedColumn_DoesNothing) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectTab(screen->tshItens);
  fw::Application->UserFocus(screen->dbgItens);
  screen->dbgItens->SetSelectedIndex(-1);
  fw::Application->UserDblClick(screen->dbgItens);
  EXPECT_EQ(ModalShows(), 0);
}

}  // namespace
}  // namespace request_screen_test
