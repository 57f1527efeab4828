#include "server/desk/plan_pages.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "core/text.h"
#include "server/desk/format.h"
#include "server/desk/plan.h"
#include "server/host/kit.h"

namespace desk::deskpages {
namespace {

using text::html;

constexpr const char* kNoPlan = "该安排不存在或已删除。";
constexpr const char* kWeekdays[] = {"日", "一", "二", "三", "四", "五", "六"};
// Choices of the reminder lead, in minutes.
constexpr int kLeads[] = {10, 20, 30, 40, 50, 60, 80, 120};

std::string num(long long n) {
  return std::to_string(n);
}

std::string two_digits(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

// "0830" as "08:30"; other text as it is.
std::string shown_hhmm(const std::string& t) {
  return t.size() == 4 ? t.substr(0, 2) + ":" + t.substr(2) : t;
}

// Minutes since midnight of a stored "HHMM"; -1 when it is not one.
int minutes_of_hhmm(const std::string& t) {
  long long v = 0;
  if (t.size() != 4 || !text::parse_int(t, v) || v < 0) return -1;
  return static_cast<int>(v / 100 * 60 + v % 100);
}

std::chrono::year_month_day ymd_of(const DateTime& d) {
  using namespace std::chrono;
  return year_month_day{year{d.year}, month{static_cast<unsigned>(d.month)},
                        day{static_cast<unsigned>(d.day)}};
}

DateTime date_of(std::chrono::year_month_day ymd) {
  DateTime d;
  d.year = static_cast<int>(ymd.year());
  d.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  d.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  return d;
}

DateTime plus_days(const DateTime& d, int days) {
  using namespace std::chrono;
  return date_of(year_month_day{sys_days{ymd_of(d)} + std::chrono::days{days}});
}

// 0 for Sunday .. 6 for Saturday.
unsigned weekday_of(const DateTime& d) {
  using namespace std::chrono;
  return weekday{sys_days{ymd_of(d)}}.c_encoding();
}

std::string long_date(const DateTime& d) {
  return num(d.year) + "年" + num(d.month) + "月" + num(d.day) + "日";
}

// The day a request asks for (`finddate` in any common date form); today
// otherwise.
DateTime requested_day(asp::ScriptingContext& ctx) {
  DateTime d;
  if (Regional::parse_date(ctx.request()("finddate"), d)) return d;
  d = ctx.now();
  d.hour = d.minute = d.second = 0;
  return d;
}

std::int64_t plan_id(asp::ScriptingContext& ctx) {
  std::int64_t id = text::parse_id(ctx.request().QueryString("id"));
  if (id == 0) throw Error(Errc::not_found, kNoPlan);
  return id;
}

db::Row own_plan(asp::ScriptingContext& ctx, std::int64_t id) {
  db::Result r = ctx.conn().query(
      "SELECT id, content, plandate, plantime, remindtime, remind FROM personplan "
      "WHERE id = ? AND uid = ?",
      {id, ctx.session().get("uid")});
  if (r.empty()) throw Error(Errc::not_found, kNoPlan);
  return r.front();
}

// ---- planlist.asp ------------------------------------------------------------

// The plans of one day, in the cell the entry form leaves open. The delete
// buttons post the plan page's form (with its token) to delplan.asp.
std::string day_list(asp::ScriptingContext& ctx, const DateTime& day) {
  db::Result plans = ctx.conn().query(
      "SELECT id, content, plantime, remindtime, remind FROM personplan WHERE uid = ? AND "
      "plandate = ? ORDER BY CAST(plantime AS INTEGER), id",
      {ctx.session().get("uid"), day.iso_date()});
  const std::string iso = day.iso_date();
  std::string out =
      "<table width='96%' border='0' cellspacing='0' cellpadding='0' align='center' "
      "class='list'><tr><td colspan='4' class='listtitle'>" +
      long_date(day) + "（星期" + kWeekdays[weekday_of(day)] +
      "）的安排</td></tr><tr><td colspan='4' class='10blue'>"
      "<a href='planlist.asp?finddate=" +
      plus_days(day, -1).iso_date() +
      "' class='aapply'>前一天</a>&nbsp;&nbsp;<a href='planlist.asp' class='aapply'>今天</a>"
      "&nbsp;&nbsp;<a href='planlist.asp?finddate=" +
      plus_days(day, 1).iso_date() +
      "' class='aapply'>后一天</a>&nbsp;&nbsp;&nbsp;&nbsp;查看日期：<input type='text' "
      "id='finddate' size='12' readonly style='cursor:pointer' value='" +
      iso +
      "' onClick='setday(this,this)' onChange=\"location='planlist.asp?finddate='+this.value\">"
      "&nbsp;&nbsp;<a href='calender.asp?month=" +
      iso.substr(0, 7) +
      "' class='aapply'>个人日历</a></td></tr>"
      "<tr class='listhead'><td width='70'>时间</td><td>安排内容</td><td width='110'>提醒</td>"
      "<td width='110'>操作</td></tr>";
  for (const db::Row& p : plans) {
    const std::string id = num(p.integer("id"));
    out += "<tr><td class='10blue'>" + html(shown_hhmm(p.text("plantime"))) +
           "</td><td class='10blue'>" + html(p.text("content")) + "</td><td class='10blue'>" +
           (p.integer("remind") == 0 ? html(shown_hhmm(p.text("remindtime"))) + " 提醒"
                                     : std::string("不提醒")) +
           "</td><td class='10blue'><a href='modifyplanonce.asp?id=" + id +
           "' class='aapply'>修改</a>&nbsp;&nbsp;<input type='submit' class='smallbutton' "
           "value='删除' formaction='delplan.asp?id=" +
           id + "' onClick='return checkdelete(\"确定要删除这项安排吗？\")'></td></tr>";
  }
  if (plans.empty()) out += "<tr><td colspan='4' class='10blue'>这一天没有安排。</td></tr>";
  return out + "</table>";
}

void planlist_page(asp::ScriptingContext& ctx, PlanList& plan) {
  plan.main(ctx.conn());
  if (!plan.stored_date.empty())
    return ctx.response().Redirect("planlist.asp?finddate=" + plan.stored_date);
  ctx.response().Write("</td></tr></table>" + day_list(ctx, requested_day(ctx)) +
                       "</td></tr></table>" + host::form_token_field(ctx) + "</form>" +
                       std::string(host::kPageEnd));
}

// ---- modifyplanonce.asp --------------------------------------------------------

std::string options(int from, int to, int step, int chosen) {
  std::string out;
  bool found = false;
  for (int v = from; v <= to; v += step) {
    if (v == chosen) found = true;
    out += "<option value='" + two_digits(v) + "'" + (v == chosen ? " selected" : "") + ">" +
           two_digits(v) + "</option>";
  }
  // A value off the steps (stored by an older form) stays choosable.
  if (!found && chosen >= 0)
    out +=
        "<option value='" + two_digits(chosen) + "' selected>" + two_digits(chosen) + "</option>";
  return out;
}

void modifyplan_form(asp::ScriptingContext& ctx, const db::Row& p, bool saved) {
  const std::string id = num(p.integer("id"));
  const int at = minutes_of_hhmm(p.text("plantime"));
  const int hour = at < 0 ? -1 : at / 60, minute = at < 0 ? -1 : at % 60;
  const int reminder = minutes_of_hhmm(p.text("remindtime"));
  const int lead = at < 0 || reminder < 0 ? 30 : at - reminder;

  std::string leads;
  bool found = false;
  for (int l : kLeads) {
    found = found || l == lead;
    leads += "<option value='" + num(l) + "'" + (l == lead ? " selected" : "") + ">" + num(l) +
             "</option>";
  }
  if (!found) leads += "<option value='" + num(lead) + "' selected>" + num(lead) + "</option>";

  DateTime day;
  std::string date = p.text("plandate");
  if (DateTime::parse_iso(date, day)) date = ctx.regional().date(day);

  std::string out = host::page_head("修改安排") +
                    "<script language='javascript' src='apply.js'></script>" +
                    host::title_bar("修改安排", {{"planlist.asp", "个人安排"}});
  if (saved)
    out +=
        "<div class='notice'>安排已保存。</div><script language='javascript'>"
        "if (window.opener && !window.opener.closed) { try { window.opener.location.reload(); } "
        "catch (e) {} }</script>";
  out += "<form name='form' method='post' action='modifyplanonce.asp?id=" + id +
         "'><table class='formtable' align='center'>"
         "<tr><td class='label'>安排内容：</td><td><input type='text' name='content' size='50' "
         "maxlength='100' value='" +
         html(p.text("content")) +
         "'></td></tr><tr><td class='label'>时　　间：</td><td><input type='text' name='dodate' "
         "size='12' readonly style='cursor:pointer' onClick='setday(this,this)' value='" +
         html(date) + "'> <select name='hourtext'>" + options(0, 23, 1, hour) +
         "</select>点 <select name='minutetext'>" + options(0, 55, 5, minute) +
         "</select>分</td></tr><tr><td class='label'>提　　醒：</td><td>提前<select "
         "name='remind'>" +
         leads + "</select>分钟 <label><input type='checkbox' name='tixing' value='1'" +
         (p.integer("remind") == 0 ? " checked" : "") +
         ">到时在状态栏提醒</label></td></tr><tr><td></td><td><input type='submit' value='保 存' "
         "onClick='return checkplanlist()'> "
         "<input type='submit' value='删 除' formaction='delplan.asp?id=" +
         id +
         "' onClick='return checkdelete(\"确定要删除这项安排吗？\")'> <input type='button' "
         "value='关 闭' onClick='if (window.opener) window.close(); else "
         "location=\"planlist.asp\";'></td></tr></table>" +
         host::form_token_field(ctx) + "</form>" + std::string(host::kPageEnd);
  ctx.response().Write(out);
}

// GET shows one of the user's plans for editing; POST saves it. A saved plan
// with the box ticked reminds again (remind 0); without it, never (remind 1).
void modifyplanonce_page(asp::ScriptingContext& ctx) {
  const std::int64_t id = plan_id(ctx);
  if (ctx.request().is_post()) {
    const PlanInput p = read_plan(ctx);
    const int remind = ctx.request().Form("tixing") == "1" ? 0 : 1;
    if (ctx.conn()
            .exec("UPDATE personplan SET content = ?, plandate = ?, plantime = ?, remindtime = ?, "
                  "remind = ? WHERE id = ? AND uid = ?",
                  {p.content, p.date, p.plantime(), p.remindtime(), remind, id,
                   ctx.session().get("uid")})
            .changes == 0)
      throw Error(Errc::not_found, kNoPlan);
    return ctx.response().Redirect("modifyplanonce.asp?id=" + num(id) + "&saved=1");
  }
  modifyplan_form(ctx, own_plan(ctx, id), ctx.request().QueryString("saved") == "1");
}

// POST deletes one of the user's plans and shows the rest of its day.
void delplan_page(asp::ScriptingContext& ctx) {
  if (!ctx.request().is_post()) throw Error(Errc::unsupported, "请从安排列表中删除安排。");
  const std::int64_t id = plan_id(ctx);
  const db::Row p = own_plan(ctx, id);
  ctx.conn().exec("DELETE FROM personplan WHERE id = ? AND uid = ?",
                  {id, ctx.session().get("uid")});
  ctx.response().Redirect("planlist.asp?finddate=" + text::url_encode(p.text("plandate")));
}

// ---- calender.asp --------------------------------------------------------------

// The user's plans of one month (`month` = "YYYY-MM", this month by default)
// in a grid of weeks from Sunday to Saturday; each day leads to its list.
void calender_page(asp::ScriptingContext& ctx) {
  using namespace std::chrono;
  DateTime first = ctx.now();
  DateTime asked;
  std::string m = ctx.request().QueryString("month");
  if (!m.empty() && Regional::parse_date(m + "-1", asked)) first = asked;
  first.day = 1;
  first.hour = first.minute = first.second = 0;
  const year_month_day_last last{year{first.year},
                                 month_day_last{month{static_cast<unsigned>(first.month)}}};
  const int days = static_cast<int>(static_cast<unsigned>(last.day()));
  const DateTime next = plus_days(first, days);
  const DateTime prev = plus_days(first, -1);

  db::Result plans = ctx.conn().query(
      "SELECT id, content, plandate, plantime FROM personplan WHERE uid = ? AND plandate >= ? "
      "AND plandate < ? ORDER BY plandate, CAST(plantime AS INTEGER), id",
      {ctx.session().get("uid"), first.iso_date(), next.iso_date()});

  DateTime today = ctx.now();
  std::string out =
      host::page_head("个人日历") +
      host::title_bar(num(first.year) + "年" + num(first.month) + "月 个人日历",
                      {{"calender.asp?month=" + prev.iso_date().substr(0, 7), "上一月"},
                       {"calender.asp", "本月"},
                       {"calender.asp?month=" + next.iso_date().substr(0, 7), "下一月"},
                       {"planlist.asp", "个人安排"}}) +
      "<table class='calendar' width='96%' align='center' cellspacing='0' cellpadding='0'><tr>";
  for (const char* w : kWeekdays) out += std::string("<th>") + w + "</th>";
  out += "</tr><tr>";
  const unsigned lead = weekday_of(first);
  for (unsigned i = 0; i < lead; ++i) out += "<td class='blank'></td>";
  std::size_t next_plan = 0;
  for (int d = 1; d <= days; ++d) {
    DateTime day = first;
    day.day = d;
    const std::string iso = day.iso_date();
    const bool is_today =
        day.year == today.year && day.month == today.month && day.day == today.day;
    out += std::string("<td valign='top'") + (is_today ? " class='today'" : "") +
           "><a href='planlist.asp?finddate=" + iso + "' class='daynum'>" + num(d) + "</a>";
    while (next_plan < plans.size() && plans.rows[next_plan].text("plandate") == iso) {
      const db::Row& p = plans.rows[next_plan++];
      out += "<div class='dayplan'><a href='modifyplanonce.asp?id=" + num(p.integer("id")) +
             "' class='aapply' title='" + html(p.text("content")) + "'>" +
             html(shown_hhmm(p.text("plantime"))) + " " +
             html(text::cut_title(p.text("content"), 8)) + "</a></div>";
    }
    out += "</td>";
    if ((lead + d) % 7 == 0 && d != days) out += "</tr><tr>";
  }
  for (unsigned i = (lead + days) % 7; i != 0 && i < 7; ++i) out += "<td class='blank'></td>";
  out += "</tr></table>" + std::string(host::kPageEnd);
  ctx.response().Write(out);
}

}  // namespace

void register_plan_pages(asp::Registry& registry) {
  host::add_page<PlanList>(registry, "planlist", planlist_page,
                           {.title = "个人安排", .once = true});
  host::add_page(registry, "modifyplanonce.asp", modifyplanonce_page,
                 {.title = "修改安排", .once = true});
  host::add_page(registry, "delplan.asp", delplan_page, {.title = "个人安排", .once = true});
  host::add_page(registry, "calender.asp", calender_page, {.title = "个人日历"});
}

}  // namespace desk::deskpages
