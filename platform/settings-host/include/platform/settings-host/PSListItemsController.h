// The page a link-list row opens: one row per choice, a checkmark on the current one.
//
// The choices are the list-item rows of specifiers(). The base builds them from the opening
// specifier: one PSListItemCell per validValues entry, labelled with its full title and
// carrying the value under the "value" property. A subclass may supply its own specifiers()
// (a plist of list items, say); an item without "value" stands for the first value whose
// title equals its label.
//
// The current choice is the opening specifier's getter value, else its "default". Choosing a
// row hands it to the opening specifier's setter and reloads the list, so the checkmark moves
// to the chosen row; the page stays open until the person goes back (the previous page reads
// its rows again as it reappears). What the setter receives:
//   - a setter with two arguments ("setX:forSpecifier:") receives the chosen item's TITLE
//     (its label); it gets the specifier too, and so its titleDictionary to map the title
//     back to a value;
//   - a one-argument setter ("setX:"), and rows with no setter, receive the item's VALUE.
// Choosing the current row sets it again. Main thread only.
#pragma once

#include "platform/settings-host/PSListController.h"

class PSListItemsController : public PSListController {
  HX_OBJECT_CLASS()

 public:
  PSListItemsController() = default;

  const std::vector<PSSpecifierPtr>& specifiers() override;
  // Adds the checkmark to list-item rows.
  std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(
      UITableView& tableView, const NSIndexPath& indexPath) override;
  // A list-item row is chosen as above; other rows behave as on any list page.
  void tableViewDidSelectRowAtIndexPath(UITableView& tableView,
                                        const NSIndexPath& indexPath) override;

  // The value `item` stands for: its "value" property, else the first key of the opening
  // specifier's titleDictionary whose title is the item's label; None when neither.
  platform::Value valueForItem(const PSSpecifier& item) const;
  // Whether `item` is the current choice.
  bool isCurrentItem(const PSSpecifier& item);
  // Hands `item` to the opening specifier's setter (see above) and reloads the rows. False,
  // with nothing reloaded, when there is no opening specifier or nothing answered the setter.
  bool chooseItem(const PSSpecifierPtr& item);
};
