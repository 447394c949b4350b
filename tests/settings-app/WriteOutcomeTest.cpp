// What a tap's writes came to reaches the person: a change not stored is refused with the
// stored page, one stored but not durable or not announced says so, and a tap is never blamed
// for a write before it.
#include <gtest/gtest.h>

#include "SettingsController.h"
#include "StubSession.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/WriteOutcome.h"

namespace settingsapp {
namespace {

using platform::WriteOutcome;

// A stub whose taps on rows that store (not links) and switches report `outcome`.
class StoringStub : public testing::StubSession {
 public:
  Outcome selectRow(std::size_t section, std::size_t row) override {
    const SettingsRowKind kind = stack.back().sections[section].rows[row].kind;
    if (kind != SettingsRowKind::Link && kind != SettingsRowKind::Plain) write();
    return StubSession::selectRow(section, row);
  }
  Outcome setSwitch(std::size_t section, std::size_t row, bool on) override {
    write();
    return StubSession::setSwitch(section, row, on);
  }
  void write() {
    if (outcome) platform::WriteOutcomeRecorder::report(*outcome);
  }

  std::optional<WriteOutcome> outcome;
};

class WriteOutcomeTest : public ::testing::Test {
 protected:
  platform::Value act(const std::string& action) {
    const std::string text =
        "{" + action + ",\"version\":" + std::to_string(controller.version()) + "}";
    return platform::parseJson(controller.handleAction(text).body).value_or(platform::Value());
  }

  StoringStub stub;
  SettingsController controller{stub};
};

TEST_F(WriteOutcomeTest, EachOutcomeReachesTheAnswerInItsOwnWords) {
  const std::string flip = "\"action\":\"setSwitch\",\"section\":0,\"row\":1,\"on\":false";
  stub.outcome = WriteOutcome::NotStored;
  platform::Value reply = act(flip);
  EXPECT_EQ(reply["type"].stringValue(), "error");
  EXPECT_EQ(reply["reason"].stringValue(), kNotStoredReason);
  ASSERT_TRUE(reply["page"].isDictionary());

  // The failure is not blamed on a later tap that stores nothing.
  stub.outcome.reset();
  EXPECT_EQ(act("\"action\":\"select\",\"section\":0,\"row\":0")["type"].stringValue(), "page");
  act("\"action\":\"back\"");

  // A tap that stores (a button) and fails is refused.
  stub.outcome = WriteOutcome::NotStored;
  EXPECT_EQ(act("\"action\":\"select\",\"section\":0,\"row\":3")["reason"].stringValue(),
            kNotStoredReason);

  for (WriteOutcome stored : {WriteOutcome::NotDurable, WriteOutcome::NotAnnounced}) {
    stub.outcome = stored;
    reply = act(flip);
    EXPECT_EQ(reply["type"].stringValue(), "page");
    EXPECT_EQ(reply["notice"].stringValue(), platform::describeOutcome(stored));
  }
  stub.outcome = WriteOutcome::Stored;
  EXPECT_TRUE(act(flip)["notice"].isNone());
}

}  // namespace
}  // namespace settingsapp
