// A platform for unit tests of the store: files in memory, notifications inside the process,
// and a resource bundle written where the store looks for it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/preferences/PreferenceStore.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace hxtest {

inline constexpr const char* kTestRoot = "/device";
inline constexpr const char* kTestPreferences = "/home/Library/Preferences";
inline constexpr const char* kBundleFolder =
    "/device/Library/Application Support/com.orlentis.halvex.bundle";

// Forwards to the memory files, except that writes and lock takes fail with the status set
// here (a full disk, a lock another process holds past the wait bound).
class FaultEnv : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  platform::Status createTemporaryFile(const std::string& path, mode_t mode,
                                       std::unique_ptr<platform::WritableFile>& file,
                                       std::string& temporaryPath) override {
    if (!writeFailure.isOk()) return writeFailure;
    return EnvWrapper::createTemporaryFile(path, mode, file, temporaryPath);
  }
  platform::Status lockFile(const std::string& path,
                            std::unique_ptr<platform::FileLock>& lock) override {
    if (!lockFailure.isOk()) return lockFailure;
    return EnvWrapper::lockFile(path, lock);
  }
  platform::Status writeFailure;
  platform::Status lockFailure;
};

class MemoryPlatform {
 public:
  MemoryPlatform()
      : env_(platform::newMemoryEnv(platform::defaultEnv())),
        faults_(*env_),
        store_(std::make_unique<platform::PreferenceStore>(faults_, kTestPreferences)),
        notifications_(platform::newLocalNotificationCenter(platform::RunLoop::main())),
        workspace_(std::make_unique<platform::ApplicationWorkspace>(faults_, kTestRoot)),
        platform_{faults_, *store_, *notifications_, *workspace_, platform::RunLoop::main()} {
    platform::setDeviceRoot(kTestRoot);
    env_->createDirectories(kTestPreferences, 0700);
  }

  platform::Platform& platform() { return platform_; }
  platform::Env& env() { return *env_; }
  FaultEnv& faults() { return faults_; }
  platform::NotificationCenter& notifications() { return *notifications_; }

  // A second store over the same files: another process's view of the domain.
  std::unique_ptr<platform::PreferenceStore> otherStore() {
    return std::make_unique<platform::PreferenceStore>(*env_, kTestPreferences);
  }

  void writeDefaults(const platform::Value& defaults) {
    env_->createDirectories(kBundleFolder, 0755);
    platform::writePropertyListFile(*env_, std::string(kBundleFolder) + "/defaults.plist", defaults,
                                    platform::PlistFormat::Xml);
  }

 private:
  std::unique_ptr<platform::Env> env_;
  FaultEnv faults_;
  std::unique_ptr<platform::PreferenceStore> store_;
  std::unique_ptr<platform::NotificationCenter> notifications_;
  std::unique_ptr<platform::ApplicationWorkspace> workspace_;
  platform::Platform platform_;
};

// Everything posted through a centre, in order, once the run loop has delivered it.
class NotificationRecorder {
 public:
  explicit NotificationRecorder(platform::NotificationCenter& center)
      : token_(
            center.addObserver(std::nullopt, std::nullopt,
                               [this](const platform::Notification& n) { seen_.push_back(n); })) {}
  const std::vector<platform::Notification>& seen() {
    platform::RunLoop::main().runPending();
    return seen_;
  }

 private:
  std::vector<platform::Notification> seen_;
  platform::ObserverToken token_;
};

// Sets the process identity for one test and restores it afterwards.
class ScopedIdentity {
 public:
  explicit ScopedIdentity(std::string identifier) : previous_(platform::mainBundleIdentifier()) {
    platform::setMainBundleIdentifier(std::move(identifier));
  }
  ~ScopedIdentity() { platform::setMainBundleIdentifier(previous_); }

 private:
  std::string previous_;
};

}  // namespace hxtest
