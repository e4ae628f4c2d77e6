#include "framework/data/component.h"

#include <algorithm>

namespace fw {

namespace {
std::vector<IModelObserver*>& Observers() {
  static std::vector<IModelObserver*> observers;
  return observers;
}
}  // namespace

void AddModelObserver(IModelObserver* observer) {
  Observers().push_back(observer);
}

void RemoveModelObserver(IModelObserver* observer) {
  auto& list = Observers();
  list.erase(std::remove(list.begin(), list.end(), observer), list.end());
}

void NotifyModel(TComponent* component, TChange change) {
  // Copied: an observer may unregister itself while being told. One that another observer removed
  // meanwhile (perhaps freeing it) is skipped.
  const auto observers = Observers();
  for (auto* observer : observers) {
    const auto& live = Observers();
    if (std::find(live.begin(), live.end(), observer) == live.end()) continue;
    observer->ModelChanged(component, change);
  }
}

TComponent::TComponent(TComponent* owner, std::string name)
    : owner_(owner), name_(std::move(name)) {
  if (owner_) owner_->owned_.push_back(this);
}

TComponent::~TComponent() {
  NotifyModel(this, TChange::Destroyed);
  freeing_ = true;
  while (!owned_.empty()) {
    TComponent* last = owned_.back();
    owned_.pop_back();
    delete last;
  }
  if (owner_ && !owner_->freeing_) {
    auto& siblings = owner_->owned_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  for (auto* component : owned_)
    if (component->name_ == name) return component;
  for (auto* component : owned_)
    if (auto* found = component->FindComponent(name)) return found;
  return nullptr;
}

void TComponent::FreeComponent(TComponent* component) {
  if (component && component->owner_ == this) delete component;
}

}  // namespace fw
