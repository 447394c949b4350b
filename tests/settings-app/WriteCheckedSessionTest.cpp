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
    if (stack.back().sections[section].rows[row].kind != RowKind::Link) write();
    return StubSession::selectRow(section, row);
  }
  Outcome setSwitch(std::size_t section, std::size_t row, bool on) override {
    write();
    return StubSession::setSwitch(section, row, on);
  }

  void write() {
    if (failWrites) ++failed;
  }

  bool failWrites = false;
  std::uint64_t failed = 0;
};

class WriteCheckedSessionTest : public ::testing::Test {
 protected:
  platform::Value act(const std::string& action) {
    const std::string text =
        "{" + action + ",\"version\":" + std::to_string(controller.version()) + "}";
    return platform::parseJson(controller.handleAction(text).body).value_or(platform::Value());
  }

  StoringStub stub;
  WriteCheckedSession session{stub, [this] { return stub.failed; }};
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

  // A tap that stores (a button) and fails is refused even right after an earlier failure,
  // and once writes work again a switch is not refused.
  stub.failWrites = true;
  EXPECT_EQ(act("\"action\":\"select\",\"section\":0,\"row\":3")["reason"].stringValue(),
            kNotStoredReason);
  stub.failWrites = false;
  EXPECT_EQ(
      act("\"action\":\"setSwitch\",\"section\":0,\"row\":1,\"on\":true")["type"].stringValue(),
      "page");
}

TEST_F(WriteCheckedSessionTest, WithoutAStatusNothingIsChecked) {
  StoringStub other;
  other.failWrites = true;
  WriteCheckedSession unchecked(other, FailedWriteCount());
  EXPECT_FALSE(unchecked.setSwitch(0, 1, false));
  EXPECT_FALSE(unchecked.selectRow(0, 3));
}

}  // namespace
}  // namespace settingsapp
