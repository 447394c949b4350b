#include "platform/notifications/NotificationWire.h"

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Utf8.h"

namespace platform {
namespace {

// D-Bus strings are well-formed UTF-8 without NUL; sd-bus refuses to append anything else,
// so the check runs before posting as well as on receipt.
bool isBusText(std::string_view text) {
  return text.find('\0') == std::string_view::npos && isValidUtf8(text);
}

std::optional<WireError> checkText(std::string_view name, std::string_view object) {
  if (name.size() > kMaxNotificationNameBytes) return WireError::NameTooLong;
  if (object.size() > kMaxNotificationObjectBytes) return WireError::ObjectTooLong;
  if (!isBusText(name) || !isBusText(object)) return WireError::InvalidText;
  return std::nullopt;
}

}  // namespace

const char* wireErrorDescription(WireError error) {
  switch (error) {
    case WireError::WrongSignature:
      return "the signal's signature is not sbsay";
    case WireError::InvalidText:
      return "the name or object is not UTF-8 text without NUL";
    case WireError::NameTooLong:
      return "the name is longer than 4096 bytes";
    case WireError::ObjectTooLong:
      return "the object is longer than 65536 bytes";
    case WireError::InconsistentObject:
      return "an object is given although the has-object flag is false";
    case WireError::UserInfoTooLarge:
      return "the userInfo is larger than 1 MiB as a property list";
    case WireError::UnreadableUserInfo:
      return "the userInfo is not a readable property list";
    case WireError::UserInfoNotDictionary:
      return "the userInfo is not a property-list dictionary";
  }
  return "unknown error";
}

std::variant<WireNotification, WireError> encodeNotification(
    const std::string& name, const std::optional<std::string>& object, const Value& userInfo) {
  if (auto error = checkText(name, object.value_or(std::string()))) return *error;
  WireNotification wire;
  wire.name = name;
  wire.hasObject = object.has_value();
  wire.object = object.value_or(std::string());
  if (!userInfo.isNone()) {
    if (!userInfo.isDictionary() || !userInfo.isPropertyList()) {
      return WireError::UserInfoNotDictionary;
    }
    std::optional<std::string> bytes = serializePropertyList(userInfo, PlistFormat::Binary);
    if (!bytes) return WireError::UserInfoNotDictionary;
    if (bytes->size() > kMaxNotificationUserInfoBytes) return WireError::UserInfoTooLarge;
    wire.userInfo = std::move(*bytes);
  }
  return wire;
}

std::variant<Notification, WireError> decodeNotification(std::string_view name, bool hasObject,
                                                         std::string_view object,
                                                         std::span<const std::uint8_t> userInfo) {
  if (auto error = checkText(name, object)) return *error;
  if (!hasObject && !object.empty()) return WireError::InconsistentObject;
  // Checked before parsing so that a huge blob costs nothing but the check.
  if (userInfo.size() > kMaxNotificationUserInfoBytes) return WireError::UserInfoTooLarge;
  Notification notification;
  notification.name = std::string(name);
  if (hasObject) notification.object = std::string(object);
  if (!userInfo.empty()) {
    std::optional<Value> value = parsePropertyList(
        std::string_view(reinterpret_cast<const char*>(userInfo.data()), userInfo.size()));
    if (!value) return WireError::UnreadableUserInfo;
    if (!value->isDictionary() || !value->isPropertyList()) {
      return WireError::UserInfoNotDictionary;
    }
    notification.userInfo = std::move(*value);
  }
  return notification;
}

std::optional<std::string> notificationMatchRule(const std::optional<std::string>& name) {
  std::string rule = std::string("type='signal',path='") + kNotificationPath + "',interface='" +
                     kNotificationInterface + "',member='" + kNotificationMember + "'";
  if (!name) return rule;
  // sd-bus reads a backslash inside quotes as an escape while dbus-daemon reads it literally
  // (and wants an apostrophe written outside the quotes), so no spelling of either character
  // means the same to both parsers. The daemon also refuses rules above 1024 bytes.
  constexpr std::size_t kDaemonRuleLimit = 1024;
  if (name->find_first_of("'\\") != std::string::npos) return std::nullopt;
  rule += ",arg0='" + *name + "'";
  if (rule.size() > kDaemonRuleLimit) return std::nullopt;
  return rule;
}

}  // namespace platform
