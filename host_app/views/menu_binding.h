// The view class of forms' main menus: a QAction (or submenu) per menu item in the form's menu
// bar, its caption, shortcut text, enabled and visible state from the model.
//
// Raises to the model: UserClickMenu when the user picks an item. (The model dispatches the
// shortcuts itself, through the input router; the menu only shows them.)
#pragma once

#include <QPointer>
#include <unordered_map>

#include "host_app/views/view_records.h"

class QAction;

namespace hostapp {

class MenuBinding : public KindBinding {
 public:
  using KindBinding::KindBinding;

  QAction* ActionOf(const fw::TMenuItem* item) const;
  // Builds the form's menu bar anew from its menu.
  void BuildMenu(FormView& form);
  // A menu item changed: rebuilt when its items did, else refreshed.
  void ItemChanged(fw::TMenuItem* item);
  // A component going away: its action goes (true when it had one).
  bool Forget(const fw::TComponent* component);
  // A form going away: its actions' records go (the widgets go with its window).
  void ForgetForm(const FormView& form);

 private:
  struct ActionView {
    QPointer<QAction> Action;
    FormView* Form = nullptr;
    size_t Children = 0;
  };

  void AddMenuItem(QWidget* container, fw::TMenuItem* item, FormView& form);
  void RefreshAction(fw::TMenuItem* item);

  std::unordered_map<const fw::TComponent*, ActionView> actions_;
};

}  // namespace hostapp
