// The "bplist00" reader. Every offset, length and reference is checked against the buffer
// before use, references may not form a cycle, and shared objects are decoded once, so any
// input ends as a value or as "unreadable" in bounded time and memory.
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "PlistFormats_p.h"
#include "Utf8_p.h"

namespace platform::plist {
namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;
// A document whose objects, counted as a tree (shared references counted each time), exceed
// its limit is refused: a few kilobytes of containers that share each other can stand for
// millions of objects, and everything that walks, copies or rewrites the result pays for each.
// Without shared containers every object but the root costs at least one reference byte, so a
// real document has fewer objects than bytes; the limit allows many times that, and a floor
// for tiny documents, but never more than the absolute cap.
constexpr std::uint64_t kExpandedObjectsPerByte = 16;
constexpr std::uint64_t kMinimumExpandedObjects = 4096;
constexpr std::uint64_t kMaximumExpandedObjects = 1u << 22;

std::uint64_t expandedObjectLimit(std::size_t size) {
  const std::uint64_t relative = std::max<std::uint64_t>(
      kMinimumExpandedObjects, static_cast<std::uint64_t>(size) * kExpandedObjectsPerByte);
  return std::min(relative, kMaximumExpandedObjects);
}

class BinaryReader {
 public:
  explicit BinaryReader(std::string_view bytes)
      : bytes_(bytes), expandedLimit_(expandedObjectLimit(bytes.size())) {}

  std::optional<Value> read() {
    if (bytes_.size() < kHeaderSize + kTrailerSize + 1 || !bytes_.starts_with("bplist00")) {
      return std::nullopt;
    }
    const std::size_t trailer = bytes_.size() - kTrailerSize;
    offsetSize_ = byte(trailer + 6);
    referenceSize_ = byte(trailer + 7);
    const std::uint64_t count = bigEndian(trailer + 8, 8);
    const std::uint64_t top = bigEndian(trailer + 16, 8);
    offsetTable_ = bigEndian(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8) {
      return std::nullopt;
    }
    // The offset table lies between the objects and the trailer.
    if (count == 0 || top >= count || offsetTable_ <= kHeaderSize || offsetTable_ > trailer ||
        count > (trailer - offsetTable_) / offsetSize_) {
      return std::nullopt;
    }
    count_ = count;
    objects_.assign(count, Slot{});
    std::optional<Value> root = object(top, 0);
    if (!root || objects_[top].expanded > expandedLimit_) return std::nullopt;
    return root;
  }

 private:
  enum class State : std::uint8_t { Unread, Reading, Read };
  struct Slot {
    State state = State::Unread;
    Value value;
    std::uint64_t expanded = 0;
  };

  std::uint8_t byte(std::size_t at) const { return static_cast<std::uint8_t>(bytes_[at]); }

  // REQUIRES: at + size <= bytes_.size(), size <= 8.
  std::uint64_t bigEndian(std::size_t at, std::size_t size) const {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = (value << 8) | byte(at + i);
    return value;
  }

  // The bytes of an object end where the offset table starts.
  bool fits(std::uint64_t at, std::uint64_t size) const {
    return at <= offsetTable_ && size <= offsetTable_ - at;
  }

  std::optional<std::uint64_t> offsetOf(std::uint64_t index) const {
    const std::uint64_t offset = bigEndian(offsetTable_ + index * offsetSize_, offsetSize_);
    if (offset < kHeaderSize || offset >= offsetTable_) return std::nullopt;
    return offset;
  }

  std::optional<std::uint64_t> reference(std::uint64_t at) const {
    if (!fits(at, referenceSize_)) return std::nullopt;
    const std::uint64_t index = bigEndian(at, referenceSize_);
    if (index >= count_) return std::nullopt;
    return index;
  }

  // The count in the low nibble of a marker, or the integer object after it when the
  // nibble is 0xF. Advances `at` past what it read.
  std::optional<std::uint64_t> length(std::uint8_t marker, std::uint64_t& at) const {
    const std::uint8_t nibble = marker & 0x0F;
    if (nibble != 0x0F) return nibble;
    if (!fits(at, 1)) return std::nullopt;
    const std::uint8_t intMarker = byte(at);
    if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) return std::nullopt;
    const std::uint64_t size = std::uint64_t{1} << (intMarker & 0x0F);
    if (!fits(at + 1, size)) return std::nullopt;
    const std::uint64_t value = bigEndian(at + 1, size);
    at += 1 + size;
    return value;
  }

  std::optional<Value> object(std::uint64_t index, int depth) {
    Slot& slot = objects_[index];
    if (slot.state == State::Read) return slot.value;
    // An object that contains itself, directly or through others, is not a property list.
    if (slot.state == State::Reading || depth > kMaximumDepth) return std::nullopt;
    slot.state = State::Reading;
    std::uint64_t expanded = 1;
    std::optional<Value> value = decode(index, depth, expanded);
    Slot& done = objects_[index];
    if (!value) return std::nullopt;
    done.state = State::Read;
    done.value = *value;
    done.expanded = expanded;
    return value;
  }

  std::optional<Value> decode(std::uint64_t index, int depth, std::uint64_t& expanded) {
    const std::optional<std::uint64_t> start = offsetOf(index);
    if (!start) return std::nullopt;
    std::uint64_t at = *start;
    const std::uint8_t marker = byte(at++);
    switch (marker & 0xF0) {
      case 0x00:
        if (marker == 0x08) return Value::boolean(false);
        if (marker == 0x09) return Value::boolean(true);
        return std::nullopt;  // null and fill bytes are no property-list value
      case 0x10:
        return integer(marker, at);
      case 0x20: {
        const std::uint8_t width = marker & 0x0F;
        if (width == 2 && fits(at, 4)) {
          const auto bits = static_cast<std::uint32_t>(bigEndian(at, 4));
          float number;
          std::memcpy(&number, &bits, sizeof number);
          return Value::real(number);
        }
        if (width == 3 && fits(at, 8)) return Value::real(doubleAt(at));
        return std::nullopt;
      }
      case 0x30:
        if (marker != 0x33 || !fits(at, 8)) return std::nullopt;
        return Value::date(doubleAt(at));
      case 0x40: {
        const auto size = length(marker, at);
        if (!size || !fits(at, *size)) return std::nullopt;
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes_.data() + at);
        return Value::data(Value::Bytes(data, data + *size));
      }
      case 0x50: {
        const auto size = length(marker, at);
        if (!size || !fits(at, *size)) return std::nullopt;
        std::string text(bytes_.substr(at, *size));
        for (char c : text) {
          if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
        }
        return Value::string(std::move(text));
      }
      case 0x60: {
        const auto units = length(marker, at);
        if (!units || *units > std::numeric_limits<std::uint64_t>::max() / 2 ||
            !fits(at, *units * 2)) {
          return std::nullopt;
        }
        return Value::string(utf16(at, *units));
      }
      case 0xA0: {
        const auto size = length(marker, at);
        if (!size || *size > offsetTable_ / referenceSize_ || !fits(at, *size * referenceSize_)) {
          return std::nullopt;
        }
        Value::Array items;
        items.reserve(static_cast<std::size_t>(*size));
        for (std::uint64_t i = 0; i < *size; ++i) {
          auto item = child(at + i * referenceSize_, depth, expanded);
          if (!item) return std::nullopt;
          items.push_back(std::move(*item));
        }
        return Value::array(std::move(items));
      }
      case 0xD0: {
        const auto size = length(marker, at);
        if (!size || *size > offsetTable_ / (2 * referenceSize_) ||
            !fits(at, *size * 2 * referenceSize_)) {
          return std::nullopt;
        }
        Value::Dictionary entries;
        for (std::uint64_t i = 0; i < *size; ++i) {
          auto key = child(at + i * referenceSize_, depth, expanded);
          auto item = child(at + (*size + i) * referenceSize_, depth, expanded);
          if (!key || !key->isString() || !item) return std::nullopt;
          entries.insert_or_assign(key->stringValue(), std::move(*item));
        }
        return Value::dictionary(std::move(entries));
      }
      default:
        return std::nullopt;  // UIDs, sets and unknown markers
    }
  }

  std::optional<Value> child(std::uint64_t at, int depth, std::uint64_t& expanded) {
    const auto index = reference(at);
    if (!index) return std::nullopt;
    auto value = object(*index, depth + 1);
    if (!value) return std::nullopt;
    expanded += objects_[*index].expanded;
    if (expanded > expandedLimit_) return std::nullopt;
    return value;
  }

  std::optional<Value> integer(std::uint8_t marker, std::uint64_t at) const {
    const std::uint8_t width = marker & 0x0F;
    if (width > 4) return std::nullopt;
    const std::uint64_t size = std::uint64_t{1} << width;
    if (!fits(at, size)) return std::nullopt;
    if (size < 8) return Value::integer(static_cast<std::int64_t>(bigEndian(at, size)));
    if (size == 8) return Value::integer(static_cast<std::int64_t>(bigEndian(at, 8)));
    // 128-bit: only values that fit in 64 bits are representable.
    const std::uint64_t high = bigEndian(at, 8);
    const std::uint64_t low = bigEndian(at + 8, 8);
    if (high == 0) return Value::unsignedInteger(low);
    if (high == ~std::uint64_t{0} && (low >> 63) != 0) {
      return Value::integer(static_cast<std::int64_t>(low));
    }
    return std::nullopt;
  }

  double doubleAt(std::uint64_t at) const {
    const std::uint64_t bits = bigEndian(at, 8);
    double number;
    std::memcpy(&number, &bits, sizeof number);
    return number;
  }

  // Big-endian UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
  std::string utf16(std::uint64_t at, std::uint64_t units) const {
    std::string out;
    out.reserve(static_cast<std::size_t>(units));
    for (std::uint64_t i = 0; i < units; ++i) {
      char32_t unit = static_cast<char32_t>(bigEndian(at + 2 * i, 2));
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
        const auto low = static_cast<char32_t>(bigEndian(at + 2 * (i + 1), 2));
        if (low >= 0xDC00 && low <= 0xDFFF) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
      if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
      utf8::append(out, unit);
    }
    return out;
  }

  const std::string_view bytes_;
  const std::uint64_t expandedLimit_;
  std::uint8_t offsetSize_ = 0;
  std::uint8_t referenceSize_ = 0;
  std::uint64_t offsetTable_ = 0;
  std::uint64_t count_ = 0;
  std::vector<Slot> objects_;
};

}  // namespace

std::optional<Value> parseBinary(std::string_view bytes) {
  return BinaryReader(bytes).read();
}

}  // namespace platform::plist
