// A device root in memory for workspace and catalogue tests: bundles are written into a
// MemoryEnv, and the environment variables the workspace sees are the test's own, not the
// process's, so the user's language is under the test's control.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/foundation/Env.h"
#include "platform/foundation/Value.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace hxtest {

// An XML property list of `value` (strings, numbers, booleans, arrays, dictionaries).
std::string xmlPropertyList(const platform::Value& value);

// The Info.plist dictionary of an application with these keys; none are added for absent
// arguments.
platform::Value::Dictionary infoDictionary(const std::string& identifier,
                                           const char* displayName = nullptr,
                                           const char* bundleName = nullptr);

// Forwards to `target`, except that the environment variables are only those set here.
class VariablesEnv : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  std::optional<std::string> getEnvironment(const std::string& name) override;
  std::map<std::string, std::string> variables;
};

class FakeDevice {
 public:
  FakeDevice();

  platform::Env& env() { return environment_; }
  const std::string& root() const { return root_; }
  platform::ApplicationWorkspace& workspace() { return workspace_; }

  // Variables the workspace reads (LANGUAGE, LANG, ...); all others are unset.
  void setEnvironment(const std::string& name, const std::string& value);

  // Writes `bytes` at `relativePath` under the root, creating folders.
  void writeFile(const std::string& relativePath, const std::string& bytes);
  void removeFile(const std::string& relativePath);
  // Writes <folder>/<bundleName>/Info.plist with `info`; returns the bundle's path.
  std::string addApplication(const std::string& bundleName, const platform::Value::Dictionary& info,
                             const std::string& folder = "Applications");

 private:
  std::unique_ptr<platform::Env> memory_;
  VariablesEnv environment_;
  const std::string root_ = "/device";
  platform::ApplicationWorkspace workspace_;
};

// A PNG header (and nothing after it) of a `pixels` x `pixels` image: enough for icon lookup.
std::string pngOfSize(unsigned pixels);

}  // namespace hxtest
