// Colours as the UI model uses them: an immutable RGBA value (components 0…1) shared by
// reference, so that "no colour" is a null pointer as the platform's nil is.
#pragma once

#include <memory>

#include "platform/foundation/Color.h"
#include "platform/foundation/Object.h"

class UIColor : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  explicit UIColor(platform::Color color) : color_(color) {}

  // Components are kept as given; values outside 0…1 are clamped when drawn, not here.
  static std::shared_ptr<UIColor> colorWithRedGreenBlueAlpha(double red, double green, double blue,
                                                             double alpha);
  static std::shared_ptr<UIColor> colorWithWhiteAlpha(double white, double alpha);
  static std::shared_ptr<UIColor> whiteColor();  // white 1, alpha 1
  static std::shared_ptr<UIColor> blackColor();  // white 0, alpha 1
  static std::shared_ptr<UIColor> clearColor();  // white 0, alpha 0

  const platform::Color& color() const { return color_; }
  // Equal components (isEqual:).
  bool isEqual(const UIColor& other) const { return color_ == other.color_; }

 private:
  const platform::Color color_;
};

using UIColorPtr = std::shared_ptr<UIColor>;
