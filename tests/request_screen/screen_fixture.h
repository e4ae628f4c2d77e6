// A request screen opened through the package's entry point, driven through the fake platform and
// answered by a canned tracking service; a small product table in a temporary SQLite file.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "framework/host/config.h"
#include "framework/testing/canned_service.h"
#include "framework/testing/fake_platform.h"
#include "item_screen/cli_cmp09501.h"
#include "module/pkg_cmp09500.h"
#include "protocol/datetime.h"
#include "request_screen/cli_cmp09500.h"

namespace request_screen_test {

using Row = std::vector<std::string>;

inline void ResetModuleState() {
  Cli_cmp09500::Initialization();
  Cli_cmp09500::frmAcompSoli = nullptr;
  Cli_cmp09500::boStCriado = false;
  Cli_cmp09501::stDtEntr.clear();
}

class RequestScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModuleState();
    savedConfig_ = fw::HostConfig();
    fw::HostConfig().ServiceFactory = [this](const std::string&, int, const std::string&) {
      return canned.Connect();
    };
    fw::HostConfig().ProductMask = "00.000.000;0;_";
    CreateProductTable();
    fw::InitApplication();
    fw::Application->SetPlatform(&fake);
    fake.OnModal = [](fw::TForm* form) { form->Close(); };
    IniProc();
    screen = Cli_cmp09500::frmAcompSoli;
    ASSERT_NE(screen, nullptr);
    fake.Clear();
  }

  void TearDown() override {
    fw::DoneApplication();
    fw::HostConfig() = savedConfig_;
    ResetModuleState();
    std::filesystem::remove_all(directory_);
  }

  // ---- canned answers ----
  void ServeBranches(const std::vector<Row>& rows) {
    canned.ServeText("GetFilSoliGD", {"CDFILIAL", "NMFILIAL"}, rows);
  }
  // Rows: STATUS, CDFILLAN, NRSOLICMP, CDDESTSOLI.
  void ServeItems(const std::vector<Row>& rows) {
    canned.ServeText("GetItens", {"STATUS", "CDFILLAN", "NRSOLICMP", "CDDESTSOLI"}, rows);
  }
  // Rows: IDAPROVPRGER, NMOPERADOR.
  void ServeApprovals(const std::vector<Row>& rows) {
    canned.ServeText("GetDestSolGere", {"IDAPROVPRGER", "NMOPERADOR"}, rows);
  }
  // Two branches, two items for any branch, one approval for any item.
  void ServeFullCascade() {
    ServeBranches({{"0001", "Filial Um"}, {"0002", "Filial Dois"}});
    ServeItems({{"A", "0101", "S000000001", "001"}, {"B", "0102", "S000000002", "002"}});
    ServeApprovals({{"S", "Gerente Um"}});
  }

  // ---- user actions ----
  // The focus goes from the filter panel to the branch grid: validation and the query.
  void LeavePanel() { fw::Application->UserFocus(screen->dbgPadrao); }
  void EnterPanel() { fw::Application->UserFocus(screen->panFiltro); }
  void Query() {
    EnterPanel();
    LeavePanel();
  }

  std::vector<std::string> Methods() const {
    std::vector<std::string> names;
    for (const auto& call : canned.Calls) names.push_back(call.Method);
    return names;
  }
  const service::TCannedAppServer::TCall* LastCall(const std::string& method) const {
    for (auto call = canned.Calls.rbegin(); call != canned.Calls.rend(); ++call)
      if (call->Method == method) return &*call;
    return nullptr;
  }
  std::string Arg(const std::string& method, const char* param) const {
    const auto* call = LastCall(method);
    const auto* def = service::FindMethod(method);
    if (!call || !def) return "<no call>";
    return call->Args[service::ParamIndex(*def, param)].Text;
  }
  // What must hold between user actions: with the focus in the filter panel the three result
  // sets are closed, and results on view were queried with flags that agree with the controls.
  void ExpectResultsAgreeWithFocusAndFlags() const {
    const fw::TControl* focused = screen->ActiveControl();
    if (focused && screen->panFiltro->Contains(focused)) {
      EXPECT_FALSE(screen->cdsFilSoliGrid->Active()) << "focus on " << focused->Name();
      EXPECT_FALSE(screen->cdsItensGrid->Active()) << "focus on " << focused->Name();
      EXPECT_FALSE(screen->cdsDestSolGere->Active()) << "focus on " << focused->Name();
    }
    if (!screen->cdsFilSoliGrid->Active()) return;
    auto flag = [](bool unrestricted) { return std::string(unrestricted ? "T" : ""); };
    auto blank = [](const fw::TEdit* edit) { return fw::EmptyString(edit->Text()); };
    EXPECT_EQ(screen->stTCdProd, flag(blank(screen->medCdProdIni) && blank(screen->medCdProdFin)));
    EXPECT_EQ(screen->stDtSoli,
              flag(blank(screen->depSolicitacaoIni) && blank(screen->depSolicitacaoFin)));
    EXPECT_EQ(Cli_cmp09501::stDtEntr, flag(blank(screen->depEntrIni) && blank(screen->depEntrFin)));
    EXPECT_EQ(Cli_cmp09500::stTFilSoli, flag(fw::EmptyString(Cli_cmp09500::stLFilSoli)));
    EXPECT_EQ(Cli_cmp09500::stTSolicita, flag(fw::EmptyString(Cli_cmp09500::stLSolicita)));
  }

  std::string LastError() const { return fake.Errors.empty() ? "" : fake.Errors.back(); }
  std::string Focused() const {
    return screen->ActiveControl() ? screen->ActiveControl()->Name() : "";
  }
  int ModalShows() const {
    return static_cast<int>(std::count_if(fake.Events.begin(), fake.Events.end(), [](auto& e) {
      return e.rfind("form shown modally", 0) == 0;
    }));
  }

  fw::TFakePlatform fake;
  service::TCannedAppServer canned;
  Cli_cmp09500::TfrmAcompSoli* screen = nullptr;

 private:
  void CreateProductTable() {
    directory_ = std::filesystem::temp_directory_path() /
                 ("req_screen_" + std::to_string(::getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(directory_);
    const std::string path = (directory_ / "local.db").string();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* sql =
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
        "CREATE TABLE PRODUTO (CDARVPROD TEXT, CDPRODUTO TEXT, NMPRODUTO TEXT);"
        "INSERT INTO PRODUTO VALUES ('10', 'P10', 'Produto dez');"
        "INSERT INTO PRODUTO VALUES ('9', 'P9', 'Produto nove');"
        "INSERT INTO PRODUTO VALUES ('01002003', 'P3', 'Parafuso sextavado');";
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK);
    fw::TLocalDatabase::Instance().SetPath(path);
  }

  fw::THostConfig savedConfig_;
  std::filesystem::path directory_;
};

}  // namespace request_screen_test
