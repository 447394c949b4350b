#include "platform/ui/UITableViewCell.h"

#include <algorithm>

#include "UIClass_p.h"

const platform::Class& UITableViewCell::staticClass() {
  static const platform::Class& cls = platform::uidetail::defineClass(
      "UITableViewCell", UIView::staticClass(), [] { return std::make_shared<UITableViewCell>(); });
  return cls;
}

namespace {

UITableViewCellStyle knownStyle(UITableViewCellStyle style) {
  return style >= UITableViewCellStyleDefault && style <= UITableViewCellStyleSubtitle
             ? style
             : UITableViewCellStyleDefault;
}

// Insets of the platform's cells.
constexpr double kSideInset = 15;
constexpr double kAccessoryWidth = 34;

}  // namespace

UITableViewCell::UITableViewCell(UITableViewCellStyle style, std::string reuseIdentifier)
    : UIView(CGRectMake(0, 0, 320, 44)),
      style_(knownStyle(style)),
      reuseIdentifier_(std::move(reuseIdentifier)),
      contentView_(std::make_shared<UIView>(CGRectMake(0, 0, 320, 44))) {}

std::shared_ptr<UITableViewCell> UITableViewCell::initWithStyleReuseIdentifier(
    UITableViewCellStyle style, const std::string& reuseIdentifier) {
  return std::make_shared<UITableViewCell>(style, reuseIdentifier);
}

// The content view can only join the tree once the cell is owned by a shared pointer, which
// is never the case inside the constructor; every path that needs it attaches it first.
void UITableViewCell::attachContentView() {
  if (contentViewAttached_) return;
  contentViewAttached_ = true;
  insertSubviewAtIndex(contentView_, 0);
}

const UIViewPtr& UITableViewCell::contentView() {
  attachContentView();
  return contentView_;
}

const UILabelPtr& UITableViewCell::textLabel() {
  if (!textLabel_) {
    textLabel_ = std::make_shared<UILabel>();
    contentView()->addSubview(textLabel_);
  }
  return textLabel_;
}

const UILabelPtr& UITableViewCell::detailTextLabel() {
  if (!detailTextLabel_ && style_ != UITableViewCellStyleDefault) {
    detailTextLabel_ = std::make_shared<UILabel>();
    detailTextLabel_->setFont(
        UIFont::systemFontOfSize(style_ == UITableViewCellStyleSubtitle ? 12 : 17));
    if (style_ == UITableViewCellStyleValue1) {
      detailTextLabel_->setTextColor(UIColor::colorWithWhiteAlpha(0.56, 1));
    }
    contentView()->addSubview(detailTextLabel_);
  }
  return detailTextLabel_;
}

const UIImageViewPtr& UITableViewCell::imageView() {
  if (!imageView_) {
    imageView_ = std::make_shared<UIImageView>();
    contentView()->addSubview(imageView_);
  }
  return imageView_;
}

void UITableViewCell::setAccessoryView(UIViewPtr view) {
  if (view == accessoryView_) return;
  if (accessoryView_ && accessoryView_->superview().get() == this) {
    accessoryView_->removeFromSuperview();
  }
  accessoryView_ = std::move(view);
  if (accessoryView_) addSubview(accessoryView_);
  setNeedsLayout();
}

void UITableViewCell::prepareForReuse() {
  selected_ = false;
}

void UITableViewCell::layoutSubviews() {
  UIView::layoutSubviews();
  attachContentView();
  const CGRect bounds = this->bounds();
  double contentWidth = bounds.size.width;
  if (accessoryView_) {
    const CGSize size = accessoryView_->frame().size;
    contentWidth = std::max(0.0, bounds.size.width - size.width - kSideInset);
    accessoryView_->setFrame(
        CGRectMake(contentWidth, (bounds.size.height - size.height) / 2, size.width, size.height));
  } else if (accessoryType_ != UITableViewCellAccessoryNone) {
    contentWidth = std::max(0.0, bounds.size.width - kAccessoryWidth);
  }
  contentView_->setFrame(CGRectMake(0, 0, contentWidth, bounds.size.height));

  double x = kSideInset;
  if (imageView_ && imageView_->image()) {
    const CGSize size = imageView_->image()->size();
    imageView_->setFrame(
        CGRectMake(kSideInset, (bounds.size.height - size.height) / 2, size.width, size.height));
    x += size.width + kSideInset;
  } else if (imageView_) {
    imageView_->setFrame(CGRectZero);
  }
  const double right = contentWidth - kSideInset;
  auto place = [&](const UILabelPtr& label, double left, double top, double height) {
    const CGSize size = label->intrinsicContentSize();
    const double width = std::max(0.0, std::min(size.width, right - left));
    label->setFrame(CGRectMake(left, top + (height - size.height) / 2, width, size.height));
  };
  const double height = bounds.size.height;
  if (style_ == UITableViewCellStyleSubtitle && detailTextLabel_ && textLabel_) {
    const double textHeight = textLabel_->intrinsicContentSize().height;
    const double detailHeight = detailTextLabel_->intrinsicContentSize().height;
    const double top = (height - textHeight - detailHeight) / 2;
    place(textLabel_, x, top, textHeight);
    place(detailTextLabel_, x, top + textHeight, detailHeight);
    return;
  }
  if (textLabel_) place(textLabel_, x, 0, height);
  if (detailTextLabel_) {
    const CGSize size = detailTextLabel_->intrinsicContentSize();
    const double width = std::max(0.0, std::min(size.width, right - x));
    const double left = style_ == UITableViewCellStyleValue1 ? right - width : x + 91;
    detailTextLabel_->setFrame(CGRectMake(left, (height - size.height) / 2, width, size.height));
  }
}

[[maybe_unused]] static const platform::Class& kUITableViewCellClass =
    UITableViewCell::staticClass();
