// The view class of buttons: speed buttons (a tool button with a picture by glyph or hint), radio
// buttons (checked as the model says) and data set navigators.
//
// Raises to the model: UserClick on a button or radio button the user clicked (a radio stays as
// the model leaves it: a refused click leaves it unchecked), UserNavigate on a navigator's button.
#pragma once

#include <QColor>

#include "host_app/views/view_records.h"

namespace hostapp {

class ButtonBinding : public KindBinding {
 public:
  using KindBinding::KindBinding;

  void Create(ControlView& view, QWidget* host);
  void Refresh(ControlView& view);
  // The button whose click the model is running now; nullptr outside a click.
  fw::TControl* ClickedButton() const { return clicked_; }

 private:
  void RadioClicked(fw::TControl* control);
  void ButtonClicked(fw::TControl* control);
  void NavigatorClicked(fw::TControl* navigator, int button);

  fw::TControl* clicked_ = nullptr;  // the button whose click runs now
};

}  // namespace hostapp
