#include "report_module/rel_acomp_layout.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QLocale>
#include <QPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

#include "framework/data/format.h"

namespace Rel_sup00700 {

namespace {

// The sheet, in points.
constexpr double kMarginX = 28;
constexpr double kHeaderTop = 22;
constexpr double kContentTop = 62;
constexpr double kContentBottom = 556;
constexpr double kFooterTop = 562;
constexpr double kWidth = TReportLayout::kSheetWidth - 2 * kMarginX;

constexpr double kBranchTitleHeight = 19;
constexpr double kColumnHeaderHeight = 22;
constexpr double kRowHeight = 11.5;
constexpr double kSummaryLineHeight = 11;
constexpr double kAxisHeight = 14;  // the scale in days under a chart
constexpr double kSummaryHeight = 16 + kStageCount * kSummaryLineHeight + kAxisHeight + 8;
// The bar chart: the stage's name, the bar, what the bar stands for.
constexpr double kChartLabelWidth = 120, kChartBarWidth = 300, kChartValueWidth = 110;
constexpr double kGap = 6;

constexpr double kTitlePoints = 13;
constexpr double kTextPoints = 8;
constexpr double kRowPoints = 7.2;

enum class TAlign { Left, Right, Center };

struct TColumn {
  const char* Title;
  double Width;
  TAlign Align;
};

// Solicitação, item, product, status, request date, the six stages, AF due, aging, the stage
// waited in, lateness.
const std::vector<TColumn>& Columns() {
  static const std::vector<TColumn> columns = [] {
    std::vector<TColumn> list = {{"Solicitação", 50, TAlign::Left},
                                 {"It.", 16, TAlign::Right},
                                 {"Produto", 150, TAlign::Left},
                                 {"Situação", 82, TAlign::Left},
                                 {"Solicitada", 46, TAlign::Center}};
    for (const TStageName& stage : StageNames()) list.push_back({stage.Short, 38, TAlign::Right});
    list.push_back({"Prev. AF", 46, TAlign::Center});
    list.push_back({"Parado há", 42, TAlign::Right});
    list.push_back({"Aguardando", 84, TAlign::Left});
    list.push_back({"Atraso", 40, TAlign::Right});
    return list;
  }();
  return columns;
}
constexpr int kFirstStageColumn = 5;

const QLocale& Brazil() {
  static const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
  return locale;
}

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Days(const std::optional<int>& days) {
  return days ? Brazil().toString(*days) : QString();
}

QString Average(const std::optional<double>& days) {
  return days ? Brazil().toString(*days, 'f', 1) : QStringLiteral("—");
}

QString Plural(int count, const char* one, const char* many) {
  return Brazil().toString(count) + QLatin1Char(' ') + QString::fromUtf8(count == 1 ? one : many);
}

// Fonts are given in the report's points; the painter draws the sheet scaled to its device, so
// the size is what makes `points` come out at the sheet's scale on that device.
QFont Font(const QPainter& painter, double points, double scale, bool bold = false) {
  QFont font(QStringLiteral("DejaVu Sans Condensed"));
  font.setStyleHint(QFont::SansSerif);
  font.setHintingPreference(QFont::PreferNoHinting);
  const int dpi = painter.device() ? painter.device()->logicalDpiY() : 72;
  font.setPointSizeF(std::max(points * scale * 72.0 / std::max(dpi, 1), 0.5));
  font.setBold(bold);
  return font;
}

// Text in a box of the sheet (points), cut with "…" when it does not fit.
void Text(QPainter& painter, double scale, const QRectF& box, const QString& text, TAlign align) {
  const QRectF target(box.x() * scale, box.y() * scale, box.width() * scale, box.height() * scale);
  const QFontMetricsF metrics(painter.font(), painter.device());
  const QString shown = metrics.elidedText(text, Qt::ElideRight, target.width());
  const Qt::Alignment flags = Qt::AlignVCenter | (align == TAlign::Left    ? Qt::AlignLeft
                                                  : align == TAlign::Right ? Qt::AlignRight
                                                                           : Qt::AlignHCenter);
  painter.drawText(target, static_cast<int>(flags), shown);
}

QRectF Scaled(const QRectF& box, double scale) {
  return {box.x() * scale, box.y() * scale, box.width() * scale, box.height() * scale};
}

QString FilterText(const TReportData& data) {
  const TReportFilter& filter = data.Filter();
  QString branches = QStringLiteral("todas");
  if (!filter.Branches.empty()) {
    QStringList codes;
    for (const std::string& code : filter.Branches) codes << Q(code);
    branches = codes.join(QStringLiteral(", "));
  }
  QString statuses = QStringLiteral("todas");
  if (!filter.Statuses.empty()) {
    QStringList texts;
    for (const std::string& code : filter.Statuses) texts << Q(StatusText(code));
    statuses = texts.join(QStringLiteral(", "));
  }
  return QStringLiteral("Solicitações de %1 a %2 · Filiais: %3 · Situações: %4 · Data-base: %5")
      .arg(Q(DayText(static_cast<double>(filter.FirstDay))),
           Q(DayText(static_cast<double>(filter.LastDay))), branches, statuses,
           Q(DayText(static_cast<double>(filter.ReferenceDay))));
}

// The ranking's columns: place, branch, items, open, late, average days late, average wait.
const std::vector<TColumn>& RankingColumns() {
  static const std::vector<TColumn> columns = {{"Posição", 44, TAlign::Right},
                                               {"Filial", 240, TAlign::Left},
                                               {"Itens", 60, TAlign::Right},
                                               {"Em aberto", 60, TAlign::Right},
                                               {"Atrasados", 60, TAlign::Right},
                                               {"Atraso médio", 80, TAlign::Right},
                                               {"Parado há, em média", 100, TAlign::Right}};
  return columns;
}

QString AverageDays(const std::optional<double>& days) {
  return days ? Average(days) + QStringLiteral(" dias") : QStringLiteral("—");
}

}  // namespace

TReportLayout::TReportLayout(const TReportData& data, QString madeAt, QString productMask)
    : data_(data), madeAt_(std::move(madeAt)), productMask_(std::move(productMask)) {
  subtitle_ = FilterText(data_);

  const auto& branches = data_.Branches();
  ranking_.resize(branches.size());
  for (size_t i = 0; i < ranking_.size(); ++i) ranking_[i] = i;
  std::stable_sort(ranking_.begin(), ranking_.end(), [&](size_t a, size_t b) {
    const TStageTotals& left = branches[a].Totals;
    const TStageTotals& right = branches[b].Totals;
    if (left.Late != right.Late) return left.Late > right.Late;
    const double leftWait = left.AverageAging().value_or(-1);
    const double rightWait = right.AverageAging().value_or(-1);
    if (leftWait != rightWait) return leftWait > rightWait;
    return branches[a].Code < branches[b].Code;
  });

  // One scale for every chart: a round number of days at or above the longest average anywhere,
  // in at most four steps of 1, 2 or 5 times a power of ten (15,3 days: 0, 5, 10, 15, 20).
  double longest = 0;
  const auto measure = [&](const TStageTotals& totals) {
    for (int stage = 0; stage < kStageCount; ++stage)
      longest = std::max(longest, totals.Average(stage).value_or(0));
  };
  measure(data_.Totals());
  for (const TBranchGroup& group : branches) measure(group.Totals);
  const double rough = std::max(longest / 4, 1e-9);
  const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
  axisStep_ = 10 * magnitude;
  for (const double factor : {1.0, 2.0, 5.0})
    if (factor * magnitude >= rough) {
      axisStep_ = factor * magnitude;
      break;
    }
  axisStep_ = std::max(axisStep_, 1.0);
  chartDays_ = std::max(std::ceil(longest / axisStep_), 1.0) * axisStep_;
  Paginate();
}

void TReportLayout::Paginate() {
  pages_.clear();
  pages_.emplace_back();
  double y = kContentTop;
  auto newPage = [&] {
    pages_.emplace_back();
    y = kContentTop;
  };
  auto place = [&](TBlock block, double height) {
    block.Top = y;
    pages_.back().Blocks.push_back(block);
    y += height;
  };
  const auto rowsFit = [&] {
    return static_cast<size_t>(
        std::max(0.0, (kContentBottom - y - kColumnHeaderHeight) / kRowHeight));
  };

  const auto& branches = data_.Branches();
  if (branches.empty()) {
    place({TBlock::TKind::Empty}, kBranchTitleHeight);
    return;
  }
  // The whole report first, then the ranking of the branches, then each branch.
  place({TBlock::TKind::GrandSummary}, kBranchTitleHeight + kSummaryHeight + kGap);
  for (size_t done = 0; done < ranking_.size();) {
    const size_t fit = rowsFit();
    if (fit == 0) {
      newPage();
      continue;
    }
    const size_t count = std::min(fit, ranking_.size() - done);
    place({TBlock::TKind::Ranking, 0, done, count},
          kColumnHeaderHeight + static_cast<double>(count) * kRowHeight);
    done += count;
  }
  y += kGap;
  for (size_t branch = 0; branch < branches.size(); ++branch) {
    const TBranchGroup& group = branches[branch];
    // A branch starts where its title, the column titles and one item still fit.
    if (y + kBranchTitleHeight + kColumnHeaderHeight + kRowHeight > kContentBottom) newPage();
    place({TBlock::TKind::BranchTitle, branch}, kBranchTitleHeight);
    size_t done = 0;
    while (done < group.RowCount) {
      size_t fit = rowsFit();
      if (fit == 0) {
        newPage();
        place({TBlock::TKind::BranchTitle, branch, 0, 0, true}, kBranchTitleHeight);
        fit = rowsFit();
      }
      const size_t count = std::min(fit, group.RowCount - done);
      place({TBlock::TKind::Rows, branch, group.FirstRow + done, count},
            kColumnHeaderHeight + static_cast<double>(count) * kRowHeight);
      done += count;
    }
    y += 2;
    if (y + kSummaryHeight > kContentBottom) {
      newPage();
      place({TBlock::TKind::BranchTitle, branch, 0, 0, true}, kBranchTitleHeight);
    }
    place({TBlock::TKind::BranchSummary, branch}, kSummaryHeight + kGap);
  }
}

void TReportLayout::Paint(QPainter& painter, int index, const QRectF& target) const {
  if (index < 0 || index >= PageCount()) return;
  const double scale = std::min(target.width() / kSheetWidth, target.height() / kSheetHeight);
  painter.save();
  painter.translate(target.topLeft());
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.fillRect(Scaled({0, 0, kSheetWidth, kSheetHeight}, scale), Qt::white);
  painter.setPen(Qt::black);

  // Header.
  painter.setFont(Font(painter, kTitlePoints, scale, true));
  Text(painter, scale, {kMarginX, kHeaderTop, kWidth - 80, 18}, QString::fromUtf8(kReportTitle),
       TAlign::Left);
  painter.setFont(Font(painter, kTextPoints, scale, true));
  Text(painter, scale, {kMarginX + kWidth - 80, kHeaderTop, 80, 18}, QStringLiteral("SUP00700"),
       TAlign::Right);
  painter.setFont(Font(painter, kTextPoints, scale));
  Text(painter, scale, {kMarginX, kHeaderTop + 19, kWidth, 12}, subtitle_, TAlign::Left);
  painter.setPen(QPen(Qt::black, 0.8 * scale));
  painter.drawLine(QPointF(kMarginX * scale, (kContentTop - 6) * scale),
                   QPointF((kMarginX + kWidth) * scale, (kContentTop - 6) * scale));

  for (const TBlock& block : Page(index).Blocks) PaintBlock(painter, block, scale);

  // Footer.
  painter.setPen(QPen(Qt::black, 0.5 * scale));
  painter.drawLine(QPointF(kMarginX * scale, kFooterTop * scale),
                   QPointF((kMarginX + kWidth) * scale, kFooterTop * scale));
  painter.setFont(Font(painter, kRowPoints, scale));
  Text(painter, scale, {kMarginX, kFooterTop + 2, kWidth / 2, 11},
       QStringLiteral("Emitido em ") + madeAt_, TAlign::Left);
  Text(painter, scale, {kMarginX + kWidth / 2, kFooterTop + 2, kWidth / 2, 11},
       QStringLiteral("Página %1 de %2").arg(index + 1).arg(PageCount()), TAlign::Right);
  painter.restore();
}

void TReportLayout::PaintBlock(QPainter& painter, const TBlock& block, double scale) const {
  switch (block.Kind) {
    case TBlock::TKind::Empty:
      painter.setPen(Qt::black);
      painter.setFont(Font(painter, 9, scale));
      Text(painter, scale, {kMarginX, block.Top, kWidth, kBranchTitleHeight},
           QStringLiteral("Nenhum item de solicitação atende ao filtro."), TAlign::Left);
      return;
    case TBlock::TKind::BranchTitle: {
      const TBranchGroup& group = data_.Branches()[block.Branch];
      painter.fillRect(Scaled({kMarginX, block.Top + 2, kWidth, kBranchTitleHeight - 4}, scale),
                       QColor(0xdd, 0xe6, 0xf0));
      painter.setPen(Qt::black);
      painter.setFont(Font(painter, 9.5, scale, true));
      QString title = QStringLiteral("Filial %1 — %2").arg(Q(group.Code), Q(group.Name));
      if (block.Continued) title += QStringLiteral(" (continuação)");
      Text(painter, scale, {kMarginX + 4, block.Top + 2, kWidth - 8, kBranchTitleHeight - 4}, title,
           TAlign::Left);
      return;
    }
    case TBlock::TKind::Rows:
      return PaintRows(painter, block, scale);
    case TBlock::TKind::BranchSummary:
    case TBlock::TKind::GrandSummary:
      return PaintSummary(painter, block, scale);
    case TBlock::TKind::Ranking:
      return PaintRanking(painter, block, scale);
  }
}

void TReportLayout::PaintRows(QPainter& painter, const TBlock& block, double scale) const {
  const auto& columns = Columns();
  double y = block.Top;

  // Column titles: the six stages under one caption.
  painter.setPen(Qt::black);
  painter.setFont(Font(painter, kRowPoints, scale, true));
  double x = kMarginX;
  double stagesLeft = 0, stagesWidth = 0;
  for (size_t column = 0; column < columns.size(); ++column) {
    const TColumn& def = columns[column];
    const bool stage = column >= kFirstStageColumn && column < kFirstStageColumn + kStageCount;
    if (column == kFirstStageColumn) stagesLeft = x;
    if (stage) stagesWidth += def.Width;
    Text(painter, scale, {x + 1.5, y + 10, def.Width - 3, 11}, QString::fromUtf8(def.Title),
         stage ? TAlign::Right : def.Align);
    x += def.Width;
  }
  Text(painter, scale, {stagesLeft, y, stagesWidth, 10}, QStringLiteral("Dias em cada etapa"),
       TAlign::Center);
  painter.setPen(QPen(QColor(0x70, 0x70, 0x70), 0.4 * scale));
  painter.drawLine(QPointF(stagesLeft * scale, (y + 10) * scale),
                   QPointF((stagesLeft + stagesWidth) * scale, (y + 10) * scale));
  painter.setPen(QPen(Qt::black, 0.6 * scale));
  painter.drawLine(QPointF(kMarginX * scale, (y + kColumnHeaderHeight - 0.5) * scale),
                   QPointF((kMarginX + kWidth) * scale, (y + kColumnHeaderHeight - 0.5) * scale));
  y += kColumnHeaderHeight;

  const QFont plain = Font(painter, kRowPoints, scale);
  const QFont bold = Font(painter, kRowPoints, scale, true);
  const std::string mask = productMask_.toStdString();
  for (size_t i = 0; i < block.RowCount; ++i, y += kRowHeight) {
    const size_t row = block.FirstRow + i;
    const TItemStages& stages = data_.Stages(row);
    if (stages.Late) {
      painter.fillRect(Scaled({kMarginX, y, kWidth, kRowHeight}, scale), QColor(0xfb, 0xe3, 0xe3));
    } else if (i % 2 == 1) {
      painter.fillRect(Scaled({kMarginX, y, kWidth, kRowHeight}, scale), QColor(0xf4, 0xf4, 0xf4));
    }
    const std::optional<double> item = data_.Number(row, "NRITEMSOLI");
    QStringList cells = {
        Q(data_.Text(row, "NRSOLICMP")),
        item ? Brazil().toString(static_cast<long long>(std::llround(*item))) : QString(),
        Q(fw::FormatMaskText(mask, data_.Text(row, "CDARVPROD")) + " " +
          data_.Text(row, "NMPRODUTO")),
        Q(StatusText(data_.Text(row, "STATUS"))), Q(DayText(data_.Number(row, "DTHRLANCSOL")))};
    for (const auto& days : stages.Days) cells << Days(days);
    cells << Q(DayText(data_.Number(row, "DTPROGENTAF")))
          << (stages.Aging ? Plural(*stages.Aging, "dia", "dias") : QString())
          << Q(WaitingText(stages))
          << (stages.DaysLate ? Plural(*stages.DaysLate, "dia", "dias") : QString());
    double left = kMarginX;
    for (size_t column = 0; column < columns.size(); ++column) {
      const bool late = column + 1 == columns.size();
      painter.setFont(late ? bold : plain);
      painter.setPen(late ? QColor(0xb0, 0x10, 0x10) : QColor(Qt::black));
      Text(painter, scale, {left + 1.5, y, columns[column].Width - 3, kRowHeight},
           cells[static_cast<qsizetype>(column)], columns[column].Align);
      left += columns[column].Width;
    }
  }
}

void TReportLayout::PaintSummary(QPainter& painter, const TBlock& block, double scale) const {
  const bool grand = block.Kind == TBlock::TKind::GrandSummary;
  double y = block.Top;
  if (grand) {
    painter.fillRect(Scaled({kMarginX, y + 2, kWidth, kBranchTitleHeight - 4}, scale),
                     QColor(0xdd, 0xe6, 0xf0));
    painter.setPen(Qt::black);
    painter.setFont(Font(painter, 9.5, scale, true));
    Text(painter, scale, {kMarginX + 4, y + 2, kWidth - 8, kBranchTitleHeight - 4},
         QStringLiteral("Resumo geral — %1")
             .arg(Plural(static_cast<int>(data_.Branches().size()), "filial", "filiais")),
         TAlign::Left);
    y += kBranchTitleHeight;
  }
  const TStageTotals& totals = grand ? data_.Totals() : data_.Branches()[block.Branch].Totals;
  painter.setPen(Qt::black);
  painter.setFont(Font(painter, kTextPoints, scale, true));
  const QString heading =
      (grand
           ? QStringLiteral("Todas as filiais: ")
           : QStringLiteral("Resumo da filial %1: ").arg(Q(data_.Branches()[block.Branch].Code))) +
      QStringLiteral("%1 · %2 em aberto · %3 · média de dias por etapa")
          .arg(Plural(totals.Items, "item", "itens"), Brazil().toString(totals.Open),
               Plural(totals.Late, "atrasado", "atrasados"));
  Text(painter, scale, {kMarginX, y + 2, kWidth, 12}, heading, TAlign::Left);
  y += 16;

  // The bar chart: one bar per stage, as long as its average on the report's one scale.
  const double barLeft = kMarginX + 8 + kChartLabelWidth;
  const double chartTop = y;
  const double chartBottom = y + kStageCount * kSummaryLineHeight;
  const int marks = static_cast<int>(std::lround(chartDays_ / axisStep_));
  const auto markX = [&](int mark) {
    return barLeft + kChartBarWidth * mark * axisStep_ / chartDays_;
  };
  // Faint lines up from the axis' marks, behind the bars.
  painter.setPen(QPen(QColor(0xd8, 0xd8, 0xd8), 0.3 * scale));
  for (int mark = 1; mark <= marks; ++mark)
    painter.drawLine(QPointF(markX(mark) * scale, chartTop * scale),
                     QPointF(markX(mark) * scale, chartBottom * scale));
  const QFont plain = Font(painter, kRowPoints, scale);
  for (int stage = 0; stage < kStageCount; ++stage, y += kSummaryLineHeight) {
    const std::optional<double> average = totals.Average(stage);
    const int measured = totals.Measured[static_cast<size_t>(stage)];
    painter.setFont(plain);
    painter.setPen(Qt::black);
    Text(painter, scale, {kMarginX + 8, y, kChartLabelWidth, kSummaryLineHeight},
         QString::fromUtf8(StageNames()[static_cast<size_t>(stage)].Long), TAlign::Left);
    if (average) {
      const double length = std::max(kChartBarWidth * *average / chartDays_, 1.0);
      painter.fillRect(Scaled({barLeft, y + 2, length, kSummaryLineHeight - 4}, scale),
                       QColor(0x3b, 0x6e, 0xa8));
    }
    painter.setPen(Qt::black);
    const QString value = average ? QStringLiteral("%1 dias (%2)")
                                        .arg(Average(average), Plural(measured, "item", "itens"))
                                  : QStringLiteral("— (nenhum item)");
    Text(painter, scale, {barLeft + kChartBarWidth + 6, y, kChartValueWidth, kSummaryLineHeight},
         value, TAlign::Left);
  }

  // The axis: the scale's marks in days under the bars.
  const QPen axis(QColor(0x60, 0x60, 0x60), 0.5 * scale);
  painter.setPen(axis);
  painter.drawLine(QPointF(barLeft * scale, chartTop * scale), QPointF(barLeft * scale, y * scale));
  painter.drawLine(QPointF(barLeft * scale, y * scale),
                   QPointF((barLeft + kChartBarWidth) * scale, y * scale));
  painter.setFont(Font(painter, 6.5, scale));
  for (int mark = 0; mark <= marks; ++mark) {
    const double days = mark * axisStep_;
    const double x = markX(mark);
    painter.setPen(axis);
    painter.drawLine(QPointF(x * scale, y * scale), QPointF(x * scale, (y + 2.5) * scale));
    painter.setPen(QColor(0x40, 0x40, 0x40));
    Text(painter, scale, {x - 20, y + 2.5, 40, 9}, Brazil().toString(days, 'f', 0), TAlign::Center);
  }
  Text(painter, scale, {barLeft + kChartBarWidth + 6, y + 2.5, kChartValueWidth, 9},
       QStringLiteral("dias"), TAlign::Left);
}

void TReportLayout::PaintRanking(QPainter& painter, const TBlock& block, double scale) const {
  const auto& columns = RankingColumns();
  double y = block.Top;
  painter.setPen(Qt::black);
  painter.setFont(Font(painter, kTextPoints, scale, true));
  Text(painter, scale, {kMarginX, y, kWidth, 10},
       block.FirstRow == 0 ? QStringLiteral("Filiais por itens atrasados e dias parados")
                           : QStringLiteral("Filiais por itens atrasados e dias parados "
                                            "(continuação)"),
       TAlign::Left);
  painter.setFont(Font(painter, kRowPoints, scale, true));
  double x = kMarginX;
  for (const TColumn& column : columns) {
    Text(painter, scale, {x + 1.5, y + 10, column.Width - 3, 11}, QString::fromUtf8(column.Title),
         column.Align);
    x += column.Width;
  }
  painter.setPen(QPen(Qt::black, 0.6 * scale));
  painter.drawLine(QPointF(kMarginX * scale, (y + kColumnHeaderHeight - 0.5) * scale),
                   QPointF(x * scale, (y + kColumnHeaderHeight - 0.5) * scale));
  y += kColumnHeaderHeight;

  const QFont plain = Font(painter, kRowPoints, scale);
  const double right = x;
  for (size_t i = 0; i < block.RowCount; ++i, y += kRowHeight) {
    const size_t place = block.FirstRow + i;
    const TBranchGroup& group = data_.Branches()[ranking_[place]];
    const TStageTotals& totals = group.Totals;
    if (i % 2 == 1)
      painter.fillRect(Scaled({kMarginX, y, right - kMarginX, kRowHeight}, scale),
                       QColor(0xf4, 0xf4, 0xf4));
    const QStringList cells = {QStringLiteral("%1º").arg(place + 1),
                               QStringLiteral("%1 — %2").arg(Q(group.Code), Q(group.Name)),
                               Brazil().toString(totals.Items),
                               Brazil().toString(totals.Open),
                               Brazil().toString(totals.Late),
                               AverageDays(totals.AverageLate()),
                               AverageDays(totals.AverageAging())};
    painter.setFont(plain);
    double left = kMarginX;
    for (size_t column = 0; column < columns.size(); ++column) {
      painter.setPen(column == 4 && totals.Late > 0 ? QColor(0xb0, 0x10, 0x10) : QColor(Qt::black));
      Text(painter, scale, {left + 1.5, y, columns[column].Width - 3, kRowHeight},
           cells[static_cast<qsizetype>(column)], columns[column].Align);
      left += columns[column].Width;
    }
  }
}

TRenderOutcome WritePdf(const TReportLayout& layout, const QString& path, const TProgress& progress,
                        QString& error) {
  const QString shown = QFileInfo(path).absoluteFilePath();
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    error =
        QStringLiteral("Não foi possível gravar o PDF em %1: %2.").arg(shown, file.errorString());
    return TRenderOutcome::Failed;
  }
  {
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageOrientation(QPageLayout::Landscape);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(600);
    writer.setTitle(QString::fromUtf8(kReportTitle));
    writer.setCreator(QStringLiteral("SUP00700"));
    QPainter painter;
    if (!painter.begin(&writer)) {
      file.cancelWriting();
      error = QStringLiteral("Não foi possível gravar o PDF em %1.").arg(shown);
      return TRenderOutcome::Failed;
    }
    const QRectF sheet(0, 0, writer.width(), writer.height());
    for (int page = 0; page < layout.PageCount(); ++page) {
      if (page > 0) writer.newPage();
      layout.Paint(painter, page, sheet);
      if (progress && !progress(page + 1, layout.PageCount())) {
        painter.end();
        file.cancelWriting();
        return TRenderOutcome::Cancelled;
      }
    }
    painter.end();
  }
  if (!file.commit()) {
    error =
        QStringLiteral("Não foi possível gravar o PDF em %1: %2.").arg(shown, file.errorString());
    return TRenderOutcome::Failed;
  }
  return TRenderOutcome::Done;
}

TRenderOutcome PrintReport(const TReportLayout& layout, QPrinter& printer,
                           const TProgress& progress, QString& error) {
  printer.setFullPage(true);
  printer.setDocName(QString::fromUtf8(kReportTitle));
  QPainter painter;
  if (!painter.begin(&printer)) {
    error =
        QStringLiteral("Não foi possível iniciar a impressão em %1.").arg(printer.printerName());
    return TRenderOutcome::Failed;
  }
  const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
  const QRectF sheet(0, 0, paper.width(), paper.height());
  for (int page = 0; page < layout.PageCount(); ++page) {
    if (page > 0 && !printer.newPage()) {
      painter.end();
      error = QStringLiteral("A impressão foi interrompida na página %1.").arg(page + 1);
      return TRenderOutcome::Failed;
    }
    layout.Paint(painter, page, sheet);
    if (progress && !progress(page + 1, layout.PageCount())) {
      printer.abort();
      painter.end();
      return TRenderOutcome::Cancelled;
    }
  }
  painter.end();
  return TRenderOutcome::Done;
}

}  // namespace Rel_sup00700
