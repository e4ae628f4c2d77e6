#include "host_app/views/menu_binding.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "host_app/conversions.h"
#include "host_app/qt_widgets.h"
#include "host_app/views/input_router.h"

namespace hostapp {

QAction* MenuBinding::ActionOf(const fw::TMenuItem* item) const {
  auto found = actions_.find(item);
  return found == actions_.end() ? nullptr : found->second.Action.data();
}

void MenuBinding::BuildMenu(FormView& form) {
  fw::TMainMenu* menu = form.Form->Menu;
  for (auto it = actions_.begin(); it != actions_.end();) {
    if (it->second.Form == &form) {
      delete it->second.Action;
      it = actions_.erase(it);
    } else {
      ++it;
    }
  }
  form.MenuBuilt = menu != nullptr;
  if (!menu) return;
  QMenuBar* bar = form.Root->MenuBar();
  bar->clear();
  for (fw::TMenuItem* item : menu->Items()->Items()) AddMenuItem(bar, item, form);
  actions_[menu->Items()] = ActionView{nullptr, &form, menu->Items()->Items().size()};
}

void MenuBinding::AddMenuItem(QWidget* container, fw::TMenuItem* item, FormView& form) {
  QAction* action = nullptr;
  if (item->Caption() == "-") {
    action = new QAction(container);
    action->setSeparator(true);
    container->addAction(action);
  } else if (!item->Items().empty()) {
    auto* menu = new QMenu(container);
    action = menu->menuAction();
    container->addAction(action);
    for (fw::TMenuItem* child : item->Items()) AddMenuItem(menu, child, form);
  } else {
    action = new QAction(container);
    container->addAction(action);
    QObject::connect(action, &QAction::triggered, Context(), [this, item] {
      if (fw::Application && !Router().InRemoteCall()) fw::Application->UserClickMenu(item);
    });
  }
  actions_[item] = ActionView{action, &form, item->Items().size()};
  RefreshAction(item);
}

void MenuBinding::RefreshAction(fw::TMenuItem* item) {
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

void MenuBinding::ItemChanged(fw::TMenuItem* item) {
  FormView* form = Records().FormOwning(item);
  if (!form || !form->MenuBuilt) return;
  auto found = actions_.find(item);
  if (found == actions_.end() || found->second.Children != item->Items().size()) {
    BuildMenu(*form);
  } else {
    RefreshAction(item);
  }
}

bool MenuBinding::Forget(const fw::TComponent* component) {
  auto found = actions_.find(component);
  if (found == actions_.end()) return false;
  delete found->second.Action;
  actions_.erase(found);
  return true;
}

void MenuBinding::ForgetForm(const FormView& form) {
  for (auto it = actions_.begin(); it != actions_.end();) {
    it = it->second.Form == &form ? actions_.erase(it) : std::next(it);
  }
}

}  // namespace hostapp
