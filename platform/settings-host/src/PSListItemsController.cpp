#include "platform/settings-host/PSListItemsController.h"

#include "platform/foundation/Log.h"

using platform::Value;

const platform::Class& PSListItemsController::staticClass() {
  static const platform::Class* cls = [] {
    auto* c = new platform::Class("PSListItemsController", &PSListController::staticClass(),
                                  [] { return std::make_shared<PSListItemsController>(); });
    platform::ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

const std::vector<PSSpecifierPtr>& PSListItemsController::specifiers() {
  if (_specifiers) return *_specifiers;
  _specifiers.emplace();
  const PSSpecifierPtr& opener = specifier();
  if (!opener) return *_specifiers;
  _specifiers->push_back(PSSpecifier::emptyGroupSpecifier());
  for (const PSTitleDictionary::Entry& entry : opener->titleDictionary().entries()) {
    auto item = PSSpecifier::preferenceSpecifierNamedTargetSetGetDetailCellEdit(
        entry.second.isString() ? entry.second.stringValue() : entry.second.description(), this, "",
        "", "", PSListItemCell);
    item->setPropertyForKey(entry.first, PSKey::kValue);
    _specifiers->push_back(std::move(item));
  }
  return *_specifiers;
}

Value PSListItemsController::valueForItem(const PSSpecifier& item) const {
  Value value = item.propertyForKey(PSKey::kValue);
  if (!value.isNone()) return value;
  const PSSpecifierPtr& opener = specifier();
  if (!opener) return {};
  std::vector<Value> keys = opener->titleDictionary().allKeysForObject(Value(item.name()));
  return keys.empty() ? Value() : keys.front();
}

bool PSListItemsController::isCurrentItem(const PSSpecifier& item) {
  const PSSpecifierPtr& opener = specifier();
  if (!opener) return false;
  const Value current = opener->currentValue();
  if (current.isNone()) return false;
  const Value value = valueForItem(item);
  if (!value.isNone()) return value == current;
  // An item that maps to no value is current when its label is the current value's title.
  const Value title = opener->titleDictionary().objectForKey(current);
  return title.isString() && title.stringValue() == item.name();
}

std::shared_ptr<UITableViewCell> PSListItemsController::tableViewCellForRowAtIndexPath(
    UITableView& tableView, const NSIndexPath& indexPath) {
  auto cell = PSListController::tableViewCellForRowAtIndexPath(tableView, indexPath);
  PSSpecifierPtr item = specifierAtIndexPath(indexPath);
  if (cell && item && item->cellType() == PSListItemCell) {
    cell->setAccessoryType(isCurrentItem(*item) ? UITableViewCellAccessoryCheckmark
                                                : UITableViewCellAccessoryNone);
  }
  return cell;
}

void PSListItemsController::tableViewDidSelectRowAtIndexPath(UITableView& tableView,
                                                             const NSIndexPath& indexPath) {
  PSSpecifierPtr item = specifierAtIndexPath(indexPath);
  if (!item || item->cellType() != PSListItemCell) {
    PSListController::tableViewDidSelectRowAtIndexPath(tableView, indexPath);
    return;
  }
  tableView.deselectRowAtIndexPathAnimated(indexPath, true);
  if (item->isEnabled()) chooseItem(item);
}

bool PSListItemsController::chooseItem(const PSSpecifierPtr& item) {
  // A setter may change the navigation stack; keep this page alive until the work is done.
  auto self = weak_from_this().lock();
  const PSSpecifierPtr opener = specifier();
  if (!opener || !item) return false;
  const std::string setter = opener->setter();
  Value argument;
  if (platform::Class::argumentCount(setter) >= 2) {
    argument = Value(item->name());
  } else {
    argument = valueForItem(*item);
    if (argument.isNone()) argument = Value(item->name());
  }
  if (!opener->performSetterWithValue(argument)) {
    platform::NSLog("The choice \"" + item->name() + "\" for \"" + opener->name() +
                    "\" reached no setter; nothing is stored");
    return false;
  }
  // The list stays open with the checkmark on the new choice, as the phone's list does.
  reloadSpecifiers();
  return true;
}

[[maybe_unused]] static const platform::Class& kPSListItemsControllerClass =
    PSListItemsController::staticClass();
