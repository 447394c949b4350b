// The centre over the D-Bus session bus (sd-bus), driven by the program's run loop.
//
// Every post goes out as a broadcast signal, and this process hears its own posts back through
// the daemon like any other process, so a local observer is called exactly once per post and in
// the same order as observers elsewhere. Each observed name holds one arg0 match (shared by its
// observers); names that cannot be written into a rule, and any-name observers, share one rule
// without arg0. Messages that match several rules reach the match callback once per rule, so
// the callback remembers the last message it took.
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/system_error.hpp>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <variant>
#include <vector>

#include "ObserverRegistry_p.h"
#include "platform/foundation/AsioRunLoop.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/WriteOutcome.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/notifications/NotificationWire.h"

namespace platform {
namespace {

using boost::asio::posix::stream_descriptor;

// Messages read from the bus per turn of the run loop.
constexpr std::size_t kMaxMessagesPerTurn = 16;

std::string errorText(int negativeErrno) {
  return std::strerror(-negativeErrno);
}

// Connections open in this process. The platform's own centre is never destroyed, so a program
// that posts and then returns from main() would lose what is still queued; exit() flushes them.
// Leaked on purpose: it must still exist while exit handlers run.
std::vector<sd_bus*>& openConnections() {
  static auto* connections = new std::vector<sd_bus*>();
  return *connections;
}

pid_t& openConnectionsOwner() {
  static pid_t owner = 0;
  return owner;
}

void flushOpenConnectionsAtExit() {
  // A forked child that calls exit() must not write on its parent's connections.
  if (openConnectionsOwner() != getpid()) return;
  for (sd_bus* bus : openConnections()) sd_bus_flush(bus);
}

void rememberOpenConnection(sd_bus* bus) {
  static const bool registered = std::atexit(&flushOpenConnectionsAtExit) == 0;
  (void)registered;
  if (openConnectionsOwner() != getpid()) {
    openConnections().clear();  // inherited from a parent through fork; not ours to flush
    openConnectionsOwner() = getpid();
  }
  openConnections().push_back(bus);
}

void forgetOpenConnection(sd_bus* bus) {
  auto& connections = openConnections();
  connections.erase(std::remove(connections.begin(), connections.end(), bus), connections.end());
}

class BusCenter : public std::enable_shared_from_this<BusCenter> {
 public:
  explicit BusCenter(RunLoop& runLoop) : runLoop_(runLoop), timer_(asioContext(runLoop)) {}
  ~BusCenter() { close(); }
  BusCenter(const BusCenter&) = delete;
  BusCenter& operator=(const BusCenter&) = delete;

  void post(const std::string& name, const std::optional<std::string>& object,
            const Value& userInfo) {
    if (mode_ == Mode::Closed) return;
    auto encoded = encodeNotification(name, object, userInfo);
    if (auto* error = std::get_if<WireError>(&encoded)) {
      ++counters_.refused;
      NSLog("Not posting notification " + name + ": " + wireErrorDescription(*error));
      WriteOutcomeRecorder::report(WriteOutcome::NotAnnounced);
      return;
    }
    open();
    if (connected()) {
      const int r = send(std::get<WireNotification>(encoded));
      if (r >= 0) {
        schedulePump();
        return;
      }
      if (sd_bus_is_open(bus_) > 0) {
        // The connection is fine but this message could not be queued (for instance a full
        // write queue); say so rather than pretend it went out.
        ++counters_.refused;
        NSLog("Could not post notification " + name + ": " + errorText(r));
        WriteOutcomeRecorder::report(WriteOutcome::NotAnnounced);
        return;
      }
      fallBackToLocal("cannot send on the session bus (" + errorText(r) + ")");
    }
    // Observers of this process still hear it; no other process does.
    WriteOutcomeRecorder::report(WriteOutcome::NotAnnounced);
    deliverLocally(Notification{name, object, userInfo});
  }

  ObserverToken addObserver(std::optional<std::string> name, std::optional<std::string> object,
                            NotificationHandler handler) {
    const std::uint64_t id = registry_.add(name, std::move(object), std::move(handler));
    open();
    if (connected()) attachMatch(id, name);
    return makeObserverToken(shared_from_this(), id);
  }

  void removeObserver(std::uint64_t id) {
    registry_.remove(id);
    auto it = observerMatches_.find(id);
    if (it == observerMatches_.end()) return;
    const std::optional<std::string> name = std::move(it->second);
    observerMatches_.erase(it);
    Match& match = name ? nameMatches_[*name] : anyMatch_;
    if (--match.users > 0) return;
    // Unreferencing the slot queues a RemoveMatch for the daemon; the pump sends it.
    sd_bus_slot_unref(match.slot);
    match.slot = nullptr;
    if (name) nameMatches_.erase(*name);
    schedulePump();
  }

  void flush() {
    if (!connected()) return;
    const int r = sd_bus_flush(bus_);
    if (r < 0) {
      // What was queued for other processes is lost with the connection.
      WriteOutcomeRecorder::report(WriteOutcome::NotAnnounced);
      fallBackToLocal("cannot write to the session bus (" + errorText(r) + ")");
      return;
    }
    // Waiting for the connection to come up may have read messages that are now queued.
    schedulePump();
  }

  // Flushes and closes the connection; nothing is delivered afterwards.
  void close() {
    if (mode_ == Mode::Bus) releaseConnection(Flush::Yes);
    mode_ = Mode::Closed;
    incoming_.clear();
  }

  NotificationCounters counters() const { return counters_; }

 private:
  enum class Mode { Unopened, Bus, Local, Closed };
  enum class Flush { No, Yes };
  struct Match {
    sd_bus_slot* slot = nullptr;
    std::size_t users = 0;
  };

  void open() {
    if (mode_ != Mode::Unopened) return;
    sd_bus* bus = nullptr;
    int r = sd_bus_open_user(&bus);
    if (r < 0) {
      mode_ = Mode::Local;
      warnLocalOnly("cannot connect to the session bus (" + errorText(r) + ")");
      return;
    }
    bus_ = bus;
    ownerPid_ = getpid();
    mode_ = Mode::Bus;
    rememberOpenConnection(bus_);
    r = sd_bus_get_fd(bus_);
    if (r < 0) {
      fallBackToLocal("the session bus connection has no descriptor (" + errorText(r) + ")");
      return;
    }
    try {
      descriptor_ = std::make_unique<stream_descriptor>(asioContext(runLoop_), r);
    } catch (const boost::system::system_error& error) {
      fallBackToLocal(std::string("cannot watch the session bus connection (") + error.what() +
                      ")");
      return;
    }
    // Authentication and Hello proceed from the run loop.
    schedulePump();
  }

  // True when the bus connection may be used: open, and opened by this very process. A forked
  // child inherits the parent's connection but must not touch it.
  bool connected() {
    if (mode_ != Mode::Bus) return false;
    if (getpid() != ownerPid_) {
      fallBackToLocal("the session bus connection belongs to the parent process");
      return false;
    }
    return true;
  }

  int send(const WireNotification& wire) {
    sd_bus_message* message = nullptr;
    int r = sd_bus_message_new_signal(bus_, &message, kNotificationPath, kNotificationInterface,
                                      kNotificationMember);
    if (r >= 0) {
      r = sd_bus_message_append(message, "sbs", wire.name.c_str(), wire.hasObject ? 1 : 0,
                                wire.object.c_str());
    }
    if (r >= 0) {
      r = sd_bus_message_append_array(message, 'y', wire.userInfo.data(), wire.userInfo.size());
    }
    if (r >= 0) r = sd_bus_send(bus_, message, nullptr);
    sd_bus_message_unref(message);
    return r;
  }

  void attachMatch(std::uint64_t id, const std::optional<std::string>& name) {
    if (name) {
      if (std::optional<std::string> rule = notificationMatchRule(name)) {
        auto it = nameMatches_.find(*name);
        if (it == nameMatches_.end()) {
          sd_bus_slot* slot = nullptr;
          const int r = sd_bus_add_match(bus_, &slot, rule->c_str(), &BusCenter::onSignal, this);
          if (r >= 0) {
            it = nameMatches_.emplace(*name, Match{slot, 0}).first;
          } else if (sd_bus_is_open(bus_) <= 0) {
            fallBackToLocal("cannot listen on the session bus (" + errorText(r) + ")");
            return;
          }
          // Otherwise the daemon refused this rule; the any-name rule below still hears it.
        }
        if (it != nameMatches_.end()) {
          ++it->second.users;
          observerMatches_[id] = *name;
          schedulePump();
          return;
        }
      }
    }
    if (anyMatch_.users == 0) {
      const int r =
          sd_bus_add_match(bus_, &anyMatch_.slot, notificationMatchRule(std::nullopt)->c_str(),
                           &BusCenter::onSignal, this);
      if (r < 0) {
        anyMatch_ = Match{};
        fallBackToLocal("cannot listen on the session bus (" + errorText(r) + ")");
        return;
      }
    }
    ++anyMatch_.users;
    observerMatches_[id] = std::nullopt;
    schedulePump();
  }

  static int onSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* self = static_cast<BusCenter*>(userdata);
    if (message == self->lastSeen_) return 0;
    // Kept referenced until the pump ends, so the pointer cannot be reused by a new message.
    sd_bus_message_unref(self->lastSeen_);
    self->lastSeen_ = sd_bus_message_ref(message);
    self->receive(message);
    return 0;
  }

  // Only decodes and queues: no observer runs inside sd_bus_process.
  void receive(sd_bus_message* message) {
    if (sd_bus_message_has_signature(message, kNotificationSignature) <= 0) {
      drop(message, WireError::WrongSignature);
      return;
    }
    const char* name = nullptr;
    int hasObject = 0;
    const char* object = nullptr;
    const void* bytes = nullptr;
    std::size_t size = 0;
    sd_bus_message_rewind(message, 1);
    if (sd_bus_message_read(message, "sbs", &name, &hasObject, &object) < 0 ||
        sd_bus_message_read_array(message, 'y', &bytes, &size) < 0) {
      drop(message, WireError::WrongSignature);
      return;
    }
    auto decoded = decodeNotification(
        name, hasObject != 0, object,
        std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bytes), size));
    if (auto* error = std::get_if<WireError>(&decoded)) {
      drop(message, *error);
      return;
    }
    incoming_.push_back(std::move(std::get<Notification>(decoded)));
  }

  void drop(sd_bus_message* message, WireError error) {
    ++counters_.dropped;
    if (loggedDrop_) return;
    // One line is enough to diagnose a broken peer; a flood must not flood the log.
    loggedDrop_ = true;
    const char* sender = sd_bus_message_get_sender(message);
    NSLog(std::string("Dropped a malformed notification from ") + (sender ? sender : "?") + ": " +
          wireErrorDescription(error) + " (further ones are dropped silently)");
  }

  void schedulePump() {
    if (pumpScheduled_ || mode_ != Mode::Bus) return;
    pumpScheduled_ = true;
    runLoop_.post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->pump();
    });
  }

  void pump() {
    pumpScheduled_ = false;
    if (pumping_ || !connected()) return;
    // Observers may drop the centre's last owner; stay alive until the pump has unwound.
    auto self = shared_from_this();
    pumping_ = true;
    // One bounded batch per turn of the loop: a flood of signals from another process must
    // not keep the loop's other sources (a page being served) waiting until the flood ends.
    // Each call handles one message at most, so the queue below never grows past the batch,
    // and what is not read yet waits in the socket and the daemon, not in this process.
    int r = 0;
    std::size_t calls = 0;
    do {
      r = sd_bus_process(bus_, nullptr);
    } while (r > 0 && ++calls < kMaxMessagesPerTurn);
    sd_bus_message_unref(lastSeen_);
    lastSeen_ = nullptr;
    pumping_ = false;
    if (r < 0) fallBackToLocal("lost the session bus (" + errorText(r) + ")");
    while (!incoming_.empty() && mode_ != Mode::Closed) {
      Notification notification = std::move(incoming_.front());
      incoming_.pop_front();
      registry_.dispatch(notification);
    }
    if (mode_ != Mode::Bus) return;
    if (r > 0) {
      // More may be waiting: come back after the loop has served everything else once.
      schedulePump();
    } else {
      arm();
    }
  }

  // Waits on the run loop for what sd-bus asks for next: input, output, or its timeout.
  void arm() {
    const int events = sd_bus_get_events(bus_);
    if (events < 0) {
      fallBackToLocal("lost the session bus (" + errorText(events) + ")");
      return;
    }
    auto weak = weak_from_this();
    if ((events & POLLIN) && !readArmed_) {
      readArmed_ = true;
      descriptor_->async_wait(stream_descriptor::wait_read,
                              [weak](const boost::system::error_code& error) {
                                auto self = weak.lock();
                                if (!self) return;
                                self->readArmed_ = false;
                                if (!error) self->pump();
                              });
    }
    if ((events & POLLOUT) && !writeArmed_) {
      writeArmed_ = true;
      descriptor_->async_wait(stream_descriptor::wait_write,
                              [weak](const boost::system::error_code& error) {
                                auto self = weak.lock();
                                if (!self) return;
                                self->writeArmed_ = false;
                                if (!error) self->pump();
                              });
    }
    std::uint64_t usec = 0;
    if (sd_bus_get_timeout(bus_, &usec) >= 0 && usec != UINT64_MAX) {
      // sd-bus answers in CLOCK_MONOTONIC, which is steady_clock's clock on Linux.
      timer_.expires_at(std::chrono::steady_clock::time_point(std::chrono::microseconds(usec)));
      timer_.async_wait([weak](const boost::system::error_code& error) {
        if (error) return;
        if (auto self = weak.lock()) self->pump();
      });
    }
  }

  void deliverLocally(Notification notification) {
    if (mode_ == Mode::Closed) return;
    runLoop_.post([weak = weak_from_this(), notification = std::move(notification)] {
      auto self = weak.lock();
      if (self && self->mode_ != Mode::Closed) self->registry_.dispatch(notification);
    });
  }

  void fallBackToLocal(const std::string& reason) {
    if (mode_ == Mode::Bus) releaseConnection(Flush::No);
    if (mode_ != Mode::Closed) mode_ = Mode::Local;
    warnLocalOnly(reason);
  }

  void warnLocalOnly(const std::string& reason) {
    if (warned_) return;
    warned_ = true;
    NSLog("Distributed notifications: " + reason +
          "; notifications reach observers in this process only, other processes won't hear "
          "them");
  }

  void releaseConnection(Flush flush) {
    sd_bus_message_unref(lastSeen_);
    lastSeen_ = nullptr;
    if (getpid() != ownerPid_) {
      // A forked child shares the parent's socket and, through Asio, its epoll set: closing or
      // deregistering anything here would break the parent. Leave it all untouched.
      (void)descriptor_.release();
      bus_ = nullptr;
      nameMatches_.clear();
      anyMatch_ = Match{};
      observerMatches_.clear();
      return;
    }
    forgetOpenConnection(bus_);
    timer_.cancel();
    if (descriptor_) {
      // Deregister from the run loop before sd-bus closes the descriptor.
      (void)descriptor_->release();
      descriptor_.reset();
    }
    if (flush == Flush::Yes) sd_bus_flush(bus_);
    // Closed first, so that dropping the match slots does not queue RemoveMatch calls.
    sd_bus_close(bus_);
    for (auto& [name, match] : nameMatches_) sd_bus_slot_unref(match.slot);
    nameMatches_.clear();
    sd_bus_slot_unref(anyMatch_.slot);
    anyMatch_ = Match{};
    observerMatches_.clear();
    sd_bus_unref(bus_);
    bus_ = nullptr;
  }

  RunLoop& runLoop_;
  ObserverRegistry registry_;
  NotificationCounters counters_;
  Mode mode_ = Mode::Unopened;
  pid_t ownerPid_ = 0;
  sd_bus* bus_ = nullptr;
  std::unique_ptr<stream_descriptor> descriptor_;
  boost::asio::steady_timer timer_;
  bool readArmed_ = false;
  bool writeArmed_ = false;
  bool pumpScheduled_ = false;
  bool pumping_ = false;
  bool warned_ = false;
  bool loggedDrop_ = false;
  std::map<std::string, Match, std::less<>> nameMatches_;
  Match anyMatch_;
  std::map<std::uint64_t, std::optional<std::string>> observerMatches_;  // nullopt: any-name rule
  std::deque<Notification> incoming_;
  sd_bus_message* lastSeen_ = nullptr;
};

class DistributedNotificationCenter final : public NotificationCenter {
 public:
  explicit DistributedNotificationCenter(RunLoop& runLoop)
      : center_(std::make_shared<BusCenter>(runLoop)) {}
  ~DistributedNotificationCenter() override { center_->close(); }

  void postNotification(const std::string& name, const std::optional<std::string>& object,
                        const Value& userInfo) override {
    center_->post(name, object, userInfo);
  }
  ObserverToken addObserver(std::optional<std::string> name, std::optional<std::string> object,
                            NotificationHandler handler) override {
    return center_->addObserver(std::move(name), std::move(object), std::move(handler));
  }
  void flush() override { center_->flush(); }
  NotificationCounters counters() const override { return center_->counters(); }

 private:
  const std::shared_ptr<BusCenter> center_;
};

}  // namespace

std::unique_ptr<NotificationCenter> newDistributedNotificationCenter(RunLoop& runLoop) {
  return std::make_unique<DistributedNotificationCenter>(runLoop);
}

}  // namespace platform
