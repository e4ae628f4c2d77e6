// The item screen's description, read from a screen that is built but not created (no loading),
// where the layout carries behaviour: what is bound to what, what starts disabled, which fields
// the packets must fill.
#include <gtest/gtest.h>

#include "framework/testing/fake_platform.h"
#include "item_screen/cli_cmp09501.h"
#include "protocol/contract.h"

namespace item_screen_test {
namespace {

using Cli_cmp09501::TfrmAcompItens;

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::InitApplication();
    fw::Application->SetPlatform(&platform);
    screen = new TfrmAcompItens(fw::Application);
  }
  void TearDown() override { fw::DoneApplication(); }

  fw::TFakePlatform platform;
  TfrmAcompItens* screen = nullptr;
};

TEST_F(LayoutTest, Window_IsAnOrdinaryWindow_HiddenUntilShownModally) {
  EXPECT_EQ(screen->FormStyle, fw::TFormStyle::fsNormal);
  EXPECT_FALSE(screen->Visible());
  EXPECT_EQ(screen->lblCodTela->Caption(), "CMP09501");
}

TEST_F(LayoutTest, DataSources_ProductsFeedTheUpperGrid_QuotationsTheStandardSource) {
  EXPECT_EQ(screen->dbgPadrao->DataSet(), screen->cdsProduto);
  EXPECT_EQ(screen->dbgCotacao->DataSet(), screen->cdsCotacao);
  EXPECT_EQ(screen->dtsPadrao->DataSet(), screen->cdsCotacao);
  EXPECT_FALSE(screen->dtsPadrao->OnStateChange);
  EXPECT_EQ(screen->dbtNome->DataSource, screen->dtsPadrao);
  EXPECT_EQ(screen->dbtNome->DataField, "NRCOLEPRECO");
  EXPECT_TRUE(screen->dbgCotacao->OnKeyDown);
  EXPECT_TRUE(screen->dbgCotacao->OnKeyPress);

  const unsigned options = fw::dgTitles | fw::dgColumnResize | fw::dgColLines | fw::dgRowLines |
                           fw::dgTabs | fw::dgRowSelect | fw::dgAlwaysShowSelection |
                           fw::dgConfirmDelete | fw::dgCancelOnExit;
  EXPECT_EQ(screen->dbgPadrao->Options, options);
  EXPECT_EQ(screen->dbgCotacao->Options, options);
  EXPECT_EQ(screen->dbgCotacao->Color(), fw::clInfoBk);
  EXPECT_EQ(screen->dbgCotacao->TitleFont.Name, "MS Sans Serif");
  EXPECT_EQ(screen->dbgCotacao->TitleFont.Height, -11);
  EXPECT_FALSE(screen->dbgCotacao->TitleFont.Bold);
}

// The packets fill the data sets by name and type: the fields must be the contract's, in order.
TEST_F(LayoutTest, DataSets_HoldTheContractsFieldsInOrder) {
  struct TCase {
    const char* Method;
    fw::TClientDataSet* DataSet;
  };
  for (const TCase& c :
       {TCase{"GetItemProduto", screen->cdsProduto}, TCase{"GetItemCota", screen->cdsCotacao}}) {
    const auto& expected = service::FindMethod(c.Method)->Fields;
    const auto& fields = c.DataSet->Fields();
    ASSERT_EQ(fields.size(), expected.size()) << c.Method;
    for (size_t i = 0; i < fields.size(); ++i) {
      EXPECT_EQ(fields[i]->FieldName(), expected[i].Name) << c.Method << " " << i;
      EXPECT_EQ(fields[i]->DataType(), expected[i].Type) << expected[i].Name;
      EXPECT_EQ(fields[i]->Size(), expected[i].Size) << expected[i].Name;
      EXPECT_EQ(fields[i]->Name(), c.DataSet->Name() + expected[i].Name);
    }
  }
  for (fw::TField* money :
       {screen->cdsProdutoQTSOLIPROD, screen->cdsProdutoVRCMPANTERIOR, screen->cdsProdutoVRTOTALAF,
        screen->cdsProdutoVRNOTAFISC, screen->cdsCotacaoVRPRECUNIITM})
    EXPECT_EQ(money->DisplayFormat, "###,##0.000") << money->Name();
  EXPECT_TRUE(screen->cdsCotacaoIDSITUCOLETA->OnGetText);
  EXPECT_EQ(screen->cdsProdutoCDARVPROD->EditMask(), "");  // set on activation
}

TEST_F(LayoutTest, Menu_AddsAnInertAutomaticEntry_AndStartsWithEveryCommandDisabled) {
  const auto& items = screen->mnuManutencao->Items();
  const int automatic = screen->mnuManutencao->IndexOf(screen->mnuAutomatico);
  ASSERT_GT(automatic, 0);
  EXPECT_EQ(items[static_cast<size_t>(automatic - 1)], screen->mnuVerificar);
  EXPECT_EQ(items[static_cast<size_t>(automatic + 1)], screen->mnuCancelar);
  EXPECT_EQ(screen->mnuAutomatico->Caption(), "Cadastramento A&utomático");
  EXPECT_EQ(screen->mnuAutomatico->AccessLetter(), 'u');
  EXPECT_EQ(screen->mnuAutomatico->ShortCut(), 16449);
  EXPECT_EQ(screen->mnuMenu->FindShortCut(fw::ShortCut('A', fw::ssCtrl)), screen->mnuAutomatico);
  EXPECT_TRUE(screen->mnuAutomatico->Enabled());
  EXPECT_FALSE(screen->mnuAutomatico->OnClick);

  EXPECT_FALSE(screen->mnuListagem->Enabled());
  EXPECT_FALSE(screen->mnuConfigImpressora->Enabled());
  for (const auto& command : screen->MaintenanceCommands())
    EXPECT_FALSE(command.Item->Enabled()) << command.Item->Name();
}

TEST_F(LayoutTest, MessageList_HasFiveEntries_AndNoBusyCaption) {
  EXPECT_EQ(screen->msgPadrao->Items.size(), 5u);
  EXPECT_EQ(screen->msgPadrao->Msg("Concluida"), "Concluída");
  EXPECT_EQ(screen->msgPadrao->Msg("Andamento"), "Em andamento");
  EXPECT_EQ(screen->msgPadrao->Msg("ProdIniFin_Inv"),
            "Produto inicial deve ser menor ou igual ao produto final.");
  EXPECT_EQ(screen->msgPadrao->Msg("GetFili"), "");
}

TEST_F(LayoutTest, Destroying_TheStoredScreen_ClearsTheReference) {
  Cli_cmp09501::frmAcompItens = screen;
  fw::Application->FreeComponent(screen);
  EXPECT_EQ(Cli_cmp09501::frmAcompItens, nullptr);
}

}  // namespace
}  // namespace item_screen_test
