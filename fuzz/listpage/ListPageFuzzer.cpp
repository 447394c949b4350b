// Any bytes as a list-page plist (and, after a "\n#strings\n" line, as its strings table),
// shown as a page: every row's cell is made, the headers, footers and heights are asked
// for, and every row is tapped, so that a link or a list of choices opens its page as well.
// Bad input may leave rows out but must never fail: no exception leaves the page.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/settings-host/PSListController.h"
#include "platform/settings-host/PagePlist.h"
#include "platform/ui/NSIndexPath.h"
#include "platform/ui/UINavigationController.h"
#include "platform/workspace/StringsFile.h"

// Fontconfig keeps its caches for the life of the process; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace {

class FuzzPage : public PSListController {
 public:
  void setSpecifiers(std::vector<PSSpecifierPtr> specifiers) {
    _specifiers = std::move(specifiers);
  }
};

// Asks the top page for everything a screen would show of it.
void show(UINavigationController& navigation) {
  auto page = std::dynamic_pointer_cast<PSListController>(navigation.topViewController());
  if (!page) return;
  page->viewWillAppear(false);
  UITableView& table = *page->table();
  const std::int64_t sections = page->numberOfSectionsInTableView(table);
  for (std::int64_t section = 0; section < sections; ++section) {
    (void)page->tableViewTitleForHeaderInSection(table, section);
    (void)page->tableViewTitleForFooterInSection(table, section);
    (void)page->tableViewHeightForHeaderInSection(table, section);
    (void)page->tableViewHeightForFooterInSection(table, section);
    const std::int64_t rows = page->tableViewNumberOfRowsInSection(table, section);
    for (std::int64_t row = 0; row < rows; ++row) {
      const NSIndexPath path = NSIndexPath::indexPathForRowInSection(row, section);
      (void)page->tableViewCellForRowAtIndexPath(table, path);
      (void)page->tableViewHeightForRowAtIndexPath(table, path);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    platform::setLogSink([](std::string_view) {});
    return true;
  }();
  (void)quiet;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  constexpr std::string_view kSeparator = "\n#strings\n";
  const std::size_t split = input.find(kSeparator);
  const auto root = platform::parsePropertyList(input.substr(0, split));
  if (!root) return 0;
  std::optional<platform::StringsTable> strings;
  if (split != std::string_view::npos) {
    strings = platform::parseStringsFile(input.substr(split + kSeparator.size()));
  }

  auto page = std::make_shared<FuzzPage>();
  platform::PagePlist plist = platform::specifiersFromPlistValue(
      *root, page.get(), strings ? &*strings : nullptr, "Fuzz.plist");
  page->setSpecifiers(std::move(plist.specifiers));
  auto navigation = UINavigationController::initWithRootViewController(page);
  show(*navigation);

  UITableView& table = *page->table();
  const std::int64_t sections = page->numberOfSectionsInTableView(table);
  for (std::int64_t section = 0; section < sections; ++section) {
    const std::int64_t rows = page->tableViewNumberOfRowsInSection(table, section);
    for (std::int64_t row = 0; row < rows; ++row) {
      page->tableViewDidSelectRowAtIndexPath(table,
                                             NSIndexPath::indexPathForRowInSection(row, section));
      if (navigation->viewControllers().size() > 1) {
        show(*navigation);
        navigation->popToRootViewControllerAnimated(false);
      }
    }
  }
  return 0;
}
