// The standard call sequence: indicator, arguments read at call time, call, in-out copy-back,
// result check, load, indicator off; failures at each step; a nested call from after-scroll.
#include <gtest/gtest.h>

#include "framework/host/config.h"
#include "framework/testing/canned_service.h"
#include "framework/testing/fake_platform.h"
#include "service/tracking_call.h"

namespace service {
namespace {

class TrackingCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::InitApplication();
    fw::Application->SetPlatform(&platform);
    fw::HostConfig().ServiceFactory = [this](const std::string&, int, const std::string&) {
      return canned.Connect();
    };
    form = new fw::TForm(fw::Application, "frm");
    messages = form->Create<fw::TMessages>("msgPadrao");
    messages->Items = {"GetFili|Consultando..."};
    connection = form->Create<fw::TNetConnection>("net");
    branches = MakeDataSet("cdsFilSoliGrid", *FindMethod("GetFilSoliGD"));
    items = MakeDataSet("cdsItensGrid", *FindMethod("GetItens"));
    platform.OnEvent = [this](const std::string& line) { log.push_back(line); };
    canned.OnCall = [this](const TCannedAppServer::TCall& call) {
      log.push_back("call " + call.Method);
    };
  }
  void TearDown() override {
    fw::DoneApplication();
    fw::HostConfig().ServiceFactory = nullptr;
  }
  fw::TClientDataSet* MakeDataSet(const char* name, const TMethodDef& method) {
    auto* dataSet = form->Create<fw::TClientDataSet>(name);
    for (const auto& field : method.Fields)
      dataSet->AddField(std::string(name) + field.Name, field.Name, field.Type, field.Size);
    return dataSet;
  }
  TCallContext Context(fw::TClientDataSet* target, bool caption = true) {
    return {form, messages, connection, target, caption};
  }
  TGetFilSoliGDArgs BranchArgs() {
    TGetFilSoliGDArgs a;
    a.stDtSoli = &flagDate;
    a.stDtEntr = &flagDelivery;
    a.stLFilSoli = &branchList;
    a.stTFilSoli = &allBranches;
    a.stLSolicita = &requestList;
    a.stTSolicita = &allRequests;
    a.stTCdProd = &allProducts;
    a.cdProdIni = productFrom;
    return a;
  }

  fw::TFakePlatform platform;
  TCannedAppServer canned;
  fw::TForm* form = nullptr;
  fw::TMessages* messages = nullptr;
  fw::TNetConnection* connection = nullptr;
  fw::TClientDataSet* branches = nullptr;
  fw::TClientDataSet* items = nullptr;
  std::vector<std::string> log;
  std::string flagDate = "T", flagDelivery = "T", branchList, allBranches = "T", requestList,
              allRequests = "T", allProducts = "T", productFrom;
};

using Lines = std::vector<std::string>;

TEST_F(TrackingCallTest, Success_ShowsIndicatorCallsLoadsThenHides) {
  canned.ServeText("GetFilSoliGD", {"CDFILIAL", "NMFILIAL"}, {{"0001", "Centro"}});
  branches->AfterScroll = [this](fw::TDataSet*) { log.push_back("after-scroll"); };
  GetFilSoliGD(Context(branches), [this] { return BranchArgs(); });
  EXPECT_EQ(log, (Lines{"busy shown: \"Consultando...\"", "call GetFilSoliGD", "after-scroll",
                        "busy hidden"}));
  EXPECT_EQ(branches->RecordCount(), 1);
}

TEST_F(TrackingCallTest, ArgumentsAreReadAfterTheIndicatorIsShown) {
  productFrom = "old";
  GetFilSoliGD(Context(branches), [this] {
    EXPECT_TRUE(platform.BusyVisible);
    return BranchArgs();
  });
  EXPECT_EQ(canned.Calls.at(0).Args.at(10).Text, "old");
  productFrom = "01002003";
  GetFilSoliGD(Context(branches), [this] { return BranchArgs(); });
  EXPECT_EQ(canned.Calls.at(1).Args.at(10).Text, "01002003") << "nothing is cached";
}

TEST_F(TrackingCallTest, InOutStringsChangedByServiceReachTheFilterVariables) {
  canned.RefsNext("GetFilSoliGD", {{"stDtSoli", ""}, {"stTCdProd", "X"}});
  GetFilSoliGD(Context(branches), [this] { return BranchArgs(); });
  EXPECT_EQ(flagDate, "");
  EXPECT_EQ(allProducts, "X");
  EXPECT_EQ(allBranches, "T");
  GetFilSoliGD(Context(branches), [this] { return BranchArgs(); });
  EXPECT_EQ(canned.Calls.at(1).Args.at(2).Text, "") << "later calls send the changed value";
}

TEST_F(TrackingCallTest, NoCaption_ShowsIndicatorWithoutCaption) {
  GetDestSolGere(Context(items, false), [] { return TGetDestSolGereArgs{"1", "2", "3", "4"}; });
  EXPECT_EQ(platform.BusyCaptions, (Lines{""}));
}

TEST_F(TrackingCallTest, CaptionKeyAbsentFromList_ShowsEmptyCaption) {
  messages->Items.clear();
  GetFilSoli(Context(branches));
  EXPECT_EQ(platform.BusyCaptions, (Lines{""}));
}

class TrackingCallFailureTest : public TrackingCallTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(TrackingCallFailureTest, FailingStep_HidesIndicatorKeepsRowsAndPassesFailureOn) {
  canned.ServeText("GetFilSoliGD", {"CDFILIAL", "NMFILIAL"}, {{"0001", "Centro"}, {"0002", "Sul"}});
  GetFilSoliGD(Context(branches), [this] { return BranchArgs(); });
  const std::string step = GetParam();
  bool loadRan = false;
  branches->AfterOpen = [&](fw::TDataSet*) { loadRan = true; };
  if (step == "transport") canned.ErrorNext("GetFilSoliGD", "Conexão perdida.");
  if (step == "refusal") canned.FailNext("GetFilSoliGD", "Lista ilegível.");
  auto call = [&] {
    GetFilSoliGD(Context(branches), [&] {
      if (step == "collect") throw std::runtime_error("Leitura falhou.");
      return BranchArgs();
    });
  };
  if (step == "refusal") {
    EXPECT_THROW(call(), fw::EAbort);
  } else {
    EXPECT_ANY_THROW(call());
  }
  EXPECT_FALSE(platform.BusyVisible);
  EXPECT_FALSE(loadRan);
  EXPECT_EQ(branches->RecordCount(), 2);
  if (step == "refusal") {
    EXPECT_EQ(platform.Errors, (Lines{"Lista ilegível."}));
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, TrackingCallFailureTest,
                         ::testing::Values("collect", "transport", "refusal"));

TEST_F(TrackingCallTest, FailureInsideAfterScroll_HidesIndicatorAndKeepsNewRows) {
  canned.ServeText("GetFilSoliGD", {"CDFILIAL"}, {{"0001"}, {"0002"}});
  branches->AfterScroll = [](fw::TDataSet*) { throw std::runtime_error("nível abaixo falhou"); };
  EXPECT_THROW(GetFilSoliGD(Context(branches), [this] { return BranchArgs(); }),
               std::runtime_error);
  EXPECT_FALSE(platform.BusyVisible);
  EXPECT_EQ(branches->RecordCount(), 2);
  EXPECT_EQ(branches->RecNo(), 1);
}

TEST_F(TrackingCallTest, NestedCallFromAfterScroll_FinishesBeforeOuterIndicatorHides) {
  canned.ServeText("GetFilSoliGD", {"CDFILIAL"}, {{"0001"}});
  canned.ServeText("GetItens", {"NRSOLICMP"}, {{"0000000001"}});
  branches->AfterScroll = [this](fw::TDataSet*) {
    GetItens(Context(items), [this] {
      TGetItensArgs a;
      a.stDtSoli = &flagDate;
      a.stDtEntr = &flagDelivery;
      a.cdFilial = std::string(branches->FieldByName("CDFILIAL")->Text());
      a.stLSolicita = &requestList;
      a.stTSolicita = &allRequests;
      a.stTCdProd = &allProducts;
      return a;
    });
  };
  GetFilSoliGD(Context(branches), [this] { return BranchArgs(); });
  EXPECT_EQ(log, (Lines{"busy shown: \"Consultando...\"", "call GetFilSoliGD",
                        "busy shown: \"Consultando...\"", "call GetItens", "busy hidden",
                        "busy hidden"}));
  EXPECT_EQ(canned.Calls.at(1).Args.at(6).Text, "0001");
  EXPECT_EQ(items->RecordCount(), 1);
}

TEST_F(TrackingCallTest, EmptyPacket_OpensDataSetWithoutAfterScroll) {
  int scrolls = 0;
  branches->AfterScroll = [&](fw::TDataSet*) { ++scrolls; };
  GetFilSoliGD(Context(branches), [this] { return BranchArgs(); });
  EXPECT_TRUE(branches->Active());
  EXPECT_TRUE(branches->IsEmpty());
  EXPECT_EQ(scrolls, 0);
}

TEST_F(TrackingCallTest, ArgumentsNotMatchingContract_AreRefusedBeforeAnyCall) {
  const TMethodDef& method = *FindMethod("GetItemCota");
  EXPECT_THROW(TrackingCall(Context(items), method,
                            [] {
                              return std::vector<TCallArg>{{TParamKind::String, 0, "x", nullptr}};
                            }),
               std::invalid_argument);
  EXPECT_THROW(TrackingCall(Context(items), method,
                            [] {
                              return std::vector<TCallArg>{{TParamKind::Date, 1, {}, nullptr},
                                                           {TParamKind::String, 0, "", nullptr},
                                                           {TParamKind::String, 0, "", nullptr}};
                            }),
               std::invalid_argument);
  EXPECT_TRUE(canned.Calls.empty());
  EXPECT_FALSE(platform.BusyVisible);
}

}  // namespace
}  // namespace service
