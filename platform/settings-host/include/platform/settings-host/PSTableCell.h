// The cell of one specifier row, and the base of custom cells and of group header and footer
// views that plists name ("cellClass", "headerCellClass", "footerCellClass"). The cell shows
// its specifier: the label, the current value (read through the getter), a switch for switch
// rows, a disclosure for links, and a greyed, inert look when the row is disabled. Main
// thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/settings-host/PSSpecifier.h"
#include "platform/ui/UISwitch.h"
#include "platform/ui/UITableViewCell.h"

class PSTableCell : public UITableViewCell {
  HX_OBJECT_CLASS()

 public:
  // A cell's style and reuse identifier are fixed here; a subclass passes its own.
  explicit PSTableCell(UITableViewCellStyle style = UITableViewCellStyleDefault,
                       std::string reuseIdentifier = {});

  // A new cell of `style` under `reuseIdentifier`, showing `specifier` (may be null).
  static std::shared_ptr<PSTableCell> cellWithStyleReuseIdentifierSpecifier(
      UITableViewCellStyle style, const std::string& reuseIdentifier,
      const PSSpecifierPtr& specifier);

  // initWithStyle:reuseIdentifier:specifier:, the base initialiser that subclasses call from
  // their own: attaches `specifier` and shows it. `style` and `reuseIdentifier` must be the
  // ones the cell was constructed with (a mismatch is logged; the constructed ones stay).
  // Returns this cell; null only when the cell is not owned by a std::shared_ptr.
  std::shared_ptr<PSTableCell> initWithStyleReuseIdentifierSpecifier(
      UITableViewCellStyle style, const std::string& reuseIdentifier,
      const PSSpecifierPtr& specifier);

  // initWithSpecifier:, how the host makes a group's header or footer view of a named class.
  // The base calls initWithStyleReuseIdentifierSpecifier with the constructed style and
  // reuse identifier. Returns the cell, or null to say that the view could not be made (the
  // group then shows its footer text). Also bound as the runtime operation "initWithSpecifier:".
  virtual std::shared_ptr<PSTableCell> initWithSpecifier(const PSSpecifierPtr& specifier);

  // The height this view wants as a group footer or header at `width`; the base has no wish
  // and answers UITableViewAutomaticDimension (negative). Bound as "preferredHeightForWidth:".
  virtual double preferredHeightForWidth(double width);

  const PSSpecifierPtr& specifier() const { return specifier_; }
  // Attaches `specifier` (may be null) without showing it; see refreshCellContentsWithSpecifier.
  void setSpecifier(PSSpecifierPtr specifier) { specifier_ = std::move(specifier); }

  // Shows `specifier` and keeps it: the label; for switch rows the getter's value on a
  // UISwitch accessory ("negate" shows it inverted); for link-list rows the short title (else
  // the title) of the current value; for title-value and edit-text rows the value as text;
  // a disclosure for link rows; the image under the "iconImage" property; a grey label, an
  // inert switch and no selection when the row is disabled. Overrides call the base.
  virtual void refreshCellContentsWithSpecifier(const PSSpecifierPtr& specifier);

  // The switch of a switch row; null for other rows.
  std::shared_ptr<UISwitch> control() const;
  // The person turned the row's control to `shownValue` (for a switch, a boolean as shown,
  // before "negate"): shows it, hands the stored value to the specifier's setter, then shows
  // what the getter reads back, so that a change the setter did not store springs back.
  // Returns false, changing nothing, when the row is disabled, has no control or no
  // specifier. An exception from the setter passes to the caller, the control showing the
  // getter's value.
  bool controlValueChanged(const platform::Value& shownValue);

  // False when the specifier's "enabled" property is false, as the cell was last refreshed.
  bool isCellEnabled() const { return enabled_; }

 private:
  PSSpecifierPtr specifier_;
  bool enabled_ = true;
};

using PSTableCellPtr = std::shared_ptr<PSTableCell>;
