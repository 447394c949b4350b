#include "platform/ui/UIScreen.h"

#include <cmath>

#include "UIClass_p.h"

const platform::Class& UIScreen::staticClass() {
  static const platform::Class& cls = platform::uidetail::defineClass(
      "UIScreen", platform::Object::staticClass(),
      [] { return std::static_pointer_cast<platform::Object>(UIScreen::mainScreen()); });
  return cls;
}

std::shared_ptr<UIScreen> UIScreen::mainScreen() {
  // Kept alive for the process: views and images read the scale until exit.
  static auto* screen = new std::shared_ptr<UIScreen>(std::make_shared<UIScreen>());
  return *screen;
}

void UIScreen::setScale(double scale) {
  if (std::isfinite(scale) && scale > 0) scale_ = scale;
}

[[maybe_unused]] static const platform::Class& kUIScreenClass = UIScreen::staticClass();
