// The HTTP server over real sockets on 127.0.0.1: keep-alive, body and
// header limits, 100-continue, timeouts, HEAD, failures and shutdown.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/http/http.h"
#include "tests/support/http_client.h"

namespace desk {
namespace {

namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Answers by target: /slow sleeps 300 ms, /throw and /throw-other fail,
// anything else echoes the method, target and body. /small takes 100 bytes.
class TestHandler : public http::Handler {
 public:
  std::uint64_t body_limit(const http::Message& head) override {
    ++limits_asked;
    return head.target.rfind("/small", 0) == 0 ? 100 : 1 << 20;
  }
  http::Reply handle(http::Message& m) override {
    ++handled;
    if (m.target == "/slow") {
      slow_entered = true;
      std::this_thread::sleep_for(300ms);
      return {200, {{"Content-Type", "text/plain"}}, "slow done"};
    }
    if (m.target == "/throw") throw std::runtime_error("page failed");
    if (m.target == "/throw-other") throw 42;
    return {200, {{"Content-Type", "text/plain"}}, m.method + " " + m.target + " " + m.body};
  }
  std::atomic<int> handled{0};
  std::atomic<int> limits_asked{0};
  std::atomic<bool> slow_entered{false};
};

using Client = testing::HttpClient;

http::Options quiet_options() {
  http::Options o;
  o.port = 0;
  o.threads = 2;
  o.access_log = false;
  return o;
}

std::string get(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: t\r\n" + extra + "\r\n";
}

TEST(HttpServer, KeepAliveServesSeveralRequestsOnOneConnection) {
  TestHandler h;
  http::Server server(quiet_options(), h);
  server.listen();
  server.start();
  Client c(server.port());
  c.send(get("/a"));
  auto first = c.read();
  EXPECT_EQ(first.result_int(), 200);
  EXPECT_EQ(first.body(), "GET /a ");
  EXPECT_TRUE(first.keep_alive());
  // Two requests sent together are answered in order.
  c.send("POST /b HTTP/1.1\r\nHost: t\r\nContent-Length: 5\r\n\r\nhello" + get("/c"));
  EXPECT_EQ(c.read().body(), "POST /b hello");
  EXPECT_EQ(c.read().body(), "GET /c ");
  c.send(get("/d", "Connection: close\r\n"));
  auto last = c.read();
  EXPECT_EQ(last.body(), "GET /d ");
  EXPECT_FALSE(last.keep_alive());
  EXPECT_TRUE(c.closed_by_server());
  EXPECT_EQ(h.handled, 4);
}

TEST(HttpServer, BodyOverTheLimitIsRefusedUnread) {
  TestHandler h;
  http::Server server(quiet_options(), h);
  server.listen();
  server.start();
  {  // announced length: refused on the head alone
    Client c(server.port());
    c.send("POST /small HTTP/1.1\r\nHost: t\r\nContent-Length: 5000000\r\n\r\n");
    auto r = c.read();
    EXPECT_EQ(r.result_int(), 413);
    EXPECT_TRUE(c.closed_by_server());
  }
  {  // a client already sending the body still gets the answer
    Client c(server.port());
    c.send("POST /small HTTP/1.1\r\nHost: t\r\nContent-Length: 5000000\r\n\r\n" +
           std::string(200000, 'x'));
    EXPECT_EQ(c.read().result_int(), 413) << c.error().message();
  }
  {  // chunked: refused once the body passes the limit
    Client c(server.port());
    c.send(
        "POST /small HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n"
        "c8\r\n" +
        std::string(200, 'y') + "\r\n0\r\n\r\n");
    EXPECT_EQ(c.read().result_int(), 413) << c.error().message();
  }
  EXPECT_EQ(h.handled, 0);
  {  // exactly at the limit is fine
    Client c(server.port());
    c.send("POST /small HTTP/1.1\r\nHost: t\r\nContent-Length: 100\r\n\r\n" +
           std::string(100, 'z'));
    auto r = c.read();
    EXPECT_EQ(r.result_int(), 200);
    EXPECT_EQ(r.body(), "POST /small " + std::string(100, 'z'));
  }
  EXPECT_EQ(h.handled, 1);
}

TEST(HttpServer, ExpectContinue) {
  TestHandler h;
  http::Server server(quiet_options(), h);
  server.listen();
  server.start();
  {
    Client c(server.port());
    c.send("POST /up HTTP/1.1\r\nHost: t\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\n");
    EXPECT_EQ(c.read().result_int(), 100);
    c.send("hello");
    auto r = c.read();
    EXPECT_EQ(r.result_int(), 200);
    EXPECT_EQ(r.body(), "POST /up hello");
  }
  {  // too large: the final answer comes at once, without 100
    Client c(server.port());
    c.send(
        "POST /small HTTP/1.1\r\nHost: t\r\nContent-Length: 101\r\nExpect: 100-continue\r\n\r\n");
    EXPECT_EQ(c.read().result_int(), 413);
  }
  EXPECT_EQ(h.handled, 1);
}

TEST(HttpServer, HeaderOverTheLimitGets431) {
  TestHandler h;
  http::Options o = quiet_options();
  o.header_limit = 4096;
  http::Server server(o, h);
  server.listen();
  server.start();
  Client c(server.port());
  c.send(get("/a", "X-Big: " + std::string(8000, 'a') + "\r\n"));
  EXPECT_EQ(c.read().result_int(), 431);
  EXPECT_TRUE(c.closed_by_server());
  EXPECT_EQ(h.handled, 0);
  EXPECT_EQ(h.limits_asked, 0);
}

TEST(HttpServer, StalledAndIdleClientsAreDisconnected) {
  TestHandler h;
  http::Options o = quiet_options();
  o.header_timeout = 1s;
  http::Server server(o, h);
  server.listen();
  server.start();
  auto started = Clock::now();
  Client half(server.port());
  half.send("GET /a HTTP/1.1\r\nHo");
  Client idle(server.port());
  idle.send(get("/a"));
  EXPECT_EQ(idle.read().result_int(), 200);

  EXPECT_TRUE(half.closed_by_server());
  EXPECT_TRUE(idle.closed_by_server());
  auto took = Clock::now() - started;
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 4s);
  EXPECT_EQ(h.handled, 1);
}

TEST(HttpServer, HeadSendsTheLengthButNoBody) {
  TestHandler h;
  http::Server server(quiet_options(), h);
  server.listen();
  server.start();
  Client c(server.port());
  c.send("HEAD /page HTTP/1.1\r\nHost: t\r\n\r\n" + get("/page"));
  auto head = c.read(true);
  EXPECT_EQ(head.result_int(), 200);
  EXPECT_EQ(head[bhttp::field::content_length], std::to_string(std::string("HEAD /page ").size()));
  // Had the HEAD answer carried a body, this one would not parse.
  auto next = c.read();
  EXPECT_EQ(next.result_int(), 200);
  EXPECT_EQ(next.body(), "GET /page ");
}

TEST(HttpServer, HandlerFailuresBecome500AndTheServerGoesOn) {
  TestHandler h;
  http::Server server(quiet_options(), h);
  server.listen();
  server.start();
  Client c(server.port());
  c.send(get("/throw"));
  auto r = c.read();
  EXPECT_EQ(r.result_int(), 500);
  EXPECT_EQ(r.body().find("page failed"), std::string::npos);  // no details to the client
  c.send(get("/throw-other"));
  EXPECT_EQ(c.read().result_int(), 500);
  c.send(get("/fine"));
  EXPECT_EQ(c.read().body(), "GET /fine ");
}

TEST(HttpServer, StopLetsRequestsInFlightFinish) {
  TestHandler h;
  http::Server server(quiet_options(), h);
  server.listen();
  unsigned short port = server.port();
  std::thread runner([&] { server.run(false); });

  Client idle(port);
  idle.send(get("/a"));
  EXPECT_EQ(idle.read().result_int(), 200);
  Client busy(port);
  busy.send(get("/slow"));
  while (!h.slow_entered) std::this_thread::sleep_for(5ms);

  auto stopped = Clock::now();
  server.stop();
  auto r = busy.read();
  EXPECT_EQ(r.result_int(), 200);
  EXPECT_EQ(r.body(), "slow done");
  EXPECT_FALSE(r.keep_alive());
  EXPECT_TRUE(idle.closed_by_server(2s));
  runner.join();
  EXPECT_LT(Clock::now() - stopped, 3s);

  // Nobody listens any more.
  net::io_context ioc;
  tcp::socket s(ioc);
  beast::error_code ec;
  s.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port), ec);
  EXPECT_TRUE(ec);
}

TEST(HttpServer, StalledUploadDoesNotHoldShutdownBeyondTheGrace) {
  TestHandler h;
  http::Options o = quiet_options();
  o.shutdown_grace = 1s;
  auto server = std::make_unique<http::Server>(o, h);
  server->listen();
  std::thread runner([&] { server->run(false); });
  Client c(server->port());
  c.send("POST /up HTTP/1.1\r\nHost: t\r\nContent-Length: 100\r\n\r\n0123456789");
  std::this_thread::sleep_for(100ms);  // the head is read, the body waits
  auto stopped = Clock::now();
  server->stop();
  runner.join();
  auto took = Clock::now() - stopped;
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 4s);
  server.reset();  // with the upload still pending
  EXPECT_TRUE(c.closed_by_server());
  EXPECT_EQ(h.handled, 0);
}

// A reply whose body is a file: the bytes arrive whole, HEAD gets the
// length only, and the connection serves the next request.
TEST(HttpServer, FileBodiesAreSentWholeOnAKeptConnection) {
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 % 251);
  char path[] = "/tmp/desk-filebody-XXXXXX";
  int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
  struct FileHandler : TestHandler {
    const char* file;
    http::Reply handle(http::Message& m) override {
      if (m.target != "/file") return TestHandler::handle(m);
      http::Reply r{200, {{"Content-Type", "application/octet-stream"}}, ""};
      int f = ::open(file, O_RDONLY | O_CLOEXEC);
      r.file = std::make_shared<const http::FileBody>(f, ::lseek(f, 0, SEEK_END));
      return r;
    }
  } h;
  h.file = path;
  http::Server server(quiet_options(), h);
  server.listen();
  server.start();
  Client c(server.port());
  c.send(get("/file"));
  auto r = c.read();
  EXPECT_EQ(r.result_int(), 200);
  EXPECT_TRUE(r.body() == bytes);
  c.send("HEAD /file HTTP/1.1\r\nHost: t\r\n\r\n");
  auto head = c.read(true);
  EXPECT_EQ(head[bhttp::field::content_length], std::to_string(bytes.size()));
  c.send(get("/next"));
  EXPECT_EQ(c.read().body(), "GET /next ");
  ::unlink(path);
}

}  // namespace
}  // namespace desk
