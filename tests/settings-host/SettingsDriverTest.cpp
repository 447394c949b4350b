#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "platform/settings-host/PSListItemsController.h"
#include "platform/settings-host/SettingsDriver.h"
#include "support/TestSupport.h"

using platform::SettingsAccessory;
using platform::SettingsDriver;
using platform::SettingsPage;
using platform::SettingsRowKind;
using platform::Status;
using platform::Value;

namespace {

namespace fs = std::filesystem;

std::string entryPlist(const std::string& label, const std::string& bundle) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
         "version=\"1.0\"><dict><key>entry</key><dict>"
         "<key>bundle</key><string>" +
         bundle +
         "</string>"
         "<key>cell</key><string>PSLinkCell</string>"
         "<key>detail</key><string>SampleRootController</string>"
         "<key>icon</key><string>icon.png</string>"
         "<key>isController</key><true/>"
         "<key>label</key><string>" +
         label + "</string></dict></dict></plist>\n";
}

std::string infoPlist(const std::string& executable, const std::string& principal) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
         "<key>CFBundleExecutable</key><string>" +
         executable +
         "</string>"
         "<key>NSPrincipalClass</key><string>" +
         principal + "</string></dict></plist>\n";
}

// One device root for the whole test program: a loaded plug-in stays loaded and its classes
// stay registered, so every test must see the same bundle folder.
class StagedDevice {
 public:
  StagedDevice() {
    const std::string bundles = dir_ / "Library/PreferenceBundles";
    const std::string entries = dir_ / "Library/PreferenceLoader/Preferences";
    fs::create_directories(bundles);
    fs::create_directories(entries + "/nested");

    fs::copy(HX_SAMPLE_BUNDLE_DIR, bundles + "/Sample.bundle", fs::copy_options::recursive);
    fs::copy_file(HX_SAMPLE_PLUGIN, bundles + "/Sample.bundle/Sample");
    writePng(bundles + "/Sample.bundle/icon.png");

    stage(bundles, "NoExe", infoPlist("NoExe", "SampleRootController"), nullptr);
    stage(bundles, "NoEntry", infoPlist("NoEntry", "SampleRootController"),
          HX_SAMPLE_PLUGIN_NO_ENTRY);
    stage(bundles, "OldApi", infoPlist("OldApi", "SampleRootController"), HX_SAMPLE_PLUGIN_OLD_API);
    stage(bundles, "Throws", infoPlist("Throws", "SampleRootController"), HX_SAMPLE_PLUGIN_THROWS);
    stage(bundles, "Unknown", infoPlist("Unknown", "NoSuchClass"), HX_SAMPLE_PLUGIN_EMPTY);
    stage(bundles, "NotPage", infoPlist("NotPage", "PSTableCell"), HX_SAMPLE_PLUGIN_EMPTY);
    stage(bundles, "BadInfo", "<plist><dict>", HX_SAMPLE_PLUGIN);

    hxtest::writeFile(entries + "/Sample.plist", entryPlist("sample", "Sample"));
    hxtest::writeFile(entries + "/nested/Again.plist", entryPlist("Nested Sample", "Sample"));
    hxtest::writeFile(entries + "/NoExe.plist", entryPlist("Missing Executable", "NoExe"));
    hxtest::writeFile(entries + "/NoEntry.plist", entryPlist("No Entry Point", "NoEntry"));
    hxtest::writeFile(entries + "/OldApi.plist", entryPlist("Old API", "OldApi"));
    hxtest::writeFile(entries + "/Throws.plist", entryPlist("Throwing", "Throws"));
    hxtest::writeFile(entries + "/Unknown.plist", entryPlist("Unknown Class", "Unknown"));
    hxtest::writeFile(entries + "/NotPage.plist", entryPlist("Not A Page", "NotPage"));
    hxtest::writeFile(entries + "/BadInfo.plist", entryPlist("Bad Info", "BadInfo"));
    hxtest::writeFile(entries + "/Gone.plist", entryPlist("Gone", "NotInstalled"));
    hxtest::writeFile(entries + "/Garbage.plist", "this is not a plist");
    hxtest::writeFile(
        entries + "/NoEntryKey.plist",
        "<plist version=\"1.0\"><dict><key>title</key><string>x</string></dict></plist>");
    hxtest::writeFile(entries + "/readme.txt", "ignored");
  }

  const std::string& path() const { return dir_.path(); }

 private:
  static void stage(const std::string& bundles, const std::string& name, const std::string& info,
                    const char* executable) {
    const std::string folder = bundles + "/" + name + ".bundle";
    hxtest::writeFile(folder + "/Info.plist", info);
    if (executable != nullptr) fs::copy_file(executable, folder + "/" + name);
  }

  // A 1 × 1 PNG, so that the entry has an icon.
  static void writePng(const std::string& path) {
    static const unsigned char kPng[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
        0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF, 0x89, 0x99,
        0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    hxtest::writeFile(path, std::string(reinterpret_cast<const char*>(kPng), sizeof kPng));
  }

  hxtest::TemporaryDirectory dir_;
};

StagedDevice* staged = nullptr;

StagedDevice& device() {
  if (staged == nullptr) staged = new StagedDevice();  // kept to the end: loaded code refers to it
  return *staged;
}

// Loaded plug-ins stay mapped once their files are gone, so the folder can go after the last
// test even though the object stays.
class StagedDeviceRemoval : public ::testing::Environment {
 public:
  void TearDown() override {
    if (staged == nullptr) return;
    std::error_code error;
    fs::remove_all(staged->path(), error);
  }
};

[[maybe_unused]] ::testing::Environment* const kStagedDeviceRemoval =
    ::testing::AddGlobalTestEnvironment(new StagedDeviceRemoval);

std::vector<std::string> titles(const platform::SettingsSection& section) {
  std::vector<std::string> out;
  for (const auto& row : section.rows) out.push_back(row.title);
  return out;
}

// The section indices of the sample's root page.
constexpr std::int64_t kSwitches = 0, kChoices = 1, kApps = 2, kMore = 3, kFallback = 4;

class SettingsDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_ = std::make_unique<SettingsDriver>(device().path());
    ASSERT_TRUE(driver_->openEntry("sample").isOk());
    driver_->topPage()->performSelector("reset");
    log_.clear();
  }

  SettingsDriver& driver() { return *driver_; }
  LogCapture log_;
  std::unique_ptr<SettingsDriver> driver_;
};

}  // namespace

TEST_F(SettingsDriverTest, EntriesComeFromEveryEntryPlistSortedByLabelWithoutMissingBundles) {
  LogCapture log;
  SettingsDriver fresh(device().path());
  std::vector<std::string> labels;
  for (const auto& entry : fresh.entries()) labels.push_back(entry.label);
  EXPECT_EQ(labels, (std::vector<std::string>{"Bad Info", "Missing Executable", "Nested Sample",
                                              "No Entry Point", "Not A Page", "Old API", "sample",
                                              "Throwing", "Unknown Class"}));
  EXPECT_EQ(log.count("\"NotInstalled\", which is not installed"), 1u);
  EXPECT_EQ(log.count("Garbage.plist is unreadable"), 1u);
  EXPECT_EQ(log.count("NoEntryKey.plist has no \"entry\""), 1u);

  SettingsPage list = fresh.currentPage();
  EXPECT_EQ(list.title, "Settings");
  EXPECT_FALSE(list.canGoBack);
  ASSERT_EQ(list.sections.size(), 1u);
  EXPECT_EQ(titles(list.sections[0]), labels);
  const auto& sample = list.sections[0].rows[6];
  EXPECT_EQ(sample.kind, SettingsRowKind::Link);
  EXPECT_EQ(sample.accessory, SettingsAccessory::Disclosure);
  ASSERT_NE(sample.image, nullptr) << "the entry's icon";
  EXPECT_EQ(list.sections[0].rows[0].image, nullptr) << "an entry whose icon file is missing";

  EXPECT_EQ(fresh.openEntry("Nope").code(), Status::Code::NotFound);
}

TEST_F(SettingsDriverTest, RootPageShowsGroupsRowsValuesAndFooters) {
  SettingsPage page = driver().currentPage();
  EXPECT_EQ(page.title, "Sample Settings") << "a bundle's first page takes its plist's title";
  EXPECT_TRUE(page.canGoBack);
  EXPECT_EQ(page.depth, 1u);
  EXPECT_FALSE(page.isError);
  ASSERT_EQ(page.sections.size(), 5u);

  const auto& switches = page.sections[kSwitches];
  EXPECT_EQ(switches.header, "Switches");
  EXPECT_EQ(switches.footer, "Switch footer");
  EXPECT_EQ(titles(switches),
            (std::vector<std::string>{"Wi-Fi", "Bluetooth", "Locked", "Unbound"}));
  const struct {
    bool on;
    bool enabled;
  } expected[] = {{false, true}, {true, true}, {true, false}, {true, true}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(switches.rows[i].kind, SettingsRowKind::Switch) << i;
    EXPECT_EQ(switches.rows[i].isOn, expected[i].on) << switches.rows[i].title;
    EXPECT_EQ(switches.rows[i].enabled, expected[i].enabled) << switches.rows[i].title;
  }
  // A row is named by its item's id, else its key, else its label; a plain cell by nothing.
  EXPECT_EQ(switches.rows[0].identifier, "wifi");
  EXPECT_EQ(switches.rows[1].identifier, "bluetoothKey");
  EXPECT_EQ(switches.rows[2].identifier, "Locked");

  const auto& choices = page.sections[kChoices];
  EXPECT_EQ(choices.footer, std::nullopt);
  ASSERT_EQ(choices.rows.size(), 3u);
  EXPECT_EQ(choices.rows[0].detail, "Low") << "the short title of the current value";
  EXPECT_EQ(choices.rows[1].detail, "Two");
  EXPECT_EQ(choices.rows[2].detail, "Vanilla");
  EXPECT_EQ(choices.rows[0].kind, SettingsRowKind::LinkList);
  EXPECT_EQ(choices.rows[0].accessory, SettingsAccessory::Disclosure);

  const auto& apps = page.sections[kApps];
  EXPECT_EQ(apps.header, "Apps");
  EXPECT_EQ(titles(apps), (std::vector<std::string>{"Alpha", "Beta"}));
  EXPECT_EQ(apps.rows[0].kind, SettingsRowKind::Plain);
  EXPECT_EQ(apps.rows[0].identifier, "");
  EXPECT_EQ(apps.rows[0].accessory, SettingsAccessory::Disclosure);
  EXPECT_NE(apps.rows[0].image, nullptr);

  const auto& more = page.sections[kMore];
  EXPECT_EQ(titles(more), (std::vector<std::string>{"Details", "Reset", "Broken Link"}))
      << "items of an unknown kind and non-dictionaries are left out";
  EXPECT_EQ(more.rows[1].kind, SettingsRowKind::Button);
  ASSERT_NE(more.footerView, nullptr);
  EXPECT_EQ(more.footerView->objectClass().name(), "SampleFooter");
  EXPECT_EQ(more.footerHeight, 123.0);
  EXPECT_EQ(more.footer, std::nullopt) << "the footer view replaces the footer text";

  const auto& fallback = page.sections[kFallback];
  EXPECT_EQ(fallback.footerView, nullptr);
  EXPECT_EQ(fallback.footer, "Fallback footer text") << "an unknown footer class falls back";
  ASSERT_EQ(fallback.rows.size(), 2u);
  EXPECT_EQ(fallback.rows[0].detail, "1.0");
  EXPECT_EQ(fallback.rows[1].title, "Exploding") << "a throwing getter leaves its row empty";
  EXPECT_EQ(fallback.rows[1].detail, "");

  // The footer view is made once per group, however often the page is read.
  driver().currentPage();
  EXPECT_EQ(driver().currentPage().sections[kMore].footerView, more.footerView);
  EXPECT_EQ(log_.count("sample: footer made for More"), 1u);
}

TEST_F(SettingsDriverTest, SwitchesCallTheirSettersWithTheValueAndTheSpecifierByColonCount) {
  ASSERT_TRUE(driver().setSwitch(kSwitches, 0, true).isOk());
  ASSERT_TRUE(driver().setSwitch(kSwitches, 1, false).isOk());
  std::vector<std::string> setters;
  for (const std::string& event : log_.sampleEvents()) {
    if (event.rfind("set", 0) == 0) setters.push_back(event);
  }
  EXPECT_EQ(setters,
            (std::vector<std::string>{"setWifi: 1", "setBluetooth: 0 forSpecifier: Bluetooth"}));

  // A redraw reads the new values back through the getters.
  log_.clear();
  driver().topPage()->reloadSpecifiers();
  SettingsPage page = driver().currentPage();
  EXPECT_TRUE(page.sections[kSwitches].rows[0].isOn);
  EXPECT_FALSE(page.sections[kSwitches].rows[1].isOn);
  EXPECT_EQ(log_.count("sample: bluetooth: Bluetooth"), 1u) << "\"x:\" getters get their specifier";

  log_.clear();
  const struct {
    std::int64_t section, row;
    const char* why;
  } refused[] = {
      {kSwitches, 2, "is disabled"},    {kSwitches, 3, "no setter"},
      {kChoices, 0, "is not a switch"}, {kApps, 0, "is not a switch"},
      {kSwitches, 9, "has no row 9"},   {-1, 0, "has no row"},
  };
  for (const auto& c : refused) {
    Status status = driver().setSwitch(c.section, c.row, true);
    EXPECT_FALSE(status.isOk()) << c.why;
    EXPECT_NE(status.message().find(c.why), std::string::npos) << status.message();
  }
  EXPECT_TRUE(log_.sampleEvents().empty()) << "no setter ran for a refused switch";
}

TEST_F(SettingsDriverTest, LinkListHandsATwoArgumentSetterTheTitleAndAOneArgumentSetterTheValue) {
  ASSERT_TRUE(driver().selectRow(kChoices, 0).isOk());
  SettingsPage list = driver().currentPage();
  EXPECT_TRUE(list.isListItems);
  EXPECT_EQ(list.title, "Mode");
  ASSERT_EQ(list.sections.size(), 1u);
  EXPECT_EQ(titles(list.sections[0]), (std::vector<std::string>{"Off", "Low Power", "High Power"}))
      << "the list shows the full titles";
  std::vector<SettingsAccessory> checks;
  for (const auto& row : list.sections[0].rows) checks.push_back(row.accessory);
  EXPECT_EQ(checks,
            (std::vector<SettingsAccessory>{SettingsAccessory::None, SettingsAccessory::Checkmark,
                                            SettingsAccessory::None}));

  ASSERT_TRUE(driver().chooseItem(0, 2).isOk());
  EXPECT_EQ(log_.sampleEvents(),
            std::vector<std::string>{"setMode: High Power forSpecifier: mode"});
  list = driver().currentPage();
  EXPECT_EQ(list.title, "Mode") << "the list stays open after a choice";
  checks.clear();
  for (const auto& row : list.sections[0].rows) checks.push_back(row.accessory);
  EXPECT_EQ(checks,
            (std::vector<SettingsAccessory>{SettingsAccessory::None, SettingsAccessory::None,
                                            SettingsAccessory::Checkmark}))
      << "the checkmark moves to the choice";
  ASSERT_TRUE(driver().goBack().isOk());
  SettingsPage root = driver().currentPage();
  EXPECT_EQ(root.title, "Sample Settings");
  EXPECT_EQ(root.sections[kChoices].rows[0].detail, "High") << "the row reads the choice anew";

  log_.clear();
  ASSERT_TRUE(driver().selectRow(kChoices, 1).isOk());
  list = driver().currentPage();
  EXPECT_EQ(list.title, "Level") << "a link list without a detail class still opens";
  ASSERT_EQ(list.sections[0].rows.size(), 2u);
  EXPECT_EQ(list.sections[0].rows[1].accessory, SettingsAccessory::Checkmark);
  ASSERT_TRUE(driver().chooseItem(0, 0).isOk());
  EXPECT_EQ(log_.sampleEvents(), std::vector<std::string>{"setLevel: integer 1"})
      << "the value, with its kind, as validValues holds it";
  ASSERT_TRUE(driver().goBack().isOk());
  EXPECT_EQ(driver().currentPage().sections[kChoices].rows[1].detail, "One");
}

TEST_F(SettingsDriverTest, ListItemsSubclassUsesItsOwnPlistOfItems) {
  ASSERT_TRUE(driver().selectRow(kChoices, 2).isOk());
  SettingsPage list = driver().currentPage();
  EXPECT_EQ(list.title, "Flavor");
  ASSERT_EQ(list.sections.size(), 1u);
  EXPECT_EQ(list.sections[0].footer, "Pick one");
  EXPECT_EQ(titles(list.sections[0]), (std::vector<std::string>{"Vanilla", "Chocolate"}));
  EXPECT_EQ(list.sections[0].rows[0].accessory, SettingsAccessory::Checkmark);
  EXPECT_EQ(list.sections[0].rows[1].accessory, SettingsAccessory::None);

  ASSERT_TRUE(driver().chooseItem(0, 1).isOk());
  EXPECT_EQ(log_.sampleEvents(), std::vector<std::string>{"setFlavor: Chocolate"});
  ASSERT_TRUE(driver().goBack().isOk());
  EXPECT_EQ(driver().currentPage().sections[kChoices].rows[2].detail, "Chocolate");
}

TEST_F(SettingsDriverTest, ChoosingIsRefusedOffAListPageOrOffAChoice) {
  EXPECT_FALSE(driver().chooseItem(kChoices, 0).isOk()) << "the root page is not a list of choices";
  ASSERT_TRUE(driver().selectRow(kChoices, 0).isOk());
  EXPECT_FALSE(driver().chooseItem(0, 7).isOk());
  EXPECT_EQ(driver().currentPage().title, "Mode");
  EXPECT_TRUE(log_.sampleEvents().empty());
}

TEST_F(SettingsDriverTest, LinkGivesTheDetailPageItsSpecifierBeforeItShowsAndTheLinkLabel) {
  ASSERT_TRUE(driver().selectRow(kMore, 0).isOk());
  EXPECT_EQ(log_.sampleEvents(),
            (std::vector<std::string>{"setSpecifier details before appearing",
                                      "viewWillAppear Details", "willBecomeActive Details"}));
  SettingsPage detail = driver().currentPage();
  EXPECT_EQ(detail.title, "Details") << "a pushed page keeps the link's label, not its plist title";
  EXPECT_EQ(detail.depth, 2u);
  auto page = driver().topPage();
  ASSERT_NE(page->specifier(), nullptr);
  EXPECT_EQ(page->specifier()->propertyForKey("customKey"), Value("kept"));
  EXPECT_EQ(page->parentController()->title(), "Sample Settings");

  ASSERT_EQ(detail.sections.size(), 1u);
  EXPECT_EQ(titles(detail.sections[0]), (std::vector<std::string>{"Detail Switch", "Custom Cell"}));
  EXPECT_EQ(page->table()->cellForRowAtIndexPath({0, 1})->objectClass().name(), "SampleFooter")
      << "a row's cellClass makes its cell";
  ASSERT_TRUE(driver().setSwitch(0, 0, true).isOk());
  EXPECT_EQ(log_.count("sample: setDetailFlag: 1"), 1u);

  ASSERT_TRUE(driver().goBack().isOk());
  EXPECT_EQ(driver().currentPage().title, "Sample Settings");
  ASSERT_TRUE(driver().goBack().isOk());
  EXPECT_EQ(driver().currentPage().title, "Settings");
  EXPECT_FALSE(driver().goBack().isOk()) << "nothing below the entries list";
}

TEST_F(SettingsDriverTest, PageMadeInCodeLoadsItsPlistFromTheBundleOfItsClass) {
  ASSERT_TRUE(driver().selectRow(kApps, 1).isOk());
  SettingsPage page = driver().currentPage();
  EXPECT_EQ(page.title, "Beta");
  ASSERT_EQ(page.sections.size(), 1u);
  EXPECT_EQ(titles(page.sections[0]).front(), "Detail Switch");
  EXPECT_EQ(log_.count("sample: willBecomeActive Beta"), 1u);
}

TEST_F(SettingsDriverTest, ButtonsAndBrokenLinks) {
  ASSERT_TRUE(driver().setSwitch(kSwitches, 0, true).isOk());
  ASSERT_TRUE(driver().selectRow(kMore, 1).isOk());
  EXPECT_EQ(log_.count("sample: reset"), 1u);
  EXPECT_FALSE(driver().currentPage().sections[kSwitches].rows[0].isOn)
      << "the action reset the value and reloaded the rows";

  ASSERT_TRUE(driver().selectRow(kMore, 2).isOk());
  EXPECT_EQ(driver().currentPage().title, "Sample Settings")
      << "an unknown page class opens nothing";
  EXPECT_EQ(log_.count("NoSuchController"), 1u);

  EXPECT_FALSE(driver().selectRow(kSwitches, 2).isOk()) << "a disabled row";
  EXPECT_FALSE(driver().selectRow(kMore, 3).isOk());
}

TEST_F(SettingsDriverTest, GenerationMovesWhenThePageRedrawsOnItsOwn) {
  driver().currentPage();
  const std::uint64_t before = driver().generation();
  EXPECT_EQ(driver().generation(), before) << "reading changes nothing";

  // What a notification from another process would do to the open page.
  driver().topPage()->performSelector("externalWifiOn");
  EXPECT_NE(driver().generation(), before);
  EXPECT_TRUE(driver().currentPage().sections[kSwitches].rows[0].isOn);

  const std::uint64_t afterReload = driver().generation();
  ASSERT_TRUE(driver().selectRow(kMore, 0).isOk());
  EXPECT_NE(driver().generation(), afterReload) << "another page is on top";
}

TEST(SettingsDriverErrorTest, BundlesThatFailToLoadOpenAnErrorPageWithTheReason) {
  const struct {
    const char* label;
    const char* reason;
  } cases[] = {
      {"Missing Executable", "could not be loaded"},
      {"No Entry Point", "has no entry point hx_settings_plugin_entry"},
      {"Old API", "API version 99"},
      {"Throwing", "registration refused"},
      {"Unknown Class", "NoSuchClass"},
      {"Not A Page", "not a list page"},
      {"Bad Info", "Info.plist"},
  };
  LogCapture log;
  SettingsDriver driver(device().path());
  for (const auto& c : cases) {
    ASSERT_TRUE(driver.openEntry(c.label).isOk()) << c.label;
    SettingsPage page = driver.currentPage();
    EXPECT_TRUE(page.isError) << c.label;
    EXPECT_EQ(page.title, c.label);
    EXPECT_NE(page.error.find(c.reason), std::string::npos) << c.label << ": " << page.error;
    EXPECT_TRUE(page.canGoBack);
    ASSERT_EQ(page.sections.size(), 1u);
    ASSERT_EQ(page.sections[0].rows.size(), 1u);
    EXPECT_EQ(page.sections[0].rows[0].title, page.error);
    // Asking again gives the same answer, without loading the bundle again.
    ASSERT_TRUE(driver.openEntry(c.label).isOk());
    EXPECT_EQ(driver.currentPage().error, page.error);
    ASSERT_TRUE(driver.goBack().isOk());
  }
}
