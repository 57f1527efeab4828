#include "server/desk/right.h"

#include <string_view>

#include "core/text.h"
#include "server/desk/format.h"
#include "server/desk/rz.h"
#include "server/work/work.h"

namespace desk::deskpages {

namespace {

std::string num(std::int64_t n) {
  return std::to_string(n);
}

// Title lengths, in characters, of the desk's lists.
constexpr std::size_t kWorkTitle = 6;
constexpr std::size_t kMailTitle = 12;
constexpr std::size_t kNewsTitle = 10;
// Lines of the mail and notice panels.
constexpr int kMailLines = 4;
constexpr int kNewsLines = 5;

// Minutes of one "hh:mm[:ss]" text: hour in characters 1-2, minute in 4-5.
int minutes_of(const std::string& t) {
  long long hour = 0, minute = 0;
  if (t.size() < 5 || t[2] != ':' || !text::parse_int(t.substr(0, 2), hour) ||
      !text::parse_int(t.substr(3, 2), minute))
    throw Error(Errc::bad_request, "not a time of day: " + t);
  return static_cast<int>(hour * 60 + minute);
}

}  // namespace

int Right::timeplus(std::string& sBegin, std::string& sEnd) {
  if (sBegin.size() == 7) sBegin = "0" + sBegin;
  if (sEnd.size() == 7) sEnd = "0" + sEnd;
  return minutes_of(sEnd) - minutes_of(sBegin);
}

void RightFull::begin_page() {
  DateTime t = now();
  // The afternoon starts at 12:31.
  halfday = (t.hour > 12 || (t.hour > 11 && t.minute > 30)) ? "2" : "1";
}

void Right::main(db::Connection& conn) {
  begin_page();
  if (request().ServerVariables("Request_Method") == "POST") {
    std::string flag = request()("flag");
    bool signed_in = !session().get("uid").empty();
    if (flag == "timestart" && signed_in) clock_in(conn);
    if (flag == "timeend" && signed_in) clock_out(conn);
  }
  write("<html><head><meta http-equiv='refresh' content='1800;url=right.asp'>");
  write("<link rel='stylesheet' href='apply.css' type='text/css'>");
  write("<title>tarvo网络办公自动化</title>");
  write(
      "</head><body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0' "
      "oncontextmenu='return false'>");
}

void Right::clock_in(db::Connection& conn) {
  DateTime t = now();
  std::string uid = session().get("uid");
  if (half_day() != 0) {
    conn.exec("INSERT INTO worktime (uid, workday, timestart, type) VALUES (?, ?, ?, ?)",
              {uid, t.iso_date(), t.iso_time(), half_day()});
  } else {
    conn.exec("INSERT INTO worktime (uid, workday, timestart) VALUES (?, ?, ?)",
              {uid, t.iso_date(), t.iso_time()});
  }
  done = "签到成功";
  write("<script language=javascript>alert('签到成功')</script>");
}

void Right::clock_out(db::Connection& conn) {
  DateTime t = now();
  // The first clock-in row of the day (or half-day) is the one closed, the
  // same row the attendance panel shows.
  std::string sql =
      "UPDATE worktime SET timeend = ? WHERE id = (SELECT id FROM worktime WHERE workday = ? "
      "AND uid = ?";
  db::Params params = {t.iso_time(), t.iso_date(), session().get("uid")};
  if (half_day() != 0) {
    sql += " AND type = ?";
    params.emplace_back(half_day());
  }
  sql += " ORDER BY id LIMIT 1)";
  // Without a clock-in there is nothing to close; the desk then shows the
  // user as not clocked in.
  if (conn.exec(sql, params).changes == 0) return;
  done = "退签成功";
  write("<script language=javascript>alert('退签成功')</script>");
}

void Right::main1(db::Connection& conn) {
  write("<form name='form' method='post' action='right.asp'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' align='center'>");
  write("<tr>");
  write(
      "<td align='center' height='35' rowspan='4' width='75'><img src='images/spacer.gif' "
      "width='75' height='1'></td>");
  write("<td align='center' height='10'></td>");
  write(
      "<td align='center' height='10' width='75'><img src='images/spacer.gif' width='75' "
      "height='10'></td>");
  write("<td align='center' height='10' width='317'></td>");
  write("<td align='center' height='10'></td>");
  write("</tr>");
  write("<tr>");

  work_panel(conn);
  write("<td align='center' width='75'><img src='images/spacer.gif' width='75' height='180'></td>");
  mail_panel(conn);

  write("<tr>");
  write(
      "<td align='center' height='24' width='317'><img src='images/spacer.gif' width='317' "
      "height='1'></td>");
  write(
      "<td align='center' height='24' width='75'><img src='images/spacer.gif' width='75' "
      "height='24'></td>");
  write(
      "<td align='center' height='24' width='317'><img src='images/spacer.gif' width='317' "
      "height='1'></td>");
  write("<td align='center' height='24'></td>");
  write("</tr>");

  attendance_panel(conn);
  write("<td align='center' width='75'><img src='images/spacer.gif' width='75' height='180'></td>");
  news_panel(conn);
}

const Waiting& Right::waiting(db::Connection& conn) {
  if (!waiting_) waiting_ = waiting_of(conn, session().get("uid"));
  return *waiting_;
}

void Right::work_panel(db::Connection& conn) {
  std::string uid = session().get("uid");
  write("<td valign='top' width='317' background='images/rwork.gif'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='158'>");
  write("<tr>");
  write("<td width='34%' height='47'></td>");
  write("<td width='66%' height='47'></td>");
  write("</tr>");
  write("<tr><td width='34%'></td><td valign='top' width='66%'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='22'>");
  write("<tr><td class='10blue'>");

  // Every pending item counts, whatever its date.
  std::string pending = num(waiting(conn).work);
  write("<a href='newwork.asp' class='aapply'>您共有<font class=numberbold>" + pending +
        "</font>项待办的工作</a>");

  write("</td></tr></table><script language='JavaScript'>marquee1();</script>");
  write("<table width='100%' height='22' cellpadding='0' cellspacing='0' border='0'>");
  write("<tr> <td height='22' class='10blue'>");

  // Items created today; both bounds are exclusive, so an item stamped
  // exactly at midnight is not listed.
  DateTime today = now();
  today.hour = today.minute = today.second = 0;
  db::Result items = conn.query(
      "SELECT id, url, baseid, typed, title FROM newwork WHERE status = 0 AND userid = ? "
      "AND applytime > ? AND applytime < ? ORDER BY applytime DESC, id DESC",
      {uid, today.iso(), next_midnight_iso(today)});
  for (const auto& row : items) {
    write("<a href='" + text::html(row.text("url")) +
          work::item_link("", row.integer("baseid"), row.integer("id")) + "' class=aapply>[" +
          text::html(row.text("typed")) + "]");
    write(text::html(text::cut_title(row.text("title"), kWorkTitle)) + "</a><br>");
  }

  write("</td></tr></table></td></tr></table>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='100%'>");
  write(
      "<tr><td width='78%'></td><td width='22%' class='9blue'><a href='newwork.asp' "
      "class='aapply'>更多…</a></td></tr>");
  write("</table></td>");
}

void Right::mail_panel(db::Connection& conn) {
  std::string uid = session().get("uid");
  write("<td align='left' width='317' background='images/remail.gif' valign='top'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='158'>");
  write("<tr><td width='34%' height='47'></td><td width='66%' height='47'></td></tr>");
  write("<tr><td width='34%'></td><td valign='top' width='66%'>");

  const Waiting& counts = waiting(conn);
  std::string total = num(counts.mails);
  std::string unread = num(counts.mail);
  db::Result newest = conn.query(
      "SELECT id, title FROM mail WHERE topeopleid = ? AND status = 0 ORDER BY id DESC LIMIT ?",
      {uid, kMailLines});

  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='22'>");
  write(
      "<tr><td width='39%' class=10blue align='center'><a href='writemail.asp' "
      "class=aapply>写邮件</a></td>");
  write(
      "<td width='61%' class=10blue align='center'><a href='mailbox.asp' "
      "class=aapply>收件箱</a>[<font class=numberbold>" +
      unread + "/" + total + "</font>]</td>");
  write("</tr></table>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='10'>");
  write("<tr><td height='10' valign='middle' align='left' class='10blue'></td></tr></table>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0'>");
  for (const auto& row : newest) {
    write("<tr><td height='22' valign='middle' align='left' class='10blue'>");
    write("<a href='readmail.asp?id=" + num(row.integer("id")) + "' class=aapply>");
    write(text::html(text::cut_title(row.text("title"), kMailTitle)));
    write("</a></td></tr>");
  }
  write("</table></td></tr></table></td>");
  write("<td align='left'>&nbsp;</td></tr>");
}

void Right::attendance_panel(db::Connection& conn) {
  write(
      "<tr><td valign='top' width='317' background='images/rsign.gif'><table width='100%' "
      "border='0' cellspacing='0' cellpadding='0' height='125'>");
  write("<td width='34%' height='47'></td><td width='66%' height='47'></td>");
  write("</tr>");
  write("<tr><td width='34%'></td>");
  write("<td valign='top' width='66%'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='40'>");
  write("<tr><td align='left' class='10blue'>");

  std::string sql = "SELECT timestart, timeend FROM worktime WHERE uid = ? AND workday = ?";
  db::Params params = {session().get("uid"), now().iso_date()};
  if (half_day() != 0) {
    sql += " AND type = ?";
    params.emplace_back(half_day());
  }
  sql += " ORDER BY id LIMIT 1";
  db::Result rows = conn.query(sql, params);

  // Attendance state: "1" not clocked in, "2" clocked in and out, "3" clocked in only.
  std::string name = text::html(session().get("username"));
  char state = '1';
  if (rows.empty()) {
    write(
        "<table><tr><td class=10blue>" + name + ":" +
        "</td></tr><tr height=30><td class=10blue>&nbsp;&nbsp;&nbsp;&nbsp;您今天还没有签到!</td></"
        "tr></table>");
  } else {
    const db::Row& row = rows.front();
    std::string start = text::html(regional().shown(row.text("timestart")));
    if (!row.text("timeend").empty()) {
      state = '2';
      std::string end = text::html(regional().shown(row.text("timeend")));
      write("<table><tr><td class=10blue>" + name + ":</td></tr><tr height=30><td class=10blue>" +
            "&nbsp;&nbsp;&nbsp;&nbsp;您今天" + start +
            "签到</td></tr><tr height=17><td class=10blue>&nbsp;&nbsp;&nbsp;&nbsp;" + end +
            "退签</td></tr></table>");
    } else {
      state = '3';
      write("<table><tr><td class=10blue>" + name + "</td></tr><tr height=30><td class=10blue>" +
            "&nbsp;&nbsp;&nbsp;&nbsp;您今天" + start + "签到</td></tr></table>");
    }
  }

  write("<input type='hidden' name='flag'></td></tr></table></td></tr></table>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='41'>");
  write("<tr><td><div align='center'>");
  write("<input type='image' name='startwork' value='上 班' onClick='return timestart();'");
  if (state != '1') write(" disabled");
  write(" src='images/startgif1.gif' alt='上班' width='71' height='19'>&nbsp;&nbsp;");
  write("<input type='image' name='Submit2' value='下 班' onClick='return timeend();'");
  if (state != '3') write(" disabled");
  write(" src='images/endgif1.gif' width='71' height='19' alt='下班'>");
  write("</div></td></tr></table></td>");
}

void Right::news_panel(db::Connection& conn) {
  write("<td width='317' background='images/rnews.gif' valign='top'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='158'>");
  write("<tr><td width='34%' height='47'></td><td width='66%' height='47'></td></tr>");
  write("<tr><td width='34%'></td><td valign='top' width='66%'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0'>");

  db::Result news =
      conn.query("SELECT id, title, clicknum FROM news ORDER BY id DESC LIMIT ?", {kNewsLines});
  for (const auto& row : news) {
    write("<tr><td height='22' valign='middle' align='left' class='10blue'><a href='news.asp?id=" +
          num(row.integer("id")) + "' class='aapply' onClick='return OpenWindows(this.href)'>");
    write(text::html(text::cut_title(row.text("title"), kNewsTitle)) + "[" +
          num(row.integer("clicknum")) + "次]</a></td></tr>");
  }

  write("</table></td></tr></table>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='100%'>");
  write(
      "<tr><td width='78%'></td><td width='22%' class='9blue'><a href='notice.asp' "
      "class='aapply'>更多…</a></td></tr>");
  write("</table></td><td></td></tr></table>" + form_end + "</form></body></html>");
}

}  // namespace desk::deskpages
