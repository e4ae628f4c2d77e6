// The screen description where a slip would show: columns, fields against the service contract,
// messages, the query's statements and the bands.
#include "tests/request_screen/screen_fixture.h"

#include "protocol/contract.h"

namespace request_screen_test {
namespace {

using LayoutTest = RequestScreenTest;

struct ColumnCase {
  const char* Title;
  int Width;  // -1: the field's default width
};

void ExpectColumns(const fw::TDBGrid* grid, const std::vector<ColumnCase>& expected) {
  ASSERT_EQ(grid->ColumnCount(), static_cast<int>(expected.size()));
  for (int i = 0; i < grid->ColumnCount(); ++i) {
    SCOPED_TRACE(grid->Columns[i].FieldName);
    ASSERT_NE(grid->ColumnField(i), nullptr);
    EXPECT_EQ(grid->ColumnTitle(i), expected[i].Title);
    if (expected[i].Width >= 0) {
      EXPECT_EQ(grid->ColumnWidth(i), expected[i].Width);
    } else {
      EXPECT_EQ(grid->Columns[i].Width, -1);
    }
  }
}

TEST_F(LayoutTest, ItemsGrid_ListsItsSixteenColumnsWithTitlesAndWidths) {
  ExpectColumns(screen->dbgItens, {{"Status", 125},
                                   {"Lançamento", -1},
                                   {"Nº Solicitação", -1},
                                   {"Dt. Entrega Solicitação", 70},
                                   {"Solicitante", 139},
                                   {"Dt. Inclusão", 60},
                                   {"Destino", 94},
                                   {"Nº Compra", -1},
                                   {"Dt. Concl. Cot.", 83},
                                   {"Nº AF", -1},
                                   {"Dt. Lanç. AF", 72},
                                   {"Dt. Entrega AF", -1},
                                   {"Quantidade AF", -1},
                                   {"Qt. de Entrega", -1},
                                   {"Data Lançamento NF", -1},
                                   {"Responsável Lanç. NF", -1}});
  // Column titles do not relabel the fields.
  EXPECT_EQ(screen->cdsItensGridQTSOLIPROD->DisplayLabel(), "Quantidade");
  EXPECT_EQ(screen->cdsItensGridDTPROGENTR->DisplayLabel(), "Entrega");
  EXPECT_EQ(screen->cdsItensGridDTEMISSAO->DisplayLabel(), "DTEMISSAO");
  EXPECT_EQ(screen->cdsItensGridDTPROGENTAF->DisplayLabel(), "DTPROGENTAF");
  EXPECT_FALSE(screen->cdsItensGridSTATUS->Visible);  // listed anyway
  EXPECT_EQ(screen->dbgItens->Options & fw::dgRowSelect, 0u);
}

TEST_F(LayoutTest, BranchAndApprovalGrids_ListTheirColumns) {
  ExpectColumns(screen->dbgPadrao, {{"Código", 60}, {"Nome", 512}});
  ExpectColumns(screen->dbgDestSolGere,
                {{"Aprovação", 143}, {"Gerente", 282}, {"Dt. Aprovação/Reprovação", -1}});
  EXPECT_NE(screen->dbgPadrao->Options & fw::dgRowSelect, 0u);
  EXPECT_EQ(screen->dbgDestSolGere->Options & fw::dgAlwaysShowSelection, 0u);
}

TEST_F(LayoutTest, EveryResultDataSet_HasTheFieldsOfItsServiceMethodInOrder) {
  for (const auto& method : service::Methods()) {
    auto* dataSet = dynamic_cast<fw::TClientDataSet*>(screen->FindComponent(method.DataSet));
    if (!dataSet) continue;  // the item screen's data sets
    SCOPED_TRACE(method.Name);
    ASSERT_EQ(dataSet->Fields().size(), method.Fields.size());
    for (size_t i = 0; i < method.Fields.size(); ++i) {
      EXPECT_EQ(dataSet->Fields()[i]->FieldName(), method.Fields[i].Name);
      EXPECT_EQ(dataSet->Fields()[i]->DataType(), method.Fields[i].Type);
      EXPECT_EQ(dataSet->Fields()[i]->Size(), method.Fields[i].Size);
      EXPECT_EQ(dataSet->Fields()[i]->Name(), std::string(method.DataSet) + method.Fields[i].Name);
    }
  }
}

TEST_F(LayoutTest, MessageList_HasItsEntriesInOrderWithEDIBare) {
  const auto& items = screen->msgPadrao->Items;
  ASSERT_EQ(items.size(), 24u);
  EXPECT_EQ(items.front(),
            "ProdIniFin_Inv|Produto inicial deve ser menor ou igual ao produto final.");
  EXPECT_EQ(items[9], "Filial|Filial");
  EXPECT_EQ(items.back(), "EDI");
  EXPECT_EQ(screen->msgPadrao->Msg("Reprovada"), screen->msgPadrao->Msg("Nao_Aprovada"));
  EXPECT_EQ(screen->msgPadrao->Msg("GetFili"), "");
}

TEST_F(LayoutTest, ProductQuery_StoresItsStatementsLineByLine) {
  const std::vector<std::string> dialect = {"SELECT",       "   CDARVPROD,", "   CDPRODUTO,",
                                            "   NMPRODUTO", "FROM",          "   PRODUTO",
                                            "ORDER BY",     "    CDARVPROD"};
  EXPECT_EQ(screen->qryProduto->SQL,
            (std::vector<std::string>{"SELECT CDARVPROD, CDPRODUTO, NMPRODUTO", "FROM PRODUTO",
                                      "ORDER BY CDARVPROD"}));
  EXPECT_EQ(screen->qryProduto->SQL_ORACLE, dialect);
  EXPECT_EQ(screen->qryProduto->SQL_MSSQL, dialect);
  EXPECT_EQ(screen->qryProduto->SQL_IB, dialect);
  EXPECT_FALSE(screen->qryProduto->Active());
  EXPECT_EQ(screen->dtsProduto->DataSet(), screen->qryProduto->Query());
  EXPECT_EQ(screen->dstVdProduto->DataSet(), screen->qryVdProduto->Query());
}

TEST_F(LayoutTest, Bands_StackToolbarFilterPagesAndNavigator) {
  EXPECT_EQ(screen->panMenu->Height(), 28);
  EXPECT_EQ(screen->panFiltro->Top(), 28);
  EXPECT_EQ(screen->panFiltro->Height(), 85);
  EXPECT_EQ(screen->pgcPadrao->Top(), 28 + 85);
  EXPECT_EQ(screen->pgcPadrao->Top() + screen->pgcPadrao->Height(), 450);
  EXPECT_EQ(screen->panNavigator->Top(), 450);
  std::vector<std::string> order;
  for (auto* box : screen->panFiltro->TabOrdered()) order.push_back(box->Name());
  EXPECT_EQ(order, (std::vector<std::string>{"grbDtSoli", "grbDtEntr", "grbFilSoli",
                                             "grbSolicitacao", "grbProduto"}));
  std::vector<std::string> pages;
  for (auto* page : screen->pgcPadrao->Pages()) pages.push_back(page->Caption());
  EXPECT_EQ(pages, (std::vector<std::string>{"Filial Solicitante", "Itens"}));
  const auto& menu = screen->mnuManutencao->Items();
  EXPECT_EQ(menu[screen->mnuManutencao->IndexOf(screen->mnuVerificar) + 1], screen->mnuAutomatico);
  EXPECT_EQ(screen->mnuAutomatico->AccessLetter(), 'u');
}

}  // namespace
}  // namespace request_screen_test
