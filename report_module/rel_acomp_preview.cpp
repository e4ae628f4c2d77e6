#include "report_module/rel_acomp_preview.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "framework/host/services.h"
#include "framework/ui/application.h"

namespace Rel_sup00700 {

namespace {

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void Report(const QString& text) {
  if (fw::Application && fw::Application->Platform())
    fw::Application->Platform()->ShowError(text.toStdString());
}

// Pixels per point at 100%: the screen's own density.
double ScreenScale() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return (screen ? screen->logicalDotsPerInch() : 96.0) / 72.0;
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
  // The room of the scroll area without its scroll bars: the page, once fitted, decides whether
  // the vertical one shows, and a page that fits the width must not bring the horizontal one.
  const QSize room = scroll_->maximumViewportSize() - QSize(4, 4);
  double scale = ScreenScale();
  switch (choice) {
    case kFitWidth: {
      scale = room.width() / TReportLayout::kSheetWidth;
      if (TReportLayout::kSheetHeight * scale > room.height())
        scale = (room.width() - scroll_->verticalScrollBar()->sizeHint().width()) /
                TReportLayout::kSheetWidth;
      break;
    }
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

void TRelAcompPreview::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Before the window is shown its scroll area has no size of its own yet: the zoom that fits
  // the page to the window is worked out now, once the area has the room it will show.
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
    case Qt::Key_F1:
      return ShowReportHelp();
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
  // Wide enough for its title: a window manager cuts a title longer than the window.
  const int titleRoom = box->fontMetrics().horizontalAdvance(box->windowTitle()) + 120;
  box->setMinimumWidth(std::max(box->sizeHint().width(), titleRoom));
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

}  // namespace Rel_sup00700
