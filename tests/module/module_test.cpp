// The package's entry points and the request screen's life cycle.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "framework/host/config.h"
#include "framework/testing/canned_service.h"
#include "framework/testing/fake_platform.h"
#include "item_screen/cli_cmp09501.h"
#include "module/pkg_cmp09500.h"
#include "request_screen/cli_cmp09500.h"

namespace {

namespace unit = Cli_cmp09500;

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedConfig_ = fw::HostConfig();
    fw::HostConfig().ServerHost = "servidor.local";
    fw::HostConfig().ServerPort = 9123;
    fw::HostConfig().ServiceFactory = [this](const std::string& host, int port,
                                             const std::string& name) {
      connects.push_back(host + ":" + std::to_string(port) + "/" + name);
      return canned.Connect();
    };
    Initialize();
    unit::frmAcompSoli = nullptr;
    unit::boStCriado = false;
    fw::InitApplication();
    fw::Application->SetPlatform(&fake);
  }
  void TearDown() override {
    fw::DoneApplication();
    fw::HostConfig() = savedConfig_;
  }
  int FormsShown() const {
    return static_cast<int>(std::count_if(fake.Events.begin(), fake.Events.end(), [](auto& e) {
      return e == "form shown: Acompanhamento da Solicitação";
    }));
  }

  fw::TFakePlatform fake;
  service::TCannedAppServer canned;
  std::vector<std::string> connects;

 private:
  fw::THostConfig savedConfig_;
};

TEST_F(ModuleTest, Package_ExportsItsEntryPointsByName) {
  void* self = dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(self, nullptr);
  for (const char* name : {"IniProc", "CriaAcompSoli", "CriaAcompItens", "Initialize", "Finalize",
                           "GetPackageInfoTable"})
    EXPECT_NE(dlsym(self, name), nullptr) << name;
  dlclose(self);
  EXPECT_STREQ(GetPackageInfoTable()->Name, "PKG_CMP09500");
  EXPECT_EQ(GetPackageInfoTable()->UnitCount, 3);
}

TEST_F(ModuleTest, IniProc_CreatesConnectsShowsAndInitialisesTheScreen) {
  IniProc();
  ASSERT_NE(unit::frmAcompSoli, nullptr);
  EXPECT_TRUE(unit::boStCriado);
  EXPECT_FALSE(unit::boPrimVez);  // the first activation consumed it
  EXPECT_TRUE(unit::frmAcompSoli->rbtTFilSoli->Checked());
  EXPECT_EQ(connects, std::vector<std::string>{"servidor.local:9123/CMP09500.rdmAcompSoli"});
  EXPECT_TRUE(unit::frmAcompSoli->netAcompSoli->Connected());
  EXPECT_EQ(FormsShown(), 1);
  EXPECT_EQ(fake.Cursors,
            (std::vector<fw::TCursor>{fw::TCursor::crHourGlass, fw::TCursor::crDefault}));
  EXPECT_EQ(fw::Application->ActiveForm(), unit::frmAcompSoli);
}

TEST_F(ModuleTest, SecondCriaAcompSoli_CreatesNothingAndBringsTheScreenToTheFront) {
  IniProc();
  auto* first = unit::frmAcompSoli;
  CriaAcompSoli();
  EXPECT_EQ(unit::frmAcompSoli, first);
  EXPECT_EQ(fw::Application->Forms().size(), 1u);
  EXPECT_EQ(connects.size(), 1u);
  EXPECT_EQ(FormsShown(), 2);
}

TEST_F(ModuleTest, IniProcWhileOpen_ReinitialisesTheFilterAtTheNextActivation) {
  IniProc();
  auto* screen = unit::frmAcompSoli;
  fw::Application->UserClick(screen->rbtListFilSoli);
  unit::stLFilSoli = "'0001'";
  screen->medCdProdIni->SetText("10");
  IniProc();
  EXPECT_TRUE(unit::boPrimVez);
  EXPECT_EQ(unit::frmAcompSoli, screen);
  fw::Application->UserActivate(screen);
  EXPECT_FALSE(unit::boPrimVez);
  EXPECT_TRUE(screen->rbtTFilSoli->Checked());
  EXPECT_EQ(unit::stLFilSoli, "");
  EXPECT_EQ(unit::stTFilSoli, "T");
  EXPECT_FALSE(screen->sbtFilSoli->Enabled());
  EXPECT_EQ(screen->medCdProdIni->Text(), "10");  // the product codes are kept
}

TEST_F(ModuleTest, CloseThenCriaAcompSoli_CreatesAFreshUninitialisedScreenWithAFreshConnection) {
  IniProc();
  auto* first = unit::frmAcompSoli;
  fw::Application->UserClick(first->rbtListSolicitacao);
  first->depEntrIni->SetText("01/03/2024");
  first->depEntrFin->SetText("31/03/2024");
  fw::Application->UserFocus(first->dbgPadrao);  // a validation: stDtEntr empty
  fw::Application->UserClose(first);
  EXPECT_FALSE(unit::boStCriado);
  EXPECT_EQ(unit::frmAcompSoli, nullptr);  // released with the close
  EXPECT_TRUE(fw::Application->Forms().empty());

  CriaAcompSoli();
  auto* second = unit::frmAcompSoli;
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(connects.size(), 2u);
  EXPECT_TRUE(second->netAcompSoli->Connected());
  EXPECT_EQ(second->netAcompSoli->Host, "servidor.local");
  EXPECT_EQ(second->netAcompSoli->Port, 9123);
  // Not initialised: controls as stored, the module-level state as the last screen left it.
  EXPECT_FALSE(second->rbtTFilSoli->Checked());
  EXPECT_FALSE(second->rbtListSolicitacao->Checked());
  EXPECT_TRUE(second->sbtFilSoli->Enabled());
  EXPECT_TRUE(second->sbtSolicita->Enabled());
  EXPECT_EQ(second->stDtSoli, "");
  EXPECT_EQ(Cli_cmp09501::stDtEntr, "");
  EXPECT_EQ(unit::stTSolicita, "T");
}

TEST_F(ModuleTest, ClosingTheScreen_DisconnectsIt) {
  IniProc();
  fw::TNetConnection* connection = unit::frmAcompSoli->netAcompSoli;
  fw::TCloseAction action = fw::TCloseAction::caHide;
  unit::frmAcompSoli->FormClose(unit::frmAcompSoli, action);
  EXPECT_FALSE(connection->Connected());
  EXPECT_EQ(action, fw::TCloseAction::caFree);
}

TEST_F(ModuleTest, ScreenFreedWithTheApplication_IsCreatedAgainByTheNextEntry) {
  IniProc();
  fw::DoneApplication();
  EXPECT_EQ(unit::frmAcompSoli, nullptr);
  EXPECT_FALSE(unit::boStCriado);
  fw::InitApplication();
  fw::Application->SetPlatform(&fake);
  CriaAcompSoli();
  EXPECT_NE(unit::frmAcompSoli, nullptr);
}

TEST_F(ModuleTest, Finalize_ReleasesTheScreenAndTheFilterStrings) {
  IniProc();
  unit::stLFilSoli = "'0001'";
  Cli_cmp09501::stDtEntr = "T";
  Finalize();
  EXPECT_EQ(unit::frmAcompSoli, nullptr);
  EXPECT_TRUE(fw::Application->Forms().empty());
  EXPECT_EQ(unit::stLFilSoli, "");
  EXPECT_EQ(unit::stTFilSoli, "");
  EXPECT_EQ(Cli_cmp09501::stDtEntr, "");
}

TEST_F(ModuleTest, CriaAcompItens_OpensTheItemScreenModallyAndRestoresTheCursorAfterwards) {
  IniProc();
  fake.Clear();
  std::vector<fw::TCursor> cursorsWhileOpen;
  fake.OnModal = [&](fw::TForm* form) {
    cursorsWhileOpen = fake.Cursors;
    form->Close();
  };
  CriaAcompItens();
  EXPECT_EQ(cursorsWhileOpen, std::vector<fw::TCursor>{fw::TCursor::crHourGlass});
  EXPECT_EQ(fake.Cursors.back(), fw::TCursor::crDefault);
}

}  // namespace
