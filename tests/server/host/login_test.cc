// Login, logout and the administrator gate through the host.
#include <gtest/gtest.h>

#include "core/password.h"
#include "platform/asp/asp.h"
#include "server/host/login.h"
#include "server/host/schema.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::header;
using testing::TestApp;

std::vector<std::pair<std::string, std::string>> session_of(TestApp&, const Browser& b) {
  return b.session_values();
}

TEST(Login, ValidUserFillsSessionInOrderJournalsAndRedirects) {
  TestApp app;
  app.add_user("zhang", "张伟", "secret", "1", "2", "业务部");
  app.db().exec("INSERT INTO sysconfig (type, maxsize, soundpath) VALUES (1, 700, 'a.wav')");
  Browser b(app);
  ASSERT_TRUE(b.login("zhang", "secret"));

  auto s = session_of(app, b);
  std::vector<std::string> keys;
  for (auto& [k, v] : s) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"MaxSize", "username", "dep", "uid", "DocumentRoot",
                                            "power", "remindsound", "login"}));
  std::map<std::string, std::string> m(s.begin(), s.end());
  EXPECT_EQ(m["MaxSize"], "700");
  EXPECT_EQ(m["username"], "张伟");
  EXPECT_EQ(m["dep"], "业务部");
  EXPECT_EQ(m["uid"], "zhang");
  EXPECT_EQ(m["DocumentRoot"], "c:\\windows\\temp\\temp1234");
  EXPECT_EQ(m["power"], "2");
  EXPECT_EQ(m["remindsound"], "a.wav");
  EXPECT_EQ(m["login"], "yes");
  EXPECT_EQ(m.count("type"), 0u);

  auto log = app.db().query("SELECT uid, name, actiondate, ipaddress, type FROM loginlog");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log.front().text("uid"), "zhang");
  EXPECT_EQ(log.front().text("name"), "张伟");
  EXPECT_EQ(log.front().text("actiondate"), "2006-12-03 15:30:45");
  EXPECT_EQ(log.front().text("ipaddress"), "10.0.0.7");
  EXPECT_TRUE(log.front()["type"].is_null());
}

TEST(Login, SysconfigRows) {
  {  // none: the default ceiling, no sound
    TestApp app;
    app.add_user("a", "A", "pw");
    Browser b(app);
    ASSERT_TRUE(b.login("a", "pw"));
    std::map<std::string, std::string> m;
    for (auto& [k, v] : session_of(app, b)) m[k] = v;
    EXPECT_EQ(m["MaxSize"], "5000000");
    EXPECT_EQ(m.count("remindsound"), 0u);
  }
  {  // type 2 wins over type 1
    TestApp app;
    app.add_user("a", "A", "pw");
    app.db().exec("INSERT INTO sysconfig (type, maxsize, soundpath) VALUES (1, 100, 'one.wav')");
    app.db().exec("INSERT INTO sysconfig (type, maxsize, soundpath) VALUES (2, 200, 'two.wav')");
    Browser b(app);
    ASSERT_TRUE(b.login("a", "pw"));
    std::map<std::string, std::string> m;
    for (auto& [k, v] : session_of(app, b)) m[k] = v;
    EXPECT_EQ(m["MaxSize"], "200");
    EXPECT_EQ(m["remindsound"], "two.wav");
  }
}

TEST(Login, FailuresWriteNothingAndShowTheirMessage) {
  TestApp app;
  app.add_user("a", "A", "pw");
  app.add_user("noname", "", "pw");
  Browser b(app);
  auto wrong = b.post("login.asp", {{"username", "a"}, {"password", "bad"}});
  EXPECT_EQ(wrong.status, 302);
  EXPECT_EQ(header(wrong, "Location"), "default.htm?e=1");
  auto empty = b.post("login.asp", {{"username", "noname"}, {"password", "pw"}});
  EXPECT_EQ(header(empty, "Location"), "default.htm?e=2");
  auto unknown = b.post("login.asp", {{"username", "nobody"}, {"password", ""}});
  EXPECT_EQ(header(unknown, "Location"), "default.htm?e=1");
  EXPECT_EQ(b.session_token(), "");
  EXPECT_EQ(app.env().sessions.size(), 0u);
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM loginlog"), "0");
}

TEST(Login, InjectionInLoginIdDoesNotLogIn) {
  TestApp app;
  app.add_user("a", "A", "pw");
  Browser b(app);
  EXPECT_FALSE(b.login("' or '1'='1", "' or '1'='1"));
  EXPECT_FALSE(b.login("a' --", "x"));
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM loginlog"), "0");
}

// Nothing of an earlier user of the browser survives a login: an ordinary
// user after an administrator is no administrator and has no document open.
TEST(Login, LaterLoginStartsFromAFreshSession) {
  TestApp app;
  app.add_user("boss", "Boss", "pw", "2");
  app.add_user("clerk", "Clerk", "pw", "1");
  Browser b(app);
  ASSERT_TRUE(b.login("boss", "pw"));
  b.set_session("fawenid", "12");
  ASSERT_TRUE(b.login("clerk", "pw"));
  std::map<std::string, std::string> m;
  for (auto& [k, v] : session_of(app, b)) m[k] = v;
  EXPECT_EQ(m["uid"], "clerk");
  EXPECT_EQ(m.count("type"), 0u);
  EXPECT_EQ(m.count("fawenid"), 0u);
  EXPECT_EQ(b.get("system.asp").status, 302);  // the administrator gate
}

TEST(Login, SessionIdChangesAtLoginAndDropsEarlierKeys) {
  TestApp app;
  app.add_user("a", "A", "pw");
  Browser b(app);
  // A session that exists before login (e.g. planted by an attacker).
  auto [token, data] = app.env().sessions.create();
  {
    std::lock_guard lock(data->mu);
    data->values.emplace_back("earlier", "kept");
  }
  std::int64_t old_id = data->id;
  b.set_session_token(token);
  ASSERT_TRUE(b.login("a", "pw"));
  EXPECT_NE(b.session_token(), token);
  EXPECT_EQ(app.env().sessions.find(token), nullptr);
  auto now = app.env().sessions.find(b.session_token());
  ASSERT_NE(now, nullptr);
  EXPECT_NE(now->id, old_id);
  std::map<std::string, std::string> m;
  for (auto& [k, v] : session_of(app, b)) m[k] = v;
  EXPECT_EQ(m.count("earlier"), 0u);
  EXPECT_EQ(m["uid"], "a");
}

TEST(Login, PlainTextPasswordFromImportedDatabaseIsRehashed) {
  TestApp app;
  app.db().exec(
      "INSERT INTO userlist (uid, name, passwd, type, power) VALUES ('old', '老用户', 'plain', "
      "'1', '1')");
  Browser b(app);
  EXPECT_FALSE(b.login("old", "wrong"));
  EXPECT_EQ(app.db().scalar("SELECT passwd FROM userlist WHERE uid='old'"), "plain");
  ASSERT_TRUE(b.login("old", "plain"));
  std::string stored = app.db().scalar("SELECT passwd FROM userlist WHERE uid='old'");
  EXPECT_TRUE(password::is_hash(stored));
  Browser again(app);
  EXPECT_TRUE(again.login("old", "plain"));
}

TEST(Login, DepartmentNameComesFromTheDepartmentWhenTheRowHasNone) {
  TestApp app;
  app.db().exec("INSERT INTO depart (depno, depname) VALUES (7, '法务部')");
  app.db().exec(
      "INSERT INTO userlist (uid, name, passwd, depid, dep) VALUES ('d', 'D', ?, '7', '')",
      {password::hash("pw", password::Cost::min)});
  Browser b(app);
  ASSERT_TRUE(b.login("d", "pw"));
  std::map<std::string, std::string> m;
  for (auto& [k, v] : session_of(app, b)) m[k] = v;
  EXPECT_EQ(m["dep"], "法务部");
}

TEST(Login, AllThreeVariantsLogIn) {
  for (const char* variant : {"base", "simp", "full"}) {
    asp::AppConfig cfg;
    cfg.variant = variant;
    TestApp app(cfg);
    app.add_user("a", "A", "pw");
    Browser b(app);
    EXPECT_TRUE(b.login("a", "pw")) << variant;
    EXPECT_FALSE(Browser(app).login("a", "px")) << variant;
  }
}

// Databases made before the status bar took the sound's path as it is: the
// path gains its leading "/", and existing accounts stay enabled.
TEST(Login, OlderDatabasesAreMigratedForSoundAndDisabledAccounts) {
  TestApp app;
  auto old = db::open_sqlite((app.dir() / "data" / "old.db").string(),
                             {.busy_timeout_ms = 5000, .create = true});
  ASSERT_EQ(host::migrate(*old, 2), 2);
  old->exec(
      "INSERT INTO sysconfig (type, soundpath) VALUES (1, 'sound/remind.wav'), (2, ''), "
      "(3, '/x.wav')");
  old->exec("INSERT INTO userlist (uid, name, passwd) VALUES ('zhang', '张伟', 'pw')");
  EXPECT_EQ(host::migrate(*old), host::latest_schema_version());
  EXPECT_EQ(old->scalar("SELECT group_concat(soundpath, ',') FROM sysconfig ORDER BY type"),
            "/sound/remind.wav,,/x.wav");
  EXPECT_EQ(old->scalar("SELECT disabled FROM userdep WHERE uid = 'zhang'"), "0");
}

TEST(Logout, JournalsAbandonsAndRedirects) {
  TestApp app;
  app.registry().add_page(
      {"private.asp", [](asp::ScriptingContext& c) { c.response().Write("private"); }});
  app.add_user("a", "甲", "pw");
  Browser b(app);
  ASSERT_TRUE(b.login("a", "pw"));
  EXPECT_EQ(b.get("private.asp").body, "private");
  std::string token = b.session_token();
  auto r = b.get("quit.asp");
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(header(r, "Location"), "default.htm");
  EXPECT_NE(header(r, "Set-Cookie").find("Max-Age=0"), std::string::npos);
  EXPECT_EQ(app.env().sessions.find(token), nullptr);
  auto log = app.db().query("SELECT uid, name, type FROM loginlog ORDER BY id");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log.rows[1].text("uid"), "a");
  EXPECT_EQ(log.rows[1].text("name"), "甲");
  EXPECT_EQ(log.rows[1].text("type"), "1");
  // The old cookie no longer opens pages: it names no live session.
  b.set_session_token(token);
  EXPECT_EQ(header(b.get("private.asp"), "Location"), "/tarvo/default.htm?e=4");
}

// Only a logged-in session's logout is journalled: anonymous calls (however
// many) write nothing.
TEST(Logout, WithoutASessionJournalsNothing) {
  TestApp app;
  Browser b(app);
  for (int i = 0; i < 3; ++i) {
    auto r = b.get("quit.asp");
    EXPECT_EQ(r.status, 302);
    EXPECT_EQ(header(r, "Location"), "default.htm");
  }
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM loginlog"), "0");
}

// A page that only administrators may see, behind the gate.
class GatedPage {
 public:
  static void handler(asp::ScriptingContext& ctx) {
    auto gate = ctx.server().CreateObject<host::CheckPower>("deskserver.checkpower");
    gate->main();
    ctx.response().Write("admin page");
  }
};

TEST(CheckPower, OnlyAdministratorsPass) {
  TestApp app;
  app.add_user("boss", "Boss", "pw", "2");
  app.add_user("clerk", "Clerk", "pw", "1");
  // The gate on a page built here, run through a context without a network.
  for (auto [uid, admitted] : {std::pair{"boss", true}, std::pair{"clerk", false}}) {
    Browser b(app);
    ASSERT_TRUE(b.login(uid, "pw"));
    asp::Request req(asp::Request::Init{});
    asp::Response resp;
    asp::Session session(&app.env().sessions, b.session_token());
    asp::ScriptingContext ctx(app.env(), req, resp, session);
    bool ended = false;
    try {
      GatedPage::handler(ctx);
    } catch (const asp::ResponseEnd&) {
      ended = true;
    }
    EXPECT_EQ(ended, !admitted) << uid;
    EXPECT_EQ(resp.redirected(), !admitted) << uid;
    if (!admitted) {
      EXPECT_EQ(resp.location(), "powererror.htm");
    } else {
      EXPECT_EQ(resp.body(), "admin page");
    }
  }
}

TEST(Helpme, WritesOnePlainLine) {
  TestApp app;
  asp::Request req(asp::Request::Init{});
  asp::Response resp;
  asp::Session session(nullptr, "");
  asp::ScriptingContext ctx(app.env(), req, resp, session);
  {
    auto login = ctx.server().CreateObject<host::Login>("deskserver.login");
    login->helpme();
  }
  EXPECT_EQ(resp.body().rfind("welcome to http", 0), 0u);
  EXPECT_EQ(resp.body().find('\n'), std::string::npos);
  asp::Response resp2;
  asp::ScriptingContext ctx2(app.env(), req, resp2, session);
  auto simp = ctx2.server().CreateObject<host::LoginSimp>("deskserver.loginsimp");
  simp->helpme();
  EXPECT_GT(resp2.body().size(), resp.body().size());
}

// Password guessing: five wrong passwords within fifteen minutes lock the
// account for fifteen minutes (even for the right password), counted apart
// from the login journal; an administrator can lift the lock; an address
// with many failures waits too.
TEST(Login, WrongPasswordsLockTheAccountForAWhile) {
  TestApp app;
  app.add_user("a", "A", "pw");
  app.add_user("b", "B", "pw");
  Browser b(app);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(b.login("a", "wrong"));
  auto locked = b.post("login.asp", {{"username", "a"}, {"password", "pw"}});
  EXPECT_EQ(header(locked, "Location"), "default.htm?e=3");
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM loginlog"), "0");
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM loginfail WHERE uid = 'a'"), "5");
  EXPECT_TRUE(b.login("b", "pw"));  // other accounts are not locked

  app.clock().set(DateTime{2006, 12, 3, 15, 45, 46});  // fifteen minutes later
  Browser again(app);
  EXPECT_TRUE(again.login("a", "pw"));
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM loginfail WHERE uid = 'a'"), "0");

  // Thirty failures from one address, over many login ids, block it.
  Browser guesser(app);
  guesser.remote_addr = "10.9.9.9";
  for (int i = 0; i < 30; ++i) guesser.login("user" + std::to_string(i), "x");
  auto blocked = guesser.post("login.asp", {{"username", "b"}, {"password", "pw"}});
  EXPECT_EQ(header(blocked, "Location"), "default.htm?e=3");
  EXPECT_TRUE(b.login("b", "pw"));  // from another address
}

}  // namespace
}  // namespace desk
