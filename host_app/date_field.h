// A date field for the host's own dialogs (the report's), typed exactly as the tracking screens'
// date edits are: the same widget (a line edit with the mask 99/99/9999 and a button that drops
// a calendar), with the caret where typing goes on, so "01022024" typed after a click or a Tab
// is 01/02/2024. A click past what was typed puts the caret at the first blank; one inside the
// typed part stays where it is (typing then replaces digit by digit); Tab puts it at the first
// blank. A complete, valid date is shown in blue, as the screens show theirs.
#pragma once

#include <QDate>
#include <QString>

#include "host_app/qt_widgets.h"

namespace hostapp {

class DateField : public DateEditWidget {
 public:
  explicit DateField(QWidget* parent = nullptr);

  // The date typed; invalid when the field is blank, incomplete or not a date (31/02/2024).
  QDate date() const;
  // Shows `date` (a blank field for an invalid one).
  void setDate(const QDate& date);
  // Nothing typed.
  bool IsBlank() const;
  // What the field shows, blanks as "_" ("01/02/20__").
  QString Text() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowValidity();
};

}  // namespace hostapp
