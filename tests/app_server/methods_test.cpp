// The seven methods end to end: the client, a real app-server process and the demo database.
// Results are checked against independent queries on the same database.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app_server/db/iso_date.h"
#include "protocol/contract.h"
#include "protocol/datetime.h"
#include "tests/app_server/fixture.h"

namespace testing_app {
namespace {

using fw::TRemoteArg;

std::vector<std::string> Column(const fw::TDataPacket& packet, const std::string& field) {
  const int index = packet.FieldIndex(field);
  std::vector<std::string> values;
  if (index < 0) return values;
  for (size_t row = 0; row < packet.RowCount(); ++row)
    values.emplace_back(packet.Columns()[index].GetString(row));
  return values;
}

std::vector<std::string> FirstColumn(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::string> values;
  for (const auto& row : rows) values.push_back(row.at(0));
  return values;
}

double Day(int year, int month, int day) {
  return fw::EncodeDateTime({year, month, day});
}

TEST(Methods, EveryMethod_ReturnsExactlyTheFieldsOfItsDefinition) {
  // Keys of an item that went all the way to an invoice, so that every method has rows.
  const auto item =
      Sql("SELECT S.CDFILIAL, S.NRSOLICMP, S.CDFILLAN, I.CDDESTSOLI, I.NRCOMPRA, I.CDPRODUTO, "
          "I.NRCOLEPRECO, I.DTPROGENTR FROM ITEMSOLICITACAO I JOIN SOLICITACAO S USING (CDFILLAN, "
          "NRSOLICMP) WHERE I.STATUS = '2' ORDER BY S.NRSOLICMP LIMIT 1")[0];
  const double delivery = *app::IsoTextToDays(item[7]);
  std::map<std::string, std::map<std::string, TRemoteArg>> values = {
      {"GetItens", {{"cdFilial", TRemoteArg::FromString(item[0])}}},
      {"GetDestSolGere",
       {{"nrSoliCmp", TRemoteArg::FromString(item[1])},
        {"cdFilial", TRemoteArg::FromString(item[0])},
        {"cdFilLan", TRemoteArg::FromString(item[2])},
        {"cdDestSoli", TRemoteArg::FromString(item[3])}}},
      {"GetItemProduto",
       {{"cdFilial", TRemoteArg::FromString(item[0])},
        {"nrSoliCmp", TRemoteArg::FromString(item[1])},
        {"cdFilLan", TRemoteArg::FromString(item[2])},
        {"nrCompra", TRemoteArg::FromString(item[4])},
        {"dtProgEntr", TRemoteArg::FromDate(delivery)}}},
      {"GetItemCota",
       {{"cdFilial", TRemoteArg::FromString(item[0])},
        {"cdProduto", TRemoteArg::FromString(item[5])},
        {"nrColePreco", TRemoteArg::FromString(item[6])}}},
  };
  auto client = Client();
  for (const auto& method : service::Methods()) {
    SCOPED_TRACE(method.Name);
    auto args = Args(method.Name, values[method.Name]);
    const fw::TRemoteResult result = client.Invoke(method.Name, args);
    ASSERT_FALSE(result.Refused) << result.RefusalMessage;
    const auto& fields = result.Data.Fields();
    ASSERT_EQ(method.Fields.size(), fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
      EXPECT_EQ(method.Fields[i].Name, fields[i].Name);
      EXPECT_EQ(method.Fields[i].Type, fields[i].Type) << fields[i].Name;
      EXPECT_EQ(method.Fields[i].Size, fields[i].Size) << fields[i].Name;
    }
    EXPECT_TRUE(result.Data.IsConsistent());
    EXPECT_GT(result.Data.RowCount(), 0u);
    // Strings fit their fields (characters, not bytes).
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].Type != fw::TFieldType::ftString) continue;
      for (size_t row = 0; row < result.Data.RowCount(); ++row) {
        const std::string_view text = result.Data.Columns()[i].GetString(row);
        const size_t characters =
            static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
              return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            }));
        EXPECT_LE(characters, static_cast<size_t>(fields[i].Size)) << fields[i].Name << " " << text;
      }
    }
    // In-out strings come back as sent; by-value ones as nil.
    ASSERT_EQ(method.Params.size(), result.Refs.size());
    for (size_t i = 0; i < method.Params.size(); ++i)
      EXPECT_EQ(method.Params[i].Kind == service::TParamKind::InOutString,
                result.Refs[i].has_value());
  }
}

TEST(Methods, GetFilSoli_ListsTheBranchesThatHaveRequests) {
  auto client = Client();
  auto args = Args("GetFilSoli");
  const auto result = client.Invoke("GetFilSoli", args);
  EXPECT_EQ(FirstColumn(Sql("SELECT DISTINCT CDFILIAL FROM SOLICITACAO ORDER BY 1")),
            Column(result.Data, "CDFILSOLI"));
  EXPECT_EQ(FirstColumn(Sql("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL IN (SELECT CDFILIAL FROM "
                            "SOLICITACAO) ORDER BY CDFILIAL")),
            Column(result.Data, "NMFILIAL"));
}

TEST(Methods, GetNrSolicita_FollowsTheBranchListAndTheDateRanges) {
  auto client = Client();
  auto args = Args("GetNrSolicita", {{"stLFilSoli", TRemoteArg::FromInOut("'0001','0003'")},
                                     {"stTFilSoli", TRemoteArg::FromInOut("")}});
  EXPECT_EQ(FirstColumn(Sql("SELECT NRSOLICMP FROM SOLICITACAO WHERE CDFILIAL IN ('0001','0003') "
                            "ORDER BY 1")),
            Column(client.Invoke("GetNrSolicita", args).Data, "NRSOLICMP"));

  // Requests entered in March 2024, with an item due in April.
  args = Args("GetNrSolicita", {{"dtSoliIni", TRemoteArg::FromDate(Day(2024, 3, 1))},
                                {"dtSoliFin", TRemoteArg::FromDate(Day(2024, 3, 31) + 0.75)},
                                {"stDtSoli", TRemoteArg::FromInOut("")},
                                {"dtEntrIni", TRemoteArg::FromDate(Day(2024, 4, 1))},
                                {"dtEntrFin", TRemoteArg::FromDate(Day(2024, 4, 30))},
                                {"stDtEntr", TRemoteArg::FromInOut("")}});
  const auto expected =
      FirstColumn(Sql("SELECT DISTINCT S.NRSOLICMP FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING "
                      "(CDFILLAN, NRSOLICMP) WHERE substr(S.DTHRLANCSOL, 1, 7) = '2024-03' AND "
                      "substr(I.DTPROGENTR, 1, 7) = '2024-04' ORDER BY 1"));
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(expected, Column(client.Invoke("GetNrSolicita", args).Data, "NRSOLICMP"));
}

TEST(Methods, GetFilSoliGD_FollowsEveryFilter) {
  auto client = Client();
  auto all = Args("GetFilSoliGD");
  EXPECT_EQ(FirstColumn(Sql("SELECT DISTINCT CDFILIAL FROM SOLICITACAO ORDER BY 1")),
            Column(client.Invoke("GetFilSoliGD", all).Data, "CDFILIAL"));

  // Only branches with a request in the list, entered in the first half of 2024, with a
  // product of group 03 (informática).
  const auto requests = FirstColumn(Sql("SELECT NRSOLICMP FROM SOLICITACAO ORDER BY 1 LIMIT 40"));
  std::string list;
  for (const auto& number : requests) list += (list.empty() ? "'" : ",'") + number + "'";
  auto args = Args("GetFilSoliGD", {{"stLSolicita", TRemoteArg::FromInOut(list)},
                                    {"stTSolicita", TRemoteArg::FromInOut("")},
                                    {"dtSoliIni", TRemoteArg::FromDate(Day(2024, 1, 1))},
                                    {"dtSoliFin", TRemoteArg::FromDate(Day(2024, 6, 30))},
                                    {"stDtSoli", TRemoteArg::FromInOut("")},
                                    {"cdProdIni", TRemoteArg::FromString("03.000.000")},
                                    {"cdProdFin", TRemoteArg::FromString("03999999")},
                                    {"stTCdProd", TRemoteArg::FromInOut("")}});
  const auto expected = FirstColumn(
      Sql("SELECT DISTINCT S.CDFILIAL FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING (CDFILLAN, "
          "NRSOLICMP) JOIN PRODUTO P USING (CDPRODUTO) WHERE S.NRSOLICMP IN (SELECT NRSOLICMP FROM "
          "SOLICITACAO ORDER BY 1 LIMIT 40) AND S.DTHRLANCSOL BETWEEN '2024-01-01' AND '2024-06-30 "
          "23:59:59' AND P.CDARVPROD LIKE '03%' ORDER BY 1"));
  const auto result = client.Invoke("GetFilSoliGD", args);
  EXPECT_EQ(expected, Column(result.Data, "CDFILIAL"));
  EXPECT_LT(expected.size(), Column(client.Invoke("GetFilSoliGD", all).Data, "CDFILIAL").size());
  EXPECT_EQ(list, args[8].Text);  // the in-out list comes back unchanged
}

TEST(Methods, GetItens_ReturnsTheItemsOfTheBranchInRequestOrder) {
  auto client = Client();
  auto args = Args("GetItens", {{"cdFilial", TRemoteArg::FromString("0002")}});
  const auto result = client.Invoke("GetItens", args);
  EXPECT_EQ(FirstColumn(Sql("SELECT S.NRSOLICMP FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING "
                            "(CDFILLAN, NRSOLICMP) WHERE S.CDFILIAL = '0002' ORDER BY "
                            "S.NRSOLICMP, S.CDFILLAN, I.NRITEMSOLI")),
            Column(result.Data, "NRSOLICMP"));
  EXPECT_EQ(FirstColumn(Sql("SELECT I.STATUS FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING "
                            "(CDFILLAN, NRSOLICMP) WHERE S.CDFILIAL = '0002' ORDER BY "
                            "S.NRSOLICMP, S.CDFILLAN, I.NRITEMSOLI")),
            Column(result.Data, "STATUS"));
  // Dates travel as days since 30/12/1899.
  const auto first =
      Sql("SELECT S.DTHRLANCSOL FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING "
          "(CDFILLAN, NRSOLICMP) WHERE S.CDFILIAL = '0002' ORDER BY S.NRSOLICMP, "
          "S.CDFILLAN, I.NRITEMSOLI LIMIT 1")[0][0];
  const int entered = result.Data.FieldIndex("DTHRLANCSOL");
  EXPECT_NEAR(*app::IsoTextToDays(first), result.Data.Columns()[entered].GetNumber(0), 1e-6);
}

TEST(Methods, GetItens_ProductRangeWithABlankEndIsOpen) {
  auto client = Client();
  auto count = [&](const std::string& from, const std::string& to) {
    auto args = Args("GetItens", {{"cdFilial", TRemoteArg::FromString("0001")},
                                  {"cdProdIni", TRemoteArg::FromString(from)},
                                  {"cdProdFin", TRemoteArg::FromString(to)},
                                  {"stTCdProd", TRemoteArg::FromInOut("")}});
    return client.Invoke("GetItens", args).Data.RowCount();
  };
  auto expected = [&](const std::string& condition) {
    return static_cast<size_t>(std::stoul(SqlValue(
        "SELECT COUNT(*) FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING (CDFILLAN, NRSOLICMP) "
        "JOIN PRODUTO P USING (CDPRODUTO) WHERE S.CDFILIAL = '0001' AND " +
        condition)));
  };
  EXPECT_EQ(expected("P.CDARVPROD >= '02000000'"), count("02000000", ""));
  EXPECT_EQ(expected("P.CDARVPROD <= '02000000'"), count("", "02000000"));
  EXPECT_EQ(expected("P.CDARVPROD BETWEEN '02000000' AND '04999999'"),
            count(" 02.000.000 ", "04.999.999"));
  EXPECT_EQ(0u, count("05", "01"));
}

TEST(Methods, GetDestSolGere_ListsTheApprovalLevelsInOrder) {
  const auto key =
      Sql("SELECT A.NRSOLICMP, S.CDFILIAL, A.CDFILLAN, A.CDDESTSOLI FROM APROVACAOGERENTE A JOIN "
          "SOLICITACAO S USING (CDFILLAN, NRSOLICMP) GROUP BY 1, 2, 3, 4 HAVING COUNT(*) = 3 AND "
          "SUM(A.IDAPROVPRGER = 'P') = 0 LIMIT 1")[0];
  auto client = Client();
  auto args = Args("GetDestSolGere", {{"nrSoliCmp", TRemoteArg::FromString(key[0])},
                                      {"cdFilial", TRemoteArg::FromString(key[1])},
                                      {"cdFilLan", TRemoteArg::FromString(key[2])},
                                      {"cdDestSoli", TRemoteArg::FromString(key[3])}});
  const auto result = client.Invoke("GetDestSolGere", args);
  EXPECT_EQ(FirstColumn(Sql("SELECT O.NMOPERADOR FROM APROVACAOGERENTE A JOIN OPERADOR O ON "
                            "O.CDOPERADOR = A.CDOPERGER WHERE A.NRSOLICMP = '" +
                            key[0] + "' AND A.CDFILLAN = '" + key[2] + "' AND A.CDDESTSOLI = '" +
                            key[3] + "' ORDER BY A.NRNIVEL")),
            Column(result.Data, "NMOPERADOR"));
  // Another branch's code finds nothing.
  args[1] = TRemoteArg::FromString(key[1] == "0001" ? "0002" : "0001");
  EXPECT_EQ(0u, client.Invoke("GetDestSolGere", args).Data.RowCount());
}

TEST(Methods, GetDestSolGere_LeavesOutLevelsStillPending) {
  // An item waiting for approval: its request has a pending last level on the destination.
  const auto key =
      Sql("SELECT A.NRSOLICMP, S.CDFILIAL, A.CDFILLAN, A.CDDESTSOLI FROM APROVACAOGERENTE A JOIN "
          "SOLICITACAO S USING (CDFILLAN, NRSOLICMP) WHERE A.IDAPROVPRGER = 'P' AND A.NRNIVEL > 1 "
          "ORDER BY 1 LIMIT 1")[0];
  auto client = Client();
  auto args = Args("GetDestSolGere", {{"nrSoliCmp", TRemoteArg::FromString(key[0])},
                                      {"cdFilial", TRemoteArg::FromString(key[1])},
                                      {"cdFilLan", TRemoteArg::FromString(key[2])},
                                      {"cdDestSoli", TRemoteArg::FromString(key[3])}});
  const auto result = client.Invoke("GetDestSolGere", args);
  const std::string where = " WHERE NRSOLICMP = '" + key[0] + "' AND CDFILLAN = '" + key[2] +
                            "' AND CDDESTSOLI = '" + key[3] + "'";
  EXPECT_EQ(FirstColumn(Sql("SELECT IDAPROVPRGER FROM APROVACAOGERENTE" + where +
                            " AND IDAPROVPRGER <> 'P' ORDER BY NRNIVEL")),
            Column(result.Data, "IDAPROVPRGER"));
  EXPECT_GT(result.Data.RowCount(), 0u);
  // Every level shown has its decision's date.
  const int date = result.Data.FieldIndex("DTAPRSOLPRODGER");
  for (size_t row = 0; row < result.Data.RowCount(); ++row)
    EXPECT_FALSE(result.Data.Columns()[date].IsNull(row));
}

TEST(Methods, GetItemProduto_ListsTheProductsOfTheItemsPurchase) {
  const auto item = Sql(
      "SELECT S.CDFILIAL, S.NRSOLICMP, S.CDFILLAN, I.NRCOMPRA, I.DTPROGENTR FROM ITEMSOLICITACAO "
      "I JOIN SOLICITACAO S USING (CDFILLAN, NRSOLICMP) WHERE I.NRCOMPRA IS NOT NULL GROUP BY 1, "
      "2, 3, 4, 5 ORDER BY COUNT(*) DESC, 2 LIMIT 1")[0];
  auto client = Client();
  auto args = Args("GetItemProduto",
                   {{"cdFilial", TRemoteArg::FromString(item[0])},
                    {"nrSoliCmp", TRemoteArg::FromString(item[1])},
                    {"cdFilLan", TRemoteArg::FromString(item[2])},
                    {"nrCompra", TRemoteArg::FromString(item[3])},
                    {"dtProgEntr", TRemoteArg::FromDate(*app::IsoTextToDays(item[4]) + 0.5)}});
  const auto result = client.Invoke("GetItemProduto", args);
  EXPECT_EQ(FirstColumn(Sql("SELECT P.CDARVPROD FROM ITEMSOLICITACAO I JOIN PRODUTO P USING "
                            "(CDPRODUTO) WHERE I.NRSOLICMP = '" +
                            item[1] + "' AND I.CDFILLAN = '" + item[2] + "' AND I.NRCOMPRA = '" +
                            item[3] + "' ORDER BY 1")),
            Column(result.Data, "CDARVPROD"));
  EXPECT_EQ(std::vector<std::string>(result.Data.RowCount(), item[2]),
            Column(result.Data, "CDFILLANC"));
  // Another delivery day finds nothing.
  args[8] = TRemoteArg::FromDate(*app::IsoTextToDays(item[4]) + 1);
  EXPECT_EQ(0u, client.Invoke("GetItemProduto", args).Data.RowCount());
}

TEST(Methods, GetItemCota_ListsTheQuotedPricesCheapestFirst) {
  const auto key =
      Sql("SELECT CDFILIAL, CDPRODUTO, NRCOLEPRECO FROM ITEMCOLETAPRECO GROUP BY 1, "
          "2, 3 HAVING COUNT(*) >= 3 LIMIT 1")[0];
  auto client = Client();
  auto args = Args("GetItemCota", {{"cdFilial", TRemoteArg::FromString(key[0])},
                                   {"cdProduto", TRemoteArg::FromString(key[1])},
                                   {"nrColePreco", TRemoteArg::FromString(key[2])}});
  const auto result = client.Invoke("GetItemCota", args);
  ASSERT_GE(result.Data.RowCount(), 3u);
  const int price = result.Data.FieldIndex("VRPRECUNIITM");
  for (size_t row = 1; row < result.Data.RowCount(); ++row)
    EXPECT_LE(result.Data.Columns()[price].GetNumber(row - 1),
              result.Data.Columns()[price].GetNumber(row));
  EXPECT_EQ(std::vector<std::string>(result.Data.RowCount(), key[2]),
            Column(result.Data, "NRCOLEPRECO"));
}

// Dates kept in other ISO forms than the demo's: a day alone, "T" between date and time, a
// fraction of a second. Each is found by the filter of its own day and by no other.
TEST(DateRanges, EveryStoredFormOfADay_IsFoundByThatDaysFilter) {
  // Three requests of one branch with a purchased item each.
  const auto requests =
      Sql("SELECT S.NRSOLICMP, S.CDFILLAN, S.CDFILIAL, MIN(I.NRCOMPRA) FROM SOLICITACAO S JOIN "
          "ITEMSOLICITACAO I USING (CDFILLAN, NRSOLICMP) WHERE I.NRCOMPRA IS NOT NULL AND "
          "S.CDFILIAL = '0001' GROUP BY 1, 2, 3 ORDER BY 1 LIMIT 3");
  ASSERT_EQ(3u, requests.size());
  struct TForm {
    const char* Stored;
    int Day;  // of April 2024
    double Time;
  };
  const TForm forms[] = {{"2024-04-20", 20, 0},
                         {"2024-04-21T10:30:00", 21, 10.5 / 24},
                         {"2024-04-22 23:59:59.25", 22, (86399.25) / 86400}};
  TOwnDemo own;
  for (size_t i = 0; i < 3; ++i) {
    const std::string key =
        " WHERE NRSOLICMP = '" + requests[i][0] + "' AND CDFILLAN = '" + requests[i][1] + "'";
    own.Execute(std::string("UPDATE SOLICITACAO SET DTHRLANCSOL = '") + forms[i].Stored + "'" +
                key);
    own.Execute(std::string("UPDATE ITEMSOLICITACAO SET DTPROGENTR = '") + forms[i].Stored + "'" +
                key);
  }
  TTempDir logs;
  TServerProcess server(own.Location(), logs.Path() + "/server.log");
  auto client = Client(server.Port());

  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(forms[i].Stored);
    const std::string& number = requests[i][0];
    const double day = Day(2024, 4, forms[i].Day);
    for (const double other : {day - 1, day, day + 1}) {
      const bool same = other == day;
      auto numbers = Args("GetNrSolicita", {{"dtSoliIni", TRemoteArg::FromDate(other)},
                                            {"dtSoliFin", TRemoteArg::FromDate(other)},
                                            {"stDtSoli", TRemoteArg::FromInOut("")}});
      const auto listed = Column(client.Invoke("GetNrSolicita", numbers).Data, "NRSOLICMP");
      EXPECT_EQ(same, std::count(listed.begin(), listed.end(), number) == 1) << other;

      auto items = Args("GetItens", {{"cdFilial", TRemoteArg::FromString("0001")},
                                     {"dtEntrIni", TRemoteArg::FromDate(other + 0.9)},
                                     {"dtEntrFin", TRemoteArg::FromDate(other)},
                                     {"stDtEntr", TRemoteArg::FromInOut("")}});
      const auto result = client.Invoke("GetItens", items);
      const auto found = Column(result.Data, "NRSOLICMP");
      EXPECT_EQ(same, std::count(found.begin(), found.end(), number) > 0) << other;
      if (!same) continue;
      // The packet carries the stored instant, to the second (PostgreSQL's timestamps here keep
      // whole seconds).
      const auto row =
          static_cast<size_t>(std::find(found.begin(), found.end(), number) - found.begin());
      const int entered = result.Data.FieldIndex("DTHRLANCSOL");
      const int due = result.Data.FieldIndex("DTPROGENTR");
      const double second = 1.0 / 86400;
      EXPECT_NEAR(day + forms[i].Time, result.Data.Columns()[entered].GetNumber(row), second);
      EXPECT_NEAR(day + forms[i].Time, result.Data.Columns()[due].GetNumber(row), second);
    }
    // The item screen finds the purchase's products on their delivery day.
    auto products = Args("GetItemProduto", {{"cdFilial", TRemoteArg::FromString("0001")},
                                            {"nrSoliCmp", TRemoteArg::FromString(number)},
                                            {"cdFilLan", TRemoteArg::FromString(requests[i][1])},
                                            {"nrCompra", TRemoteArg::FromString(requests[i][3])},
                                            {"dtProgEntr", TRemoteArg::FromDate(day)}});
    EXPECT_GT(client.Invoke("GetItemProduto", products).Data.RowCount(), 0u);
  }
}

}  // namespace
}  // namespace testing_app
