#include "platform/ui/UIView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "LayoutEngine_p.h"
#include "UIClass_p.h"
#include "platform/foundation/Assertion.h"

const platform::Class& UIView::staticClass() {
  static const platform::Class& cls = platform::uidetail::defineClass(
      "UIView", platform::Object::staticClass(), [] { return std::make_shared<UIView>(); });
  return cls;
}

UIView::~UIView() {
  // Subviews may outlive this view through other owners; they must not point back here.
  for (auto& child : subviews_) child->superview_.reset();
}

std::shared_ptr<UIView> UIView::initWithFrame(CGRect frame) {
  return std::make_shared<UIView>(frame);
}

void UIView::setFrame(CGRect frame) {
  if (frame == frame_) return;
  const bool resized = frame.size != frame_.size;
  frame_ = frame;
  if (resized) setNeedsLayout();
  // A moved or resized pinned view changes its superview's layout as well.
  if (auto parent = superview(); parent && translatesMask_) parent->setNeedsLayout();
}

CGPoint UIView::convertPointToView(CGPoint point, const UIView* other) const {
  for (const UIView* v = this; v != nullptr; v = v->superview_.lock().get()) {
    if (v == other) return point;
    point.x += v->frame_.origin.x;
    point.y += v->frame_.origin.y;
  }
  if (other == nullptr) return point;
  // `point` is now in root coordinates (plus the root's own origin); subtract other's chain.
  for (const UIView* v = other; v != nullptr; v = v->superview_.lock().get()) {
    point.x -= v->frame_.origin.x;
    point.y -= v->frame_.origin.y;
  }
  return point;
}

void UIView::setAlpha(double alpha) {
  if (std::isnan(alpha)) return;
  alpha_ = std::clamp(alpha, 0.0, 1.0);
}

bool UIView::isDescendantOfView(const UIView& view) const {
  for (const UIView* v = this; v != nullptr; v = v->superview_.lock().get()) {
    if (v == &view) return true;
  }
  return false;
}

bool UIView::acceptsSubview(const UIView* view) const {
  if (view == nullptr) {
    platform::handleFailure(
        {"addSubview:", description(), "UIView", __LINE__, "Can't add a nil view as a subview"});
    return false;
  }
  if (isDescendantOfView(*view)) {
    platform::handleFailure(
        {"addSubview:", description(), "UIView", __LINE__,
         view == this ? "Can't add self as subview" : "Can't add an ancestor as a subview"});
    return false;
  }
  return true;
}

void UIView::addSubview(const std::shared_ptr<UIView>& view) {
  insertSubviewAtIndex(view, subviews_.size());
}

void UIView::insertSubviewAtIndex(const std::shared_ptr<UIView>& view, std::size_t index) {
  if (!acceptsSubview(view.get())) return;
  auto keep = view;  // removeFromSuperview may drop the last other owner
  if (view->superview().get() == this) {
    subviews_.erase(std::find(subviews_.begin(), subviews_.end(), view));
  } else {
    view->removeFromSuperview();
  }
  index = std::min(index, subviews_.size());
  subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), keep);
  keep->superview_ = std::static_pointer_cast<UIView>(shared_from_this());
  keep->setNeedsLayout();
  setNeedsLayout();
}

void UIView::removeFromSuperview() {
  auto parent = superview();
  if (!parent) return;
  auto self = std::static_pointer_cast<UIView>(shared_from_this());
  for (UIView* ancestor = parent.get(); ancestor != nullptr;
       ancestor = ancestor->superview_.lock().get()) {
    ancestor->dropConstraintsReferringTo(*this);
  }
  auto& siblings = parent->subviews_;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), self), siblings.end());
  superview_.reset();
  parent->setNeedsLayout();
}

void UIView::dropConstraintsReferringTo(const UIView& removed) {
  auto refersToRemoved = [&removed](const NSLayoutConstraintPtr& c) {
    auto first = c->firstItem();
    auto second = c->secondItem();
    return (first && first->isDescendantOfView(removed)) ||
           (second && second->isDescendantOfView(removed));
  };
  auto it = std::stable_partition(constraints_.begin(), constraints_.end(),
                                  [&](const auto& c) { return !refersToRemoved(c); });
  for (auto dropped = it; dropped != constraints_.end(); ++dropped) {
    (*dropped)->active_ = false;
    (*dropped)->owner_.reset();
  }
  constraints_.erase(it, constraints_.end());
}

void UIView::setTranslatesAutoresizingMaskIntoConstraints(bool flag) {
  if (translatesMask_ == flag) return;
  translatesMask_ = flag;
  setNeedsLayout();
}

void UIView::setLayoutMargins(UIEdgeInsets margins) {
  if (margins == layoutMargins_) return;
  layoutMargins_ = margins;
  setNeedsLayout();
}

void UIView::addConstraint(const NSLayoutConstraintPtr& constraint) {
  if (!constraint) return;
  auto self = std::static_pointer_cast<UIView>(shared_from_this());
  if (auto owner = constraint->owner_.lock(); owner && owner != self) {
    owner->removeConstraint(constraint);
  }
  if (std::find(constraints_.begin(), constraints_.end(), constraint) == constraints_.end()) {
    constraints_.push_back(constraint);
  }
  constraint->owner_ = self;
  constraint->active_ = true;
  setNeedsLayout();
}

void UIView::addConstraints(const std::vector<NSLayoutConstraintPtr>& constraints) {
  for (const auto& c : constraints) addConstraint(c);
}

void UIView::removeConstraint(const NSLayoutConstraintPtr& constraint) {
  auto it = std::find(constraints_.begin(), constraints_.end(), constraint);
  if (it == constraints_.end()) return;
  (*it)->active_ = false;
  (*it)->owner_.reset();
  constraints_.erase(it);
  setNeedsLayout();
}

void UIView::removeConstraints(const std::vector<NSLayoutConstraintPtr>& constraints) {
  for (const auto& c : constraints) removeConstraint(c);
}

CGSize UIView::intrinsicContentSize() const {
  return CGSizeMake(UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric);
}

void UIView::invalidateIntrinsicContentSize() {
  setNeedsLayout();
}

UILayoutPriority UIView::contentHuggingPriorityForAxis(UILayoutConstraintAxis axis) const {
  return hugging_[axis == UILayoutConstraintAxisVertical ? 1 : 0];
}

void UIView::setContentHuggingPriorityForAxis(UILayoutPriority priority,
                                              UILayoutConstraintAxis axis) {
  hugging_[axis == UILayoutConstraintAxisVertical ? 1 : 0] = std::clamp(priority, 1.0f, 1000.0f);
  setNeedsLayout();
}

UILayoutPriority UIView::contentCompressionResistancePriorityForAxis(
    UILayoutConstraintAxis axis) const {
  return compression_[axis == UILayoutConstraintAxisVertical ? 1 : 0];
}

void UIView::setContentCompressionResistancePriorityForAxis(UILayoutPriority priority,
                                                            UILayoutConstraintAxis axis) {
  compression_[axis == UILayoutConstraintAxisVertical ? 1 : 0] =
      std::clamp(priority, 1.0f, 1000.0f);
  setNeedsLayout();
}

void UIView::layoutSubviews() {}

void UIView::setNeedsLayout() {
  // Ancestors are marked too, so that a pass started anywhere above finds the work. A marked
  // view's ancestors are all marked already (a pass clears a whole subtree at once, and
  // addSubview marks the new superview), so the walk stops at the first marked view.
  for (UIView* v = this; v != nullptr && !v->needsLayout_; v = v->superview_.lock().get()) {
    v->needsLayout_ = true;
  }
}

void UIView::layoutIfNeeded() {
  platform::LayoutEngine::layoutIfNeeded(*this);
}

CGSize UIView::systemLayoutSizeFittingSize(CGSize targetSize) {
  return platform::LayoutEngine::fittingSize(*this, targetSize);
}

std::string UIView::description() const {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "<%s: %p; frame = (%g %g; %g %g)>",
                objectClass().name().c_str(), static_cast<const void*>(this), frame_.origin.x,
                frame_.origin.y, frame_.size.width, frame_.size.height);
  return buffer;
}

[[maybe_unused]] static const platform::Class& kUIViewClass = UIView::staticClass();
