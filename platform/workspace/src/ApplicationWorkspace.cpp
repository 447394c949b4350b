#include "platform/workspace/ApplicationWorkspace.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "WorkspaceFileCache.h"
#include "platform/foundation/Env.h"

namespace platform {
namespace {

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

}  // namespace

ApplicationWorkspace::ApplicationWorkspace(Env& env, std::string deviceRoot, std::string cachePath)
    : env_(env),
      deviceRoot_(std::move(deviceRoot)),
      cachePath_(std::move(cachePath)),
      cache_(std::make_unique<FileCache>()) {}

ApplicationWorkspace::~ApplicationWorkspace() = default;

std::vector<std::string> ApplicationWorkspace::preferredLocalizations() const {
  std::vector<std::string> localizations = userLanguages(env_);
  appendUnique(localizations, "en");
  appendUnique(localizations, "Base");
  return localizations;
}

std::vector<ApplicationProxy> ApplicationWorkspace::allInstalledApplications() const {
  const bool persisted = !cachePath_.empty();
  if (persisted && cache_->scan == 0) cache_->load(env_, cachePath_, deviceRoot_);
  cache_->rescan(env_, deviceRoot_, userLanguages(env_));
  const Arena& arena = cache_->arena;
  std::vector<ApplicationProxy> applications;
  applications.reserve(cache_->bundles.size());
  for (const BundleRecord& record : cache_->bundles) {
    if (!record.valid) continue;
    ApplicationProxy& proxy = applications.emplace_back();
    proxy.applicationIdentifier = arena.view(record.identifier);
    const std::span<const Text> tags = arena.list(record.appTags);
    proxy.appTags.reserve(tags.size());
    for (const Text& tag : tags) proxy.appTags.emplace_back(arena.view(tag));
    proxy.bundleURL = arena.view(record.path);
    // The bundle's localisation table overrides Info.plist key by key.
    for (const auto& [local, plain] : {std::pair{record.localDisplayName, record.displayName},
                                       std::pair{record.localBundleName, record.bundleName}}) {
      if (local.present() || plain.present()) {
        proxy.localizedName = arena.view(local.present() ? local : plain);
        break;
      }
    }
  }
  if (persisted && cache_->changed) cache_->save(env_, cachePath_, deviceRoot_);
  return applications;
}

BundleRecord* ApplicationWorkspace::findBundle(const std::string& identifier) const {
  // The record may be stale (a bundle removed or replaced since the scan); trust it only when
  // the bundle still carries the identifier, otherwise scan again once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1) allInstalledApplications();
    BundleRecord* record = cache_->indexed(identifier);
    if (record == nullptr) continue;
    std::string path(cache_->arena.view(record->path));
    if (!cache_->isCurrent(env_, *record, path, nullptr, 0, nullptr) &&
        !cache_->readBundle(env_, *record, path)) {
      continue;
    }
    if (record->valid && cache_->arena.view(record->identifier) == identifier) return record;
  }
  return nullptr;
}

namespace {

// The files of each icon source that the bundle holds, best source first, each source's files
// in the order tried; sources naming no such file are left out.
std::vector<std::vector<std::string>> iconCandidates(const Arena& arena,
                                                     const BundleRecord& record) {
  std::vector<std::vector<std::string>> candidates;
  visitIconSources(arena, record, [&](std::span<const std::string_view> names) {
    std::vector<std::string> files;
    for (std::string_view name : names) {
      visitIconFileNames(name, [&](std::string_view file) {
        if (arena.contains(record.iconFiles, file)) appendUnique(files, std::string(file));
        return false;
      });
    }
    if (!files.empty()) candidates.push_back(std::move(files));
    return false;
  });
  return candidates;
}

// "|device:inode:size:mtime:ctime" in hex.
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
  BundleRecord* record = findBundle(identifier);
  if (record == nullptr) return std::nullopt;
  const std::string bundlePath(cache_->arena.view(record->path));
  const double wanted = pointSize * scale;
  for (const std::vector<std::string>& files : iconCandidates(cache_->arena, *record)) {
    std::optional<std::string> best;
    std::uint32_t bestPixels = 0;
    for (const std::string& file : files) {
      std::string path = joinPath(bundlePath, file);
      bool missing = false;
      const std::optional<std::uint32_t> pixels = cache_->pngPixels(env_, path, missing);
      // A file gone since the bundle was read: its folder changed, so read it again when next
      // asked.
      record->stale = record->stale || missing;
      if (!pixels) continue;
      // Exact beats larger beats smaller; among larger the smallest, among smaller the
      // largest, so that the image is scaled as little as possible and preferably down.
      auto better = [&](std::uint32_t candidate, std::uint32_t current) {
        const bool candidateCovers = candidate >= wanted;
        const bool currentCovers = current >= wanted;
        if (candidateCovers != currentCovers) return candidateCovers;
        return candidateCovers ? candidate < current : candidate > current;
      };
      if (!best || better(*pixels, bestPixels)) {
        best = std::move(path);
        bestPixels = *pixels;
      }
    }
    if (best) return best;
  }
  return std::nullopt;
}

std::optional<std::string> ApplicationWorkspace::iconVersionForIdentifier(
    const std::string& identifier) const {
  // Right after a scan the record holds the bundle as the scan checked it, so nothing is looked
  // at again; otherwise the bundle is found afresh.
  BundleRecord* record = cache_->indexed(identifier);
  if (record == nullptr || record->stale || !record->valid ||
      cache_->arena.view(record->identifier) != identifier) {
    record = findBundle(identifier);
    if (record == nullptr) return std::nullopt;
  }
  if (record->iconFiles.count == 0) return std::nullopt;
  std::string version(cache_->arena.view(record->path));
  appendIdentity(version, record->folder);
  appendIdentity(version, record->info);
  // An identity within the clock's tick of a write may not change with the next write, so
  // it names nothing for sure: such a bundle gets a version of its own each time.
  if (record->racy) version += "|" + std::to_string(++cache_->unsettledVersions);
  return version;
}

}  // namespace platform
