#include "platform/ui/UIFont.h"

#include "UIClass_p.h"

const platform::Class& UIFont::staticClass() {
  static const platform::Class& cls = platform::uidetail::defineClass(
      "UIFont", platform::Object::staticClass(),
      [] { return std::make_shared<UIFont>(kSystemFontFamily, 17.0); });
  return cls;
}

std::shared_ptr<UIFont> UIFont::systemFontOfSize(double pointSize) {
  return std::make_shared<UIFont>(kSystemFontFamily, pointSize);
}

std::shared_ptr<UIFont> UIFont::boldSystemFontOfSize(double pointSize) {
  return std::make_shared<UIFont>(kSystemFontFamily, pointSize, true);
}

std::shared_ptr<UIFont> UIFont::fontWithNameSize(const std::string& familyName, double pointSize) {
  return std::make_shared<UIFont>(familyName, pointSize);
}

[[maybe_unused]] static const platform::Class& kUIFontClass = UIFont::staticClass();
