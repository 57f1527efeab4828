#include "server/workflow/shouwen.h"
#include "server/host/chrome.h"
#include "server/host/kit.h"

#include "server/workflow/history.h"

#include <string>

#include "core/error.h"
#include "core/text.h"

namespace desk::workflow {

namespace {

using text::html;

constexpr std::string_view kRegisteredScript =
    "<script language=javascript>alert('收文登记完成！')</script>";
constexpr std::string_view kInstructedScript =
    "<script language=javascript>alert('批办完成！')</script>";

// The instruction's history code in swflow (registration is 0).
constexpr int kInstructionCode = 1;

bool valid_post(asp::Request& req) {
  return req.ServerVariables("Request_Method") == "POST" && req("flag") == "2";
}

}  // namespace

LeaderChain leader_chain(std::string_view list) {
  std::vector<std::string> users;
  for (std::string& uid : list_users(list))
    if (!text::trim(uid).empty()) users.push_back(std::move(uid));
  LeaderChain chain;
  if (users.empty()) return chain;
  chain.next = users.front();
  for (std::size_t i = 1; i < users.size(); ++i) chain.rest += users[i] + ";";
  return chain;
}

// ---- swdengji1 --------------------------------------------------------------

void Swdengji1::main(db::Connection& conn) {
  write("<html><head><title></title>");
  write("<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>");
  auto& req = request();
  if (!valid_post(req)) return;

  auto& s = session();
  const std::int64_t id = text::parse_id(s.get("shouwenid"));
  if (id == 0) throw Error(Errc::bad_request, "没有找到上传的收文正文，请选择文件正文后重新提交。");
  const std::string list = req("hiddenselect");
  const LeaderChain chain = leader_chain(list);
  if (chain.next.empty()) throw Error(Errc::bad_request, "请选择批办领导。");

  const DateTime t = now();
  const std::string ip = remote_addr();
  const std::string uid = s.get("uid");
  const std::string username = s.get("username");
  const std::string title = req("title");
  const std::string name_nb = req("name_nb");

  db::Transaction tx(conn);
  // Later leaders get their items one by one: all must exist now.
  work::require_users(conn, list_users(chain.next + ";" + chain.rest));
  // Only a row that holds an uploaded body and is not registered yet; a row
  // registered before is never overwritten.
  db::ExecResult done = conn.exec(
      "UPDATE shouwen SET swid = ?, wenhao = ?, miji = ?, huanji = ?, title = ?, keyword = ?, "
      "documentname = ?, filetype = ?, arrivetime = ?, writetime = ?, fromdep = ?, writeid = ?, "
      "copy = ?, writename = ?, plist = ?, draftime = ?, name_nb = ? "
      "WHERE id = ? AND draftime IS NULL",
      {req("swid"), req("wenhao"), req("miji"), req("huanji"), title, " " + req("keyword"),
       req("fujian"), req("fujiantype"), host::typed_date(req("arrivetime"), "来文时间"),
       host::typed_date(req("worktime"), "成文时间"), req("fromdep"), uid, req("copy"), username,
       list, t.iso(), name_nb, id});
  if (done.changes != 1)
    throw Error(Errc::conflict, "上传的收文正文已经登记或已不存在，请重新选择文件正文后再提交。");
  work::add_history(conn, work::Road::incoming, {id, username, uid, ip, chain.next, 0, 1, name_nb},
                    t);
  work::add_item(conn, chain.next, title, kInstructionItem, id, t, chain.rest);
  tx.commit();

  s.set("shouwenid", "");
  write(kRegisteredScript);
  write("<script>document.location='swdengji1.asp'</script>");
  response().End();
}

void Swdengji1::main1() {
  const std::string today = html(regional().date(now()));
  std::string out;
  out += "<link rel='stylesheet' href='fawen.css' type='text/css'></head>";
  out +=
      "<body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0' "
      "oncontextmenu='return false'>";
  out += "<table width='100%' cellpadding='0' cellspacing='0' align='center'>";
  out += "<tr><td valign='top' height='457' width='940'>";
  out += "<table width='100%' cellspacing='0' cellpadding='0' height='100%'>";
  out += "<tr> <td valign='top'> <form name='form' method='POST' action=''>";
  // The form on the left; the hosting page fills the right-hand column.
  out += "<table width='100%' border='0' cellspacing='0' cellpadding='0'><tr><td valign='top'>";
  out +=
      "<table width='100%' border='0' cellspacing='0' cellpadding='0'>"
      "<tr><td height='32' align='center' valign='middle'>";
  out += "<img src='images/swdj.gif' width='114' height='24'></td>";
  out += "</tr></table>";
  out +=
      "<table width='100%' border='0' cellspacing='1' cellpadding='2' bgcolor='990000' "
      "align='center' height='395'>";

  out +=
      "<tr bgcolor='#FFFFFF'><td width='13%' height='30' class='label'>收文编号：</td>"
      "<td width='37%'>";
  out +=
      "<input class='fileinput'  title='单击，请输入收文号'   type='text' name='swid' size='20' "
      "maxlength='20'>";
  out += "</td><td width='13%' class='label'>&nbsp;密　　级：</td><td width='37%'>";
  out += "<select name='miji'><option value='普通' selected>普通</option>";
  out += "<option value='秘密'>秘密</option><option value='绝密'>绝密</option></select>";
  out += "&nbsp;缓　　急：";
  out += "<select name='huanji'><option value='一般' selected>一般</option>";
  out += "<option value='紧急'>紧急</option><option value='加急'>加急</option></select>";
  out += "</td></tr>";

  out += "<tr bgcolor='#FFFFFF'><td height='30' class='label'>来文时间：</td><td>";
  out += "<input class='fileinput' type='text' name='arrivetime' size='20' value=" + today +
         " maxlength='20'></td>";
  out += "<td class='label'>&nbsp;成文时间：</td><td>";
  out += "<input type='text' name='worktime' class='fileinput' size='20' value=" + today +
         " maxlength='20'>";
  out += "</td></tr>";

  out += "<tr bgcolor='#FFFFFF'><td height='30' class='label'>来文单位：</td><td>";
  out +=
      "<input class='fileinput'  title='单击，请输入来文单位'   type='text' name='fromdep' "
      "size='20' maxlength='20'>";
  out += "</td><td class='label'>&nbsp;份　　数：</td><td>";
  out += "<input type='text' name='copy' class='fileinput' size='6' value='1' maxlength='6'>";
  out += "</td></tr>";

  out += "<tr bgcolor='#FFFFFF'><td height='30' class='label'>文　　号：</td><td colspan='3'>";
  out +=
      "<input class='fileinput'  title='单击，请输入文号'   type='text' name='wenhao' size='45' "
      "maxlength='40'>";
  out += "</td></tr>";
  out += "<tr bgcolor='#FFFFFF'><td height='30' class='label'>标　　题：</td><td colspan='3'>";
  out +=
      "<input class='fileinput'  title='单击，请输入文件标题'   type='text' name='title' "
      "maxlength='48' size='48'>";
  out += "</td></tr>";
  out += "<tr bgcolor='#FFFFFF'><td height='30' class='label'>主 题 词：</td><td colspan='3'>";
  out +=
      "<input class='fileinput'  title='单击，请输入文件主题词'   type='text' name='keyword' "
      "maxlength='48' size='48'>";
  out += "</td></tr>";

  out += "<tr bgcolor='#FFFFFF'><td class='label'>文件正文：</td>";
  out += "<td height='35' colspan='3'><input type='file' name='file'></td></tr>";

  out += "<tr bgcolor='#FFFFFF'><td height='80' class='label'>拟办意见：</td><td colspan='3'>";
  out +=
      "<textarea class='body1'  title='单击，请输入拟办意见'   name='name_nb' "
      "style='width:80%;height:100%;' rows='1' cols='20'></textarea>";
  out += "</td></tr>";
  out +=
      "<tr bgcolor='#EEEEEE'><td height='40' class='label'>承办意见：</td>"
      "<td colspan='3'>&nbsp;</td></tr>";
  out +=
      "<tr bgcolor='#EEEEEE'><td height='40' class='label'>批办意见：</td>"
      "<td colspan='3'>&nbsp;</td></tr>";

  out += "<tr bgcolor='#FFFFFF'><td colspan='4' height='40' align='center'>";
  out += " 批办领导：";
  out +=
      "<input class=lineinput type='text' name='username' size='20' maxlength='20' "
      "onClick='checkpeople()' style='cursor:hand'>";
  out += "&nbsp;&nbsp;";
  out +=
      "<input type='image' name='send' value=' 提 交 ' onClick='return checkform();return false;' "
      "src='images/okgif.gif' alt='确定'>&nbsp;";
  out +=
      "<input  type='image' name='send2' value=' 返 回 ' onClick='history.go(-1);return false;' "
      "src='images/fanhuigif.gif' alt='返回'>";
  out += "</td></tr></table></td><td width='200' valign='top'>";
  write(out);
}

void Swdengji1::main2() {
  write("<input type='hidden' name='fujian'>");
  write("<input type='hidden' name='hiddenselect'>");
  write("<input type='hidden' name='single' value='single'>");
  write("<input type='hidden' name='flag' value='2'>");
  write("<input type='hidden' name='hiddennum' value='0'>");
  write("</td></tr></table></form></td></tr></table></td></tr></table></body></html>");
}

// ---- swdengji ---------------------------------------------------------------

void Swdengji::main(db::Connection& conn) {
  auto& req = request();
  if (!valid_post(req)) return;

  auto& s = session();
  const std::string uid = s.get("uid");
  // The form names the document it was opened for; Session `fawenid` is the
  // fallback for a form that does not.
  std::int64_t fawenid = text::parse_id(req("flowid"));
  if (fawenid == 0) fawenid = text::parse_id(s.get("fawenid"));
  if (fawenid == 0)
    throw Error(Errc::bad_request,
                "没有正在登记的公文（可能已经登记过），请从待办事宜中重新打开收文登记。");
  if (text::trim(req("title")).empty()) throw Error(Errc::bad_request, "请输入文件标题。");
  if (text::trim(req("swid")).empty()) throw Error(Errc::bad_request, "请输入收文编号。");

  const std::string list = req("hiddenselect");
  const LeaderChain chain = leader_chain(list);
  if (chain.next.empty()) throw Error(Errc::bad_request, "请选择批办领导。");

  // Without an item only the document the session opened may be registered.
  const std::string nwid = text::trim(req("nwid"));
  std::optional<Item> item;
  if (!nwid.empty())
    item = work::open_item(conn, nwid, uid, fawenid, find_step(kRegistration)->item.url);
  else if (fawenid != text::parse_id(s.get("fawenid")))
    throw Error(Errc::conflict,
                "所登记的公文已不是当前打开的公文，请从待办事宜中重新打开收文登记。");

  db::Result body = conn.query("SELECT filedata, filetype FROM fawen WHERE id = ?", {fawenid});
  if (body.empty()) throw Error(Errc::not_found, "要登记的公文不存在。");

  const DateTime t = now();
  const std::string ip = remote_addr();
  const std::string username = s.get("username");
  const std::string title = req("title");
  const std::string name_nb = req("name_nb");
  // The further users of the form join the routing list; none adds nothing.
  std::string plist = list;
  const std::string workpeople = text::trim(req("workpeople"));
  if (!workpeople.empty()) {
    if (conn.scalar("SELECT COUNT(*) FROM userlist WHERE uid = ?", {workpeople}) == "0")
      throw Error(Errc::bad_request, "找不到承办人“" + workpeople + "”，请在承办人列表中选择。");
    plist += workpeople + ";";
  }

  db::Transaction tx(conn);
  // Later leaders get their items one by one: all must exist now.
  work::require_users(conn, list_users(chain.next + ";" + chain.rest));
  const std::int64_t id = conn.insert(
      "INSERT INTO shouwen (swid, wenhao, miji, huanji, title, keyword, documentname, filedata, "
      "filetype, arrivetime, writetime, fromdep, writeid, copy, writename, plist, draftime, "
      "name_nb) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {req("swid"), req("wenhao"), req("miji"), req("huanji"), title, " " + req("keyword"),
       req("documentname"), body.front()["filedata"], body.front().text("filetype"),
       host::typed_date(req("arrivetime"), "来文时间"),
       host::typed_date(req("worktime"), "成文时间"), req("fromdep"), uid, req("copy"), username,
       plist, t.iso(), name_nb});
  work::add_history(conn, work::Road::incoming, {id, username, uid, ip, chain.next, 0, 1, name_nb},
                    t);
  work::add_item(conn, chain.next, title, kInstructionItem, id, t, chain.rest);
  if (item && !work::close_item(conn, item->id, uid, t))
    throw Error(Errc::conflict, "该收文登记已经办理完毕，不能重复登记。");
  tx.commit();

  s.set("fawenid", "");
  s.set("shouwenid", "");
  write(kRegisteredScript);
  write("<script>document.location='right.asp'</script>");
  response().End();
}

// ---- piban ------------------------------------------------------------------

void Piban::main(db::Connection& conn) {
  auto& req = request();
  if (req.ServerVariables("Request_Method") != "POST") return;

  auto& s = session();
  const std::string uid = s.get("uid");
  const std::int64_t flowid = text::parse_id(req("flowid"));
  if (flowid == 0) throw Error(Errc::bad_request, "没有指明要批办的收文。");
  const Item item = work::open_item(conn, req("nwid"), uid, flowid, kInstructionItem.url);
  const std::string remark = req("remark");
  if (text::trim(remark).empty()) throw Error(Errc::bad_request, "请填写批办意见。");

  const LeaderChain chain = leader_chain(item.userlist);
  const DateTime t = now();

  db::Transaction tx(conn);
  // The last leader of the chain ends the routing: no next recipient, no
  // next step.
  work::add_history(conn, work::Road::incoming,
                    {flowid, s.get("username"), uid, remote_addr(), chain.next, kInstructionCode,
                     chain.next.empty() ? -1 : kInstructionCode, remark},
                    t);
  if (!chain.next.empty())
    work::add_item(conn, chain.next, item.title, kInstructionItem, flowid, t, chain.rest);
  if (!work::close_item(conn, item.id, uid, t))
    throw Error(Errc::conflict, "该事项已经办理完毕，不能重复提交。");
  tx.commit();

  write(kInstructedScript);
  write("<script>document.location='right.asp'</script>");
  response().End();
}

// ---- shared pieces ----------------------------------------------------------

std::optional<std::string> shouwen_view(db::Connection& conn, std::int64_t id,
                                        const Regional& regional, bool with_body_link) {
  db::Result found = conn.query(
      "SELECT swid, wenhao, miji, huanji, title, keyword, documentname, arrivetime, writetime, "
      "fromdep, writename, copy, draftime, name_nb, "
      "CASE WHEN filedata IS NULL THEN 0 ELSE 1 END AS hasbody FROM shouwen WHERE id = ?",
      {id});
  if (found.empty()) return std::nullopt;
  const db::Row& d = found.front();
  auto cell = [&](std::string_view column) { return html(d.text(column)); };
  auto pair_row = [](std::string_view l1, const std::string& v1, std::string_view l2,
                     const std::string& v2) {
    return "<tr bgcolor='#FFFFFF'><td width='13%' height='26' class='label'>" + std::string(l1) +
           "</td><td width='37%'>" + v1 + "</td><td width='13%' class='label'>" + std::string(l2) +
           "</td><td width='37%'>" + v2 + "</td></tr>";
  };
  auto wide_row = [](std::string_view label, const std::string& value) {
    return "<tr bgcolor='#FFFFFF'><td height='26' class='label'>" + std::string(label) +
           "</td><td colspan='3'>" + value + "</td></tr>";
  };

  std::string body;
  if (d.integer("hasbody") == 0) {
    body = "（无正文）";
  } else {
    std::string name = d.text("documentname");
    if (name.empty()) name = "下载正文";
    body = with_body_link
               ? "<a href='swload.asp?flowid=" + std::to_string(id) +
                     "' class='aapply' target='_blank'>" + html(name) +
                     "</a>&nbsp;&nbsp;<a href='preview.asp?kind=sw&flowid=" + std::to_string(id) +
                     "' class='aapply' target='_blank'>在线预览</a>"
               : html(name);
  }

  std::string out =
      "<table width='100%' border='0' cellspacing='1' cellpadding='3' bgcolor='990000' "
      "class='docview'>";
  out += pair_row("收文编号：", cell("swid"), "文　　号：", cell("wenhao"));
  out += pair_row("密　　级：", cell("miji"), "缓　　急：", cell("huanji"));
  out += pair_row("来文单位：", cell("fromdep"), "份　　数：", cell("copy"));
  out += pair_row("来文时间：", html(regional.shown(d.text("arrivetime"))), "成文时间：",
                  html(regional.shown(d.text("writetime"))));
  out += wide_row("标　　题：", "<b>" + cell("title") + "</b>");
  out += wide_row("主 题 词：", html(text::trim(d.text("keyword"))));
  out += wide_row("文件正文：", body);
  out += wide_row("拟办意见：", text::html_lines(d.text("name_nb")));
  out += pair_row("登 记 人：", cell("writename"), "登记时间：",
                  html(regional.shown(d.text("draftime"))));
  out += "</table>";
  return out;
}

std::string page_head(std::string_view title) {
  return host::page_head(title, {"apply.css", "fawen.css"});
}

}  // namespace desk::workflow
