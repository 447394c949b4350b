// Binary property lists ("bplist00") read in place and built in one pass, for files too large to
// turn into one Value at every read (the preference domains). A document keeps the file's bytes
// and decodes an object only when asked, with the checks of parsePropertyList (bounds, cycles,
// nesting, expansion); a builder encodes objects straight into one buffer and shares every
// repeated text, number, date and data object. Neither is thread-safe; both are pure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Export.h"
#include "platform/foundation/Value.h"

namespace platform {

template <class Result>
struct WalkSlot;

class HX_PLATFORM_EXPORT BinaryPlistDocument {
 public:
  using Ref = std::uint64_t;

  // Takes `bytes`. Returns nothing when they are not a "bplist00" document whose trailer and
  // offset table are consistent; the objects themselves are checked only when they are used.
  static std::unique_ptr<BinaryPlistDocument> open(std::string bytes);
  BinaryPlistDocument(const BinaryPlistDocument&) = delete;
  BinaryPlistDocument& operator=(const BinaryPlistDocument&) = delete;

  Ref root() const { return top_; }
  std::uint64_t objectCount() const { return count_; }
  const std::string& bytes() const { return bytes_; }
  // Gives the buffer back (for the next read to reuse); the document is empty afterwards.
  std::string releaseBytes() { return std::move(bytes_); }

  // Calls `entry` with every key and value reference of the dictionary `ref`, in file order.
  // An ASCII key is viewed in place (`inPlace` true: valid while the document lives); any other
  // key is decoded into a temporary valid during the call only. Returns false, having called
  // `entry` for a prefix, when `ref` is not a dictionary whose keys are all text.
  bool forEachEntry(
      Ref ref,
      const std::function<void(std::string_view key, bool inPlace, Ref value)>& entry) const;

  // The value of `key` in the dictionary `ref`, found by binary search without reading the other
  // keys: only for a dictionary whose keys are text in byte order without repeats, as
  // BinaryPlistBuilder writes them (for any other the answer is unspecified, but nothing outside
  // the document is read). Nothing when the key is absent or `ref` is not such a dictionary.
  std::optional<Ref> findInSortedDictionary(Ref ref, std::string_view key) const;

  // Decodes the object `ref` with everything under it. Nothing when any of it is damaged, nests
  // deeper than 512 levels, contains itself or expands past 2^24 objects counted as a tree.
  std::optional<Value> decode(Ref ref) const;
  // Checks the object `ref` and everything under it as decode() does, building no value.
  bool validate(Ref ref) const;

 private:
  template <class Sink>
  friend class BinaryPlistWalker;
  explicit BinaryPlistDocument(std::string bytes) : bytes_(std::move(bytes)) {}

  std::string bytes_;
  std::uint8_t offsetSize_ = 0;
  std::uint8_t referenceSize_ = 0;
  std::uint64_t offsetTable_ = 0;
  std::uint64_t count_ = 0;
  Ref top_ = 0;
};

class HX_PLATFORM_EXPORT BinaryPlistBuilder {
 public:
  using Ref = std::uint32_t;

  BinaryPlistBuilder();
  ~BinaryPlistBuilder();
  BinaryPlistBuilder(const BinaryPlistBuilder&) = delete;
  BinaryPlistBuilder& operator=(const BinaryPlistBuilder&) = delete;

  // Adds `value` with everything under it. Nothing (the builder then holds unused objects, which
  // finish() still lays out) when it is not a property list, nests deeper than 512 levels or
  // holds text that is not valid UTF-8.
  std::optional<Ref> add(const Value& value);
  // Adds text; nothing when it is not valid UTF-8.
  std::optional<Ref> addString(std::string_view text);
  // Copies the object `ref` of `document` with everything under it, keeping its encoding and the
  // objects it shares. Nothing when any of it is damaged (as BinaryPlistDocument::decode).
  // `document` must outlive the builder or its next finish().
  std::optional<Ref> addFrom(const BinaryPlistDocument& document, BinaryPlistDocument::Ref ref);
  // Adds a dictionary of objects already added: keys (text) and values.
  Ref addDictionary(const std::vector<std::pair<Ref, Ref>>& entries);

  // Lays out the document with `root` as its top object and returns its bytes; the builder is
  // empty afterwards.
  std::string finish(Ref root);

 private:
  struct Container {
    Ref ref;
    std::uint8_t type;
    std::uint64_t count;
    std::size_t first;  // into refs_
  };
  struct Slot {
    std::uint64_t hash = 0;
    Ref ref = 0;
    bool used = false;
  };
  friend struct BuilderSink;

  std::optional<Ref> addValue(const Value& value, int depth);
  // `refs`: the items, or the keys then the values.
  Ref addContainer(std::uint8_t type, const Ref* refs, std::size_t size);
  // Interns the object just appended at `start`: an identical earlier object is reused and the
  // new bytes dropped.
  Ref intern(std::size_t start);
  void grow();

  std::string buffer_;
  std::vector<std::uint64_t> offsets_;  // by Ref; containers get theirs in finish()
  std::vector<std::uint64_t> lengths_;  // by Ref, for leaves
  std::vector<Container> containers_;
  std::vector<Ref> refs_;
  std::vector<Slot> table_;
  std::size_t used_ = 0;
  // What the objects of the document last copied from became here.
  const BinaryPlistDocument* source_ = nullptr;
  std::vector<WalkSlot<Ref>> copied_;
};

}  // namespace platform
