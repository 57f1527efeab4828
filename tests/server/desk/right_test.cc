// The desk page: its four panels, clock-in and clock-out, and the half-day
// records of the full edition.
#include <gtest/gtest.h>

#include "server/desk/right.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using deskpages::Right;
using testing::Browser;
using testing::TestApp;
using testing::text_of;

// Text between the first `from` and the next `to` after it; "" when missing.
std::string between(const std::string& s, const std::string& from, const std::string& to) {
  size_t a = s.find(from);
  if (a == std::string::npos) return "";
  a += from.size();
  size_t b = s.find(to, a);
  return b == std::string::npos ? "" : s.substr(a, b - a);
}

size_t count_of(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

void add_item(TestApp& app, const std::string& user, const std::string& title,
              const std::string& applytime, int status = 0) {
  app.db().exec(
      "INSERT INTO newwork (userid, title, url, baseid, applytime, typed, status) "
      "VALUES (?, ?, 'hegao.asp', 7, ?, '核稿', ?)",
      {user, title, applytime, status});
}

// The attendance panel, from its background to the end of its buttons.
std::string attendance_of(const std::string& page) {
  return between(page, "images/rsign.gif", "images/rnews.gif");
}

bool start_enabled(const std::string& page) {
  return between(page, "name='startwork'", "src=").find("disabled") == std::string::npos;
}
bool end_enabled(const std::string& page) {
  return between(page, "name='Submit2'", "src=").find("disabled") == std::string::npos;
}

struct Desk : ::testing::Test {
  TestApp app;
  Browser b{app};
  void SetUp() override {
    app.add_user("zhang", "张伟", "pw");
    ASSERT_TRUE(b.login("zhang", "pw"));
  }
  std::string desk() { return text_of(b.get("right.asp")); }
  std::string post(const std::string& flag) {
    return testing::post_and_follow(b, "right.asp", {{"flag", flag}, {"startwork.x", "3"}});
  }
};

TEST_F(Desk, PageFrameHeadScriptAndPanelsInOrder) {
  std::string page = desk();
  EXPECT_EQ(
      page.rfind("<html><head><meta http-equiv='refresh' content='1800;url=right.asp'>"
                 "<link rel='stylesheet' href='apply.css' type='text/css'>"
                 "<title>tarvo网络办公自动化</title></head><body leftmargin='0' topmargin='0' "
                 "marginwidth='0' marginheight='0' oncontextmenu='return false'>"
                 "<script language='javascript' src='apply.js'></script>"
                 "<form name='form' method='post' action='right.asp'>",
                 0),
      0u);
  size_t work = page.find("images/rwork.gif"), mail = page.find("images/remail.gif"),
         sign = page.find("images/rsign.gif"), news = page.find("images/rnews.gif");
  ASSERT_NE(news, std::string::npos);
  EXPECT_LT(work, mail);
  EXPECT_LT(mail, sign);
  EXPECT_LT(sign, news);
  EXPECT_NE(page.find("<script language='JavaScript'>marquee1();</script>"), std::string::npos);
  // The form ends with its once-only token.
  EXPECT_NE(page.find("</table></td><td></td></tr></table><input type='hidden' name='formtoken'"),
            std::string::npos);
  EXPECT_TRUE(page.ends_with(
      "'></form></body></html><script language='javascript' src='guard.js'></script>"));
}

TEST_F(Desk, WithoutLoginGoesToTheLoginPage) {
  Browser stranger(app);
  auto r = stranger.get("right.asp");
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(testing::header(r, "Location"), "/tarvo/default.htm");
}

TEST_F(Desk, PendingWorkCountsEveryDateAndListsTodayWithExclusiveBounds) {
  add_item(app, "zhang", "昨天的公文", "2006-12-02 23:59:59");
  add_item(app, "zhang", "零点整的公文", "2006-12-03 00:00:00");
  add_item(app, "zhang", "早上的公文", "2006-12-03 00:00:01");
  add_item(app, "zhang", "晚上的公文", "2006-12-03 23:59:59");
  add_item(app, "zhang", "明天零点", "2006-12-04 00:00:00");
  add_item(app, "zhang", "已办的公文", "2006-12-03 10:00:00", 1);
  add_item(app, "li", "别人的公文", "2006-12-03 10:00:00");
  std::string page = desk();

  EXPECT_NE(page.find("<a href='newwork.asp' class='aapply'>您共有<font class=numberbold>5"
                      "</font>项待办的工作</a>"),
            std::string::npos);
  std::string list = between(page, "<tr> <td height='22' class='10blue'>", "</td>");
  // Newest first; titles cut to six characters.
  EXPECT_EQ(list,
            "<a href='hegao.asp?flowid=7&nwid=4' class=aapply>[核稿]晚上的公文</a><br>"
            "<a href='hegao.asp?flowid=7&nwid=3' class=aapply>[核稿]早上的公文</a><br>");
}

TEST_F(Desk, PendingTitlesAreCutAndEscaped) {
  add_item(app, "zhang", "一二三四五六", "2006-12-03 09:00:00");
  add_item(app, "zhang", "一二三四五六七", "2006-12-03 10:00:00");
  add_item(app, "zhang", "<b>&", "2006-12-03 11:00:00");
  std::string list = between(desk(), "<tr> <td height='22' class='10blue'>", "</td>");
  EXPECT_NE(list.find("]&lt;b&gt;&amp;</a>"), std::string::npos);
  EXPECT_NE(list.find("]一二三四五六…</a>"), std::string::npos);
  EXPECT_NE(list.find("]一二三四五六</a>"), std::string::npos);
}

TEST_F(Desk, FiveUnreadMailsShowFourLinesAndTheCountFive) {
  for (int i = 1; i <= 5; ++i)
    app.db().exec("INSERT INTO mail (topeopleid, title, status) VALUES ('zhang', ?, 0)",
                  {"邮件" + std::to_string(i)});
  app.db().exec("INSERT INTO mail (topeopleid, title, status) VALUES ('zhang', '已读', 1)");
  app.db().exec("INSERT INTO mail (topeopleid, title, status) VALUES ('li', '别人的', 0)");
  app.db().exec(
      "INSERT INTO mail (topeopleid, title, status) VALUES ('zhang', '一二三四五六七八九十甲乙丙', "
      "2)");
  std::string page = desk();
  EXPECT_NE(page.find("<a href='mailbox.asp' class=aapply>收件箱</a>[<font class=numberbold>5/7"
                      "</font>]"),
            std::string::npos);
  std::string mail = between(page, "images/remail.gif", "images/rsign.gif");
  EXPECT_EQ(count_of(mail, "readmail.asp?id="), 4u);
  EXPECT_NE(mail.find("<a href='readmail.asp?id=5' class=aapply>邮件5</a>"), std::string::npos);
  EXPECT_NE(mail.find("readmail.asp?id=2'"), std::string::npos);
  EXPECT_EQ(mail.find("readmail.asp?id=1'"), std::string::npos);
}

TEST_F(Desk, MailTitlesAreCutToTwelveCharacters) {
  app.db().exec(
      "INSERT INTO mail (topeopleid, title) VALUES ('zhang', '一二三四五六七八九十甲乙丙')");
  EXPECT_NE(desk().find("class=aapply>一二三四五六七八九十甲乙…</a>"), std::string::npos);
}

TEST_F(Desk, NoticesShowTheFiveNewestWithReadings) {
  for (int i = 1; i <= 6; ++i)
    app.db().exec(
        "INSERT INTO news (title, clicknum, senddate, sendtime) VALUES (?, ?, '2006-12-01', "
        "'2006-12-01 09:00:00')",
        {"公告" + std::to_string(i), i * 10});
  app.db().exec(
      "INSERT INTO news (title, senddate, sendtime) VALUES ('一二三四五六七八九十甲', "
      "'2006-12-01', '2006-12-01 09:00:00')");
  std::string news = between(desk(), "images/rnews.gif", "notice.asp");
  EXPECT_EQ(count_of(news, "news.asp?id="), 5u);
  EXPECT_NE(news.find("<a href='news.asp?id=7' class='aapply' onClick='return "
                      "OpenWindows(this.href)'>一二三四五六七八九十…[0次]</a>"),
            std::string::npos);
  EXPECT_NE(news.find(">公告6[60次]</a>"), std::string::npos);
  EXPECT_EQ(news.find("公告2"), std::string::npos);
}

TEST_F(Desk, ClockInThenClockOut) {
  std::string before = desk();
  EXPECT_NE(attendance_of(before).find("<td class=10blue>张伟:</td></tr><tr height=30><td "
                                       "class=10blue>&nbsp;&nbsp;&nbsp;&nbsp;您今天还没有签到!"),
            std::string::npos);
  EXPECT_TRUE(start_enabled(before));
  EXPECT_FALSE(end_enabled(before));

  std::string in = post("timestart");
  // The post is answered with a redirect; the desk after it announces it once.
  EXPECT_NE(in.find("<script language=javascript>alert('签到成功')</script>"), std::string::npos);
  EXPECT_EQ(desk().find("alert("), std::string::npos);
  auto rows = app.db().query("SELECT uid, workday, timestart, timeend, type FROM worktime");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.front().text("uid"), "zhang");
  EXPECT_EQ(rows.front().text("workday"), "2006-12-03");
  EXPECT_EQ(rows.front().text("timestart"), "15:30:45");
  EXPECT_EQ(rows.front().text("timeend"), "");
  EXPECT_TRUE(rows.front()["type"].is_null());
  // Clocked in only: the name has no colon.
  EXPECT_NE(attendance_of(in).find("<td class=10blue>张伟</td></tr><tr height=30><td "
                                   "class=10blue>&nbsp;&nbsp;&nbsp;&nbsp;您今天15:30:45签到</td>"),
            std::string::npos);
  EXPECT_FALSE(start_enabled(in));
  EXPECT_TRUE(end_enabled(in));

  app.clock().set(DateTime{2006, 12, 3, 17, 45, 2});
  std::string out = post("timeend");
  EXPECT_NE(out.find("<script language=javascript>alert('退签成功')</script>"), std::string::npos);
  EXPECT_EQ(app.db().scalar("SELECT timeend FROM worktime"), "17:45:02");
  EXPECT_NE(attendance_of(out).find("张伟:</td></tr><tr height=30><td class=10blue>&nbsp;&nbsp;"
                                    "&nbsp;&nbsp;您今天15:30:45签到</td></tr><tr height=17><td "
                                    "class=10blue>&nbsp;&nbsp;&nbsp;&nbsp;17:45:02退签"),
            std::string::npos);
  EXPECT_FALSE(start_enabled(out));
  EXPECT_FALSE(end_enabled(out));

  // A new day starts again without a clock-in.
  app.clock().set(DateTime{2006, 12, 4, 8, 0, 0});
  EXPECT_TRUE(start_enabled(desk()));
}

TEST_F(Desk, ClockOutWithoutClockInWritesNothingAndDrawsTheDesk) {
  app.db().exec(
      "INSERT INTO worktime (uid, workday, timestart) VALUES ('zhang', '2006-12-02', '08:00:00')");
  app.db().exec(
      "INSERT INTO worktime (uid, workday, timestart) VALUES ('li', '2006-12-03', '08:00:00')");
  std::string page = testing::post_and_follow(b, "right.asp", {{"flag", "timeend"}});
  EXPECT_EQ(page.find("alert("), std::string::npos);
  EXPECT_NE(page.find("您今天还没有签到!"), std::string::npos);
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM worktime WHERE timeend <> ''"), "0");
}

TEST_F(Desk, OnlyPostsClockInAndOut) {
  std::string page = text_of(b.get("right.asp?flag=timestart"));
  EXPECT_EQ(page.find("alert("), std::string::npos);
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM worktime"), "0");
}

TEST_F(Desk, TimesAreWrittenInTheRegionalFormat) {
  app.env().config.regional.time_pattern = "H时M分S秒";
  post("timestart");
  EXPECT_EQ(app.db().scalar("SELECT timestart FROM worktime"), "15:30:45");
  EXPECT_NE(attendance_of(desk()).find("您今天15时30分45秒签到"), std::string::npos);
}

TEST(DeskName, ScriptInTheDisplayNameIsEscaped) {
  TestApp app;
  app.add_user("x", "<script>alert(1)</script>", "pw");
  Browser b(app);
  ASSERT_TRUE(b.login("x", "pw"));
  std::string page = text_of(b.get("right.asp"));
  EXPECT_EQ(page.find("<script>alert(1)"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;:"), std::string::npos);
}

struct FullDesk : ::testing::Test {
  static asp::AppConfig full() {
    asp::AppConfig c;
    c.variant = "full";
    return c;
  }
  TestApp app{full()};
  Browser b{app};
  void SetUp() override {
    app.add_user("zhang", "张伟", "pw");
    ASSERT_TRUE(b.login("zhang", "pw"));
  }
  std::string post(const std::string& flag) {
    return testing::post_and_follow(b, "right.asp", {{"flag", flag}});
  }
};

TEST_F(FullDesk, HalfDayChangesAfterTwelveThirty) {
  app.clock().set(DateTime{2006, 12, 3, 12, 30, 59});
  post("timestart");
  app.clock().set(DateTime{2006, 12, 3, 12, 31, 0});
  std::string afternoon = text_of(b.get("right.asp"));
  // The morning row does not count for the afternoon.
  EXPECT_NE(attendance_of(afternoon).find("您今天还没有签到!"), std::string::npos);
  post("timestart");
  auto rows = app.db().query("SELECT timestart, type FROM worktime ORDER BY id");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.rows[0].text("timestart"), "12:30:59");
  EXPECT_EQ(rows.rows[0].integer("type"), 1);
  EXPECT_EQ(rows.rows[1].text("timestart"), "12:31:00");
  EXPECT_EQ(rows.rows[1].integer("type"), 2);

  app.clock().set(DateTime{2006, 12, 3, 11, 59, 0});
  post("timestart");
  app.clock().set(DateTime{2006, 12, 3, 13, 0, 0});
  post("timestart");
  EXPECT_EQ(app.db().scalar(
                "SELECT group_concat(type, ',') FROM (SELECT type FROM worktime ORDER BY id)"),
            "1,2,1,2");
}

TEST_F(FullDesk, ClockOutClosesOnlyTheCurrentHalfDay) {
  app.clock().set(DateTime{2006, 12, 3, 8, 30, 0});
  post("timestart");
  app.clock().set(DateTime{2006, 12, 3, 14, 0, 0});
  // No afternoon clock-in yet: nothing is written.
  std::string page = post("timeend");
  EXPECT_EQ(page.find("alert("), std::string::npos);
  EXPECT_EQ(app.db().scalar("SELECT timeend FROM worktime"), "");

  post("timestart");
  app.clock().set(DateTime{2006, 12, 3, 17, 30, 0});
  page = post("timeend");
  EXPECT_NE(page.find("alert('退签成功')"), std::string::npos);
  EXPECT_EQ(
      app.db().scalar(
          "SELECT group_concat(timeend, ',') FROM (SELECT timeend FROM worktime ORDER BY id)"),
      ",17:30:00");
  EXPECT_NE(attendance_of(page).find("您今天14:00:00签到"), std::string::npos);
}

TEST(DeskVariant, SimpleEditionDrawsTheSameDesk) {
  asp::AppConfig c;
  c.variant = "simp";
  TestApp app(c);
  app.add_user("zhang", "张伟", "pw");
  Browser b(app);
  ASSERT_TRUE(b.login("zhang", "pw"));
  std::string page = testing::post_and_follow(b, "right.asp", {{"flag", "timestart"}});
  EXPECT_NE(page.find("alert('签到成功')"), std::string::npos);
  EXPECT_TRUE(app.db().query("SELECT type FROM worktime").front()["type"].is_null());
}

TEST(Timeplus, MinutesBetweenTimesOfDay) {
  std::string begin = "9:05:00", end = "17:30:00";
  EXPECT_EQ(Right::timeplus(begin, end), 505);
  EXPECT_EQ(begin, "09:05:00");  // the caller's text is padded
  EXPECT_EQ(end, "17:30:00");

  begin = "08:00:00";
  end = "07:30:00";
  EXPECT_EQ(Right::timeplus(begin, end), -30);

  begin = "08:00:59";
  end = "8:01:00";
  EXPECT_EQ(Right::timeplus(begin, end), 1);  // seconds do not count

  begin = "late";
  end = "08:00:00";
  EXPECT_THROW(Right::timeplus(begin, end), Error);
}

}  // namespace
}  // namespace desk
