// Unit Rel_sup00700 (pages): the report laid out on A4 landscape sheets and painted with Qt.
//
// The pages are worked out once, in points (1/72 inch), from the rows alone: which blocks each
// page holds. Page 1 opens with the summary of the whole report (its bar chart of the average
// days per stage) and the ranking of the branches (most late items first, then the longest
// average wait); then each branch: its title, runs of its items, its summary with its own chart.
// Every chart is drawn to one scale, with an axis in days, so that bars of different branches
// compare: 9 days is shorter than 15 wherever each is drawn. Painting a page draws only that
// page, scaled to the rectangle it is given, so the preview, the printer and the PDF break the
// pages alike, and no page is kept once painted: a report of 100,000 items is 2,500 pages that
// are painted one at a time, on demand.
//
// Every page has the header (title, the filter, the reference day) and the footer (the time the
// report was made, "Página N de M").
#pragma once

#include <QRectF>
#include <QString>
#include <functional>
#include <vector>

#include "report_module/rel_acomp_data.h"

class QPainter;
class QPrinter;

namespace Rel_sup00700 {

inline constexpr const char* kReportTitle = "Relatório de Acompanhamento de Solicitações";

struct TBlock {
  enum class TKind { BranchTitle, Rows, BranchSummary, GrandSummary, Ranking, Empty };
  TKind Kind = TKind::Rows;
  size_t Branch = 0;
  size_t FirstRow = 0;  // Rows: the packet's rows FirstRow .. FirstRow + RowCount - 1;
                        // Ranking: the places FirstRow .. FirstRow + RowCount - 1
  size_t RowCount = 0;
  bool Continued = false;  // BranchTitle: the branch began on an earlier page
  double Top = 0;          // points from the sheet's top
};

struct TPage {
  std::vector<TBlock> Blocks;
};

class TReportLayout {
 public:
  // `madeAt` is what the footer says ("05/08/2025 14:03"); `productMask` the edit mask product
  // codes are shown under.
  TReportLayout(const TReportData& data, QString madeAt, QString productMask);

  const TReportData& Data() const { return data_; }
  int PageCount() const { return static_cast<int>(pages_.size()); }
  const TPage& Page(int index) const { return pages_[static_cast<size_t>(index)]; }
  const QString& Subtitle() const { return subtitle_; }
  // The branches (indexes into Data().Branches()) by most late items, then the longest average
  // wait of their open items, then code.
  const std::vector<size_t>& Ranking() const { return ranking_; }
  // The days the charts' full length stands for (a round number above every average), and the
  // step between the axis' marks.
  double ChartDays() const { return chartDays_; }
  double AxisStep() const { return axisStep_; }

  // Paints page `index` (0-based) into `target`, in the painter's device coordinates; the sheet
  // keeps its proportions, at the target's top left.
  void Paint(QPainter& painter, int index, const QRectF& target) const;

  static constexpr double kSheetWidth = 841.89;  // A4 landscape, points
  static constexpr double kSheetHeight = 595.28;

 private:
  void Paginate();
  void PaintBlock(QPainter& painter, const TBlock& block, double scale) const;
  void PaintRows(QPainter& painter, const TBlock& block, double scale) const;
  void PaintSummary(QPainter& painter, const TBlock& block, double scale) const;
  void PaintRanking(QPainter& painter, const TBlock& block, double scale) const;

  const TReportData& data_;
  QString madeAt_;
  QString productMask_;
  QString subtitle_;
  std::vector<size_t> ranking_;
  double chartDays_ = 1;
  double axisStep_ = 1;
  std::vector<TPage> pages_;
};

// Told after each page: pages done, pages in all. False cancels.
using TProgress = std::function<bool(int done, int total)>;

enum class TRenderOutcome { Done, Cancelled, Failed };

// Writes the PDF to a temporary file beside `path`, renamed over it once every page is written:
// a failure or a cancel leaves nothing behind (and an earlier file at `path` as it was). `error`
// gets the reason, in Portuguese.
TRenderOutcome WritePdf(const TReportLayout& layout, const QString& path, const TProgress& progress,
                        QString& error);
// Prints every page (the sheet scaled to the printer's paper); a cancel aborts the job.
TRenderOutcome PrintReport(const TReportLayout& layout, QPrinter& printer,
                           const TProgress& progress, QString& error);

}  // namespace Rel_sup00700
