// The observer registry and the in-process centre.
#include <exception>
#include <variant>

#include "ObserverRegistry_p.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/notifications/NotificationWire.h"

namespace platform {

std::uint64_t ObserverRegistry::add(std::optional<std::string> name,
                                    std::optional<std::string> object,
                                    NotificationHandler handler) {
  const std::uint64_t id = nextId_++;
  entries_.emplace(id, Entry{std::move(name), std::move(object),
                             std::make_shared<NotificationHandler>(std::move(handler))});
  return id;
}

std::optional<ObserverRegistry::Entry> ObserverRegistry::remove(std::uint64_t id) {
  auto it = entries_.find(id);
  if (it == entries_.end()) return std::nullopt;
  Entry entry = std::move(it->second);
  entries_.erase(it);
  return entry;
}

void ObserverRegistry::dispatch(const Notification& notification) {
  // Handlers may add or remove observers, so the matching set is fixed first and each one is
  // looked up again just before its call.
  std::vector<std::uint64_t> matching;
  for (const auto& [id, entry] : entries_) {
    if (entry.name && *entry.name != notification.name) continue;
    if (entry.object && entry.object != notification.object) continue;
    matching.push_back(id);
  }
  for (std::uint64_t id : matching) {
    auto it = entries_.find(id);
    if (it == entries_.end()) continue;
    std::shared_ptr<NotificationHandler> handler = it->second.handler;
    if (!*handler) continue;
    try {
      (*handler)(notification);
    } catch (const std::exception& error) {
      NSLog("An observer of " + notification.name + " threw: " + error.what());
    } catch (...) {
      NSLog("An observer of " + notification.name + " threw an unknown exception");
    }
  }
}

namespace {

class LocalNotificationCenter final : public NotificationCenter {
 public:
  explicit LocalNotificationCenter(RunLoop& runLoop)
      : state_(std::make_shared<State>()), runLoop_(runLoop) {}

  void postNotification(const std::string& name, const std::optional<std::string>& object,
                        const Value& userInfo) override {
    // The same acceptance as the bus centre, so that unit tests catch what would be refused.
    auto wire = encodeNotification(name, object, userInfo);
    if (auto* error = std::get_if<WireError>(&wire)) {
      ++state_->counters.refused;
      NSLog("Not posting notification " + name + ": " + wireErrorDescription(*error));
      return;
    }
    runLoop_.post(
        [weak = std::weak_ptr<State>(state_), notification = Notification{name, object, userInfo}] {
          if (auto state = weak.lock()) state->registry.dispatch(notification);
        });
  }

  ObserverToken addObserver(std::optional<std::string> name, std::optional<std::string> object,
                            NotificationHandler handler) override {
    const auto id = state_->registry.add(std::move(name), std::move(object), std::move(handler));
    return makeObserverToken(state_, id);
  }

  NotificationCounters counters() const override { return state_->counters; }

 private:
  struct State {
    ObserverRegistry registry;
    NotificationCounters counters;
    void removeObserver(std::uint64_t id) { registry.remove(id); }
  };
  const std::shared_ptr<State> state_;
  RunLoop& runLoop_;
};

}  // namespace

std::unique_ptr<NotificationCenter> newLocalNotificationCenter(RunLoop& runLoop) {
  return std::make_unique<LocalNotificationCenter>(runLoop);
}

}  // namespace platform
