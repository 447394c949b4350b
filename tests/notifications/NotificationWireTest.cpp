#include "platform/notifications/NotificationWire.h"

#include <gtest/gtest.h>

#include <variant>

#include "NotificationTestUtil.h"
#include "platform/foundation/PropertyList.h"
#include "support/TestSupport.h"

using namespace platform;

namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

Notification roundTrip(const std::string& name, const std::optional<std::string>& object,
                       const Value& userInfo) {
  auto encoded = encodeNotification(name, object, userInfo);
  const auto* wire = std::get_if<WireNotification>(&encoded);
  if (wire == nullptr) {
    ADD_FAILURE() << "refused: " << wireErrorDescription(std::get<WireError>(encoded));
    return {};
  }
  auto decoded =
      decodeNotification(wire->name, wire->hasObject, wire->object, bytesOf(wire->userInfo));
  if (const auto* error = std::get_if<WireError>(&decoded)) {
    ADD_FAILURE() << "dropped: " << wireErrorDescription(*error);
    return {};
  }
  return std::get<Notification>(decoded);
}

TEST(NotificationWireTest, RoundTripKeepsNameObjectAndEveryKind) {
  Notification n =
      roundTrip("HXApplicationPreferencesChanged", "com.example.app", hxtest::everyKindUserInfo());
  EXPECT_EQ(n.name, "HXApplicationPreferencesChanged");
  EXPECT_EQ(n.object, std::optional<std::string>("com.example.app"));
  hxtest::expectSameKindsAndValues(hxtest::everyKindUserInfo(), n.userInfo);
}

TEST(NotificationWireTest, NoObjectAndEmptyObjectStayApart) {
  EXPECT_EQ(roundTrip("N", std::nullopt, Value()).object, std::nullopt);
  EXPECT_EQ(roundTrip("N", std::string(), Value()).object, std::optional<std::string>(""));
}

TEST(NotificationWireTest, NoUserInfoAndEmptyDictionaryStayApart) {
  auto none = encodeNotification("N", std::nullopt, Value());
  ASSERT_TRUE(std::holds_alternative<WireNotification>(none));
  EXPECT_TRUE(std::get<WireNotification>(none).userInfo.empty());
  EXPECT_TRUE(roundTrip("N", std::nullopt, Value()).userInfo.isNone());
  const Value empty = roundTrip("N", std::nullopt, Value::dictionary()).userInfo;
  EXPECT_TRUE(empty.isDictionary());
  EXPECT_TRUE(empty.dictionaryValue().empty());
}

TEST(NotificationWireTest, EncodingRefusesWhatCannotTravel) {
  const struct {
    const char* label;
    std::string name;
    std::optional<std::string> object;
    Value userInfo;
    WireError expected;
  } cases[] = {
      {"string userInfo", "N", std::nullopt, Value("text"), WireError::UserInfoNotDictionary},
      {"array userInfo", "N", std::nullopt, Value::array(), WireError::UserInfoNotDictionary},
      {"number userInfo", "N", std::nullopt, Value::integer(1), WireError::UserInfoNotDictionary},
      {"null marker inside", "N", std::nullopt, Value::dictionary({{"k", Value::null()}}),
       WireError::UserInfoNotDictionary},
      {"object reference inside", "N", std::nullopt,
       Value::dictionary({{"k", Value::object(nullptr)}}), WireError::UserInfoNotDictionary},
      {"name not UTF-8", "N\xFF", std::nullopt, Value(), WireError::InvalidText},
      {"object with NUL", "N", std::string("a\0b", 3), Value(), WireError::InvalidText},
      {"name too long", std::string(kMaxNotificationNameBytes + 1, 'n'), std::nullopt, Value(),
       WireError::NameTooLong},
      {"object too long", "N", std::string(kMaxNotificationObjectBytes + 1, 'o'), Value(),
       WireError::ObjectTooLong},
      {"userInfo too large", "N", std::nullopt,
       Value::dictionary({{"blob", Value::data(Value::Bytes(kMaxNotificationUserInfoBytes))}}),
       WireError::UserInfoTooLarge},
  };
  for (const auto& c : cases) {
    auto encoded = encodeNotification(c.name, c.object, c.userInfo);
    ASSERT_TRUE(std::holds_alternative<WireError>(encoded)) << c.label;
    EXPECT_EQ(std::get<WireError>(encoded), c.expected) << c.label;
  }
}

TEST(NotificationWireTest, DecodingDropsMalformedInput) {
  const std::string arrayPlist = *serializePropertyList(Value::array({Value::integer(1)}));
  const std::string stringPlist = *serializePropertyList(Value("x"));
  const std::string dictionaryPlist =
      *serializePropertyList(Value::dictionary({{"a", Value::integer(1)}}));
  const struct {
    const char* label;
    std::string name;
    bool hasObject;
    std::string object;
    std::string userInfo;
    WireError expected;
  } cases[] = {
      {"garbage bytes", "N", false, "", "this is not a property list",
       WireError::UnreadableUserInfo},
      {"truncated plist", "N", false, "", dictionaryPlist.substr(0, dictionaryPlist.size() - 3),
       WireError::UnreadableUserInfo},
      {"array root", "N", false, "", arrayPlist, WireError::UserInfoNotDictionary},
      {"string root", "N", false, "", stringPlist, WireError::UserInfoNotDictionary},
      {"object without flag", "N", false, "com.example", "", WireError::InconsistentObject},
      {"overlong UTF-8 in name", "\xC0\xAF", false, "", "", WireError::InvalidText},
      {"surrogate in object", "N", true, "\xED\xA0\x80", "", WireError::InvalidText},
      {"truncated UTF-8", "N\xE2\x82", false, "", "", WireError::InvalidText},
      {"objects expanding to millions", "N", false, "", hxtest::expandingBinaryPlist(),
       WireError::UnreadableUserInfo},
      {"huge blob", "N", false, "", std::string(kMaxNotificationUserInfoBytes + 1, 'x'),
       WireError::UserInfoTooLarge},
      {"huge name", std::string(kMaxNotificationNameBytes + 1, 'n'), false, "", "",
       WireError::NameTooLong},
  };
  for (const auto& c : cases) {
    auto decoded = decodeNotification(c.name, c.hasObject, c.object, bytesOf(c.userInfo));
    ASSERT_TRUE(std::holds_alternative<WireError>(decoded)) << c.label;
    EXPECT_EQ(std::get<WireError>(decoded), c.expected) << c.label;
  }
}

TEST(NotificationWireTest, MatchRuleNamesTheSignalAndFallsBackForUnsafeNames) {
  const std::string any = *notificationMatchRule(std::nullopt);
  EXPECT_EQ(any,
            "type='signal',path='/com/orlentis/halvex/Notifications',"
            "interface='com.orlentis.halvex.Notifications',member='Post'");
  EXPECT_EQ(*notificationMatchRule("HXGlobalPreferencesChanged"),
            any + ",arg0='HXGlobalPreferencesChanged'");
  // Commas and spaces are safe inside quotes for both parsers.
  EXPECT_EQ(*notificationMatchRule("a, b=c"), any + ",arg0='a, b=c'");
  EXPECT_EQ(notificationMatchRule("it's"), std::nullopt);
  EXPECT_EQ(notificationMatchRule("back\\slash"), std::nullopt);
  EXPECT_EQ(notificationMatchRule(std::string(1000, 'n')), std::nullopt);
}

}  // namespace
