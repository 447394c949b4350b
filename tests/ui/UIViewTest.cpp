#include "platform/ui/UIView.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Assertion.h"
#include "platform/foundation/Object.h"
#include "platform/ui/UILabel.h"

namespace {

struct RecordedFailures {
  std::vector<std::string> descriptions;
  platform::ScopedAssertionHandler handler{
      [this](const platform::AssertionFailure& f) { descriptions.push_back(f.description); }};
};

TEST(UIViewTest, AddSubviewMovesTheViewFromItsPreviousSuperview) {
  auto a = std::make_shared<UIView>();
  auto b = std::make_shared<UIView>();
  auto child = std::make_shared<UIView>();
  a->addSubview(child);
  b->addSubview(child);
  EXPECT_TRUE(a->subviews().empty());
  ASSERT_EQ(b->subviews().size(), 1u);
  EXPECT_EQ(child->superview(), b);

  // Re-adding to the same superview moves it to the top without duplicating it.
  auto other = std::make_shared<UIView>();
  b->addSubview(other);
  b->addSubview(child);
  EXPECT_EQ(b->subviews(), (std::vector<UIViewPtr>{other, child}));
}

TEST(UIViewTest, RefusesCyclesAndNullWithAnAssertion) {
  RecordedFailures failures;
  auto root = std::make_shared<UIView>();
  auto child = std::make_shared<UIView>();
  root->addSubview(child);
  child->addSubview(root);  // would make the tree own itself
  root->addSubview(root);
  root->addSubview(nullptr);
  EXPECT_EQ(failures.descriptions.size(), 3u);
  EXPECT_EQ(failures.descriptions[1], "Can't add self as subview");
  EXPECT_TRUE(child->subviews().empty());
  EXPECT_EQ(root->subviews().size(), 1u);
  EXPECT_EQ(root->superview(), nullptr);
}

TEST(UIViewTest, SuperviewIsNotOwnedAndClearsWhenItGoes) {
  auto child = std::make_shared<UIView>();
  {
    auto parent = std::make_shared<UIView>();
    parent->addSubview(child);
    EXPECT_EQ(child->superview(), parent);
  }
  EXPECT_EQ(child->superview(), nullptr);
}

TEST(UIViewTest, RemovingAViewDropsTheAncestorsConstraintsThatReferToIt) {
  auto root = std::make_shared<UIView>();
  auto row = std::make_shared<UIView>();
  auto label = std::make_shared<UILabel>();
  auto other = std::make_shared<UIView>();
  root->addSubview(row);
  row->addSubview(label);
  root->addSubview(other);
  auto toLabel =
      NSLayoutConstraint::constraintWithItemAttributeRelatedByToItemAttributeMultiplierConstant(
          label, NSLayoutAttributeLeft, NSLayoutRelationEqual, other, NSLayoutAttributeLeft, 1, 0);
  auto unrelated =
      NSLayoutConstraint::constraintWithItemAttributeRelatedByToItemAttributeMultiplierConstant(
          other, NSLayoutAttributeWidth, NSLayoutRelationEqual, nullptr,
          NSLayoutAttributeNotAnAttribute, 1, 20);
  root->addConstraints({toLabel, unrelated});
  row->removeFromSuperview();
  EXPECT_EQ(root->constraints(), std::vector<NSLayoutConstraintPtr>{unrelated});
  EXPECT_FALSE(toLabel->isActive());
  EXPECT_EQ(toLabel->installedView(), nullptr);
}

TEST(UIViewTest, ActivatingAConstraintInstallsItInTheClosestCommonAncestor) {
  auto root = std::make_shared<UIView>();
  auto row = std::make_shared<UIView>();
  auto a = std::make_shared<UIView>();
  auto b = std::make_shared<UIView>();
  root->addSubview(row);
  row->addSubview(a);
  row->addSubview(b);
  auto c =
      NSLayoutConstraint::constraintWithItemAttributeRelatedByToItemAttributeMultiplierConstant(
          a, NSLayoutAttributeTop, NSLayoutRelationEqual, b, NSLayoutAttributeBottom, 1, 4);
  c->setActive(true);
  EXPECT_EQ(c->installedView(), row);
  c->setActive(false);
  EXPECT_TRUE(row->constraints().empty());
}

TEST(UIViewTest, ConstraintFactoryRejectsWhatCannotBeExpressed) {
  auto a = std::make_shared<UIView>();
  auto b = std::make_shared<UIView>();
  auto make = [](UIViewPtr first, NSLayoutAttribute fa, UIViewPtr second, NSLayoutAttribute sa,
                 double multiplier = 1) {
    return NSLayoutConstraint::
        constraintWithItemAttributeRelatedByToItemAttributeMultiplierConstant(
            first, fa, NSLayoutRelationEqual, second, sa, multiplier, 0);
  };
  EXPECT_THROW(make(nullptr, NSLayoutAttributeWidth, nullptr, NSLayoutAttributeNotAnAttribute),
               NSInvalidArgumentException);
  EXPECT_THROW(make(a, NSLayoutAttributeLeft, nullptr, NSLayoutAttributeNotAnAttribute),
               NSInvalidArgumentException);
  EXPECT_THROW(make(a, NSLayoutAttributeLeft, b, NSLayoutAttributeTop), NSInvalidArgumentException);
  EXPECT_THROW(make(a, NSLayoutAttributeWidth, b, NSLayoutAttributeLeft),
               NSInvalidArgumentException);
  EXPECT_THROW(make(a, NSLayoutAttributeWidth, b, NSLayoutAttributeNotAnAttribute),
               NSInvalidArgumentException);
  EXPECT_THROW(make(a, NSLayoutAttributeWidth, b, NSLayoutAttributeHeight, NAN),
               NSInvalidArgumentException);
  EXPECT_NO_THROW(make(a, NSLayoutAttributeWidth, b, NSLayoutAttributeHeight, 0.5));
  EXPECT_NO_THROW(make(a, NSLayoutAttributeLeading, b, NSLayoutAttributeCenterX));
}

TEST(UIViewTest, InstalledConstraintCannotSwitchBetweenRequiredAndOptional) {
  RecordedFailures failures;
  auto a = std::make_shared<UIView>();
  auto c =
      NSLayoutConstraint::constraintWithItemAttributeRelatedByToItemAttributeMultiplierConstant(
          a, NSLayoutAttributeWidth, NSLayoutRelationEqual, nullptr,
          NSLayoutAttributeNotAnAttribute, 1, 10);
  c->setPriority(500);  // not installed yet: allowed
  a->addConstraint(c);
  c->setPriority(1000);
  c->setPriority(0);
  c->setPriority(700);
  EXPECT_EQ(failures.descriptions.size(), 2u);
  EXPECT_EQ(c->priority(), 700);
}

TEST(UIViewTest, UIClassesAreFoundByName) {
  for (const char* name : {"UIView", "UILabel", "UIImageView", "UITableViewCell", "UITableView",
                           "UIViewController", "UINavigationController", "UISwitch"}) {
    const platform::Class* cls = platform::ClassRegistry::shared().lookup(name);
    ASSERT_NE(cls, nullptr) << name;
    auto object = cls->create();
    ASSERT_NE(object, nullptr) << name;
    EXPECT_EQ(object->objectClass().name(), name);
  }
}

}  // namespace
