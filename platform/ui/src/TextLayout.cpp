#include "TextLayout_p.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <tuple>

#include "platform/ui/UILabel.h"

namespace platform::text {

namespace {

PangoContext* measuringContext() {
  // Process lifetime: labels are measured until exit, and Pango keeps its own caches per
  // context.
  static PangoContext* context = [] {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoContext* c = pango_font_map_create_context(map);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(c, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(c, FALSE);
    return c;
  }();
  return context;
}

PangoWrapMode wrapModeFor(NSLineBreakMode mode) {
  return mode == NSLineBreakByCharWrapping ? PANGO_WRAP_CHAR : PANGO_WRAP_WORD_CHAR;
}

PangoAlignment alignmentFor(NSTextAlignment alignment) {
  switch (alignment) {
    case NSTextAlignmentCenter:
      return PANGO_ALIGN_CENTER;
    case NSTextAlignmentRight:
      return PANGO_ALIGN_RIGHT;
    default:
      return PANGO_ALIGN_LEFT;
  }
}

}  // namespace

LayoutHandle makeLayout(const UILabel& label, double wrapWidth) {
  LayoutHandle layout(pango_layout_new(measuringContext()));
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, label.font()->familyName().c_str());
  const double size = std::clamp(label.font()->pointSize(), 0.0, 10000.0);
  pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
  if (label.font()->isBold()) pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
  pango_layout_set_font_description(layout.get(), font);
  pango_font_description_free(font);
  pango_layout_set_alignment(layout.get(), alignmentFor(label.textAlignment()));
  // Pango rejects invalid UTF-8 with a warning and shows nothing; the label shows the valid
  // prefix instead of failing.
  const std::string& text = label.text();
  const gchar* end = nullptr;
  g_utf8_validate(text.c_str(), static_cast<gssize>(text.size()), &end);
  pango_layout_set_text(layout.get(), text.c_str(), static_cast<int>(end - text.c_str()));
  if (label.numberOfLines() != 1 && wrapWidth > 0 && std::isfinite(wrapWidth)) {
    const double units = std::min(wrapWidth * PANGO_SCALE, 1e9);
    pango_layout_set_width(layout.get(), static_cast<int>(units));
    pango_layout_set_wrap(layout.get(), wrapModeFor(label.lineBreakMode()));
  }
  return layout;
}

CGSize measuredSize(PangoLayout* layout, long maxLines) {
  PangoLayoutIter* iter = pango_layout_get_iter(layout);
  double width = 0;
  double bottom = 0;
  long line = 0;
  do {
    PangoRectangle logical;
    pango_layout_iter_get_line_extents(iter, nullptr, &logical);
    // Extents of a wrapped layout are offset by the alignment; the width is what counts.
    width = std::max(width, static_cast<double>(logical.width) / PANGO_SCALE);
    bottom = static_cast<double>(logical.y + logical.height) / PANGO_SCALE;
    ++line;
  } while ((maxLines <= 0 || line < maxLines) && pango_layout_iter_next_line(iter));
  pango_layout_iter_free(iter);
  return CGSizeMake(width, bottom);
}

CGSize measureLabel(const UILabel& label, double wrapWidth) {
  const bool wraps = label.numberOfLines() != 1 && wrapWidth > 0 && std::isfinite(wrapWidth);
  using Key = std::tuple<std::string, std::string, double, bool, long, int, double>;
  Key key{label.text(),
          label.font()->familyName(),
          label.font()->pointSize(),
          label.font()->isBold(),
          label.numberOfLines(),
          label.lineBreakMode() == NSLineBreakByCharWrapping ? 1 : 0,
          wraps ? wrapWidth : 0.0};
  // Bounded: a page shows tens of labels; when full, start again rather than track use.
  static auto* cache = new std::map<Key, CGSize>();  // process lifetime
  if (auto it = cache->find(key); it != cache->end()) return it->second;
  auto layout = makeLayout(label, wrapWidth);
  const CGSize size = measuredSize(layout.get(), label.numberOfLines());
  if (cache->size() >= 512) cache->clear();
  cache->emplace(std::move(key), size);
  return size;
}

double ascent(const UILabel& label) {
  auto layout = makeLayout(label, 0);
  if (label.text().empty()) pango_layout_set_text(layout.get(), "x", 1);
  return static_cast<double>(pango_layout_get_baseline(layout.get())) / PANGO_SCALE;
}

double lineHeight(const UILabel& label) {
  auto layout = makeLayout(label, 0);
  pango_layout_set_text(layout.get(), "x", 1);
  return measuredSize(layout.get(), 1).height;
}

}  // namespace platform::text
