#include "StoredDomain_p.h"

#include <algorithm>

#include "platform/foundation/PropertyList.h"
#include "platform/preferences/PreferenceStore.h"

namespace platform {

bool StoredDomain::load(std::string bytes, Origin origin) {
  clear();
  if (!bytes.starts_with("bplist")) {
    std::optional<Value> root = parsePropertyList(bytes);
    spare_ = std::move(bytes);
    if (!root || !root->isDictionary()) return false;
    parsed_ = std::move(root->mutableDictionary());
    return true;
  }
  document_ = BinaryPlistDocument::open(std::move(bytes));
  if (!document_) return false;
  own_ = validated_ = origin == Origin::Own;
  if (validated_) return true;
  // Another writer's file is checked whole now, so that one damaged value makes the domain
  // unreadable from the first read on, whichever key or read path comes first.
  if (!index() || !validate()) {
    clear();
    return false;
  }
  return true;
}

bool StoredDomain::index() {
  if (indexed_) return true;
  bool sorted = true;
  const bool isDictionary = document_->forEachEntry(
      document_->root(), [&](std::string_view key, bool inPlace, BinaryPlistDocument::Ref value) {
        if (!inPlace) key = ownedKeys_.emplace_back(key);
        if (!entries_.empty() && !(entries_.back().key < key)) sorted = false;
        entries_.push_back(Entry{key, value});
      });
  if (!isDictionary) return false;
  if (!sorted) {
    // Files from other writers may hold keys in any order, even twice: the last one counts.
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.key < b.key; });
    auto last = std::unique(entries_.rbegin(), entries_.rend(),
                            [](const Entry& a, const Entry& b) { return a.key == b.key; });
    entries_.erase(entries_.begin(), last.base());
  }
  indexed_ = true;
  return true;
}

void StoredDomain::clear() {
  if (document_) spare_ = document_->releaseBytes();
  document_.reset();
  indexed_ = false;
  entries_.clear();
  ownedKeys_.clear();
  cache_.clear();
  parsed_.reset();
  validated_ = false;
  own_ = false;
  damaged_ = false;
}

std::string StoredDomain::recycle() {
  clear();
  return std::move(spare_);
}

bool StoredDomain::loadChangedPart(
    Env& env, const std::string& path, std::uint64_t kept,
    const std::function<bool(const FileIdentity& identity)>& accept) {
  std::string bytes = document_->releaseBytes();
  document_.reset();
  clear();
  // The part after `kept` is set aside, so that the held contents can be put back whatever the
  // read leaves of them.
  const std::string rest = bytes.size() >= kept ? bytes.substr(kept) : std::string();
  FileIdentity identity;
  if (bytes.size() >= kept &&
      env.readFileAfter(path, FileKind::PreferenceDomain, kept, bytes, identity).isOk() &&
      accept(identity)) {
    return load(std::move(bytes), Origin::Own);
  }
  bytes.resize(std::min<std::size_t>(bytes.size(), kept));
  bytes += rest;
  load(std::move(bytes), Origin::Own);
  return false;
}

std::optional<BinaryPlistDocument::Ref> StoredDomain::valueFor(std::string_view key) const {
  if (!indexed_) return document_->findInSortedDictionary(document_->root(), key);
  auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                             [](const Entry& entry, std::string_view k) { return entry.key < k; });
  if (it == entries_.end() || it->key != key) return std::nullopt;
  return it->value;
}

const Value* StoredDomain::find(std::string_view key) {
  if (damaged_) return nullptr;
  if (parsed_) {
    auto it = parsed_->find(key);
    return it == parsed_->end() ? nullptr : &it->second;
  }
  if (!document_) return nullptr;
  if (auto it = cache_.find(key); it != cache_.end()) return &it->second;
  const auto ref = valueFor(key);
  if (!ref) return nullptr;
  std::optional<Value> value = document_->decode(*ref);
  if (!value) {
    damaged_ = true;
    return nullptr;
  }
  return &cache_.emplace(std::string(key), std::move(*value)).first->second;
}

std::optional<bool> StoredDomain::arrayHoldsText(std::string_view key, std::string_view text) {
  // Only a document that was validated whole or that a store's writer wrote may be read without
  // decoding: a damaged element would otherwise go unnoticed.
  if (damaged_ || parsed_ || !document_ || cache_.contains(key)) return std::nullopt;
  const auto ref = valueFor(key);
  if (!ref) return false;
  return document_->arrayHoldsText(*ref, text);
}

Value::Dictionary StoredDomain::copyAll() {
  if (parsed_) return *parsed_;
  Value::Dictionary all;
  if (document_ && !index()) return {};
  for (const Entry& entry : entries_) {
    const Value* value = find(entry.key);
    if (value == nullptr) return {};
    all.emplace_hint(all.end(), std::string(entry.key), *value);
  }
  return all;
}

void StoredDomain::forEachKey(const std::function<void(std::string_view key)>& visit) {
  if (document_) index();
  if (parsed_) {
    for (const auto& entry : *parsed_) visit(entry.first);
  } else {
    for (const Entry& entry : entries_) visit(entry.key);
  }
}

bool StoredDomain::validate() {
  if (damaged_) return false;
  if (parsed_ || !document_ || validated_) return true;
  validated_ = document_->validate(document_->root());
  damaged_ = !validated_;
  return validated_;
}

bool StoredDomain::differsWith(const Changes& changes) {
  for (const auto& [key, value] : changes) {
    const Value* stored = find(key);
    if (value.isNone() ? stored != nullptr
                       : stored == nullptr || !identicalPropertyLists(*stored, value)) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> StoredDomain::encodeWith(const Changes& changes, std::string& why,
                                                    std::uint64_t& kept) {
  why = "a value cannot be encoded";
  kept = 0;
  if (document_ && own_) {
    // A file this system's writer wrote: its root is rewritten, not the document rebuilt.
    std::vector<std::pair<std::string_view, const Value*>> rootChanges;
    rootChanges.reserve(changes.size());
    for (const auto& [key, value] : changes) {
      rootChanges.emplace_back(key, value.isNone() ? nullptr : &value);
    }
    // The buffer of the contents before the last load (a write's) is reused, so that a series
    // of writes does not fault in fresh pages for every file.
    if (auto bytes = document_->withRootEntries(rootChanges, FileKind::PreferenceDomain, kept,
                                                std::move(spare_))) {
      return bytes;
    }
  }
  BinaryPlistBuilder builder;
  std::vector<std::pair<BinaryPlistBuilder::Ref, BinaryPlistBuilder::Ref>> entries;
  const auto addEntry = [&](std::string_view key, auto&& addValue) {
    const auto keyRef = builder.addString(key);
    const auto valueRef = keyRef ? addValue() : std::nullopt;
    if (!valueRef) return false;
    entries.emplace_back(*keyRef, *valueRef);
    return true;
  };
  const auto addChange = [&](const std::string& key, const Value& value) {
    return value.isNone() || addEntry(key, [&] { return builder.add(value); });
  };

  // Both sides are ordered by key bytes: merge them in one sweep.
  auto change = changes.begin();
  if (parsed_) {
    // Named, not a structured binding: clang 14 (the fuzz build) cannot capture those.
    for (const auto& stored : *parsed_) {
      const std::string& key = stored.first;
      const Value& value = stored.second;
      for (; change != changes.end() && change->first < key; ++change) {
        if (!addChange(change->first, change->second)) return std::nullopt;
      }
      if (change != changes.end() && change->first == key) continue;
      if (!addEntry(key, [&] { return builder.add(value); })) return std::nullopt;
    }
  } else {
    if (document_ && !index()) return std::nullopt;
    for (const Entry& entry : entries_) {
      for (; change != changes.end() && change->first < entry.key; ++change) {
        if (!addChange(change->first, change->second)) return std::nullopt;
      }
      if (change != changes.end() && change->first == entry.key) continue;
      if (!addEntry(entry.key, [&] { return builder.addFrom(*document_, entry.value); })) {
        return std::nullopt;
      }
    }
  }
  for (; change != changes.end(); ++change) {
    if (!addChange(change->first, change->second)) return std::nullopt;
  }
  const auto root = builder.addDictionary(entries);
  if (auto refusal = builder.extent(root).refusal(FileKind::PreferenceDomain)) {
    why = std::move(*refusal);
    return std::nullopt;
  }
  return builder.finish(root);
}

}  // namespace platform
