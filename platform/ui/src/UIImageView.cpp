#include "platform/ui/UIImageView.h"

#include "UIClass_p.h"

const platform::Class& UIImageView::staticClass() {
  static const platform::Class& cls = platform::uidetail::defineClass(
      "UIImageView", UIView::staticClass(), [] { return std::make_shared<UIImageView>(); });
  return cls;
}

UIImageView::UIImageView(UIImagePtr image) : image_(std::move(image)) {
  if (image_) setFrame(CGRect{CGPoint{}, image_->size()});
}

std::shared_ptr<UIImageView> UIImageView::initWithImage(UIImagePtr image) {
  return std::make_shared<UIImageView>(std::move(image));
}

void UIImageView::setImage(UIImagePtr image) {
  if (image == image_) return;
  const CGSize before = intrinsicContentSize();
  image_ = std::move(image);
  if (intrinsicContentSize() != before) invalidateIntrinsicContentSize();
}

CGSize UIImageView::intrinsicContentSize() const {
  return image_ ? image_->size() : CGSizeZero;
}

[[maybe_unused]] static const platform::Class& kUIImageViewClass = UIImageView::staticClass();
