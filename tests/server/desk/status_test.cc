// The status bar (rz.asp) with its reminders and sound, and personal plans:
// the plan page, one plan's edit page, deletion and the month calendar.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::header;
using testing::TestApp;
using testing::text_of;

constexpr const char* kSound = "<BGSOUND src=/tarvo/sound/remind.wav autostart=true loop=1>";

bool has(const std::string& s, const std::string& what) {
  return s.find(what) != std::string::npos;
}

struct StatusBar : ::testing::Test {
  TestApp app;
  Browser b{app};
  void SetUp() override { login(); }
  void login() {
    app.db().exec("DELETE FROM sysconfig");
    app.db().exec("INSERT INTO sysconfig (type, maxsize, soundpath) VALUES (1, 5000000, ?)",
                  {"/sound/remind.wav"});
    app.add_user("zhang", "张伟", "pw");
    ASSERT_TRUE(b.login("zhang", "pw"));
  }
  std::string bar() { return text_of(b.get("rz.asp")); }
  void at(int hour, int minute) { app.clock().set({2006, 12, 3, hour, minute, 0}); }
  std::int64_t plan(const std::string& plantime, const std::string& remindtime, int remind = 0,
                    const std::string& date = "2006-12-03", const std::string& uid = "zhang") {
    return app.db().insert(
        "INSERT INTO personplan (uid, content, plandate, plantime, remindtime, remind) "
        "VALUES (?, ?, ?, ?, ?, ?)",
        {uid, "开会<b>" + plantime, date, plantime, remindtime, remind});
  }
  void mail(std::int64_t id, int status = 0) {
    app.db().exec("INSERT INTO mail (id, topeopleid, title, status) VALUES (?, 'zhang', 't', ?)",
                  {id, status});
  }
};

TEST_F(StatusBar, KeepsItsMarkupAndAddsTheSoundElementReloadAndCounts) {
  app.db().exec("INSERT INTO newwork (userid, status) VALUES ('zhang', 0), ('zhang', 1)");
  mail(1);
  std::string page = bar();
  const char* in_order[] = {
      "<base target='right'>",
      "<script language='javascript' src='rz.js'></script></head><body leftmargin='0' "
      "topmargin='0' marginwidth='0' marginheight='0' oncontextmenu='return false'>",
      kSound,
      "<table width='100%' border='0' cellspacing='0' cellpadding='0' height='100%' "
      "align='center'><tbody><tr><td valign='top'>",
      "<img src='images/kuang27.gif' width='67' height='59'></td>",
      "<tr><td height='29' colspan='2'></td></tr><tr><td width='41%' class='10blue'>",
      "&nbsp;张伟&nbsp;待办<font class=numberbold>1</font>项&nbsp;新邮件<font "
      "class=numberbold>1</font>封",
      "</td><td class='10blue' width='59%'><marquee scrollAmount=1 scrollDelay=1 "
      "onmouseover='this.stop()' onmouseout='this.start()'></marquee></td></tr></table></td>",
      "<img src='images/rzout.gif' onMouseOver='outOver(this)' onMouseOut='outOut(this)' "
      "alt='注销用户' style='cursor:hand' onClick='return quitoa()'></td>",
      "<area shape='rect' coords='215,4,249,55' href='mailbox.asp' target='right' "
      "alt='内部邮件' title='内部邮件'>",
      "<area shape='rect' coords='5,4,43,55' href='right.asp' target='right' alt='首页' "
      "title='首页'></map></td></tr></tbody></table>",
      "<audio id='remindaudio' preload='auto' src='/tarvo/sound/remind.wav'></audio>"
      "<script language='javascript'>statusBar(60, true, 2);</script></body></html>",
  };
  size_t pos = 0;
  for (const char* part : in_order) {
    size_t at = page.find(part, pos);
    ASSERT_NE(at, std::string::npos) << part;
    pos = at;
  }
  EXPECT_EQ(b.session("opened"), "opened");
}

// Each new pending item or unread mail sounds once; ids are compared as
// numbers and a mail below the remembered id (rows deleted) stays quiet.
TEST_F(StatusBar, AnnouncesEachNewItemOrMailOnce) {
  struct Step {
    const char* what;
    std::function<void(StatusBar&)> arrange;
    bool sounds;
  };
  const Step steps[] = {
      {"nothing waits", [](StatusBar&) {}, false},
      {"mail 9", [](StatusBar& s) { s.mail(9); }, true},
      {"mail 9 again", [](StatusBar&) {}, false},
      {"mail 10 after 9 (10 < 9 as text)", [](StatusBar& s) { s.mail(10); }, true},
      {"pending item",
       [](StatusBar& s) {
         s.app.db().exec("INSERT INTO newwork (id, userid) VALUES (3, 'zhang')");
       },
       true},
      {"the same again", [](StatusBar&) {}, false},
      {"closed item and read mail",
       [](StatusBar& s) {
         s.app.db().exec("INSERT INTO newwork (id, userid, status) VALUES (4, 'zhang', 1)");
         s.mail(11, 1);
       },
       false},
      {"mail below the remembered id",
       [](StatusBar& s) {
         s.b.set_session("mailid", "100");
         s.mail(50);
       },
       false},
      {"someone else's mail",
       [](StatusBar& s) {
         s.app.db().exec("INSERT INTO mail (id, topeopleid) VALUES (200, 'li')");
       },
       false},
  };
  for (const Step& step : steps) {
    step.arrange(*this);
    std::string page = bar();
    EXPECT_EQ(has(page, kSound), step.sounds) << step.what;
    EXPECT_EQ(has(page, step.sounds ? "statusBar(60, true," : "statusBar(60, false,"), true)
        << step.what;
  }
  EXPECT_EQ(b.session("mailid"), "50");
  EXPECT_EQ(b.session("newworkid"), "3");
}

// Due: remind = 0, today, reminder time < now < plan time, compared as
// numbers (a time without a leading zero orders as its value).
TEST_F(StatusBar, ShowsAndSoundsDuePlansOnEveryLoad) {
  struct Case {
    int hour, minute;
    const char* plantime;
    const char* remindtime;
    int remind;
    const char* date;
    const char* uid;
    bool due;
  };
  const Case cases[] = {
      {15, 30, "1600", "1500", 0, "2006-12-03", "zhang", true},
      {15, 30, "1530", "1500", 0, "2006-12-03", "zhang", false},  // plan time reached
      {15, 30, "1600", "1530", 0, "2006-12-03", "zhang", false},  // reminder not yet passed
      {15, 30, "1600", "1500", 1, "2006-12-03", "zhang", false},  // reminder switched off
      {15, 30, "1600", "1500", 0, "2006-12-04", "zhang", false},  // another day
      {15, 30, "1600", "1500", 0, "2006-12-03", "li", false},     // another user
      {9, 15, "0930", "0900", 0, "2006-12-03", "zhang", true},    // 915: no leading zero
      {9, 15, "930", "900", 0, "2006-12-03", "zhang", true},
  };
  for (const Case& c : cases) {
    app.db().exec("DELETE FROM personplan");
    at(c.hour, c.minute);
    auto id = plan(c.plantime, c.remindtime, c.remind, c.date, c.uid);
    std::string pt = c.plantime;
    std::string link = "<font class=remind>安排提醒：</font>&nbsp;<a href='modifyplanonce.asp?id=" +
                       std::to_string(id) +
                       "' onClick='return OpenWindows(this.href)' class=remindlink>" +
                       pt.substr(0, 2) + ":" + pt.substr(pt.size() - 2) + "&nbsp;开会&lt;b&gt;" +
                       pt + "</a>&nbsp;&nbsp;";
    for (int load = 0; load < 2; ++load) {
      std::string page = bar();
      EXPECT_EQ(has(page, link), c.due) << c.plantime << " " << c.uid << " load " << load;
      EXPECT_EQ(has(page, kSound), c.due) << c.plantime << " " << c.uid << " load " << load;
    }
  }
}

TEST_F(StatusBar, TodaysNoticesFillTheLineWhenNoPlanIsDue) {
  auto news = [&](const char* title, const char* date, const char* time) {
    app.db().exec("INSERT INTO news (title, senddate, sendtime) VALUES (?, ?, ?)",
                  {title, date, std::string(date) + " " + time});
  };
  news("早上的<通知>", "2006-12-03", "09:05:00");
  news("下午的", "2006-12-03", "14:30:00");
  news("昨天的", "2006-12-02", "10:00:00");
  std::string page = bar();
  EXPECT_TRUE(has(page,
                  "最新消息: <a href='news.asp?id=2' onClick='return OpenWindows(this.href)' "
                  "class=aapply>14:30&nbsp;下午的</a>&nbsp;&nbsp;<a href='news.asp?id=1' "
                  "onClick='return OpenWindows(this.href)' class=aapply>9:5&nbsp;早上的&lt;通知&gt;"
                  "</a>&nbsp;&nbsp;</marquee>"));
  EXPECT_FALSE(has(page, "昨天的"));
  plan("1600", "1500");
  page = bar();
  EXPECT_TRUE(has(page, "安排提醒："));
  EXPECT_FALSE(has(page, "最新消息"));
}

TEST_F(StatusBar, EveryEditionAndTheSettingsOfTheApplication) {
  for (const char* variant : {"base", "simp", "full"}) {
    asp::AppConfig config;
    config.variant = variant;
    config.status_refresh = 30;
    TestApp other(config);
    other.add_user("zhang", "张伟", "pw");  // no settings row: no sound configured
    Browser user(other);
    ASSERT_TRUE(user.login("zhang", "pw"));
    other.db().exec(
        "INSERT INTO personplan (uid, content, plandate, plantime, remindtime) "
        "VALUES ('zhang', '汇报', '2006-12-03', '1600', '1500')");
    std::string page = text_of(user.get("rz.asp"));
    EXPECT_TRUE(has(page, "<BGSOUND src=/tarvo autostart=true loop=1>")) << variant;
    EXPECT_TRUE(has(page, "src='/tarvo/sound/remind.wav'></audio>")) << variant;
    EXPECT_TRUE(has(page, "statusBar(30, true, 0)")) << variant;
    EXPECT_TRUE(has(page, "16:00&nbsp;汇报")) << variant;
  }
}

// ---- Plans ------------------------------------------------------------------------

struct Plans : StatusBar {
  std::string form() { return text_of(b.get("planlist.asp")); }
  http::Reply add(const std::string& hour, const std::string& minute, const std::string& remind,
                  const std::string& content = "写总结", const std::string& date = "2006-12-3") {
    return b.post("planlist.asp", {{"content", content},
                                   {"remind", remind},
                                   {"dodate", date},
                                   {"hourtext", hour},
                                   {"minutetext", minute}});
  }
  std::string rows() {
    std::string out;
    for (const auto& r : app.db().query(
             "SELECT content, plandate, plantime, remindtime, remind FROM personplan ORDER BY id"))
      out += r.text("content") + "|" + r.text("plandate") + "|" + r.text("plantime") + "|" +
             r.text("remindtime") + "|" + r.text("remind") + ";";
    return out;
  }
};

TEST_F(Plans, FormOffersTheOfficeHoursAndPreselectsTheCurrentTime) {
  struct Case {
    int hour, minute;
    const char* hour_selected;    // "" for none
    const char* minute_selected;  // "" for none
  };
  for (const Case& c : {Case{15, 30, "15", "30"}, Case{15, 32, "15", ""}, Case{19, 5, "", "05"},
                        Case{6, 0, "06", "00"}}) {
    at(c.hour, c.minute);
    std::string page = form();
    EXPECT_TRUE(has(page,
                    "name='dodate' onClick='setday(dodate,document.all.dodate)' "
                    "style='cursor:hand' value='2006-12-3' size='15'>"));
    std::string hours = page.substr(page.find("<select name='hourtext'"));
    hours = hours.substr(0, hours.find("</select>"));
    std::string minutes = page.substr(page.find("<select name='minutetext'"));
    minutes = minutes.substr(0, minutes.find("</select>"));
    size_t n = 0;
    for (size_t p = hours.find("<option"); p != std::string::npos; p = hours.find("<option", p + 1))
      ++n;
    EXPECT_EQ(n, 13u);
    EXPECT_TRUE(has(hours, "<option value=06 >06</option>") || c.hour == 6);
    EXPECT_TRUE(has(hours, "<option value=18 >18</option>"));
    EXPECT_EQ(has(hours, " selected"), *c.hour_selected != 0) << c.hour;
    if (*c.hour_selected)
      EXPECT_TRUE(has(hours, std::string("<option value=") + c.hour_selected + " selected >"));
    EXPECT_TRUE(has(minutes, "<option  value=55 >55</option>") || c.minute == 55);
    EXPECT_EQ(has(minutes, " selected"), *c.minute_selected != 0) << c.minute;
    if (*c.minute_selected)
      EXPECT_TRUE(has(minutes, std::string("<option  value=") + c.minute_selected + " selected >"));
  }
}

TEST_F(Plans, StoresPlanAndReminderTimesAndShowsTheDay) {
  struct Case {
    const char *hour, *minute, *remind, *plantime, *remindtime;
  };
  for (const Case& c :
       {Case{"08", "30", "30", "0830", "0800"}, Case{"06", "05", "120", "0605", "0405"},
        Case{"18", "55", "120", "1855", "1655"}, Case{"6", "5", "10", "0605", "0555"},
        Case{"00", "10", "30", "0010", "0000"}}) {
    app.db().exec("DELETE FROM personplan");
    auto r = add(c.hour, c.minute, c.remind, "写总结", "2006年12月7日");
    EXPECT_EQ(r.status, 302);
    EXPECT_EQ(header(r, "Location"), "planlist.asp?finddate=2006-12-07");
    EXPECT_EQ(rows(), std::string("写总结|2006-12-07|") + c.plantime + "|" + c.remindtime + "|0;");
  }
}

TEST_F(Plans, BadInputIsRefusedAndWritesNothing) {
  struct Case {
    const char *content, *date, *hour, *minute, *remind, *message;
  };
  const Case cases[] = {
      {"", "2006-12-3", "08", "30", "30", "请输入安排内容。"},
      {"  ", "2006-12-3", "08", "30", "30", "请输入安排内容。"},
      {"x", "明天", "08", "30", "30", "安排日期不正确"},
      {"x", "2006-13-3", "08", "30", "30", "安排日期不正确"},
      {"x", "2006-12-3", "24", "30", "30", "安排时间不正确"},
      {"x", "2006-12-3", "08", "60", "30", "安排时间不正确"},
      {"x", "2006-12-3", "8点", "30", "30", "安排时间不正确"},
      {"x", "2006-12-3", "08", "30", "半小时", "提前提醒的分钟数不正确"},
  };
  for (const Case& c : cases) {
    auto r = add(c.hour, c.minute, c.remind, c.content, c.date);
    EXPECT_EQ(r.status, 400) << c.message;
    EXPECT_TRUE(has(text_of(r), c.message)) << text_of(r);
  }
  auto r = add("08", "30", "30", std::string(101, 'x'));
  EXPECT_TRUE(has(text_of(r), "安排内容不能超过100个字。"));
  EXPECT_EQ(add("08", "30", "30", std::string(100, 'x')).status, 302);
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM personplan"), "1");
}

TEST_F(Plans, ListsOneDayInTimeOrderAndAFindPostStoresNothing) {
  plan("1000", "0930");
  plan("930", "900");  // an older row without the leading zero
  plan("1400", "1330", 1);
  plan("0800", "0730", 0, "2006-12-04");
  plan("0800", "0730", 0, "2006-12-03", "li");
  auto r = b.post("planlist.asp", {{"finddate", "2006-12-3"}, {"content", "不该保存"}});
  EXPECT_EQ(r.status, 200);
  std::string page = text_of(r);
  size_t first = page.find("930</td><td class='10blue'>开会&lt;b&gt;930");
  size_t second = page.find("10:00</td><td class='10blue'>开会&lt;b&gt;1000");
  size_t third =
      page.find("14:00</td><td class='10blue'>开会&lt;b&gt;1400</td><td class='10blue'>不提醒");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  ASSERT_NE(third, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_TRUE(has(page, "2006年12月3日（星期日）的安排"));
  EXPECT_FALSE(has(page, "0800"));
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM personplan WHERE content = '不该保存'"), "0");
  EXPECT_TRUE(has(text_of(b.get("planlist.asp?finddate=2006-12-04")), "开会&lt;b&gt;0800"));
}

TEST_F(Plans, EditAndDeleteOnlyOnesOwnPlans) {
  auto mine = plan("1000", "0930");
  auto theirs = plan("1000", "0930", 0, "2006-12-03", "li");
  const std::string edit = "modifyplanonce.asp?id=" + std::to_string(mine);
  EXPECT_TRUE(has(text_of(b.get(edit)), "value='开会&lt;b&gt;1000'"));
  auto r = b.post(edit, {{"content", "改过的"},
                         {"dodate", "2006-12-05"},
                         {"hourtext", "11"},
                         {"minutetext", "15"},
                         {"remind", "60"}});
  EXPECT_EQ(header(r, "Location"), edit + "&saved=1");
  b.post(edit, {{"content", "提醒"},
                {"dodate", "2006-12-05"},
                {"hourtext", "11"},
                {"minutetext", "15"},
                {"remind", "60"},
                {"tixing", "1"}});
  EXPECT_EQ(rows(), "提醒|2006-12-05|1115|1015|0;开会<b>1000|2006-12-03|1000|0930|0;");
  b.post(edit, {{"content", "不提醒"},
                {"dodate", "2006-12-05"},
                {"hourtext", "11"},
                {"minutetext", "15"},
                {"remind", "60"}});
  EXPECT_EQ(app.db().scalar("SELECT remind FROM personplan WHERE id = ?", {mine}), "1");

  const std::string other = "modifyplanonce.asp?id=" + std::to_string(theirs);
  EXPECT_EQ(b.get(other).status, 404);
  EXPECT_EQ(b.post(other, {{"content", "x"},
                           {"dodate", "2006-12-05"},
                           {"hourtext", "11"},
                           {"minutetext", "15"},
                           {"remind", "60"}})
                .status,
            404);
  EXPECT_EQ(b.post("delplan.asp?id=" + std::to_string(theirs), {}).status, 404);
  EXPECT_EQ(b.get("delplan.asp?id=" + std::to_string(mine)).status, 415);
  r = b.post("delplan.asp?id=" + std::to_string(mine), {});
  EXPECT_EQ(header(r, "Location"), "planlist.asp?finddate=2006-12-05");
  EXPECT_EQ(rows(), "开会<b>1000|2006-12-03|1000|0930|0;");
}

TEST_F(Plans, CalendarIsAMonthGridWithThePlansOfEachDay) {
  plan("0900", "0830", 0, "2006-12-25");
  plan("0900", "0830", 0, "2007-01-01");
  plan("0900", "0830", 0, "2006-12-25", "li");
  std::string dec = text_of(b.get("calender.asp"));
  auto count = [](const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
  };
  EXPECT_TRUE(has(dec, "2006年12月 个人日历"));
  EXPECT_EQ(count(dec, "<td class='blank'>"), 5u + 6u);  // 1 December is a Friday
  EXPECT_EQ(count(dec, "class='daynum'"), 31u);
  EXPECT_EQ(count(dec, "class='dayplan'"), 1u);
  EXPECT_TRUE(
      has(dec, "<td valign='top' class='today'><a href='planlist.asp?finddate=2006-12-03'"));
  EXPECT_TRUE(has(dec, "finddate=2006-12-25' class='daynum'>25</a><div class='dayplan'>"));
  std::string feb = text_of(b.get("calender.asp?month=2007-02"));
  EXPECT_EQ(count(feb, "class='daynum'"), 28u);
  EXPECT_EQ(count(feb, "class='dayplan'"), 0u);
  EXPECT_TRUE(has(text_of(b.get("calender.asp?month=nonsense")), "2006年12月"));
}

}  // namespace
}  // namespace desk
