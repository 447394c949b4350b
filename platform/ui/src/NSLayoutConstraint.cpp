#include "platform/ui/NSLayoutConstraint.h"

#include <cmath>
#include <cstdio>

#include "UIClass_p.h"
#include "platform/foundation/Assertion.h"
#include "platform/ui/UIView.h"

const platform::Class& NSLayoutConstraint::staticClass() {
  static const platform::Class& cls =
      platform::uidetail::defineClass("NSLayoutConstraint", platform::Object::staticClass(), {});
  return cls;
}

namespace {

enum class AttributeKind { None, Horizontal, Vertical, Size };

AttributeKind kindOf(NSLayoutAttribute attribute) {
  switch (attribute) {
    case NSLayoutAttributeLeft:
    case NSLayoutAttributeRight:
    case NSLayoutAttributeLeading:
    case NSLayoutAttributeTrailing:
    case NSLayoutAttributeCenterX:
    case NSLayoutAttributeLeftMargin:
    case NSLayoutAttributeRightMargin:
    case NSLayoutAttributeLeadingMargin:
    case NSLayoutAttributeTrailingMargin:
    case NSLayoutAttributeCenterXWithinMargins:
      return AttributeKind::Horizontal;
    case NSLayoutAttributeTop:
    case NSLayoutAttributeBottom:
    case NSLayoutAttributeCenterY:
    case NSLayoutAttributeLastBaseline:
    case NSLayoutAttributeFirstBaseline:
    case NSLayoutAttributeTopMargin:
    case NSLayoutAttributeBottomMargin:
    case NSLayoutAttributeCenterYWithinMargins:
      return AttributeKind::Vertical;
    case NSLayoutAttributeWidth:
    case NSLayoutAttributeHeight:
      return AttributeKind::Size;
    case NSLayoutAttributeNotAnAttribute:
      break;
  }
  return AttributeKind::None;
}

bool validAttribute(int attribute) {
  return attribute >= NSLayoutAttributeNotAnAttribute &&
         attribute <= NSLayoutAttributeCenterYWithinMargins;
}

std::shared_ptr<UIView> commonAncestor(const std::shared_ptr<UIView>& a,
                                       const std::shared_ptr<UIView>& b) {
  if (!b) return a;
  for (auto v = a; v; v = v->superview()) {
    if (b->isDescendantOfView(*v)) return v;
  }
  return nullptr;
}

}  // namespace

const char* NSLayoutAttributeName(NSLayoutAttribute attribute) {
  static const char* const names[] = {"notAnAttribute",
                                      "left",
                                      "right",
                                      "top",
                                      "bottom",
                                      "leading",
                                      "trailing",
                                      "width",
                                      "height",
                                      "centerX",
                                      "centerY",
                                      "lastBaseline",
                                      "firstBaseline",
                                      "leftMargin",
                                      "rightMargin",
                                      "topMargin",
                                      "bottomMargin",
                                      "leadingMargin",
                                      "trailingMargin",
                                      "centerXWithinMargins",
                                      "centerYWithinMargins"};
  return validAttribute(attribute) ? names[attribute] : "?";
}

NSLayoutConstraint::NSLayoutConstraint(const std::shared_ptr<UIView>& firstItem,
                                       NSLayoutAttribute firstAttribute, NSLayoutRelation relation,
                                       const std::shared_ptr<UIView>& secondItem,
                                       NSLayoutAttribute secondAttribute, double multiplier,
                                       double constant)
    : firstItem_(firstItem),
      firstAttribute_(firstAttribute),
      relation_(relation),
      secondItem_(secondItem),
      secondAttribute_(secondAttribute),
      multiplier_(multiplier),
      constant_(constant) {}

std::shared_ptr<NSLayoutConstraint>
NSLayoutConstraint::constraintWithItemAttributeRelatedByToItemAttributeMultiplierConstant(
    const std::shared_ptr<UIView>& firstItem, NSLayoutAttribute firstAttribute,
    NSLayoutRelation relation, const std::shared_ptr<UIView>& secondItem,
    NSLayoutAttribute secondAttribute, double multiplier, double constant) {
  if (!firstItem) {
    throw NSInvalidArgumentException("Constraint items must each be a view or layout guide.");
  }
  if (!validAttribute(firstAttribute) || !validAttribute(secondAttribute) ||
      firstAttribute == NSLayoutAttributeNotAnAttribute) {
    throw NSInvalidArgumentException("Invalid layout attribute");
  }
  if (relation < NSLayoutRelationLessThanOrEqual || relation > NSLayoutRelationGreaterThanOrEqual) {
    throw NSInvalidArgumentException("Unknown relation. Must be ==, >=, or <=");
  }
  if (!std::isfinite(multiplier) || !std::isfinite(constant)) {
    throw NSInvalidArgumentException("A multiplier or constant must be a finite number");
  }
  const bool hasSecondAttribute = secondAttribute != NSLayoutAttributeNotAnAttribute;
  if (static_cast<bool>(secondItem) != hasSecondAttribute) {
    throw NSInvalidArgumentException("A second item and a second attribute must be given together");
  }
  const AttributeKind firstKind = kindOf(firstAttribute);
  if (!secondItem && firstKind != AttributeKind::Size) {
    throw NSInvalidArgumentException(
        std::string("A constraint cannot be made that sets a location equal to a constant (") +
        NSLayoutAttributeName(firstAttribute) + ")");
  }
  if (secondItem && firstKind != kindOf(secondAttribute)) {
    throw NSInvalidArgumentException(std::string("Invalid pairing of layout attributes (") +
                                     NSLayoutAttributeName(firstAttribute) + " and " +
                                     NSLayoutAttributeName(secondAttribute) + ")");
  }
  return std::make_shared<NSLayoutConstraint>(firstItem, firstAttribute, relation, secondItem,
                                              secondAttribute, multiplier, constant);
}

void NSLayoutConstraint::setConstant(double constant) {
  if (!std::isfinite(constant) || constant == constant_) return;
  constant_ = constant;
  if (auto owner = owner_.lock()) owner->setNeedsLayout();
}

void NSLayoutConstraint::setPriority(UILayoutPriority priority) {
  const bool inRange = priority > 0 && priority <= UILayoutPriorityRequired;
  const bool crossesRequired = active_ && ((priority == UILayoutPriorityRequired) !=
                                           (priority_ == UILayoutPriorityRequired));
  if (!inRange || crossesRequired) {
    platform::handleFailure(
        {"setPriority:", description(), "NSLayoutConstraint", __LINE__,
         !inRange ? "A constraint's priority must be greater than 0 and at most 1000"
                  : "Mutating a priority from required to not on an installed constraint (or "
                    "vice-versa) is not supported."});
    return;
  }
  if (priority == priority_) return;
  priority_ = priority;
  if (auto owner = owner_.lock()) owner->setNeedsLayout();
}

void NSLayoutConstraint::setActive(bool active) {
  if (active == active_) return;
  if (!active) {
    if (auto owner = owner_.lock()) {
      owner->removeConstraint(std::static_pointer_cast<NSLayoutConstraint>(shared_from_this()));
    }
    active_ = false;
    return;
  }
  auto first = firstItem();
  if (!first) return;
  if (auto ancestor = commonAncestor(first, secondItem())) {
    ancestor->addConstraint(std::static_pointer_cast<NSLayoutConstraint>(shared_from_this()));
  }
}

void NSLayoutConstraint::activateConstraints(
    const std::vector<std::shared_ptr<NSLayoutConstraint>>& list) {
  for (const auto& c : list) {
    if (c) c->setActive(true);
  }
}

void NSLayoutConstraint::deactivateConstraints(
    const std::vector<std::shared_ptr<NSLayoutConstraint>>& list) {
  for (const auto& c : list) {
    if (c) c->setActive(false);
  }
}

std::string NSLayoutConstraint::description() const {
  auto name = [](const std::shared_ptr<UIView>& v) {
    char buffer[64];
    if (!v) return std::string("(null)");
    std::snprintf(buffer, sizeof buffer, "%s:%p", v->objectClass().name().c_str(),
                  static_cast<const void*>(v.get()));
    return std::string(buffer);
  };
  const char* relation = relation_ == NSLayoutRelationEqual             ? "=="
                         : relation_ == NSLayoutRelationLessThanOrEqual ? "<="
                                                                        : ">=";
  std::string text = "<NSLayoutConstraint " + name(firstItem()) + "." +
                     NSLayoutAttributeName(firstAttribute_) + " " + relation + " ";
  char number[64];
  if (auto second = secondItem()) {
    text += name(second) + "." + NSLayoutAttributeName(secondAttribute_);
    if (multiplier_ != 1) {
      std::snprintf(number, sizeof number, "*%g", multiplier_);
      text += number;
    }
    if (constant_ != 0) {
      std::snprintf(number, sizeof number, " %c %g", constant_ < 0 ? '-' : '+',
                    std::fabs(constant_));
      text += number;
    }
  } else {
    std::snprintf(number, sizeof number, "%g", constant_);
    text += number;
  }
  if (priority_ != UILayoutPriorityRequired) {
    std::snprintf(number, sizeof number, " @%g", static_cast<double>(priority_));
    text += number;
  }
  return text + ">";
}

[[maybe_unused]] static const platform::Class& kNSLayoutConstraintClass =
    NSLayoutConstraint::staticClass();
