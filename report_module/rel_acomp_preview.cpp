#include "report_module/rel_acomp_preview.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "framework/data/datetime.h"
#include "framework/host/services.h"
#include "framework/ui/application.h"
#include "report_module/rel_acomp_call.h"

namespace Rel_sup00700 {

namespace {

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void Report(const QString& text) {
  if (fw::Application && fw::Application->Platform())
    fw::Application->Platform()->ShowError(text.toStdString());
}

void Inform(const QString& text) {
  if (fw::Application && fw::Application->Platform())
    fw::Application->Platform()->ShowMessage(text.toStdString());
}

// Pixels per point at 100%: the screen's own density.
double ScreenScale() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return (screen ? screen->logicalDotsPerInch() : 96.0) / 72.0;
}

int64_t FromQDate(const QDate& date) {
  return static_cast<int64_t>(
      std::llround(fw::EncodeDateTime({date.year(), date.month(), date.day()})));
}

QDateEdit* DateEdit(const QDate& date, QWidget* parent) {
  auto* edit = new QDateEdit(date, parent);
  edit->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
  edit->setCalendarPopup(true);
  return edit;
}

enum TZoom { kFitWidth, kWholePage, k75, k100, k150 };

}  // namespace

QString MadeAtNow() {
  return QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

QString ProductMask() {
  return Q(fw::DBPict(0));
}

// ---- page view ----

TPageView::TPageView(const TReportLayout& layout, QWidget* parent)
    : QWidget(parent), layout_(layout) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPageView::SetPage(int page) {
  page_ = std::clamp(page, 0, std::max(layout_.PageCount() - 1, 0));
  update();
}

void TPageView::SetScale(double scale) {
  scale_ = std::clamp(scale, 0.2, 8.0);
  setFixedSize(sizeHint());
  update();
}

QSize TPageView::sizeHint() const {
  return QSize(static_cast<int>(std::ceil(TReportLayout::kSheetWidth * scale_)),
               static_cast<int>(std::ceil(TReportLayout::kSheetHeight * scale_)));
}

const QImage& TPageView::Image() {
  const std::pair<int, int> key(page_, static_cast<int>(std::lround(scale_ * 1000)));
  for (auto entry = cache_.begin(); entry != cache_.end(); ++entry)
    if (entry->first == key) {
      cache_.splice(cache_.begin(), cache_, entry);
      return cache_.front().second;
    }
  const qreal ratio = devicePixelRatioF();
  QImage image(sizeHint() * ratio, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    layout_.Paint(painter, page_, QRectF(QPointF(0, 0), QSizeF(sizeHint())));
  }
  ++painted_;
  cache_.emplace_front(key, std::move(image));
  while (cache_.size() > kCachedPages) cache_.pop_back();
  return cache_.front().second;
}

void TPageView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (layout_.PageCount() == 0) return painter.fillRect(rect(), Qt::white);
  painter.drawImage(QPoint(0, 0), Image());
}

// ---- preview ----

TRelAcompPreview::TRelAcompPreview(const TReportLayout& layout, QWidget* parent)
    : QDialog(parent), layout_(layout) {
  setWindowTitle(QString::fromUtf8(kReportTitle) + QStringLiteral(" — Visualização"));
  auto* layoutBox = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  auto button = [&](const QString& text, const QString& tip) {
    auto* tool = new QToolButton(this);
    tool->setText(text);
    tool->setToolTip(tip);
    tool->setAutoRaise(true);
    bar->addWidget(tool);
    return tool;
  };
  QToolButton* first = button(QStringLiteral("|◀"), QStringLiteral("Primeira página"));
  QToolButton* prior = button(QStringLiteral("◀"), QStringLiteral("Página anterior (PgUp)"));
  bar->addWidget(new QLabel(QStringLiteral("Página"), this));
  pageBox_ = new QSpinBox(this);
  pageBox_->setRange(1, std::max(layout_.PageCount(), 1));
  bar->addWidget(pageBox_);
  pageCount_ = new QLabel(QStringLiteral("de %1").arg(layout_.PageCount()), this);
  bar->addWidget(pageCount_);
  QToolButton* next = button(QStringLiteral("▶"), QStringLiteral("Próxima página (PgDn)"));
  QToolButton* last = button(QStringLiteral("▶|"), QStringLiteral("Última página"));
  bar->addSpacing(16);
  zoom_ = new QComboBox(this);
  zoom_->addItems({QStringLiteral("Largura da página"), QStringLiteral("Página inteira"),
                   QStringLiteral("75%"), QStringLiteral("100%"), QStringLiteral("150%")});
  bar->addWidget(zoom_);
  bar->addStretch();
  auto* print = new QPushButton(QStringLiteral("&Imprimir…"), this);
  auto* pdf = new QPushButton(QStringLiteral("&Salvar PDF…"), this);
  auto* close = new QPushButton(QStringLiteral("&Fechar"), this);
  bar->addWidget(print);
  bar->addWidget(pdf);
  bar->addWidget(close);
  layoutBox->addLayout(bar);

  scroll_ = new QScrollArea(this);
  scroll_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  scroll_->setBackgroundRole(QPalette::Dark);
  view_ = new TPageView(layout_, scroll_);
  scroll_->setWidget(view_);
  layoutBox->addWidget(scroll_, 1);

  connect(first, &QToolButton::clicked, this, [this] { ShowPage(0); });
  connect(prior, &QToolButton::clicked, this, [this] { ShowPage(view_->PageIndex() - 1); });
  connect(next, &QToolButton::clicked, this, [this] { ShowPage(view_->PageIndex() + 1); });
  connect(last, &QToolButton::clicked, this, [this] { ShowPage(layout_.PageCount() - 1); });
  connect(pageBox_, &QSpinBox::valueChanged, this, [this](int value) {
    if (value - 1 != view_->PageIndex()) ShowPage(value - 1);
  });
  connect(zoom_, &QComboBox::currentIndexChanged, this, [this](int choice) { ApplyZoom(choice); });
  connect(print, &QPushButton::clicked, this, [this] { Print(); });
  connect(pdf, &QPushButton::clicked, this, [this] { ChoosePdf(); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  resize(1100, 760);
  ApplyZoom(kFitWidth);
  ShowPage(0);
}

void TRelAcompPreview::ShowPage(int page) {
  view_->SetPage(page);
  scroll_->verticalScrollBar()->setValue(0);
  UpdateControls();
}

void TRelAcompPreview::UpdateControls() {
  const QSignalBlocker block(pageBox_);
  pageBox_->setValue(view_->PageIndex() + 1);
}

void TRelAcompPreview::ApplyZoom(int choice) {
  const QSize room = scroll_->viewport()->size() - QSize(4, 4);
  double scale = ScreenScale();
  switch (choice) {
    case kFitWidth:
      scale = room.width() / TReportLayout::kSheetWidth;
      break;
    case kWholePage:
      scale = std::min(room.width() / TReportLayout::kSheetWidth,
                       room.height() / TReportLayout::kSheetHeight);
      break;
    case k75:
      scale *= 0.75;
      break;
    case k150:
      scale *= 1.5;
      break;
    default:
      break;
  }
  view_->SetScale(scale);
}

void TRelAcompPreview::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (zoom_->currentIndex() == kFitWidth || zoom_->currentIndex() == kWholePage)
    ApplyZoom(zoom_->currentIndex());
}

void TRelAcompPreview::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_PageDown:
      return ShowPage(view_->PageIndex() + 1);
    case Qt::Key_PageUp:
      return ShowPage(view_->PageIndex() - 1);
    case Qt::Key_Home:
      if (event->modifiers() & Qt::ControlModifier) return ShowPage(0);
      break;
    case Qt::Key_End:
      if (event->modifiers() & Qt::ControlModifier) return ShowPage(layout_.PageCount() - 1);
      break;
    default:
      break;
  }
  QDialog::keyPressEvent(event);
}

void TRelAcompPreview::ChoosePdf() {
  const QString path = QFileDialog::getSaveFileName(
      this, QStringLiteral("Salvar PDF"), QStringLiteral("acompanhamento-solicitacoes.pdf"),
      QStringLiteral("PDF (*.pdf)"));
  if (!path.isEmpty()) SavePdf(path);
}

bool TRelAcompPreview::SavePdf(const QString& path) {
  std::unique_ptr<QWidget> box;
  QString error;
  const TRenderOutcome outcome =
      WritePdf(layout_, path, ProgressBox(this, QStringLiteral("Gravando o PDF…"), box), error);
  box.reset();
  if (outcome == TRenderOutcome::Failed) Report(error);
  return outcome == TRenderOutcome::Done;
}

bool TRelAcompPreview::Print() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setPageOrientation(QPageLayout::Landscape);
  printer.setFromTo(0, 0);
  QPrintDialog dialog(&printer, this);
  dialog.setWindowTitle(QStringLiteral("Imprimir relatório"));
  if (dialog.exec() != QDialog::Accepted) return false;
  std::unique_ptr<QWidget> box;
  QString error;
  const TRenderOutcome outcome =
      PrintReport(layout_, printer, ProgressBox(this, QStringLiteral("Imprimindo…"), box), error);
  box.reset();
  if (outcome == TRenderOutcome::Failed) Report(error);
  return outcome == TRenderOutcome::Done;
}

TProgress ProgressBox(QWidget* parent, const QString& caption, std::unique_ptr<QWidget>& holder) {
  auto* box = new QProgressDialog(caption, QStringLiteral("Cancelar"), 0, 1, parent);
  holder.reset(box);
  box->setWindowTitle(QString::fromUtf8(kReportTitle));
  box->setWindowModality(Qt::WindowModal);
  box->setMinimumDuration(500);
  box->setAutoClose(false);
  box->setAutoReset(false);
  box->setValue(0);
  return [box, caption](int done, int total) {
    box->setMaximum(total);
    box->setLabelText(QStringLiteral("%1 página %2 de %3").arg(caption).arg(done).arg(total));
    box->setValue(done);
    QCoreApplication::processEvents();
    return !box->wasCanceled();
  };
}

// ---- dialog ----

TRelAcompDialog::TRelAcompDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(kReportTitle));
  auto* box = new QVBoxLayout(this);

  auto* period = new QGroupBox(QStringLiteral("Período da solicitação"), this);
  auto* periodRow = new QHBoxLayout(period);
  const QDate today = QDate::currentDate();
  first_ = DateEdit(QDate(today.year(), today.month(), 1), period);
  last_ = DateEdit(today, period);
  reference_ = DateEdit(today, period);
  reference_->setToolTip(
      QStringLiteral("Dia em relação ao qual se contam os dias parados e os atrasos."));
  periodRow->addWidget(new QLabel(QStringLiteral("De"), period));
  periodRow->addWidget(first_);
  periodRow->addWidget(new QLabel(QStringLiteral("até"), period));
  periodRow->addWidget(last_);
  periodRow->addSpacing(16);
  periodRow->addWidget(new QLabel(QStringLiteral("Data-base"), period));
  periodRow->addWidget(reference_);
  periodRow->addStretch();
  box->addWidget(period);

  auto* lists = new QHBoxLayout;
  auto* branchGroup = new QGroupBox(QStringLiteral("Filiais solicitantes"), this);
  auto* branchBox = new QVBoxLayout(branchGroup);
  allBranches_ = new QRadioButton(QStringLiteral("&Todas"), branchGroup);
  someBranches_ = new QRadioButton(QStringLiteral("&Selecionadas:"), branchGroup);
  allBranches_->setChecked(true);
  branches_ = new QListWidget(branchGroup);
  branches_->setEnabled(false);
  branchBox->addWidget(allBranches_);
  branchBox->addWidget(someBranches_);
  branchBox->addWidget(branches_);
  lists->addWidget(branchGroup, 3);

  auto* statusGroup = new QGroupBox(QStringLiteral("Situações dos itens"), this);
  auto* statusBox = new QVBoxLayout(statusGroup);
  statuses_ = new QListWidget(statusGroup);
  for (const TStatusName& status : Statuses()) {
    auto* item = new QListWidgetItem(QString::fromUtf8(status.Text), statuses_);
    item->setData(Qt::UserRole, QString::fromUtf8(status.Code));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
  }
  statusBox->addWidget(statuses_);
  auto* marks = new QHBoxLayout;
  auto* all = new QPushButton(QStringLiteral("&Marcar todas"), statusGroup);
  auto* none = new QPushButton(QStringLiteral("&Limpar"), statusGroup);
  marks->addWidget(all);
  marks->addWidget(none);
  statusBox->addLayout(marks);
  lists->addWidget(statusGroup, 2);
  box->addLayout(lists, 1);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* preview =
      buttons->addButton(QStringLiteral("&Visualizar"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("&Fechar"), QDialogButtonBox::RejectRole);
  preview->setDefault(true);
  box->addWidget(buttons);

  connect(someBranches_, &QRadioButton::toggled, this, [this](bool some) {
    if (some) LoadBranches();
    branches_->setEnabled(some);
  });
  auto markAll = [this](Qt::CheckState state) {
    for (int i = 0; i < statuses_->count(); ++i) statuses_->item(i)->setCheckState(state);
  };
  connect(all, &QPushButton::clicked, this, [markAll] { markAll(Qt::Checked); });
  connect(none, &QPushButton::clicked, this, [markAll] { markAll(Qt::Unchecked); });
  connect(preview, &QPushButton::clicked, this, [this] { Preview(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  resize(640, 420);
}

void TRelAcompDialog::LoadBranches() {
  if (branchesLoaded_) return;
  try {
    for (const auto& [code, name] : FetchBranches()) {
      auto* item = new QListWidgetItem(Q(code) + QStringLiteral(" — ") + Q(name), branches_);
      item->setData(Qt::UserRole, Q(code));
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
      item->setCheckState(Qt::Unchecked);
    }
    branchesLoaded_ = true;
  } catch (const std::exception& failure) {
    Report(QString::fromUtf8(failure.what()));
    allBranches_->setChecked(true);
  }
}

bool TRelAcompDialog::ReadFilter(TReportFilter& filter, QString& problem) {
  if (first_->date() > last_->date()) {
    problem = QStringLiteral("A data inicial do período não pode ser posterior à final.");
    first_->setFocus();
    return false;
  }
  filter.FirstDay = FromQDate(first_->date());
  filter.LastDay = FromQDate(last_->date());
  filter.ReferenceDay = FromQDate(reference_->date());
  filter.Branches.clear();
  if (someBranches_->isChecked()) {
    for (int i = 0; i < branches_->count(); ++i)
      if (branches_->item(i)->checkState() == Qt::Checked)
        filter.Branches.push_back(branches_->item(i)->data(Qt::UserRole).toString().toStdString());
    if (filter.Branches.empty()) {
      problem = QStringLiteral("Marque ao menos uma filial, ou escolha todas.");
      branches_->setFocus();
      return false;
    }
  }
  filter.Statuses.clear();
  for (int i = 0; i < statuses_->count(); ++i)
    if (statuses_->item(i)->checkState() == Qt::Checked)
      filter.Statuses.push_back(statuses_->item(i)->data(Qt::UserRole).toString().toStdString());
  if (filter.Statuses.empty()) {
    problem = QStringLiteral("Marque ao menos uma situação.");
    statuses_->setFocus();
    return false;
  }
  // Every status marked is no restriction at all.
  if (filter.Statuses.size() == Statuses().size()) filter.Statuses.clear();
  return true;
}

void TRelAcompDialog::Preview() {
  TReportFilter filter;
  QString problem;
  if (!ReadFilter(filter, problem)) return Report(problem);
  std::unique_ptr<TReportData> data;
  try {
    data = std::make_unique<TReportData>(FetchReport(filter), filter);
  } catch (const std::exception& failure) {
    return Report(QString::fromUtf8(failure.what()));
  }
  if (data->RowCount() == 0)
    return Inform(QStringLiteral("Nenhum item de solicitação atende ao filtro."));
  const TReportLayout layout(*data, MadeAtNow(), ProductMask());
  TRelAcompPreview preview(layout, this);
  preview.exec();
}

}  // namespace Rel_sup00700
