// The web host under attack, over real sockets on 127.0.0.1 and without a
// network: malformed requests, connection floods, slow and anonymous
// bodies, slow pages, descriptors running out, cross-site posts and
// sessions nobody comes back to.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>

#include "core/text.h"
#include "platform/http/http.h"
#include "tests/support/http_client.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HttpClient;
using testing::TestApp;

http::Options fast_options() {
  http::Options o;
  o.port = 0;
  o.threads = 2;
  o.access_log = false;
  o.header_timeout = 1s;
  o.body_grace = 1s;
  return o;
}

// A test application served by the HTTP server on 127.0.0.1.
struct LiveHost {
  TestApp app;
  http::Server server;
  explicit LiveHost(http::Options o = fast_options(), asp::HostOptions h = {})
      : app({}, {2006, 12, 3, 15, 30, 45}, h), server(o, app.host()) {
    app.write_file("default.htm", "<html>login</html>");
    server.listen();
    server.start();
  }
  unsigned short port() { return server.port(); }
};

std::string get(const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

bool says_busy(const HttpClient::Response& r) {
  return r.result_int() == 503 &&
         text::from_gb18030(r.body()).find("服务器忙，请稍后再试。") != std::string::npos;
}

// Waits up to 5 s for `cond`.
template <class Cond>
bool eventually(Cond cond) {
  for (int i = 0; i < 500 && !cond(); ++i) std::this_thread::sleep_for(10ms);
  return cond();
}

// A plain socket to 127.0.0.1 (one descriptor, no event loop), for floods.
struct RawConn {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ~RawConn() { ::close(fd); }
  bool connect(unsigned short port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  bool send(const std::string& s) {
    return ::send(fd, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
  }
  // The status of the answer; 0 when none comes within 5 s.
  int status() {
    std::string got;
    while (got.find("\r\n") == std::string::npos) {
      pollfd p{fd, POLLIN, 0};
      char buf[512];
      if (::poll(&p, 1, 5000) <= 0) return 0;
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return 0;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got.size() > 12 ? std::atoi(got.c_str() + 9) : 0;
  }
};

// While it lives, the process can open no new descriptor.
struct NoFreeDescriptors {
  rlimit saved{};
  NoFreeDescriptors() {
    getrlimit(RLIMIT_NOFILE, &saved);
    int lowest_free = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(lowest_free);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(lowest_free);
    setrlimit(RLIMIT_NOFILE, &low);
  }
  ~NoFreeDescriptors() { setrlimit(RLIMIT_NOFILE, &saved); }
};

// Each file of the corpus is one request; its name starts with the status
// it must get, or "closed" when the server must hang up without an answer.
TEST(UnderAttack, MalformedRequestsAreAnsweredAndTheServerGoesOn) {
  LiveHost h;
  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(DESK_MALFORMED_DIR)) {
    if (entry.path().extension() != ".http") continue;
    ++replayed;
    std::string name = entry.path().stem().string();
    std::string expect = name.substr(0, name.find('-'));
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    HttpClient c(h.port());
    c.try_send(bytes);  // the server may answer and close before all is sent
    auto r = c.read();
    if (expect == "closed") {  // by the server, well before the client's deadline
      EXPECT_EQ(r.result_int(), 0) << name;
      EXPECT_NE(c.error(), boost::beast::error::timeout) << name;
    } else {
      EXPECT_EQ(r.result_int(), std::stoi(expect)) << name;
    }
  }
  EXPECT_GE(replayed, 15);
  HttpClient after(h.port());
  after.send(get("/tarvo/default.htm"));
  auto r = after.read();
  EXPECT_EQ(r.result_int(), 200);
  EXPECT_EQ(r.body(), "<html>login</html>");
}

TEST(UnderAttack, ConnectionCeilingsPerAddressAndInAll) {
  http::Options o = fast_options();
  o.max_connections = 5;
  o.max_connections_per_address = 2;
  o.evict_after = std::chrono::hours(1);  // the connections held here never give way
  LiveHost h(o);
  auto served = [&](HttpClient& c) {
    c.send(get("/tarvo/default.htm"));
    return c.read().result_int() == 200;
  };
  // A refused connection is answered without being asked, then closed.
  auto refused = [&](HttpClient& c) { return says_busy(c.read()) && c.closed_by_server(); };

  std::vector<std::unique_ptr<HttpClient>> held;
  for (const char* from : {"127.0.0.1", "127.0.0.1"}) {
    held.push_back(std::make_unique<HttpClient>(h.port(), from));
    EXPECT_TRUE(served(*held.back())) << from;
  }
  HttpClient third(h.port(), "127.0.0.1");
  EXPECT_TRUE(refused(third));
  // Every address has its own allowance, up to the total.
  for (const char* from : {"127.0.0.2", "127.0.0.2", "127.0.0.3"}) {
    held.push_back(std::make_unique<HttpClient>(h.port(), from));
    EXPECT_TRUE(served(*held.back())) << from;
  }
  HttpClient over_total(h.port(), "127.0.0.4");
  EXPECT_TRUE(refused(over_total));
  // A closed connection gives its place back.
  held.erase(held.begin());
  EXPECT_TRUE(eventually([&] { return h.server.stats().open == 4; }));
  HttpClient again(h.port(), "127.0.0.1");
  EXPECT_TRUE(served(again));
  EXPECT_EQ(h.server.stats().refused, 2u);
}

// Connections that dribble their request head hold places only until a
// newcomer needs one: the one of the newcomer's address that has waited
// longest gives way at the ceiling per address, the longest waiting of all at
// the total ceiling; a connection whose head is complete is served.
TEST(UnderAttack, SlowHeadsGiveWayToNewcomersAtTheCeilings) {
  http::Options o = fast_options();
  o.header_timeout = 60s;
  o.max_connections = 3;
  o.max_connections_per_address = 2;
  o.evict_after = 0ms;
  LiveHost h(o);
  const std::string head = get("/tarvo/default.htm");
  std::vector<std::unique_ptr<HttpClient>> slow;
  for (const char* from : {"127.0.0.3", "127.0.0.2", "127.0.0.2"}) {
    slow.push_back(std::make_unique<HttpClient>(h.port(), from));
    slow.back()->send(head.substr(0, 5));
    ASSERT_TRUE(eventually([&] { return h.server.stats().open == slow.size(); }));
  }
  std::vector<std::unique_ptr<HttpClient>> kept;  // open, so they keep their places
  auto served = [&](const char* from) {
    kept.push_back(std::make_unique<HttpClient>(h.port(), from));
    kept.back()->send(head);
    return kept.back()->read().result_int() == 200;
  };
  EXPECT_TRUE(served("127.0.0.2"));  // over its address's ceiling: .2's oldest gives way
  EXPECT_TRUE(slow[1]->closed_by_server());
  EXPECT_TRUE(served("127.0.0.4"));  // over the total: the oldest of all gives way
  EXPECT_TRUE(slow[0]->closed_by_server());
  slow[2]->send(head.substr(5));
  EXPECT_EQ(slow[2]->read().result_int(), 200);
  EXPECT_EQ(h.server.stats().evicted, 2u);
  EXPECT_EQ(h.server.stats().refused, 0u);
}

TEST(UnderAttack, FourHundredAnonymousUploadsAreRefusedUnread) {
  http::Options o = fast_options();
  o.max_connections = 1000;
  o.max_connections_per_address = 0;
  LiveHost h(o);
  ASSERT_GE(h.server.max_connections(), 400u) << "too few descriptors for this test";
  std::vector<std::unique_ptr<RawConn>> flood;
  for (int i = 0; i < 400; ++i) {
    flood.push_back(std::make_unique<RawConn>());
    ASSERT_TRUE(flood.back()->connect(h.port()));
  }
  const std::string upload =
      "POST /tarvo/savedoc.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5000000\r\n\r\n" +
      std::string(1000, 'x');
  for (auto& c : flood) EXPECT_TRUE(c->send(upload));
  int too_large = 0;
  for (auto& c : flood) too_large += c->status() == 413;
  EXPECT_EQ(too_large, 400);
}

TEST(UnderAttack, ASlowButSteadyBodyGetsThrough) {
  http::Options o = fast_options();
  o.body_min_rate = 1000;  // bytes per second, after the grace of 1 s
  LiveHost h(o);
  HttpClient c(h.port());
  const std::string piece(750, 'a');
  c.send("POST /tarvo/error.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 3000\r\n\r\n" +
         piece);
  for (int i = 0; i < 3; ++i) {  // 1500 bytes/s: 2 s in all, beyond the grace
    std::this_thread::sleep_for(500ms);
    c.send(piece);
  }
  EXPECT_EQ(c.read().result_int(), 200);
}

TEST(UnderAttack, PooledPagesLeaveTheIoThreadFree) {
  http::Options o = fast_options();
  o.threads = 1;
  asp::HostOptions ho;
  ho.pool_threads = 1;
  ho.pool_queue = 1;
  LiveHost h(o, ho);
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  std::atomic<int> entered{0};
  h.app.registry().add_page({"slow.asp",
                             [&](asp::ScriptingContext& c) {
                               ++entered;
                               gate.wait();
                               c.response().Write("slow");
                             },
                             asp::Access::open, false, true});
  HttpClient running(h.port());
  running.send(get("/tarvo/slow.asp"));
  ASSERT_TRUE(eventually([&] { return entered == 1; }));
  HttpClient waiting(h.port());
  waiting.send(get("/tarvo/slow.asp"));
  ASSERT_TRUE(eventually([&] { return h.app.host().pool().waiting() == 1; }));

  // The one I/O thread still serves, and the full pool answers at once.
  HttpClient other(h.port());
  other.send(get("/tarvo/default.htm"));
  EXPECT_EQ(other.read().result_int(), 200);
  HttpClient extra(h.port());
  extra.send(get("/tarvo/slow.asp"));
  EXPECT_TRUE(says_busy(extra.read()));

  release.set_value();
  EXPECT_EQ(running.read().body(), "slow");
  EXPECT_EQ(waiting.read().body(), "slow");
  EXPECT_EQ(entered, 2);
}

TEST(UnderAttack, AcceptWaitsWhileDescriptorsAreShort) {
  LiveHost h;
  RawConn c;
  {
    NoFreeDescriptors none;
    ASSERT_TRUE(c.connect(h.port()));  // completed by the kernel, not accepted
    std::this_thread::sleep_for(1s);
  }
  auto failures = h.server.stats().accept_failures;
  EXPECT_GE(failures, 1u);
  EXPECT_LE(failures, 30u);  // waits between tries instead of spinning
  ASSERT_TRUE(c.send(get("/tarvo/default.htm")));
  EXPECT_EQ(c.status(), 200);
}

TEST(SiteGuards, StaticFilesAreNeverBlankWhenReadsFail) {
  TestApp app;
  app.write_file("page.htm", "<html>page</html>");
  auto good = app.send(app.make("GET", "/tarvo/page.htm"));
  ASSERT_EQ(good.status, 200);
  const std::string etag = testing::header(good, "ETag");
  {
    NoFreeDescriptors none;
    auto r = app.send(app.make("GET", "/tarvo/page.htm"));
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(testing::header(r, "ETag"), "");
    auto revalidate = app.make("GET", "/tarvo/page.htm");
    revalidate.headers.emplace_back("If-None-Match", etag);
    EXPECT_EQ(app.send(revalidate).status, 304);  // the copy the browser holds is whole
  }
  auto again = app.send(app.make("GET", "/tarvo/page.htm"));
  EXPECT_EQ(again.status, 200);
  EXPECT_EQ(again.body, "<html>page</html>");
  EXPECT_EQ(testing::header(again, "ETag"), etag);
}

TEST(SiteGuards, StateChangingRequestsFromOtherSitesAreRefused) {
  TestApp app;
  app.registry().add_page(
      {"echo.asp", [](asp::ScriptingContext& c) { c.response().Write("ok"); }, asp::Access::open});
  struct Case {
    const char* method;
    const char* origin;
    const char* referer;
    const char* host;
    int status;
  };
  const Case cases[] = {
      {"POST", "", "http://evil.example/form.htm", "127.0.0.1:8080", 403},
      {"POST", "", "http://127.0.0.1:8080/tarvo/main.asp", "127.0.0.1:8080", 200},
      {"POST", "", "http://127.0.0.1:8080.evil.example/", "127.0.0.1:8080", 403},
      {"POST", "", "http://me@127.0.0.1:8080/", "127.0.0.1:8080", 403},
      {"POST", "", "file:///c:/attack.htm", "127.0.0.1:8080", 403},
      {"POST", "http://evil.example", "http://127.0.0.1:8080/", "127.0.0.1:8080", 403},
      {"POST", "http://127.0.0.1:8080", "http://evil.example/", "127.0.0.1:8080", 200},
      {"POST", "null", "", "127.0.0.1:8080", 403},
      {"POST", "HTTP://OA:80", "", "oa", 200},
      {"POST", "https://oa", "", "oa", 200},
      {"POST", "http://oa:8080", "", "oa", 403},
      {"POST", "", "", "oa", 200},  // neither header: an older client
      {"PUT", "", "http://evil.example/", "oa", 403},
      {"DELETE", "http://evil.example", "", "oa", 403},
      {"PATCH", "http://evil.example", "", "oa", 403},
      {"PUT", "", "", "oa", 405},
      {"GET", "", "http://evil.example/", "oa", 200},  // following a link changes nothing
  };
  for (const auto& c : cases) {
    http::Message m =
        app.make(c.method, "/tarvo/echo.asp", "a=1", "application/x-www-form-urlencoded");
    m.headers.clear();
    m.headers.emplace_back("Host", c.host);
    if (*c.origin) m.headers.emplace_back("Origin", c.origin);
    if (*c.referer) m.headers.emplace_back("Referer", c.referer);
    EXPECT_EQ(app.send(m).status, c.status) << c.method << " " << c.origin << " " << c.referer;
  }
}

TEST(SiteGuards, IdleSessionsAreSweptWithoutAnyRequest) {
  asp::HostOptions ho;
  ho.session_sweep = 100ms;
  TestApp app({}, {2006, 12, 3, 15, 30, 45}, ho);
  app.env().sessions.set_idle_timeout(1s);
  app.env().sessions.create();
  app.env().sessions.create();
  EXPECT_EQ(app.env().sessions.size(), 2u);
  EXPECT_TRUE(eventually([&] { return app.env().sessions.size() == 0; }));
}

TEST(SiteGuards, AComponentGivenTheDatabaseByPathGetsThePooledConnection) {
  TestApp app;
  app.registry().add_page(
      {"conn.asp",
       [](asp::ScriptingContext& c) {
         bool same = &c.connection_to(c.server().MapPath("/data/office.db")) == &c.conn();
         bool other = &c.connection_to(c.server().MapPath("/data/other.db")) != &c.conn();
         c.response().Write(same && other ? "pooled" : "separate");
       },
       asp::Access::open});
  app.write_file("data/other.db", "");
  EXPECT_EQ(app.send(app.make("GET", "/tarvo/conn.asp")).body, "pooled");
}

}  // namespace
}  // namespace desk
