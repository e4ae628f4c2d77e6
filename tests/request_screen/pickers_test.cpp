// The branch and request pickers, F9, and the product code range.
#include "tests/request_screen/screen_fixture.h"

namespace request_screen_test {
namespace {

namespace unit = Cli_cmp09500;

class PickersTest : public RequestScreenTest {
 protected:
  void PickBranches(std::vector<std::string> codes) {
    fake.PickAnswers.push_back(std::move(codes));
    fw::Application->UserClick(screen->sbtFilSoli);
  }
};

TEST_F(PickersTest, BranchPicker_LoadsTheBranchesAndStoresTheMarkedOnes) {
  canned.ServeText("GetFilSoli", {"CDFILSOLI", "NMFILIAL"}, {{"0001", "Um"}, {"0002", "Dois"}});
  fw::Application->UserClick(screen->rbtListFilSoli);
  PickBranches({"0001", "0002"});
  EXPECT_EQ(Methods(), std::vector<std::string>{"GetFilSoli"});
  EXPECT_EQ(fake.PickerTitles, std::vector<std::string>{"Filial"});
  EXPECT_EQ(unit::stLFilSoli, "'0001','0002'");
  EXPECT_EQ(screen->cdsFilSoli->RecordCount(), 2);
}

TEST_F(PickersTest, BranchPicker_WithInvertedRequestDates_ReportsAndOpensNothing) {
  fw::Application->UserClick(screen->rbtListFilSoli);
  screen->depSolicitacaoIni->SetText("10/03/2024");
  screen->depSolicitacaoFin->SetText("01/03/2024");
  PickBranches({"0001"});
  EXPECT_EQ(LastError(), "Data de solicitação inicial é maior que a final.");
  EXPECT_TRUE(canned.Calls.empty());
  EXPECT_TRUE(fake.PickerTitles.empty());
}

TEST_F(PickersTest, BranchPicker_EmptiesAPickedRequestList_EvenWhenCancelled) {
  fw::Application->UserClick(screen->rbtListFilSoli);
  PickBranches({"0001"});
  fw::Application->UserClick(screen->rbtListSolicitacao);
  fake.PickAnswers.push_back(std::vector<std::string>{"S1"});
  fw::Application->UserClick(screen->sbtSolicita);
  ASSERT_EQ(unit::stLSolicita, "'S1'");

  fake.PickAnswers.push_back(std::nullopt);  // the user cancels the branch picker
  fw::Application->UserClick(screen->sbtFilSoli);
  EXPECT_EQ(unit::stLSolicita, "");
  EXPECT_EQ(unit::stLFilSoli, "'0001'");
}

TEST_F(PickersTest, BranchPicker_WhenTheServiceFails_ShowsNoPickerAndKeepsTheList) {
  fw::Application->UserClick(screen->rbtListFilSoli);
  PickBranches({"0001"});
  canned.ErrorNext("GetFilSoli", "Servidor fora do ar.");
  PickBranches({"0002"});
  EXPECT_EQ(LastError(), "Servidor fora do ar.");
  EXPECT_EQ(fake.PickerTitles.size(), 1u);
  EXPECT_EQ(unit::stLFilSoli, "'0001'");
  EXPECT_FALSE(fake.BusyVisible);
}

TEST_F(PickersTest, RequestPicker_WithBranchesOnTodas_AsksForBranchesAndCallsNothing) {
  fw::Application->UserClick(screen->rbtListSolicitacao);
  fw::Application->UserClick(screen->sbtSolicita);
  EXPECT_EQ(LastError(), "Filial deve ser informada.");
  EXPECT_TRUE(canned.Calls.empty());
  EXPECT_TRUE(fake.PickerTitles.empty());
  EXPECT_EQ(Focused(), "rbtListSolicitacao");  // not moved by the message
}

TEST_F(PickersTest, RequestPicker_SendsTheBranchListWithAnEmptyAllBranchesFlag) {
  fw::Application->UserClick(screen->rbtListFilSoli);
  PickBranches({"0003"});
  fw::Application->UserClick(screen->rbtListSolicitacao);
  screen->depSolicitacaoIni->SetText("01/03/2024");
  screen->depSolicitacaoFin->SetText("31/03/2024");
  fake.PickAnswers.push_back(std::vector<std::string>{"S7"});
  fw::Application->UserClick(screen->sbtSolicita);
  const auto* call = LastCall("GetNrSolicita");
  ASSERT_NE(call, nullptr);
  EXPECT_DOUBLE_EQ(call->Args[0].Date, *fw::TextToDateTime("01/03/2024"));
  EXPECT_DOUBLE_EQ(call->Args[1].Date, *fw::TextToDateTime("31/03/2024"));
  EXPECT_EQ(call->Args[2].Text, "");   // stDtSoli: restricted
  EXPECT_EQ(call->Args[5].Text, "T");  // stDtEntr
  EXPECT_EQ(call->Args[6].Text, "'0003'");
  EXPECT_EQ(call->Args[7].Text, "");
  EXPECT_EQ(fake.PickerTitles.back(), "Solicitação");
  EXPECT_EQ(unit::stLSolicita, "'S7'");
}

TEST_F(PickersTest, F9OnTheListButtons_OpensTheirPickers_WithOrWithoutModifiers) {
  for (fw::TShiftState shift : {0u, fw::ssCtrl, fw::ssShift, fw::ssAlt | fw::ssShift}) {
    SCOPED_TRACE(shift);
    fake.Clear();
    fake.PickAnswers.push_back(std::vector<std::string>{"0001"});
    fw::Application->UserKey(screen->rbtListFilSoli, fw::vk::F9, shift);
    EXPECT_EQ(fake.PickerTitles, std::vector<std::string>{"Filial"});
    fake.PickAnswers.push_back(std::vector<std::string>{"S1"});
    fw::Application->UserKey(screen->rbtListSolicitacao, fw::vk::F9, shift);
    EXPECT_EQ(fake.PickerTitles, (std::vector<std::string>{"Filial", "Solicitação"}));
  }
  // The search buttons are disabled ("Todas" is checked): F9 does not care.
  EXPECT_FALSE(screen->sbtFilSoli->Enabled());
}

TEST_F(PickersTest, OtherKeysOnTheListButtons_OpenNoPicker) {
  fw::Application->UserKey(screen->rbtListFilSoli, fw::vk::F12, 0);
  fw::Application->UserKey(screen->rbtListSolicitacao, fw::vk::Down, 0);
  EXPECT_TRUE(fake.PickerTitles.empty());
  EXPECT_TRUE(canned.Calls.empty());
}

// ---- product codes ----

TEST_F(PickersTest, ProductCodes_CompareAsText_TenBeforeNine) {
  fw::Application->UserType(screen->medCdProdIni, "10");
  fw::Application->UserType(screen->medCdProdFin, "9");
  fw::Application->UserFocus(screen->depEntrIni);
  EXPECT_TRUE(fake.Errors.empty());
  EXPECT_EQ(screen->edtNmProdIni->Text(), "Produto dez");
  EXPECT_EQ(screen->edtNmProdFin->Text(), "Produto nove");
}

TEST_F(PickersTest, ProductCodes_NineThenTen_FailOnTheEdgeBeingLeftAndKeepItsName) {
  fw::Application->UserType(screen->medCdProdIni, "9");
  fw::Application->UserType(screen->medCdProdFin, "10");
  fw::Application->UserFocus(screen->depEntrIni);
  EXPECT_EQ(fake.Errors,
            std::vector<std::string>{"Produto inicial deve ser menor ou igual ao produto final."});
  EXPECT_EQ(Focused(), "medCdProdFin");
  EXPECT_EQ(screen->edtNmProdFin->Text(), "Produto dez");
}

TEST_F(PickersTest, ProductRange_InvertedByChangingTheInitialCode_FailsOnTheInitialEdit) {
  fw::Application->UserType(screen->medCdProdFin, "10");
  fw::Application->UserType(screen->medCdProdIni, "9");
  fw::Application->UserFocus(screen->depEntrIni);
  EXPECT_EQ(LastError(), "Produto inicial deve ser menor ou igual ao produto final.");
  EXPECT_EQ(Focused(), "medCdProdIni");
}

TEST_F(PickersTest, ProductRange_WithBlankFinalCode_NeverFails) {
  fw::Application->UserType(screen->medCdProdIni, "9");
  fw::Application->UserFocus(screen->medCdProdFin);
  fw::Application->UserFocus(screen->depEntrIni);
  EXPECT_TRUE(fake.Errors.empty());
  EXPECT_EQ(screen->edtNmProdFin->Text(), "");
}

TEST_F(PickersTest, UnknownProductCode_IsReportedAndTheFocusReturns) {
  fw::Application->UserType(screen->medCdProdFin, "77");
  fw::Application->UserFocus(screen->depEntrIni);
  EXPECT_EQ(LastError(), "Produto não cadastrado: 77.");
  EXPECT_EQ(Focused(), "medCdProdFin");
  EXPECT_EQ(screen->edtNmProdFin->Text(), "");
}

TEST_F(PickersTest, ChangingACode_ClearsTheNameBesideIt) {
  fw::Application->UserType(screen->medCdProdIni, "10");
  fw::Application->UserFocus(screen->depEntrIni);
  ASSERT_EQ(screen->edtNmProdIni->Text(), "Produto dez");
  screen->medCdProdIni->SetText("9");
  EXPECT_EQ(screen->edtNmProdIni->Text(), "");
}

TEST_F(PickersTest, LookUpButton_FillsTheTreeCodeAndTheName_NotTheInternalCode) {
  fake.LookupAnswers.push_back("P3");
  fw::Application->UserClick(screen->btnProdIni);
  EXPECT_EQ(screen->medCdProdIni->Text(), "01002003");
  EXPECT_EQ(screen->medCdProdIni->EditText(), "01.002.003");
  EXPECT_EQ(screen->edtNmProdIni->Text(), "Parafuso sextavado");
  // Checked like a typed code when the edit is left.
  fw::Application->UserFocus(screen->medCdProdIni);
  fw::Application->UserFocus(screen->depEntrIni);
  EXPECT_TRUE(fake.Errors.empty());
}

TEST_F(PickersTest, ProductQuery_ReadsTheLocalTableInTreeCodeOrder) {
  screen->qryProduto->Open();
  std::vector<std::string> codes;
  for (int row = 0; row < screen->qryProduto->Query()->RecordCount(); ++row) {
    fw::TDataSet::TRowScope scope(screen->qryProduto->Query(), static_cast<size_t>(row));
    codes.push_back(screen->qryProdutoCDARVPROD->AsString());
  }
  EXPECT_EQ(codes, (std::vector<std::string>{"01002003", "10", "9"}));
}

}  // namespace
}  // namespace request_screen_test
