#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIView.h"

namespace {

using platform::Value;

class VisualFormatTest : public ::testing::Test {
 protected:
  UIViewPtr superview = std::make_shared<UIView>();
  UIViewPtr a = std::make_shared<UIView>();
  UIViewPtr b = std::make_shared<UIView>();
  UIViewPtr c = std::make_shared<UIView>();
  UIViewPtr orphan = std::make_shared<UIView>();
  NSLayoutConstraint::ViewMap views{{"a", a}, {"b", b}, {"c", c}, {"orphan", orphan}};
  Value metrics = Value::dictionary({{"w", Value::real(40)},
                                     {"gap", Value::integer(12)},
                                     {"low", Value::real(250)},
                                     {"text", Value("wide")}});

  void SetUp() override {
    for (const auto& v : {a, b, c}) superview->addSubview(v);
  }

  std::string name(const UIViewPtr& v) const {
    if (!v) return "";
    if (v == superview) return "super";
    for (const auto& [key, view] : views) {
      if (view == v) return key;
    }
    return "?";
  }

  // "b.leading == a.trailing + 8 @250", one string per constraint.
  std::vector<std::string> describe(const std::vector<NSLayoutConstraintPtr>& list) const {
    std::vector<std::string> out;
    for (const auto& k : list) {
      std::string text = name(k->firstItem()) + "." + NSLayoutAttributeName(k->firstAttribute());
      text += k->relation() == NSLayoutRelationEqual             ? " == "
              : k->relation() == NSLayoutRelationLessThanOrEqual ? " <= "
                                                                 : " >= ";
      char number[32];
      if (k->secondItem()) {
        text += name(k->secondItem()) + "." + NSLayoutAttributeName(k->secondAttribute());
        if (k->constant() != 0) {
          std::snprintf(number, sizeof number, " %+g", k->constant());
          text += number;
        }
      } else {
        std::snprintf(number, sizeof number, "%g", k->constant());
        text += number;
      }
      if (k->priority() != UILayoutPriorityRequired) {
        std::snprintf(number, sizeof number, " @%g", static_cast<double>(k->priority()));
        text += number;
      }
      EXPECT_FALSE(k->isActive());
      out.push_back(text);
    }
    return out;
  }

  std::vector<std::string> parse(const std::string& format, NSLayoutFormatOptions options = 0) {
    return describe(
        NSLayoutConstraint::constraintsWithVisualFormat(format, options, metrics, views));
  }
};

using Lines = std::vector<std::string>;

TEST_F(VisualFormatTest, BuildsEveryConstruct) {
  const struct {
    const char* format;
    NSLayoutFormatOptions options;
    Lines expected;
  } cases[] = {
      {"|[a]|", 0, {"a.leading == super.leading", "super.trailing == a.trailing"}},
      {"H:|-[a]-|", 0, {"a.leading == super.leadingMargin", "super.trailingMargin == a.trailing"}},
      {"V:|-[a]-|", 0, {"a.top == super.topMargin", "super.bottomMargin == a.bottom"}},
      {"|-20-[a]-(>=10)-|",
       0,
       {"a.leading == super.leading +20", "super.trailing >= a.trailing +10"}},
      {"[a]-[b]", 0, {"b.leading == a.trailing +8"}},
      {"V:[a][b]", 0, {"b.top == a.bottom"}},
      {"[a]-gap-[b]", 0, {"b.leading == a.trailing +12"}},
      {"[a]-(-5)-[b]", 0, {"b.leading == a.trailing -5"}},
      {"[a]-(>=gap@low,<=30)-[b]",
       0,
       {"b.leading >= a.trailing +12 @250", "b.leading <= a.trailing +30"}},
      {"[a(40)]", 0, {"a.width == 40"}},
      {"V:[a(w)]", 0, {"a.height == 40"}},
      {"[a(>=70,<=100)]", 0, {"a.width >= 70", "a.width <= 100"}},
      {"[a(==b)]", 0, {"a.width == b.width"}},
      {"[a(<=b@500)]", 0, {"a.width <= b.width @500"}},
      {"[a(2.5@750)]", 0, {"a.width == 2.5 @750"}},
      {"[a(1e2)]-.5-[b]", 0, {"a.width == 100", "b.leading == a.trailing +0.5"}},
      {"|-[a(w)]-[b]-|",
       NSLayoutFormatAlignAllTop,
       {"a.leading == super.leadingMargin", "a.width == 40", "b.leading == a.trailing +8",
        "super.trailingMargin == b.trailing", "a.top == b.top"}},
      {"V:[a]-4-[b][c]",
       NSLayoutFormatAlignAllLeft | NSLayoutFormatAlignAllCenterX,
       {"b.top == a.bottom +4", "c.top == b.bottom", "a.left == b.left", "b.left == c.left",
        "a.centerX == b.centerX", "b.centerX == c.centerX"}},
      {"|[a]-[b]",
       NSLayoutFormatDirectionLeftToRight,
       {"a.left == super.left", "b.left == a.right +8"}},
      {"|-[a]-[b]-10-|",
       NSLayoutFormatDirectionRightToLeft,
       {"super.rightMargin == a.right", "a.left == b.right +8", "b.left == super.left +10"}},
      {"V:|[a]", NSLayoutFormatDirectionRightToLeft, {"a.top == super.top"}},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(parse(test.format, test.options), test.expected) << test.format;
  }
}

TEST_F(VisualFormatTest, MalformedFormatsNameTheReasonAndThePosition) {
  const struct {
    const char* format;
    NSLayoutFormatOptions options;
    const char* reason;
    std::size_t position;
  } cases[] = {
      {"V|[a]", 0, "Expected ':' after 'V' to specify vertical arrangement", 1},
      {"H[a]", 0, "Expected ':' after 'H' to specify horizontal arrangement", 1},
      {"", 0, "Expected a view", 0},
      {"|-|", 0, "Expected a view", 2},
      {"[]", 0, "Expected a view name", 1},
      {"[x]", 0, "Unable to find view with name: x", 1},
      {"[a]-[bb]", 0, "Unable to find view with name: bb", 5},
      {"[a(=5)]", 0, "Unknown relation. Must be ==, >=, or <=", 3},
      {"[a(>5)]", 0, "Unknown relation. Must be ==, >=, or <=", 3},
      {"[a(50]", 0, "Expected ',' or ')' in the predicate list", 5},
      {"[a(50)", 0, "Expected ']' to end the view", 6},
      {"[a]-5[b]", 0, "Expected '-' after a spacing predicate", 5},
      {"[a]-nope-[b]", 0, "Unable to find metric with name: nope", 4},
      {"[a]-(==b)-[c]", 0, "A spacing predicate cannot refer to a view (b)", 7},
      {"[a(text)]", 0, "Metric text is not a finite number", 3},
      {"[a(zz)]", 0, "Unable to find metric or view with name: zz", 3},
      {"[a(10@0)]", 0, "Priority must be greater than 0 and at most 1000", 6},
      {"[a(10@1001)]", 0, "Priority must be greater than 0 and at most 1000", 6},
      {"[a]--[b]", 0, "Expected a number or a metric name", 4},
      {"[a] [b]", 0, "Expected a view or '-'", 3},
      {"[a]-", 0, "Expected a view or '|'", 4},
      {"[a]|x", 0, "Expected the end of the format after '|'", 4},
      {"|[orphan]", 0,
       "Unable to interpret '|' character, because the related view doesn't have a superview", 0},
      {"[a]-[orphan]-|", 0,
       "Unable to interpret '|' character, because the related view doesn't have a superview", 13},
      {"[a]-[b]", NSLayoutFormatAlignAllLeft,
       "Options mask required views to be aligned on a vertical edge, which is not allowed for "
       "layout that is also horizontal.",
       0},
      {"V:[a]-[b]", NSLayoutFormatAlignAllBottom,
       "Options mask required views to be aligned on a horizontal edge, which is not allowed for "
       "layout that is also vertical.",
       0},
      {"[a]", 1 << NSLayoutAttributeWidth, "Unknown alignment option in the options", 0},
      {"[a]", NSLayoutFormatDirectionMask, "Unknown layout direction in the options", 0},
  };
  for (const auto& test : cases) {
    try {
      NSLayoutConstraint::constraintsWithVisualFormat(test.format, test.options, metrics, views);
      ADD_FAILURE() << "no exception for " << test.format;
    } catch (const NSInvalidArgumentException& error) {
      EXPECT_EQ(error.reason(), test.reason) << test.format;
      EXPECT_EQ(error.position(), test.position) << test.format;
      EXPECT_EQ(error.format(), test.format);
    }
  }
}

TEST_F(VisualFormatTest, MessageShowsTheFormatWithACaretUnderThePosition) {
  try {
    NSLayoutConstraint::constraintsWithVisualFormat("V|[a]", 0, Value(), views);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(),
                 "Unable to parse constraint format: \n"
                 "Expected ':' after 'V' to specify vertical arrangement \n"
                 "V|[a] \n"
                 " ^");
  }
}

TEST_F(VisualFormatTest, MissingOrNonDictionaryMetricsMeanNoMetrics) {
  for (const Value& none : {Value(), Value::array({}), Value("w")}) {
    EXPECT_EQ(describe(NSLayoutConstraint::constraintsWithVisualFormat("[a(40)]", 0, none, views)),
              Lines{"a.width == 40"});
    EXPECT_THROW(NSLayoutConstraint::constraintsWithVisualFormat("[a(w)]", 0, none, views),
                 NSInvalidArgumentException);
  }
}

}  // namespace
