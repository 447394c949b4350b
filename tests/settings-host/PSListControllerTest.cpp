#include "platform/settings-host/PSListController.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// A page whose specifiers the test sets, and which answers what its groups are.
class GroupedPage : public PSListController {
 public:
  explicit GroupedPage(std::vector<PSSpecifierPtr> specifiers) {
    _specifiers = std::move(specifiers);
  }
  std::vector<std::size_t> groupSizes() {
    std::vector<std::size_t> sizes;
    for (const Group& group : groups()) sizes.push_back(group.rows.size());
    return sizes;
  }
};

PSSpecifierPtr row(const std::string& name) {
  return PSSpecifier::preferenceSpecifierNamedTargetSetGetDetailCellEdit(name, nullptr, "", "", "",
                                                                         PSStaticTextCell);
}

TEST(PSListControllerTest, TheTableCountsSectionsAndRowsAsTheGroupsSplitThem) {
  const std::vector<std::vector<PSSpecifierPtr>> pages = {
      {},
      {row("a"), row("b")},
      {row("a"), PSSpecifier::groupSpecifierWithName("G"), row("b"), nullptr, row("c")},
      {PSSpecifier::emptyGroupSpecifier(), PSSpecifier::emptyGroupSpecifier(), row("a")},
  };
  for (std::size_t p = 0; p < pages.size(); ++p) {
    auto page = std::make_shared<GroupedPage>(pages[p]);
    UITableView& table = *page->table();
    const std::vector<std::size_t> sizes = page->groupSizes();
    ASSERT_EQ(page->numberOfSectionsInTableView(table), static_cast<std::int64_t>(sizes.size()))
        << "page " << p;
    for (std::size_t s = 0; s < sizes.size(); ++s) {
      EXPECT_EQ(page->tableViewNumberOfRowsInSection(table, static_cast<std::int64_t>(s)),
                static_cast<std::int64_t>(sizes[s]))
          << "page " << p << " section " << s;
    }
    EXPECT_EQ(page->tableViewNumberOfRowsInSection(table, static_cast<std::int64_t>(sizes.size())),
              0);
    EXPECT_EQ(page->tableViewNumberOfRowsInSection(table, -1), 0);
  }
}

}  // namespace
