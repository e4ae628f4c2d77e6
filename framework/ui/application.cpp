#include "framework/ui/application.h"

#include <algorithm>

#include "framework/platform.h"

namespace fw {

TApplication* Application = nullptr;

TApplication* InitApplication() {
  if (!Application) Application = new TApplication();
  return Application;
}

void DoneApplication() {
  delete Application;
  Application = nullptr;
}

// The focus move in progress: its target, and the containers entered so far.
struct TApplication::TFocusChain {
  TControl* Target = nullptr;
  std::vector<TControl*> Entered;
  bool Abandoned = false;
};

TApplication::TApplication() : TComponent(nullptr, "Application") {}

TApplication::~TApplication() {
  // Forms go first, while the application object still answers them.
  released_.clear();
  while (!Components().empty()) {
    TComponent* last = Components().back();
    FreeComponent(last);
  }
}

std::vector<TForm*> TApplication::Forms() const {
  std::vector<TForm*> forms;
  for (auto* component : Components())
    if (auto* form = dynamic_cast<TForm*>(component)) forms.push_back(form);
  return forms;
}

TForm* TApplication::FindForm(const std::string& name) const {
  for (auto* form : Forms())
    if (form->Name() == name) return form;
  return nullptr;
}

void TApplication::ActivateForm(TForm* form) {
  if (!form || activeForm_ == form) return;
  activeForm_ = form;
  NotifyModel(form, TChange::Focus);
  if (form->OnActivate) form->OnActivate(form);
}

void TApplication::FormClosed(TForm* form) {
  released_.erase(std::remove(released_.begin(), released_.end(), form), released_.end());
  if (activeForm_ != form) return;
  activeForm_ = nullptr;
  for (auto* other : Forms())
    if (other != form && other->Visible()) activeForm_ = other;
}

void TApplication::SetCursor(TCursor cursor) {
  cursor_ = cursor;
  if (platform_) platform_->SetCursor(cursor);
}

TControl* TApplication::FocusedControl() const {
  return activeForm_ ? activeForm_->ActiveControl() : nullptr;
}

namespace {
// The control and its containers up to (not including) the form, innermost first.
std::vector<TControl*> PathUp(TControl* control) {
  std::vector<TControl*> path;
  for (; control && !dynamic_cast<TForm*>(control); control = control->Parent())
    path.push_back(control);
  return path;
}
}  // namespace

bool TApplication::FocusControl(TControl* target) {
  if (!target) return false;
  TForm* form = target->Form();
  if (!form || !target->CanFocus()) return false;

  if (chain_) {
    // A container focusing itself while the move it is part of goes into one of its controls:
    // the request is already met.
    const bool alreadyEntered =
        std::find(chain_->Entered.begin(), chain_->Entered.end(), target) != chain_->Entered.end();
    auto* container = dynamic_cast<TWinControl*>(target);
    if (alreadyEntered && container && container->Contains(chain_->Target)) return true;
    // Any other move from a handler abandons the move in progress.
    chain_->Abandoned = true;
    form->SetActiveControl(target);
    return true;
  }

  TControl* current = form->ActiveControl();
  if (current == target) return true;

  const std::vector<TControl*> from = PathUp(current);
  const std::vector<TControl*> to = PathUp(target);
  // Containers common to both paths get neither event.
  size_t common = 0;
  while (common < from.size() && common < to.size() &&
         from[from.size() - 1 - common] == to[to.size() - 1 - common])
    ++common;

  TFocusChain chain;
  chain.Target = target;
  chain_ = &chain;
  struct TReset {
    TFocusChain*& slot;
    ~TReset() { slot = nullptr; }
  } reset{chain_};

  for (size_t i = 0; i + common < from.size(); ++i) {
    TControl* leaving = from[i];
    try {
      if (leaving->OnExit) leaving->OnExit(leaving);
    } catch (const std::exception& error) {
      // A check that refused the move has put the focus on its control: the move is cancelled
      // and the failure goes on to the caller. A failure that left the focus alone (a remote
      // call refused while leaving) says nothing against the move: it is shown here and the
      // focus goes on to the control the user chose, so the screen is never left half-way.
      if (chain.Abandoned || !target->CanFocus()) throw;
      ShowException(error);
    }
    if (chain.Abandoned) return form->ActiveControl() == target;
  }
  form->SetActiveControl(target);
  for (size_t i = to.size() - common; i-- > 0;) {
    TControl* entering = to[i];
    chain.Entered.push_back(entering);
    if (entering->OnEnter) entering->OnEnter(entering);
    if (chain.Abandoned) return form->ActiveControl() == target;
  }
  return true;
}

void TApplication::SelectNext(TForm* form, bool forward) {
  if (!form) return;
  std::vector<TControl*> stops;
  std::function<void(TWinControl*)> collect = [&](TWinControl* parent) {
    for (auto* child : parent->TabOrdered()) {
      if (child->TabStop && child->CanFocus()) stops.push_back(child);
      if (auto* container = dynamic_cast<TWinControl*>(child)) collect(container);
    }
  };
  collect(form);
  if (stops.empty()) return;
  auto current = std::find(stops.begin(), stops.end(), form->ActiveControl());
  size_t index = 0;
  if (current != stops.end()) {
    const size_t position = static_cast<size_t>(current - stops.begin());
    index = forward ? (position + 1) % stops.size() : (position + stops.size() - 1) % stops.size();
  } else if (!forward) {
    index = stops.size() - 1;
  }
  FocusControl(stops[index]);
}

void TApplication::ShowException(const std::exception& error) {
  if (dynamic_cast<const EAbort*>(&error)) return;
  if (platform_) platform_->ShowError(error.what());
}

void TApplication::Dispatch(const std::function<void()>& action) {
  ++dispatchDepth_;
  try {
    action();
  } catch (const EAbort&) {
    // Shown already by whoever aborted.
  } catch (const std::exception& error) {
    ShowException(error);
  }
  --dispatchDepth_;
  if (dispatchDepth_ == 0) FreeReleased();
}

void TApplication::ReleaseForm(TForm* form) {
  if (std::find(released_.begin(), released_.end(), form) == released_.end())
    released_.push_back(form);
  if (dispatchDepth_ == 0) FreeReleased();
}

void TApplication::FreeReleased() {
  // A form still inside its ShowModal is freed when that returns.
  std::vector<TForm*> kept;
  while (!released_.empty()) {
    TForm* form = released_.back();
    released_.pop_back();
    if (form->Modal())
      kept.push_back(form);
    else
      FreeComponent(form);
  }
  released_ = std::move(kept);
}

void TApplication::FreeReleasedOutsideEvents() {
  if (dispatchDepth_ == 0) FreeReleased();
}

bool TApplication::UserFocus(TControl* control) {
  if (!control || !control->CanFocus()) return false;
  bool done = false;
  Dispatch([&] { done = FocusControl(control); });
  return done;
}

bool TApplication::UserClick(TControl* control) {
  if (!control || !control->Showing() || !control->IsEnabledUp()) return false;
  Dispatch([&] {
    // A focusable control takes the focus first, as under the mouse.
    if (control->CanFocus() && !FocusControl(control)) return;
    if (control->Form() && control->CanFocus() && control->Form()->ActiveControl() != control)
      return;
    control->Click();
  });
  return true;
}

bool TApplication::UserClickMenu(TMenuItem* item) {
  if (!item || !item->Enabled()) return false;
  Dispatch([&] { item->Click(); });
  return true;
}

bool TApplication::UserType(TEdit* edit, const std::string& text) {
  if (!edit || !edit->CanFocus() || edit->ReadOnly) return false;
  bool typed = false;
  Dispatch([&] {
    if (!FocusControl(edit) || edit->Form()->ActiveControl() != edit) return;
    typed = true;
    edit->SetText(text);
  });
  return typed;
}

bool TApplication::UserKey(TControl* control, uint16_t key, TShiftState shift) {
  if (!control || !control->CanFocus()) return false;
  Dispatch([&] {
    TForm* form = control->Form();
    if (!FocusControl(control) || form->ActiveControl() != control) return;
    // Menu shortcuts come before the control's own key handling.
    if (form->Menu) {
      if (TMenuItem* item = form->Menu->FindShortCut(ShortCut(key, shift))) {
        item->Click();
        return;
      }
    }
    uint16_t code = key;
    if (control->OnKeyDown) control->OnKeyDown(control, code, shift);
    if (code == 0) return;
    const bool printable = (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z');
    if (printable && !(shift & (ssCtrl | ssAlt))) {
      char character = static_cast<char>(code);
      if (code >= 'A' && code <= 'Z' && !(shift & ssShift))
        character = static_cast<char>(code + 32);
      if (control->OnKeyPress) control->OnKeyPress(control, character);
      if (character == 0) return;
      if (auto* edit = dynamic_cast<TEdit*>(control); edit && !edit->ReadOnly)
        edit->SetText(edit->Text() + character);
      return;
    }
    if (code == vk::Tab) {
      SelectNext(form, !(shift & ssShift));
      return;
    }
    if (auto* grid = dynamic_cast<TDBGrid*>(control)) {
      TDataSet* dataSet = grid->DataSet();
      if (!dataSet || !dataSet->Active()) return;
      switch (code) {
        case vk::Up:
          dataSet->Prior();
          break;
        case vk::Down:
          dataSet->Next();
          break;
        case vk::PageUp:
          dataSet->MoveBy(-10);
          break;
        case vk::PageDown:
          dataSet->MoveBy(10);
          break;
        case vk::Home:
          if (shift & ssCtrl)
            dataSet->First();
          else
            grid->SetSelectedIndex(grid->ColumnCount() ? 0 : -1);
          break;
        case vk::End:
          if (shift & ssCtrl)
            dataSet->Last();
          else
            grid->SetSelectedIndex(grid->ColumnCount() - 1);
          break;
        case vk::Left:
          if (grid->SelectedIndex() > 0) grid->SetSelectedIndex(grid->SelectedIndex() - 1);
          break;
        case vk::Right:
          if (grid->SelectedIndex() + 1 < grid->ColumnCount())
            grid->SetSelectedIndex(grid->SelectedIndex() + 1);
          break;
        default:
          break;
      }
    }
  });
  return true;
}

bool TApplication::UserSelectTab(TTabSheet* page) {
  if (!page || !page->PageControl() || !page->TabVisible || !page->PageControl()->IsEnabledUp())
    return false;
  Dispatch([&] { page->PageControl()->SelectPage(page); });
  return true;
}

bool TApplication::UserSelectRow(TDBGrid* grid, int row) {
  if (!grid || !grid->CanFocus()) return false;
  TDataSet* dataSet = grid->DataSet();
  if (!dataSet || row < 0 || row >= dataSet->RecordCount()) return false;
  Dispatch([&] {
    if (!FocusControl(grid) || grid->Form()->ActiveControl() != grid) return;
    dataSet->MoveTo(row);
  });
  return true;
}

bool TApplication::UserSelectColumn(TDBGrid* grid, int column) {
  if (!grid || !grid->CanFocus() || column < 0 || column >= grid->ColumnCount()) return false;
  Dispatch([&] {
    if (!FocusControl(grid) || grid->Form()->ActiveControl() != grid) return;
    grid->SetSelectedIndex(column);
  });
  return true;
}

bool TApplication::UserDblClick(TDBGrid* grid) {
  if (!grid || !grid->CanFocus()) return false;
  Dispatch([&] {
    if (!FocusControl(grid) || grid->Form()->ActiveControl() != grid) return;
    if (grid->OnDblClick) grid->OnDblClick(grid);
  });
  return true;
}

bool TApplication::UserNavigate(TDBNavigator* navigator, TDBNavigator::TButton button) {
  if (!navigator || !navigator->Showing() || !navigator->IsEnabledUp()) return false;
  Dispatch([&] { navigator->BtnClick(button); });
  return true;
}

void TApplication::UserActivate(TForm* form) {
  if (!form) return;
  Dispatch([&] {
    if (activeForm_ == form) {
      // Coming back to the window: it is activated anew.
      activeForm_ = nullptr;
    }
    ActivateForm(form);
  });
}

void TApplication::UserClose(TForm* form) {
  if (!form) return;
  Dispatch([&] { form->Close(); });
}

}  // namespace fw
