// Reflecting the model in the widgets: every property a control's widget shows.
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <algorithm>

#include "framework/host/host_controls.h"
#include "host_app/conversions.h"
#include "host_app/qt_binding.h"
#include "host_app/qt_widgets.h"

namespace hostapp {

namespace {

// Help: a white question mark on a blue disc, as help reads on most desktops. (The style's own
// "help" picture in this Qt is a red life buoy, which reads as a warning.)
QIcon HelpIcon() {
  static const QIcon icon = [] {
    QIcon drawn;
    for (int size : {16, 20, 24, 32}) {
      QPixmap picture(size, size);
      picture.fill(Qt::transparent);
      QPainter painter(&picture);
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), 1));
      painter.setBrush(QColor(0x2f, 0x6f, 0xc0));
      painter.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
      QFont font = painter.font();
      font.setBold(true);
      font.setPixelSize(size * 3 / 4);
      painter.setFont(font);
      painter.setPen(Qt::white);
      painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("?"));
      painter.end();
      drawn.addPixmap(picture);
    }
    return drawn;
  }();
  return icon;
}

QIcon IconFor(const QWidget* widget, const std::string& glyph, const std::string& hint) {
  struct Look {
    const char* key;
    QStyle::StandardPixmap pixmap;
  };
  static const Look looks[] = {
      {"Ordenar", QStyle::SP_ArrowDown},
      {"Imprimir", QStyle::SP_FileDialogDetailedView},
      {"Fechar", QStyle::SP_DialogCloseButton},
      {"Incluir", QStyle::SP_FileIcon},
      {"Alterar", QStyle::SP_FileDialogInfoView},
      {"Excluir", QStyle::SP_TrashIcon},
      {"Procurar", QStyle::SP_FileDialogContentsView},
      {"Pesquis", QStyle::SP_FileDialogContentsView},
      {"Verificar", QStyle::SP_BrowserReload},
      {"Cancelar", QStyle::SP_DialogCancelButton},
      {"Confirmar", QStyle::SP_DialogApplyButton},
  };
  for (const std::string& name : {glyph, hint}) {
    if (name.empty()) continue;
    if (name.find("Ajuda") != std::string::npos) return HelpIcon();
    for (const auto& look : looks)
      if (name.find(look.key) != std::string::npos)
        return widget->style()->standardIcon(look.pixmap);
  }
  return {};
}

void ApplyFont(QWidget* widget, const fw::TFont& font) {
  QFont qfont = widget->font();
  if (font.Height != 0) qfont.setPixelSize(font.Height < 0 ? -font.Height : font.Height);
  qfont.setBold(font.Bold);
  widget->setFont(qfont);
}

void SetRole(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
  QPalette palette = widget->palette();
  if (color.isValid()) {
    palette.setColor(role, color);
  } else {
    palette.setColor(role, QApplication::palette(widget).color(role));
  }
  widget->setPalette(palette);
}

Qt::CursorShape CursorShapeOf(fw::TCursor cursor) {
  switch (cursor) {
    case fw::TCursor::crHourGlass:
      return Qt::WaitCursor;
    case fw::TCursor::crVSplit:
      return Qt::SizeVerCursor;
    case fw::TCursor::crHSplit:
      return Qt::SizeHorCursor;
    case fw::TCursor::crDefault:
      break;
  }
  return Qt::ArrowCursor;
}

}  // namespace

void QtBinding::Refresh(ControlView& view) {
  fw::TControl* control = view.Control;
  QWidget* widget = view.Widget;
  if (!widget) return;
  ++syncing_;
  if (view.Kind != ControlKind::Form && view.Kind != ControlKind::TabSheet)
    widget->setVisible(control->Visible());
  widget->setEnabled(control->Enabled());
  widget->setToolTip(ToQt(control->Hint()));
  // A grid takes the host's grid face (RefreshGrid).
  if (view.Kind != ControlKind::Form && view.Kind != ControlKind::Grid)
    ApplyFont(widget, control->Font);
  if (control->Cursor == fw::TCursor::crDefault && view.Kind != ControlKind::Splitter) {
    widget->unsetCursor();
  } else {
    widget->setCursor(CursorShapeOf(control->Cursor));
  }
  if (control->Font.Color != fw::clWindowText) {
    const QColor text = ColorOf(control->Font.Color, widget->palette());
    SetRole(widget, QPalette::WindowText, text);
    SetRole(widget, QPalette::Text, text);
  }
  const QColor background = ColorOf(control->Color(), widget->palette());

  switch (view.Kind) {
    case ControlKind::Form: {
      auto* form = static_cast<fw::TForm*>(control);
      if (view.Form->Window) view.Form->Window->setWindowTitle(ToQt(form->Caption()));
      if (QWidget* client = view.Host) {
        ApplyFont(client, control->Font);
        SetRole(client, QPalette::Window, background);
      }
      break;
    }
    case ControlKind::Panel: {
      auto* panel = static_cast<fw::TPanel*>(control);
      auto* frame = static_cast<PanelFrame*>(widget);
      const int bevels =
          (panel->BevelOuter != fw::TBevel::bvNone) + (panel->BevelInner != fw::TBevel::bvNone);
      const fw::TBevel shown =
          panel->BevelOuter != fw::TBevel::bvNone ? panel->BevelOuter : panel->BevelInner;
      frame->setFrameStyle(
          bevels == 0
              ? QFrame::NoFrame
              : QFrame::Panel | (shown == fw::TBevel::bvLowered ? QFrame::Sunken : QFrame::Raised));
      frame->setLineWidth(std::max(bevels, 1));
      frame->SetCaption(PlainCaption(control->Caption()));
      frame->setAutoFillBackground(background.isValid());
      SetRole(frame, QPalette::Window, background);
      break;
    }
    case ControlKind::GroupBox: {
      auto* box = static_cast<QGroupBox*>(widget);
      box->setTitle(AccessCaption(control->Caption()));
      box->setAutoFillBackground(background.isValid());
      SetRole(box, QPalette::Window, background);
      break;
    }
    case ControlKind::ScrollBox: {
      auto* area = static_cast<QScrollArea*>(widget);
      const bool border =
          static_cast<fw::TScrollBox*>(control)->BorderStyle == fw::TBorderStyle::bsSingle;
      area->setFrameStyle(border ? QFrame::StyledPanel | QFrame::Sunken : QFrame::NoFrame);
      break;
    }
    case ControlKind::Splitter: {
      auto* handle = static_cast<SplitterHandle*>(widget);
      handle->Vertical =
          control->Align() == fw::TAlign::alTop || control->Align() == fw::TAlign::alBottom;
      if (control->Cursor == fw::TCursor::crDefault)
        handle->setCursor(handle->Vertical ? Qt::SizeVerCursor : Qt::SizeHorCursor);
      break;
    }
    case ControlKind::Label: {
      auto* label = static_cast<QLabel*>(widget);
      label->setText(PlainCaption(control->Caption()));
      label->setAutoFillBackground(background.isValid());
      SetRole(label, QPalette::Window, background);
      break;
    }
    case ControlKind::DBText:
      static_cast<QLabel*>(widget)->setText(ToQt(static_cast<fw::TDBText*>(control)->Text()));
      break;
    case ControlKind::Edit:
    case ControlKind::MaskEdit:
    case ControlKind::DateEdit: {
      auto* edit = static_cast<fw::TEdit*>(control);
      view.Edit->setReadOnly(edit->ReadOnly);
      if (view.Kind == ControlKind::DateEdit)
        static_cast<DateEditWidget*>(widget)->Button()->setEnabled(edit->IsEnabledUp() &&
                                                                   !edit->ReadOnly);
      SetRole(view.Edit, QPalette::Base, background);
      {
        // A disabled edit that only displays (a product's name) stays readable: its text keeps
        // the normal colour, on the face the model gives it.
        QPalette palette = view.Edit->palette();
        palette.setColor(QPalette::Disabled, QPalette::Text,
                         palette.color(QPalette::Active, QPalette::Text));
        view.Edit->setPalette(palette);
      }
      RefreshEditText(view);
      break;
    }
    case ControlKind::RadioButton: {
      auto* radio = static_cast<ModelRadioButton*>(widget);
      radio->setText(AccessCaption(control->Caption()));
      radio->setChecked(static_cast<fw::TRadioButton*>(control)->Checked());
      break;
    }
    case ControlKind::Button: {
      auto* button = static_cast<QToolButton*>(widget);
      auto* speed = static_cast<fw::TSpeedButton*>(control);
      const QIcon icon = IconFor(button, speed->Glyph, control->Hint());
      button->setIcon(icon);
      button->setText(control->Caption().empty() && icon.isNull()
                          ? PlainCaption(control->Hint()).left(3)
                          : AccessCaption(control->Caption()));
      button->setToolButtonStyle(control->Caption().empty() ? Qt::ToolButtonIconOnly
                                                            : Qt::ToolButtonTextBesideIcon);
      if (icon.isNull()) button->setToolButtonStyle(Qt::ToolButtonTextOnly);
      button->setAutoRaise(speed->Flat);
      break;
    }
    case ControlKind::PageControl:
      RefreshTabs(view);
      break;
    case ControlKind::TabSheet:
      if (view.Parent)
        if (ControlView* pageControl = Find(view.Parent)) RefreshTabTitles(*pageControl);
      break;
    case ControlKind::Grid:
      RefreshGrid(view, false);
      break;
    case ControlKind::Navigator:
    case ControlKind::Container:
    case ControlKind::Plain:
      break;
  }
  --syncing_;
}

void QtBinding::RefreshEditText(ControlView& view) {
  auto* edit = static_cast<fw::TEdit*>(view.Control);
  if (view.Kind == ControlKind::MaskEdit) {
    const std::string& mask = static_cast<fw::TMaskEdit*>(edit)->EditMask();
    if (mask != view.Mask) {
      view.Mask = mask;
      view.Edit->setInputMask(QtInputMask(mask));
      view.Edit->setText(ToQt(edit->Text()));
    }
  }
  // Only a real difference is written back: the user's cursor stays where it is while typing.
  if (WidgetText(view) != edit->Text()) view.Edit->setText(ToQt(edit->Text()));
  if (view.Kind == ControlKind::DateEdit) {
    auto* date = static_cast<fw::TDateEditPlus*>(edit);
    SetRole(view.Edit, QPalette::Text,
            date->HasValidDate() ? ColorOf(date->ValidDateColor, view.Edit->palette()) : QColor());
  }
}

void QtBinding::RefreshTabs(ControlView& view) {
  auto* pageControl = static_cast<fw::TPageControl*>(view.Control);
  QTabWidget* tabs = view.Tabs;
  if (!tabs) return;
  ++syncing_;
  const std::vector<fw::TTabSheet*>& pages = pageControl->Pages();
  if (pages != view.Pages) {
    while (tabs->count()) tabs->removeTab(0);
    for (fw::TTabSheet* page : pages) {
      ControlView* pageView = Find(page);
      if (!pageView) pageView = Build(page, view.Form, nullptr);
      if (pageView) tabs->addTab(pageView->Widget, QString());
    }
    view.Pages = pages;
  }
  --syncing_;
  RefreshTabTitles(view);
}

void QtBinding::RefreshTabTitles(ControlView& view) {
  auto* pageControl = static_cast<fw::TPageControl*>(view.Control);
  QTabWidget* tabs = view.Tabs;
  // Pages the tabs do not show yet are added by RefreshTabs.
  if (!tabs || pageControl->Pages() != view.Pages) return;
  const std::vector<fw::TTabSheet*>& pages = view.Pages;
  ++syncing_;
  for (int i = 0; i < static_cast<int>(pages.size()); ++i) {
    tabs->setTabText(i, AccessCaption(pages[i]->Caption()));
    tabs->setTabVisible(i, pages[i]->TabVisible);
    tabs->setTabEnabled(i, pages[i]->Enabled());
  }
  const auto active = std::find(pages.begin(), pages.end(), pageControl->ActivePage());
  if (active != pages.end()) tabs->setCurrentIndex(static_cast<int>(active - pages.begin()));
  --syncing_;
}

void QtBinding::RefreshGrid(ControlView& view, bool reload) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  GridView* table = view.View;
  GridModel* model = view.Model;
  if (!table || !model) return;
  if (!reload)
    reload = grid->DataSet() != model->LoadedDataSet() ||
             grid->ColumnCount() != model->columnCount() || grid->RowCount() != model->rowCount();
  ++syncing_;
  const unsigned options = grid->Options;
  table->horizontalHeader()->setVisible(options & fw::dgTitles);
  table->verticalHeader()->setVisible(options & fw::dgIndicator);
  table->verticalHeader()->setFixedWidth(14);
  table->setShowGrid(options & (fw::dgColLines | fw::dgRowLines));
  table->setSelectionBehavior(options & fw::dgRowSelect ? QAbstractItemView::SelectRows
                                                        : QAbstractItemView::SelectItems);
  table->setFrameShape(grid->BorderStyle == fw::TBorderStyle::bsSingle ? QFrame::StyledPanel
                                                                       : QFrame::NoFrame);
  QPalette palette = table->palette();
  const QColor base = ColorOf(grid->Color(), palette);
  palette.setColor(QPalette::Base,
                   base.isValid() ? base : QApplication::palette().color(QPalette::Base));
  // Without dgAlwaysShowSelection the selection is not drawn while the grid lacks the focus.
  const bool keepSelection = options & fw::dgAlwaysShowSelection;
  const QPalette standard = QApplication::palette(table);
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   keepSelection ? standard.color(QPalette::Inactive, QPalette::Highlight)
                                 : palette.color(QPalette::Base));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   keepSelection ? standard.color(QPalette::Inactive, QPalette::HighlightedText)
                                 : palette.color(QPalette::Text));
  table->setPalette(palette);
  const QFont cells = GridFont(grid->Font, QApplication::font(table));
  if (table->font() != cells) table->setFont(cells);
  const QFont titles = GridFont(grid->TitleFont, QApplication::font(table));
  if (table->horizontalHeader()->font() != titles) table->horizontalHeader()->setFont(titles);
  // Titles start at the left edge, as the grid's cells do, so a narrow column shows the start of
  // its title rather than its middle.
  table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  table->horizontalHeader()->setSectionResizeMode(
      options & fw::dgColumnResize ? QHeaderView::Interactive : QHeaderView::Fixed);
  // A title click sorts; with dgColumnResize the user may move columns too.
  table->horizontalHeader()->setSectionsClickable(options & fw::dgTitles);
  table->horizontalHeader()->setSectionsMovable(options & fw::dgColumnResize);
  table->verticalHeader()->setMinimumSectionSize(1);
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
  if (reload) {
    view.CurrentRow = -1;
    model->Reload();
  } else {
    emit model->headerDataChanged(Qt::Horizontal, 0, std::max(model->columnCount() - 1, 0));
  }
  --syncing_;
  // A reset model resets its header: the columns go back where the user put them.
  if (reload) ApplyColumns(view);
  SyncSortIndicator(view);
  SyncGridCursor(view);
}

void QtBinding::ApplyColumns(ControlView& view) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  QHeaderView* header = view.View->horizontalHeader();
  const int count = std::min(grid->ColumnCount(), header->count());
  const auto field = [grid](int column) {
    return grid->Columns[static_cast<size_t>(column)].FieldName;
  };
  // The order kept, names the grid no longer has left out; columns it does not name (new ones)
  // after it, in the designed order.
  std::vector<int> order;
  for (const std::string& name : view.ColumnOrder) {
    const int column = grid->ColumnIndex(name);
    if (column >= 0 && column < count &&
        std::find(order.begin(), order.end(), column) == order.end())
      order.push_back(column);
  }
  for (int column = 0; column < count; ++column)
    if (std::find(order.begin(), order.end(), column) == order.end()) order.push_back(column);
  const auto hidden = [&](int column) {
    return std::find(view.HiddenColumns.begin(), view.HiddenColumns.end(), field(column)) !=
           view.HiddenColumns.end();
  };
  bool anyShown = false;
  for (int column = 0; column < count; ++column) anyShown = anyShown || !hidden(column);
  ++syncing_;
  for (int place = 0; place < count; ++place) {
    const int from = header->visualIndex(order[static_cast<size_t>(place)]);
    if (from != place) header->moveSection(from, place);
  }
  for (int column = 0; column < count; ++column) {
    // The designed width, unless the user has dragged the column wider or narrower.
    const auto dragged = view.UserWidths.find(field(column));
    const bool hide = anyShown && hidden(column);
    if (!hide)
      header->resizeSection(
          column, dragged != view.UserWidths.end() ? dragged->second : grid->ColumnWidth(column));
    header->setSectionHidden(column, hide);
  }
  --syncing_;
  const std::vector<int> shown = ShownColumns(view);
  bool designed = static_cast<int>(shown.size()) == count;
  for (int place = 0; designed && place < count; ++place)
    designed = shown[static_cast<size_t>(place)] == place;
  grid->ViewOrder = designed ? std::vector<int>() : shown;
}

std::vector<int> QtBinding::ShownColumns(const ControlView& view) const {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  std::vector<int> shown;
  if (!view.View) return shown;
  QHeaderView* header = view.View->horizontalHeader();
  for (int place = 0; place < header->count(); ++place) {
    const int column = header->logicalIndex(place);
    if (column >= 0 && column < grid->ColumnCount() && !header->isSectionHidden(column))
      shown.push_back(column);
  }
  return shown;
}

void QtBinding::ColumnsChanged(ControlView& view) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  QHeaderView* header = view.View->horizontalHeader();
  view.ColumnOrder.clear();
  view.HiddenColumns.clear();
  bool moved = false;
  for (int place = 0; place < header->count(); ++place) {
    const int column = header->logicalIndex(place);
    if (column < 0 || column >= grid->ColumnCount()) continue;
    const std::string& name = grid->Columns[static_cast<size_t>(column)].FieldName;
    view.ColumnOrder.push_back(name);
    moved = moved || column != place;
    if (header->isSectionHidden(column)) view.HiddenColumns.push_back(name);
  }
  if (!moved) view.ColumnOrder.clear();
  const std::vector<int> shown = ShownColumns(view);
  grid->ViewOrder = moved || !view.HiddenColumns.empty() ? shown : std::vector<int>();
  SaveGridLayout(view);
}

void QtBinding::SyncSortIndicator(ControlView& view) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  if (!view.View) return;
  QHeaderView* header = view.View->horizontalHeader();
  bool descending = false;
  const int column = grid->SortColumn(&descending);
  ++syncing_;
  header->setSortIndicatorShown(column >= 0);
  // The arrow as the desktop draws it: pointing up for an ascending order. Qt's styles draw
  // Qt::AscendingOrder pointing down, so the indicator is given the other order.
  header->setSortIndicator(column, descending ? Qt::AscendingOrder : Qt::DescendingOrder);
  --syncing_;
}

void QtBinding::SyncGridCursor(ControlView& view) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  GridView* table = view.View;
  GridModel* model = view.Model;
  if (!table || !model) return;
  const int row = grid->CurrentRow();
  if (row != view.CurrentRow) {
    model->CurrentRowChanged(view.CurrentRow, row);
    view.CurrentRow = row;
  }
  ++syncing_;
  QItemSelectionModel* selection = table->selectionModel();
  if (row < 0 || row >= model->rowCount() || model->columnCount() == 0) {
    selection->clear();
  } else {
    const int column = std::clamp(grid->SelectedIndex(), 0, model->columnCount() - 1);
    const QModelIndex index = model->index(row, column);
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
    if (grid->Options & fw::dgRowSelect) flags |= QItemSelectionModel::Rows;
    selection->setCurrentIndex(index, flags);
    table->scrollTo(index);
  }
  --syncing_;
}

void QtBinding::RefreshAction(fw::TMenuItem* item) {
  QAction* action = ActionOf(item);
  if (!action) return;
  if (!action->isSeparator()) {
    QString text = AccessCaption(item->Caption());
    const QKeySequence keys = KeySequenceOf(item->ShortCut());
    // Shown beside the caption only: the model dispatches the shortcut itself.
    if (!keys.isEmpty()) text += QLatin1Char('\t') + keys.toString(QKeySequence::NativeText);
    action->setText(text);
  }
  action->setEnabled(item->Enabled());
  action->setVisible(item->Visible());
}

}  // namespace hostapp
