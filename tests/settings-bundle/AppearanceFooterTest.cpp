// The preview footer, made through the runtime as the host makes it: its rows, colours,
// layout and height.
#include <gtest/gtest.h>

#include <cmath>

#include "BundleTestSupport.h"
#include "platform/settings-host/PSTableCell.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

namespace {

class AppearanceFooterTest : public testing::Test {
 protected:
  void SetUp() override {
    // Opening the entry loads the plug-in, which registers the footer class.
    ASSERT_TRUE(driver.openEntry("Halvex").isOk());
    const platform::Class* cls = platform::ClassRegistry::shared().lookup("HXAppearanceFooter");
    ASSERT_NE(cls, nullptr);
    footer = std::dynamic_pointer_cast<PSTableCell>(cls->create());
    ASSERT_TRUE(footer);
    ASSERT_TRUE(footer->initWithSpecifier(PSSpecifier::groupSpecifierWithName("Preview")));
  }

  std::shared_ptr<UILabel> label(const UIViewPtr& row, std::size_t index) {
    return std::dynamic_pointer_cast<UILabel>(row->subviews().at(index));
  }
  std::shared_ptr<UIImageView> image(const UIViewPtr& row, std::size_t index) {
    return std::dynamic_pointer_cast<UIImageView>(row->subviews().at(index));
  }

  platform::SettingsDriver driver{hxtest::bundleDeviceRoot()};
  std::shared_ptr<PSTableCell> footer;
};

TEST_F(AppearanceFooterTest, HeightIsFixedAndNothingShowsBeforeAnIdentifier) {
  for (double width : {0.0, 320.0, 375.0, 1024.0}) {
    EXPECT_EQ(footer->preferredHeightForWidth(width), 160.0);
  }
  EXPECT_TRUE(footer->subviews().empty() ||
              std::none_of(footer->subviews().begin(), footer->subviews().end(),
                           [](const auto& v) { return v->subviews().size() == 4; }));
  footer->setFrame(CGRectMake(0, 0, 320, 160));
  footer->layoutIfNeeded();  // no rows: nothing to size, nothing breaks
}

TEST_F(AppearanceFooterTest, RowsAreBuiltOnceInOrderWithFixedTextsAndColours) {
  footer->performSelector("setApplicationIdentifier:", {platform::Value("com.orlentis.packages")});
  footer->performSelector("setApplicationIdentifier:", {platform::Value("com.apple.weather")});
  std::vector<UIViewPtr> rows;
  for (const auto& view : footer->subviews()) {
    if (view->subviews().size() == 4) rows.push_back(view);
  }
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(label(rows[0], 2)->text(), "ACTIVE APPLICATION");
  EXPECT_EQ(label(rows[0], 3)->text(), "Indicates an actively running application.");
  EXPECT_EQ(label(rows[1], 2)->text(), "INACTIVE APPLICATION");
  EXPECT_EQ(label(rows[1], 3)->text(),
            "Indicates an application that has been suspended or terminated.");
  EXPECT_EQ(label(rows[1], 3)->numberOfLines(), 0);
  EXPECT_EQ(label(rows[0], 2)->numberOfLines(), 1);

  auto activeDot = image(rows[0], 1)->image();
  auto inactiveDot = image(rows[1], 1)->image();
  ASSERT_TRUE(activeDot && inactiveDot);
  const int cx = activeDot->pixelWidth() / 2, cy = activeDot->pixelHeight() / 2;
  platform::Color green = activeDot->colorAtPixel(cx, cy);
  EXPECT_NEAR(green.red, 0.0, 0.01);
  EXPECT_NEAR(green.green, 1.0, 0.01);
  EXPECT_NEAR(green.blue, 0.393, 0.01);
  EXPECT_NEAR(green.alpha, 1.0, 0.01);
  platform::Color white = inactiveDot->colorAtPixel(cx, cy);
  EXPECT_NEAR(white.red, 1.0, 0.01);
  EXPECT_NEAR(white.blue, 1.0, 0.01);
  // The corner of the round dot stays transparent.
  EXPECT_NEAR(activeDot->colorAtPixel(0, 0).alpha, 0.0, 0.01);
  EXPECT_TRUE(image(rows[0], 0)->image()) << "the package manager has an icon";
}

TEST_F(AppearanceFooterTest, LayoutGivesTheTextTheWidthBesideTheIcon) {
  footer->performSelector("setApplicationIdentifier:", {platform::Value("com.orlentis.packages")});
  for (double width : {320.0, 375.0}) {
    footer->setFrame(CGRectMake(0, 0, width, 160));
    footer->setNeedsLayout();
    footer->layoutIfNeeded();
    std::vector<UIViewPtr> rows;
    for (const auto& view : footer->subviews()) {
      if (view->subviews().size() == 4) rows.push_back(view);
    }
    ASSERT_EQ(rows.size(), 2u);
    const CGRect active = rows[0]->frame(), inactive = rows[1]->frame();
    EXPECT_DOUBLE_EQ(active.origin.x, 8);
    EXPECT_DOUBLE_EQ(active.origin.y, 8);
    EXPECT_DOUBLE_EQ(active.size.width, width - 16);
    EXPECT_DOUBLE_EQ(inactive.origin.y, active.origin.y + active.size.height);
    const CGRect icon = rows[0]->subviews()[0]->frame();
    const CGRect dot = rows[0]->subviews()[1]->frame();
    EXPECT_DOUBLE_EQ(icon.size.width, 29);
    EXPECT_DOUBLE_EQ(icon.origin.x, 8);
    EXPECT_DOUBLE_EQ(dot.origin.y, icon.origin.y + icon.size.height + 3);
    EXPECT_NEAR(dot.origin.x + dot.size.width / 2, icon.origin.x + icon.size.width / 2, 1e-6);
    EXPECT_DOUBLE_EQ(active.size.height, 8 + icon.size.height + 3 + dot.size.height + 8);
    // W − iconWidth − L − 2R of the inactive row.
    const double textWidth = (width - 16) - 29 - 8 - 16;
    EXPECT_DOUBLE_EQ(label(rows[0], 3)->preferredMaxLayoutWidth(), textWidth);
    EXPECT_DOUBLE_EQ(label(rows[1], 3)->preferredMaxLayoutWidth(), textWidth);
    const CGRect text = rows[1]->subviews()[3]->frame();
    EXPECT_DOUBLE_EQ(text.origin.x, rows[1]->subviews()[2]->frame().origin.x);
    EXPECT_GT(text.size.height, label(rows[1], 2)->frame().size.height) << "the text wraps";
  }
}

TEST_F(AppearanceFooterTest, AnApplicationWithoutAnIconKeepsItsDotTitleAndText) {
  footer->performSelector("setApplicationIdentifier:", {platform::Value("com.example.none")});
  footer->setFrame(CGRectMake(0, 0, 320, 160));
  footer->layoutIfNeeded();
  std::vector<UIViewPtr> rows;
  for (const auto& view : footer->subviews()) {
    if (view->subviews().size() == 4) rows.push_back(view);
  }
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_FALSE(image(rows[0], 0)->image());
  EXPECT_DOUBLE_EQ(rows[0]->subviews()[0]->frame().size.width, 0);
  EXPECT_TRUE(image(rows[0], 1)->image());
  EXPECT_DOUBLE_EQ(label(rows[1], 3)->preferredMaxLayoutWidth(), 304 - 0 - 8 - 16);
}

}  // namespace
