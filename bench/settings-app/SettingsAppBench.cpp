// The Settings application without the browser, from a browser message to the answer: how
// long opening the Halvex page takes on a device with 1,000 applications, and how long one
// click takes from its message to the row moved and the choice stored. Each figure is
// reported against a baseline of the same run (redrawing the open page; a click that only
// navigates), with p50 and p95 of the individual rounds.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "DriverSession.h"
#include "SettingsController.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Process.h"
#include "platform/settings-host/SettingsDriver.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using settingsapp::SettingsController;

constexpr int kApplications = 1000;

// A device root with `count` applications (each with the sample icons) and the staged
// Settings bundles, in a fresh temporary folder; the user home beside it.
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
    fs::create_directories(root + "/Applications");
    fs::create_directories(home);
    const fs::path staged = HX_STAGED_ROOT;
    for (const char* folder : {"Library", "System"}) {
      if (fs::exists(staged / folder))
        fs::copy(staged / folder, fs::path(root) / folder, fs::copy_options::recursive);
    }
    hasHalvex = fs::exists(fs::path(root) / "Library/PreferenceBundles/HalvexPreferences.bundle");
    const fs::path icons = staged / "Applications/Maps.app";
    for (int i = 0; i < count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "App%04d", (i * 7919) % count);  // not in file order
      fs::path app = fs::path(root) / "Applications" / (std::string(name) + ".app");
      fs::create_directories(app);
      std::ofstream(app / "Info.plist")
          << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
             "<key>CFBundleIdentifier</key><string>com.example."
          << name << "</string><key>CFBundleDisplayName</key><string>" << name
          << "</string><key>CFBundleExecutable</key><string>" << name
          << "</string><key>CFBundleIconFiles</key><array><string>AppIcon29x29</string></array>"
             "</dict></plist>\n";
      for (const char* icon : {"AppIcon29x29@2x.png", "AppIcon29x29@3x.png"}) {
        std::error_code ignored;
        fs::copy_file(icons / icon, app / icon, ignored);
      }
    }
  }
  ~GeneratedDevice() {
    std::error_code ignored;
    fs::remove_all(base, ignored);
  }
};

GeneratedDevice& device() {
  // Built once: the platform takes its device root and home at first use.
  static GeneratedDevice* generated = [] {
    auto* made = new GeneratedDevice(kApplications);
    platform::setMainBundleIdentifier("com.apple.Preferences");
    platform::setDeviceRoot(made->root);
    platform::setUserHome(made->home);
    return made;
  }();
  return *generated;
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
    state.counters["p50_us"] = p50;
    state.counters["p95_us"] = p95;
    state.counters["baseline_p95_us"] = base95;
    state.counters["p50_ratio"] = base50 > 0 ? p50 / base50 : 0;
    state.counters["p95_ratio"] = base95 > 0 ? p95 / base95 : 0;
  }
};

template <class F>
double timeMicroseconds(F&& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Session {
  platform::SettingsDriver driver;
  settingsapp::DriverSession session;
  SettingsController controller;
  Session() : driver(device().root), session(driver, 2.0), controller(session) {}

  std::string act(const std::string& body) {
    SettingsController::Reply reply = controller.handleAction(body);
    if (reply.status != 200) throw std::runtime_error("action refused: " + reply.body);
    return reply.body;
  }
  std::string select(std::size_t section, std::size_t row) {
    return act("{\"action\":\"select\",\"section\":" + std::to_string(section) + ",\"row\":" +
               std::to_string(row) + ",\"version\":" + std::to_string(controller.version()) + "}");
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

void BM_OpenHalvexWith1000Applications(benchmark::State& state) {
  if (!device().hasHalvex) {
    state.SkipWithError("no Halvex bundle staged");
    return;
  }
  Session s;
  Rounds rounds;
  for (auto _ : state) {
    rounds.measured.push_back(timeMicroseconds([&] {
      if (!s.driver.openEntry("Halvex").isOk()) throw std::runtime_error("Halvex does not open");
      s.controller.refresh(true);
    }));
    rounds.baseline.push_back(timeMicroseconds([&] { s.controller.refresh(true); }));
    benchmark::DoNotOptimize(s.controller.pageMessage().size());
  }
  state.counters["page_bytes"] = static_cast<double>(s.controller.pageMessage().size());
  rounds.report(state);
}
BENCHMARK(BM_OpenHalvexWith1000Applications)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_ClickToRowMovedAndStored(benchmark::State& state) {
  if (!device().hasHalvex) {
    state.SkipWithError("no Halvex bundle staged");
    return;
  }
  Session s;
  s.driver.openEntry("Halvex");
  s.controller.refresh(true);
  Rounds rounds;
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
      s.act(on + std::to_string(s.controller.version()) + "}");
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
    if (bytes.find("com.example." + name) == std::string::npos) {
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
}
BENCHMARK(BM_ClickToRowMovedAndStored)->Unit(benchmark::kMillisecond)->Iterations(40);

}  // namespace

BENCHMARK_MAIN();
