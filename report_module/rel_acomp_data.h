// Unit Rel_sup00700 (data): the report "Relatório de Acompanhamento de Solicitações" as numbers,
// before any painting. Standard library and the framework's data layer only.
//
// The service returns one row per request item with the date of every stage
// (protocol/report_contract.h). From those dates this unit works out, per item:
// - the days spent in each of the six stages, each from its own start date to its own end date:
//     Aprovação     request entered          -> approval decided (all levels, or a refusal)
//     Cotação       approval decided         -> quotation concluded
//     Emissão AF    quotation concluded      -> AF entered
//     Fornecedor    AF entered               -> NF issued
//     Entrada NF    NF issued                -> NF entered
//     Aprovação NF  NF entered               -> NF approved
//   counted in calendar days (the days of the two dates, times of day dropped: entered on 04/03
//   at 16:00 and approved on 05/03 at 09:00 is 1 day). A stage whose start or end date is
//   missing has no days (empty, never 0); nor does one whose end comes before its start (data
//   out of order, which a number would hide);
// - the last step that happened (the furthest stage in the flow with its date), the days since
//   then up to the reference day ("parado há"), and the stage the item waits in, for an item
//   still open (every status but Cancelada, Encerrada, Baixa Manual and Baixa Total);
// - whether it is late: open, with an AF due date before the reference day and no NF issued.
// Per branch and for the whole report: items, open and late items, and the average days of each
// stage over the items that have that stage's days.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/packet.h"

namespace Rel_sup00700 {

inline constexpr int kStageCount = 6;

// The stages, in flow order: their short (column) and long names, and what an item waiting in
// the stage waits for.
struct TStageName {
  const char* Short;
  const char* Long;
  const char* Waiting;
};
const std::array<TStageName, kStageCount>& StageNames();

// The ten item statuses, in the order the dialog offers them.
struct TStatusName {
  const char* Code;
  const char* Text;
};
const std::vector<TStatusName>& Statuses();
// "Aguardando Aprovação" for "A"; the code itself for one not listed.
std::string StatusText(const std::string& code);
// Cancelada, Encerrada, Baixa Manual, Baixa Total: nothing more is expected of the item.
bool IsClosedStatus(const std::string& code);

// What the user asked for.
struct TReportFilter {
  int64_t FirstDay = 0;  // request-date range, days since 30/12/1899, both ends included
  int64_t LastDay = 0;
  std::vector<std::string> Branches;  // empty: every branch
  std::vector<std::string> Statuses;  // empty: every status
  int64_t ReferenceDay = 0;           // "data-base" of aging and lateness: usually today
};

// The stage dates of one item, as days since 30/12/1899 (the fraction is the time of day).
struct TItemDates {
  std::optional<double> Entered;                // DTHRLANCSOL
  std::array<std::string, 3> LevelDecision;     // IDAPROVNIV1..3: "S", "N", "P" or "" (none)
  std::array<std::optional<double>, 3> Levels;  // DTAPROVNIV1..3
  std::optional<double> Quoted;                 // DTCONCOLEPREC
  std::optional<double> OrderEntered;           // DTAUTOFORN
  std::optional<double> OrderDue;               // DTPROGENTAF
  std::optional<double> InvoiceIssued;          // DTEMISSAO
  std::optional<double> InvoiceEntered;         // DTENTRSAID
  std::optional<double> InvoiceApproved;        // DTAPROVACAO
  std::string Status;
};

// What the report shows of one item beyond its own fields.
struct TItemStages {
  std::array<std::optional<int>, kStageCount> Days;
  // The end of the approval: the last level decided when none is pending, or the first refusal.
  // Without any level the item needed no approval: the quotation counts from the request.
  std::optional<double> ApprovalDecided;
  std::optional<double> LastStep;  // date of the furthest stage that happened
  std::optional<int> Aging;        // open items: reference day - day of the last step
  int WaitingStage = -1;           // open items: the stage it waits in (kStageCount: the rest
                                   // of the delivery, every stage done); -1 when closed
  bool Late = false;
  std::optional<int> DaysLate;  // when late: reference day - AF due day
};

// Calendar days from `from` to `to`: empty when either is missing or `to` comes first.
std::optional<int> DaysBetween(const std::optional<double>& from, const std::optional<double>& to);
TItemStages ComputeStages(const TItemDates& dates, int64_t referenceDay);
// What an open item waits for ("Cotação", ..., "Entrega do saldo"); "" when closed.
std::string WaitingText(const TItemStages& stages);

// Averages over the items that have the stage's days; of the late items, the days late; of the
// open items with a last step, the days they have been waiting ("parado há").
struct TStageTotals {
  std::array<long long, kStageCount> DaySum{};
  std::array<int, kStageCount> Measured{};
  int Items = 0;
  int Open = 0;
  int Late = 0;
  long long LateDaySum = 0;
  long long AgingSum = 0;
  int Aged = 0;
  void Add(const TItemStages& stages);
  std::optional<double> Average(int stage) const;
  std::optional<double> AverageLate() const;
  std::optional<double> AverageAging() const;
};

// A branch's rows in the packet.
struct TBranchGroup {
  std::string Code;
  std::string Name;
  size_t FirstRow = 0;
  size_t RowCount = 0;
  TStageTotals Totals;
};

// The packet GetRelAcomp returned, with the stages of every row and the branch groups. The rows
// stay in the packet's columns (about 250 bytes an item); the stages take 60 more.
class TReportData {
 public:
  // Raises std::invalid_argument when the packet lacks a field of the contract or has one of
  // another type.
  TReportData(fw::TDataPacket packet, TReportFilter filter);

  const fw::TDataPacket& Packet() const { return packet_; }
  const TReportFilter& Filter() const { return filter_; }
  size_t RowCount() const { return packet_.RowCount(); }
  const std::vector<TBranchGroup>& Branches() const { return branches_; }
  const TStageTotals& Totals() const { return totals_; }
  const TItemStages& Stages(size_t row) const { return stages_[row]; }
  TItemDates Dates(size_t row) const;

  // A field's text in a row ("" for null); numbers and dates as the contract gives them.
  std::string Text(size_t row, const char* field) const;
  std::optional<double> Number(size_t row, const char* field) const;

 private:
  int Index(const char* field) const;

  fw::TDataPacket packet_;
  TReportFilter filter_;
  std::vector<TItemStages> stages_;
  std::vector<TBranchGroup> branches_;
  TStageTotals totals_;
};

// Texts of the Brazilian locale: "05/03/2024" of a day number; "" for none.
std::string DayText(const std::optional<double>& days);
// "dd/mm/aaaa" typed by a user (or a script) as a day number; nullopt when it is not a date.
std::optional<int64_t> ParseDay(const std::string& text);
// Today, in local time.
int64_t Today();

}  // namespace Rel_sup00700
