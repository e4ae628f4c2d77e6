#include "host_app/views/button_binding.h"

#include <QPainter>
#include <QStyle>
#include <QToolButton>

#include "framework/host/host_controls.h"
#include "host_app/conversions.h"
#include "host_app/qt_widgets.h"
#include "host_app/views/input_router.h"

namespace hostapp {

namespace {

// Help: a white question mark on a blue disc, as help reads on most desktops. (The style's own
// "help" picture in this Qt is a red life buoy, which reads as a warning.)
QIcon HelpIcon() {
  static const QIcon icon = [] {
    QIcon drawn;
    for (int size : {16, 20, 24, 32}) {
      QPixmap picture(size, size);
      picture.fill(Qt::transparent);
      QPainter painter(&picture);
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), 1));
      painter.setBrush(QColor(0x2f, 0x6f, 0xc0));
      painter.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
      QFont font = painter.font();
      font.setBold(true);
      font.setPixelSize(size * 3 / 4);
      painter.setFont(font);
      painter.setPen(Qt::white);
      painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("?"));
      painter.end();
      drawn.addPixmap(picture);
    }
    return drawn;
  }();
  return icon;
}

// Pictures of the host's buttons, by glyph name or, without one, by hint.
QIcon IconFor(const QWidget* widget, const std::string& glyph, const std::string& hint) {
  struct Look {
    const char* key;
    QStyle::StandardPixmap pixmap;
  };
  static const Look looks[] = {
      {"Ordenar", QStyle::SP_ArrowDown},
      {"Imprimir", QStyle::SP_FileDialogDetailedView},
      {"Fechar", QStyle::SP_DialogCloseButton},
      {"Incluir", QStyle::SP_FileIcon},
      {"Alterar", QStyle::SP_FileDialogInfoView},
      {"Excluir", QStyle::SP_TrashIcon},
      {"Procurar", QStyle::SP_FileDialogContentsView},
      {"Pesquis", QStyle::SP_FileDialogContentsView},
      {"Verificar", QStyle::SP_BrowserReload},
      {"Cancelar", QStyle::SP_DialogCancelButton},
      {"Confirmar", QStyle::SP_DialogApplyButton},
  };
  for (const std::string& name : {glyph, hint}) {
    if (name.empty()) continue;
    if (name.find("Ajuda") != std::string::npos) return HelpIcon();
    for (const auto& look : looks)
      if (name.find(look.key) != std::string::npos)
        return widget->style()->standardIcon(look.pixmap);
  }
  return {};
}

}  // namespace

void ButtonBinding::Create(ControlView& view, QWidget* host) {
  const fw::TControl* key = view.Control;
  switch (view.Kind) {
    case ControlKind::RadioButton: {
      auto* radio = new ModelRadioButton(host);
      radio->OnUserClick = [this, key] { RadioClicked(const_cast<fw::TControl*>(key)); };
      view.Widget = view.Focus = radio;
      break;
    }
    case ControlKind::Button: {
      auto* button = new QToolButton(host);
      button->setFocusPolicy(Qt::NoFocus);
      QObject::connect(button, &QToolButton::clicked, Context(),
                       [this, key] { ButtonClicked(const_cast<fw::TControl*>(key)); });
      view.Widget = button;
      break;
    }
    default: {  // a navigator
      auto* navigator = new NavigatorWidget(host);
      navigator->OnButton = [this, key](fw::TDBNavigator::TButton button) {
        NavigatorClicked(const_cast<fw::TControl*>(key), static_cast<int>(button));
      };
      view.Widget = navigator;
      break;
    }
  }
}

void ButtonBinding::Refresh(ControlView& view) {
  fw::TControl* control = view.Control;
  if (view.Kind == ControlKind::RadioButton) {
    auto* radio = static_cast<ModelRadioButton*>(view.Widget.data());
    radio->setText(AccessCaption(control->Caption()));
    radio->setChecked(static_cast<fw::TRadioButton*>(control)->Checked());
  } else if (view.Kind == ControlKind::Button) {
    auto* button = static_cast<QToolButton*>(view.Widget.data());
    auto* speed = static_cast<fw::TSpeedButton*>(control);
    const QIcon icon = IconFor(button, speed->Glyph, control->Hint());
    button->setIcon(icon);
    button->setText(control->Caption().empty() && icon.isNull()
                        ? PlainCaption(control->Hint()).left(3)
                        : AccessCaption(control->Caption()));
    button->setToolButtonStyle(control->Caption().empty() ? Qt::ToolButtonIconOnly
                                                          : Qt::ToolButtonTextBesideIcon);
    if (icon.isNull()) button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(speed->Flat);
  }
}

void ButtonBinding::RadioClicked(fw::TControl* control) {
  ControlView* view = Find(control);
  if (!view || Syncing() || !fw::Application) return;
  if (Router().InRemoteCall()) return RefreshControl(*view);
  fw::TForm* form = control->Form();
  // The press moved the focus first; a move the model refused (a validation kept the focus
  // elsewhere) takes the click with it. Without a move (a click into a window that was not
  // active) the model's click takes the focus itself.
  const bool focusAccepted = Router().FlushPendingFocus();
  if (!Find(control)) return;
  Traced("UserClick", control, focusAccepted && fw::Application->UserClick(control));
  if (ControlView* still = Find(control)) RefreshControl(*still);
  Router().AfterUserEvent(form);
}

void ButtonBinding::ButtonClicked(fw::TControl* control) {
  if (!Find(control) || !fw::Application || Router().InRemoteCall()) return;
  Router().FlushPendingFocus();
  if (!Find(control)) return;
  fw::TForm* form = control->Form();
  fw::TControl* const outer = clicked_;
  clicked_ = control;
  Traced("UserClick", control, fw::Application->UserClick(control));
  clicked_ = outer;
  Router().AfterUserEvent(form);
}

void ButtonBinding::NavigatorClicked(fw::TControl* control, int button) {
  if (!Find(control) || !fw::Application || !control->IsEnabledUp() || Router().InRemoteCall())
    return;
  Router().FlushPendingFocus();
  if (!Find(control)) return;
  auto* navigator = static_cast<fw::TDBNavigator*>(control);
  fw::Application->UserNavigate(navigator, static_cast<fw::TDBNavigator::TButton>(button));
  Router().AfterUserEvent(control->Form());
}

}  // namespace hostapp
