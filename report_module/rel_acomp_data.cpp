#include "report_module/rel_acomp_data.h"

#include <cmath>
#include <ctime>
#include <stdexcept>

#include "protocol/datetime.h"
#include "protocol/report_contract.h"

namespace Rel_sup00700 {

namespace {

// The day of an instant, as the framework's dates read it (a time that rounds up to midnight is
// the next day's start).
int64_t DayOf(double value) {
  const fw::TDateParts parts = fw::DecodeDateTime(value);
  return static_cast<int64_t>(
      std::llround(fw::EncodeDateTime({parts.Year, parts.Month, parts.Day})));
}

std::optional<double> Later(const std::optional<double>& a, double b) {
  return a && *a >= b ? a : std::optional<double>(b);
}

}  // namespace

const std::array<TStageName, kStageCount>& StageNames() {
  static const std::array<TStageName, kStageCount> names = {{
      {"Aprov.", "Aprovação", "Aprovação"},
      {"Cotação", "Cotação", "Cotação"},
      {"Emis. AF", "Emissão da AF", "Emissão da AF"},
      {"Fornec.", "Fornecedor (AF até a NF)", "NF do fornecedor"},
      {"Entr. NF", "Entrada da NF", "Entrada da NF"},
      {"Apr. NF", "Aprovação da NF", "Aprovação da NF"},
  }};
  return names;
}

const std::vector<TStatusName>& Statuses() {
  static const std::vector<TStatusName> statuses = {
      {"A", "Aguardando Aprovação"},
      {"B", "Aguardando Cotação"},
      {"C", "Cotado"},
      {"D", "Em Aberto"},
      {"7", "EDI"},
      {"1", "Baixa Parcial"},
      {"2", "Baixa Total"},
      {"3", "Baixa Manual"},
      {"4", "Encerrada"},
      {"5", "Cancelada"},
  };
  return statuses;
}

std::string StatusText(const std::string& code) {
  for (const TStatusName& status : Statuses())
    if (code == status.Code) return status.Text;
  return code;
}

bool IsClosedStatus(const std::string& code) {
  return code == "5" || code == "4" || code == "3" || code == "2";
}

std::optional<int> DaysBetween(const std::optional<double>& from, const std::optional<double>& to) {
  if (!from || !to) return std::nullopt;
  const int64_t days = DayOf(*to) - DayOf(*from);
  if (days < 0) return std::nullopt;
  return static_cast<int>(days);
}

TItemStages ComputeStages(const TItemDates& dates, int64_t referenceDay) {
  TItemStages stages;

  // The approval: levels in order; a refusal ends it, a pending level (or a decision without its
  // date) leaves it open, and when every level approved it ended with the latest decision.
  bool anyLevel = false;
  bool open = false;
  std::optional<double> decided;
  std::optional<double> lastDecision;  // the furthest level decided, for the last step
  for (size_t level = 0; level < dates.Levels.size(); ++level) {
    const std::string& decision = dates.LevelDecision[level];
    if (decision.empty()) continue;
    anyLevel = true;
    const bool dated = dates.Levels[level].has_value();
    if ((decision == "S" || decision == "N") && dated) lastDecision = dates.Levels[level];
    if (open) continue;
    if (decision == "N" && dated) {
      decided = decided ? Later(decided, *dates.Levels[level]) : dates.Levels[level];
      break;
    }
    if (decision != "S" || !dated) {
      open = true;
      decided.reset();
      continue;
    }
    decided = Later(decided, *dates.Levels[level]);
  }
  if (open) decided.reset();
  stages.ApprovalDecided = decided;

  const std::optional<double> quotationStart = anyLevel ? decided : dates.Entered;
  stages.Days[0] = anyLevel ? DaysBetween(dates.Entered, decided) : std::nullopt;
  stages.Days[1] = DaysBetween(quotationStart, dates.Quoted);
  stages.Days[2] = DaysBetween(dates.Quoted, dates.OrderEntered);
  stages.Days[3] = DaysBetween(dates.OrderEntered, dates.InvoiceIssued);
  stages.Days[4] = DaysBetween(dates.InvoiceIssued, dates.InvoiceEntered);
  stages.Days[5] = DaysBetween(dates.InvoiceEntered, dates.InvoiceApproved);

  // The furthest stage that ended, in flow order (not the latest date: a gap in the data still
  // shows how far the item got).
  const std::array<std::optional<double>, kStageCount> ends = {anyLevel ? decided : dates.Entered,
                                                               dates.Quoted,
                                                               dates.OrderEntered,
                                                               dates.InvoiceIssued,
                                                               dates.InvoiceEntered,
                                                               dates.InvoiceApproved};
  int reached = -1;
  for (int stage = kStageCount - 1; stage >= 0; --stage)
    if (ends[static_cast<size_t>(stage)]) {
      reached = stage;
      break;
    }
  if (reached >= 1) {
    stages.LastStep = ends[static_cast<size_t>(reached)];
  } else if (lastDecision) {
    stages.LastStep = lastDecision;
  } else {
    stages.LastStep = dates.Entered;
  }

  if (IsClosedStatus(dates.Status)) return stages;
  stages.WaitingStage = reached + 1;
  if (stages.LastStep) {
    const int64_t aging = referenceDay - DayOf(*stages.LastStep);
    if (aging >= 0) stages.Aging = static_cast<int>(aging);
  }
  if (dates.OrderDue && !dates.InvoiceIssued) {
    const int64_t late = referenceDay - DayOf(*dates.OrderDue);
    if (late > 0) {
      stages.Late = true;
      stages.DaysLate = static_cast<int>(late);
    }
  }
  return stages;
}

std::string WaitingText(const TItemStages& stages) {
  if (stages.WaitingStage < 0) return {};
  if (stages.WaitingStage >= kStageCount) return "Entrega do saldo";
  return StageNames()[static_cast<size_t>(stages.WaitingStage)].Waiting;
}

void TStageTotals::Add(const TItemStages& stages) {
  ++Items;
  if (stages.WaitingStage >= 0) ++Open;
  if (stages.Late) {
    ++Late;
    LateDaySum += stages.DaysLate.value_or(0);
  }
  if (stages.Aging) {
    AgingSum += *stages.Aging;
    ++Aged;
  }
  for (size_t stage = 0; stage < kStageCount; ++stage)
    if (stages.Days[stage]) {
      DaySum[stage] += *stages.Days[stage];
      ++Measured[stage];
    }
}

std::optional<double> TStageTotals::Average(int stage) const {
  const auto index = static_cast<size_t>(stage);
  if (Measured[index] == 0) return std::nullopt;
  return static_cast<double>(DaySum[index]) / Measured[index];
}

std::optional<double> TStageTotals::AverageLate() const {
  if (Late == 0) return std::nullopt;
  return static_cast<double>(LateDaySum) / Late;
}

std::optional<double> TStageTotals::AverageAging() const {
  if (Aged == 0) return std::nullopt;
  return static_cast<double>(AgingSum) / Aged;
}

TReportData::TReportData(fw::TDataPacket packet, TReportFilter filter)
    : packet_(std::move(packet)), filter_(std::move(filter)) {
  for (const fw::TPacketField& field : service::ReportMethod().Fields) {
    const int index = packet_.FieldIndex(field.Name);
    if (index < 0)
      throw std::invalid_argument("O resultado do relatório não tem o campo " + field.Name + ".");
    if (packet_.Fields()[static_cast<size_t>(index)].Type != field.Type)
      throw std::invalid_argument("O campo " + field.Name + " do relatório veio com outro tipo.");
  }
  const size_t rows = packet_.RowCount();
  stages_.reserve(rows);
  for (size_t row = 0; row < rows; ++row) {
    stages_.push_back(ComputeStages(Dates(row), filter_.ReferenceDay));
    const std::string code = Text(row, "CDFILIAL");
    if (branches_.empty() || branches_.back().Code != code)
      branches_.push_back({code, Text(row, "NMFILIAL"), row, 0, {}});
    ++branches_.back().RowCount;
    branches_.back().Totals.Add(stages_.back());
    totals_.Add(stages_.back());
  }
}

int TReportData::Index(const char* field) const {
  return packet_.FieldIndex(field);
}

std::string TReportData::Text(size_t row, const char* field) const {
  const auto& column = packet_.Columns()[static_cast<size_t>(Index(field))];
  return column.IsNull(row) ? std::string() : std::string(column.GetString(row));
}

std::optional<double> TReportData::Number(size_t row, const char* field) const {
  const auto& column = packet_.Columns()[static_cast<size_t>(Index(field))];
  if (column.IsNull(row)) return std::nullopt;
  return column.GetNumber(row);
}

TItemDates TReportData::Dates(size_t row) const {
  TItemDates dates;
  dates.Entered = Number(row, "DTHRLANCSOL");
  static const char* const kDecisions[] = {"IDAPROVNIV1", "IDAPROVNIV2", "IDAPROVNIV3"};
  static const char* const kLevels[] = {"DTAPROVNIV1", "DTAPROVNIV2", "DTAPROVNIV3"};
  for (size_t level = 0; level < 3; ++level) {
    dates.LevelDecision[level] = Text(row, kDecisions[level]);
    dates.Levels[level] = Number(row, kLevels[level]);
  }
  dates.Quoted = Number(row, "DTCONCOLEPREC");
  dates.OrderEntered = Number(row, "DTAUTOFORN");
  dates.OrderDue = Number(row, "DTPROGENTAF");
  dates.InvoiceIssued = Number(row, "DTEMISSAO");
  dates.InvoiceEntered = Number(row, "DTENTRSAID");
  dates.InvoiceApproved = Number(row, "DTAPROVACAO");
  dates.Status = Text(row, "STATUS");
  return dates;
}

std::string DayText(const std::optional<double>& days) {
  if (!days) return {};
  const fw::TDateParts parts = fw::DecodeDateTime(*days);
  char text[16];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", parts.Day, parts.Month, parts.Year);
  return text;
}

std::optional<int64_t> ParseDay(const std::string& text) {
  const std::optional<double> value = fw::TextToDateTime(text);
  if (!value || text.size() != 10) return std::nullopt;
  return static_cast<int64_t>(std::llround(*value));
}

int64_t Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<int64_t>(
      std::llround(fw::EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday})));
}

}  // namespace Rel_sup00700
