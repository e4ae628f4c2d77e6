// The headless form model: controls, containers, edits, radio buttons, buttons, page control.
//
// Controls form a parent tree inside a form (the form owns them all). Changes a view must reflect
// are announced through NotifyModel. Behaviours the screens rely on:
// - a radio button that becomes checked, by the user or by the program, raises OnClick once; its
//   siblings in the same parent become unchecked without a click;
// - setting an edit's text from the program raises OnChange once, and only when the text differs;
// - focus moves raise OnExit and OnEnter as TApplication::FocusControl describes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/data/component.h"

namespace fw {

class TWinControl;
class TForm;

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
// The edges of a control that keep their designed distance from the same edges of its parent when
// a view gives the parent more or less room than designed. Unaligned: with akLeft and akRight the
// control grows with the parent's width, with akRight alone it moves (akTop, akBottom alike).
// Aligned to one edge and anchored at the opposite one too (alTop with akBottom), the control
// takes the parent's change of size along that axis; its aligned siblings keep their sizes.
enum TAnchorKind : unsigned {
  akLeft = 1u << 0,
  akTop = 1u << 1,
  akRight = 1u << 2,
  akBottom = 1u << 3
};
using TAnchors = unsigned;
inline constexpr TAnchors akAll = akLeft | akTop | akRight | akBottom;
enum class TBevel { bvNone, bvLowered, bvRaised };
enum class TBorderStyle { bsNone, bsSingle };
enum class TCursor { crDefault, crHourGlass, crVSplit, crHSplit };

using TColor = uint32_t;  // 0x00BBGGRR, or a system colour below
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clWindowText = 0xFF000008;
inline constexpr TColor clBtnFace = 0xFF00000F;
inline constexpr TColor clWindow = 0xFF000005;
inline constexpr TColor clInfoBk = 0xFF000018;
inline constexpr TColor clDefault = 0x20000000;

// Key codes of the keyboard (virtual-key numbering) and modifier flags.
using TShiftState = unsigned;
inline constexpr TShiftState ssShift = 1, ssCtrl = 2, ssAlt = 4;
namespace vk {
inline constexpr uint16_t Tab = 9, Return = 13, Escape = 27, PageUp = 33, PageDown = 34, End = 35,
                          Home = 36, Left = 37, Up = 38, Right = 39, Down = 40, F1 = 112, F9 = 120,
                          F12 = 123;
}

// A menu shortcut as stored: key code plus Shift 0x2000, Ctrl 0x4000, Alt 0x8000 (16449 = Ctrl+A).
using TShortCut = uint16_t;
TShortCut ShortCut(uint16_t key, TShiftState shift);

using TNotifyEvent = std::function<void(TComponent* sender)>;
using TKeyEvent = std::function<void(TComponent* sender, uint16_t& key, TShiftState shift)>;
using TKeyPressEvent = std::function<void(TComponent* sender, char& key)>;

struct TFont {
  std::string Name = "MS Sans Serif";
  int Height = -11;  // pixels, negative as stored (8 points)
  TColor Color = clWindowText;
  bool Bold = false;
};

class TControl : public TComponent {
 public:
  TControl(TComponent* owner, std::string name);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  void SetParent(TWinControl* parent);
  TForm* Form() const;  // the form the control stands on

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);
  void SetLeft(int left) { SetBounds(left, top_, width_, height_); }
  void SetTop(int top) { SetBounds(left_, top, width_, height_); }
  void SetWidth(int width) { SetBounds(left_, top_, width, height_); }
  void SetHeight(int height) { SetBounds(left_, top_, width_, height); }

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);
  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string hint);
  bool ShowHint = false;
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  TFont Font;
  TCursor Cursor = TCursor::crDefault;
  TAnchors Anchors = akLeft | akTop;

  int TabOrder() const { return tabOrder_; }
  void SetTabOrder(int order);
  bool TabStop = false;

  // Visible and enabled all the way up, and not on a tab sheet that is out of view.
  bool Showing() const;
  bool IsEnabledUp() const;
  // Can the control take the focus now: a windowed control that is showing and enabled.
  virtual bool CanFocus() const;
  bool Focused() const;
  // Asks the application to move the focus here (events as TApplication::FocusControl).
  void SetFocus();

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;
  TKeyEvent OnKeyDown;
  TKeyPressEvent OnKeyPress;

  // What a click does: the click event, for controls without a behaviour of their own.
  virtual void Click();

 protected:
  void NotifyChange() { Changed(TChange::Property); }

 private:
  friend class TWinControl;
  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TAlign align_ = TAlign::alNone;
  bool visible_ = true;
  bool enabled_ = true;
  std::string caption_;
  std::string hint_;
  TColor color_ = clDefault;
  int tabOrder_ = -1;
};

// A control that can hold the focus and other controls.
class TWinControl : public TControl {
 public:
  TWinControl(TComponent* owner, std::string name);
  ~TWinControl() override;

  // Children in the order they were parented.
  const std::vector<TControl*>& Controls() const { return children_; }
  // Children sorted by tab order.
  std::vector<TControl*> TabOrdered() const;
  bool Contains(const TControl* control) const;  // itself or below it
  bool CanFocus() const override;

 private:
  friend class TControl;
  std::vector<TControl*> children_;
};

class TPanel : public TWinControl {
 public:
  using TWinControl::TWinControl;
  TBevel BevelInner = TBevel::bvNone;
  TBevel BevelOuter = TBevel::bvRaised;
  int BorderWidth = 0;
};

class TGroupBox : public TWinControl {
 public:
  using TWinControl::TWinControl;
};

class TScrollBox : public TWinControl {
 public:
  using TWinControl::TWinControl;
  TBorderStyle BorderStyle = TBorderStyle::bsSingle;
};

class TSplitter : public TControl {
 public:
  TSplitter(TComponent* owner, std::string name);
  bool CanFocus() const override { return false; }
};

class TLabel : public TControl {
 public:
  using TControl::TControl;
  bool CanFocus() const override { return false; }
};

class TEdit : public TWinControl {
 public:
  TEdit(TComponent* owner, std::string name);
  const std::string& Text() const { return text_; }
  // Raises OnChange once when the text differs.
  void SetText(std::string text);
  bool ReadOnly = false;
  TNotifyEvent OnChange;

 private:
  std::string text_;
};

// Edit with an edit mask ("mask;saveLiterals;blank"). Text() is the stored value: what the user
// typed, without the mask's literals unless the mask saves them.
class TMaskEdit : public TEdit {
 public:
  using TEdit::TEdit;
  const std::string& EditMask() const { return editMask_; }
  void SetEditMask(std::string mask);
  // The text as the edit shows it, literals and blanks included.
  std::string EditText() const;

 private:
  std::string editMask_;
};

class TRadioButton : public TWinControl {
 public:
  TRadioButton(TComponent* owner, std::string name);
  bool Checked() const { return checked_; }
  // Raises OnClick once when it becomes checked; unchecks the siblings without events.
  void SetChecked(bool checked);
  void Click() override;  // a user click checks it

 private:
  bool checked_ = false;
};

// A flat tool button: takes no focus.
class TSpeedButton : public TControl {
 public:
  using TControl::TControl;
  bool CanFocus() const override { return false; }
  bool Flat = true;
  std::string Glyph;  // name of the picture shown
  void Click() override;
};

class TTabSheet;

class TPageControl : public TWinControl {
 public:
  using TWinControl::TWinControl;
  const std::vector<TTabSheet*>& Pages() const { return pages_; }
  TTabSheet* ActivePage() const { return activePage_; }
  // Brings a page to the front. From the program: no event. SelectPage (the user's tab click)
  // raises OnChange after the page changed.
  void SetActivePage(TTabSheet* page);
  void SelectPage(TTabSheet* page);
  TNotifyEvent OnChange;

 private:
  friend class TTabSheet;
  std::vector<TTabSheet*> pages_;
  TTabSheet* activePage_ = nullptr;
};

class TTabSheet : public TWinControl {
 public:
  TTabSheet(TComponent* owner, std::string name, TPageControl* pageControl);
  ~TTabSheet() override;
  TPageControl* PageControl() const { return pageControl_; }
  bool TabVisible = true;
  int PageIndex() const;

 private:
  TPageControl* pageControl_;
};

}  // namespace fw
