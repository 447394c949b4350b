// The device's main screen: its scale (pixels per point) and its size in points. One per
// process; main thread only.
#pragma once

#include <memory>

#include "platform/foundation/Object.h"
#include "platform/ui/Geometry.h"

class UIScreen : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  UIScreen() = default;

  // The process's screen, built on first use (scale 2, 375 × 667 points) and never destroyed.
  static std::shared_ptr<UIScreen> mainScreen();

  double scale() const { return scale_; }
  // Accepts 1, 2, 3 and any other finite value above 0; anything else is ignored, so that
  // the screen never has a scale that would divide by zero.
  void setScale(double scale);
  CGRect bounds() const { return bounds_; }
  void setBounds(CGRect bounds) { bounds_ = bounds; }

 private:
  double scale_ = 2.0;
  CGRect bounds_ = CGRectMake(0, 0, 375, 667);
};
