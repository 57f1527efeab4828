#include "server/workflow/fawen.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "core/text.h"
#include "server/workflow/approval.h"
#include "server/workflow/flow.h"
#include "server/workflow/staging.h"

namespace desk::workflow {
namespace {

using text::html;

double make_name(const Regional& regional, const DateTime& now) {
  thread_local std::mt19937 gen{std::random_device{}()};
  std::uniform_int_distribution<int> extra(1, 10);
  return name_digits(regional.date_time(now)) + extra(gen);
}

// The document named by Session `fawenid`; 0 when it names none.
std::int64_t session_document(const asp::Session& session) {
  long long id = 0;
  if (!text::parse_int(session.get("fawenid"), id) || id <= 0) return 0;
  return id;
}

// What the drafting form posts, for a first draft and a redraft alike.
struct DraftForm {
  const Step* next = nullptr;
  std::string nextid;
};

DraftForm read_choice(const asp::Request& req) {
  DraftForm f;
  f.next = &routed_step(req("typed"), kVerification, kSignOff);
  f.nextid = req("hiddenselect");
  if (f.nextid.empty() || f.nextid.find(';') != std::string::npos)
    throw Error(Errc::bad_request, "请选择下一步的处理人。");
  return f;
}

// Writes the drafting fields to document `id`, its drafting history row and
// the first handler's item. `name_field` is the form field that carries the
// body's file name. Runs inside the caller's transaction.
void save_draft(asp::ScriptingContext& ctx, db::Connection& conn, std::int64_t id,
                std::string_view name_field, const DraftForm& form) {
  const asp::Request& req = ctx.request();
  const asp::Session& s = ctx.session();
  DateTime now = ctx.now();
  std::string title = req("title");
  std::string sql =
      "UPDATE fawen SET wenhao = ?, miji = ?, baomiqx = ?, huanji = ?, dingmiyj = ?, "
      "mainsend = ?, tosend = ?, writedep = ?, writeid = ?, writename = ?, writetime = ?, "
      "copy = ?, title = ?, documentname = ?, keywords = ?";
  db::Params params = {req("wenhao"),   req("miji"),       req("baomiqx"), req("huanji"),
                       req("dingmiyj"), req("mainsend"),   req("tosend"),  s.get("dep"),
                       s.get("uid"),    s.get("username"), now.iso(),      req("copy"),
                       title,           req(name_field),   req("keyword")};
  // The attachment's name and type are only replaced when the page sends one.
  std::string fujian = req("fujian");
  if (!fujian.empty()) {
    sql += ", fujianname = ?, psotype = ?";
    params.emplace_back(fujian);
    params.emplace_back(req("fujiantype"));
  }
  sql += " WHERE id = ?";
  params.emplace_back(id);
  conn.exec(sql, params);

  work::HistoryEntry e;
  e.flowid = id;
  e.handlename = s.get("username");
  e.handleid = s.get("uid");
  e.ipaddress = req.ServerVariables("remote_addr");
  e.nextid = form.nextid;
  e.handtype = kDrafting;
  e.nexttype = form.next->code;
  work::add_history(conn, work::Road::outgoing, e, now);
  work::add_item(conn, form.nextid, title, form.next->item, id, now);
}

}  // namespace

double name_digits(std::string_view shown) {
  std::string t(shown);
  for (std::string_view gone : {"-", " ", ":", "PM", "AM", "上午", "下午"}) {
    for (std::size_t at = t.find(gone); at != std::string::npos; at = t.find(gone, at))
      t.erase(at, gone.size());
  }
  double n = 0;
  for (char c : t) {
    if (c < '0' || c > '9') break;
    n = n * 10 + (c - '0');
  }
  return n;
}

double Fawen::MakeName() {
  return make_name(regional(), now());
}
double Fawen1::MakeName() {
  return make_name(regional(), now());
}

void Fawen::main(db::Connection& conn) {
  std::int64_t id = session_document(session());
  if (id == 0) {
    response().Redirect("error.htm");
    return;
  }
  DraftForm form = read_choice(request());

  db::Transaction tx(conn);
  db::Result doc = conn.query("SELECT writeid FROM fawen WHERE id = ?", {id});
  if (doc.empty()) {
    response().Redirect("error.htm");
    return;
  }
  if (!doc.front().text("writeid").empty())
    throw Error(Errc::conflict, "该公文已经发出，不能再次发送。请重新上传正文起草新的公文。");
  save_draft(ctx(), conn, id, "documentname", form);
  tx.commit();
  session().set("fawenid", "");
}

void Fawen1::main(db::Connection& conn) {
  std::int64_t id = session_document(session());
  if (id == 0) {
    response().Redirect("error.htm");
    return;
  }
  long long nwid = 0;
  if (!text::parse_int(request()("nwid"), nwid) || nwid <= 0)
    throw Error(Errc::bad_request, "缺少有效的待办事项编号。");
  DraftForm form = read_choice(request());
  std::string uid = session().get("uid");
  DateTime at = now();

  db::Transaction tx(conn);
  work::open_item(conn, nwid, uid, id, kRedraftItem.url);
  if (conn.query("SELECT id FROM fawen WHERE id = ?", {id}).empty()) {
    response().Redirect("error.htm");
    return;
  }
  save_draft(ctx(), conn, id, "opendoc", form);
  apply_staged(conn, uid, id);
  if (!work::close_item(conn, nwid, uid, at))
    throw Error(Errc::conflict, "该待办事项已经办理，或不是您的待办事项。");
  tx.commit();
  session().set("fawenid", "");
}

void Fawen::main1(db::Connection& conn) {
  auto row = [this](const char* color) { write(std::string("<tr bgcolor='") + color + "'>"); };
  write("<table width='100%' border='0' cellspacing='0' cellpadding='0' height='400'>");
  write(
      "<tr><td height='25' align='left'><img src='images/gwng.gif' width='114' height='24'>"
      "</td><td width='180'></td></tr>");
  write("<tr height='25'>");
  write("<td height='296' valign='top' align='center'>");
  write("<table width='100%' border='0' cellspacing='1' cellpadding='2' bgcolor='990000'>");

  row("ffffff");
  write(
      "<td height='35' width='45%'>&nbsp;文　　号：<input type='text' class='fileinput' "
      "title='单击，请输入文件号'  name='wenhao' size='20'></td>");
  write(
      "<td height='35' width='27%'>&nbsp;密　　级：<select name='miji'><option value='普通' "
      "selected>普通</option><option value='秘密'>秘密</option>"
      "<option value='绝密'>绝密</option></select></td>");
  write(
      "<td height='35' width='28%'>&nbsp;缓　　急：<select name='huanji'><option value='一般' "
      "selected>一般</option><option value='紧急'>紧急</option><option value='加急'>加急"
      "</option></select></td></tr>");

  row("ffffff");
  write(
      "<td height='35'>&nbsp;保密期限： <input type='text' name='baomiqx' class='fileinput' "
      "title='单击，请输入保密时限'  size='10' maxlength='4' value='一年'></td>");
  write(
      "<td height='35' colspan='2'>&nbsp;定密依据： <input type='text' class='fileinput' "
      "title='单击，请输入定密依据'  name='dingmiyj' size='20'></td></tr>");

  row("f5f5f5");
  write(
      "<td height='70' valign='top'>&nbsp;核稿意见：</td>"
      "<td height='70' valign='top' colspan='2'>&nbsp;审核意见：</td></tr>");
  row("f5f5f5");
  write(
      "<td height='70' valign='top'>&nbsp;签　　发：</td>"
      "<td height='70' valign='top' colspan='2'>&nbsp;会　　签：</td></tr>");

  row("ffffff");
  write(
      "<td height='35' colspan='3'>&nbsp;主　　送： <input type='text' class='fileinput' "
      "title='单击，请输入主送部门'  name='mainsend' size='40' maxlength='48'></td></tr>");
  row("ffffff");
  write(
      "<td height='35' colspan='3'>&nbsp;抄　　送： <input type='text' name='tosend'  "
      "title='单击，请输入抄送部门' class='fileinput' size='40' maxlength='48'></td></tr>");

  row("f5f5f5");
  write("<td height='35' width='45%'>&nbsp;拟稿单位：<font class='bblue'>" +
        html(session().get("dep")) + "</font></td>");
  write("<td height='35' width='27%'>&nbsp;拟 稿 人：<font class='bblue'>" +
        html(session().get("username")) + "</font></td>");
  write("<td height='35' width='28%'>&nbsp;核 稿 人：</td></tr>");

  row("ffffff");
  write("<td height='35' bgcolor='f5f5f5'>&nbsp;印　　制： </td>");
  write("<td height='35' bgcolor='f5f5f5'>&nbsp;校　　对： </td>");
  write(
      "<td height='35'>&nbsp;份　　数：<input type='text' name='copy'  title='单击，请输入份数' "
      "class='fileinput' size='10' maxlength='5'></td></tr>");

  row("ffffff");
  write("<td height='35' colspan='3'>&nbsp;公文模板：<select name='temple'>");
  for (const db::Row& t : conn.query("SELECT id, filename, fileindex FROM temple ORDER BY id")) {
    std::string option = "<option value=" + std::to_string(t.integer("id"));
    if (t.text("fileindex") == "1") option += " selected";
    option += ">" + html(t.text("filename")) + "</option>";
    write(option);
  }
  write(
      "</select><b>　　</b><input type='image' name='Submit' value='公文正文' "
      "onClick='return OpenWindows();' src='images/zhengwengif.gif' alt='公文正文'></td></tr>");

  row("ffffff");
  write("<td height='35' colspan='3'>&nbsp;附　　件： <input type='file' name='file' ></td></tr>");
  row("ffffff");
  write(
      "<td height='35' colspan='3'>&nbsp;标　　题：<input type='text' name='title' "
      "title='单击，请输入文件标题'  class='fileinput' maxlength='48' size='48'></td></tr>");
  row("ffffff");
  write(
      "<td height='35' colspan='3'>&nbsp;主 题 词：<input type='text' name='keyword' "
      "title='单击，请输入文件主题词'  class='fileinput' maxlength='48' size='48'>");
  write("</td></tr></table></td>");
  write("<td valign='top' align='center' width='180'>");
}

}  // namespace desk::workflow
