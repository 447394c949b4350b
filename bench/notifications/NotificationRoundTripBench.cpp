// Ping → pong between two processes through the session bus: a notification round trip
// (encode, signal, decode, dispatch on the run loop, and the same back) against a raw sd-bus
// signal round trip that carries the same bytes. Reported as their ratio, measured in the same
// run on a private bus daemon that this program starts and stops.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/AsioRunLoop.h"
#include "platform/foundation/PropertyList.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/notifications/NotificationWire.h"

using namespace platform;

namespace {

constexpr const char* kRawPingRule =
    "type='signal',path='/com/orlentis/halvex/Notifications',"
    "interface='com.orlentis.halvex.Notifications',member='Post',arg0='RawPing'";
constexpr const char* kRawPongRule =
    "type='signal',path='/com/orlentis/halvex/Notifications',"
    "interface='com.orlentis.halvex.Notifications',member='Post',arg0='RawPong'";

Value payloadUserInfo(std::size_t bytes) {
  return Value::dictionary({{"payload", Value::data(Value::Bytes(bytes, 0x5A))}});
}

int sendRaw(sd_bus* bus, const char* name, const void* bytes, std::size_t size) {
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_signal(bus, &m, kNotificationPath, kNotificationInterface,
                                    kNotificationMember);
  if (r >= 0) r = sd_bus_message_append(m, "sbs", name, 0, "");
  if (r >= 0) r = sd_bus_message_append_array(m, 'y', bytes, size);
  if (r >= 0) r = sd_bus_send(bus, m, nullptr);
  sd_bus_message_unref(m);
  return r;
}

void sayReady() {
  std::printf("ready\n");
  std::fflush(stdout);
}

// The far side of the notification round trip: answers every "Ping" with a "Pong" that
// carries the same userInfo.
int pongNotifications() {
  RunLoop loop;
  auto center = newDistributedNotificationCenter(loop);
  ObserverToken token = center->addObserver("Ping", std::nullopt, [&](const Notification& n) {
    center->postNotification("Pong", n.object, n.userInfo);
  });
  sayReady();
  loop.run();
  return 0;
}

int onRawPing(sd_bus_message* m, void* userdata, sd_bus_error*) {
  const char* name = nullptr;
  int hasObject = 0;
  const char* object = nullptr;
  const void* bytes = nullptr;
  std::size_t size = 0;
  if (sd_bus_message_read(m, "sbs", &name, &hasObject, &object) < 0 ||
      sd_bus_message_read_array(m, 'y', &bytes, &size) < 0) {
    return 0;
  }
  sendRaw(static_cast<sd_bus*>(userdata), "RawPong", bytes, size);
  return 0;
}

// The far side of the raw round trip: echoes the bytes of every "RawPing" as a "RawPong".
int pongRaw() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return 2;
  if (sd_bus_add_match(bus, nullptr, kRawPingRule, &onRawPing, bus) < 0) return 2;
  sayReady();
  for (;;) {
    const int r = sd_bus_process(bus, nullptr);
    if (r < 0) return 0;
    if (r == 0 && sd_bus_wait(bus, UINT64_MAX) < 0) return 0;
  }
}

struct Child {
  pid_t pid = -1;
  int output = -1;
};

Child startChild(const char* role) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) std::abort();
  Child child;
  child.pid = fork();
  if (child.pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    execl("/proc/self/exe", "/proc/self/exe", role, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  child.output = fds[0];
  return child;
}

bool waitReady(const Child& child) {
  pollfd p{child.output, POLLIN, 0};
  if (poll(&p, 1, 10000) <= 0) return false;
  char line[16] = {};
  return read(child.output, line, sizeof line - 1) > 0 && std::strncmp(line, "ready", 5) == 0;
}

void stopChild(const Child& child) {
  kill(child.pid, SIGTERM);
  waitpid(child.pid, nullptr, 0);
  close(child.output);
}

// Measures one raw and one notification round trip per iteration, alternately, so that both see
// the same load on a shared machine; the medians of the two give the ratio.
class RoundTrips {
 public:
  explicit RoundTrips(std::size_t payload)
      : userInfo_(payloadUserInfo(payload)),
        bytes_(*serializePropertyList(userInfo_)),
        center_(newDistributedNotificationCenter(loop_)) {
    if (sd_bus_open_user(&bus_) < 0) return;
    sd_bus_add_match(
        bus_, nullptr, kRawPongRule,
        [](sd_bus_message*, void* flag, sd_bus_error*) {
          *static_cast<bool*>(flag) = true;
          return 0;
        },
        &rawPong_);
    token_ = center_->addObserver("Pong", std::nullopt,
                                  [this](const Notification&) { notificationPong_ = true; });
  }
  ~RoundTrips() {
    token_.reset();
    center_.reset();
    if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
  }
  bool ready() const { return bus_ != nullptr; }

  double raw() {
    const auto start = std::chrono::steady_clock::now();
    rawPong_ = false;
    sendRaw(bus_, "RawPing", bytes_.data(), bytes_.size());
    while (!rawPong_) {
      const int r = sd_bus_process(bus_, nullptr);
      if (r < 0) return -1;
      if (r == 0) sd_bus_wait(bus_, UINT64_MAX);
    }
    return microsecondsSince(start);
  }

  double notification() {
    const auto start = std::chrono::steady_clock::now();
    notificationPong_ = false;
    center_->postNotification("Ping", std::nullopt, userInfo_);
    // One handler at a time, so the round trip ends as soon as the pong is dispatched.
    while (!notificationPong_) platform::asioContext(loop_).run_one();
    return microsecondsSince(start);
  }

 private:
  static double microsecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
        .count();
  }

  const Value userInfo_;
  const std::string bytes_;
  RunLoop loop_;
  std::unique_ptr<NotificationCenter> center_;
  ObserverToken token_;
  sd_bus* bus_ = nullptr;
  bool rawPong_ = false;
  bool notificationPong_ = false;
};

double median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

void BM_NotificationVersusRawRoundTrip(benchmark::State& state) {
  RoundTrips trips(static_cast<std::size_t>(state.range(0)));
  if (!trips.ready()) {
    state.SkipWithError("no session bus");
    return;
  }
  std::vector<double> raw, ours;
  for (auto _ : state) {
    raw.push_back(trips.raw());
    ours.push_back(trips.notification());
  }
  const double rawMedian = median(raw), ourMedian = median(ours);
  state.counters["raw_p50_us"] = rawMedian;
  state.counters["notification_p50_us"] = ourMedian;
  state.counters["ratio"] = rawMedian > 0 ? ourMedian / rawMedian : 0;
}

BENCHMARK(BM_NotificationVersusRawRoundTrip)
    ->Arg(64)
    ->Arg(4096)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// Prints as the console does and keeps each result's ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto ratio = run.counters.find("ratio");
      if (!run.error_occurred && ratio != run.counters.end()) {
        ratios.emplace_back(run.run_name.args, ratio->second.value);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::vector<std::pair<std::string, double>> ratios;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--pong-notifications") == 0) return pongNotifications();
  if (argc > 1 && std::strcmp(argv[1], "--pong-raw") == 0) return pongRaw();

  // A private daemon, so that nothing else on the user's bus disturbs the figures.
  FILE* daemon = popen("dbus-daemon --session --print-address=1 --print-pid=1 --fork", "r");
  char address[512] = {}, pid[32] = {};
  if (daemon == nullptr || std::fgets(address, sizeof address, daemon) == nullptr ||
      std::fgets(pid, sizeof pid, daemon) == nullptr) {
    std::fprintf(stderr, "cannot start dbus-daemon\n");
    return 1;
  }
  pclose(daemon);
  address[std::strcspn(address, "\n")] = '\0';
  setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
  const pid_t daemonPid = static_cast<pid_t>(std::atol(pid));

  const Child notificationPonger = startChild("--pong-notifications");
  const Child rawPonger = startChild("--pong-raw");
  int status = 0;
  if (!waitReady(notificationPonger) || !waitReady(rawPonger)) {
    std::fprintf(stderr, "a ponger did not start\n");
    status = 1;
  } else {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [payload, ratio] : reporter.ratios) {
      std::printf(
          "notification / raw signal round trip (median), %s-byte payload: %.2fx "
          "(goal <= 1.30x)\n",
          payload.c_str(), ratio);
    }
  }
  stopChild(notificationPonger);
  stopChild(rawPonger);
  kill(daemonPid, SIGTERM);
  return status;
}
