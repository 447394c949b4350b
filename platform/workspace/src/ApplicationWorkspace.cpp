#include "platform/workspace/ApplicationWorkspace.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "WorkspaceFileCache.h"
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

namespace {

std::optional<std::string> stringOf(const Value& value) {
  if (!value.isString()) return std::nullopt;
  return value.stringValue();
}

}  // namespace

std::optional<BundleInfo> parseBundleInfo(std::string_view bytes) {
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
  // A source naming nothing is left out: it could never give a file.
  for (std::vector<std::string> names :
       {stringElements(info["CFBundleIcons"]["CFBundlePrimaryIcon"]["CFBundleIconFiles"]),
        stringElements(info["CFBundleIconFiles"])}) {
    if (!names.empty()) bundle.iconSources.push_back(std::move(names));
  }
  if (auto file = stringOf(info["CFBundleIconFile"])) bundle.iconSources.push_back({*file});
  return bundle;
}

ApplicationWorkspace::ApplicationWorkspace(Env& env, std::string deviceRoot, std::string cachePath)
    : env_(env),
      deviceRoot_(std::move(deviceRoot)),
      cachePath_(std::move(cachePath)),
      cache_(std::make_unique<FileCache>()) {}

ApplicationWorkspace::~ApplicationWorkspace() = default;

const BundleInfo* ApplicationWorkspace::bundleInfo(const std::string& bundlePath) const {
  const auto* entry = cache_->bundleInfoEntry(env_, bundlePath);
  return entry && entry->parsed ? &*entry->parsed : nullptr;
}

std::vector<std::string> ApplicationWorkspace::preferredLocalizations() const {
  std::vector<std::string> localizations = userLanguages(env_);
  appendUnique(localizations, "en");
  appendUnique(localizations, "Base");
  return localizations;
}

std::vector<ApplicationProxy> ApplicationWorkspace::allInstalledApplications() const {
  const std::vector<std::string> languages = userLanguages(env_);
  std::vector<ApplicationProxy> applications;
  // Only what is needed is touched per bundle (its Info.plist and a check per candidate
  // localisation), since the catalogue reads every bundle on every call.
  const bool persisted = !cachePath_.empty();
  if (persisted && cache_->scan == 0) cache_->load(env_, cachePath_, deviceRoot_);
  ++cache_->scan;
  const FileCache::Bundles bundles = cache_->bundles(env_, deviceRoot_);
  for (const auto& [bundlePath, under] : bundles.paths) {
    // One listing per bundle answers which files exist: no open of a missing Info.plist, no
    // probe per candidate localisation.
    const FileCache::Entry<Listing>* folder = cache_->listingEntry(env_, bundlePath, under);
    if (folder == nullptr || !contains(*folder->parsed, kInfoPlist)) continue;
    const Listing& listing = *folder->parsed;
    const FileCache::Entry<BundleInfo>* infoEntry =
        cache_->bundleInfoEntry(env_, bundlePath, under);
    if (infoEntry == nullptr || !infoEntry->parsed) continue;
    const BundleInfo* info = &*infoEntry->parsed;

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
      const std::string localization = candidate + ".lproj";
      if (!isSafeFileName(localization) || !contains(listing, localization)) continue;
      localized = cache_->lookup(
          env_, cache_->strings,
          joinPath(joinPath(bundlePath, localization), std::string(kInfoPlistStrings)),
          FileKind::StringsFile, [](std::string_view bytes) { return parseStringsFile(bytes); },
          under);
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
    FileCache::Indexed& indexed = cache_->index[proxy.applicationIdentifier];
    if (indexed.bundlePath != bundlePath) {
      indexed.bundlePath = bundlePath;
      indexed.iconNamed = false;
    }
    indexed.folder = folder;
    indexed.info = infoEntry;
    indexed.scan = cache_->scan;
    applications.push_back(std::move(proxy));
  }
  cache_->prune();
  if (persisted && cache_->changed) cache_->save(env_, cachePath_, deviceRoot_);
  return applications;
}

std::optional<std::pair<std::string, const BundleInfo*>> ApplicationWorkspace::findBundle(
    const std::string& identifier) const {
  // The index may be stale (a bundle removed or replaced since); trust it only when the
  // bundle still carries the identifier, otherwise scan again once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1) allInstalledApplications();
    auto it = cache_->index.find(identifier);
    if (it == cache_->index.end()) continue;
    const std::string& bundlePath = it->second.bundlePath;
    const BundleInfo* info = bundleInfo(bundlePath);
    if (info != nullptr && info->identifier == identifier) return std::make_pair(bundlePath, info);
  }
  return std::nullopt;
}

namespace {

// Calls `visit` with the names of each icon source of `sources`, best first, then with the
// default names every bundle falls back on (kept once, not in each bundle's record), until it
// returns true. True when a visit did.
template <typename Visit>
bool visitIconSources(const std::vector<std::vector<std::string>>& sources, Visit visit) {
  static const std::vector<std::string> kDefaultNames = {"AppIcon60x60", "Icon"};
  for (const std::vector<std::string>& names : sources) {
    if (visit(names)) return true;
  }
  return visit(kDefaultNames);
}

// Calls `visit` with each file name tried for the icon name `name`, best first, until it
// returns true; none for an unsafe name. True when a visit did.
template <typename Visit>
bool visitIconFileNames(const std::string& name, Visit visit) {
  if (!isSafeFileName(name)) return false;
  std::string_view base = name;
  if (base.size() > 4 && base.ends_with(".png")) base.remove_suffix(4);
  std::string file;  // reused: a page names the icons of thousands of applications at once
  for (std::string_view suffix : {"@2x.png", "@3x.png", ".png"}) {
    file.assign(base).append(suffix);
    if (visit(file)) return true;
  }
  return visit(name);
}

// The files of each icon source that `listing` holds, best source first, each source's files
// in the order tried; sources naming no such file are left out.
std::vector<std::vector<std::string>> iconCandidates(
    const Listing& listing, const std::vector<std::vector<std::string>>& sources) {
  std::vector<std::vector<std::string>> candidates;
  visitIconSources(sources, [&](const std::vector<std::string>& names) {
    std::vector<std::string> files;
    for (const std::string& name : names) {
      visitIconFileNames(name, [&](const std::string& file) {
        if (contains(listing, file)) appendUnique(files, file);
        return false;
      });
    }
    if (!files.empty()) candidates.push_back(std::move(files));
    return false;
  });
  return candidates;
}

bool hasIconCandidate(const Listing& listing,
                      const std::vector<std::vector<std::string>>& sources) {
  return visitIconSources(sources, [&](const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      if (visitIconFileNames(name,
                             [&](const std::string& file) { return contains(listing, file); })) {
        return true;
      }
    }
    return false;
  });
}

// "|device:inode:size:mtime:ctime" in hex; a page names the icons of thousands of bundles.
void appendIdentity(std::string& out, const FileIdentity& identity) {
  char text[5 * 17 + 1];
  char* end = text;
  char separator = '|';
  for (const auto field :
       {identity.device, identity.inode, static_cast<std::uint64_t>(identity.size),
        static_cast<std::uint64_t>(identity.mtimeNanoseconds),
        static_cast<std::uint64_t>(identity.ctimeNanoseconds)}) {
    *end++ = separator;
    separator = ':';
    end = std::to_chars(end, text + sizeof text, field, 16).ptr;
  }
  out.append(text, end);
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
  // Right after a scan the index points at the folder's listing and the Info.plist as the scan
  // checked them, so nothing is looked at again; otherwise the bundle is found afresh.
  const FileCache::Entry<Listing>* folder = nullptr;
  const FileCache::Entry<BundleInfo>* info = nullptr;
  auto scanned = [&](const auto* entry) {
    return entry != nullptr && entry->scan == cache_->scan && entry->parsed ? entry : nullptr;
  };
  const std::string* bundlePath = nullptr;
  FileCache::Indexed* indexed = cache_->indexTrusted(identifier);
  if (indexed != nullptr) {
    bundlePath = &indexed->bundlePath;
    folder = scanned(indexed->folder);
    info = scanned(indexed->info);
  }
  std::optional<std::pair<std::string, const BundleInfo*>> found;
  if (folder == nullptr || info == nullptr || info->parsed->identifier != identifier) {
    indexed = nullptr;
    found = findBundle(identifier);
    if (!found) return std::nullopt;
    bundlePath = &found->first;
    folder = cache_->listingEntry(env_, found->first);
    auto entry = cache_->infos.find(joinPath(found->first, std::string(kInfoPlist)));
    info = entry == cache_->infos.end() ? nullptr : scanned(&entry->second);
    if (folder == nullptr || info == nullptr || info->parsed->identifier != identifier) {
      return std::nullopt;
    }
  }
  // An identity within the clock's tick of a write may not change with the next write, so
  // it names nothing for sure: such a bundle gets a version of its own each time.
  const bool settled = !folder->racy && !info->racy;
  if (settled && indexed != nullptr && indexed->iconNamed &&
      indexed->iconFolder == folder->identity && indexed->iconInfo == info->identity) {
    return indexed->iconVersion;
  }
  std::optional<std::string> version;
  if (hasIconCandidate(*folder->parsed, info->parsed->iconSources)) {
    version = *bundlePath;
    appendIdentity(*version, folder->identity);
    appendIdentity(*version, info->identity);
    if (!settled) *version += "|" + std::to_string(++cache_->unsettledVersions);
  }
  if (settled && indexed != nullptr) {
    indexed->iconNamed = true;
    indexed->iconVersion = version;
    indexed->iconFolder = folder->identity;
    indexed->iconInfo = info->identity;
  }
  return version;
}

}  // namespace platform
