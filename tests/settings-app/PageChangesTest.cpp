// Page updates as changes: whatever changed between two snapshots, the changes applied in
// order to the older page give the newer one; a browser that missed a version, or holds
// another page, is sent the whole page.
#include <gtest/gtest.h>

#include <random>

#include "PageJson.h"
#include "SettingsController.h"
#include "StubSession.h"
#include "platform/foundation/Json.h"

namespace settingsapp {
namespace {

using platform::Value;
using testing::StubSession;

using testing::parse;

// What the browser does with a list of changes, on the page's JSON.
Value applyChanges(Value page, const Value& changes) {
  Value::Array sections = page["sections"].arrayValue();
  for (const Value& change : changes.arrayValue()) {
    const auto s = static_cast<std::size_t>(change["section"].integerBits());
    Value::Dictionary section = sections.at(s).dictionaryValue();
    if (change["rows"].isArray()) {
      Value::Array rows = section["rows"].arrayValue();
      const auto at = static_cast<std::size_t>(change["at"].integerBits());
      const auto remove = static_cast<std::size_t>(change["remove"].integerBits());
      EXPECT_LE(at + remove, rows.size());
      rows.erase(rows.begin() + static_cast<long>(at),
                 rows.begin() + static_cast<long>(at + remove));
      const Value::Array& inserted = change["rows"].arrayValue();
      rows.insert(rows.begin() + static_cast<long>(at), inserted.begin(), inserted.end());
      section["rows"] = Value(std::move(rows));
      section["count"] = Value::integer(section["count"].integerBits() +
                                        static_cast<std::int64_t>(inserted.size()) -
                                        static_cast<std::int64_t>(remove));
    } else {
      for (const char* key : {"header", "footer", "footerImage"}) section[key] = change[key];
    }
    sections[s] = Value(std::move(section));
  }
  Value::Dictionary out = page.dictionaryValue();
  out["sections"] = Value(std::move(sections));
  return Value(std::move(out));
}

SettingsRow app(const std::string& name) {
  return testing::appRow(name);
}

SettingsPage rootPage(std::vector<SettingsRow> enabled, std::vector<SettingsRow> disabled) {
  SettingsPage page;
  page.title = "Halvex";
  page.depth = 1;
  page.canGoBack = true;
  page.backTitle = "Settings";
  SettingsSection global;
  global.rows = {testing::makeRow(SettingsRowKind::Switch, "Enabled", "enabled")};
  global.rows[0].isOn = true;
  SettingsSection on;
  on.header = "Backgrounding Enabled";
  on.rows = std::move(enabled);
  SettingsSection off;
  off.header = "Backgrounding Disabled";
  off.rows = std::move(disabled);
  page.sections = {global, on, off};
  return page;
}

void expectChangesLeadFromTo(const SettingsPage& before, const SettingsPage& after) {
  std::optional<std::string> changes = pageChangesJson(before, after, 7);
  ASSERT_TRUE(changes.has_value());
  EXPECT_EQ(
      platform::toJson(applyChanges(parse(pageToJson(before, 7)), parse("[" + *changes + "]"))),
      platform::toJson(parse(pageToJson(after, 7))))
      << *changes;
}

TEST(PageChangesTest, ChangesAppliedInOrderGiveTheNewPage) {
  std::vector<SettingsRow> many;
  for (int i = 0; i < 2000; ++i) many.push_back(app("App " + std::to_string(i)));
  const SettingsPage before = rootPage({}, many);

  // One application moved from one section to the other: a row inserted, a row removed.
  std::vector<SettingsRow> rest = many;
  rest.erase(rest.begin() + 1234);
  const SettingsPage moved = rootPage({many[1234]}, rest);
  expectChangesLeadFromTo(before, moved);
  const std::string changes = *pageChangesJson(before, moved, 7);
  EXPECT_LT(changes.size(), 400u) << "only the moved row travels";
  EXPECT_EQ(parse("[" + changes + "]").arrayValue().size(), 2u);

  // A switch flipped: one row replaced.
  SettingsPage flipped = before;
  flipped.sections[0].rows[0].isOn = false;
  expectChangesLeadFromTo(before, flipped);

  // Many edits at once, at random, in every section, with repeated titles.
  std::vector<SettingsRow> some(many.begin(), many.begin() + 300);
  const SettingsPage smaller = rootPage({some.begin(), some.begin() + 20}, some);
  std::mt19937 random(13);
  for (int round = 0; round < 30; ++round) {
    SettingsPage after = smaller;
    for (int edit = 0; edit < 1 + round * 3; ++edit) {
      auto& rows = after.sections[1 + random() % 2].rows;
      const std::size_t at = rows.empty() ? 0 : random() % rows.size();
      switch (random() % 4) {
        case 0:
          rows.insert(rows.begin() + static_cast<long>(at), app("New " + std::to_string(edit % 5)));
          break;
        case 1:
          if (!rows.empty()) rows.erase(rows.begin() + static_cast<long>(at));
          break;
        case 2:
          if (!rows.empty()) rows[at].detail = "changed";
          break;
        default:
          if (!rows.empty())
            std::rotate(rows.begin(), rows.begin() + static_cast<long>(at), rows.end());
      }
    }
    after.sections[2].header = round % 2 ? "Backgrounding Disabled" : "Other";
    expectChangesLeadFromTo(smaller, after);
  }
}

TEST(PageChangesTest, AnotherPageIsNoChangeOfThePageShown) {
  const SettingsPage root = rootPage({}, {app("Maps")});
  SettingsPage deeper = root;
  deeper.depth = 2;  // a page pushed with the same title and rows
  EXPECT_FALSE(pageChangesJson(root, deeper, 2).has_value());
  SettingsPage retitled = root;
  retitled.title = "Maps";
  EXPECT_FALSE(pageChangesJson(root, retitled, 2).has_value());
  SettingsPage fewer = root;
  fewer.sections.pop_back();
  EXPECT_FALSE(pageChangesJson(root, fewer, 2).has_value());
}

// The stub's current page changes as another process would change it.
void addRow(StubSession& session, const std::string& title) {
  session.stack.back().sections[1].rows.push_back(app(title));
  ++session.count;
}

TEST(PageChangesTest, TwoChangesInOneTurnMakeOneVersionWithBoth) {
  StubSession session;
  session.stack.back() = rootPage({}, {app("Maps")});
  SettingsController controller(session);
  const std::uint64_t seen = controller.version();

  addRow(session, "Notes");
  session.stack.back().sections[0].rows[0].isOn = false;
  ++session.count;
  EXPECT_TRUE(controller.refresh());
  EXPECT_EQ(controller.version(), seen + 1);
  const Value update = parse(controller.updateMessage(seen));
  EXPECT_EQ(update["type"].stringValue(), "delta");
  EXPECT_EQ(update["from"].integerBits(), static_cast<std::int64_t>(seen));
  EXPECT_EQ(platform::toJson(
                applyChanges(parse(pageToJson(rootPage({}, {app("Maps")}), 0)), update["changes"])),
            platform::toJson(parse(pageToJson(controller.page(), 0))));
  EXPECT_EQ(parse(controller.updateMessage(controller.version()))["changes"].arrayValue().size(),
            0u);
}

TEST(PageChangesTest, ABrowserThatMissedVersionsGetsThemTogetherOrTheWholePage) {
  StubSession session;
  session.stack.back() = rootPage({}, {});
  SettingsController controller(session);
  const std::uint64_t first = controller.version();
  EXPECT_EQ(parse(controller.updateMessage(0))["type"].stringValue(), "page")
      << "a new browser gets the whole page";

  addRow(session, "A");
  controller.refresh();
  addRow(session, "B");
  controller.refresh();
  const Value both = parse(controller.updateMessage(first));
  EXPECT_EQ(both["type"].stringValue(), "delta");
  EXPECT_EQ(both["version"].integerBits(), static_cast<std::int64_t>(first + 2));
  EXPECT_EQ(both["changes"].arrayValue().size(), 2u);
  EXPECT_EQ(parse(controller.updateMessage(first + 1))["changes"].arrayValue().size(), 1u);
  EXPECT_EQ(parse(controller.updateMessage(first + 5))["type"].stringValue(), "page")
      << "a version from the future is not trusted";

  // Long enough ago that the changes are no longer kept: the whole page.
  for (int i = 0; i < 40; ++i) {
    addRow(session, "More " + std::to_string(i));
    controller.refresh();
  }
  EXPECT_EQ(parse(controller.updateMessage(first))["type"].stringValue(), "page");
  EXPECT_EQ(parse(controller.updateMessage(controller.version() - 1))["type"].stringValue(),
            "delta");
}

TEST(PageChangesTest, AChangeToAPageNoLongerShownReachesNoBrowser) {
  StubSession session;  // Settings > Halvex
  SettingsController controller(session);
  const std::uint64_t onRoot = controller.version();
  auto reply = controller.handleActionFrom(
      "{\"action\":\"select\",\"section\":1,\"row\":0,\"version\":" + std::to_string(onRoot) + "}",
      onRoot);
  EXPECT_EQ(parse(reply.body)["type"].stringValue(), "page") << "navigation sends the whole page";
  EXPECT_EQ(parse(reply.body)["page"]["title"].stringValue(), "Maps");
  const std::uint64_t onMaps = controller.version();

  // The root page below changes; what is shown does not, so no version and nothing to send.
  session.stack[1].sections[1].rows.push_back(app("Notes"));
  ++session.count;
  EXPECT_FALSE(controller.refresh());
  EXPECT_EQ(parse(controller.updateMessage(onMaps))["changes"].arrayValue().size(), 0u);

  // A tap made on the root page before the navigation names its version: refused as stale,
  // and the reply brings the browser the page now shown.
  reply = controller.handleActionFrom(
      "{\"action\":\"select\",\"section\":1,\"row\":0,\"version\":" + std::to_string(onRoot) + "}",
      onRoot);
  const Value refused = parse(reply.body);
  EXPECT_EQ(reply.status, 409);
  EXPECT_EQ(refused["type"].stringValue(), "error");
  EXPECT_EQ(refused["page"]["title"].stringValue(), "Maps");
  EXPECT_EQ(refused["version"].integerBits(), static_cast<std::int64_t>(onMaps));

  // Back on the root page: the whole page again, with the row added while it was hidden.
  reply = controller.handleActionFrom("{\"action\":\"back\"}", onMaps);
  const Value back = parse(reply.body);
  EXPECT_EQ(back["type"].stringValue(), "page");
  EXPECT_EQ(back["page"]["sections"][1]["rows"].arrayValue().size(), 2u);
}

}  // namespace
}  // namespace settingsapp
