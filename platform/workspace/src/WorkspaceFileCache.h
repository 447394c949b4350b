// What the application workspace keeps of the device's bundles between scans: one record per
// bundle (its folder's and Info.plist's identities, the Info.plist keys it answers from, the
// localisation folders and icon files its folder holds, the chosen localisation table's identity
// and the names it gives), the listings of the folders the bundles lie in, and the sizes of the
// icon files looked at. Every string lives in one arena, so that tens of thousands of records
// cost no allocation each. Private to the workspace.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Env.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace platform {

struct BundleLook;
struct LookedAt;

// A string in the arena; absent (an unset optional) when `offset` is kAbsent.
struct Text {
  static constexpr std::uint32_t kAbsent = ~std::uint32_t{0};
  std::uint32_t offset = kAbsent;
  std::uint32_t size = 0;
  bool present() const { return offset != kAbsent; }
};

// A run of Texts (or of Spans) in the arena.
struct Span {
  std::uint32_t first = 0;
  std::uint32_t count = 0;
};

// Grows only; what re-read records leave behind is dropped when the cache is compacted.
struct Arena {
  std::string bytes;
  std::vector<Text> texts;
  std::vector<Span> spans;

  Text add(std::string_view value) {
    const Text text{static_cast<std::uint32_t>(bytes.size()),
                    static_cast<std::uint32_t>(value.size())};
    bytes.append(value);
    return text;
  }
  Text addOptional(const std::optional<std::string>& value) {
    return value ? add(std::string_view(*value)) : Text{};
  }
  std::string_view view(Text text) const {
    return text.present() ? std::string_view(bytes).substr(text.offset, text.size)
                          : std::string_view();
  }
  // Texts added one by one with addToList() after beginList() form the list endList() gives.
  Span beginList() const { return {static_cast<std::uint32_t>(texts.size()), 0}; }
  void addToList(std::string_view value) { texts.push_back(add(value)); }
  Span endList(Span list) const {
    list.count = static_cast<std::uint32_t>(texts.size()) - list.first;
    return list;
  }
  std::span<const Text> list(Span span) const { return {texts.data() + span.first, span.count}; }
  std::span<const Span> lists(Span span) const { return {spans.data() + span.first, span.count}; }
  bool contains(Span sortedList, std::string_view name) const;
};

// A folder listing with the identity it was taken at.
struct FolderRecord {
  Text name;  // within its parent (unset for the two top folders)
  FileIdentity identity;
  bool listed = false;
  bool racy = false;  // modified too recently for its identity to be trusted
  Span names;         // sorted
};

struct BundleRecord {
  // Where the bundle lies: group 0 is the system folder, 1 the containers (with `container`).
  std::uint8_t group = 0;
  Text container;
  Text name;
  Text path;
  FileIdentity folder;
  FileIdentity info;
  bool racy = false;     // the folder or Info.plist was modified too recently to be trusted
  bool stale = false;    // a file it names was found gone since: read it again
  bool hasInfo = false;  // the folder holds an Info.plist, and it was read
  bool valid = false;    // ... with a dictionary root and an identifier

  // From the Info.plist, when valid.
  Text identifier;
  Span appTags;
  Text displayName;
  Text bundleName;
  Text developmentRegion;
  Span iconSources;  // spans of icon names, best source first; the default names are not kept

  // From the folder's listing: "<name>.lproj" entries and the files named by the icon sources.
  Span localizations;
  Span iconFiles;

  // The localisation table last chosen (`stringsFolder` names its folder): kept with its
  // identity when it was read; its names, when it is well-formed and has them.
  Text stringsFolder;
  bool stringsKept = false;
  bool stringsRacy = false;
  FileIdentity strings;
  Text localDisplayName;
  Text localBundleName;
};

struct ApplicationWorkspace::FileCache {
  Arena arena;
  FolderRecord applications;          // <root>/Applications
  FolderRecord containers;            // <root>/var/containers/Bundle/Application
  std::vector<FolderRecord> boxes;    // each container's listing, by name
  std::vector<BundleRecord> bundles;  // in scan order
  std::uint64_t scan = 0;
  std::uint64_t unsettledVersions = 0;  // icon versions handed out for unsettled bundles
  // Something kept changed since the cache file was last written or read.
  bool changed = false;

  struct PngEntry {
    FileIdentity identity;
    std::optional<std::uint32_t> pixels;  // the larger side; none when not a usable PNG
    std::uint64_t scan = 0;
    bool racy = false;
  };
  std::unordered_map<std::string, PngEntry> pngSizes;  // icon files looked at, by path

  // Identifier -> bundle record, made on the first lookup after the records or arena change;
  // when two bundles share an identifier, the one listed last.
  std::unordered_map<std::string_view, std::uint32_t> index;
  const char* indexedBytes = nullptr;
  std::uint64_t indexedScan = 0;

  // Checks every bundle against its files' identities, reading afresh what changed, and
  // drops what is gone. `languages` are the user's localisation folders, best first.
  void rescan(Env& env, const std::string& deviceRoot, const std::vector<std::string>& languages);
  // Whether the bundle at `path` is still the folder and Info.plist `record` was read from
  // (as `look` found them, when they were looked at ahead of the scan).
  bool isCurrent(Env& env, const BundleRecord& record, std::string& path, OpenFolder* under,
                 std::size_t prefix, const BundleLook* look);
  // Reads the bundle at `path` afresh into `record` (keeping where it lies); false when its
  // folder cannot be listed or its Info.plist not read.
  bool readBundle(Env& env, BundleRecord& record, std::string& path);
  // The record of the bundle carrying `identifier` in the last scan, else nullptr.
  BundleRecord* indexed(std::string_view identifier);
  // The larger side in pixels of the icon file at `path`; none when it is not a usable PNG,
  // or is `missing`.
  std::optional<std::uint32_t> pngPixels(Env& env, const std::string& path, bool& missing);

  static bool isRacy(Env& env, const FileIdentity& identity);

  void load(Env& env, const std::string& path, const std::string& deviceRoot);
  void save(Env& env, const std::string& path, const std::string& deviceRoot);
  std::string encode(const std::string& deviceRoot) const;
  bool decode(std::string_view bytes, const std::string& deviceRoot);
  // Drops what re-read records left behind in the arena, once it outweighs what is live.
  void compact(const std::string& deviceRoot);
  std::size_t compactedBytes = 0;  // the arena's size when last compacted or loaded

 private:
  // Lists the folder at `path` into `record` again unless it kept its identity; with
  // `keepAll` false only bundle names are kept. False when it cannot be listed.
  bool refreshListing(Env& env, FolderRecord& record, const std::string& path, bool keepAll,
                      OpenFolder* under, std::size_t prefix);
  // Chooses the record's localisation table and reads it unless it kept its identity (as
  // `ahead` found it, when the table was looked at ahead of the scan).
  void chooseStrings(Env& env, BundleRecord& record, std::string& path,
                     const std::vector<std::string>& languages, OpenFolder* under,
                     std::size_t prefix, const LookedAt* ahead);
};

// The localisation folder a bundle speaks, among `present` (sorted "<name>.lproj" entries): the
// first present among the user's languages, its development region, "en" and "Base".
std::optional<Text> chosenLocalization(const Arena& arena, const BundleRecord& record,
                                       const std::vector<std::string>& languages);

// A bundle's files, by their names in its folder and in a localisation folder.
inline constexpr std::string_view kInfoPlist = "Info.plist";
inline constexpr std::string_view kStringsFile = "InfoPlist.strings";

// Whether `name` names an entry of a folder and nothing else: paths are joined from such names,
// so "..", "." or a path of several parts would lead the workspace out of the device.
inline bool isPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// Calls `visit` with each file name tried for the icon name `name`, best first, until it
// returns true; none for an unsafe name. True when a visit did.
template <typename Visit>
bool visitIconFileNames(std::string_view name, Visit visit) {
  if (!isPlainFileName(name)) return false;
  std::string_view base = name;
  if (base.size() > 4 && base.ends_with(".png")) base.remove_suffix(4);
  std::string file;  // reused: a scan names the icons of thousands of bundles
  for (std::string_view suffix : {"@2x.png", "@3x.png", ".png"}) {
    file.assign(base).append(suffix);
    if (visit(std::string_view(file))) return true;
  }
  return visit(name);
}

// Calls `visit` with the names of each icon source of `record`, best first, then with the
// default names every bundle falls back on, until it returns true. True when a visit did.
template <typename Visit>
bool visitIconSources(const Arena& arena, const BundleRecord& record, Visit visit) {
  static const std::string_view kDefaults[] = {"AppIcon60x60", "Icon"};
  std::vector<std::string_view> names;
  for (const Span& source : arena.lists(record.iconSources)) {
    names.clear();
    for (const Text& name : arena.list(source)) names.push_back(arena.view(name));
    if (visit(std::span<const std::string_view>(names))) return true;
  }
  return visit(std::span<const std::string_view>(kDefaults));
}

}  // namespace platform
