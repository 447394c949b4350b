#include "WebServer.h"

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <charconv>
#include <deque>
#include <optional>
#include <vector>

#include "RequestGuard.h"
#include "WebAssets.h"

namespace settingsapp {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;
using tcp = boost::asio::ip::tcp;

class HttpSession;
class WebSocketSession;

struct WebServer::State {
  State(asio::io_context& context, SettingsController& controller, ServerLimits limits)
      : context(context),
        controller(controller),
        limits(limits),
        acceptor(context),
        retry(context) {}

  asio::io_context& context;
  SettingsController& controller;
  const ServerLimits limits;
  tcp::acceptor acceptor;
  asio::steady_timer retry;  // backs off after a failed accept (out of descriptors)
  std::uint16_t port = 0;
  std::size_t connections = 0;
  bool closed = false;
  std::vector<std::weak_ptr<HttpSession>> httpSessions;
  std::vector<std::weak_ptr<WebSocketSession>> webSockets;

  void publish();
};

namespace {

constexpr std::string_view kServerName = "halvex-settings";

std::string errorJson(std::string_view reason) {
  std::string body = "{\"type\":\"error\",\"reason\":\"";
  for (char c : validUtf8(reason)) {
    if (c == '"' || c == '\\') body += '\\';
    if (static_cast<unsigned char>(c) < 0x20) continue;
    body += c;
  }
  body += "\"}";
  return body;
}

template <class T>
void pruneExpired(std::vector<std::weak_ptr<T>>& list) {
  std::erase_if(list, [](const std::weak_ptr<T>& entry) { return entry.expired(); });
}

struct Target {
  std::string_view path;
  std::string_view query;
};

Target splitTarget(std::string_view target) {
  auto question = target.find('?');
  if (question == std::string_view::npos) return {target, {}};
  return {target.substr(0, question), target.substr(question + 1)};
}

std::optional<std::string_view> queryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    auto amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=') {
      return pair.substr(name.size() + 1);
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

}  // namespace

class WebSocketSession : public std::enable_shared_from_this<WebSocketSession> {
 public:
  WebSocketSession(tcp::socket socket, std::shared_ptr<WebServer::State> state)
      : ws_(std::move(socket)), state_(std::move(state)) {
    ++state_->connections;
  }
  ~WebSocketSession() { --state_->connections; }

  void start(http::request<http::string_body> request) {
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
      response.set(http::field::server, kServerName);
    }));
    ws_.read_message_max(state_->limits.maxBodyBytes);
    beast::get_lowest_layer(ws_).expires_never();
    ws_.async_accept(
        request, [self = shared_from_this()](beast::error_code error) { self->onAccept(error); });
  }

  // Sends what changed since the version this socket has seen (the whole page to a new one).
  void sendPageIfBehind() {
    if (!open_ || sentVersion_ >= state_->controller.version()) return;
    send(state_->controller.updateMessage(sentVersion_), CarriesPage::Yes);
  }

  void close() {
    open_ = false;
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

 private:
  void onAccept(beast::error_code error) {
    if (error || state_->closed) return;
    open_ = true;
    state_->webSockets.push_back(weak_from_this());
    sendPageIfBehind();
    read();
  }

  void read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, std::size_t) {
      self->onRead(error);
    });
  }

  void onRead(beast::error_code error) {
    if (error) {
      // A closed socket, a timeout, or a message above the limit (Beast closes with 1009).
      open_ = false;
      return;
    }
    if (!ws_.got_text()) {
      send(errorJson("send actions as JSON text"), CarriesPage::No);
    } else {
      std::string text = beast::buffers_to_string(buffer_.data());
      SettingsController::Reply reply = state_->controller.handleActionFrom(text, sentVersion_);
      send(std::move(reply.body), CarriesPage::Yes);
    }
    buffer_.consume(buffer_.size());
    state_->publish();
    if (open_) read();
  }

  enum class CarriesPage { No, Yes };

  void send(std::string message, CarriesPage carriesPage) {
    if (!open_) return;
    // Replies to actions and pushes carry the current page: the socket has seen this version.
    if (carriesPage == CarriesPage::Yes) sentVersion_ = state_->controller.version();
    if (queue_.size() >= state_->limits.maxQueuedMessages) {
      close();  // a reader this slow would make the server hold every page it missed
      return;
    }
    queue_.push_back(std::move(message));
    if (queue_.size() == 1) write();
  }

  void write() {
    ws_.text(true);
    ws_.async_write(asio::buffer(queue_.front()),
                    [self = shared_from_this()](beast::error_code error, std::size_t) {
                      if (error) {
                        self->open_ = false;
                        self->queue_.clear();
                        return;
                      }
                      self->queue_.pop_front();
                      if (!self->queue_.empty()) self->write();
                    });
  }

  websocket::stream<beast::tcp_stream> ws_;
  std::shared_ptr<WebServer::State> state_;
  beast::flat_buffer buffer_;
  std::deque<std::string> queue_;
  std::uint64_t sentVersion_ = 0;
  bool open_ = false;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket socket, std::shared_ptr<WebServer::State> state)
      : stream_(std::move(socket)), state_(std::move(state)) {
    ++state_->connections;
  }
  ~HttpSession() { --state_->connections; }

  void start() {
    state_->httpSessions.push_back(weak_from_this());
    read();
  }

  void close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
  }

 private:
  // Closing a socket that still holds unread bytes (the rest of a refused body) resets the
  // connection, and the peer may lose the response before reading it. So stop sending, then
  // read and drop what still comes for a moment before closing.
  void lingerThenClose() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(std::chrono::seconds(2));
    drain();
  }

  void drain() {
    stream_.async_read_some(asio::buffer(discard_),
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                              if (error || self->state_->closed) {
                                self->close();
                                return;
                              }
                              self->drain();
                            });
  }

  void read() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(state_->limits.maxHeaderBytes));
    parser_->body_limit(state_->limits.maxBodyBytes);
    stream_.expires_after(state_->limits.idleTimeout);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code error, std::size_t) { self->onRead(error); });
  }

  void onRead(beast::error_code error) {
    if (state_->closed) return;
    if (error == http::error::end_of_stream || error == beast::error::timeout) {
      close();
      return;
    }
    if (error == http::error::body_limit) {
      respondError(
          400, "request body larger than " + std::to_string(state_->limits.maxBodyBytes) + " bytes",
          false, Close::Yes);
      return;
    }
    if (error == http::error::header_limit) {
      respondError(431, "request header fields too large", false, Close::Yes);
      return;
    }
    if (error) {
      if (error.category() == http::make_error_code(http::error::bad_method).category()) {
        respondError(400, "malformed HTTP request", false, Close::Yes);
      } else {
        close();
      }
      return;
    }
    handle(parser_->release());
  }

  enum class Close { No, Yes };

  void handle(http::request<http::string_body> request) {
    RequestFacts facts;
    facts.method = request.method_string();
    facts.host = request[http::field::host];
    if (auto origin = request.find(http::field::origin); origin != request.end()) {
      facts.hasOrigin = true;
      facts.origin = origin->value();
    }
    facts.secFetchSite = request["Sec-Fetch-Site"];
    facts.contentType = request[http::field::content_type];
    facts.websocketUpgrade = websocket::is_upgrade(request);
    const bool head = request.method() == http::verb::head;
    const unsigned version = request.version();
    const bool keepAlive = request.keep_alive();
    const Close closeAfter = keepAlive ? Close::No : Close::Yes;
    host_ = std::string(facts.host);

    if (auto refusal = checkRequest(facts, state_->port)) {
      respondError(refusal->status, refusal->reason, head, Close::Yes, version);
      return;
    }
    const Target target = splitTarget(request.target());
    if (facts.websocketUpgrade) {
      if (target.path != "/ws") {
        respondError(404, "no WebSocket at this path", head, Close::Yes, version);
        return;
      }
      auto socket = std::make_shared<WebSocketSession>(stream_.release_socket(), state_);
      socket->start(std::move(request));
      return;
    }

    const http::verb method = request.method();
    if (method == http::verb::post) {
      if (target.path != "/api/action") {
        respondError(target.path == "/api/page" ? 405 : 404, "no action at this path", false,
                     closeAfter, version);
        return;
      }
      SettingsController::Reply reply = state_->controller.handleAction(request.body());
      respond(reply.status, "application/json", std::move(reply.body), false, closeAfter, version,
              "no-store");
      state_->publish();
      return;
    }
    if (method != http::verb::get && method != http::verb::head) {
      respondError(405, "method not allowed", head, closeAfter, version);
      return;
    }

    if (target.path == "/favicon.ico") {
      respond(204, "image/x-icon", {}, head, closeAfter, version, "max-age=86400");
      return;
    }
    if (target.path == "/api/page") {
      state_->controller.refresh();
      respond(200, "application/json", state_->controller.pageMessage(), head, closeAfter, version,
              "no-store");
      return;
    }
    if (const WebAsset* asset = findWebAsset(target.path)) {
      respond(200, asset->contentType, std::string(asset->body), head, closeAfter, version,
              "no-cache");
      return;
    }
    constexpr std::string_view kImage = "/image/";
    constexpr std::string_view kFooter = "/footer/";
    constexpr std::string_view kPng = ".png";
    if (target.path.starts_with(kImage) && target.path.ends_with(kPng)) {
      std::string_view key =
          target.path.substr(kImage.size(), target.path.size() - kImage.size() - kPng.size());
      if (auto png = state_->controller.imagePng(key)) {
        respond(200, "image/png", std::move(*png), head, closeAfter, version,
                "private, max-age=31536000, immutable");
        return;
      }
      respondError(404, "no such image", head, closeAfter, version);
      return;
    }
    if (target.path.starts_with(kFooter) && target.path.ends_with(kPng)) {
      std::string_view number =
          target.path.substr(kFooter.size(), target.path.size() - kFooter.size() - kPng.size());
      std::size_t section = 0;
      auto [end, parseError] =
          std::from_chars(number.data(), number.data() + number.size(), section);
      double width = 375;
      if (auto w = queryValue(target.query, "w")) {
        double parsed = 0;
        auto [wEnd, wError] = std::from_chars(w->data(), w->data() + w->size(), parsed);
        if (wError == std::errc() && wEnd == w->data() + w->size()) width = parsed;
      }
      if (parseError == std::errc() && end == number.data() + number.size() && !number.empty()) {
        if (auto png = state_->controller.footerPng(section, width)) {
          respond(200, "image/png", std::move(*png), head, closeAfter, version, "no-cache");
          return;
        }
      }
      respondError(404, "no footer view in that section", head, closeAfter, version);
      return;
    }
    respondError(404, "not found", head, closeAfter, version);
  }

  void respondError(int status, std::string_view reason, bool head, Close closeAfter,
                    unsigned version = 11) {
    respond(status, "application/json", errorJson(reason), head, closeAfter, version, "no-store");
  }

  void respond(int status, std::string_view contentType, std::string body, bool head,
               Close closeAfter, unsigned version, std::string_view cacheControl) {
    auto response = std::make_shared<http::response<http::string_body>>(
        static_cast<http::status>(status), version);
    response->set(http::field::server, kServerName);
    response->set(http::field::content_type, contentType);
    response->set(http::field::cache_control, cacheControl);
    response->set("X-Content-Type-Options", "nosniff");
    response->set("X-Frame-Options", "DENY");
    response->set("Referrer-Policy", "no-referrer");
    response->set("Cross-Origin-Resource-Policy", "same-origin");
    if (contentType.starts_with("text/html")) {
      // The Host was checked above, so it can name the WebSocket endpoint.
      response->set("Content-Security-Policy",
                    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                    "connect-src 'self' ws://" +
                        host_ + "; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    }
    const std::size_t length = body.size();
    if (!head) response->body() = std::move(body);
    if (status != 204) response->content_length(length);
    response->keep_alive(closeAfter == Close::No);
    http::async_write(stream_, *response,
                      [self = shared_from_this(), response](beast::error_code error, std::size_t) {
                        if (error) {
                          self->close();
                        } else if (!response->keep_alive()) {
                          self->lingerThenClose();
                        } else {
                          self->read();
                        }
                      });
  }

  beast::tcp_stream stream_;
  std::shared_ptr<WebServer::State> state_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::string host_;
  std::array<char, 4096> discard_{};
};

void WebServer::State::publish() {
  controller.refresh();
  pruneExpired(webSockets);
  for (auto& entry : std::vector<std::weak_ptr<WebSocketSession>>(webSockets)) {
    if (auto socket = entry.lock()) socket->sendPageIfBehind();
  }
}

namespace {

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
    if (state->connections >= state->limits.maxConnections) {
      rejectBusy(std::move(socket));
    } else {
      pruneExpired(state->httpSessions);
      std::make_shared<HttpSession>(std::move(socket), state)->start();
    }
    accept(state);
  });
}

}  // namespace

WebServer::WebServer(asio::io_context& context, SettingsController& controller, ServerLimits limits)
    : state_(std::make_shared<State>(context, controller, limits)) {}

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
  state_->closed = true;
  beast::error_code ignored;
  state_->acceptor.close(ignored);
  state_->retry.cancel();
  for (auto& entry : state_->httpSessions) {
    if (auto session = entry.lock()) session->close();
  }
  for (auto& entry : state_->webSockets) {
    if (auto socket = entry.lock()) socket->close();
  }
}

std::size_t WebServer::connectionCount() const {
  return state_->connections;
}

}  // namespace settingsapp
