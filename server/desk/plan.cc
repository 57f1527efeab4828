#include "server/desk/plan.h"

#include <cstdio>

#include "core/text.h"

namespace desk::deskpages {

namespace {

std::string two_digits(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

// A whole number of the request within [lo, hi]; false otherwise.
bool field_in(asp::ScriptingContext& ctx, std::string_view name, int lo, int hi, int& out) {
  long long v = 0;
  if (!text::parse_int(ctx.request()(name), v) || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

std::string PlanInput::plantime() const {
  return two_digits(hour) + two_digits(minute);
}

std::string PlanInput::remindtime() const {
  int r = hour * 60 + minute - remind;
  if (r < 0) r = 0;
  return two_digits(r / 60) + two_digits(r % 60);
}

PlanInput read_plan(asp::ScriptingContext& ctx) {
  auto& req = ctx.request();
  PlanInput p;
  p.content = req("content");
  if (text::trim(p.content).empty()) throw Error(Errc::bad_request, "请输入安排内容。");
  if (text::char_count(p.content) > kPlanContentChars)
    throw Error(Errc::bad_request, "安排内容不能超过100个字。");
  DateTime d;
  if (!Regional::parse_date(req("dodate"), d))
    throw Error(Errc::bad_request, "安排日期不正确，请重新选择。");
  p.date = d.iso_date();
  if (!field_in(ctx, "hourtext", 0, 23, p.hour) || !field_in(ctx, "minutetext", 0, 59, p.minute))
    throw Error(Errc::bad_request, "安排时间不正确，请重新选择。");
  if (!field_in(ctx, "remind", 0, 1440, p.remind))
    throw Error(Errc::bad_request, "提前提醒的分钟数不正确。");
  return p;
}

void PlanList::main(db::Connection& conn) {
  stored_date.clear();
  if (request().ServerVariables("Request_Method") == "POST" && request()("finddate").empty()) {
    PlanInput p = read_plan(ctx());
    conn.exec(
        "INSERT INTO personplan (content, plandate, plantime, remindtime, uid) VALUES (?, ?, ?, ?, "
        "?)",
        {p.content, p.date, p.plantime(), p.remindtime(), session().get("uid")});
    stored_date = p.date;
  }

  const DateTime t = now();
  write("<html><head><title>TARVO</title>");
  write("<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>");
  write("<script language='JavaScript' src='apply.js'></script>");
  write("<link rel='stylesheet' href='apply.css' type='text/css'></head>");
  write(
      "<body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0' "
      "oncontextmenu='return false'>");
  write("<form name=form action='planlist.asp' method=POST>");
  write("<table width='100%' cellspacing='0' cellpadding='0' height='81%'>");
  write("<tr><td valign='top' align='center'>");
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0'>");
  write("<tr><td width='52%' height='35'> 　　安排内容：");
  write(
      "<input class='noinput' title='点击输入安排内容' type='text' name='content' maxlength='100' "
      "size='40'>");
  write("</td><td colspan='3' valign='middle'> 提 前");
  write("<select name='remind'  size='1' ><option value='10'>10</option>");
  write("<option value='20'>20</option><option value='30' selected>30</option>");
  write("<option value='40'>40</option><option value='50'>50</option>");
  write("<option value='60'>60</option><option value='80'>80</option>");
  write("<option value='120'>120</option></select>分钟提醒</td></tr>");
  write("<tr><td width='52%' height='35'>");
  write("<div align='left'> 　　时　　间：");
  write(
      "<input class='noinput' title='点击选择安排日期' readonly type='text' name='dodate' "
      "onClick='setday(dodate,document.all.dodate)' style='cursor:hand' value='" +
      text::html(regional().date(t)) + "' size='15'>&nbsp;");
  write("<select name='hourtext' size='1'>");
  for (int h = 6; h <= 18; ++h) {
    std::string hh = two_digits(h);
    write("<option value=" + hh + (h == t.hour ? " selected" : "") + " >" + hh + "</option>");
  }
  write("</select>点&nbsp;");
  write("<select name='minutetext' size='1'>");
  for (int m = 0; m <= 55; m += 5) {
    std::string mm = two_digits(m);
    write("<option  value=" + mm + (m == t.minute ? " selected" : "") + " >" + mm + "</option>");
  }
  write("</select>分</div></td>");
  write("<td width='10%' align='center'>");
  write(
      "<input type='image' name='send' value=' 添 加 ' onClick='return checkplanlist()' "
      "src='images/addgif.gif' alt='添加'>");
  write("</td><td width='10%' align='center'>");
  write(
      "<input type='image' name='Submit2' value=' 返 回 ' onClick='history.go(-1);return false;' "
      "src='images/fanhuigif.gif' alt='返回'>");
  write("</td><td width='28%'>");
}

}  // namespace desk::deskpages
