// The report service "SUP00700.rdmRelAcomp" end to end, on each engine: its rows and stage dates
// against the demo database, the report's days per stage worked out by hand in SQL, the filters,
// bad input, and dates that are missing or out of order.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app_server/db/iso_date.h"
#include "app_server/report/report_service.h"
#include "protocol/datetime.h"
#include "protocol/report_contract.h"
#include "report_module/rel_acomp_data.h"
#include "tests/app_server/fixture.h"

namespace testing_app {
namespace {

using fw::TRemoteArg;

double Day(int year, int month, int day) {
  return fw::EncodeDateTime({year, month, day});
}

fw::TTcpAppServer ReportClient(int port = 0) {
  return fw::TTcpAppServer("127.0.0.1", port == 0 ? Demo().Server->Port() : port,
                           service::kReportServerName, {3000, 20000}, DemoLogin());
}

std::vector<TRemoteArg> ReportArgs(double first, double last, std::string branches = "",
                                   std::string statuses = "") {
  return {TRemoteArg::FromDate(first),
          TRemoteArg::FromDate(last),
          TRemoteArg::FromString(branches.empty() ? "T" : ""),
          TRemoteArg::FromString(branches),
          TRemoteArg::FromString(statuses.empty() ? "T" : ""),
          TRemoteArg::FromString(statuses)};
}

fw::TDataPacket Report(fw::TTcpAppServer& client, std::vector<TRemoteArg> args) {
  fw::TRemoteResult result = client.Invoke(service::kReportMethodName, args);
  EXPECT_FALSE(result.Refused) << result.RefusalMessage;
  return std::move(result.Data);
}

std::string Text(const fw::TDataPacket& packet, size_t row, const char* field) {
  const int index = packet.FieldIndex(field);
  return std::string(packet.Columns()[static_cast<size_t>(index)].GetString(row));
}

// A date of the packet as the database's ISO text has it ("" for null), to the second.
std::string DateText(const fw::TDataPacket& packet, size_t row, const char* field) {
  const auto& column = packet.Columns()[static_cast<size_t>(packet.FieldIndex(field))];
  return column.IsNull(row) ? "" : app::DaysToIsoText(column.GetNumber(row));
}

std::string Iso(const std::string& stored) {
  if (stored.empty()) return "";
  return app::DaysToIsoText(*app::IsoTextToDays(stored));
}

// The whole demo: every request was entered between these days.
const double kFirst = Day(2000, 1, 1);
const double kLast = Day(2099, 12, 31);

constexpr const char* kItemKey =
    "S.CDFILIAL || '/' || S.NRSOLICMP || '/' || S.CDFILLAN || '/' || I.NRITEMSOLI";

std::string KeyOf(const fw::TDataPacket& packet, size_t row) {
  const auto& item = packet.Columns()[static_cast<size_t>(packet.FieldIndex("NRITEMSOLI"))];
  return Text(packet, row, "CDFILIAL") + "/" + Text(packet, row, "NRSOLICMP") + "/" +
         Text(packet, row, "CDFILLAN") + "/" +
         std::to_string(static_cast<long long>(std::llround(item.GetNumber(row))));
}

TEST(Report, RowsAreTheItemsOfTheRange_OnePerItem_InBranchAndRequestOrder) {
  auto client = ReportClient();
  const fw::TDataPacket packet = Report(client, ReportArgs(Day(2024, 1, 1), Day(2024, 3, 31)));
  const auto expected = Sql(std::string("SELECT ") + kItemKey +
                            ", F.NMFILIAL FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING "
                            "(CDFILLAN, NRSOLICMP) JOIN FILIAL F ON F.CDFILIAL = S.CDFILIAL "
                            "WHERE S.DTHRLANCSOL >= '2024-01-01' AND S.DTHRLANCSOL < "
                            "'2024-04-01' ORDER BY S.CDFILIAL, S.NRSOLICMP, S.CDFILLAN, "
                            "I.NRITEMSOLI");
  ASSERT_GT(expected.size(), 20u);
  ASSERT_EQ(expected.size(), packet.RowCount());
  for (size_t row = 0; row < packet.RowCount(); ++row) {
    EXPECT_EQ(expected[row][0], KeyOf(packet, row)) << row;
    EXPECT_EQ(expected[row][1], Text(packet, row, "NMFILIAL")) << row;
  }
  // The last day of the range counts whole; the day after does not.
  const std::string lastDay = SqlValue(
      "SELECT COUNT(*) FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING (CDFILLAN, "
      "NRSOLICMP) WHERE date(S.DTHRLANCSOL) = '2024-03-31'");
  const fw::TDataPacket oneDay = Report(client, ReportArgs(Day(2024, 3, 31), Day(2024, 3, 31)));
  EXPECT_EQ(lastDay, std::to_string(oneDay.RowCount()));
  EXPECT_EQ(0u, Report(client, ReportArgs(Day(2024, 3, 31), Day(2024, 3, 1))).RowCount())
      << "a range that ends before it starts has no day in it";
}

TEST(Report, StageDates_AreTheDatabaseDatesOfEachItem) {
  auto client = ReportClient();
  const fw::TDataPacket packet = Report(client, ReportArgs(kFirst, kLast));
  // The same dates read another way: the levels by subquery, the rest by key.
  const auto expected =
      Sql(std::string("SELECT ") + kItemKey +
          ", S.DTHRLANCSOL, "
          "(SELECT IDAPROVPRGER || '|' || COALESCE(DTAPRSOLPRODGER, '') FROM APROVACAOGERENTE G "
          "  WHERE G.CDFILLAN = I.CDFILLAN AND G.NRSOLICMP = I.NRSOLICMP AND G.CDDESTSOLI = "
          "  I.CDDESTSOLI AND G.NRNIVEL = 1), "
          "(SELECT IDAPROVPRGER || '|' || COALESCE(DTAPRSOLPRODGER, '') FROM APROVACAOGERENTE G "
          "  WHERE G.CDFILLAN = I.CDFILLAN AND G.NRSOLICMP = I.NRSOLICMP AND G.CDDESTSOLI = "
          "  I.CDDESTSOLI AND G.NRNIVEL = 2), "
          "(SELECT IDAPROVPRGER || '|' || COALESCE(DTAPRSOLPRODGER, '') FROM APROVACAOGERENTE G "
          "  WHERE G.CDFILLAN = I.CDFILLAN AND G.NRSOLICMP = I.NRSOLICMP AND G.CDDESTSOLI = "
          "  I.CDDESTSOLI AND G.NRNIVEL = 3), "
          "(SELECT DTCONCOLEPREC FROM COLETAPRECO C WHERE C.CDFILIAL = I.CDFILIAL AND "
          "  C.NRCOLEPRECO = I.NRCOLEPRECO), "
          "(SELECT A.DTAUTOFORN || '|' || COALESCE(A.DTPROGENTAF, '') FROM ITEMAUTOFORN AI JOIN "
          "  AUTORIZACAOFORN A USING (CDFILIAL, NRAUTOFORN) WHERE AI.CDFILLAN = I.CDFILLAN AND "
          "  AI.NRSOLICMP = I.NRSOLICMP AND AI.NRITEMSOLI = I.NRITEMSOLI), "
          "(SELECT N.DTEMISSAO || '|' || COALESCE(N.DTENTRSAID, '') || '|' || "
          "  COALESCE(N.DTAPROVACAO, '') FROM ITEMAUTOFORN AI JOIN NOTAFISCAL N USING (CDFILIAL, "
          "  NRAUTOFORN) WHERE AI.CDFILLAN = I.CDFILLAN AND AI.NRSOLICMP = I.NRSOLICMP AND "
          "  AI.NRITEMSOLI = I.NRITEMSOLI), I.STATUS "
          "FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING (CDFILLAN, NRSOLICMP) "
          "ORDER BY S.CDFILIAL, S.NRSOLICMP, S.CDFILLAN, I.NRITEMSOLI");
  ASSERT_EQ(expected.size(), packet.RowCount());
  auto split = [](const std::string& joined, size_t parts) {
    std::vector<std::string> pieces;
    std::stringstream stream(joined);
    for (std::string piece; std::getline(stream, piece, '|');) pieces.push_back(piece);
    pieces.resize(parts);
    return pieces;
  };
  std::set<std::string> statuses;
  for (size_t row = 0; row < packet.RowCount(); ++row) {
    const auto& want = expected[row];
    SCOPED_TRACE(want[0]);
    ASSERT_EQ(want[0], KeyOf(packet, row));
    EXPECT_EQ(Iso(want[1]), DateText(packet, row, "DTHRLANCSOL"));
    for (int level = 1; level <= 3; ++level) {
      const auto decision = split(want[static_cast<size_t>(1 + level)], 2);
      const std::string id = "IDAPROVNIV" + std::to_string(level);
      const std::string date = "DTAPROVNIV" + std::to_string(level);
      EXPECT_EQ(decision[0], Text(packet, row, id.c_str()));
      EXPECT_EQ(Iso(decision[1]), DateText(packet, row, date.c_str()));
    }
    EXPECT_EQ(Iso(want[5]), DateText(packet, row, "DTCONCOLEPREC"));
    const auto order = split(want[6], 2);
    EXPECT_EQ(Iso(order[0]), DateText(packet, row, "DTAUTOFORN"));
    EXPECT_EQ(Iso(order[1]), DateText(packet, row, "DTPROGENTAF"));
    const auto invoice = split(want[7], 3);
    EXPECT_EQ(Iso(invoice[0]), DateText(packet, row, "DTEMISSAO"));
    EXPECT_EQ(Iso(invoice[1]), DateText(packet, row, "DTENTRSAID"));
    EXPECT_EQ(Iso(invoice[2]), DateText(packet, row, "DTAPROVACAO"));
    EXPECT_EQ(want[8], Text(packet, row, "STATUS"));
    statuses.insert(want[8]);
  }
  EXPECT_EQ(10u, statuses.size()) << "the demo shows every status";
}

// The days of each stage, worked out in SQL from the stored dates (julianday of the days), for
// every item that went through every stage; then, for every item, a stage is empty exactly
// where one of its two dates is missing.
TEST(Report, StageDays_AreTheDaysBetweenTheDatabaseDates) {
  auto client = ReportClient();
  const double reference = Day(2024, 7, 31);
  Rel_sup00700::TReportFilter filter;
  filter.ReferenceDay = static_cast<int64_t>(reference);
  const Rel_sup00700::TReportData data(Report(client, ReportArgs(kFirst, kLast)), filter);

  const std::string approvalEnd =
      "(SELECT MAX(G.DTAPRSOLPRODGER) FROM APROVACAOGERENTE G WHERE G.CDFILLAN = I.CDFILLAN "
      "AND G.NRSOLICMP = I.NRSOLICMP AND G.CDDESTSOLI = I.CDDESTSOLI)";
  auto days = [](const std::string& from, const std::string& to) {
    return "CAST(julianday(date(" + to + ")) - julianday(date(" + from + ")) AS INTEGER)";
  };
  const auto complete =
      Sql(std::string("SELECT ") + kItemKey + ", " + days("S.DTHRLANCSOL", approvalEnd) + ", " +
          days(approvalEnd, "C.DTCONCOLEPREC") + ", " + days("C.DTCONCOLEPREC", "A.DTAUTOFORN") +
          ", " + days("A.DTAUTOFORN", "N.DTEMISSAO") + ", " + days("N.DTEMISSAO", "N.DTENTRSAID") +
          ", " + days("N.DTENTRSAID", "N.DTAPROVACAO") +
          " FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING (CDFILLAN, NRSOLICMP) "
          "JOIN COLETAPRECO C ON C.CDFILIAL = I.CDFILIAL AND C.NRCOLEPRECO = I.NRCOLEPRECO "
          "JOIN ITEMAUTOFORN AI ON AI.CDFILLAN = I.CDFILLAN AND AI.NRSOLICMP = I.NRSOLICMP AND "
          "AI.NRITEMSOLI = I.NRITEMSOLI JOIN AUTORIZACAOFORN A ON A.CDFILIAL = AI.CDFILIAL AND "
          "A.NRAUTOFORN = AI.NRAUTOFORN JOIN NOTAFISCAL N ON N.CDFILIAL = A.CDFILIAL AND "
          "N.NRAUTOFORN = A.NRAUTOFORN WHERE N.DTAPROVACAO IS NOT NULL AND NOT EXISTS (SELECT 1 "
          "FROM APROVACAOGERENTE G WHERE G.CDFILLAN = I.CDFILLAN AND G.NRSOLICMP = I.NRSOLICMP "
          "AND G.CDDESTSOLI = I.CDDESTSOLI AND G.IDAPROVPRGER <> 'S')");
  ASSERT_GT(complete.size(), 5u);
  std::map<std::string, size_t> rowOf;
  for (size_t row = 0; row < data.RowCount(); ++row) rowOf[KeyOf(data.Packet(), row)] = row;
  for (const auto& item : complete) {
    SCOPED_TRACE(item[0]);
    ASSERT_TRUE(rowOf.count(item[0]));
    const auto& stages = data.Stages(rowOf[item[0]]);
    for (size_t stage = 0; stage < 6; ++stage) {
      ASSERT_TRUE(stages.Days[stage].has_value()) << "stage " << stage;
      EXPECT_EQ(std::stoi(item[stage + 1]), *stages.Days[stage]) << "stage " << stage;
    }
  }

  // Every item: no day count for a stage without both dates, none negative.
  int empty = 0;
  for (size_t row = 0; row < data.RowCount(); ++row) {
    const auto dates = data.Dates(row);
    const auto& stages = data.Stages(row);
    SCOPED_TRACE(KeyOf(data.Packet(), row));
    const std::optional<double> starts[] = {dates.Entered,       stages.ApprovalDecided,
                                            dates.Quoted,        dates.OrderEntered,
                                            dates.InvoiceIssued, dates.InvoiceEntered};
    const std::optional<double> ends[] = {stages.ApprovalDecided, dates.Quoted,
                                          dates.OrderEntered,     dates.InvoiceIssued,
                                          dates.InvoiceEntered,   dates.InvoiceApproved};
    for (size_t stage = 0; stage < 6; ++stage) {
      if (!starts[stage] || !ends[stage]) {
        EXPECT_FALSE(stages.Days[stage].has_value()) << "stage " << stage;
        ++empty;
      } else {
        ASSERT_TRUE(stages.Days[stage].has_value()) << "stage " << stage;
        EXPECT_GE(*stages.Days[stage], 0);
      }
    }
  }
  EXPECT_GT(empty, 100) << "the demo has items at every stage";

  // Late: open, AF due before the reference day, no NF; the same rule in SQL.
  const auto late = Sql(std::string("SELECT ") + kItemKey +
                        " FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING (CDFILLAN, NRSOLICMP) "
                        "JOIN ITEMAUTOFORN AI ON AI.CDFILLAN = I.CDFILLAN AND AI.NRSOLICMP = "
                        "I.NRSOLICMP AND AI.NRITEMSOLI = I.NRITEMSOLI JOIN AUTORIZACAOFORN A ON "
                        "A.CDFILIAL = AI.CDFILIAL AND A.NRAUTOFORN = AI.NRAUTOFORN LEFT JOIN "
                        "NOTAFISCAL N ON N.CDFILIAL = A.CDFILIAL AND N.NRAUTOFORN = A.NRAUTOFORN "
                        "WHERE I.STATUS NOT IN ('2', '3', '4', '5') AND N.NRNOTAFISC IS NULL "
                        "AND date(A.DTPROGENTAF) < '2024-07-31' ORDER BY 1");
  std::vector<std::string> marked;
  for (size_t row = 0; row < data.RowCount(); ++row)
    if (data.Stages(row).Late) marked.push_back(KeyOf(data.Packet(), row));
  std::sort(marked.begin(), marked.end());
  std::vector<std::string> expectedLate;
  for (const auto& item : late) expectedLate.push_back(item[0]);
  EXPECT_FALSE(expectedLate.empty());
  EXPECT_EQ(expectedLate, marked);
}

// Demo items worked out by hand from their dates in the database (seed 7), data-base 20/09/2023.
TEST(Report, StageDays_HandComputedDemoItems) {
  auto client = ReportClient();
  Rel_sup00700::TReportFilter filter;
  filter.ReferenceDay = static_cast<int64_t>(Day(2023, 9, 20));
  const Rel_sup00700::TReportData data(Report(client, ReportArgs(kFirst, kLast)), filter);
  std::map<std::string, size_t> rowOf;
  for (size_t row = 0; row < data.RowCount(); ++row) rowOf[KeyOf(data.Packet(), row)] = row;

  using TDays = std::array<std::optional<int>, 6>;
  struct TCase {
    const char* Item;
    TDays Days;
    std::optional<int> Aging;
    const char* Waiting;
    std::optional<int> DaysLate;
  };
  const std::optional<int> none;
  const TCase cases[] = {
      // Baixa Total: entered 03/09, levels up to 04/09 13:52, quoted 08/09, AF 10/09, NF issued
      // and entered 17/09, approved 19/09.
      {"0001/2023000009/0001/1", {1, 4, 2, 7, 0, 2}, none, "", none},
      // Encerrada: one level on 31/08 after 30/08; AF 13/09 to NF 07/10 crosses a month.
      {"0002/2023000007/0002/1", {1, 12, 1, 24, 1, 3}, none, "", none},
      // Em Aberto: AF entered 09/08, due 08/09, no NF: 42 days since the AF, 12 days late.
      {"0001/2023000004/0001/1", {1, 6, 1, none, none, none}, 42, "NF do fornecedor", 12},
      // EDI (open): AF due 01/10, after the data-base, so not late yet; 16 days since 04/09.
      {"0006/2023000005/0005/2", {2, 5, 3, none, none, none}, 16, "NF do fornecedor", none},
      // Cancelada: level 3 refused on 01/09 ends the approval; nothing after it.
      {"0005/2023000006/0005/1", {2, none, none, none, none, none}, none, "", none},
      // Aguardando Aprovação: level 3 pending leaves the approval open; aging from the last
      // decision (24/07).
      {"0002/2023000001/0002/1", {none, none, none, none, none, none}, 58, "Aprovação", none},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Item);
    ASSERT_TRUE(rowOf.count(c.Item));
    const auto& stages = data.Stages(rowOf[c.Item]);
    EXPECT_EQ(c.Days, stages.Days);
    EXPECT_EQ(c.Aging, stages.Aging);
    EXPECT_EQ(c.Waiting, Rel_sup00700::WaitingText(stages));
    EXPECT_EQ(c.DaysLate.has_value(), stages.Late);
    EXPECT_EQ(c.DaysLate, stages.DaysLate);
  }
}

TEST(Report, Filters_BranchesAndStatuses) {
  auto client = ReportClient();
  const fw::TDataPacket packet =
      Report(client, ReportArgs(kFirst, kLast, "'0002','0005'", "'A','5','2'"));
  const std::string expected = SqlValue(
      "SELECT COUNT(*) FROM SOLICITACAO S JOIN ITEMSOLICITACAO I USING (CDFILLAN, "
      "NRSOLICMP) WHERE S.CDFILIAL IN ('0002', '0005') AND I.STATUS IN ('A', '5', '2')");
  ASSERT_NE("0", expected);
  EXPECT_EQ(expected, std::to_string(packet.RowCount()));
  std::set<std::string> branches, statuses;
  for (size_t row = 0; row < packet.RowCount(); ++row) {
    branches.insert(Text(packet, row, "CDFILIAL"));
    statuses.insert(Text(packet, row, "STATUS"));
  }
  EXPECT_EQ((std::set<std::string>{"0002", "0005"}), branches);
  EXPECT_EQ((std::set<std::string>{"2", "5", "A"}), statuses);
  // A list whose flag is "T" is not read, even when malformed.
  auto all = ReportArgs(kFirst, kLast);
  all[3] = TRemoteArg::FromString("'0002");
  EXPECT_EQ(SqlValue("SELECT COUNT(*) FROM ITEMSOLICITACAO"),
            std::to_string(Report(client, all).RowCount()));
  // An empty list with its flag not "T" matches nothing.
  auto none = ReportArgs(kFirst, kLast);
  none[4] = TRemoteArg::FromString("");
  EXPECT_EQ(0u, Report(client, none).RowCount());
}

TEST(Report, BadInput_RefusedOrAnsweredWithAnError_TheConnectionStaysUsable) {
  auto client = ReportClient();
  auto malformed = ReportArgs(kFirst, kLast, "'0001',0002");
  fw::TRemoteResult refused = client.Invoke(service::kReportMethodName, malformed);
  ASSERT_TRUE(refused.Refused);
  EXPECT_EQ(
      "A lista de filiais selecionadas está malformada (stLFilSoli, posição 8: "
      "esperava-se aspa simples de abertura).",
      refused.RefusalMessage);
  auto statuses = ReportArgs(kFirst, kLast, "", "'A''");
  refused = client.Invoke(service::kReportMethodName, statuses);
  ASSERT_TRUE(refused.Refused);
  EXPECT_NE(std::string::npos, refused.RefusalMessage.find("A lista de situações selecionadas"));
  auto absurd = ReportArgs(1e300, kLast);
  refused = client.Invoke(service::kReportMethodName, absurd);
  ASSERT_TRUE(refused.Refused);
  EXPECT_EQ("Data inválida em dtSoliIni: fora do intervalo de 01/01/0001 a 31/12/9999.",
            refused.RefusalMessage);

  auto expectError = [&](const std::string& method, std::vector<TRemoteArg> args,
                         const std::string& message) {
    try {
      client.Invoke(method, args);
      ADD_FAILURE() << "no error for " << message;
    } catch (const fw::ERemoteError& error) {
      EXPECT_EQ(message, std::string(error.what()));
    }
  };
  auto shortList = ReportArgs(kFirst, kLast);
  shortList.pop_back();
  expectError(service::kReportMethodName, shortList,
              "O método GetRelAcomp espera 6 parâmetros; recebeu 5.");
  auto wrongKind = ReportArgs(kFirst, kLast);
  wrongKind[0] = TRemoteArg::FromString("01/01/2024");
  expectError(service::kReportMethodName, wrongKind,
              "Parâmetro 1 (dtSoliIni) de GetRelAcomp: esperava-se data (número), veio texto.");
  auto notUtf8 = ReportArgs(kFirst, kLast, "", std::string("'\xC3'"));
  expectError(service::kReportMethodName, notUtf8,
              "Parâmetro 6 (stLStatus) de GetRelAcomp: o texto não é UTF-8 válido");
  auto big = ReportArgs(kFirst, kLast);
  big[4] = TRemoteArg::FromString(std::string(70000, 'x'));
  expectError(service::kReportMethodName, big,
              "Parâmetro 5 (stTStatus) de GetRelAcomp excede o limite de 64 KiB.");
  std::vector<TRemoteArg> noArgs;
  expectError("GetItens", noArgs, "Método desconhecido: SUP00700.rdmRelAcomp.GetItens.");
  // A name the client made up is quoted escaped and cut short, never as it came.
  try {
    client.Invoke("Get\nRel" + std::string(300, 'x'), noArgs);
    ADD_FAILURE() << "no error for a made-up name";
  } catch (const fw::ERemoteError& error) {
    const std::string message = error.what();
    EXPECT_EQ(0u, message.find("Método desconhecido: SUP00700.rdmRelAcomp.Get\\nRelxxx"))
        << message;
    EXPECT_LT(message.size(), 160u) << message;
  }
  // Still answering on the same connection.
  EXPECT_GT(Report(client, ReportArgs(kFirst, kLast)).RowCount(), 0u);
}

// Dates a site's data may lack, or hold out of order: the stage has no days, never 0 or a
// negative count.
TEST(Report, MissingOrDisorderedDates_LeaveTheStageEmpty) {
  const auto item =
      Sql("SELECT I.CDFILLAN, I.NRSOLICMP, I.NRITEMSOLI, I.CDFILIAL, I.NRCOLEPRECO, "
          "AI.CDFILIAL, AI.NRAUTOFORN, I.CDDESTSOLI FROM ITEMSOLICITACAO I JOIN ITEMAUTOFORN AI "
          "USING (CDFILLAN, NRSOLICMP, NRITEMSOLI) JOIN NOTAFISCAL N ON N.CDFILIAL = "
          "AI.CDFILIAL AND N.NRAUTOFORN = AI.NRAUTOFORN WHERE I.STATUS = '2' AND "
          "N.DTAPROVACAO IS NOT NULL ORDER BY I.NRSOLICMP LIMIT 1")
          .at(0);
  TOwnDemo own;
  const std::string quotation =
      " WHERE CDFILIAL = '" + item[3] + "' AND NRCOLEPRECO = '" + item[4] + "'";
  const std::string order =
      " WHERE CDFILIAL = '" + item[5] + "' AND NRAUTOFORN = '" + item[6] + "'";
  own.Execute("UPDATE COLETAPRECO SET DTCONCOLEPREC = NULL" + quotation);
  // The NF entered the day before it was issued.
  own.Execute(EngineUnderTest() == TEngine::Postgres
                  ? "UPDATE NOTAFISCAL SET DTENTRSAID = DTEMISSAO - INTERVAL '1 day'" + order
                  : "UPDATE NOTAFISCAL SET DTENTRSAID = datetime(DTEMISSAO, '-1 day')" + order);
  TTempDir logs;
  TServerProcess server(own.Location(), logs.Path() + "/server.log");
  auto client = ReportClient(server.Port());
  Rel_sup00700::TReportFilter filter;
  const Rel_sup00700::TReportData data(Report(client, ReportArgs(kFirst, kLast)), filter);
  bool found = false;
  for (size_t row = 0; row < data.RowCount(); ++row) {
    if (Text(data.Packet(), row, "CDFILLAN") != item[0] ||
        Text(data.Packet(), row, "NRSOLICMP") != item[1] ||
        std::to_string(std::llround(*data.Number(row, "NRITEMSOLI"))) != item[2])
      continue;
    found = true;
    const auto& days = data.Stages(row).Days;
    EXPECT_TRUE(days[0].has_value()) << "approval";
    EXPECT_FALSE(days[1].has_value()) << "quotation: its end is missing";
    EXPECT_FALSE(days[2].has_value()) << "AF: its start is missing";
    EXPECT_TRUE(days[3].has_value()) << "supplier";
    EXPECT_FALSE(days[4].has_value()) << "NF entered before it was issued";
    EXPECT_TRUE(days[5].has_value()) << "NF approval: from the entry, as stored";
  }
  EXPECT_TRUE(found);
}

TEST(Documentation, ReportStatementsAreQuotedAsTheServerRunsThem) {
  std::ifstream file(std::string(SOURCE_DIR) + "/docs/reports.md");
  std::stringstream text;
  text << file.rdbuf();
  for (const auto dialect : {app::TDialect::Sqlite, app::TDialect::Postgres})
    EXPECT_NE(std::string::npos, text.str().find(app::ReportSql(dialect)));
}

}  // namespace
}  // namespace testing_app
