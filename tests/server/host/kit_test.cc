// The page kit: once-only form tokens, refusals, the form guard, every page
// and menu link reachable, the not-found page and the site's icon.
#include "server/host/kit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::header;
using testing::TestApp;
using testing::text_of;

struct Kit {
  TestApp app;
  Browser b{app};
  Kit() {
    app.add_user("zhang", "张伟", "pw", "2");
    EXPECT_TRUE(b.login("zhang", "pw"));
  }
  std::string count(const std::string& table) {
    return app.db().scalar("SELECT COUNT(*) FROM " + table);
  }
};

// A form posted twice with one token writes once; a refused post gives its
// token back so the corrected form can be sent; a post without a token
// issued to this session is refused.
TEST(FormToken, EachTokenWritesOnce) {
  Kit k;
  const std::string token = k.b.form_token();
  auto first = k.b.post("right.asp", {{"flag", "timestart"}, {"formtoken", token}});
  EXPECT_EQ(first.status, 302);
  auto again = k.b.post("right.asp", {{"flag", "timestart"}, {"formtoken", token}});
  EXPECT_EQ(again.status, 409);
  EXPECT_NE(text_of(again).find("已经提交过"), std::string::npos);
  EXPECT_EQ(k.count("worktime"), "1");

  for (const std::string& stale : {std::string(""), std::string("0123456789abcdef")}) {
    auto r = k.b.post("right.asp", {{"flag", "timeend"}, {"formtoken", stale}});
    EXPECT_EQ(r.status, 400) << stale;
    EXPECT_NE(text_of(r).find("表单已经失效"), std::string::npos);
  }
  EXPECT_EQ(k.app.db().scalar("SELECT timeend FROM worktime"), "");

  // A refusal leaves the token usable: the mail form without a recipient,
  // then with one.
  k.app.add_user("li", "李四", "pw");
  const std::string mail = k.b.form_token();
  auto refused = k.b.post("writemail.asp", {{"title", "t"}, {"formtoken", mail}});
  EXPECT_EQ(refused.status, 400);
  auto sent =
      k.b.post("writemail.asp", {{"title", "t"}, {"hiddenselect", "li;"}, {"formtoken", mail}});
  EXPECT_EQ(sent.status, 200);
  EXPECT_EQ(k.count("mail"), "1");
}

// Tokens belong to the session that was given them.
TEST(FormToken, AnotherSessionsTokenIsRefused) {
  Kit k;
  k.app.add_user("li", "李四", "pw");
  Browser li(k.app);
  ASSERT_TRUE(li.login("li", "pw"));
  auto r = li.post("right.asp", {{"flag", "timestart"}, {"formtoken", k.b.form_token()}});
  EXPECT_EQ(r.status, 400);
  EXPECT_EQ(k.count("worktime"), "0");
}

TEST(Kit, PagesWithAFormGetTheGuardThatSendsThemOnce) {
  Kit k;
  const std::string guard = "<script language='javascript' src='guard.js'></script>";
  EXPECT_NE(text_of(k.b.get("writemail.asp")).find(guard), std::string::npos);
  EXPECT_EQ(text_of(k.b.get("notice.asp")).find(guard), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(DESK_SITE_DIR) / "guard.js"));
}

TEST(Kit, TypedDatesAreStoredInOneForm) {
  struct Case {
    std::string typed, stored;
  };
  for (const Case& c : std::vector<Case>{{"2026-12-7", "2026-12-07"},
                                         {"2026/12/7", "2026-12-07"},
                                         {"2026.12.07", "2026-12-07"},
                                         {"2026年12月7日", "2026-12-07"},
                                         {" 2026年1月31日 ", "2026-01-31"},
                                         {"", ""}})
    EXPECT_EQ(host::typed_date(c.typed, "日期"), c.stored) << c.typed;
  for (const char* bad : {"2026-13-1", "2026年2月30日", "明天", "2026-12"}) {
    try {
      host::typed_date(bad, "来文时间");
      ADD_FAILURE() << bad;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), Errc::bad_request);
      EXPECT_NE(std::string(e.what()).find("来文时间"), std::string::npos);
    }
  }
}

// No registered page and no menu entry leads to the host's not-found page.
TEST(Kit, EveryPageAndMenuLinkExists) {
  Kit k;
  const std::string missing = "找不到该页面";
  std::set<std::string> targets;
  for (const std::string& name : k.app.registry().page_names()) targets.insert(name);
  std::string menu = text_of(k.b.get("left.asp"));
  std::regex link("href='([a-z0-9]+\\.asp)'");
  int links = 0;
  for (auto it = std::sregex_iterator(menu.begin(), menu.end(), link); it != std::sregex_iterator();
       ++it, ++links)
    targets.insert((*it)[1]);
  EXPECT_GE(links, 18);
  for (const std::string& page : targets) {
    if (page == "quit.asp") continue;  // ends the session the walk uses
    auto r = k.b.get(page);
    EXPECT_FALSE(r.status == 404 && text_of(r).find(missing) != std::string::npos) << page;
  }
  EXPECT_TRUE(k.b.get("quit.asp").status == 302);
}

TEST(Kit, NotFoundPageHasTheSiteChromeAndWaysBack) {
  Kit k;
  auto r = k.b.get("nosuchpage.asp");
  EXPECT_EQ(r.status, 404);
  std::string page = text_of(r);
  EXPECT_NE(page.find("找不到该页面"), std::string::npos);
  EXPECT_NE(page.find("href='/tarvo/apply.css'"), std::string::npos);
  EXPECT_NE(page.find("history.go(-1)"), std::string::npos);
  EXPECT_NE(page.find("href='/tarvo/'"), std::string::npos);
  EXPECT_EQ(k.b.get("images/none.gif").status, 404);

  // The icon browsers ask for at the root of the address.
  std::ifstream in(std::filesystem::path(DESK_SITE_DIR) / "favicon.ico", std::ios::binary);
  k.app.write_file("favicon.ico", std::string(std::istreambuf_iterator<char>(in), {}));
  auto icon = k.app.send(k.app.make("GET", "/favicon.ico"));
  EXPECT_EQ(icon.status, 200);
  EXPECT_EQ(header(icon, "Content-Type"), "image/x-icon");
  EXPECT_EQ(icon.body.substr(0, 4), std::string("\0\0\1\0", 4));
}

}  // namespace
}  // namespace desk
