// The web host without a network: routing, static files, path safety,
// security headers, the login gate and body limits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <optional>

#include "core/text.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::header;
using testing::TestApp;

TEST(SiteHost, StaticFilesWithTypesAndSecurityHeaders) {
  TestApp app;
  app.write_file("default.htm", "<html>login</html>");
  app.write_file("images/a.gif", "GIF89a");
  auto r = app.send(app.make("GET", "/tarvo/images/a.gif"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "GIF89a");
  EXPECT_EQ(header(r, "Content-Type"), "image/gif");
  EXPECT_EQ(header(r, "X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(header(r, "Referrer-Policy"), "same-origin");
  EXPECT_EQ(header(r, "X-Frame-Options"), "SAMEORIGIN");

  auto again = app.make("GET", "/tarvo/images/a.gif");
  again.headers.emplace_back("If-None-Match", header(r, "ETag"));
  EXPECT_EQ(app.send(again).status, 304);

  auto home = app.send(app.make("GET", "/tarvo/"));
  EXPECT_EQ(home.status, 200);
  EXPECT_EQ(header(home, "Content-Type"), "text/html; charset=gb2312");
  EXPECT_EQ(home.body, "<html>login</html>");
  auto bare = app.send(app.make("GET", "/tarvo"));
  EXPECT_EQ(bare.status, 301);
  EXPECT_EQ(header(bare, "Location"), "/tarvo/");
  EXPECT_EQ(header(bare, "X-Content-Type-Options"), "nosniff");
}

TEST(SiteHost, NothingOutsideThePublicFolderIsServed) {
  TestApp app;
  app.write_file("ok.htm", "ok");
  app.write_file(".hidden", "x");
  std::filesystem::create_directories(app.dir().parent_path() / "outside-desktest");
  { std::ofstream(app.dir().parent_path() / "outside-desktest" / "secret.txt") << "secret"; }
  std::filesystem::create_symlink(app.dir().parent_path() / "outside-desktest", app.dir() / "link");
  for (const char* target :
       {"/tarvo/../tarvo/ok.htm", "/tarvo/%2e%2e/outside-desktest/secret.txt",
        "/tarvo/..%2foutside-desktest%2fsecret.txt", "/tarvo/data/office.db",
        "/tarvo/DATA/office.db", "/tarvo/app.conf", "/tarvo/.hidden", "/tarvo/link/secret.txt",
        "/tarvo/..\\app.conf", "/tarvo/%5c..%5capp.conf", "/other/ok.htm", "/tarvo/missing.htm",
        "/tarvo/nothing.asp"}) {
    auto r = app.send(app.make("GET", target));
    EXPECT_TRUE(r.status == 400 || r.status == 404) << target << " -> " << r.status;
    EXPECT_EQ(r.body.find("secret"), std::string::npos) << target;
    EXPECT_EQ(r.body.find("SQLite"), std::string::npos) << target;
  }
  std::filesystem::remove_all(app.dir().parent_path() / "outside-desktest");
  EXPECT_EQ(app.send(app.make("GET", "/tarvo/ok.htm")).status, 200);
}

TEST(SiteHost, MethodsAndForeignOrigins) {
  TestApp app;
  app.registry().add_page({"echo.asp",
                           [](asp::ScriptingContext& c) { c.response().Write(c.request()("a")); },
                           asp::Access::open});
  EXPECT_EQ(app.send(app.make("PUT", "/tarvo/echo.asp")).status, 405);
  auto foreign = app.make("POST", "/tarvo/echo.asp", "a=1", "application/x-www-form-urlencoded");
  foreign.headers.emplace_back("Origin", "http://evil.example");
  EXPECT_EQ(app.send(foreign).status, 403);
  auto same = app.make("POST", "/tarvo/echo.asp", "a=1", "application/x-www-form-urlencoded");
  same.headers.emplace_back("Origin", "http://127.0.0.1:8080");
  auto r = app.send(same);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "1");
}

TEST(SiteHost, PagesNeedALoginUnlessOpen) {
  TestApp app;
  app.registry().add_page(
      {"private.asp", [](asp::ScriptingContext& c) { c.response().Write("p"); }});
  auto r = app.send(app.make("GET", "/tarvo/private.asp"));
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(header(r, "Location"), "/tarvo/default.htm");
  EXPECT_EQ(app.send(app.make("GET", "/tarvo/error.asp")).status, 200);
}

// A cookie of a session that ran out (or of a restarted server) leads to the
// login page with the timeout message; no cookie or a live session not
// logged in, to the plain login page.
TEST(SiteHost, ARequestOfAnExpiredSessionGetsTheTimeoutMessage) {
  TestApp app;
  app.add_user("zhang", "张伟", "pw");
  testing::Browser b(app);
  ASSERT_TRUE(b.login("zhang", "pw"));
  app.env().sessions.remove(b.session_token());
  for (const char* method : {"POST", "GET"}) {
    auto m =
        app.make(method, "/tarvo/right.asp", "flag=timestart", "application/x-www-form-urlencoded");
    m.headers.emplace_back("Cookie", std::string(asp::kSessionCookie) + "=" + b.session_token());
    auto r = app.send(m);
    EXPECT_EQ(r.status, 302) << method;
    EXPECT_EQ(header(r, "Location"), "/tarvo/default.htm?e=4") << method;
  }
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM worktime"), "0");
  testing::Browser fresh(app);
  fresh.set_session("x", "1");
  EXPECT_EQ(header(fresh.get("right.asp"), "Location"), "/tarvo/default.htm");
}

TEST(SiteHost, ChineseTextArrivesIntactBothWays) {
  TestApp app;
  app.registry().add_page({"echo.asp",
                           [](asp::ScriptingContext& c) {
                             c.response().Write("[" + c.request().Form("t") + "|" +
                                                c.request().QueryString("q") + "]");
                           },
                           asp::Access::open});
  // GB2312 form encoding of 公文, a character outside GB2312 sent as a
  // numeric reference, and a query in GB2312.
  std::string body = "t=" + text::url_encode(text::to_gb18030("公文")) + "%26%23131072%3B";
  auto m = app.make("POST", "/tarvo/echo.asp?q=" + text::url_encode(text::to_gb18030("收文")), body,
                    "application/x-www-form-urlencoded");
  auto r = app.send(m);
  EXPECT_EQ(header(r, "Content-Type"), "text/html; charset=gb2312");
  EXPECT_EQ(r.body, text::to_gb18030("[公文𠀀|收文]"));
}

TEST(SiteHost, UploadPagesTakeTheSessionCeilingOthersTheFormLimit) {
  TestApp app;
  app.registry().add_page({"up.asp", [](asp::ScriptingContext&) {}, asp::Access::login, true});
  app.registry().add_page({"form.asp", [](asp::ScriptingContext&) {}});
  app.add_user("a", "A", "pw");
  app.db().exec("INSERT INTO sysconfig (type, maxsize, soundpath) VALUES (1, 1234, '')");
  Browser b(app);
  ASSERT_TRUE(b.login("a", "pw"));
  http::Message head = app.make("POST", "/tarvo/up.asp");
  head.headers.emplace_back("Cookie", std::string(asp::kSessionCookie) + "=" + b.session_token());
  EXPECT_EQ(app.host().body_limit(head), 1234u);
  head.target = "/tarvo/form.asp";
  EXPECT_EQ(app.host().body_limit(head), app.host().options().form_limit);
  // Without a logged-in session no page takes more than a small form.
  EXPECT_EQ(app.host().body_limit(app.make("POST", "/tarvo/up.asp")),
            app.host().options().anonymous_limit);
}

TEST(SiteHost, AFailingPageRollsBackAndShowsAnErrorPage) {
  TestApp app;
  app.registry().add_page({"fail.asp",
                           [](asp::ScriptingContext& c) {
                             db::Transaction tx(c.conn());
                             c.conn().exec("INSERT INTO depart (depno, depname) VALUES (9, 'x')");
                             c.response().Write("half");
                             throw Error(Errc::conflict, "already done");
                           },
                           asp::Access::open});
  auto r = app.send(app.make("GET", "/tarvo/fail.asp"));
  EXPECT_EQ(r.status, 409);
  EXPECT_EQ(r.body.find("half"), std::string::npos);
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM depart WHERE depno = 9"), "0");
}

// A gate that holds every wait until the test answers it.
struct HeldGate : db::CommitGate {
  std::vector<std::function<void(bool)>> held;
  void after_durable(std::function<void(bool)> then) override { held.push_back(std::move(then)); }
};

TEST(SiteHost, APageIsAnsweredOnlyOnceItsCommitsAreDurable) {
  TestApp app;
  app.write_file("ok.htm", "ok");
  app.registry().add_page({"write.asp",
                           [](asp::ScriptingContext& c) {
                             c.conn().exec(
                                 "INSERT INTO depart (depno, depname) SELECT IFNULL(MAX(depno), 0) "
                                 "+ 1, 'x' FROM depart");
                             c.response().Write("saved");
                           },
                           asp::Access::open});
  auto gate = std::make_shared<HeldGate>();
  app.env().commits = gate;
  for (bool durable : {true, false}) {
    std::optional<http::Reply> got;
    app.host().handle_async(app.make("GET", "/tarvo/write.asp"),
                            [&](http::Reply r) { got = std::move(r); });
    EXPECT_FALSE(got) << "answered before the flush";
    ASSERT_EQ(gate->held.size(), 1u);
    gate->held.front()(durable);
    gate->held.clear();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->status, durable ? 200 : 500);
    EXPECT_EQ(got->body == "saved", durable);
  }
  std::optional<http::Reply> file;
  app.host().handle_async(app.make("GET", "/tarvo/ok.htm"),
                          [&](http::Reply r) { file = std::move(r); });
  EXPECT_TRUE(file && file->status == 200) << "static files do not wait";
  EXPECT_TRUE(gate->held.empty());
}

}  // namespace
}  // namespace desk

namespace desk {
namespace {

// Static files kept in memory (here at once: no settling time) and
// conditional requests. Each change below leaves the size or a time stamp
// different, which is what the cache compares.
TEST(SiteHost, KeptFilesFollowChangesOnDiskAndAnswerConditionalRequests) {
  asp::HostOptions options;
  options.statics.settle = std::chrono::milliseconds(0);
  options.statics.stream_from = 64;
  TestApp app({}, {2006, 12, 3, 15, 30, 45}, options);
  const auto file = app.dir() / "page.htm";
  auto set_mtime = [&](std::time_t t) {
    timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  };
  auto get = [&](std::vector<std::pair<std::string, std::string>> headers = {}) {
    auto m = app.make("GET", "/tarvo/page.htm");
    for (auto& h : headers) m.headers.push_back(h);
    return app.send(m);
  };

  app.write_file("page.htm", "first");
  set_mtime(1000000000);
  auto r = get();
  EXPECT_EQ(r.body, "first");
  EXPECT_EQ(header(r, "Last-Modified"), "Sun, 09 Sep 2001 01:46:40 GMT");
  const std::string etag = header(r, "ETag");
  EXPECT_EQ(get().body, "first");  // from memory now

  struct Case {
    std::vector<std::pair<std::string, std::string>> headers;
    int status;
  };
  const Case cases[] = {
      {{{"If-None-Match", etag}}, 304},
      {{{"If-None-Match", "\"other\", W/" + etag}}, 304},
      {{{"If-None-Match", "*"}}, 304},
      {{{"If-None-Match", "\"other\""}}, 200},
      {{{"If-Modified-Since", "Sun, 09 Sep 2001 01:46:40 GMT"}}, 304},
      {{{"If-Modified-Since", "Sun, 09 Sep 2001 01:46:39 GMT"}}, 200},
      {{{"If-Modified-Since", "yesterday"}}, 200},
      // If-None-Match decides when both come.
      {{{"If-None-Match", "\"other\""}, {"If-Modified-Since", "Sun, 09 Sep 2001 01:46:40 GMT"}},
       200},
  };
  for (const Case& c : cases) {
    auto a = get(c.headers);
    EXPECT_EQ(a.status, c.status) << c.headers.front().second;
    EXPECT_EQ(header(a, "ETag"), etag);
    EXPECT_EQ(a.body, c.status == 200 ? "first" : "");
  }

  // Same size, other bytes, a later time stamp: read again, new validators.
  app.write_file("page.htm", "again");
  set_mtime(1000000001);
  r = get({{"If-None-Match", etag}});
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "again");
  EXPECT_NE(header(r, "ETag"), etag);
  // Other size, time stamp set back to the first one: read again.
  app.write_file("page.htm", "third!");
  set_mtime(1000000000);
  EXPECT_EQ(get().body, "third!");
  // Replaced by another file under the same name.
  app.write_file("other.htm", "fourth");
  std::filesystem::rename(app.dir() / "other.htm", file);
  set_mtime(1000000000);
  EXPECT_EQ(get().body, "fourth");
  std::filesystem::remove(file);
  EXPECT_EQ(get().status, 404);

  // A large file is handed over open, with its length and validators.
  app.write_file("big.htm", std::string(100, 'x'));
  auto big = app.send(app.make("GET", "/tarvo/big.htm"));
  EXPECT_EQ(big.status, 200);
  ASSERT_TRUE(big.file);
  EXPECT_EQ(big.file->size, 100u);
  EXPECT_TRUE(big.body.empty());
  EXPECT_FALSE(header(big, "ETag").empty());
  auto big_again = app.make("GET", "/tarvo/big.htm");
  big_again.headers.emplace_back("If-None-Match", header(big, "ETag"));
  EXPECT_EQ(app.send(big_again).status, 304);
}

}  // namespace
}  // namespace desk
