// The distributed notification centre: named notifications with a string object and a
// property-list userInfo, broadcast to observers in every process of the user. Every
// operation runs on the thread of the centre's run loop (the main thread); no operation
// calls an observer directly: handlers always run later, from the run loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Export.h"
#include "platform/foundation/Value.h"

namespace platform {

class RunLoop;

struct HX_PLATFORM_EXPORT Notification {
  std::string name;
  std::optional<std::string> object;
  Value userInfo;  // a property-list dictionary, or None

  friend bool operator==(const Notification&, const Notification&) = default;
};

using NotificationHandler = std::function<void(const Notification&)>;

// One observer registration. Move-only; destroying or resetting it unregisters the observer,
// after which its handler is never called again, not even for notifications already queued.
// Safe to destroy from inside the observer's own handler (or another's) during dispatch.
// A token may outlive its centre: resetting it then does nothing. Same thread as the centre.
class HX_PLATFORM_EXPORT ObserverToken {
 public:
  ObserverToken() = default;
  // `unregister` runs once, on reset() or destruction. Centres (and test doubles) build tokens.
  explicit ObserverToken(std::function<void()> unregister) : unregister_(std::move(unregister)) {}
  ~ObserverToken() { reset(); }
  ObserverToken(ObserverToken&& other) noexcept : unregister_(std::move(other.unregister_)) {
    other.unregister_ = nullptr;
  }
  ObserverToken& operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
      reset();
      unregister_ = std::move(other.unregister_);
      other.unregister_ = nullptr;
    }
    return *this;
  }
  ObserverToken(const ObserverToken&) = delete;
  ObserverToken& operator=(const ObserverToken&) = delete;

  void reset() {
    // Cleared before the call so that a reset reached again from inside `unregister` is a no-op.
    auto unregister = std::move(unregister_);
    unregister_ = nullptr;
    if (unregister) unregister();
  }
  // True while the token holds a registration (not reset, not moved from).
  explicit operator bool() const { return static_cast<bool>(unregister_); }

 private:
  std::function<void()> unregister_;
};

// What a centre refused or dropped, for tests and diagnostics.
struct HX_PLATFORM_EXPORT NotificationCounters {
  std::uint64_t refused = 0;  // posts not sent: userInfo of the wrong kind, text or size
  std::uint64_t dropped = 0;  // received signals dropped as malformed
};

class HX_PLATFORM_EXPORT NotificationCenter {
 public:
  NotificationCenter() = default;
  virtual ~NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // postNotificationName:object:userInfo: to every matching observer in every process of the
  // user, this one included (exactly once per observer). `userInfo` must be None or a
  // property-list dictionary; anything else, a name or object that is not valid UTF-8 or holds
  // a NUL, or an encoded notification above the size limits of NotificationWire.h is refused:
  // not posted, one log line, and counted.
  virtual void postNotification(const std::string& name, const std::optional<std::string>& object,
                                const Value& userInfo) = 0;

  // Observes `name` (nullopt = any name) for `object` (nullopt = any object; a notification
  // without an object matches only observers of any object). The handler runs on the centre's
  // run loop, never inside postNotification's call stack. Observers run in registration order;
  // an exception from a handler is logged and does not stop the others.
  virtual ObserverToken addObserver(std::optional<std::string> name,
                                    std::optional<std::string> object,
                                    NotificationHandler handler) = 0;

  // Sends everything queued for other processes and waits until it is written to the bus.
  // Call before a process exits. Destroying the centre flushes too, and so does exit() (or a
  // return from main) while the bus centre is alive; _exit() and a crash do not.
  virtual void flush() {}

  virtual NotificationCounters counters() const { return {}; }
};

// Over the user's D-Bus session bus; handlers run on `runLoop`, which must outlive the centre.
// Incoming signals are read and delivered in bounded batches, one batch per turn of the loop,
// so that a flood from another process neither holds the loop nor piles up in memory.
// The connection opens on first use, on the calling thread, and belongs to the process that
// opened it: a forked child must exec and build its own centre (the inherited one falls back
// to delivering inside the child only). Without a bus, or after losing it, the centre still
// delivers inside the process and says once in the log that other processes won't hear.
HX_PLATFORM_EXPORT std::unique_ptr<NotificationCenter> newDistributedNotificationCenter(
    RunLoop& runLoop);

// In-process only, with the same acceptance rules, for unit tests; delivers on `runLoop`,
// which must outlive the centre.
HX_PLATFORM_EXPORT std::unique_ptr<NotificationCenter> newLocalNotificationCenter(RunLoop& runLoop);

// Forwards every call to `target`, which must outlive the wrapper. Tests derive from it and
// override one call (a post that is recorded, an observer that is refused).
class HX_PLATFORM_EXPORT NotificationCenterWrapper : public NotificationCenter {
 public:
  explicit NotificationCenterWrapper(NotificationCenter& target) : target_(target) {}

  void postNotification(const std::string& name, const std::optional<std::string>& object,
                        const Value& userInfo) override {
    target_.postNotification(name, object, userInfo);
  }
  ObserverToken addObserver(std::optional<std::string> name, std::optional<std::string> object,
                            NotificationHandler handler) override {
    return target_.addObserver(std::move(name), std::move(object), std::move(handler));
  }
  void flush() override { target_.flush(); }
  NotificationCounters counters() const override { return target_.counters(); }

  NotificationCenter& target() const { return target_; }

 private:
  NotificationCenter& target_;
};

}  // namespace platform
