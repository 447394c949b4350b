#include "HXRootListController.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "hx/HXApplicationsManager.h"
#include "hx/HXPreferences.h"
#include "hx/HXPreferencesKeys.h"
#include "platform/Platform.h"
#include "platform/foundation/StringCompare.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UITableViewCell.h"

using platform::Value;

namespace {

constexpr const char* kApplicationCellIdentifier = "HXApplicationCell";

HXRootListController& page(platform::Object& self) {
  return platform::receiver<HXRootListController>(self);
}

}  // namespace

const platform::Class& HXRootListController::staticClass() {
  static const platform::Class* cls = [] {
    auto* c = new platform::Class("HXRootListController", &PSListController::staticClass(),
                                  [] { return HXRootListController::init(); });
    using Args = platform::Arguments;
    c->addMethod("plistName", [](platform::Object&, const Args&) { return Value(plistName()); });
    c->addMethod("disableAll", [](platform::Object& self, const Args&) {
      page(self).disableAll();
      return Value();
    });
    // Answering this selector is how the page tells application pages it is their delegate.
    c->addMethod("controller:backgroundingChanged:forApplicationIdentifier:",
                 [](platform::Object& self, const Args& args) {
                   auto controller = std::dynamic_pointer_cast<HXApplicationListController>(
                       args[0].objectValue());
                   if (controller) {
                     page(self).controllerBackgroundingChangedForApplicationIdentifier(
                         *controller, args[1].boolValue().value_or(false), args[2].stringValue());
                   }
                   return Value();
                 });
    platform::ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

std::shared_ptr<HXRootListController> HXRootListController::init() {
  auto page = std::make_shared<HXRootListController>();

  // The catalogue as a list, not as its Value tree: the page keeps one entry per application
  // and the identifiers of its rows, nothing else. Icons wait for their rows to be drawn, as
  // most of thousands of rows never are.
  std::vector<HXApplicationsManager::Application> catalogue =
      HXApplicationsManager().applications();
  page->applications_.reserve(catalogue.size());
  page->notBackgroundingIdentifiers_.reserve(catalogue.size());
  for (HXApplicationsManager::Application& application : catalogue) {
    // An identifier installed twice has the later one's name, as in the catalogue's entries.
    page->applications_[application.identifier].displayName = std::move(application.displayName);
    page->notBackgroundingIdentifiers_.push_back(std::move(application.identifier));
  }

  const std::vector<std::string> stored =
      HXPreferences::sharedPreferences().backgroundingIdentifiers();
  std::unordered_set<std::string_view> enabled;
  for (const std::string& identifier : stored) {
    // Stored identifiers the catalogue does not list stay stored but show nowhere; one
    // stored twice by another writer still gets one row.
    if (!page->listed(identifier)) continue;
    if (!enabled.insert(identifier).second) continue;
    page->backgroundingIdentifiers_.push_back(identifier);
  }
  std::erase_if(page->notBackgroundingIdentifiers_,
                [&](const std::string& identifier) { return enabled.contains(identifier); });
  page->sortIdentifiers(page->backgroundingIdentifiers_);
  page->matchRows(page->enabledIndex_);
  page->matchRows(page->disabledIndex_);

  std::weak_ptr<HXRootListController> weak = page;
  page->springboardObserver_ = platform::defaultPlatform().notifications.addObserver(
      std::string(hx::kApplicationSpringboardChangedBackgrounding), std::nullopt,
      [weak](const platform::Notification& notification) {
        if (auto self = weak.lock()) self->applicationBackgroundingChanged(notification);
      });
  return page;
}

HXRootListController::~HXRootListController() {
  springboardObserver_.reset();
}

const std::vector<PSSpecifierPtr>& HXRootListController::specifiers() {
  if (!_specifiers) {
    _specifiers = loadSpecifiersFromPlistNameTarget(plistName(), this);
    enabledIndex_ = 1;
    disabledIndex_ = 2;
  }
  return *_specifiers;
}

// --- Table ---------------------------------------------------------------------------------

std::int64_t HXRootListController::tableViewNumberOfRowsInSection(UITableView& tableView,
                                                                  std::int64_t section) {
  if (section == enabledIndex_) return static_cast<std::int64_t>(backgroundingIdentifiers_.size());
  if (section == disabledIndex_) {
    return static_cast<std::int64_t>(notBackgroundingIdentifiers_.size());
  }
  return PSListController::tableViewNumberOfRowsInSection(tableView, section);
}

std::shared_ptr<UITableViewCell> HXRootListController::tableViewCellForRowAtIndexPath(
    UITableView& tableView, const NSIndexPath& indexPath) {
  if (!isApplicationSection(indexPath.section)) {
    return PSListController::tableViewCellForRowAtIndexPath(tableView, indexPath);
  }
  static const ShownApplication kNothing;
  const std::vector<const ShownApplication*>& rows = rowsForSection(indexPath.section);
  const bool inRange = indexPath.row >= 0 && static_cast<std::size_t>(indexPath.row) < rows.size();
  const ShownApplication& application =
      inRange ? *rows[static_cast<std::size_t>(indexPath.row)] : kNothing;
  // The icon of a catalogue application is fetched once, when its row is first drawn.
  if (inRange && application.displayName && !application.iconFetched) {
    _cacheIconForIdentifier(
        listForSection(indexPath.section)[static_cast<std::size_t>(indexPath.row)]);
  }

  static const std::string kReuseIdentifier = kApplicationCellIdentifier;
  auto cell = tableView.dequeueReusableCellWithIdentifier(kReuseIdentifier);
  if (!cell) {
    cell = UITableViewCell::initWithStyleReuseIdentifier(UITableViewCellStyleDefault,
                                                         kReuseIdentifier);
  }
  cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
  cell->textLabel()->setText(nameOf(application));
  cell->imageView()->setImage(application.icon);
  return cell;
}

bool HXRootListController::tableViewCanEditRowAtIndexPath(UITableView&, const NSIndexPath&) {
  return false;
}

double HXRootListController::tableViewEstimatedHeightForRowAtIndexPath(
    UITableView& tableView, const NSIndexPath& indexPath) {
  if (isApplicationSection(indexPath.section)) return UITableViewAutomaticDimension;
  return PSListController::tableViewEstimatedHeightForRowAtIndexPath(tableView, indexPath);
}

void HXRootListController::tableViewDidSelectRowAtIndexPath(UITableView& tableView,
                                                            const NSIndexPath& indexPath) {
  if (!isApplicationSection(indexPath.section)) {
    PSListController::tableViewDidSelectRowAtIndexPath(tableView, indexPath);
    return;
  }
  const std::vector<std::string>& list = listForSection(indexPath.section);
  if (indexPath.row < 0 || static_cast<std::size_t>(indexPath.row) >= list.size()) return;
  const std::string identifier = list[static_cast<std::size_t>(indexPath.row)];

  auto controller = HXApplicationListController::initWithTitleApplicationIdentifierEnabled(
      displayNameForIdentifier(identifier).value_or(""), identifier,
      indexPath.section == enabledIndex_);
  applicationListController_ = controller;
  controller->setDelegate(shared_from_this());
  controller->setParentController(sharedAs<PSListController>());
  if (auto navigation = navigationController()) {
    navigation->pushViewControllerAnimated(controller, true);
  }
}

void HXRootListController::viewWillAppear(bool animated) {
  applicationListController_.reset();
  PSListController::viewWillAppear(animated);
}

void HXRootListController::reloadTable() {
  table()->reloadData();
}

// --- Changes -------------------------------------------------------------------------------

void HXRootListController::disableAll() {
  HXPreferences& store = HXPreferences::sharedPreferences();
  store.removeAllBackgroundingIdentifiers();
  if (!store.backgroundingIdentifiers().empty()) {
    // Not cleared (the write failed, or another process enabled one meanwhile): the rows
    // stay where the store has them.
    if (followStoredRegistry(std::nullopt)) reloadTable();
    return;
  }
  notBackgroundingIdentifiers_.insert(notBackgroundingIdentifiers_.end(),
                                      backgroundingIdentifiers_.begin(),
                                      backgroundingIdentifiers_.end());
  sortIdentifiers(notBackgroundingIdentifiers_);
  backgroundingIdentifiers_.clear();
  matchRows(enabledIndex_);
  matchRows(disabledIndex_);
  reloadTable();
}

void HXRootListController::controllerBackgroundingChangedForApplicationIdentifier(
    HXApplicationListController& controller, bool enabled, const std::string& identifier) {
  HXPreferences& store = HXPreferences::sharedPreferences();
  if (enabled) {
    store.addBackgroundingIdentifier(identifier);
  } else {
    store.removeBackgroundingIdentifer(identifier);
  }
  // The row moves only as far as the store followed: a change that was not stored moves
  // nothing, and the application page's switch goes back to the stored value.
  const bool stored = store.isBackgroundingEnabledForIdentifier(identifier);
  if (stored != enabled) {
    controller.updateBackgroundingChangedForApplicationIdentifier(stored, identifier);
  }
  place(stored, identifier);
  followStoredRegistry(identifier);
  reloadTable();
}

void HXRootListController::applicationBackgroundingChanged(
    const platform::Notification& notification) {
  // A notification without an application cannot name a row; another process's malformed
  // post must not put an empty row on the page.
  if (!notification.object || notification.object->empty()) return;
  const bool enabled =
      notification.userInfo[hx::kIsBackgroundingEnabledKey].boolValue().value_or(false);
  if (applicationListController_) {
    applicationListController_->updateBackgroundingChangedForApplicationIdentifier(
        enabled, *notification.object);
  }
  place(enabled, *notification.object);
  // The writer may have replaced more than this entry (a corrupt domain it moved aside, say).
  followStoredRegistry(*notification.object);
  reloadTable();
}

void HXRootListController::updateBackgroundingChangedForApplicationIdentifier(
    bool enabled, const std::string& identifier) {
  place(enabled, identifier);
  reloadTable();
}

void HXRootListController::place(bool enabled, const std::string& identifier) {
  const std::int64_t to = enabled ? enabledIndex_ : disabledIndex_;
  // A repeated change must not give the identifier a second row: it is placed afresh. Its
  // rows are found by their entry, which spares reading every identifier of a long list.
  const ShownApplication* entry = shown(identifier);
  for (const std::int64_t section : {enabledIndex_, disabledIndex_}) {
    std::vector<std::string>& list = listForSection(section);
    std::vector<const ShownApplication*>& rows = rowsForSection(section);
    for (std::size_t i = rows.size(); i-- > 0;) {
      if (rows[i] != entry) continue;
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
      rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }

  std::vector<const ShownApplication*>& rows = rowsForSection(to);
  auto position = std::lower_bound(rows.begin(), rows.end(), nameOf(*entry),
                                   [](const ShownApplication* row, const std::string& name) {
                                     return platform::caseInsensitiveCompare(nameOf(*row), name) ==
                                            platform::ComparisonResult::Ascending;
                                   });
  std::vector<std::string>& target = listForSection(to);
  target.insert(target.begin() + (position - rows.begin()), identifier);
  rows.insert(position, entry);
}

bool HXRootListController::followStoredRegistry(const std::optional<std::string>& except) {
  const std::vector<std::string> stored =
      HXPreferences::sharedPreferences().backgroundingIdentifiers();
  const std::unordered_set<std::string_view> storedSet(stored.begin(), stored.end());
  const std::unordered_set<std::string_view> shown(backgroundingIdentifiers_.begin(),
                                                   backgroundingIdentifiers_.end());
  std::vector<std::pair<bool, std::string>> moves;
  for (const std::string& identifier : backgroundingIdentifiers_) {
    if (identifier != except && !storedSet.contains(identifier))
      moves.emplace_back(false, identifier);
  }
  for (const std::string& identifier : stored) {
    // As at creation, stored identifiers the catalogue does not list get no row.
    if (identifier == except || shown.contains(identifier)) continue;
    if (!listed(identifier)) continue;
    moves.emplace_back(true, identifier);
  }
  for (const auto& [enabled, identifier] : moves) {
    if (applicationListController_) {
      applicationListController_->updateBackgroundingChangedForApplicationIdentifier(enabled,
                                                                                     identifier);
    }
    place(enabled, identifier);
  }
  return !moves.empty();
}

// --- Helpers -------------------------------------------------------------------------------

void HXRootListController::_cacheIconForIdentifier(const std::string& identifier) {
  auto icon = UIImage::_applicationIconImageForBundleIdentifierFormatScale(
      identifier, 0, UIScreen::mainScreen()->scale());
  ShownApplication& application = applications_[identifier];
  application.icon = icon;
  application.iconFetched = true;
  if (icon) {
    iconCache_[identifier] = std::move(icon);
  } else {
    iconCache_.erase(identifier);
  }
}

bool HXRootListController::listed(const std::string& identifier) const {
  auto found = applications_.find(identifier);
  return found != applications_.end() && found->second.displayName.has_value();
}

const Value& HXRootListController::applicationsDictionary() const {
  if (!applicationsDictionary_) {
    Value::Dictionary applications;
    for (const auto& [identifier, application] : applications_) {
      if (!application.displayName) continue;
      Value::Dictionary entry;
      entry.emplace("identifier", identifier);
      entry.emplace("displayName", *application.displayName);
      applications.emplace(identifier, Value(std::move(entry)));
    }
    applicationsDictionary_ = Value(std::move(applications));
  }
  return *applicationsDictionary_;
}

const std::string& HXRootListController::nameOf(const ShownApplication& application) {
  static const std::string kNone;
  return application.displayName ? *application.displayName : kNone;
}

const std::string& HXRootListController::shownName(const std::string& identifier) const {
  static const ShownApplication kUnknown;
  auto found = applications_.find(identifier);
  return nameOf(found == applications_.end() ? kUnknown : found->second);
}

const HXRootListController::ShownApplication* HXRootListController::shown(
    const std::string& identifier) {
  return &applications_[identifier];
}

void HXRootListController::matchRows(std::int64_t section) {
  const std::vector<std::string>& list = listForSection(section);
  std::vector<const ShownApplication*>& rows = rowsForSection(section);
  rows.clear();
  rows.reserve(list.size());
  for (const std::string& identifier : list) rows.push_back(shown(identifier));
}

std::optional<std::string> HXRootListController::displayNameForIdentifier(
    const std::string& identifier) const {
  auto found = applications_.find(identifier);
  if (found == applications_.end()) return std::nullopt;
  return found->second.displayName;
}

void HXRootListController::sortIdentifiers(std::vector<std::string>& identifiers) const {
  std::stable_sort(identifiers.begin(), identifiers.end(),
                   [this](const std::string& a, const std::string& b) {
                     return platform::caseInsensitiveCompare(shownName(a), shownName(b)) ==
                            platform::ComparisonResult::Ascending;
                   });
}
