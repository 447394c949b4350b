#include "WriteCheckedSession.h"

#include <gtest/gtest.h>

#include "SettingsController.h"
#include "StubSession.h"
#include "platform/foundation/Json.h"

namespace settingsapp {
namespace {

// A stub whose taps and switches store through a store that can be made to fail.
class StoringStub : public testing::StubSession {
 public:
  Outcome selectRow(std::size_t section, std::size_t row) override {
    if (stack.back().sections[section].rows[row].kind != RowKind::Link) stored = !failWrites;
    return StubSession::selectRow(section, row);
  }
  Outcome setSwitch(std::size_t section, std::size_t row, bool on) override {
    stored = !failWrites;
    return StubSession::setSwitch(section, row, on);
  }

  bool failWrites = false;
  bool stored = true;
};

class WriteCheckedSessionTest : public ::testing::Test {
 protected:
  platform::Value act(const std::string& action) {
    const std::string text =
        "{" + action + ",\"version\":" + std::to_string(controller.version()) + "}";
    return platform::parseJson(controller.handleAction(text).body).value_or(platform::Value());
  }

  StoringStub stub;
  WriteCheckedSession session{stub, [this] { return stub.stored; }};
  SettingsController controller{session};
};

TEST_F(WriteCheckedSessionTest, AChangeThatWasNotStoredIsReportedOnceWithTheStoredPage) {
  stub.failWrites = true;
  platform::Value reply = act("\"action\":\"setSwitch\",\"section\":0,\"row\":1,\"on\":false");
  EXPECT_EQ(reply["type"].stringValue(), "error");
  EXPECT_EQ(reply["reason"].stringValue(), kNotStoredReason);
  ASSERT_TRUE(reply["page"].isDictionary());

  // The failure is not blamed on a later tap that stores nothing.
  stub.failWrites = false;
  EXPECT_EQ(act("\"action\":\"select\",\"section\":0,\"row\":0")["type"].stringValue(), "page");
  act("\"action\":\"back\"");

  // Once writes work again a switch is not refused, and a tap that stores (a button) and
  // fails is.
  stub.failWrites = false;
  EXPECT_EQ(
      act("\"action\":\"setSwitch\",\"section\":0,\"row\":1,\"on\":true")["type"].stringValue(),
      "page");
  stub.failWrites = true;
  EXPECT_EQ(act("\"action\":\"select\",\"section\":0,\"row\":3")["reason"].stringValue(),
            kNotStoredReason);
}

TEST_F(WriteCheckedSessionTest, WithoutAStatusNothingIsChecked) {
  StoringStub other;
  other.failWrites = true;
  WriteCheckedSession unchecked(other, LastWriteStored());
  EXPECT_FALSE(unchecked.setSwitch(0, 1, false));
  EXPECT_FALSE(unchecked.selectRow(0, 3));
}

}  // namespace
}  // namespace settingsapp
