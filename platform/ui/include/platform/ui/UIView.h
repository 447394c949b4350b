// A rectangle in a tree of views: its frame in the superview's coordinates, a background,
// its subviews (owned, drawn in order) and its constraints. layoutIfNeeded solves the
// constraints of a subtree and writes the frames; layoutSubviews then runs top-down.
// Views are shared Objects; a view owns its subviews and its installed constraints, and
// refers to its superview without owning it. Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIColor.h"

// intrinsicContentSize() component meaning "no intrinsic size along this axis".
inline constexpr CGFloat UIViewNoIntrinsicMetric = -1;

namespace platform {
class LayoutEngine;
}

class UIView : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  UIView() = default;
  explicit UIView(CGRect frame) : frame_(frame) {}
  ~UIView() override;

  // initWithFrame:.
  static std::shared_ptr<UIView> initWithFrame(CGRect frame);

  // --- Geometry ---------------------------------------------------------------------------
  CGRect frame() const { return frame_; }
  // A new size asks this view for a layout pass.
  void setFrame(CGRect frame);
  // The view's own coordinate space: origin (0, 0), the frame's size.
  CGRect bounds() const { return CGRect{CGPoint{}, frame_.size}; }
  CGPoint center() const { return CGPointMake(CGRectGetMidX(frame_), CGRectGetMidY(frame_)); }
  // Converts a point of this view's coordinates into `other`'s (null: the root's). Both views
  // must be in one tree; otherwise the point is returned in root coordinates.
  CGPoint convertPointToView(CGPoint point, const UIView* other) const;

  // --- Appearance -------------------------------------------------------------------------
  const UIColorPtr& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(UIColorPtr color) { backgroundColor_ = std::move(color); }
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { hidden_ = hidden; }
  double alpha() const { return alpha_; }
  void setAlpha(double alpha);

  // --- Hierarchy --------------------------------------------------------------------------
  const std::vector<std::shared_ptr<UIView>>& subviews() const { return subviews_; }
  std::shared_ptr<UIView> superview() const { return superview_.lock(); }
  // Appends `view` (topmost), first taking it out of its current superview. Adding null,
  // this view or one of its ancestors goes to the assertion handler and changes nothing.
  void addSubview(const std::shared_ptr<UIView>& view);
  // Inserts at `index` (clamped to the count); same rules as addSubview.
  void insertSubviewAtIndex(const std::shared_ptr<UIView>& view, std::size_t index);
  // Leaves the superview. Constraints held by former ancestors that refer to this view or a
  // descendant are removed with it, as the platform does. Nothing happens without a superview.
  void removeFromSuperview();
  // True for this view and every view below it.
  bool isDescendantOfView(const UIView& view) const;

  // --- Constraints ------------------------------------------------------------------------
  bool translatesAutoresizingMaskIntoConstraints() const { return translatesMask_; }
  // On (the default for views made in code) pins the current frame with required constraints.
  void setTranslatesAutoresizingMaskIntoConstraints(bool flag);
  UIEdgeInsets layoutMargins() const { return layoutMargins_; }  // 8 per edge by default
  void setLayoutMargins(UIEdgeInsets margins);
  const std::vector<NSLayoutConstraintPtr>& constraints() const { return constraints_; }
  // Installs the constraint in this view (activating it); a constraint installed elsewhere
  // moves here. Null is ignored.
  void addConstraint(const NSLayoutConstraintPtr& constraint);
  void addConstraints(const std::vector<NSLayoutConstraintPtr>& constraints);
  void removeConstraint(const NSLayoutConstraintPtr& constraint);
  void removeConstraints(const std::vector<NSLayoutConstraintPtr>& constraints);

  // The content's natural size; UIViewNoIntrinsicMetric per axis for none (the default).
  virtual CGSize intrinsicContentSize() const;
  // Call when intrinsicContentSize() would answer differently: asks for a layout pass.
  void invalidateIntrinsicContentSize();
  UILayoutPriority contentHuggingPriorityForAxis(UILayoutConstraintAxis axis) const;
  void setContentHuggingPriorityForAxis(UILayoutPriority priority, UILayoutConstraintAxis axis);
  UILayoutPriority contentCompressionResistancePriorityForAxis(UILayoutConstraintAxis axis) const;
  void setContentCompressionResistancePriorityForAxis(UILayoutPriority priority,
                                                      UILayoutConstraintAxis axis);
  // Distance of the first baseline below the top edge; none means "at the bottom edge".
  virtual std::optional<CGFloat> firstBaselineOffsetFromTop() const { return std::nullopt; }
  // Distance of the last baseline above the bottom edge.
  virtual CGFloat lastBaselineOffsetFromBottom() const { return 0; }

  // --- Layout -----------------------------------------------------------------------------
  // Hook run after this view's frame and its subviews' frames were written by a layout pass.
  // Overrides call the base first. The base does nothing.
  virtual void layoutSubviews();
  // Marks this view (and so its ancestors) as needing a layout pass.
  void setNeedsLayout();
  bool needsLayout() const { return needsLayout_; }
  // When this view or a descendant needs layout: solves the constraints of this subtree with
  // this view's own frame held fixed, writes the descendants' frames and calls layoutSubviews
  // on this view and every descendant, parents first; repeats (a few passes at most) while a
  // layoutSubviews asked for another pass. A required constraint that conflicts with earlier
  // ones is logged ("Unable to simultaneously satisfy constraints") and left out; constraints
  // that reach outside the subtree are left to the pass of an ancestor.
  void layoutIfNeeded();
  // The smallest size that satisfies the subtree's constraints, with `targetSize` as the
  // wish for each axis at fitting-size priority (50); used to size cells.
  CGSize systemLayoutSizeFittingSize(CGSize targetSize);

  // "<UIView: 0x…; frame = (x y; w h)>"; also names the class.
  virtual std::string description() const;

 private:
  friend class platform::LayoutEngine;
  friend class NSLayoutConstraint;
  bool acceptsSubview(const UIView* view) const;
  void dropConstraintsReferringTo(const UIView& removed);
  // Frame write from the layout engine: no new pass is requested.
  void applyLayoutFrame(CGRect frame) { frame_ = frame; }

  CGRect frame_{};
  UIColorPtr backgroundColor_;
  bool hidden_ = false;
  double alpha_ = 1.0;
  std::vector<std::shared_ptr<UIView>> subviews_;
  std::weak_ptr<UIView> superview_;
  bool translatesMask_ = true;
  UIEdgeInsets layoutMargins_{8, 8, 8, 8};
  std::vector<NSLayoutConstraintPtr> constraints_;
  UILayoutPriority hugging_[2] = {UILayoutPriorityDefaultLow, UILayoutPriorityDefaultLow};
  UILayoutPriority compression_[2] = {UILayoutPriorityDefaultHigh, UILayoutPriorityDefaultHigh};
  bool needsLayout_ = true;
};

using UIViewPtr = std::shared_ptr<UIView>;
