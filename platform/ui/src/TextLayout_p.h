// Text measurement and drawing with Pango, shared by labels and the renderer. One unit of
// a layout is one point: fonts are sized in device units and metrics are not hinted, so a
// size measured here is the same at every screen scale. Main thread only.
#pragma once

#include <pango/pangocairo.h>

#include <memory>

#include "platform/ui/Geometry.h"

class UILabel;

namespace platform::text {

struct LayoutDeleter {
  void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using LayoutHandle = std::unique_ptr<PangoLayout, LayoutDeleter>;

// A layout of the label's text, font and line settings, wrapped at `wrapWidth` points when
// the label may take several lines and `wrapWidth` > 0.
LayoutHandle makeLayout(const UILabel& label, double wrapWidth);

// The size of the first `maxLines` lines (0: all) of `layout`, in points, unrounded.
CGSize measuredSize(PangoLayout* layout, long maxLines);

// The unrounded size of the label's text wrapped at `wrapWidth` (see makeLayout), at most
// numberOfLines lines. Answers come from a small process-wide cache keyed by everything that
// changes the result, because pages rebuild the same labels over and over.
CGSize measureLabel(const UILabel& label, double wrapWidth);

// Ascent and descent of the label's font on its first line, in points.
double ascent(const UILabel& label);
double lineHeight(const UILabel& label);

}  // namespace platform::text
