// The report's pages: every item on exactly one page, branch titles and summaries where they
// belong; pages painted only when shown (100,000 items); the PDF's text, and a PDF that cannot
// be written or is cancelled leaving nothing behind; the preview and the dialog.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <QDateEdit>
#include <QListWidget>
#include <QRadioButton>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "framework/fake_platform.h"
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

TEST(ReportLayout, EveryItemOnOnePage_InOrder_BranchTitlesAndSummariesWhereTheyBelong) {
  const TReportData data(Items({10, 100, 5}), Filter());
  const TReportLayout layout(data, "30/06/2024 10:00", "00.000.000;0;_");
  ASSERT_GE(layout.PageCount(), 3);
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
          EXPECT_EQ(page + 1, layout.PageCount());
          EXPECT_EQ(&block, &blocks.back());
          break;
        case TBlock::TKind::Empty:
          ADD_FAILURE() << "an empty page in a report with items";
          break;
      }
    }
  }
  EXPECT_EQ(data.RowCount(), next);
  EXPECT_EQ((std::vector<int>{1, 1, 1}), summaries);
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
        "Página 1 de 1", "Resumo geral", "Baixa Total", "Em Aberto", "92 dias"})
    EXPECT_NE(std::string::npos, text.find(expected)) << expected << "\n" << text;
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
