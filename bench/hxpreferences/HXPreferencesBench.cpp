// The store's typed settings against their own baselines, each as a ratio measured in the
// same run: a typed getter outside a read batch on an unchanged domain against the same getter
// inside a batch, and a per-application write against the platform's raw durable write of the
// same domain file (temporary file, flush, rename, folder flush: what the store's write does).
//
// The store works on a fresh home in $HX_BENCH_DIR (else a folder in the current one) with no
// session bus needed: notifications stay inside the process.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "hx/HXPreferences.h"
#include "platform/Platform.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/preferences/PreferenceStore.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Bench {
  std::string home;
  std::unique_ptr<platform::PreferenceStore> store;
  std::unique_ptr<platform::NotificationCenter> notifications;
  std::unique_ptr<platform::ApplicationWorkspace> workspace;
  std::unique_ptr<platform::Platform> platform;
  std::unique_ptr<HXPreferences> preferences;

  Bench() {
    const char* base = std::getenv("HX_BENCH_DIR");
    std::string pattern = std::string(base != nullptr ? base : ".") + "/hx-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    home = pattern;
    platform::Env& env = platform::defaultEnv();
    env.createDirectories(home + "/Library/Preferences", 0700);
    store = std::make_unique<platform::PreferenceStore>(env, home + "/Library/Preferences");
    notifications = platform::newLocalNotificationCenter(platform::RunLoop::main());
    workspace = std::make_unique<platform::ApplicationWorkspace>(env, platform::deviceRoot());
    platform.reset(
        new platform::Platform{env, *store, *notifications, *workspace, platform::RunLoop::main()});
    preferences = std::make_unique<HXPreferences>(*platform);
    for (int i = 0; i < 20; ++i) {
      const std::string id = "com.example.app" + std::to_string(i);
      preferences->setAutoLaunchForIdentifier(i % 2 == 0, id);
      preferences->addBackgroundingIdentifier(id);
    }
  }
  ~Bench() { std::filesystem::remove_all(home); }
};

Bench& bench() {
  // Never destroyed (the store and the centre may still be in use at exit), so its scratch
  // folder is removed at exit instead.
  static Bench* b = [] {
    auto* made = new Bench();
    std::atexit([] { std::filesystem::remove_all(bench().home); });
    return made;
  }();
  return *b;
}

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void BM_TypedGetterOutsideBatchAgainstInside(benchmark::State& state) {
  HXPreferences& store = *bench().preferences;
  double outside = 0, inside = 0;
  std::int64_t rounds = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    benchmark::DoNotOptimize(store.shouldAutoLaunchForIdentifier("com.example.app4"));
    auto middle = Clock::now();
    store.beginRead();
    auto batchStart = Clock::now();
    benchmark::DoNotOptimize(store.shouldAutoLaunchForIdentifier("com.example.app4"));
    auto end = Clock::now();
    store.commitRead();
    outside += seconds(middle - start);
    inside += seconds(end - batchStart);
    ++rounds;
  }
  state.counters["outside_ns"] = outside / static_cast<double>(rounds) * 1e9;
  state.counters["inside_ns"] = inside / static_cast<double>(rounds) * 1e9;
  state.counters["ratio_outside_to_inside"] = outside / inside;
}
BENCHMARK(BM_TypedGetterOutsideBatchAgainstInside);

void BM_ApplicationWriteAgainstRawWrite(benchmark::State& state) {
  Bench& b = bench();
  platform::Env& env = platform::defaultEnv();
  const std::string domainFile = b.home + "/Library/Preferences/com.orlentis.halvex.plist";
  const std::string rawFile = b.home + "/raw.plist";
  double store = 0, raw = 0;
  std::int64_t rounds = 0;
  bool flag = false;
  for (auto _ : state) {
    flag = !flag;
    auto start = Clock::now();
    b.preferences->setPreventTerminationForIdentifier(flag, "com.example.app7");
    auto middle = Clock::now();
    std::string bytes;
    env.readFile(domainFile, platform::FileKind::PreferenceDomain, bytes);
    auto rawStart = Clock::now();
    env.writeFileAtomically(rawFile, bytes, 0600);
    env.flushFolder(b.home);
    auto end = Clock::now();
    store += seconds(middle - start);
    raw += seconds(end - rawStart);
    ++rounds;
  }
  state.counters["store_us"] = store / static_cast<double>(rounds) * 1e6;
  state.counters["raw_us"] = raw / static_cast<double>(rounds) * 1e6;
  state.counters["ratio_to_raw_write"] = store / raw;
}
BENCHMARK(BM_ApplicationWriteAgainstRawWrite)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
