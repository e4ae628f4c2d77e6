#include "host_app/views/container_binding.h"

#include <QGroupBox>
#include <QLabel>
#include <QScrollArea>
#include <algorithm>

#include "framework/host/host_controls.h"
#include "host_app/conversions.h"
#include "host_app/layout_store.h"
#include "host_app/qt_widgets.h"
#include "host_app/views/widget_style.h"

namespace hostapp {

void ContainerBinding::Create(ControlView& view, QWidget* host) {
  const fw::TControl* key = view.Control;
  switch (view.Kind) {
    case ControlKind::Panel: {
      auto* panel = new PanelFrame(host);
      view.Widget = view.Host = view.Focus = panel;
      break;
    }
    case ControlKind::GroupBox: {
      auto* box = new QGroupBox(host);
      view.Widget = view.Host = view.Focus = box;
      break;
    }
    case ControlKind::ScrollBox: {
      auto* area = new QScrollArea(host);
      auto* inner = new QWidget();
      area->setWidget(inner);
      area->setWidgetResizable(true);
      area->setFocusPolicy(Qt::NoFocus);
      view.Widget = view.Focus = area;
      view.Host = inner;
      break;
    }
    case ControlKind::Splitter: {
      auto* handle = new SplitterHandle(host);
      handle->OnDrag = [this, key](int delta) {
        SplitterDragged(const_cast<fw::TControl*>(key), delta);
      };
      view.Widget = handle;
      break;
    }
    case ControlKind::Label:
    case ControlKind::DBText: {
      auto* label = new QLabel(host);
      label->setTextFormat(Qt::PlainText);
      view.Widget = label;
      break;
    }
    case ControlKind::Container: {
      auto* container = new QWidget(host);
      view.Widget = view.Host = view.Focus = container;
      break;
    }
    default:
      view.Widget = new QWidget(host);
      break;
  }
}

void ContainerBinding::Refresh(ControlView& view, const QColor& background) {
  fw::TControl* control = view.Control;
  QWidget* widget = view.Widget;
  switch (view.Kind) {
    case ControlKind::Panel: {
      auto* panel = static_cast<fw::TPanel*>(control);
      auto* frame = static_cast<PanelFrame*>(widget);
      const int bevels =
          (panel->BevelOuter != fw::TBevel::bvNone) + (panel->BevelInner != fw::TBevel::bvNone);
      const fw::TBevel shown =
          panel->BevelOuter != fw::TBevel::bvNone ? panel->BevelOuter : panel->BevelInner;
      frame->setFrameStyle(
          bevels == 0
              ? QFrame::NoFrame
              : QFrame::Panel | (shown == fw::TBevel::bvLowered ? QFrame::Sunken : QFrame::Raised));
      frame->setLineWidth(std::max(bevels, 1));
      frame->SetCaption(PlainCaption(control->Caption()));
      frame->setAutoFillBackground(background.isValid());
      SetRole(frame, QPalette::Window, background);
      break;
    }
    case ControlKind::GroupBox: {
      auto* box = static_cast<QGroupBox*>(widget);
      box->setTitle(AccessCaption(control->Caption()));
      box->setAutoFillBackground(background.isValid());
      SetRole(box, QPalette::Window, background);
      break;
    }
    case ControlKind::ScrollBox: {
      auto* area = static_cast<QScrollArea*>(widget);
      const bool border =
          static_cast<fw::TScrollBox*>(control)->BorderStyle == fw::TBorderStyle::bsSingle;
      area->setFrameStyle(border ? QFrame::StyledPanel | QFrame::Sunken : QFrame::NoFrame);
      break;
    }
    case ControlKind::Splitter: {
      auto* handle = static_cast<SplitterHandle*>(widget);
      handle->Vertical =
          control->Align() == fw::TAlign::alTop || control->Align() == fw::TAlign::alBottom;
      if (control->Cursor == fw::TCursor::crDefault)
        handle->setCursor(handle->Vertical ? Qt::SizeVerCursor : Qt::SizeHorCursor);
      break;
    }
    case ControlKind::Label: {
      auto* label = static_cast<QLabel*>(widget);
      label->setText(PlainCaption(control->Caption()));
      label->setAutoFillBackground(background.isValid());
      SetRole(label, QPalette::Window, background);
      break;
    }
    case ControlKind::DBText:
      static_cast<QLabel*>(widget)->setText(ToQt(static_cast<fw::TDBText*>(control)->Text()));
      break;
    default:
      break;
  }
}

// ---- geometry ----

QSize ContainerBinding::Growth(const ControlView& view) const {
  QSize designed;
  QSize actual;
  if (view.Kind == ControlKind::Form) {
    designed = view.Form->Root ? view.Form->Root->DesignedClientSize() : QSize();
    actual = view.Host ? view.Host->size() : QSize();
  } else if (view.Kind == ControlKind::TabSheet) {
    // A page is as much larger than designed as its page control is.
    const ControlView* pages = view.Parent ? Find(view.Parent) : nullptr;
    if (!pages || !pages->Widget) return {0, 0};
    designed = QSize(pages->Control->Width(), pages->Control->Height());
    actual = pages->Widget->size();
  } else {
    designed = QSize(view.Control->Width(), view.Control->Height());
    actual = view.Widget ? view.Widget->size() : QSize();
  }
  return {designed.width() > 0 ? actual.width() - designed.width() : 0,
          designed.height() > 0 ? actual.height() - designed.height() : 0};
}

void ContainerBinding::Layout(ControlView& view) {
  auto* container = dynamic_cast<fw::TWinControl*>(view.Control);
  QWidget* host = view.Host;
  if (!container || !host || view.Kind == ControlKind::PageControl) return;
  std::vector<ControlView*> children;
  std::vector<AlignItem> items;
  for (fw::TControl* child : container->Controls()) {
    ControlView* childView = Find(child);
    if (!childView || !childView->Widget || childView->Parent != container ||
        childView->Kind == ControlKind::TabSheet)
      continue;
    AlignItem item{child->Align(),
                   QRect(child->Left(), child->Top(), child->Width(), child->Height()),
                   child->Visible(), child->Anchors};
    if (auto moved = userSizes_.find(child); moved != userSizes_.end()) {
      if (child->Align() == fw::TAlign::alTop || child->Align() == fw::TAlign::alBottom) {
        item.Designed.setHeight(std::max(item.Designed.height() + moved->second, 0));
      } else {
        item.Designed.setWidth(std::max(item.Designed.width() + moved->second, 0));
      }
    }
    children.push_back(childView);
    items.push_back(item);
  }
  QRect client = host->rect();
  if (view.Kind == ControlKind::GroupBox) client = host->contentsRect();
  if (view.Kind == ControlKind::Panel) {
    auto* panel = static_cast<fw::TPanel*>(view.Control);
    const int inset = panel->BorderWidth + (panel->BevelOuter != fw::TBevel::bvNone) +
                      (panel->BevelInner != fw::TBevel::bvNone);
    client.adjust(inset, inset, -inset, -inset);
  }
  const std::vector<QRect> rects = AlignRects(client, items, Growth(view));
  QRect extent;
  for (size_t i = 0; i < children.size(); ++i) {
    QRect rect = rects[i];
    // Labels size themselves to their text, as the form framework's labels do.
    if (children[i]->Kind == ControlKind::Label && items[i].Align == fw::TAlign::alNone)
      rect.setWidth(std::max(rect.width(), children[i]->Widget->sizeHint().width()));
    children[i]->Placed = rect;
    if (children[i]->Kind == ControlKind::Splitter) {
      // A thin splitter's handle reaches over its neighbours' edges, above them.
      const bool vertical = static_cast<SplitterHandle*>(children[i]->Widget.data())->Vertical;
      const int across = vertical ? rect.height() : rect.width();
      if (across < kSplitterGrab) {
        const int before = (kSplitterGrab - across) / 2;
        rect = vertical ? rect.adjusted(0, -before, 0, kSplitterGrab - across - before)
                        : rect.adjusted(-before, 0, kSplitterGrab - across - before, 0);
      }
      children[i]->Widget->raise();
    }
    children[i]->Widget->setGeometry(rect);
    if (items[i].Align == fw::TAlign::alNone && items[i].Visible) extent |= rect;
  }
  // A scroll box scrolls when its unaligned children reach past it.
  if (view.Kind == ControlKind::ScrollBox)
    host->setMinimumSize(QSize(std::max(extent.right() + 1, 0), std::max(extent.bottom() + 1, 0)));
}

void ContainerBinding::LayoutParentOf(ControlView& view) {
  if (!view.Parent) return;
  if (ControlView* parent = Find(view.Parent)) Layout(*parent);
}

// ---- splitters ----

void ContainerBinding::SplitterDragged(fw::TControl* splitter, int delta) {
  ControlView* view = Find(splitter);
  if (!view || !view->Parent || !view->Widget) return;
  const fw::TAlign align = splitter->Align();
  const QRect handle = view->Placed;
  // The control the splitter resizes is the one aligned the same way right before it; the one
  // that fills the rest gives or takes the room.
  ControlView* neighbour = nullptr;
  ControlView* rest = nullptr;
  for (fw::TControl* sibling : view->Parent->Controls()) {
    ControlView* other = Find(sibling);
    if (!other || sibling == splitter || !other->Widget || !sibling->Visible()) continue;
    if (sibling->Align() == fw::TAlign::alClient) rest = other;
    if (sibling->Align() != align) continue;
    const QRect rect = other->Placed;
    const bool adjacent = (align == fw::TAlign::alTop && rect.bottom() + 1 == handle.top()) ||
                          (align == fw::TAlign::alBottom && rect.top() == handle.bottom() + 1) ||
                          (align == fw::TAlign::alLeft && rect.right() + 1 == handle.left()) ||
                          (align == fw::TAlign::alRight && rect.left() == handle.right() + 1);
    if (adjacent) neighbour = other;
  }
  if (!neighbour) return;
  const bool vertical = align == fw::TAlign::alTop || align == fw::TAlign::alBottom;
  const auto size = [vertical](const QRect& rect) {
    return vertical ? rect.height() : rect.width();
  };
  int grow = (align == fw::TAlign::alTop || align == fw::TAlign::alLeft) ? delta : -delta;
  // Neither side is dragged out of sight.
  constexpr int kLeast = 20;
  grow = std::max(grow, std::min(kLeast - size(neighbour->Placed), 0));
  if (rest) grow = std::min(grow, std::max(size(rest->Placed) - kLeast, 0));
  if (grow == 0) return;
  // Only the view changes: a splitter is the user arranging the window, not data.
  userSizes_[neighbour->Control] += grow;
  SaveSplitter(neighbour->Control);
  if (ControlView* parent = Find(view->Parent)) Layout(*parent);
}

void ContainerBinding::LoadSplitters(FormView& form) {
  if (!Layouts()) return;
  const QMap<QString, int> splitters = Layouts()->Splitters(ToQt(form.Form->Name()));
  for (auto entry = splitters.begin(); entry != splitters.end(); ++entry)
    if (auto* control = dynamic_cast<fw::TControl*>(form.Form->FindComponent(FromQt(entry.key()))))
      userSizes_[control] = entry.value();
}

void ContainerBinding::SaveSplitter(const fw::TControl* neighbour) {
  auto found = userSizes_.find(neighbour);
  if (!Layouts() || found == userSizes_.end()) return;
  Layouts()->SetSplitter(NameOf(FormOf(neighbour)), NameOf(neighbour), found->second);
}

}  // namespace hostapp
