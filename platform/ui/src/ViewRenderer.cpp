#include "platform/ui/ViewRenderer.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string_view>

#include "TextLayout_p.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UISwitch.h"
#include "platform/ui/UITraitCollection.h"
#include "platform/ui/UIView.h"

namespace platform {

namespace {

constexpr double kMaxPixels = 8192;

void setColor(cairo_t* cr, const Color& c, double alpha = 1) {
  auto clamp = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
  cairo_set_source_rgba(cr, clamp(c.red), clamp(c.green), clamp(c.blue), clamp(c.alpha) * alpha);
}

void drawImage(cairo_t* cr, const UIImage& image, CGRect bounds) {
  if (image.pixelWidth() <= 0 || image.pixelHeight() <= 0) return;
  if (bounds.size.width <= 0 || bounds.size.height <= 0) return;
  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(image.pixels().data())),
      CAIRO_FORMAT_ARGB32, image.pixelWidth(), image.pixelHeight(), image.pixelWidth() * 4);
  cairo_save(cr);
  // Scale to fill the bounds, as an image view does by default.
  cairo_scale(cr, bounds.size.width / image.pixelWidth(), bounds.size.height / image.pixelHeight());
  cairo_set_source_surface(cr, surface, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_destroy(surface);
}

void drawLabel(cairo_t* cr, const UILabel& label, CGRect bounds, const UITraitCollection& traits) {
  if (label.text().empty() || bounds.size.width <= 0) return;
  const bool multiLine = label.numberOfLines() != 1;
  auto layout = text::makeLayout(label, multiLine ? bounds.size.width : 0);
  if (!multiLine) {
    // One line that does not fit is shortened as its line-break mode says.
    PangoEllipsizeMode ellipsize = PANGO_ELLIPSIZE_NONE;
    switch (label.lineBreakMode()) {
      case NSLineBreakByTruncatingHead:
        ellipsize = PANGO_ELLIPSIZE_START;
        break;
      case NSLineBreakByTruncatingMiddle:
        ellipsize = PANGO_ELLIPSIZE_MIDDLE;
        break;
      case NSLineBreakByTruncatingTail:
        ellipsize = PANGO_ELLIPSIZE_END;
        break;
      default:
        break;
    }
    if (ellipsize != PANGO_ELLIPSIZE_NONE) {
      pango_layout_set_width(layout.get(), static_cast<int>(bounds.size.width * PANGO_SCALE));
      pango_layout_set_ellipsize(layout.get(), ellipsize);
    }
  }
  const CGSize size = text::measuredSize(layout.get(), label.numberOfLines());
  double x = 0;
  if (!multiLine && label.textAlignment() == NSTextAlignmentCenter) {
    x = (bounds.size.width - size.width) / 2;
  } else if (!multiLine && label.textAlignment() == NSTextAlignmentRight) {
    x = bounds.size.width - size.width;
  }
  cairo_save(cr);
  // Lines beyond numberOfLines are not shown.
  cairo_rectangle(cr, 0, 0, bounds.size.width, std::max(bounds.size.height, size.height));
  cairo_clip(cr);
  cairo_move_to(cr, std::max(0.0, x), (bounds.size.height - size.height) / 2);
  setColor(cr, label.textColor()->resolvedColorWithTraitCollection(traits));
  pango_cairo_show_layout(cr, layout.get());
  cairo_restore(cr);
}

void drawSwitch(cairo_t* cr, const UISwitch& control, CGRect bounds) {
  const double h = bounds.size.height;
  const double w = bounds.size.width;
  if (h <= 0 || w <= 0) return;
  const double r = h / 2;
  cairo_new_sub_path(cr);
  cairo_arc(cr, r, r, r, std::numbers::pi / 2, 3 * std::numbers::pi / 2);
  cairo_arc(cr, w - r, r, r, 3 * std::numbers::pi / 2, std::numbers::pi / 2);
  cairo_close_path(cr);
  setColor(cr, control.isOn() ? Color::rgba(0.3, 0.85, 0.39, 1) : Color::white(0.9, 1),
           control.isEnabled() ? 1 : 0.5);
  cairo_fill(cr);
  cairo_arc(cr, control.isOn() ? w - r : r, r, r - 2, 0, 2 * std::numbers::pi);
  setColor(cr, Color::white(1, 1));
  cairo_fill(cr);
}

void drawView(cairo_t* cr, UIView& view, bool isRoot, const UITraitCollection& traits) {
  if (view.isHidden() || view.alpha() <= 0) return;
  const CGRect frame = view.frame();
  const CGRect bounds = view.bounds();
  cairo_save(cr);
  if (!isRoot) cairo_translate(cr, frame.origin.x, frame.origin.y);
  const bool translucent = view.alpha() < 1;
  if (translucent) cairo_push_group(cr);

  if (const auto& background = view.backgroundColor()) {
    cairo_rectangle(cr, 0, 0, bounds.size.width, bounds.size.height);
    setColor(cr, background->resolvedColorWithTraitCollection(traits));
    cairo_fill(cr);
  }
  if (auto* imageView = dynamic_cast<UIImageView*>(&view); imageView && imageView->image()) {
    drawImage(cr, *imageView->image(), bounds);
  } else if (auto* label = dynamic_cast<UILabel*>(&view)) {
    drawLabel(cr, *label, bounds, traits);
  } else if (auto* control = dynamic_cast<UISwitch*>(&view)) {
    drawSwitch(cr, *control, bounds);
  }
  // A copy: drawing must not be disturbed by a view that changes the tree meanwhile.
  const std::vector<std::shared_ptr<UIView>> children = view.subviews();
  for (const auto& child : children) drawView(cr, *child, false, traits);

  if (translucent) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, view.alpha());
  }
  cairo_restore(cr);
}

void appendText(const UIView& view, std::string& out) {
  if (view.isHidden() || view.alpha() <= 0) return;
  if (auto* label = dynamic_cast<const UILabel*>(&view)) {
    std::string text = label->text();
    const auto last = text.find_last_not_of(" \t\n");
    text.erase(last == std::string::npos ? 0 : last + 1);
    text.erase(0, std::min(text.size(), text.find_first_not_of(" \t\n")));
    if (!text.empty()) {
      if (!out.empty()) out += ' ';
      out += text;
      if (std::string_view(".!?:").find(text.back()) == std::string_view::npos) out += '.';
    }
  }
  for (const auto& child : view.subviews()) appendText(*child, out);
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::optional<std::string> renderViewToPng(UIView& view, double scale) {
  return renderViewToPng(view, scale, UITraitCollection());
}

std::optional<std::string> renderViewToPng(UIView& view, double scale,
                                           const UITraitCollection& traits) {
  if (!std::isfinite(scale) || scale <= 0) return std::nullopt;
  view.layoutIfNeeded();
  const CGSize size = view.bounds().size;
  const double width = std::ceil(size.width * scale - 1e-6);
  const double height = std::ceil(size.height * scale - 1e-6);
  if (!(width >= 1 && height >= 1 && width <= kMaxPixels && height <= kMaxPixels)) {
    return std::nullopt;
  }
  cairo_surface_t* surface = cairo_image_surface_create(
      CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height));
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  drawView(cr, view, true, traits);
  cairo_destroy(cr);
  std::string png;
  const cairo_status_t status = cairo_surface_write_to_png_stream(surface, appendBytes, &png);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) return std::nullopt;
  return png;
}

std::string textOfViewTree(const UIView& view) {
  std::string out;
  appendText(view, out);
  return out;
}

}  // namespace platform
