// A two-row layout shaped like the appearance preview footer: each row has an icon with a
// dot centred under it, and a title with a wrapped text to its right.
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

namespace {

using platform::Value;

UIImagePtr solidImage(int pixels, double scale) {
  return std::make_shared<UIImage>(pixels, pixels, scale,
                                   std::vector<std::uint32_t>(pixels * pixels, 0xFF808080u));
}

// The footer's shape: rows are built on demand, and each layout pass hands the text labels
// the width left beside the icon, as the footer does.
class FooterShape : public UIView {
 public:
  std::vector<UILabelPtr> textLabels;
  std::vector<UIViewPtr> rows;
  double iconWidth = 0;
  UIViewPtr containerView;

  void build(const UIImagePtr& icon, const UIImagePtr& dot) {
    rows.push_back(
        addRow(icon, dot, "ACTIVE APPLICATION", "Indicates an actively running application."));
    rows.push_back(addRow(icon, dot, "INACTIVE APPLICATION",
                          "Indicates an application that has been suspended or terminated."));
    containerView = rows[1];
    NSLayoutConstraint::ViewMap views{{"foregroundView", rows[0]}, {"inactiveView", rows[1]}};
    for (const char* format :
         {"V:|-[foregroundView][inactiveView]", "|-[foregroundView]-|", "|-[inactiveView]-|"}) {
      addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(format, 0, Value(), views));
    }
  }

  void layoutSubviews() override {
    UIView::layoutSubviews();
    if (!containerView) return;
    const UIEdgeInsets margins = containerView->layoutMargins();
    const double width =
        containerView->frame().size.width - iconWidth - margins.left - 2 * margins.right;
    for (const auto& label : textLabels) label->setPreferredMaxLayoutWidth(width);
  }

  UILabelPtr titleOf(std::size_t row) const {
    return std::static_pointer_cast<UILabel>(rows[row]->subviews()[2]);
  }
  UIViewPtr iconOf(std::size_t row) const { return rows[row]->subviews()[0]; }
  UIViewPtr dotOf(std::size_t row) const { return rows[row]->subviews()[1]; }

 private:
  UIViewPtr addRow(const UIImagePtr& icon, const UIImagePtr& dot, const std::string& title,
                   const std::string& text) {
    auto row = std::make_shared<UIView>();
    row->setTranslatesAutoresizingMaskIntoConstraints(false);
    addSubview(row);
    auto iconView = UIImageView::initWithImage(icon);
    iconView->setTranslatesAutoresizingMaskIntoConstraints(false);
    row->addSubview(iconView);
    iconWidth = icon ? icon->size().width : 0;
    auto dotView = UIImageView::initWithImage(dot);
    dotView->setTranslatesAutoresizingMaskIntoConstraints(false);
    row->addSubview(dotView);
    auto titleLabel = std::make_shared<UILabel>();
    titleLabel->setTranslatesAutoresizingMaskIntoConstraints(false);
    titleLabel->setText(title);
    titleLabel->setFont(UIFont::systemFontOfSize(13));
    row->addSubview(titleLabel);
    auto textLabel = std::make_shared<UILabel>();
    textLabel->setTranslatesAutoresizingMaskIntoConstraints(false);
    textLabel->setLineBreakMode(NSLineBreakByWordWrapping);
    textLabel->setNumberOfLines(0);
    textLabel->setText(text);
    textLabel->setFont(UIFont::systemFontOfSize(13));
    row->addSubview(textLabel);
    textLabel->setContentHuggingPriorityForAxis(1000, UILayoutConstraintAxisVertical);
    textLabel->setContentCompressionResistancePriorityForAxis(1000, UILayoutConstraintAxisVertical);
    textLabels.push_back(textLabel);

    NSLayoutConstraint::ViewMap views{{"indicatorView", dotView},
                                      {"iconView", iconView},
                                      {"titleLabel", titleLabel},
                                      {"textLabel", textLabel}};
    const Value metrics =
        Value::dictionary({{"iconWidth", Value::real(icon ? icon->size().width : 0)},
                           {"iconHeight", Value::real(icon ? icon->size().height : 0)},
                           {"indicatorHeight", Value::real(dot ? dot->size().height : 0)}});
    row->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(
        "|-[iconView(iconWidth)]-[titleLabel]-|", NSLayoutFormatAlignAllTop, metrics, views));
    row->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(
        "V:|-[titleLabel]-4-[textLabel]", NSLayoutFormatAlignAllLeft, metrics, views));
    row->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(
        "V:|-[iconView(iconHeight)]-3-[indicatorView(indicatorHeight)]-|",
        NSLayoutFormatAlignAllCenterX, metrics, views));
    return row;
  }
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
    auto footer = std::make_shared<FooterShape>();
    footer->setFrame(CGRectMake(0, 0, width, 160));
    footer->build(solidImage(58, 2), solidImage(12, 2));  // 29 × 29 points, 6 × 6 points
    footer->layoutIfNeeded();
    SCOPED_TRACE("width " + std::to_string(width));

    const double rowWidth = width - 16;
    const double rowHeight = 8 + 29 + 3 + 6 + 8;
    EXPECT_EQ(footer->rows[0]->frame(), CGRectMake(8, 8, rowWidth, rowHeight));
    EXPECT_EQ(footer->rows[1]->frame(), CGRectMake(8, 8 + rowHeight, rowWidth, rowHeight));

    const double textWidth = rowWidth - 29 - 8 - 16;  // the footer's own formula
    for (std::size_t r = 0; r < 2; ++r) {
      EXPECT_EQ(footer->iconOf(r)->frame(), CGRectMake(8, 8, 29, 29));
      EXPECT_EQ(footer->dotOf(r)->frame(), CGRectMake(8 + (29 - 6) / 2.0, 40, 6, 6));
      const CGSize titleSize = footer->titleOf(r)->intrinsicContentSize();
      EXPECT_EQ(footer->titleOf(r)->frame(),
                CGRectMake(45, 8, rowWidth - 8 - 45, titleSize.height));
      EXPECT_EQ(footer->textLabels[r]->preferredMaxLayoutWidth(), textWidth);
      const CGSize wrapped = footer->textLabels[r]->textSizeForWidth(textWidth);
      EXPECT_LE(wrapped.width, textWidth);
      EXPECT_EQ(footer->textLabels[r]->frame(),
                CGRectMake(45, 8 + titleSize.height + 4, wrapped.width, wrapped.height));
    }
    // The inactive text needs two lines at these widths; its label is exactly that tall.
    const double oneLine = footer->titleOf(0)->intrinsicContentSize().height;
    EXPECT_GT(footer->textLabels[1]->frame().size.height, oneLine * 1.5);
    EXPECT_TRUE(log.empty()) << log.front();
  }
}

TEST_F(FooterLayoutTest, MissingImagesCollapseTheIconColumn) {
  auto footer = std::make_shared<FooterShape>();
  footer->setFrame(CGRectMake(0, 0, 320, 160));
  footer->build(nullptr, nullptr);
  footer->layoutIfNeeded();
  EXPECT_EQ(footer->rows[0]->frame(), CGRectMake(8, 8, 304, 8 + 0 + 3 + 0 + 8));
  EXPECT_EQ(footer->iconOf(0)->frame(), CGRectMake(8, 8, 0, 0));
  EXPECT_EQ(footer->titleOf(0)->frame().origin, CGPointMake(16, 8));
  EXPECT_EQ(footer->textLabels[0]->preferredMaxLayoutWidth(), 304 - 24);
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
