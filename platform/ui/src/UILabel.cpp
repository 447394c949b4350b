#include "platform/ui/UILabel.h"

#include <cmath>

#include "TextLayout_p.h"
#include "UIClass_p.h"
#include "platform/ui/UIScreen.h"

const platform::Class& UILabel::staticClass() {
  static const platform::Class& cls = platform::uidetail::defineClass(
      "UILabel", UIView::staticClass(), [] { return std::make_shared<UILabel>(); });
  return cls;
}

namespace {

double roundUpToPixels(double points) {
  const double scale = UIScreen::mainScreen()->scale();
  // A tolerance keeps an exact pixel edge that arrives as x.0000000001 from gaining a pixel.
  return std::ceil(points * scale - 1e-6) / scale;
}

}  // namespace

UILabel::UILabel() : font_(UIFont::systemFontOfSize(17)), textColor_(UIColor::blackColor()) {}

void UILabel::setText(const std::string& text) {
  if (text == text_) return;
  // Cells are handed out again with new rows on every reload: assigning into the existing
  // buffer spares thousands of allocations on a long list.
  text_.assign(text);
  invalidateIntrinsicContentSize();
}

void UILabel::setText(std::string&& text) {
  if (text == text_) return;
  text_ = std::move(text);
  invalidateIntrinsicContentSize();
}

void UILabel::setFont(UIFontPtr font) {
  font_ = font ? std::move(font) : UIFont::systemFontOfSize(17);
  invalidateIntrinsicContentSize();
}

void UILabel::setTextColor(UIColorPtr color) {
  textColor_ = color ? std::move(color) : UIColor::blackColor();
}

void UILabel::setNumberOfLines(long lines) {
  lines = std::max(0L, lines);
  if (lines == numberOfLines_) return;
  numberOfLines_ = lines;
  invalidateIntrinsicContentSize();
}

void UILabel::setLineBreakMode(NSLineBreakMode mode) {
  if (mode < NSLineBreakByWordWrapping || mode > NSLineBreakByTruncatingMiddle) {
    mode = NSLineBreakByTruncatingTail;
  }
  if (mode == lineBreakMode_) return;
  lineBreakMode_ = mode;
  invalidateIntrinsicContentSize();
}

void UILabel::setPreferredMaxLayoutWidth(double width) {
  if (!std::isfinite(width) || width < 0) width = 0;
  if (width == preferredMaxLayoutWidth_) return;
  preferredMaxLayoutWidth_ = width;
  invalidateIntrinsicContentSize();
}

double UILabel::effectiveWrapWidth() const {
  if (numberOfLines_ == 1) return 0;
  return preferredMaxLayoutWidth_ > 0 ? preferredMaxLayoutWidth_ : lastLayoutWidth_;
}

CGSize UILabel::textSizeForWidth(double width) const {
  if (text_.empty()) return CGSizeZero;
  CGSize size = platform::text::measureLabel(*this, width);
  size.width = roundUpToPixels(size.width);
  size.height = roundUpToPixels(size.height);
  if (width > 0 && numberOfLines_ != 1) size.width = std::min(size.width, roundUpToPixels(width));
  return size;
}

CGSize UILabel::intrinsicContentSize() const {
  return textSizeForWidth(effectiveWrapWidth());
}

std::optional<CGFloat> UILabel::firstBaselineOffsetFromTop() const {
  return platform::text::ascent(*this);
}

CGFloat UILabel::lastBaselineOffsetFromBottom() const {
  return std::max(0.0, platform::text::lineHeight(*this) - platform::text::ascent(*this));
}

void UILabel::layoutSubviews() {
  UIView::layoutSubviews();
  const double width = frame().size.width;
  if (width == lastLayoutWidth_) return;
  lastLayoutWidth_ = width;
  if (numberOfLines_ != 1 && preferredMaxLayoutWidth_ == 0) invalidateIntrinsicContentSize();
}

[[maybe_unused]] static const platform::Class& kUILabelClass = UILabel::staticClass();
