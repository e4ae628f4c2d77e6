// The report's pages: every item on exactly one page, branch titles and summaries where they
// belong; pages painted only when shown (100,000 items); the PDF's text, and a PDF that cannot
// be written or is cancelled leaving nothing behind; the preview and the dialog.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <QRadioButton>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "framework/testing/fake_platform.h"
#include "report_module/rel_acomp_layout.h"
#include "report_module/rel_acomp_preview.h"
#include "tests/report_module/report_rows.h"

namespace Rel_sup00700 {
namespace {

namespace fs = std::filesystem;
using report_test::TRow;

// `branches[i]` items in branch i, every third one late at the reference day 30/06/2024.
fw::TDataPacket Items(const std::vector<int>& branches) {
  std::vector<TRow> rows;
  for (size_t branch = 0; branch < branches.size(); ++branch)
    for (int item = 0; item < branches[branch]; ++item) {
      char code[24], number[24];
      std::snprintf(code, sizeof code, "%04zu", branch + 1);
      std::snprintf(number, sizeof number, "2024%06d", item / 3 + 1);
      TRow row = {{"CDFILIAL", code},
                  {"NMFILIAL", std::string("Filial Número ") + code},
                  {"NRSOLICMP", number},
                  {"CDFILLAN", code},
                  {"NRITEMSOLI", std::to_string(item % 3 + 1)},
                  {"CDARVPROD", "01002003"},
                  {"NMPRODUTO", "Papel Sulfite A4 75g"},
                  {"QTSOLIPROD", "10"},
                  {"STATUS", item % 3 == 0 ? "D" : "2"},
                  {"DTHRLANCSOL", "04/03/2024 10:00:00"},
                  {"IDAPROVNIV1", "S"},
                  {"DTAPROVNIV1", "05/03/2024"},
                  {"DTCONCOLEPREC", "12/03/2024"},
                  {"DTAUTOFORN", "14/03/2024"},
                  {"DTPROGENTAF", "30/03/2024"}};
      if (item % 3 != 0) {
        row["DTEMISSAO"] = "28/03/2024";
        row["DTENTRSAID"] = "02/04/2024";
        row["DTAPROVACAO"] = "03/04/2024";
      }
      rows.push_back(row);
    }
  return report_test::MakePacket(rows);
}

TReportFilter Filter() {
  TReportFilter filter;
  filter.FirstDay = static_cast<int64_t>(report_test::Date("01/03/2024"));
  filter.LastDay = static_cast<int64_t>(report_test::Date("31/03/2024"));
  filter.ReferenceDay = static_cast<int64_t>(report_test::Date("30/06/2024"));
  return filter;
}

std::string PdfText(const std::string& path) {
  std::string text;
  FILE* pipe = popen(("pdftotext -layout '" + path + "' - 2>&1").c_str(), "r");
  char buffer[4096];
  size_t read = 0;
  while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, read);
  pclose(pipe);
  return text;
}

class TTemp {
 public:
  TTemp() : path_(fs::temp_directory_path() / ("report-test-" + std::to_string(getpid()))) {
    fs::create_directories(path_);
  }
  ~TTemp() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  size_t Files() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(path_), {}));
  }

 private:
  fs::path path_;
};

// The whole report's summary and the ranking open page 1 (a long report no longer keeps them
// for its last page); then each branch.
TEST(ReportLayout, EveryItemOnOnePage_InOrder_BranchTitlesAndSummariesWhereTheyBelong) {
  const TReportData data(Items({10, 100, 5}), Filter());
  const TReportLayout layout(data, "30/06/2024 10:00", "00.000.000;0;_");
  ASSERT_GE(layout.PageCount(), 3);
  ASSERT_FALSE(layout.Page(0).Blocks.empty());
  EXPECT_EQ(TBlock::TKind::GrandSummary, layout.Page(0).Blocks.front().Kind);
  size_t ranked = 0;
  size_t next = 0;
  std::vector<int> summaries(3, 0);
  std::vector<int> firstPage(3, -1);
  for (int page = 0; page < layout.PageCount(); ++page) {
    SCOPED_TRACE("page " + std::to_string(page + 1));
    const auto& blocks = layout.Page(page).Blocks;
    ASSERT_FALSE(blocks.empty());
    double top = 0;
    long titleOnPage = -1;
    for (const TBlock& block : blocks) {
      EXPECT_GE(block.Top, top) << "blocks go down the page";
      top = block.Top;
      switch (block.Kind) {
        case TBlock::TKind::BranchTitle:
          titleOnPage = static_cast<long>(block.Branch);
          EXPECT_EQ(firstPage[block.Branch] >= 0, block.Continued);
          if (firstPage[block.Branch] < 0) firstPage[block.Branch] = page;
          break;
        case TBlock::TKind::Rows:
          EXPECT_EQ(static_cast<long>(block.Branch), titleOnPage) << "rows under their title";
          EXPECT_EQ(next, block.FirstRow);
          next += block.RowCount;
          EXPECT_LE(block.Top + 22 + block.RowCount * 11.5, 556.01) << "inside the page";
          break;
        case TBlock::TKind::BranchSummary:
          EXPECT_EQ(static_cast<long>(block.Branch), titleOnPage);
          EXPECT_EQ(data.Branches()[block.Branch].FirstRow + data.Branches()[block.Branch].RowCount,
                    next)
              << "after the branch's last item";
          ++summaries[block.Branch];
          break;
        case TBlock::TKind::GrandSummary:
          EXPECT_EQ(0, page);
          EXPECT_EQ(&block, &blocks.front());
          break;
        case TBlock::TKind::Ranking:
          EXPECT_EQ(ranked, block.FirstRow) << "the ranking in order";
          EXPECT_EQ(-1, titleOnPage) << "before any branch";
          EXPECT_EQ(0u, next);
          ranked += block.RowCount;
          break;
        case TBlock::TKind::Empty:
          ADD_FAILURE() << "an empty page in a report with items";
          break;
      }
    }
  }
  EXPECT_EQ(data.RowCount(), next);
  EXPECT_EQ((std::vector<int>{1, 1, 1}), summaries);
  EXPECT_EQ(3u, ranked);
}

TEST(ReportLayout, NoItems_OnePageSayingSo) {
  const TReportData data(Items({}), Filter());
  const TReportLayout layout(data, "30/06/2024 10:00", "");
  ASSERT_EQ(1, layout.PageCount());
  ASSERT_EQ(1u, layout.Page(0).Blocks.size());
  EXPECT_EQ(TBlock::TKind::Empty, layout.Page(0).Blocks[0].Kind);
}

TEST(ReportLayout, HundredThousandItems_PagesPaintedOnlyWhenShown_FewKept) {
  std::vector<int> branches(40, 2500);
  const TReportData data(Items(branches), Filter());
  ASSERT_EQ(100000u, data.RowCount());
  const TReportLayout layout(data, "30/06/2024 10:00", "00.000.000;0;_");
  EXPECT_GT(layout.PageCount(), 2500);
  TPageView view(layout, nullptr);
  view.SetScale(1.0);
  for (const int page : {0, 1, 2, 1500, 1501, layout.PageCount() - 1, 7, 8}) {
    view.SetPage(page);
    view.grab();
  }
  EXPECT_EQ(8, view.PagesPainted());
  EXPECT_EQ(TPageView::kCachedPages, view.CachedPages());
  view.SetPage(8);
  view.grab();
  EXPECT_EQ(8, view.PagesPainted()) << "the page just shown is kept";
  view.SetPage(0);
  view.grab();
  EXPECT_EQ(9, view.PagesPainted()) << "an old page is painted again";
  EXPECT_LE(view.CachedPages(), TPageView::kCachedPages);
}

TEST(ReportPdf, Written_TheTextSaysTitleBranchesAndPages) {
  TTemp dir;
  const TReportData data(Items({4, 3}), Filter());
  const TReportLayout layout(data, "30/06/2024 10:00", "00.000.000;0;_");
  QString error;
  int calls = 0;
  ASSERT_EQ(TRenderOutcome::Done, WritePdf(
                                      layout, QString::fromStdString(dir / "r.pdf"),
                                      [&](int done, int total) {
                                        EXPECT_EQ(layout.PageCount(), total);
                                        EXPECT_EQ(++calls, done);
                                        return true;
                                      },
                                      error))
      << error.toStdString();
  const std::string text = PdfText(dir / "r.pdf");
  for (const char* expected :
       {kReportTitle, "Filial 0001 — Filial Número 0001", "Filial Número 0002", "01.002.003",
        "Solicitações de 01/03/2024 a 31/03/2024", "Data-base: 30/06/2024", "Emitido em 30/06/2024",
        "Página 1 de 2", "Resumo geral", "Baixa Total", "Em Aberto", "92 dias"})
    EXPECT_NE(std::string::npos, text.find(expected)) << expected << "\n" << text;
}

// Page 1 says how the whole report went and which branches are worst off: most late items
// first; an item's wait ("Parado há") reads in days, as its lateness does.
TEST(ReportPdf, FirstPage_TheWholeReportAndTheBranchesRankedByLateItems) {
  TTemp dir;
  // Every third item is late: 4, 34 and 2 late items.
  const TReportData data(Items({10, 100, 5}), Filter());
  const TReportLayout layout(data, "30/06/2024 10:00", "00.000.000;0;_");
  EXPECT_EQ((std::vector<size_t>{1, 0, 2}), layout.Ranking());
  QString error;
  ASSERT_EQ(TRenderOutcome::Done,
            WritePdf(layout, QString::fromStdString(dir / "r.pdf"), nullptr, error));
  FILE* pipe = popen(("pdftotext -layout -f 1 -l 1 '" + dir / "r.pdf" + "' -").c_str(), "r");
  std::string first;
  char buffer[4096];
  for (size_t read; (read = fread(buffer, 1, sizeof buffer, pipe)) > 0;) first.append(buffer, read);
  pclose(pipe);
  const size_t summary = first.find("Resumo geral");
  const size_t second = first.find("Filial Número 0002");
  const size_t one = first.find("Filial Número 0001");
  const size_t three = first.find("Filial Número 0003");
  ASSERT_NE(std::string::npos, summary) << first;
  ASSERT_NE(std::string::npos, second) << first;
  ASSERT_NE(std::string::npos, one) << first;
  ASSERT_NE(std::string::npos, three) << first;
  EXPECT_LT(summary, second);
  EXPECT_LT(second, one);
  EXPECT_LT(one, three);
  EXPECT_NE(std::string::npos, first.find("Atrasados")) << first;
  // The open items' last step was the AF of 14/03; to 30/06 they wait 108 days.
  const std::string all = PdfText(dir / "r.pdf");
  EXPECT_NE(std::string::npos, all.find("108 dias")) << all;
  EXPECT_NE(std::string::npos, all.find("Parado há")) << all;
}

// The bars of every chart on one scale: a branch whose quotations took 9 days draws its bar at
// 9/15 of the one whose took 15, and the whole report's (12 days on average) between them.
TEST(ReportCharts, EveryChartOnOneScale_NineDaysShorterThanFifteen) {
  std::vector<TRow> rows;
  for (const auto& [branch, quoted] : std::vector<std::pair<std::string, std::string>>{
           {"0001", "13/03/2024"}, {"0002", "19/03/2024"}})
    for (int item = 1; item <= 2; ++item)
      rows.push_back({{"CDFILIAL", branch},
                      {"NMFILIAL", "Filial " + branch},
                      {"NRSOLICMP", "2024000001"},
                      {"CDFILLAN", branch},
                      {"NRITEMSOLI", std::to_string(item)},
                      {"CDARVPROD", "01002003"},
                      {"NMPRODUTO", "Papel"},
                      {"QTSOLIPROD", "1"},
                      {"STATUS", "C"},
                      {"DTHRLANCSOL", "03/03/2024 10:00:00"},
                      {"IDAPROVNIV1", "S"},
                      {"DTAPROVNIV1", "04/03/2024"},
                      {"DTCONCOLEPREC", quoted}});
  const TReportData data(report_test::MakePacket(rows), Filter());
  const TReportLayout layout(data, "30/06/2024 10:00", "");
  EXPECT_EQ(15, layout.ChartDays()) << "15 days, the longest average, is a round number";
  EXPECT_EQ(5, layout.AxisStep());

  // The bars as painted, in reading order: each a band of rows of the bars' colour, as long as
  // its longest run of that colour.
  const QColor bar(0x3b, 0x6e, 0xa8);
  std::vector<int> lengths;
  for (int page = 0; page < layout.PageCount(); ++page) {
    QImage image(1684, 1191, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      layout.Paint(painter, page, QRectF(0, 0, image.width(), image.height()));
    }
    bool inBar = false;
    for (int y = 0; y < image.height(); ++y) {
      int longest = 0, run = 0;
      for (int x = 0; x < image.width(); ++x) {
        run = image.pixelColor(x, y) == bar ? run + 1 : 0;
        longest = std::max(longest, run);
      }
      if (longest > 0 && !inBar) lengths.push_back(0);
      if (longest > 0) lengths.back() = std::max(lengths.back(), longest);
      inBar = longest > 0;
    }
  }
  // Three charts of two bars each (approval, quotation): the whole report, 0001, 0002.
  ASSERT_EQ(6u, lengths.size());
  const double whole = lengths[1], nine = lengths[3], fifteen = lengths[5];
  EXPECT_NEAR(9.0 / 15, nine / fifteen, 0.02);
  EXPECT_NEAR(12.0 / 15, whole / fifteen, 0.02);
  EXPECT_NEAR(lengths[0], lengths[2], 2) << "one day is as long in every chart";
  EXPECT_NEAR(lengths[2], lengths[4], 2);
}

TEST(ReportPdf, Unwritable_OrCancelled_NothingLeftBehind_TheFormerFileKept) {
  TTemp dir;
  const TReportData data(Items({300}), Filter());
  const TReportLayout layout(data, "30/06/2024 10:00", "");
  QString error;
  const std::string missing = dir / "nao-existe/r.pdf";
  EXPECT_EQ(TRenderOutcome::Failed,
            WritePdf(layout, QString::fromStdString(missing), nullptr, error));
  EXPECT_TRUE(error.startsWith(QStringLiteral("Não foi possível gravar o PDF em ")))
      << error.toStdString();
  EXPECT_EQ(0u, dir.Files());

  std::ofstream(dir / "r.pdf") << "anterior";
  int pages = 0;
  EXPECT_EQ(TRenderOutcome::Cancelled,
            WritePdf(
                layout, QString::fromStdString(dir / "r.pdf"),
                [&](int done, int) { return (pages = done) < 3; }, error));
  EXPECT_EQ(3, pages);
  EXPECT_EQ(1u, dir.Files()) << "no temporary file left";
  std::ifstream kept(dir / "r.pdf");
  std::string content;
  kept >> content;
  EXPECT_EQ("anterior", content);
}

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's own (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

// The heap in use, in kilobytes (not the resident size, which keeps what was freed). Under
// AddressSanitizer malloc is the sanitizer's, which mallinfo2 knows nothing of (it reads 0).
long HeapKilobytes() {
#if defined(__SANITIZE_ADDRESS__)
  return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
  const struct mallinfo2 heap = mallinfo2();
  return static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
#endif
}

// The PDF is written page by page: what the process holds does not grow with the pages.
TEST(ReportPdf, LongReport_MemoryDoesNotGrowWithThePages) {
  TTemp dir;
  const TReportData data(Items(std::vector<int>(4, 25000)), Filter());
  const TReportLayout layout(data, "30/06/2024 10:00", "00.000.000;0;_");
  long atFifty = 0, atFourHundred = 0;
  QString error;
  WritePdf(
      layout, QString::fromStdString(dir / "longo.pdf"),
      [&](int done, int) {
        if (done == 50) atFifty = HeapKilobytes();
        if (done == 400) atFourHundred = HeapKilobytes();
        return done < 400;
      },
      error);
  ASSERT_GT(atFifty, 0);
  // 350 pages more: a few megabytes at most (each page painted is about 40 KB of PDF, which
  // goes to the file, not to memory).
  EXPECT_LT(atFourHundred - atFifty, 8 * 1024) << atFifty << " KB then " << atFourHundred;
}

class ReportWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::InitApplication();
    fw::Application->SetPlatform(&platform);
  }
  void TearDown() override { fw::DoneApplication(); }
  fw::TFakePlatform platform;
};

TEST_F(ReportWindows, Preview_PagesZoomAndAPdfThatCannotBeWritten) {
  const TReportData data(Items({200}), Filter());
  const TReportLayout layout(data, "30/06/2024 10:00", "");
  TRelAcompPreview preview(layout);
  preview.show();
  preview.ShowPage(3);
  EXPECT_EQ(3, preview.View()->PageIndex());
  preview.ShowPage(99);
  EXPECT_EQ(layout.PageCount() - 1, preview.View()->PageIndex()) << "clamped to the last";
  preview.ApplyZoom(3);  // 100%
  const double full = preview.View()->Scale();
  preview.ApplyZoom(2);  // 75%
  EXPECT_NEAR(0.75 * full, preview.View()->Scale(), 1e-9);

  TTemp dir;
  EXPECT_FALSE(preview.SavePdf(QString::fromStdString(dir / "nao-existe/r.pdf")));
  ASSERT_EQ(1u, platform.Errors.size());
  EXPECT_EQ(0u, platform.Errors[0].find("Não foi possível gravar o PDF em "));
  EXPECT_TRUE(preview.SavePdf(QString::fromStdString(dir / "r.pdf")));
  EXPECT_TRUE(fs::exists(dir / "r.pdf"));
}

TEST_F(ReportWindows, Dialog_ReadsTheFilterAndSaysWhatIsWrong) {
  TRelAcompDialog dialog;
  TReportFilter filter;
  QString problem;
  dialog.FirstDate()->setDate(QDate(2024, 3, 1));
  dialog.LastDate()->setDate(QDate(2024, 3, 31));
  dialog.ReferenceDate()->setDate(QDate(2024, 6, 30));
  ASSERT_TRUE(dialog.ReadFilter(filter, problem)) << problem.toStdString();
  EXPECT_EQ(static_cast<int64_t>(report_test::Date("01/03/2024")), filter.FirstDay);
  EXPECT_EQ(static_cast<int64_t>(report_test::Date("31/03/2024")), filter.LastDay);
  EXPECT_EQ(static_cast<int64_t>(report_test::Date("30/06/2024")), filter.ReferenceDay);
  EXPECT_TRUE(filter.Branches.empty());
  EXPECT_TRUE(filter.Statuses.empty()) << "every status marked: no restriction";

  dialog.StatusList()->item(0)->setCheckState(Qt::Unchecked);
  ASSERT_TRUE(dialog.ReadFilter(filter, problem));
  EXPECT_EQ(9u, filter.Statuses.size());
  EXPECT_EQ(filter.Statuses.end(), std::find(filter.Statuses.begin(), filter.Statuses.end(), "A"));
  for (int i = 0; i < dialog.StatusList()->count(); ++i)
    dialog.StatusList()->item(i)->setCheckState(Qt::Unchecked);
  EXPECT_FALSE(dialog.ReadFilter(filter, problem));
  EXPECT_EQ(QStringLiteral("Marque ao menos uma situação."), problem);

  dialog.StatusList()->item(2)->setCheckState(Qt::Checked);
  dialog.FirstDate()->setDate(QDate(2024, 4, 1));
  EXPECT_FALSE(dialog.ReadFilter(filter, problem));
  EXPECT_EQ(QStringLiteral("A data inicial do período não pode ser posterior à final."), problem);
}

}  // namespace
}  // namespace Rel_sup00700
