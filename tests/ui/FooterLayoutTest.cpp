// The preview footer's layout with fixed images, so that every frame is known exactly; then the
// layout pass itself on smaller trees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/foundation/Value.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIView.h"
#include "support/FooterWithImages.h"

namespace {

using hxtest::FooterWithImages;
using platform::Value;

// The footer with fixed images, and ways to its views.
class Footer {
 public:
  Footer(UIImagePtr icon, UIImagePtr dot)
      : cell(std::make_shared<hxtest::FooterWithImages>(std::move(icon), std::move(dot))) {}

  // The indicator rows, in build order.
  std::vector<UIViewPtr> rows() const {
    std::vector<UIViewPtr> rows;
    for (const auto& view : cell->subviews()) {
      if (view->subviews().size() == 4) rows.push_back(view);
    }
    return rows;
  }
  UIViewPtr iconOf(std::size_t row) const { return rows().at(row)->subviews()[0]; }
  UIViewPtr dotOf(std::size_t row) const { return rows().at(row)->subviews()[1]; }
  UILabelPtr titleOf(std::size_t row) const {
    return std::static_pointer_cast<UILabel>(rows().at(row)->subviews()[2]);
  }

  std::shared_ptr<HXAppearanceFooter> cell;
};

class FooterLayoutTest : public ::testing::Test {
 protected:
  std::vector<std::string> log;
  platform::LogSink previousSink;
  void SetUp() override {
    UIScreen::mainScreen()->setScale(2);
    previousSink = platform::setLogSink([this](std::string_view m) { log.emplace_back(m); });
  }
  void TearDown() override { platform::setLogSink(previousSink); }
};

TEST_F(FooterLayoutTest, RowsAreStackedAndFilledAtEachWidth) {
  for (double width : {320.0, 375.0}) {
    // 29 × 29 points, 6 × 6 points
    Footer footer(FooterWithImages::solidImage(58, 2), FooterWithImages::solidImage(12, 2));
    footer.cell->setFrame(CGRectMake(0, 0, width, 160));
    footer.cell->setApplicationIdentifier("com.example.any");
    footer.cell->layoutIfNeeded();
    SCOPED_TRACE("width " + std::to_string(width));

    const double rowWidth = width - 16;
    const double rowHeight = 8 + 29 + 3 + 6 + 8;
    ASSERT_EQ(footer.rows().size(), 2u);
    EXPECT_EQ(footer.rows()[0]->frame(), CGRectMake(8, 8, rowWidth, rowHeight));
    EXPECT_EQ(footer.rows()[1]->frame(), CGRectMake(8, 8 + rowHeight, rowWidth, rowHeight));

    const double textWidth = rowWidth - 29 - 8 - 16;  // the footer's own formula
    for (std::size_t r = 0; r < 2; ++r) {
      EXPECT_EQ(footer.iconOf(r)->frame(), CGRectMake(8, 8, 29, 29));
      EXPECT_EQ(footer.dotOf(r)->frame(), CGRectMake(8 + (29 - 6) / 2.0, 40, 6, 6));
      const CGSize titleSize = footer.titleOf(r)->intrinsicContentSize();
      EXPECT_EQ(footer.titleOf(r)->frame(), CGRectMake(45, 8, rowWidth - 8 - 45, titleSize.height));
      EXPECT_EQ(footer.cell->textLabels()[r]->preferredMaxLayoutWidth(), textWidth);
      const CGSize wrapped = footer.cell->textLabels()[r]->textSizeForWidth(textWidth);
      EXPECT_LE(wrapped.width, textWidth);
      EXPECT_EQ(footer.cell->textLabels()[r]->frame(),
                CGRectMake(45, 8 + titleSize.height + 4, wrapped.width, wrapped.height));
    }
    // The inactive text needs two lines at these widths; its label is exactly that tall.
    const double oneLine = footer.titleOf(0)->intrinsicContentSize().height;
    EXPECT_GT(footer.cell->textLabels()[1]->frame().size.height, oneLine * 1.5);
    EXPECT_TRUE(log.empty()) << log.front();
  }
}

TEST_F(FooterLayoutTest, MissingImagesCollapseTheIconColumn) {
  Footer footer(nullptr, nullptr);
  footer.cell->setFrame(CGRectMake(0, 0, 320, 160));
  footer.cell->setApplicationIdentifier("com.example.any");
  footer.cell->layoutIfNeeded();
  ASSERT_EQ(footer.rows().size(), 2u);
  EXPECT_EQ(footer.rows()[0]->frame(), CGRectMake(8, 8, 304, 8 + 0 + 3 + 0 + 8));
  EXPECT_EQ(footer.iconOf(0)->frame(), CGRectMake(8, 8, 0, 0));
  EXPECT_EQ(footer.titleOf(0)->frame().origin, CGPointMake(16, 8));
  EXPECT_EQ(footer.cell->textLabels()[0]->preferredMaxLayoutWidth(), 304 - 24);
  EXPECT_TRUE(log.empty());
}

TEST_F(FooterLayoutTest, ConflictingRequiredConstraintIsLoggedAndLeftOut) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 200, 100));
  auto box = std::make_shared<UIView>();
  box->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(box);
  NSLayoutConstraint::ViewMap views{{"box", box}};
  root->addConstraints(
      NSLayoutConstraint::constraintsWithVisualFormat("|-10-[box]-10-|", 0, Value(), views));
  root->addConstraints(
      NSLayoutConstraint::constraintsWithVisualFormat("[box(50)]", 0, Value(), views));
  root->addConstraints(
      NSLayoutConstraint::constraintsWithVisualFormat("V:|[box(20@300)]", 0, Value(), views));
  root->layoutIfNeeded();
  EXPECT_EQ(box->frame(), CGRectMake(10, 0, 180, 20));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("Unable to simultaneously satisfy constraints"), std::string::npos);
  EXPECT_NE(log[0].find("width == 50"), std::string::npos) << log[0];
}

TEST_F(FooterLayoutTest, PinnedViewsKeepTheirFramesAndOthersFollowThem) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 300, 200));
  auto pinned = std::make_shared<UIView>(CGRectMake(20, 30, 100, 40));
  auto follower = std::make_shared<UIView>();
  follower->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(pinned);
  pinned->addSubview(follower);
  NSLayoutConstraint::ViewMap views{{"f", follower}};
  pinned->addConstraints(
      NSLayoutConstraint::constraintsWithVisualFormat("|-[f]-|", 0, Value(), views));
  pinned->addConstraints(
      NSLayoutConstraint::constraintsWithVisualFormat("V:|[f]|", 0, Value(), views));
  root->layoutIfNeeded();
  EXPECT_EQ(pinned->frame(), CGRectMake(20, 30, 100, 40));
  EXPECT_EQ(follower->frame(), CGRectMake(8, 0, 84, 40)) << "in its superview's coordinates";
  EXPECT_FALSE(root->needsLayout());
  root->layoutIfNeeded();  // nothing to do: no pass, same frames
  EXPECT_EQ(follower->frame(), CGRectMake(8, 0, 84, 40));
  pinned->setFrame(CGRectMake(20, 30, 60, 40));
  root->layoutIfNeeded();
  EXPECT_EQ(follower->frame(), CGRectMake(8, 0, 44, 40));
}

TEST_F(FooterLayoutTest, FittingSizeFollowsContent) {
  auto cell = std::make_shared<UIView>();
  auto label = std::make_shared<UILabel>();
  label->setTranslatesAutoresizingMaskIntoConstraints(false);
  label->setText("Hello");
  cell->addSubview(label);
  NSLayoutConstraint::ViewMap views{{"label", label}};
  cell->addConstraints(
      NSLayoutConstraint::constraintsWithVisualFormat("|-[label]-|", 0, Value(), views));
  cell->addConstraints(
      NSLayoutConstraint::constraintsWithVisualFormat("V:|-[label]-|", 0, Value(), views));
  const CGSize text = label->intrinsicContentSize();
  EXPECT_EQ(cell->systemLayoutSizeFittingSize(CGSizeZero),
            CGSizeMake(text.width + 16, text.height + 16));
}

}  // namespace

namespace {

// A view whose layoutSubviews asks for another pass and runs one itself, as some pages do.
class RestlessView : public UIView {
 public:
  int passes = 0;
  void layoutSubviews() override {
    UIView::layoutSubviews();
    ++passes;
    setNeedsLayout();
    layoutIfNeeded();
  }
};

TEST(LayoutPassTest, NestedLayoutRequestsEndAfterAFewPasses) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 100, 100));
  auto restless = std::make_shared<RestlessView>();
  restless->setFrame(CGRectMake(0, 0, 50, 50));
  root->addSubview(restless);
  root->layoutIfNeeded();
  EXPECT_GE(restless->passes, 2);
  EXPECT_LE(restless->passes, 10);
}

}  // namespace
