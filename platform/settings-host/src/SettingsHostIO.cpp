#include "SettingsHostIO_p.h"

#include "platform/foundation/Env.h"
#include "platform/foundation/PropertyList.h"

namespace platform::hostio {

std::optional<Value> readPropertyList(Env& env, const std::string& path, FileKind kind,
                                      std::string& error) {
  std::optional<Value> root = readPropertyListFile(env, path, kind);
  if (!root) error = env.fileExists(path) ? "not a well-formed property list" : "no such file";
  return root;
}

}  // namespace platform::hostio
