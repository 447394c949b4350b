// Binary property lists ("bplist00") read in place and built in one pass, for files too large to
// turn into one Value at every read (the preference domains). A document keeps the file's bytes
// and decodes an object only when asked, with the checks of parsePropertyList (bounds, cycles,
// nesting, expansion); a builder encodes objects straight into one buffer, writes every
// repeated object (containers included) once, and tells before laying a document out whether
// the reader will take it. Neither is thread-safe;
// both are pure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/Export.h"
#include "platform/foundation/Limits.h"
#include "platform/foundation/Value.h"

namespace platform {

template <class Result>
class WalkMemo;

// What a reader takes on with a document: its size, its objects counted as a tree (a shared
// object each time it is referred to) and the containers on its longest path from the top.
struct HX_PLATFORM_EXPORT BinaryPlistExtent {
  std::uint64_t bytes = 0;
  std::uint64_t expandedObjects = 0;
  int depth = 0;

  // Why BinaryPlistDocument (and so parsePropertyList) refuses a document of this extent, in
  // words for a log line; nothing when it takes it. A document may expand to 16 objects per
  // byte (at least 4,096, at most 2^22) and nest 512 containers deep; with `kind`, one larger
  // than maximumFileSize(kind) is refused too, as a read of that kind of file refuses it.
  std::optional<std::string> refusal(std::optional<FileKind> kind = std::nullopt) const;
};

class HX_PLATFORM_EXPORT BinaryPlistDocument {
 public:
  using Ref = std::uint64_t;

  // Takes `bytes`. Returns nothing when they are not a "bplist00" document whose trailer and
  // offset table are consistent, with room for every object the trailer counts (each takes a
  // byte at least); the objects themselves are checked only when they are used. What a document
  // allocates later is bounded by its size and by what is used, never by the count alone.
  static std::unique_ptr<BinaryPlistDocument> open(std::string bytes);
  BinaryPlistDocument(const BinaryPlistDocument&) = delete;
  BinaryPlistDocument& operator=(const BinaryPlistDocument&) = delete;

  Ref root() const { return top_; }
  std::uint64_t objectCount() const { return count_; }
  // How many bytes each reference to an object takes.
  std::uint8_t referenceSize() const { return referenceSize_; }
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

  // Whether the array `ref` holds the string `text`, told from the bytes in place, elements of
  // other kinds passed over. Nothing when `ref` is not an array, or when an element is text that
  // only a decode can compare (ASCII-marked text with bytes over 0x7F).
  std::optional<bool> arrayHoldsText(Ref ref, std::string_view text) const;

  // This document with the entries of its root dictionary changed as `changes` say (sorted by
  // key, no key twice; a null value removes the entry), for a document BinaryPlistBuilder laid
  // out with its root's keys in byte order (as a domain's writer does): every other object is
  // copied as it stands and only the new values are encoded, so the cost is a copy of the bytes,
  // not a rebuild. Objects no entry reaches any more stay behind while they are few. Nothing,
  // for the caller to build the document whole, when the root is not laid out so, when a key is
  // not ASCII, when unreached objects would pass an eighth of the whole, when the references
  // would need to be wider, when a value cannot be encoded or when BinaryPlistExtent::refusal
  // refuses the result for `kind`. The result is built in `buffer`, whose capacity is reused;
  // `kept` is how many of its first bytes are this document's own, unchanged.
  std::optional<std::string> withRootEntries(
      const std::vector<std::pair<std::string_view, const Value*>>& changes, FileKind kind,
      std::uint64_t& kept, std::string buffer = {}) const;

  // Decodes the object `ref` with everything under it; objects the document shares are shared
  // by the result's copies. Nothing when any of it is damaged (a date that is not finite
  // included), nests deeper than 512 levels, contains itself or expands past the cap of
  // BinaryPlistExtent::refusal for the document's size.
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
  // Whether a container identical to one already added (same kind, same objects) is referred
  // to again, as a repeated leaf always is, or written out each time it occurs. Expanded keeps
  // only the sharing of a document addFrom() copies, and lets every object of add() cost a
  // reference byte, which keeps any value within the expansion cap for its size.
  enum class ContainerSharing { Kept, Expanded };

  explicit BinaryPlistBuilder(ContainerSharing sharing = ContainerSharing::Kept);
  ~BinaryPlistBuilder();
  BinaryPlistBuilder(const BinaryPlistBuilder&) = delete;
  BinaryPlistBuilder& operator=(const BinaryPlistBuilder&) = delete;

  // Adds `value` with everything under it. Nothing (the builder then holds unused objects, which
  // finish() still lays out) when it is not a property list, nests deeper than 512 levels, holds
  // text that is not valid UTF-8 or a date that is not finite.
  std::optional<Ref> add(const Value& value);
  // Adds text; nothing when it is not valid UTF-8.
  std::optional<Ref> addString(std::string_view text);
  // Copies the object `ref` of `document` with everything under it, keeping its encoding and the
  // objects it shares. Nothing when any of it is damaged (as BinaryPlistDocument::decode).
  // `document` must outlive the builder or its next finish().
  std::optional<Ref> addFrom(const BinaryPlistDocument& document, BinaryPlistDocument::Ref ref);
  // Adds a dictionary of objects already added: keys (text) and values.
  Ref addDictionary(const std::vector<std::pair<Ref, Ref>>& entries);

  // The extent of the document finish(root) would return, from figures kept while adding:
  // nothing is laid out or read again.
  BinaryPlistExtent extent(Ref root) const;

  // Lays out the document with `root` as its top object and returns its bytes; the builder is
  // empty afterwards.
  std::string finish(Ref root);

 private:
  struct Container {
    Ref ref;
    std::uint8_t type;
    std::uint64_t count;
    std::size_t first;  // into refs_
    std::uint64_t expanded;
    int depth;
  };
  struct Slot {
    std::uint64_t hash = 0;
    Ref ref = 0;
    bool used = false;
  };
  // Open addressing, at most half full.
  struct Table {
    // A power of two; small, since most builders hold one value (a check before a write).
    std::vector<Slot> slots = std::vector<Slot>(64);
    std::size_t used = 0;
  };
  // The entry found, or the free slot where it belongs.
  struct Found {
    std::optional<Ref> ref;
    std::size_t index;
  };
  friend struct BuilderSink;

  std::optional<Ref> addValue(const Value& value, int depth);
  std::optional<Ref> addArrayOrDictionary(const Value& value, int depth);
  // `refs`: the items, or the keys then the values.
  Ref addContainer(std::uint8_t type, const Ref* refs, std::size_t size);
  // A leaf counts one object and nests nothing.
  std::uint64_t expandedOf(Ref ref) const;
  int depthOf(Ref ref) const;
  // Interns the object just appended at `start`: an identical earlier object is reused and the
  // new bytes dropped.
  Ref intern(std::size_t start);
  template <class Same>
  static Found find(const Table& table, std::uint64_t hash, const Same& same);
  static void insert(Table& table, std::size_t index, std::uint64_t hash, Ref ref);

  const ContainerSharing sharing_;
  std::string buffer_;
  // By Ref. A container (length 0) holds its index in containers_ until finish() lays it out.
  std::vector<std::uint64_t> offsets_;
  std::vector<std::uint64_t> lengths_;
  std::vector<Container> containers_;
  std::uint64_t containerMarkerBytes_ = 0;
  std::vector<Ref> refs_;
  Table leafTable_;       // by Ref
  Table containerTable_;  // by index in containers_
  // What the objects of the document last copied from became here.
  const BinaryPlistDocument* source_ = nullptr;
  std::unique_ptr<WalkMemo<Ref>> copied_;
  // What each container added became, by the address of its shared contents; the copy held
  // keeps that address from being reused for other contents while the builder lives.
  std::unordered_map<const void*, std::pair<Value, Ref>> added_;
};

}  // namespace platform
