#include "server/desk/rz.h"

#include <string_view>

#include "core/text.h"

namespace desk::deskpages {

namespace {

// A Session id remembered by the status bar: a whole number, "" (nothing
// announced yet) and anything else count as 0.
long long remembered(const std::string& value) {
  long long n = 0;
  return text::parse_int(value, n) ? n : 0;
}

// A URL path with every byte outside the unreserved set and "/"
// percent-encoded: safe as an unquoted attribute value.
std::string path_for_markup(std::string_view path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~' || c == '/') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string num(std::int64_t n) {
  return std::to_string(n);
}

}  // namespace

Waiting waiting_of(db::Connection& conn, const std::string& uid) {
  Waiting w;
  if (uid.empty()) return w;
  db::Result r = conn.query("SELECT work, unread, mails FROM usercounts WHERE userid = ?", {uid});
  if (r.empty()) return w;
  w.work = r.front().integer("work");
  w.mail = r.front().integer("unread");
  w.mails = r.front().integer("mails");
  return w;
}

void Rz::main1(db::Connection& conn) {
  write(
      "<body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0' "
      "oncontextmenu='return false'>");
  reminders_.clear();
  announced = false;
  session().set("opened", "opened");

  // The time of day as a number: 09:05 is 905, 14:30 is 1430. Plan and
  // reminder times ("0830") are compared with it as numbers, so times with
  // and without a leading zero order the same way.
  const DateTime t = now();
  const int T = t.hour * 100 + t.minute;
  const std::string uid = session().get("uid");

  db::Result plans = conn.query(
      "SELECT id, plantime, content FROM personplan WHERE remind = 0 AND plandate = ? AND uid = ? "
      "AND CAST(remindtime AS INTEGER) < ? AND ? < CAST(plantime AS INTEGER) ORDER BY id DESC",
      {t.iso_date(), uid, T, T});
  for (const db::Row& row : plans) {
    const std::string pt = row.text("plantime");
    const std::string hh = pt.substr(0, 2);
    const std::string mm = pt.size() >= 2 ? pt.substr(pt.size() - 2) : pt;
    reminders_ += "<a href='modifyplanonce.asp?id=" + num(row.integer("id")) +
                  "' onClick='return OpenWindows(this.href)' class=remindlink>" + text::html(hh) +
                  ":" + text::html(mm) + "&nbsp;" + text::html(row.text("content")) +
                  "</a>&nbsp;&nbsp;";
  }

  std::string W, M;
  if (!uid.empty()) {
    W = conn.scalar(
        "SELECT id FROM newwork WHERE status = 0 AND userid = ? ORDER BY id DESC LIMIT 1", {uid});
    M = conn.scalar(
        "SELECT id FROM mail WHERE status = 0 AND topeopleid = ? ORDER BY id DESC LIMIT 1", {uid});
  }

  // The application's path: the page's virtual path without "/rz.asp".
  std::string script = request().ServerVariables("SCRIPT_NAME");
  std::string app = script.size() > 7 ? script.substr(0, script.size() - 7) : "";
  sound = path_for_markup(app + session().get("remindsound"));

  announced = remembered(M) > remembered(session().get("mailid")) ||
              remembered(W) > remembered(session().get("newworkid")) || !plans.empty();
  if (announced) write("<BGSOUND src=" + sound + " autostart=true loop=1>");

  session().set("newworkid", W);
  session().set("mailid", M);
}

void Rz::main2(db::Connection&) {
  write(
      "<table width='100%' border='0' cellspacing='0' cellpadding='0' height='100%' "
      "align='center'>");
  write("<tbody><tr><td valign='top'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='52'>");
  write("<tr><td align='left' valign='top' background='aa/kuang27.gif' width='35'>");
  write("<img src='images/kuang27.gif' width='67' height='59'></td>");
  write("<td align='left' valign='top' background='images/kuang19.gif'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='59'>");
  write("<tr><td height='29' colspan='2'></td></tr>");
  write("<tr><td width='41%' class='10blue'>");
}

void Rz::main(db::Connection& conn) {
  write(
      "</td><td class='10blue' width='59%'><marquee scrollAmount=1 scrollDelay=1 "
      "onmouseover='this.stop()' onmouseout='this.start()'>");
  if (!reminders_.empty()) {
    write("<font class=remind>安排提醒：</font>&nbsp;" + reminders_);
  } else {
    db::Result news =
        conn.query("SELECT id, title, sendtime FROM news WHERE senddate = ? ORDER BY id DESC",
                   {now().iso_date()});
    if (!news.empty()) write("最新消息: ");
    for (const db::Row& row : news) {
      // Hour and minute as plain numbers: 09:05 shows as 9:5.
      DateTime sent;
      std::string at = DateTime::parse_iso(row.text("sendtime"), sent)
                           ? num(sent.hour) + ":" + num(sent.minute)
                           : text::html(row.text("sendtime"));
      write("<a href='news.asp?id=" + num(row.integer("id")) +
            "' onClick='return OpenWindows(this.href)' class=aapply>" + at + "&nbsp;" +
            text::html(row.text("title")) + "</a>&nbsp;&nbsp;");
    }
    // The page's connection ends here; `conn` dangles from now on.
    ctx().close_connection();
  }

  write("</marquee></td></tr></table></td>");
  write("<td align='left' valign='top' width='181' background='images/rz1.gif'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='59'>");
  write("<tr><td height='24'><img src='images/spacer.gif' width='181' height='4'></td></tr>");
  write("<tr><td valign='top'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='100%'>");
  write("<tr><td width='46'>&nbsp;</td>");
  write("<td width='27' align='center' valign='top'>");
  write(
      "<img src='images/rzup.gif' onMouseOver='upOver(this)' onMouseOut='upOut(this)' "
      "alt='上滚一页' style='cursor:hand' onClick='uppage()'>");
  write("</td>");
  write("<td width='27' align='center' valign='top'>");
  write(
      "<img src='images/rzout.gif' onMouseOver='outOver(this)' onMouseOut='outOut(this)' "
      "alt='注销用户' style='cursor:hand' onClick='return quitoa()'></td>");
  write("<td width='27' valign='top' align='center'>");
  write(
      "<img src='images/rzdown.gif' onMouseOver='downOver(this)' onMouseOut='downOut(this)' "
      "alt='下滚一页'  style='cursor:hand' onClick='downpage()'></td>");
  write("<td>&nbsp;</td>");
  write("</tr></table></td></tr></table></td>");

  write(
      "<td align='left' valign='top' width='270'><img src='images/rz2.gif' width='270' "
      "height='59' usemap='#Map' border='0'></td>");
  write("</tr></table>");
  write("<map name='Map'>");
  struct Area {
    const char* coords;
    const char* link;
    const char* text;
  };
  static constexpr Area kAreas[] = {
      {"215,4,249,55", "mailbox.asp", "内部邮件"},  {"162,4,196,55", "phone.asp", "手机短信"},
      {"107,4,141,55", "calender.asp", "个人日历"}, {"59,4,93,55", "planlist.asp", "个人安排"},
      {"5,4,43,55", "right.asp", "首页"},
  };
  for (const Area& a : kAreas)
    write(std::string("<area shape='rect' coords='") + a.coords + "' href='" + a.link +
          "' target='right' alt='" + a.text + "' title='" + a.text + "'>");
  write("</map></td></tr></tbody></table>" + page_end + "</body></html>");
}

}  // namespace desk::deskpages
