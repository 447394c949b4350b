// The traits an image or a colour is chosen for: the display scale (0 = unspecified) and the
// light or dark appearance (unspecified = light).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/foundation/Object.h"

enum UIUserInterfaceStyle : std::int64_t {
  UIUserInterfaceStyleUnspecified = 0,
  UIUserInterfaceStyleLight = 1,
  UIUserInterfaceStyleDark = 2,
};

class UITraitCollection : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  explicit UITraitCollection(double displayScale = 0,
                             UIUserInterfaceStyle style = UIUserInterfaceStyleUnspecified)
      : displayScale_(displayScale), userInterfaceStyle_(style) {}
  static std::shared_ptr<UITraitCollection> traitCollectionWithDisplayScale(double scale) {
    return std::make_shared<UITraitCollection>(scale);
  }
  static std::shared_ptr<UITraitCollection> traitCollectionWithUserInterfaceStyle(
      UIUserInterfaceStyle style) {
    return std::make_shared<UITraitCollection>(0, style);
  }
  double displayScale() const { return displayScale_; }
  UIUserInterfaceStyle userInterfaceStyle() const { return userInterfaceStyle_; }

 private:
  const double displayScale_;
  const UIUserInterfaceStyle userInterfaceStyle_;
};
