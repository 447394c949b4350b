#include "WorkspaceFileCache.h"

#include <algorithm>
#include <tuple>

#include "WorkspaceLookahead_p.h"
#include "platform/foundation/PngHeader.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"
#include "platform/workspace/StringsFile.h"

namespace platform {
namespace {

constexpr std::string_view kDisplayNameKey = "CFBundleDisplayName";
constexpr std::string_view kBundleNameKey = "CFBundleName";

bool isBundleName(std::string_view name) {
  return name.size() > 4 && name.ends_with(".app");
}

std::optional<std::string> stringOf(const Value& value) {
  if (!value.isString()) return std::nullopt;
  return value.stringValue();
}

void addStringElements(Arena& arena, const Value& array) {
  for (const Value& element : array.arrayValue()) {
    if (element.isString()) arena.addToList(element.stringValue());
  }
}

// Fills the Info.plist part of `record` from `bytes`; false unless they are a plist whose root
// is a dictionary with a non-empty string CFBundleIdentifier.
bool parseBundleInfo(Arena& arena, BundleRecord& record, std::string_view bytes) {
  std::optional<Value> root = parsePropertyList(bytes);
  if (!root || !root->isDictionary()) return false;
  const Value& info = *root;
  const Value& identifier = info["CFBundleIdentifier"];
  if (!identifier.isString() || identifier.stringValue().empty()) return false;
  record.identifier = arena.add(identifier.stringValue());
  Span tags = arena.beginList();
  addStringElements(arena, info["SBAppTags"]);
  record.appTags = arena.endList(tags);
  record.displayName = arena.addOptional(stringOf(info[kDisplayNameKey]));
  record.bundleName = arena.addOptional(stringOf(info[kBundleNameKey]));
  record.developmentRegion = arena.addOptional(stringOf(info["CFBundleDevelopmentRegion"]));
  // A source naming nothing is left out: it could never give a file.
  std::vector<Span> sources;
  for (const Value* names : {&info["CFBundleIcons"]["CFBundlePrimaryIcon"]["CFBundleIconFiles"],
                             &info["CFBundleIconFiles"]}) {
    Span source = arena.beginList();
    addStringElements(arena, *names);
    if (source = arena.endList(source); source.count != 0) sources.push_back(source);
  }
  if (auto file = stringOf(info["CFBundleIconFile"])) {
    Span source = arena.beginList();
    arena.addToList(*file);
    sources.push_back(arena.endList(source));
  }
  record.iconSources = {static_cast<std::uint32_t>(arena.spans.size()),
                        static_cast<std::uint32_t>(sources.size())};
  arena.spans.insert(arena.spans.end(), sources.begin(), sources.end());
  record.valid = true;
  return true;
}

bool sortedContains(const std::vector<std::string>& names, std::string_view name) {
  return std::binary_search(names.begin(), names.end(), name,
                            [](std::string_view a, std::string_view b) { return a < b; });
}

// The folder at `path` held open, when it is still the folder listed with `listed`; else none,
// and the files under it are looked at by their whole paths (a folder replaced since it was
// listed must not answer for the one listed).
std::unique_ptr<OpenFolder> openListed(Env& env, const std::string& path,
                                       const FileIdentity& listed) {
  std::unique_ptr<OpenFolder> folder;
  FileIdentity identity;
  if (!env.openFolder(path, folder).isOk() || !folder->fileIdentity(".", identity).isOk() ||
      identity.device != listed.device || identity.inode != listed.inode) {
    return nullptr;
  }
  return folder;
}

Status identityAt(Env& env, const std::string& path, OpenFolder* under, std::size_t prefix,
                  FileIdentity& identity) {
  return under ? under->fileIdentity(path.c_str() + prefix, identity)
               : env.fileIdentity(path, identity);
}

// Whether the file at `path` is still the one of identity `kept`, as looked at ahead of the scan
// when it was.
bool sameFile(Env& env, const std::string& path, OpenFolder* under, std::size_t prefix,
              const LookedAt* ahead, const FileIdentity& kept) {
  if (ahead && ahead->looked) return ahead->matches(kept);
  FileIdentity identity;
  return identityAt(env, path, under, prefix, identity).isOk() && identity == kept;
}

}  // namespace

bool Arena::contains(Span sortedList, std::string_view name) const {
  const std::span<const Text> names = list(sortedList);
  return std::binary_search(names.begin(), names.end(), name, [&](const auto& a, const auto& b) {
    auto viewOf = [&](const auto& item) -> std::string_view {
      if constexpr (std::is_same_v<std::decay_t<decltype(item)>, Text>) {
        return view(item);
      } else {
        return item;
      }
    };
    return viewOf(a) < viewOf(b);
  });
}

bool ApplicationWorkspace::FileCache::isRacy(Env& env, const FileIdentity& identity) {
  // File times tick coarsely, so a file written twice within one tick at the same size keeps
  // its identity: it is trusted only once its modification time is safely in the past.
  constexpr std::int64_t kSettleNanoseconds = 2'000'000'000;
  const auto now = static_cast<std::int64_t>(env.now() * 1e9);
  return now - identity.mtimeNanoseconds < kSettleNanoseconds;
}

std::optional<Text> chosenLocalization(const Arena& arena, const BundleRecord& record,
                                       const std::vector<std::string>& languages) {
  auto present = [&](std::string_view language) -> std::optional<Text> {
    if (language.empty() || language.find('/') != std::string_view::npos) return std::nullopt;
    for (const Text& folder : arena.list(record.localizations)) {
      const std::string_view name = arena.view(folder);
      if (name.size() == language.size() + 6 && name.starts_with(language)) return folder;
    }
    return std::nullopt;
  };
  for (const std::string& language : languages) {
    if (auto found = present(language)) return found;
  }
  for (std::string_view language :
       {arena.view(record.developmentRegion), std::string_view("en"), std::string_view("Base")}) {
    if (auto found = present(language)) return found;
  }
  return std::nullopt;
}

bool ApplicationWorkspace::FileCache::refreshListing(Env& env, FolderRecord& record,
                                                     const std::string& path, bool keepAll,
                                                     OpenFolder* under, std::size_t prefix) {
  if (record.listed && !record.racy) {
    FileIdentity identity;
    if (identityAt(env, path, under, prefix, identity).isOk() && identity == record.identity) {
      return true;
    }
  }
  std::vector<std::string> names;
  FileIdentity identity;
  if (!env.listDirectoryWithIdentity(path, names, identity).isOk()) {
    changed |= record.listed;
    record.listed = false;
    return false;
  }
  record.listed = true;
  record.identity = identity;
  record.racy = isRacy(env, identity);
  changed |= !record.racy;
  Span list = arena.beginList();
  for (const std::string& name : names) {
    if (keepAll || isBundleName(name)) arena.addToList(name);
  }
  record.names = arena.endList(list);
  return true;
}

bool ApplicationWorkspace::FileCache::isCurrent(Env& env, const BundleRecord& record,
                                                std::string& path, OpenFolder* under,
                                                std::size_t prefix, const BundleLook* look) {
  if (record.racy || record.stale ||
      !sameFile(env, path, under, prefix, look ? &look->folder : nullptr, record.folder)) {
    return false;
  }
  if (!record.hasInfo) return true;
  const std::size_t end = path.size();
  path.append("/").append(kInfoPlist);
  const bool same = sameFile(env, path, under, prefix, look ? &look->info : nullptr, record.info);
  path.resize(end);
  return same;
}

bool ApplicationWorkspace::FileCache::readBundle(Env& env, BundleRecord& record,
                                                 std::string& path) {
  std::vector<std::string> names;
  FileIdentity folder;
  if (!env.listDirectoryWithIdentity(path, names, folder).isOk()) return false;
  BundleRecord fresh;
  fresh.group = record.group;
  fresh.container = record.container;
  fresh.name = record.name;
  fresh.path = record.path;
  // The localisation table is checked on its own by the next choice of it.
  fresh.stringsFolder = record.stringsFolder;
  fresh.stringsKept = record.stringsKept;
  fresh.stringsRacy = record.stringsRacy;
  fresh.strings = record.strings;
  fresh.localDisplayName = record.localDisplayName;
  fresh.localBundleName = record.localBundleName;
  fresh.folder = folder;
  fresh.racy = isRacy(env, folder);
  if (sortedContains(names, kInfoPlist)) {
    const std::size_t end = path.size();
    path.append("/").append(kInfoPlist);
    std::string bytes;
    std::unique_ptr<HeldFile> held;
    const Status status = env.readFileHeld(path, FileKind::InfoPlist, bytes, held, fresh.info);
    path.resize(end);
    if (!status.isOk()) return false;
    fresh.hasInfo = true;
    fresh.racy = fresh.racy || isRacy(env, fresh.info);
    if (parseBundleInfo(arena, fresh, bytes)) {
      Span localizations = arena.beginList();
      for (const std::string& name : names) {
        if (name.size() > 6 && name.ends_with(".lproj")) arena.addToList(name);
      }
      fresh.localizations = arena.endList(localizations);
      // Only the files an icon source names, sorted as listed, so that a look-up stays a search.
      std::vector<std::string_view> files;
      visitIconSources(arena, fresh, [&](std::span<const std::string_view> sourceNames) {
        for (std::string_view name : sourceNames) {
          visitIconFileNames(name, [&](std::string_view file) {
            auto it =
                std::lower_bound(names.begin(), names.end(), file,
                                 [](std::string_view a, std::string_view b) { return a < b; });
            if (it != names.end() && *it == file) files.push_back(*it);
            return false;
          });
        }
        return false;
      });
      std::sort(files.begin(), files.end());
      files.erase(std::unique(files.begin(), files.end()), files.end());
      Span iconFiles = arena.beginList();
      for (std::string_view file : files) arena.addToList(file);
      fresh.iconFiles = arena.endList(iconFiles);
    }
  }
  changed |= !fresh.racy;
  record = fresh;
  return true;
}

void ApplicationWorkspace::FileCache::chooseStrings(Env& env, BundleRecord& record,
                                                    std::string& path,
                                                    const std::vector<std::string>& languages,
                                                    OpenFolder* under, std::size_t prefix,
                                                    const LookedAt* ahead) {
  const std::optional<Text> chosen = chosenLocalization(arena, record, languages);
  const bool same = chosen && record.stringsFolder.present() &&
                    arena.view(record.stringsFolder) == arena.view(*chosen);
  if (!chosen) {
    changed |= record.stringsKept;
    record.stringsFolder = {};
    record.stringsKept = false;
    record.localDisplayName = record.localBundleName = {};
    return;
  }
  const std::size_t end = path.size();
  path.append("/").append(arena.view(*chosen)).append("/").append(kStringsFile);
  if (same && record.stringsKept && !record.stringsRacy &&
      sameFile(env, path, under, prefix, ahead, record.strings)) {
    path.resize(end);
    return;
  }
  std::string bytes;
  std::unique_ptr<HeldFile> held;
  FileIdentity identity;
  const Status status = env.readFileHeld(path, FileKind::StringsFile, bytes, held, identity);
  path.resize(end);
  const bool wasKept = record.stringsKept;
  record.stringsFolder = *chosen;
  record.localDisplayName = record.localBundleName = {};
  record.stringsKept = status.isOk();
  if (!record.stringsKept) {
    changed |= wasKept;
    return;
  }
  record.strings = identity;
  record.stringsRacy = isRacy(env, identity);
  changed |= !record.stringsRacy;
  if (std::optional<StringsTable> table = parseStringsFile(bytes)) {
    if (auto it = table->find(kDisplayNameKey); it != table->end()) {
      record.localDisplayName = arena.add(it->second);
    }
    if (auto it = table->find(kBundleNameKey); it != table->end()) {
      record.localBundleName = arena.add(it->second);
    }
  }
}

void ApplicationWorkspace::FileCache::rescan(Env& env, const std::string& deviceRoot,
                                             const std::vector<std::string>& languages) {
  ++scan;
  std::vector<BundleRecord> old = std::move(bundles);
  bundles.clear();
  bundles.reserve(old.size() + 16);
  WorkspaceLookahead ahead(env, deviceRoot, arena, old);
  std::size_t cursor = 0;
  std::string path;
  path.reserve(512);
  // Records are kept in scan order, so the one of a bundle is found by walking alongside.
  auto keyOf = [&](const BundleRecord& record) {
    return std::tuple(record.group, arena.view(record.container), arena.view(record.name));
  };
  auto visit = [&](std::uint8_t group, Text container, Text name, OpenFolder* under,
                   std::size_t prefix) {
    const auto wanted = std::tuple(group, arena.view(container), arena.view(name));
    while (cursor < old.size() && keyOf(old[cursor]) < wanted) {
      ++cursor;
      changed = true;  // gone
    }
    BundleRecord record;
    const bool kept = cursor < old.size() && keyOf(old[cursor]) == wanted;
    const BundleLook* look = nullptr;
    if (kept) {
      look = ahead.at(cursor);
      record = old[cursor++];
    } else {
      record.group = group;
      record.container = container;
      record.name = name;
      record.path = arena.add(path);
    }
    const bool unchanged = kept && isCurrent(env, record, path, under, prefix, look);
    if (!unchanged && !readBundle(env, record, path)) {
      changed |= kept;
      return;
    }
    // A bundle read again has its table looked at now, after its Info.plist.
    if (record.valid) {
      chooseStrings(env, record, path, languages, under, prefix,
                    unchanged && look ? &look->strings : nullptr);
    }
    bundles.push_back(record);
  };

  const std::string applicationsPath = joinPath(deviceRoot, "Applications");
  if (refreshListing(env, applications, applicationsPath, false, nullptr, 0)) {
    auto open = openListed(env, applicationsPath, applications.identity);
    const Span names = applications.names;
    for (std::uint32_t i = 0; i < names.count; ++i) {
      const Text name = arena.texts[names.first + i];
      path.assign(applicationsPath).append("/").append(arena.view(name));
      visit(0, Text{}, name, open.get(), applicationsPath.size() + 1);
    }
  }
  std::vector<FolderRecord> oldBoxes = std::move(boxes);
  boxes.clear();
  const std::string containersPath = joinPath(deviceRoot, "var/containers/Bundle/Application");
  if (refreshListing(env, containers, containersPath, true, nullptr, 0)) {
    auto open = openListed(env, containersPath, containers.identity);
    boxes.reserve(containers.names.count);
    std::size_t boxCursor = 0;
    std::string boxPath;
    const Span names = containers.names;
    for (std::uint32_t i = 0; i < names.count; ++i) {
      const Text name = arena.texts[names.first + i];
      while (boxCursor < oldBoxes.size() &&
             arena.view(oldBoxes[boxCursor].name) < arena.view(name)) {
        ++boxCursor;
      }
      FolderRecord box;
      if (boxCursor < oldBoxes.size() && arena.view(oldBoxes[boxCursor].name) == arena.view(name)) {
        box = oldBoxes[boxCursor++];
      } else {
        box.name = name;
      }
      boxPath.assign(containersPath).append("/").append(arena.view(name));
      if (!refreshListing(env, box, boxPath, false, open.get(), containersPath.size() + 1)) {
        continue;
      }
      boxes.push_back(box);
      for (std::uint32_t j = 0; j < box.names.count; ++j) {
        const Text bundle = arena.texts[box.names.first + j];
        path.assign(boxPath).append("/").append(arena.view(bundle));
        visit(1, box.name, bundle, open.get(), containersPath.size() + 1);
      }
    }
  }
  changed |= cursor != old.size();
  // Icon files are looked at between scans, so they are kept until a whole scan passed
  // without a look.
  std::erase_if(pngSizes, [&](const auto& entry) { return entry.second.scan + 1 < scan; });
  compact(deviceRoot);
}

BundleRecord* ApplicationWorkspace::FileCache::indexed(std::string_view identifier) {
  if (indexedBytes != arena.bytes.data() || indexedScan != scan) {
    index.clear();
    index.reserve(bundles.size());
    for (std::uint32_t i = 0; i < bundles.size(); ++i) {
      if (bundles[i].valid) index[arena.view(bundles[i].identifier)] = i;
    }
    indexedBytes = arena.bytes.data();
    indexedScan = scan;
  }
  auto it = index.find(identifier);
  return it == index.end() ? nullptr : &bundles[it->second];
}

std::optional<std::uint32_t> ApplicationWorkspace::FileCache::pngPixels(Env& env,
                                                                        const std::string& path,
                                                                        bool& missing) {
  missing = false;
  auto it = pngSizes.find(path);
  if (it != pngSizes.end() && !it->second.racy) {
    FileIdentity identity;
    if (!env.fileIdentity(path, identity).isOk()) {
      pngSizes.erase(it);
      missing = true;
      return std::nullopt;
    }
    if (identity == it->second.identity) {
      it->second.scan = scan;
      return it->second.pixels;
    }
  }
  std::string bytes;
  std::unique_ptr<HeldFile> held;
  FileIdentity identity;
  if (!env.readFileHeld(path, FileKind::Image, bytes, held, identity).isOk()) {
    if (it != pngSizes.end()) pngSizes.erase(it);
    missing = true;
    return std::nullopt;
  }
  PngEntry entry{identity, std::nullopt, scan, isRacy(env, identity)};
  // An image over the decoding caps is passed over as if it were missing.
  if (const std::optional<PngSize> size = decodablePngSize(bytes)) {
    entry.pixels = std::max(size->width, size->height);
  }
  return pngSizes.insert_or_assign(path, entry).first->second.pixels;
}

void ApplicationWorkspace::FileCache::compact(const std::string& deviceRoot) {
  // What re-read records left behind is dropped by writing the cache out and reading it back.
  if (arena.bytes.size() <= 2 * compactedBytes + (std::size_t{64} << 10)) return;
  const bool wasChanged = changed;
  const std::string bytes = encode(deviceRoot);
  decode(bytes, deviceRoot);
  changed = wasChanged;
}

}  // namespace platform
