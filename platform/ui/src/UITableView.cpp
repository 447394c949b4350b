#include "platform/ui/UITableView.h"

#include <algorithm>

#include "UIClass_p.h"

const platform::Class& UITableView::staticClass() {
  static const platform::Class& cls = platform::uidetail::defineClass(
      "UITableView", UIView::staticClass(), [] { return std::make_shared<UITableView>(); });
  return cls;
}

UITableView::UITableView(CGRect frame, UITableViewStyle style) : UIView(frame), style_(style) {}

std::shared_ptr<UITableView> UITableView::initWithFrameStyle(CGRect frame, UITableViewStyle style) {
  return std::make_shared<UITableView>(frame, style);
}

void UITableView::setDataSource(std::weak_ptr<UITableViewDataSource> dataSource) {
  dataSource_ = std::move(dataSource);
}

void UITableView::setDelegate(std::weak_ptr<UITableViewDelegate> delegate) {
  delegate_ = std::move(delegate);
}

std::int64_t UITableView::numberOfSections() {
  auto source = dataSource();
  if (!source) return 0;
  return std::max<std::int64_t>(0, source->numberOfSectionsInTableView(*this));
}

std::int64_t UITableView::numberOfRowsInSection(std::int64_t section) {
  auto source = dataSource();
  if (!source || section < 0 || section >= numberOfSections()) return 0;
  return std::max<std::int64_t>(0, source->tableViewNumberOfRowsInSection(*this, section));
}

UITableViewCellPtr UITableView::cellForRowAtIndexPath(const NSIndexPath& indexPath) {
  if (auto it = visible_.find(indexPath); it != visible_.end()) return it->second;
  auto source = dataSource();
  if (!source || indexPath.row < 0 || indexPath.row >= numberOfRowsInSection(indexPath.section)) {
    return nullptr;
  }
  // Keeps the data source alive through its own callback even if it drops its last owner.
  auto cell = source->tableViewCellForRowAtIndexPath(*this, indexPath);
  if (!cell) return nullptr;
  // A data source may hand out a cell it still shows elsewhere; it is one row only.
  if (auto shown = rowOfCell_.find(cell.get()); shown != rowOfCell_.end()) {
    visible_.erase(shown->second);
    rowOfCell_.erase(shown);
  }
  visible_[indexPath] = cell;
  rowOfCell_[cell.get()] = indexPath;
  cell->setSelectedAnimated(selected_ == indexPath, false);
  if (auto d = delegate()) d->tableViewWillDisplayCellForRowAtIndexPath(*this, *cell, indexPath);
  return cell;
}

std::optional<NSIndexPath> UITableView::indexPathForCell(const UITableViewCell& cell) const {
  auto it = rowOfCell_.find(&cell);
  if (it == rowOfCell_.end()) return std::nullopt;
  return it->second;
}

UITableViewCellPtr UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
  if (identifier.empty()) return nullptr;
  auto it = reuseQueues_.find(identifier);
  if (it == reuseQueues_.end() || it->second.empty()) return nullptr;
  auto cell = std::move(it->second.back());
  it->second.pop_back();
  queued_.erase(cell.get());
  cell->prepareForReuse();
  return cell;
}

void UITableView::recycle(const UITableViewCellPtr& cell) {
  if (!cell || cell->reuseIdentifier().empty()) return;
  if (queued_.insert(cell.get()).second) reuseQueues_[cell->reuseIdentifier()].push_back(cell);
}

void UITableView::reloadData() {
  // Moved out first: a cell's teardown or the queue may not touch a map being walked.
  auto handedOut = std::move(visible_);
  visible_.clear();
  rowOfCell_.clear();
  for (auto& [path, cell] : handedOut) recycle(cell);
  selected_.reset();
  ++reloadGeneration_;
  setNeedsLayout();
}

void UITableView::reloadRowsAtIndexPathsWithRowAnimation(const std::vector<NSIndexPath>& indexPaths,
                                                         UITableViewRowAnimation /*animation*/) {
  for (const auto& path : indexPaths) {
    auto it = visible_.find(path);
    if (it == visible_.end()) continue;
    auto cell = std::move(it->second);
    visible_.erase(it);
    rowOfCell_.erase(cell.get());
    recycle(cell);
  }
  ++reloadGeneration_;
  setNeedsLayout();
}

void UITableView::selectRowAtIndexPath(const NSIndexPath& indexPath, bool /*animated*/) {
  if (selected_) {
    if (auto it = visible_.find(*selected_); it != visible_.end()) {
      it->second->setSelectedAnimated(false, false);
    }
  }
  selected_ = indexPath;
  if (auto it = visible_.find(indexPath); it != visible_.end()) {
    it->second->setSelectedAnimated(true, false);
  }
}

void UITableView::deselectRowAtIndexPathAnimated(const NSIndexPath& indexPath, bool /*animated*/) {
  if (selected_ != indexPath) return;
  selected_.reset();
  if (auto it = visible_.find(indexPath); it != visible_.end()) {
    it->second->setSelectedAnimated(false, false);
  }
}

std::size_t UITableView::reusableCellCount(const std::string& identifier) const {
  auto it = reuseQueues_.find(identifier);
  return it == reuseQueues_.end() ? 0 : it->second.size();
}

[[maybe_unused]] static const platform::Class& kUITableViewClass = UITableView::staticClass();
