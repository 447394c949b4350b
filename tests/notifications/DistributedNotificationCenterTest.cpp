// The bus centre between real processes on a private session bus, against malformed signals
// from a raw sd-bus peer, and without any bus.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "NotificationTestUtil.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/notifications/NotificationWire.h"
#include "support/TestSupport.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

Value backgroundingUserInfo() {
  return Value::dictionary({{"isBackgroundingEnabled", Value::boolean(true)},
                            {"backgroundBehavior", Value::integer(2)}});
}

std::optional<std::string> objectArgument(const std::string& text) {
  if (text == "-") return std::nullopt;
  return text;
}

// Child: posts one notification, then leaves in one of three ways: "flush" flushes and exits
// at once (no destructors run), "destroy" destroys its centre and returns, "exit" keeps its
// centre alive (as the platform's own centre is) and calls exit().
HX_CHILD_SCENARIO("post-one") {
  auto* loop = new RunLoop();  // outlives the centre that "exit" leaves behind
  auto center = newDistributedNotificationCenter(*loop);
  center->postNotification(arguments.at(1), objectArgument(arguments.at(2)),
                           backgroundingUserInfo());
  if (arguments.at(0) == "flush") {
    center->flush();
    std::fflush(nullptr);
    _exit(0);
  }
  if (arguments.at(0) == "exit") {
    (void)center.release();
    std::fflush(nullptr);
    std::exit(0);
  }
  center.reset();
  delete loop;
  return 0;
}

// Child: observes one name, says "ready", then prints what it heard as
// "<name>|<object or ->|<kind of isBackgroundingEnabled>|<userInfo description>".
HX_CHILD_SCENARIO("hear-one") {
  RunLoop loop;
  auto center = newDistributedNotificationCenter(loop);
  std::optional<Notification> heard;
  ObserverToken token =
      center->addObserver(arguments.at(0), std::nullopt, [&](const Notification& n) { heard = n; });
  std::printf("ready\n");
  std::fflush(stdout);
  if (!loop.runUntil([&] { return heard.has_value(); }, 10s)) return 1;
  std::printf("%s|%s|%s|%s\n", heard->name.c_str(), heard->object.value_or("-").c_str(),
              valueKindName(heard->userInfo["isBackgroundingEnabled"].kind()),
              heard->userInfo.description().c_str());
  return 0;
}

int sendRaw(sd_bus* bus, const char* signature, const std::function<int(sd_bus_message*)>& fill) {
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_signal(bus, &m, kNotificationPath, kNotificationInterface,
                                    kNotificationMember);
  if (r >= 0) r = fill(m);
  if (r >= 0) r = sd_bus_send(bus, m, nullptr);
  sd_bus_message_unref(m);
  if (r < 0) std::fprintf(stderr, "sending %s failed: %s\n", signature, std::strerror(-r));
  return r;
}

int sendPost(sd_bus* bus, const char* name, bool hasObject, const char* object,
             const std::string& userInfo) {
  return sendRaw(bus, "sbsay", [&](sd_bus_message* m) {
    int r = sd_bus_message_append(m, "sbs", name, hasObject ? 1 : 0, object);
    if (r >= 0) r = sd_bus_message_append_array(m, 'y', userInfo.data(), userInfo.size());
    return r;
  });
}

// Child: a peer that speaks raw sd-bus and sends malformed Post signals, then a good one.
HX_CHILD_SCENARIO("send-malformed") {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return 2;
  int failures = 0;
  // Wrong signature, with "Good" as arg0 so that it also matches the per-name rule.
  failures += sendRaw(bus, "s",
                      [](sd_bus_message* m) { return sd_bus_message_append(m, "s", "Good"); }) < 0;
  failures += sendRaw(bus, "sbsayi", [](sd_bus_message* m) {
                int r = sd_bus_message_append(m, "sbs", "Good", 0, "");
                if (r >= 0) r = sd_bus_message_append_array(m, 'y', "", 0);
                if (r >= 0) r = sd_bus_message_append(m, "i", 7);
                return r;
              }) < 0;
  failures += sendPost(bus, "Good", false, "", "garbage, not a property list") < 0;
  failures += sendPost(bus, "Good", false, "", *serializePropertyList(Value::array())) < 0;
  failures += sendPost(bus, "Good", false, "stray object", "") < 0;
  // A few megabytes of perfectly valid property list: too large to accept.
  const std::string huge = *serializePropertyList(
      Value::dictionary({{"blob", Value::data(Value::Bytes(4 * 1024 * 1024, 0xAB))}}));
  failures += sendPost(bus, "Good", false, "", huge) < 0;
  failures += sendPost(bus, "Good", true, "com.example.app",
                       *serializePropertyList(backgroundingUserInfo())) < 0;
  sd_bus_flush(bus);
  sd_bus_flush_close_unref(bus);
  return failures == 0 ? 0 : 3;
}

class DistributedNotificationCenterTest : public ::testing::Test {
 protected:
  bool runUntil(const std::function<bool()>& done) { return loop_.runUntil(done, 10s); }

  RunLoop loop_;
  hxtest::PrivateBus bus_;
  std::unique_ptr<NotificationCenter> center_ = newDistributedNotificationCenter(loop_);
};

TEST_F(DistributedNotificationCenterTest, AnotherProcessPostReachesThisOne) {
  for (const char* exitMode : {"flush", "destroy", "exit"}) {
    SCOPED_TRACE(exitMode);
    std::vector<Notification> heard;
    ObserverToken token =
        center_->addObserver("HXApplicationBackgroundingChanged", "com.example.app",
                             [&](const Notification& n) { heard.push_back(n); });
    hxtest::ChildProcess child("post-one",
                               {exitMode, "HXApplicationBackgroundingChanged", "com.example.app"});
    ASSERT_TRUE(runUntil([&] { return !heard.empty(); }));
    EXPECT_EQ(child.wait(), std::optional<int>(0));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].name, "HXApplicationBackgroundingChanged");
    EXPECT_EQ(heard[0].object, std::optional<std::string>("com.example.app"));
    hxtest::expectSameKindsAndValues(backgroundingUserInfo(), heard[0].userInfo);
  }
}

TEST_F(DistributedNotificationCenterTest, ThisProcessPostReachesAnotherOne) {
  hxtest::ChildProcess child("hear-one", {"HXApplicationSpringboardChangedBackgrounding"});
  ASSERT_EQ(child.readLine(), std::optional<std::string>("ready"));
  // A name the child does not observe must not wake it.
  center_->postNotification("HXGlobalPreferencesChanged", std::nullopt, Value());
  center_->postNotification("HXApplicationSpringboardChangedBackgrounding", "com.example.app",
                            backgroundingUserInfo());
  center_->flush();
  std::optional<std::string> line = child.readLine();
  ASSERT_TRUE(line.has_value());
  const std::string expected = std::string("HXApplicationSpringboardChangedBackgrounding|") +
                               "com.example.app|" + valueKindName(ValueKind::Boolean) + "|";
  EXPECT_EQ(line->substr(0, expected.size()), expected);
  EXPECT_EQ(child.wait(), std::optional<int>(0));
}

TEST_F(DistributedNotificationCenterTest, MalformedSignalsAreDroppedAndLaterOnesStillArrive) {
  std::vector<std::string> log;
  LogSink previous = setLogSink([&](std::string_view line) { log.emplace_back(line); });
  std::vector<Notification> heard;
  int heardByName = 0;
  ObserverToken any = center_->addObserver(std::nullopt, std::nullopt,
                                           [&](const Notification& n) { heard.push_back(n); });
  ObserverToken byName =
      center_->addObserver("Good", std::nullopt, [&](const Notification&) { ++heardByName; });
  hxtest::ChildProcess child("send-malformed");
  EXPECT_TRUE(runUntil([&] { return !heard.empty(); }));
  EXPECT_EQ(child.wait(), std::optional<int>(0));
  setLogSink(std::move(previous));

  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].object, std::optional<std::string>("com.example.app"));
  hxtest::expectSameKindsAndValues(backgroundingUserInfo(), heard[0].userInfo);
  EXPECT_EQ(heardByName, 1);
  // Six bad signals, each counted once although several matched both rules.
  EXPECT_EQ(center_->counters().dropped, 6u);
  EXPECT_EQ(log.size(), 1u) << "one line for the first malformed signal only";
}

TEST_F(DistributedNotificationCenterTest, AFloodIsDeliveredInBatchesBetweenOtherWork) {
  constexpr int kFlood = 2000;
  int heard = 0;
  std::optional<int> heardWhenOtherWorkRan;
  ObserverToken token = center_->addObserver("N", std::nullopt, [&](const Notification&) {
    // Work queued on the loop by the first delivery must not wait for the whole flood.
    if (++heard == 1) loop_.post([&] { heardWhenOtherWorkRan = heard; });
  });
  for (int i = 0; i < kFlood; ++i) center_->postNotification("N", std::nullopt, Value());
  center_->flush();
  ASSERT_TRUE(runUntil([&] { return heard == kFlood; })) << heard;
  ASSERT_TRUE(heardWhenOtherWorkRan.has_value());
  EXPECT_LT(*heardWhenOtherWorkRan, kFlood / 10);
}

TEST_F(DistributedNotificationCenterTest, ForkedChildLeavesTheParentConnectionIntact) {
  int heard = 0;
  ObserverToken token =
      center_->addObserver("N", std::nullopt, [&](const Notification&) { ++heard; });
  LogSink previous = setLogSink([](std::string_view) {});
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The inherited connection is the parent's: the child must neither write to it nor close it.
    center_->postNotification("N", std::nullopt, Value());
    center_->flush();
    token.reset();
    center_.reset();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  setLogSink(std::move(previous));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  center_->postNotification("N", std::nullopt, Value());
  ASSERT_TRUE(runUntil([&] { return heard == 1; }));
  hxtest::ChildProcess child("post-one", {"flush", "N", "-"});
  ASSERT_TRUE(runUntil([&] { return heard == 2; }));
}

TEST(DistributedNotificationCenterLostBusTest, FallsBackToInProcessDeliveryWhenTheDaemonDies) {
  // A daemon of this test's own, so that it can be killed while the centre is connected.
  FILE* output = popen("dbus-daemon --session --print-address=1 --print-pid=1 --fork", "r");
  ASSERT_NE(output, nullptr);
  char address[512] = {}, pid[32] = {};
  ASSERT_NE(std::fgets(address, sizeof address, output), nullptr);
  ASSERT_NE(std::fgets(pid, sizeof pid, output), nullptr);
  pclose(output);
  address[std::strcspn(address, "\n")] = '\0';
  hxtest::ScopedEnvironment environment("DBUS_SESSION_BUS_ADDRESS", address);

  std::vector<std::string> log;
  LogSink previous = setLogSink([&](std::string_view line) { log.emplace_back(line); });
  RunLoop loop;
  auto center = newDistributedNotificationCenter(loop);
  int heard = 0;
  ObserverToken token =
      center->addObserver("N", std::nullopt, [&](const Notification&) { ++heard; });
  center->postNotification("N", std::nullopt, Value());
  EXPECT_TRUE(loop.runUntil([&] { return heard == 1; }, 10s));
  EXPECT_TRUE(log.empty());

  kill(static_cast<pid_t>(std::atol(pid)), SIGKILL);
  EXPECT_TRUE(loop.runUntil([&] { return !log.empty(); }, 10s)) << "the loss went unnoticed";
  center->postNotification("N", std::nullopt, Value());
  center->postNotification("N", std::nullopt, Value());
  EXPECT_TRUE(loop.runUntil([&] { return heard == 3; }, 10s));
  token.reset();
  center.reset();
  setLogSink(std::move(previous));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("other processes won't hear"), std::string::npos) << log[0];
}

// A socket file that nobody listens on: connecting is refused.
std::string refusedSocket(const hxtest::TemporaryDirectory& dir) {
  const std::string path = dir / "dead-bus";
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
  return path;
}

TEST(DistributedNotificationCenterWithoutBusTest, DeliversInsideTheProcessAndWarnsOnce) {
  hxtest::TemporaryDirectory dir;
  const struct {
    const char* label;
    std::string socketPath;
  } cases[] = {
      {"missing socket", dir / "no-such-bus"},
      {"refused socket", refusedSocket(dir)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    hxtest::ScopedEnvironment address("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + c.socketPath);
    std::vector<std::string> log;
    LogSink previous = setLogSink([&](std::string_view line) { log.emplace_back(line); });
    RunLoop loop;
    auto center = newDistributedNotificationCenter(loop);
    std::vector<Notification> heard;
    ObserverToken token = center->addObserver("HXGlobalPreferencesChanged", std::nullopt,
                                              [&](const Notification& n) { heard.push_back(n); });
    center->postNotification("HXGlobalPreferencesChanged", std::nullopt,
                             Value::dictionary({{"activeIndicator", Value::boolean(true)}}));
    center->postNotification("HXGlobalPreferencesChanged", std::nullopt, Value());
    EXPECT_TRUE(heard.empty()) << "delivered inside postNotification";
    center->flush();
    EXPECT_TRUE(loop.runUntil([&] { return heard.size() == 2; }, 10s));
    center.reset();
    setLogSink(std::move(previous));
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_TRUE(heard[0].userInfo["activeIndicator"].isBoolean());
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("other processes won't hear"), std::string::npos) << log[0];
  }
}

}  // namespace
