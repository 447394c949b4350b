#include "platform/workspace/ApplicationWorkspace.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <unordered_map>

#include "platform/foundation/Env.h"
#include "platform/foundation/PngHeader.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"
#include "platform/workspace/StringsFile.h"

namespace platform {
namespace {

constexpr std::string_view kInfoPlist = "Info.plist";
constexpr std::string_view kInfoPlistStrings = "InfoPlist.strings";
constexpr std::string_view kBundleIdentifierKey = "CFBundleIdentifier";
constexpr std::string_view kDisplayNameKey = "CFBundleDisplayName";
constexpr std::string_view kBundleNameKey = "CFBundleName";
constexpr std::string_view kDevelopmentRegionKey = "CFBundleDevelopmentRegion";
constexpr std::string_view kAppTagsKey = "SBAppTags";

// Sorted names of a folder, for cheap membership tests without a system call per file.
using Listing = std::vector<std::string>;

bool contains(const Listing& listing, std::string_view name) {
  return std::binary_search(listing.begin(), listing.end(), name,
                            [](std::string_view a, std::string_view b) { return a < b; });
}

bool hasAppExtension(const std::string& name) {
  return name.size() > 4 && name.ends_with(".app");
}

std::optional<std::string> identifierOf(const Value& info) {
  const Value& identifier = info[kBundleIdentifierKey];
  if (!identifier.isString() || identifier.stringValue().empty()) return std::nullopt;
  return identifier.stringValue();
}

std::vector<std::string> stringElements(const Value& array) {
  std::vector<std::string> strings;
  for (const Value& element : array.arrayValue()) {
    if (element.isString()) strings.push_back(element.stringValue());
  }
  return strings;
}

// "de_DE.UTF-8@euro" -> "de_DE"; "C" and "POSIX" name no language.
std::optional<std::string> languageFromLocale(std::string value) {
  value = value.substr(0, value.find_first_of(".@"));
  if (value.empty() || value == "C" || value == "POSIX") return std::nullopt;
  return value;
}

void appendUnique(std::vector<std::string>& list, std::string item) {
  if (!item.empty() && std::find(list.begin(), list.end(), item) == list.end()) {
    list.push_back(std::move(item));
  }
}

// The localisation folders of the user's language, best first ("de_DE", "de-DE", "de").
std::vector<std::string> userLanguages(Env& env) {
  std::optional<std::string> language;
  if (auto list = env.getEnvironment("LANGUAGE")) {
    language = languageFromLocale(list->substr(0, list->find(':')));
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (language) break;
    if (auto value = env.getEnvironment(name); value && !value->empty()) {
      language = languageFromLocale(*value);
      break;  // the first one set decides, even when it names no language ("C")
    }
  }
  std::vector<std::string> languages;
  if (!language) return languages;
  const std::size_t separator = language->find_first_of("_-");
  if (separator == std::string::npos) {
    languages.push_back(*language);
    return languages;
  }
  std::string underscored = *language;
  std::string hyphenated = *language;
  underscored[separator] = '_';
  hyphenated[separator] = '-';
  appendUnique(languages, underscored);
  appendUnique(languages, hyphenated);
  appendUnique(languages, language->substr(0, separator));
  return languages;
}

// Icon names must stay inside the bundle folder.
bool isSafeFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace

// What the workspace keeps of a bundle's Info.plist: the keys it answers from, not the whole
// dictionary, since it keeps one per installed application.
struct BundleInfo {
  std::string identifier;  // never empty
  std::vector<std::string> appTags;
  std::optional<std::string> displayName;
  std::optional<std::string> bundleName;
  std::optional<std::string> developmentRegion;
  // The icon names of each icon source, best source first (see iconPathForIdentifier).
  std::vector<std::vector<std::string>> iconSources;
};

namespace {

std::optional<std::string> stringOf(const Value& value) {
  if (!value.isString()) return std::nullopt;
  return value.stringValue();
}

}  // namespace

// None unless the bytes are a plist whose root is a dictionary with a non-empty string
// CFBundleIdentifier.
static std::optional<BundleInfo> parseBundleInfo(std::string_view bytes) {
  std::optional<Value> root = parsePropertyList(bytes);
  if (!root || !root->isDictionary()) return std::nullopt;
  const Value& info = *root;
  std::optional<std::string> identifier = identifierOf(info);
  if (!identifier) return std::nullopt;
  BundleInfo bundle;
  bundle.identifier = std::move(*identifier);
  bundle.appTags = stringElements(info[kAppTagsKey]);
  bundle.displayName = stringOf(info[kDisplayNameKey]);
  bundle.bundleName = stringOf(info[kBundleNameKey]);
  bundle.developmentRegion = stringOf(info[kDevelopmentRegionKey]);
  bundle.iconSources.push_back(
      stringElements(info["CFBundleIcons"]["CFBundlePrimaryIcon"]["CFBundleIconFiles"]));
  bundle.iconSources.push_back(stringElements(info["CFBundleIconFiles"]));
  if (auto file = stringOf(info["CFBundleIconFile"])) bundle.iconSources.push_back({*file});
  bundle.iconSources.push_back({"AppIcon60x60", "Icon"});
  return bundle;
}

// Parsed Info.plists and localisation tables by path, each with the identity of the file it
// came from. A file is read and parsed again only when its identity changes, so a scan of an
// unchanged device costs a stat per file instead of a read and a parse.
struct ApplicationWorkspace::FileCache {
  template <typename T>
  struct Entry {
    FileIdentity identity;
    std::optional<T> parsed;  // none when the file is malformed
    std::uint64_t scan = 0;   // the last scan that used the entry
    bool racy = false;        // modified too recently for its identity to be trusted
  };
  template <typename T>
  using Table = std::unordered_map<std::string, Entry<T>>;

  Table<BundleInfo> infos;
  Table<StringsTable> strings;
  Table<std::uint32_t> pngSizes;  // the larger side in pixels of each icon file looked at
  Table<Listing> folders;         // bundle folders' names
  std::uint64_t scan = 0;
  std::uint64_t unsettledVersions = 0;  // icon versions handed out for unsettled bundles

  // The names in the folder at `path`, or nullptr when it cannot be listed. A folder's times
  // move whenever an entry is added, removed or renamed, so a listing is taken again only when
  // the folder's identity changed (or it was modified too recently to tell).
  // The pointer is valid until the next lookup of the same path or the next prune.
  const Listing* listing(Env& env, const std::string& path) {
    auto it = folders.find(path);
    if (it != folders.end() && !it->second.racy) {
      FileIdentity identity;
      if (!env.fileIdentity(path, identity).isOk()) {
        folders.erase(it);
        return nullptr;
      }
      if (it->second.identity == identity) {
        it->second.scan = scan;
        return &*it->second.parsed;
      }
    }
    Listing names;
    FileIdentity identity;
    if (!env.listDirectoryWithIdentity(path, names, identity).isOk()) {
      if (it != folders.end()) folders.erase(it);
      return nullptr;
    }
    const bool racy = isRacy(env, identity);
    it = folders.insert_or_assign(path, Entry<Listing>{identity, std::move(names), scan, racy})
             .first;
    return &*it->second.parsed;
  }

  // The listing of `path` taken or checked in the current scan, else nullptr.
  const Listing* listedInThisScan(const std::string& path) const {
    auto it = folders.find(path);
    if (it == folders.end() || it->second.scan != scan || !it->second.parsed) return nullptr;
    return &*it->second.parsed;
  }

  // File times tick coarsely, so a file written twice within one tick at the same size
  // keeps its identity. An identity is trusted only once the file's modification time is
  // safely in the past; until then the file is read every time.
  static bool isRacy(Env& env, const FileIdentity& identity) {
    constexpr std::int64_t kSettleNanoseconds = 2'000'000'000;
    const auto now = static_cast<std::int64_t>(env.now() * 1e9);
    return now - identity.mtimeNanoseconds < kSettleNanoseconds;
  }

  // The parsed file at `path`, or nullptr when it is missing, unreadable or malformed.
  // The pointer is valid until the next lookup of the same path or the next prune.
  template <typename T, typename Parse>
  const T* lookup(Env& env, Table<T>& table, const std::string& path, FileKind kind, Parse parse) {
    auto it = table.find(path);
    if (it != table.end() && !it->second.racy) {
      FileIdentity identity;
      if (!env.fileIdentity(path, identity).isOk()) {
        table.erase(it);
        return nullptr;
      }
      if (it->second.identity == identity) {
        it->second.scan = scan;
        return it->second.parsed ? &*it->second.parsed : nullptr;
      }
    }
    std::string bytes;
    std::unique_ptr<HeldFile> held;
    FileIdentity identity;
    if (!env.readFileHeld(path, kind, bytes, held, identity).isOk()) {
      if (it != table.end()) table.erase(it);
      return nullptr;
    }
    const bool racy = isRacy(env, identity);
    it = table.insert_or_assign(path, Entry<T>{identity, parse(bytes), scan, racy}).first;
    return it->second.parsed ? &*it->second.parsed : nullptr;
  }

  // Drops what the last scan did not use: bundles and tables no longer installed.
  void prune() {
    std::erase_if(infos, [&](const auto& entry) { return entry.second.scan != scan; });
    std::erase_if(strings, [&](const auto& entry) { return entry.second.scan != scan; });
    std::erase_if(folders, [&](const auto& entry) { return entry.second.scan != scan; });
    // Icon files are looked at between scans, so they are kept until a whole scan passed
    // without a look.
    std::erase_if(pngSizes, [&](const auto& entry) { return entry.second.scan + 1 < scan; });
  }
};

ApplicationWorkspace::ApplicationWorkspace(Env& env, std::string deviceRoot)
    : env_(env), deviceRoot_(std::move(deviceRoot)), cache_(std::make_unique<FileCache>()) {}

ApplicationWorkspace::~ApplicationWorkspace() = default;

const BundleInfo* ApplicationWorkspace::bundleInfo(const std::string& bundlePath) const {
  return cache_->lookup(env_, cache_->infos, joinPath(bundlePath, std::string(kInfoPlist)),
                        FileKind::InfoPlist, parseBundleInfo);
}

std::vector<std::string> ApplicationWorkspace::preferredLocalizations() const {
  std::vector<std::string> localizations = userLanguages(env_);
  appendUnique(localizations, "en");
  appendUnique(localizations, "Base");
  return localizations;
}

std::vector<std::string> ApplicationWorkspace::bundlePaths() const {
  std::vector<std::string> paths;
  const std::string applications = joinPath(deviceRoot_, "Applications");
  if (const Listing* names = cache_->listing(env_, applications)) {
    for (const std::string& name : *names) {
      if (hasAppExtension(name)) paths.push_back(joinPath(applications, name));
    }
  }
  const std::string containers = joinPath(deviceRoot_, "var/containers/Bundle/Application");
  if (const Listing* containerNames = cache_->listing(env_, containers)) {
    for (const std::string& container : *containerNames) {
      const std::string containerPath = joinPath(containers, container);
      const Listing* names = cache_->listing(env_, containerPath);
      if (names == nullptr) continue;
      for (const std::string& name : *names) {
        if (hasAppExtension(name)) paths.push_back(joinPath(containerPath, name));
      }
    }
  }
  return paths;
}

std::vector<ApplicationProxy> ApplicationWorkspace::allInstalledApplications() const {
  const std::vector<std::string> languages = userLanguages(env_);
  std::vector<ApplicationProxy> applications;
  std::unordered_map<std::string, std::string> index;
  // Only what is needed is touched per bundle (its Info.plist and a check per candidate
  // localisation), since the catalogue reads every bundle on every call.
  ++cache_->scan;
  for (const std::string& bundlePath : bundlePaths()) {
    // One listing per bundle answers which files exist: no open of a missing Info.plist, no
    // probe per candidate localisation.
    const Listing* listed = cache_->listing(env_, bundlePath);
    if (listed == nullptr || !contains(*listed, kInfoPlist)) continue;
    const Listing& listing = *listed;
    const BundleInfo* info = bundleInfo(bundlePath);
    if (info == nullptr) continue;

    ApplicationProxy proxy;
    proxy.applicationIdentifier = info->identifier;
    proxy.appTags = info->appTags;
    proxy.bundleURL = bundlePath;

    // The bundle speaks one localisation: the first folder present among the user's
    // languages, its development region, then English and Base. Its table overrides
    // Info.plist key by key.
    std::vector<std::string> candidates = languages;
    if (info->developmentRegion) appendUnique(candidates, *info->developmentRegion);
    appendUnique(candidates, "en");
    appendUnique(candidates, "Base");
    const StringsTable* localized = nullptr;
    for (const std::string& candidate : candidates) {
      const std::string folder = candidate + ".lproj";
      if (!isSafeFileName(folder) || !contains(listing, folder)) continue;
      localized = cache_->lookup(
          env_, cache_->strings,
          joinPath(joinPath(bundlePath, folder), std::string(kInfoPlistStrings)),
          FileKind::StringsFile, [](std::string_view bytes) { return parseStringsFile(bytes); });
      break;
    }
    for (const auto& [key, value] : {std::pair{kDisplayNameKey, &info->displayName},
                                     std::pair{kBundleNameKey, &info->bundleName}}) {
      if (auto it = localized ? localized->find(key) : StringsTable::const_iterator();
          localized && it != localized->end()) {
        proxy.localizedName = it->second;
        break;
      }
      if (*value) {
        proxy.localizedName = **value;
        break;
      }
    }
    index.insert_or_assign(proxy.applicationIdentifier, bundlePath);
    applications.push_back(std::move(proxy));
  }
  bundleIndex_ = std::move(index);
  cache_->prune();
  return applications;
}

std::optional<std::pair<std::string, const BundleInfo*>> ApplicationWorkspace::findBundle(
    const std::string& identifier) const {
  // The index may be stale (a bundle removed or replaced since); trust it only when the
  // bundle still carries the identifier, otherwise scan again once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1) allInstalledApplications();
    auto it = bundleIndex_.find(identifier);
    if (it == bundleIndex_.end()) continue;
    const BundleInfo* info = bundleInfo(it->second);
    if (info != nullptr && info->identifier == identifier) return std::make_pair(it->second, info);
  }
  return std::nullopt;
}

namespace {

// The names tried for the icon name `name`, best first; none for an unsafe name.
std::vector<std::string> iconFileNames(const std::string& name) {
  if (!isSafeFileName(name)) return {};
  std::string base = name;
  if (base.size() > 4 && pathExtension(base) == "png") base = deletingPathExtension(base);
  return {base + "@2x.png", base + "@3x.png", base + ".png", name};
}

// The files of each icon source that `listing` holds, best source first, each source's files
// in the order tried; sources naming no such file are left out.
std::vector<std::vector<std::string>> iconCandidates(
    const Listing& listing, const std::vector<std::vector<std::string>>& sources) {
  std::vector<std::vector<std::string>> candidates;
  for (const std::vector<std::string>& names : sources) {
    std::vector<std::string> files;
    for (const std::string& name : names) {
      for (std::string& file : iconFileNames(name)) {
        if (contains(listing, file)) appendUnique(files, std::move(file));
      }
    }
    if (!files.empty()) candidates.push_back(std::move(files));
  }
  return candidates;
}

bool hasIconCandidate(const Listing& listing,
                      const std::vector<std::vector<std::string>>& sources) {
  for (const std::vector<std::string>& names : sources) {
    for (const std::string& name : names) {
      for (const std::string& file : iconFileNames(name)) {
        if (contains(listing, file)) return true;
      }
    }
  }
  return false;
}

void appendIdentity(std::string& out, const FileIdentity& identity) {
  char text[112];
  std::snprintf(text, sizeof text, "|%llx:%llx:%llx:%llx:%llx",
                static_cast<unsigned long long>(identity.device),
                static_cast<unsigned long long>(identity.inode),
                static_cast<unsigned long long>(identity.size),
                static_cast<unsigned long long>(identity.mtimeNanoseconds),
                static_cast<unsigned long long>(identity.ctimeNanoseconds));
  out += text;
}

}  // namespace

std::optional<std::string> ApplicationWorkspace::iconPathForIdentifier(
    const std::string& identifier, double pointSize, double scale) const {
  auto bundle = findBundle(identifier);
  if (!bundle) return std::nullopt;
  const std::string& bundlePath = bundle->first;
  // The folder as the last scan listed it: a page asks for the icons of every application
  // right after a scan. Each icon file is still looked at below.
  const Listing* listing = cache_->listedInThisScan(bundlePath);
  if (listing == nullptr) listing = cache_->listing(env_, bundlePath);
  if (listing == nullptr) return std::nullopt;

  const double wanted = pointSize * scale;
  for (const std::vector<std::string>& files :
       iconCandidates(*listing, bundle->second->iconSources)) {
    std::optional<std::string> best;
    std::uint32_t bestPixels = 0;
    for (const std::string& file : files) {
      const std::string path = joinPath(bundlePath, file);
      const std::uint32_t* found =
          cache_->lookup(env_, cache_->pngSizes, path, FileKind::Image,
                         [](std::string_view bytes) -> std::optional<std::uint32_t> {
                           // An image over the decoding caps is passed over as if it were missing.
                           const std::optional<PngSize> size = decodablePngSize(bytes);
                           if (!size) return std::nullopt;
                           return std::max(size->width, size->height);
                         });
      if (found == nullptr) continue;
      const std::uint32_t pixels = *found;
      // Exact beats larger beats smaller; among larger the smallest, among smaller the
      // largest, so that the image is scaled as little as possible and preferably down.
      auto better = [&](std::uint32_t candidate, std::uint32_t current) {
        const bool candidateCovers = candidate >= wanted;
        const bool currentCovers = current >= wanted;
        if (candidateCovers != currentCovers) return candidateCovers;
        return candidateCovers ? candidate < current : candidate > current;
      };
      if (!best || better(pixels, bestPixels)) {
        best = path;
        bestPixels = pixels;
      }
    }
    if (best) return best;
  }
  return std::nullopt;
}

std::optional<std::string> ApplicationWorkspace::iconVersionForIdentifier(
    const std::string& identifier) const {
  // Right after a scan the index, the folder's listing and the Info.plist are all as the scan
  // checked them, so nothing is looked at again; otherwise the bundle is found afresh.
  auto scanned = [&](const auto& table, const std::string& path) {
    auto it = table.find(path);
    return it != table.end() && it->second.scan == cache_->scan && it->second.parsed ? &it->second
                                                                                     : nullptr;
  };
  const FileCache::Entry<Listing>* folder = nullptr;
  const FileCache::Entry<BundleInfo>* info = nullptr;
  std::string bundlePath;
  for (int attempt = 0; attempt < 2 && info == nullptr; ++attempt) {
    if (attempt == 1) {
      auto bundle = findBundle(identifier);
      if (!bundle || cache_->listing(env_, bundle->first) == nullptr) return std::nullopt;
    }
    auto indexed = bundleIndex_.find(identifier);
    if (indexed == bundleIndex_.end()) continue;
    bundlePath = indexed->second;
    folder = scanned(cache_->folders, bundlePath);
    info = scanned(cache_->infos, joinPath(bundlePath, std::string(kInfoPlist)));
    if (folder == nullptr || (info != nullptr && info->parsed->identifier != identifier)) {
      info = nullptr;
    }
  }
  if (info == nullptr) return std::nullopt;
  if (!hasIconCandidate(*folder->parsed, info->parsed->iconSources)) return std::nullopt;

  std::string version = bundlePath;
  appendIdentity(version, folder->identity);
  appendIdentity(version, info->identity);
  // An identity within the clock's tick of a write may not change with the next write, so
  // it names nothing for sure: such a bundle gets a version of its own each time.
  if (folder->racy || info->racy) version += "|" + std::to_string(++cache_->unsettledVersions);
  return version;
}

}  // namespace platform
