// A linear relation between two attributes of views, item1.attribute1 REL multiplier ×
// item2.attribute2 + constant, with a priority; and the visual format language that builds
// whole rows or columns of them. Constraints refer to their views without owning them; the
// view a constraint is installed in owns it. Main thread only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"
#include "platform/ui/NSInvalidArgumentException.h"

class UIView;

enum NSLayoutAttribute : int {
  NSLayoutAttributeNotAnAttribute = 0,
  NSLayoutAttributeLeft = 1,
  NSLayoutAttributeRight = 2,
  NSLayoutAttributeTop = 3,
  NSLayoutAttributeBottom = 4,
  NSLayoutAttributeLeading = 5,
  NSLayoutAttributeTrailing = 6,
  NSLayoutAttributeWidth = 7,
  NSLayoutAttributeHeight = 8,
  NSLayoutAttributeCenterX = 9,
  NSLayoutAttributeCenterY = 10,
  NSLayoutAttributeLastBaseline = 11,
  NSLayoutAttributeFirstBaseline = 12,
  NSLayoutAttributeLeftMargin = 13,
  NSLayoutAttributeRightMargin = 14,
  NSLayoutAttributeTopMargin = 15,
  NSLayoutAttributeBottomMargin = 16,
  NSLayoutAttributeLeadingMargin = 17,
  NSLayoutAttributeTrailingMargin = 18,
  NSLayoutAttributeCenterXWithinMargins = 19,
  NSLayoutAttributeCenterYWithinMargins = 20,
};

enum NSLayoutRelation : int {
  NSLayoutRelationLessThanOrEqual = -1,
  NSLayoutRelationEqual = 0,
  NSLayoutRelationGreaterThanOrEqual = 1,
};

enum UILayoutConstraintAxis : int {
  UILayoutConstraintAxisHorizontal = 0,
  UILayoutConstraintAxisVertical = 1,
};

using UILayoutPriority = float;
inline constexpr UILayoutPriority UILayoutPriorityRequired = 1000;
inline constexpr UILayoutPriority UILayoutPriorityDefaultHigh = 750;
inline constexpr UILayoutPriority UILayoutPriorityDefaultLow = 250;
inline constexpr UILayoutPriority UILayoutPriorityFittingSizeLevel = 50;

using NSLayoutFormatOptions = std::uint64_t;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllLeft = 1 << NSLayoutAttributeLeft;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllRight = 1 << NSLayoutAttributeRight;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllTop = 1 << NSLayoutAttributeTop;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllBottom = 1 << NSLayoutAttributeBottom;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllLeading = 1
                                                                       << NSLayoutAttributeLeading;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllTrailing =
    1 << NSLayoutAttributeTrailing;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllCenterX = 1
                                                                       << NSLayoutAttributeCenterX;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllCenterY = 1
                                                                       << NSLayoutAttributeCenterY;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllLastBaseline =
    1 << NSLayoutAttributeLastBaseline;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllFirstBaseline =
    1 << NSLayoutAttributeFirstBaseline;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignmentMask = 0xFFFF;
inline constexpr NSLayoutFormatOptions NSLayoutFormatDirectionLeadingToTrailing = 0;
inline constexpr NSLayoutFormatOptions NSLayoutFormatDirectionLeftToRight = 1 << 16;
inline constexpr NSLayoutFormatOptions NSLayoutFormatDirectionRightToLeft = 2 << 16;
inline constexpr NSLayoutFormatOptions NSLayoutFormatDirectionMask = 0x3 << 16;

// The gap that "-" stands for between two sibling views.
inline constexpr double kLayoutStandardSpacing = 8.0;

class NSLayoutConstraint : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  using ViewMap = std::map<std::string, std::shared_ptr<UIView>, std::less<>>;

  // Prefer the factory below, which checks its arguments. REQUIRES: the arguments would pass
  // that factory's checks.
  NSLayoutConstraint(const std::shared_ptr<UIView>& firstItem, NSLayoutAttribute firstAttribute,
                     NSLayoutRelation relation, const std::shared_ptr<UIView>& secondItem,
                     NSLayoutAttribute secondAttribute, double multiplier, double constant);

  // constraintWithItem:attribute:relatedBy:toItem:attribute:multiplier:constant:.
  // Returns an inactive constraint at priority 1000. Throws NSInvalidArgumentException when
  // the first item is missing, an attribute is out of range, the second item and attribute
  // are not both given or both absent, a position is set to a constant, a horizontal
  // position meets a vertical one or a size meets a position, or a number is not finite.
  static std::shared_ptr<NSLayoutConstraint>
  constraintWithItemAttributeRelatedByToItemAttributeMultiplierConstant(
      const std::shared_ptr<UIView>& firstItem, NSLayoutAttribute firstAttribute,
      NSLayoutRelation relation, const std::shared_ptr<UIView>& secondItem,
      NSLayoutAttribute secondAttribute, double multiplier, double constant);

  // constraintsWithVisualFormat:options:metrics:views:. Builds the constraints of one row (H,
  // the default) or column (V) in the visual format language, in format order, followed by
  // the alignment constraints that `options` asks for between consecutive views. `metrics` is
  // a dictionary of numbers (None for none); `views` binds names to views.
  // "|-" and "-|" go to the superview's layout margins; "-" between views is 8 points; "|" and
  // "][" touch. Throws NSInvalidArgumentException naming the format and the position when
  // the format is malformed, names an unknown view or metric, uses "|" for a view without a
  // superview, or asks for an alignment along its own axis. The returned constraints are
  // inactive; install them with UIView::addConstraints.
  static std::vector<std::shared_ptr<NSLayoutConstraint>> constraintsWithVisualFormat(
      std::string_view format, NSLayoutFormatOptions options, const platform::Value& metrics,
      const ViewMap& views);

  // Installs every constraint in the closest common ancestor of its items.
  static void activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& list);
  static void deactivateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& list);

  std::shared_ptr<UIView> firstItem() const { return firstItem_.lock(); }
  std::shared_ptr<UIView> secondItem() const { return secondItem_.lock(); }
  NSLayoutAttribute firstAttribute() const { return firstAttribute_; }
  NSLayoutAttribute secondAttribute() const { return secondAttribute_; }
  NSLayoutRelation relation() const { return relation_; }
  double multiplier() const { return multiplier_; }
  double constant() const { return constant_; }
  // Changing the constant of an installed constraint asks its view for a new layout pass.
  void setConstant(double constant);
  UILayoutPriority priority() const { return priority_; }
  // Accepts 0 < priority ≤ 1000. An installed constraint may not move between required and
  // optional; that, or a priority out of range, goes to the assertion handler and changes
  // nothing.
  void setPriority(UILayoutPriority priority);
  bool isActive() const { return active_; }
  // True installs it in the closest common ancestor of its items (nothing happens when they
  // share none); false removes it from the view that holds it.
  void setActive(bool active);
  const std::string& identifier() const { return identifier_; }
  void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }

  // The view this constraint is installed in, or null.
  std::shared_ptr<UIView> installedView() const { return owner_.lock(); }

  // "<NSLayoutConstraint first.attr == second.attr*m + c @p>" with the views' descriptions.
  std::string description() const;

 private:
  friend class UIView;
  const std::weak_ptr<UIView> firstItem_;
  const NSLayoutAttribute firstAttribute_;
  const NSLayoutRelation relation_;
  const std::weak_ptr<UIView> secondItem_;
  const NSLayoutAttribute secondAttribute_;
  const double multiplier_;
  double constant_;
  UILayoutPriority priority_ = UILayoutPriorityRequired;
  bool active_ = false;
  std::string identifier_;
  std::weak_ptr<UIView> owner_;
};

using NSLayoutConstraintPtr = std::shared_ptr<NSLayoutConstraint>;

const char* NSLayoutAttributeName(NSLayoutAttribute attribute);
