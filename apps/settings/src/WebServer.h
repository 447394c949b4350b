// The HTTP and WebSocket server of the Settings application (Boost.Beast) on 127.0.0.1. It
// serves the page, the page's images and the controller's messages, and pushes each new
// page to every open WebSocket. Every request passes the request guard first. Every wait on
// a peer is bounded (ServerLimits), and quiet peers cannot lock out a new one.
//
// Threads: the connections live on the network's io_context, run by one thread. The
// controller's pages are touched only through the pages' executor (one thread too, the main
// run loop): actions, images and footers go there and their answers come back, while page
// loads and pushes are answered from what the controller last published, so no connection
// waits for a page that is busy (a write waiting on the store's lock). Both may be one
// io_context run by one thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/io_context.hpp>

#include "SettingsController.h"

namespace settingsapp {

struct ServerLimits {
  // HTTP and WebSocket together. At the cap a new connection takes the place of the one whose
  // peer has been quiet longest; only when every connection is busy does it get a 503.
  std::size_t maxConnections = 64;
  // WebSockets alone, kept below maxConnections so that page loads always find room; a new
  // WebSocket at this cap takes the place of the one quiet longest.
  std::size_t maxWebSockets = 48;
  std::size_t maxHeaderBytes = 16 * 1024;
  std::size_t maxBodyBytes = kMaxActionBytes;
  std::size_t maxQueuedMessages = 64;  // a WebSocket that falls this far behind is closed
  // An HTTP connection waiting this long for its next request is closed.
  std::chrono::milliseconds idleTimeout{15'000};
  // Once a request has begun it must arrive whole within this time, and its answer must be
  // taken in within it too; it also bounds the WebSocket opening handshake.
  std::chrono::milliseconds requestTimeout{10'000};
  // A WebSocket that hears nothing for half this time is pinged, and closed when the whole
  // time passes without a frame or a pong. A browser answers pings by itself.
  std::chrono::milliseconds webSocketIdleTimeout{30'000};
};

class WebServer {
 public:
  // `controller` must outlive the server, and `network` and `pages` must run while it serves.
  WebServer(boost::asio::io_context& network, boost::asio::any_io_executor pages,
            SettingsController& controller, ServerLimits limits = {});
  // Connections and pages on one io_context.
  WebServer(boost::asio::io_context& context, SettingsController& controller,
            ServerLimits limits = {});
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Listens on 127.0.0.1:`port` (0 = a free port the system picks). Returns an empty string
  // on success, else why it could not.
  std::string listen(std::uint16_t port);
  // The port listened on; 0 before listen() succeeded.
  std::uint16_t port() const;
  // "http://127.0.0.1:PORT/"
  std::string url() const;

  // On the pages' thread: refreshes the controller and sends the page to every WebSocket that
  // has not seen this version yet. The program calls it after each run-loop dispatch.
  void publishIfChanged();

  // Any thread: stops accepting and closes every connection (on the network's thread; at
  // once when called there). Idempotent.
  void close();

  // On the network's thread: open connections (HTTP and WebSocket), for tests and the
  // connection limit.
  std::size_t connectionCount() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace settingsapp
