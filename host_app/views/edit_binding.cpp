#include "host_app/views/edit_binding.h"

#include <QDate>
#include <QLineEdit>
#include <QToolButton>

#include "framework/host/host_controls.h"
#include "host_app/conversions.h"
#include "host_app/qt_widgets.h"
#include "host_app/views/input_router.h"
#include "host_app/views/widget_style.h"

namespace hostapp {

void EditBinding::Create(ControlView& view, QWidget* host) {
  const fw::TControl* key = view.Control;
  if (view.Kind == ControlKind::DateEdit) {
    auto* date = new DateEditWidget(host);
    date->Edit()->setInputMask(QtInputMask(kDateEditMask));
    date->OnDatePicked = [this, key](const QDate& picked) {
      DatePicked(const_cast<fw::TControl*>(key),
                 FromQt(picked.toString(QStringLiteral("dd/MM/yyyy"))));
    };
    view.Widget = date;
    view.Focus = view.Edit = date->Edit();
    QObject::connect(date->Edit(), &QLineEdit::textEdited, Context(),
                     [this, key] { TextEdited(const_cast<fw::TControl*>(key)); });
    return;
  }
  auto* edit = new QLineEdit(host);
  view.Widget = view.Focus = view.Edit = edit;
  QObject::connect(edit, &QLineEdit::textEdited, Context(),
                   [this, key] { TextEdited(const_cast<fw::TControl*>(key)); });
}

void EditBinding::Refresh(ControlView& view, const QColor& background) {
  auto* edit = static_cast<fw::TEdit*>(view.Control);
  view.Edit->setReadOnly(edit->ReadOnly);
  if (view.Kind == ControlKind::DateEdit)
    static_cast<DateEditWidget*>(view.Widget.data())
        ->Button()
        ->setEnabled(edit->IsEnabledUp() && !edit->ReadOnly);
  SetRole(view.Edit, QPalette::Base, background);
  {
    // A disabled edit that only displays (a product's name) stays readable: its text keeps
    // the normal colour, on the face the model gives it.
    QPalette palette = view.Edit->palette();
    palette.setColor(QPalette::Disabled, QPalette::Text,
                     palette.color(QPalette::Active, QPalette::Text));
    view.Edit->setPalette(palette);
  }
  RefreshText(view);
}

void EditBinding::RefreshText(ControlView& view) {
  auto* edit = static_cast<fw::TEdit*>(view.Control);
  if (view.Kind == ControlKind::MaskEdit) {
    const std::string& mask = static_cast<fw::TMaskEdit*>(edit)->EditMask();
    if (mask != view.Mask) {
      view.Mask = mask;
      view.Edit->setInputMask(QtInputMask(mask));
      view.Edit->setText(ToQt(edit->Text()));
    }
  }
  // Only a real difference is written back: the user's cursor stays where it is while typing.
  if (WidgetText(view) != edit->Text()) view.Edit->setText(ToQt(edit->Text()));
  if (view.Kind == ControlKind::DateEdit) {
    auto* date = static_cast<fw::TDateEditPlus*>(edit);
    SetRole(view.Edit, QPalette::Text,
            date->HasValidDate() ? ColorOf(date->ValidDateColor, view.Edit->palette()) : QColor());
  }
}

std::string EditBinding::WidgetText(const ControlView& view) const {
  if (!view.Edit) return {};
  switch (view.Kind) {
    case ControlKind::MaskEdit:
      return StoredValueOfDisplay(view.Mask, view.Edit->displayText());
    case ControlKind::DateEdit:
      return StoredValueOfDisplay(kDateEditMask, view.Edit->displayText());
    default:
      return FromQt(view.Edit->text());
  }
}

void EditBinding::TextEdited(fw::TControl* control) {
  ControlView* view = Find(control);
  if (!view || Syncing() || !fw::Application) return;
  if (Router().InRemoteCall()) {
    ++Syncing();
    RefreshText(*view);
    --Syncing();
    return;
  }
  auto* edit = static_cast<fw::TEdit*>(control);
  // Typed into an edit the model would not let the focus reach: the text is undone below.
  if (Router().FlushPendingFocus() && (view = Find(control))) {
    const std::string text = WidgetText(*view);
    if (text != edit->Text()) Traced("UserType", edit, fw::Application->UserType(edit, text));
  }
  if (ControlView* still = Find(control)) {
    ++Syncing();
    RefreshText(*still);
    --Syncing();
    Router().AfterUserEvent(control->Form());
  }
}

void EditBinding::DatePicked(fw::TControl* control, const std::string& text) {
  if (!Find(control) || !fw::Application || Router().InRemoteCall()) return;
  Router().FlushPendingFocus();
  if (!Find(control)) return;
  Traced("UserType", control, fw::Application->UserType(static_cast<fw::TEdit*>(control), text));
  if (ControlView* still = Find(control)) {
    RefreshControl(*still);
    Router().AfterUserEvent(control->Form());
  }
}

}  // namespace hostapp
