// The sample device that the project ships as its default root, read as the programs read it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "hx/HXApplicationsManager.h"
#include "platform/workspace/ApplicationWorkspace.h"
#include "support/TestSupport.h"
#include "workspace/FakeDevice.h"

namespace {

using platform::Value;

std::string sampleRoot() {
  return hxtest::sourceDir() + "/device";
}

std::uint32_t pngWidth(const std::string& path) {
  const std::string bytes = hxtest::readFile(path);
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return 0;
  std::uint32_t width = 0;
  for (int i = 16; i < 20; ++i) width = width << 8 | static_cast<unsigned char>(bytes[i]);
  return width;
}

class SampleDeviceTest : public testing::Test {
 protected:
  hxtest::VariablesEnv env_{platform::defaultEnv()};
  platform::ApplicationWorkspace workspace_{env_, sampleRoot()};
};

TEST_F(SampleDeviceTest, CatalogueListsEveryApplicationButTheHiddenExcludedAndMalformed) {
  const Value catalogue = HXApplicationsManager(workspace_).allApplications();
  // 39 bundles: two tagged hidden, the two web-clip identifiers and one malformed Info.plist
  // are left out.
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"com.paperlane.scratchpad", "Scratchpad"},  // empty localised name
      {"com.apple.AppStore", "App Store"},
      {"com.apple.calculator", "Calculator"},
      {"com.apple.mobilecal", "Calendar"},
      {"com.apple.camera", "Camera"},
      {"com.apple.mobiletimer", "Clock"},
      {"com.apple.compass", "Compass"},
      {"com.orlentis.console", "Console"},
      {"com.apple.MobileAddressBook", "Contacts"},
      {"com.brightmoor.echo", "écho"},  // é: after every plain e, before f
      {"com.brightmoor.ecran", "Écran"},
      {"com.apple.iBooks", "iBooks"},
      {"com.paperlane.lexicon", "Lexicon Dictionary"},  // from en.lproj
      {"com.apple.mobilemail", "Mail"},
      {"com.apple.Maps", "Maps"},
      {"com.apple.MobileSMS", "Messages"},
      {"com.apple.Music", "Music"},
      {"com.apple.mobilenotes", "Notes"},
      {"com.orlentis.packages", "Packages"},
      {"com.apple.mobilephone", "Phone"},
      {"com.apple.mobileslideshow", "Photos"},
      {"com.apple.podcasts", "Podcasts"},
      {"com.apple.reminders", "Reminders"},
      {"com.apple.mobilesafari", "Safari"},
      {"com.apple.Preferences", "Settings"},
      {"com.apple.stocks", "Stocks"},
      {"com.wegweiser.strasse", "Straße"},
      {"com.paperlane.tally", "Tally"},
      {"com.countwise.tally", "TALLY"},
      {"com.wegweiser.fahrplan", "Timetable"},
      {"com.trailhead.app", "Trailhead"},  // installed in a container
      {"com.apple.VoiceMemos", "Voice Memos"},
      {"com.apple.weather", "Weather"},
      {"com.kitsune.nikki", "日記"},
  };
  ASSERT_EQ(expected.size(), 34u);
  std::vector<std::string> identifiers;
  for (const Value& identifier : catalogue["identifiers"].arrayValue()) {
    identifiers.push_back(identifier.stringValue());
  }
  std::vector<std::string> expectedIdentifiers;
  for (const auto& [identifier, name] : expected) {
    expectedIdentifiers.push_back(identifier);
    EXPECT_EQ(catalogue["applications"][identifier]["displayName"], Value(name)) << identifier;
  }
  EXPECT_EQ(identifiers, expectedIdentifiers);
  EXPECT_EQ(catalogue["applications"].dictionaryValue().size(), 34u);
  EXPECT_EQ(workspace_.allInstalledApplications().size(), 38u);  // all but the malformed one
}

TEST_F(SampleDeviceTest, GermanUserSeesGermanNames) {
  env_.variables["LANG"] = "de_DE.UTF-8";
  const Value applications = HXApplicationsManager(workspace_).allApplications()["applications"];
  EXPECT_EQ(applications["com.paperlane.lexicon"]["displayName"], Value("Lexikon Wörterbuch"));
  EXPECT_EQ(applications["com.wegweiser.fahrplan"]["displayName"], Value("Fahrplan"));
  EXPECT_EQ(applications["com.apple.mobilemail"]["displayName"], Value("Mail"));
}

TEST_F(SampleDeviceTest, EveryListedApplicationButOneHasIconsOfTheRightSize) {
  const Value catalogue = HXApplicationsManager(workspace_).allApplications();
  for (const Value& identifierValue : catalogue["identifiers"].arrayValue()) {
    const std::string& identifier = identifierValue.stringValue();
    SCOPED_TRACE(identifier);
    auto settingsIcon = workspace_.iconPathForIdentifier(identifier, 29, 2);
    auto homeIcon = workspace_.iconPathForIdentifier(identifier, 60, 2);
    if (identifier == "com.orlentis.console") {
      EXPECT_EQ(settingsIcon, std::nullopt);
      EXPECT_EQ(homeIcon, std::nullopt);
      continue;
    }
    ASSERT_TRUE(settingsIcon && homeIcon);
    EXPECT_GE(pngWidth(*settingsIcon), 58u);
    EXPECT_EQ(pngWidth(*homeIcon), 120u);
  }
  EXPECT_EQ(pngWidth(*workspace_.iconPathForIdentifier("com.apple.mobilemail", 29, 3)), 87u);
  EXPECT_EQ(pngWidth(*workspace_.iconPathForIdentifier("com.orlentis.packages", 29, 2)), 58u);
}

TEST_F(SampleDeviceTest, HomeScreenBundleCarriesTheDotImage) {
  const std::string springboard = sampleRoot() + "/System/Library/CoreServices/SpringBoard.app";
  std::string bytes;
  ASSERT_TRUE(
      env_.readFile(springboard + "/Info.plist", platform::FileKind::InfoPlist, bytes).isOk());
  EXPECT_NE(bytes.find("<string>com.apple.springboard</string>"), std::string::npos);
  EXPECT_EQ(pngWidth(springboard + "/IconNewDot@2x.png"), 12u);
  EXPECT_EQ(pngWidth(springboard + "/IconNewDot@3x.png"), 18u);
}

// The default manager reads the device root the process was given.
HX_CHILD_SCENARIO("catalogue-default-platform") {
  const Value catalogue = HXApplicationsManager().allApplications();
  for (const Value& identifier : catalogue["identifiers"].arrayValue()) {
    std::printf("%s\n", identifier.stringValue().c_str());
  }
  return 0;
}

TEST(DefaultManagerTest, ListsTheApplicationsOfTheDeviceRootInTheEnvironment) {
  hxtest::TemporaryDirectory root;
  hxtest::TemporaryDirectory home;
  hxtest::writeFile(
      root / "Applications/Notes.app/Info.plist",
      hxtest::xmlPropertyList(Value(hxtest::infoDictionary("com.example.notes", "Notes"))));
  hxtest::writeFile(
      root / "Applications/Atlas.app/Info.plist",
      hxtest::xmlPropertyList(Value(hxtest::infoDictionary("com.example.atlas", "Atlas"))));
  auto child = hxtest::ChildProcess("catalogue-default-platform", {},
                                    {{"HALVEX_ROOT", root.path()}, {"HALVEX_HOME", home.path()}});
  EXPECT_EQ(child.readLine(), "com.example.atlas");
  EXPECT_EQ(child.readLine(), "com.example.notes");
  EXPECT_EQ(child.readLine(), std::nullopt);
  EXPECT_EQ(child.wait(), 0);
}

}  // namespace
