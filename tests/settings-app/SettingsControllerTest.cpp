#include "SettingsController.h"

#include <gtest/gtest.h>

#include "StubSession.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Utf8.h"

namespace settingsapp {
namespace {

using testing::StubSession;

std::string action(std::string_view body, std::uint64_t version) {
  std::string text(body);
  text.insert(text.size() - 1, ",\"version\":" + std::to_string(version));
  return text;
}

platform::Value parse(const std::string& text) {
  auto value = platform::parseJson(text);
  EXPECT_TRUE(value.has_value()) << text;
  return value.value_or(platform::Value());
}

TEST(SettingsControllerTest, MalformedOrImpossibleActionsAreRefusedWithAReasonAndDoNothing) {
  StubSession session;
  SettingsController controller(session);
  const std::uint64_t v = controller.version();
  struct Case {
    std::string text;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"not json", "not valid JSON"},
      {"{\"action\":\"select\",}", "not valid JSON"},
      {"{\"action\":\"back\"} trailing", "not valid JSON"},
      {std::string(300, '[') + std::string(300, ']'), "not valid JSON"},
      {"[\"select\"]", "JSON object"},
      {"{}", "missing \"action\""},
      {"{\"action\":\"format disk\"}", "unknown action"},
      {"{\"action\":\"select\",\"section\":0,\"row\":0}", "missing \"version\""},
      {action("{\"action\":\"select\",\"section\":\"0\",\"row\":0}", v), "must be integers"},
      {action("{\"action\":\"select\",\"section\":-1,\"row\":0}", v), "no section -1"},
      {action("{\"action\":\"select\",\"section\":9,\"row\":0}", v), "no section 9"},
      {action("{\"action\":\"select\",\"section\":1,\"row\":1}", v), "no row 1 in section 1"},
      {action("{\"action\":\"select\",\"section\":0,\"row\":1.5}", v), "must be integers"},
      {action("{\"action\":\"select\",\"section\":0,\"row\":1}", v), "cannot be selected"},
      {action("{\"action\":\"setSwitch\",\"section\":0,\"row\":0,\"on\":true}", v), "not a switch"},
      {action("{\"action\":\"setSwitch\",\"section\":0,\"row\":1,\"on\":\"yes\"}", v),
       "\"on\" must be true or false"},
      {action("{\"action\":\"setSwitch\",\"section\":0,\"row\":2,\"on\":true}", v), "not enabled"},
      {"{\"action\":\"select\",\"id\":\"x\"}", "\"id\" must be an integer"},
  };
  for (const Case& c : cases) {
    SettingsController::Reply reply = controller.handleAction(c.text);
    EXPECT_EQ(reply.status, 400) << c.text;
    platform::Value body = parse(reply.body);
    EXPECT_EQ(body["type"].stringValue(), "error") << c.text;
    EXPECT_NE(body["reason"].stringValue().find(c.reason), std::string::npos)
        << c.text << " gave " << body["reason"].stringValue();
    // The refusal carries the page, so the browser can put its controls back.
    EXPECT_EQ(body["page"]["title"].stringValue(), "Halvex");
  }
  EXPECT_TRUE(session.calls.empty());
  EXPECT_EQ(controller.version(), v);
}

TEST(SettingsControllerTest, OversizedActionIsRefusedBeforeParsing) {
  StubSession session;
  SettingsController controller(session);
  std::string huge = "{\"action\":\"back\",\"pad\":\"" + std::string(kMaxActionBytes, 'x') + "\"}";
  SettingsController::Reply reply = controller.handleAction(huge);
  EXPECT_EQ(reply.status, 400);
  EXPECT_NE(reply.body.find("larger than"), std::string::npos);
  EXPECT_TRUE(session.calls.empty());
}

TEST(SettingsControllerTest, SwitchIsSetAndTheReplyCarriesTheNewPageAndTheRequestId) {
  StubSession session;
  SettingsController controller(session);
  const std::uint64_t before = controller.version();
  SettingsController::Reply reply = controller.handleAction(
      action("{\"id\":7,\"action\":\"setSwitch\",\"section\":0,\"row\":1,\"on\":false}", before));
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(session.calls, std::vector<std::string>{"switch 0 1 off"});
  platform::Value body = parse(reply.body);
  EXPECT_EQ(body["type"].stringValue(), "page");
  EXPECT_EQ(body["replyTo"].integerBits(), 7);
  EXPECT_EQ(body["version"].integerBits(), static_cast<std::int64_t>(before + 1));
  EXPECT_FALSE(body["page"]["sections"][0]["rows"][1]["on"].booleanValue());
}

// What the browser sends for a tap on `row` of `section` of version `version`, naming the row
// as the page sent it.
std::string tap(SettingsController& controller, std::string_view body, std::size_t section,
                std::size_t row, std::uint64_t version, const platform::Value& page) {
  std::string text(body);
  text.insert(text.size() - 1,
              ",\"section\":" + std::to_string(section) + ",\"row\":" + std::to_string(row) +
                  ",\"version\":" + std::to_string(version) + ",\"target\":" +
                  platform::toJson(page["page"]["sections"][section]["rows"][row]));
  return controller.handleAction(text).body;
}

TEST(SettingsControllerTest, ATapOnAnOlderVersionGoesToTheRowItNamesWhereverItMoved) {
  StubSession session;
  SettingsController controller(session);
  const std::uint64_t seen = controller.version();
  const platform::Value before = parse(controller.pageMessage());
  // Meanwhile rows come in above both rows the person is about to use.
  auto& sections = session.stack.back().sections;
  sections[0].rows.insert(sections[0].rows.begin(),
                          testing::makeRow(SettingsRowKind::StaticText, "Note", "note"));
  sections[1].rows.insert(sections[1].rows.begin(),
                          {testing::appRow("Books"), testing::appRow("Mail")});
  ++session.count;

  tap(controller, "{\"action\":\"setSwitch\",\"on\":false}", 0, 1, seen, before);
  tap(controller, "{\"action\":\"select\"}", 1, 0, seen, before);
  EXPECT_EQ(controller.page().title, "Maps");
  // An application that moved to another section is still the one tapped.
  controller.handleAction("{\"action\":\"back\"}");
  const std::uint64_t back = controller.version();
  const platform::Value shown = parse(controller.pageMessage());
  auto& again = session.stack.back().sections;  // the stack grew and shrank meanwhile
  again[2].rows.push_back(again[1].rows[2]);
  again[1].rows.erase(again[1].rows.begin() + 2);
  ++session.count;
  tap(controller, "{\"action\":\"select\"}", 1, 2, back, shown);
  EXPECT_EQ(session.calls,
            (std::vector<std::string>{"switch 0 2 off", "select 1 2", "back", "select 2 1"}));
}

TEST(SettingsControllerTest, ATapOnARowThatIsGoneOrAmbiguousOrOnAnotherPageIsRefusedWithWords) {
  StubSession session;
  SettingsController controller(session);
  const std::uint64_t seen = controller.version();
  const platform::Value before = parse(controller.pageMessage());
  auto& apps = session.stack.back().sections[1].rows;
  apps = {testing::appRow("Notes")};
  ++session.count;
  const std::string select = "{\"action\":\"select\"}";
  platform::Value refused = parse(tap(controller, select, 1, 0, seen, before));
  EXPECT_EQ(refused["status"].integerBits(), 409);
  EXPECT_EQ(refused["reason"].stringValue(),
            "\u201cMaps\u201d is no longer on this page; nothing was changed.");
  EXPECT_EQ(refused["version"].integerBits(), static_cast<std::int64_t>(seen + 1));
  EXPECT_EQ(refused["page"]["sections"][1]["rows"][0]["title"].stringValue(), "Notes");
  // A tap that does not say which row it was for cannot be placed.
  refused =
      parse(controller.handleAction(action("{\"action\":\"select\",\"section\":1,\"row\":0}", seen))
                .body);
  EXPECT_NE(refused["reason"].stringValue().find("did not say which row"), std::string::npos);

  // Two applications of one name and icon, neither where the tap was: which is meant is not known.
  apps = {testing::appRow("Notes"), testing::appRow("Maps"), testing::appRow("Maps")};
  session.stack.back().sections[2].rows.push_back(testing::appRow("Maps"));
  ++session.count;
  refused = parse(tap(controller, select, 1, 0, seen, before));
  EXPECT_NE(refused["reason"].stringValue().find("Several rows"), std::string::npos);

  // A tap from a page no longer shown.
  const platform::Value onRoot = parse(controller.pageMessage());
  tap(controller, select, 0, 0, controller.version(), onRoot);
  refused = parse(tap(controller, select, 1, 0, seen, before));
  EXPECT_NE(refused["reason"].stringValue().find("Another page"), std::string::npos);
  EXPECT_EQ(session.calls, std::vector<std::string>{"select 0 0"});
}

TEST(SettingsControllerTest, VersionMovesOnlyWhenWhatIsShownChanges) {
  StubSession session;
  SettingsController controller(session);
  const std::uint64_t v = controller.version();
  ++session.count;  // the host says "maybe", but nothing visible changed
  EXPECT_FALSE(controller.refresh());
  EXPECT_EQ(controller.version(), v);
  session.changeFromElsewhere();
  EXPECT_TRUE(controller.refresh());
  EXPECT_EQ(controller.version(), v + 1);
  EXPECT_NE(controller.pageMessage().find("Notes"), std::string::npos);
}

TEST(SettingsControllerTest, NavigationSelectAndBackMoveBetweenPages) {
  StubSession session;
  SettingsController controller(session);
  auto reply = controller.handleAction(
      action("{\"action\":\"select\",\"section\":1,\"row\":0}", controller.version()));
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(parse(reply.body)["page"]["title"].stringValue(), "Maps");
  reply = controller.handleAction("{\"action\":\"back\"}");
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(parse(reply.body)["page"]["title"].stringValue(), "Halvex");
  session.stack.back().canGoBack = false;
  ++session.count;
  reply = controller.handleAction("{\"action\":\"back\"}");
  EXPECT_EQ(reply.status, 400);
  EXPECT_EQ(session.calls, (std::vector<std::string>{"select 1 0", "back"}));
}

TEST(SettingsControllerTest, FailuresInsideTheHostAreReportedAndTheServerCarriesOn) {
  StubSession session;
  SettingsController controller(session);
  session.throwOnAction = true;
  auto reply = controller.handleAction(action(
      "{\"action\":\"setSwitch\",\"section\":0,\"row\":1,\"on\":false}", controller.version()));
  EXPECT_EQ(reply.status, 500);
  EXPECT_NE(reply.body.find("assertion failed in the page"), std::string::npos);

  session.throwOnAction = false;
  session.refuseWith = "the bundle refused";
  reply = controller.handleAction(
      action("{\"action\":\"select\",\"section\":0,\"row\":3}", controller.version()));
  EXPECT_EQ(reply.status, 400);
  EXPECT_NE(reply.body.find("the bundle refused"), std::string::npos);

  // A page that cannot be read keeps the last one instead of going blank.
  session.throwOnPage = true;
  session.changeFromElsewhere();
  EXPECT_FALSE(controller.refresh());
  EXPECT_NE(controller.pageMessage().find("Halvex"), std::string::npos);
}

TEST(SettingsControllerTest, DeviceTextIsCarriedAsEscapedValidUtf8) {
  StubSession session;
  session.stack.back().title = "<img src=x onerror=alert(1)> \"Q\" \x01";
  session.stack.back().sections[1].rows[0].title = "Bad \xff\xfe name \xe2\x82";
  SettingsController controller(session);
  const std::string& message = controller.pageMessage();
  EXPECT_EQ(message.find('<'), std::string::npos);
  EXPECT_TRUE(platform::isValidUtf8(message));
  platform::Value body = parse(message);
  EXPECT_EQ(body["page"]["title"].stringValue(), "<img src=x onerror=alert(1)> \"Q\" \x01");
  EXPECT_EQ(body["page"]["sections"][1]["rows"][0]["title"].stringValue(),
            "Bad \xef\xbf\xbd\xef\xbf\xbd name \xef\xbf\xbd\xef\xbf\xbd");
}

TEST(SettingsControllerTest, ImagesAreAskedForOnlyBySafeKeysAndExistingFooters) {
  StubSession session;
  SettingsController controller(session);
  EXPECT_EQ(controller.imagePng("icon-Maps"), std::string("\x89PNG icon"));
  EXPECT_FALSE(controller.imagePng("../../etc/passwd"));
  EXPECT_FALSE(controller.imagePng(""));
  EXPECT_FALSE(controller.footerPng(0, 375));  // a section without a footer view
  EXPECT_FALSE(controller.footerPng(99, 375));
  EXPECT_TRUE(controller.footerPng(2, 100000));
  EXPECT_EQ(session.calls, (std::vector<std::string>{"image icon-Maps", "footer 2 1600"}));
  EXPECT_NE(controller.pageMessage().find(SettingsController::footerUrl(2, controller.version())),
            std::string::npos);
  EXPECT_TRUE(controller.footerPng(2, 320, Appearance::Dark));
  EXPECT_EQ(session.calls.back(), "footer 2 320 dark");
  // The footer's text alternative travels with its URL; an application row says that a
  // search filters it.
  const platform::Value sections = parse(controller.pageMessage())["page"]["sections"];
  EXPECT_EQ(sections[2]["footerImage"]["alt"].stringValue(),
            "ACTIVE APPLICATION. Indicates an actively running application.");
  EXPECT_EQ(sections[1]["rows"][0]["searchable"].boolValue(), true);
  EXPECT_EQ(sections[0]["rows"][0]["searchable"].boolValue(), false);
}

}  // namespace
}  // namespace settingsapp
