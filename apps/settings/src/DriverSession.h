// The Settings host's driver as the web server's session: the driver's snapshots, with a key
// for each image they show, taps and switches go to the driver, and the images are kept and
// served by that key, made from their pixels, so that an unchanged icon keeps its
// URL (and the browser's cached copy) from one page version to the next.
// Main thread only.
#pragma once

#include <array>
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

  SettingsPage currentPage(std::size_t firstRows = SIZE_MAX) override;
  std::vector<SettingsRow> pageRows(std::size_t section, std::size_t from,
                                    std::size_t count) override;
  std::uint64_t changeCount() override;
  Outcome selectRow(std::size_t section, std::size_t row) override;
  Outcome setSwitch(std::size_t section, std::size_t row, bool on) override;
  Outcome goBack() override;
  std::optional<std::string> imagePng(std::string_view key) override;
  std::optional<std::string> footerPng(std::size_t section, double width,
                                       Appearance appearance) override;

 private:
  // The key of an image a snapshot shows, stamped as shown by snapshot `taken`.
  const std::string& showImage(const std::shared_ptr<UIImage>& image, std::uint64_t taken);
  // Keys the images of `rows` as shown by snapshot `taken`.
  void keyImages(std::vector<SettingsRow>& rows, std::uint64_t taken);
  // Drops the images that no snapshot since `taken - kKeptSnapshots` showed, and their PNGs.
  void forgetImagesShownBefore(std::uint64_t taken);

  platform::SettingsDriver& driver_;
  const double scale_;
  // The images of the last few snapshots, by object, with their pixel keys: a browser may
  // still be loading an older snapshot's, a page left for a moment (an application page
  // opened, a switch flipped, back) comes back without its images keyed again, and a page of
  // thousands of rows costs one lookup per row. Each holds its image, so an address names
  // one image while it is listed.
  static constexpr std::uint64_t kKeptSnapshots = 4;
  struct ShownImage {
    std::shared_ptr<UIImage> image;
    std::string key;
    std::uint64_t lastShown = 0;  // the snapshot that showed it last
  };
  std::unordered_map<const UIImage*, ShownImage> images_;
  // One listed image per key, for imagePng.
  std::unordered_map<std::string, const UIImage*> imageByKey_;
  std::uint64_t snapshots_ = 0;
  // How many listed images each of the last snapshots showed last, at snapshot % size, so
  // that a snapshot knows without a walk whether any image is to be dropped.
  std::array<std::size_t, kKeptSnapshots + 1> lastShownBy_{};
  std::unordered_map<std::string, std::string> pngCache_;
  // Footer views of the last snapshot, by section (null where a section has none), with the
  // height each asked for (negative: automatic).
  struct FooterView {
    std::shared_ptr<UIView> view;
    double height = -1;
  };
  std::vector<FooterView> footerViews_;
};

}  // namespace settingsapp
