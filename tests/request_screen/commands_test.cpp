// Command states on both tabs (the stale ones included), find and print.
#include "tests/request_screen/screen_fixture.h"

namespace request_screen_test {
namespace {

class CommandsTest : public RequestScreenTest {
 protected:
  // Find and verify, their buttons, and the two further controls.
  struct TState {
    bool Find, Verify, DataControl, BrowseControl;
    bool operator==(const TState&) const = default;
  };
  TState State() const {
    EXPECT_EQ(screen->mnuProcurar->Enabled(), screen->sbtProcurar->Enabled());
    EXPECT_EQ(screen->mnuVerificar->Enabled(), screen->sbtVerificar->Enabled());
    for (auto* item : {screen->mnuIncluir, screen->mnuAlterar, screen->mnuExcluir,
                       screen->mnuCancelar, screen->mnuConfirmar}) {
      EXPECT_FALSE(item->Enabled()) << item->Name();
      EXPECT_FALSE(screen->ButtonOf(item)->Enabled()) << item->Name();
    }
    return {screen->mnuProcurar->Enabled(), screen->mnuVerificar->Enabled(),
            screen->DataDependentControl()->Enabled(), screen->BrowseDependentControl()->Enabled()};
  }
  static constexpr TState kAllOff{false, false, false, false};
};

TEST_F(CommandsTest, NewScreen_HasEveryMaintenanceCommandDisabled) {
  for (const auto& command : screen->MaintenanceCommands()) {
    EXPECT_FALSE(command.Item->Enabled()) << command.Item->Name();
    EXPECT_FALSE(command.Button->Enabled()) << command.Item->Name();
  }
  EXPECT_FALSE(screen->sbtImprimir->Enabled());
  EXPECT_TRUE(screen->mnuAutomatico->Enabled());
}

TEST_F(CommandsTest, BranchTab_FollowsTheBranchData) {
  ServeFullCascade();
  LeavePanel();
  EXPECT_EQ(State(), (TState{true, true, true, true}));

  EnterPanel();
  EXPECT_EQ(State(), kAllOff);

  canned.ServeEmpty("GetFilSoliGD");
  LeavePanel();
  // Browse state without rows: only the navigator.
  EXPECT_EQ(State(), (TState{false, false, false, true}));
}

TEST_F(CommandsTest, ItemsTab_FollowsTheItemsAndLeavesTheNavigatorAsItWas) {
  ServeBranches({{"0001", "Filial Um"}});
  canned.ServeEmpty("GetItens");
  LeavePanel();
  fw::Application->UserSelectTab(screen->tshItens);
  EXPECT_EQ(State(), (TState{false, false, false, true}));

  fw::Application->UserSelectTab(screen->tshPadrao);
  ServeItems({{"A", "0101", "S000000001", "001"}});
  fw::Application->UserClickMenu(screen->mnuVerificar);
  fw::Application->UserSelectTab(screen->tshItens);
  EXPECT_EQ(State(), (TState{true, true, true, true}));
}

TEST_F(CommandsTest, NewQueryWithTheItemsTabInView_LeavesFindAndVerifyStaleUntilTheNextTabChange) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectTab(screen->tshItens);
  EnterPanel();
  fw::Application->UserFocus(screen->dbgItens);  // leaves the panel: a new query
  ASSERT_EQ(screen->cdsItensGrid->RecordCount(), 2);
  EXPECT_FALSE(State().Find);
  EXPECT_FALSE(State().Verify);

  fw::Application->UserClickMenu(screen->Anterior1);
  EXPECT_TRUE(State().Find);
  EXPECT_TRUE(State().Verify);
}

TEST_F(CommandsTest, EnteringThePanelWithTheItemsTabInView_LeavesFindAndVerifyEnabledButIdle) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectTab(screen->tshItens);
  EnterPanel();
  EXPECT_TRUE(State().Find);
  EXPECT_TRUE(State().Verify);
  canned.Calls.clear();
  fake.SearchAnswers.push_back(fw::TFakePlatform::TSearchAnswer{"NRSOLICMP", "S000000001"});
  fw::Application->UserClickMenu(screen->mnuVerificar);
  fw::Application->UserClickMenu(screen->mnuProcurar);
  EXPECT_TRUE(canned.Calls.empty());
  EXPECT_EQ(fake.Searches, 0);
}

TEST_F(CommandsTest, TabChange_AppliesTheRuleBothWays) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectTab(screen->tshItens);
  screen->cdsItensGrid->Close();  // nothing re-runs the rule until the next event
  EXPECT_TRUE(State().Find);
  fw::Application->UserSelectTab(screen->tshPadrao);
  fw::Application->UserSelectTab(screen->tshItens);
  EXPECT_EQ(State(), (TState{false, false, false, true}));
}

// ---- find ----

TEST_F(CommandsTest, FindOnTheBranchTab_SearchesTheBranchesAndLoadsTheFoundBranch) {
  ServeFullCascade();
  LeavePanel();
  canned.Calls.clear();
  fake.Clear();
  fake.SearchAnswers.push_back(fw::TFakePlatform::TSearchAnswer{"CDFILIAL", "0002"});
  fw::Application->UserClickMenu(screen->mnuProcurar);
  EXPECT_EQ(fake.Events.front(), "search opened: cdsFilSoliGrid");
  EXPECT_EQ(screen->cdsFilSoliGrid->RecNo(), 2);
  EXPECT_EQ(Methods(), (std::vector<std::string>{"GetItens", "GetDestSolGere"}));
  EXPECT_EQ(Arg("GetItens", "cdFilial"), "0002");
}

TEST_F(CommandsTest, FindOnTheItemsTab_SearchesTheItemsOnlyWhenTheItemsGridHasTheFocus) {
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectTab(screen->tshItens);
  struct {
    fw::TControl* Focus;
    const char* Searched;
  } const cases[] = {{screen->dbgItens, "cdsItensGrid"},
                     {screen->dbgDestSolGere, "cdsDestSolGere"},
                     {screen->pgcPadrao, "cdsDestSolGere"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Focus->Name());
    fw::Application->UserFocus(c.Focus);
    fake.Clear();
    fw::Application->UserClickMenu(screen->mnuProcurar);
    EXPECT_EQ(fake.Events.front(), std::string("search opened: ") + c.Searched);
  }
}

TEST_F(CommandsTest, FindOnAnOpenEmptySet_Searches_OnAClosedSet_DoesNothing) {
  canned.ServeEmpty("GetFilSoliGD");
  LeavePanel();
  screen->sbtProcurarClick(nullptr);
  EXPECT_EQ(fake.Searches, 1);
  EnterPanel();
  screen->sbtProcurarClick(nullptr);
  EXPECT_EQ(fake.Searches, 1);
}

// ---- print ----

TEST_F(CommandsTest, Print_IsEnabledWithTheDataInViewAndLoadsSUP00700EveryTime) {
  EXPECT_FALSE(fw::Application->UserClick(screen->sbtImprimir));
  ServeFullCascade();
  LeavePanel();
  ASSERT_TRUE(screen->sbtImprimir->Enabled());
  fw::Application->UserClick(screen->sbtImprimir);
  fw::Application->UserClick(screen->sbtImprimir);
  EXPECT_EQ(fake.ModulesLoaded, (std::vector<std::string>{"SUP00700", "SUP00700"}));
  EXPECT_EQ(canned.Calls.size(), 3u);  // nothing else happens
  EnterPanel();
  EXPECT_FALSE(screen->sbtImprimir->Enabled());
}

TEST_F(CommandsTest, CtrlA_ReachesTheAutomaticItemAndChangesNothing) {
  ServeFullCascade();
  LeavePanel();
  canned.Calls.clear();
  const TState before = State();
  fw::Application->UserKey(screen->dbgPadrao, 'A', fw::ssCtrl);
  EXPECT_EQ(State(), before);
  EXPECT_TRUE(canned.Calls.empty());
  EXPECT_TRUE(fake.Errors.empty());
  EXPECT_EQ(screen->mnuMenu->FindShortCut(fw::ShortCut('A', fw::ssCtrl)), screen->mnuAutomatico);
}

}  // namespace
}  // namespace request_screen_test
