// The document helper (officectl serve): requests of another site, of an
// unpaired page or with a used transfer token are refused and change
// nothing; pairing takes the code shown, once, and is remembered; a paired
// page drives the control and edits under the user's name.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/http/http.h"
#include "tests/support/docx_fixtures.h"
#include "tests/support/testapp.h"
#include "web/companion.h"
#include "web/docx/document.h"

namespace desk::web {
namespace {

using namespace desk::testing;
using nlohmann::json;
namespace fs = std::filesystem;

constexpr unsigned short kPort = 19280;

// The suite on 127.0.0.1 with zhang logged in and a document of his, and a
// helper for the suite's origin whose control thread runs in the background.
// Requests reach the helper's handler directly, as its server hands them on.
struct Helper {
  TestApp app;
  Browser zhang{app};
  http::Server suite{{.host = "127.0.0.1", .port = 0, .threads = 2, .access_log = false},
                     app.host()};
  ScratchDir dir;
  std::string origin, doc;
  SystemClock clock;
  MessageLoop loop{clock};
  std::mutex mu;
  std::vector<std::string> announced;
  std::unique_ptr<Companion> helper;
  std::atomic<bool> stop{false};
  std::thread ui;

  Helper() {
    app.add_user("zhang", "张三", "pw");
    EXPECT_TRUE(zhang.login("zhang", "pw"));
    doc = std::to_string(
        app.db().insert("INSERT INTO fawen (filedata, filetype, documentname, writeid) VALUES (?, "
                        "'doc', 'a.docx', 'zhang')",
                        {db::Blob{make_docx()}}));
    suite.listen();
    suite.start();
    origin = "http://127.0.0.1:" + std::to_string(suite.port());
    helper = make();
    ui = std::thread([this] {
      while (!stop) loop.wait_until(clock.now() + Millis(10));
    });
  }
  ~Helper() {
    stop = true;
    ui.join();
  }
  std::unique_ptr<Companion> make() {
    CompanionOptions o;
    o.origin = origin;
    o.state = dir / "state";
    o.drives = dir / "drives";
    o.work = dir / "work";
    o.test_ops = true;
    o.timeout_ms = 5000;
    o.announce = [this](const std::string& code) {
      std::lock_guard lock(mu);
      announced.push_back(code);
    };
    auto c = std::make_unique<Companion>(o, loop);
    c->set_port(kPort);
    return c;
  }

  struct Answer {
    int status;
    json body;
    std::string allow_origin;
  };
  Answer ask(const std::string& path, const json& body, const std::string& pairing = "",
             const std::string& from = "", const std::string& host = "",
             const std::string& method = "POST") {
    http::Message m;
    m.method = method;
    m.target = path;
    m.body = body.dump();
    m.headers = {{"Host", host.empty() ? "127.0.0.1:" + std::to_string(kPort) : host},
                 {"Origin", from.empty() ? origin : from},
                 {"Content-Type", "application/json"}};
    if (!pairing.empty()) m.headers.emplace_back("X-Office-Pairing", pairing);
    http::Reply r = helper->handle(m);
    Answer a{r.status, r.body.empty() ? json() : json::parse(r.body), ""};
    for (const auto& [k, v] : r.headers)
      if (k == "Access-Control-Allow-Origin") a.allow_origin = v;
    return a;
  }
  std::string pair() {
    Answer a = ask("/pair", {{"code", helper->pairing_code()}});
    EXPECT_EQ(a.status, 200);
    return a.body.value("token", "");
  }
  // A link of the suite with a fresh transfer token for its page and document.
  std::string link(const std::string& page, const std::string& document) {
    http::Reply r = zhang.post("transfer.asp", {{"page", page}, {"doc", document}});
    EXPECT_EQ(r.status, 200);
    return origin + "/tarvo/" + page + "?flowid=" + document + "&transfer=" + text_of(r);
  }
  fs::path work(const std::string& name) { return dir / "work" / name; }
};

TEST(Helper, RefusesOtherSitesAndUnpairedPagesAndChangesNothing) {
  Helper h;
  const std::string token = h.pair();
  const int id = h.ask("/control", {}, token).body.value("id", 0);
  ASSERT_GT(id, 0);
  const std::string link = h.link("loadhg.asp", h.doc);
  const json call = {{"id", id}, {"member", "download"}, {"args", {link, "x.docx"}}};

  struct Case {
    const char* what;
    std::string pairing, origin, host;
    int status;
  };
  for (const Case& k : {Case{"another site", token, "https://evil.example", "", 403},
                        Case{"an opaque origin", token, "null", "", 403},
                        Case{"the suite over another scheme", token,
                             "https://127.0.0.1:" + std::to_string(h.suite.port()), "", 403},
                        Case{"a rebound name", token, "", "evil.example:19280", 403},
                        Case{"no pairing", "", "", "", 401},
                        Case{"a wrong pairing", std::string(64, '0'), "", "", 401}}) {
    auto a = h.ask("/call", call, k.pairing, k.origin, k.host);
    EXPECT_EQ(a.status, k.status) << k.what;
    EXPECT_EQ(a.allow_origin, k.status == 403 ? "" : h.origin) << k.what;
    EXPECT_FALSE(fs::exists(h.work("x.docx"))) << k.what;
  }
  // Preflights: the suite's only.
  EXPECT_EQ(h.ask("/call", {}, "", "https://evil.example", "", "OPTIONS").status, 403);
  auto pre = h.ask("/call", {}, "", "", "", "OPTIONS");
  EXPECT_EQ(pre.status, 204);
  EXPECT_EQ(pre.allow_origin, h.origin);

  // The transfer token was not spent by the refused requests.
  auto done = h.ask("/call", call, token);
  EXPECT_EQ(done.body.value("result", false), true) << done.body.dump();
  EXPECT_EQ(read_file(h.work("x.docx")), h.app.db().scalar("SELECT filedata FROM fawen"));
  // Used once, the same link is refused by the suite: nothing is written.
  auto again =
      h.ask("/call", {{"id", id}, {"member", "download"}, {"args", {link, "y.docx"}}}, token);
  EXPECT_EQ(again.body.value("result", true), false);
  EXPECT_FALSE(fs::exists(h.work("y.docx")));
}

TEST(Helper, PairsOnceWithTheCodeShownAndRemembersIt) {
  Helper h;
  EXPECT_EQ(h.ask("/hello", {}).body.value("paired", true), false);
  const std::string first = h.helper->pairing_code();
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(h.ask("/pair", {{"code", "00000000"}}).status, 403);
    // Five wrong codes and the code shown is replaced.
    EXPECT_EQ(h.helper->pairing_code() == first, i < 5) << i;
  }
  const std::string code = h.helper->pairing_code();
  auto paired = h.ask("/pair", {{"code", code}});
  ASSERT_EQ(paired.status, 200);
  const std::string token = paired.body.value("token", "");
  // A code pairs one browser.
  EXPECT_EQ(h.ask("/pair", {{"code", code}}).status, 403);
  EXPECT_EQ(h.ask("/hello", {}, token).body.value("paired", false), true);
  {
    std::lock_guard lock(h.mu);
    EXPECT_EQ(h.announced.size(), 3u);  // at start, after five wrong codes, after pairing
  }
  // Remembered by the next helper started for the same site, and only a
  // hash of the secret is kept on disk.
  h.helper = h.make();
  EXPECT_EQ(h.ask("/hello", {}, token).body.value("paired", false), true);
  EXPECT_EQ(read_file(h.dir / "state" / "pairings.json").find(token), std::string::npos);
  EXPECT_EQ(fs::status(h.dir / "state").permissions() & fs::perms::others_all, fs::perms::none);
}

TEST(Helper, DrivesTheControlAndEditsUnderTheUsersName) {
  Helper h;
  const std::string token = h.pair();
  const int id = h.ask("/control", {}, token).body.value("id", 0);
  auto call = [&](const std::string& member, json args) {
    return h.ask("/call", {{"id", id}, {"member", member}, {"args", args}}, token).body;
  };
  // Reading mode records changes as revisions; the load completes before the answer.
  json opened = call("openfile", {h.link("loadhg.asp", h.doc)});
  EXPECT_EQ(opened["props"].value("curdoc", false), true) << opened.dump();
  EXPECT_EQ(opened["props"].value("opentype", ""), "read");
  call("SetUserName", {"李四"});
  auto edit = h.ask("/test/edit",
                    {{"id", id}, {"paragraph", 0}, {"insert", "批注"}, {"delete_count", 2}}, token);
  EXPECT_EQ(edit.status, 200) << edit.body.dump();
  EXPECT_EQ(edit.body.value("text", ""), "llo批注");
  // Without a document the control's message comes back to the page.
  json saved = call("SaveDoc", json::array());
  json again = call("SaveDoc", json::array());
  ASSERT_EQ(again["messages"].size(), 1u);
  EXPECT_EQ(again["messages"][0].value("title", ""), "错误！");
  // An unknown member and an error raised by the control.
  EXPECT_EQ(
      h.ask("/call", {{"id", id}, {"member", "Shell"}, {"args", json::array()}}, token).status,
      400);
  EXPECT_TRUE(call("uploadurl", {"ftp://127.0.0.1/x"}).contains("error"));
  // The FTP and card reader members answer through the helper like the others:
  // handles come back closed, text results as text, failures in ErrorMsg.
  json closed = call("disconnect", {"12", "0"});
  EXPECT_EQ(closed["args"], json({"0", "0"})) << closed.dump();
  json card = call("ReadId", json::array());
  EXPECT_EQ(card["result"], "") << card.dump();
  EXPECT_EQ(card["props"].value("ErrorMsg", ""), "打开端口失败！");

  // The file holds the tracked changes under the user's name.
  auto d = docx::Document::load(h.work(opened["props"].value("docname", "")));
  std::string xml = d.part_bytes("word/document.xml");
  EXPECT_NE(xml.find("w:ins w:id"), std::string::npos);
  EXPECT_NE(xml.find("w:author=\"李四\""), std::string::npos);
  EXPECT_NE(xml.find("<w:delText xml:space=\"preserve\">He</w:delText>"), std::string::npos);
}

}  // namespace
}  // namespace desk::web
