// The view class of page controls and their tab sheets: a QTabWidget whose tabs are the pages'
// widgets (each page's children are aligned in it by ContainerBinding), with the titles, the
// shown and enabled tabs and the active page from the model.
//
// Raises to the model: UserSelectTab when the user picks a tab; the tabs then show the page the
// model made active (a refused change leaves the old one).
#pragma once

#include "host_app/views/view_records.h"

namespace hostapp {

class PageBinding : public KindBinding {
 public:
  using KindBinding::KindBinding;

  void Create(ControlView& view, QWidget* host);
  void Refresh(ControlView& view);
  // Puts the model's pages into the tabs (building the ones not built yet), then their titles.
  void RefreshTabs(ControlView& view);

 private:
  void RefreshTabTitles(ControlView& view);
  void TabChosen(fw::TControl* pageControl, int index);
};

}  // namespace hostapp
