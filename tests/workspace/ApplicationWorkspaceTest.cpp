#include "platform/workspace/ApplicationWorkspace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/TestSupport.h"
#include "workspace/FakeDevice.h"

namespace {

using hxtest::FakeDevice;
using hxtest::infoDictionary;
using hxtest::pngOfSize;
using platform::ApplicationProxy;
using platform::Value;

const ApplicationProxy* find(const std::vector<ApplicationProxy>& proxies,
                             const std::string& identifier) {
  auto it = std::find_if(proxies.begin(), proxies.end(), [&](const ApplicationProxy& proxy) {
    return proxy.applicationIdentifier == identifier;
  });
  return it == proxies.end() ? nullptr : &*it;
}

std::vector<std::string> identifiersOf(const std::vector<ApplicationProxy>& proxies) {
  std::vector<std::string> identifiers;
  for (const auto& proxy : proxies) identifiers.push_back(proxy.applicationIdentifier);
  return identifiers;
}

TEST(ApplicationWorkspaceTest, ListsSystemAndContainerBundlesWithTheirProperties) {
  FakeDevice device;
  auto mail = infoDictionary("com.apple.mobilemail", "Mail");
  mail.emplace("SBAppTags", Value(Value::Array{Value("hidden"), Value::integer(3), Value("x")}));
  const std::string mailPath = device.addApplication("MobileMail.app", mail);
  const std::string trailPath = device.addApplication(
      "Trailhead.app", infoDictionary("com.trailhead.app", "Trailhead"),
      "var/containers/Bundle/Application/6F1C2A9E-3B4D-4E5F-8A7B-9C0D1E2F3A4B");
  // Neither is an application bundle.
  device.addApplication("Notes", infoDictionary("com.example.folder"));
  device.addApplication(".app", infoDictionary("com.example.dot"));
  device.addApplication("Loose.app", infoDictionary("com.example.loose"), "var/containers/Bundle");

  auto proxies = device.workspace().allInstalledApplications();
  EXPECT_EQ(identifiersOf(proxies),
            (std::vector<std::string>{"com.apple.mobilemail", "com.trailhead.app"}));
  const ApplicationProxy* proxy = find(proxies, "com.apple.mobilemail");
  ASSERT_NE(proxy, nullptr);
  EXPECT_EQ(proxy->appTags, (std::vector<std::string>{"hidden", "x"}));
  EXPECT_EQ(proxy->localizedName, "Mail");
  EXPECT_EQ(proxy->bundleURL, mailPath);
  EXPECT_EQ(find(proxies, "com.trailhead.app")->bundleURL, trailPath);
}

TEST(ApplicationWorkspaceTest, UnusableBundlesAreSkippedAndTheOthersStillListed) {
  const std::pair<const char*, std::string> infoPlists[] = {
      {"Garbage.app", "this is not a property list"},
      {"Truncated.app", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>"},
      {"ArrayRoot.app", hxtest::xmlPropertyList(Value(Value::Array{Value("com.example.a")}))},
      {"NoIdentifier.app",
       hxtest::xmlPropertyList(Value(Value::Dictionary{{"CFBundleName", Value("x")}}))},
      {"NumberIdentifier.app", hxtest::xmlPropertyList(Value(
                                   Value::Dictionary{{"CFBundleIdentifier", Value::integer(7)}}))},
      {"EmptyIdentifier.app", hxtest::xmlPropertyList(Value(infoDictionary("")))},
      {"Empty.app", ""},
  };
  FakeDevice device;
  device.addApplication("A.app", infoDictionary("com.example.first", "First"));
  for (const auto& [bundle, bytes] : infoPlists) {
    device.writeFile(std::string("Applications/") + bundle + "/Info.plist", bytes);
  }
  device.writeFile("Applications/NoInfo.app/Icon.png", pngOfSize(58));
  device.writeFile("Applications/InfoIsFolder.app/Info.plist/x", "");
  device.addApplication("Z.app", infoDictionary("com.example.last", "Last"));

  EXPECT_EQ(identifiersOf(device.workspace().allInstalledApplications()),
            (std::vector<std::string>{"com.example.first", "com.example.last"}));
}

TEST(ApplicationWorkspaceTest, NameFallsBackFromDisplayNameToBundleName) {
  struct Case {
    const char* name;
    Value::Dictionary info;
    std::optional<std::string> expected;
  };
  auto with = [](Value::Dictionary info, const char* key, Value value) {
    info.insert_or_assign(key, std::move(value));
    return info;
  };
  const Case cases[] = {
      {"display name wins", infoDictionary("a", "Display", "Bundle"), "Display"},
      {"bundle name alone", infoDictionary("a", nullptr, "Bundle"), "Bundle"},
      {"neither", infoDictionary("a"), std::nullopt},
      {"empty display name is kept", infoDictionary("a", "", "Bundle"), ""},
      {"display name of the wrong kind",
       with(infoDictionary("a", nullptr, "Bundle"), "CFBundleDisplayName", Value::integer(5)),
       "Bundle"},
      {"both of the wrong kind",
       with(with(infoDictionary("a"), "CFBundleDisplayName", Value::boolean(true)), "CFBundleName",
            Value(Value::Array{Value("x")})),
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice device;
    device.addApplication("App.app", c.info);
    auto proxies = device.workspace().allInstalledApplications();
    ASSERT_EQ(proxies.size(), 1u);
    EXPECT_EQ(proxies[0].localizedName, c.expected);
  }
}

// A bundle localised into several languages, each table naming the language.
void addLocalisedApplication(FakeDevice& device) {
  device.addApplication("Lexicon.app", infoDictionary("com.example.lexicon", "Info", "InfoName"));
  for (const char* language : {"en", "de", "pt-BR", "Base"}) {
    device.writeFile(
        std::string("Applications/Lexicon.app/") + language + ".lproj/InfoPlist.strings",
        std::string("CFBundleDisplayName = \"") + language + "\";");
  }
  device.writeFile("Applications/Lexicon.app/fr.lproj/Localizable.strings", "\"a\" = \"b\";");
}

TEST(ApplicationWorkspaceTest, LocalisedNameFollowsTheUsersLanguage) {
  struct Case {
    std::map<std::string, std::string> variables;
    const char* expected;
  };
  const Case cases[] = {
      {{}, "en"},
      {{{"LANGUAGE", "de"}}, "de"},
      {{{"LANGUAGE", "ja:de"}}, "en"},  // only the first entry of the list counts
      {{{"LANGUAGE", "de:ja"}, {"LANG", "ja_JP.UTF-8"}}, "de"},
      {{{"LANG", "de_DE.UTF-8"}}, "de"},
      {{{"LC_MESSAGES", "de_AT@euro"}, {"LANG", "pt_BR"}}, "de"},
      {{{"LC_ALL", "pt_BR.UTF-8"}, {"LC_MESSAGES", "de"}}, "pt-BR"},
      {{{"LANG", "pt-BR"}}, "pt-BR"},
      {{{"LANG", "pt_PT"}}, "en"},  // no pt folder at all
      {{{"LANG", "C"}}, "en"},
      {{{"LC_ALL", "POSIX"}, {"LANG", "de"}}, "en"},
      {{{"LANGUAGE", ""}, {"LANG", "de"}}, "de"},
      {{{"LANG", "fr_FR"}}, "Info"},  // fr.lproj exists but holds no InfoPlist.strings
  };
  for (const Case& c : cases) {
    FakeDevice device;
    addLocalisedApplication(device);
    std::string trace;
    for (const auto& [name, value] : c.variables) {
      device.setEnvironment(name, value);
      trace += name + "=" + value + " ";
    }
    SCOPED_TRACE(trace);
    auto proxies = device.workspace().allInstalledApplications();
    ASSERT_EQ(proxies.size(), 1u);
    EXPECT_EQ(proxies[0].localizedName, c.expected);
  }
}

TEST(ApplicationWorkspaceTest, LocalisationFallsBackToDevelopmentRegionThenEnglishThenBase) {
  FakeDevice device;
  device.setEnvironment("LANG", "ja_JP");
  auto french = infoDictionary("com.example.french", "Info");
  french.emplace("CFBundleDevelopmentRegion", Value("fr"));
  device.addApplication("French.app", french);
  device.writeFile("Applications/French.app/fr.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = \"fr\";");
  device.writeFile("Applications/French.app/en.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = \"en\";");
  device.addApplication("BaseOnly.app", infoDictionary("com.example.base", "Info"));
  device.writeFile("Applications/BaseOnly.app/Base.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = \"Base\";");
  // A table with only CFBundleName overrides that key; CFBundleDisplayName of Info.plist still
  // comes first.
  device.addApplication("NameOnly.app", infoDictionary("com.example.name", "Info", "InfoName"));
  device.writeFile("Applications/NameOnly.app/en.lproj/InfoPlist.strings",
                   "CFBundleName = \"en\";");
  device.addApplication("NoDisplay.app",
                        infoDictionary("com.example.nodisplay", nullptr, "InfoName"));
  device.writeFile("Applications/NoDisplay.app/en.lproj/InfoPlist.strings",
                   "CFBundleName = \"en\";");
  // A region naming a path outside the bundle is not followed.
  auto escaping = infoDictionary("com.example.escaping", "Info");
  escaping.emplace("CFBundleDevelopmentRegion", Value("../French.app/fr"));
  device.addApplication("Escaping.app", escaping);
  // A malformed table is no table.
  device.addApplication("Malformed.app", infoDictionary("com.example.malformed", "Info"));
  device.writeFile("Applications/Malformed.app/en.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = ");

  auto proxies = device.workspace().allInstalledApplications();
  EXPECT_EQ(find(proxies, "com.example.french")->localizedName, "fr");
  EXPECT_EQ(find(proxies, "com.example.base")->localizedName, "Base");
  EXPECT_EQ(find(proxies, "com.example.name")->localizedName, "Info");
  EXPECT_EQ(find(proxies, "com.example.nodisplay")->localizedName, "en");
  EXPECT_EQ(find(proxies, "com.example.malformed")->localizedName, "Info");
  EXPECT_EQ(find(proxies, "com.example.escaping")->localizedName, "Info");
}

TEST(ApplicationWorkspaceTest, DuplicateIdentifiersAreBothListed) {
  FakeDevice device;
  device.addApplication("One.app", infoDictionary("com.example.same", "One"));
  device.addApplication("Two.app", infoDictionary("com.example.same", "Two"),
                        "var/containers/Bundle/Application/UUID");
  auto proxies = device.workspace().allInstalledApplications();
  ASSERT_EQ(proxies.size(), 2u);
  EXPECT_EQ(proxies[0].localizedName, "One");
  EXPECT_EQ(proxies[1].localizedName, "Two");
}

TEST(ApplicationWorkspaceTest, EmptyOrMissingRootListsNothing) {
  FakeDevice device;
  EXPECT_TRUE(device.workspace().allInstalledApplications().empty());
  device.writeFile("Applications", "a file where a folder belongs");
  EXPECT_TRUE(device.workspace().allInstalledApplications().empty());
}

struct IconCase {
  const char* name;
  Value::Dictionary iconKeys;
  std::vector<std::pair<std::string, std::string>> files;  // name -> contents
  double points;
  double scale;
  std::optional<std::string> expected;
};

Value strings(std::initializer_list<const char*> names) {
  Value::Array array;
  for (const char* name : names) array.emplace_back(name);
  return Value(array);
}

TEST(ApplicationWorkspaceTest, IconFileBestFitsTheWantedPixels) {
  const Value::Dictionary primary{
      {"CFBundleIcons",
       Value(Value::Dictionary{
           {"CFBundlePrimaryIcon",
            Value(Value::Dictionary{
                {"CFBundleIconFiles", strings({"AppIcon29x29", "AppIcon60x60"})}})}})}};
  const std::vector<std::pair<std::string, std::string>> primaryFiles{
      {"AppIcon29x29@2x.png", pngOfSize(58)},
      {"AppIcon29x29@3x.png", pngOfSize(87)},
      {"AppIcon60x60@2x.png", pngOfSize(120)}};
  const Value::Dictionary legacy{{"CFBundleIconFiles", strings({"Icon-Small", "Icon"})}};
  const std::vector<std::pair<std::string, std::string>> legacyFiles{
      {"Icon-Small.png", pngOfSize(29)},
      {"Icon-Small@2x.png", pngOfSize(58)},
      {"Icon@2x.png", pngOfSize(120)}};
  auto both = primary;
  both.insert(legacy.begin(), legacy.end());

  const IconCase cases[] = {
      {"exact 29pt at 2x", primary, primaryFiles, 29, 2, "AppIcon29x29@2x.png"},
      {"exact 29pt at 3x", primary, primaryFiles, 29, 3, "AppIcon29x29@3x.png"},
      {"exact 60pt at 2x", primary, primaryFiles, 60, 2, "AppIcon60x60@2x.png"},
      {"between sizes takes the next larger", primary, primaryFiles, 40, 2, "AppIcon29x29@3x.png"},
      {"above all takes the largest", primary, primaryFiles, 60, 3, "AppIcon60x60@2x.png"},
      {"below all takes the smallest", primary, primaryFiles, 20, 1, "AppIcon29x29@2x.png"},
      {"legacy list with a 1x file", legacy, legacyFiles, 29, 1, "Icon-Small.png"},
      {"primary list wins over legacy", both,
       [&] {
         auto files = primaryFiles;
         files.insert(files.end(), legacyFiles.begin(), legacyFiles.end());
         return files;
       }(),
       29, 2, "AppIcon29x29@2x.png"},
      {"primary names without files fall through", both, legacyFiles, 29, 2, "Icon-Small@2x.png"},
      {"single icon file with extension",
       {{"CFBundleIconFile", Value("icon.png")}},
       {{"icon.png", pngOfSize(57)}},
       29,
       2,
       "icon.png"},
      {"single icon file with a 2x variant",
       {{"CFBundleIconFile", Value("Icon.png")}},
       {{"Icon.png", pngOfSize(57)}, {"Icon@2x.png", pngOfSize(114)}},
       60,
       2,
       "Icon@2x.png"},
      {"no keys: the default name",
       {},
       {{"AppIcon60x60@2x.png", pngOfSize(120)}},
       29,
       2,
       "AppIcon60x60@2x.png"},
      {"no keys, no files", {}, {}, 29, 2, std::nullopt},
      {"icon keys of the wrong kind are ignored",
       {{"CFBundleIcons", Value("x")},
        {"CFBundleIconFiles", Value::integer(1)},
        {"CFBundleIconFile", Value(Value::Array{})}},
       {{"AppIcon60x60@2x.png", pngOfSize(120)}},
       29,
       2,
       "AppIcon60x60@2x.png"},
      {"a file that is not a PNG is passed over",
       primary,
       {{"AppIcon29x29@2x.png", "GIF89a not a png at all"},
        {"AppIcon60x60@2x.png", pngOfSize(120)}},
       29,
       2,
       "AppIcon60x60@2x.png"},
      {"a PNG claiming zero pixels is passed over",
       primary,
       {{"AppIcon29x29@2x.png", pngOfSize(0)}},
       29,
       2,
       std::nullopt},
      {"a PNG over the image caps is passed over as missing",
       primary,
       {{"AppIcon29x29@2x.png", pngOfSize(58)}, {"AppIcon60x60@2x.png", pngOfSize(16000)}},
       60,
       2,
       "AppIcon29x29@2x.png"},
      {"crushed PNG with a CgBI chunk first",
       primary,
       {{"AppIcon29x29@2x.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\x04"
                                            "CgBI\x50\0\x20\x06\0\0\0\0",
                                            24) +
                                    pngOfSize(58).substr(8)}},
       29,
       2,
       "AppIcon29x29@2x.png"},
      {"names leaving the bundle are refused",
       {{"CFBundleIconFiles", strings({"../Other.app/Icon", "/etc/Icon"})}},
       {},
       29,
       2,
       std::nullopt},
  };
  for (const IconCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice device;
    auto info = infoDictionary("com.example.app", "App");
    info.insert(c.iconKeys.begin(), c.iconKeys.end());
    const std::string bundle = device.addApplication("App.app", info);
    device.writeFile("Applications/Other.app/Icon@2x.png", pngOfSize(58));
    for (const auto& [file, bytes] : c.files)
      device.writeFile("Applications/App.app/" + file, bytes);
    auto path = device.workspace().iconPathForIdentifier("com.example.app", c.points, c.scale);
    if (c.expected) {
      EXPECT_EQ(path, bundle + "/" + *c.expected);
    } else {
      EXPECT_EQ(path, std::nullopt);
    }
  }
}

TEST(ApplicationWorkspaceTest, IconLookupFollowsInstallsAndRemovals) {
  FakeDevice device;
  platform::ApplicationWorkspace& workspace = device.workspace();
  EXPECT_EQ(workspace.iconPathForIdentifier("com.example.late", 29, 2), std::nullopt);

  // Installed after the workspace last looked.
  const std::string late = device.addApplication("Late.app", infoDictionary("com.example.late"));
  device.writeFile("Applications/Late.app/Icon@2x.png", pngOfSize(58));
  EXPECT_EQ(workspace.iconPathForIdentifier("com.example.late", 29, 2), late + "/Icon@2x.png");

  // Moved to another bundle: the old path is not handed out.
  device.removeFile("Applications/Late.app/Info.plist");
  const std::string moved = device.addApplication("Moved.app", infoDictionary("com.example.late"));
  device.writeFile("Applications/Moved.app/Icon@2x.png", pngOfSize(58));
  EXPECT_EQ(workspace.iconPathForIdentifier("com.example.late", 29, 2), moved + "/Icon@2x.png");

  device.removeFile("Applications/Moved.app/Info.plist");
  EXPECT_EQ(workspace.iconPathForIdentifier("com.example.late", 29, 2), std::nullopt);
}

}  // namespace

namespace {

// Counts reads, and can report every file with one fixed identity, as a file rewritten in
// place within one tick of a coarse file clock looks.
class ObservingEnv : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  platform::Status readFile(const std::string& path, platform::FileKind kind,
                            std::string& contents) override {
    ++reads;
    return EnvWrapper::readFile(path, kind, contents);
  }
  platform::Status readFileHeld(const std::string& path, platform::FileKind kind,
                                std::string& contents, std::unique_ptr<platform::HeldFile>& held,
                                platform::FileIdentity& identity) override {
    ++reads;
    platform::Status status = EnvWrapper::readFileHeld(path, kind, contents, held, identity);
    if (fixedIdentity) identity = *fixedIdentity;
    return status;
  }
  platform::Status fileIdentity(const std::string& path,
                                platform::FileIdentity& identity) override {
    ++identities;
    platform::Status status = EnvWrapper::fileIdentity(path, identity);
    if (status.isOk() && fixedIdentity) identity = *fixedIdentity;
    return status;
  }
  platform::Status listDirectory(const std::string& path,
                                 std::vector<std::string>& names) override {
    listed.push_back(path);
    return EnvWrapper::listDirectory(path, names);
  }
  double now() override { return clock ? *clock : EnvWrapper::now(); }
  int reads = 0;
  int identities = 0;
  std::optional<double> clock;
  std::vector<std::string> listed;
  std::optional<platform::FileIdentity> fixedIdentity;
};

platform::FileIdentity identityModifiedSecondsAgo(double seconds) {
  const auto nanoseconds =
      static_cast<std::int64_t>((platform::defaultEnv().now() - seconds) * 1e9);
  return platform::FileIdentity{1, 42, 100, nanoseconds, nanoseconds};
}

TEST(ApplicationWorkspaceTest, RepeatedScansSeeEveryChange) {
  FakeDevice device;
  platform::ApplicationWorkspace& workspace = device.workspace();
  auto nameOf = [&](const std::string& identifier) -> std::optional<std::string> {
    auto proxies = workspace.allInstalledApplications();
    const ApplicationProxy* proxy = find(proxies, identifier);
    return proxy ? proxy->localizedName : std::optional<std::string>("<not listed>");
  };
  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Mail"));
  EXPECT_EQ(nameOf("com.apple.mobilemail"), "Mail");

  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Post"));
  EXPECT_EQ(nameOf("com.apple.mobilemail"), "Post");

  device.writeFile("Applications/Mail.app/Base.lproj/Main.strings", "");
  EXPECT_EQ(nameOf("com.apple.mobilemail"), "Post");  // a folder without a table
  device.writeFile("Applications/Mail.app/Base.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = \"Base\";");
  EXPECT_EQ(nameOf("com.apple.mobilemail"), "Base");
  device.writeFile("Applications/Mail.app/de.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = \"Deutsch\";");
  device.writeFile("Applications/Mail.app/en.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = \"English\";");
  EXPECT_EQ(nameOf("com.apple.mobilemail"), "English");
  device.setEnvironment("LANGUAGE", "de");
  EXPECT_EQ(nameOf("com.apple.mobilemail"), "Deutsch");
  device.writeFile("Applications/Mail.app/de.lproj/InfoPlist.strings", "broken = ");
  EXPECT_EQ(nameOf("com.apple.mobilemail"), "Post");
  device.removeFile("Applications/Mail.app/de.lproj/InfoPlist.strings");
  EXPECT_EQ(nameOf("com.apple.mobilemail"), "Post");  // de.lproj still speaks for the bundle

  device.writeFile("Applications/Mail.app/Info.plist", "<plist><dict>");
  EXPECT_EQ(nameOf("com.apple.mobilemail"), "<not listed>");
  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Mail"));
  EXPECT_EQ(nameOf("com.apple.mobilemail"), "Mail");
  device.removeFile("Applications/Mail.app/Info.plist");
  EXPECT_EQ(nameOf("com.apple.mobilemail"), "<not listed>");
}

TEST(ApplicationWorkspaceTest, UnchangedFilesAreNotReadAgain) {
  FakeDevice device;
  for (const char* name : {"A", "B", "C"}) {
    device.addApplication(std::string(name) + ".app", infoDictionary(std::string("id.") + name));
  }
  device.writeFile("Applications/B.app/en.lproj/InfoPlist.strings", "CFBundleName = \"B\";");
  ObservingEnv env(device.env());
  env.fixedIdentity = identityModifiedSecondsAgo(3600);
  platform::ApplicationWorkspace workspace(env, device.root());
  EXPECT_EQ(workspace.allInstalledApplications().size(), 3u);
  EXPECT_EQ(env.reads, 4);
  env.reads = 0;
  EXPECT_EQ(workspace.allInstalledApplications()[1].localizedName, "B");
  EXPECT_EQ(env.reads, 0);
}

TEST(ApplicationWorkspaceTest, EachBundleFolderIsListedOnceAndAgainOnlyWhenItChanged) {
  FakeDevice device;
  for (const char* name : {"A", "B", "C"}) {
    device.addApplication(std::string(name) + ".app",
                          infoDictionary(std::string("id.") + name, name));
  }
  device.addApplication("D.app", infoDictionary("id.D", "D"),
                        "var/containers/Bundle/Application/U");
  ObservingEnv env(device.env());
  platform::ApplicationWorkspace workspace(env, device.root());
  auto bundlesListed = [&] {
    return std::count_if(env.listed.begin(), env.listed.end(),
                         [](const std::string& path) { return path.ends_with(".app"); });
  };
  EXPECT_EQ(workspace.allInstalledApplications().size(), 4u);
  EXPECT_EQ(bundlesListed(), 4);
  // Icons of every application come from the same listings.
  for (const char* id : {"id.A", "id.B", "id.C", "id.D"})
    workspace.iconPathForIdentifier(id, 29, 2);
  EXPECT_EQ(bundlesListed(), 4);

  env.listed.clear();
  EXPECT_EQ(workspace.allInstalledApplications().size(), 4u);
  EXPECT_EQ(bundlesListed(), 0) << "unchanged folders are not listed again";

  // A localisation added to one bundle changes that folder only, and is seen at once.
  device.writeFile("Applications/B.app/fr.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = \"Bé\";");
  device.setEnvironment("LANGUAGE", "fr");
  auto proxies = workspace.allInstalledApplications();
  EXPECT_EQ(bundlesListed(), 1);
  EXPECT_EQ(find(proxies, "id.B")->localizedName, "Bé");
  EXPECT_EQ(find(proxies, "id.A")->localizedName, "A");
}

TEST(ApplicationWorkspaceTest, ABundleChangeRereadsItsInfoPlistAndTheTableIsCheckedOnItsOwn) {
  FakeDevice device;
  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Mail"));
  device.writeFile("Applications/Mail.app/en.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = \"Post\";");
  ObservingEnv env(device.env());
  env.clock = platform::defaultEnv().now() + 3600;
  platform::ApplicationWorkspace workspace(env, device.root());
  workspace.allInstalledApplications();
  env.reads = 0;
  env.identities = 0;
  workspace.allInstalledApplications();
  const int checksPerScan = env.identities;
  EXPECT_EQ(env.reads, 0);

  device.writeFile("Applications/Mail.app/en.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = \"Courrier\";");
  EXPECT_EQ(workspace.allInstalledApplications()[0].localizedName, "Courrier");
  EXPECT_EQ(env.reads, 1) << "the table only";

  env.reads = 0;
  env.identities = 0;
  device.writeFile("Applications/Mail.app/Icon.png", pngOfSize(60));
  EXPECT_EQ(workspace.allInstalledApplications()[0].localizedName, "Courrier");
  EXPECT_EQ(env.reads, 1) << "the Info.plist again, the table only checked";
  EXPECT_LE(env.identities, checksPerScan) << "no file looked at twice";
  EXPECT_TRUE(workspace.iconVersionForIdentifier("com.apple.mobilemail").has_value());
}

TEST(ApplicationWorkspaceTest, ALongLivedWorkspaceOverAnUnsettledDeviceKeepsAnsweringRight) {
  FakeDevice device;
  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Mail"));
  device.writeFile("Applications/Mail.app/Icon.png", pngOfSize(60));
  ObservingEnv env(device.env());
  env.clock = 0;  // nothing settles: every scan reads every file again
  platform::ApplicationWorkspace workspace(env, device.root());
  // Enough re-reads that what they leave behind is dropped more than once on the way.
  for (int scan = 0; scan < 4000; ++scan)
    ASSERT_EQ(workspace.allInstalledApplications().size(), 1u);
  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Post"));
  EXPECT_EQ(workspace.allInstalledApplications()[0].localizedName, "Post");
  EXPECT_TRUE(workspace.iconPathForIdentifier("com.apple.mobilemail", 60, 1).has_value());
  EXPECT_TRUE(workspace.iconVersionForIdentifier("com.apple.mobilemail").has_value());
}

TEST(ApplicationWorkspaceTest, RecentlyModifiedFileIsReadAgainThoughItsIdentityIsUnchanged) {
  FakeDevice device;
  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Mail"));
  ObservingEnv env(device.env());
  env.fixedIdentity = identityModifiedSecondsAgo(0.5);
  platform::ApplicationWorkspace workspace(env, device.root());
  EXPECT_EQ(workspace.allInstalledApplications()[0].localizedName, "Mail");
  // Rewritten within the same tick: same size, same times, same inode.
  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Post"));
  EXPECT_EQ(workspace.allInstalledApplications()[0].localizedName, "Post");
}

TEST(ApplicationWorkspaceTest, IconVersionNamesTheBundleAsScannedAndChangesWithIt) {
  FakeDevice device;
  device.addApplication("App.app", infoDictionary("com.example.app"));
  device.writeFile("Applications/App.app/Icon@2x.png", pngOfSize(58));
  device.addApplication("Bare.app", infoDictionary("com.example.bare"));
  ObservingEnv env(device.env());
  env.clock = platform::defaultEnv().now() + 3600;  // every file long settled
  platform::ApplicationWorkspace workspace(env, device.root());
  const auto unscanned = workspace.iconVersionForIdentifier("com.example.app");
  ASSERT_TRUE(unscanned.has_value()) << "found without a scan first";

  workspace.allInstalledApplications();
  env.identities = 0;
  const auto version = workspace.iconVersionForIdentifier("com.example.app");
  EXPECT_EQ(version, unscanned);
  EXPECT_EQ(workspace.iconVersionForIdentifier("com.example.bare"), std::nullopt);
  EXPECT_EQ(env.identities, 0) << "the scan's look at each bundle is enough";
  EXPECT_EQ(workspace.iconVersionForIdentifier("com.example.none"), std::nullopt);

  device.writeFile("Applications/App.app/Icon@3x.png", pngOfSize(87));
  workspace.allInstalledApplications();
  const auto added = workspace.iconVersionForIdentifier("com.example.app");
  EXPECT_NE(added, version);
  device.addApplication("App.app", infoDictionary("com.example.app", "Renamed"));
  workspace.allInstalledApplications();
  EXPECT_NE(workspace.iconVersionForIdentifier("com.example.app"), added);

  // Written within the clock's tick: the identity may not change with the next write.
  env.clock = 0;
  device.writeFile("Applications/App.app/Icon.png", pngOfSize(29));
  workspace.allInstalledApplications();
  EXPECT_NE(workspace.iconVersionForIdentifier("com.example.app"),
            workspace.iconVersionForIdentifier("com.example.app"));
}

TEST(ApplicationWorkspaceTest, IconVersionIsStillRightAfterAFileWentMissingSinceTheScan) {
  FakeDevice device;
  for (const char* name : {"A", "B"}) {
    device.addApplication(std::string(name) + ".app", infoDictionary(std::string("id.") + name));
    device.writeFile(std::string("Applications/") + name + ".app/Icon.png", pngOfSize(60));
  }
  ObservingEnv env(device.env());
  env.clock = platform::defaultEnv().now() + 3600;
  platform::ApplicationWorkspace workspace(env, device.root());
  workspace.allInstalledApplications();
  const auto versionOfB = workspace.iconVersionForIdentifier("id.B");
  ASSERT_TRUE(versionOfB.has_value());

  // Looking for A's icon again finds its file gone, which drops what was kept of it.
  ASSERT_TRUE(workspace.iconPathForIdentifier("id.A", 60, 1).has_value());
  device.removeFile("Applications/A.app/Icon.png");
  EXPECT_EQ(workspace.iconPathForIdentifier("id.A", 60, 1), std::nullopt);
  EXPECT_EQ(workspace.iconVersionForIdentifier("id.A"), std::nullopt);
  EXPECT_EQ(workspace.iconVersionForIdentifier("id.B"), versionOfB);
}

}  // namespace

namespace {

constexpr const char* kCache = "/home/Library/Caches/applications.cache";

TEST(ApplicationWorkspaceCacheTest, AFreshWorkspaceChecksTheKeptFilesInsteadOfReadingThem) {
  FakeDevice device;
  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Mail"));
  device.addApplication("Maps.app", infoDictionary("com.apple.maps", "Maps"),
                        "var/containers/Bundle/Application/U");
  device.writeFile("Applications/Mail.app/en.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = \"Post\";");
  ObservingEnv env(device.env());
  env.clock = platform::defaultEnv().now() + 3600;
  const auto first =
      platform::ApplicationWorkspace(env, device.root(), kCache).allInstalledApplications();
  ASSERT_EQ(first.size(), 2u);

  env.reads = 0;
  env.listed.clear();
  platform::ApplicationWorkspace next(env, device.root(), kCache);
  auto again = next.allInstalledApplications();
  EXPECT_EQ(env.reads, 1) << "the cache file only";
  EXPECT_TRUE(env.listed.empty());
  EXPECT_EQ(find(again, "com.apple.mobilemail")->localizedName, "Post");
  EXPECT_EQ(find(again, "com.apple.maps")->bundleURL, first[1].bundleURL);

  // A change made while no workspace ran is seen by the next one: the kept entry names another
  // identity.
  device.writeFile("Applications/Mail.app/en.lproj/InfoPlist.strings",
                   "CFBundleDisplayName = \"Courrier\";");
  device.addApplication("Maps.app", infoDictionary("com.apple.maps", "Plans"),
                        "var/containers/Bundle/Application/U");
  device.removeFile("Applications/Mail.app/Info.plist");
  device.addApplication("Notes.app", infoDictionary("com.apple.notes", "Notes"));
  again = platform::ApplicationWorkspace(env, device.root(), kCache).allInstalledApplications();
  EXPECT_EQ(find(again, "com.apple.mobilemail"), nullptr);
  EXPECT_EQ(find(again, "com.apple.maps")->localizedName, "Plans");
  EXPECT_EQ(find(again, "com.apple.notes")->localizedName, "Notes");
  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Mail"));
  again = platform::ApplicationWorkspace(env, device.root(), kCache).allInstalledApplications();
  EXPECT_EQ(find(again, "com.apple.mobilemail")->localizedName, "Courrier");
}

TEST(ApplicationWorkspaceCacheTest, ADamagedCacheIsPassedOverAndWrittenAnew) {
  FakeDevice device;
  device.addApplication("Mail.app", infoDictionary("com.apple.mobilemail", "Mail"));
  ObservingEnv env(device.env());
  env.clock = platform::defaultEnv().now() + 3600;
  auto scanReads = [&] {
    env.reads = 0;
    auto listed =
        platform::ApplicationWorkspace(env, device.root(), kCache).allInstalledApplications();
    EXPECT_EQ(listed.size(), 1u);
    return env.reads;
  };
  EXPECT_EQ(scanReads(), 2) << "no cache yet: the Info.plist, then the file written";
  std::string kept;
  ASSERT_TRUE(env.readFile(kCache, platform::FileKind::PreferenceDomain, kept).isOk());

  std::string flipped = kept;
  flipped[flipped.size() / 2] ^= 0x20;
  std::string longer = kept;
  longer.insert(longer.size() / 2, "x");
  for (const std::string& damaged :
       {kept.substr(0, kept.size() - 3), kept.substr(0, 10), flipped, longer, std::string()}) {
    ASSERT_TRUE(env.writeFileAtomically(kCache, damaged, 0600).isOk());
    EXPECT_EQ(scanReads(), 2) << "the cache file and the Info.plist";
    EXPECT_EQ(scanReads(), 1) << "the cache file, written anew";
  }
}

// On a real disk and a device of hundreds of bundles, the identity checks of a scan are made
// ahead of it on a second thread: a change in the bundles checked there is still seen, by the
// same workspace and by a fresh one starting from the cache file.
TEST(ApplicationWorkspaceCacheTest, ChecksMadeAheadOfALargeScanStillSeeEveryChange) {
  namespace fs = std::filesystem;
  hxtest::TemporaryDirectory root;
  auto write = [&](const std::string& relativePath, const std::string& bytes) {
    const fs::path path = root / relativePath;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  };
  auto bundle = [](int i) {
    char name[32];
    std::snprintf(name, sizeof name, "Applications/App%03d.app", i);
    return std::string(name);
  };
  constexpr int kBundles = 300;
  for (int i = 0; i < kBundles; ++i) {
    write(bundle(i) + "/Info.plist",
          hxtest::xmlPropertyList(Value(infoDictionary("id." + std::to_string(i), "Before"))));
    write(bundle(i) + "/en.lproj/InfoPlist.strings", "CFBundleDisplayName = \"Local\";");
  }
  // Old enough to be trusted by their identities.
  const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
    fs::last_write_time(entry.path(), past);
  }
  const std::string cache = root / "applications.cache";
  platform::ApplicationWorkspace workspace(platform::defaultEnv(), root.path(), cache);
  ASSERT_EQ(workspace.allInstalledApplications().size(), size_t{kBundles});

  write(bundle(250) + "/Info.plist",
        hxtest::xmlPropertyList(Value(infoDictionary("id.250", "Renamed"))));
  fs::remove(root / (bundle(250) + "/en.lproj/InfoPlist.strings"));
  write(bundle(260) + "/en.lproj/InfoPlist.strings", "CFBundleDisplayName = \"Changed\";");
  fs::remove(root / (bundle(270) + "/Info.plist"));
  for (bool fresh : {false, true}) {
    SCOPED_TRACE(fresh ? "a fresh workspace" : "the same workspace");
    const auto listed =
        fresh ? platform::ApplicationWorkspace(platform::defaultEnv(), root.path(), cache)
                    .allInstalledApplications()
              : workspace.allInstalledApplications();
    EXPECT_EQ(listed.size(), size_t{kBundles - 1});
    EXPECT_EQ(find(listed, "id.250")->localizedName, "Renamed");
    EXPECT_EQ(find(listed, "id.260")->localizedName, "Changed");
    EXPECT_EQ(find(listed, "id.270"), nullptr);
    EXPECT_EQ(find(listed, "id.280")->localizedName, "Local");
  }
}

}  // namespace
