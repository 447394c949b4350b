// Reading a typical preference domain from its binary plist, against copying the same bytes.
// Each figure is printed as a ratio to the copy measured in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/foundation/PropertyList.h"

namespace {

using platform::Value;

// Global switches, the backgrounding list and one settings dictionary per application.
Value typicalDomain() {
  Value::Dictionary domain = {{"appSwitcherToggle", Value::boolean(true)},
                              {"activeIndicator", Value::boolean(true)},
                              {"inactiveIndicator", Value::boolean(false)}};
  Value::Array backgrounding;
  for (int i = 0; i < 40; ++i) {
    const std::string identifier = "com.example.application" + std::to_string(i);
    backgrounding.emplace_back(identifier);
    domain[identifier] = Value::dictionary({{"enabled", Value::boolean(i % 2 == 0)},
                                            {"backgroundMode", Value::integer(i % 3)},
                                            {"autoLaunch", Value::boolean(false)},
                                            {"badge", Value::boolean(true)},
                                            {"indicatorAlpha", Value::real(0.75)}});
  }
  domain["backgrounding"] = Value::array(std::move(backgrounding));
  return Value::dictionary(std::move(domain));
}

const std::string& binaryBytes() {
  static const std::string bytes = *platform::serializePropertyList(typicalDomain());
  return bytes;
}

const std::string& xmlBytes() {
  static const std::string bytes =
      *platform::serializePropertyList(typicalDomain(), platform::PlistFormat::Xml);
  return bytes;
}

void BM_CopyBytes(benchmark::State& state) {
  const std::string& source = binaryBytes();
  std::vector<char> target(source.size());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CopyBytes);

void BM_ParseBinary(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(platform::parsePropertyList(binaryBytes()));
}
BENCHMARK(BM_ParseBinary);

void BM_ParseXml(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(platform::parsePropertyList(xmlBytes()));
}
BENCHMARK(BM_ParseXml);

void BM_WriteBinary(benchmark::State& state) {
  const Value domain = typicalDomain();
  for (auto _ : state) benchmark::DoNotOptimize(platform::serializePropertyList(domain));
}
BENCHMARK(BM_WriteBinary);

// Keeps each benchmark's time per iteration so that main() can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration)
        times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }
  const std::map<std::string, double>& times() const { return times_; }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& times = reporter.times();
  const auto baseline = times.find("BM_CopyBytes");
  if (baseline != times.end() && baseline->second > 0) {
    std::printf("\nDomain: %zu bytes binary, %zu bytes XML. Time relative to copying the bytes:\n",
                binaryBytes().size(), xmlBytes().size());
    for (const auto& [name, time] : times) {
      std::printf("  %-16s %10.1fx\n", name.c_str(), time / baseline->second);
    }
  }
  benchmark::Shutdown();
  return 0;
}
