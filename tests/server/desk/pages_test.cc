// The pages the desk links to: all pending work, one notice, all notices.
#include <gtest/gtest.h>

#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::TestApp;
using testing::text_of;

struct DeskPages : ::testing::Test {
  static asp::AppConfig slashed_dates() {
    asp::AppConfig c;
    c.regional.date_pattern = "y/m/d";
    return c;
  }
  TestApp app{slashed_dates()};
  Browser b{app};
  void SetUp() override {
    app.add_user("zhang", "张伟", "pw");
    ASSERT_TRUE(b.login("zhang", "pw"));
  }
  void add_item(const std::string& user, const std::string& title, const std::string& applytime,
                int status = 0) {
    app.db().exec(
        "INSERT INTO newwork (userid, title, url, baseid, applytime, typed, status) "
        "VALUES (?, ?, 'shenhe.asp', 12, ?, '审核', ?)",
        {user, title, applytime, status});
  }
  std::int64_t add_news(const std::string& title, const std::string& content, int clicks) {
    return app.db().insert(
        "INSERT INTO news (title, content, clicknum, senddate, sendtime) "
        "VALUES (?, ?, ?, '2006-11-20', '2006-11-20 09:05:00')",
        {title, content, clicks});
  }
};

TEST_F(DeskPages, NewworkListsOnlyTheUsersOpenItemsNewestFirst) {
  add_item("zhang", "年度计划", "2006-10-01 08:00:00");
  add_item("zhang", "已办完", "2006-12-01 08:00:00", 1);
  add_item("li", "别人的", "2006-12-01 08:00:00");
  add_item("zhang", "<i>人事通知</i>", "2006-12-02 14:05:09");
  std::string page = text_of(b.get("newwork.asp"));

  EXPECT_EQ(page.rfind("<html><head><meta http-equiv='Content-Type' content='text/html; "
                       "charset=gb2312'><link rel='stylesheet' href='apply.css'",
                       0),
            0u);
  EXPECT_NE(page.find("<title>tarvo网络办公自动化</title>"), std::string::npos);
  EXPECT_NE(page.find("oncontextmenu='return false'"), std::string::npos);
  size_t newest = page.find(
      "<a href='shenhe.asp?flowid=12&nwid=4' class='aapply'>[审核]"
      "&lt;i&gt;人事通知&lt;/i&gt;</a>");
  size_t older = page.find("<a href='shenhe.asp?flowid=12&nwid=1' class='aapply'>[审核]年度计划");
  ASSERT_NE(newest, std::string::npos);
  ASSERT_NE(older, std::string::npos);
  EXPECT_LT(newest, older);
  EXPECT_NE(page.find("2006/12/2 14:05:09"), std::string::npos);
  EXPECT_EQ(page.find("已办完"), std::string::npos);
  EXPECT_EQ(page.find("别人的"), std::string::npos);
  EXPECT_NE(page.find("<font class=numberbold>2</font>"), std::string::npos);
}

TEST_F(DeskPages, NewworkWithoutItems) {
  add_item("li", "别人的", "2006-12-01 08:00:00");
  EXPECT_NE(text_of(b.get("newwork.asp")).find("您没有待办的工作。"), std::string::npos);
}

TEST_F(DeskPages, NewsCountsEachReadingAndShowsTheContentAsText) {
  auto id = add_news("放假<通知>", "元旦放假三天。\r\n请安排好工作。\n<script>x</script>", 4);
  std::string page = text_of(b.get("news.asp?id=" + std::to_string(id)));
  EXPECT_EQ(app.db().scalar("SELECT clicknum FROM news"), "5");
  EXPECT_NE(page.find("放假&lt;通知&gt;"), std::string::npos);
  EXPECT_NE(page.find("元旦放假三天。<br>请安排好工作。<br>&lt;script&gt;x&lt;/script&gt;"),
            std::string::npos);
  EXPECT_NE(page.find("2006/11/20 09:05:00"), std::string::npos);
  EXPECT_NE(page.find("[5次]"), std::string::npos);
  b.get("news.asp?id=" + std::to_string(id));
  EXPECT_EQ(app.db().scalar("SELECT clicknum FROM news"), "6");
}

TEST_F(DeskPages, NewsRefusesAMissingOrMalformedId) {
  auto id = add_news("通知", "内容", 0);
  for (std::string q :
       std::vector<std::string>{"news.asp?id=999", "news.asp", "news.asp?id=abc",
                                "news.asp?id=" + std::to_string(id) + "%20or%201=1"}) {
    auto r = b.get(q);
    EXPECT_EQ(r.status, 404) << q;
    EXPECT_NE(text_of(r).find("该公告不存在。"), std::string::npos) << q;
  }
  EXPECT_EQ(app.db().scalar("SELECT clicknum FROM news"), "0");
}

TEST_F(DeskPages, NoticeListsAllNoticesNewestFirstWithReadings) {
  add_news("第一条", "", 3);
  add_news("第二条", "", 0);
  std::string page = text_of(b.get("notice.asp"));
  size_t second = page.find(
      "<a href='news.asp?id=2' class='aapply' onClick='return OpenWindows(this.href)'>第二条</a>");
  size_t first = page.find("news.asp?id=1'");
  ASSERT_NE(second, std::string::npos);
  ASSERT_NE(first, std::string::npos);
  EXPECT_LT(second, first);
  EXPECT_NE(page.find("3次"), std::string::npos);
  EXPECT_NE(page.find("2006/11/20 09:05:00"), std::string::npos);
  EXPECT_NE(page.find("<script language='javascript' src='apply.js'></script>"), std::string::npos);
}

TEST_F(DeskPages, ListPagesNeedALogin) {
  Browser stranger(app);
  for (const char* p : {"newwork.asp", "news.asp?id=1", "notice.asp"})
    EXPECT_EQ(stranger.get(p).status, 302) << p;
}

TEST_F(DeskPages, SettingsPagesLeadToTheirToolsAndSystemIsForAdministrators) {
  auto own = b.get("personmsg.asp");
  EXPECT_EQ(own.status, 200);
  EXPECT_NE(text_of(own).find("href='mysign.asp'"), std::string::npos);
  // An ordinary user is stopped at the gate.
  auto refused = b.get("system.asp");
  EXPECT_EQ(refused.status, 302);
  EXPECT_EQ(testing::header(refused, "Location"), "powererror.htm");
  EXPECT_EQ(text_of(refused).find("templelist.asp"), std::string::npos);
  app.add_user("boss", "主任", "pw", "2");
  Browser admin(app);
  ASSERT_TRUE(admin.login("boss", "pw"));
  auto tools = admin.get("system.asp");
  EXPECT_EQ(tools.status, 200);
  EXPECT_NE(text_of(tools).find("href='templelist.asp'"), std::string::npos);
}

}  // namespace
}  // namespace desk
