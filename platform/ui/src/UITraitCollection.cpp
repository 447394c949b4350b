#include "platform/ui/UITraitCollection.h"

#include "UIClass_p.h"

const platform::Class& UITraitCollection::staticClass() {
  static const platform::Class& cls =
      platform::uidetail::defineClass("UITraitCollection", platform::Object::staticClass(),
                                      [] { return std::make_shared<UITraitCollection>(); });
  return cls;
}

[[maybe_unused]] static const platform::Class& kUITraitCollectionClass =
    UITraitCollection::staticClass();
