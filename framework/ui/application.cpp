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

void TApplication::FormCreating(TForm* form) {
  if (!platform_) return;
  try {
    platform_->FormCreating(form);
  } catch (const std::exception& error) {
    ShowException(error);
  }
}

bool TApplication::BlockedByModal(const TForm* form) const {
  const TForm* modal = ModalForm();
  return modal && form != modal;
}

void TApplication::FormClosed(TForm* form) {
  released_.erase(std::remove(released_.begin(), released_.end(), form), released_.end());
  // A hidden form takes no input: it shuts out the others no longer.
  modalForms_.erase(std::remove(modalForms_.begin(), modalForms_.end(), form), modalForms_.end());
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

namespace {
// The form a menu item belongs to: its owner, or its owner's owner...
const TForm* FormOfComponent(const TComponent* component) {
  for (; component; component = component->Owner())
    if (auto* form = dynamic_cast<const TForm*>(component)) return form;
  return nullptr;
}

// The page control whose page holds `control`; nullptr when it sits on no page.
TPageControl* PagesHolding(TControl* control) {
  for (TWinControl* parent = control ? control->Parent() : nullptr; parent;
       parent = parent->Parent())
    if (auto* page = dynamic_cast<TTabSheet*>(parent)) return page->PageControl();
  return nullptr;
}

std::vector<TTabSheet*> VisibleTabs(const TPageControl* pages) {
  std::vector<TTabSheet*> tabs;
  for (TTabSheet* page : pages->Pages())
    if (page->TabVisible) tabs.push_back(page);
  return tabs;
}

// The form's first page control (in creation order) that shows more than one tab.
TPageControl* FirstPagesWithTabs(const TComponent* owner) {
  for (TComponent* component : owner->Components()) {
    if (auto* pages = dynamic_cast<TPageControl*>(component);
        pages && pages->Showing() && pages->IsEnabledUp() && VisibleTabs(pages).size() > 1)
      return pages;
    if (TPageControl* inner = FirstPagesWithTabs(component)) return inner;
  }
  return nullptr;
}
}  // namespace

bool TApplication::SwitchPage(TForm* form, bool forward) {
  TPageControl* pages = PagesHolding(form->ActiveControl());
  if (!pages || VisibleTabs(pages).size() < 2) pages = FirstPagesWithTabs(form);
  if (!pages || !pages->Showing() || !pages->IsEnabledUp()) return false;
  const std::vector<TTabSheet*> tabs = VisibleTabs(pages);
  if (tabs.size() < 2) return false;
  const auto current = std::find(tabs.begin(), tabs.end(), pages->ActivePage());
  const size_t place = current == tabs.end() ? 0 : static_cast<size_t>(current - tabs.begin());
  TTabSheet* next = tabs[(place + (forward ? 1 : tabs.size() - 1)) % tabs.size()];
  TTabSheet* leaving = pages->ActivePage();
  const bool focusLeaves = leaving && leaving->Contains(form->ActiveControl());
  pages->SelectPage(next);
  if (focusLeaves && pages->ActivePage() == next) {
    // The focus, put on the page control while its page went out of view, goes to the new
    // page's first tab stop, with its enter events.
    for (TControl* stop : next->TabOrdered()) {
      std::vector<TControl*> pending = {stop};
      while (!pending.empty()) {
        TControl* candidate = pending.front();
        pending.erase(pending.begin());
        if (candidate->TabStop && candidate->CanFocus()) {
          FocusControl(candidate);
          return true;
        }
        if (auto* container = dynamic_cast<TWinControl*>(candidate)) {
          const std::vector<TControl*> inner = container->TabOrdered();
          pending.insert(pending.begin(), inner.begin(), inner.end());
        }
      }
    }
  }
  return true;
}

bool TApplication::UserFocus(TControl* control) {
  if (!control || !control->CanFocus() || BlockedByModal(control->Form())) return false;
  bool done = false;
  Dispatch([&] { done = FocusControl(control); });
  return done;
}

bool TApplication::UserClick(TControl* control) {
  if (!control || !control->Showing() || !control->IsEnabledUp() || BlockedByModal(control->Form()))
    return false;
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
  if (!item || !item->Enabled() || BlockedByModal(FormOfComponent(item))) return false;
  Dispatch([&] { item->Click(); });
  return true;
}

bool TApplication::UserType(TEdit* edit, const std::string& text) {
  if (!edit || !edit->CanFocus() || edit->ReadOnly || BlockedByModal(edit->Form())) return false;
  bool typed = false;
  Dispatch([&] {
    if (!FocusControl(edit) || edit->Form()->ActiveControl() != edit) return;
    typed = true;
    edit->SetText(text);
  });
  return typed;
}

bool TApplication::UserKey(TControl* control, uint16_t key, TShiftState shift) {
  if (!control || !control->CanFocus() || BlockedByModal(control->Form())) return false;
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
    auto* grid = dynamic_cast<TDBGrid*>(control);
    const bool forward = !(shift & ssShift);
    if (code == vk::Tab) {
      if (shift & ssCtrl) {
        if (!SwitchPage(form, forward)) SelectNext(form, forward);
        return;
      }
      // A grid that takes the Tab key moves from column to column, and is left past its ends.
      if (grid && (grid->Options & dgTabs)) {
        const int column = grid->NeighbourColumn(forward);
        if (column >= 0) {
          grid->SetSelectedIndex(column);
          return;
        }
      }
      SelectNext(form, forward);
      return;
    }
    if ((code == vk::PageDown || code == vk::PageUp) && (shift & ssCtrl)) {
      SwitchPage(form, code == vk::PageDown);
      return;
    }
    if (code == vk::Escape && form->Modal()) {
      form->Close();
      return;
    }
    if (!grid) return;
    if (code == vk::Return) {
      // As a double-click on the selected cell: the screen's own handler decides.
      if (grid->OnDblClick) grid->OnDblClick(grid);
      return;
    }
    TDataSet* dataSet = grid->DataSet();
    const std::vector<int> columns = grid->NavigationOrder();
    switch (code) {
      case vk::Left:
      case vk::Right:
        if (const int column = grid->NeighbourColumn(code == vk::Right); column >= 0)
          grid->SetSelectedIndex(column);
        return;
      case vk::Home:
      case vk::End:
        if (shift & ssCtrl) break;
        if (!columns.empty())
          grid->SetSelectedIndex(code == vk::Home ? columns.front() : columns.back());
        return;
      default:
        break;
    }
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
        dataSet->First();
        break;
      case vk::End:
        dataSet->Last();
        break;
      default:
        break;
    }
  });
  return true;
}

bool TApplication::UserSelectTab(TTabSheet* page) {
  if (!page || !page->PageControl() || !page->TabVisible || !page->PageControl()->IsEnabledUp() ||
      BlockedByModal(page->Form()))
    return false;
  Dispatch([&] { page->PageControl()->SelectPage(page); });
  return true;
}

bool TApplication::UserSelectRow(TDBGrid* grid, int row) {
  if (!grid || !grid->CanFocus() || BlockedByModal(grid->Form())) return false;
  TDataSet* dataSet = grid->DataSet();
  if (!dataSet || row < 0 || row >= dataSet->RecordCount()) return false;
  Dispatch([&] {
    if (!FocusControl(grid) || grid->Form()->ActiveControl() != grid) return;
    dataSet->MoveTo(row);
  });
  return true;
}

bool TApplication::UserSelectColumn(TDBGrid* grid, int column) {
  if (!grid || !grid->CanFocus() || column < 0 || column >= grid->ColumnCount() ||
      BlockedByModal(grid->Form()))
    return false;
  Dispatch([&] {
    if (!FocusControl(grid) || grid->Form()->ActiveControl() != grid) return;
    grid->SetSelectedIndex(column);
  });
  return true;
}

bool TApplication::UserDblClick(TDBGrid* grid) {
  if (!grid || !grid->CanFocus() || BlockedByModal(grid->Form())) return false;
  Dispatch([&] {
    if (!FocusControl(grid) || grid->Form()->ActiveControl() != grid) return;
    if (grid->OnDblClick) grid->OnDblClick(grid);
  });
  return true;
}

bool TApplication::UserTitleClick(TDBGrid* grid, int column) {
  if (!grid || !grid->Showing() || BlockedByModal(grid->Form())) return false;
  TField* field = grid->ColumnField(column);
  if (!field || !grid->DataSet()) return false;
  bool descending = false;
  const bool sorted = grid->SortColumn(&descending) == column;
  std::vector<TIndexField> fields;
  if (!sorted) fields = {{field->FieldName(), false}};
  if (sorted && !descending) fields = {{field->FieldName(), true}};
  Dispatch([&] { grid->DataSet()->SetIndexFields(std::move(fields)); });
  return true;
}

bool TApplication::UserSort(TDBGrid* grid, std::vector<TIndexField> fields) {
  if (!grid || !grid->Showing() || BlockedByModal(grid->Form())) return false;
  TDataSet* dataSet = grid->DataSet();
  if (!dataSet) return false;
  for (const TIndexField& field : fields)
    if (!dataSet->FindField(field.FieldName)) return false;
  Dispatch([&] { dataSet->SetIndexFields(std::move(fields)); });
  return true;
}

bool TApplication::UserNavigate(TDBNavigator* navigator, TDBNavigator::TButton button) {
  if (!navigator || !navigator->Showing() || !navigator->IsEnabledUp() ||
      BlockedByModal(navigator->Form()))
    return false;
  Dispatch([&] { navigator->BtnClick(button); });
  return true;
}

bool TApplication::UserActivate(TForm* form) {
  if (!form || BlockedByModal(form)) return false;
  Dispatch([&] {
    if (activeForm_ == form) {
      // Coming back to the window: it is activated anew.
      activeForm_ = nullptr;
    }
    ActivateForm(form);
  });
  return true;
}

bool TApplication::UserClose(TForm* form) {
  if (!form || BlockedByModal(form)) return false;
  Dispatch([&] { form->Close(); });
  return true;
}

}  // namespace fw
