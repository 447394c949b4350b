#include "WebServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <future>
#include <thread>

#include "StubSession.h"
#include "platform/foundation/Json.h"

namespace settingsapp {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;
using testing::StubSession;

// Runs the server on its own loop thread, as the program's main loop does: one dispatch,
// then a check for a new page. The test thread talks to it over sockets only, and touches
// the session through onServer().
class WebServerTest : public ::testing::Test {
 protected:
  // With `pages`, the pages run on a thread of their own (the program's shape), else on the
  // server's loop.
  void start(ServerLimits limits = {}, asio::io_context* pages = nullptr) {
    controller_ = std::make_unique<SettingsController>(session_);
    server_ =
        pages ? std::make_unique<WebServer>(context_, pages->get_executor(), *controller_, limits)
              : std::make_unique<WebServer>(context_, *controller_, limits);
    ASSERT_EQ(server_->listen(0), "");
    port_ = server_->port();
    separatePages_ = pages != nullptr;
    loop_ = std::thread([this] {
      auto guard = asio::make_work_guard(context_);
      while (!stopping_) {
        context_.run_one_for(std::chrono::milliseconds(20));
        if (!separatePages_) server_->publishIfChanged();
      }
    });
  }

  template <class F>
  auto onServer(F work) {
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    asio::post(context_, [&task] { task(); });
    return result.get();
  }

  void TearDown() override {
    if (!loop_.joinable()) return;
    onServer([this] { server_->close(); });
    stopping_ = true;
    loop_.join();
  }

  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string origin() const { return "http://" + host(); }

  // A TCP connection to the server that the test drives byte by byte; -1 when refused.
  int connectRaw() const {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

  static void sendAll(int fd, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
  }

  // Everything the server sends on `fd` until it closes (or 5 s of silence); closes `fd`.
  static std::string readToEnd(int fd) {
    std::string response;
    char chunk[4096];
    ssize_t n;
    while ((n = ::recv(fd, chunk, sizeof chunk, 0)) > 0)
      response.append(chunk, static_cast<std::size_t>(n));
    ::close(fd);
    return response;
  }

  // Sends `request` as it stands and returns everything the server sends until it closes.
  std::string raw(const std::string& request) const {
    int fd = connectRaw();
    if (fd < 0) return {};
    sendAll(fd, request);
    return readToEnd(fd);
  }

  // Polls `done` on the server's loop until it holds, for at most 5 s.
  template <class F>
  bool eventually(F done) {
    for (int i = 0; i < 500; ++i) {
      if (onServer(done)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::string request(const std::string& method, const std::string& target,
                      const std::string& headers = "", const std::string& body = "") const {
    return method + " " + target + " HTTP/1.1\r\nConnection: close\r\n" + headers +
           (body.empty() && method != "POST"
                ? ""
                : "Content-Length: " + std::to_string(body.size()) + "\r\n") +
           "\r\n" + body;
  }

  static int status(const std::string& response) {
    return response.size() > 12 ? std::stoi(response.substr(9, 3)) : 0;
  }
  static std::string body(const std::string& response) {
    auto end = response.find("\r\n\r\n");
    return end == std::string::npos ? "" : response.substr(end + 4);
  }

  std::unique_ptr<websocket::stream<asio::ip::tcp::socket>> openSocket(
      const std::string& withOrigin) {
    auto ws = std::make_unique<websocket::stream<asio::ip::tcp::socket>>(clientContext_);
    beast::get_lowest_layer(*ws).connect({asio::ip::make_address("127.0.0.1"), port_});
    ws->set_option(
        websocket::stream_base::decorator([withOrigin](websocket::request_type& request) {
          if (!withOrigin.empty()) request.set(beast::http::field::origin, withOrigin);
        }));
    ws->handshake(host(), "/ws");
    return ws;
  }

  static platform::Value readMessage(websocket::stream<asio::ip::tcp::socket>& ws) {
    beast::flat_buffer buffer;
    ws.read(buffer);
    return platform::parseJson(beast::buffers_to_string(buffer.data())).value_or(platform::Value());
  }

  StubSession session_;
  // Declared first, so it outlives the server's loop and whatever that still holds of the
  // server when it goes.
  asio::io_context pages_;
  asio::io_context context_;
  asio::io_context clientContext_;
  std::unique_ptr<SettingsController> controller_;
  std::unique_ptr<WebServer> server_;
  std::uint16_t port_ = 0;
  std::thread loop_;
  std::atomic<bool> stopping_{false};
  bool separatePages_ = false;
};

TEST_F(WebServerTest, ServesThePageItsAssetsAndImagesWithSafeHeaders) {
  start();
  std::string page = raw(request("GET", "/", "Host: " + host() + "\r\n"));
  EXPECT_EQ(status(page), 200);
  EXPECT_NE(page.find("Content-Security-Policy: default-src 'none'"), std::string::npos);
  EXPECT_NE(page.find("X-Content-Type-Options: nosniff"), std::string::npos);
  EXPECT_NE(body(page).find("/app.js"), std::string::npos);
  EXPECT_EQ(
      status(raw(request("GET", "/app.js", "Host: localhost:" + std::to_string(port_) + "\r\n"))),
      200);

  std::string json = raw(request("GET", "/api/page", "Host: " + host() + "\r\n"));
  ASSERT_EQ(status(json), 200);
  EXPECT_EQ(platform::parseJson(body(json)).value()["page"]["title"].stringValue(), "Halvex");

  EXPECT_EQ(body(raw(request("GET", "/image/icon-Maps.png", "Host: " + host() + "\r\n"))),
            "\x89PNG icon");
  EXPECT_EQ(status(raw(request("GET", "/image/..%2Fsecret.png", "Host: " + host() + "\r\n"))), 404);
  EXPECT_EQ(status(raw(request("GET", "/footer/2.png?v=1&w=320", "Host: " + host() + "\r\n"))),
            200);
  EXPECT_EQ(status(raw(request("GET", "/footer/2.png?v=1&w=320&appearance=dark",
                               "Host: " + host() + "\r\n"))),
            200);
  EXPECT_EQ(status(raw(request("GET", "/footer/2.png?appearance=darkish&w=200",
                               "Host: " + host() + "\r\n"))),
            200);
  const auto calls = onServer([this] { return session_.calls; });
  EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
            (std::vector<std::string>{"footer 2 320", "footer 2 320 dark", "footer 2 200"}))
      << "only appearance=dark draws the dark footer";
  EXPECT_EQ(status(raw(request("GET", "/footer/0.png?v=1", "Host: " + host() + "\r\n"))), 404);
  EXPECT_EQ(status(raw(request("DELETE", "/", "Host: " + host() + "\r\n"))), 405);
}

TEST_F(WebServerTest, RefusesForeignHostsOriginsAndCrossSitePosts) {
  start();
  const std::string action = "{\"action\":\"back\"}";
  EXPECT_EQ(
      status(raw(request("GET", "/", "Host: attacker.example:" + std::to_string(port_) + "\r\n"))),
      403);
  EXPECT_EQ(status(raw(request("GET", "/", ""))), 403);
  EXPECT_EQ(status(raw(request("GET", "/api/page",
                               "Host: " + host() + "\r\nOrigin: http://attacker.example\r\n"))),
            403);
  EXPECT_EQ(status(raw(request("POST", "/api/action",
                               "Host: " + host() +
                                   "\r\nOrigin: http://attacker.example\r\n"
                                   "Content-Type: application/json\r\n",
                               action))),
            403);
  EXPECT_EQ(status(raw(request("POST", "/api/action",
                               "Host: " + host() + "\r\nContent-Type: text/plain\r\n", action))),
            415);
  EXPECT_TRUE(onServer([this] { return session_.calls; }).empty());

  // The same action from the page itself goes through.
  EXPECT_EQ(status(raw(request("POST", "/api/action",
                               "Host: " + host() + "\r\nOrigin: " + origin() +
                                   "\r\nContent-Type: application/json\r\n",
                               action))),
            200);
  EXPECT_EQ(onServer([this] { return session_.calls; }), std::vector<std::string>{"back"});

  EXPECT_THROW(openSocket("http://attacker.example"), beast::system_error);
  EXPECT_THROW(openSocket(""), beast::system_error);
}

TEST_F(WebServerTest, OversizedOrMalformedRequestsGetAClearRefusal) {
  start();
  const std::string json = "Host: " + host() + "\r\nContent-Type: application/json\r\n";
  std::string response =
      raw(request("POST", "/api/action", json,
                  "{\"action\":\"back\",\"x\":\"" + std::string(70000, 'x') + "\"}"));
  EXPECT_EQ(status(response), 400);
  EXPECT_NE(body(response).find("larger than 65536 bytes"), std::string::npos);

  response = raw(request("POST", "/api/action", json, "{\"action\":"));
  EXPECT_EQ(status(response), 400);
  EXPECT_NE(body(response).find("not valid JSON"), std::string::npos);

  response = raw(request("GET", "/",
                         "Host: " + host() + "\r\nX-Padding: " + std::string(20000, 'p') + "\r\n"));
  EXPECT_EQ(status(response), 431);

  EXPECT_EQ(status(raw("NOT A REQUEST\r\n\r\n")), 400);
  // The server is still there.
  EXPECT_EQ(status(raw(request("GET", "/api/page", "Host: " + host() + "\r\n"))), 200);
}

TEST_F(WebServerTest, WebSocketGetsThePageRepliesToActionsAndHearsChangesFromElsewhere) {
  start();
  auto ws = openSocket(origin());
  platform::Value first = readMessage(*ws);
  EXPECT_EQ(first["type"].stringValue(), "page");
  const std::int64_t version = first["version"].integerBits();

  ws->write(asio::buffer(
      std::string(
          "{\"id\":1,\"action\":\"setSwitch\",\"section\":0,\"row\":1,\"on\":false,\"version\":") +
      std::to_string(version) + "}"));
  // The reply carries the change, not the page: the switch's row, replaced.
  platform::Value reply = readMessage(*ws);
  EXPECT_EQ(reply["replyTo"].integerBits(), 1);
  EXPECT_EQ(reply["type"].stringValue(), "delta");
  EXPECT_EQ(reply["from"].integerBits(), version);
  EXPECT_EQ(reply["version"].integerBits(), version + 1);
  const platform::Value& change = reply["changes"][0];
  EXPECT_EQ(change["section"].integerBits(), 0);
  EXPECT_EQ(change["at"].integerBits(), 1);
  EXPECT_EQ(change["remove"].integerBits(), 1);
  EXPECT_FALSE(change["rows"][0]["on"].booleanValue());

  ws->write(asio::buffer(std::string("{\"id\":2,\"action\":\"nonsense\"}")));
  reply = readMessage(*ws);
  EXPECT_EQ(reply["type"].stringValue(), "error");
  EXPECT_EQ(reply["replyTo"].integerBits(), 2);

  // A second browser sees the first one's change, then a change from another process.
  auto other = openSocket(origin());
  platform::Value whole = readMessage(*other);
  EXPECT_EQ(whole["type"].stringValue(), "page");
  EXPECT_EQ(whole["version"].integerBits(), version + 1);
  onServer([this] { session_.changeFromElsewhere(); });
  for (auto* socket : {ws.get(), other.get()}) {
    platform::Value pushed = readMessage(*socket);
    EXPECT_EQ(pushed["type"].stringValue(), "delta");
    EXPECT_EQ(pushed["version"].integerBits(), version + 2);
    EXPECT_EQ(pushed["changes"][0]["at"].integerBits(), 1);
    EXPECT_EQ(pushed["changes"][0]["rows"][0]["title"].stringValue(), "Notes");
  }
}

TEST_F(WebServerTest, AStormOfChangesIsPushedAtABoundedRateEndingWithTheLast) {
  start();
  auto ws = openSocket(origin());
  std::size_t rows = readMessage(*ws)["page"]["sections"][1]["rows"].arrayValue().size();
  constexpr std::size_t kChanges = 100;  // each adds a row
  for (std::size_t i = 0; i < kChanges; ++i) onServer([this] { session_.changeFromElsewhere(); });
  std::size_t pushes = 0;
  while (rows < 1 + kChanges) {
    platform::Value pushed = readMessage(*ws);
    ASSERT_EQ(pushed["type"].stringValue(), "delta");
    for (const platform::Value& change : pushed["changes"].arrayValue()) {
      if (change["section"].integerBits() != 1 || !change["rows"].isArray()) continue;
      rows += change["rows"].arrayValue().size();
      rows -= static_cast<std::size_t>(change["remove"].integerBits());
    }
    ++pushes;
  }
  EXPECT_EQ(rows, 1 + kChanges);
  EXPECT_LT(pushes, kChanges / 4);
}

TEST_F(WebServerTest, OnlyAChangeHoldsBackTheNextOne) {
  // Driven by hand, without the loop thread: each call is one turn of the program's loop.
  controller_ = std::make_unique<SettingsController>(session_);
  server_ = std::make_unique<WebServer>(context_, *controller_);
  const std::uint64_t version = controller_->version();
  server_->publishIfChanged();  // a turn that changed nothing
  session_.changeFromElsewhere();
  server_->publishIfChanged();
  EXPECT_EQ(controller_->version(), version + 1) << "the change waited for an interval";

  session_.changeFromElsewhere();
  server_->publishIfChanged();
  EXPECT_EQ(controller_->version(), version + 1) << "a change right after one waits";
  context_.run_for(std::chrono::seconds(1));
  EXPECT_EQ(controller_->version(), version + 2) << "and goes out at the end of the interval";
}

TEST_F(WebServerTest, APageBusyWithOneClientsActionKeepsNoOtherClientWaiting) {
  asio::io_context& pages = pages_;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> entered;
  session_.whileSwitching = [&] {
    entered.set_value();
    released.wait();
  };
  start({}, &pages);
  std::thread pagesThread([&] {
    auto guard = asio::make_work_guard(pages);
    while (!stopping_) {
      pages.run_one_for(std::chrono::milliseconds(20));
      server_->publishIfChanged();
    }
  });
  auto ws = openSocket(origin());
  const std::int64_t version = readMessage(*ws)["version"].integerBits();
  ws->write(
      asio::buffer("{\"id\":1,\"action\":\"setSwitch\",\"section\":0,\"row\":1,"
                   "\"on\":false,\"version\":" +
                   std::to_string(version) + "}"));
  entered.get_future().wait();
  // The switch waits; another client gets the page, and a third connects, meanwhile.
  std::string page = raw(request("GET", "/api/page", "Host: " + host() + "\r\n"));
  EXPECT_EQ(status(page), 200);
  EXPECT_NE(body(page).find("\"version\":" + std::to_string(version)), std::string::npos);
  auto other = openSocket(origin());
  EXPECT_EQ(readMessage(*other)["version"].integerBits(), version);
  release.set_value();
  platform::Value reply = readMessage(*ws);
  EXPECT_EQ(reply["replyTo"].integerBits(), 1);
  EXPECT_EQ(reply["version"].integerBits(), version + 1);
  EXPECT_EQ(readMessage(*other)["version"].integerBits(), version + 1) << "pushed";
  onServer([this] { server_->close(); });
  stopping_ = true;
  pagesThread.join();
  loop_.join();
}

TEST_F(WebServerTest, AFrameSentTogetherWithTheUpgradeIsRead) {
  start();
  // One write: the handshake and a masked text frame right behind it.
  const std::string action = "{\"id\":1,\"action\":\"back\"}";
  std::string bytes = "GET /ws HTTP/1.1\r\nHost: " + host() + "\r\nOrigin: " + origin() +
                      "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                      "Sec-WebSocket-Version: 13\r\n\r\n";
  bytes += static_cast<char>(0x81);  // a final text frame
  bytes += static_cast<char>(0x80 | action.size());
  const char mask[4] = {0x11, 0x22, 0x33, 0x44};
  bytes.append(mask, 4);
  for (std::size_t i = 0; i < action.size(); ++i)
    bytes += static_cast<char>(action[i] ^ mask[i % 4]);
  int fd = connectRaw();
  sendAll(fd, bytes);
  EXPECT_TRUE(eventually([this] { return session_.calls == std::vector<std::string>{"back"}; }));
  ::close(fd);
}

TEST_F(WebServerTest, ABodyOfUnknownLengthIsRefusedNotReadAsTheNextRequest) {
  start();
  const std::string json = "Host: " + host() + "\r\nContent-Type: application/json\r\n";
  const std::string smuggled = request("POST", "/api/action", json, "{\"action\":\"back\"}");
  for (const std::string codings :
       {"Transfer-Encoding: gzip\r\n", "Transfer-Encoding: chunked, identity\r\n",
        "Transfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n"}) {
    SCOPED_TRACE(codings);
    std::string response =
        raw("POST /api/action HTTP/1.1\r\n" + json + codings + "\r\n" + smuggled);
    EXPECT_EQ(status(response), 400);
    EXPECT_EQ(response.find("HTTP/1.1", 1), std::string::npos) << "a second answer";
  }
  EXPECT_TRUE(onServer([this] { return session_.calls; }).empty());
  // A chunked body is still read as one.
  EXPECT_EQ(
      status(raw("POST /api/action HTTP/1.1\r\nConnection: close\r\n" + json +
                 "Transfer-Encoding: chunked\r\n\r\n11\r\n{\"action\":\"back\"}\r\n0\r\n\r\n")),
      200);
}

TEST_F(WebServerTest, QuietPeersAreClosedAfterTheirTimeouts) {
  ServerLimits limits;
  limits.idleTimeout = std::chrono::milliseconds(200);
  limits.requestTimeout = std::chrono::milliseconds(300);
  limits.webSocketIdleTimeout = std::chrono::milliseconds(1000);
  start(limits);
  const int quiet = connectRaw();
  const int slow = connectRaw();
  sendAll(slow, "GET / HTTP/1.1\r\nHost: ");
  auto mute = openSocket(origin());  // never reads, so it answers no ping
  auto live = openSocket(origin());
  std::atomic<bool> liveClosed{false};
  std::thread reader([&] {
    beast::flat_buffer buffer;
    beast::error_code error;
    while (!error) live->read(buffer, error);  // answers pings while it reads
    liveClosed = true;
  });
  EXPECT_EQ(readToEnd(quiet), "");
  EXPECT_EQ(readToEnd(slow), "");
  EXPECT_TRUE(eventually([this] { return server_->connectionCount() == 1; }));
  EXPECT_FALSE(liveClosed) << "a WebSocket that answers pings stays open";
  onServer([this] { server_->close(); });
  reader.join();
}

TEST_F(WebServerTest, QuietConnectionsMakeRoomForNewClients) {
  ServerLimits limits;
  limits.maxConnections = 3;
  limits.maxWebSockets = 2;
  start(limits);
  auto first = openSocket(origin());
  readMessage(*first);
  auto second = openSocket(origin());
  readMessage(*second);
  // A third WebSocket takes the place of the one quiet longest.
  auto third = openSocket(origin());
  readMessage(*third);
  ASSERT_TRUE(eventually([this] { return server_->connectionCount() == 2; }));
  EXPECT_THROW(readMessage(*first), beast::system_error);

  // With every place taken by quiet peers, a page load is still served.
  const int quiet = connectRaw();
  ASSERT_TRUE(eventually([this] { return server_->connectionCount() == 3; }));
  EXPECT_EQ(status(raw(request("GET", "/", "Host: " + host() + "\r\n"))), 200);
  ::close(quiet);
}

}  // namespace
}  // namespace settingsapp
