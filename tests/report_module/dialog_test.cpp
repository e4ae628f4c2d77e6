// The report's windows as a user meets them: dates typed as on the screens, the filter of last
// time (each user's, across sessions), "Usar o filtro da tela", the preview at the page's
// width, a progress box whose title fits, and the help on F1.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "framework/host/config.h"
#include "framework/host/host_controls.h"
#include "framework/testing/canned_service.h"
#include "framework/testing/fake_platform.h"
#include "report_module/rel_acomp_layout.h"
#include "report_module/rel_acomp_preview.h"
#include "tests/report_module/report_rows.h"

namespace Rel_sup00700 {
namespace {

// The fake platform, with the help it was asked for.
class THelpPlatform : public fw::TFakePlatform {
 public:
  bool ShowHelp(const std::string& topic) override {
    HelpTopics.push_back(topic);
    return true;
  }
  std::vector<std::string> HelpTopics;
};

class ReportDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::InitApplication();
    fw::Application->SetPlatform(&platform);
    canned.ServeText("GetFilSoli", {"IDMARCADO", "CDFILSOLI", "NMFILIAL"},
                     {{"", "0001", "Matriz"}, {"", "0002", "Campinas"}, {"", "0003", "Santos"}});
    saved = fw::HostConfig();
    fw::HostConfig().ServiceFactory = [this](const std::string&, int, const std::string&) {
      return canned.Connect();
    };
    QFile::remove(TRelAcompDialog::PreferencesFile());
  }
  void TearDown() override {
    fw::DoneApplication();
    fw::HostConfig() = saved;
    QFile::remove(TRelAcompDialog::PreferencesFile());
  }
  static int64_t Day(const char* text) { return static_cast<int64_t>(report_test::Date(text)); }
  static QStringList Marked(const QListWidget* list) {
    QStringList codes;
    for (int i = 0; i < list->count(); ++i)
      if (list->item(i)->checkState() == Qt::Checked)
        codes << list->item(i)->data(Qt::UserRole).toString();
    return codes;
  }

  THelpPlatform platform;
  service::TCannedAppServer canned;
  fw::THostConfig saved;
};

// A click into a date field and the digits: the date, as in the screens' date edits, whether the
// field held a date or nothing.
TEST_F(ReportDialog, DateFields_TakeDigitsTypedAfterAClick) {
  TRelAcompDialog dialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  auto* first = dialog.FirstDate()->findChild<QLineEdit*>();
  auto* last = dialog.LastDate()->findChild<QLineEdit*>();
  ASSERT_TRUE(first && last);
  // Over a date already there, from its start.
  QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(3, first->height() / 2));
  QApplication::processEvents();
  QTest::keyClicks(first, QStringLiteral("01022024"));
  // Into an empty field, clicked past its end.
  last->clear();
  QTest::mouseClick(last, Qt::LeftButton, {}, QPoint(last->width() - 4, last->height() / 2));
  QApplication::processEvents();
  QTest::keyClicks(last, QStringLiteral("29022024"));
  TReportFilter filter;
  QString problem;
  ASSERT_TRUE(dialog.ReadFilter(filter, problem)) << problem.toStdString();
  EXPECT_EQ(Day("01/02/2024"), filter.FirstDay);
  EXPECT_EQ(Day("29/02/2024"), filter.LastDay);

  // A day that does not exist, and a field left blank, are said plainly.
  last->clear();
  QTest::mouseClick(last, Qt::LeftButton, {}, QPoint(3, last->height() / 2));
  QApplication::processEvents();
  QTest::keyClicks(last, QStringLiteral("31022024"));
  EXPECT_FALSE(dialog.ReadFilter(filter, problem));
  EXPECT_EQ(QStringLiteral("Data final inválida: 31/02/2024."), problem);
  last->clear();
  EXPECT_FALSE(dialog.ReadFilter(filter, problem));
  EXPECT_EQ(QStringLiteral("Informe a data final do período."), problem);
}

// What a user asked for is what their next dialog opens with, even in another session; another
// user's dialog opens as before (this month, everything).
TEST_F(ReportDialog, OpensWithTheUsersLastFilter_EachUserTheirOwn) {
  fw::HostConfig().Credentials.Login = "maria";
  {
    TRelAcompDialog dialog;
    dialog.FirstDate()->setDate(QDate(2024, 3, 1));
    dialog.LastDate()->setDate(QDate(2024, 3, 31));
    dialog.StatusList()->item(0)->setCheckState(Qt::Unchecked);
    dialog.SomeBranches()->setChecked(true);
    ASSERT_EQ(3, dialog.BranchList()->count()) << "the list fetched";
    dialog.BranchList()->item(1)->setCheckState(Qt::Checked);
    // "Visualizar": the filter is remembered before the rows are asked for (which the canned
    // service refuses here).
    dialog.Preview();
  }
  {
    TRelAcompDialog again;
    EXPECT_EQ(QDate(2024, 3, 1), again.FirstDate()->date());
    EXPECT_EQ(QDate(2024, 3, 31), again.LastDate()->date());
    EXPECT_EQ(QDate::currentDate(), again.ReferenceDate()->date()) << "the data-base is today's";
    EXPECT_TRUE(again.SomeBranches()->isChecked());
    EXPECT_EQ(QStringList{QStringLiteral("0002")}, Marked(again.BranchList()));
    EXPECT_EQ(Qt::Unchecked, again.StatusList()->item(0)->checkState());
    EXPECT_EQ(Qt::Checked, again.StatusList()->item(1)->checkState());
  }
  fw::HostConfig().Credentials.Login = "joao";
  TRelAcompDialog other;
  const QDate today = QDate::currentDate();
  EXPECT_EQ(QDate(today.year(), today.month(), 1), other.FirstDate()->date());
  EXPECT_EQ(today, other.LastDate()->date());
  EXPECT_TRUE(other.AllBranches()->isChecked());
  EXPECT_EQ(Qt::Checked, other.StatusList()->item(0)->checkState());
}

// With the request screen open, its request dates and the branches its grid lists come into
// the dialog; nothing goes the other way.
TEST_F(ReportDialog, UseTheScreensFilter_ItsRequestDatesAndListedBranches) {
  {
    TRelAcompDialog alone;
    EXPECT_TRUE(alone.ScreenFilterButton()->isHidden()) << "no screen open, nothing offered";
  }
  auto* screen = new fw::TForm(fw::Application, "frmAcompSoli");
  auto* first = screen->Create<fw::TDateEditPlus>("depSolicitacaoIni");
  auto* last = screen->Create<fw::TDateEditPlus>("depSolicitacaoFin");
  first->SetText("05/02/2024");
  last->SetText("20/02/2024");
  auto* listed = screen->Create<fw::TClientDataSet>("cdsFilSoliGrid");
  listed->AddField("cdsFilSoliGridCDFILIAL", "CDFILIAL", fw::TFieldType::ftString, 4);
  listed->AddField("cdsFilSoliGridNMFILIAL", "NMFILIAL", fw::TFieldType::ftString, 30);
  fw::TDataPacket rows(
      {{"CDFILIAL", fw::TFieldType::ftString, 4}, {"NMFILIAL", fw::TFieldType::ftString, 30}});
  for (const auto& [code, name] : {std::pair{"0001", "Matriz"}, std::pair{"0003", "Santos"}}) {
    rows.Columns()[0].AppendString(code);
    rows.Columns()[1].AppendString(name);
  }
  listed->SetData(std::move(rows));
  listed->MoveTo(1);
  screen->Show();

  TRelAcompDialog dialog;
  ASSERT_FALSE(dialog.ScreenFilterButton()->isHidden());
  dialog.ScreenFilterButton()->click();
  EXPECT_EQ(QDate(2024, 2, 5), dialog.FirstDate()->date());
  EXPECT_EQ(QDate(2024, 2, 20), dialog.LastDate()->date());
  EXPECT_TRUE(dialog.SomeBranches()->isChecked());
  EXPECT_EQ(3, dialog.BranchList()->count()) << "the whole list, to add or take out";
  EXPECT_EQ((QStringList{QStringLiteral("0001"), QStringLiteral("0003")}),
            Marked(dialog.BranchList()));
  EXPECT_EQ(2, listed->RecNo()) << "the screen's cursor stays";
  TReportFilter filter;
  QString problem;
  ASSERT_TRUE(dialog.ReadFilter(filter, problem)) << problem.toStdString();
  EXPECT_EQ((std::vector<std::string>{"0001", "0003"}), filter.Branches);
}

// The preview opens showing the page at the window's width, not a thumbnail in a wide window.
TEST_F(ReportDialog, Preview_OpensAtThePagesWidth) {
  std::vector<report_test::TRow> items;
  for (int item = 0; item < 200; ++item)
    items.push_back({{"CDFILIAL", "0001"},
                     {"NMFILIAL", "Matriz"},
                     {"NRSOLICMP", "2024000001"},
                     {"CDFILLAN", "0001"},
                     {"NRITEMSOLI", std::to_string(item + 1)},
                     {"STATUS", "A"},
                     {"DTHRLANCSOL", "04/03/2024"}});
  TReportFilter filter;
  filter.FirstDay = Day("01/03/2024");
  filter.LastDay = Day("31/03/2024");
  filter.ReferenceDay = Day("30/06/2024");
  const TReportData data(report_test::MakePacket(items), filter);
  const TReportLayout layout(data, "30/06/2024 10:00", "");
  TRelAcompPreview preview(layout);
  preview.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
  QApplication::processEvents();
  auto* scroll = preview.findChild<QScrollArea*>();
  ASSERT_NE(scroll, nullptr);
  const int room = scroll->viewport()->width();
  EXPECT_GT(room, 900);
  EXPECT_GE(preview.View()->width(), room - 12) << "the page fills the width";
  EXPECT_LE(preview.View()->width(), room) << "and needs no sideways scrolling";
  EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
}

// The PDF's progress box is wide enough for its title, the report's name.
TEST_F(ReportDialog, ProgressBox_WideEnoughForItsTitle) {
  QWidget parent;
  std::unique_ptr<QWidget> holder;
  const TProgress progress = ProgressBox(&parent, QStringLiteral("Gravando o PDF…"), holder);
  ASSERT_NE(holder, nullptr);
  progress(1, 300);
  const QString title = holder->windowTitle();
  EXPECT_EQ(QString::fromUtf8(kReportTitle), title);
  EXPECT_GT(holder->minimumWidth(), holder->fontMetrics().horizontalAdvance(title) + 60);
  holder.reset();
}

TEST_F(ReportDialog, F1AndHelp_OpenTheReportsPage) {
  TRelAcompDialog dialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QTest::keyClick(dialog.FirstDate()->findChild<QLineEdit*>(), Qt::Key_F1);
  for (QPushButton* button : dialog.findChildren<QPushButton*>())
    if (button->text() == QStringLiteral("Aj&uda")) button->click();
  EXPECT_EQ((std::vector<std::string>{"SUP00700", "SUP00700"}), platform.HelpTopics);
}

}  // namespace
}  // namespace Rel_sup00700
