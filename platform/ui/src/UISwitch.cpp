#include "platform/ui/UISwitch.h"

#include "UIClass_p.h"

const platform::Class& UISwitch::staticClass() {
  static const platform::Class& cls = platform::uidetail::defineClass(
      "UISwitch", UIView::staticClass(), [] { return std::make_shared<UISwitch>(); });
  return cls;
}

[[maybe_unused]] static const platform::Class& kUISwitchClass = UISwitch::staticClass();
