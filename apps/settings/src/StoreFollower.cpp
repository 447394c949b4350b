#include "StoreFollower.h"

#include <exception>

#include "platform/Platform.h"
#include "platform/foundation/AsioRunLoop.h"
#include "platform/foundation/Log.h"
#include "platform/preferences/PreferenceStore.h"
#include "platform/settings-host/SettingsDriver.h"

namespace settingsapp {

StoreFollower::StoreFollower(platform::SettingsDriver& driver, platform::Platform& platform)
    : driver_(driver),
      files_(platform.env, platform.preferences),
      timer_(platform::asioContext(platform.runLoop)) {
  observer_ =
      platform.notifications.addObserver(platform::kPreferencesChangedNotification, std::nullopt,
                                         [this](const platform::Notification& note) {
                                           if (note.object) domainChanged(*note.object);
                                         });
  checkFilesLater();
}

StoreFollower::~StoreFollower() {
  observer_.reset();
  timer_.cancel();
}

void StoreFollower::checkFilesLater() {
  timer_.expires_after(kFileCheckInterval);
  timer_.async_wait([this](const boost::system::error_code& error) {
    if (error) return;
    for (const std::string& domain : files_.check()) domainChanged(domain);
    checkFilesLater();
  });
}

std::vector<StoreFollower::ShownValue> StoreFollower::readValues(PSListController& page,
                                                                 const std::string* domain) {
  std::vector<ShownValue> values;
  for (const PSSpecifierPtr& specifier : page.specifiers()) {
    if (!specifier || specifier->getter().empty()) continue;
    const platform::Value named = specifier->propertyForKey(PSKey::kDefaults);
    if (domain != nullptr && named.isString() && named.stringValue() != *domain) continue;
    platform::Value value;
    try {
      value = specifier->performGetter();
    } catch (const std::exception& failure) {
      // The snapshot reports the getter's failure on the row; here the row just stays as it is.
      platform::NSLog(std::string("halvex-settings: a getter failed: ") + failure.what());
    }
    values.push_back({specifier, std::move(value)});
  }
  return values;
}

void StoreFollower::noteTopPage() {
  const std::shared_ptr<PSListController> page = driver_.topPage();
  if (page == page_.lock()) return;
  page_ = page;
  shown_ = page ? readValues(*page, nullptr) : std::vector<ShownValue>();
}

void StoreFollower::domainChanged(const std::string& domain) {
  noteTopPage();
  const std::shared_ptr<PSListController> page = page_.lock();
  if (!page) return;
  for (ShownValue& now : readValues(*page, &domain)) {
    for (ShownValue& shown : shown_) {
      if (shown.specifier != now.specifier) continue;
      if (!platform::identicalPropertyLists(shown.value, now.value)) {
        shown.value = std::move(now.value);
        page->reloadSpecifierAnimated(shown.specifier, false);
      }
      break;
    }
  }
}

}  // namespace settingsapp
