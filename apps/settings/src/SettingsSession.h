// The Settings host as the web server sees it: the current page, the three things a person
// can do to it, and its images. The server validates every request against currentPage()
// before it calls an operation, so an implementation receives only section and row indices
// that exist on the page it last returned, of the kind the operation needs.
// Main thread only. Operations may throw (a failed assertion of a page); the caller catches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PageJson.h"

namespace settingsapp {

// The result of an operation: empty on success, else why nothing happened.
using Outcome = std::optional<std::string>;

// The appearance an image is drawn for.
enum class Appearance { Light, Dark };

class SettingsSession {
 public:
  virtual ~SettingsSession() = default;

  // A snapshot of the page on top of the navigation stack, with a key for each row image
  // (imageKey) that imagePng serves. Only its first `firstRows` rows, in page order, are read;
  // each section counts the rest in unreadRows.
  virtual SettingsPage currentPage(std::size_t firstRows = SIZE_MAX) = 0;
  // Rows `from` to `from + count - 1` of `section` of the current page, read now and keyed as
  // currentPage keys them; fewer where the section ends first.
  virtual std::vector<SettingsRow> pageRows(std::size_t section, std::size_t from,
                                            std::size_t count) = 0;
  // A number that moves whenever the current page may have changed on its own (a
  // notification from another process, a page reloading its rows). Cheap; called after
  // every run-loop dispatch.
  virtual std::uint64_t changeCount() = 0;

  // Taps a selectable row: opens an entry, an application or a list, picks a choice,
  // runs a button's action.
  virtual Outcome selectRow(std::size_t section, std::size_t row) = 0;
  // Turns an enabled switch on or off.
  virtual Outcome setSwitch(std::size_t section, std::size_t row, bool on) = 0;
  // Returns to the page below. REQUIRES: currentPage().canGoBack.
  virtual Outcome goBack() = 0;

  // The PNG of the image a row's imageKey names, or none when the key names nothing.
  virtual std::optional<std::string> imagePng(std::string_view key) = 0;
  // The PNG of the current page's custom footer view of `section`, laid out `width` points
  // wide at the screen scale in `appearance`, or none when that section has no such view.
  virtual std::optional<std::string> footerPng(std::size_t section, double width,
                                               Appearance appearance) = 0;
};

}  // namespace settingsapp
