// The "bplist00" writer. Objects are encoded children first straight into the output buffer;
// a leaf identical to one already written is dropped and the earlier one referred to instead.
// Containers keep their references aside until the object count, and so the reference width,
// is known, and are laid out after the leaves. A container is written once however often its
// input refers to it, as a document shares it or as copies of one Value share it: written out
// each time, a few hundred bytes of shared containers become millions of objects.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "BinaryPlistEncoding_p.h"
#include "BinaryPlistWalker_p.h"
#include "PlistFormats_p.h"
#include "platform/foundation/Utf8.h"

namespace platform {
namespace {

using bplist::appendBigEndian;
using bplist::appendMarker;
using bplist::appendUnsigned;
using bplist::bytesFor;

std::size_t markerSize(std::uint64_t count) {
  return count < 15 ? 1 : 2 + bytesFor(count);
}

void appendDouble(std::string& out, std::uint8_t marker, double number) {
  std::uint64_t bits;
  std::memcpy(&bits, &number, sizeof bits);
  out += static_cast<char>(marker);
  appendBigEndian(out, bits, 8);
}

}  // namespace

// Copies objects of a document into the builder, each once.
struct BuilderSink {
  using Result = BinaryPlistBuilder::Ref;
  using Ref = BinaryPlistBuilder::Ref;

  WalkSlot<Ref>& slot(BinaryPlistDocument::Ref ref) { return builder.copied_->slot(ref); }
  std::optional<Ref> leaf(LeafKind, std::string_view object, std::uint64_t) {
    const std::size_t start = builder.buffer_.size();
    builder.buffer_.append(object);
    return builder.intern(start);
  }
  std::optional<Ref> array(const Ref* items, std::size_t count) {
    return builder.addContainer(0xA0, items, count);
  }
  std::optional<Ref> dictionary(const Ref* keys, const Ref* values, std::size_t count) {
    // The walker hands keys and values out as one run: keys first.
    (void)values;
    return builder.addContainer(0xD0, keys, 2 * count);
  }

  BinaryPlistBuilder& builder;
};

BinaryPlistBuilder::BinaryPlistBuilder(ContainerSharing sharing)
    : sharing_(sharing), buffer_("bplist00") {}

BinaryPlistBuilder::~BinaryPlistBuilder() = default;

std::optional<BinaryPlistBuilder::Ref> BinaryPlistBuilder::add(const Value& value) {
  return addValue(value, 0);
}

std::optional<BinaryPlistBuilder::Ref> BinaryPlistBuilder::addValue(const Value& value, int depth) {
  if (depth > plist::kMaximumDepth) return std::nullopt;
  const std::size_t start = buffer_.size();
  switch (value.kind()) {
    case ValueKind::Boolean:
      buffer_ += value.booleanValue() ? '\x09' : '\x08';
      return intern(start);
    case ValueKind::Integer:
      if (value.isUnsignedInteger()) {
        // Above INT64_MAX only a 16-byte integer keeps the value positive.
        buffer_ += '\x14';
        appendBigEndian(buffer_, 0, 8);
        appendBigEndian(buffer_, value.unsignedBits(), 8);
      } else if (value.integerBits() < 0) {
        buffer_ += '\x13';
        appendBigEndian(buffer_, value.unsignedBits(), 8);
      } else {
        appendUnsigned(buffer_, value.unsignedBits());
      }
      return intern(start);
    case ValueKind::Real:
      appendDouble(buffer_, 0x23, value.realValue());
      return intern(start);
    case ValueKind::Date:
      if (!std::isfinite(value.dateValue())) return std::nullopt;  // no reader takes it
      appendDouble(buffer_, 0x33, value.dateValue());
      return intern(start);
    case ValueKind::Data: {
      const auto& bytes = value.dataValue();
      appendMarker(buffer_, 0x40, bytes.size());
      buffer_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      return intern(start);
    }
    case ValueKind::String:
      return addString(value.stringValue());
    case ValueKind::Array:
    case ValueKind::Dictionary:
      return addArrayOrDictionary(value, depth);
    default:
      return std::nullopt;
  }
}

std::optional<BinaryPlistBuilder::Ref> BinaryPlistBuilder::addArrayOrDictionary(const Value& value,
                                                                                int depth) {
  const void* contents = value.isArray() ? static_cast<const void*>(&value.arrayValue())
                                         : static_cast<const void*>(&value.dictionaryValue());
  if (sharing_ == ContainerSharing::Kept) {
    if (auto it = added_.find(contents); it != added_.end()) {
      if (depth + depthOf(it->second.second) > plist::kMaximumDepth) return std::nullopt;
      return it->second.second;
    }
  }
  std::optional<Ref> added;
  switch (value.kind()) {
    case ValueKind::Array: {
      std::vector<Ref> refs;
      refs.reserve(value.arrayValue().size());
      for (const auto& item : value.arrayValue()) {
        const auto ref = addValue(item, depth + 1);
        if (!ref) return std::nullopt;
        refs.push_back(*ref);
      }
      added = addContainer(0xA0, refs.data(), refs.size());
      break;
    }
    case ValueKind::Dictionary: {
      const auto& entries = value.dictionaryValue();
      std::vector<Ref> refs(2 * entries.size());
      std::size_t i = 0;
      for (const auto& [key, item] : entries) {
        const auto keyRef = addString(key);
        const auto itemRef = keyRef ? addValue(item, depth + 1) : std::nullopt;
        if (!itemRef) return std::nullopt;
        refs[i] = *keyRef;
        refs[entries.size() + i++] = *itemRef;
      }
      added = addContainer(0xD0, refs.data(), refs.size());
      break;
    }
    default:
      return std::nullopt;
  }
  if (sharing_ == ContainerSharing::Kept) {
    // A copy that does not share the contents (a value whose container was handed out for
    // writing is copied deeply) could not keep the address, so it is not remembered.
    Value copy = value;
    const void* kept = copy.isArray() ? static_cast<const void*>(&copy.arrayValue())
                                      : static_cast<const void*>(&copy.dictionaryValue());
    if (kept == contents) added_.emplace(contents, std::make_pair(std::move(copy), *added));
  }
  return added;
}

// ASCII text as bytes; anything else as big-endian UTF-16, checked as it is converted.
std::optional<BinaryPlistBuilder::Ref> BinaryPlistBuilder::addString(std::string_view text) {
  const std::size_t start = buffer_.size();
  bool ascii = true;
  for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    appendMarker(buffer_, 0x50, text.size());
    buffer_.append(text);
    return intern(start);
  }
  std::vector<std::uint16_t> units;
  units.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = utf8::nextCodePoint(text, i);
    if (cp == utf8::kInvalid) return std::nullopt;
    if (cp >= 0x10000) {
      units.push_back(static_cast<std::uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      units.push_back(static_cast<std::uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<std::uint16_t>(cp));
    }
  }
  appendMarker(buffer_, 0x60, units.size());
  for (const std::uint16_t unit : units) appendBigEndian(buffer_, unit, 2);
  return intern(start);
}

std::optional<BinaryPlistBuilder::Ref> BinaryPlistBuilder::addFrom(
    const BinaryPlistDocument& document, BinaryPlistDocument::Ref ref) {
  if (source_ != &document) {
    source_ = &document;
    // Copied entry by entry, most of the document is reached: an index by reference.
    copied_ = std::make_unique<WalkMemo<Ref>>(document.objectCount(), true);
  }
  BuilderSink sink{*this};
  return BinaryPlistWalker<BuilderSink>(document, sink).visit(ref);
}

BinaryPlistBuilder::Ref BinaryPlistBuilder::addDictionary(
    const std::vector<std::pair<Ref, Ref>>& entries) {
  std::vector<Ref> refs(2 * entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    refs[i] = entries[i].first;
    refs[entries.size() + i] = entries[i].second;
  }
  return addContainer(0xD0, refs.data(), refs.size());
}

BinaryPlistBuilder::Ref BinaryPlistBuilder::addContainer(std::uint8_t type, const Ref* refs,
                                                         std::size_t size) {
  const std::uint64_t count = type == 0xD0 ? size / 2 : size;
  const std::string_view key(reinterpret_cast<const char*>(refs), size * sizeof(Ref));
  const std::uint64_t hash = std::hash<std::string_view>()(key) ^ type;
  const auto same = [&](Ref index) {
    const Container& container = containers_[index];
    return container.type == type && container.count == count &&
           std::equal(refs, refs + size, refs_.begin() + container.first);
  };
  // In the table by their index in containers_; empty when containers are written each time.
  const auto found = find(containerTable_, hash, same);
  if (found.ref) return containers_[*found.ref].ref;

  const auto ref = static_cast<Ref>(offsets_.size());
  const auto index = static_cast<Ref>(containers_.size());
  offsets_.push_back(index);
  lengths_.push_back(0);
  // Objects counted as a tree grow exponentially with sharing: held at a ceiling no reader
  // takes, so that the sum cannot wrap.
  constexpr std::uint64_t kCeiling = std::uint64_t{1} << 62;
  std::uint64_t expanded = 1;
  int depth = 0;
  for (std::size_t i = 0; i < size; ++i) {
    expanded = std::min(kCeiling, expanded + expandedOf(refs[i]));
    depth = std::max(depth, 1 + depthOf(refs[i]));
  }
  containers_.push_back(Container{ref, type, count, refs_.size(), expanded, depth});
  containerMarkerBytes_ += markerSize(count);
  refs_.insert(refs_.end(), refs, refs + size);
  // Written each time it occurs, a container is not offered for reuse.
  if (sharing_ == ContainerSharing::Kept) insert(containerTable_, found.index, hash, index);
  return ref;
}

std::uint64_t BinaryPlistBuilder::expandedOf(Ref ref) const {
  return lengths_[ref] != 0 ? 1 : containers_[offsets_[ref]].expanded;
}

int BinaryPlistBuilder::depthOf(Ref ref) const {
  return lengths_[ref] != 0 ? 0 : containers_[offsets_[ref]].depth;
}

BinaryPlistExtent BinaryPlistBuilder::extent(Ref root) const {
  // As finish() lays it out: leaves, containers, the offset table, the trailer.
  const std::uint64_t tableOffset =
      buffer_.size() + containerMarkerBytes_ + refs_.size() * bytesFor(offsets_.size());
  const std::uint64_t bytes = tableOffset + offsets_.size() * bytesFor(tableOffset) + 32;
  return BinaryPlistExtent{bytes, expandedOf(root), depthOf(root)};
}

BinaryPlistBuilder::Ref BinaryPlistBuilder::intern(std::size_t start) {
  const std::string_view object = std::string_view(buffer_).substr(start);
  const std::uint64_t hash = std::hash<std::string_view>()(object);
  const auto found = find(leafTable_, hash, [&](Ref ref) {
    return lengths_[ref] == object.size() &&
           std::memcmp(buffer_.data() + offsets_[ref], object.data(), object.size()) == 0;
  });
  if (found.ref) {
    buffer_.resize(start);
    return *found.ref;
  }
  const auto ref = static_cast<Ref>(offsets_.size());
  offsets_.push_back(start);
  lengths_.push_back(object.size());
  insert(leafTable_, found.index, hash, ref);
  return ref;
}

template <class Same>
BinaryPlistBuilder::Found BinaryPlistBuilder::find(const Table& table, std::uint64_t hash,
                                                   const Same& same) {
  const std::size_t mask = table.slots.size() - 1;
  std::size_t index = hash & mask;
  for (; table.slots[index].used; index = (index + 1) & mask) {
    const Slot& slot = table.slots[index];
    if (slot.hash == hash && same(slot.ref)) return Found{slot.ref, index};
  }
  return Found{std::nullopt, index};
}

void BinaryPlistBuilder::insert(Table& table, std::size_t index, std::uint64_t hash, Ref ref) {
  table.slots[index] = Slot{hash, ref, true};
  if (++table.used * 2 <= table.slots.size()) return;
  std::vector<Slot> old(table.slots.size() * 2);
  old.swap(table.slots);
  const std::size_t mask = table.slots.size() - 1;
  for (const Slot& slot : old) {
    if (!slot.used) continue;
    std::size_t at = slot.hash & mask;
    while (table.slots[at].used) at = (at + 1) & mask;
    table.slots[at] = slot;
  }
}

std::string BinaryPlistBuilder::finish(Ref root) {
  const std::size_t referenceSize = bytesFor(offsets_.size());
  for (const Container& container : containers_) {
    offsets_[container.ref] = buffer_.size();
    appendMarker(buffer_, container.type, container.count);
    const std::uint64_t refs = container.type == 0xD0 ? 2 * container.count : container.count;
    for (std::uint64_t i = 0; i < refs; ++i) {
      appendBigEndian(buffer_, refs_[container.first + i], referenceSize);
    }
  }
  const std::uint64_t tableOffset = buffer_.size();
  const std::size_t offsetSize = bytesFor(tableOffset);
  for (const std::uint64_t offset : offsets_) appendBigEndian(buffer_, offset, offsetSize);
  buffer_.append(6, '\0');
  buffer_ += static_cast<char>(offsetSize);
  buffer_ += static_cast<char>(referenceSize);
  appendBigEndian(buffer_, offsets_.size(), 8);
  appendBigEndian(buffer_, root, 8);
  appendBigEndian(buffer_, tableOffset, 8);

  std::string out = std::move(buffer_);
  buffer_ = "bplist00";
  offsets_.clear();
  lengths_.clear();
  containers_.clear();
  containerMarkerBytes_ = 0;
  refs_.clear();
  leafTable_ = Table{};
  containerTable_ = Table{};
  source_ = nullptr;
  copied_.reset();
  added_.clear();
  return out;
}

namespace plist {

std::optional<std::string> writeBinary(const Value& value) {
  BinaryPlistBuilder builder;
  const auto root = builder.add(value);
  if (!root) return std::nullopt;
  const BinaryPlistExtent extent = builder.extent(*root);
  if (!extent.refusal()) return builder.finish(*root);
  // Written out in full, a value costs at least a byte per object it stands for: one past the
  // cap of any document, or too deep, can never pass, and expanding it first could take time
  // and memory exponential in its size.
  if (extent.expandedObjects > kMaximumExpandedObjects || extent.depth > kMaximumDepth) {
    return std::nullopt;
  }
  // Shared containers may stand for more objects than so few bytes are allowed to. Written out
  // each time, every object costs a reference byte, which keeps any value within that cap; only
  // one too large or too deep for any document stays refused.
  BinaryPlistBuilder expanded(BinaryPlistBuilder::ContainerSharing::Expanded);
  const auto again = expanded.add(value);
  if (!again || expanded.extent(*again).refusal()) return std::nullopt;
  return expanded.finish(*again);
}

}  // namespace plist
}  // namespace platform
