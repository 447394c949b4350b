#include "HttpSession.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <boost/range/iterator_range.hpp>
#include <charconv>
#include <chrono>

#include "RequestGuard.h"
#include "WebAssets.h"
#include "WebSocketSession.h"

namespace settingsapp {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;
using tcp = boost::asio::ip::tcp;

namespace {

// How much one read of a quiet connection takes in.
constexpr std::size_t kReadChunk = 4096;

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

HttpSession::HttpSession(tcp::socket socket, std::shared_ptr<WebServer::State> state)
    : stream_(std::move(socket)), state_(std::move(state)) {}

void HttpSession::start() {
  state_->httpSessions.push_back(weak_from_this());
  read();
}

void HttpSession::close() {
  markClosed();
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
  stream_.close();
}

void HttpSession::read() {
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(state_->limits.maxHeaderBytes));
  parser_->body_limit(state_->limits.maxBodyBytes);
  if (buffer_.size() > 0) {
    readRequest();  // the next request has begun already
    return;
  }
  // Waiting for the next request has its own limit; once it begins, it has the request
  // timeout to arrive whole.
  stream_.expires_after(state_->limits.idleTimeout);
  stream_.async_read_some(
      buffer_.prepare(kReadChunk),
      [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
        self->buffer_.commit(bytes);
        if (error) {
          self->onRead(error == beast::error::timeout ? error : http::error::end_of_stream);
          return;
        }
        self->readRequest();
      });
}

void HttpSession::readRequest() {
  stream_.expires_after(state_->limits.requestTimeout);
  http::async_read(
      stream_, buffer_, *parser_,
      [self = shared_from_this()](beast::error_code error, std::size_t) { self->onRead(error); });
}

void HttpSession::onRead(beast::error_code error) {
  if (state_->closed || !isOpen()) return;
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
  touch();
  handle(parser_->release());
}

void HttpSession::upgrade(http::request<http::string_body> request) {
  // WebSockets stay below their own cap, so that the rest is always there for page loads; a
  // new one takes the place of the one whose peer has been quiet longest.
  if (state_->openWebSockets() >= state_->limits.maxWebSockets &&
      !state_->closeIdlest(WebServer::State::Among::WebSockets)) {
    respondError(503, "too many open WebSockets", false, Close::Yes, request.version());
    return;
  }
  markClosed();
  // The bytes read past the request are the WebSocket's first frames.
  auto socket =
      std::make_shared<WebSocketSession>(stream_.release_socket(), buffer_.data(), state_);
  buffer_.consume(buffer_.size());
  socket->start(std::move(request));
}

void HttpSession::handle(http::request<http::string_body> request) {
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
  // Several Transfer-Encoding fields make one list, in order.
  std::string transferEncoding;
  for (const auto& field :
       boost::make_iterator_range(request.equal_range(http::field::transfer_encoding))) {
    if (!transferEncoding.empty()) transferEncoding += ',';
    transferEncoding += field.value();
  }
  facts.transferEncoding = transferEncoding;
  facts.hasTransferEncoding = request.count(http::field::transfer_encoding) > 0;
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
    upgrade(std::move(request));
    return;
  }

  const http::verb method = request.method();
  if (method == http::verb::post) {
    if (target.path != "/api/action") {
      respondError(target.path == "/api/page" ? 405 : 404, "no action at this path", false,
                   closeAfter, version);
      return;
    }
    // The connection reads no further request until this one is answered.
    waiting_ = true;
    state_->onPages(
        [state = state_, text = std::move(request.body())] {
          return state->controller.perform(text);
        },
        [self = shared_from_this(), closeAfter, version](SettingsController::ActionResult result) {
          self->waiting_ = false;
          SettingsController::Reply reply = self->state_->controller.reply(result, std::nullopt);
          self->respond(reply.status, "application/json", std::move(reply.body), false, closeAfter,
                        version, "no-store");
        });
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
    // The whole page the pages' thread last published: it refreshes after every turn of its
    // loop, and may be busy (a write waiting for the store's lock) without keeping this client
    // waiting, unless rows of the page are still to be read.
    if (auto whole = state_->controller.wholePageMessage()) {
      respond(200, "application/json", std::move(*whole), head, closeAfter, version, "no-store");
      return;
    }
    // Rows of the page not read yet are read on the pages' thread first.
    waiting_ = true;
    state_->onPages([state = state_] { return state->controller.wholePageNow(); },
                    [self = shared_from_this(), head, closeAfter, version](std::string message) {
                      self->waiting_ = false;
                      self->respond(200, "application/json", std::move(message), head, closeAfter,
                                    version, "no-store");
                    });
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
    std::string key(
        target.path.substr(kImage.size(), target.path.size() - kImage.size() - kPng.size()));
    waiting_ = true;
    state_->onPages(
        [state = state_, key] { return state->controller.imagePng(key); },
        [self = shared_from_this(), head, closeAfter, version](std::optional<std::string> png) {
          self->waiting_ = false;
          if (!png) {
            self->respondError(404, "no such image", head, closeAfter, version);
            return;
          }
          self->respond(200, "image/png", std::move(*png), head, closeAfter, version,
                        "private, max-age=31536000, immutable");
        });
    return;
  }
  if (target.path.starts_with(kFooter) && target.path.ends_with(kPng)) {
    std::string_view number =
        target.path.substr(kFooter.size(), target.path.size() - kFooter.size() - kPng.size());
    std::size_t section = 0;
    auto [end, parseError] = std::from_chars(number.data(), number.data() + number.size(), section);
    double width = 375;
    if (auto w = queryValue(target.query, "w")) {
      double parsed = 0;
      auto [wEnd, wError] = std::from_chars(w->data(), w->data() + w->size(), parsed);
      if (wError == std::errc() && wEnd == w->data() + w->size()) width = parsed;
    }
    const Appearance appearance =
        queryValue(target.query, "appearance") == "dark" ? Appearance::Dark : Appearance::Light;
    if (parseError != std::errc() || end != number.data() + number.size() || number.empty()) {
      respondError(404, "no footer view in that section", head, closeAfter, version);
      return;
    }
    waiting_ = true;
    state_->onPages(
        [state = state_, section, width, appearance] {
          return state->controller.footerPng(section, width, appearance);
        },
        [self = shared_from_this(), head, closeAfter, version](std::optional<std::string> png) {
          self->waiting_ = false;
          if (!png) {
            self->respondError(404, "no footer view in that section", head, closeAfter, version);
            return;
          }
          self->respond(200, "image/png", std::move(*png), head, closeAfter, version, "no-cache");
        });
    return;
  }
  respondError(404, "not found", head, closeAfter, version);
}

void HttpSession::respondError(int status, std::string_view reason, bool head, Close closeAfter,
                               unsigned version) {
  respond(status, "application/json", errorJson(reason), head, closeAfter, version, "no-store");
}

void HttpSession::respond(int status, std::string_view contentType, std::string body, bool head,
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
  writing_ = true;
  stream_.expires_after(state_->limits.requestTimeout);
  http::async_write(stream_, *response,
                    [self = shared_from_this(), response](beast::error_code error, std::size_t) {
                      self->writing_ = false;
                      if (error) {
                        self->close();
                      } else if (!response->keep_alive()) {
                        self->lingerThenClose();
                      } else {
                        self->read();
                      }
                    });
}

// Closing a socket that still holds unread bytes (the rest of a refused body) resets the
// connection, and the peer may lose the response before reading it. So stop sending, then
// read and drop what still comes for a moment before closing.
void HttpSession::lingerThenClose() {
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  stream_.expires_after(std::chrono::seconds(2));
  drain();
}

void HttpSession::drain() {
  stream_.async_read_some(asio::buffer(discard_),
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            if (error || self->state_->closed) {
                              self->close();
                              return;
                            }
                            self->drain();
                          });
}

}  // namespace settingsapp
