#include "platform/ui/ViewRenderer.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/ui/PreferencesAppearance.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UITraitCollection.h"
#include "platform/ui/UIView.h"

namespace {

UIImagePtr decode(const std::optional<std::string>& png, double scale) {
  if (!png) return nullptr;
  return UIImage::imageWithDataScale(std::vector<std::uint8_t>(png->begin(), png->end()), scale);
}

void expectColor(const UIImage& image, int x, int y, platform::Color expected) {
  const platform::Color c = image.colorAtPixel(x, y);
  EXPECT_NEAR(c.red, expected.red, 0.02) << x << "," << y;
  EXPECT_NEAR(c.green, expected.green, 0.02) << x << "," << y;
  EXPECT_NEAR(c.blue, expected.blue, 0.02) << x << "," << y;
  EXPECT_NEAR(c.alpha, expected.alpha, 0.02) << x << "," << y;
}

TEST(ViewRendererTest, DrawsBackgroundsImagesTextAndSubviewsInOrder) {
  UIScreen::mainScreen()->setScale(2);
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 60, 40));
  root->setBackgroundColor(UIColor::whiteColor());
  auto red = std::make_shared<UIView>(CGRectMake(10, 0, 10, 10));
  red->setBackgroundColor(UIColor::colorWithRedGreenBlueAlpha(1, 0, 0, 1));
  auto covering = std::make_shared<UIView>(CGRectMake(15, 5, 10, 10));  // drawn over red
  covering->setBackgroundColor(UIColor::colorWithRedGreenBlueAlpha(0, 0, 1, 1));
  auto hidden = std::make_shared<UIView>(CGRectMake(0, 0, 60, 40));
  hidden->setBackgroundColor(UIColor::blackColor());
  hidden->setHidden(true);
  auto dot = std::make_shared<UIImage>(4, 4, 2.0, std::vector<std::uint32_t>(16, 0xFF000000u));
  auto tinted = dot->_flatImageWithColor(UIColor::colorWithRedGreenBlueAlpha(0, 1, 0.393, 1));
  auto dotView = UIImageView::initWithImage(tinted);  // 2 × 2 points at (40, 0)
  dotView->setFrame(CGRectMake(40, 0, 2, 2));
  auto halfGrey = std::make_shared<UIView>(CGRectMake(50, 0, 10, 10));
  halfGrey->setBackgroundColor(UIColor::blackColor());
  halfGrey->setAlpha(0.5);
  auto label = std::make_shared<UILabel>();
  label->setText("WWWW");
  label->setFrame(CGRectMake(0, 20, 60, 20));
  for (const auto& v : {red, covering, hidden, UIViewPtr(dotView), halfGrey, UIViewPtr(label)}) {
    root->addSubview(v);
  }

  auto image = decode(platform::renderViewToPng(*root, 2), 2);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixelWidth(), 120);
  EXPECT_EQ(image->pixelHeight(), 80);
  expectColor(*image, 2, 2, platform::Color::rgba(1, 1, 1, 1));
  expectColor(*image, 22, 2, platform::Color::rgba(1, 0, 0, 1));
  expectColor(*image, 38, 18, platform::Color::rgba(0, 0, 1, 1));  // later subviews on top
  expectColor(*image, 81, 1, platform::Color::rgba(0, 1, 0.393, 1));
  expectColor(*image, 110, 10, platform::Color::rgba(0.5, 0.5, 0.5, 1));

  int dark = 0;
  for (int y = 40; y < 80; ++y) {
    for (int x = 0; x < 120; ++x) dark += image->colorAtPixel(x, y).red < 0.5;
  }
  EXPECT_GT(dark, 50) << "the label's text is drawn in black";
}

TEST(ViewRendererTest, DynamicColoursAreDrawnForTheAppearanceAsked) {
  const auto red = platform::Color::rgba(1, 0, 0, 1);
  const auto blue = platform::Color::rgba(0, 0, 1, 1);
  auto dynamic = UIColor::colorWithDynamicProvider([&](const UITraitCollection& traits) {
    return UIColor::colorWithRedGreenBlueAlpha(
        0, 0, traits.userInterfaceStyle() == UIUserInterfaceStyleDark ? 1 : 0, 1);
  });
  auto view = std::make_shared<UIView>(CGRectMake(0, 0, 4, 4));
  view->setBackgroundColor(UIColor::colorWithDynamicProvider([&](const UITraitCollection& traits) {
    // A dynamic answer is resolved again; light answers fixed red.
    return traits.userInterfaceStyle() == UIUserInterfaceStyleDark
               ? dynamic
               : UIColor::colorWithRedGreenBlueAlpha(1, 0, 0, 1);
  }));
  auto light = decode(platform::renderViewToPng(*view, 1), 1);
  auto dark = decode(
      platform::renderViewToPng(*view, 1, UITraitCollection(0, UIUserInterfaceStyleDark)), 1);
  ASSERT_TRUE(light && dark);
  expectColor(*light, 1, 1, red);
  expectColor(*dark, 1, 1, blue);
  EXPECT_EQ(view->backgroundColor()->color(), red) << "unspecified traits draw as light";

  // A provider that answers nothing gives clear; one that answers itself ends.
  EXPECT_EQ(UIColor::colorWithDynamicProvider([](const UITraitCollection&) { return nullptr; })
                ->color()
                .alpha,
            0);
  std::shared_ptr<UIColor> loop;
  loop = UIColor::colorWithDynamicProvider([&loop](const UITraitCollection&) { return loop; });
  EXPECT_EQ(loop->resolvedColorWithTraitCollection(UITraitCollection()).alpha, 0);
  loop.reset();

  // The grey of section headers and of the preview footer's texts lightens in the dark.
  const UITraitCollection darkTraits(0, UIUserInterfaceStyleDark);
  EXPECT_EQ(PreferencesTableViewHeaderColor()->resolvedColorWithTraitCollection(darkTraits),
            platform::Color::rgba(0.557, 0.557, 0.576, 1));
  EXPECT_EQ(PreferencesTableViewHeaderColor()->resolvedColorWithTraitCollection(
                UITraitCollection(0, UIUserInterfaceStyleLight)),
            platform::Color::rgba(0.43, 0.43, 0.45, 1));
}

TEST(ViewRendererTest, TextOfATreeReadsItsShownLabelsInOrderAsSentences) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 100, 100));
  auto row = std::make_shared<UIView>();
  root->addSubview(row);
  auto addLabel = [](const UIViewPtr& parent, const std::string& text) {
    auto label = std::make_shared<UILabel>();
    label->setText(text);
    parent->addSubview(label);
    return label;
  };
  addLabel(row, "ACTIVE APPLICATION");
  addLabel(row, "  Indicates a running one.  ");
  addLabel(row, " ");
  addLabel(root, "Hidden")->setHidden(true);
  auto faded = std::make_shared<UIView>();
  faded->setAlpha(0);
  root->addSubview(faded);
  addLabel(faded, "Invisible");
  addLabel(root, "Done?");
  EXPECT_EQ(platform::textOfViewTree(*root), "ACTIVE APPLICATION. Indicates a running one. Done?");
  EXPECT_EQ(platform::textOfViewTree(*faded), "");
}

TEST(ViewRendererTest, RefusesEmptyOrOversizedImages) {
  auto empty = std::make_shared<UIView>();
  EXPECT_FALSE(platform::renderViewToPng(*empty, 2));
  auto view = std::make_shared<UIView>(CGRectMake(0, 0, 10, 10));
  EXPECT_FALSE(platform::renderViewToPng(*view, 0));
  EXPECT_FALSE(platform::renderViewToPng(*view, NAN));
  auto huge = std::make_shared<UIView>(CGRectMake(0, 0, 1e6, 10));
  EXPECT_FALSE(platform::renderViewToPng(*huge, 1));
  EXPECT_TRUE(platform::renderViewToPng(*view, 3));
}

}  // namespace
