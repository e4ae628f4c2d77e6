// A request screen with one query run against a canned tracking service, from which the item
// screen is opened the way the request screen opens it: inside a user event, modally, with the
// test's steps running while it is shown.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/host/config.h"
#include "framework/testing/canned_service.h"
#include "framework/testing/fake_platform.h"
#include "item_screen/cli_cmp09501.h"
#include "protocol/datetime.h"
#include "request_screen/cli_cmp09500.h"

namespace item_screen_test {

using Cli_cmp09501::TfrmAcompItens;
using TCall = service::TCannedAppServer::TCall;

// The fake front end, also noting which form owns each busy indicator.
class TRecordingPlatform : public fw::TFakePlatform {
 public:
  std::vector<fw::TForm*> BusyOwners;
  void ShowBusy(fw::TForm* owner, int animation, const std::string& caption) override {
    BusyOwners.push_back(owner);
    TFakePlatform::ShowBusy(owner, animation, caption);
  }
};

inline double Date(const char* text) {
  auto date = fw::TextToDateTime(text);
  EXPECT_TRUE(date.has_value()) << text;
  return date.value_or(0);
}

// The product rows every test starts from: three products of purchase "C-77".
inline const std::vector<std::string> kProductHeader = {"CDARVPROD",  "CDPRODUTO",  "NMPRODUTO",
                                                        "SGUNIDADE",  "QTSOLIPROD", "VRTOTALAF",
                                                        "NMOPERADOR", "DTENTRSAID"};
inline const std::vector<std::vector<std::string>> kProducts = {
    {"01002003", "P100", "Parafuso sextavado", "CX", "12.5", "1234.5", "Marta Reis", "05/03/2024"},
    {"01002004", "P200", "Porca M8", "UN", "100", "0", "Marta Reis", ""},
    {"02000001", "P300", "Arruela lisa", "KG", "3", "1234567.891", "", "06/03/2024 14:07:09"},
    {"02000002", "P400", "Rebite de alumínio", "UN", "1", "-1234.5", "Ana Lima", ""},
};

class ItemScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::InitApplication();
    fw::Application->SetPlatform(&platform);
    fw::HostConfig().ServiceFactory = [this](auto&, int, auto&) { return canned.Connect(); };
    fw::HostConfig().ProductMask = "00.000.000;0;_";
    canned.OnCall = [this](const TCall& call) { log.push_back("call " + call.Method); };
    platform.OnEvent = [this](const std::string& line) {
      if (line.rfind("busy", 0) == 0) log.push_back(line);
    };

    // The branch row and the item row deliberately carry different branches: the products are
    // asked for under the branch grid's branch, the quotations under the item's own.
    canned.ServeText("GetFilSoliGD", {"CDFILIAL", "NMFILIAL"}, {{"0001", "Matriz São Paulo"}});
    ServeItems({{"0001", "S-123", "C-77", "15/03/2024", "0009", "Q-55"}});
    canned.ServeText("GetItemProduto", kProductHeader, kProducts);
    ServeQuotations("1");
  }

  void TearDown() override {
    platform.OnModal = nullptr;
    if (Cli_cmp09500::frmAcompSoli) fw::Application->UserClose(Cli_cmp09500::frmAcompSoli);
    fw::DoneApplication();
    fw::HostConfig().ServiceFactory = nullptr;
    Cli_cmp09500::frmAcompSoli = nullptr;
    Cli_cmp09500::boStCriado = false;
    Cli_cmp09500::boPrimVez = false;
    Cli_cmp09501::boStCriado = false;
  }

  // Items packet rows: CDFILLAN, NRSOLICMP, NRCOMPRA, DTPROGENTR, CDFILIAL, NRCOLEPRECO.
  void ServeItems(const std::vector<std::vector<std::string>>& rows) {
    canned.ServeText("GetItens",
                     {"CDFILLAN", "NRSOLICMP", "NRCOMPRA", "DTPROGENTR", "CDFILIAL", "NRCOLEPRECO"},
                     rows);
  }

  // Two quotations whose numbers end with `tag`, so that a test can tell loads apart.
  void ServeQuotations(const std::string& tag) {
    canned.ServeText("GetItemCota",
                     {"NRCOLEPRECO", "IDSITUCOLETA", "NMOPERADOR", "NMRAZSOCFORN", "VRPRECUNIITM"},
                     {{"Q-" + tag, "C", "Carlos Souza", "Aço Forte Ltda", "0.35"},
                      {"Q-" + tag + "b", "A", "Carlos Souza", "Metalúrgica Sul", "0.41"}});
  }

  // Opens the request screen as the host does at start (first activation initialises the filter).
  void OpenRequestScreen() {
    Cli_cmp09500::boPrimVez = true;
    Cli_cmp09500::CriaAcompSoli();
    soli = Cli_cmp09500::frmAcompSoli;
    ASSERT_NE(soli, nullptr);
  }

  // Types into a filter control (entering the panel closes the results).
  void Type(fw::TEdit* edit, const std::string& text) {
    ASSERT_TRUE(fw::Application->UserType(edit, text)) << edit->Name();
  }

  // Leaves the filter panel for the branch grid: validation, then the branch, item and approval
  // loads for the first rows.
  void RunQuery() {
    ASSERT_TRUE(fw::Application->UserFocus(soli->dbgPadrao));
    ASSERT_TRUE(soli->cdsItensGrid->Active()) << "the query did not load the items";
  }

  void OpenRequestScreenWithQuery() {
    OpenRequestScreen();
    if (HasFatalFailure()) return;
    Type(soli->depSolicitacaoIni, "01/03/2024");
    Type(soli->depSolicitacaoFin, "31/03/2024");
    RunQuery();
  }

  // Opens the item screen from a user event, as the items grid's double-click does, runs `steps`
  // while it is shown modally and closes it.
  void OpenItemScreen(const std::function<void(TfrmAcompItens&)>& steps = {}) {
    bool shown = false;
    platform.OnModal = [&](fw::TForm* form) {
      shown = true;
      auto* screen = dynamic_cast<TfrmAcompItens*>(form);
      ASSERT_NE(screen, nullptr);
      if (steps) steps(*screen);
      fw::Application->UserClose(form);
    };
    fw::Application->Dispatch([] { Cli_cmp09501::CriaAcompItens(); });
    platform.OnModal = nullptr;
    EXPECT_TRUE(shown) << "the item screen was not shown modally";
  }

  std::vector<TCall> CallsOf(const std::string& method) const {
    std::vector<TCall> calls;
    for (const auto& call : canned.Calls)
      if (call.Method == method) calls.push_back(call);
    return calls;
  }

  static const fw::TRemoteArg& Arg(const TCall& call, const char* param) {
    const int index = service::ParamIndex(*service::FindMethod(call.Method), param);
    EXPECT_GE(index, 0) << param;
    return call.Args.at(static_cast<size_t>(index));
  }

  void ClearRecords() {
    canned.Calls.clear();
    platform.Clear();
    platform.BusyOwners.clear();
    log.clear();
  }

  TRecordingPlatform platform;
  service::TCannedAppServer canned;
  Cli_cmp09500::TfrmAcompSoli* soli = nullptr;
  // Busy indicator events and answered calls, in the order they happened.
  std::vector<std::string> log;
};

}  // namespace item_screen_test
