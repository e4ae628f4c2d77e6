// The filter: first activation, the radio buttons, the date ranges and the list checks.
#include "tests/request_screen/screen_fixture.h"

namespace request_screen_test {
namespace {

using FilterTest = RequestScreenTest;
namespace unit = Cli_cmp09500;

TEST_F(FilterTest, FirstActivation_InitialisesFlagsControlsAndFocus) {
  EXPECT_TRUE(screen->rbtTFilSoli->Checked());
  EXPECT_TRUE(screen->rbtTSolicitacao->Checked());
  EXPECT_FALSE(screen->rbtListFilSoli->Checked());
  EXPECT_FALSE(screen->sbtFilSoli->Enabled());
  EXPECT_FALSE(screen->sbtSolicita->Enabled());
  for (auto* edit : {screen->depSolicitacaoIni, screen->depSolicitacaoFin, screen->depEntrIni,
                     screen->depEntrFin})
    EXPECT_EQ(edit->Text(), "") << edit->Name();
  EXPECT_EQ(unit::stTFilSoli, "T");
  EXPECT_EQ(unit::stLFilSoli, "");
  EXPECT_EQ(unit::stTSolicita, "T");
  EXPECT_EQ(unit::stLSolicita, "");
  EXPECT_EQ(Cli_cmp09501::stDtEntr, "T");
  EXPECT_EQ(screen->stDtSoli, "T");
  EXPECT_EQ(screen->stTCdProd, "T");
  EXPECT_TRUE(unit::boVD);
  EXPECT_FALSE(unit::boPrimVez);
  EXPECT_EQ(Focused(), "panFiltro");
  EXPECT_EQ(screen->medCdProdIni->EditMask(), "00.000.000;0;_");
  EXPECT_EQ(screen->medCdProdFin->EditMask(), "00.000.000;0;_");
  EXPECT_EQ(screen->qryProdutoCDARVPROD->EditMask(), "00.000.000;0;_");
}

TEST_F(FilterTest, LaterActivation_WithoutIniProc_KeepsTheFilterAsTheUserLeftIt) {
  fw::Application->UserClick(screen->rbtListFilSoli);
  screen->depEntrIni->SetText("01/02/2024");
  fw::Application->UserActivate(screen);
  EXPECT_TRUE(screen->rbtListFilSoli->Checked());
  EXPECT_EQ(screen->depEntrIni->Text(), "01/02/2024");
  EXPECT_EQ(unit::stTFilSoli, "");
}

struct RefusedTextCase {
  const char* Edit;
  const char* Text;
  const char* Message;
};

TEST_F(FilterTest, ReinitialisingActivation_WithTheFocusedEditRefusingItsText_RunsEveryStep) {
  const RefusedTextCase cases[] = {
      {"depSolicitacaoIni", "99/99/2024", "Data inválida: 99/99/2024."},
      {"depEntrFin", "31/02/2024", "Data inválida: 31/02/2024."},
      {"medCdProdIni", "77777777", "Produto não cadastrado: 77777777."},
  };
  for (const RefusedTextCase& c : cases) {
    SCOPED_TRACE(c.Edit);
    auto* edit = dynamic_cast<fw::TEdit*>(screen->FindComponent(c.Edit));
    ASSERT_NE(edit, nullptr);
    fw::Application->UserClick(screen->rbtListFilSoli);
    fw::Application->UserClick(screen->rbtListSolicitacao);
    fw::Application->UserType(screen->depEntrIni, "01/03/2024");
    fw::Application->UserType(edit, c.Text);
    ASSERT_EQ(Focused(), c.Edit);
    IniProc();
    fake.Clear();
    fw::Application->UserActivate(screen);

    EXPECT_EQ(fake.Errors, std::vector<std::string>{c.Message});
    EXPECT_FALSE(unit::boPrimVez);
    EXPECT_TRUE(unit::boVD);
    EXPECT_TRUE(screen->rbtTFilSoli->Checked());
    EXPECT_TRUE(screen->rbtTSolicitacao->Checked());
    EXPECT_FALSE(screen->sbtFilSoli->Enabled());
    EXPECT_FALSE(screen->sbtSolicita->Enabled());
    for (auto* date : {screen->depSolicitacaoIni, screen->depSolicitacaoFin, screen->depEntrIni,
                       screen->depEntrFin})
      EXPECT_EQ(date->Text(), "") << date->Name();
    EXPECT_EQ(unit::stTFilSoli, "T");
    EXPECT_EQ(unit::stTSolicita, "T");
    EXPECT_EQ(screen->medCdProdIni->EditMask(), "00.000.000;0;_");
    // The edit's check kept the focus on it, inside the panel.
    EXPECT_EQ(Focused(), c.Edit);
    ExpectResultsAgreeWithFocusAndFlags();
    screen->medCdProdIni->SetText({});
  }
}

TEST_F(FilterTest, RadioClicks_ClearTheListSetTheFlagAndEnableTheSearchButton) {
  fw::Application->UserClick(screen->rbtListFilSoli);
  EXPECT_EQ(unit::stTFilSoli, "");
  EXPECT_TRUE(screen->sbtFilSoli->Enabled());
  unit::stLFilSoli = "'0001'";
  fw::Application->UserClick(screen->rbtTFilSoli);
  EXPECT_EQ(unit::stLFilSoli, "");
  EXPECT_EQ(unit::stTFilSoli, "T");
  EXPECT_FALSE(screen->sbtFilSoli->Enabled());

  fw::Application->UserClick(screen->rbtListSolicitacao);
  EXPECT_EQ(unit::stTSolicita, "");
  EXPECT_TRUE(screen->sbtSolicita->Enabled());
  unit::stLSolicita = "'S1'";
  // Clicking the checked button again is no change: no click event, the list stays.
  fw::Application->UserClick(screen->rbtListSolicitacao);
  EXPECT_EQ(unit::stLSolicita, "'S1'");
  fw::Application->UserClick(screen->rbtTSolicitacao);
  EXPECT_EQ(unit::stLSolicita, "");
  EXPECT_EQ(unit::stTSolicita, "T");
  EXPECT_FALSE(screen->sbtSolicita->Enabled());
}

struct DateCase {
  const char* Initial;
  const char* Final;
  const char* Flag;
  const char* Message;      // empty: passes
  const char* FocusSuffix;  // "Ini" or "Fin" of the range's edits; empty when it passes
};

// One range at a time, the other blank.
const DateCase kRangeOutcomes[] = {
    {"", "", "T", "", ""},
    {"10/03/2024", "", "", "final", "Fin"},
    {"", "10/03/2024", "", "inicial", "Ini"},
    {"10/03/2024", "09/03/2024", "", "maior", "Ini"},
    {"10/03/2024", "10/03/2024", "", "", ""},
    {"10/03/2024", "11/03/2024", "", "", ""},
    // A blank initial date is missing whatever the final date, down to the edit's first day.
    {"", "01/01/1800", "", "inicial", "Ini"},
    {"", "01/01/0001", "", "inicial", "Ini"},
    {"01/01/0001", "", "", "final", "Fin"},
    {"01/01/0001", "01/01/0001", "", "", ""},
};

TEST_F(FilterTest, LeavingPanel_WithEachRequestDateRange_GivesTheTableOutcome) {
  const std::map<std::string, std::string> texts = {
      {"final", "A data final de solicitação deve ser informada."},
      {"inicial", "A data inicial de solicitação deve ser informada."},
      {"maior", "Data de solicitação inicial é maior que a final."}};
  for (const DateCase& c : kRangeOutcomes) {
    SCOPED_TRACE(std::string(c.Initial) + " - " + c.Final);
    EnterPanel();
    fake.Clear();
    canned.Calls.clear();
    screen->depSolicitacaoIni->SetText(c.Initial);
    screen->depSolicitacaoFin->SetText(c.Final);
    LeavePanel();
    EXPECT_EQ(screen->stDtSoli, c.Flag);
    if (*c.Message) {
      EXPECT_EQ(fake.Errors, std::vector<std::string>{texts.at(c.Message)});
      EXPECT_EQ(Focused(), std::string("depSolicitacao") + c.FocusSuffix);
      EXPECT_FALSE(unit::boVD);
      EXPECT_TRUE(canned.Calls.empty());
    } else {
      EXPECT_TRUE(fake.Errors.empty());
      EXPECT_TRUE(unit::boVD);
      EXPECT_EQ(Methods(), std::vector<std::string>{"GetFilSoliGD"});
    }
  }
}

TEST_F(FilterTest, LeavingPanel_WithEachDeliveryDateRange_GivesTheTableOutcome) {
  const std::map<std::string, std::string> texts = {
      {"final", "A data final de entrega deve ser informada."},
      {"inicial", "A data inicial de entrega deve ser informada."},
      {"maior", "Data de entrega inicial é maior que a final."}};
  for (const DateCase& c : kRangeOutcomes) {
    SCOPED_TRACE(std::string(c.Initial) + " - " + c.Final);
    EnterPanel();
    fake.Clear();
    screen->depEntrIni->SetText(c.Initial);
    screen->depEntrFin->SetText(c.Final);
    LeavePanel();
    EXPECT_EQ(Cli_cmp09501::stDtEntr, c.Flag);
    if (*c.Message) {
      EXPECT_EQ(fake.Errors, std::vector<std::string>{texts.at(c.Message)});
      EXPECT_EQ(Focused(), std::string("depEntr") + c.FocusSuffix);
    } else {
      EXPECT_TRUE(fake.Errors.empty());
    }
  }
}

TEST_F(FilterTest, LeavingPanel_WithRequestAndDeliveryErrors_ShowsOnlyTheRequestDateMessage) {
  screen->depSolicitacaoIni->SetText("10/03/2024");
  screen->depEntrIni->SetText("10/03/2024");
  screen->depEntrFin->SetText("01/03/2024");
  LeavePanel();
  EXPECT_EQ(fake.Errors,
            std::vector<std::string>{"A data final de solicitação deve ser informada."});
  EXPECT_EQ(Focused(), "depSolicitacaoFin");
}

TEST_F(FilterTest, LeavingPanel_WithDateErrorAndMissingList_ShowsOnlyTheDateMessage) {
  fw::Application->UserClick(screen->rbtListFilSoli);
  screen->depEntrFin->SetText("10/03/2024");
  LeavePanel();
  EXPECT_EQ(fake.Errors, std::vector<std::string>{"A data inicial de entrega deve ser informada."});
  EXPECT_EQ(Focused(), "depEntrIni");
}

TEST_F(FilterTest, LeavingPanel_WithBothListsEmpty_AsksForBranchesThenForRequests) {
  fw::Application->UserClick(screen->rbtListFilSoli);
  fw::Application->UserClick(screen->rbtListSolicitacao);
  LeavePanel();
  EXPECT_EQ(LastError(), "Filial deve ser informada.");
  EXPECT_EQ(Focused(), "rbtListFilSoli");
  EXPECT_TRUE(canned.Calls.empty());

  unit::stLFilSoli = "'0001'";
  LeavePanel();
  EXPECT_EQ(LastError(), "Solicitação deve ser informada.");
  EXPECT_EQ(Focused(), "rbtListSolicitacao");
  EXPECT_TRUE(canned.Calls.empty());
  EXPECT_FALSE(unit::boVD);
}

TEST_F(FilterTest, FailedValidation_StillRecomputesTheFlagsFromTheControls) {
  fw::Application->UserClick(screen->rbtListFilSoli);  // flag empty, list empty
  screen->medCdProdIni->SetText("10");
  screen->depEntrIni->SetText("05/03/2024");
  screen->depSolicitacaoFin->SetText("05/03/2024");
  LeavePanel();
  EXPECT_EQ(LastError(), "A data inicial de solicitação deve ser informada.");
  EXPECT_FALSE(unit::boVD);
  EXPECT_EQ(unit::stTFilSoli, "T");  // from the empty list, not from the radio button
  EXPECT_EQ(unit::stTSolicita, "T");
  EXPECT_EQ(screen->stTCdProd, "");
  EXPECT_EQ(screen->stDtSoli, "");
  EXPECT_EQ(Cli_cmp09501::stDtEntr, "");
}

TEST_F(FilterTest, EmptyList_WhenTheBranchCursorMoves_IsSentAsUnrestricted) {
  ServeFullCascade();
  Query();
  screen->rbtListFilSoli->SetChecked(true);
  screen->rbtListSolicitacao->SetChecked(true);
  fake.Clear();
  fw::Application->UserSelectRow(screen->dbgPadrao, 1);
  EXPECT_TRUE(fake.Errors.empty());
  EXPECT_EQ(unit::stTFilSoli, "T");
  EXPECT_EQ(Arg("GetItens", "stTSolicita"), "T");
  EXPECT_EQ(Arg("GetItens", "cdFilial"), "0002");
}

TEST_F(FilterTest, ProductCodeInEitherEdit_ClearsTheProductFlagAtTheNextValidation) {
  screen->medCdProdFin->SetText("9");
  LeavePanel();
  EXPECT_EQ(screen->stTCdProd, "");
  EXPECT_EQ(Arg("GetFilSoliGD", "stTCdProd"), "");
  EnterPanel();
  screen->medCdProdFin->SetText("");
  LeavePanel();
  EXPECT_EQ(screen->stTCdProd, "T");
}

TEST_F(FilterTest, LeavingADateEdit_WithAnImpossibleDate_ReportsItAndKeepsTheFocus) {
  fw::Application->UserType(screen->depSolicitacaoIni, "31/02/2024");
  fw::Application->UserFocus(screen->depSolicitacaoFin);
  EXPECT_EQ(LastError(), "Data inválida: 31/02/2024.");
  EXPECT_EQ(Focused(), "depSolicitacaoIni");
}

TEST_F(FilterTest, EnteringThePanel_ClosesTheThreeResultSets) {
  ServeFullCascade();
  Query();
  ASSERT_TRUE(screen->cdsDestSolGere->Active());
  fw::Application->UserFocus(screen->depEntrFin);
  EXPECT_FALSE(screen->cdsFilSoliGrid->Active());
  EXPECT_FALSE(screen->cdsItensGrid->Active());
  EXPECT_FALSE(screen->cdsDestSolGere->Active());
  // The user's chosen control still gets the focus.
  EXPECT_EQ(Focused(), "depEntrFin");
}

}  // namespace
}  // namespace request_screen_test
