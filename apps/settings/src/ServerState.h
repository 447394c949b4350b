// What the web server's connections share: the controller, the limits, and the open
// connections with what the connection cap needs to know of each. The connections' part is
// the network thread's; the publishing part is the pages' thread's.
#pragma once

#include <atomic>
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "WebServer.h"

namespace settingsapp {

inline constexpr std::string_view kServerName = "halvex-settings";
// While other processes keep changing the page (a flood of notifications), a snapshot per
// turn of the loop would crowd out page loads; pushes are spaced by this much instead.
inline constexpr std::chrono::milliseconds kPublishInterval{50};

// {"type":"error","reason":"..."} with `reason` made valid UTF-8 and safe inside a string.
std::string errorJson(std::string_view reason);

// One open connection, as the connection cap sees it.
class ServerConnection {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~ServerConnection() = default;

  // Closes the socket at once; pending operations end with an error. Idempotent.
  virtual void close() = 0;
  // True while the connection waits on its peer (for a request, a frame or a pong) rather
  // than on this server; only such a connection may be closed to make room for another.
  virtual bool idle() const = 0;

  bool isOpen() const { return open_; }
  // When the peer last sent something complete: a request, a message or a pong.
  Clock::time_point lastActivity() const { return lastActivity_; }

 protected:
  void touch() { lastActivity_ = Clock::now(); }
  void markClosed() { open_ = false; }

 private:
  Clock::time_point lastActivity_ = Clock::now();
  bool open_ = true;
};

class HttpSession;
class WebSocketSession;

struct WebServer::State : std::enable_shared_from_this<WebServer::State> {
  State(boost::asio::io_context& context, boost::asio::any_io_executor pages,
        SettingsController& controller, ServerLimits limits)
      : context(context),
        pages(std::move(pages)),
        controller(controller),
        limits(limits),
        acceptor(context),
        retry(context),
        publishTimer(this->pages) {}

  boost::asio::io_context& context;  // the network's
  const boost::asio::any_io_executor pages;
  SettingsController& controller;
  const ServerLimits limits;
  boost::asio::ip::tcp::acceptor acceptor;
  boost::asio::steady_timer retry;  // backs off after a failed accept (out of descriptors)
  std::uint16_t port = 0;
  std::atomic<bool> closed{false};
  std::vector<std::weak_ptr<HttpSession>> httpSessions;
  std::vector<std::weak_ptr<WebSocketSession>> webSockets;

  // The pages' thread's part.
  boost::asio::steady_timer publishTimer;  // the deferred push of a throttled publish
  std::chrono::steady_clock::time_point nextPublish;
  bool publishDeferred = false;
  std::uint64_t pushedVersion = 0;  // the last version handed to the network to push

  // On the pages' thread: refreshes the controller and has every WebSocket that is behind
  // sent the page. A new snapshot is taken at most once per kPublishInterval: a change within
  // the interval after the last one is deferred to its end, so the last change always goes
  // out; a call that finds no change starts no interval. Replies to actions refresh on their
  // own.
  void publish();
  // On the network's thread: sends every WebSocket that is behind what it has not seen.
  void pushToWebSockets();
  // On the network's thread: stops accepting and closes every connection.
  void closeNow();

  // Runs `work` on the pages' thread, then `answer` with its result on the network's, unless
  // the server closed meanwhile. `work` must not throw. The answer goes out ahead of the push
  // of what the work changed, so that an action's own reply carries its change.
  template <class Work, class Answer>
  void onPages(Work work, Answer answer) {
    boost::asio::post(pages, [self = shared_from_this(), work = std::move(work),
                              answer = std::move(answer)]() mutable {
      auto result = work();
      boost::asio::post(self->context,
                        [self, result = std::move(result), answer = std::move(answer)]() mutable {
                          if (!self->closed) answer(std::move(result));
                        });
      self->publish();
    });
  }
  // Open HTTP connections and open WebSockets.
  std::size_t openHttpSessions();
  std::size_t openWebSockets();
  // Closes the idle connection among `among` whose peer has been quiet longest. Returns false
  // when none of them is idle.
  enum class Among { WebSockets, AllConnections };
  bool closeIdlest(Among among);
};

}  // namespace settingsapp
