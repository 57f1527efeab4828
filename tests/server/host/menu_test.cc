// The navigation menu: its entries, the work indicator and its script.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::TestApp;
using testing::text_of;

const char* const kWaiting = "<img id='cat' src='images/logo.gif'";
const char* const kIdle = "<img id='cat' src='images/logo1.gif'";

struct Menu {
  TestApp app;
  Browser b{app};
  explicit Menu(const std::string& uid = "zhang", const std::string& type = "1") {
    app.add_user(uid, "张伟", "pw", type);
    EXPECT_TRUE(b.login(uid, "pw"));
  }
  std::string page() { return text_of(b.get("left.asp")); }
  // Which sprite the menu shows; fails on anything else.
  bool waiting() {
    std::string p = page();
    bool lit = p.find(kWaiting) != std::string::npos;
    bool idle = p.find(kIdle) != std::string::npos;
    EXPECT_NE(lit, idle) << "exactly one sprite expected";
    return lit;
  }
};

TEST(Menu, NineteenEntriesInFiveGroupsInOrder) {
  Menu m;
  std::string page = m.page();

  using Entry = std::tuple<int, std::string, std::string, std::string>;  // group, label, link, icon
  std::vector<Entry> expected = {
      {1, "公告牌", "right.asp", "005.gif"},       {1, "交流园地", "bbs.asp", "007.gif"},
      {1, "共享资源", "sharemore.asp", "027.gif"}, {1, "日常信息", "dailyinf.asp", "016.gif"},
      {2, "发文拟稿", "fawen.asp", "024.gif"},     {2, "收文登记", "swdengji1.asp", "027.gif"},
      {2, "流程跟踪", "flowlist.asp", "013.gif"},  {2, "公文查询", "findwork.asp", "022.gif"},
      {3, "待办事宜", "newwork.asp", "025.gif"},   {3, "会议安排", "meetinglist.asp", "002.gif"},
      {3, "事务申请", "shenqing.asp", "014.gif"},  {3, "申请跟踪", "applygz.asp", "20.gif"},
      {4, "通讯录", "phonelist.asp", "001.gif"},   {4, "个人安排", "planlist.asp", "028.gif"},
      {4, "个人日历", "calender.asp", "003.gif"},  {4, "手机短信", "phone.asp", "21.gif"},
      {5, "个人设置", "personmsg.asp", "019.gif"}, {5, "系统维护", "system.asp", "018.gif"},
      {5, "退出系统", "quitoa", "017.gif"},
  };

  // Where each group's header and entry table start.
  std::vector<size_t> child_at;
  for (int g = 1; g <= 5; ++g) {
    size_t parent = page.find("id='parent" + std::to_string(g) + "'");
    size_t child = page.find("id='child" + std::to_string(g) + "'");
    ASSERT_NE(parent, std::string::npos) << g;
    ASSERT_NE(child, std::string::npos) << g;
    EXPECT_LT(parent, child);
    EXPECT_NE(
        page.find("<td onClick=javascript:expand('" + std::to_string(g) + "') style='cursor:hand'>",
                  parent),
        std::string::npos);
    EXPECT_NE(page.find("background='images/left00" + std::to_string(g) + ".gif'", parent),
              std::string::npos);
    child_at.push_back(child);
  }

  std::regex button(
      R"(<a href='([^']*)'( target=right| onClick='return quitoa\(\)')><img align=middle )"
      R"(alt='([^']*)' border=0 src='images/([^']*)')");
  std::vector<Entry> found;
  for (std::sregex_iterator it(page.begin(), page.end(), button), end; it != end; ++it) {
    size_t pos = it->position();
    int group = 0;
    for (size_t g = 0; g < child_at.size(); ++g)
      if (pos > child_at[g]) group = static_cast<int>(g) + 1;
    bool quit = (*it)[2].str() != " target=right";
    if (quit) {
      EXPECT_EQ((*it)[1].str(), "#");
    }
    found.emplace_back(group, (*it)[3], quit ? "quitoa" : (*it)[1].str(), (*it)[4]);
    // The label is written again under its button.
    EXPECT_NE(
        page.find("<tr><td height='26'><div align='center'>" + (*it)[3].str() + "</div>", pos),
        std::string::npos)
        << (*it)[3];
  }
  EXPECT_EQ(found, expected);
}

TEST(Menu, EveryLinkOpensAPage) {
  Menu m("boss", "2");  // an administrator, who may also open the system tools
  std::string page = m.page();
  std::regex link(R"(<a href='([^'#]+)' target=right>)");
  int links = 0;
  for (std::sregex_iterator it(page.begin(), page.end(), link), end; it != end; ++it) {
    ++links;
    EXPECT_EQ(m.b.get((*it)[1]).status, 200) << (*it)[1];
  }
  EXPECT_EQ(links, 18);
}

TEST(Menu, PageFrameAndScript) {
  Menu m;
  std::string page = m.page();
  EXPECT_EQ(page.rfind("<html><head><style type='text/css'>", 0), 0u);
  EXPECT_NE(page.find("<title>TARVO网络办公系统</title></head>"), std::string::npos);
  EXPECT_NE(page.find("<link rel='stylesheet' href='style.css' type='text/css'>"),
            std::string::npos);
  EXPECT_NE(page.find("background='images/leftback.jpg' oncontextmenu='return false'>"),
            std::string::npos);
  // The indicator ends the menu; the script comes after the markup it works on.
  size_t end = page.find("</div></td></tr></table></td></tr></table>");
  size_t script = page.find("<script language='javascript' src='menu.js'></script>");
  ASSERT_NE(end, std::string::npos);
  ASSERT_NE(script, std::string::npos);
  EXPECT_LT(page.find("id='cat'"), end);
  EXPECT_LT(end, script);
}

TEST(Menu, ScriptDefinesEveryFunctionTheMarkupCalls) {
  Menu m;
  std::string page = m.page();
  std::ifstream in(std::filesystem::path(DESK_SITE_DIR) / "menu.js");
  std::ostringstream buf;
  buf << in.rdbuf();
  std::string js = buf.str();
  ASSERT_FALSE(js.empty());

  std::regex call(R"((?:onClick|onMouse\w+)=(?:javascript:)?'?(?:return )?(\w+)\()");
  std::set<std::string> called;
  for (std::sregex_iterator it(page.begin(), page.end(), call), end; it != end; ++it)
    called.insert((*it)[1]);
  EXPECT_EQ(called, (std::set<std::string>{"expand", "mouseDown", "mouseOut", "mouseOver",
                                           "mouseUp", "quitoa"}));
  for (const auto& f : called) EXPECT_NE(js.find("function " + f + "("), std::string::npos) << f;
  // Logging out asks first and leaves the whole window, not only the menu frame.
  EXPECT_NE(js.find("confirm('确定要退出系统吗？')"), std::string::npos);
  EXPECT_NE(js.find("top.location = 'quit.asp'"), std::string::npos);
  EXPECT_EQ(js.find("document.all"), std::string::npos);
}

TEST(MenuIndicator, OpenWorkOrUnreadMailLightsTheSprite) {
  {  // nothing at all
    Menu m;
    EXPECT_FALSE(m.waiting());
  }
  {  // one unread mail, no pending work
    Menu m;
    m.app.db().exec("INSERT INTO mail (topeopleid, title, status) VALUES ('zhang', 'x', 0)");
    EXPECT_TRUE(m.waiting());
  }
  {  // pending work, no mail
    Menu m;
    m.app.db().exec("INSERT INTO newwork (userid, title, status) VALUES ('zhang', 'x', 0)");
    EXPECT_TRUE(m.waiting());
  }
  {  // read mail and finished work do not count, nor other users' rows
    Menu m;
    m.app.db().exec("INSERT INTO mail (topeopleid, status) VALUES ('zhang', 1)");
    m.app.db().exec("INSERT INTO newwork (userid, status) VALUES ('zhang', 1)");
    m.app.db().exec("INSERT INTO newwork (userid, status) VALUES ('zhang', 2)");
    m.app.db().exec("INSERT INTO mail (topeopleid, status) VALUES ('li', 0)");
    m.app.db().exec("INSERT INTO newwork (userid, status) VALUES ('li', 0)");
    m.app.db().exec("INSERT INTO newwork (userid, status) VALUES ('zhang2', 0)");
    EXPECT_FALSE(m.waiting());
  }
}

TEST(MenuIndicator, TheSpriteFollowsTheRowsAtEachLoad) {
  Menu m;
  EXPECT_FALSE(m.waiting());
  auto id = m.app.db().insert("INSERT INTO mail (topeopleid, status) VALUES ('zhang', 0)");
  EXPECT_TRUE(m.waiting());
  m.app.db().exec("UPDATE mail SET status = 1 WHERE id = ?", {id});
  EXPECT_FALSE(m.waiting());
}

TEST(MenuIndicator, LoginIdWithQuotesIsMatchedExactly) {
  Menu m("x' OR '1'='1");
  m.app.db().exec("INSERT INTO newwork (userid, status) VALUES ('li', 0)");
  m.app.db().exec("INSERT INTO mail (topeopleid, status) VALUES ('li', 0)");
  EXPECT_FALSE(m.waiting());
  m.app.db().exec("INSERT INTO mail (topeopleid, status) VALUES (?, 0)", {"x' OR '1'='1"});
  EXPECT_TRUE(m.waiting());
}

}  // namespace
}  // namespace desk
