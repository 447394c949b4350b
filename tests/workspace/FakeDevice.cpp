#include "workspace/FakeDevice.h"

#include <gtest/gtest.h>

namespace hxtest {

using platform::Value;

namespace {

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

void appendXml(std::string& out, const Value& value) {
  switch (value.kind()) {
    case platform::ValueKind::String:
      out += "<string>" + escaped(value.stringValue()) + "</string>";
      break;
    case platform::ValueKind::Integer:
      out += "<integer>" + std::to_string(value.integerBits()) + "</integer>";
      break;
    case platform::ValueKind::Boolean:
      out += value.booleanValue() ? "<true/>" : "<false/>";
      break;
    case platform::ValueKind::Array:
      out += "<array>";
      for (const Value& element : value.arrayValue()) appendXml(out, element);
      out += "</array>";
      break;
    case platform::ValueKind::Dictionary:
      out += "<dict>";
      for (const auto& [key, element] : value.dictionaryValue()) {
        out += "<key>" + escaped(key) + "</key>";
        appendXml(out, element);
      }
      out += "</dict>";
      break;
    default:
      ADD_FAILURE() << "xmlPropertyList: unsupported kind " << valueKindName(value.kind());
  }
}

}  // namespace

std::string xmlPropertyList(const Value& value) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">";
  appendXml(out, value);
  return out + "</plist>\n";
}

Value::Dictionary infoDictionary(const std::string& identifier, const char* displayName,
                                 const char* bundleName) {
  Value::Dictionary info{{"CFBundleIdentifier", Value(identifier)}};
  if (displayName != nullptr) info.emplace("CFBundleDisplayName", Value(displayName));
  if (bundleName != nullptr) info.emplace("CFBundleName", Value(bundleName));
  return info;
}

FakeDevice::FakeDevice()
    : memory_(platform::newMemoryEnv(platform::defaultEnv())),
      environment_(*memory_),
      workspace_(environment_, root_) {}

std::optional<std::string> VariablesEnv::getEnvironment(const std::string& name) {
  auto it = variables.find(name);
  if (it == variables.end()) return std::nullopt;
  return it->second;
}

void FakeDevice::setEnvironment(const std::string& name, const std::string& value) {
  environment_.variables[name] = value;
}

void FakeDevice::writeFile(const std::string& relativePath, const std::string& bytes) {
  const std::string path = platform::joinPath(root_, relativePath);
  ASSERT_TRUE(
      environment_.createDirectories(platform::deletingLastPathComponent(path), 0755).isOk());
  ASSERT_TRUE(environment_.writeFileAtomically(path, bytes, 0644).isOk()) << path;
}

void FakeDevice::removeFile(const std::string& relativePath) {
  ASSERT_TRUE(environment_.removeFile(platform::joinPath(root_, relativePath)).isOk());
}

std::string FakeDevice::addApplication(const std::string& bundleName, const Value::Dictionary& info,
                                       const std::string& folder) {
  const std::string bundle = platform::joinPath(folder, bundleName);
  writeFile(platform::joinPath(bundle, "Info.plist"), xmlPropertyList(Value(info)));
  return platform::joinPath(root_, bundle);
}

std::string pngOfSize(unsigned pixels) {
  std::string bytes("\x89PNG\r\n\x1a\n", 8);
  bytes += std::string("\0\0\0\x0dIHDR", 8);
  for (int i = 0; i < 2; ++i) {
    bytes.push_back(static_cast<char>(pixels >> 24));
    bytes.push_back(static_cast<char>(pixels >> 16));
    bytes.push_back(static_cast<char>(pixels >> 8));
    bytes.push_back(static_cast<char>(pixels));
  }
  bytes += std::string("\x08\x06\0\0\0", 5);
  return bytes;
}

}  // namespace hxtest
