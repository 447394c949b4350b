// What the application workspace keeps of the device's files between scans: folder listings,
// parsed Info.plists and localisation tables, icon sizes, each with the identity of the file it
// came from, and where the last scan found each application. Private to the workspace.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Env.h"
#include "platform/workspace/ApplicationWorkspace.h"
#include "platform/workspace/StringsFile.h"

namespace platform {

// Sorted names of a folder, for cheap membership tests without a system call per file.
using Listing = std::vector<std::string>;

inline bool contains(const Listing& listing, std::string_view name) {
  return std::binary_search(listing.begin(), listing.end(), name,
                            [](std::string_view a, std::string_view b) { return a < b; });
}

// What the workspace keeps of a bundle's Info.plist: the keys it answers from, not the whole
// dictionary, since it keeps one per installed application.
struct BundleInfo {
  std::string identifier;  // never empty
  std::vector<std::string> appTags;
  std::optional<std::string> displayName;
  std::optional<std::string> bundleName;
  std::optional<std::string> developmentRegion;
  // The icon names of each icon source that names any, best source first (see
  // iconPathForIdentifier); the default names are not kept here.
  std::vector<std::vector<std::string>> iconSources;
};

// An open folder that a looked-up path lies under, to look at the file relative to it: the
// path from `prefix` on. Without a folder the whole path is walked.
struct Under {
  OpenFolder* folder = nullptr;
  std::size_t prefix = 0;

  // `path` under the open folder `folder` at `base`; none when `path` is not below `base`.
  static Under below(OpenFolder* folder, const std::string& base, const std::string& path) {
    if (folder == nullptr || path.size() <= base.size() + 1 || !path.starts_with(base) ||
        path[base.size()] != '/') {
      return {};
    }
    return {folder, base.size() + 1};
  }
  Status fileIdentity(Env& env, const std::string& path, FileIdentity& identity) const {
    return folder ? folder->fileIdentity(path.c_str() + prefix, identity)
                  : env.fileIdentity(path, identity);
  }
};

// None unless the bytes are a plist whose root is a dictionary with a non-empty string
// CFBundleIdentifier.
std::optional<BundleInfo> parseBundleInfo(std::string_view bytes);

// Parsed Info.plists and localisation tables by path, each with the identity of the file it
// came from. A file is read and parsed again only when its identity changes, so a scan of an
// unchanged device costs a stat per file instead of a read and a parse.
struct ApplicationWorkspace::FileCache {
  template <typename T>
  struct Entry {
    using Parsed = T;
    FileIdentity identity;
    std::optional<T> parsed;  // none when the file is malformed
    std::uint64_t scan = 0;   // the last scan that used the entry
    bool racy = false;        // modified too recently for its identity to be trusted
  };
  template <typename T>
  using Table = std::unordered_map<std::string, Entry<T>>;

  // The installed bundles' folders, with the open folders they lie under.
  struct Bundles {
    std::unique_ptr<OpenFolder> applications;
    std::unique_ptr<OpenFolder> containers;
    std::vector<std::pair<std::string, Under>> paths;
  };

  // Where the last scan found an application. The entries it points at are those of that
  // scan; they stay in place until erased, so they are trusted only while nothing was erased
  // from the tables since (see indexTrusted).
  struct Indexed {
    std::string bundlePath;
    const Entry<Listing>* folder = nullptr;
    const Entry<BundleInfo>* info = nullptr;
    std::uint64_t scan = 0;
    // The icon version last named for this bundle path from its folder and Info.plist of these
    // identities: a page names the icons of every application each time it opens.
    bool iconNamed = false;
    std::optional<std::string> iconVersion;
    FileIdentity iconFolder;
    FileIdentity iconInfo;
  };

  Table<BundleInfo> infos;
  Table<StringsTable> strings;
  Table<std::uint32_t> pngSizes;  // the larger side in pixels of each icon file looked at
  Table<Listing> folders;         // bundle folders' names
  // Identifier -> bundle, from the last scan, so icon lookups for many applications do not
  // rescan the device each time nor look each bundle's files up again by path. Updated in
  // place by each scan; when two bundles share an identifier, the one listed last is kept.
  std::unordered_map<std::string, Indexed> index;
  std::uint64_t scan = 0;
  std::uint64_t unsettledVersions = 0;  // icon versions handed out for unsettled bundles
  // Entries erased from the tables, ever, but by a prune (which only drops what the last scan
  // did not use). An erased icon size also stops the index being trusted: rare, and the
  // bundle is found the slow way then.
  std::uint64_t erasures = 0;
  std::uint64_t erasuresAtIndex = 0;  // erasures when the last scan ended
  // Something kept changed since the cache file was last written or read: a file was read
  // afresh (and settled) or an entry dropped.
  bool changed = false;

  // Takes the entries of the cache file at `path` (see WorkspaceCacheFile.cpp), written for
  // `deviceRoot`, as if this process had read them: each is still checked against its file's
  // identity before it is used, like any entry kept from an earlier scan. A missing, foreign,
  // truncated or corrupt file gives nothing, and the device is read as usual.
  void load(Env& env, const std::string& path, const std::string& deviceRoot);
  // Writes the settled entries to the cache file at `path`, replacing it whole; a failure
  // only costs the next process a full read of the device.
  void save(Env& env, const std::string& path, const std::string& deviceRoot);
  std::string encode(const std::string& deviceRoot) const;
  bool decode(std::string_view bytes, const std::string& deviceRoot);

  // The index entry of `identifier` when its entry pointers can be followed: the last scan
  // made it and no table entry was erased since.
  Indexed* indexTrusted(const std::string& identifier) {
    if (erasures != erasuresAtIndex) return nullptr;
    auto it = index.find(identifier);
    return it != index.end() && it->second.scan == scan ? &it->second : nullptr;
  }

  // The listing entry of the folder at `path`, or nullptr when it cannot be listed. A folder's
  // times move whenever an entry is added, removed or renamed, so a listing is taken again only
  // when the folder's identity changed (or it was modified too recently to tell).
  // The pointer is valid until the entry is erased (a later failed lookup of the same path or
  // a prune).
  const Entry<Listing>* listingEntry(Env& env, const std::string& path, Under under = {}) {
    return fresh(env, folders, path, under,
                 [&](FileIdentity& identity, std::optional<Listing>& listed) {
                   Listing names;
                   if (!env.listDirectoryWithIdentity(path, names, identity).isOk()) return false;
                   listed = std::move(names);
                   return true;
                 });
  }

  // The names in the folder at `path`, as listingEntry() finds them.
  const Listing* listing(Env& env, const std::string& path) {
    const Entry<Listing>* entry = listingEntry(env, path);
    return entry ? &*entry->parsed : nullptr;
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

  // The entry of the file at `path`, or nullptr when it is missing or unreadable; a malformed
  // file gets an entry without a parsed value. Valid as listingEntry()'s.
  template <typename T, typename Parse>
  const Entry<T>* lookupEntry(Env& env, Table<T>& table, const std::string& path, FileKind kind,
                              Parse parse, Under under = {}) {
    return fresh(env, table, path, under, [&](FileIdentity& identity, std::optional<T>& parsed) {
      std::string bytes;
      std::unique_ptr<HeldFile> held;
      if (!env.readFileHeld(path, kind, bytes, held, identity).isOk()) return false;
      parsed = parse(bytes);
      return true;
    });
  }

  // The parsed file at `path`, or nullptr when it is missing, unreadable or malformed.
  template <typename T, typename Parse>
  const T* lookup(Env& env, Table<T>& table, const std::string& path, FileKind kind, Parse parse,
                  Under under = {}) {
    const Entry<T>* entry = lookupEntry(env, table, path, kind, parse, under);
    return entry && entry->parsed ? &*entry->parsed : nullptr;
  }

  // The folder at `path` held open, when it is still the folder `listed` came from; else none,
  // and its files are looked at by their whole paths (a folder replaced since it was listed
  // must not answer for the one listed).
  static std::unique_ptr<OpenFolder> openListed(Env& env, const std::string& path,
                                                const Entry<Listing>& listed) {
    std::unique_ptr<OpenFolder> folder;
    FileIdentity identity;
    if (!env.openFolder(path, folder).isOk() || !folder->fileIdentity(".", identity).isOk() ||
        identity.device != listed.identity.device || identity.inode != listed.identity.inode) {
      return nullptr;
    }
    return folder;
  }

  // The bundles of the device root at `deviceRoot`: the system folder's by name, then the
  // containers' by folder and name.
  Bundles bundles(Env& env, const std::string& deviceRoot) {
    Bundles found;
    auto add = [&](const std::string& folder, const std::string& name, OpenFolder* open,
                   const std::string& base) {
      if (name.size() <= 4 || !name.ends_with(".app")) return;
      std::string path = joinPath(folder, name);
      const Under under = Under::below(open, base, path);
      found.paths.emplace_back(std::move(path), under);
    };
    const std::string applications = joinPath(deviceRoot, "Applications");
    if (const Entry<Listing>* names = listingEntry(env, applications)) {
      found.applications = openListed(env, applications, *names);
      for (const std::string& name : *names->parsed) {
        add(applications, name, found.applications.get(), applications);
      }
    }
    const std::string containers = joinPath(deviceRoot, "var/containers/Bundle/Application");
    if (const Entry<Listing>* containerNames = listingEntry(env, containers)) {
      found.containers = openListed(env, containers, *containerNames);
      OpenFolder* open = found.containers.get();
      for (const std::string& container : *containerNames->parsed) {
        const std::string containerPath = joinPath(containers, container);
        const Entry<Listing>* names =
            listingEntry(env, containerPath, Under::below(open, containers, containerPath));
        if (names == nullptr) continue;
        for (const std::string& name : *names->parsed) add(containerPath, name, open, containers);
      }
    }
    return found;
  }

  // The entry of the Info.plist of the bundle at `bundlePath`, as lookupEntry() finds it.
  const Entry<BundleInfo>* bundleInfoEntry(Env& env, const std::string& bundlePath,
                                           Under under = {}) {
    return lookupEntry(env, infos, joinPath(bundlePath, "Info.plist"), FileKind::InfoPlist,
                       parseBundleInfo, under);
  }

  // Drops what the last scan did not use: bundles and tables no longer installed.
  void prune() {
    auto unused = [&](const auto& entry) { return entry.second.scan != scan; };
    if (std::erase_if(infos, unused) + std::erase_if(strings, unused) +
            std::erase_if(folders, unused) !=
        0) {
      changed = true;
    }
    std::erase_if(index, unused);
    // Icon files are looked at between scans, so they are kept until a whole scan passed
    // without a look.
    std::erase_if(pngSizes, [&](const auto& entry) { return entry.second.scan + 1 < scan; });
    // What the scan erased never was what it indexed: a scan looks each path up once, and a
    // prune keeps the entries it used.
    erasuresAtIndex = erasures;
  }

 private:
  // Icon sizes are looked at when icons are drawn, not on every open, so they stay out of the
  // cache file (and looking at one never has it written again).
  template <typename T>
  static constexpr bool kPersisted = !std::is_same_v<T, std::uint32_t>;

  // The entry of `path` in `table`, taken again with `read(identity, value)` (false when the
  // file cannot be read; `value` stays none when it is malformed) only when the file's identity
  // changed or was not yet to be trusted; nullptr, with the entry dropped, when the file is gone or
  // unreadable.
  template <typename T, typename Read>
  const Entry<T>* fresh(Env& env, Table<T>& table, const std::string& path, Under under,
                        Read read) {
    auto it = table.find(path);
    if (it != table.end() && !it->second.racy) {
      FileIdentity identity;
      if (!under.fileIdentity(env, path, identity).isOk()) {
        erase(table, it);
        return nullptr;
      }
      if (it->second.identity == identity) {
        it->second.scan = scan;
        return &it->second;
      }
    }
    FileIdentity identity;
    std::optional<T> value;
    if (!read(identity, value)) {
      if (it != table.end()) erase(table, it);
      return nullptr;
    }
    const bool racy = isRacy(env, identity);
    if (!racy && kPersisted<T>) changed = true;
    it = table.insert_or_assign(path, Entry<T>{identity, std::move(value), scan, racy}).first;
    return &it->second;
  }

  template <typename Map>
  void erase(Map& table, typename Map::iterator it) {
    table.erase(it);
    ++erasures;
    if (kPersisted<typename Map::mapped_type::Parsed>) changed = true;
  }
};

}  // namespace platform
