// A page sent in slices: the first rows with every section's count, the rest read from the
// page only when a range of them is asked for; and the way back to a page the browser kept,
// sent as what changed since the version it holds.
#include <gtest/gtest.h>

#include "SettingsController.h"
#include "StubSession.h"
#include "platform/foundation/Json.h"

namespace settingsapp {
namespace {

using platform::Value;
using testing::StubSession;

using testing::parse;

// The stub's Halvex page with `count` applications in its second section.
void fillApplications(StubSession& session, int count) {
  auto& rows = session.stack.back().sections[1].rows;
  rows.clear();
  for (int i = 0; i < count; ++i) rows.push_back(testing::appRow("App " + std::to_string(i)));
  ++session.count;
}

std::string rowsAction(std::uint64_t version, int section, long at, long count) {
  return "{\"action\":\"rows\",\"version\":" + std::to_string(version) +
         ",\"section\":" + std::to_string(section) + ",\"at\":" + std::to_string(at) +
         ",\"count\":" + std::to_string(count) + "}";
}

std::vector<std::string> titles(const Value& rows) {
  std::vector<std::string> out;
  for (const Value& row : rows.arrayValue()) out.push_back(row["title"].stringValue());
  return out;
}

TEST(PageSlicesTest, APageCarriesItsFirstRowsAndTheRestIsReadOnlyWhenAskedFor) {
  StubSession session;
  fillApplications(session, 5000);
  SettingsController controller(session);
  const Value page = parse(controller.pageMessage());
  const Value& apps = page["page"]["sections"][1];
  EXPECT_EQ(apps["count"].integerBits(), 5000);
  const std::size_t first = apps["rows"].arrayValue().size();
  EXPECT_EQ(page["page"]["sections"][0]["rows"].arrayValue().size() + first, kFirstScreenRows);
  EXPECT_LT(controller.pageMessage().size(), 16u * 1024);
  EXPECT_TRUE(session.calls.empty()) << "no row past the first screen read yet";

  // The rest, range by range, in order, each at most kMaxRowsPerRequest rows.
  std::vector<std::string> all = titles(apps["rows"]);
  while (all.size() < 5000) {
    const Value answer = parse(controller
                                   .handleAction(rowsAction(controller.version(), 1,
                                                            static_cast<long>(all.size()), 100000))
                                   .body);
    ASSERT_EQ(answer["type"].stringValue(), "rows") << platform::toJson(answer);
    EXPECT_EQ(answer["at"].integerBits(), static_cast<std::int64_t>(all.size()));
    EXPECT_LE(answer["rows"].arrayValue().size(), kMaxRowsPerRequest);
    for (std::string& title : titles(answer["rows"])) all.push_back(std::move(title));
  }
  for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], "App " + std::to_string(i));
  // Every row read once.
  EXPECT_EQ(session.calls.size(), (5000 - first + kMaxRowsPerRequest - 1) / kMaxRowsPerRequest);
  EXPECT_FALSE(controller.wholePageMessage().has_value()) << "the last section is not read yet";
  controller.completePage();
  ASSERT_TRUE(controller.wholePageMessage().has_value());
  EXPECT_EQ(
      parse(*controller.wholePageMessage())["page"]["sections"][1]["rows"].arrayValue().size(),
      5000u);
}

TEST(PageSlicesTest, TheWholePageAskedForTakesInAChangeBeforeReadingItsRest) {
  StubSession session;
  fillApplications(session, 300);
  SettingsController controller(session);
  const std::uint64_t before = controller.version();
  // Changed after the first screen was read and before the rest was.
  auto& rows = session.stack.back().sections[1].rows;
  for (int i = 0; i < 300; ++i) rows[i] = testing::appRow("Other " + std::to_string(i));
  ++session.count;

  const Value whole = parse(controller.wholePageNow());
  EXPECT_GT(whole["version"].integerBits(), static_cast<std::int64_t>(before));
  const std::vector<std::string> shown = titles(whole["page"]["sections"][1]["rows"]);
  ASSERT_EQ(shown.size(), 300u);
  for (std::size_t i = 0; i < shown.size(); ++i) ASSERT_EQ(shown[i], "Other " + std::to_string(i));
}

TEST(PageSlicesTest, ARangeOutsideTheSectionIsRefusedAndOneOfAnOlderVersionBringsTheBrowserUp) {
  StubSession session;
  fillApplications(session, 300);
  SettingsController controller(session);
  const std::uint64_t v = controller.version();
  for (const std::string& text :
       {rowsAction(v, 1, 301, 10), rowsAction(v, 1, -1, 10), rowsAction(v, 1, 10, 0),
        rowsAction(v, 7, 0, 10), std::string("{\"action\":\"rows\",\"version\":1}")}) {
    SettingsController::Reply reply = controller.handleAction(text);
    EXPECT_EQ(reply.status, 400) << text;
    EXPECT_EQ(parse(reply.body)["type"].stringValue(), "error") << text;
  }
  // The end of a section is no error: nothing follows it.
  EXPECT_TRUE(
      parse(controller.handleAction(rowsAction(v, 1, 300, 10)).body)["rows"].arrayValue().empty());

  fillApplications(session, 301);
  const Value stale = parse(controller.handleAction(rowsAction(v, 1, 100, 10)).body);
  EXPECT_EQ(stale["type"].stringValue(), "page");
  EXPECT_GT(stale["version"].integerBits(), static_cast<std::int64_t>(v));
  EXPECT_EQ(stale["page"]["sections"][1]["count"].integerBits(), 301);
}

TEST(PageSlicesTest, BackOnAKeptPageSendsOnlyWhatChangedSinceTheVersionTheBrowserKept) {
  StubSession session;
  fillApplications(session, 500);
  SettingsController controller(session);
  controller.completePage();
  const std::uint64_t kept = controller.version();
  // An application's page opens; meanwhile an application of the page below moves.
  ASSERT_EQ(controller
                .handleAction("{\"action\":\"select\",\"section\":1,\"row\":3,\"version\":" +
                              std::to_string(kept) + "}")
                .status,
            200);
  auto& below = session.stack[session.stack.size() - 2].sections;
  below[0].rows.push_back(below[1].rows[250]);
  below[1].rows.erase(below[1].rows.begin() + 250);

  SettingsController::Reply reply =
      controller.handleAction("{\"action\":\"back\",\"below\":" + std::to_string(kept) + "}");
  const Value back = parse(reply.body);
  ASSERT_EQ(back["type"].stringValue(), "delta") << reply.body;
  EXPECT_EQ(back["from"].integerBits(), static_cast<std::int64_t>(kept));
  EXPECT_LT(reply.body.size(), 1024u) << "only the moved row travels";

  // A browser that kept another version (here the application page's) gets the page.
  ASSERT_EQ(controller
                .handleAction("{\"action\":\"select\",\"section\":1,\"row\":3,\"version\":" +
                              std::to_string(controller.version()) + "}")
                .status,
            200);
  EXPECT_EQ(
      parse(controller
                .handleAction("{\"action\":\"back\",\"below\":" + std::to_string(kept + 1) + "}")
                .body)["type"]
          .stringValue(),
      "page");
}

}  // namespace
}  // namespace settingsapp
