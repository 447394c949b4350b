#include "platform/foundation/Bundle.h"

#include <gtest/gtest.h>

#include "platform/foundation/Process.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SearchPaths.h"

namespace platform {
namespace {

class BundleTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env_->createDirectories("/dev/App.app/Resources", 0755).isOk());
  }
  void write(const std::string& path, const std::string& contents) {
    ASSERT_TRUE(env_->writeFileAtomically(path, contents, 0644).isOk());
  }
  std::unique_ptr<Env> env_ = newMemoryEnv(defaultEnv());
};

TEST_F(BundleTest, OpensOnlyExistingFolders) {
  write("/dev/file", "x");
  EXPECT_EQ(Bundle::bundleWithPath("/dev/missing.bundle", *env_), nullptr);
  EXPECT_EQ(Bundle::bundleWithPath("/dev/file", *env_), nullptr);
  EXPECT_EQ(Bundle::bundleWithPath("", *env_), nullptr);
  const auto bundle = Bundle::bundleWithPath("/dev/App.app", *env_);
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->bundlePath(), "/dev/App.app");
}

TEST_F(BundleTest, InfoDictionaryFallsBackToNoneAndIdentifierMustBeAString) {
  struct Case {
    const char* name;
    std::optional<Value> info;  // none: no Info.plist at all
    std::string raw;            // written as is when not empty
    bool hasDictionary;
    std::optional<std::string> identifier;
  };
  const std::vector<Case> cases = {
      {"valid", Value::dictionary({{"CFBundleIdentifier", Value("com.example.app")}}), "", true,
       "com.example.app"},
      {"identifier of the wrong kind",
       Value::dictionary({{"CFBundleIdentifier", Value::integer(5)}}), "", true, std::nullopt},
      {"no identifier", Value::dictionary(), "", true, std::nullopt},
      {"array root", Value::array({Value("x")}), "", false, std::nullopt},
      {"garbage", std::nullopt, "not a plist", false, std::nullopt},
      {"missing", std::nullopt, "", false, std::nullopt},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = "/dev/B" + std::to_string(n++) + ".bundle";
    ASSERT_TRUE(env_->createDirectories(folder, 0755).isOk());
    if (c.info) {
      ASSERT_TRUE(writePropertyListFile(*env_, folder + "/Info.plist", *c.info).isOk());
    } else if (!c.raw.empty()) {
      write(folder + "/Info.plist", c.raw);
    }
    const auto bundle = Bundle::bundleWithPath(folder, *env_);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(bundle->infoDictionary().isDictionary(), c.hasDictionary);
    EXPECT_EQ(bundle->infoDictionary().isNone(), !c.hasDictionary);
    EXPECT_EQ(bundle->bundleIdentifier(), c.identifier);
  }
}

TEST_F(BundleTest, ResourcesAreFoundInTheFolderThenInResources) {
  write("/dev/App.app/defaults.plist", "top");
  write("/dev/App.app/Resources/defaults.plist", "nested");
  write("/dev/App.app/Resources/Only.png", "png");
  write("/dev/App.app/README", "text");
  ASSERT_TRUE(env_->createDirectories("/dev/App.app/Resources/Inner.bundle", 0755).isOk());
  const auto bundle = Bundle::bundleWithPath("/dev/App.app", *env_);
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->pathForResourceOfType("defaults", "plist"), "/dev/App.app/defaults.plist");
  EXPECT_EQ(bundle->pathForResourceOfType("defaults", ".plist"), "/dev/App.app/defaults.plist");
  EXPECT_EQ(bundle->pathForResourceOfType("Only", "png"), "/dev/App.app/Resources/Only.png");
  EXPECT_EQ(bundle->pathForResourceOfType("Only.png", ""), "/dev/App.app/Resources/Only.png");
  EXPECT_EQ(bundle->pathForResourceOfType("README", ""), "/dev/App.app/README");
  EXPECT_EQ(bundle->pathForResourceOfType("Inner", "bundle"),
            "/dev/App.app/Resources/Inner.bundle");
  EXPECT_EQ(bundle->pathForResourceOfType("defaults", "json"), std::nullopt);
  EXPECT_EQ(bundle->pathForResourceOfType("", "plist"), std::nullopt);
}

TEST(SearchPathsTest, DomainsMapOntoTheDeviceRootAndUserHome) {
  const std::string previousRoot = deviceRoot();
  const std::string previousHome = userHome();
  setDeviceRoot("/device");
  setUserHome("/home/mobile");
  using V = std::vector<std::string>;
  const auto support = SearchPathDirectory::ApplicationSupport;
  const auto library = SearchPathDirectory::Library;
  EXPECT_EQ(NSSearchPathForDirectoriesInDomains(support, SystemDomainMask, true),
            V{"/device/Library/Application Support"});
  EXPECT_EQ(NSSearchPathForDirectoriesInDomains(support, LocalDomainMask | SystemDomainMask, true),
            V{"/device/Library/Application Support"});
  EXPECT_EQ(NSSearchPathForDirectoriesInDomains(library, SystemDomainMask, true),
            V{"/device/System/Library"});
  EXPECT_EQ(NSSearchPathForDirectoriesInDomains(library, LocalDomainMask | SystemDomainMask, true),
            (V{"/device/Library", "/device/System/Library"}));
  EXPECT_EQ(NSSearchPathForDirectoriesInDomains(support, UserDomainMask, true),
            V{"/home/mobile/Library/Application Support"});
  EXPECT_EQ(NSSearchPathForDirectoriesInDomains(library, UserDomainMask, false), V{"~/Library"});
  EXPECT_EQ(NSSearchPathForDirectoriesInDomains(support, 0xFFFF, true),
            (V{"/home/mobile/Library/Application Support", "/device/Library/Application Support",
               "/device/Network/Library/Application Support"}));
  EXPECT_TRUE(NSSearchPathForDirectoriesInDomains(support, 0, true).empty());
  setDeviceRoot("/");
  EXPECT_EQ(NSSearchPathForDirectoriesInDomains(support, SystemDomainMask, true),
            V{"/Library/Application Support"});
  setDeviceRoot(previousRoot);
  setUserHome(previousHome);
}

}  // namespace
}  // namespace platform
