// A view that shows text in one font and colour, measured and drawn with Pango. Its intrinsic
// size is the text's size on one line, or wrapped by words when it may take several lines
// and has a width to wrap at; sizes are rounded up to the screen's pixel grid.
// Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/UIFont.h"
#include "platform/ui/UIView.h"

enum NSLineBreakMode : int {
  NSLineBreakByWordWrapping = 0,
  NSLineBreakByCharWrapping = 1,
  NSLineBreakByClipping = 2,
  NSLineBreakByTruncatingHead = 3,
  NSLineBreakByTruncatingTail = 4,
  NSLineBreakByTruncatingMiddle = 5,
};

enum NSTextAlignment : int {
  NSTextAlignmentLeft = 0,
  NSTextAlignmentCenter = 1,
  NSTextAlignmentRight = 2,
  NSTextAlignmentJustified = 3,
  NSTextAlignmentNatural = 4,
};

class UILabel : public UIView {
  HX_OBJECT_CLASS()

 public:
  UILabel();

  const std::string& text() const { return text_; }
  // Setting the text it already shows changes nothing; a copy reuses the label's buffer.
  void setText(const std::string& text);
  void setText(std::string&& text);
  // Never null: setting null restores the system font at 17 points.
  const UIFontPtr& font() const { return font_; }
  void setFont(UIFontPtr font);
  // Never null: setting null restores opaque black.
  const UIColorPtr& textColor() const { return textColor_; }
  void setTextColor(UIColorPtr color);
  NSTextAlignment textAlignment() const { return textAlignment_; }
  void setTextAlignment(NSTextAlignment alignment) { textAlignment_ = alignment; }
  // 1 by default; 0 means as many lines as the text needs. Negative values are taken as 0.
  long numberOfLines() const { return numberOfLines_; }
  void setNumberOfLines(long lines);
  // Truncating the tail by default, as the platform's labels do. Values outside the
  // enumeration are taken as that default. Every mode but character wrapping wraps by words
  // when the label may take several lines.
  NSLineBreakMode lineBreakMode() const { return lineBreakMode_; }
  void setLineBreakMode(NSLineBreakMode mode);
  // The width at which a multi-line label wraps when measured; 0 (the default) means "the
  // width of the previous layout pass, else none". Negative or non-finite values count as 0.
  double preferredMaxLayoutWidth() const { return preferredMaxLayoutWidth_; }
  void setPreferredMaxLayoutWidth(double width);

  // One line: the text's width × one line's height. With numberOfLines ≠ 1 and a wrap width
  // W (see preferredMaxLayoutWidth): wrapped by words at W, at most numberOfLines lines; the
  // width is then at most W. Each size is rounded up to 1/scale of the main screen. Empty
  // text gives 0 × 0.
  CGSize intrinsicContentSize() const override;
  // The text's size when wrapped at `width` (≤ 0: not wrapped), under the same rules.
  CGSize textSizeForWidth(double width) const;
  // The font's ascent below the top, and descent above the bottom.
  std::optional<CGFloat> firstBaselineOffsetFromTop() const override;
  CGFloat lastBaselineOffsetFromBottom() const override;
  // Notes the width it was laid out at; asks for another pass when a multi-line label
  // without preferredMaxLayoutWidth would now wrap differently.
  void layoutSubviews() override;

  // The width the text wraps at when drawn or measured now; ≤ 0 for no wrapping.
  double effectiveWrapWidth() const;

 private:
  std::string text_;
  UIFontPtr font_;
  UIColorPtr textColor_;
  NSTextAlignment textAlignment_ = NSTextAlignmentNatural;
  long numberOfLines_ = 1;
  NSLineBreakMode lineBreakMode_ = NSLineBreakByTruncatingTail;
  double preferredMaxLayoutWidth_ = 0;
  double lastLayoutWidth_ = 0;
};

using UILabelPtr = std::shared_ptr<UILabel>;
