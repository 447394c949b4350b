// The "bplist00" reader: a document over the file's bytes, decoded object by object through the
// walk that the writer's copy shares.
#include <cstring>

#include "BinaryPlistWalker_p.h"
#include "PlistFormats_p.h"
#include "platform/foundation/Utf8.h"

namespace platform {
namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;
using Ref = BinaryPlistDocument::Ref;

std::uint64_t bigEndian(std::string_view bytes, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = (value << 8) | static_cast<std::uint8_t>(bytes[i]);
  return value;
}

double doubleOf(std::string_view bytes) {
  const std::uint64_t bits = bigEndian(bytes, 8);
  double number;
  std::memcpy(&number, &bits, sizeof number);
  return number;
}

// Builds values. A value decoded once is shared wherever the document refers to it again, as
// the document shares it; each copy of a Value shares its contents until changed.
struct ValueSink {
  using Result = Value;

  // `whole`: the walk starts at the top object and so reaches most of the document.
  ValueSink(std::uint64_t count, bool whole) : memo(count, whole) {}
  WalkSlot<Value>& slot(Ref ref) { return memo.slot(ref); }

  std::optional<Value> leaf(LeafKind kind, std::string_view object, std::uint64_t payloadAt) {
    const std::string_view payload = object.substr(payloadAt);
    switch (kind) {
      case LeafKind::Boolean:
        return Value::boolean(object[0] == '\x09');
      case LeafKind::Integer:
        if (payload.size() == 16) {
          const std::uint64_t low = bigEndian(payload.substr(8), 8);
          if (bigEndian(payload, 8) == 0) return Value::unsignedInteger(low);
          return Value::integer(static_cast<std::int64_t>(low));
        }
        return Value::integer(static_cast<std::int64_t>(bigEndian(payload, payload.size())));
      case LeafKind::Real:
        if (payload.size() == 4) {
          const auto bits = static_cast<std::uint32_t>(bigEndian(payload, 4));
          float number;
          std::memcpy(&number, &bits, sizeof number);
          return Value::real(number);
        }
        return Value::real(doubleOf(payload));
      case LeafKind::Date:
        return Value::date(doubleOf(payload));
      case LeafKind::Data: {
        const auto* data = reinterpret_cast<const std::uint8_t*>(payload.data());
        return Value::data(Value::Bytes(data, data + payload.size()));
      }
      case LeafKind::AsciiText:
        return Value::string(std::string(payload));
      case LeafKind::Utf16Text:
        return Value::string(utf8::fromUtf16(payload, utf8::ByteOrder::BigEndian));
    }
    return {};
  }

  std::optional<Value> array(const Value* items, std::size_t count) {
    return Value::array(Value::Array(items, items + count));
  }

  std::optional<Value> dictionary(const Value* keys, const Value* values, std::size_t count) {
    Value::Dictionary entries;
    for (std::size_t i = 0; i < count; ++i) {
      entries.insert_or_assign(keys[i].stringValue(), values[i]);
    }
    return Value::dictionary(std::move(entries));
  }

  WalkMemo<Value> memo;
};

// Checks and builds nothing.
struct CheckSink {
  struct Result {};

  CheckSink(std::uint64_t count, bool whole) : memo(count, whole) {}
  WalkSlot<Result>& slot(Ref ref) { return memo.slot(ref); }
  std::optional<Result> leaf(LeafKind, std::string_view, std::uint64_t) { return Result{}; }
  std::optional<Result> array(const Result*, std::size_t) { return Result{}; }
  std::optional<Result> dictionary(const Result*, const Result*, std::size_t) { return Result{}; }

  WalkMemo<Result> memo;
};

}  // namespace

std::unique_ptr<BinaryPlistDocument> BinaryPlistDocument::open(std::string bytes) {
  if (bytes.size() < kHeaderSize + kTrailerSize + 1 || !bytes.starts_with("bplist00")) return {};
  std::unique_ptr<BinaryPlistDocument> document(new BinaryPlistDocument(std::move(bytes)));
  const std::string_view view = document->bytes_;
  const std::size_t trailer = view.size() - kTrailerSize;
  const std::uint8_t offsetSize = static_cast<std::uint8_t>(view[trailer + 6]);
  const std::uint8_t referenceSize = static_cast<std::uint8_t>(view[trailer + 7]);
  const std::uint64_t count = bigEndian(view.substr(trailer + 8), 8);
  const std::uint64_t top = bigEndian(view.substr(trailer + 16), 8);
  const std::uint64_t offsetTable = bigEndian(view.substr(trailer + 24), 8);
  if (offsetSize < 1 || offsetSize > 8 || referenceSize < 1 || referenceSize > 8) return {};
  // The offset table lies between the objects and the trailer, and every object takes at least
  // one byte of its own: a count the file cannot hold would size every table after it.
  if (count == 0 || top >= count || offsetTable <= kHeaderSize || offsetTable > trailer ||
      count > (trailer - offsetTable) / offsetSize || count > offsetTable - kHeaderSize) {
    return {};
  }
  document->offsetSize_ = offsetSize;
  document->referenceSize_ = referenceSize;
  document->offsetTable_ = offsetTable;
  document->count_ = count;
  document->top_ = top;
  return document;
}

namespace {

// Where the references of the dictionary `ref` start, and how many entries it has.
std::optional<std::pair<std::uint64_t, std::uint64_t>> dictionaryAt(
    const BinaryPlistWalker<CheckSink>& walker, Ref ref, std::uint64_t offsetTable,
    std::uint8_t referenceSize) {
  const auto start = walker.offsetOf(ref);
  if (!start || (walker.byte(*start) & 0xF0) != 0xD0) return std::nullopt;
  std::uint64_t at = *start + 1;
  const auto size = walker.length(walker.byte(*start), at);
  if (!size || *size > offsetTable / (2 * referenceSize) ||
      !walker.fits(at, *size * 2 * referenceSize)) {
    return std::nullopt;
  }
  return std::make_pair(at, *size);
}

// The text of the key object `ref`: ASCII in place (`inPlace`), UTF-16 decoded into `scratch`.
std::optional<std::string_view> keyText(const BinaryPlistWalker<CheckSink>& walker,
                                        std::string_view bytes, std::uint64_t offsetTable, Ref ref,
                                        std::string& scratch, bool& inPlace) {
  const auto start = walker.offsetOf(ref);
  if (!start) return std::nullopt;
  std::uint64_t at = *start;
  const std::uint8_t marker = walker.byte(at++);
  const auto length = walker.length(marker, at);
  if (!length) return std::nullopt;
  if ((marker & 0xF0) == 0x50) {
    if (!walker.fits(at, *length)) return std::nullopt;
    const std::string_view text = bytes.substr(at, *length);
    for (const char c : text) {
      if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    }
    inPlace = true;
    return text;
  }
  if ((marker & 0xF0) != 0x60 || *length > offsetTable / 2 || !walker.fits(at, *length * 2)) {
    return std::nullopt;
  }
  scratch = utf8::fromUtf16(bytes.substr(at, *length * 2), utf8::ByteOrder::BigEndian);
  inPlace = false;
  return scratch;
}

}  // namespace

bool BinaryPlistDocument::forEachEntry(
    Ref ref,
    const std::function<void(std::string_view key, bool inPlace, Ref value)>& entry) const {
  CheckSink unused(0, false);
  const BinaryPlistWalker<CheckSink> walker(*this, unused);
  const auto dictionary = dictionaryAt(walker, ref, offsetTable_, referenceSize_);
  if (!dictionary) return false;
  const auto [at, size] = *dictionary;
  std::string scratch;
  for (std::uint64_t i = 0; i < size; ++i) {
    const auto key = walker.reference(at + i * referenceSize_);
    const auto value = walker.reference(at + (size + i) * referenceSize_);
    bool inPlace = false;
    const auto text =
        key ? keyText(walker, bytes_, offsetTable_, *key, scratch, inPlace) : std::nullopt;
    if (!text || !value) return false;
    entry(*text, inPlace, *value);
  }
  return true;
}

std::optional<BinaryPlistDocument::Ref> BinaryPlistDocument::findInSortedDictionary(
    Ref ref, std::string_view key) const {
  CheckSink unused(0, false);
  const BinaryPlistWalker<CheckSink> walker(*this, unused);
  const auto dictionary = dictionaryAt(walker, ref, offsetTable_, referenceSize_);
  if (!dictionary) return std::nullopt;
  const auto [at, size] = *dictionary;
  std::string scratch;
  std::uint64_t low = 0, high = size;
  while (low < high) {
    const std::uint64_t middle = low + (high - low) / 2;
    const auto keyRef = walker.reference(at + middle * referenceSize_);
    bool inPlace = false;
    const auto text =
        keyRef ? keyText(walker, bytes_, offsetTable_, *keyRef, scratch, inPlace) : std::nullopt;
    if (!text) return std::nullopt;
    if (*text == key) return walker.reference(at + (size + middle) * referenceSize_);
    if (*text < key) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return std::nullopt;
}

std::optional<bool> BinaryPlistDocument::arrayHoldsText(Ref ref, std::string_view text) const {
  CheckSink unused(0, false);
  const BinaryPlistWalker<CheckSink> walker(*this, unused);
  const auto start = walker.offsetOf(ref);
  if (!start || (walker.byte(*start) & 0xF0) != 0xA0) return std::nullopt;
  std::uint64_t at = *start + 1;
  const auto size = walker.length(walker.byte(*start), at);
  if (!size || *size > offsetTable_ / referenceSize_ || !walker.fits(at, *size * referenceSize_)) {
    return std::nullopt;
  }
  std::string scratch;
  for (std::uint64_t i = 0; i < *size; ++i) {
    const auto element = walker.reference(at + i * referenceSize_);
    if (!element) return std::nullopt;
    if (!walker.isText(*element)) continue;
    bool inPlace = false;
    const auto elementText = keyText(walker, bytes_, offsetTable_, *element, scratch, inPlace);
    if (!elementText) return std::nullopt;
    if (*elementText == text) return true;
  }
  return false;
}

std::optional<Value> BinaryPlistDocument::decode(Ref ref) const {
  ValueSink sink(count_, ref == top_);
  return BinaryPlistWalker<ValueSink>(*this, sink).visit(ref);
}

bool BinaryPlistDocument::validate(Ref ref) const {
  CheckSink sink(count_, ref == top_);
  return BinaryPlistWalker<CheckSink>(*this, sink).visit(ref).has_value();
}

std::optional<std::string> BinaryPlistExtent::refusal(std::optional<FileKind> kind) const {
  if (kind && bytes > static_cast<std::uint64_t>(maximumFileSize(*kind))) {
    return std::to_string(bytes) + " bytes, over the " + std::to_string(maximumFileSize(*kind)) +
           "-byte cap of its kind of file";
  }
  if (expandedObjects > expandedObjectLimit(bytes)) {
    return std::to_string(expandedObjects) + " objects counted as a tree, over the " +
           std::to_string(expandedObjectLimit(bytes)) + " that " + std::to_string(bytes) +
           " bytes may stand for";
  }
  if (depth > plist::kMaximumDepth) {
    return "containers nested " + std::to_string(depth) + " deep, over " +
           std::to_string(plist::kMaximumDepth);
  }
  return std::nullopt;
}

namespace plist {

std::optional<Value> parseBinary(std::string_view bytes) {
  const auto document = BinaryPlistDocument::open(std::string(bytes));
  if (!document) return std::nullopt;
  return document->decode(document->root());
}

}  // namespace plist
}  // namespace platform
