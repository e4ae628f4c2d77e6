// The standard grid screen: name binding, paired commands, the two further controls, close action.
#include <gtest/gtest.h>

#include "framework/host/padrao_grid.h"
#include "framework/testing/fake_platform.h"

namespace fw {
namespace {

class TScreen : public TfrmPadraoGrid {
 public:
  explicit TScreen(TComponent* owner) : TfrmPadraoGrid(owner, "frmTela") {
    cds = Create<TClientDataSet>("cds");
    cds->AddField("cdsCOD", "CDFILIAL", TFieldType::ftString, 4);
    dtsPadrao->SetDataSet(cds);
  }
  void sbtVerificarClick(TComponent*) override { ++verifications; }
  TClientDataSet* cds;
  int verifications = 0;
};

class PadraoGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitApplication();
    Application->SetPlatform(&platform);
    Application->CreateForm(screen);
    screen->Show();
  }
  void TearDown() override { DoneApplication(); }
  void Load(int rows) {
    TDataPacket packet({{"CDFILIAL", TFieldType::ftString, 4}});
    for (int i = 0; i < rows; ++i) packet.Columns()[0].AppendString("000" + std::to_string(i));
    screen->cds->SetData(std::move(packet));
  }
  TFakePlatform platform;
  TScreen* screen = nullptr;
};

TEST_F(PadraoGridTest, OverriddenHandler_TakesTheBindingOfMenuAndButton) {
  screen->mnuVerificar->SetEnabled(true);
  screen->CopyCommandStates();
  Application->UserClickMenu(screen->mnuVerificar);
  Application->UserClick(screen->sbtVerificar);
  EXPECT_EQ(screen->verifications, 2);
  screen->mnuVerificar->SetEnabled(false);
  screen->CopyCommandStates();
  EXPECT_FALSE(Application->UserClick(screen->sbtVerificar));
  EXPECT_EQ(screen->verifications, 2);
}

TEST_F(PadraoGridTest, BaseStateChange_FollowsRowsAndBrowseState) {
  Load(0);
  EXPECT_FALSE(screen->mnuProcurar->Enabled());
  EXPECT_FALSE(screen->DataDependentControl()->Enabled());
  EXPECT_TRUE(screen->BrowseDependentControl()->Enabled());
  Load(2);
  EXPECT_TRUE(screen->mnuProcurar->Enabled());
  EXPECT_TRUE(screen->sbtProcurar->Enabled());
  EXPECT_TRUE(screen->DataDependentControl()->Enabled());
  screen->cds->Close();
  EXPECT_FALSE(screen->sbtVerificar->Enabled());
  EXPECT_FALSE(screen->BrowseDependentControl()->Enabled());
}

TEST_F(PadraoGridTest, Anterior_MovesToPreviousRecord) {
  Load(3);
  screen->cds->Last();
  Application->UserClickMenu(screen->Anterior1);
  EXPECT_EQ(screen->cds->RecNo(), 2);
}

TEST_F(PadraoGridTest, Ordenar_OffersTheGridsColumns_AndSortsByTheUsersChoiceUpToThree) {
  screen->dbgPadrao->Columns = {{"CDFILIAL", "Filial", -1}};
  Load(3);
  screen->cds->MoveTo(1);  // 0001
  platform.SortAnswers.push_back(std::vector<TIndexField>{{"CDFILIAL", true}});
  ASSERT_TRUE(Application->UserClick(screen->sbtOrdenar));
  ASSERT_EQ(1u, platform.SortColumnsOffered.size());
  EXPECT_EQ("Filial", platform.SortColumnsOffered[0].Title);
  EXPECT_EQ((std::vector<TIndexField>{{"CDFILIAL", true}}), screen->cds->IndexFields());
  EXPECT_EQ("0002", screen->dbgPadrao->CellText(0, 0));
  EXPECT_EQ("0001", screen->cds->FieldByName("CDFILIAL")->AsString()) << "the record stays";
  EXPECT_EQ(2, screen->cds->RecNo());

  // Cancelled: nothing changes. Empty: the service's order.
  Application->UserClick(screen->sbtOrdenar);
  EXPECT_EQ((std::vector<TIndexField>{{"CDFILIAL", true}}), screen->cds->IndexFields());
  platform.SortAnswers.push_back(std::vector<TIndexField>{});
  Application->UserClick(screen->sbtOrdenar);
  EXPECT_TRUE(screen->cds->IndexFields().empty());
  EXPECT_EQ("0000", screen->dbgPadrao->CellText(0, 0));
}

TEST_F(PadraoGridTest, Closing_ReleasesTheScreen) {
  Application->UserClick(screen->sbtFechar);
  EXPECT_EQ(Application->FindForm("frmTela"), nullptr);
}

}  // namespace
}  // namespace fw
