// The workspace's cache file: what a process learnt of the device's bundles, kept in the user's
// home so that the next process checks each file's identity instead of listing, reading and
// parsing it again. The file is binary: a magic, the length and a checksum of the body, then
// the body (the device root, the folder listings, then a record per bundle, each with the
// identities of the files it came from). Numbers are variable-length, so that the file stays
// small enough to be read in one go at tens of thousands of bundles. Nothing in it is trusted
// until the file it names is found with the same identity, so a stale file costs reads, never a
// wrong answer.

#include <algorithm>
#include <cstring>

#include "WorkspaceCacheFrame_p.h"
#include "WorkspaceFileCache.h"

namespace platform {
namespace {

class Writer {
 public:
  std::string out;
  // Seven bits a byte, low first; the high bit says more follow.
  void number(std::uint64_t value) {
    for (; value >= 0x80; value >>= 7) out.push_back(static_cast<char>(value | 0x80));
    out.push_back(static_cast<char>(value));
  }
  void text(std::string_view value) {
    number(value.size());
    out.append(value);
  }
  void optionalText(const Arena& arena, Text value) {
    out.push_back(value.present() ? 1 : 0);
    if (value.present()) text(arena.view(value));
  }
  void texts(const Arena& arena, Span list) {
    number(list.count);
    for (const Text& value : arena.list(list)) text(arena.view(value));
  }
  void identity(const FileIdentity& identity) {
    number(identity.device);
    number(identity.inode);
    number(static_cast<std::uint64_t>(identity.size));
    number(static_cast<std::uint64_t>(identity.mtimeNanoseconds));
    number(static_cast<std::uint64_t>(identity.ctimeNanoseconds));
  }
};

// Reads what Writer wrote; any read past the end or count larger than what is left fails it
// for good, and everything after answers empty.
class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  bool ok() const { return ok_; }
  void fail() { ok_ = false; }
  bool atEnd() const { return in_.empty(); }

  std::uint64_t number() {
    std::uint64_t value = 0;
    for (unsigned shift = 0; shift < 64; shift += 7) {
      if (!take(1)) return 0;
      const auto byte = static_cast<unsigned char>(in_.data()[-1]);
      value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) return value;
    }
    ok_ = false;  // longer than any 64-bit number
    return 0;
  }
  // A count of items that each take at least one byte.
  std::size_t count() {
    const std::uint64_t value = number();
    if (value > in_.size()) ok_ = false;
    return ok_ ? static_cast<std::size_t>(value) : 0;
  }
  std::string_view text() {
    const std::size_t size = count();
    if (!take(size)) return {};
    return {in_.data() - size, size};
  }
  bool flag() {
    if (!take(1)) return false;
    const char value = in_.data()[-1];
    if (value != 0 && value != 1) ok_ = false;
    return value == 1;
  }
  std::uint8_t byte() {
    if (!take(1)) return 0;
    return static_cast<std::uint8_t>(in_.data()[-1]);
  }
  Text optionalText(Arena& arena) {
    if (!flag()) return {};
    return arena.add(text());
  }
  Span texts(Arena& arena) {
    Span list = arena.beginList();
    const std::size_t size = count();
    for (std::size_t i = 0; i < size && ok_; ++i) arena.addToList(text());
    return arena.endList(list);
  }
  // A name within a folder: a damaged file must not name anything else (see isPlainFileName).
  std::string_view fileName() {
    const std::string_view name = text();
    if (!isPlainFileName(name)) {
      ok_ = false;
      return {};
    }
    return name;
  }
  Span fileNames(Arena& arena) {
    Span list = arena.beginList();
    const std::size_t size = count();
    for (std::size_t i = 0; i < size && ok_; ++i) arena.addToList(fileName());
    return arena.endList(list);
  }
  FileIdentity identity() {
    FileIdentity identity;
    identity.device = number();
    identity.inode = number();
    identity.size = static_cast<std::int64_t>(number());
    identity.mtimeNanoseconds = static_cast<std::int64_t>(number());
    identity.ctimeNanoseconds = static_cast<std::int64_t>(number());
    return identity;
  }

 private:
  bool take(std::size_t size) {
    if (!ok_ || size > in_.size()) {
      ok_ = false;
      return false;
    }
    in_.remove_prefix(size);
    return true;
  }
  std::string_view in_;
  bool ok_ = true;
};

enum RecordFlag : std::uint8_t {
  kRacy = 1,
  kHasInfo = 2,
  kValid = 4,
  kStringsKept = 8,
  kStringsRacy = 16,
};

void encodeFolder(Writer& writer, const Arena& arena, const FolderRecord& folder) {
  writer.identity(folder.identity);
  writer.out.push_back(folder.racy ? 1 : 0);
  writer.texts(arena, folder.names);
}

void decodeFolder(Reader& reader, Arena& arena, FolderRecord& folder) {
  folder.listed = true;
  folder.identity = reader.identity();
  folder.racy = reader.flag();
  folder.names = reader.fileNames(arena);
}

void encodeBundle(Writer& writer, const Arena& arena, const BundleRecord& record) {
  writer.out.push_back(static_cast<char>(record.group));
  if (record.group == 1) writer.text(arena.view(record.container));
  writer.text(arena.view(record.name));
  writer.identity(record.folder);
  // A record found stale is read again by the next scan, as a racy one is.
  writer.out.push_back(static_cast<char>(
      (record.racy || record.stale ? kRacy : 0) | (record.hasInfo ? kHasInfo : 0) |
      (record.valid ? kValid : 0) | (record.stringsKept ? kStringsKept : 0) |
      (record.stringsRacy ? kStringsRacy : 0)));
  if (record.hasInfo) writer.identity(record.info);
  if (!record.valid) return;
  writer.text(arena.view(record.identifier));
  writer.texts(arena, record.appTags);
  writer.optionalText(arena, record.displayName);
  writer.optionalText(arena, record.bundleName);
  writer.optionalText(arena, record.developmentRegion);
  writer.number(record.iconSources.count);
  for (const Span& source : arena.lists(record.iconSources)) writer.texts(arena, source);
  writer.texts(arena, record.localizations);
  writer.texts(arena, record.iconFiles);
  writer.optionalText(arena, record.stringsFolder);
  if (!record.stringsKept) return;
  writer.identity(record.strings);
  writer.optionalText(arena, record.localDisplayName);
  writer.optionalText(arena, record.localBundleName);
}

// The record's path is made from where it lies, as a scan makes it.
void decodeBundle(Reader& reader, Arena& arena, BundleRecord& record,
                  const std::string& applicationsPath, const std::string& containersPath,
                  std::string& path) {
  record.group = reader.byte();
  if (record.group > 1) reader.fail();
  if (record.group == 1) record.container = arena.add(reader.fileName());
  record.name = arena.add(reader.fileName());
  if (record.group == 0) {
    path.assign(applicationsPath);
  } else {
    path.assign(containersPath).append("/").append(arena.view(record.container));
  }
  path.append("/").append(arena.view(record.name));
  record.path = arena.add(path);
  record.folder = reader.identity();
  const std::uint8_t flags = reader.byte();
  record.racy = flags & kRacy;
  record.hasInfo = flags & kHasInfo;
  record.valid = flags & kValid;
  record.stringsKept = flags & kStringsKept;
  record.stringsRacy = flags & kStringsRacy;
  if (record.hasInfo) record.info = reader.identity();
  if (!record.valid) return;
  record.identifier = arena.add(reader.text());
  // A scan marks valid only an Info.plist it read with an identifier.
  if (!record.hasInfo || record.identifier.size == 0) reader.fail();
  record.appTags = reader.texts(arena);
  record.displayName = reader.optionalText(arena);
  record.bundleName = reader.optionalText(arena);
  record.developmentRegion = reader.optionalText(arena);
  // Each source's texts go to the arena's texts, so its span goes straight to the spans.
  const std::size_t sources = reader.count();
  const auto firstSource = static_cast<std::uint32_t>(arena.spans.size());
  for (std::size_t i = 0; i < sources && reader.ok(); ++i) {
    arena.spans.push_back(reader.texts(arena));
  }
  record.iconSources = {firstSource, static_cast<std::uint32_t>(arena.spans.size()) - firstSource};
  record.localizations = reader.fileNames(arena);
  record.iconFiles = reader.fileNames(arena);
  // A folder name too: the scan joins it into the path of the localisation table.
  if (reader.flag()) record.stringsFolder = arena.add(reader.fileName());
  if (!record.stringsKept) return;
  record.strings = reader.identity();
  record.localDisplayName = reader.optionalText(arena);
  record.localBundleName = reader.optionalText(arena);
}

}  // namespace

std::string ApplicationWorkspace::FileCache::encode(const std::string& deviceRoot) const {
  Writer writer;
  writer.out.reserve(arena.bytes.size() / 2 + 64 * bundles.size() + 1024);
  writer.out.append(workspacecache::kHeaderSize, '\0');
  writer.text(deviceRoot);
  for (const FolderRecord* folder : {&applications, &containers}) {
    writer.out.push_back(folder->listed ? 1 : 0);
    if (folder->listed) encodeFolder(writer, arena, *folder);
  }
  writer.number(boxes.size());
  for (const FolderRecord& box : boxes) {
    writer.text(arena.view(box.name));
    encodeFolder(writer, arena, box);
  }
  writer.number(bundles.size());
  for (const BundleRecord& record : bundles) encodeBundle(writer, arena, record);
  workspacecache::writeHeader(writer.out);
  return std::move(writer.out);
}

bool ApplicationWorkspace::FileCache::decode(std::string_view bytes,
                                             const std::string& deviceRoot) {
  arena = Arena();
  applications = containers = FolderRecord();
  boxes.clear();
  bundles.clear();
  compactedBytes = 0;
  std::string_view body;
  if (!workspacecache::body(bytes, body)) return false;
  Reader reader(body);
  if (reader.text() != deviceRoot) return false;
  // Every string of the file lands in the arena, so one reservation serves them all.
  arena.bytes.reserve(body.size() + body.size() / 2);
  arena.texts.reserve(body.size() / 12);
  for (FolderRecord* folder : {&applications, &containers}) {
    if (reader.flag()) decodeFolder(reader, arena, *folder);
  }
  boxes.resize(reader.count());
  for (FolderRecord& box : boxes) {
    box.name = arena.add(reader.fileName());
    decodeFolder(reader, arena, box);
  }
  const std::string applicationsPath = joinPath(deviceRoot, "Applications");
  const std::string containersPath = joinPath(deviceRoot, "var/containers/Bundle/Application");
  std::string path;
  bundles.resize(reader.count());
  for (BundleRecord& record : bundles) {
    if (!reader.ok()) break;
    decodeBundle(reader, arena, record, applicationsPath, containersPath, path);
  }
  if (!reader.ok() || !reader.atEnd()) {
    arena = Arena();
    applications = containers = FolderRecord();
    boxes.clear();
    bundles.clear();
    return false;
  }
  compactedBytes = arena.bytes.size();
  return true;
}

void ApplicationWorkspace::FileCache::load(Env& env, const std::string& path,
                                           const std::string& deviceRoot) {
  std::string bytes;
  if (!env.readFile(path, FileKind::PreferenceDomain, bytes).isOk()) return;
  // A file another process wrote for the same device needs no rewrite until something changes.
  changed = !decode(bytes, deviceRoot);
}

void ApplicationWorkspace::FileCache::save(Env& env, const std::string& path,
                                           const std::string& deviceRoot) {
  changed = false;
  const std::string bytes = encode(deviceRoot);
  // Not flushed: after a crash a torn file fails its checksum and the device is read again.
  std::unique_ptr<WritableFile> file;
  std::string temporary;
  Status status = env.createTemporaryFile(path, 0600, file, temporary);
  if (status.isNotFound()) {
    env.createDirectories(path.substr(0, path.rfind('/')), 0700);
    status = env.createTemporaryFile(path, 0600, file, temporary);
  }
  if (!status.isOk()) return;
  status = file->append(bytes);
  file.reset();
  if (status.isOk()) status = env.renameFile(temporary, path, AllowOverwrite::Yes);
  if (!status.isOk()) env.removeFile(temporary);
}

}  // namespace platform
