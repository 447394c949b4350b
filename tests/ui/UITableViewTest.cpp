#include "platform/ui/UITableView.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A data source that lists a fixed number of rows per section and makes cells the way the
// platform's pages do: dequeue first, create when the queue is empty.
class ListSource : public UITableViewDataSource {
 public:
  std::vector<std::int64_t> rows{3, 2};
  int created = 0;
  int asked = 0;

  std::int64_t numberOfSectionsInTableView(UITableView&) override {
    return static_cast<std::int64_t>(rows.size());
  }
  std::int64_t tableViewNumberOfRowsInSection(UITableView&, std::int64_t section) override {
    return rows[static_cast<std::size_t>(section)];
  }
  UITableViewCellPtr tableViewCellForRowAtIndexPath(UITableView& table,
                                                    const NSIndexPath& path) override {
    ++asked;
    auto cell = table.dequeueReusableCellWithIdentifier("Cell");
    if (!cell) {
      ++created;
      cell = UITableViewCell::initWithStyleReuseIdentifier(UITableViewCellStyleDefault, "Cell");
    }
    cell->textLabel()->setText(std::to_string(path.section) + ":" + std::to_string(path.row));
    return cell;
  }
};

class UITableViewTest : public ::testing::Test {
 protected:
  std::shared_ptr<ListSource> source = std::make_shared<ListSource>();
  UITableViewPtr table =
      UITableView::initWithFrameStyle(CGRectMake(0, 0, 320, 480), UITableViewStyleGrouped);
  void SetUp() override { table->setDataSource(source); }

  void showAll() {
    for (std::int64_t s = 0; s < table->numberOfSections(); ++s) {
      for (std::int64_t r = 0; r < table->numberOfRowsInSection(s); ++r) {
        ASSERT_NE(table->cellForRowAtIndexPath({s, r}), nullptr);
      }
    }
  }
};

TEST_F(UITableViewTest, ReloadHandsCellsBackForReuse) {
  showAll();
  EXPECT_EQ(source->created, 5);
  EXPECT_EQ(table->visibleCells().size(), 5u);

  const auto generation = table->reloadGeneration();
  table->reloadData();
  EXPECT_EQ(table->reloadGeneration(), generation + 1);
  EXPECT_TRUE(table->visibleCells().empty());
  EXPECT_EQ(table->reusableCellCount("Cell"), 5u);

  source->rows = {1, 1};
  showAll();
  EXPECT_EQ(source->created, 5) << "reused cells, made none";
  EXPECT_EQ(table->reusableCellCount("Cell"), 3u);
  EXPECT_EQ(table->cellForRowAtIndexPath({1, 0})->textLabel()->text(), "1:0");
}

TEST_F(UITableViewTest, HandedOutCellIsAskedForOnceUntilReload) {
  auto first = table->cellForRowAtIndexPath({0, 1});
  auto again = table->cellForRowAtIndexPath({0, 1});
  EXPECT_EQ(first, again);
  EXPECT_EQ(source->asked, 1);
  EXPECT_EQ(table->indexPathForCell(*first), (NSIndexPath{0, 1}));
  table->reloadRowsAtIndexPathsWithRowAnimation({{0, 1}}, UITableViewRowAnimationNone);
  table->cellForRowAtIndexPath({0, 1});
  EXPECT_EQ(source->asked, 2);
  EXPECT_EQ(source->created, 1) << "the reloaded row got its own cell back";
}

TEST_F(UITableViewTest, RowsOutOfRangeAndAMissingDataSourceGiveNoCell) {
  for (NSIndexPath path :
       {NSIndexPath{0, 3}, NSIndexPath{2, 0}, NSIndexPath{-1, 0}, NSIndexPath{0, -1}}) {
    EXPECT_EQ(table->cellForRowAtIndexPath(path), nullptr) << path.description();
  }
  EXPECT_EQ(source->asked, 0);
  source.reset();  // the table does not keep its data source alive
  EXPECT_EQ(table->dataSource(), nullptr);
  EXPECT_EQ(table->numberOfSections(), 0);
  EXPECT_EQ(table->cellForRowAtIndexPath({0, 0}), nullptr);
}

TEST_F(UITableViewTest, DequeueRunsPrepareForReuseAndIgnoresOtherIdentifiers) {
  auto cell = table->cellForRowAtIndexPath({0, 0});
  table->selectRowAtIndexPath({0, 0}, false);
  EXPECT_TRUE(cell->isSelected());
  table->reloadData();
  EXPECT_EQ(table->indexPathForSelectedRow(), std::nullopt);
  EXPECT_EQ(table->dequeueReusableCellWithIdentifier("Other"), nullptr);
  EXPECT_EQ(table->dequeueReusableCellWithIdentifier(""), nullptr);
  auto reused = table->dequeueReusableCellWithIdentifier("Cell");
  EXPECT_EQ(reused, cell);
  EXPECT_FALSE(reused->isSelected());
  EXPECT_EQ(table->dequeueReusableCellWithIdentifier("Cell"), nullptr);
}

// A data source whose cell for one row cannot be made.
class FailingRowSource : public ListSource {
 public:
  NSIndexPath failing{0, 1};
  UITableViewCellPtr tableViewCellForRowAtIndexPath(UITableView& table,
                                                    const NSIndexPath& path) override {
    if (path == failing) throw std::runtime_error("no cell");
    return ListSource::tableViewCellForRowAtIndexPath(table, path);
  }
};

TEST_F(UITableViewTest, ReadingRowsReusesOneCellAndKeepsShownOnesShown) {
  source->rows = {200};
  auto shown = table->cellForRowAtIndexPath({0, 5});
  std::vector<std::string> texts;
  table->readCellsInSection(0, 0, 201, [&](UITableViewCell* cell) {
    texts.push_back(cell ? cell->textLabel()->text() : "none");
  });
  ASSERT_EQ(texts.size(), 201u);
  EXPECT_EQ(texts[5], "0:5");
  EXPECT_EQ(texts[199], "0:199");
  EXPECT_EQ(texts[200], "none") << "past the last row";
  EXPECT_EQ(source->created, 2) << "the shown cell and one read cell for every other row";
  EXPECT_EQ(table->visibleCells().size(), 1u);
  EXPECT_EQ(table->indexPathForCell(*shown), (NSIndexPath{0, 5}));
  EXPECT_EQ(table->reusableCellCount("Cell"), 1u);

  // A data source that throws ends the walk; the cell read before it went back all the same.
  auto failing = std::make_shared<FailingRowSource>();
  table->setDataSource(failing);
  table->reloadData();
  texts.clear();
  EXPECT_THROW(
      table->readCellsInSection(
          0, 0, 3, [&](UITableViewCell* cell) { texts.push_back(cell->textLabel()->text()); }),
      std::runtime_error);
  EXPECT_EQ(texts, std::vector<std::string>{"0:0"});
  EXPECT_TRUE(table->visibleCells().empty());
}

// A data source that hands out the one cell it keeps, for every row.
class OneCellSource : public ListSource {
 public:
  UITableViewCellPtr cell =
      UITableViewCell::initWithStyleReuseIdentifier(UITableViewCellStyleDefault, "Cell");
  UITableViewCellPtr tableViewCellForRowAtIndexPath(UITableView&, const NSIndexPath&) override {
    return cell;
  }
};

TEST_F(UITableViewTest, ACellHandedOutAgainShowsInOneRowOfOneTable) {
  auto one = std::make_shared<OneCellSource>();
  table->setDataSource(one);
  table->cellForRowAtIndexPath({0, 0});
  table->cellForRowAtIndexPath({1, 1});
  EXPECT_EQ(table->indexPathForCell(*one->cell), (NSIndexPath{1, 1}));
  EXPECT_EQ(table->visibleCells().size(), 1u);

  auto other = UITableView::initWithFrameStyle(CGRectMake(0, 0, 320, 480), UITableViewStylePlain);
  other->setDataSource(one);
  other->cellForRowAtIndexPath({0, 2});
  EXPECT_EQ(table->indexPathForCell(*one->cell), std::nullopt) << "it moved to the other table";
  EXPECT_EQ(other->indexPathForCell(*one->cell), (NSIndexPath{0, 2}));

  // Queued by a table that is gone, the cell is queued afresh by the next one.
  other->reloadData();
  other.reset();
  table->reloadData();
  EXPECT_EQ(table->reusableCellCount("Cell"), 1u);
  EXPECT_EQ(table->dequeueReusableCellWithIdentifier("Cell"), one->cell);
}

TEST(UITableViewCellTest, DefaultStyleHasNoDetailLabelAndContentViewComesFirst) {
  auto cell = UITableViewCell::initWithStyleReuseIdentifier(UITableViewCellStyleDefault, "A");
  auto extra = std::make_shared<UIView>();
  cell->addSubview(extra);
  EXPECT_EQ(cell->detailTextLabel(), nullptr);
  cell->textLabel()->setText("Name");
  ASSERT_EQ(cell->subviews().size(), 2u);
  EXPECT_EQ(cell->subviews()[0], cell->contentView());
  EXPECT_EQ(cell->textLabel()->superview(), cell->contentView());
  auto value1 = UITableViewCell::initWithStyleReuseIdentifier(UITableViewCellStyleValue1, "B");
  EXPECT_NE(value1->detailTextLabel(), nullptr);
  auto unknown =
      UITableViewCell::initWithStyleReuseIdentifier(static_cast<UITableViewCellStyle>(42), "C");
  EXPECT_EQ(unknown->style(), UITableViewCellStyleDefault);
}

}  // namespace
