#include "host_app/views/grid_binding.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <algorithm>

#include "host_app/conversions.h"
#include "host_app/qt_widgets.h"
#include "host_app/views/grid_columns.h"
#include "host_app/views/grid_commands.h"
#include "host_app/views/input_router.h"

namespace hostapp {

void GridBinding::Create(ControlView& view, QWidget* host) {
  const fw::TControl* key = view.Control;
  auto* grid = new GridView(host);
  auto* model = new GridModel(static_cast<fw::TDBGrid*>(view.Control), grid);
  grid->setModel(model);
  grid->OnCellClick = [this, key](const QModelIndex& index, bool doubleClick) {
    CellClicked(const_cast<fw::TControl*>(key), index, doubleClick);
  };
  grid->OnContextMenu = [this, key](const QPoint& at, const QModelIndex& cell, bool byMouse) {
    Commands().GridMenuRequested(const_cast<fw::TControl*>(key), at, cell, byMouse);
  };
  QHeaderView* titles = grid->horizontalHeader();
  // A width the user drags is kept for the next query and reload of this grid (and, with a
  // layout store, for the next session).
  QObject::connect(titles, &QHeaderView::sectionResized, Context(),
                   [this, key, titles](int column, int, int width) {
                     Columns().WidthDragged(key, column, width, titles->isSectionHidden(column));
                   });
  QObject::connect(titles, &QHeaderView::sectionMoved, Context(), [this, key](int, int, int) {
    if (ControlView* view = Find(key); view && !Syncing()) Columns().ColumnsChanged(*view);
  });
  QObject::connect(titles, &QHeaderView::sectionClicked, Context(), [this, key](int column) {
    TitleClicked(const_cast<fw::TControl*>(key), column);
  });
  // A press on the titles gives Qt's focus to the grid; the model hears no move (the router).
  titles->viewport()->installEventFilter(&Router());
  titles->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(titles, &QHeaderView::customContextMenuRequested, Context(),
                   [this, key, titles](const QPoint& at) {
                     if (!Find(key) || Router().InRemoteCall()) return;
                     Router().FlushPendingFocus();
                     if (QMenu* menu = Commands().ColumnsMenu(const_cast<fw::TControl*>(key)))
                       menu->popup(titles->mapToGlobal(at));
                   });
  view.Widget = view.Focus = view.View = grid;
  view.Model = model;
}

void GridBinding::Built(ControlView& view) {
  Columns().LoadGridLayout(view);
  RefreshGrid(view, true);
}

void GridBinding::RefreshGrid(ControlView& view, bool reload) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  GridView* table = view.View;
  GridModel* model = view.Model;
  if (!table || !model) return;
  if (!reload)
    reload = grid->DataSet() != model->LoadedDataSet() ||
             grid->ColumnCount() != model->columnCount() || grid->RowCount() != model->rowCount();
  ++Syncing();
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
  --Syncing();
  // A reset model resets its header: the columns go back where the user put them.
  if (reload) Columns().ApplyColumns(view);
  SyncSortIndicator(view);
  SyncGridCursor(view);
}

void GridBinding::SyncSortIndicator(ControlView& view) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  if (!view.View) return;
  QHeaderView* header = view.View->horizontalHeader();
  bool descending = false;
  const int column = grid->SortColumn(&descending);
  ++Syncing();
  header->setSortIndicatorShown(column >= 0);
  // The arrow as the desktop draws it: pointing up for an ascending order. Qt's styles draw
  // Qt::AscendingOrder pointing down, so the indicator is given the other order.
  header->setSortIndicator(column, descending ? Qt::AscendingOrder : Qt::DescendingOrder);
  --Syncing();
}

void GridBinding::SyncGridCursor(ControlView& view) {
  auto* grid = static_cast<fw::TDBGrid*>(view.Control);
  GridView* table = view.View;
  GridModel* model = view.Model;
  if (!table || !model) return;
  const int row = grid->CurrentRow();
  if (row != view.CurrentRow) {
    model->CurrentRowChanged(view.CurrentRow, row);
    view.CurrentRow = row;
  }
  ++Syncing();
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
  --Syncing();
}

void GridBinding::FieldChanged(const fw::TField* field) {
  for (auto& [key, view] : Records().Controls)
    if (view->View && view->Model && view->Model->LoadedDataSet() == field->DataSet())
      view->View->viewport()->update();
}

// ---- what the user does ----

void GridBinding::CellClicked(fw::TControl* control, const QModelIndex& index, bool doubleClick) {
  if (!Find(control) || !fw::Application || Router().InRemoteCall()) return;
  auto* grid = static_cast<fw::TDBGrid*>(control);
  fw::TForm* form = grid->Form();
  auto focused = [&] { return Find(control) && form->ActiveControl() == grid; };
  // The press gave the grid the focus in Qt; a move the model refused takes the click with it.
  if (!Router().FlushPendingFocus()) {
    if (ControlView* still = Find(control)) SyncGridCursor(*still);
    return;
  }
  if (!index.isValid()) {
    Traced("UserFocus", grid, fw::Application->UserFocus(grid));
  } else {
    if (index.row() != grid->CurrentRow()) {
      Traced("UserSelectRow", grid, fw::Application->UserSelectRow(grid, index.row()), index.row());
    } else {
      Traced("UserFocus", grid, fw::Application->UserFocus(grid));
    }
    if (focused() && index.column() != grid->SelectedIndex())
      Traced("UserSelectColumn", grid, fw::Application->UserSelectColumn(grid, index.column()),
             index.column());
    if (doubleClick && focused()) Traced("UserDblClick", grid, fw::Application->UserDblClick(grid));
  }
  if (ControlView* still = Find(control)) SyncGridCursor(*still);
  Router().AfterUserEvent(form);
}

void GridBinding::TitleClicked(fw::TControl* control, int column) {
  if (!Find(control) || !fw::Application) return;
  if (!Router().InRemoteCall()) {
    Router().FlushPendingFocus();
    if (ControlView* view = Find(control)) {
      auto* grid = static_cast<fw::TDBGrid*>(control);
      Traced("UserTitleClick", grid, fw::Application->UserTitleClick(grid, column), column);
      if ((view = Find(control))) Columns().SaveGridSort(*view);
    }
  }
  // The arrow shows the model's order, whatever the header did with the click.
  if (ControlView* still = Find(control)) SyncSortIndicator(*still);
}

}  // namespace hostapp
