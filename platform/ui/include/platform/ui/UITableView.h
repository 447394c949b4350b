// A list of rows in sections, filled through a data source and steered by a delegate, both
// not owned (they usually own the table). The table keeps the cells it handed out since the
// last reload and a reuse queue per reuse identifier; reloadData returns every handed-out cell
// to its queue and bumps a generation counter so that observers can tell the rows changed.
// Main thread only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/NSIndexPath.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UITableViewDataSource.h"
#include "platform/ui/UITableViewDelegate.h"
#include "platform/ui/UIView.h"

enum UITableViewStyle : int {
  UITableViewStylePlain = 0,
  UITableViewStyleGrouped = 1,
  UITableViewStyleInsetGrouped = 2,
};

enum UITableViewRowAnimation : int {
  UITableViewRowAnimationFade = 0,
  UITableViewRowAnimationNone = 5,
  UITableViewRowAnimationAutomatic = 100,
};

class UITableView : public UIView {
  HX_OBJECT_CLASS()

 public:
  explicit UITableView(CGRect frame = CGRectZero, UITableViewStyle style = UITableViewStylePlain);
  // Cells that outlive the table forget it.
  ~UITableView() override;
  static std::shared_ptr<UITableView> initWithFrameStyle(CGRect frame, UITableViewStyle style);

  UITableViewStyle style() const { return style_; }
  // Null when none was set or it has gone.
  std::shared_ptr<UITableViewDataSource> dataSource() const { return dataSource_.lock(); }
  void setDataSource(std::weak_ptr<UITableViewDataSource> dataSource);
  std::shared_ptr<UITableViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<UITableViewDelegate> delegate);

  // The data source's answers, with negative counts taken as 0 and 0 without a data source.
  std::int64_t numberOfSections();
  // 0 for a section out of range.
  std::int64_t numberOfRowsInSection(std::int64_t section);
  // The cell handed out for the row since the last reload, else a new one from the data source
  // (remembered as handed out). Null for a row out of range, without a data source, or when
  // the data source gives none.
  UITableViewCellPtr cellForRowAtIndexPath(const NSIndexPath& indexPath);
  // For a caller that only looks at rows (a snapshot of the page): hands `read` the cell of
  // each row of `section` from `from` up to `end`, in order, as cellForRowAtIndexPath gives
  // it, or null for a row without one. A cell made only for this goes back to its reuse queue
  // as soon as `read` returns instead of staying handed out, so that reading thousands of rows
  // reuses one cell rather than keeping one per row; the data source and the delegate are held
  // once for all of them. An exception of the data source or of `read` ends the walk (the
  // cell goes back all the same); the caller may go on from the next row.
  template <class Read>
  void readCellsInSection(std::int64_t section, std::int64_t from, std::int64_t end, Read&& read) {
    const auto source = dataSource();
    const auto heldDelegate = delegate();
    for (std::int64_t row = from; row < end; ++row) {
      const NSIndexPath path = NSIndexPath::indexPathForRowInSection(row, section);
      if (auto* shown = slot(path); shown && *shown) {
        const UITableViewCellPtr cell = *shown;
        read(cell.get());
        continue;
      }
      const UITableViewCellPtr cell = source ? showCell(*source, &heldDelegate, path) : nullptr;
      if (!cell) {
        read(static_cast<UITableViewCell*>(nullptr));
        continue;
      }
      struct PutBack {
        UITableView& table;
        const UITableViewCellPtr& cell;
        ~PutBack() { table.putBack(cell); }
      } putBack{*this, cell};
      read(cell.get());
    }
  }
  // The cells handed out since the last reload, by row (made on each call).
  std::map<NSIndexPath, UITableViewCellPtr> visibleCells() const;
  // Where the cell shows in this table since the last reload; none for a cell it did not hand
  // out. A cell shows in one table at a time: handed out by another, it leaves this one's rows.
  std::optional<NSIndexPath> indexPathForCell(const UITableViewCell& cell) const;

  // A cell from the queue of `identifier` (after its prepareForReuse), or null when the queue
  // is empty. An empty identifier never matches.
  UITableViewCellPtr dequeueReusableCellWithIdentifier(const std::string& identifier);
  // Returns every handed-out cell to the reuse queues, forgets the selection, bumps
  // reloadGeneration and asks for a layout pass.
  void reloadData();
  // The same for the given rows only.
  void reloadRowsAtIndexPathsWithRowAnimation(const std::vector<NSIndexPath>& indexPaths,
                                              UITableViewRowAnimation animation);
  // Counts reloads since creation.
  std::uint64_t reloadGeneration() const { return reloadGeneration_; }

  std::optional<NSIndexPath> indexPathForSelectedRow() const { return selected_; }
  void selectRowAtIndexPath(const NSIndexPath& indexPath, bool animated);
  void deselectRowAtIndexPathAnimated(const NSIndexPath& indexPath, bool animated);

  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double height) { rowHeight_ = height; }
  double estimatedRowHeight() const { return estimatedRowHeight_; }
  void setEstimatedRowHeight(double height) { estimatedRowHeight_ = height; }

  // Cells waiting in the queue of `identifier`.
  std::size_t reusableCellCount(const std::string& identifier) const;

 private:
  void recycle(const UITableViewCellPtr& cell);
  // numberOfRowsInSection with the data source already held.
  std::int64_t rowsInSection(UITableViewDataSource& source, std::int64_t section);
  // The rest of cellForRowAtIndexPath for a row without a handed-out cell; `delegate` points
  // to the delegate the caller holds, or is null to look it up once the cell is made.
  UITableViewCellPtr showCell(UITableViewDataSource& source,
                              const std::shared_ptr<UITableViewDelegate>* delegate,
                              const NSIndexPath& indexPath);
  // The reuse queue of `identifier`, made empty when missing.
  std::vector<UITableViewCellPtr>& queueFor(const std::string& identifier);
  // Takes `cell` out of the row it shows in here, if it still does, and queues it for reuse.
  void putBack(const UITableViewCellPtr& cell);
  // The slot of a handed-out row, or null when the path lies outside every slot.
  UITableViewCellPtr* slot(const NSIndexPath& indexPath);

  const UITableViewStyle style_;
  std::weak_ptr<UITableViewDataSource> dataSource_;
  std::weak_ptr<UITableViewDelegate> delegate_;
  // Handed-out cells by section and row (null where none is). A cell also records its own
  // row and queue (UITableViewCell::shownBy_ and queuedBy_), so that a table of thousands of
  // rows finds either without a walk or a lookup, and a reload allocates nothing per row.
  std::vector<std::vector<UITableViewCellPtr>> visible_;
  using ReuseQueues = std::map<std::string, std::vector<UITableViewCellPtr>, std::less<>>;
  ReuseQueues reuseQueues_;
  // The queue queueFor gave last (entries are never erased, so it stays valid), or end().
  ReuseQueues::iterator lastQueue_ = reuseQueues_.end();
  std::optional<NSIndexPath> selected_;
  std::uint64_t reloadGeneration_ = 0;
  double rowHeight_ = UITableViewAutomaticDimension;
  double estimatedRowHeight_ = UITableViewAutomaticDimension;
};

using UITableViewPtr = std::shared_ptr<UITableView>;
