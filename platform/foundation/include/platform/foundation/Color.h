// An RGBA colour with components in 0…1, as UIColor holds it (colorWithRed:green:blue:alpha:).
#pragma once

#include "platform/foundation/Export.h"

namespace platform {

struct HX_PLATFORM_EXPORT Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 0;

  static Color rgba(double red, double green, double blue, double alpha) {
    return Color{red, green, blue, alpha};
  }
  static Color white(double white, double alpha) { return Color{white, white, white, alpha}; }
  friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace platform
