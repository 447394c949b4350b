// Immutable bitmap images with a scale (pixels per point), loaded from PNG files. The pixels
// are kept premultiplied in 32-bit ARGB, as Cairo draws them. Loaders return null for a
// missing or unreadable file, or one over the image caps of platform/foundation/PngHeader.h
// (checked from the header before decoding), and never throw. An image may be deferred: its
// size is known at once and its pixels are made on first use, so that a page of thousands of
// icons costs nothing until one is drawn. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Color.h"
#include "platform/foundation/Object.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/UIColor.h"

class UITraitCollection;

class UIImage : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  // REQUIRES (not checked): pixels.size() == pixelWidth × pixelHeight; scale > 0.
  UIImage(int pixelWidth, int pixelHeight, double scale, std::vector<std::uint32_t> pixels);

  // The PNG at `path` at scale 1, or null when it is missing or not a PNG.
  static std::shared_ptr<UIImage> imageWithContentsOfFile(const std::string& path);
  // The same at `scale` (values ≤ 0 or not finite are taken as 1).
  static std::shared_ptr<UIImage> imageWithContentsOfFileScale(const std::string& path,
                                                               double scale);
  // PNG bytes at `scale`; null when they do not decode or are over the image caps.
  static std::shared_ptr<UIImage> imageWithDataScale(const std::vector<std::uint8_t>& png,
                                                     double scale);
  // imageNamed:inBundle:compatibleWithTraitCollection:. Looks in the folder `bundlePath` for
  // "<name>@<s>x.png" at the scale s of `traits` (or of the main screen when it is null or
  // unspecified), then lower scales down to the plain "<name>.png", then higher ones. The
  // first file that exists is loaded at the scale its suffix states; null when none exists
  // or it is not a PNG. A ".png" ending on `name` is allowed. Names holding "/" or ".." that
  // would leave the folder give null.
  static std::shared_ptr<UIImage> imageNamedInBundleCompatibleWithTraitCollection(
      const std::string& name, const std::string& bundlePath, const UITraitCollection* traits);

  // A deferred image of that size: `render` makes its pixels on first use and is then
  // released. It returns an image of exactly that pixel size, or null when it cannot (the
  // image is then fully transparent). `sourceKey` names what the pixels are made from: two
  // deferred images with the same key have the same pixels.
  // REQUIRES (not checked): pixelWidth, pixelHeight > 0; scale > 0.
  static std::shared_ptr<UIImage> deferredImage(int pixelWidth, int pixelHeight, double scale,
                                                std::string sourceKey,
                                                std::function<std::shared_ptr<UIImage>()> render);

  // An application's icon by bundle identifier, as the workspace provides it, drawn
  // (smoothly rescaled when needed) at the format's point size × `scale` pixels square.
  // Format 0 is 29 points, 1 is 40, 2 and any other is 60. The icon is deferred: the file
  // is chosen and decoded on first use, and when none fits then, or its data turns out
  // broken, the icon draws nothing. Its source key changes whenever the icon does.
  // - From the workspace: null when the application is not installed or its bundle holds
  //   no icon file by name, as the workspace's last scan saw it; the key names the bundle
  //   as that scan saw it (ApplicationWorkspace::iconVersionForIdentifier), so making the
  //   icon costs no file access right after a scan.
  // - From a replaced source: null when it names no file or the file does not start as a
  //   PNG; the key holds the file's path and identity (device, inode, size and times).
  static std::shared_ptr<UIImage> _applicationIconImageForBundleIdentifierFormatScale(
      const std::string& identifier, int format, double scale);
  // Where application icons come from: the icon file for (identifier, point size, scale),
  // or none. By default the platform's application workspace. Returns the previous source;
  // an empty function restores the default. Main thread only.
  using IconSource = std::function<std::optional<std::string>(const std::string& identifier,
                                                              double pointSize, double scale)>;
  static IconSource setApplicationIconSource(IconSource source);
  static double pointSizeForIconFormat(int format);

  // The same image with every pixel in `color`, each pixel keeping its own alpha (scaled by
  // the colour's alpha). Null colour gives a copy.
  std::shared_ptr<UIImage> _flatImageWithColor(const UIColorPtr& color) const;

  // Size in points: pixels ÷ scale.
  CGSize size() const;
  double scale() const { return scale_; }
  int pixelWidth() const { return pixelWidth_; }
  int pixelHeight() const { return pixelHeight_; }
  // Premultiplied ARGB, row by row, no padding. Makes a deferred image's pixels.
  const std::vector<std::uint32_t>& pixels() const;
  // What a deferred image is made from; empty for an image made from pixels.
  const std::string& sourceKey() const { return sourceKey_; }
  // The pixel at (x, y) un-premultiplied; transparent black outside the image.
  platform::Color colorAtPixel(int x, int y) const;

 private:
  const int pixelWidth_;
  const int pixelHeight_;
  const double scale_;
  // Filled once for a deferred image, on first use; fixed afterwards.
  mutable std::vector<std::uint32_t> pixels_;
  mutable std::function<std::shared_ptr<UIImage>()> render_;
  std::string sourceKey_;
};

using UIImagePtr = std::shared_ptr<UIImage>;

// UIImagePNGRepresentation: the image encoded as PNG, or none when encoding fails.
std::optional<std::vector<std::uint8_t>> UIImagePNGRepresentation(const UIImage& image);
