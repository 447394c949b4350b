// The cost of the preference store against what it stands in for, each as a ratio measured
// in the same run: a synchronising read of an unchanged domain against a lookup in a
// std::map, and a synchronised write against writing the same bytes to a temporary file,
// flushing it and renaming it over the old one by hand.
//
// Files go to $HX_BENCH_DIR when set, else to a fresh folder in the current one (a disk,
// not a memory file system, so that the flush costs what it costs).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/foundation/Env.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"
#include "platform/preferences/PreferenceStore.h"

namespace {

using platform::Value;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kDomain = "com.example.halvex-bench";

class ScratchFolder {
 public:
  ScratchFolder() {
    const char* base = std::getenv("HX_BENCH_DIR");
    std::string pattern = std::string(base != nullptr ? base : ".") + "/hx-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A domain of the size the system keeps: a few global keys, the backgrounding list and a
// settings dictionary per application.
Value::Dictionary sampleDomain() {
  Value::Dictionary domain{{"appSwitcherToggle", Value::boolean(true)},
                           {"activeIndicator", Value::boolean(true)},
                           {"inactiveIndicator", Value::boolean(false)}};
  Value::Array backgrounding;
  for (int i = 0; i < 20; ++i) {
    const std::string identifier = "com.example.app" + std::to_string(i);
    backgrounding.emplace_back(identifier);
    domain.emplace(identifier, Value::dictionary({{"backgroundBehavior", Value::integer(i % 3)},
                                                  {"autoLaunch", Value::boolean(i % 2 == 0)}}));
  }
  domain.emplace("backgrounding", Value(std::move(backgrounding)));
  return domain;
}

double seconds(Clock::duration elapsed) {
  return std::chrono::duration<double>(elapsed).count();
}

// The CPU time of this thread: a read makes no system call, so what other processes on the
// machine do must not count.
double threadSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// appSynchronize + copyAppValue of an unchanged domain, against std::map find + copy.
void BM_SynchronisingReadOfUnchangedDomain(benchmark::State& state) {
  ScratchFolder folder;
  platform::PreferenceStore store(platform::defaultEnv(), folder.path());
  const Value::Dictionary domain = sampleDomain();
  for (const auto& [key, value] : domain) store.setAppValue(key, value, kDomain);
  if (!store.appSynchronize(kDomain)) state.SkipWithError("cannot write the domain");
  const std::map<std::string, Value, std::less<>> baseline(domain.begin(), domain.end());
  const std::string key = "com.example.app7";

  constexpr int kBatch = 1000;
  double baselineTime = 0;
  double storeTime = 0;
  for (auto _ : state) {
    const double start = threadSeconds();
    for (int i = 0; i < kBatch; ++i) {
      auto it = baseline.find(std::string_view(key));
      Value copy = it == baseline.end() ? Value() : it->second;
      benchmark::DoNotOptimize(copy);
    }
    const double middle = threadSeconds();
    for (int i = 0; i < kBatch; ++i) {
      store.appSynchronize(kDomain);
      Value copy = store.copyAppValue(key, kDomain);
      benchmark::DoNotOptimize(copy);
    }
    const double end = threadSeconds();
    baselineTime += middle - start;
    storeTime += end - middle;
  }
  const double operations = static_cast<double>(state.iterations()) * kBatch;
  state.counters["ratio_to_map_lookup"] = storeTime / baselineTime;
  state.counters["store_cpu_ns"] = storeTime / operations * 1e9;
  state.counters["map_cpu_ns"] = baselineTime / operations * 1e9;
}
BENCHMARK(BM_SynchronisingReadOfUnchangedDomain)->Unit(benchmark::kMicrosecond);

enum class FolderFlush { No, Yes };

bool rawAtomicWrite(const std::string& path, const std::string& bytes, FolderFlush flush) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0600) == 0 &&
            ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
            ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
  if (ok && flush == FolderFlush::Yes) {
    const std::string folder = path.substr(0, path.rfind('/'));
    const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = directory >= 0 && ::fsync(directory) == 0;
    if (directory >= 0) ::close(directory);
  }
  return ok;
}

// setAppValue + appSynchronize of one changed key, against writing the already encoded bytes
// of the same domain by hand: temporary file, fsync, rename, then an fsync of the folder, as the
// store does so that the rename itself is durable; and the same without the folder's fsync.
void BM_SynchronisedWrite(benchmark::State& state) {
  ScratchFolder folder;
  const std::string directory = folder.path() + "/Preferences";
  platform::PreferenceStore store(platform::defaultEnv(), directory);
  Value::Dictionary domain = sampleDomain();
  for (const auto& [key, value] : domain) store.setAppValue(key, value, kDomain);
  if (!store.appSynchronize(kDomain)) state.SkipWithError("cannot write the domain");
  const std::string rawPath = folder.path() + "/raw.plist";

  std::int64_t next = 0;
  std::optional<std::string> bytes;
  // The three writers take turns going first, so that none always pays for a journal
  // commit the one before it started.
  enum Writer { Raw, RawFlushed, Store, kWriters };
  std::array<Clock::duration, kWriters> elapsed{};
  const auto write = [&](int writer) {
    const auto start = Clock::now();
    bool ok = false;
    switch (writer) {
      case Raw:
        ok = rawAtomicWrite(rawPath, *bytes, FolderFlush::No);
        break;
      case RawFlushed:
        ok = rawAtomicWrite(rawPath, *bytes, FolderFlush::Yes);
        break;
      default:
        store.setAppValue("counter", Value::integer(next), kDomain);
        ok = store.appSynchronize(kDomain);
    }
    elapsed[writer] += Clock::now() - start;
    if (!ok) state.SkipWithError("write failed");
  };
  for (auto _ : state) {
    ++next;
    domain.insert_or_assign("counter", Value::integer(next));
    bytes = platform::serializePropertyList(Value(domain), platform::PlistFormat::Binary);
    if (!bytes) state.SkipWithError("cannot encode the domain");
    for (int turn = 0; turn < kWriters; ++turn) write(static_cast<int>((next + turn) % kWriters));
  }
  const Clock::duration rawTime = elapsed[Raw];
  const Clock::duration rawFlushedTime = elapsed[RawFlushed];
  const Clock::duration storeTime = elapsed[Store];
  const double operations = static_cast<double>(state.iterations());
  state.counters["ratio_to_raw_write"] = seconds(storeTime) / seconds(rawTime);
  state.counters["ratio_to_raw_write_and_folder_fsync"] =
      seconds(storeTime) / seconds(rawFlushedTime);
  state.counters["store_us"] = seconds(storeTime) / operations * 1e6;
  state.counters["raw_us"] = seconds(rawTime) / operations * 1e6;
  state.counters["raw_folder_fsync_us"] = seconds(rawFlushedTime) / operations * 1e6;
}
BENCHMARK(BM_SynchronisedWrite)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
