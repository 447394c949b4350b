// A view that shows one image scaled to its bounds. Its intrinsic size is the image's size
// in points (0 × 0 without an image). Main thread only.
#pragma once

#include <memory>

#include "platform/ui/UIImage.h"
#include "platform/ui/UIView.h"

class UIImageView : public UIView {
  HX_OBJECT_CLASS()

 public:
  UIImageView() = default;
  explicit UIImageView(UIImagePtr image);
  // initWithImage: the frame takes the image's size.
  static std::shared_ptr<UIImageView> initWithImage(UIImagePtr image);

  const UIImagePtr& image() const { return image_; }
  void setImage(UIImagePtr image);
  CGSize intrinsicContentSize() const override;

 private:
  UIImagePtr image_;
};

using UIImageViewPtr = std::shared_ptr<UIImageView>;
