// The observers of one centre and their dispatch, shared by the local and the bus centre.
// Single-threaded: the centre's run loop thread only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/notifications/NotificationCenter.h"

namespace platform {

class ObserverRegistry {
 public:
  struct Entry {
    std::optional<std::string> name;
    std::optional<std::string> object;
    // Shared so that a handler stays alive while it runs even if it unregisters itself.
    std::shared_ptr<NotificationHandler> handler;
  };

  std::uint64_t add(std::optional<std::string> name, std::optional<std::string> object,
                    NotificationHandler handler);
  // Returns the removed entry, or nullopt when `id` is not registered (already removed).
  std::optional<Entry> remove(std::uint64_t id);
  // Calls every observer that matches `notification` and was registered when dispatch began,
  // in registration order, skipping any that was removed meanwhile. Exceptions are logged.
  void dispatch(const Notification& notification);
  bool hasObservers() const { return !entries_.empty(); }

 private:
  std::map<std::uint64_t, Entry> entries_;  // ids grow, so this is registration order
  std::uint64_t nextId_ = 1;
};

// Builds a token that removes `id` from `owner` unless the owner is already gone.
template <typename Owner>
ObserverToken makeObserverToken(const std::shared_ptr<Owner>& owner, std::uint64_t id) {
  return ObserverToken([weak = std::weak_ptr<Owner>(owner), id] {
    if (auto strong = weak.lock()) strong->removeObserver(id);
  });
}

}  // namespace platform
