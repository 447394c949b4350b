#include "DriverSession.h"

#include <gtest/gtest.h>

#include "SettingsController.h"
#include "platform/settings-host/SettingsDriver.h"
#include "platform/ui/UIImage.h"
#include "support/TestSupport.h"

namespace settingsapp {
namespace {

// A device with two Settings entries whose bundles have an icon but no executable, so that
// opening one gives the driver's error page.
class DriverSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::uint32_t> pixels(58 * 58, 0xff3366ccu);
    auto png = UIImagePNGRepresentation(UIImage(58, 58, 1.0, pixels));
    ASSERT_TRUE(png);
    for (const std::string name : {"Alpha", "Beta"}) {
      hxtest::writeFile(device_ / ("Library/PreferenceLoader/Preferences/" + name + ".plist"),
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                        "<key>entry</key><dict><key>bundle</key><string>" +
                            name +
                            "</string><key>cell</key><string>PSLinkCell</string>"
                            "<key>icon</key><string>icon.png</string><key>label</key><string>" +
                            name + "</string></dict></dict></plist>");
      const std::string bundle = device_ / ("Library/PreferenceBundles/" + name + ".bundle");
      hxtest::writeFile(bundle + "/Info.plist",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                        "<key>CFBundleExecutable</key><string>" +
                            name + "</string></dict></plist>");
      hxtest::writeFile(bundle + "/icon.png", std::string(png->begin(), png->end()));
    }
  }

  hxtest::TemporaryDirectory device_;
};

TEST_F(DriverSessionTest, EntriesShowWithIconsWhoseUrlsStayTheSameAcrossSnapshots) {
  platform::SettingsDriver driver(device_.path());
  DriverSession session(driver, 2.0);
  SettingsPage first = session.currentPage();
  EXPECT_EQ(first.title, "Settings");
  EXPECT_FALSE(first.canGoBack);
  ASSERT_EQ(first.sections.size(), 1u);
  ASSERT_EQ(first.sections[0].rows.size(), 2u);
  const SettingsRow& alpha = first.sections[0].rows[0];
  EXPECT_EQ(alpha.title, "Alpha");
  EXPECT_EQ(alpha.kind, SettingsRowKind::Link);
  ASSERT_FALSE(alpha.imageKey.empty());
  // The same pixels give the same key, whichever image object carries them.
  EXPECT_EQ(first.sections[0].rows[1].imageKey, alpha.imageKey);
  EXPECT_EQ(session.currentPage().sections[0].rows[0].imageKey, alpha.imageKey);

  auto png = session.imagePng(alpha.imageKey);
  ASSERT_TRUE(png);
  EXPECT_EQ(png->substr(1, 3), "PNG");
  EXPECT_FALSE(session.imagePng("i0000000000000000"));
}

TEST_F(DriverSessionTest, AnImageIsServedUntilFourSnapshotsAfterTheLastThatShowedIt) {
  platform::SettingsDriver driver(device_.path());
  DriverSession session(driver, 2.0);
  const std::string key = session.currentPage().sections[0].rows[0].imageKey;
  EXPECT_TRUE(SettingsController::isValidImageKey(key)) << key;
  ASSERT_TRUE(driver.openEntry("Beta").isOk());  // an error page, without images
  for (int shownBefore = 1; shownBefore <= 4; ++shownBefore) {
    session.currentPage();
    EXPECT_TRUE(session.imagePng(key)) << shownBefore << " snapshots after";
  }
  session.currentPage();
  EXPECT_FALSE(session.imagePng(key));

  ASSERT_TRUE(driver.goBack().isOk());
  EXPECT_EQ(session.currentPage().sections[0].rows[0].imageKey, key);
  EXPECT_TRUE(session.imagePng(key));
}

TEST_F(DriverSessionTest, ABundleThatCannotLoadOpensAsAnErrorPageAndGoesBack) {
  platform::SettingsDriver driver(device_.path());
  DriverSession session(driver, 2.0);
  SettingsController controller(session);
  auto reply =
      controller.handleAction("{\"action\":\"select\",\"section\":0,\"row\":1,\"version\":" +
                              std::to_string(controller.version()) + "}");
  ASSERT_EQ(reply.status, 200) << reply.body;
  const SettingsPage& page = controller.page();
  EXPECT_TRUE(page.canGoBack);
  EXPECT_EQ(page.backTitle, "Settings");
  EXPECT_TRUE(page.isError);
  EXPECT_NE(page.error.find("Beta"), std::string::npos) << page.error;

  reply = controller.handleAction("{\"action\":\"back\"}");
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(controller.page().title, "Settings");
  EXPECT_FALSE(controller.page().canGoBack);
}

}  // namespace
}  // namespace settingsapp
