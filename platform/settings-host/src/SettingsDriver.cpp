#include "platform/settings-host/SettingsDriver.h"

#include <algorithm>
#include <exception>
#include <typeinfo>

#include "platform/foundation/Env.h"
#include "platform/foundation/Log.h"
#include "platform/settings-host/PSListItemsController.h"
#include "platform/settings-host/SettingsHost.h"
#include "platform/ui/ViewRenderer.h"

namespace platform {
namespace {

// The page that says why an entry could not open.
class SettingsErrorController : public PSListController {
 public:
  SettingsErrorController(std::string label, std::string reason)
      : label_(std::move(label)), reason_(std::move(reason)) {}

  const std::string& reason() const { return reason_; }

  const std::vector<PSSpecifierPtr>& specifiers() override {
    if (!_specifiers) {
      _specifiers.emplace();
      _specifiers->push_back(PSSpecifier::groupSpecifierWithName("Could not open " + label_));
      _specifiers->push_back(PSSpecifier::preferenceSpecifierNamedTargetSetGetDetailCellEdit(
          reason_, nullptr, "", "", "", PSStaticTextCell));
    }
    return *_specifiers;
  }

 private:
  const std::string label_;
  const std::string reason_;
};

// The first page: one link row per Settings entry.
class SettingsEntriesController : public PSListController {
 public:
  SettingsEntriesController(Env& env, const std::vector<SettingsEntry>& entries)
      : env_(env), entries_(entries) {
    setTitle("Settings");
  }

  const std::vector<PSSpecifierPtr>& specifiers() override {
    if (_specifiers) return *_specifiers;
    _specifiers.emplace();
    _specifiers->push_back(PSSpecifier::emptyGroupSpecifier());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      auto row = PSSpecifier::preferenceSpecifierNamedTargetSetGetDetailCellEdit(
          entries_[i].label, this, "", "", "", PSLinkCell);
      row->setIdentifier(entries_[i].label);
      if (!entries_[i].iconPath.empty()) {
        const std::string folder = deletingLastPathComponent(entries_[i].iconPath);
        const std::string name = lastPathComponent(entries_[i].iconPath);
        if (auto icon = UIImage::imageNamedInBundleCompatibleWithTraitCollection(
                deletingPathExtension(name), folder, nullptr)) {
          row->setPropertyForKey(Value::object(icon), "iconImage");
        }
      }
      _specifiers->push_back(std::move(row));
    }
    return *_specifiers;
  }

  void tableViewDidSelectRowAtIndexPath(UITableView& tableView,
                                        const NSIndexPath& indexPath) override {
    tableView.deselectRowAtIndexPathAnimated(indexPath, true);
    if (indexPath.section != 0 || indexPath.row < 0 ||
        indexPath.row >= static_cast<std::int64_t>(entries_.size())) {
      return;
    }
    openEntry(entries_[static_cast<std::size_t>(indexPath.row)]);
  }

 private:
  void openEntry(const SettingsEntry& entry) {
    auto navigation = navigationController();
    if (!navigation) return;
    SettingsPageLoad load = loadSettingsBundlePage(env_, entry.bundlePath,
                                                   entry.specifier->detailControllerClassName());
    PSListControllerPtr page = load.page;
    if (!page) {
      page = std::make_shared<SettingsErrorController>(entry.label, load.error);
      page->setTitle(entry.label);
    }
    page->setParentController(std::dynamic_pointer_cast<PSListController>(weak_from_this().lock()));
    page->setSpecifier(entry.specifier);
    navigation->pushViewControllerAnimated(page, true);
    // The bundle's plist titles its first page as it loads; the entry's label otherwise.
    if (page->title().empty()) page->setTitle(entry.label);
  }

  Env& env_;
  const std::vector<SettingsEntry> entries_;
};

SettingsRowKind kindForType(PSCellType type) {
  switch (type) {
    case PSSwitchCell:
      return SettingsRowKind::Switch;
    case PSLinkCell:
      return SettingsRowKind::Link;
    case PSLinkListCell:
      return SettingsRowKind::LinkList;
    case PSListItemCell:
      return SettingsRowKind::ListItem;
    case PSButtonCell:
      return SettingsRowKind::Button;
    case PSTitleValueCell:
      return SettingsRowKind::TitleValue;
    case PSStaticTextCell:
      return SettingsRowKind::StaticText;
    case PSEditTextCell:
    case PSSecureEditTextCell:
      return SettingsRowKind::EditText;
    default:
      return SettingsRowKind::Other;
  }
}

SettingsAccessory accessoryForCell(const UITableViewCell& cell) {
  switch (cell.accessoryType()) {
    case UITableViewCellAccessoryDisclosureIndicator:
    case UITableViewCellAccessoryDetailDisclosureButton:
      return SettingsAccessory::Disclosure;
    case UITableViewCellAccessoryCheckmark:
      return SettingsAccessory::Checkmark;
    default:
      return SettingsAccessory::None;
  }
}

std::string rowIdentifier(const PSSpecifier& specifier) {
  for (std::string_view name : {PSKey::kID, PSKey::kKey}) {
    Value value = specifier.propertyForKey(name);
    if (value.isString() && !value.stringValue().empty()) return value.stringValue();
  }
  return specifier.name();
}

// Fills `row`, a default one, from `cell`: in place, as a page of thousands of rows is read into
// its vector.
void readRow(UITableViewCell& cell, SettingsRow& row) {
  if (cell.existingTextLabel()) row.title = cell.existingTextLabel()->text();
  if (cell.existingDetailTextLabel()) row.detail = cell.existingDetailTextLabel()->text();
  if (cell.existingImageView()) row.image = cell.existingImageView()->image();
  row.accessory = accessoryForCell(cell);
  // A plain cell, as a page makes for each of thousands of rows, is told apart by its exact
  // type: a failed cast across libraries compares type names on every level of the hierarchy.
  if (typeid(cell) == typeid(UITableViewCell)) return;
  auto* settingsCell = dynamic_cast<PSTableCell*>(&cell);
  if (settingsCell == nullptr || !settingsCell->specifier()) return;
  const PSSpecifierPtr& specifier = settingsCell->specifier();
  row.kind = kindForType(specifier->cellType());
  row.identifier = rowIdentifier(*specifier);
  row.enabled = settingsCell->isCellEnabled();
  if (auto toggle = settingsCell->control()) {
    row.isOn = toggle->isOn();
    row.enabled = row.enabled && toggle->isEnabled();
  }
}

}  // namespace

SettingsDriver::SettingsDriver(std::string deviceRoot)
    : SettingsDriver(std::move(deviceRoot), defaultEnv()) {}

SettingsDriver::SettingsDriver(std::string deviceRoot, Env& env)
    : env_(env), deviceRoot_(std::move(deviceRoot)) {
  registerSettingsHostClasses();
  entries_ = readSettingsEntries(env_, deviceRoot_);
  auto entriesPage = std::make_shared<SettingsEntriesController>(env_, entries_);
  navigation_ = UINavigationController::initWithRootViewController(entriesPage);
  perform("show the entries", [&] {
    entriesPage->viewWillAppear(false);
    return Status::ok();
  });
}

SettingsDriver::~SettingsDriver() = default;

std::shared_ptr<PSListController> SettingsDriver::topPage() const {
  return std::dynamic_pointer_cast<PSListController>(navigation_->topViewController());
}

template <typename Action>
Status SettingsDriver::perform(const char* what, Action&& action) {
  Status status;
  try {
    status = action();
  } catch (const std::exception& e) {
    status = Status::invalidArgument(std::string("Could not ") + what + ": " + e.what());
  } catch (...) {
    status = Status::invalidArgument(std::string("Could not ") + what);
  }
  if (!status.isOk()) NSLog(status.message());
  try {
    activateTopIfChanged();
  } catch (const std::exception& e) {
    NSLog(std::string("A page failed to become active: ") + e.what());
  } catch (...) {
    NSLog("A page failed to become active");
  }
  ++generation_;
  return status;
}

void SettingsDriver::activateTopIfChanged() {
  auto top = navigation_->topViewController();
  if (top == activeTop_.lock()) return;
  activeTop_ = top;
  if (auto page = std::dynamic_pointer_cast<PSListController>(top)) page->willBecomeActive();
}

Status SettingsDriver::openEntry(std::string_view label) {
  std::size_t index = entries_.size();
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].label == label) index = i;
  }
  if (index == entries_.size()) {
    return Status::notFound("There is no Settings entry \"" + std::string(label) + "\"");
  }
  goToEntries();
  return selectRow(0, static_cast<std::int64_t>(index));
}

Status SettingsDriver::checkRow(std::int64_t section, std::int64_t row, PSListControllerPtr& page) {
  page = topPage();
  if (!page) return Status::invalidArgument("The top page is not a list page");
  page->specifiers();
  const UITableViewPtr& table = page->table();
  if (section < 0 || section >= table->numberOfSections() || row < 0 ||
      row >= table->numberOfRowsInSection(section)) {
    return Status::invalidArgument("The page \"" + page->title() + "\" has no row " +
                                   std::to_string(row) + " in section " + std::to_string(section));
  }
  return Status::ok();
}

Status SettingsDriver::selectRow(std::int64_t section, std::int64_t row) {
  return perform("select the row", [&] { return selectNow(section, row); });
}

Status SettingsDriver::selectNow(std::int64_t section, std::int64_t row) {
  PSListControllerPtr page;
  Status status = checkRow(section, row, page);
  if (!status.isOk()) return status;
  UITableViewPtr table = page->table();
  const NSIndexPath path = NSIndexPath::indexPathForRowInSection(row, section);
  UITableViewCellPtr cell = table->cellForRowAtIndexPath(path);
  auto* settingsCell = dynamic_cast<PSTableCell*>(cell.get());
  if (settingsCell != nullptr && settingsCell->specifier() && !settingsCell->isCellEnabled()) {
    return Status::invalidArgument("The row \"" + settingsCell->specifier()->name() +
                                   "\" is disabled");
  }
  auto delegate = table->delegate();
  if (!delegate) return Status::invalidArgument("The page's table has no delegate");
  table->selectRowAtIndexPath(path, false);
  delegate->tableViewDidSelectRowAtIndexPath(*table, path);
  return Status::ok();
}

Status SettingsDriver::setSwitch(std::int64_t section, std::int64_t row, bool on) {
  return perform("change the switch", [&] {
    PSListControllerPtr page;
    Status status = checkRow(section, row, page);
    if (!status.isOk()) return status;
    UITableViewPtr table = page->table();
    auto cell = std::dynamic_pointer_cast<PSTableCell>(
        table->cellForRowAtIndexPath(NSIndexPath::indexPathForRowInSection(row, section)));
    if (!cell || !cell->specifier() || !cell->control()) {
      return Status::invalidArgument("The row " + std::to_string(row) + " in section " +
                                     std::to_string(section) + " is not a switch");
    }
    if (!cell->isCellEnabled() || !cell->control()->isEnabled()) {
      return Status::invalidArgument("The switch \"" + cell->specifier()->name() +
                                     "\" is disabled");
    }
    if (!cell->controlValueChanged(Value::boolean(on))) {
      return Status::invalidArgument("The switch \"" + cell->specifier()->name() +
                                     "\" has no setter its page answers");
    }
    return Status::ok();
  });
}

Status SettingsDriver::chooseItem(std::int64_t section, std::int64_t row) {
  return perform("choose the item", [&] {
    auto list = std::dynamic_pointer_cast<PSListItemsController>(topPage());
    if (!list) return Status::invalidArgument("The top page is not a list of choices");
    PSListControllerPtr page;
    Status status = checkRow(section, row, page);
    if (!status.isOk()) return status;
    auto cell = std::dynamic_pointer_cast<PSTableCell>(
        list->table()->cellForRowAtIndexPath(NSIndexPath::indexPathForRowInSection(row, section)));
    if (!cell || !cell->specifier() || cell->specifier()->cellType() != PSListItemCell) {
      return Status::invalidArgument("The row " + std::to_string(row) + " in section " +
                                     std::to_string(section) + " is not a choice");
    }
    return selectNow(section, row);
  });
}

Status SettingsDriver::goBack() {
  return perform("go back", [&] {
    if (navigation_->viewControllers().size() < 2) {
      return Status::invalidArgument("The entries list is the first page");
    }
    navigation_->popViewControllerAnimated(true);
    return Status::ok();
  });
}

void SettingsDriver::goToEntries() {
  perform("return to the entries", [&] {
    navigation_->popToRootViewControllerAnimated(false);
    return Status::ok();
  });
}

namespace {

// Rows `from` to `end` of section `s`, read from their cells into `rows`; a row shows empty
// when the page has no cell for it or fails to make one. Cells made only to be read here go
// back to the table's queue.
void readRowsAt(UITableView& table, const UIViewController& page, std::int64_t s, std::size_t from,
                std::size_t end, std::vector<SettingsRow>& rows) {
  rows.reserve(rows.size() + (end - from));
  std::size_t next = from;
  bool reading = false;  // a row is being filled from its cell
  while (next < end) {
    try {
      table.readCellsInSection(s, static_cast<std::int64_t>(next), static_cast<std::int64_t>(end),
                               [&](UITableViewCell* cell) {
                                 SettingsRow& row = rows.emplace_back();
                                 reading = true;
                                 if (cell) readRow(*cell, row);
                                 reading = false;
                                 ++next;
                               });
    } catch (const std::exception& e) {
      NSLog("The row " + std::to_string(next) + " in section " + std::to_string(s) + " of \"" +
            page.title() + "\" could not be read: " + e.what());
      // Failing in its cell or in the page's making of it, the row shows empty.
      if (reading) {
        rows.back() = {};
      } else {
        rows.emplace_back();
      }
      reading = false;
      ++next;
    }
  }
}

}  // namespace

SettingsPage SettingsDriver::currentPage(std::size_t firstRows) {
  SettingsPage snapshot;
  auto top = navigation_->topViewController();
  const std::size_t depth = navigation_->viewControllers().size();
  snapshot.depth = depth > 0 ? depth - 1 : 0;
  snapshot.canGoBack = depth > 1;
  if (depth > 1) {
    if (const auto& below = navigation_->viewControllers()[depth - 2]) {
      snapshot.backTitle = below->title();
    }
  }
  if (!top) return snapshot;
  auto page = std::dynamic_pointer_cast<PSListController>(top);
  if (auto error = std::dynamic_pointer_cast<SettingsErrorController>(top)) {
    snapshot.isError = true;
    snapshot.error = error->reason().empty() ? "This page could not be opened." : error->reason();
  }
  snapshot.isListItems = static_cast<bool>(std::dynamic_pointer_cast<PSListItemsController>(top));
  try {
    if (page) {
      page->specifiers();
      UITableViewPtr table = page->table();
      auto dataSource = table->dataSource();
      auto delegate = table->delegate();
      const std::int64_t sections = table->numberOfSections();
      std::size_t budget = firstRows;
      for (std::int64_t s = 0; s < sections; ++s) {
        SettingsSection section;
        if (dataSource) {
          section.header = dataSource->tableViewTitleForHeaderInSection(*table, s);
          section.footer = dataSource->tableViewTitleForFooterInSection(*table, s);
        }
        if (delegate) {
          section.footerView = delegate->tableViewViewForFooterInSection(*table, s);
          if (section.footerView) {
            section.footerHeight = delegate->tableViewHeightForFooterInSection(*table, s);
            section.footerViewText = textOfViewTree(*section.footerView);
          }
        }
        const auto rows = static_cast<std::size_t>(table->numberOfRowsInSection(s));
        const std::size_t read = std::min(rows, budget);
        budget -= read;
        section.unreadRows = rows - read;
        readRowsAt(*table, *top, s, 0, read, section.rows);
        snapshot.sections.push_back(std::move(section));
      }
    }
  } catch (const std::exception& e) {
    NSLog("The page \"" + top->title() + "\" could not be read: " + e.what());
  }
  // The title last: loading the specifiers may set it.
  snapshot.title = top->title();
  return snapshot;
}

std::vector<SettingsRow> SettingsDriver::readRows(std::size_t section, std::size_t from,
                                                  std::size_t count) {
  std::vector<SettingsRow> rows;
  PSListControllerPtr page = topPage();
  if (!page) return rows;
  try {
    page->specifiers();
    UITableViewPtr table = page->table();
    const auto s = static_cast<std::int64_t>(section);
    if (s >= table->numberOfSections()) return rows;
    const auto total = static_cast<std::size_t>(table->numberOfRowsInSection(s));
    const std::size_t end = from < total ? from + std::min(count, total - from) : from;
    readRowsAt(*table, *page, s, from, end, rows);
  } catch (const std::exception& e) {
    NSLog("The page \"" + page->title() + "\" could not be read: " + e.what());
  }
  return rows;
}

std::uint64_t SettingsDriver::generation() {
  auto top = navigation_->topViewController();
  auto page = std::dynamic_pointer_cast<PSListController>(top);
  const std::uint64_t count = page ? page->changeCount() : 0;
  if (top != lastSeenTop_.lock() || count != lastSeenChangeCount_) {
    lastSeenTop_ = top;
    lastSeenChangeCount_ = count;
    ++generation_;
  }
  return generation_;
}

}  // namespace platform
