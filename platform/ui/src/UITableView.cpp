#include "platform/ui/UITableView.h"

#include <algorithm>

#include "UIClass_p.h"

const platform::Class& UITableView::staticClass() {
  static const platform::Class& cls = platform::uidetail::defineClass(
      "UITableView", UIView::staticClass(), [] { return std::make_shared<UITableView>(); });
  return cls;
}

UITableView::UITableView(CGRect frame, UITableViewStyle style) : UIView(frame), style_(style) {}

UITableView::~UITableView() {
  for (auto& rows : visible_) {
    for (auto& cell : rows) {
      if (cell && cell->shownBy_ == this) cell->shownBy_ = nullptr;
    }
  }
  for (auto& [identifier, queue] : reuseQueues_) {
    for (auto& cell : queue) {
      if (cell->queuedBy_ == this) cell->queuedBy_ = nullptr;
    }
  }
}

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
  return source ? rowsInSection(*source, section) : 0;
}

std::int64_t UITableView::rowsInSection(UITableViewDataSource& source, std::int64_t section) {
  if (section < 0 || section >= source.numberOfSectionsInTableView(*this)) return 0;
  return std::max<std::int64_t>(0, source.tableViewNumberOfRowsInSection(*this, section));
}

UITableViewCellPtr* UITableView::slot(const NSIndexPath& indexPath) {
  if (indexPath.section < 0 || indexPath.row < 0 ||
      static_cast<std::uint64_t>(indexPath.section) >= visible_.size()) {
    return nullptr;
  }
  auto& rows = visible_[static_cast<std::size_t>(indexPath.section)];
  if (static_cast<std::uint64_t>(indexPath.row) >= rows.size()) return nullptr;
  return &rows[static_cast<std::size_t>(indexPath.row)];
}

UITableViewCellPtr UITableView::cellForRowAtIndexPath(const NSIndexPath& indexPath) {
  if (auto* shown = slot(indexPath); shown && *shown) return *shown;
  // Keeps the data source alive through its own callback even if it drops its last owner.
  auto source = dataSource();
  return source ? showCell(*source, nullptr, indexPath) : nullptr;
}

UITableViewCellPtr UITableView::showCell(UITableViewDataSource& source,
                                         const std::shared_ptr<UITableViewDelegate>* delegate,
                                         const NSIndexPath& indexPath) {
  const std::int64_t rows = rowsInSection(source, indexPath.section);
  if (indexPath.row < 0 || indexPath.row >= rows) return nullptr;
  auto cell = source.tableViewCellForRowAtIndexPath(*this, indexPath);
  if (!cell) return nullptr;
  // A data source may hand out a cell it still shows elsewhere; it is one row only.
  if (cell->shownBy_ == this) {
    if (auto* before = slot(cell->shownAt_); before && *before == cell) before->reset();
  } else if (cell->shownBy_ != nullptr) {
    // Shown by another table: that table's slot still holds it, but the cell's place is here.
    cell->shownBy_ = nullptr;
  }
  const auto section = static_cast<std::size_t>(indexPath.section);
  if (visible_.size() <= section) visible_.resize(section + 1);
  auto& slots = visible_[section];
  if (slots.size() <= static_cast<std::size_t>(indexPath.row)) {
    slots.resize(
        std::max(static_cast<std::size_t>(rows), static_cast<std::size_t>(indexPath.row) + 1));
  }
  UITableViewCellPtr& target = slots[static_cast<std::size_t>(indexPath.row)];
  target = cell;
  cell->shownBy_ = this;
  cell->shownAt_ = indexPath;
  cell->setSelectedAnimated(selected_ == indexPath, false);
  if (delegate != nullptr) {
    if (*delegate) (*delegate)->tableViewWillDisplayCellForRowAtIndexPath(*this, *cell, indexPath);
  } else if (auto d = this->delegate()) {
    d->tableViewWillDisplayCellForRowAtIndexPath(*this, *cell, indexPath);
  }
  return cell;
}

std::map<NSIndexPath, UITableViewCellPtr> UITableView::visibleCells() const {
  std::map<NSIndexPath, UITableViewCellPtr> cells;
  for (std::size_t s = 0; s < visible_.size(); ++s) {
    for (std::size_t r = 0; r < visible_[s].size(); ++r) {
      if (visible_[s][r]) {
        cells.emplace(NSIndexPath{static_cast<std::int64_t>(s), static_cast<std::int64_t>(r)},
                      visible_[s][r]);
      }
    }
  }
  return cells;
}

std::optional<NSIndexPath> UITableView::indexPathForCell(const UITableViewCell& cell) const {
  if (cell.shownBy_ != this) return std::nullopt;
  return cell.shownAt_;
}

UITableViewCellPtr UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
  if (identifier.empty()) return nullptr;
  std::vector<UITableViewCellPtr>& queue = queueFor(identifier);
  if (queue.empty()) return nullptr;
  auto cell = std::move(queue.back());
  queue.pop_back();
  cell->queuedBy_ = nullptr;
  cell->prepareForReuse();
  return cell;
}

void UITableView::recycle(const UITableViewCellPtr& cell) {
  if (!cell) return;
  if (cell->shownBy_ == this) cell->shownBy_ = nullptr;
  if (cell->reuseIdentifier().empty() || cell->queuedBy_ == this) return;
  cell->queuedBy_ = this;
  queueFor(cell->reuseIdentifier()).push_back(cell);
}

std::vector<UITableViewCellPtr>& UITableView::queueFor(const std::string& identifier) {
  // Rows read one after another take and return cells of one kind: the queue of the last
  // call is the likely one, found with one comparison instead of a walk of the tree.
  if (lastQueue_ == reuseQueues_.end() || lastQueue_->first != identifier) {
    lastQueue_ = reuseQueues_.try_emplace(identifier).first;
  }
  return lastQueue_->second;
}

void UITableView::putBack(const UITableViewCellPtr& cell) {
  if (cell->shownBy_ == this) {
    if (auto* shown = slot(cell->shownAt_); shown && *shown == cell) shown->reset();
  }
  recycle(cell);
}

void UITableView::reloadData() {
  // Moved out first: a cell's teardown or the queue may not touch the slots being walked.
  auto handedOut = std::move(visible_);
  visible_.clear();
  for (auto& rows : handedOut) {
    for (auto& cell : rows) recycle(cell);
  }
  selected_.reset();
  ++reloadGeneration_;
  setNeedsLayout();
}

void UITableView::reloadRowsAtIndexPathsWithRowAnimation(const std::vector<NSIndexPath>& indexPaths,
                                                         UITableViewRowAnimation /*animation*/) {
  for (const auto& path : indexPaths) {
    auto* shown = slot(path);
    if (!shown || !*shown) continue;
    auto cell = std::move(*shown);
    shown->reset();
    recycle(cell);
  }
  ++reloadGeneration_;
  setNeedsLayout();
}

void UITableView::selectRowAtIndexPath(const NSIndexPath& indexPath, bool /*animated*/) {
  if (selected_) {
    if (auto* shown = slot(*selected_); shown && *shown)
      (*shown)->setSelectedAnimated(false, false);
  }
  selected_ = indexPath;
  if (auto* shown = slot(indexPath); shown && *shown) (*shown)->setSelectedAnimated(true, false);
}

void UITableView::deselectRowAtIndexPathAnimated(const NSIndexPath& indexPath, bool /*animated*/) {
  if (selected_ != indexPath) return;
  selected_.reset();
  if (auto* shown = slot(indexPath); shown && *shown) (*shown)->setSelectedAnimated(false, false);
}

std::size_t UITableView::reusableCellCount(const std::string& identifier) const {
  auto it = reuseQueues_.find(identifier);
  return it == reuseQueues_.end() ? 0 : it->second.size();
}

[[maybe_unused]] static const platform::Class& kUITableViewClass = UITableView::staticClass();
