// Behaviour both centres share, run against the in-process centre and against the bus centre
// on a private session bus (where a process hears its own posts back through the daemon).
#include "platform/notifications/NotificationCenter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include "NotificationTestUtil.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "support/TestSupport.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

enum class CenterKind { Local, Distributed };

void PrintTo(CenterKind kind, std::ostream* out) {
  *out << (kind == CenterKind::Local ? "local centre" : "bus centre");
}

class NotificationCenterTest : public ::testing::TestWithParam<CenterKind> {
 protected:
  void SetUp() override {
    if (GetParam() == CenterKind::Distributed) {
      bus_ = std::make_unique<hxtest::PrivateBus>();
      center_ = newDistributedNotificationCenter(loop_);
    } else {
      center_ = newLocalNotificationCenter(loop_);
    }
  }
  void TearDown() override { center_.reset(); }

  bool runUntil(const std::function<bool()>& done) { return loop_.runUntil(done, 10s); }

  // Posts a notification that every test's catch-all observer sees last, and waits for it, so
  // that anything delivered late (a duplicate) would already have arrived.
  void settle() {
    bool seen = false;
    ObserverToken sentinel =
        center_->addObserver("Sentinel", std::nullopt, [&](const Notification&) { seen = true; });
    center_->postNotification("Sentinel", std::nullopt, Value());
    ASSERT_TRUE(runUntil([&] { return seen; }));
  }

  RunLoop loop_;
  std::unique_ptr<hxtest::PrivateBus> bus_;
  std::unique_ptr<NotificationCenter> center_;
};

INSTANTIATE_TEST_SUITE_P(Centres, NotificationCenterTest,
                         ::testing::Values(CenterKind::Local, CenterKind::Distributed),
                         [](const auto& info) {
                           return info.param == CenterKind::Local ? "Local" : "Distributed";
                         });

TEST_P(NotificationCenterTest, ObserversFilterByNameAndObjectAndHearEachPostOnce) {
  struct Observer {
    const char* label;
    std::optional<std::string> name;
    std::optional<std::string> object;
    std::vector<std::string> expected;  // "name/object" in posting order
    std::vector<std::string> heard;
    ObserverToken token;
  };
  std::vector<Observer> observers;
  observers.push_back({"A, any object", "A", std::nullopt, {"A/x", "A/y", "A/-"}, {}, {}});
  observers.push_back({"A, object x", "A", "x", {"A/x"}, {}, {}});
  // A second observer of the same name and object shares the bus rule with the first.
  observers.push_back({"A, object x again", "A", "x", {"A/x"}, {}, {}});
  observers.push_back({"any name, object x", std::nullopt, "x", {"A/x", "B/x"}, {}, {}});
  observers.push_back({"any name, any object",
                       std::nullopt,
                       std::nullopt,
                       {"A/x", "A/y", "A/-", "B/x", "C/-", "it's\\odd/y"},
                       {},
                       {}});
  observers.push_back({"B, object y", "B", "y", {}, {}, {}});
  // Not writable in a bus rule: heard through the any-name rule, filtered in the process.
  observers.push_back({"quote and backslash", "it's\\odd", std::nullopt, {"it's\\odd/y"}, {}, {}});
  observers.push_back({"empty object", "A", "", {}, {}, {}});
  for (auto& o : observers) {
    o.token = center_->addObserver(o.name, o.object, [&o](const Notification& n) {
      if (n.name == "Sentinel") return;
      o.heard.push_back(n.name + "/" + n.object.value_or("-"));
    });
  }
  const std::pair<const char*, std::optional<std::string>> posts[] = {
      {"A", "x"}, {"A", "y"},          {"A", std::nullopt},
      {"B", "x"}, {"C", std::nullopt}, {"it's\\odd", "y"}};
  for (const auto& [name, object] : posts) center_->postNotification(name, object, Value());
  for (const auto& o : observers) EXPECT_TRUE(o.heard.empty()) << "ran inside post: " << o.label;

  ASSERT_TRUE(runUntil([&] { return observers[4].heard.size() == 6; }));
  settle();
  for (const auto& o : observers) EXPECT_EQ(o.heard, o.expected) << o.label;
}

TEST_P(NotificationCenterTest, UserInfoKeepsEveryKind) {
  std::optional<Notification> heard;
  ObserverToken token = center_->addObserver("HXApplicationPreferencesChanged", std::nullopt,
                                             [&](const Notification& n) { heard = n; });
  center_->postNotification("HXApplicationPreferencesChanged", "com.example.app",
                            hxtest::everyKindUserInfo());
  ASSERT_TRUE(runUntil([&] { return heard.has_value(); }));
  EXPECT_EQ(heard->object, std::optional<std::string>("com.example.app"));
  hxtest::expectSameKindsAndValues(hxtest::everyKindUserInfo(), heard->userInfo);
}

TEST_P(NotificationCenterTest, HandlersMayRemoveThemselvesAndOthersDuringDispatch) {
  int firstCalls = 0, secondCalls = 0, thirdCalls = 0;
  ObserverToken first, second, third;
  // The first removes itself and the third; the second must still run, the third must not.
  first = center_->addObserver("N", std::nullopt, [&](const Notification&) {
    ++firstCalls;
    first.reset();
    third = ObserverToken();
  });
  second = center_->addObserver("N", std::nullopt, [&](const Notification&) { ++secondCalls; });
  third = center_->addObserver("N", std::nullopt, [&](const Notification&) { ++thirdCalls; });
  center_->postNotification("N", std::nullopt, Value());
  center_->postNotification("N", std::nullopt, Value());
  ASSERT_TRUE(runUntil([&] { return secondCalls == 2; }));
  settle();
  EXPECT_EQ(firstCalls, 1);
  EXPECT_EQ(thirdCalls, 0);
  EXPECT_FALSE(first);
  EXPECT_TRUE(second);
}

TEST_P(NotificationCenterTest, RemovedObserverMissesNotificationsAlreadyQueued) {
  int calls = 0;
  ObserverToken token =
      center_->addObserver("N", std::nullopt, [&](const Notification&) { ++calls; });
  center_->postNotification("N", std::nullopt, Value());
  token.reset();
  settle();
  EXPECT_EQ(calls, 0);
}

TEST_P(NotificationCenterTest, ThrowingHandlerIsLoggedAndOthersStillRun) {
  std::vector<std::string> log;
  LogSink previous = setLogSink([&](std::string_view line) { log.emplace_back(line); });
  bool secondRan = false;
  ObserverToken a = center_->addObserver(
      "N", std::nullopt, [](const Notification&) { throw std::runtime_error("boom"); });
  ObserverToken b =
      center_->addObserver("N", std::nullopt, [&](const Notification&) { secondRan = true; });
  center_->postNotification("N", std::nullopt, Value());
  EXPECT_TRUE(runUntil([&] { return secondRan; }));
  setLogSink(std::move(previous));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("boom"), std::string::npos) << log[0];
}

TEST_P(NotificationCenterTest, RefusedPostsAreLoggedCountedAndNeverDelivered) {
  std::vector<std::string> log;
  LogSink previous = setLogSink([&](std::string_view line) { log.emplace_back(line); });
  int calls = 0;
  ObserverToken token =
      center_->addObserver(std::nullopt, std::nullopt, [&](const Notification& n) {
        if (n.name != "Sentinel") ++calls;
      });
  center_->postNotification("N", std::nullopt, Value("not a dictionary"));
  center_->postNotification("N", std::nullopt, Value::array({Value::integer(1)}));
  center_->postNotification("N", std::nullopt, Value::dictionary({{"k", Value::null()}}));
  center_->postNotification("N\xFF", std::nullopt, Value());
  settle();
  setLogSink(std::move(previous));
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(center_->counters().refused, 4u);
  EXPECT_EQ(log.size(), 4u);
}

TEST_P(NotificationCenterTest, TokenMayOutliveTheCentre) {
  ObserverToken token = center_->addObserver("N", std::nullopt, [](const Notification&) {});
  center_->postNotification("N", std::nullopt, Value());
  center_.reset();
  loop_.runPending();
  token.reset();
  EXPECT_FALSE(token);
}

TEST_P(NotificationCenterTest, WrapperForwardsEveryCall) {
  struct Recording : NotificationCenterWrapper {
    using NotificationCenterWrapper::NotificationCenterWrapper;
    void postNotification(const std::string& name, const std::optional<std::string>& object,
                          const Value& userInfo) override {
      posted.push_back(name);
      NotificationCenterWrapper::postNotification(name, object, userInfo);
    }
    std::vector<std::string> posted;
  } wrapper(*center_);
  bool heard = false;
  ObserverToken token =
      wrapper.addObserver("N", std::nullopt, [&](const Notification&) { heard = true; });
  wrapper.postNotification("N", std::nullopt, Value());
  EXPECT_TRUE(runUntil([&] { return heard; }));
  EXPECT_EQ(wrapper.posted, std::vector<std::string>{"N"});
}

}  // namespace
