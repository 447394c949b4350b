#include "WebServer.h"

#include <algorithm>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/error.hpp>
#include <chrono>

#include "HttpSession.h"
#include "ServerState.h"
#include "WebSocketSession.h"
#include "platform/foundation/Utf8.h"

namespace settingsapp {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = boost::asio::ip::tcp;

std::string errorJson(std::string_view reason) {
  std::string body = "{\"type\":\"error\",\"reason\":\"";
  for (char c : platform::toValidUtf8(reason)) {
    if (c == '"' || c == '\\') body += '\\';
    if (static_cast<unsigned char>(c) < 0x20) continue;
    body += c;
  }
  body += "\"}";
  return body;
}

namespace {

template <class T>
void pruneClosed(std::vector<std::weak_ptr<T>>& list) {
  std::erase_if(list, [](const std::weak_ptr<T>& entry) {
    auto connection = entry.lock();
    return !connection || !connection->isOpen();
  });
}

// The idle connection of `list` whose peer has been quiet longest, if any.
template <class T>
std::shared_ptr<ServerConnection> idlest(const std::vector<std::weak_ptr<T>>& list,
                                         std::shared_ptr<ServerConnection> best) {
  for (const auto& entry : list) {
    auto connection = entry.lock();
    if (!connection || !connection->isOpen() || !connection->idle()) continue;
    if (!best || connection->lastActivity() < best->lastActivity()) best = connection;
  }
  return best;
}

void rejectBusy(tcp::socket socket) {
  static const std::string kBusy = [] {
    const std::string body = errorJson("too many open connections");
    return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  }();
  auto held = std::make_shared<tcp::socket>(std::move(socket));
  asio::async_write(*held, asio::buffer(kBusy), [held](beast::error_code, std::size_t) {
    beast::error_code ignored;
    held->shutdown(tcp::socket::shutdown_both, ignored);
    held->close(ignored);
  });
}

void accept(const std::shared_ptr<WebServer::State>& state) {
  state->acceptor.async_accept([state](beast::error_code error, tcp::socket socket) {
    if (state->closed) return;
    if (error) {
      // Out of descriptors or a transient failure: try again shortly instead of spinning.
      state->retry.expires_after(std::chrono::milliseconds(100));
      state->retry.async_wait([state](beast::error_code waitError) {
        if (!waitError && !state->closed) accept(state);
      });
      return;
    }
    // At the cap, a connection whose peer sits quiet gives way to the newcomer, so that
    // idle sockets can never lock a page load out.
    const bool full =
        state->openHttpSessions() + state->openWebSockets() >= state->limits.maxConnections;
    // Each message is small and wanted at once: without this, one written while the last is
    // still unacknowledged waits for the browser's delayed acknowledgement.
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    if (full && !state->closeIdlest(WebServer::State::Among::AllConnections)) {
      rejectBusy(std::move(socket));
    } else {
      std::make_shared<HttpSession>(std::move(socket), state)->start();
    }
    accept(state);
  });
}

}  // namespace

void WebServer::State::publish() {
  if (closed) return;
  // Only a snapshot starts an interval: a turn of the loop that changed nothing (one that read
  // a bus message whose dispatch comes on the next turn, say) must not hold back the change
  // that follows it.
  if (controller.hasUnseenChanges()) {
    const auto now = std::chrono::steady_clock::now();
    if (now < nextPublish) {
      if (publishDeferred) return;
      publishDeferred = true;
      publishTimer.expires_at(nextPublish);
      publishTimer.async_wait([weak = weak_from_this()](beast::error_code error) {
        auto self = weak.lock();
        if (!self) return;
        self->publishDeferred = false;
        if (!error) self->publish();
      });
      return;
    }
    nextPublish = now + kPublishInterval;
    controller.refresh();
  }
  const std::uint64_t version = controller.version();
  if (version == pushedVersion) return;
  pushedVersion = version;
  asio::post(context, [self = shared_from_this()] { self->pushToWebSockets(); });
}

void WebServer::State::pushToWebSockets() {
  if (closed) return;
  pruneClosed(webSockets);
  for (auto& entry : std::vector<std::weak_ptr<WebSocketSession>>(webSockets)) {
    if (auto socket = entry.lock()) socket->sendPageIfBehind();
  }
}

void WebServer::State::closeNow() {
  if (closed.exchange(true)) return;
  beast::error_code ignored;
  acceptor.close(ignored);
  retry.cancel();
  for (auto& entry : httpSessions) {
    if (auto session = entry.lock()) session->close();
  }
  for (auto& entry : webSockets) {
    if (auto socket = entry.lock()) socket->close();
  }
  asio::post(pages, [self = shared_from_this()] { self->publishTimer.cancel(); });
}

std::size_t WebServer::State::openHttpSessions() {
  pruneClosed(httpSessions);
  return httpSessions.size();
}

std::size_t WebServer::State::openWebSockets() {
  pruneClosed(webSockets);
  return webSockets.size();
}

bool WebServer::State::closeIdlest(Among among) {
  std::shared_ptr<ServerConnection> victim = idlest(webSockets, nullptr);
  if (among == Among::AllConnections) victim = idlest(httpSessions, std::move(victim));
  if (!victim) return false;
  victim->close();
  return true;
}

WebServer::WebServer(asio::io_context& network, asio::any_io_executor pages,
                     SettingsController& controller, ServerLimits limits)
    : state_(std::make_shared<State>(network, std::move(pages), controller, limits)) {}

WebServer::WebServer(asio::io_context& context, SettingsController& controller, ServerLimits limits)
    : WebServer(context, context.get_executor(), controller, limits) {}

WebServer::~WebServer() {
  close();
}

std::string WebServer::listen(std::uint16_t port) {
  beast::error_code error;
  const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
  state_->acceptor.open(endpoint.protocol(), error);
  if (!error) state_->acceptor.set_option(asio::socket_base::reuse_address(true), error);
  if (!error) state_->acceptor.bind(endpoint, error);
  if (!error) state_->acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    beast::error_code ignored;
    state_->acceptor.close(ignored);
    return "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + error.message();
  }
  state_->port = state_->acceptor.local_endpoint().port();
  accept(state_);
  return {};
}

std::uint16_t WebServer::port() const {
  return state_->port;
}

std::string WebServer::url() const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + "/";
}

void WebServer::publishIfChanged() {
  state_->publish();
}

void WebServer::close() {
  if (state_->closed) return;
  if (state_->context.get_executor().running_in_this_thread()) {
    state_->closeNow();
  } else {
    asio::post(state_->context, [state = state_] { state->closeNow(); });
  }
}

std::size_t WebServer::connectionCount() const {
  return state_->openHttpSessions() + state_->openWebSockets();
}

}  // namespace settingsapp
#include "platform/foundation/Utf8.h"
