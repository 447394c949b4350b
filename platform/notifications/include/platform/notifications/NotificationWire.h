// How a notification travels on the session bus: one broadcast signal `Post` with signature
// "sbsay" (name, has-object flag, object or "", userInfo as a binary property list or no bytes
// for none) on a fixed path and interface. Encoding and decoding are pure functions, safe from
// any thread; the decoder accepts any bytes and never crashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "platform/foundation/Export.h"
#include "platform/notifications/NotificationCenter.h"

namespace platform {

inline constexpr const char* kNotificationPath = "/com/orlentis/halvex/Notifications";
inline constexpr const char* kNotificationInterface = "com.orlentis.halvex.Notifications";
inline constexpr const char* kNotificationMember = "Post";
inline constexpr const char* kNotificationSignature = "sbsay";

// Limits on what is posted and accepted. Real notifications are a few hundred bytes; these
// keep a hostile or broken peer from making every process of the user parse megabytes.
inline constexpr std::size_t kMaxNotificationNameBytes = 4096;
inline constexpr std::size_t kMaxNotificationObjectBytes = 64 * 1024;
inline constexpr std::size_t kMaxNotificationUserInfoBytes = 1024 * 1024;

enum class WireError {
  WrongSignature,  // not "sbsay"
  InvalidText,     // name or object not UTF-8, or holding a NUL
  NameTooLong,
  ObjectTooLong,
  InconsistentObject,  // has-object flag false but an object given
  UserInfoTooLarge,
  UnreadableUserInfo,     // bytes that are not a property list
  UserInfoNotDictionary,  // a property list, but not a dictionary (or None on posting)
};

HX_PLATFORM_EXPORT const char* wireErrorDescription(WireError error);

// The arguments of one `Post` signal.
struct HX_PLATFORM_EXPORT WireNotification {
  std::string name;
  bool hasObject = false;
  std::string object;    // "" when !hasObject
  std::string userInfo;  // binary property list; empty for None
};

// Returns the signal arguments for a notification, or why it cannot be posted: userInfo neither
// None nor a property-list dictionary, text that D-Bus cannot carry, or a size above the limits.
HX_PLATFORM_EXPORT std::variant<WireNotification, WireError> encodeNotification(
    const std::string& name, const std::optional<std::string>& object, const Value& userInfo);

// Turns received signal arguments into a notification, or says why they are dropped. Empty
// userInfo bytes give a None userInfo; anything else must be a property list whose root is a
// dictionary.
HX_PLATFORM_EXPORT std::variant<Notification, WireError> decodeNotification(
    std::string_view name, bool hasObject, std::string_view object,
    std::span<const std::uint8_t> userInfo);

// The match rule for observers of `name`, or of every name when `name` is nullopt. Returns
// nullopt when `name` cannot be written into a rule that both sd-bus and dbus-daemon read the
// same way (an apostrophe or a backslash, or too long for the daemon); such observers listen
// with the any-name rule and are filtered inside the process.
HX_PLATFORM_EXPORT std::optional<std::string> notificationMatchRule(
    const std::optional<std::string>& name);

}  // namespace platform
