// The ASP object layer on its own: Request, Response, Session, settings,
// Server.MapPath, the component registry and the metabase.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "core/text.h"
#include "platform/asp/asp.h"
#include "platform/asp/metabase.h"
#include "platform/asp/site_host.h"
#include "tests/support/multipart_body.h"

namespace desk {
namespace {

namespace fs = std::filesystem;
using asp::Request;
using asp::Response;
using asp::Session;
using asp::SessionStore;
using namespace std::string_literals;

Errc code_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.code();
  }
  ADD_FAILURE() << "no error thrown";
  return Errc::internal;
}

// A temporary folder removed at the end of the test.
struct TempDir {
  fs::path path;
  TempDir() {
    std::random_device rd;
    path =
        fs::temp_directory_path() / ("desk-asptest-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(path);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

Request make_request(std::string query, std::string body = "",
                     std::string content_type = "application/x-www-form-urlencoded",
                     std::string cookie = "") {
  Request::Init init;
  init.method = body.empty() ? "GET" : "POST";
  init.script_name = "/tarvo/sub/page.asp";
  init.query = std::move(query);
  init.body = std::move(body);
  init.remote_addr = "10.1.2.3";
  init.headers = {{"Host", "oa:8080"},
                  {"user-agent", "Mozilla/4.0 (compatible; MSIE 6.0)"},
                  {"X-Forwarded-For", "1.2.3.4"}};
  if (!content_type.empty()) init.headers.emplace_back("Content-Type", content_type);
  if (!cookie.empty()) init.headers.emplace_back("Cookie", cookie);
  return Request(std::move(init));
}

TEST(Request, ItemLooksInQueryFormCookiesThenServerVariables) {
  Request r =
      make_request("a=q&empty=", "a=f&b=f", "application/x-www-form-urlencoded", "a=c; b=c; c=c");
  EXPECT_EQ(r("a"), "q");
  EXPECT_EQ(r("B"), "f");
  EXPECT_EQ(r("c"), "c");
  EXPECT_EQ(r("empty"), "");  // present but empty: not looked up further
  EXPECT_EQ(r("REMOTE_ADDR"), "10.1.2.3");
  EXPECT_EQ(r("nothing"), "");
  EXPECT_EQ(r.QueryString("b"), "");
  EXPECT_EQ(r.Form("a"), "f");
  EXPECT_EQ(r.Cookies("a"), "c");
}

TEST(Request, RepeatedKeysAreJoined) {
  Request r = make_request("x=1&X=2&y=&x=3", "k=a&k=b");
  EXPECT_EQ(r.QueryString("x"), "1, 2, 3");
  EXPECT_EQ(r("x"), "1, 2, 3");
  EXPECT_EQ(r.Form("K"), "a, b");
  EXPECT_EQ(r.query_items().size(), 4u);
}

TEST(Request, FormsFromGbPagesDecodeToUtf8) {
  // "名称=中文+&#8364;" as a GB2312 page posts it, with a character outside
  // GB2312 sent as a numeric reference.
  std::string body = text::url_encode(text::to_gb18030("名称")) + "=" +
                     text::url_encode(text::to_gb18030("中文")) + "+%26%238364%3B%26%23131072%3B" +
                     "&plus=a%2Bb+c&flag&&=v";
  Request r = make_request("q=%D6%D0", body);
  EXPECT_EQ(r.Form("名称"), "中文 €\xF0\xA0\x80\x80");
  EXPECT_EQ(r.Form("plus"), "a+b c");
  EXPECT_EQ(r.Form("flag"), "");
  EXPECT_EQ(r.QueryString("q"), "中");

  // The content type decides whether the body is a form.
  Request cs = make_request("", "a=1", "Application/X-WWW-Form-Urlencoded; charset=gb2312");
  EXPECT_EQ(cs.Form("a"), "1");
  Request multipart = make_request("", "a=1", "multipart/form-data; boundary=x");
  EXPECT_EQ(multipart.Form("a"), "");
  EXPECT_EQ(multipart.body(), "a=1");

  Request cookies = make_request("", "", "", "name=%D5%C5%CE%B0; bad; theme=blue ");
  EXPECT_EQ(cookies.Cookies("name"), "张伟");
  EXPECT_EQ(cookies.Cookies("theme"), "blue");
}

TEST(Request, MultipartFieldsAreFormFieldsFilesAreNot) {
  const std::string token = "7d510000100002";
  const std::string body = testing::control_body(
      token, {{"名称", "中文&#8364;"}, {"token", "x"}, {"TOKEN", "y"}}, {{"C:\\a.doc", "DATA"}});
  Request r = make_request("", body, testing::control_content_type(token));
  EXPECT_EQ(r.Form("filenum"), "1");
  EXPECT_EQ(r.Form("名称"), "中文€");
  EXPECT_EQ(r("token"), "x, y");
  EXPECT_EQ(r.Form("file1"), "");
  ASSERT_TRUE(r.multipart().ok());
  EXPECT_EQ(r.multipart().parts.back().data(r.body()), "DATA");

  // A malformed body gives no field at all.
  Request cut =
      make_request("", body.substr(0, body.size() - 4), testing::control_content_type(token));
  EXPECT_EQ(cut.Form("filenum"), "");
  EXPECT_EQ(cut.multipart().fault, multipart::Fault::truncated);
}

TEST(Request, ServerVariables) {
  Request r = make_request("a=1&b=2", "x=1");
  EXPECT_EQ(r.ServerVariables("REQUEST_METHOD"), "POST");
  EXPECT_EQ(r.ServerVariables("remote_addr"), "10.1.2.3");
  EXPECT_EQ(r.ServerVariables("SCRIPT_NAME"), "/tarvo/sub/page.asp");
  EXPECT_EQ(r.ServerVariables("PATH_INFO"), "/tarvo/sub/page.asp");
  EXPECT_EQ(r.ServerVariables("HTTP_USER_AGENT"), "Mozilla/4.0 (compatible; MSIE 6.0)");
  EXPECT_EQ(r.ServerVariables("HTTP_X_FORWARDED_FOR"), "1.2.3.4");
  EXPECT_EQ(r.ServerVariables("HTTP_REFERER"), "");
  EXPECT_EQ(r.ServerVariables("NO_SUCH_VARIABLE"), "");
}

TEST(Request, BinaryReadWalksThroughTheRawBody) {
  std::string raw = "\x00\x01\xFFhead=1&"s;
  Request r = make_request("", raw, "application/octet-stream");
  EXPECT_EQ(r.TotalBytes(), 10u);
  EXPECT_EQ(r.BinaryRead(4), "\x00\x01\xFFh"s);
  EXPECT_EQ(r.BinaryRead(100), "ead=1&");
  EXPECT_EQ(r.BinaryRead(100), "");
  EXPECT_EQ(r.Form("head"), "");
}

TEST(Response, BuffersConvertsAndKeepsHeadersWhole) {
  Response r;
  r.Write("中文 ");
  r.BinaryWrite("\xD6\xD0\x00"s);
  r.Write("<b>");
  EXPECT_EQ(r.body(), "\xD6\xD0\xCE\xC4 \xD6\xD0\x00<b>"s);
  // A piece cut inside a character, and one beyond the two-byte table.
  Response cut;
  cut.Write("中\xE4");
  cut.Write("\xB8 \xF0\xA0\x80\x80");
  EXPECT_EQ(cut.body().substr(0, 2), "\xD6\xD0");
  EXPECT_EQ(cut.body().substr(cut.body().size() - 5), " \x95\x32\x82\x36");
  EXPECT_EQ(cut.body().find_first_not_of('?', 2), cut.body().size() - 5);
  EXPECT_EQ(r.content_type_header(), "text/html; charset=gb2312");
  r.ContentType = "image/gif";
  EXPECT_EQ(r.content_type_header(), "image/gif");
  r.ContentType = "text/plain\r\nX-Evil: 1";
  r.Charset = "";
  EXPECT_EQ(r.content_type_header(), "text/plainX-Evil: 1");
  r.AddHeader("X-Name\r\n", "a\r\nSet-Cookie: x=1\n");
  EXPECT_EQ(r.headers(), (asp::Pairs{{"X-Name", "aSet-Cookie: x=1"}}));
}

TEST(Response, RedirectDropsOutputAndIgnoresLaterWrites) {
  Response r;
  r.Write("before");
  r.Redirect("main.asp?x=1\r\nSet-Cookie: evil=1");
  EXPECT_TRUE(r.redirected());
  EXPECT_EQ(r.Status, 302);
  EXPECT_EQ(r.location(), "main.asp?x=1Set-Cookie: evil=1");
  EXPECT_EQ(r.body(), "");
  r.Write("after");
  r.BinaryWrite("after");
  EXPECT_EQ(r.body(), "");
  EXPECT_THROW(r.End(), asp::ResponseEnd);

  Response empty;
  empty.Redirect("\r\n");
  EXPECT_EQ(empty.location(), "./");
}

TEST(Session, ValuesAndKeyOrder) {
  SessionStore store;
  Session s(&store, "");
  EXPECT_EQ(s.get("login"), "");
  EXPECT_EQ(store.size(), 0u);  // reading creates nothing
  EXPECT_FALSE(s.cookie_changed());

  s.set("UserName", "张伟");
  s.set("dep", "办公室");
  s.set("USERNAME", "李娜");  // same key: value replaced, place kept
  EXPECT_EQ(store.size(), 1u);
  EXPECT_TRUE(s.cookie_changed());
  EXPECT_EQ(s["username"], "李娜");
  auto c = s.contents();
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0], (std::pair<std::string, std::string>{"UserName", "李娜"}));
  EXPECT_EQ(c[1].first, "dep");
  s.remove("DEP");
  EXPECT_EQ(s.get("dep"), "");

  // The next request with the cookie sees the same session.
  Session next(&store, s.token());
  EXPECT_EQ(next.get("username"), "李娜");
  EXPECT_FALSE(next.cookie_changed());
  Session unknown(&store, "0123456789abcdef");
  EXPECT_EQ(unknown.get("username"), "");
  EXPECT_EQ(unknown.token(), "");
}

// Tokens are 64 hex digits and never repeat, within a thread or across
// threads (each thread draws from its own stream).
TEST(Session, RandomTokensNeverRepeat) {
  std::vector<std::string> a, b;
  std::thread other([&] {
    for (int i = 0; i < 2000; ++i) b.push_back(asp::random_token());
  });
  for (int i = 0; i < 2000; ++i) a.push_back(asp::random_token());
  other.join();
  std::set<std::string> all(a.begin(), a.end());
  all.insert(b.begin(), b.end());
  EXPECT_EQ(all.size(), 4000u);
  for (const std::string& t : all)
    ASSERT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos) << t;
  EXPECT_EQ(a.front().size(), 64u);
}

TEST(Session, SessionIdIsStableAndNumeric) {
  SessionStore store;
  Session s(&store, "");
  std::int64_t id = s.SessionID();
  EXPECT_EQ(store.size(), 1u);  // reading the id creates the session
  EXPECT_GE(id, 100000000);
  EXPECT_LE(id, 999999999);
  EXPECT_EQ(s.SessionID(), id);
  EXPECT_EQ(s.token().size(), 64u);
  Session again(&store, s.token());
  EXPECT_EQ(again.SessionID(), id);
  Session other(&store, "");
  EXPECT_NE(other.SessionID(), id);
  EXPECT_NE(other.token(), s.token());
}

TEST(Session, AbandonEndsItAfterThisPage) {
  SessionStore store;
  Session s(&store, "");
  s.set("login", "yes");
  std::string token = s.token();
  Session page(&store, token);
  page.Abandon();
  EXPECT_TRUE(page.abandoned());
  EXPECT_TRUE(page.cookie_changed());
  EXPECT_EQ(page.get("login"), "yes");  // still readable on this page
  Session next(&store, token);
  EXPECT_EQ(next.get("login"), "");
  EXPECT_EQ(store.size(), 0u);
  // A second holder of the same data (a parallel frame) cannot revive it.
  s.set("login", "again");
  EXPECT_EQ(store.find(token), nullptr);
}

TEST(Session, RenewKeepsValuesUnderANewTokenAndId) {
  SessionStore store;
  Session s(&store, "");
  s.set("earlier", "kept");
  std::string old_token = s.token();
  std::int64_t old_id = s.SessionID();
  Session page(&store, old_token);
  page.renew();
  EXPECT_NE(page.token(), old_token);
  EXPECT_NE(page.SessionID(), old_id);
  EXPECT_TRUE(page.cookie_changed());
  EXPECT_EQ(store.find(old_token), nullptr);
  Session next(&store, page.token());
  EXPECT_EQ(next.get("earlier"), "kept");
  EXPECT_EQ(next.SessionID(), page.SessionID());
  EXPECT_EQ(store.size(), 1u);
}

TEST(Session, IdleSessionsExpireAndAreSwept) {
  SessionStore store(std::chrono::seconds(60));
  // Only the tokens are kept: the store holds the sole reference to the data.
  std::string kept = store.create().first;
  std::string idle = store.create().first;
  EXPECT_EQ(store.sweep(), 2u);
  store.set_idle_timeout(std::chrono::seconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_NE(store.find(kept), nullptr);  // use keeps a session alive
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(store.sweep(), 1u);
  EXPECT_EQ(store.find(idle), nullptr);
  EXPECT_NE(store.find(kept), nullptr);

  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Session late(&store, kept);  // expired while nobody swept
  EXPECT_EQ(late.get("x"), "");
  EXPECT_EQ(late.token(), "");
  EXPECT_EQ(store.size(), 0u);
}

TEST(AppConfig, SaveAndLoadRoundTrip) {
  TempDir tmp;
  asp::AppConfig c;
  c.edition = "law";
  c.variant = "full";
  c.regional.date_pattern = "yyyy/mm/dd";
  c.regional.time_pattern = "H:M";
  c.database = "data/other.db";
  c.password_cost = "min";
  c.upload_limit = 123456;
  c.sms_port.device = "/dev/ttyUSB1";
  c.sms_port.speed = 9600;
  serial::parse_framing("7E2", c.sms_port);
  c.sms_centre = "13800100500";
  c.sms_hourly_limit = 5;
  c.session_timeout = 30;
  c.status_refresh = 90;
  c.save(tmp.path / "app.conf");
  asp::AppConfig back = asp::AppConfig::load(tmp.path / "app.conf");
  EXPECT_EQ(back.edition, "law");
  EXPECT_EQ(back.variant, "full");
  EXPECT_EQ(back.regional.date_pattern, "yyyy/mm/dd");
  EXPECT_EQ(back.regional.time_pattern, "H:M");
  EXPECT_EQ(back.database, "data/other.db");
  EXPECT_EQ(back.password_cost, "min");
  EXPECT_EQ(back.upload_limit, 123456u);
  EXPECT_EQ(back.sms_port.device, "/dev/ttyUSB1");
  EXPECT_EQ(back.sms_port.speed, 9600);
  EXPECT_EQ(serial::framing_text(back.sms_port), "7E2");
  EXPECT_EQ(back.sms_centre, "13800100500");
  EXPECT_EQ(back.sms_hourly_limit, 5);
  EXPECT_EQ(back.session_timeout, 30);
  EXPECT_EQ(back.status_refresh, 90);
  EXPECT_EQ(code_of([&] { c.save(tmp.path / "missing" / "app.conf"); }), Errc::io);
}

TEST(AppConfig, BadValuesAreRejected) {
  TempDir tmp;
  for (const char* line :
       {"edition = bank", "variant = pro", "password_cost = fast", "upload_limit = 0",
        "upload_limit = -5", "upload_limit = 5MB", "upload_limit = ", "colour = red", "just words",
        "sms_speed = 12345", "sms_speed = 4294986496", "sms_framing = 9N1", "sms_framing = 8X1",
        "sms_hourly_limit = 0", "sms_hourly_limit = many", "session_timeout = 0",
        "status_refresh = 2",
        // A working screen left open must not time out between two loads.
        "session_timeout = 1\nstatus_refresh = 31", "status_refresh = 601"}) {
    { std::ofstream(tmp.path / "app.conf") << line << "\n"; }
    EXPECT_EQ(code_of([&] { asp::AppConfig::load(tmp.path / "app.conf"); }), Errc::config) << line;
  }
  EXPECT_EQ(code_of([&] { asp::AppConfig::load(tmp.path / "none.conf"); }), Errc::config);
}

class Thing : public asp::PageComponent {
 public:
  std::string where() { return request().ServerVariables("SCRIPT_NAME"); }
};
class Other : public asp::PageComponent {};

// A scripting context for a page at /tarvo/sub/page.asp without any network.
struct PageFixture {
  TempDir tmp;
  asp::Registry registry;
  asp::AppEnv env;
  Request request = make_request("");
  Response response;
  Session session{nullptr, ""};
  std::unique_ptr<asp::ScriptingContext> ctx;
  PageFixture() {
    env.name = "tarvo";
    env.root = tmp.path / "app";
    env.registry = &registry;
    ctx = std::make_unique<asp::ScriptingContext>(env, request, response, session);
  }
};

TEST(Server, MapPathStaysInsideTheApplication) {
  PageFixture f;
  asp::Server& server = f.ctx->server();
  const fs::path root = f.env.root;
  EXPECT_EQ(server.MapPath("data/office.db"), root / "sub/data/office.db");
  EXPECT_EQ(server.MapPath("../data/office.db"), root / "data/office.db");
  EXPECT_EQ(server.MapPath("..\\data\\office.db"), root / "data/office.db");
  EXPECT_EQ(server.MapPath("/tarvo/data/office.db"), root / "data/office.db");
  EXPECT_EQ(server.MapPath("\\tarvo\\data\\office.db"), root / "data/office.db");
  EXPECT_EQ(server.MapPath("/data/office.db"), root / "data/office.db");
  EXPECT_EQ(server.MapPath("/tarvo"), root);
  EXPECT_EQ(server.MapPath("/"), root);
  EXPECT_EQ(server.MapPath(""), root / "sub");
  EXPECT_EQ(server.MapPath("./a/./b/../c.txt"), root / "sub/a/c.txt");
  for (const char* out : {"../../etc/passwd", "..\\..\\app.conf", "/tarvo/../x", "/../x",
                          "a/../../../x", "\\..\\x"}) {
    EXPECT_EQ(code_of([&] { server.MapPath(out); }), Errc::forbidden) << out;
  }
}

TEST(Registry, ComponentsAndPagesByName) {
  PageFixture f;
  f.registry.add_component<Thing>("Thing");
  f.registry.add_component<Other>("other");
  EXPECT_EQ(code_of([&] { f.registry.add_component<Other>("THING"); }), Errc::internal);

  {
    auto thing = f.ctx->server().CreateObject<Thing>("deskserver.THING");
    EXPECT_TRUE(thing->started());
    EXPECT_EQ(thing->where(), "/tarvo/sub/page.asp");
  }
  auto plain = f.ctx->server().CreateObject("deskserver.other");
  EXPECT_TRUE(plain->started());
  EXPECT_EQ(code_of([&] { f.ctx->server().CreateObject("deskserver.nothing"); }), Errc::not_found);
  EXPECT_EQ(code_of([&] { f.ctx->server().CreateObject<Thing>("deskserver.other"); }),
            Errc::internal);

  f.registry.add_page({"Login.asp", [](asp::ScriptingContext&) {}, asp::Access::open});
  EXPECT_EQ(code_of([&] { f.registry.add_page({"login.ASP", nullptr}); }), Errc::internal);
  ASSERT_NE(f.registry.page("LOGIN.asp"), nullptr);
  EXPECT_EQ(f.registry.page("login.asp")->access, asp::Access::open);
  EXPECT_EQ(f.registry.page("main.asp"), nullptr);
}

TEST(Metabase, SaveAndLoadRoundTrip) {
  TempDir tmp;
  asp::VirtualDir a;
  a.name = "tarvo";
  a.path = tmp.path / "办公";
  asp::VirtualDir b;
  b.name = "law";
  b.path = "/srv/law";
  b.default_documents = {"index.htm"};
  b.read = false;
  b.script = false;
  b.write = true;
  b.in_process = false;
  asp::save_metabase(tmp.path / "metabase.json", {a, b});
  auto dirs = asp::load_metabase(tmp.path / "metabase.json");
  ASSERT_EQ(dirs.size(), 2u);
  EXPECT_EQ(dirs[0].name, "tarvo");
  EXPECT_EQ(dirs[0].path, a.path);
  EXPECT_EQ(dirs[0].default_documents, a.default_documents);
  EXPECT_TRUE(dirs[0].read && dirs[0].script && !dirs[0].write && dirs[0].in_process);
  EXPECT_EQ(dirs[1].path, "/srv/law");
  EXPECT_EQ(dirs[1].default_documents, std::vector<std::string>{"index.htm"});
  EXPECT_TRUE(!dirs[1].read && !dirs[1].script && dirs[1].write && !dirs[1].in_process);
  // Written through the site's lock and a rename: nothing is left beside it.
  for (const auto& e : fs::directory_iterator(tmp.path)) {
    std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "metabase.json" || name == "metabase.json.lock") << name;
  }

  EXPECT_TRUE(asp::load_metabase(tmp.path / "none.json").empty());
  for (const char* bad : {"{not json", R"([{"path": "/x"}])", R"({"vdirs": 3})"}) {
    { std::ofstream(tmp.path / "bad.json") << bad; }
    EXPECT_EQ(code_of([&] { asp::load_metabase(tmp.path / "bad.json"); }), Errc::config) << bad;
  }
}

// The number of the MetabaseError `f` throws.
long number_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const asp::MetabaseError& e) {
    return e.number();
  }
  ADD_FAILURE() << "no metabase error thrown";
  return 0;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Metabase, AdministrationObjectsChangeOnlyTheirOwnDirectory) {
  TempDir tmp;
  const fs::path file = tmp.path / "metabase.json";
  // A file of an older form: the site's binding, an entry with an access
  // object, and a key this code does not know.
  std::ofstream(file) << R"({"host": "0.0.0.0", "port": 80, "note": "kept", "vdirs": [
      {"name": "Old", "path": "/srv/old", "access": {"read": true, "script": false},
       "in_process": false}]})";
  const std::string_view cls = asp::kVirtualDirClass;
  asp::MetabaseRoot root(file);
  asp::MetabaseDir d = root.Create(cls, "tarvo");
  asp::MetabaseDir rival = root.Create(cls, "TARVO");
  d.AppCreate(true);
  d.Put("path", "/srv/tarvo"s);  // property names ignore case
  d.Put("AccessFlags", 535LL);
  d.SetInfo();
  EXPECT_EQ(number_of([&] { rival.SetInfo(); }), asp::kMetabaseExists);
  EXPECT_EQ(number_of([&] { root.Create(cls, "old").SetInfo(); }), asp::kMetabaseExists);

  asp::MetabaseDir got = root.GetObject(cls, "TARVO");
  EXPECT_EQ(got.name(), "tarvo");
  EXPECT_EQ(std::get<std::string>(got.Get("AppRoot")), "/LM/W3SVC/1/Root/tarvo");
  EXPECT_EQ(std::get<long long>(got.Get("AppIsolated")), 0);
  EXPECT_EQ(std::get<std::string>(got.Get("Path")), "/srv/tarvo");

  asp::MetabaseContents site = asp::read_metabase(file);
  EXPECT_EQ(site.binding.host, "0.0.0.0");
  EXPECT_EQ(site.binding.port, 80);
  ASSERT_EQ(site.dirs.size(), 2u);
  EXPECT_TRUE(site.dirs[0].read && !site.dirs[0].script && !site.dirs[0].in_process);
  EXPECT_EQ(site.dirs[1].path, "/srv/tarvo");
  EXPECT_TRUE(site.dirs[1].read && site.dirs[1].script && site.dirs[1].in_process);
  EXPECT_NE(slurp(file).find(R"("note": "kept")"), std::string::npos);

  const struct {
    const char* what;
    std::function<void()> step;
    long number;
  } refusals[] = {
      {"unknown property", [&] { got.Put("Colour", "red"s); }, asp::kMetabaseBadProperty},
      {"text for a number", [&] { got.Put("AccessFlags", "535"s); }, asp::kMetabaseBadProperty},
      {"number for text", [&] { got.Put("Path", 1LL); }, asp::kMetabaseBadProperty},
      {"other class", [&] { root.Create("IIsWebServer", "x"); }, asp::kMetabaseBadProperty},
      {"name with a slash", [&] { root.Create(cls, "a/b"); }, asp::kMetabaseBadProperty},
      {"no such directory", [&] { root.GetObject(cls, "none"); }, asp::kMetabaseNotFound},
      {"property not set", [&] { root.GetObject(cls, "old").Get("AppRoot"); },
       asp::kMetabaseNotFound},
  };
  const std::string before = slurp(file);
  for (const auto& r : refusals) EXPECT_EQ(number_of(r.step), r.number) << r.what;
  EXPECT_EQ(slurp(file), before);

  // A damaged file is reported and never overwritten.
  std::ofstream(file, std::ios::trunc) << "{damaged";
  EXPECT_EQ(number_of([&] { root.Create(cls, "new").SetInfo(); }), asp::kMetabaseUnreachable);
  EXPECT_EQ(slurp(file), "{damaged");
}

}  // namespace
}  // namespace desk
