// The appearance preview footer showing fixed images in place of the device's, for the footer's
// layout test and benchmark: what they build and lay out is the footer the pages show, with
// sizes known in advance and no files read.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "HXAppearanceFooter.h"

namespace hxtest {

class FooterWithImages final : public HXAppearanceFooter {
 public:
  FooterWithImages(UIImagePtr icon, UIImagePtr dot)
      : icon_(std::move(icon)), dot_(std::move(dot)) {}

  // A square image of `pixels` × `pixels` at `scale`, one grey.
  static UIImagePtr solidImage(int pixels, double scale) {
    return std::make_shared<UIImage>(pixels, pixels, scale,
                                     std::vector<std::uint32_t>(pixels * pixels, 0xFF808080u));
  }

 protected:
  UIImagePtr applicationIconForIdentifier(const std::string&) override { return icon_; }
  UIImagePtr indicatorImageWithColor(const UIColorPtr&) override { return dot_; }

 private:
  UIImagePtr icon_;
  UIImagePtr dot_;
};

}  // namespace hxtest
