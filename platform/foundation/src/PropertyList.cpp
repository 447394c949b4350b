#include "platform/foundation/PropertyList.h"

#include "PlistFormats_p.h"

namespace platform {

std::optional<Value> parsePropertyList(std::string_view bytes) {
  if (bytes.starts_with("bplist")) return plist::parseBinary(bytes);
  return plist::parseXml(bytes);
}

std::optional<std::string> serializePropertyList(const Value& value, PlistFormat format) {
  if (!value.isPropertyList()) return std::nullopt;
  return format == PlistFormat::Binary ? plist::writeBinary(value) : plist::writeXml(value);
}

std::optional<Value> readPropertyListFile(Env& env, const std::string& path, FileKind kind,
                                          std::optional<ValueKind> rootKind) {
  std::string contents;
  if (!env.readFile(path, kind, contents).isOk()) return std::nullopt;
  std::optional<Value> value = parsePropertyList(contents);
  if (!value || (rootKind && value->kind() != *rootKind)) return std::nullopt;
  return value;
}

Status writePropertyListFile(Env& env, const std::string& path, const Value& value,
                             PlistFormat format, mode_t mode) {
  std::optional<std::string> bytes = serializePropertyList(value, format);
  if (!bytes) return Status::invalidArgument(path + ": not a property list");
  return env.writeFileAtomically(path, *bytes, mode);
}

}  // namespace platform
