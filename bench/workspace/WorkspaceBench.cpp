// The catalogue over a device of 1,000 applications, against the least any catalogue must do:
// list each bundle folder once, read and parse its Info.plist and, where the listing holds a
// localisation folder, its InfoPlist.strings. Reported as the ratio of the two, measured in the
// same run, so the figure does not depend on the machine; reading and parsing the Info.plists
// alone is reported too. The first call is also timed in turns with the raw loop, round by
// round, whose median ratio is the figure that a drift of the machine's speed leaves alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hx/HXApplicationsManager.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/PropertyList.h"
#include "platform/workspace/ApplicationWorkspace.h"
#include "platform/workspace/StringsFile.h"

namespace {

constexpr int kApplications = 1000;

void dateBack(const std::filesystem::path& path) {
  std::filesystem::last_write_time(
      path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
}

// Writes a file dated an hour back, as the files of an installed application are: the
// workspace trusts what it parsed only for files and folders that were not just modified.
void writeText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
  dateBack(path);
}

// A generated device root in a temporary folder, removed at exit.
class GeneratedDevice {
 public:
  GeneratedDevice() {
    std::string pattern = (std::filesystem::temp_directory_path() / "hx-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    static const char* const kWords[] = {"Mail",  "Notes", "photo", "Échos", "Straße",
                                         "clock", "MAPS",  "Radio", "日記",  "Tally"};
    for (int i = 0; i < kApplications; ++i) {
      const std::string number = std::to_string(i);
      const std::string name = std::string(kWords[i % 10]) + " " + number;
      const bool container = i % 4 == 0;
      const std::filesystem::path bundle = container
                                               ? root_ / "var/containers/Bundle/Application" /
                                                     ("UUID-" + number) / ("App" + number + ".app")
                                               : root_ / "Applications" / ("App" + number + ".app");
      std::string info =
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD "
          "PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
          "<plist version=\"1.0\">\n<dict>\n"
          "\t<key>CFBundleDevelopmentRegion</key>\n\t<string>en</string>\n"
          "\t<key>CFBundleDisplayName</key>\n\t<string>" +
          name +
          "</string>\n"
          "\t<key>CFBundleExecutable</key>\n\t<string>App" +
          number +
          "</string>\n"
          "\t<key>CFBundleIcons</key>\n\t<dict>\n\t\t<key>CFBundlePrimaryIcon</key>\n\t\t<dict>\n"
          "\t\t\t<key>CFBundleIconFiles</key>\n\t\t\t<array>\n"
          "\t\t\t\t<string>AppIcon29x29</string>\n\t\t\t\t<string>AppIcon60x60</string>\n"
          "\t\t\t</array>\n\t\t</dict>\n\t</dict>\n"
          "\t<key>CFBundleIdentifier</key>\n\t<string>com.example.app" +
          number +
          "</string>\n"
          "\t<key>CFBundleName</key>\n\t<string>App" +
          number +
          "</string>\n"
          "\t<key>CFBundlePackageType</key>\n\t<string>APPL</string>\n"
          "\t<key>CFBundleShortVersionString</key>\n\t<string>1.0</string>\n"
          "\t<key>CFBundleVersion</key>\n\t<string>1</string>\n"
          "\t<key>MinimumOSVersion</key>\n\t<string>7.0</string>\n" +
          std::string(i % 50 == 0 ? "\t<key>SBAppTags</key>\n\t<array>\n\t\t<string>hidden"
                                    "</string>\n\t</array>\n"
                                  : "") +
          "\t<key>UIRequiredDeviceCapabilities</key>\n\t<array>\n\t\t<string>armv7</string>\n"
          "\t</array>\n</dict>\n</plist>\n";
      writeText(bundle / "Info.plist", info);
      if (i % 10 == 0) {
        writeText(bundle / "en.lproj/InfoPlist.strings",
                  "/* Localized versions of Info.plist keys */\n"
                  "CFBundleDisplayName = \"" +
                      name + " (en)\";\n");
      }
      infoPlists_.push_back((bundle / "Info.plist").string());
      for (auto folder = bundle; folder != root_; folder = folder.parent_path()) dateBack(folder);
      bundles_.push_back(bundle.string());
    }
  }
  ~GeneratedDevice() {
    std::error_code error;
    std::filesystem::remove_all(root_, error);
  }
  std::string root() const { return root_.string(); }
  const std::vector<std::string>& infoPlists() const { return infoPlists_; }
  const std::vector<std::string>& bundles() const { return bundles_; }

 private:
  std::filesystem::path root_;
  std::vector<std::string> infoPlists_;
  std::vector<std::string> bundles_;
};

GeneratedDevice& device() {
  static GeneratedDevice generated;
  return generated;
}

void BM_ReadAndParseInfoPlists(benchmark::State& state) {
  platform::Env& env = platform::defaultEnv();
  for (auto _ : state) {
    std::size_t parsed = 0;
    for (const std::string& path : device().infoPlists()) {
      std::string bytes;
      if (env.readFile(path, platform::FileKind::InfoPlist, bytes).isOk() &&
          platform::parsePropertyList(bytes))
        ++parsed;
    }
    benchmark::DoNotOptimize(parsed);
  }
}
BENCHMARK(BM_ReadAndParseInfoPlists)->Unit(benchmark::kMillisecond);

// The raw loop: each bundle folder listed once, its Info.plist read and parsed, and its
// InfoPlist.strings where the listing holds "en.lproj". Returns what it parsed.
std::size_t listBundlesAndReadInfoPlists() {
  platform::Env& env = platform::defaultEnv();
  std::size_t parsed = 0;
  for (const std::string& bundle : device().bundles()) {
    std::vector<std::string> names;
    if (!env.listDirectory(bundle, names).isOk()) continue;
    std::string bytes;
    if (env.readFile(bundle + "/Info.plist", platform::FileKind::InfoPlist, bytes).isOk() &&
        platform::parsePropertyList(bytes)) {
      ++parsed;
    }
    if (std::find(names.begin(), names.end(), "en.lproj") != names.end() &&
        env.readFile(bundle + "/en.lproj/InfoPlist.strings", platform::FileKind::StringsFile, bytes)
            .isOk()) {
      if (auto table = platform::parseStringsFile(bytes)) parsed += table->size();
    }
  }
  return parsed;
}

void BM_ListBundlesAndReadInfoPlists(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(listBundlesAndReadInfoPlists());
}
BENCHMARK(BM_ListBundlesAndReadInfoPlists)->Unit(benchmark::kMillisecond);

// Times a fresh workspace's first call each round (with `cache`, the cache file it starts
// from). The workspace is made and torn down outside the timing: a process does that once, and
// the call is what is measured.
void timeFirstCalls(benchmark::State& state, const std::string& cache = {}) {
  for (auto _ : state) {
    state.PauseTiming();
    auto workspace = std::make_unique<platform::ApplicationWorkspace>(platform::defaultEnv(),
                                                                      device().root(), cache);
    state.ResumeTiming();
    platform::Value catalogue = HXApplicationsManager(*workspace).allApplications();
    benchmark::DoNotOptimize(catalogue);
    state.PauseTiming();
    workspace.reset();
    state.ResumeTiming();
  }
}

// A process's first call: a new workspace that has parsed nothing yet.
void BM_AllApplicationsFirstCall(benchmark::State& state) {
  timeFirstCalls(state);
}
BENCHMARK(BM_AllApplicationsFirstCall)->Unit(benchmark::kMillisecond);

// The first call and the raw loop in turns, each round's ratio taken from the two timed side
// by side, so that a machine's drift between two separate benchmarks does not enter it. The
// figure is the median of the rounds' ratios.
void BM_FirstCallBesideTheRawLoop(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  auto seconds = [](auto&& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  std::vector<double> ratios;
  bool rawFirst = true;  // turns about, so that neither warms the caches for the other
  for (auto _ : state) {
    state.PauseTiming();
    auto workspace =
        std::make_unique<platform::ApplicationWorkspace>(platform::defaultEnv(), device().root());
    auto raw = [&] {
      return seconds([] { benchmark::DoNotOptimize(listBundlesAndReadInfoPlists()); });
    };
    double rawSeconds = rawFirst ? raw() : 0;
    state.ResumeTiming();
    platform::Value catalogue;
    const double firstSeconds =
        seconds([&] { catalogue = HXApplicationsManager(*workspace).allApplications(); });
    state.PauseTiming();
    benchmark::DoNotOptimize(catalogue);
    catalogue = platform::Value();
    if (!rawFirst) rawSeconds = raw();
    workspace.reset();
    ratios.push_back(firstSeconds / rawSeconds);
    rawFirst = !rawFirst;
    state.ResumeTiming();
  }
  std::sort(ratios.begin(), ratios.end());
  state.counters["ratio_p50"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
}
BENCHMARK(BM_FirstCallBesideTheRawLoop)->Unit(benchmark::kMillisecond)->Iterations(40);

// A fresh process's first call with the cache file an earlier process left: each bundle is
// checked against the identities kept instead of listed, read and parsed. Loading the file is
// timed.
void BM_AllApplicationsFirstCallWithCacheFile(benchmark::State& state) {
  const std::string cache = device().root() + "/home/applications.cache";
  platform::ApplicationWorkspace(platform::defaultEnv(), device().root(), cache)
      .allInstalledApplications();
  timeFirstCalls(state, cache);
}
BENCHMARK(BM_AllApplicationsFirstCallWithCacheFile)->Unit(benchmark::kMillisecond);

// Later calls in the same process, over a device that has not changed.
void BM_AllApplicationsAgain(benchmark::State& state) {
  platform::ApplicationWorkspace workspace(platform::defaultEnv(), device().root());
  HXApplicationsManager manager(workspace);
  benchmark::DoNotOptimize(manager.allApplications());
  for (auto _ : state) {
    platform::Value catalogue = manager.allApplications();
    benchmark::DoNotOptimize(catalogue);
  }
}
BENCHMARK(BM_AllApplicationsAgain)->Unit(benchmark::kMillisecond);

// Prints the usual table, then each figure as a ratio against the Info.plist baseline.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      times_[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      if (auto ratio = run.counters.find("ratio_p50"); ratio != run.counters.end()) {
        pairedRatio_ = ratio->second.value;
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (pairedRatio_ > 0) {
      std::printf(
          "allApplications, first call / the raw loop (%d applications), median of rounds "
          "timed in turns: %.2fx\n",
          kApplications, pairedRatio_);
    }
    for (const auto& [baselineName, what] :
         {std::pair<std::string, const char*>{"BM_ListBundlesAndReadInfoPlists",
                                              "list the bundles, read and parse their files"},
          {"BM_ReadAndParseInfoPlists", "read and parse the Info.plists"}}) {
      const auto baseline = times_.find(baselineName);
      if (baseline == times_.end() || baseline->second.real <= 0 || baseline->second.cpu <= 0) {
        continue;
      }
      // CPU time as well as wall time: on a busy machine the wall time mostly measures waiting.
      for (const auto& [name, time] : times_) {
        if (name.rfind("BM_AllApplications", 0) != 0) continue;
        std::printf("%s / %s of %d applications: %.2fx wall, %.2fx CPU\n", name.c_str(), what,
                    kApplications, time.real / baseline->second.real,
                    time.cpu / baseline->second.cpu);
      }
    }
  }

 private:
  struct Times {
    double real = 0;
    double cpu = 0;
  };
  std::map<std::string, Times> times_;
  double pairedRatio_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  device();  // generate before timing
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
