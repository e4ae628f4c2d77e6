// The widget kinds the Qt binding builds, and the alignment rules of the form model.
//
// These classes only paint and report what the user did through callbacks; the binding
// (qt_binding.h) decides what reaches the model. None of them changes the model itself.
#pragma once

#include <QAbstractTableModel>
#include <QFrame>
#include <QMdiSubWindow>
#include <QPointer>
#include <QRadioButton>
#include <QRect>
#include <QTableView>
#include <QWidget>
#include <functional>
#include <vector>

#include "framework/ui/dbcontrols.h"

class QLineEdit;
class QPushButton;
class QToolButton;
class QCalendarWidget;
class QMenuBar;
class QVBoxLayout;

namespace hostapp {

// One child of a container as the alignment sees it.
struct AlignItem {
  fw::TAlign Align = fw::TAlign::alNone;
  QRect Designed;  // the model's bounds, with a splitter's resizing applied
  bool Visible = true;
  fw::TAnchors Anchors = fw::akLeft | fw::akTop;
};

// Where each child goes in `client`: aligned children stack against the edges in the order top,
// bottom, left, right, then client fills what is left; within one side the child nearer that edge
// (by its designed position) comes first. Unaligned and invisible children keep their bounds.
// `growth` is how much larger the container is than designed: anchored children follow it (an
// unaligned child with akRight keeps its distance to the right edge; a top-aligned child with
// akBottom takes the extra height), as fw::TAnchors describes.
std::vector<QRect> AlignRects(const QRect& client, const std::vector<AlignItem>& items,
                              QSize growth = QSize(0, 0));

// The least a splitter's handle is across, for the mouse to take it; a thinner splitter's handle
// reaches over its neighbours' edges, so that the layout stays as designed.
inline constexpr int kSplitterGrab = 6;

// The widget of a form: its menu bar (when the form has a menu) above the client area.
class FormRoot : public QWidget {
 public:
  explicit FormRoot(QWidget* parent = nullptr);
  QWidget* Client() const { return client_; }
  QMenuBar* MenuBar();  // created on first use
  void SetDesignedClientSize(QSize size) { designed_ = size; }
  QSize DesignedClientSize() const { return designed_; }
  QSize sizeHint() const override;

 private:
  QVBoxLayout* layout_;
  QWidget* client_;
  QMenuBar* menuBar_ = nullptr;
  QSize designed_;
};

// A top-level window holding a form (a modal form, or any form when there is no MDI area).
// Closing it asks the model; the model hides it when it agrees.
class FormWindow : public QWidget {
 public:
  explicit FormWindow(QWidget* parent = nullptr);
  std::function<void()> OnCloseRequest;

 protected:
  void closeEvent(QCloseEvent* event) override;
};

class FormSubWindow : public QMdiSubWindow {
 public:
  explicit FormSubWindow(QWidget* parent = nullptr);
  std::function<void()> OnCloseRequest;

 protected:
  void closeEvent(QCloseEvent* event) override;
};

// A panel: bevels as a frame, the caption centred.
class PanelFrame : public QFrame {
 public:
  using QFrame::QFrame;
  void SetCaption(const QString& caption);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString caption_;
};

// A radio button whose checked state only the model sets: a click is reported, not applied.
// Focused, it shows the style's focus mark whatever moved the focus there (the style draws it
// only after Qt's own keyboard moves, and the model moves the focus here).
class ModelRadioButton : public QRadioButton {
 public:
  explicit ModelRadioButton(QWidget* parent = nullptr);
  std::function<void()> OnUserClick;

 protected:
  void nextCheckState() override;
  void paintEvent(QPaintEvent* event) override;
};

// Date edit: a masked line edit and a button that drops a calendar down.
class DateEditWidget : public QWidget {
 public:
  explicit DateEditWidget(QWidget* parent = nullptr);
  QLineEdit* Edit() const { return edit_; }
  QToolButton* Button() const { return button_; }
  std::function<void(const QDate&)> OnDatePicked;
  // Opens the calendar on `date` (today when invalid); the popup for tests.
  QWidget* ShowCalendar(const QDate& date);

 private:
  QLineEdit* edit_;
  QToolButton* button_;
  QPointer<QWidget> popup_;
};

// A splitter's handle: dragging reports how far, along its axis.
class SplitterHandle : public QWidget {
 public:
  explicit SplitterHandle(QWidget* parent = nullptr);
  bool Vertical = true;  // resizes heights (aligned top or bottom)
  std::function<void(int delta)> OnDrag;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QPoint last_;
};

// Table model over a grid: cells are read from the grid when the view paints them, so only the
// rows in view are ever asked for.
class GridModel : public QAbstractTableModel {
 public:
  GridModel(fw::TDBGrid* grid, QObject* parent);
  // Rows, columns or the data set were replaced.
  void Reload();
  // The grid is going away: the model becomes empty and never reads it again.
  void Detach();
  void CurrentRowChanged(int previous, int current);
  fw::TDataSet* LoadedDataSet() const { return dataSet_; }
  // How many cell texts the view asked for, since the start.
  long long CellRequests() const { return requests_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  fw::TDBGrid* grid_;
  fw::TDataSet* dataSet_ = nullptr;
  int rows_ = 0;
  int columns_ = 0;
  mutable long long requests_ = 0;
};

// The grid's view: clicks are reported as cells, never applied by the view itself, so the
// selection always follows the data set's cursor.
class GridView : public QTableView {
 public:
  explicit GridView(QWidget* parent = nullptr);
  std::function<void(const QModelIndex& index, bool doubleClick)> OnCellClick;
  // A right click (the cell under it, byMouse) or the menu key (no cell): the host's own grid
  // menu, at this global position.
  std::function<void(const QPoint& globalPos, const QModelIndex& cell, bool byMouse)> OnContextMenu;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool viewportEvent(QEvent* event) override;
};

// First, prior, next and last buttons.
class NavigatorWidget : public QWidget {
 public:
  explicit NavigatorWidget(QWidget* parent = nullptr);
  std::function<void(fw::TDBNavigator::TButton)> OnButton;
  QToolButton* Button(fw::TDBNavigator::TButton button) const;

 private:
  std::vector<QToolButton*> buttons_;
};

// The busy indicator: a veil over the owning form with a box holding the caption. While a remote
// call takes long the box also offers "Cancelar" (OfferCancel); the platform decides when.
class BusyOverlay : public QWidget {
 public:
  explicit BusyOverlay(QWidget* parent);
  void SetCaption(const QString& caption);
  const QString& Caption() const { return caption_; }

  // Shows the offer: a line saying the server is slow and the button, whose click runs onCancel.
  void OfferCancel(std::function<void()> onCancel);
  // The user chose to cancel: the button is disabled and the line says so.
  void MarkCancelling();
  void WithdrawCancel();
  bool CancelOffered() const { return offered_; }
  QPushButton* CancelButton() const { return cancel_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QRect BoxRect() const;
  QString OfferText() const;
  void PlaceButton();

  QString caption_;
  QPushButton* cancel_;
  std::function<void()> onCancel_;
  bool offered_ = false;
  bool cancelling_ = false;
};

}  // namespace hostapp
