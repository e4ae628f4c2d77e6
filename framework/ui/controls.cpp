#include "framework/ui/controls.h"

#include <algorithm>

#include "framework/data/format.h"
#include "framework/ui/application.h"
#include "framework/ui/forms.h"

namespace fw {

TShortCut ShortCut(uint16_t key, TShiftState shift) {
  TShortCut result = key & 0x0FFF;
  if (shift & ssShift) result |= 0x2000;
  if (shift & ssCtrl) result |= 0x4000;
  if (shift & ssAlt) result |= 0x8000;
  return result;
}

// ---- TControl ----

TControl::TControl(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {}

TControl::~TControl() {
  if (parent_) {
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

void TControl::SetParent(TWinControl* parent) {
  if (parent_ == parent) return;
  if (parent_) {
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  parent_ = parent;
  if (parent_) {
    parent_->children_.push_back(this);
    if (tabOrder_ < 0) tabOrder_ = static_cast<int>(parent_->children_.size()) - 1;
  }
  NotifyChange();
}

TForm* TControl::Form() const {
  const TControl* control = this;
  while (control) {
    if (auto* form = dynamic_cast<TForm*>(const_cast<TControl*>(control))) return form;
    control = control->parent_;
  }
  return nullptr;
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  NotifyChange();
}

void TControl::SetAlign(TAlign align) {
  align_ = align;
  NotifyChange();
}

void TControl::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  NotifyChange();
}

void TControl::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  NotifyChange();
}

void TControl::SetCaption(std::string caption) {
  if (caption_ == caption) return;
  caption_ = std::move(caption);
  NotifyChange();
}

void TControl::SetHint(std::string hint) {
  hint_ = std::move(hint);
  NotifyChange();
}

void TControl::SetColor(TColor color) {
  color_ = color;
  NotifyChange();
}

void TControl::SetTabOrder(int order) {
  tabOrder_ = order;
  NotifyChange();
}

bool TControl::Showing() const {
  for (const TControl* control = this; control; control = control->parent_) {
    if (!control->visible_ && !dynamic_cast<const TForm*>(control)) return false;
    if (auto* sheet = dynamic_cast<const TTabSheet*>(control)) {
      if (sheet->PageControl() && sheet->PageControl()->ActivePage() != sheet) return false;
    }
  }
  return true;
}

bool TControl::IsEnabledUp() const {
  for (const TControl* control = this; control; control = control->parent_)
    if (!control->enabled_) return false;
  return true;
}

bool TControl::CanFocus() const {
  return false;
}

bool TControl::Focused() const {
  const TForm* form = Form();
  return form && form->ActiveControl() == this;
}

void TControl::SetFocus() {
  if (Application) Application->FocusControl(this);
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* owner, std::string name) : TControl(owner, std::move(name)) {
  TabStop = false;
}

TWinControl::~TWinControl() {
  for (auto* child : children_) child->parent_ = nullptr;
}

std::vector<TControl*> TWinControl::TabOrdered() const {
  std::vector<TControl*> ordered = children_;
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](TControl* a, TControl* b) { return a->TabOrder() < b->TabOrder(); });
  return ordered;
}

bool TWinControl::Contains(const TControl* control) const {
  for (; control; control = control->Parent())
    if (control == this) return true;
  return false;
}

bool TWinControl::CanFocus() const {
  return Showing() && IsEnabledUp();
}

// ---- simple controls ----

TSplitter::TSplitter(TComponent* owner, std::string name) : TControl(owner, std::move(name)) {
  Cursor = TCursor::crVSplit;
}

TEdit::TEdit(TComponent* owner, std::string name) : TWinControl(owner, std::move(name)) {
  TabStop = true;
}

void TEdit::SetText(std::string text) {
  if (text == text_) return;
  text_ = std::move(text);
  NotifyChange();
  if (OnChange) OnChange(this);
}

void TMaskEdit::SetEditMask(std::string mask) {
  editMask_ = std::move(mask);
  NotifyChange();
}

std::string TMaskEdit::EditText() const {
  if (editMask_.empty()) return Text();
  return FormatMaskText(editMask_, Text());
}

TRadioButton::TRadioButton(TComponent* owner, std::string name)
    : TWinControl(owner, std::move(name)) {
  TabStop = true;
}

void TRadioButton::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  if (checked && Parent()) {
    for (auto* sibling : Parent()->Controls()) {
      auto* radio = dynamic_cast<TRadioButton*>(sibling);
      if (radio && radio != this && radio->checked_) {
        radio->checked_ = false;
        radio->NotifyChange();
      }
    }
  }
  NotifyChange();
  if (checked && OnClick) OnClick(this);
}

void TRadioButton::Click() {
  SetChecked(true);
}

void TSpeedButton::Click() {
  if (IsEnabledUp() && OnClick) OnClick(this);
}

// ---- page control ----

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page == activePage_) return;
  activePage_ = page;
  NotifyChange();
}

void TPageControl::SelectPage(TTabSheet* page) {
  if (page == activePage_ || !page || !page->TabVisible) return;
  // The focus cannot stay on a control of a page going out of view.
  if (TForm* form = Form()) {
    TControl* focused = form->ActiveControl();
    if (focused && activePage_ && activePage_->Contains(focused)) form->SetActiveControl(this);
  }
  SetActivePage(page);
  if (OnChange) OnChange(this);
}

TTabSheet::TTabSheet(TComponent* owner, std::string name, TPageControl* pageControl)
    : TWinControl(owner, std::move(name)), pageControl_(pageControl) {
  if (pageControl_) {
    pageControl_->pages_.push_back(this);
    SetParent(pageControl_);
    if (!pageControl_->activePage_) pageControl_->activePage_ = this;
  }
}

TTabSheet::~TTabSheet() {
  if (!pageControl_) return;
  auto& pages = pageControl_->pages_;
  pages.erase(std::remove(pages.begin(), pages.end(), this), pages.end());
  if (pageControl_->activePage_ == this)
    pageControl_->activePage_ = pages.empty() ? nullptr : pages.front();
}

int TTabSheet::PageIndex() const {
  if (!pageControl_) return -1;
  const auto& pages = pageControl_->Pages();
  return static_cast<int>(std::find(pages.begin(), pages.end(), this) - pages.begin());
}

}  // namespace fw
