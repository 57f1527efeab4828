#include "server/desk/pages.h"

#include "core/text.h"
#include "server/cases/cases.h"
#include "server/desk/format.h"
#include "server/desk/right.h"
#include "server/desk/rz.h"
#include "server/host/edition.h"
#include "server/host/kit.h"
#include "server/work/work.h"

namespace desk::deskpages {

namespace {

std::string num(std::int64_t n) {
  return std::to_string(n);
}

}  // namespace

// Session key of the clock-in or clock-out message shown once after the
// post's redirect.
constexpr std::string_view kDeskMessage = "deskmessage";

// The case strip of the law-firm edition's desk: the user's open cases and
// pending case items, with the ways into the case files.
std::string case_strip(db::Connection& conn, const std::string& uid) {
  const cases::DeskCounts n = cases::desk_counts(conn, uid);
  return "<table width='100%' border='0' cellspacing='0' cellpadding='4' id='deskcases'><tr>"
         "<td class='10blue' align='center'>案件：您承办的在办案件<font class=numberbold>" +
         num(n.open_cases) + "</font>件，待处理的案件<font class=numberbold>" +
         num(n.pending_items) +
         "</font>件&nbsp;&nbsp;<a href='lawaccept.asp' class='aapply'>案件受理</a>&nbsp;&nbsp;"
         "<a href='lawlistall.asp?type=1&amp;ifdone=2' class='aapply'>我的在办案件</a>&nbsp;&nbsp;"
         "<a href='lawlistall.asp' class='aapply'>案件管理</a></td></tr></table>";
}

void right_page(asp::ScriptingContext& ctx) {
  const host::Variant variant = host::variant_of(ctx.config());
  const char* progid = variant == host::Variant::full   ? "deskserver.rightfull"
                       : variant == host::Variant::simp ? "deskserver.rightsimp"
                                                        : "deskserver.right";
  auto right = ctx.server().CreateObject<Right>(progid);
  right->main(ctx.conn());
  // A clock-in or clock-out is answered with a redirect, so reloading the
  // desk never posts again; the message is shown once on the next desk.
  if (ctx.request().is_post()) {
    if (!right->done.empty()) ctx.session().set(kDeskMessage, right->done);
    return ctx.response().Redirect("right.asp");
  }
  std::string message = ctx.session().get(kDeskMessage);
  if (!message.empty()) {
    ctx.session().remove(kDeskMessage);
    ctx.response().Write("<script language=javascript>alert('" + text::js_string(message) +
                         "')</script>");
  }
  // The client functions the desk's markup calls.
  ctx.response().Write("<script language='javascript' src='apply.js'></script>");
  const db::ReadScope panels(ctx.conn());
  if (host::edition_of(ctx.config()) == host::Edition::law)
    ctx.response().Write(case_strip(ctx.conn(), ctx.session().get("uid")));
  right->form_end = host::form_token_field(ctx);
  right->main1(ctx.conn());
}

void rz_page(asp::ScriptingContext& ctx) {
  const host::Variant variant = host::variant_of(ctx.config());
  const char* progid = variant == host::Variant::full   ? "deskserver.rzfull"
                       : variant == host::Variant::simp ? "deskserver.rzsimp"
                                                        : "deskserver.rz";
  auto rz = ctx.server().CreateObject<Rz>(progid);
  auto& out = ctx.response();
  const db::ReadScope reads(ctx.conn());
  // Links without a target of their own (a reminder whose pop-up the browser
  // blocked) open in the work frame, not in this 59-pixel bar.
  out.Write(
      "<html><head><title>TARVO网络办公系统</title>"
      "<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>"
      "<link rel='stylesheet' href='apply.css' type='text/css'><base target='right'>"
      "<script language='javascript' src='apply.js'></script>"
      "<script language='javascript' src='rz.js'></script></head>");
  rz->main1(ctx.conn());
  rz->main2(ctx.conn());

  const host::User user = host::current_user(ctx);
  const Waiting waiting = waiting_of(ctx.conn(), user.uid);
  out.Write(
      "&nbsp;" + text::html(user.name) + "&nbsp;待办<font class=numberbold>" + num(waiting.work) +
      "</font>项&nbsp;新邮件<font class=numberbold>" + num(waiting.mail) +
      "</font>封<span id='soundhint' style='display:none'>&nbsp;（点击页面开启提示音）</span>");

  // BGSOUND means nothing to current browsers: the sound plays from an
  // <audio> element. Without a configured sound the shipped one plays.
  std::string src = rz->sound;
  if (ctx.session().get("remindsound").empty()) src += "/sound/remind.wav";
  rz->page_end = "<audio id='remindaudio' preload='auto' src='" + text::html(src) +
                 "'></audio><script language='javascript'>statusBar(" +
                 num(ctx.config().status_refresh) + ", " + (rz->announced ? "true" : "false") +
                 ", " + num(waiting.work + waiting.mail) + ");</script>";
  rz->main(ctx.conn());
}

void newwork_page(asp::ScriptingContext& ctx) {
  auto& out = ctx.response();
  db::Result items = ctx.conn().query(
      "SELECT id, url, baseid, typed, title, applytime FROM newwork WHERE status = 0 AND "
      "userid = ? ORDER BY applytime DESC, id DESC",
      {ctx.session().get("uid")});

  out.Write(list_page_head());
  out.Write(
      "<table width='96%' border='0' cellspacing='0' cellpadding='0' align='center' "
      "class='list'>");
  out.Write("<tr><td colspan='2' class='listtitle'>待办事宜</td></tr>");
  out.Write("<tr><td colspan='2' class='10blue'>您共有<font class=numberbold>" +
            num(static_cast<std::int64_t>(items.size())) + "</font>项待办的工作</td></tr>");
  out.Write("<tr class='listhead'><td>工作</td><td width='160'>送达时间</td></tr>");
  for (const auto& row : items) {
    out.Write("<tr><td class='10blue'><a href='" + text::html(row.text("url")) +
              work::item_link("", row.integer("baseid"), row.integer("id")) + "' class='aapply'>[" +
              text::html(row.text("typed")) + "]" + text::html(row.text("title")) + "</a></td>");
    out.Write("<td class='10blue'>" + text::html(ctx.regional().shown(row.text("applytime"))) +
              "</td></tr>");
  }
  if (items.empty()) out.Write("<tr><td colspan='2' class='10blue'>您没有待办的工作。</td></tr>");
  out.Write("</table>");
  out.Write(kListPageFoot);
}

void news_page(asp::ScriptingContext& ctx) {
  auto& out = ctx.response();
  auto& conn = ctx.conn();
  long long id = 0;
  db::Result rows;
  if (text::parse_int(ctx.request()("id"), id) &&
      conn.exec("UPDATE news SET clicknum = clicknum + 1 WHERE id = ?", {id}).changes > 0)
    rows = conn.query("SELECT title, content, clicknum, sendtime FROM news WHERE id = ?", {id});

  out.Write(list_page_head());
  out.Write(
      "<table width='96%' border='0' cellspacing='0' cellpadding='0' align='center' "
      "class='list'>");
  if (rows.empty()) {
    out.Status = 404;
    out.Write("<tr><td class='10blue'>该公告不存在。</td></tr>");
  } else {
    const db::Row& row = rows.front();
    out.Write("<tr><td class='newstitle'>" + text::html(row.text("title")) + "</td></tr>");
    out.Write("<tr><td class='newstime'>" + text::html(ctx.regional().shown(row.text("sendtime"))) +
              "&nbsp;[" + num(row.integer("clicknum")) + "次]</td></tr>");
    out.Write("<tr><td class='newsbody'>" + text::html_lines(row.text("content")) + "</td></tr>");
  }
  // In its own window the link closes it; otherwise it leads to all notices.
  out.Write(
      "<tr><td align='center' class='9blue'><a href='notice.asp' class='aapply' "
      "onClick='if (window.opener) { window.close(); return false; } return true;'>"
      "关闭</a></td></tr></table>");
  out.Write(kListPageFoot);
}

void notice_page(asp::ScriptingContext& ctx) {
  auto& out = ctx.response();
  db::Result news =
      ctx.conn().query("SELECT id, title, clicknum, sendtime FROM news ORDER BY id DESC");

  out.Write(list_page_head());
  out.Write(
      "<table width='96%' border='0' cellspacing='0' cellpadding='0' align='center' "
      "class='list'>");
  out.Write("<tr><td colspan='3' class='listtitle'>公告通知</td></tr>");
  out.Write(
      "<tr class='listhead'><td>标题</td><td width='70'>阅读</td>"
      "<td width='160'>发布时间</td></tr>");
  for (const auto& row : news) {
    out.Write("<tr><td class='10blue'><a href='news.asp?id=" + num(row.integer("id")) +
              "' class='aapply' onClick='return OpenWindows(this.href)'>" +
              text::html(row.text("title")) + "</a></td>");
    out.Write("<td class='10blue'>" + num(row.integer("clicknum")) + "次</td>");
    out.Write("<td class='10blue'>" + text::html(ctx.regional().shown(row.text("sendtime"))) +
              "</td></tr>");
  }
  if (news.empty()) out.Write("<tr><td colspan='3' class='10blue'>暂无公告。</td></tr>");
  out.Write("</table>");
  out.Write(kListPageFoot);
}

}  // namespace desk::deskpages
