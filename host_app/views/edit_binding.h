// The view class of edits, masked edits and date edits: a line edit (with the edit mask as Qt's
// input mask), or a date field with its calendar button; read-only state, colours and the text
// from the model.
//
// Raises to the model: UserType with the text the line edit holds after each edit the user made,
// and with the date picked in the calendar. The text is then put back as the model has it (a
// refused change is undone).
#pragma once

#include <QColor>
#include <string>

#include "host_app/views/view_records.h"

namespace hostapp {

class EditBinding : public KindBinding {
 public:
  using KindBinding::KindBinding;

  void Create(ControlView& view, QWidget* host);
  void Refresh(ControlView& view, const QColor& background);

 private:
  void RefreshText(ControlView& view);
  // The text the model would store for what the line edit shows (a mask's literals dropped).
  std::string WidgetText(const ControlView& view) const;
  void TextEdited(fw::TControl* control);
  void DatePicked(fw::TControl* control, const std::string& text);
};

}  // namespace hostapp
