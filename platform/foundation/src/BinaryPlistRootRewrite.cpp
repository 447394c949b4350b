// A change of a few entries of a large root dictionary, made without rebuilding the document: a
// domain of ten thousand applications is a root of ten thousand entries, and one application's
// write would otherwise intern every key and value again.
//
// The builder lays the root out last, right before the offset table. So everything before the
// root is kept byte for byte (with every object's number and offset), the new values are encoded
// apart and grafted on after it with numbers from the old count up, and a new root and offset
// table follow. The root keeps its number. Only objects of replaced values can be left unreached;
// a walk from the root counts them, and past an eighth of the objects the caller rebuilds the
// document whole, which drops them.
#include <algorithm>
#include <cstring>

#include "BinaryPlistEncoding_p.h"
#include "BinaryPlistWalker_p.h"

namespace platform {
namespace {

using Ref = BinaryPlistDocument::Ref;
using bplist::appendBigEndian;
using bplist::appendMarker;
using bplist::bytesFor;

// The walker's checked reads alone: nothing here decodes.
struct NoSink {
  struct Result {};
};
using Reader = BinaryPlistWalker<NoSink>;

constexpr std::uint64_t kCeiling = std::uint64_t{1} << 62;

struct Container {
  std::uint8_t type = 0;
  std::uint64_t refsAt = 0;  // where the references start
  std::uint64_t refs = 0;    // how many (a dictionary's keys and values)
};

// The array or dictionary at `start`; nothing for a leaf. `ok` is false when the object cannot
// be read or is a container of another kind (a set).
std::optional<Container> containerAt(const Reader& reader, std::uint64_t start,
                                     std::uint8_t referenceSize, bool& ok) {
  ok = true;
  const std::uint8_t marker = reader.byte(start);
  const std::uint8_t type = marker & 0xF0;
  if (type != 0xA0 && type != 0xD0) {
    ok = type != 0xC0 && type != 0xB0 && type != 0xE0 && type != 0xF0;
    return std::nullopt;
  }
  std::uint64_t at = start + 1;
  const auto count = reader.length(marker, at);
  const std::uint64_t refs = count && type == 0xD0 ? 2 * *count : count.value_or(0);
  // Bounded first, so that the size below cannot wrap; any real count is far smaller.
  if (!count || *count > (std::uint64_t{1} << 40) || !reader.fits(at, refs * referenceSize)) {
    ok = false;
    return std::nullopt;
  }
  return Container{type, at, refs};
}

// The objects reached from the root's entries, with what each stands for counted as a tree and
// how deep it nests, each object walked once.
class Reach {
 public:
  Reach(const Reader& reader, std::uint64_t count, std::uint8_t referenceSize)
      : reader_(reader), referenceSize_(referenceSize), expanded_(count), depth_(count) {}

  // Marks `ref` (a key: a leaf, as the document was checked to hold).
  void markLeaf(Ref ref) {
    if (expanded_[ref] == 0) ++reached_;
    expanded_[ref] = 1;
  }
  // Walks `ref`; false when it cannot be read, nests too deep or contains itself.
  bool walk(Ref ref, int level = 0) {
    if (expanded_[ref] == kVisiting || level > plist::kMaximumDepth) return false;
    if (expanded_[ref] != 0) return true;
    const auto start = reader_.offsetOf(ref);
    if (!start) return false;
    bool ok = true;
    const auto container = containerAt(reader_, *start, referenceSize_, ok);
    ++reached_;
    if (!container) {
      expanded_[ref] = 1;
      return ok;
    }
    expanded_[ref] = kVisiting;
    std::uint64_t expanded = 1;
    int depth = 0;
    for (std::uint64_t i = 0; i < container->refs; ++i) {
      const auto child = reader_.reference(container->refsAt + i * referenceSize_);
      if (!child || !walk(*child, level + 1)) return false;
      expanded = std::min(kCeiling, expanded + expanded_[*child]);
      depth = std::max(depth, 1 + depth_[*child]);
    }
    expanded_[ref] = expanded;
    depth_[ref] = depth;
    return true;
  }
  std::uint64_t expanded(Ref ref) const { return expanded_[ref]; }
  int depth(Ref ref) const { return depth_[ref]; }
  std::uint64_t reached() const { return reached_; }

 private:
  static constexpr std::uint64_t kVisiting = ~std::uint64_t{0};
  const Reader& reader_;
  const std::uint8_t referenceSize_;
  std::vector<std::uint64_t> expanded_;  // 0: not reached
  std::vector<int> depth_;
  std::uint64_t reached_ = 0;
};

// Copies objects of a small document built apart (the new values) after the kept objects,
// numbering them from `base` and writing their references `referenceSize` wide.
class Graft {
 public:
  Graft(const BinaryPlistDocument& source, std::uint64_t base, std::uint8_t referenceSize,
        std::string& out)
      : source_(source),
        reader_(source, unused_),
        base_(base),
        referenceSize_(referenceSize),
        out_(out),
        numbers_(source.objectCount(), kUnset) {}

  // The number the object `ref` of the source has in the result; nothing when it cannot be read.
  std::optional<Ref> copy(Ref ref) {
    if (numbers_[ref] != kUnset) return numbers_[ref];
    const auto start = reader_.offsetOf(ref);
    if (!start) return std::nullopt;
    bool ok = true;
    const auto container = containerAt(reader_, *start, source_.referenceSize(), ok);
    if (!ok) return std::nullopt;
    std::string bytes;
    if (container) {
      std::vector<Ref> children;
      for (std::uint64_t i = 0; i < container->refs; ++i) {
        const auto child = reader_.reference(container->refsAt + i * source_.referenceSize());
        const auto number = child ? copy(*child) : std::nullopt;
        if (!number) return std::nullopt;
        children.push_back(*number);
      }
      const std::uint64_t count = container->type == 0xD0 ? container->refs / 2 : container->refs;
      appendMarker(bytes, container->type, count);
      for (const Ref child : children) appendBigEndian(bytes, child, referenceSize_);
    } else {
      const auto end = leafEnd(*start);
      if (!end) return std::nullopt;
      bytes = source_.bytes().substr(*start, *end - *start);
    }
    const Ref number = base_ + offsets_.size();
    offsets_.push_back(out_.size());
    out_ += bytes;
    numbers_[ref] = number;
    return number;
  }
  const std::vector<std::uint64_t>& offsets() const { return offsets_; }

 private:
  static constexpr Ref kUnset = ~Ref{0};

  // Where the leaf at `start` ends.
  std::optional<std::uint64_t> leafEnd(std::uint64_t start) const {
    const std::uint8_t marker = reader_.byte(start);
    std::uint64_t at = start + 1;
    std::uint64_t size = 0;
    switch (marker & 0xF0) {
      case 0x00:
        break;
      case 0x10:
      case 0x20:
        size = std::uint64_t{1} << (marker & 0x0F);
        break;
      case 0x30:
        size = 8;
        break;
      case 0x40:
      case 0x50:
      case 0x60: {
        const auto length = reader_.length(marker, at);
        if (!length) return std::nullopt;
        size = (marker & 0xF0) == 0x60 ? 2 * *length : *length;
        break;
      }
      default:
        return std::nullopt;
    }
    if (!reader_.fits(at, size)) return std::nullopt;
    return at + size;
  }

  NoSink unused_;
  const BinaryPlistDocument& source_;
  const Reader reader_;
  const std::uint64_t base_;
  const std::uint8_t referenceSize_;
  std::string& out_;
  std::vector<Ref> numbers_;
  std::vector<std::uint64_t> offsets_;
};

}  // namespace

std::optional<std::string> BinaryPlistDocument::withRootEntries(
    const std::vector<std::pair<std::string_view, const Value*>>& changes, FileKind kind,
    std::uint64_t& kept, std::string buffer) const {
  NoSink unused;
  const Reader reader(*this, unused);
  const std::uint8_t width = referenceSize_;
  const auto rootStart = reader.offsetOf(top_);
  if (!rootStart || (reader.byte(*rootStart) & 0xF0) != 0xD0) return std::nullopt;
  bool ok = true;
  const auto root = containerAt(reader, *rootStart, width, ok);
  if (!root || root->refsAt + root->refs * width != offsetTable_) return std::nullopt;
  const std::uint64_t size = root->refs / 2;
  const std::uint64_t keysAt = root->refsAt;
  const std::uint64_t valuesAt = keysAt + size * width;
  const auto keyAt = [&](std::uint64_t index) -> std::optional<std::string_view> {
    const auto ref = reader.reference(keysAt + index * width);
    const auto start = ref ? reader.offsetOf(*ref) : std::nullopt;
    if (!start || (reader.byte(*start) & 0xF0) != 0x50) return std::nullopt;
    std::uint64_t at = *start + 1;
    const auto length = reader.length(reader.byte(*start), at);
    if (!length || !reader.fits(at, *length)) return std::nullopt;
    return std::string_view(bytes_).substr(at, *length);
  };

  // Where each change goes among the entries, and whether it replaces one.
  struct Place {
    std::uint64_t index;
    bool replaces;
  };
  std::vector<Place> places;
  for (const auto& [key, value] : changes) {
    std::uint64_t low = places.empty() ? 0 : places.back().index, high = size;
    while (low < high) {
      const std::uint64_t middle = low + (high - low) / 2;
      const auto text = keyAt(middle);
      if (!text) return std::nullopt;
      if (*text < key) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    const auto found = low < size ? keyAt(low) : std::nullopt;
    if (low < size && !found) return std::nullopt;
    places.push_back(Place{low, found && *found == key});
  }

  // What the kept entries reach, and so what is left unreached once the changes are made.
  Reach reach(reader, count_, width);
  reach.markLeaf(top_);
  std::uint64_t expanded = 1;
  int depth = 0;
  // The root's references were found to lie within the objects: read without a check each.
  const auto referenceAt = [&](std::uint64_t at) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(bytes_.data() + at);
    Ref ref = 0;
    for (std::size_t i = 0; i < width; ++i) ref = (ref << 8) | bytes[i];
    return ref;
  };
  const auto keep = [&](std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t i = from; i < to; ++i) {
      const Ref key = referenceAt(keysAt + i * width);
      const Ref value = referenceAt(valuesAt + i * width);
      if (key >= count_ || value >= count_ || !reach.walk(value)) return false;
      reach.markLeaf(key);
      expanded = std::min(kCeiling, expanded + 1 + reach.expanded(value));
      depth = std::max(depth, 1 + reach.depth(value));
    }
    return true;
  };

  // The new values (and new keys) are built apart, then grafted on.
  BinaryPlistBuilder builder;
  std::vector<std::pair<BinaryPlistBuilder::Ref, BinaryPlistBuilder::Ref>> added;
  for (const auto& [key, value] : changes) {
    if (value == nullptr) continue;
    const auto keyRef = builder.addString(key);
    const auto valueRef = keyRef ? builder.add(*value) : std::nullopt;
    if (!valueRef) return std::nullopt;
    const BinaryPlistExtent extent = builder.extent(*valueRef);
    expanded = std::min(kCeiling, expanded + 1 + extent.expandedObjects);
    depth = std::max(depth, 1 + extent.depth);
    added.emplace_back(*keyRef, *valueRef);
  }
  std::uint64_t next = 0;
  for (std::size_t i = 0; i < changes.size(); ++i) {
    if (!keep(next, places[i].index)) return std::nullopt;
    next = places[i].index + (places[i].replaces ? 1 : 0);
    if (places[i].replaces && changes[i].second != nullptr) {
      const auto key = reader.reference(keysAt + places[i].index * width);
      if (!key) return std::nullopt;
      reach.markLeaf(*key);
    }
  }
  if (!keep(next, size)) return std::nullopt;
  const auto separate = BinaryPlistDocument::open(builder.finish(builder.addDictionary(added)));
  if (!separate) return std::nullopt;

  std::string out = std::move(buffer);
  out.clear();
  out.reserve(bytes_.size() + 2 * separate->bytes().size());
  out.append(bytes_, 0, *rootStart);
  Graft graft(*separate, count_, width, out);
  std::vector<Ref> newKeys, newValues;
  for (std::size_t i = 0, j = 0; i < changes.size(); ++i) {
    if (changes[i].second == nullptr) continue;
    const auto value = graft.copy(added[j].second);
    std::optional<Ref> key;
    if (places[i].replaces) {
      key = reader.reference(keysAt + places[i].index * width);
    } else {
      key = graft.copy(added[j].first);
    }
    if (!value || !key) return std::nullopt;
    newKeys.push_back(*key);
    newValues.push_back(*value);
    ++j;
  }
  const std::uint64_t count = count_ + graft.offsets().size();
  const std::uint64_t unreached = count - graft.offsets().size() - reach.reached();
  if (bytesFor(count - 1) > width || unreached * 8 > count) return std::nullopt;

  // The new root: runs of kept entries copied as they stand, the changes between them.
  std::uint64_t entries = size + newKeys.size();
  for (const Place& place : places) entries -= place.replaces ? 1 : 0;
  const std::uint64_t rootOffset = out.size();
  appendMarker(out, 0xD0, entries);
  for (const std::uint64_t column : {keysAt, valuesAt}) {
    const std::vector<Ref>& changed = column == keysAt ? newKeys : newValues;
    std::uint64_t from = 0;
    std::size_t j = 0;
    const auto copyRun = [&](std::uint64_t to) {
      out.append(bytes_, column + from * width, (to - from) * width);
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
      copyRun(places[i].index);
      from = places[i].index + (places[i].replaces ? 1 : 0);
      if (changes[i].second != nullptr) appendBigEndian(out, changed[j++], width);
    }
    copyRun(size);
  }

  // The offset table, written straight into place: it is the larger part of what is written
  // here. Everything before the root was kept, so no other object may lie after its start.
  const std::uint64_t tableOffset = out.size();
  const std::size_t offsetWidth = bytesFor(tableOffset);
  out.resize(tableOffset + count * offsetWidth);
  auto* into = reinterpret_cast<unsigned char*>(out.data() + tableOffset);
  const auto put = [&](std::uint64_t offset) {
    for (std::size_t i = offsetWidth; i-- > 0; offset >>= 8) into[i] = offset & 0xFF;
    into += offsetWidth;
  };
  const auto* from = reinterpret_cast<const unsigned char*>(bytes_.data() + offsetTable_);
  for (Ref ref = 0; ref < count_; ++ref, from += offsetSize_) {
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < offsetSize_; ++i) offset = (offset << 8) | from[i];
    if (ref == top_) {
      offset = rootOffset;
    } else if (offset < 8 || offset >= *rootStart) {
      return std::nullopt;
    }
    put(offset);
  }
  for (const std::uint64_t offset : graft.offsets()) put(offset);
  out.append(6, '\0');
  out += static_cast<char>(offsetWidth);
  out += static_cast<char>(width);
  appendBigEndian(out, count, 8);
  appendBigEndian(out, top_, 8);
  appendBigEndian(out, tableOffset, 8);
  if (BinaryPlistExtent{out.size(), expanded, depth}.refusal(kind)) return std::nullopt;
  kept = *rootStart;
  return out;
}

}  // namespace platform
