// One row of a table: a content view with a text label, an optional detail label and an
// image view, plus an accessory. Cells are reused under their reuse identifier. The cell owns
// its views. Main thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/NSIndexPath.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"

enum UITableViewCellStyle : int {
  UITableViewCellStyleDefault = 0,
  UITableViewCellStyleValue1 = 1,
  UITableViewCellStyleValue2 = 2,
  UITableViewCellStyleSubtitle = 3,
};

enum UITableViewCellAccessoryType : int {
  UITableViewCellAccessoryNone = 0,
  UITableViewCellAccessoryDisclosureIndicator = 1,
  UITableViewCellAccessoryDetailDisclosureButton = 2,
  UITableViewCellAccessoryCheckmark = 3,
  UITableViewCellAccessoryDetailButton = 4,
};

enum UITableViewCellSelectionStyle : int {
  UITableViewCellSelectionStyleNone = 0,
  UITableViewCellSelectionStyleBlue = 1,
  UITableViewCellSelectionStyleGray = 2,
  UITableViewCellSelectionStyleDefault = 3,
};

class UITableView;

class UITableViewCell : public UIView {
  HX_OBJECT_CLASS()

 public:
  // Styles outside the enumeration are taken as the default style.
  explicit UITableViewCell(UITableViewCellStyle style = UITableViewCellStyleDefault,
                           std::string reuseIdentifier = {});
  // initWithStyle:reuseIdentifier:.
  static std::shared_ptr<UITableViewCell> initWithStyleReuseIdentifier(
      UITableViewCellStyle style, const std::string& reuseIdentifier);

  UITableViewCellStyle style() const { return style_; }
  const std::string& reuseIdentifier() const { return reuseIdentifier_; }

  // The view that holds the labels and the image; the cell's first subview.
  const UIViewPtr& contentView();
  // Made on first use inside the content view. textLabel and imageView exist for every style;
  // detailTextLabel is null for the default style.
  const UILabelPtr& textLabel();
  const UILabelPtr& detailTextLabel();
  const UIImageViewPtr& imageView();
  // Without making the views: null when they were never asked for.
  const UILabelPtr& existingTextLabel() const { return textLabel_; }
  const UILabelPtr& existingDetailTextLabel() const { return detailTextLabel_; }
  const UIImageViewPtr& existingImageView() const { return imageView_; }

  UITableViewCellAccessoryType accessoryType() const { return accessoryType_; }
  void setAccessoryType(UITableViewCellAccessoryType type) { accessoryType_ = type; }
  // A custom accessory (a switch, say); it replaces accessoryType when set.
  const UIViewPtr& accessoryView() const { return accessoryView_; }
  void setAccessoryView(UIViewPtr view);
  UITableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
  void setSelectionStyle(UITableViewCellSelectionStyle style) { selectionStyle_ = style; }
  bool isSelected() const { return selected_; }
  void setSelectedAnimated(bool selected, bool /*animated*/) { selected_ = selected; }

  // Runs when the table hands the cell out again from its reuse queue. Overrides call the
  // base, which clears the selection.
  virtual void prepareForReuse();
  // Places the content view, the accessory, the image and the labels. Overrides call the base.
  void layoutSubviews() override;

 private:
  void attachContentView();

  // The bookkeeping of the table that handed the cell out: where it shows the cell (when
  // shownBy_ is set) and whether the cell waits in its reuse queue.
  friend class UITableView;
  const UITableView* shownBy_ = nullptr;
  NSIndexPath shownAt_;
  const UITableView* queuedBy_ = nullptr;

  const UITableViewCellStyle style_;
  const std::string reuseIdentifier_;
  UIViewPtr contentView_;
  bool contentViewAttached_ = false;
  UILabelPtr textLabel_;
  UILabelPtr detailTextLabel_;
  UIImageViewPtr imageView_;
  UIViewPtr accessoryView_;
  UITableViewCellAccessoryType accessoryType_ = UITableViewCellAccessoryNone;
  UITableViewCellSelectionStyle selectionStyle_ = UITableViewCellSelectionStyleDefault;
  bool selected_ = false;
};

using UITableViewCellPtr = std::shared_ptr<UITableViewCell>;
