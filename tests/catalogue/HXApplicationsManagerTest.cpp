#include "hx/HXApplicationsManager.h"

#include <gtest/gtest.h>

#include "workspace/FakeDevice.h"

namespace {

using hxtest::FakeDevice;
using hxtest::infoDictionary;
using platform::Value;

std::vector<std::string> identifiersOf(const Value& catalogue) {
  std::vector<std::string> identifiers;
  for (const Value& identifier : catalogue["identifiers"].arrayValue()) {
    identifiers.push_back(identifier.stringValue());
  }
  return identifiers;
}

std::string displayNameOf(const Value& catalogue, const std::string& identifier) {
  return catalogue["applications"][identifier]["displayName"].stringValue();
}

// Checks the shape every caller relies on: two keys; every listed identifier has an entry of
// exactly two strings whose "identifier" is its key; no entry without a listing.
void expectWellFormed(const Value& catalogue) {
  ASSERT_TRUE(catalogue.isDictionary());
  EXPECT_EQ(catalogue.dictionaryValue().size(), 2u);
  ASSERT_TRUE(catalogue["identifiers"].isArray());
  ASSERT_TRUE(catalogue["applications"].isDictionary());
  const auto identifiers = identifiersOf(catalogue);
  for (const std::string& identifier : identifiers) {
    const Value& entry = catalogue["applications"][identifier];
    ASSERT_TRUE(entry.isDictionary()) << identifier;
    EXPECT_EQ(entry.dictionaryValue().size(), 2u);
    EXPECT_EQ(entry["identifier"], Value(identifier));
    EXPECT_TRUE(entry["displayName"].isString());
  }
  for (const auto& [key, entry] : catalogue["applications"].dictionaryValue()) {
    EXPECT_NE(std::find(identifiers.begin(), identifiers.end(), key), identifiers.end()) << key;
  }
}

struct OrderCase {
  const char* name;
  // Localised names in the workspace's order (bundles are named so that they list in this
  // order); nullptr for none.
  std::vector<const char*> names;
  // The catalogue order as indexes into `names`.
  std::vector<int> expected;
};

TEST(HXApplicationsManagerTest, SortsByLocalisedNameIgnoringCase) {
  const OrderCase cases[] = {
      {"plain", {"Weather", "Mail", "Clock"}, {2, 1, 0}},
      {"case-only differences keep the workspace's order", {"TALLY", "tally", "Tally"}, {0, 1, 2}},
      {"case-only differences keep the workspace's order, reversed", {"tally", "TALLY"}, {0, 1}},
      {"lower-case initial sorts among capitals",
       {"Notes", "iBooks", "Contacts", "maps"},
       {2, 1, 3, 0}},
      {"proper prefix first", {"Apple", "app", "App Store"}, {1, 2, 0}},
      // "é" decomposes to e + U+0301, which follows every ASCII letter.
      {"accented initial sorts after its plain letter, before the next",
       {"Echo", "Écran", "écho", "Ecran", "Fax"},
       {0, 3, 2, 1, 4}},
      {"accented letter after its plain letter", {"éa", "eb", "e"}, {2, 1, 0}},
      {"sharp s equals ss", {"Strassf", "Straße", "Strasse", "Strasd"}, {3, 1, 2, 0}},
      {"CJK after Latin", {"日記", "Zebra", "alpha"}, {2, 1, 0}},
      {"punctuation between Z and a sorts before letters", {"Apps", "_Tools"}, {1, 0}},
      {"digits before letters, text order", {"Zip", "9 Lives", "10 Minutes"}, {2, 1, 0}},
      {"missing and empty names sort first, in workspace order",
       {"Mail", nullptr, "", "Clock"},
       {1, 2, 3, 0}},
  };
  for (const OrderCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice device;
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      const std::string index = std::to_string(10 + i);
      device.addApplication("App" + index + ".app", infoDictionary("id." + index, c.names[i]));
    }
    const Value catalogue = HXApplicationsManager(device.workspace()).allApplications();
    std::vector<std::string> expected;
    for (int index : c.expected) expected.push_back("id." + std::to_string(10 + index));
    EXPECT_EQ(identifiersOf(catalogue), expected);
    expectWellFormed(catalogue);
  }
}

TEST(HXApplicationsManagerTest, HiddenAndExcludedApplicationsNeverAppear) {
  struct Case {
    const char* identifier;
    Value tags;  // None for no SBAppTags
    bool listed;
  };
  auto tags = [](std::initializer_list<Value> elements) { return Value(Value::Array(elements)); };
  const Case cases[] = {
      {"com.example.plain", Value(), true},
      {"com.example.hidden", tags({Value("hidden")}), false},
      {"com.example.hidden-among-others", tags({Value("foo"), Value("hidden")}), false},
      {"com.example.hidden-after-non-string", tags({Value::integer(1), Value("hidden")}), false},
      {"com.example.capital-hidden", tags({Value("Hidden")}), true},
      {"com.example.padded-hidden", tags({Value(" hidden ")}), true},
      {"com.example.hidden-word-inside", tags({Value("not-hidden")}), true},
      {"com.example.tags-of-wrong-kind", Value("hidden"), true},
      {"com.example.empty-tags", tags({}), true},
      {"com.apple.webapp", Value(), false},
      {"com.apple.webapp1", Value(), false},
      {"com.apple.webapp2", Value(), true},
      {"com.apple.WebApp", Value(), true},
  };
  FakeDevice device;
  for (const Case& c : cases) {
    auto info = infoDictionary(c.identifier, "Name");
    if (c.tags) info.emplace("SBAppTags", c.tags);
    device.addApplication(std::string(c.identifier) + ".app", info);
  }
  const Value catalogue = HXApplicationsManager(device.workspace()).allApplications();
  expectWellFormed(catalogue);
  const auto identifiers = identifiersOf(catalogue);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identifier);
    const bool inList =
        std::find(identifiers.begin(), identifiers.end(), c.identifier) != identifiers.end();
    EXPECT_EQ(inList, c.listed);
    EXPECT_EQ(!catalogue["applications"][c.identifier].isNone(), c.listed);
  }
}

TEST(HXApplicationsManagerTest, ReplacingTheExcludedList) {
  FakeDevice device;
  device.addApplication("Web.app", infoDictionary("com.apple.webapp", "Web"));
  auto hidden = infoDictionary("com.apple.webapp1", "Web 1");
  hidden.emplace("SBAppTags", Value(Value::Array{Value("hidden")}));
  device.addApplication("Web1.app", hidden);
  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Mail"));

  HXApplicationsManager manager(device.workspace());
  EXPECT_EQ(manager.blacklistedIdentifiers(),
            (std::vector<std::string>{"com.apple.webapp", "com.apple.webapp1"}));
  EXPECT_EQ(identifiersOf(manager.allApplications()),
            (std::vector<std::string>{"com.apple.mobilemail"}));

  manager.setBlacklistedIdentifiers({});
  EXPECT_EQ(identifiersOf(manager.allApplications()),
            (std::vector<std::string>{"com.apple.mobilemail", "com.apple.webapp"}));

  manager.setBlacklistedIdentifiers({"com.apple.mobilemail", "com.apple.MobileMail"});
  EXPECT_EQ(identifiersOf(manager.allApplications()),
            (std::vector<std::string>{"com.apple.webapp"}));
}

TEST(HXApplicationsManagerTest, DisplayNameFallsBackToTheBundleFolderName) {
  struct Case {
    const char* bundle;
    Value::Dictionary info;
    const char* expected;
  };
  const Case cases[] = {
      {"Mail.app", infoDictionary("a", "Mail", "MobileMail"), "Mail"},
      {"Scratchpad.app", infoDictionary("a", "", "Scratch"), "Scratchpad"},
      {"Scratch Pad.app", infoDictionary("a"), "Scratch Pad"},
      {"My.Tool.app", infoDictionary("a", ""), "My.Tool"},
      {"Only.app", infoDictionary("a", nullptr, "Short"), "Short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bundle);
    FakeDevice device;
    device.addApplication(c.bundle, c.info);
    EXPECT_EQ(displayNameOf(HXApplicationsManager(device.workspace()).allApplications(), "a"),
              c.expected);
  }
}

TEST(HXApplicationsManagerTest, DuplicateIdentifierIsListedTwiceWithTheLaterEntry) {
  FakeDevice device;
  // The workspace lists Alpha.app first, but catalogue order puts "Zed" last.
  device.addApplication("Alpha.app", infoDictionary("com.example.same", "Zed"));
  device.addApplication("Beta.app", infoDictionary("com.example.same", "Able"));
  device.addApplication("Gamma.app", infoDictionary("com.example.other", "Mid"));
  const Value catalogue = HXApplicationsManager(device.workspace()).allApplications();
  EXPECT_EQ(
      identifiersOf(catalogue),
      (std::vector<std::string>{"com.example.same", "com.example.other", "com.example.same"}));
  EXPECT_EQ(catalogue["applications"].dictionaryValue().size(), 2u);
  EXPECT_EQ(displayNameOf(catalogue, "com.example.same"), "Zed");
  expectWellFormed(catalogue);
}

TEST(HXApplicationsManagerTest, EachCallReadsTheWorkspaceAfresh) {
  FakeDevice device;
  HXApplicationsManager manager(device.workspace());
  const Value empty = manager.allApplications();
  expectWellFormed(empty);
  EXPECT_TRUE(empty["identifiers"].arrayValue().empty());
  EXPECT_TRUE(empty["applications"].dictionaryValue().empty());

  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Mail"));
  device.writeFile("Applications/Broken.app/Info.plist", "<plist><dict>");
  Value first = manager.allApplications();
  EXPECT_EQ(identifiersOf(first), (std::vector<std::string>{"com.apple.mobilemail"}));

  // The caller owns its result: changing it does not reach the next one.
  first.mutableDictionary().clear();
  device.addApplication("Clock.app", infoDictionary("com.apple.mobiletimer", "Clock"));
  EXPECT_EQ(identifiersOf(manager.allApplications()),
            (std::vector<std::string>{"com.apple.mobiletimer", "com.apple.mobilemail"}));
}

}  // namespace
