// The store beside GSettings with the dconf backend, measured side by side in one run on a
// private session bus: a warm boolean read, a durable write and a change seen by another process
// on a small domain; then, at 10,000 applications of five settings each, the read that follows
// another process's change (a typed read and a membership in the backgrounding list), a cold
// start that reads one setting, and a per-application write.
// Each figure is reported as `store_x`: how many times faster the store is (dconf's time over
// the store's); below 1 the store is slower.
#include <benchmark/benchmark.h>
#include <gio/gio.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "PeerWorld.h"
#include "hx/HXPreferences.h"
#include "platform/Platform.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/preferences/PreferenceStore.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace {

using peers::Child;
using platform::Value;

std::string gProgramFolder;
// How many identifiers the large domain's backgrounding list holds.
constexpr int kBackgroundingApplications = 100;

double since(std::uint64_t start) {
  return static_cast<double>(peers::monotonicNanoseconds() - start) * 1e-9;
}

// HXPreferences over a store in `home`, as a process of the system builds it.
struct StoreSide {
  explicit StoreSide(const std::string& home)
      : store(platform::defaultEnv(), home + "/Library/Preferences"),
        notifications(platform::newLocalNotificationCenter(platform::RunLoop::main())),
        workspace(platform::defaultEnv(), platform::deviceRoot()),
        platform(new platform::Platform{platform::defaultEnv(), store, *notifications, workspace,
                                        platform::RunLoop::main()}),
        preferences(*platform) {}

  platform::PreferenceStore store;
  std::unique_ptr<platform::NotificationCenter> notifications;
  platform::ApplicationWorkspace workspace;
  std::unique_ptr<platform::Platform> platform;
  HXPreferences preferences;
};

Value applicationSettings(int index, bool prevent) {
  return Value::dictionary({{"autoLaunch", Value::boolean(index % 2 == 0)},
                            {"backgroundBehavior", Value::integer(index % 3)},
                            {"preventTermination", Value::boolean(prevent)},
                            {"activeIndicator", Value::boolean(true)},
                            {"inactiveIndicator", Value::boolean(false)}});
}

// Writes `count` applications to the store's domain and to dconf, each in one change.
void populate(platform::PreferenceStore& store, int count) {
  for (int i = 0; i < count; ++i) {
    store.setAppValue(peers::applicationIdentifier(i), applicationSettings(i, false),
                      "com.orlentis.halvex");
  }
  store.appSynchronize("com.orlentis.halvex");

  // GSettings writes one path at a time; the service takes a whole change set in one call.
  GVariantBuilder changes;
  g_variant_builder_init(&changes, G_VARIANT_TYPE("a{smv}"));
  for (int i = 0; i < count; ++i) {
    const std::string path = peers::applicationPath(i);
    const auto put = [&](const char* key, GVariant* value) {
      g_variant_builder_add(&changes, "{smv}", (path + key).c_str(), value);
    };
    put("auto-launch", g_variant_new_boolean(i % 2 == 0));
    put("background-behavior", g_variant_new_int32(i % 3));
    put("prevent-termination", g_variant_new_boolean(false));
    put("active-indicator", g_variant_new_boolean(true));
    put("inactive-indicator", g_variant_new_boolean(false));
  }
  GVariant* changeSet = g_variant_ref_sink(g_variant_builder_end(&changes));
  GBytes* bytes = g_variant_get_data_as_bytes(changeSet);
  GVariant* serialised = g_variant_new_from_bytes(G_VARIANT_TYPE_BYTESTRING, bytes, TRUE);
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "ca.desrt.dconf", "/ca/desrt/dconf/Writer/user", "ca.desrt.dconf.Writer", "Change",
      g_variant_new_tuple(&serialised, 1), G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 120000,
      nullptr, &error);
  if (reply == nullptr) {
    std::fprintf(stderr, "dconf change set refused: %s\n", error->message);
    g_error_free(error);
  } else {
    g_variant_unref(reply);
  }
  g_object_unref(bus);
  g_bytes_unref(bytes);
  g_variant_unref(changeSet);
  g_settings_sync();
}

void drainMainContext() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

struct World {
  peers::PeerWorld world;
  std::unique_ptr<StoreSide> small;
  std::unique_ptr<StoreSide> large;
  GSettings* global = nullptr;
  GSettings* smallApp = nullptr;
  GSettings* largeWritten = nullptr;
  GSettings* largeRead = nullptr;
  bool application7Flag = false;  // the preventTermination the read benchmarks last wrote

  World() {
    if (!world.ok()) return;
    small = std::make_unique<StoreSide>(world.smallHome());
    populate(small->store, peers::kSmallApplications);
    global = g_settings_new(peers::kGlobalSchema);
    smallApp = g_settings_new_with_path(peers::kAppSchema, peers::applicationPath(4).c_str());
  }

  // The large domain is built only once the small figures are taken: dconf keeps one database
  // for every path, so its small-domain figures would otherwise pay for the large one.
  void growLarge() {
    if (large) return;
    large = std::make_unique<StoreSide>(world.largeHome());
    populate(large->store, peers::kLargeApplications);
    Value::Array backgrounding;
    for (int i = 0; i < kBackgroundingApplications; ++i) {
      backgrounding.emplace_back(peers::applicationIdentifier(i));
    }
    large->store.setAppValue("backgrounding", Value(std::move(backgrounding)),
                             "com.orlentis.halvex");
    large->store.appSynchronize("com.orlentis.halvex");
    largeWritten = g_settings_new_with_path(peers::kAppSchema, peers::applicationPath(7).c_str());
    largeRead = g_settings_new_with_path(peers::kAppSchema, peers::applicationPath(5000).c_str());
    // The watch of a new GSettings is set up on the bus asynchronously: a change signalled
    // before it is in place never arrives. Give it time, as the watcher process does.
    const std::uint64_t until = peers::monotonicNanoseconds() + 300'000'000;
    while (peers::monotonicNanoseconds() < until) g_main_context_iteration(nullptr, FALSE);
  }
};

std::unique_ptr<World> gWorld;

World& world() {
  if (!gWorld) gWorld = std::make_unique<World>();
  return *gWorld;
}

void report(benchmark::State& state, double store, double dconf, const char* unit, double scale) {
  const double n = static_cast<double>(state.iterations());
  state.counters[std::string("store_") + unit] = store / n * scale;
  state.counters[std::string("dconf_") + unit] = dconf / n * scale;
  state.counters["store_x"] = dconf / store;
}

double median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  const auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
  std::nth_element(samples.begin(), middle, samples.end());
  return *middle;
}

void BM_SmallBooleanRead(benchmark::State& state) {
  World& w = world();
  if (!w.small) return state.SkipWithError("no private world");
  HXPreferences& preferences = w.small->preferences;
  constexpr int kBatch = 1000;
  double store = 0, dconf = 0;
  for (auto _ : state) {
    std::uint64_t start = peers::monotonicNanoseconds();
    for (int i = 0; i < kBatch; ++i) {
      benchmark::DoNotOptimize(preferences.shouldAutoLaunchForIdentifier("com.example.app4"));
    }
    store += since(start);
    start = peers::monotonicNanoseconds();
    for (int i = 0; i < kBatch; ++i) {
      benchmark::DoNotOptimize(g_settings_get_boolean(w.smallApp, "auto-launch"));
    }
    dconf += since(start);
  }
  report(state, store / kBatch, dconf / kBatch, "ns", 1e9);
}
BENCHMARK(BM_SmallBooleanRead)->Unit(benchmark::kMicrosecond);

void BM_SmallDurableWrite(benchmark::State& state) {
  World& w = world();
  if (!w.small) return state.SkipWithError("no private world");
  double store = 0, dconf = 0;
  bool flag = false;
  for (auto _ : state) {
    flag = !flag;
    std::uint64_t start = peers::monotonicNanoseconds();
    w.small->preferences.setAppSwitcherToggleEnabled(flag);
    store += since(start);
    start = peers::monotonicNanoseconds();
    g_settings_set_boolean(w.global, "app-switcher-toggle", flag);
    g_settings_sync();
    dconf += since(start);
    drainMainContext();
  }
  report(state, store, dconf, "us", 1e6);
}
BENCHMARK(BM_SmallDurableWrite)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// From the writer's call to the moment another process holds the new value: the store's reader
// notices the change at its next read (it reads in a loop), dconf's reader when its change
// signal arrives.
void BM_SmallChangeSeenByAnotherProcess(benchmark::State& state) {
  World& w = world();
  if (!w.small) return state.SkipWithError("no private world");
  const std::string self = gProgramFolder + "/bench_peers";
  Child storeWatcher = peers::startChild(self, {"--watch-store", w.world.smallHome()});
  Child dconfWatcher = peers::startChild(self, {"--watch-gsettings"});
  std::uint64_t word = 0;
  if (!peers::readWord(storeWatcher, word) || !peers::readWord(dconfWatcher, word)) {
    peers::stopChild(storeWatcher);
    peers::stopChild(dconfWatcher);
    return state.SkipWithError("a watcher did not start");
  }
  double store = 0, dconf = 0;
  bool flag = w.small->preferences.appSwitcherToggleEnabled();
  for (auto _ : state) {
    flag = !flag;
    std::uint64_t start = peers::monotonicNanoseconds();
    w.small->preferences.setAppSwitcherToggleEnabled(flag);
    if (!peers::readWord(storeWatcher, word)) return state.SkipWithError("store watcher lost");
    store += static_cast<double>(word - start) * 1e-9;
    start = peers::monotonicNanoseconds();
    g_settings_set_boolean(w.global, "app-switcher-toggle", flag);
    if (!peers::readWord(dconfWatcher, word)) return state.SkipWithError("dconf watcher lost");
    dconf += static_cast<double>(word - start) * 1e-9;
    g_settings_sync();
    drainMainContext();
  }
  peers::stopChild(storeWatcher);
  peers::stopChild(dconfWatcher);
  report(state, store, dconf, "us", 1e6);
}
BENCHMARK(BM_SmallChangeSeenByAnotherProcess)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

void onChanged(GSettings*, const char*, gpointer seen) {
  *static_cast<bool*>(seen) = true;
}

// Another process changes one application; this one then reads with `storeRead` (GSettings reads
// another application's boolean). Only that read is timed: for the store it takes in the new
// file, for dconf it reopens the database after the change signal arrived.
template <typename StoreRead>
void readAfterAnotherProcessChanged(benchmark::State& state, StoreRead storeRead) {
  World& w = world();
  if (!w.small) return state.SkipWithError("no private world");
  w.growLarge();
  platform::PreferenceStore otherProcess(platform::defaultEnv(),
                                         w.world.largeHome() + "/Library/Preferences");
  Child writer = peers::startChild(gProgramFolder + "/bench_peers", {"--write-gsettings"});
  bool seen = false;
  const gulong handler = g_signal_connect(w.largeWritten, "changed", G_CALLBACK(onChanged), &seen);
  HXPreferences& preferences = w.large->preferences;
  benchmark::DoNotOptimize(storeRead(preferences));
  std::vector<double> store, dconf;
  std::uint64_t word = 0;
  for (auto _ : state) {
    // Each change flips what the last one left, whichever benchmark made it: writing the same
    // value again would change nothing, and nothing would be signalled.
    const bool flag = w.application7Flag = !w.application7Flag;
    otherProcess.setAppValue("com.example.app7", applicationSettings(7, flag),
                             "com.orlentis.halvex");
    otherProcess.appSynchronize("com.orlentis.halvex");
    std::uint64_t start = peers::monotonicNanoseconds();
    benchmark::DoNotOptimize(storeRead(preferences));
    store.push_back(since(start));

    seen = false;
    peers::writeWord(writer.input, flag ? 1 : 0);
    if (!peers::readWord(writer, word)) return state.SkipWithError("dconf writer lost");
    while (!seen) g_main_context_iteration(nullptr, TRUE);
    start = peers::monotonicNanoseconds();
    benchmark::DoNotOptimize(g_settings_get_boolean(w.largeRead, "auto-launch"));
    dconf.push_back(since(start));
  }
  g_signal_handler_disconnect(w.largeWritten, handler);
  peers::stopChild(writer);
  // Medians: a single read is short enough for one preemption to outweigh every other sample.
  const double storeMedian = median(store), dconfMedian = median(dconf);
  state.counters["store_us"] = storeMedian * 1e6;
  state.counters["dconf_us"] = dconfMedian * 1e6;
  state.counters["store_x"] = dconfMedian / storeMedian;
}

void BM_LargeReadAfterAnotherProcessChanged(benchmark::State& state) {
  readAfterAnotherProcessChanged(state, [](HXPreferences& preferences) {
    return preferences.shouldAutoLaunchForIdentifier("com.example.app5000");
  });
}
BENCHMARK(BM_LargeReadAfterAnotherProcessChanged)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(41)
    ->UseRealTime();

// The agent's hottest read: whether an application is in the backgrounding list of
// kBackgroundingApplications identifiers (this one is last in it).
void BM_LargeBackgroundingReadAfterAnotherProcessChanged(benchmark::State& state) {
  readAfterAnotherProcessChanged(state, [](HXPreferences& preferences) {
    return preferences.isBackgroundingEnabledForIdentifier(
        peers::applicationIdentifier(kBackgroundingApplications - 1));
  });
}
BENCHMARK(BM_LargeBackgroundingReadAfterAnotherProcessChanged)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(41)
    ->UseRealTime();

void BM_LargeColdStart(benchmark::State& state) {
  World& w = world();
  if (!w.small) return state.SkipWithError("no private world");
  w.growLarge();
  double store = 0, dconf = 0, storeMiB = 0, dconfMiB = 0;
  for (auto _ : state) {
    double ms = 0, mib = 0;
    if (!peers::runToEnd(gProgramFolder + "/peer_cold_start_store",
                         {w.world.largeHome(), "com.example.app5000"}, ms, mib)) {
      return state.SkipWithError("the store's cold start failed");
    }
    store += ms;
    storeMiB += mib;
    if (!peers::runToEnd(gProgramFolder + "/peer_cold_start_gsettings",
                         {peers::applicationPath(5000)}, ms, mib)) {
      return state.SkipWithError("the GSettings cold start failed");
    }
    dconf += ms;
    dconfMiB += mib;
  }
  report(state, store, dconf, "ms", 1);
  const double n = static_cast<double>(state.iterations());
  state.counters["store_MiB"] = storeMiB / n;
  state.counters["dconf_MiB"] = dconfMiB / n;
  state.counters["memory_to_dconf"] = storeMiB / dconfMiB;
}
BENCHMARK(BM_LargeColdStart)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

void BM_LargeApplicationWrite(benchmark::State& state) {
  World& w = world();
  if (!w.small) return state.SkipWithError("no private world");
  w.growLarge();
  platform::Env& env = platform::defaultEnv();
  const std::string domainFile =
      w.world.largeHome() + "/Library/Preferences/com.orlentis.halvex.plist";
  // The raw write goes to the domain's own folder, so that both flush the same folder.
  const std::string rawFile = w.world.largeHome() + "/Library/Preferences/raw.plist";
  double store = 0, dconf = 0, raw = 0;
  bool flag = false;
  for (auto _ : state) {
    flag = !flag;
    // dconf's write of its whole database is still reaching the disk, and whichever flush came
    // next would wait for it: the disk is let settle first, and the two writes take turns going
    // first.
    ::sync();
    const auto rawWrite = [&] {
      std::string bytes;
      env.readFile(domainFile, platform::FileKind::PreferenceDomain, bytes);
      const std::uint64_t begin = peers::monotonicNanoseconds();
      env.writeFileAtomically(rawFile, bytes, 0600);
      env.flushFolder(w.world.largeHome() + "/Library/Preferences");
      raw += since(begin);
    };
    if (!flag) rawWrite();
    std::uint64_t start = peers::monotonicNanoseconds();
    w.large->preferences.setPreventTerminationForIdentifier(flag, "com.example.app7");
    store += since(start);
    if (flag) rawWrite();
    start = peers::monotonicNanoseconds();
    g_settings_set_boolean(w.largeWritten, "prevent-termination", flag);
    g_settings_sync();
    dconf += since(start);
    drainMainContext();
  }
  report(state, store, dconf, "ms", 1e3);
  state.counters["raw_durable_ms"] = raw / static_cast<double>(state.iterations()) * 1e3;
  platform::FileIdentity identity;
  env.fileIdentity(domainFile, identity);
  state.counters["store_file_KB"] = static_cast<double>(identity.size) / 1000;
}
BENCHMARK(BM_LargeApplicationWrite)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

// --- The other processes ------------------------------------------------------------------------

int watchStore(const std::string& home) {
  StoreSide side(home);
  bool last = side.preferences.appSwitcherToggleEnabled();
  peers::writeWord(STDOUT_FILENO, 0);
  for (;;) {
    const bool now = side.preferences.appSwitcherToggleEnabled();
    if (now != last) {
      peers::writeWord(STDOUT_FILENO, peers::monotonicNanoseconds());
      last = now;
    }
    sched_yield();
  }
}

void onGlobalChanged(GSettings* settings, const char*, gpointer) {
  benchmark::DoNotOptimize(g_settings_get_boolean(settings, "app-switcher-toggle"));
  peers::writeWord(STDOUT_FILENO, peers::monotonicNanoseconds());
}

int watchGSettings() {
  GSettings* settings = g_settings_new(peers::kGlobalSchema);
  g_signal_connect(settings, "changed::app-switcher-toggle", G_CALLBACK(onGlobalChanged), nullptr);
  g_settings_get_boolean(settings, "app-switcher-toggle");
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  // The watch is set up on the bus asynchronously: give it time before saying ready.
  g_timeout_add(
      300,
      [](gpointer) -> gboolean {
        peers::writeWord(STDOUT_FILENO, 0);
        return G_SOURCE_REMOVE;
      },
      nullptr);
  g_main_loop_run(loop);
  return 0;
}

int writeGSettings() {
  GSettings* settings =
      g_settings_new_with_path(peers::kAppSchema, peers::applicationPath(7).c_str());
  std::uint64_t word = 0;
  while (::read(STDIN_FILENO, &word, sizeof word) == static_cast<ssize_t>(sizeof word)) {
    g_settings_set_boolean(settings, "prevent-termination", word != 0);
    g_settings_sync();
    peers::writeWord(STDOUT_FILENO, 1);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--watch-store") == 0) return watchStore(argv[2]);
  if (argc > 1 && std::strcmp(argv[1], "--watch-gsettings") == 0) return watchGSettings();
  if (argc > 1 && std::strcmp(argv[1], "--write-gsettings") == 0) return writeGSettings();
  char self[4096] = {};
  if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
  gProgramFolder = platform::deletingLastPathComponent(self);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gWorld.reset();  // stops the private bus and removes the folder
  return 0;
}
