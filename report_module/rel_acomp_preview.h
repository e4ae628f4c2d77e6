// Unit Rel_sup00700 (windows): the report's dialog and its preview.
//
// TRelAcompDialog asks for the request-date range, the reference day, the branches (all, or
// those marked in the list, which is fetched the first time it is wanted) and the statuses,
// then fetches the rows and opens the preview (rel_acomp_dialog.cpp). Its date fields are the
// screens' date edits (hostapp::DateField). TRelAcompPreview shows one page at a time,
// painted when shown (the last few painted are kept, no more), with the page buttons, the zoom,
// "Imprimir…" and "Salvar PDF…". Printing and saving paint page by page with a progress box
// (after half a second) that cancels; a cancelled PDF leaves no file.
#pragma once

#include <QDialog>
#include <QImage>
#include <QWidget>
#include <list>
#include <memory>
#include <utility>

#include "host_app/date_field.h"
#include "report_module/rel_acomp_layout.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QListWidget;
class QRadioButton;
class QScrollArea;
class QSpinBox;

namespace Rel_sup00700 {

// One page, painted at the zoom into an image of its own; the images of the last pages shown
// are kept (kCachedPages), the others painted again when shown again.
class TPageView : public QWidget {
 public:
  static constexpr int kCachedPages = 4;
  TPageView(const TReportLayout& layout, QWidget* parent);
  void SetPage(int page);
  int PageIndex() const { return page_; }
  // Pixels per point of the sheet.
  void SetScale(double scale);
  double Scale() const { return scale_; }
  // How many pages were painted, since the start (the tests' count).
  int PagesPainted() const { return painted_; }
  int CachedPages() const { return static_cast<int>(cache_.size()); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const QImage& Image();

  const TReportLayout& layout_;
  int page_ = 0;
  double scale_ = 1.0;
  int painted_ = 0;
  std::list<std::pair<std::pair<int, int>, QImage>> cache_;  // (page, scale in 1/1000)
};

class TRelAcompPreview : public QDialog {
 public:
  TRelAcompPreview(const TReportLayout& layout, QWidget* parent = nullptr);
  TPageView* View() const { return view_; }
  void ShowPage(int page);
  // Fit the page's width into the window (the default), the whole page, or a fixed zoom.
  void ApplyZoom(int choice);
  // The buttons' work, callable by the tests: false when cancelled or failed (reported).
  bool SavePdf(const QString& path);
  bool Print();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void UpdateControls();
  void ChoosePdf();

  const TReportLayout& layout_;
  TPageView* view_;
  QScrollArea* scroll_;
  QSpinBox* pageBox_;
  QLabel* pageCount_;
  QComboBox* zoom_;
};

// Paints with a progress box shown after half a second; its "Cancelar" stops the work.
TProgress ProgressBox(QWidget* parent, const QString& caption, std::unique_ptr<QWidget>& holder);

class TRelAcompDialog : public QDialog {
 public:
  // Opens with what this user asked for last (remembered across sessions), else the current
  // month of every branch and status; "Usar o filtro da tela" shows while the request screen
  // is open.
  explicit TRelAcompDialog(QWidget* parent = nullptr);
  // The filter as the controls say, or the message for the user when they say something wrong.
  bool ReadFilter(TReportFilter& filter, QString& problem);
  // Fetches the rows and opens the preview (a message when nothing matches). A filter that reads
  // right is remembered for the user first.
  void Preview();
  // The request screen's request dates (those typed) and the branches its grid lists (when a
  // query has listed some), into the dialog. Nothing is passed back to the screen.
  void UseScreenFilter();

  hostapp::DateField* FirstDate() const { return first_; }
  hostapp::DateField* LastDate() const { return last_; }
  hostapp::DateField* ReferenceDate() const { return reference_; }
  QRadioButton* AllBranches() const { return allBranches_; }
  QRadioButton* SomeBranches() const { return someBranches_; }
  QListWidget* BranchList() const { return branches_; }
  QListWidget* StatusList() const { return statuses_; }
  QPushButton* ScreenFilterButton() const { return screenFilter_; }

  // Where each user's last filter is kept: acomp/sup00700.ini in the user's configuration
  // folder ($XDG_CONFIG_HOME, else ~/.config).
  static QString PreferencesFile();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // False when the list could not be fetched (said in a message).
  bool LoadBranches();
  // Marks exactly these codes, adding the ones the list lacks.
  void MarkBranches(const std::vector<std::pair<std::string, std::string>>& marked);
  void Restore();
  void Remember(const TReportFilter& filter);

  hostapp::DateField* first_;
  hostapp::DateField* last_;
  hostapp::DateField* reference_;
  QRadioButton* allBranches_;
  QRadioButton* someBranches_;
  QListWidget* branches_;
  QListWidget* statuses_;
  QPushButton* screenFilter_;
  bool branchesLoaded_ = false;
};

// Opens the help on the report's page (F1, "Ajuda"); says so when it is not installed.
void ShowReportHelp();

// "05/08/2025 14:03": when the report was made.
QString MadeAtNow();
// The host's product-code mask (fw::DBPict).
QString ProductMask();

}  // namespace Rel_sup00700
