#include "platform/settings-host/PSListController.h"

#include <algorithm>

#include "platform/foundation/Env.h"
#include "platform/foundation/Log.h"
#include "platform/settings-host/PagePlist.h"
#include "platform/settings-host/SettingsPlugins.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"

using platform::Value;

const platform::Class& PSListController::staticClass() {
  static const platform::Class* cls = [] {
    auto* c = new platform::Class("PSListController", &UIViewController::staticClass(),
                                  [] { return std::make_shared<PSListController>(); });
    c->addMethod("specifier", [](platform::Object& self, const platform::Arguments&) {
      return Value::object(platform::receiver<PSListController>(self).specifier());
    });
    c->addMethod("setSpecifier:", [](platform::Object& self, const platform::Arguments& args) {
      platform::receiver<PSListController>(self).setSpecifier(
          std::dynamic_pointer_cast<PSSpecifier>(args[0].objectValue()));
      return Value();
    });
    c->addMethod("reloadSpecifiers", [](platform::Object& self, const platform::Arguments&) {
      platform::receiver<PSListController>(self).reloadSpecifiers();
      return Value();
    });
    c->addMethod("reloadSpecifierID:animated:",
                 [](platform::Object& self, const platform::Arguments& args) {
                   platform::receiver<PSListController>(self).reloadSpecifierIDAnimated(
                       args[0].stringValue(), args[1].boolValue().value_or(false));
                   return Value();
                 });
    platform::ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

PSListController::~PSListController() = default;

// --- Specifiers -----------------------------------------------------------------------------

const std::vector<PSSpecifierPtr>& PSListController::specifiers() {
  if (!_specifiers) _specifiers.emplace();
  return *_specifiers;
}

std::vector<PSSpecifierPtr> PSListController::loadSpecifiersFromPlistNameTarget(
    const std::string& name, platform::Object* target) {
  const std::string folder = bundlePath();
  if (folder.empty()) {
    platform::NSLog("Cannot load the specifiers " + name + ".plist of " + objectClass().name() +
                    ": the page has no bundle; it has no rows");
    return {};
  }
  platform::PagePlist plist = platform::loadPagePlist(platform::defaultEnv(), folder, name, target);
  if (plist.title && title().empty()) setTitle(*plist.title);
  return std::move(plist.specifiers);
}

PSSpecifierPtr PSListController::specifierForID(const std::string& identifier) {
  for (const PSSpecifierPtr& specifier : specifiers()) {
    if (specifier && specifier->identifier() == identifier) return specifier;
  }
  return nullptr;
}

std::vector<PSListController::Group> PSListController::groups() {
  std::vector<Group> result;
  for (const PSSpecifierPtr& specifier : specifiers()) {
    if (!specifier) continue;
    if (specifier->cellType() == PSGroupCell) {
      result.push_back(Group{specifier, {}});
    } else {
      if (result.empty()) result.push_back(Group{nullptr, {}});
      result.back().rows.push_back(specifier);
    }
  }
  return result;
}

PSSpecifierPtr PSListController::groupSpecifierForSection(std::int64_t section) {
  std::vector<Group> all = groups();
  if (section < 0 || section >= static_cast<std::int64_t>(all.size())) return nullptr;
  return all[static_cast<std::size_t>(section)].group;
}

PSSpecifierPtr PSListController::specifierAtIndexPath(const NSIndexPath& indexPath) {
  std::vector<Group> all = groups();
  if (indexPath.section < 0 || indexPath.section >= static_cast<std::int64_t>(all.size())) {
    return nullptr;
  }
  const auto& rows = all[static_cast<std::size_t>(indexPath.section)].rows;
  if (indexPath.row < 0 || indexPath.row >= static_cast<std::int64_t>(rows.size())) return nullptr;
  return rows[static_cast<std::size_t>(indexPath.row)];
}

std::optional<NSIndexPath> PSListController::indexPathForSpecifier(const PSSpecifier& specifier) {
  std::vector<Group> all = groups();
  for (std::size_t section = 0; section < all.size(); ++section) {
    const auto& rows = all[section].rows;
    for (std::size_t row = 0; row < rows.size(); ++row) {
      if (rows[row].get() == &specifier) {
        return NSIndexPath::indexPathForRowInSection(static_cast<std::int64_t>(row),
                                                     static_cast<std::int64_t>(section));
      }
    }
  }
  return std::nullopt;
}

void PSListController::reloadSpecifierIDAnimated(const std::string& identifier, bool animated) {
  reloadSpecifierAnimated(specifierForID(identifier), animated);
}

void PSListController::reloadSpecifierAnimated(const PSSpecifierPtr& specifier, bool animated) {
  if (!specifier) return;
  std::optional<NSIndexPath> path = indexPathForSpecifier(*specifier);
  if (!path) return;
  noteChange();
  table()->reloadRowsAtIndexPathsWithRowAnimation(
      {*path}, animated ? UITableViewRowAnimationAutomatic : UITableViewRowAnimationNone);
}

void PSListController::reloadSpecifiers() {
  specifiers();
  noteChange();
  table()->reloadData();
}

// --- The page -------------------------------------------------------------------------------

void PSListController::loadView() {
  table_ =
      UITableView::initWithFrameStyle(UIScreen::mainScreen()->bounds(), UITableViewStyleGrouped);
  setView(table_);
  wireTable();
}

const UITableViewPtr& PSListController::table() {
  if (!table_) view();
  // The view may have been asked for before a shared_ptr owned this page (in a subclass's
  // constructor, say); the table is then wired on the first use after that.
  if (!tableWired_) wireTable();
  return table_;
}

void PSListController::wireTable() {
  if (!table_) return;
  auto self = std::dynamic_pointer_cast<PSListController>(weak_from_this().lock());
  if (!self) return;
  table_->setDataSource(std::weak_ptr<UITableViewDataSource>(self));
  table_->setDelegate(std::weak_ptr<UITableViewDelegate>(self));
  tableWired_ = true;
}

void PSListController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  reloadSpecifiers();
}

void PSListController::setSpecifier(PSSpecifierPtr specifier) {
  specifier_ = std::move(specifier);
}

std::shared_ptr<PSListController> PSListController::rootController() const {
  auto root = parent_.lock();
  if (!root) return nullptr;
  while (auto above = root->parentController()) root = above;
  return root;
}

std::string PSListController::bundlePath() const {
  if (!bundlePath_.empty()) return bundlePath_;
  for (const platform::Class* cls = &objectClass(); cls != nullptr; cls = cls->base()) {
    std::string path = platform::bundlePathForClassName(cls->name());
    if (!path.empty()) return path;
  }
  if (auto parent = parent_.lock()) return parent->bundlePath();
  return {};
}

std::uint64_t PSListController::changeCount() const {
  return changeCount_ + (table_ ? table_->reloadGeneration() : 0);
}

// --- Data source ----------------------------------------------------------------------------

// The table asks both for every cell it hands out: they count the groups as groups() makes
// them, without building them.
std::int64_t PSListController::numberOfSectionsInTableView(UITableView& /*tableView*/) {
  std::int64_t sections = 0;
  for (const PSSpecifierPtr& specifier : specifiers()) {
    // A row before the first group opens a group of its own.
    if (specifier && (specifier->cellType() == PSGroupCell || sections == 0)) ++sections;
  }
  return sections;
}

std::int64_t PSListController::tableViewNumberOfRowsInSection(UITableView& /*tableView*/,
                                                              std::int64_t section) {
  std::int64_t current = -1;
  std::int64_t rows = 0;
  for (const PSSpecifierPtr& specifier : specifiers()) {
    if (!specifier) continue;
    if (specifier->cellType() == PSGroupCell) {
      ++current;
    } else {
      if (current < 0) current = 0;
      if (current == section) ++rows;
    }
  }
  return rows;
}

namespace {

UITableViewCellStyle cellStyleForType(PSCellType type) {
  switch (type) {
    case PSLinkListCell:
    case PSTitleValueCell:
    case PSEditTextCell:
    case PSSecureEditTextCell:
      return UITableViewCellStyleValue1;
    default:
      return UITableViewCellStyleDefault;
  }
}

}  // namespace

std::shared_ptr<UITableViewCell> PSListController::tableViewCellForRowAtIndexPath(
    UITableView& tableView, const NSIndexPath& indexPath) {
  PSSpecifierPtr specifier = specifierAtIndexPath(indexPath);
  if (!specifier) {
    // A page that reports more rows than its specifiers hold still gets a cell, not a crash.
    return UITableViewCell::initWithStyleReuseIdentifier(UITableViewCellStyleDefault, {});
  }
  const platform::Class* custom = nullptr;
  const Value cellClass = specifier->propertyForKey(PSKey::kCellClass);
  if (cellClass.isString()) {
    custom = platform::ClassRegistry::shared().lookup(cellClass.stringValue());
    if (custom != nullptr && !custom->isSubclassOf(PSTableCell::staticClass())) custom = nullptr;
  }
  const std::string reuseIdentifier =
      custom != nullptr ? custom->name()
                        : std::string(platform::cellTypeName(specifier->cellType()));

  auto cell = std::dynamic_pointer_cast<PSTableCell>(
      tableView.dequeueReusableCellWithIdentifier(reuseIdentifier));
  if (cell) {
    cell->refreshCellContentsWithSpecifier(specifier);
    return cell;
  }
  if (custom != nullptr) {
    if (auto made = std::dynamic_pointer_cast<PSTableCell>(custom->create())) {
      if (auto ready = made->initWithStyleReuseIdentifierSpecifier(
              made->style(), made->reuseIdentifier(), specifier)) {
        return ready;
      }
    }
    platform::NSLog("The cell class " + custom->name() +
                    " could not make a cell; a plain one shows");
  }
  return PSTableCell::cellWithStyleReuseIdentifierSpecifier(cellStyleForType(specifier->cellType()),
                                                            reuseIdentifier, specifier);
}

std::optional<std::string> PSListController::tableViewTitleForHeaderInSection(
    UITableView& /*tableView*/, std::int64_t section) {
  PSSpecifierPtr group = groupSpecifierForSection(section);
  if (!group || group->name().empty()) return std::nullopt;
  return group->name();
}

std::optional<std::string> PSListController::tableViewTitleForFooterInSection(
    UITableView& tableView, std::int64_t section) {
  PSSpecifierPtr group = groupSpecifierForSection(section);
  if (!group) return std::nullopt;
  if (group->propertyForKey(PSKey::kFooterCellClass).isString() &&
      PSListController::tableViewViewForFooterInSection(tableView, section)) {
    return std::nullopt;
  }
  const Value text = group->propertyForKey(PSKey::kFooterText);
  if (!text.isString()) return std::nullopt;
  return text.stringValue();
}

bool PSListController::tableViewCanEditRowAtIndexPath(UITableView& /*tableView*/,
                                                      const NSIndexPath& /*indexPath*/) {
  return false;
}

// --- Delegate -------------------------------------------------------------------------------

std::shared_ptr<UIView> PSListController::groupView(
    std::int64_t section, std::string_view classKey,
    std::map<PSSpecifierPtr, std::shared_ptr<UIView>>& cache) {
  PSSpecifierPtr group = groupSpecifierForSection(section);
  if (!group) return nullptr;
  const Value className = group->propertyForKey(classKey);
  if (!className.isString()) return nullptr;
  if (auto it = cache.find(group); it != cache.end()) return it->second;
  // Views of groups that a reload of the specifiers replaced would otherwise stay forever.
  if (!cache.empty()) {
    std::vector<Group> current = groups();
    std::erase_if(cache, [&](const auto& entry) {
      return std::none_of(current.begin(), current.end(),
                          [&](const Group& g) { return g.group == entry.first; });
    });
  }

  // A failure is cached too, so that it is logged once and not retried on every redraw.
  std::shared_ptr<UIView>& view = cache[group];
  const platform::Class* cls = platform::ClassRegistry::shared().lookup(className.stringValue());
  if (cls == nullptr) {
    platform::NSLog("Unknown " + std::string(classKey) + " " + className.stringValue() +
                    " for a group of " + objectClass().name() + "; its text shows instead");
    return nullptr;
  }
  platform::ObjectPtr made = cls->create();
  if (!made || !made->respondsToSelector("initWithSpecifier:")) {
    platform::NSLog("The " + std::string(classKey) + " " + cls->name() +
                    " cannot be made with initWithSpecifier:; its text shows instead");
    return nullptr;
  }
  Value result = made->performSelector("initWithSpecifier:", {Value::object(group)});
  view = std::dynamic_pointer_cast<UIView>(result.objectValue());
  if (!view) {
    platform::NSLog("The " + std::string(classKey) + " " + cls->name() +
                    " made no view; its text shows instead");
  }
  return view;
}

double PSListController::groupViewHeight(UITableView& tableView,
                                         const std::shared_ptr<UIView>& view) {
  if (!view) return UITableViewAutomaticDimension;
  double width = tableView.frame().size.width;
  if (width <= 0) width = UIScreen::mainScreen()->bounds().size.width;
  Value height;
  if (view->respondsToSelector("preferredHeightForWidth:")) {
    height = view->performSelector("preferredHeightForWidth:", {Value::real(width)});
  } else if (view->respondsToSelector("preferredHeightForWidth:inTableView:")) {
    height =
        view->performSelector("preferredHeightForWidth:inTableView:",
                              {Value::real(width), Value::object(tableView.sharedAs<UIView>())});
  }
  const double answer = height.doubleValue().value_or(UITableViewAutomaticDimension);
  return answer >= 0 ? answer : UITableViewAutomaticDimension;
}

std::shared_ptr<UIView> PSListController::tableViewViewForFooterInSection(
    UITableView& /*tableView*/, std::int64_t section) {
  return groupView(section, PSKey::kFooterCellClass, footerViews_);
}

std::shared_ptr<UIView> PSListController::tableViewViewForHeaderInSection(
    UITableView& /*tableView*/, std::int64_t section) {
  return groupView(section, PSKey::kHeaderCellClass, headerViews_);
}

double PSListController::tableViewHeightForFooterInSection(UITableView& tableView,
                                                           std::int64_t section) {
  return groupViewHeight(tableView, tableViewViewForFooterInSection(tableView, section));
}

double PSListController::tableViewHeightForHeaderInSection(UITableView& tableView,
                                                           std::int64_t section) {
  return groupViewHeight(tableView, tableViewViewForHeaderInSection(tableView, section));
}

double PSListController::tableViewHeightForRowAtIndexPath(UITableView& /*tableView*/,
                                                          const NSIndexPath& indexPath) {
  PSSpecifierPtr specifier = specifierAtIndexPath(indexPath);
  if (!specifier) return UITableViewAutomaticDimension;
  const double height =
      specifier->propertyForKey("height").doubleValue().value_or(UITableViewAutomaticDimension);
  return height > 0 ? height : UITableViewAutomaticDimension;
}

void PSListController::tableViewDidSelectRowAtIndexPath(UITableView& tableView,
                                                        const NSIndexPath& indexPath) {
  tableView.deselectRowAtIndexPathAnimated(indexPath, true);
  PSSpecifierPtr specifier = specifierAtIndexPath(indexPath);
  if (!specifier || !specifier->isEnabled()) return;
  switch (specifier->cellType()) {
    case PSLinkCell:
    case PSLinkListCell:
      pushControllerForSpecifier(specifier);
      break;
    case PSButtonCell:
      if (!specifier->performAction()) {
        platform::NSLog("The button \"" + specifier->name() + "\" of " + objectClass().name() +
                        " has no action its target answers");
      }
      break;
    default:
      break;
  }
}

std::shared_ptr<PSListController> PSListController::pushControllerForSpecifier(
    const PSSpecifierPtr& specifier) {
  const platform::Class* cls = specifier->detailControllerClass();
  if (cls == nullptr || !cls->isSubclassOf(PSListController::staticClass())) {
    const std::string name = specifier->detailControllerClassName();
    platform::NSLog("The row \"" + specifier->name() + "\" of " + objectClass().name() +
                    (cls == nullptr ? " names no known page class \"" + name + "\""
                                    : " names " + name + ", which is not a list page") +
                    "; nothing opens");
    return nullptr;
  }
  auto navigation = navigationController();
  if (!navigation) {
    platform::NSLog("The page " + objectClass().name() + " is on no navigation stack; \"" +
                    specifier->name() + "\" cannot open");
    return nullptr;
  }
  auto page = std::dynamic_pointer_cast<PSListController>(cls->create());
  if (!page) {
    platform::NSLog("The page class " + cls->name() + " could not be made");
    return nullptr;
  }
  page->setParentController(std::dynamic_pointer_cast<PSListController>(weak_from_this().lock()));
  page->setTitle(specifier->name());
  page->setSpecifier(specifier);
  navigation->pushViewControllerAnimated(page, true);
  return page;
}

[[maybe_unused]] static const platform::Class& kPSListControllerClass =
    PSListController::staticClass();
