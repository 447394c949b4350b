// What a table asks of the object that supplies its rows. Only the row count and the cell
// are required; the other operations answer as the platform does when they are not given.
// The table does not own its data source.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/NSIndexPath.h"

class UITableView;
class UITableViewCell;

class UITableViewDataSource {
 public:
  virtual ~UITableViewDataSource() = default;
  UITableViewDataSource(const UITableViewDataSource&) = delete;
  UITableViewDataSource& operator=(const UITableViewDataSource&) = delete;

  // Default: 1.
  virtual std::int64_t numberOfSectionsInTableView(UITableView& tableView);
  virtual std::int64_t tableViewNumberOfRowsInSection(UITableView& tableView,
                                                      std::int64_t section) = 0;
  // The cell for the row; it may come from tableView.dequeueReusableCellWithIdentifier.
  virtual std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(
      UITableView& tableView, const NSIndexPath& indexPath) = 0;
  // Default: none.
  virtual std::optional<std::string> tableViewTitleForHeaderInSection(UITableView& tableView,
                                                                      std::int64_t section);
  virtual std::optional<std::string> tableViewTitleForFooterInSection(UITableView& tableView,
                                                                      std::int64_t section);
  // Default: true, every row may be edited.
  virtual bool tableViewCanEditRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath);

 protected:
  UITableViewDataSource() = default;
};
