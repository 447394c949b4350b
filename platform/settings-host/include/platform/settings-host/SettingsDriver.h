// Drives the Settings app without a screen: the web host and the page tests use it. It
// keeps one navigation stack whose first page lists the device's Settings entries; opening
// an entry loads its plug-in bundle and pushes the bundle's first page (or an error page that
// says why it could not load). Every action goes through the same table callbacks a screen
// would use (cells from tableView:cellForRowAtIndexPath:, selection through
// tableView:didSelectRowAtIndexPath:, switches through their cell), so pages that override
// those callbacks are driven exactly as they behave.
//
// Snapshots (currentPage, see SettingsPage.h) are plain data, read from the table's cells: a
// row's title, value text, image and accessory as the cell shows them; for rows with a
// specifier, its kind, identifier and whether it is enabled.
//
// Actions return OK, or an error naming what was wrong (no such row, a disabled row, a row of
// another kind, an exception from a page's getter, setter or action): they never throw. After
// each action, the page that ends up on top gets willBecomeActive() when it changed.
//
// Main thread only. The driver owns the stack and its pages; loaded plug-ins stay loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Status.h"
#include "platform/settings-host/PSListController.h"
#include "platform/settings-host/SettingsPage.h"
#include "platform/settings-host/SettingsPlugins.h"
#include "platform/ui/UINavigationController.h"

namespace platform {

class Env;

class SettingsDriver {
 public:
  // Reads the entries of `deviceRoot` (see SettingsPlugins.h) and shows the entries list.
  // `env` must outlive the driver.
  explicit SettingsDriver(std::string deviceRoot);
  SettingsDriver(std::string deviceRoot, Env& env);
  ~SettingsDriver();
  SettingsDriver(const SettingsDriver&) = delete;
  SettingsDriver& operator=(const SettingsDriver&) = delete;

  // The entries, sorted by label; the entries list shows them in this order.
  const std::vector<SettingsEntry>& entries() const { return entries_; }

  // Returns to the entries list and opens the entry labelled `label` (exact match). NotFound
  // when there is none. A bundle that fails to load still opens: as an error page, and the
  // answer is OK (the page is what the person asked for).
  Status openEntry(std::string_view label);

  // A snapshot of the top page. Reads its first `firstRows` rows, in page order, through the
  // table's callbacks; of the rest, only how many each section has (unreadRows).
  SettingsPage currentPage(std::size_t firstRows = SIZE_MAX);
  // Rows `from` to `from + count - 1` of `section` of the top page, read now (fewer where the
  // section ends first; none for a section it does not have).
  std::vector<SettingsRow> readRows(std::size_t section, std::size_t from, std::size_t count);

  // Taps a row. InvalidArgument for a row out of range or a disabled row.
  Status selectRow(std::int64_t section, std::int64_t row);
  // Turns a switch row on or off through its cell. InvalidArgument for a row out of range,
  // one that is not a switch, or a disabled switch.
  Status setSwitch(std::int64_t section, std::int64_t row, bool on);
  // On a list-items page: picks the choice at the row. InvalidArgument when the top page is
  // not a list-items page or the row is not a choice.
  Status chooseItem(std::int64_t section, std::int64_t row);
  // Pops the top page. InvalidArgument on the entries list.
  Status goBack();
  // Pops back to the entries list.
  void goToEntries();

  // Changes whenever the top page changes or redraws its rows (a reload after a page's own
  // change, say after a notification from another process). A web host compares it after
  // each turn of the run loop to know when to push a new snapshot.
  std::uint64_t generation();

  // The stack and its top page, for tests that reach into pages.
  const UINavigationControllerPtr& navigationController() const { return navigation_; }
  std::shared_ptr<PSListController> topPage() const;

 private:
  template <typename Action>
  Status perform(const char* what, Action&& action);
  Status selectNow(std::int64_t section, std::int64_t row);
  Status checkRow(std::int64_t section, std::int64_t row, PSListControllerPtr& page);
  void activateTopIfChanged();

  Env& env_;
  const std::string deviceRoot_;
  std::vector<SettingsEntry> entries_;
  UINavigationControllerPtr navigation_;
  std::weak_ptr<UIViewController> activeTop_;
  std::weak_ptr<UIViewController> lastSeenTop_;
  std::uint64_t lastSeenChangeCount_ = 0;
  std::uint64_t generation_ = 0;
};

}  // namespace platform
