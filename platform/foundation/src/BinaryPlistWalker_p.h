// The one walk over the objects of a binary property list that decoding, checking and copying
// share, so that all three refuse exactly the same documents. Every offset, length and reference
// is checked against the buffer before use, an object that contains itself is refused, and each
// object is visited once (the sink remembers what it became), so any input ends in bounded time
// and memory.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "PlistFormats_p.h"
#include "platform/foundation/BinaryPlist.h"

namespace platform {

// A document whose objects, counted as a tree (shared references counted each time), exceed
// its limit is refused: a few hundred bytes of containers that share each other can stand for
// millions of objects, and everything that walks, copies or rewrites the result pays for each.
// An object that is not a shared container costs at least one reference byte, so a real
// document has few objects per byte even when its writer shares repeated values; the limit
// allows many times that, a floor for tiny documents, and never more than the absolute cap.
inline constexpr std::uint32_t kExpandedObjectsPerByte = 16;
inline constexpr std::uint32_t kMinimumExpandedObjects = 4096;
inline constexpr std::uint32_t kMaximumExpandedObjects = 1u << 22;

constexpr std::uint32_t expandedObjectLimit(std::size_t documentSize) {
  if (documentSize >= kMaximumExpandedObjects / kExpandedObjectsPerByte) {
    return kMaximumExpandedObjects;
  }
  const auto relative = static_cast<std::uint32_t>(documentSize) * kExpandedObjectsPerByte;
  return relative < kMinimumExpandedObjects ? kMinimumExpandedObjects : relative;
}

// What a sink remembers per object.
template <class Result>
struct WalkSlot {
  enum : std::uint8_t { Unvisited, Visiting, Done };
  std::uint8_t state = Unvisited;
  std::uint32_t expanded = 0;
  Result result{};
};

// The slots of the objects a walk reached. Memory follows the file's size and what is visited,
// never a count the trailer claims alone (each object the count covers takes a byte of the
// file). A walk that will reach most of the document indexes slots by reference: a slot no
// larger than an index is kept in the table itself, any other behind a four-byte index. One
// that reads a single value of a large file keeps a map.
template <class Result>
class WalkMemo {
  static constexpr bool kInline = sizeof(WalkSlot<Result>) <= 2 * sizeof(std::uint32_t);

 public:
  WalkMemo(std::uint64_t count, bool dense) : dense_(dense) {
    if (!dense) {
      slots_.reserve(kFew);
      return;
    }
    if constexpr (kInline) {
      slots_.resize(count);
    } else {
      index_.resize(count);
    }
  }

  // Valid until the next call.
  WalkSlot<Result>& slot(BinaryPlistDocument::Ref ref) {
    if (!dense_) {
      // A walk of one small value reaches a handful of objects: a short list finds them, and
      // only a larger walk pays for a hash table.
      for (std::size_t i = 0; i < fewCount_; ++i) {
        if (fewRefs_[i] == ref) return slots_[i];
      }
      if (fewCount_ == kFew) return sparse_[ref];
      fewRefs_[fewCount_++] = ref;
      return slots_.emplace_back();
    }
    if constexpr (kInline) return slots_[ref];
    std::uint32_t& position = index_[ref];
    if (position == 0) {
      slots_.emplace_back();
      position = static_cast<std::uint32_t>(slots_.size());
    }
    return slots_[position - 1];
  }

 private:
  static constexpr std::size_t kFew = 16;
  const bool dense_;
  // Sparse: the first kFew objects reached, their slots at the same positions in slots_.
  std::array<BinaryPlistDocument::Ref, kFew> fewRefs_{};
  std::size_t fewCount_ = 0;
  std::unordered_map<BinaryPlistDocument::Ref, WalkSlot<Result>> sparse_;
  // Behind the index: 1 + position in slots_ by reference, 0 for an object not reached.
  std::vector<std::uint32_t> index_;
  std::vector<WalkSlot<Result>> slots_;
};

// The kinds of leaf a sink is handed, with the bytes of the whole object.
enum class LeafKind : std::uint8_t { Boolean, Integer, Real, Date, Data, AsciiText, Utf16Text };

// Sink requirements: `Result`; `WalkSlot<Result>& slot(Ref)` (a reference valid until the next
// call); `std::optional<Result> leaf(LeafKind, std::string_view object, std::uint64_t payloadAt)`;
// `std::optional<Result> array(const Result*, std::size_t)`;
// `std::optional<Result> dictionary(const Result* keys, const Result* values, std::size_t)`, the
// values right after the keys in one run.
template <class Sink>
class BinaryPlistWalker {
 public:
  using Ref = BinaryPlistDocument::Ref;
  using Result = typename Sink::Result;

  BinaryPlistWalker(const BinaryPlistDocument& document, Sink& sink)
      : document_(document),
        bytes_(document.bytes_),
        sink_(sink),
        expandedLimit_(expandedObjectLimit(document.bytes_.size())) {}

  // The sink's result for `ref`; nothing when it or anything under it is refused.
  std::optional<Result> visit(Ref ref, int depth = 0) {
    WalkSlot<Result>& slot = sink_.slot(ref);
    if (slot.state == WalkSlot<Result>::Done) return slot.result;
    if (slot.state == WalkSlot<Result>::Visiting || depth > plist::kMaximumDepth) return {};
    slot.state = WalkSlot<Result>::Visiting;
    std::uint32_t expanded = 1;
    std::optional<Result> result = object(ref, depth, expanded);
    if (!result) return {};
    WalkSlot<Result>& done = sink_.slot(ref);
    done.state = WalkSlot<Result>::Done;
    done.expanded = expanded;
    done.result = *result;
    return result;
  }

  // The start of object `ref`; nothing when the offset table points outside the objects.
  std::optional<std::uint64_t> offsetOf(Ref ref) const {
    if (ref >= document_.count_) return {};
    const std::uint64_t offset =
        bigEndian(document_.offsetTable_ + ref * document_.offsetSize_, document_.offsetSize_);
    if (offset < 8 || offset >= document_.offsetTable_) return {};
    return offset;
  }

  // The reference stored at `at`; nothing when it lies outside the objects or the table.
  std::optional<Ref> reference(std::uint64_t at) const {
    if (!fits(at, document_.referenceSize_)) return {};
    const Ref ref = bigEndian(at, document_.referenceSize_);
    if (ref >= document_.count_) return {};
    return ref;
  }

  // The count in the low nibble of a marker, or the integer object after it when the nibble is
  // 0xF. Advances `at` past what it read.
  std::optional<std::uint64_t> length(std::uint8_t marker, std::uint64_t& at) const {
    const std::uint8_t nibble = marker & 0x0F;
    if (nibble != 0x0F) return nibble;
    if (!fits(at, 1)) return {};
    const std::uint8_t intMarker = byte(at);
    if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) return {};
    const std::uint64_t size = std::uint64_t{1} << (intMarker & 0x0F);
    if (!fits(at + 1, size)) return {};
    const std::uint64_t value = bigEndian(at + 1, size);
    at += 1 + size;
    return value;
  }

  // Whether object `ref` is text: a dictionary key must be.
  bool isText(Ref ref) const {
    const auto at = offsetOf(ref);
    if (!at) return false;
    const std::uint8_t type = byte(*at) & 0xF0;
    return type == 0x50 || type == 0x60;
  }

  std::uint8_t byte(std::uint64_t at) const { return static_cast<std::uint8_t>(bytes_[at]); }

  // REQUIRES: at + size <= the buffer's size, size <= 8.
  std::uint64_t bigEndian(std::uint64_t at, std::size_t size) const {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = (value << 8) | byte(at + i);
    return value;
  }

  // The bytes of an object end where the offset table starts.
  bool fits(std::uint64_t at, std::uint64_t size) const {
    return at <= document_.offsetTable_ && size <= document_.offsetTable_ - at;
  }

 private:
  std::optional<Result> leaf(LeafKind kind, std::uint64_t start, std::uint64_t end,
                             std::uint64_t payload) {
    return sink_.leaf(kind, std::string_view(bytes_).substr(start, end - start), payload - start);
  }

  std::optional<Result> object(Ref ref, int depth, std::uint32_t& expanded) {
    const std::optional<std::uint64_t> start = offsetOf(ref);
    if (!start) return {};
    std::uint64_t at = *start;
    const std::uint8_t marker = byte(at++);
    switch (marker & 0xF0) {
      case 0x00:
        // Null and fill bytes are no property-list value.
        if (marker != 0x08 && marker != 0x09) return {};
        return leaf(LeafKind::Boolean, *start, at, *start);
      case 0x10: {
        const std::uint8_t width = marker & 0x0F;
        if (width > 4) return {};
        const std::uint64_t size = std::uint64_t{1} << width;
        if (!fits(at, size)) return {};
        if (size == 16) {
          // Only values that fit in 64 bits are representable.
          const std::uint64_t high = bigEndian(at, 8);
          const bool negative = high == ~std::uint64_t{0} && (byte(at + 8) & 0x80) != 0;
          if (high != 0 && !negative) return {};
        }
        return leaf(LeafKind::Integer, *start, at + size, at);
      }
      case 0x20: {
        const std::uint8_t width = marker & 0x0F;
        if ((width != 2 && width != 3) || !fits(at, std::uint64_t{1} << width)) return {};
        return leaf(LeafKind::Real, *start, at + (std::uint64_t{1} << width), at);
      }
      case 0x30: {
        // A date that is no point in time is refused, as other readers refuse it.
        if (marker != 0x33 || !fits(at, 8)) return {};
        const std::uint64_t bits = bigEndian(at, 8);
        double seconds;
        std::memcpy(&seconds, &bits, sizeof seconds);
        if (!std::isfinite(seconds)) return {};
        return leaf(LeafKind::Date, *start, at + 8, at);
      }
      case 0x40: {
        const auto size = length(marker, at);
        if (!size || !fits(at, *size)) return {};
        return leaf(LeafKind::Data, *start, at + *size, at);
      }
      case 0x50: {
        const auto size = length(marker, at);
        if (!size || !fits(at, *size)) return {};
        for (std::uint64_t i = 0; i < *size; ++i) {
          if (byte(at + i) >= 0x80) return {};
        }
        return leaf(LeafKind::AsciiText, *start, at + *size, at);
      }
      case 0x60: {
        const auto units = length(marker, at);
        if (!units || *units > std::numeric_limits<std::uint64_t>::max() / 2 ||
            !fits(at, *units * 2)) {
          return {};
        }
        return leaf(LeafKind::Utf16Text, *start, at + *units * 2, at);
      }
      case 0xA0:
      case 0xD0:
        return container(marker, at, depth, expanded);
      default:
        return {};  // UIDs, sets and unknown markers
    }
  }

  std::optional<Result> container(std::uint8_t marker, std::uint64_t at, int depth,
                                  std::uint32_t& expanded) {
    const bool isDictionary = (marker & 0xF0) == 0xD0;
    const auto size = length(marker, at);
    const std::uint64_t width = document_.referenceSize_ * (isDictionary ? 2u : 1u);
    if (!size || *size > document_.offsetTable_ / width || !fits(at, *size * width)) return {};
    const std::size_t base = scratch_.size();
    const std::uint64_t children = *size * (isDictionary ? 2 : 1);
    for (std::uint64_t i = 0; i < children; ++i) {
      const auto ref = reference(at + i * document_.referenceSize_);
      if (!ref || (isDictionary && i < *size && !isText(*ref))) return unwind(base);
      std::optional<Result> child = visit(*ref, depth + 1);
      if (!child) return unwind(base);
      expanded += sink_.slot(*ref).expanded;
      if (expanded > expandedLimit_) return unwind(base);
      scratch_.push_back(std::move(*child));
    }
    const Result* items = scratch_.data() + base;
    std::optional<Result> result = isDictionary
                                       ? sink_.dictionary(items, items + *size, *size)
                                       : sink_.array(items, static_cast<std::size_t>(*size));
    scratch_.resize(base);
    return result;
  }

  std::optional<Result> unwind(std::size_t base) {
    scratch_.resize(base);
    return {};
  }

  const BinaryPlistDocument& document_;
  const std::string& bytes_;
  Sink& sink_;
  const std::uint32_t expandedLimit_;
  std::vector<Result> scratch_;  // children of the containers being visited, innermost last
};

}  // namespace platform
