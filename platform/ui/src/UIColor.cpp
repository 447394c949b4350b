#include "platform/ui/UIColor.h"

#include "UIClass_p.h"

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

[[maybe_unused]] static const platform::Class& kUIColorClass = UIColor::staticClass();
