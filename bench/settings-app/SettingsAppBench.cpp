// The Settings application without the browser, from a browser message to the answer, on
// generated devices of 1,000 and 10,000 applications shaped like installed ones (Info.plist,
// display name, icons at 120 and 180 pixels; device/tools/make-device.py). Each device runs in
// its own child process, since a process takes its device root once.
//
// - Opening the Halvex root page as a person does: a fresh Settings app (new driver, session
//   and protocol, in a process that opened it before), its first page sent, then the tap on
//   "Halvex" to the whole page in the answer. Against redrawing the open page.
// - One change pushed to an open root page: an application enabled from the home screen, from
//   the notification to the message for the browser, and its size.
// - A switch flipped on an application page: the answer's size, and a click that moves the
//   row and stores it against a click that only navigates.
// - Back from an application page to the root page the browser kept, with a row moved and
//   with nothing changed, against opening the application page.
// - A change halvex-defaults stores, shown on the open application page: from the program's
//   exit to the delta message for the browser, against the program's own run.
// Figures are p50 and p95 of the rounds, with ratios against the baseline of the same run.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DriverSession.h"
#include "SettingsController.h"
#include "StoreFollower.h"
#include "platform/Platform.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/settings-host/SettingsDriver.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using settingsapp::SettingsController;

int applicationCount() {
  const char* count = std::getenv("HX_BENCH_APPLICATIONS");
  return count ? std::atoi(count) : 1000;
}

// A generated device root and a user home in a fresh temporary folder, removed at exit.
struct GeneratedDevice {
  std::string base;
  std::string root;
  std::string home;
  bool hasHalvex = false;

  explicit GeneratedDevice(int count) {
    std::string pattern = (fs::temp_directory_path() / "halvex-bench-XXXXXX").string();
    base = mkdtemp(pattern.data());
    root = base + "/root";
    home = base + "/home";
    fs::create_directories(home);
    if (const char* made = std::getenv("HX_BENCH_DEVICE")) {
      // A device made before (make-device.py), kept: runs compared side by side read the same.
      root = made;
      hasHalvex = fs::exists(fs::path(root) / "Library/PreferenceBundles/HalvexPreferences.bundle");
      return;
    }
    const std::string command =
        "python3 '" HX_SOURCE_DIR "/device/tools/make-device.py' --applications " +
        std::to_string(count) + " --base '" HX_STAGED_ROOT "' '" + root + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "make-device failed\n");
    hasHalvex = fs::exists(fs::path(root) / "Library/PreferenceBundles/HalvexPreferences.bundle");
    // The files of an installed device are not seconds old; the workspace reads a file
    // changed within the last two seconds again on every scan, so the device settles first.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  }
  ~GeneratedDevice() {
    std::error_code ignored;
    fs::remove_all(base, ignored);
  }
};

GeneratedDevice& device() {
  // Built once: the platform takes its device root and home at first use.
  static GeneratedDevice* generated = [] {
    auto* made = new GeneratedDevice(applicationCount());
    platform::setMainBundleIdentifier("com.apple.Preferences");
    platform::setDeviceRoot(made->root);
    platform::setUserHome(made->home);
    return made;
  }();
  return *generated;
}

double residentMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

struct Rounds {
  std::vector<double> measured;
  std::vector<double> baseline;

  static double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
  }
  void report(benchmark::State& state) const {
    const double p50 = percentile(measured, 0.5);
    const double p95 = percentile(measured, 0.95);
    const double base50 = percentile(baseline, 0.5);
    const double base95 = percentile(baseline, 0.95);
    state.counters["apps"] = applicationCount();
    state.counters["p50_ms"] = p50 / 1000;
    state.counters["p95_ms"] = p95 / 1000;
    state.counters["baseline_p95_ms"] = base95 / 1000;
    state.counters["p95_ratio"] = base95 > 0 ? p95 / base95 : 0;
    state.counters["p50_ratio"] = base50 > 0 ? p50 / base50 : 0;
  }
};

// The CPU time of this thread, for figures that other processes on the machine would blur.
double threadCpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

template <class F>
double timeMicroseconds(F&& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// A fresh Settings app: its driver, the browser's session and the protocol.
struct Session {
  platform::SettingsDriver driver;
  settingsapp::DriverSession session;
  SettingsController controller;
  Session() : driver(device().root), session(driver, 2.0), controller(session) {}

  std::string act(const std::string& body) {
    SettingsController::Reply reply = controller.handleActionFrom(body, controller.version());
    if (reply.status != 200) throw std::runtime_error("action refused: " + reply.body);
    return reply.body;
  }
  std::string select(std::size_t section, std::size_t row) {
    return act("{\"action\":\"select\",\"section\":" + std::to_string(section) + ",\"row\":" +
               std::to_string(row) + ",\"version\":" + std::to_string(controller.version()) + "}");
  }
  std::string openHalvex() {
    controller.pageMessage();  // the first page, as the browser fetches it
    auto [section, row] = rowNamed("Halvex");
    return select(section, row);
  }
  std::size_t sectionNamed(const std::string& header) const {
    const auto& sections = controller.page().sections;
    for (std::size_t i = 0; i < sections.size(); ++i) {
      if (sections[i].header == header) return i;
    }
    throw std::runtime_error("no section " + header);
  }
  std::pair<std::size_t, std::size_t> rowNamed(const std::string& title) const {
    const auto& sections = controller.page().sections;
    for (std::size_t s = 0; s < sections.size(); ++s) {
      for (std::size_t r = 0; r < sections[s].rows.size(); ++r) {
        if (sections[s].rows[r].title == title) return {s, r};
      }
    }
    throw std::runtime_error("no row " + title);
  }
};

bool ready(benchmark::State& state) {
  if (device().hasHalvex) return true;
  state.SkipWithError("no Halvex bundle staged");
  return false;
}

void BM_OpenRootPageFromAFreshSettingsApp(benchmark::State& state) {
  if (!ready(state)) return;
  Rounds rounds;
  std::size_t bytes = 0;
  double first = -1;
  const double residentBefore = residentMegabytes();
  for (auto _ : state) {
    auto s = std::make_unique<Session>();
    double took = timeMicroseconds([&] { bytes = s->openHalvex().size(); });
    if (first < 0) first = took;  // the process's first: nothing read yet
    rounds.measured.push_back(took);
    rounds.baseline.push_back(timeMicroseconds([&] {
      s->controller.refresh(true);
      benchmark::DoNotOptimize(s->controller.pageMessage().size());
    }));
  }
  rounds.report(state);
  state.counters["first_ms"] = first / 1000;
  state.counters["page_kb"] = static_cast<double>(bytes) / 1024;
  state.counters["rss_mb"] = residentMegabytes();
  state.counters["rss_before_mb"] = residentBefore;
}
BENCHMARK(BM_OpenRootPageFromAFreshSettingsApp)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(std::getenv("HX_BENCH_ROUNDS") ? std::atoi(std::getenv("HX_BENCH_ROUNDS")) : 30);

void BM_HomeScreenChangeToTheOpenPage(benchmark::State& state) {
  if (!ready(state)) return;
  Session s;
  s.openHalvex();
  // The browser asks for the rest of the rows after the first screen; changes to a page it
  // holds whole go out as deltas.
  s.controller.completePage();
  platform::NotificationCenter& center = platform::defaultPlatform().notifications;
  Rounds rounds;
  std::size_t largest = 0;
  int round = 0;
  for (auto _ : state) {
    const std::size_t disabled = s.sectionNamed("Backgrounding Disabled");
    const std::size_t index =
        static_cast<std::size_t>(round * 37) % s.controller.page().sections[disabled].rows.size();
    const std::string name = s.controller.page().sections[disabled].rows[index].title;
    const std::string identifier = "com.example.generated.app" + name.substr(name.rfind(' ') + 1);
    std::uint64_t seen = s.controller.version();
    std::string message;
    rounds.measured.push_back(timeMicroseconds([&] {
      platform::Value::Dictionary info;
      info.emplace("isBackgroundingEnabled", platform::Value::boolean(round % 2 == 0));
      center.postNotification("HXApplicationSpringboardChangedBackgrounding", identifier,
                              platform::Value(std::move(info)));
      platform::RunLoop::main().runUntil([&] { return s.controller.refresh(); },
                                         std::chrono::seconds(5));
      message = s.controller.updateMessage(seen);
    }));
    if (message.find("\"delta\"") == std::string::npos) {
      state.SkipWithError("the change was not sent as a delta");
      return;
    }
    largest = std::max(largest, message.size());
    rounds.baseline.push_back(
        timeMicroseconds([&] { benchmark::DoNotOptimize(s.controller.refresh(true)); }));
    ++round;
  }
  rounds.report(state);
  state.counters["message_bytes"] = static_cast<double>(largest);
}
BENCHMARK(BM_HomeScreenChangeToTheOpenPage)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_ClickToRowMovedAndStored(benchmark::State& state) {
  if (!ready(state)) return;
  Session s;
  s.openHalvex();
  Rounds rounds;
  std::size_t switchBytes = 0;
  const std::string stored = device().home + "/Library/Preferences/com.orlentis.halvex.plist";
  for (auto _ : state) {
    const std::size_t disabled = s.sectionNamed("Backgrounding Disabled");
    const std::string name = s.controller.page().sections[disabled].rows.front().title;
    // Baseline: a click that only navigates, there and back.
    rounds.baseline.push_back(timeMicroseconds([&] {
      s.select(disabled, 0);
      s.act("{\"action\":\"back\"}");
    }));
    s.select(disabled, 0);
    auto [section, row] = s.rowNamed("Enable Backgrounding");
    const std::string on = "{\"action\":\"setSwitch\",\"section\":" + std::to_string(section) +
                           ",\"row\":" + std::to_string(row) + ",\"on\":true,\"version\":";
    rounds.measured.push_back(timeMicroseconds([&] {
      switchBytes = s.act(on + std::to_string(s.controller.version()) + "}").size();
      s.act("{\"action\":\"back\"}");
    }));
    // The row moved and the registry holds it; then put everything back, untimed.
    const std::size_t enabled = s.sectionNamed("Backgrounding Enabled");
    const auto& rows = s.controller.page().sections[enabled].rows;
    if (std::none_of(rows.begin(), rows.end(), [&](const auto& r) { return r.title == name; })) {
      state.SkipWithError("the row did not move");
      return;
    }
    std::ifstream file(stored, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string identifier = "generated.app" + name.substr(name.rfind(' ') + 1);
    const std::size_t found = bytes.find(identifier);
    if (found == std::string::npos ||
        std::isdigit(static_cast<unsigned char>(
            bytes[std::min(found + identifier.size(), bytes.size() - 1)]))) {
      state.SkipWithError("the change was not stored");
      return;
    }
    s.select(enabled, 0);
    auto [offSection, offRow] = s.rowNamed("Enable Backgrounding");
    s.act("{\"action\":\"setSwitch\",\"section\":" + std::to_string(offSection) +
          ",\"row\":" + std::to_string(offRow) +
          ",\"on\":false,\"version\":" + std::to_string(s.controller.version()) + "}");
    s.act("{\"action\":\"back\"}");
  }
  rounds.report(state);
  state.counters["switch_reply_bytes"] = static_cast<double>(switchBytes);
}
BENCHMARK(BM_ClickToRowMovedAndStored)->Unit(benchmark::kMillisecond)->Iterations(10);

// Back from an application page to the root page the browser kept: the answer is what changed
// since the version it kept. Measured with the row moved by a switch on the application page
// (its timing starts after the switch) and with nothing changed; against opening the
// application page. The thread's CPU time of the moved rounds and of the driver's re-read of
// the whole reloaded page are given too: on a shared machine they vary far less.
void BM_BackToTheKeptRootPage(benchmark::State& state) {
  if (!ready(state)) return;
  Session s;
  s.openHalvex();
  s.controller.completePage();  // as the browser's range requests read it
  Rounds rounds;
  std::vector<double> unchanged;
  std::vector<double> movedCpu;  // the thread's CPU time of the measured rounds
  std::size_t movedBytes = 0;
  int round = 0;
  for (auto _ : state) {
    const bool move = round++ % 2 == 0;
    const std::string section = move ? "Backgrounding Disabled" : "Backgrounding Enabled";
    const std::size_t from = s.sectionNamed(section);
    const std::uint64_t kept = s.controller.version();
    rounds.baseline.push_back(timeMicroseconds([&] { s.select(from, 0); }));
    auto [switchSection, switchRow] = s.rowNamed("Enable Backgrounding");
    s.act("{\"action\":\"setSwitch\",\"section\":" + std::to_string(switchSection) +
          ",\"row\":" + std::to_string(switchRow) + ",\"on\":" + (move ? "true" : "false") +
          ",\"version\":" + std::to_string(s.controller.version()) + "}");
    const std::string back = "{\"action\":\"back\",\"below\":" + std::to_string(kept) + "}";
    std::size_t bytes = 0;
    const double cpuBefore = threadCpuMicroseconds();
    rounds.measured.push_back(timeMicroseconds([&] { bytes = s.act(back).size(); }));
    movedCpu.push_back(threadCpuMicroseconds() - cpuBefore);
    movedBytes = std::max(movedBytes, bytes);
    // Nothing changed while away: a select and back again.
    const std::uint64_t again = s.controller.version();
    s.select(s.sectionNamed(section == "Backgrounding Disabled" ? "Backgrounding Enabled"
                                                                : "Backgrounding Disabled"),
             0);
    const std::string backAgain = "{\"action\":\"back\",\"below\":" + std::to_string(again) + "}";
    unchanged.push_back(timeMicroseconds([&] { s.act(backAgain); }));
  }
  // What the comparison reads, in the thread's CPU time: the root page reloaded, as going back
  // does, and all of its rows read by the driver.
  std::vector<double> reread;
  const int rereads =
      std::getenv("HX_BENCH_REREADS") ? std::atoi(std::getenv("HX_BENCH_REREADS")) : 20;
  for (int i = 0; i < rereads; ++i) {
    const double start = threadCpuMicroseconds();
    s.driver.topPage()->reloadSpecifiers();
    for (std::size_t section = 0; section < s.controller.page().sections.size(); ++section) {
      benchmark::DoNotOptimize(s.driver.readRows(section, 0, SIZE_MAX).size());
    }
    reread.push_back(threadCpuMicroseconds() - start);
  }
  rounds.report(state);
  state.counters["cpu_p50_ms"] = Rounds::percentile(movedCpu, 0.5) / 1000;
  state.counters["reread_p50_ms"] = Rounds::percentile(reread, 0.5) / 1000;
  state.counters["reread_min_ms"] = Rounds::percentile(reread, 0) / 1000;
  state.counters["unchanged_p50_ms"] = Rounds::percentile(unchanged, 0.5) / 1000;
  state.counters["unchanged_p95_ms"] = Rounds::percentile(unchanged, 0.95) / 1000;
  state.counters["moved_reply_bytes"] = static_cast<double>(movedBytes);
}
BENCHMARK(BM_BackToTheKeptRootPage)->Unit(benchmark::kMillisecond)->Iterations(40);

// Runs halvex-defaults on the device's home and waits for it; its exit status, or -1.
int runDefaults(std::vector<std::string> words) {
  words.insert(words.begin(), {HX_DEFAULTS_BINARY, "--home", device().home});
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void BM_DefaultsWriteToTheOpenPage(benchmark::State& state) {
  if (!ready(state)) return;
  Session s;
  settingsapp::StoreFollower follower(s.driver, platform::defaultPlatform());
  s.openHalvex();
  const std::size_t disabled = s.sectionNamed("Backgrounding Disabled");
  const std::string name = s.controller.page().sections[disabled].rows.front().title;
  const std::string identifier = "com.example.generated.app" + name.substr(name.rfind(' ') + 1);
  s.select(disabled, 0);
  Rounds rounds;
  int round = 0;
  for (auto _ : state) {
    follower.noteTopPage();
    s.controller.refresh();
    const std::uint64_t seen = s.controller.version();
    int status = -1;
    rounds.baseline.push_back(timeMicroseconds([&] {
      status = runDefaults({"write", "com.orlentis.halvex", identifier, "-dict-add", "autoLaunch",
                            "-bool", round % 2 == 0 ? "YES" : "NO"});
    }));
    if (status != 0) {
      state.SkipWithError("halvex-defaults failed");
      return;
    }
    bool moved = false;
    std::string message;
    rounds.measured.push_back(timeMicroseconds([&] {
      platform::RunLoop::main().runUntil(
          [&] {
            follower.noteTopPage();
            moved = moved || s.controller.refresh();
            return moved;
          },
          std::chrono::seconds(5));
      message = s.controller.updateMessage(seen);
    }));
    if (!moved || message.find("\"delta\"") == std::string::npos) {
      state.SkipWithError("the change did not reach the page as a delta");
      return;
    }
    ++round;
  }
  rounds.report(state);
}
BENCHMARK(BM_DefaultsWriteToTheOpenPage)->Unit(benchmark::kMillisecond)->Iterations(40);

// Runs the benchmarks once per device size, each in a child process of its own.
int runPerDevice(char** argv) {
  int status = 0;
  for (const char* count : {"1000", "10000"}) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      setenv("HX_BENCH_APPLICATIONS", count, 1);
      execv("/proc/self/exe", argv);
      _exit(127);
    }
    int childStatus = 0;
    if (child < 0 || waitpid(child, &childStatus, 0) != child || !WIFEXITED(childStatus) ||
        WEXITSTATUS(childStatus) != 0) {
      status = 1;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("HX_BENCH_APPLICATIONS") == nullptr) return runPerDevice(argv);
  benchmark::Initialize(&argc, argv);
  std::printf("-- a device of %d applications\n", applicationCount());
  device();  // generate before timing
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
