// The contents of a domain file as one process last read them. A binary file is read in place:
// a value is decoded the first time it is asked for and kept until other contents are loaded.
// The keys of a file this system's writer wrote are in byte order, so one is found by binary
// search in the file itself; any other binary file has its keys indexed when it is loaded. Any
// other property list (XML that a person put there) is parsed whole. Not thread-safe:
// PreferenceDomain serialises every call.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/BinaryPlist.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Value.h"

namespace platform {

class StoredDomain {
 public:
  // Pending changes by key; None removes the key.
  using Changes = std::map<std::string, Value, std::less<>>;
  enum class Origin { Foreign, Own };

  // Replaces the contents with `bytes`. Returns false, leaving the contents empty, when they are
  // not a property list whose root is a dictionary with text keys, or (Origin::Foreign) when any
  // value in them is damaged. With Origin::Own the bytes are
  // known to be what a store's writer wrote (keys in order, every value sound): nothing is
  // checked or indexed until a write needs it.
  bool load(std::string bytes, Origin origin = Origin::Foreign);
  void clear();
  // Whether the contents are the bytes of a store's writer, held here.
  bool holdsOwnBytes() const { return document_ && own_; }
  // Makes the contents those of the file at `path`, whose first `kept` bytes are known to be the
  // held bytes' own (a store's write kept them): only the rest is read (Env::readFileAfter), and
  // the result taken as a store's writer's when `accept` takes the identity of what was read.
  // False, the contents as before, when the file cannot be read so or is not accepted.
  // REQUIRES: holdsOwnBytes().
  bool loadChangedPart(Env& env, const std::string& path, std::uint64_t kept,
                       const std::function<bool(const FileIdentity& identity)>& accept);
  // Hands out the buffer of the current contents for the next read to reuse (its capacity is
  // kept, so a re-read allocates nothing); the contents are empty afterwards.
  std::string recycle();

  // The value under `key`, valid until the contents change; nullptr when absent. A value that
  // turns out damaged when decoded makes the whole contents damaged(): from then on every key
  // is absent, as for any unreadable file.
  const Value* find(std::string_view key);
  bool damaged() const { return damaged_; }
  // Whether the array under `key` holds the string `text` (false when the key is absent), told
  // from the file without decoding; nothing when only find() can tell.
  std::optional<bool> arrayHoldsText(std::string_view key, std::string_view text);
  // Every entry, decoded; empty when a value is damaged (and damaged() then).
  Value::Dictionary copyAll();
  // Calls `visit` with every key, in byte order.
  void forEachKey(const std::function<void(std::string_view key)>& visit);
  // Decodes nothing, but checks every value as decoding would; false (and damaged()) when one
  // is damaged. Cheap after the first call and for Origin::Own.
  bool validate();

  // Whether applying `changes` would change the contents (compared by identicalPropertyLists).
  bool differsWith(const Changes& changes);
  // The binary file of the contents with `changes` applied, keys in byte order; unchanged values
  // are copied in their stored encoding. Nothing, with the reason in `why`, when a value cannot be
  // encoded or when the store's own reader would refuse the file (over the size cap of a domain,
  // expanding past the object cap, nested too deep): such a file would lose the whole domain.
  // REQUIRES: !damaged() (the caller validates first).
  // `kept`: how many of the first bytes of the result are the current contents' own, unchanged
  // (0 when the document was built whole).
  std::optional<std::string> encodeWith(const Changes& changes, std::string& why,
                                        std::uint64_t& kept);

 private:
  struct Entry {
    std::string_view key;  // into the document or into ownedKeys_
    BinaryPlistDocument::Ref value;
  };
  // Indexes the keys of the document; false when its root is not a dictionary with text keys.
  bool index();
  std::optional<BinaryPlistDocument::Ref> valueFor(std::string_view key) const;

  std::unique_ptr<BinaryPlistDocument> document_;
  bool indexed_ = false;
  std::vector<Entry> entries_;  // by key, one per key (the last in the file wins)
  std::deque<std::string> ownedKeys_;
  std::map<std::string, Value, std::less<>> cache_;  // decoded values by key
  std::optional<Value::Dictionary> parsed_;          // set for contents that are not binary
  std::string spare_;  // a buffer to recycle when there is no document
  bool validated_ = false;
  bool own_ = false;  // loaded as Origin::Own
  bool damaged_ = false;
};

}  // namespace platform
