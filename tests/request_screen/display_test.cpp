// Status and approval texts.
#include "tests/request_screen/screen_fixture.h"

#include "protocol/contract.h"

namespace request_screen_test {
namespace {

using DisplayTest = RequestScreenTest;

// A packet of the method's fields whose first column holds the given codes (nullopt: null).
fw::TDataPacket CodesPacket(const char* method,
                            const std::vector<std::optional<std::string>>& codes) {
  fw::TDataPacket packet = service::EmptyPacket(*service::FindMethod(method));
  for (size_t column = 0; column < packet.Columns().size(); ++column) {
    for (const auto& code : codes) {
      if (column == 0 && code)
        packet.Columns()[column].AppendString(*code);
      else
        packet.Columns()[column].AppendNull();
    }
  }
  return packet;
}

struct TextCase {
  std::optional<std::string> Code;
  const char* Shown;
};

TEST_F(DisplayTest, StatusColumn_ShowsTheTextOfEachCodeAndNothingForOthers) {
  const std::vector<TextCase> cases = {
      {"A", "Aguardando Aprovação"},
      {"B", "Aguardando Cotação"},
      {"C", "Cotado"},
      {"D", "Em Aberto"},
      {"7", ""},  // the "EDI" entry has no text
      {"5", "Cancelada"},
      {"4", "Encerrada"},
      {"3", "Baixa Manual"},
      {"2", "Baixa Total"},
      {"1", "Baixa Parcial"},
      {"", ""},
      {"6", ""},
      {"a", ""},
      {std::nullopt, ""},
      {"AB", ""},
  };
  std::vector<std::optional<std::string>> codes;
  for (const auto& c : cases) codes.push_back(c.Code);
  ServeBranches({{"0001", "Filial Um"}});
  canned.Serve("GetItens", CodesPacket("GetItens", codes));
  LeavePanel();
  ASSERT_EQ(screen->dbgItens->RowCount(), static_cast<int>(cases.size()));
  for (size_t row = 0; row < cases.size(); ++row) {
    SCOPED_TRACE(cases[row].Code.value_or("<null>"));
    EXPECT_EQ(screen->dbgItens->CellText(static_cast<int>(row), 0), cases[row].Shown);
    fw::TDataSet::TRowScope scope(screen->cdsItensGrid, row);
    // The stored code is untouched; the edit text is the same translation.
    EXPECT_EQ(screen->cdsItensGridSTATUS->AsString(), cases[row].Code.value_or(""));
    EXPECT_EQ(screen->cdsItensGridSTATUS->Text(), cases[row].Shown);
  }
}

TEST_F(DisplayTest, ApprovalColumn_ShowsAprovadaOnlyForUpperCaseS) {
  const std::vector<TextCase> cases = {{"S", "Aprovada"},
                                       {"N", "Não aprovada"},
                                       {"s", "Não aprovada"},
                                       {"", "Não aprovada"},
                                       {std::nullopt, "Não aprovada"}};
  std::vector<std::optional<std::string>> codes;
  for (const auto& c : cases) codes.push_back(c.Code);
  ServeBranches({{"0001", "Filial Um"}});
  ServeItems({{"A", "0101", "S000000001", "001"}});
  canned.Serve("GetDestSolGere", CodesPacket("GetDestSolGere", codes));
  LeavePanel();
  ASSERT_EQ(screen->dbgDestSolGere->RowCount(), static_cast<int>(cases.size()));
  for (size_t row = 0; row < cases.size(); ++row) {
    SCOPED_TRACE(cases[row].Code.value_or("<null>"));
    EXPECT_EQ(screen->dbgDestSolGere->CellText(static_cast<int>(row), 0), cases[row].Shown);
  }
}

TEST_F(DisplayTest, ItemsGrid_ShowsOperatorCodeQuantitiesAndDatesAsStored) {
  ServeBranches({{"0001", "Filial Um"}});
  canned.ServeText(
      "GetItens",
      {"STATUS", "CDOPERAPRO", "QTSOLIPROD", "QTEFETENTRAF", "DTEMISSAO", "DTHRLANCSOL"},
      {{"A", "OPER01", "1234.5", "12.5", "05/03/2024", "05/03/2024 14:07:09"}});
  LeavePanel();
  const fw::TDBGrid* grid = screen->dbgItens;
  EXPECT_EQ(grid->CellText(0, grid->ColumnIndex("CDOPERAPRO")), "OPER01");
  EXPECT_EQ(grid->CellText(0, grid->ColumnIndex("QTSOLIPROD")), "1.234,500");
  EXPECT_EQ(grid->CellText(0, grid->ColumnIndex("QTEFETENTRAF")), "12,500");
  EXPECT_EQ(grid->CellText(0, grid->ColumnIndex("DTEMISSAO")), "05/03/2024");
  EXPECT_EQ(grid->CellText(0, grid->ColumnIndex("DTHRLANCSOL")), "05/03/2024 14:07:09");
  EXPECT_EQ(grid->CellText(0, grid->ColumnIndex("DTPROGENTAF")), "");
}

TEST_F(DisplayTest, BranchName_FollowsTheBranchCursorOnBothTabs) {
  EXPECT_EQ(screen->dbtNome->Text(), "");
  ServeFullCascade();
  LeavePanel();
  fw::Application->UserSelectRow(screen->dbgPadrao, 1);
  fw::Application->UserSelectTab(screen->tshItens);
  EXPECT_EQ(screen->dbtNome->Text(), "Filial Dois");
  EnterPanel();
  EXPECT_EQ(screen->dbtNome->Text(), "");
}

}  // namespace
}  // namespace request_screen_test
