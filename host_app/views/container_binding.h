// The view class of the controls that hold or show others: panels, group boxes, scroll boxes,
// splitters, labels and data-aware texts, and any other container or plain control. It owns the
// alignment of every container's children (the form's client area and a page's included), and
// the splitters, whose drags change the view only (kept per screen, layout_store.h).
//
// Raises nothing to the model.
#pragma once

#include <QColor>
#include <unordered_map>

#include "host_app/views/view_records.h"

namespace hostapp {

class ContainerBinding : public KindBinding {
 public:
  using KindBinding::KindBinding;

  // Makes the control's widgets in `host` (ControlView::Widget, Host, Focus).
  void Create(ControlView& view, QWidget* host);
  void Refresh(ControlView& view, const QColor& background);

  // Places the children of a container as their alignment and anchors say.
  void Layout(ControlView& view);
  void LayoutParentOf(ControlView& view);

  // The splitter sizes the user left on the form's last time (before its controls are built).
  void LoadSplitters(FormView& form);
  // A control going away forgets how far a splitter moved its edge.
  void Forget(const fw::TControl* control) { userSizes_.erase(control); }

 private:
  // How much larger than designed the view of a container is (zero where it has no design).
  QSize Growth(const ControlView& view) const;
  void SplitterDragged(fw::TControl* splitter, int delta);
  void SaveSplitter(const fw::TControl* neighbour);

  // How far the user moved a control's edge by dragging a splitter: added to its designed size.
  std::unordered_map<const fw::TControl*, int> userSizes_;
};

}  // namespace hostapp
