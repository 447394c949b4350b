// The workspace's cache file: what a process learnt of the device's bundles, kept in the user's
// home so that the next process checks each file's identity instead of listing, reading and
// parsing it again. The file is binary: a magic, the length and a checksum of the body, then
// the body (the device root, the folder listings, the Info.plists and the localisation tables,
// each with the identity of the file it came from). Numbers are variable-length and each
// table's paths are sorted and share their prefix with the one before, so that the file stays
// small enough to be read in one go at tens of thousands of bundles. Nothing in it is trusted until
// the file it names is found with the same identity, so a stale file costs reads, never a wrong
// answer.

#include <algorithm>
#include <cstring>

#include "WorkspaceFileCache.h"

namespace platform {
namespace {

constexpr std::string_view kMagic = "HXWSC\x02\r\n";
constexpr std::size_t kHeaderSize = kMagic.size() + 2 * sizeof(std::uint64_t);

// A word-at-a-time checksum: it only has to catch a torn or damaged file, quickly.
std::uint64_t checksum(std::string_view bytes) {
  std::uint64_t hash = 0x9E3779B97F4A7C15ull ^ bytes.size();
  auto mix = [&](std::uint64_t word) {
    hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 32;
  };
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    mix(word);
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
  mix(tail);
  return hash;
}

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
  void optionalText(const std::optional<std::string>& value) {
    out.push_back(value ? 1 : 0);
    if (value) text(*value);
  }
  // A path as the length it shares with the path written before it, then the rest.
  void path(std::string_view value) {
    const auto shared =
        std::mismatch(value.begin(), value.end(), previous_.begin(), previous_.end());
    const auto prefix = static_cast<std::size_t>(shared.first - value.begin());
    number(prefix);
    text(value.substr(prefix));
    previous_.assign(value);
  }
  void texts(const std::vector<std::string>& values) {
    number(values.size());
    for (const std::string& value : values) text(value);
  }
  void identity(const FileIdentity& identity) {
    number(identity.device);
    number(identity.inode);
    number(static_cast<std::uint64_t>(identity.size));
    number(static_cast<std::uint64_t>(identity.mtimeNanoseconds));
    number(static_cast<std::uint64_t>(identity.ctimeNanoseconds));
  }

 private:
  std::string previous_;
};

// Reads what Writer wrote; any read past the end or count larger than what is left fails it
// for good, and everything after answers empty.
class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  bool ok() const { return ok_; }
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
  std::string text() {
    const std::size_t size = count();
    if (!take(size)) return {};
    return std::string(in_.data() - size, size);
  }
  std::string path() {
    const std::uint64_t prefix = number();
    if (prefix > previous_.size()) ok_ = false;
    if (!ok_) return {};
    previous_.resize(static_cast<std::size_t>(prefix));
    previous_ += text();
    return previous_;
  }
  bool flag() {
    if (!take(1)) return false;
    const char value = in_.data()[-1];
    if (value != 0 && value != 1) ok_ = false;
    return value == 1;
  }
  std::optional<std::string> optionalText() {
    if (!flag()) return std::nullopt;
    return text();
  }
  std::vector<std::string> texts() {
    std::vector<std::string> values(count());
    for (std::string& value : values) value = text();
    return values;
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
  std::string previous_;
  bool ok_ = true;
};

template <typename Table, typename Put>
void encodeTable(Writer& writer, const Table& table, Put put) {
  std::vector<const typename Table::value_type*> settled;
  settled.reserve(table.size());
  for (const auto& item : table) {
    if (!item.second.racy) settled.push_back(&item);  // read again by every scan anyway
  }
  // In path order, so that each path shares most of itself with the one before.
  std::sort(settled.begin(), settled.end(),
            [](const auto* a, const auto* b) { return a->first < b->first; });
  writer.number(settled.size());
  for (const auto* item : settled) {
    const auto& [path, entry] = *item;
    writer.path(path);
    writer.identity(entry.identity);
    writer.out.push_back(entry.parsed ? 1 : 0);
    if (entry.parsed) put(*entry.parsed);
  }
}

template <typename Table, typename Get>
bool decodeTable(Reader& reader, Table& table, Get get) {
  const std::size_t size = reader.count();
  table.reserve(size);
  for (std::size_t i = 0; i < size && reader.ok(); ++i) {
    std::string path = reader.path();
    typename Table::mapped_type entry;
    entry.identity = reader.identity();
    if (reader.flag()) entry.parsed = get();
    table.insert_or_assign(std::move(path), std::move(entry));
  }
  return reader.ok();
}

}  // namespace

std::string ApplicationWorkspace::FileCache::encode(const std::string& deviceRoot) const {
  Writer writer;
  writer.out.reserve(128 * (infos.size() + folders.size()));
  writer.out.append(kHeaderSize, '\0');
  writer.text(deviceRoot);
  encodeTable(writer, folders, [&](const Listing& names) { writer.texts(names); });
  encodeTable(writer, infos, [&](const BundleInfo& info) {
    writer.text(info.identifier);
    writer.texts(info.appTags);
    writer.optionalText(info.displayName);
    writer.optionalText(info.bundleName);
    writer.optionalText(info.developmentRegion);
    writer.number(info.iconSources.size());
    for (const auto& source : info.iconSources) writer.texts(source);
  });
  encodeTable(writer, strings, [&](const StringsTable& table) {
    writer.number(table.size());
    for (const auto& [key, value] : table) {
      writer.text(key);
      writer.text(value);
    }
  });
  const std::string_view body = std::string_view(writer.out).substr(kHeaderSize);
  const std::uint64_t header[2] = {body.size(), checksum(body)};
  std::memcpy(writer.out.data(), kMagic.data(), kMagic.size());
  std::memcpy(writer.out.data() + kMagic.size(), header, sizeof header);
  return std::move(writer.out);
}

bool ApplicationWorkspace::FileCache::decode(std::string_view bytes,
                                             const std::string& deviceRoot) {
  if (bytes.size() < kHeaderSize || !bytes.starts_with(kMagic)) return false;
  std::uint64_t header[2];
  std::memcpy(header, bytes.data() + kMagic.size(), sizeof header);
  const std::string_view body = bytes.substr(kHeaderSize);
  if (header[0] != body.size() || header[1] != checksum(body)) return false;
  Reader reader(body);
  if (reader.text() != deviceRoot) return false;
  const bool whole = decodeTable(reader, folders, [&] { return reader.texts(); }) &&
                     decodeTable(reader, infos,
                                 [&] {
                                   BundleInfo info;
                                   info.identifier = reader.text();
                                   info.appTags = reader.texts();
                                   info.displayName = reader.optionalText();
                                   info.bundleName = reader.optionalText();
                                   info.developmentRegion = reader.optionalText();
                                   info.iconSources.resize(reader.count());
                                   for (auto& source : info.iconSources) source = reader.texts();
                                   return info;
                                 }) &&
                     decodeTable(reader, strings,
                                 [&] {
                                   StringsTable table;
                                   const std::size_t size = reader.count();
                                   for (std::size_t i = 0; i < size && reader.ok(); ++i) {
                                     std::string key = reader.text();
                                     table.insert_or_assign(std::move(key), reader.text());
                                   }
                                   return table;
                                 }) &&
                     reader.atEnd();
  if (!whole) {
    folders.clear();
    infos.clear();
    strings.clear();
  }
  return whole;
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
