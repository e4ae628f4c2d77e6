#include "host_app/views/page_binding.h"

#include <QTabBar>
#include <QTabWidget>
#include <algorithm>

#include "host_app/conversions.h"
#include "host_app/views/input_router.h"

namespace hostapp {

void PageBinding::Create(ControlView& view, QWidget* host) {
  if (view.Kind == ControlKind::TabSheet) {
    auto* page = new QWidget();
    page->setAutoFillBackground(false);
    view.Widget = view.Host = view.Focus = page;
    return;
  }
  const fw::TControl* key = view.Control;
  auto* tabs = new QTabWidget(host);
  tabs->setFocusPolicy(Qt::NoFocus);
  tabs->tabBar()->setFocusPolicy(Qt::NoFocus);
  QObject::connect(tabs, &QTabWidget::currentChanged, Context(),
                   [this, key](int index) { TabChosen(const_cast<fw::TControl*>(key), index); });
  view.Widget = view.Focus = view.Tabs = tabs;
  view.Host = tabs;
}

void PageBinding::Refresh(ControlView& view) {
  if (view.Kind == ControlKind::PageControl) {
    RefreshTabs(view);
  } else if (view.Parent) {
    if (ControlView* pageControl = Find(view.Parent)) RefreshTabTitles(*pageControl);
  }
}

void PageBinding::RefreshTabs(ControlView& view) {
  auto* pageControl = static_cast<fw::TPageControl*>(view.Control);
  QTabWidget* tabs = view.Tabs;
  if (!tabs) return;
  ++Syncing();
  const std::vector<fw::TTabSheet*>& pages = pageControl->Pages();
  if (pages != view.Pages) {
    while (tabs->count()) tabs->removeTab(0);
    for (fw::TTabSheet* page : pages) {
      ControlView* pageView = Find(page);
      if (!pageView) pageView = Build(page, view.Form, nullptr);
      if (pageView) tabs->addTab(pageView->Widget, QString());
    }
    view.Pages = pages;
  }
  --Syncing();
  RefreshTabTitles(view);
}

void PageBinding::RefreshTabTitles(ControlView& view) {
  auto* pageControl = static_cast<fw::TPageControl*>(view.Control);
  QTabWidget* tabs = view.Tabs;
  // Pages the tabs do not show yet are added by RefreshTabs.
  if (!tabs || pageControl->Pages() != view.Pages) return;
  const std::vector<fw::TTabSheet*>& pages = view.Pages;
  ++Syncing();
  for (int i = 0; i < static_cast<int>(pages.size()); ++i) {
    tabs->setTabText(i, AccessCaption(pages[i]->Caption()));
    tabs->setTabVisible(i, pages[i]->TabVisible);
    tabs->setTabEnabled(i, pages[i]->Enabled());
  }
  const auto active = std::find(pages.begin(), pages.end(), pageControl->ActivePage());
  if (active != pages.end()) tabs->setCurrentIndex(static_cast<int>(active - pages.begin()));
  --Syncing();
}

void PageBinding::TabChosen(fw::TControl* pageControl, int index) {
  ControlView* view = Find(pageControl);
  if (!view || Syncing() || !fw::Application) return;
  if (Router().InRemoteCall()) return RefreshTabTitles(*view);
  Router().FlushPendingFocus();
  if (!(view = Find(pageControl))) return;
  if (index >= 0 && index < static_cast<int>(view->Pages.size()))
    Traced("UserSelectTab", view->Pages[static_cast<size_t>(index)],
           fw::Application->UserSelectTab(view->Pages[static_cast<size_t>(index)]));
  if (ControlView* still = Find(pageControl)) RefreshTabTitles(*still);
  Router().AfterUserEvent(pageControl->Form());
}

}  // namespace hostapp
