// The "bplist00" writer: every value becomes one object (identical strings are shared), then
// the offset table and the trailer follow.
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

#include "PlistFormats_p.h"
#include "Utf8_p.h"

namespace platform::plist {
namespace {

std::size_t bytesFor(std::uint64_t value) {
  if (value <= 0xFF) return 1;
  if (value <= 0xFFFF) return 2;
  if (value <= 0xFFFFFFFFu) return 4;
  return 8;
}

class BinaryWriter {
 public:
  std::optional<std::string> write(const Value& root) {
    // Objects are numbered first so that references have a known width.
    if (!number(root, 0)) return std::nullopt;
    referenceSize_ = bytesFor(order_.size());
    objects_ = "bplist00";
    std::vector<std::uint64_t> offsets;
    offsets.reserve(order_.size());
    for (const Value* value : order_) {
      offsets.push_back(objects_.size());
      if (!encode(*value)) return std::nullopt;
    }
    const std::uint64_t tableOffset = objects_.size();
    const std::size_t offsetSize = bytesFor(tableOffset);
    for (std::uint64_t offset : offsets) appendBigEndian(offset, offsetSize);
    objects_.append(6, '\0');
    objects_ += static_cast<char>(offsetSize);
    objects_ += static_cast<char>(referenceSize_);
    appendBigEndian(order_.size(), 8);
    appendBigEndian(0, 8);  // the root is object 0
    appendBigEndian(tableOffset, 8);
    return std::move(objects_);
  }

 private:
  // Assigns object numbers depth first: a container before its contents, keys before values.
  bool number(const Value& value, int depth) {
    if (depth > kMaximumDepth) return false;
    switch (value.kind()) {
      case ValueKind::Array:
        indexOf_[&value] = order_.size();
        order_.push_back(&value);
        for (const auto& item : value.arrayValue()) {
          if (!number(item, depth + 1)) return false;
        }
        return true;
      case ValueKind::Dictionary:
        indexOf_[&value] = order_.size();
        order_.push_back(&value);
        for (const auto& [key, item] : value.dictionaryValue()) {
          if (!numberString(key)) return false;
        }
        for (const auto& [key, item] : value.dictionaryValue()) {
          if (!number(item, depth + 1)) return false;
        }
        return true;
      case ValueKind::String:
        return numberString(value.stringValue());
      case ValueKind::Boolean:
      case ValueKind::Integer:
      case ValueKind::Real:
      case ValueKind::Date:
      case ValueKind::Data:
        indexOf_[&value] = order_.size();
        order_.push_back(&value);
        return true;
      default:
        return false;
    }
  }

  bool numberString(const std::string& text) {
    if (!utf8::isValid(text)) return false;
    auto [it, added] = stringIndex_.try_emplace(text, order_.size());
    if (added) {
      keyValues_.push_back(std::make_unique<Value>(Value::string(text)));
      order_.push_back(keyValues_.back().get());
    }
    return true;
  }

  std::uint64_t indexOf(const Value& value) const {
    if (value.isString()) return stringIndex_.at(value.stringValue());
    return indexOf_.at(&value);
  }

  void appendBigEndian(std::uint64_t value, std::size_t size) {
    for (std::size_t i = size; i-- > 0;) objects_ += static_cast<char>((value >> (8 * i)) & 0xFF);
  }

  void appendMarker(std::uint8_t type, std::uint64_t count) {
    if (count < 15) {
      objects_ += static_cast<char>(type | count);
      return;
    }
    objects_ += static_cast<char>(type | 0x0F);
    appendUnsigned(count);
  }

  void appendUnsigned(std::uint64_t value) {
    const std::size_t size = bytesFor(value);
    const std::uint8_t widths[] = {0, 0, 1, 0, 2, 0, 0, 0, 3};
    objects_ += static_cast<char>(0x10 | widths[size]);
    appendBigEndian(value, size);
  }

  void appendDouble(std::uint8_t marker, double number) {
    std::uint64_t bits;
    std::memcpy(&bits, &number, sizeof bits);
    objects_ += static_cast<char>(marker);
    appendBigEndian(bits, 8);
  }

  bool encode(const Value& value) {
    switch (value.kind()) {
      case ValueKind::Boolean:
        objects_ += value.booleanValue() ? '\x09' : '\x08';
        return true;
      case ValueKind::Integer: {
        if (value.isUnsignedInteger()) {
          // Above INT64_MAX only a 16-byte integer keeps the value positive.
          objects_ += '\x14';
          appendBigEndian(0, 8);
          appendBigEndian(value.unsignedBits(), 8);
        } else if (value.integerBits() < 0) {
          objects_ += '\x13';
          appendBigEndian(value.unsignedBits(), 8);
        } else {
          appendUnsigned(value.unsignedBits());
        }
        return true;
      }
      case ValueKind::Real:
        appendDouble(0x23, value.realValue());
        return true;
      case ValueKind::Date:
        appendDouble(0x33, value.dateValue());
        return true;
      case ValueKind::Data: {
        const auto& bytes = value.dataValue();
        appendMarker(0x40, bytes.size());
        objects_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return true;
      }
      case ValueKind::String:
        return encodeString(value.stringValue());
      case ValueKind::Array: {
        const auto& items = value.arrayValue();
        appendMarker(0xA0, items.size());
        for (const auto& item : items) appendBigEndian(indexOf(item), referenceSize_);
        return true;
      }
      case ValueKind::Dictionary: {
        const auto& entries = value.dictionaryValue();
        appendMarker(0xD0, entries.size());
        for (const auto& [key, item] : entries) {
          appendBigEndian(stringIndex_.at(key), referenceSize_);
        }
        for (const auto& [key, item] : entries) appendBigEndian(indexOf(item), referenceSize_);
        return true;
      }
      default:
        return false;
    }
  }

  // ASCII text as bytes; anything else as big-endian UTF-16.
  bool encodeString(const std::string& text) {
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
      appendMarker(0x50, text.size());
      objects_ += text;
      return true;
    }
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < text.size();) {
      const char32_t cp = utf8::next(text, i);
      if (cp == utf8::kInvalid) return false;
      if (cp >= 0x10000) {
        units.push_back(static_cast<std::uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
        units.push_back(static_cast<std::uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      } else {
        units.push_back(static_cast<std::uint16_t>(cp));
      }
    }
    appendMarker(0x60, units.size());
    for (std::uint16_t unit : units) appendBigEndian(unit, 2);
    return true;
  }

  std::vector<const Value*> order_;
  std::unordered_map<const Value*, std::uint64_t> indexOf_;
  std::unordered_map<std::string, std::uint64_t> stringIndex_;
  std::vector<std::unique_ptr<Value>> keyValues_;
  std::size_t referenceSize_ = 1;
  std::string objects_;
};

}  // namespace

std::optional<std::string> writeBinary(const Value& value) {
  return BinaryWriter().write(value);
}

}  // namespace platform::plist
