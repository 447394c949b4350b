// One HTTP connection of the Settings server: it reads requests one after another, checks
// each with the request guard, routes it (the page, its assets and images, actions, the
// WebSocket upgrade) and writes the answer. A connection that stays quiet for the idle
// timeout, or takes longer than the request timeout to send a request or to take in an
// answer, is closed. Runs on the network's thread; what needs a page is asked of the pages'
// thread, and the answer written when it comes back.
#pragma once

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ServerState.h"

namespace settingsapp {

class HttpSession : public ServerConnection, public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(boost::asio::ip::tcp::socket socket, std::shared_ptr<WebServer::State> state);

  void start();
  void close() override;
  // Neither writing nor waiting for the pages' thread to answer.
  bool idle() const override { return !writing_ && !waiting_; }

 private:
  enum class Close { No, Yes };

  void read();
  void readRequest();
  void onRead(boost::beast::error_code error);
  void handle(boost::beast::http::request<boost::beast::http::string_body> request);
  void upgrade(boost::beast::http::request<boost::beast::http::string_body> request);
  void respondError(int status, std::string_view reason, bool head, Close closeAfter,
                    unsigned version = 11);
  void respond(int status, std::string_view contentType, std::string body, bool head,
               Close closeAfter, unsigned version, std::string_view cacheControl);
  void lingerThenClose();
  void drain();

  boost::beast::tcp_stream stream_;
  std::shared_ptr<WebServer::State> state_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  std::string host_;
  bool writing_ = false;
  bool waiting_ = false;
  std::array<char, 4096> discard_{};
};

}  // namespace settingsapp
