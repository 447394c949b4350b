// The Settings host's driver as the web server's session: snapshots of the driver's pages
// become PageSnapshots, taps and switches go to the driver, and the images a snapshot shows
// are kept and served by a key made from their pixels, so that an unchanged icon keeps its
// URL (and the browser's cached copy) from one page version to the next.
// Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "SettingsSession.h"

class UIImage;
class UIView;

namespace platform {
class SettingsDriver;
}

namespace settingsapp {

class DriverSession : public SettingsSession {
 public:
  // `driver` must outlive the session. `scale` is the screen scale footer views are drawn at.
  DriverSession(platform::SettingsDriver& driver, double scale);
  ~DriverSession() override;

  PageSnapshot currentPage() override;
  std::uint64_t changeCount() override;
  Outcome selectRow(std::size_t section, std::size_t row) override;
  Outcome setSwitch(std::size_t section, std::size_t row, bool on) override;
  Outcome goBack() override;
  std::optional<std::string> imagePng(std::string_view key) override;
  std::optional<std::string> footerPng(std::size_t section, double width,
                                       Appearance appearance) override;

 private:
  std::string keyForImage(const std::shared_ptr<UIImage>& image);

  platform::SettingsDriver& driver_;
  const double scale_;
  // Images of the last two snapshots by key: a browser may still be loading the older one's.
  std::unordered_map<std::string, std::shared_ptr<UIImage>> images_;
  std::unordered_map<std::string, std::shared_ptr<UIImage>> previousImages_;
  std::unordered_map<std::string, std::string> pngCache_;
  // Pixel keys by image object, so that an image seen before is not hashed again. The weak
  // reference tells a live image from a new one at a reused address.
  struct KnownImage {
    std::weak_ptr<UIImage> image;
    std::string key;
  };
  std::unordered_map<const UIImage*, KnownImage> knownImages_;
  // Footer views of the last snapshot, by section (null where a section has none), with the
  // height each asked for (negative: automatic).
  struct FooterView {
    std::shared_ptr<UIView> view;
    double height = -1;
  };
  std::vector<FooterView> footerViews_;
};

}  // namespace settingsapp
