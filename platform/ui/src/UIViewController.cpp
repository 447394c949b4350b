#include "platform/ui/UIViewController.h"

#include "UIClass_p.h"
#include "platform/ui/UIScreen.h"

const platform::Class& UIViewController::staticClass() {
  static const platform::Class& cls = platform::uidetail::defineClass(
      "UIViewController", platform::Object::staticClass(),
      [] { return std::make_shared<UIViewController>(); },
      [](platform::Class& c) {
        c.addMethod("title", [](platform::Object& self, const platform::Arguments&) {
          return platform::Value(platform::receiver<UIViewController>(self).title());
        });
        c.addMethod("setTitle:", [](platform::Object& self, const platform::Arguments& args) {
          platform::receiver<UIViewController>(self).setTitle(args.at(0).stringValue());
          return platform::Value();
        });
      });
  return cls;
}

const UIViewPtr& UIViewController::view() {
  if (!view_) {
    loadView();
    if (!view_) view_ = std::make_shared<UIView>(UIScreen::mainScreen()->bounds());
    viewDidLoad();
  }
  return view_;
}

void UIViewController::loadView() {
  view_ = std::make_shared<UIView>(UIScreen::mainScreen()->bounds());
}

void UIViewController::viewWillAppear(bool /*animated*/) {}

[[maybe_unused]] static const platform::Class& kUIViewControllerClass =
    UIViewController::staticClass();
