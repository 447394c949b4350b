// What the web server's connections share: the controller, the limits, and the open
// connections with what the connection cap needs to know of each. Main thread only, like the
// server itself.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
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
  State(boost::asio::io_context& context, SettingsController& controller, ServerLimits limits)
      : context(context),
        controller(controller),
        limits(limits),
        acceptor(context),
        retry(context),
        publishTimer(context) {}

  boost::asio::io_context& context;
  SettingsController& controller;
  const ServerLimits limits;
  boost::asio::ip::tcp::acceptor acceptor;
  boost::asio::steady_timer retry;         // backs off after a failed accept (out of descriptors)
  boost::asio::steady_timer publishTimer;  // the deferred push of a throttled publish
  std::chrono::steady_clock::time_point nextPublish;
  bool publishDeferred = false;
  std::uint16_t port = 0;
  bool closed = false;
  std::vector<std::weak_ptr<HttpSession>> httpSessions;
  std::vector<std::weak_ptr<WebSocketSession>> webSockets;

  // Refreshes the controller and sends the page to every WebSocket that is behind. A new
  // snapshot is taken at most once per kPublishInterval: a change within the interval after
  // the last one is deferred to its end, so the last change always goes out; a call that
  // finds no change starts no interval. Replies to actions and /api/page refresh on their own.
  void publish();
  // Open HTTP connections and open WebSockets.
  std::size_t openHttpSessions();
  std::size_t openWebSockets();
  // Closes the idle connection among `among` whose peer has been quiet longest. Returns false
  // when none of them is idle.
  enum class Among { WebSockets, AllConnections };
  bool closeIdlest(Among among);
};

}  // namespace settingsapp
