// Feeds arbitrary signal arguments to the notification decoder. Input layout: one flag byte
// (bit 0: has-object), the name's length (one byte), the name, the object's length (one
// byte), the object, and the rest as the userInfo bytes; missing parts read as empty.
// Whatever decodes must encode again and decode to a notification once more.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>
#include <variant>

#include "platform/notifications/NotificationWire.h"

namespace {

std::string_view take(const std::uint8_t*& data, std::size_t& size, std::size_t wanted) {
  const std::size_t n = wanted < size ? wanted : size;
  std::string_view part(reinterpret_cast<const char*>(data), n);
  data += n;
  size -= n;
  return part;
}

std::size_t takeLength(const std::uint8_t*& data, std::size_t& size) {
  if (size == 0) return 0;
  const std::size_t length = *data;
  ++data;
  --size;
  return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform;
  if (size == 0) return 0;
  const bool hasObject = (data[0] & 1) != 0;
  ++data;
  --size;
  const std::string_view name = take(data, size, takeLength(data, size));
  const std::string_view object = take(data, size, takeLength(data, size));
  auto decoded = decodeNotification(name, hasObject, object, std::span(data, size));
  const auto* notification = std::get_if<Notification>(&decoded);
  if (notification == nullptr) return 0;

  auto encoded =
      encodeNotification(notification->name, notification->object, notification->userInfo);
  const auto* wire = std::get_if<WireNotification>(&encoded);
  // A binary re-encoding may be larger than an XML original only if it nears the limit.
  if (wire == nullptr) {
    if (std::get<WireError>(encoded) != WireError::UserInfoTooLarge) std::abort();
    return 0;
  }
  auto again =
      decodeNotification(wire->name, wire->hasObject, wire->object,
                         std::span(reinterpret_cast<const std::uint8_t*>(wire->userInfo.data()),
                                   wire->userInfo.size()));
  if (!std::holds_alternative<Notification>(again)) std::abort();
  const auto& second = std::get<Notification>(again);
  if (second.name != notification->name || second.object != notification->object) std::abort();
  return 0;
}
