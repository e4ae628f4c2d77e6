#include "host_app/date_field.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include "host_app/conversions.h"

namespace hostapp {

namespace {
const QString kFormat = QStringLiteral("dd/MM/yyyy");
}

DateField::DateField(QWidget* parent) : DateEditWidget(parent) {
  Edit()->setInputMask(QtInputMask(kDateEditMask));
  Edit()->installEventFilter(this);
  setFocusProxy(Edit());
  OnDatePicked = [this](const QDate& picked) {
    setDate(picked);
    Edit()->setFocus(Qt::OtherFocusReason);
  };
  QObject::connect(Edit(), &QLineEdit::textChanged, Edit(), [this] { ShowValidity(); });
  ShowValidity();
}

QDate DateField::date() const {
  return QDate::fromString(Edit()->displayText(), kFormat);
}

void DateField::setDate(const QDate& date) {
  Edit()->setText(date.isValid() ? date.toString(kFormat) : QString());
}

bool DateField::IsBlank() const {
  return FromQt(Edit()->text()).find_first_of("0123456789") == std::string::npos;
}

QString DateField::Text() const {
  return Edit()->displayText();
}

void DateField::ShowValidity() {
  QPalette palette = Edit()->palette();
  palette.setColor(QPalette::Text,
                   date().isValid() ? QColor(Qt::blue) : QPalette().color(QPalette::Text));
  Edit()->setPalette(palette);
}

bool DateField::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit() && event->type() == QEvent::FocusIn) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    // Back from another window or a popup, the caret stays where the user left it.
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
      return DateEditWidget::eventFilter(watched, event);
    // After the line edit's own focus handling (and, for a click, after the click has put the
    // caret), as the screens' date edits do it.
    QPointer<QLineEdit> edit = Edit();
    QTimer::singleShot(0, edit, [edit, reason] {
      if (!edit) return;
      const int blank = FirstBlankPosition(edit->inputMask(), edit->displayText());
      if (reason != Qt::MouseFocusReason || edit->cursorPosition() > blank)
        edit->setCursorPosition(blank);
    });
  }
  return DateEditWidget::eventFilter(watched, event);
}

}  // namespace hostapp
