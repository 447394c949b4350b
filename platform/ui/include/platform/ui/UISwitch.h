// An on/off switch as a plain view: its state and whether it takes input; 51 × 31 points.
#pragma once

#include <memory>

#include "platform/ui/UIView.h"

class UISwitch : public UIView {
  HX_OBJECT_CLASS()

 public:
  UISwitch() { setFrame(CGRectMake(0, 0, 51, 31)); }

  bool isOn() const { return on_; }
  void setOn(bool on) { on_ = on; }
  void setOnAnimated(bool on, bool /*animated*/) { on_ = on; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  CGSize intrinsicContentSize() const override { return CGSizeMake(51, 31); }

 private:
  bool on_ = false;
  bool enabled_ = true;
};

using UISwitchPtr = std::shared_ptr<UISwitch>;
