#include "HXAppearanceFooter.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Process.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/PreferencesAppearance.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UIScreen.h"

using platform::Value;

namespace {

constexpr const char* kReuseIdentifier = "HXAppearanceFooter";
constexpr const char* kSpringBoardPath = "/System/Library/CoreServices/SpringBoard.app";

HXAppearanceFooter& footer(platform::Object& self) {
  return platform::receiver<HXAppearanceFooter>(self);
}

Value metrics(double iconWidth, double iconHeight, double indicatorHeight) {
  Value::Dictionary d;
  d["iconWidth"] = Value::real(iconWidth);
  d["iconHeight"] = Value::real(iconHeight);
  d["indicatorHeight"] = Value::real(indicatorHeight);
  return Value(std::move(d));
}

}  // namespace

const platform::Class& HXAppearanceFooter::staticClass() {
  static const platform::Class* cls = [] {
    auto* c = new platform::Class("HXAppearanceFooter", &PSTableCell::staticClass(),
                                  [] { return std::make_shared<HXAppearanceFooter>(); });
    using Args = platform::Arguments;
    c->addMethod("setApplicationIdentifier:", [](platform::Object& self, const Args& args) {
      footer(self).setApplicationIdentifier(args[0].stringValue());
      return Value();
    });
    c->addMethod("initializeWithApplicationIdentifier:",
                 [](platform::Object& self, const Args& args) {
                   footer(self).initializeWithApplicationIdentifier(args[0].stringValue());
                   return Value();
                 });
    platform::ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

HXAppearanceFooter::HXAppearanceFooter()
    : PSTableCell(UITableViewCellStyleDefault, kReuseIdentifier) {}

std::shared_ptr<PSTableCell> HXAppearanceFooter::initWithSpecifier(
    const PSSpecifierPtr& specifier) {
  auto cell = initWithStyleReuseIdentifierSpecifier(UITableViewCellStyleDefault, kReuseIdentifier,
                                                    specifier);
  if (!cell) return nullptr;
  initialized_ = false;
  textLabels_.clear();
  textLabels_.reserve(2);
  return cell;
}

void HXAppearanceFooter::setApplicationIdentifier(const std::string& identifier) {
  if (initialized_) return;
  initializeWithApplicationIdentifier(identifier);
  initialized_ = true;
}

void HXAppearanceFooter::initializeWithApplicationIdentifier(const std::string& identifier) {
  // 0.393 is a single-precision constant of the preview; keep its float rounding.
  auto activeColor = UIColor::colorWithRedGreenBlueAlpha(0, 1, static_cast<double>(0.393f), 1);
  auto inactiveColor = UIColor::colorWithWhiteAlpha(1, 1);
  auto activeRow = addViewForIndicatorColorIdentifierTitleText(
      activeColor, identifier, "ACTIVE APPLICATION", "Indicates an actively running application.");
  auto inactiveRow = addViewForIndicatorColorIdentifierTitleText(
      inactiveColor, identifier, "INACTIVE APPLICATION",
      "Indicates an application that has been suspended or terminated.");
  containerView_ = inactiveRow;

  const NSLayoutConstraint::ViewMap rows{{"foregroundView", activeRow},
                                         {"inactiveView", inactiveRow}};
  for (const char* format :
       {"V:|-[foregroundView][inactiveView]", "|-[foregroundView]-|", "|-[inactiveView]-|"}) {
    addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(format, 0, Value(), rows));
  }
}

std::shared_ptr<UIView> HXAppearanceFooter::addViewForIndicatorColorIdentifierTitleText(
    const UIColorPtr& color, const std::string& identifier, const std::string& title,
    const std::string& text) {
  auto row = std::make_shared<UIView>();
  row->setTranslatesAutoresizingMaskIntoConstraints(false);
  addSubview(row);

  auto icon = applicationIconForIdentifier(identifier);
  auto iconView = UIImageView::initWithImage(icon);
  iconView->setTranslatesAutoresizingMaskIntoConstraints(false);
  row->addSubview(iconView);
  const CGSize iconSize = icon ? icon->size() : CGSize{};
  iconWidth_ = iconSize.width;

  auto dot = indicatorImageWithColor(color);
  auto indicatorView = UIImageView::initWithImage(dot);
  indicatorView->setTranslatesAutoresizingMaskIntoConstraints(false);
  row->addSubview(indicatorView);

  auto titleLabel = std::make_shared<UILabel>();
  titleLabel->setTranslatesAutoresizingMaskIntoConstraints(false);
  titleLabel->setText(title);
  titleLabel->setFont(PreferencesTableViewHeaderFont());
  titleLabel->setTextColor(PreferencesTableViewHeaderColor());
  row->addSubview(titleLabel);

  auto textLabel = std::make_shared<UILabel>();
  textLabel->setTranslatesAutoresizingMaskIntoConstraints(false);
  textLabel->setLineBreakMode(NSLineBreakByWordWrapping);
  textLabel->setNumberOfLines(0);
  textLabel->setText(text);
  textLabel->setFont(PreferencesTableViewHeaderFont());
  textLabel->setTextColor(PreferencesTableViewHeaderColor());
  row->addSubview(textLabel);
  textLabel->setContentHuggingPriorityForAxis(1000.0f, UILayoutConstraintAxisVertical);
  textLabel->setContentCompressionResistancePriorityForAxis(1000.0f,
                                                            UILayoutConstraintAxisVertical);
  textLabels_.push_back(textLabel);

  const NSLayoutConstraint::ViewMap views{{"indicatorView", indicatorView},
                                          {"iconView", iconView},
                                          {"titleLabel", titleLabel},
                                          {"textLabel", textLabel}};
  const Value sizes = metrics(iconSize.width, iconSize.height, dot ? dot->size().height : 0);
  row->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(
      "|-[iconView(iconWidth)]-[titleLabel]-|", NSLayoutFormatAlignAllTop, sizes, views));
  row->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(
      "V:|-[titleLabel]-4-[textLabel]", NSLayoutFormatAlignAllLeft, sizes, views));
  row->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(
      "V:|-[iconView(iconHeight)]-3-[indicatorView(indicatorHeight)]-|",
      NSLayoutFormatAlignAllCenterX, sizes, views));
  return row;
}

UIImagePtr HXAppearanceFooter::applicationIconForIdentifier(const std::string& identifier) {
  return UIImage::_applicationIconImageForBundleIdentifierFormatScale(
      identifier, 0, UIScreen::mainScreen()->scale());
}

UIImagePtr HXAppearanceFooter::indicatorImageWithColor(const UIColorPtr& color) {
  // The home screen's bundle lives at a fixed place of the device, under its root here.
  auto springboard = platform::Bundle::bundleWithPath(platform::deviceRoot() + kSpringBoardPath);
  if (!springboard) return nullptr;
  auto image = UIImage::imageNamedInBundleCompatibleWithTraitCollection(
      "IconNewDot", springboard->bundlePath(), nullptr);
  return image ? image->_flatImageWithColor(color) : nullptr;
}

void HXAppearanceFooter::layoutSubviews() {
  PSTableCell::layoutSubviews();
  auto container = containerView_.lock();
  if (!container) return;
  const UIEdgeInsets margins = container->layoutMargins();
  const double width =
      container->frame().size.width - iconWidth_ - margins.left - 2 * margins.right;
  for (const auto& label : textLabels_) label->setPreferredMaxLayoutWidth(width);
}

double HXAppearanceFooter::preferredHeightForWidth(double) {
  return 160.0;
}
