// The preview footer of the appearance pages: two rows, the active indicator then the
// inactive one, each showing an application icon with the tinted indicator dot under it, a
// title in capitals and one sentence of explanation. The rows are built for the first
// application identifier the page hands over; later ones are ignored. Main thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/settings-host/PSTableCell.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"

class HXAppearanceFooter : public PSTableCell {
  HX_OBJECT_CLASS()

 public:
  HXAppearanceFooter();

  // initWithSpecifier:: the base cell in style 0 under "HXAppearanceFooter", with no rows yet.
  std::shared_ptr<PSTableCell> initWithSpecifier(const PSSpecifierPtr& specifier) override;
  // Builds the rows for `identifier` the first time; does nothing afterwards.
  void setApplicationIdentifier(const std::string& identifier);
  void initializeWithApplicationIdentifier(const std::string& identifier);
  // After the base pass, gives every text label the width left beside the icon.
  void layoutSubviews() override;
  // One indicator row: icon, tinted dot, title and text, laid out with the visual format
  // language. The row is added to the cell itself and returned.
  std::shared_ptr<UIView> addViewForIndicatorColorIdentifierTitleText(const UIColorPtr& color,
                                                                      const std::string& identifier,
                                                                      const std::string& title,
                                                                      const std::string& text);
  // 160 points, whatever the width.
  double preferredHeightForWidth(double width) override;

  bool initialized() const { return initialized_; }
  void setInitialized(bool initialized) { initialized_ = initialized; }
  double iconWidth() const { return iconWidth_; }
  void setIconWidth(double width) { iconWidth_ = width; }
  // The last row built (the inactive row once built); not owned.
  std::shared_ptr<UIView> containerView() const { return containerView_.lock(); }
  void setContainerView(const std::shared_ptr<UIView>& view) { containerView_ = view; }
  const std::vector<UILabelPtr>& textLabels() const { return textLabels_; }

 protected:
  // Where a row's images come from: the application's icon at the main screen's scale, and the
  // home screen's dot tinted in the row's colour; nothing when missing. A benchmark or a test
  // hands in fixed images here and so lays out this very footer.
  virtual UIImagePtr applicationIconForIdentifier(const std::string& identifier);
  virtual UIImagePtr indicatorImageWithColor(const UIColorPtr& color);

 private:
  bool initialized_ = false;
  double iconWidth_ = 0;
  std::weak_ptr<UIView> containerView_;
  std::vector<UILabelPtr> textLabels_;
};
