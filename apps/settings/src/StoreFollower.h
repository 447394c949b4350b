// Keeps the page on screen in step with the preference store, whoever wrote it: when a domain
// changes (its PlatformPreferencesChanged announcement, or a file replaced without one, noticed
// within kFileCheckInterval), the top page reads the values of its rows again through their
// getters, as a page that appears again does, and redraws the rows whose value moved; the host
// then pushes the difference as a delta. Only the rows the page's plist made are read: rows a
// page builds itself (the root page's applications) keep their own rules, so a change of an
// unrelated key costs a few getter calls, never a snapshot of thousands of rows. A row naming
// another domain in its "defaults" is not read for this one.
// Main thread only.
#pragma once

#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/DomainFileWatch.h"
#include "platform/foundation/Value.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/settings-host/PSListController.h"

namespace platform {
struct Platform;
class SettingsDriver;
}  // namespace platform

namespace settingsapp {

inline constexpr auto kFileCheckInterval = std::chrono::seconds(1);

class StoreFollower {
 public:
  // Follows `platform`'s store and notifications (on its run loop) for `driver`'s top page;
  // both must outlive the follower.
  StoreFollower(platform::SettingsDriver& driver, platform::Platform& platform);
  ~StoreFollower();
  StoreFollower(const StoreFollower&) = delete;
  StoreFollower& operator=(const StoreFollower&) = delete;

  // Call after each turn of the loop: a page that became the top one has the values it shows
  // noted, to tell later which rows moved. Costs one comparison while the top page stays.
  void noteTopPage();
  // The top page reads its values again after `domain` changed.
  void domainChanged(const std::string& domain);

 private:
  struct ShownValue {
    PSSpecifierPtr specifier;
    platform::Value value;
  };
  // The values of `page`'s rows that read a value and may show `domain` (any domain when null).
  static std::vector<ShownValue> readValues(PSListController& page, const std::string* domain);
  void checkFilesLater();

  platform::SettingsDriver& driver_;
  platform::DomainFileWatch files_;
  std::weak_ptr<PSListController> page_;
  std::vector<ShownValue> shown_;
  platform::ObserverToken observer_;
  boost::asio::steady_timer timer_;
};

}  // namespace settingsapp
