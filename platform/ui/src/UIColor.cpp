#include "platform/ui/UIColor.h"

#include "UIClass_p.h"
#include "platform/ui/UITraitCollection.h"

const platform::Class& UIColor::staticClass() {
  static const platform::Class& cls =
      platform::uidetail::defineClass("UIColor", platform::Object::staticClass(),
                                      [] { return std::make_shared<UIColor>(platform::Color{}); });
  return cls;
}

std::shared_ptr<UIColor> UIColor::colorWithRedGreenBlueAlpha(double red, double green, double blue,
                                                             double alpha) {
  return std::make_shared<UIColor>(platform::Color::rgba(red, green, blue, alpha));
}

std::shared_ptr<UIColor> UIColor::colorWithWhiteAlpha(double white, double alpha) {
  return std::make_shared<UIColor>(platform::Color::white(white, alpha));
}

std::shared_ptr<UIColor> UIColor::whiteColor() {
  return colorWithWhiteAlpha(1, 1);
}
std::shared_ptr<UIColor> UIColor::blackColor() {
  return colorWithWhiteAlpha(0, 1);
}
std::shared_ptr<UIColor> UIColor::clearColor() {
  return colorWithWhiteAlpha(0, 0);
}

std::shared_ptr<UIColor> UIColor::colorWithDynamicProvider(DynamicProvider provider) {
  if (!provider) return clearColor();
  auto unspecified = std::make_shared<UIColor>(provider, platform::Color{});
  return std::make_shared<UIColor>(
      std::move(provider), unspecified->resolvedColorWithTraitCollection(UITraitCollection()));
}

platform::Color UIColor::resolvedColorWithTraitCollection(const UITraitCollection& traits) const {
  // A provider may answer with another dynamic colour; one that leads back to itself ends
  // after a few steps instead of looping.
  const UIColor* color = this;
  std::shared_ptr<UIColor> answer;
  for (int depth = 0; depth < 8 && color->provider_; ++depth) {
    answer = color->provider_(traits);
    if (!answer) return platform::Color::white(0, 0);
    color = answer.get();
  }
  return color->color_;
}

[[maybe_unused]] static const platform::Class& kUIColorClass = UIColor::staticClass();
