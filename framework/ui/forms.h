// Menus and forms.
//
// A form is created in two steps so that a global reference to it can be stored before its create
// handler runs: construct (the description builds the components), store, then DoCreate. A failure
// escaping the create handler is shown through the error display and creation goes on.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/ui/controls.h"

namespace fw {

class TMenuItem : public TComponent {
 public:
  TMenuItem(TComponent* owner, std::string name);

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  TShortCut ShortCut() const { return shortCut_; }
  void SetShortCut(TShortCut shortCut);

  // Sub-items, in menu order.
  const std::vector<TMenuItem*>& Items() const { return items_; }
  TMenuItem* Parent() const { return parent_; }
  void Add(TMenuItem* item);
  void Insert(int index, TMenuItem* item);
  int IndexOf(const TMenuItem* item) const;
  // The access letter: the character after a single "&" ("Cadastramento A&utomático" -> 'u').
  char AccessLetter() const;

  // Raises OnClick when enabled.
  void Click();
  TNotifyEvent OnClick;

 private:
  std::string caption_;
  bool enabled_ = true;
  bool visible_ = true;
  TShortCut shortCut_ = 0;
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
};

class TMainMenu : public TComponent {
 public:
  TMainMenu(TComponent* owner, std::string name);
  TMenuItem* Items() const { return root_; }
  // The enabled, visible item with this shortcut; nullptr when none.
  TMenuItem* FindShortCut(TShortCut shortCut) const;

 private:
  TMenuItem* root_;
};

class TPopupMenu : public TMainMenu {
 public:
  using TMainMenu::TMainMenu;
};

enum class TFormStyle { fsNormal, fsMDIChild };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum class TPosition { poDesigned, poDefault, poScreenCenter };
using TCloseEvent = std::function<void(TComponent* sender, TCloseAction& action)>;

inline constexpr int mrNone = 0, mrOk = 1, mrCancel = 2;

class TForm : public TWinControl {
 public:
  TForm(TComponent* owner, std::string name);
  ~TForm() override;

  TFormStyle FormStyle = TFormStyle::fsNormal;
  TPosition Position = TPosition::poDesigned;
  TMainMenu* Menu = nullptr;
  int ClientWidth = 0;
  int ClientHeight = 0;

  // The control with the focus (or that will have it when the form is shown).
  TControl* ActiveControl() const { return activeControl_; }
  void SetActiveControl(TControl* control);

  bool Modal() const { return modal_; }
  int ModalResult = mrNone;

  TNotifyEvent OnCreate;
  TNotifyEvent OnActivate;
  TNotifyEvent OnShow;
  TCloseEvent OnClose;

  // Runs OnCreate; a failure is shown and creation goes on.
  void DoCreate();
  // Shows the form modeless (an MDI child inside the main window), or brings it to the front.
  // A form without a focused control gives the focus to its first tab stop (enter events run).
  void Show();
  // Shows the form modally; returns its ModalResult once it is closed.
  int ShowModal();
  // Asks the form to close: OnClose decides the action (default: hide; an MDI child minimises).
  void Close();
  // Repaints the form now.
  void Refresh();

 private:
  friend class TApplication;
  void FocusFirstControl();
  TControl* activeControl_ = nullptr;
  bool modal_ = false;
};

}  // namespace fw
