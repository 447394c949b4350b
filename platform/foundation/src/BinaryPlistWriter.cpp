// The "bplist00" writer. Objects are encoded children first straight into the output buffer;
// a leaf identical to one already written is dropped and the earlier one referred to instead.
// Containers keep their references aside until the object count, and so the reference width,
// is known, and are laid out after the leaves.
#include <cstring>
#include <functional>

#include "BinaryPlistWalker_p.h"
#include "PlistFormats_p.h"
#include "Utf8_p.h"

namespace platform {
namespace {

constexpr std::size_t kInitialTableSize = 1024;  // a power of two

std::size_t bytesFor(std::uint64_t value) {
  if (value <= 0xFF) return 1;
  if (value <= 0xFFFF) return 2;
  if (value <= 0xFFFFFFFFu) return 4;
  return 8;
}

void appendBigEndian(std::string& out, std::uint64_t value, std::size_t size) {
  for (std::size_t i = size; i-- > 0;) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void appendUnsigned(std::string& out, std::uint64_t value) {
  const std::size_t size = bytesFor(value);
  const std::uint8_t widths[] = {0, 0, 1, 0, 2, 0, 0, 0, 3};
  out += static_cast<char>(0x10 | widths[size]);
  appendBigEndian(out, value, size);
}

void appendMarker(std::string& out, std::uint8_t type, std::uint64_t count) {
  if (count < 15) {
    out += static_cast<char>(type | count);
    return;
  }
  out += static_cast<char>(type | 0x0F);
  appendUnsigned(out, count);
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

  WalkSlot<Ref>& slot(BinaryPlistDocument::Ref ref) { return builder.copied_[ref]; }
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

BinaryPlistBuilder::BinaryPlistBuilder() : buffer_("bplist00"), table_(kInitialTableSize) {}

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
    case ValueKind::Array: {
      std::vector<Ref> refs;
      refs.reserve(value.arrayValue().size());
      for (const auto& item : value.arrayValue()) {
        const auto ref = addValue(item, depth + 1);
        if (!ref) return std::nullopt;
        refs.push_back(*ref);
      }
      return addContainer(0xA0, refs.data(), refs.size());
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
      return addContainer(0xD0, refs.data(), refs.size());
    }
    default:
      return std::nullopt;
  }
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
    const char32_t cp = utf8::next(text, i);
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
    copied_.assign(document.objectCount(), WalkSlot<Ref>{});
    // Room for every object of the source without rehashing on the way.
    while (table_.size() < 2 * (used_ + document.objectCount())) grow();
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
  const auto ref = static_cast<Ref>(offsets_.size());
  offsets_.push_back(0);
  lengths_.push_back(0);
  const std::uint64_t count = type == 0xD0 ? size / 2 : size;
  containers_.push_back(Container{ref, type, count, refs_.size()});
  refs_.insert(refs_.end(), refs, refs + size);
  return ref;
}

BinaryPlistBuilder::Ref BinaryPlistBuilder::intern(std::size_t start) {
  const std::string_view object = std::string_view(buffer_).substr(start);
  const std::uint64_t hash = std::hash<std::string_view>()(object);
  const std::size_t mask = table_.size() - 1;
  std::size_t index = hash & mask;
  for (; table_[index].used; index = (index + 1) & mask) {
    const Slot& slot = table_[index];
    if (slot.hash == hash && lengths_[slot.ref] == object.size() &&
        std::memcmp(buffer_.data() + offsets_[slot.ref], object.data(), object.size()) == 0) {
      buffer_.resize(start);
      return slot.ref;
    }
  }
  const auto ref = static_cast<Ref>(offsets_.size());
  offsets_.push_back(start);
  lengths_.push_back(object.size());
  table_[index] = Slot{hash, ref, true};
  if (++used_ * 2 > table_.size()) grow();
  return ref;
}

void BinaryPlistBuilder::grow() {
  std::vector<Slot> old(table_.size() * 2);
  old.swap(table_);
  const std::size_t mask = table_.size() - 1;
  for (const Slot& slot : old) {
    if (!slot.used) continue;
    std::size_t index = slot.hash & mask;
    while (table_[index].used) index = (index + 1) & mask;
    table_[index] = slot;
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
  refs_.clear();
  table_.assign(kInitialTableSize, Slot{});
  used_ = 0;
  source_ = nullptr;
  copied_.clear();
  return out;
}

namespace plist {

std::optional<std::string> writeBinary(const Value& value) {
  BinaryPlistBuilder builder;
  const auto root = builder.add(value);
  if (!root) return std::nullopt;
  return builder.finish(*root);
}

}  // namespace plist
}  // namespace platform
