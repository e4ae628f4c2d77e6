// The canned service: packets typed from the contract, arguments checked against it.
#include <gtest/gtest.h>

#include "framework/testing/canned_service.h"

namespace service {
namespace {

TEST(CannedService, TextRows_TakeTypesFromTheContractAndEmptyMeansNull) {
  TCannedAppServer canned;
  canned.ServeText("GetItens", {"STATUS", "DTPROGENTR", "QTSOLIPROD"},
                   {{"A", "05/03/2024", "1234.5"}, {"", "", ""}});
  std::vector<fw::TRemoteArg> args;
  for (const auto& param : FindMethod("GetItens")->Params)
    args.push_back(param.Kind == TParamKind::Date     ? fw::TRemoteArg::FromDate(0)
                   : param.Kind == TParamKind::String ? fw::TRemoteArg::FromString("")
                                                      : fw::TRemoteArg::FromInOut("T"));
  fw::TRemoteResult result = canned.Invoke("GetItens", args);
  const fw::TDataPacket& packet = result.Data;
  ASSERT_EQ(packet.Fields().size(), 20u);
  ASSERT_EQ(packet.RowCount(), 2u);
  EXPECT_EQ(packet.Columns()[packet.FieldIndex("QTSOLIPROD")].GetNumber(0), 1234.5);
  EXPECT_TRUE(packet.Columns()[packet.FieldIndex("STATUS")].IsNull(1));
  EXPECT_TRUE(packet.Columns()[packet.FieldIndex("NRSOLICMP")].IsNull(0)) << "unnamed fields";
  EXPECT_EQ(canned.Calls.at(0).Rows, 2);
}

TEST(CannedService, BadTables_AreRefusedWithTheReason) {
  TCannedAppServer canned;
  EXPECT_THROW(canned.ServeText("GetItens", {"NAOEXISTE"}, {}), std::invalid_argument);
  EXPECT_THROW(canned.ServeText("GetItens", {"DTPROGENTR"}, {{"31/02/2024"}}),
               std::invalid_argument);
  EXPECT_THROW(canned.ServeText("GetItens", {"QTSOLIPROD"}, {{"1,5"}}), std::invalid_argument);
  EXPECT_THROW(canned.ServeText("GetItens", {"STATUS"}, {{"A", "B"}}), std::invalid_argument);
  EXPECT_THROW(canned.ServeText("Desconhecido", {}, {}), std::invalid_argument);
  EXPECT_THROW(canned.RefsNext("GetItemCota", {{"cdFilial", "x"}}), std::invalid_argument);
}

TEST(CannedService, WrongArgumentCountOrKind_FailsLikeTheServer) {
  TCannedAppServer canned;
  std::vector<fw::TRemoteArg> none;
  EXPECT_THROW(canned.Invoke("GetItemCota", none), fw::ERemoteError);
  std::vector<fw::TRemoteArg> wrongKind{fw::TRemoteArg::FromDate(1), fw::TRemoteArg::FromString(""),
                                        fw::TRemoteArg::FromString("")};
  EXPECT_THROW(canned.Invoke("GetItemCota", wrongKind), fw::ERemoteError);
  EXPECT_TRUE(canned.Calls.empty());
}

TEST(CannedService, OneShotAnswers_ApplyToTheNextCallOnly) {
  TCannedAppServer canned;
  canned.FailNext("GetFilSoli", "Recusado.");
  std::vector<fw::TRemoteArg> none;
  EXPECT_TRUE(canned.Invoke("GetFilSoli", none).Refused);
  EXPECT_FALSE(canned.Invoke("GetFilSoli", none).Refused);
  canned.ErrorNext("GetFilSoli", "Caiu.");
  EXPECT_THROW(canned.Invoke("GetFilSoli", none), fw::ERemoteError);
  EXPECT_NO_THROW(canned.Invoke("GetFilSoli", none));
}

}  // namespace
}  // namespace service
