// Laying out the two-row appearance preview footer from scratch, against a baseline that only
// builds the same views and constraints. The difference is the layout pass itself (solving
// and writing frames, label measurement included); it is printed as a ratio to the baseline
// and as an absolute time per layout.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/UIScreen.h"
#include "support/FooterWithImages.h"

namespace {

using hxtest::FooterWithImages;

struct Images {
  UIImagePtr icon = FooterWithImages::solidImage(58, 2.0);
  UIImagePtr dot = FooterWithImages::solidImage(12, 2.0);
};

std::shared_ptr<HXAppearanceFooter> buildFooter(const Images& images) {
  auto footer = std::make_shared<FooterWithImages>(images.icon, images.dot);
  footer->setFrame(CGRectMake(0, 0, 320, 160));
  footer->setApplicationIdentifier("com.example.any");
  return footer;
}

void BM_BuildFooterConstraints(benchmark::State& state) {
  UIScreen::mainScreen()->setScale(2);
  Images images;
  for (auto _ : state) {
    auto footer = buildFooter(images);
    benchmark::DoNotOptimize(footer.get());
  }
}
BENCHMARK(BM_BuildFooterConstraints);

void BM_BuildAndLayOutFooter(benchmark::State& state) {
  UIScreen::mainScreen()->setScale(2);
  Images images;
  for (auto _ : state) {
    auto footer = buildFooter(images);
    footer->layoutIfNeeded();
    benchmark::DoNotOptimize(footer->textLabels()[1]->frame());
  }
}
BENCHMARK(BM_BuildAndLayOutFooter);

// Prints, after the usual table, the layout pass as a ratio to the baseline and in µs.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.iterations > 0) {
        const double n = static_cast<double>(run.iterations);
        real_[run.benchmark_name()] = run.real_accumulated_time / n;
        cpu_[run.benchmark_name()] = run.cpu_accumulated_time / n;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    report("wall", real_);
    report("cpu", cpu_);
  }

 private:
  static void report(const char* clock, std::map<std::string, double>& times) {
    const double build = times["BM_BuildFooterConstraints"];
    const double full = times["BM_BuildAndLayOutFooter"];
    if (build <= 0 || full <= 0) return;
    std::printf("\n[%s] build only: %.1f us; build and lay out: %.1f us (%.2f x the build)\n",
                clock, build * 1e6, full * 1e6, full / build);
    std::printf("[%s] layout pass alone: %.1f us (%.2f x the build; goal under 100 us)\n", clock,
                (full - build) * 1e6, (full - build) / build);
  }

  std::map<std::string, double> real_;
  std::map<std::string, double> cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
