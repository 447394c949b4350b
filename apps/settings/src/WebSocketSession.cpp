#include "WebSocketSession.h"

#include <algorithm>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/http/field.hpp>
#include <utility>

namespace boost::beast {

// The closing handshake of a WebSocket tears down the TCP stream under its read buffer.
template <class TeardownHandler>
void async_teardown(role_type role, buffered_read_stream<tcp_stream, flat_buffer>& stream,
                    TeardownHandler&& handler) {
  using websocket::async_teardown;
  async_teardown(role, stream.next_layer(), std::forward<TeardownHandler>(handler));
}

inline void teardown(role_type role, buffered_read_stream<tcp_stream, flat_buffer>& stream,
                     error_code& error) {
  using websocket::teardown;
  teardown(role, stream.next_layer(), error);
}

}  // namespace boost::beast

namespace settingsapp {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;

WebSocketSession::WebSocketSession(asio::ip::tcp::socket socket, asio::const_buffer early,
                                   std::shared_ptr<WebServer::State> state)
    : ws_(std::move(socket)), state_(std::move(state)) {
  // A browser may send its first frame in the same packet as the upgrade request; the HTTP
  // reader has consumed those bytes already, so they are handed on rather than lost.
  beast::flat_buffer& pending = ws_.next_layer().buffer();
  pending.commit(asio::buffer_copy(pending.prepare(early.size()), early));
}

void WebSocketSession::start(http::request<http::string_body> request) {
  const ServerLimits& limits = state_->limits;
  websocket::stream_base::timeout timeout;
  timeout.handshake_timeout = limits.requestTimeout;
  timeout.idle_timeout = limits.webSocketIdleTimeout;
  // A ping goes out when half the idle time has passed in silence; a browser answers it.
  timeout.keep_alive_pings = true;
  ws_.set_option(timeout);
  ws_.set_option(websocket::stream_base::decorator(
      [](websocket::response_type& response) { response.set(http::field::server, kServerName); }));
  ws_.control_callback([this](websocket::frame_type kind, beast::string_view) {
    if (kind == websocket::frame_type::pong) touch();
  });
  ws_.read_message_max(limits.maxBodyBytes);
  beast::get_lowest_layer(ws_).expires_never();
  state_->webSockets.push_back(weak_from_this());
  ws_.async_accept(request,
                   [self = shared_from_this()](beast::error_code error) { self->onAccept(error); });
}

void WebSocketSession::sendPageIfBehind() {
  if (!accepted_ || !isOpen() || sentVersion_ >= state_->controller.version()) return;
  SettingsController::Update update = state_->controller.updateFor(sentVersion_);
  send(std::move(update.message), update.version);
}

void WebSocketSession::close() {
  markClosed();
  beast::error_code ignored;
  beast::get_lowest_layer(ws_).socket().close(ignored);
}

void WebSocketSession::onAccept(beast::error_code error) {
  if (error || state_->closed || !isOpen()) {
    close();
    return;
  }
  accepted_ = true;
  touch();
  sendPageIfBehind();
  read();
}

void WebSocketSession::read() {
  ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, std::size_t) {
    self->onRead(error);
  });
}

void WebSocketSession::onRead(beast::error_code error) {
  if (error) {
    // A closed socket, a timeout, or a message above the limit (Beast closes with 1009).
    markClosed();
    return;
  }
  touch();
  if (!ws_.got_text()) {
    buffer_.consume(buffer_.size());
    send(errorJson("send actions as JSON text"), std::nullopt);
    if (isOpen()) read();
    return;
  }
  // The action runs on the pages' thread; the next one is read when it is answered. The
  // answer brings the socket from the version it has seen by then, pushes meanwhile included.
  std::string text = beast::buffers_to_string(buffer_.data());
  buffer_.consume(buffer_.size());
  waiting_ = true;
  state_->onPages(
      [state = state_, text = std::move(text)] { return state->controller.perform(text); },
      [self = shared_from_this()](SettingsController::ActionResult result) {
        self->waiting_ = false;
        SettingsController::Reply reply =
            self->state_->controller.reply(result, self->sentVersion_);
        self->send(std::move(reply.body), reply.version);
        if (self->isOpen()) self->read();
      });
}

void WebSocketSession::send(std::string message, std::optional<std::uint64_t> carries) {
  if (!isOpen()) return;
  // Replies to actions and pushes bring the socket to the version they carry.
  if (carries) sentVersion_ = std::max(sentVersion_, *carries);
  if (queue_.size() >= state_->limits.maxQueuedMessages) {
    close();  // a reader this slow would make the server hold every page it missed
    return;
  }
  queue_.push_back(std::move(message));
  if (queue_.size() == 1) write();
}

void WebSocketSession::write() {
  ws_.text(true);
  ws_.async_write(asio::buffer(queue_.front()),
                  [self = shared_from_this()](beast::error_code error, std::size_t) {
                    if (error) {
                      self->close();
                      self->queue_.clear();
                      return;
                    }
                    self->queue_.pop_front();
                    if (!self->queue_.empty()) self->write();
                  });
}

}  // namespace settingsapp
