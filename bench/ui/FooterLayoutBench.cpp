// Laying out the two-row appearance preview footer from scratch, against a baseline that only
// builds the same views and constraints. The difference is the layout pass itself (solving
// and writing frames, label measurement included); it is printed as a ratio to the baseline
// and as an absolute time per layout.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIView.h"

namespace {

using platform::Value;

class Footer : public UIView {
 public:
  std::vector<UILabelPtr> textLabels;
  UIViewPtr containerView;
  double iconWidth = 0;

  void layoutSubviews() override {
    UIView::layoutSubviews();
    if (!containerView) return;
    const UIEdgeInsets m = containerView->layoutMargins();
    const double width = containerView->frame().size.width - iconWidth - m.left - 2 * m.right;
    for (const auto& label : textLabels) label->setPreferredMaxLayoutWidth(width);
  }
};

UIViewPtr addRow(Footer& footer, const UIImagePtr& icon, const UIImagePtr& dot, const char* title,
                 const char* text) {
  auto row = std::make_shared<UIView>();
  row->setTranslatesAutoresizingMaskIntoConstraints(false);
  footer.addSubview(row);
  auto iconView = UIImageView::initWithImage(icon);
  auto dotView = UIImageView::initWithImage(dot);
  auto titleLabel = std::make_shared<UILabel>();
  auto textLabel = std::make_shared<UILabel>();
  for (const UIViewPtr& v :
       {UIViewPtr(iconView), UIViewPtr(dotView), UIViewPtr(titleLabel), UIViewPtr(textLabel)}) {
    v->setTranslatesAutoresizingMaskIntoConstraints(false);
    row->addSubview(v);
  }
  footer.iconWidth = icon->size().width;
  titleLabel->setText(title);
  titleLabel->setFont(UIFont::systemFontOfSize(13));
  textLabel->setNumberOfLines(0);
  textLabel->setLineBreakMode(NSLineBreakByWordWrapping);
  textLabel->setText(text);
  textLabel->setFont(UIFont::systemFontOfSize(13));
  textLabel->setContentHuggingPriorityForAxis(1000, UILayoutConstraintAxisVertical);
  textLabel->setContentCompressionResistancePriorityForAxis(1000, UILayoutConstraintAxisVertical);
  footer.textLabels.push_back(textLabel);
  NSLayoutConstraint::ViewMap views{{"indicatorView", dotView},
                                    {"iconView", iconView},
                                    {"titleLabel", titleLabel},
                                    {"textLabel", textLabel}};
  const Value metrics = Value::dictionary({{"iconWidth", Value::real(icon->size().width)},
                                           {"iconHeight", Value::real(icon->size().height)},
                                           {"indicatorHeight", Value::real(dot->size().height)}});
  row->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(
      "|-[iconView(iconWidth)]-[titleLabel]-|", NSLayoutFormatAlignAllTop, metrics, views));
  row->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(
      "V:|-[titleLabel]-4-[textLabel]", NSLayoutFormatAlignAllLeft, metrics, views));
  row->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(
      "V:|-[iconView(iconHeight)]-3-[indicatorView(indicatorHeight)]-|",
      NSLayoutFormatAlignAllCenterX, metrics, views));
  return row;
}

std::shared_ptr<Footer> buildFooter(const UIImagePtr& icon, const UIImagePtr& dot) {
  auto footer = std::make_shared<Footer>();
  footer->setFrame(CGRectMake(0, 0, 320, 160));
  auto active = addRow(*footer, icon, dot, "ACTIVE APPLICATION",
                       "Indicates an actively running application.");
  auto inactive = addRow(*footer, icon, dot, "INACTIVE APPLICATION",
                         "Indicates an application that has been suspended or terminated.");
  footer->containerView = inactive;
  NSLayoutConstraint::ViewMap views{{"foregroundView", active}, {"inactiveView", inactive}};
  for (const char* format :
       {"V:|-[foregroundView][inactiveView]", "|-[foregroundView]-|", "|-[inactiveView]-|"}) {
    footer->addConstraints(
        NSLayoutConstraint::constraintsWithVisualFormat(format, 0, Value(), views));
  }
  return footer;
}

struct Images {
  UIImagePtr icon = std::make_shared<UIImage>(58, 58, 2.0, std::vector<std::uint32_t>(58 * 58));
  UIImagePtr dot = std::make_shared<UIImage>(12, 12, 2.0, std::vector<std::uint32_t>(12 * 12));
};

void BM_BuildFooterConstraints(benchmark::State& state) {
  UIScreen::mainScreen()->setScale(2);
  Images images;
  for (auto _ : state) {
    auto footer = buildFooter(images.icon, images.dot);
    benchmark::DoNotOptimize(footer.get());
  }
}
BENCHMARK(BM_BuildFooterConstraints);

void BM_BuildAndLayOutFooter(benchmark::State& state) {
  UIScreen::mainScreen()->setScale(2);
  Images images;
  for (auto _ : state) {
    auto footer = buildFooter(images.icon, images.dot);
    footer->layoutIfNeeded();
    benchmark::DoNotOptimize(footer->textLabels[1]->frame());
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
