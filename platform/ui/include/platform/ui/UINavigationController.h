// A stack of pages: the top page shows; pushing adds one, popping returns to the one below.
// The stack owns its pages; each page refers back to it without owning it. Main thread only.
#pragma once

#include <memory>
#include <vector>

#include "platform/ui/UIViewController.h"

class UINavigationController : public UIViewController {
  HX_OBJECT_CLASS()

 public:
  UINavigationController() = default;
  // initWithRootViewController: a stack holding `root` (null gives an empty stack). The root's
  // navigationController is set; viewWillAppear is not called until it is shown.
  static std::shared_ptr<UINavigationController> initWithRootViewController(
      const UIViewControllerPtr& root);

  const std::vector<UIViewControllerPtr>& viewControllers() const { return stack_; }
  UIViewControllerPtr topViewController() const;

  // Puts `controller` on top, sets its navigationController to this one and calls its
  // viewWillAppear(animated). Null, or a page already on the stack, goes to the assertion
  // handler and changes nothing.
  void pushViewControllerAnimated(const UIViewControllerPtr& controller, bool animated);
  // Takes the top page off (not the last one) and returns it, with its navigationController
  // cleared; the page now on top gets viewWillAppear(animated). Null when only the root is
  // left.
  UIViewControllerPtr popViewControllerAnimated(bool animated);
  // Pops every page above the root; returns them, lowest first.
  std::vector<UIViewControllerPtr> popToRootViewControllerAnimated(bool animated);

 private:
  std::vector<UIViewControllerPtr> stack_;
};

using UINavigationControllerPtr = std::shared_ptr<UINavigationController>;
