// Colours as the UI model uses them: an immutable RGBA value (components 0…1) shared by
// reference, so that "no colour" is a null pointer as the platform's nil is. A dynamic colour
// is chosen anew for the traits it is drawn with (light or dark appearance).
#pragma once

#include <functional>
#include <memory>

#include "platform/foundation/Color.h"
#include "platform/foundation/Object.h"

class UITraitCollection;

class UIColor : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  using DynamicProvider = std::function<std::shared_ptr<UIColor>(const UITraitCollection&)>;

  explicit UIColor(platform::Color color) : color_(color) {}
  // A dynamic colour; color() is its choice for unspecified traits.
  UIColor(DynamicProvider provider, platform::Color unspecified)
      : color_(unspecified), provider_(std::move(provider)) {}

  // Components are kept as given; values outside 0…1 are clamped when drawn, not here.
  static std::shared_ptr<UIColor> colorWithRedGreenBlueAlpha(double red, double green, double blue,
                                                             double alpha);
  static std::shared_ptr<UIColor> colorWithWhiteAlpha(double white, double alpha);
  static std::shared_ptr<UIColor> whiteColor();  // white 1, alpha 1
  static std::shared_ptr<UIColor> blackColor();  // white 0, alpha 1
  static std::shared_ptr<UIColor> clearColor();  // white 0, alpha 0

  // colorWithDynamicProvider: the colour `provider` returns for the traits it is resolved
  // with. The provider is called on the main thread, for every resolution; a null answer
  // resolves to clear.
  static std::shared_ptr<UIColor> colorWithDynamicProvider(DynamicProvider provider);

  // The components for unspecified traits (a fixed colour's own components).
  const platform::Color& color() const { return color_; }
  // The components for `traits`: a fixed colour's own, a dynamic colour's provider's answer
  // (resolved again, should it be dynamic itself).
  platform::Color resolvedColorWithTraitCollection(const UITraitCollection& traits) const;
  bool isDynamic() const { return static_cast<bool>(provider_); }
  // Equal components for unspecified traits (isEqual:).
  bool isEqual(const UIColor& other) const { return color_ == other.color_; }

 private:
  const platform::Color color_;
  const DynamicProvider provider_;
};

using UIColorPtr = std::shared_ptr<UIColor>;
