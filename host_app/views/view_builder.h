// What the view of every control shares: building a control's widgets by its kind (the view class
// of the kind makes them), the properties every widget shows (visibility, enabled state, hint,
// font, cursor, colours) before what its kind shows, a control moved to another parent or built
// late, the model's changes dispatched to the kinds, and forgetting what the model frees.
//
// Raises nothing to the model.
#pragma once

#include <vector>

#include "host_app/views/view_records.h"

namespace hostapp {

class ViewBuilder : public KindBinding {
 public:
  using KindBinding::KindBinding;

  // Builds a control's widgets into `host` by its kind, then its children's; nullptr for a form.
  ControlView* Build(fw::TControl* control, FormView* form, QWidget* host);
  void BuildChildren(ControlView& view);
  // Sets every property the control's widget shows from the model.
  void Refresh(ControlView& view);

  // The model's changes.
  void PropertyChanged(fw::TComponent* component);
  void DataChanged(fw::TComponent* dataSet, fw::TChange change);
  void Forget(const fw::TComponent* component);

 private:
  void Reparent(ControlView& view);
  void BuildLate();
  void Unbind(FormView& form);

  std::vector<fw::TControl*> late_;  // controls parented after their form was built
};

}  // namespace hostapp
