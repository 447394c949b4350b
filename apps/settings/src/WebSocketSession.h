// One WebSocket of the Settings page: it gets the current page on opening and after every
// change, and carries the page's actions. It pings a quiet peer and closes one that stays
// silent for the server's WebSocket idle timeout. Runs on the network's thread.
#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffered_read_stream.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "ServerState.h"

namespace settingsapp {

class WebSocketSession : public ServerConnection,
                         public std::enable_shared_from_this<WebSocketSession> {
 public:
  // `socket` carries the upgrade request `request`; `early` holds the bytes the peer sent
  // after that request and that were already read (its first frames), copied here.
  WebSocketSession(boost::asio::ip::tcp::socket socket, boost::asio::const_buffer early,
                   std::shared_ptr<WebServer::State> state);

  // Answers the upgrade, then sends the page and reads actions until the peer leaves.
  void start(boost::beast::http::request<boost::beast::http::string_body> request);

  // Sends what changed since the version this socket has seen (the whole page to a new one).
  void sendPageIfBehind();

  void close() override;
  // A socket whose action is still on the pages' thread is not idle: evicted, it would lose the
  // answer (a refusal included) to a change that is made all the same.
  bool idle() const override { return !waiting_; }

 private:
  // Frames that came with the upgrade request are read from the buffer first.
  using Stream =
      boost::beast::buffered_read_stream<boost::beast::tcp_stream, boost::beast::flat_buffer>;

  void onAccept(boost::beast::error_code error);
  void read();
  void onRead(boost::beast::error_code error);
  // Queues `message`; one that carries a page version brings the socket to it.
  void send(std::string message, std::optional<std::uint64_t> carries);
  void write();

  boost::beast::websocket::stream<Stream> ws_;
  std::shared_ptr<WebServer::State> state_;
  boost::beast::flat_buffer buffer_;
  std::deque<std::string> queue_;
  std::uint64_t sentVersion_ = 0;
  bool accepted_ = false;
  bool waiting_ = false;  // an action is on the pages' thread
};

}  // namespace settingsapp
