// Any bytes as the actions a page sends to the Settings host, one per line, carried out in
// turn on pages held in memory (so an action can reach the pages a link opens). Every reply
// must be a JSON object that the page can read: a page or an error with its status.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "SettingsController.h"
#include "StubSession.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  settingsapp::testing::StubSession session;
  settingsapp::SettingsController controller(session);
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view action = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);

    const settingsapp::SettingsController::Reply reply = controller.handleAction(action);
    const auto message = platform::parseJson(reply.body);
    if (!message || !message->isDictionary()) std::abort();
    const platform::Value& type = (*message)["type"];
    if (!type.isString()) std::abort();
    if (reply.status == 200) {
      if (type.stringValue() != "page") std::abort();
    } else if (reply.status == 400 || reply.status == 409 || reply.status == 500) {
      if (type.stringValue() != "error" || !(*message)["reason"].isString()) std::abort();
    } else {
      std::abort();
    }
    if (!(*message)["page"].isDictionary()) std::abort();
  }
  return 0;
}
