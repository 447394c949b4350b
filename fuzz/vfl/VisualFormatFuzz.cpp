// Feeds arbitrary text to the visual format parser. The first byte picks the options; the rest
// is the format. A malformed format must raise NSInvalidArgumentException and nothing else;
// a well-formed one is installed and laid out, which must not fail either.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/foundation/Log.h"
#include "platform/foundation/Value.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIView.h"

// Fontconfig keeps its caches for the life of the process; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const NSLayoutFormatOptions kOptions[] = {
      0,
      NSLayoutFormatAlignAllTop,
      NSLayoutFormatAlignAllLeft | NSLayoutFormatAlignAllCenterX,
      NSLayoutFormatAlignAllCenterY | NSLayoutFormatDirectionRightToLeft,
      NSLayoutFormatAlignAllLastBaseline | NSLayoutFormatDirectionLeftToRight,
      NSLayoutFormatAlignAllBottom | NSLayoutFormatAlignAllFirstBaseline,
      NSLayoutFormatAlignAllTrailing,
      0xFFFFFFFFFFFFFFFFull,
  };
  static const bool quiet = [] {
    platform::setLogSink([](std::string_view) {});
    return true;
  }();
  (void)quiet;
  if (size == 0) return 0;
  const NSLayoutFormatOptions options = kOptions[data[0] % (sizeof kOptions / sizeof *kOptions)];
  const std::string_view format(reinterpret_cast<const char*>(data + 1), size - 1);

  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 320, 480));
  auto a = std::make_shared<UIView>();
  auto b = std::make_shared<UIView>();
  auto c = std::make_shared<UIView>();
  for (const auto& v : {a, b, c}) {
    v->setTranslatesAutoresizingMaskIntoConstraints(false);
    root->addSubview(v);
  }
  const NSLayoutConstraint::ViewMap views{
      {"a", a}, {"b", b}, {"c", c}, {"orphan", std::make_shared<UIView>()}};
  const platform::Value metrics =
      platform::Value::dictionary({{"w", platform::Value::real(40)},
                                   {"big", platform::Value::real(1e300)},
                                   {"neg", platform::Value::integer(-20)},
                                   {"p", platform::Value::real(250)},
                                   {"s", platform::Value("text")}});
  try {
    root->addConstraints(
        NSLayoutConstraint::constraintsWithVisualFormat(format, options, metrics, views));
  } catch (const NSInvalidArgumentException&) {
    return 0;
  }
  root->layoutIfNeeded();
  return 0;
}
