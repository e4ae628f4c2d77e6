#include "framework/ui/forms.h"

#include <algorithm>

#include "framework/platform.h"
#include "framework/ui/application.h"

namespace fw {

// ---- menus ----

TMenuItem::TMenuItem(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {}

void TMenuItem::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  Changed();
}

void TMenuItem::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Changed();
}

void TMenuItem::SetVisible(bool visible) {
  visible_ = visible;
  Changed();
}

void TMenuItem::SetShortCut(TShortCut shortCut) {
  shortCut_ = shortCut;
  Changed();
}

void TMenuItem::Add(TMenuItem* item) {
  Insert(static_cast<int>(items_.size()), item);
}

void TMenuItem::Insert(int index, TMenuItem* item) {
  index = std::clamp(index, 0, static_cast<int>(items_.size()));
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
  Changed();
}

int TMenuItem::IndexOf(const TMenuItem* item) const {
  auto found = std::find(items_.begin(), items_.end(), item);
  return found == items_.end() ? -1 : static_cast<int>(found - items_.begin());
}

char TMenuItem::AccessLetter() const {
  for (size_t i = 0; i + 1 < caption_.size(); ++i) {
    if (caption_[i] != '&') continue;
    if (caption_[i + 1] == '&') {
      ++i;
      continue;
    }
    return caption_[i + 1];
  }
  return 0;
}

void TMenuItem::Click() {
  if (enabled_ && OnClick) OnClick(this);
}

TMainMenu::TMainMenu(TComponent* owner, std::string name)
    : TComponent(owner, std::move(name)), root_(new TMenuItem(this, {})) {}

namespace {
TMenuItem* FindShortCutIn(TMenuItem* item, TShortCut shortCut) {
  for (auto* child : item->Items()) {
    if (!child->Visible()) continue;
    if (child->ShortCut() == shortCut && child->Enabled()) return child;
    if (auto* found = FindShortCutIn(child, shortCut)) return found;
  }
  return nullptr;
}
}  // namespace

TMenuItem* TMainMenu::FindShortCut(TShortCut shortCut) const {
  return shortCut ? FindShortCutIn(root_, shortCut) : nullptr;
}

// ---- forms ----

TForm::TForm(TComponent* owner, std::string name) : TWinControl(owner, std::move(name)) {
  SetVisible(false);
}

TForm::~TForm() {
  if (Application) Application->FormClosed(this);
}

void TForm::SetActiveControl(TControl* control) {
  if (activeControl_ == control) return;
  activeControl_ = control;
  Changed(TChange::Focus);
}

void TForm::DoCreate() {
  try {
    if (OnCreate) OnCreate(this);
  } catch (const EAbort&) {
    // Its message was shown already.
  } catch (const std::exception& error) {
    if (Application) Application->ShowException(error);
  }
}

void TForm::Show() {
  SetVisible(true);
  if (Application && Application->Platform()) Application->Platform()->ShowForm(this);
  Changed(TChange::FormShown);
  if (OnShow) OnShow(this);
  if (Application) Application->ActivateForm(this);
  FocusFirstControl();
}

void TForm::FocusFirstControl() {
  // A form shown without a control to focus gives the focus to its first tab stop, as the user
  // would expect when the window opens.
  if (Application && !activeControl_ && Visible()) Application->SelectNext(this, true);
}

int TForm::ShowModal() {
  TForm* previous = Application ? Application->ActiveForm() : nullptr;
  modal_ = true;
  if (Application) Application->modalForms_.push_back(this);
  ModalResult = mrNone;
  SetVisible(true);
  Changed(TChange::FormShown);
  if (OnShow) OnShow(this);
  if (Application) Application->ActivateForm(this);
  FocusFirstControl();
  if (Application && Application->Platform()) Application->Platform()->ShowModal(this);
  modal_ = false;
  if (Application) {
    auto& modal = Application->modalForms_;
    modal.erase(std::remove(modal.begin(), modal.end(), this), modal.end());
  }
  const int result = ModalResult == mrNone ? mrCancel : ModalResult;
  // The window under a closed modal form becomes the active one again.
  if (Application && previous && previous != this && previous->Visible()) {
    Application->activeForm_ = nullptr;
    Application->ActivateForm(previous);
  }
  // A form released while it was shown modally is freed now, outside any event; nothing may
  // touch it after this line.
  if (Application) Application->FreeReleasedOutsideEvents();
  return result;
}

void TForm::Close() {
  TCloseAction action =
      FormStyle == TFormStyle::fsMDIChild ? TCloseAction::caMinimize : TCloseAction::caHide;
  if (OnClose) OnClose(this, action);
  if (action == TCloseAction::caNone) return;
  if (modal_ && ModalResult == mrNone) ModalResult = mrCancel;
  if (action == TCloseAction::caMinimize) return;
  SetVisible(false);
  if (Application && Application->Platform()) Application->Platform()->HideForm(this);
  Changed(TChange::FormClosed);
  if (Application) {
    Application->FormClosed(this);
    if (action == TCloseAction::caFree) Application->ReleaseForm(this);
  }
}

void TForm::Refresh() {
  if (Application && Application->Platform()) Application->Platform()->Repaint(this);
}

}  // namespace fw
