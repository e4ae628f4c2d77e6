// The report's arithmetic on items whose days were counted by hand: each stage from its own
// start to its own end, empty when a date is missing or out of order, the approval's end, the
// last step and the days since, the stage an item waits in, and lateness.
#include <gtest/gtest.h>

#include <cmath>

#include "report_module/rel_acomp_data.h"
#include "tests/report_module/report_rows.h"

namespace Rel_sup00700 {
namespace {

using report_test::Date;

int64_t DayNumber(const std::string& text) {
  return static_cast<int64_t>(std::llround(Date(text)));
}

// An item that went all the way: entered 04/03/2024 at 10:00, approved on two levels (05/03
// 17:30, 07/03 08:00), quoted 15/03, AF entered 18/03 (due 30/03), NF issued 28/03, entered
// 01/04, approved 03/04. By hand: 3, 8, 3, 10, 4 and 2 days.
TItemDates Complete() {
  TItemDates dates;
  dates.Entered = Date("04/03/2024 10:00:00");
  dates.LevelDecision = {"S", "S", ""};
  dates.Levels = {Date("05/03/2024 17:30:00"), Date("07/03/2024 08:00:00"), std::nullopt};
  dates.Quoted = Date("15/03/2024 11:00:00");
  dates.OrderEntered = Date("18/03/2024 09:00:00");
  dates.OrderDue = Date("30/03/2024");
  dates.InvoiceIssued = Date("28/03/2024");
  dates.InvoiceEntered = Date("01/04/2024 14:00:00");
  dates.InvoiceApproved = Date("03/04/2024 08:00:00");
  dates.Status = "2";
  return dates;
}

using TDays = std::array<std::optional<int>, kStageCount>;

TEST(ReportStages, CompleteItem_DaysOfEachStageCountedInCalendarDays) {
  const TItemStages stages = ComputeStages(Complete(), DayNumber("30/04/2024"));
  EXPECT_EQ((TDays{3, 8, 3, 10, 4, 2}), stages.Days);
  EXPECT_EQ(Date("07/03/2024 08:00:00"), stages.ApprovalDecided);
  EXPECT_EQ(Date("03/04/2024 08:00:00"), stages.LastStep);
  // Closed (Baixa Total): no aging, waits for nothing, never late.
  EXPECT_FALSE(stages.Aging);
  EXPECT_EQ(-1, stages.WaitingStage);
  EXPECT_EQ("", WaitingText(stages));
  EXPECT_FALSE(stages.Late);
}

TEST(ReportStages, DaysBetween_CalendarDaysOrNothing) {
  EXPECT_EQ(1, DaysBetween(Date("04/03/2024 16:00:00"), Date("05/03/2024 09:00:00")));
  EXPECT_EQ(0, DaysBetween(Date("04/03/2024 08:00:00"), Date("04/03/2024 18:00:00")));
  EXPECT_EQ(366, DaysBetween(Date("01/01/2024"), Date("01/01/2025"))) << "2024 is a leap year";
  EXPECT_FALSE(DaysBetween(std::nullopt, Date("01/01/2024")));
  EXPECT_FALSE(DaysBetween(Date("01/01/2024"), std::nullopt));
  EXPECT_FALSE(DaysBetween(Date("02/01/2024"), Date("01/01/2024"))) << "out of order";
  // Before the zero date the time still counts forwards in the day.
  EXPECT_EQ(1, DaysBetween(Date("29/12/1899 18:00:00"), Date("30/12/1899 06:00:00")));
}

TEST(ReportStages, MissingDates_LeaveTheirStagesEmpty_NeverZeroOrNegative) {
  struct TCase {
    const char* Name;
    std::function<void(TItemDates&)> Change;
    TDays Days;
  };
  const std::vector<TCase> cases = {
      {"no quotation date",
       [](TItemDates& d) { d.Quoted.reset(); },
       {3, std::nullopt, std::nullopt, 10, 4, 2}},
      {"no AF",
       [](TItemDates& d) { d.OrderEntered.reset(); },
       {3, 8, std::nullopt, std::nullopt, 4, 2}},
      {"no NF entry",
       [](TItemDates& d) { d.InvoiceEntered.reset(); },
       {3, 8, 3, 10, std::nullopt, std::nullopt}},
      {"no request date", [](TItemDates& d) { d.Entered.reset(); }, {std::nullopt, 8, 3, 10, 4, 2}},
      {"AF before the quotation",
       [](TItemDates& d) { d.OrderEntered = Date("14/03/2024"); },
       {3, 8, std::nullopt, 14, 4, 2}},
      {"a level approved without its date",
       [](TItemDates& d) { d.Levels[1].reset(); },
       {std::nullopt, std::nullopt, 3, 10, 4, 2}},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Name);
    TItemDates dates = Complete();
    test.Change(dates);
    EXPECT_EQ(test.Days, ComputeStages(dates, DayNumber("30/04/2024")).Days);
  }
}

TEST(ReportStages, Approval_EndsWithTheLastDecision_OrTheRefusal_OrStaysOpen) {
  TItemDates pending = Complete();
  pending.Status = "A";
  pending.LevelDecision = {"S", "P", ""};
  pending.Levels = {Date("05/03/2024"), std::nullopt, std::nullopt};
  pending.Quoted = pending.OrderEntered = pending.OrderDue = std::nullopt;
  pending.InvoiceIssued = pending.InvoiceEntered = pending.InvoiceApproved = std::nullopt;
  TItemStages stages = ComputeStages(pending, DayNumber("20/03/2024"));
  EXPECT_FALSE(stages.ApprovalDecided);
  EXPECT_FALSE(stages.Days[0]);
  EXPECT_EQ(0, stages.WaitingStage);
  EXPECT_EQ("Aprovação", WaitingText(stages));
  // The last step is the first level's decision.
  EXPECT_EQ(Date("05/03/2024"), stages.LastStep);
  EXPECT_EQ(15, stages.Aging);

  TItemDates refused = pending;
  refused.Status = "5";
  refused.LevelDecision = {"S", "N", "P"};
  refused.Levels = {Date("05/03/2024"), Date("06/03/2024"), std::nullopt};
  stages = ComputeStages(refused, DayNumber("20/03/2024"));
  EXPECT_EQ(Date("06/03/2024"), stages.ApprovalDecided);
  EXPECT_EQ(2, stages.Days[0]);
  EXPECT_EQ(-1, stages.WaitingStage) << "Cancelada waits for nothing";

  // Without any level the item needed no approval: the quotation counts from the request.
  TItemDates none = Complete();
  none.LevelDecision = {"", "", ""};
  none.Levels = {std::nullopt, std::nullopt, std::nullopt};
  stages = ComputeStages(none, DayNumber("30/04/2024"));
  EXPECT_FALSE(stages.Days[0]);
  EXPECT_EQ(11, stages.Days[1]) << "04/03 to 15/03";
}

TEST(ReportStages, OpenItems_AgingAndTheStageTheyWaitIn) {
  TItemDates quoted = Complete();
  quoted.Status = "C";
  quoted.OrderEntered = quoted.OrderDue = std::nullopt;
  quoted.InvoiceIssued = quoted.InvoiceEntered = quoted.InvoiceApproved = std::nullopt;
  TItemStages stages = ComputeStages(quoted, DayNumber("25/03/2024"));
  EXPECT_EQ("Emissão da AF", WaitingText(stages));
  EXPECT_EQ(10, stages.Aging) << "since the quotation on 15/03";
  // A reference day before the last step gives no aging at all.
  EXPECT_FALSE(ComputeStages(quoted, DayNumber("14/03/2024")).Aging);

  // A gap in the data: the AF is there without the quotation's date; the item is past both.
  TItemDates gap = Complete();
  gap.Status = "D";
  gap.Quoted.reset();
  gap.InvoiceIssued = gap.InvoiceEntered = gap.InvoiceApproved = std::nullopt;
  stages = ComputeStages(gap, DayNumber("25/03/2024"));
  EXPECT_EQ("NF do fornecedor", WaitingText(stages));
  EXPECT_EQ(7, stages.Aging) << "since the AF on 18/03";

  // Every date there and still open (Baixa Parcial): the rest of the delivery.
  TItemDates partial = Complete();
  partial.Status = "1";
  EXPECT_EQ("Entrega do saldo", WaitingText(ComputeStages(partial, DayNumber("10/04/2024"))));
}

TEST(ReportStages, Late_OpenPastTheAfDueDayWithoutAnNf) {
  TItemDates open = Complete();
  open.Status = "D";
  open.InvoiceIssued = open.InvoiceEntered = open.InvoiceApproved = std::nullopt;
  TItemStages stages = ComputeStages(open, DayNumber("10/04/2024"));
  EXPECT_TRUE(stages.Late);
  EXPECT_EQ(11, stages.DaysLate) << "due 30/03";
  EXPECT_FALSE(ComputeStages(open, DayNumber("30/03/2024")).Late) << "the due day itself";
  EXPECT_TRUE(ComputeStages(open, DayNumber("31/03/2024")).Late);

  TItemDates invoiced = Complete();
  invoiced.Status = "D";
  invoiced.InvoiceIssued = Date("05/04/2024");
  EXPECT_FALSE(ComputeStages(invoiced, DayNumber("10/04/2024")).Late) << "an NF came, late";

  TItemDates closed = open;
  closed.Status = "3";
  EXPECT_FALSE(ComputeStages(closed, DayNumber("10/04/2024")).Late) << "closed by hand";
  TItemDates undated = open;
  undated.OrderDue.reset();
  EXPECT_FALSE(ComputeStages(undated, DayNumber("10/04/2024")).Late) << "no due date";
}

TEST(ReportData, GroupsByBranch_AveragesOverTheMeasuredItemsOnly) {
  using report_test::TRow;
  const TRow done = {{"CDFILIAL", "0001"},          {"NMFILIAL", "Matriz"},
                     {"NRSOLICMP", "2024000001"},   {"STATUS", "2"},
                     {"DTHRLANCSOL", "04/03/2024"}, {"IDAPROVNIV1", "S"},
                     {"DTAPROVNIV1", "06/03/2024"}, {"DTCONCOLEPREC", "10/03/2024"},
                     {"DTAUTOFORN", "11/03/2024"},  {"DTPROGENTAF", "20/03/2024"},
                     {"DTEMISSAO", "19/03/2024"},   {"DTENTRSAID", "20/03/2024"},
                     {"DTAPROVACAO", "21/03/2024"}};
  TRow waiting = {{"CDFILIAL", "0001"}, {"NMFILIAL", "Matriz"},        {"NRSOLICMP", "2024000002"},
                  {"STATUS", "A"},      {"DTHRLANCSOL", "05/03/2024"}, {"IDAPROVNIV1", "P"}};
  TRow other = done;
  other["CDFILIAL"] = "0002";
  other["NMFILIAL"] = "Filial Campinas";
  other["DTAPROVNIV1"] = "08/03/2024";
  TReportFilter filter;
  filter.ReferenceDay = DayNumber("01/04/2024");
  const TReportData data(report_test::MakePacket({done, waiting, other}), filter);
  ASSERT_EQ(2u, data.Branches().size());
  const TBranchGroup& first = data.Branches()[0];
  EXPECT_EQ("Matriz", first.Name);
  EXPECT_EQ(0u, first.FirstRow);
  EXPECT_EQ(2u, first.RowCount);
  EXPECT_EQ(2, first.Totals.Items);
  EXPECT_EQ(1, first.Totals.Open);
  EXPECT_EQ(1, first.Totals.Measured[0]) << "the pending approval is not counted";
  EXPECT_DOUBLE_EQ(2.0, *first.Totals.Average(0));
  EXPECT_EQ(2, data.Totals().Measured[0]);
  EXPECT_DOUBLE_EQ(3.0, *data.Totals().Average(0)) << "(2 + 4) / 2";
  EXPECT_DOUBLE_EQ(3.0, *data.Totals().Average(1)) << "(4 + 2) / 2: 06/03 and 08/03 to 10/03";
  EXPECT_EQ(27, data.Stages(1).Aging);

  fw::TDataPacket missing({{"CDFILIAL", fw::TFieldType::ftString, 4}});
  EXPECT_THROW(TReportData(std::move(missing), filter), std::invalid_argument);
}

TEST(ReportData, DayTexts) {
  EXPECT_EQ("05/03/2024", DayText(Date("05/03/2024 23:59:00")));
  EXPECT_EQ("", DayText(std::nullopt));
  EXPECT_EQ(DayNumber("01/03/2024"), ParseDay("01/03/2024"));
  EXPECT_FALSE(ParseDay("31/02/2024"));
  EXPECT_FALSE(ParseDay("1/3/2024"));
  EXPECT_FALSE(ParseDay("01/03/2024 10:00:00"));
  EXPECT_FALSE(ParseDay(""));
  EXPECT_EQ("Aguardando Aprovação", StatusText("A"));
  EXPECT_EQ("X", StatusText("X"));
}

}  // namespace
}  // namespace Rel_sup00700
