// Draws a view tree into a PNG with Cairo and Pango, as the screen would show it: each view's
// background, then its image or text, then its subviews in order, each clipped to nothing
// (content may overflow its frame, as on the platform). Hidden views and views with alpha 0
// are skipped. Main thread only.
#pragma once

#include <optional>
#include <string>

class UITraitCollection;
class UIView;

namespace platform {

// Lays `view` out if it needs it, then draws it at `scale` pixels per point into an image of
// its bounds rounded up to whole pixels. Returns the PNG bytes, or none when the view has no
// area, the scale is not a positive finite number, the image would exceed 8192 pixels on a
// side, or encoding fails.
std::optional<std::string> renderViewToPng(UIView& view, double scale);
// The same, with every dynamic colour resolved for `traits` (its appearance; the scale is
// `scale`, not the traits' display scale).
std::optional<std::string> renderViewToPng(UIView& view, double scale,
                                           const UITraitCollection& traits);

// The text a drawing of `view` shows, for those who cannot see it: the texts of its labels
// in drawing order, skipping what the drawing skips, each ended as a sentence (a full stop
// is added where a text ends without one) and joined by spaces. Empty when it shows no text.
std::string textOfViewTree(const UIView& view);

}  // namespace platform
