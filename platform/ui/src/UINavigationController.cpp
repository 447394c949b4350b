#include "platform/ui/UINavigationController.h"

#include <algorithm>

#include "UIClass_p.h"
#include "platform/foundation/Assertion.h"

const platform::Class& UINavigationController::staticClass() {
  static const platform::Class& cls =
      platform::uidetail::defineClass("UINavigationController", UIViewController::staticClass(),
                                      [] { return std::make_shared<UINavigationController>(); });
  return cls;
}

std::shared_ptr<UINavigationController> UINavigationController::initWithRootViewController(
    const UIViewControllerPtr& root) {
  auto navigation = std::make_shared<UINavigationController>();
  if (root) {
    root->navigationController_ = navigation;
    navigation->stack_.push_back(root);
  }
  return navigation;
}

UIViewControllerPtr UINavigationController::topViewController() const {
  return stack_.empty() ? nullptr : stack_.back();
}

void UINavigationController::pushViewControllerAnimated(const UIViewControllerPtr& controller,
                                                        bool animated) {
  if (!controller) {
    platform::handleFailure({"pushViewController:animated:", "UINavigationController",
                             "UINavigationController", __LINE__,
                             "Application tried to push a nil view controller"});
    return;
  }
  if (std::find(stack_.begin(), stack_.end(), controller) != stack_.end()) {
    platform::handleFailure({"pushViewController:animated:", "UINavigationController",
                             "UINavigationController", __LINE__,
                             "Pushing the same view controller instance more than once is not "
                             "supported"});
    return;
  }
  if (auto previous = controller->navigationController(); previous && previous.get() != this) {
    auto& others = previous->stack_;
    others.erase(std::remove(others.begin(), others.end(), controller), others.end());
  }
  controller->navigationController_ =
      std::static_pointer_cast<UINavigationController>(shared_from_this());
  stack_.push_back(controller);
  controller->viewWillAppear(animated);
}

UIViewControllerPtr UINavigationController::popViewControllerAnimated(bool animated) {
  if (stack_.size() < 2) return nullptr;
  auto popped = std::move(stack_.back());
  stack_.pop_back();
  popped->navigationController_.reset();
  // The page below may release `popped`'s last other owner here; we still hold it.
  stack_.back()->viewWillAppear(animated);
  return popped;
}

std::vector<UIViewControllerPtr> UINavigationController::popToRootViewControllerAnimated(
    bool animated) {
  std::vector<UIViewControllerPtr> popped;
  if (stack_.size() < 2) return popped;
  popped.assign(stack_.begin() + 1, stack_.end());
  stack_.resize(1);
  for (auto& page : popped) page->navigationController_.reset();
  stack_.front()->viewWillAppear(animated);
  return popped;
}

[[maybe_unused]] static const platform::Class& kUINavigationControllerClass =
    UINavigationController::staticClass();
