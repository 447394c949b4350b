// The traits an image is chosen for; here only the display scale (0 = unspecified).
#pragma once

#include <memory>

#include "platform/foundation/Object.h"

class UITraitCollection : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  explicit UITraitCollection(double displayScale = 0) : displayScale_(displayScale) {}
  static std::shared_ptr<UITraitCollection> traitCollectionWithDisplayScale(double scale) {
    return std::make_shared<UITraitCollection>(scale);
  }
  double displayScale() const { return displayScale_; }

 private:
  const double displayScale_;
};
