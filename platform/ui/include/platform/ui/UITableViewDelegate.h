// What a table tells, and asks of, the object that handles its rows' sizes, extra views and
// selection. Every operation is optional; the defaults answer as when it is not given.
// The table does not own its delegate.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/ui/NSIndexPath.h"

class UITableView;
class UITableViewCell;
class UIView;

// A row, header or footer height that the table works out itself.
inline constexpr double UITableViewAutomaticDimension = -1;

class UITableViewDelegate {
 public:
  virtual ~UITableViewDelegate() = default;
  UITableViewDelegate(const UITableViewDelegate&) = delete;
  UITableViewDelegate& operator=(const UITableViewDelegate&) = delete;

  // Heights default to UITableViewAutomaticDimension.
  virtual double tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                                  const NSIndexPath& indexPath);
  virtual double tableViewEstimatedHeightForRowAtIndexPath(UITableView& tableView,
                                                           const NSIndexPath& indexPath);
  virtual double tableViewHeightForHeaderInSection(UITableView& tableView, std::int64_t section);
  virtual double tableViewHeightForFooterInSection(UITableView& tableView, std::int64_t section);
  // Extra views default to none (the titles of the data source show instead).
  virtual std::shared_ptr<UIView> tableViewViewForHeaderInSection(UITableView& tableView,
                                                                  std::int64_t section);
  virtual std::shared_ptr<UIView> tableViewViewForFooterInSection(UITableView& tableView,
                                                                  std::int64_t section);
  // Notifications; the defaults do nothing.
  virtual void tableViewWillDisplayCellForRowAtIndexPath(UITableView& tableView,
                                                         UITableViewCell& cell,
                                                         const NSIndexPath& indexPath);
  virtual void tableViewDidSelectRowAtIndexPath(UITableView& tableView,
                                                const NSIndexPath& indexPath);
  virtual void tableViewDidDeselectRowAtIndexPath(UITableView& tableView,
                                                  const NSIndexPath& indexPath);

 protected:
  UITableViewDelegate() = default;
};
