#include "DriverSession.h"

#include <cstdio>

#include "platform/settings-host/SettingsDriver.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UITraitCollection.h"
#include "platform/ui/UIView.h"
#include "platform/ui/ViewRenderer.h"

namespace settingsapp {
namespace {

Outcome outcomeOf(const platform::Status& status) {
  if (status.isOk()) return std::nullopt;
  return status.message().empty() ? status.toString() : status.message();
}

// FNV-1a over the image's size, scale and pixels; for a deferred image, over what its pixels
// are made from instead, so that a page of icons is keyed without decoding one of them. The
// key is a letter and the hash in 13 base-32 digits: short enough to be stored in place by
// the strings of a snapshot, which hold one per row.
std::string imageKey(const UIImage& image) {
  std::uint64_t hash = 14695981039346656037ull;
  auto mix = [&hash](std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
      hash ^= (value >> (i * 8)) & 0xff;
      hash *= 1099511628211ull;
    }
  };
  mix(static_cast<std::uint64_t>(image.pixelWidth()));
  mix(static_cast<std::uint64_t>(image.pixelHeight()));
  mix(static_cast<std::uint64_t>(image.scale() * 1000));
  const bool deferred = !image.sourceKey().empty();
  if (deferred) {
    for (char c : image.sourceKey()) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 1099511628211ull;
    }
  } else {
    for (std::uint32_t pixel : image.pixels()) mix(pixel);
  }
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
  std::string key(14, deferred ? 'f' : 'i');
  for (std::size_t i = 13; i >= 1; --i, hash >>= 5) key[i] = kDigits[hash & 31];
  return key;
}

}  // namespace

DriverSession::DriverSession(platform::SettingsDriver& driver, double scale)
    : driver_(driver), scale_(scale) {}

DriverSession::~DriverSession() = default;

std::uint64_t DriverSession::changeCount() {
  return driver_.generation();
}

const std::string& DriverSession::showImage(const std::shared_ptr<UIImage>& image,
                                            std::uint64_t taken) {
  auto [entry, added] = images_.try_emplace(image.get());
  ShownImage& shown = entry->second;
  if (added) {
    shown.image = image;
    shown.key = imageKey(*image);
    imageByKey_.try_emplace(shown.key, image.get());
  } else if (shown.lastShown == taken) {
    return shown.key;
  } else {
    --lastShownBy_[shown.lastShown % lastShownBy_.size()];
  }
  shown.lastShown = taken;
  ++lastShownBy_[taken % lastShownBy_.size()];
  return shown.key;
}

void DriverSession::forgetImagesShownBefore(std::uint64_t taken) {
  if (taken <= kKeptSnapshots) return;
  // Images older than the one now leaving the window were dropped before.
  std::size_t& leaving = lastShownBy_[(taken - kKeptSnapshots) % lastShownBy_.size()];
  if (leaving == 0) return;
  leaving = 0;
  std::erase_if(images_, [taken](const auto& entry) {
    return entry.second.lastShown + kKeptSnapshots <= taken;
  });
  imageByKey_.clear();
  for (const auto& [address, shown] : images_) imageByKey_.try_emplace(shown.key, address);
  std::erase_if(pngCache_,
                [this](const auto& entry) { return !imageByKey_.contains(entry.first); });
}

void DriverSession::keyImages(std::vector<SettingsRow>& rows, std::uint64_t taken) {
  for (SettingsRow& row : rows) {
    if (row.image && row.image->pixelWidth() > 0 && row.image->pixelHeight() > 0) {
      row.imageKey = showImage(row.image, taken);
    }
  }
}

SettingsPage DriverSession::currentPage(std::size_t firstRows) {
  // Judged when the next snapshot is taken, not when this one is: until then the rest of its
  // rows may still be read (pageRows), and a page of thousands of rows coming back after an
  // application page would otherwise have every icon dropped and keyed again.
  forgetImagesShownBefore(snapshots_);
  SettingsPage page = driver_.currentPage(firstRows);
  const std::uint64_t taken = ++snapshots_;
  std::vector<FooterView> footerViews;
  footerViews.reserve(page.sections.size());
  for (SettingsSection& section : page.sections) {
    footerViews.push_back({section.footerView, section.footerHeight});
    keyImages(section.rows, taken);
  }
  footerViews_ = std::move(footerViews);
  return page;
}

std::vector<SettingsRow> DriverSession::pageRows(std::size_t section, std::size_t from,
                                                 std::size_t count) {
  // The rest of the last snapshot: its images count as shown by it.
  std::vector<SettingsRow> rows = driver_.readRows(section, from, count);
  keyImages(rows, snapshots_);
  return rows;
}

Outcome DriverSession::selectRow(std::size_t section, std::size_t row) {
  return outcomeOf(
      driver_.selectRow(static_cast<std::int64_t>(section), static_cast<std::int64_t>(row)));
}

Outcome DriverSession::setSwitch(std::size_t section, std::size_t row, bool on) {
  return outcomeOf(
      driver_.setSwitch(static_cast<std::int64_t>(section), static_cast<std::int64_t>(row), on));
}

Outcome DriverSession::goBack() {
  return outcomeOf(driver_.goBack());
}

std::optional<std::string> DriverSession::imagePng(std::string_view key) {
  const std::string name(key);
  if (auto cached = pngCache_.find(name); cached != pngCache_.end()) return cached->second;
  auto image = imageByKey_.find(name);
  if (image == imageByKey_.end()) return std::nullopt;
  auto png = UIImagePNGRepresentation(*image->second);
  if (!png) return std::nullopt;
  std::string bytes(png->begin(), png->end());
  pngCache_.emplace(name, bytes);
  return bytes;
}

std::optional<std::string> DriverSession::footerPng(std::size_t section, double width,
                                                    Appearance appearance) {
  if (section >= footerViews_.size() || !footerViews_[section].view) return std::nullopt;
  UIView& view = *footerViews_[section].view;
  // The table gives a footer the table's width and the height it asked for.
  double height = footerViews_[section].height;
  if (height <= 0) height = view.frame().size.height;
  if (height <= 0) return std::nullopt;
  view.setFrame(CGRectMake(0, 0, width, height));
  view.layoutIfNeeded();
  const UITraitCollection traits(scale_, appearance == Appearance::Dark
                                             ? UIUserInterfaceStyleDark
                                             : UIUserInterfaceStyleLight);
  return platform::renderViewToPng(view, scale_, traits);
}

}  // namespace settingsapp
