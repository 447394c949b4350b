// Path helpers as the platform's path-string operations answer: '/' separates components,
// repeated and trailing separators do not count, and a leading dot does not start an extension.
#include <string>

#include "platform/foundation/Env.h"

namespace platform {
namespace {

// `path` without trailing separators, keeping a lone "/".
std::string trimmed(const std::string& path) {
  std::size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  return path.substr(0, end);
}

// The index of the dot that starts the extension of the last component, or npos.
std::size_t extensionDot(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot <= start || dot + 1 == name.size()) {
    return std::string::npos;
  }
  return dot;
}

}  // namespace

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  // One allocation: the workspace joins several paths per installed application and scan.
  std::size_t folderEnd = folder.size();
  while (folderEnd > 1 && folder[folderEnd - 1] == '/') --folderEnd;
  std::size_t start = 0;
  while (start < name.size() && name[start] == '/') ++start;
  std::size_t end = name.size();
  while (end > start && name[end - 1] == '/') --end;
  if (start == end) return folder.substr(0, folderEnd);
  std::string result;
  result.reserve(folderEnd + 1 + (end - start));
  result.append(folder, 0, folderEnd);
  if (result.back() != '/') result += '/';
  result.append(name, start, end - start);
  return result;
}

std::string lastPathComponent(const std::string& path) {
  const std::string clean = trimmed(path);
  if (clean == "/") return clean;
  const std::size_t slash = clean.rfind('/');
  return slash == std::string::npos ? clean : clean.substr(slash + 1);
}

std::string deletingLastPathComponent(const std::string& path) {
  const std::string clean = trimmed(path);
  if (clean == "/") return clean;
  std::size_t slash = clean.rfind('/');
  if (slash == std::string::npos) return "";
  while (slash > 0 && clean[slash - 1] == '/') --slash;
  return slash == 0 ? "/" : clean.substr(0, slash);
}

std::string deletingPathExtension(const std::string& name) {
  const std::string clean = trimmed(name);
  const std::size_t dot = extensionDot(clean);
  return dot == std::string::npos ? clean : clean.substr(0, dot);
}

std::string pathExtension(const std::string& name) {
  const std::string clean = trimmed(name);
  const std::size_t dot = extensionDot(clean);
  return dot == std::string::npos ? "" : clean.substr(dot + 1);
}

}  // namespace platform
