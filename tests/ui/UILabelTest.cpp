#include "platform/ui/UILabel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/PreferencesAppearance.h"
#include "platform/ui/UIScreen.h"

namespace {

const std::string kLong = "Indicates an application that has been suspended or terminated.";

class UILabelTest : public ::testing::Test {
 protected:
  void SetUp() override { UIScreen::mainScreen()->setScale(2); }
  void TearDown() override { UIScreen::mainScreen()->setScale(2); }

  static UILabelPtr label(const std::string& text, long lines = 1, double preferred = 0) {
    auto l = std::make_shared<UILabel>();
    l->setText(text);
    l->setFont(UIFont::systemFontOfSize(13));
    l->setNumberOfLines(lines);
    l->setPreferredMaxLayoutWidth(preferred);
    return l;
  }
  static bool onPixelGrid(double points, double scale) {
    const double pixels = points * scale;
    return std::fabs(pixels - std::round(pixels)) < 1e-9;
  }
};

TEST_F(UILabelTest, OneLineIsTheTextWidthByOneLineHeightOnThePixelGrid) {
  for (double scale : {1.0, 2.0, 3.0}) {
    UIScreen::mainScreen()->setScale(scale);
    const CGSize size = label("ACTIVE APPLICATION")->intrinsicContentSize();
    EXPECT_GT(size.width, 50);
    EXPECT_GT(size.height, 13) << "a line is taller than the font size";
    EXPECT_LT(size.height, 13 * 1.6);
    EXPECT_TRUE(onPixelGrid(size.width, scale)) << size.width << " at " << scale;
    EXPECT_TRUE(onPixelGrid(size.height, scale)) << size.height << " at " << scale;
  }
  EXPECT_LT(label("Short")->intrinsicContentSize().width,
            label("Short and longer")->intrinsicContentSize().width);
}

TEST_F(UILabelTest, WrapsByWordsOnlyWhenItMayTakeSeveralLines) {
  const CGSize oneLine = label(kLong)->intrinsicContentSize();
  const double lineHeight = oneLine.height;
  struct Case {
    long lines;
    double preferred;
    int minLines;  // the font decides the exact count; these bounds do not depend on it
    int maxLines;
  } cases[] = {
      {1, 150, 1, 1},                                    // a one-line label ignores the wrap width
      {0, 0, 1, 1},                                      // nothing to wrap at yet
      {0, 150, 3, 8},   {0, 250, 2, 4}, {2, 150, 2, 2},  // capped at two lines
      {0, 10000, 1, 1},
  };
  for (const Case& c : cases) {
    const CGSize size = label(kLong, c.lines, c.preferred)->intrinsicContentSize();
    SCOPED_TRACE("lines " + std::to_string(c.lines) + " width " + std::to_string(c.preferred));
    const double lines = size.height / lineHeight;
    EXPECT_GE(lines, c.minLines - 0.15);
    EXPECT_LE(lines, c.maxLines + 0.15);
    EXPECT_NEAR(lines, std::round(lines), 0.15) << "a whole number of lines";
    if (c.maxLines > 1) {
      EXPECT_LE(size.width, c.preferred);
    } else {
      EXPECT_EQ(size.width, oneLine.width);
    }
  }
}

TEST_F(UILabelTest, AWordLongerThanTheWidthBreaksInsideIt) {
  const CGSize size = label(std::string(60, 'W'), 0, 100)->intrinsicContentSize();
  EXPECT_LE(size.width, 100);
  EXPECT_GT(size.height, label("W")->intrinsicContentSize().height * 3);
}

TEST_F(UILabelTest, EmptyTextHasNoSizeAndBadBytesAreNotShown) {
  EXPECT_EQ(label("")->intrinsicContentSize(), CGSizeZero);
  EXPECT_EQ(label("", 0, 100)->intrinsicContentSize(), CGSizeZero);
  EXPECT_EQ(label("abc\xff\xfe")->intrinsicContentSize(), label("abc")->intrinsicContentSize());
}

TEST_F(UILabelTest, MultiLineLabelWithoutPreferredWidthWrapsAtItsLaidOutWidth) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 200, 400));
  auto text = label(kLong, 0);
  text->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(text);
  NSLayoutConstraint::ViewMap views{{"text", text}};
  root->addConstraints(
      NSLayoutConstraint::constraintsWithVisualFormat("|-[text]-|", 0, platform::Value(), views));
  root->addConstraints(
      NSLayoutConstraint::constraintsWithVisualFormat("V:|[text]", 0, platform::Value(), views));
  root->layoutIfNeeded();
  EXPECT_EQ(text->frame().size.width, 184);
  EXPECT_EQ(text->frame().size.height, text->textSizeForWidth(184).height);
  EXPECT_GT(text->frame().size.height, label(kLong)->intrinsicContentSize().height * 2);
}

TEST_F(UILabelTest, NullFontAndColourFallBackAndHeaderAppearanceIsShared) {
  auto l = label("x");
  l->setFont(nullptr);
  l->setTextColor(nullptr);
  EXPECT_EQ(l->font()->pointSize(), 17);
  EXPECT_EQ(l->textColor()->color(), platform::Color::rgba(0, 0, 0, 1));
  EXPECT_EQ(PreferencesTableViewHeaderFont(), PreferencesTableViewHeaderFont());
  EXPECT_EQ(PreferencesTableViewHeaderFont()->pointSize(), 13);
  EXPECT_EQ(PreferencesTableViewHeaderColor()->color(), platform::Color::rgba(0.43, 0.43, 0.45, 1));
}

}  // namespace
