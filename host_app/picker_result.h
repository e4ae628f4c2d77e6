// What a list picker left chosen, shown by the host beside the control it was opened from: after
// "Confirmar", a small text at the end of that control's row says how many rows are marked and
// their codes ("3: 0001, 0003, 0007", cut with "…" where the row has no more room), and its
// tooltip lists each code with its name. The screen's controls are not touched; this is the
// host's own.
//
// The text stands while the choice does: it goes away when the radio button that was checked in
// that group when the picker was confirmed ("Lista") is unchecked (the screen then drops the
// list), when a picker confirmed in a group earlier in the tab order makes a later list stale (the
// requests picked depend on the branches picked), and with the form. A pick that marks nothing
// shows nothing.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <string>
#include <vector>

#include "framework/data/component.h"

class QLabel;

namespace fw {
class TControl;
class TDataSet;
class TRadioButton;
class TWinControl;
}  // namespace fw

namespace hostapp {

class QtBinding;

class PickerResults : public QObject, public fw::IModelObserver {
 public:
  explicit PickerResults(QtBinding& binding, QObject* parent = nullptr);
  ~PickerResults() override;

  // A picker opened from `anchor` (the button clicked, or the control with the focus) over
  // `rows` was confirmed with the keys `marked`.
  void Picked(const fw::TControl* anchor, fw::TDataSet* rows, const std::string& keyField,
              const std::vector<std::string>& marked);
  // The text shown in the group of `control` (any control of that group); nullptr for none.
  QLabel* LabelIn(const fw::TControl* control) const;

  // "3: 0001, 0003, 0007"; "1: 0001".
  static QString Summary(const std::vector<std::string>& marked);

  void ModelChanged(fw::TComponent* component, fw::TChange change) override;

 private:
  struct TResult {
    const fw::TWinControl* Group = nullptr;
    const fw::TRadioButton* Radio = nullptr;  // checked when the pick was confirmed
    QPointer<QLabel> Label;
  };
  void Forget(size_t index);

  QtBinding& binding_;
  std::vector<TResult> results_;
};

}  // namespace hostapp
