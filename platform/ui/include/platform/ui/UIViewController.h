// A page of the interface: owns its root view, made on first request by loadView, and has a
// title. A controller refers to the navigation controller it was pushed on without owning
// it. Main thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/foundation/Object.h"
#include "platform/ui/UIView.h"

class UINavigationController;

class UIViewController : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  UIViewController() = default;

  // The root view: made by loadView (then viewDidLoad runs) on the first call.
  // If loadView leaves no view, a plain view is made, so the answer is never null.
  const UIViewPtr& view();
  bool isViewLoaded() const { return static_cast<bool>(view_); }
  void setView(UIViewPtr view) { view_ = std::move(view); }
  // Makes the root view and sets it with setView. The base makes a plain view the size of the
  // main screen.
  virtual void loadView();
  // Runs once, after the root view was made. The base does nothing.
  virtual void viewDidLoad() {}
  // Runs before the page shows: when pushed, and when it becomes the top page again.
  // Overrides call the base. The base does nothing.
  virtual void viewWillAppear(bool animated);

  const std::string& title() const { return title_; }
  virtual void setTitle(std::string title) { title_ = std::move(title); }

  // The navigation controller whose stack holds this page, or null.
  std::shared_ptr<UINavigationController> navigationController() const {
    return navigationController_.lock();
  }

 private:
  friend class UINavigationController;
  UIViewPtr view_;
  std::string title_;
  std::weak_ptr<UINavigationController> navigationController_;
};

using UIViewControllerPtr = std::shared_ptr<UIViewController>;
