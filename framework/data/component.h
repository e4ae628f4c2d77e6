// Root of the ownership tree shared by the form model and the data layer.
//
// A TComponent has a name and an owner; the owner frees the components it owns, last created
// first. Views (the Qt binding) watch the model through IModelObserver: every change a view must
// reflect is announced with the component that changed and what kind of change it was.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace fw {

class TComponent;

enum class TChange {
  Property,    // a caption, text, enabled, visible, checked, bounds, colour, mask...
  Rows,        // a data set's rows were replaced, or it was opened or closed
  Cursor,      // a data set's current row moved
  Focus,       // the focused control of a form changed
  FormShown,   // a form was shown (or brought to the front)
  FormClosed,  // a form was closed (hidden)
  Destroyed,   // the component is about to be freed
};

class IModelObserver {
 public:
  virtual ~IModelObserver() = default;
  virtual void ModelChanged(TComponent* component, TChange change) = 0;
};

void AddModelObserver(IModelObserver* observer);
void RemoveModelObserver(IModelObserver* observer);
void NotifyModel(TComponent* component, TChange change);

class TComponent {
 public:
  explicit TComponent(TComponent* owner, std::string name = {});
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TComponent* Owner() const { return owner_; }

  // Components owned directly, in creation order.
  const std::vector<TComponent*>& Components() const { return owned_; }
  // Searches the owned components (and theirs) by name; nullptr when absent.
  TComponent* FindComponent(const std::string& name) const;

  // Creates a component owned by this one. The owner keeps it alive until it is freed itself.
  template <typename T, typename... Args>
  T* Create(Args&&... args) {
    return new T(this, std::forward<Args>(args)...);
  }

  // Frees an owned component now. The component must not be running one of its own handlers.
  void FreeComponent(TComponent* component);

 protected:
  void Changed(TChange change = TChange::Property) { NotifyModel(this, change); }

 private:
  TComponent* owner_;
  std::string name_;
  std::vector<TComponent*> owned_;
  bool freeing_ = false;
};

}  // namespace fw
