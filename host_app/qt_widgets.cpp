#include "host_app/qt_widgets.h"

#include <QCalendarWidget>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>

#include "host_app/conversions.h"

namespace hostapp {

// ---- alignment ----

std::vector<QRect> AlignRects(const QRect& client, const std::vector<AlignItem>& items,
                              QSize growth) {
  std::vector<QRect> rects(items.size());
  const auto anchored = [&](size_t i, fw::TAnchors edges) {
    return (items[i].Anchors & edges) == edges;
  };
  for (size_t i = 0; i < items.size(); ++i) {
    QRect rect = items[i].Designed;
    if (items[i].Align == fw::TAlign::alNone) {
      if (anchored(i, fw::akLeft | fw::akRight)) {
        rect.setWidth(std::max(rect.width() + growth.width(), 0));
      } else if (anchored(i, fw::akRight)) {
        rect.moveLeft(rect.left() + growth.width());
      }
      if (anchored(i, fw::akTop | fw::akBottom)) {
        rect.setHeight(std::max(rect.height() + growth.height(), 0));
      } else if (anchored(i, fw::akBottom)) {
        rect.moveTop(rect.top() + growth.height());
      }
    }
    rects[i] = rect;
  }

  auto ordered = [&](fw::TAlign align, auto nearerFirst) {
    std::vector<size_t> indexes;
    for (size_t i = 0; i < items.size(); ++i)
      if (items[i].Visible && items[i].Align == align) indexes.push_back(i);
    std::stable_sort(indexes.begin(), indexes.end(), [&](size_t a, size_t b) {
      return nearerFirst(items[a].Designed, items[b].Designed);
    });
    return indexes;
  };
  // The size along the aligned axis: designed, plus the growth when anchored at both ends.
  const auto along = [&](size_t i, bool vertical, int room) {
    int size = vertical ? items[i].Designed.height() : items[i].Designed.width();
    if (anchored(i, vertical ? fw::akTop | fw::akBottom : fw::akLeft | fw::akRight))
      size += vertical ? growth.height() : growth.width();
    return std::clamp(size, 0, std::max(room, 0));
  };

  QRect free = client;
  for (size_t i : ordered(fw::TAlign::alTop, [](QRect a, QRect b) { return a.top() < b.top(); })) {
    const int height = along(i, true, free.height());
    rects[i] = QRect(free.left(), free.top(), free.width(), height);
    free.setTop(free.top() + height);
  }
  for (size_t i :
       ordered(fw::TAlign::alBottom, [](QRect a, QRect b) { return a.bottom() > b.bottom(); })) {
    const int height = along(i, true, free.height());
    rects[i] = QRect(free.left(), free.bottom() + 1 - height, free.width(), height);
    free.setBottom(free.bottom() - height);
  }
  for (size_t i :
       ordered(fw::TAlign::alLeft, [](QRect a, QRect b) { return a.left() < b.left(); })) {
    const int width = along(i, false, free.width());
    rects[i] = QRect(free.left(), free.top(), width, free.height());
    free.setLeft(free.left() + width);
  }
  for (size_t i :
       ordered(fw::TAlign::alRight, [](QRect a, QRect b) { return a.right() > b.right(); })) {
    const int width = along(i, false, free.width());
    rects[i] = QRect(free.right() + 1 - width, free.top(), width, free.height());
    free.setRight(free.right() - width);
  }
  for (size_t i : ordered(fw::TAlign::alClient, [](QRect, QRect) { return false; }))
    rects[i] = QRect(free.topLeft(), QSize(std::max(free.width(), 0), std::max(free.height(), 0)));
  return rects;
}

// ---- forms ----

FormRoot::FormRoot(QWidget* parent)
    : QWidget(parent), layout_(new QVBoxLayout(this)), client_(new QWidget(this)) {
  layout_->setContentsMargins(0, 0, 0, 0);
  layout_->setSpacing(0);
  layout_->addWidget(client_, 1);
  client_->setAutoFillBackground(true);
}

QMenuBar* FormRoot::MenuBar() {
  if (!menuBar_) {
    menuBar_ = new QMenuBar(this);
    menuBar_->setNativeMenuBar(false);
    layout_->insertWidget(0, menuBar_);
  }
  return menuBar_;
}

QSize FormRoot::sizeHint() const {
  if (!designed_.isValid()) return QWidget::sizeHint();
  const int menuHeight = menuBar_ ? menuBar_->sizeHint().height() : 0;
  return {designed_.width(), designed_.height() + menuHeight};
}

FormWindow::FormWindow(QWidget* parent) : QWidget(parent) {}

void FormWindow::closeEvent(QCloseEvent* event) {
  if (!OnCloseRequest) return QWidget::closeEvent(event);
  // The model decides; it hides the window when it closes the form.
  event->ignore();
  OnCloseRequest();
}

FormSubWindow::FormSubWindow(QWidget* parent) : QMdiSubWindow(parent) {}

void FormSubWindow::closeEvent(QCloseEvent* event) {
  if (!OnCloseRequest) return QMdiSubWindow::closeEvent(event);
  event->ignore();
  OnCloseRequest();
}

// ---- simple controls ----

void PanelFrame::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  update();
}

void PanelFrame::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (caption_.isEmpty()) return;
  QPainter painter(this);
  painter.drawText(contentsRect(), Qt::AlignCenter, caption_);
}

ModelRadioButton::ModelRadioButton(QWidget* parent) : QRadioButton(parent) {
  // The model unchecks the siblings itself.
  setAutoExclusive(false);
}

void ModelRadioButton::nextCheckState() {
  if (OnUserClick) OnUserClick();
}

void ModelRadioButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  if (hasFocus()) option.state |= QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
  painter.drawControl(QStyle::CE_RadioButton, option);
}

DateEditWidget::DateEditWidget(QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), button_(new QToolButton(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(edit_, 1);
  layout->addWidget(button_);
  button_->setFocusPolicy(Qt::NoFocus);
  button_->setText(QStringLiteral("▾"));
  button_->setToolTip(QStringLiteral("Calendário"));
  button_->setAutoRaise(false);
  QObject::connect(button_, &QToolButton::clicked, this, [this] {
    ShowCalendar(QDate::fromString(edit_->text(), QStringLiteral("dd/MM/yyyy")));
  });
}

QWidget* DateEditWidget::ShowCalendar(const QDate& date) {
  if (!popup_) {
    popup_ = new QWidget(this, Qt::Popup);
    auto* layout = new QVBoxLayout(popup_);
    layout->setContentsMargins(1, 1, 1, 1);
    auto* calendar = new QCalendarWidget(popup_);
    calendar->setObjectName(QStringLiteral("calendar"));
    calendar->setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    calendar->setFirstDayOfWeek(Qt::Sunday);
    calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    layout->addWidget(calendar);
    QObject::connect(calendar, &QCalendarWidget::clicked, this, [this](const QDate& picked) {
      popup_->hide();
      if (OnDatePicked) OnDatePicked(picked);
    });
  }
  auto* calendar = popup_->findChild<QCalendarWidget*>();
  calendar->setSelectedDate(date.isValid() ? date : QDate::currentDate());
  popup_->adjustSize();
  popup_->move(mapToGlobal(QPoint(0, height())));
  popup_->show();
  return popup_;
}

SplitterHandle::SplitterHandle(QWidget* parent) : QWidget(parent) {}

void SplitterHandle::mousePressEvent(QMouseEvent* event) {
  last_ = event->globalPosition().toPoint();
}

void SplitterHandle::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  const QPoint now = event->globalPosition().toPoint();
  const int delta = Vertical ? now.y() - last_.y() : now.x() - last_.x();
  last_ = now;
  if (delta && OnDrag) OnDrag(delta);
}

// ---- grid ----

GridModel::GridModel(fw::TDBGrid* grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid) {
  Reload();
}

void GridModel::Reload() {
  beginResetModel();
  dataSet_ = grid_ ? grid_->DataSet() : nullptr;
  rows_ = grid_ ? grid_->RowCount() : 0;
  columns_ = grid_ ? grid_->ColumnCount() : 0;
  endResetModel();
}

void GridModel::Detach() {
  grid_ = nullptr;
  Reload();
}

void GridModel::CurrentRowChanged(int previous, int current) {
  for (int row : {previous, current})
    if (row >= 0 && row < rows_) emit headerDataChanged(Qt::Vertical, row, row);
}

int GridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int GridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columns_;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
  if (!grid_ || !index.isValid() || index.row() >= rows_ || index.column() >= columns_) return {};
  if (role == Qt::DisplayRole) {
    ++requests_;
    return ToQt(grid_->CellText(index.row(), index.column()));
  }
  if (role == Qt::TextAlignmentRole) {
    const fw::TField* field = grid_->ColumnField(index.column());
    const bool number = field && field->DataType() == fw::TFieldType::ftFloat;
    return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
  }
  return {};
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  // A title cut by its column's width reads whole in its tooltip.
  if (grid_ && orientation == Qt::Horizontal && role == Qt::ToolTipRole)
    return ToQt(grid_->ColumnTitle(section));
  if (!grid_ || role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return ToQt(grid_->ColumnTitle(section));
  // The row indicator: a mark on the current row.
  return section == grid_->CurrentRow() ? QStringLiteral("▸") : QString();
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

GridView::GridView(QWidget* parent) : QTableView(parent) {
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setTabKeyNavigation(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setHighlightSections(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setSectionsClickable(false);
}

void GridView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (OnCellClick) OnCellClick(indexAt(event->position().toPoint()), false);
}

void GridView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (OnCellClick) OnCellClick(indexAt(event->position().toPoint()), true);
}

void GridView::mouseMoveEvent(QMouseEvent*) {}

void GridView::contextMenuEvent(QContextMenuEvent* event) {
  const bool byMouse = event->reason() == QContextMenuEvent::Mouse;
  if (OnContextMenu)
    OnContextMenu(event->globalPos(), byMouse ? indexAt(event->pos()) : QModelIndex(), byMouse);
  event->accept();
}

bool GridView::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QTableView::viewportEvent(event);
  // A cell's text the column is too narrow for reads whole in a tooltip; others show none.
  auto* help = static_cast<QHelpEvent*>(event);
  const QModelIndex index = indexAt(help->pos());
  const QString text = index.isValid() ? index.data().toString() : QString();
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  if (!text.isEmpty() &&
      fontMetrics().horizontalAdvance(text) > visualRect(index).width() - 2 * margin) {
    QToolTip::showText(help->globalPos(), text, viewport(), visualRect(index));
  } else {
    QToolTip::hideText();
  }
  return true;
}

void GridView::mouseReleaseEvent(QMouseEvent*) {}

// ---- navigator ----

NavigatorWidget::NavigatorWidget(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  const std::pair<QStyle::StandardPixmap, const char*> looks[] = {
      {QStyle::SP_MediaSkipBackward, "Primeiro"},
      {QStyle::SP_MediaSeekBackward, "Anterior"},
      {QStyle::SP_MediaSeekForward, "Próximo"},
      {QStyle::SP_MediaSkipForward, "Último"},
  };
  for (int i = 0; i < 4; ++i) {
    auto* button = new QToolButton(this);
    button->setIcon(style()->standardIcon(looks[i].first));
    button->setToolTip(QString::fromUtf8(looks[i].second));
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(button);
    const auto which = static_cast<fw::TDBNavigator::TButton>(i);
    QObject::connect(button, &QToolButton::clicked, this, [this, which] {
      if (OnButton) OnButton(which);
    });
    buttons_.push_back(button);
  }
}

QToolButton* NavigatorWidget::Button(fw::TDBNavigator::TButton button) const {
  return buttons_[static_cast<size_t>(button)];
}

// ---- busy indicator ----

BusyOverlay::BusyOverlay(QWidget* parent)
    : QWidget(parent), cancel_(new QPushButton(QStringLiteral("Cancelar"), this)) {
  setAttribute(Qt::WA_NoSystemBackground);
  setCursor(Qt::WaitCursor);
  setGeometry(parent->rect());
  parent->installEventFilter(this);
  // The focus stays on the model's control: Esc reaches the platform from there.
  cancel_->setFocusPolicy(Qt::NoFocus);
  cancel_->setCursor(Qt::ArrowCursor);
  cancel_->hide();
  QObject::connect(cancel_, &QPushButton::clicked, this, [this] {
    if (offered_ && !cancelling_ && onCancel_) onCancel_();
  });
}

void BusyOverlay::SetCaption(const QString& caption) {
  caption_ = caption;
  PlaceButton();
  update();
}

void BusyOverlay::OfferCancel(std::function<void()> onCancel) {
  onCancel_ = std::move(onCancel);
  offered_ = true;
  cancelling_ = false;
  cancel_->setEnabled(true);
  PlaceButton();
  cancel_->show();
  cancel_->raise();
  update();
}

void BusyOverlay::MarkCancelling() {
  cancelling_ = true;
  cancel_->setEnabled(false);
  update();
}

void BusyOverlay::WithdrawCancel() {
  offered_ = false;
  cancelling_ = false;
  onCancel_ = nullptr;
  cancel_->hide();
  update();
}

QString BusyOverlay::OfferText() const {
  return cancelling_ ? QStringLiteral("Cancelando...")
                     : QStringLiteral("O servidor está demorando a responder.");
}

QRect BusyOverlay::BoxRect() const {
  const QFontMetrics metrics(font());
  int width = std::max({metrics.horizontalAdvance(QStringLiteral("Aguarde...")),
                        metrics.horizontalAdvance(caption_), 160});
  int lines = caption_.isEmpty() ? 1 : 2;
  int extra = 0;
  if (offered_) {
    width = std::max(width, metrics.horizontalAdvance(OfferText()));
    ++lines;
    extra = cancel_->sizeHint().height() + 12;
  }
  width += 48;
  const int height = metrics.height() * lines + 32 + extra;
  return {rect().center() - QPoint(width / 2, height / 2), QSize(width, height)};
}

void BusyOverlay::PlaceButton() {
  const QRect box = BoxRect();
  const QSize size = cancel_->sizeHint().expandedTo(QSize(96, 0));
  cancel_->setGeometry(box.center().x() - size.width() / 2, box.bottom() - 12 - size.height(),
                       size.width(), size.height());
}

bool BusyOverlay::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) {
    setGeometry(parentWidget()->rect());
    PlaceButton();
  }
  return false;
}

void BusyOverlay::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0, 0, 0, 48));
  const QFontMetrics metrics(font());
  const QRect box = BoxRect();
  painter.setPen(palette().color(QPalette::Dark));
  painter.setBrush(palette().color(QPalette::Window));
  painter.drawRoundedRect(box, 6, 6);
  painter.setPen(palette().color(QPalette::WindowText));
  QFont bold = font();
  bold.setBold(true);
  painter.setFont(bold);
  QRect line(box.left(), box.top() + 16, box.width(), metrics.height());
  painter.drawText(line, Qt::AlignCenter, QStringLiteral("Aguarde..."));
  painter.setFont(font());
  if (!caption_.isEmpty()) {
    line.translate(0, metrics.height());
    painter.drawText(line, Qt::AlignCenter, caption_);
  }
  if (offered_) {
    line.translate(0, metrics.height());
    painter.drawText(line, Qt::AlignCenter, OfferText());
  }
}

}  // namespace hostapp
