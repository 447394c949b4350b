#include "platform/ui/UIImage.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "ApplicationIcons_p.h"
#include "UIClass_p.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/PngHeader.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UITraitCollection.h"

const platform::Class& UIImage::staticClass() {
  static const platform::Class& cls =
      platform::uidetail::defineClass("UIImage", platform::Object::staticClass(), {});
  return cls;
}

namespace {

double validScale(double scale) {
  return std::isfinite(scale) && scale > 0 ? scale : 1.0;
}

// Copies an image surface into ARGB32 pixels; null for a surface in error or of no size.
std::shared_ptr<UIImage> imageFromSurface(cairo_surface_t* surface, double scale) {
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return nullptr;
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  if (width <= 0 || height <= 0) return nullptr;
  // Draw into a fresh ARGB32 surface so that RGB24 and A8 files come out alike.
  cairo_surface_t* argb = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(argb) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(argb);
    return nullptr;
  }
  cairo_t* cr = cairo_create(argb);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, surface, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(argb);
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  const unsigned char* data = cairo_image_surface_get_data(argb);
  const int stride = cairo_image_surface_get_stride(argb);
  for (int y = 0; y < height; ++y) {
    std::memcpy(&pixels[static_cast<std::size_t>(y) * width],
                data + static_cast<std::ptrdiff_t>(y) * stride,
                static_cast<std::size_t>(width) * 4);
  }
  cairo_surface_destroy(argb);
  return std::make_shared<UIImage>(width, height, validScale(scale), std::move(pixels));
}

struct PngReader {
  std::string_view bytes;
  std::size_t offset = 0;
};

cairo_status_t readPng(void* closure, unsigned char* data, unsigned int length) {
  auto* reader = static_cast<PngReader*>(closure);
  if (reader->bytes.size() - reader->offset < length) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(data, reader->bytes.data() + reader->offset, length);
  reader->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

// The decoder allocates what the header declares before it reads a row, so the header is
// checked against the caps first and a file over them never reaches it.
std::shared_ptr<UIImage> decodePng(std::string_view png, double scale) {
  if (!platform::decodablePngSize(png)) return nullptr;
  PngReader reader{png};
  cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(readPng, &reader);
  auto image = imageFromSurface(surface, scale);
  cairo_surface_destroy(surface);
  return image;
}

cairo_status_t writePng(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

// A cairo surface over the image's pixels (no copy); the image must outlive it.
cairo_surface_t* surfaceOver(const UIImage& image) {
  return cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(image.pixels().data())),
      CAIRO_FORMAT_ARGB32, image.pixelWidth(), image.pixelHeight(), image.pixelWidth() * 4);
}

}  // namespace

namespace {

// The PNG at `path` drawn `pixels` square at `scale`, smoothly rescaled when its size differs.
std::shared_ptr<UIImage> iconFromFile(const std::string& path, int pixels, double scale) {
  auto file = UIImage::imageWithContentsOfFileScale(path, scale);
  if (!file) return nullptr;
  if (file->pixelWidth() == pixels && file->pixelHeight() == pixels) return file;

  cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixels, pixels);
  cairo_surface_t* source = surfaceOver(*file);
  cairo_t* cr = cairo_create(target);
  cairo_scale(cr, static_cast<double>(pixels) / file->pixelWidth(),
              static_cast<double>(pixels) / file->pixelHeight());
  cairo_set_source_surface(cr, source, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(source);
  auto icon = imageFromSurface(target, scale);
  cairo_surface_destroy(target);
  return icon;
}

}  // namespace

UIImage::UIImage(int pixelWidth, int pixelHeight, double scale, std::vector<std::uint32_t> pixels)
    : pixelWidth_(pixelWidth),
      pixelHeight_(pixelHeight),
      scale_(scale),
      pixels_(std::move(pixels)) {}

std::shared_ptr<UIImage> UIImage::deferredImage(int pixelWidth, int pixelHeight, double scale,
                                                std::string sourceKey,
                                                std::function<std::shared_ptr<UIImage>()> render) {
  auto image =
      std::make_shared<UIImage>(pixelWidth, pixelHeight, scale, std::vector<std::uint32_t>());
  image->render_ = std::move(render);
  image->sourceKey_ = std::move(sourceKey);
  return image;
}

const std::vector<std::uint32_t>& UIImage::pixels() const {
  if (render_) {
    // Released before the call, so that a render that looks at this image again finds it
    // transparent instead of recursing.
    auto render = std::move(render_);
    render_ = nullptr;
    pixels_.assign(static_cast<std::size_t>(pixelWidth_) * pixelHeight_, 0);
    std::shared_ptr<UIImage> made;
    try {
      made = render();
    } catch (...) {
      made = nullptr;
    }
    if (made && made->pixelWidth_ == pixelWidth_ && made->pixelHeight_ == pixelHeight_) {
      pixels_ = made->pixels();
    }
  }
  return pixels_;
}

std::shared_ptr<UIImage> UIImage::imageWithContentsOfFile(const std::string& path) {
  return imageWithContentsOfFileScale(path, 1.0);
}

std::shared_ptr<UIImage> UIImage::imageWithContentsOfFileScale(const std::string& path,
                                                               double scale) {
  // The Env reads only a plain file (a FIFO or a device would never end) within the image cap,
  // checked before a byte of it is read.
  std::string bytes;
  if (!platform::defaultEnv().readFile(path, platform::FileKind::Image, bytes).isOk()) {
    return nullptr;
  }
  return decodePng(bytes, scale);
}

std::shared_ptr<UIImage> UIImage::imageWithDataScale(const std::vector<std::uint8_t>& png,
                                                     double scale) {
  return decodePng(std::string_view(reinterpret_cast<const char*>(png.data()), png.size()), scale);
}

std::shared_ptr<UIImage> UIImage::imageNamedInBundleCompatibleWithTraitCollection(
    const std::string& name, const std::string& bundlePath, const UITraitCollection* traits) {
  std::string base = name;
  if (base.size() > 4 && base.compare(base.size() - 4, 4, ".png") == 0)
    base.resize(base.size() - 4);
  if (base.empty() || base.find('/') != std::string::npos || base == "." || base == "..") {
    return nullptr;
  }
  double scale = traits != nullptr && traits->displayScale() > 0 ? traits->displayScale()
                                                                 : UIScreen::mainScreen()->scale();
  const int wanted = std::clamp(static_cast<int>(std::lround(scale)), 1, 3);
  std::vector<int> order;
  for (int s = wanted; s >= 1; --s) order.push_back(s);
  for (int s = wanted + 1; s <= 3; ++s) order.push_back(s);
  const std::string folder =
      bundlePath.empty() || bundlePath.back() == '/' ? bundlePath : bundlePath + "/";
  for (int s : order) {
    const std::string path =
        folder + base + (s == 1 ? std::string() : "@" + std::to_string(s) + "x") + ".png";
    // A file that is not an image within the caps counts as missing: the next one may fit.
    if (auto image = imageWithContentsOfFileScale(path, s)) return image;
  }
  return nullptr;
}

double UIImage::pointSizeForIconFormat(int format) {
  switch (format) {
    case 0:
      return 29;
    case 1:
      return 40;
    default:
      return 60;
  }
}

UIImage::IconSource UIImage::setApplicationIconSource(IconSource source) {
  return platform::uidetail::setIconSource(std::move(source));
}

std::shared_ptr<UIImage> UIImage::_applicationIconImageForBundleIdentifierFormatScale(
    const std::string& identifier, int format, double scale) {
  scale = validScale(scale);
  const double points = pointSizeForIconFormat(format);
  // Only a name for the icon is taken now; which file is drawn is decided when the icon is
  // first drawn, so a page of thousands of icons looks at none of their files.
  auto version = platform::uidetail::iconVersion(identifier, points, scale);
  if (!version) return nullptr;
  const int pixels = static_cast<int>(std::lround(points * scale));
  char size[48];
  std::snprintf(size, sizeof size, "|%d@%g", pixels, scale);
  return deferredImage(pixels, pixels, scale, *version + size,
                       [identifier, points, pixels, scale]() -> std::shared_ptr<UIImage> {
                         auto path = platform::uidetail::iconPath(identifier, points, scale);
                         return path ? iconFromFile(*path, pixels, scale) : nullptr;
                       });
}

std::shared_ptr<UIImage> UIImage::_flatImageWithColor(const UIColorPtr& color) const {
  const std::vector<std::uint32_t>& source = pixels();
  if (!color) return std::make_shared<UIImage>(pixelWidth_, pixelHeight_, scale_, source);
  const platform::Color& c = color->color();
  auto channel = [](double v) { return std::clamp(v, 0.0, 1.0); };
  const double r = channel(c.red), g = channel(c.green), b = channel(c.blue), a = channel(c.alpha);
  std::vector<std::uint32_t> out(source.size());
  for (std::size_t i = 0; i < source.size(); ++i) {
    const double alpha = static_cast<double>(source[i] >> 24) / 255.0 * a;
    auto premultiplied = [alpha](double v) {
      return static_cast<std::uint32_t>(std::lround(v * alpha * 255.0));
    };
    out[i] = static_cast<std::uint32_t>(std::lround(alpha * 255.0)) << 24 | premultiplied(r) << 16 |
             premultiplied(g) << 8 | premultiplied(b);
  }
  return std::make_shared<UIImage>(pixelWidth_, pixelHeight_, scale_, std::move(out));
}

CGSize UIImage::size() const {
  return CGSizeMake(pixelWidth_ / scale_, pixelHeight_ / scale_);
}

platform::Color UIImage::colorAtPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= pixelWidth_ || y >= pixelHeight_) return platform::Color{};
  const std::uint32_t p = pixels()[static_cast<std::size_t>(y) * pixelWidth_ + x];
  const double alpha = static_cast<double>(p >> 24) / 255.0;
  if (alpha == 0) return platform::Color{};
  auto channel = [&](int shift) {
    return std::min(1.0, static_cast<double>((p >> shift) & 0xFF) / 255.0 / alpha);
  };
  return platform::Color::rgba(channel(16), channel(8), channel(0), alpha);
}

std::optional<std::vector<std::uint8_t>> UIImagePNGRepresentation(const UIImage& image) {
  cairo_surface_t* surface = surfaceOver(image);
  std::vector<std::uint8_t> bytes;
  const cairo_status_t status = cairo_surface_write_to_png_stream(surface, writePng, &bytes);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) return std::nullopt;
  return bytes;
}

[[maybe_unused]] static const platform::Class& kUIImageClass = UIImage::staticClass();
