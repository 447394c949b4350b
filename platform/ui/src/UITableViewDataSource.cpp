#include "platform/ui/UITableViewDataSource.h"

#include "platform/ui/UITableViewDelegate.h"

std::int64_t UITableViewDataSource::numberOfSectionsInTableView(UITableView& /*tableView*/) {
  return 1;
}

std::optional<std::string> UITableViewDataSource::tableViewTitleForHeaderInSection(
    UITableView& /*tableView*/, std::int64_t /*section*/) {
  return std::nullopt;
}

std::optional<std::string> UITableViewDataSource::tableViewTitleForFooterInSection(
    UITableView& /*tableView*/, std::int64_t /*section*/) {
  return std::nullopt;
}

bool UITableViewDataSource::tableViewCanEditRowAtIndexPath(UITableView& /*tableView*/,
                                                           const NSIndexPath& /*indexPath*/) {
  return true;
}

double UITableViewDelegate::tableViewHeightForRowAtIndexPath(UITableView& /*tableView*/,
                                                             const NSIndexPath& /*indexPath*/) {
  return UITableViewAutomaticDimension;
}

double UITableViewDelegate::tableViewEstimatedHeightForRowAtIndexPath(
    UITableView& /*tableView*/, const NSIndexPath& /*indexPath*/) {
  return UITableViewAutomaticDimension;
}

double UITableViewDelegate::tableViewHeightForHeaderInSection(UITableView& /*tableView*/,
                                                              std::int64_t /*section*/) {
  return UITableViewAutomaticDimension;
}

double UITableViewDelegate::tableViewHeightForFooterInSection(UITableView& /*tableView*/,
                                                              std::int64_t /*section*/) {
  return UITableViewAutomaticDimension;
}

std::shared_ptr<UIView> UITableViewDelegate::tableViewViewForHeaderInSection(
    UITableView& /*tableView*/, std::int64_t /*section*/) {
  return nullptr;
}

std::shared_ptr<UIView> UITableViewDelegate::tableViewViewForFooterInSection(
    UITableView& /*tableView*/, std::int64_t /*section*/) {
  return nullptr;
}

void UITableViewDelegate::tableViewWillDisplayCellForRowAtIndexPath(
    UITableView& /*tableView*/, UITableViewCell& /*cell*/, const NSIndexPath& /*indexPath*/) {}

void UITableViewDelegate::tableViewDidSelectRowAtIndexPath(UITableView& /*tableView*/,
                                                           const NSIndexPath& /*indexPath*/) {}

void UITableViewDelegate::tableViewDidDeselectRowAtIndexPath(UITableView& /*tableView*/,
                                                             const NSIndexPath& /*indexPath*/) {}
