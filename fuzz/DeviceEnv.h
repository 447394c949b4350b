// A device held in memory for the workspace's fuzz targets: every path the workspace asks about
// goes to `check` first (which aborts on one it should never reach), no language is set, and the
// clock runs `clockOffset` seconds ahead, so that files written at the start count as settled.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Env.h"

namespace fuzzing {

class DeviceEnv : public platform::EnvWrapper {
 public:
  DeviceEnv(platform::Env& base, std::function<void(const std::string&)> check,
            double clockOffset = 0)
      : EnvWrapper(base), check_(std::move(check)), clockOffset_(clockOffset) {}

  platform::Status readFile(const std::string& path, platform::FileKind kind,
                            std::string& contents) override {
    check_(path);
    return EnvWrapper::readFile(path, kind, contents);
  }
  platform::Status readFileHeld(const std::string& path, platform::FileKind kind,
                                std::string& contents, std::unique_ptr<platform::HeldFile>& held,
                                platform::FileIdentity& identity) override {
    check_(path);
    return EnvWrapper::readFileHeld(path, kind, contents, held, identity);
  }
  platform::Status fileIdentity(const std::string& path,
                                platform::FileIdentity& identity) override {
    check_(path);
    return EnvWrapper::fileIdentity(path, identity);
  }
  platform::Status openFolder(const std::string& path,
                              std::unique_ptr<platform::OpenFolder>& folder) override {
    check_(path);
    return EnvWrapper::openFolder(path, folder);
  }
  bool fileExists(const std::string& path) override {
    check_(path);
    return EnvWrapper::fileExists(path);
  }
  bool isDirectory(const std::string& path) override {
    check_(path);
    return EnvWrapper::isDirectory(path);
  }
  platform::Status listDirectory(const std::string& path,
                                 std::vector<std::string>& names) override {
    check_(path);
    return EnvWrapper::listDirectory(path, names);
  }
  std::optional<std::string> getEnvironment(const std::string&) override { return std::nullopt; }
  double now() override { return EnvWrapper::now() + clockOffset_; }

 private:
  std::function<void(const std::string&)> check_;
  double clockOffset_;
};

}  // namespace fuzzing
