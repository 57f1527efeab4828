#include "server/desk/users.h"

#include "core/password.h"
#include "core/text.h"
#include "server/desk/fields.h"

namespace desk::deskpages {

using text::html;

std::string hash_password(asp::ScriptingContext& ctx, const std::string& plain) {
  return password::hash(plain, password::cost_from_name(ctx.config().password_cost));
}

UserFields read_user_fields(asp::ScriptingContext& ctx) {
  auto& req = ctx.request();
  UserFields u;
  u.name = typed_field(ctx, "name", "姓名", kUserFieldChars, true);
  u.mobilephone = typed_field(ctx, "mobilephone", "手机号码", kUserFieldChars);
  u.workphone = typed_field(ctx, "workphone", "办公电话", kUserFieldChars);
  u.email = typed_field(ctx, "email", "电子邮箱", kUserFieldChars);
  u.bz = typed_field(ctx, "bz", "备注", kRemarkChars);
  u.type = req.Form("type");
  if (u.type != "1" && u.type != "2") throw Error(Errc::bad_request, "请选择用户类型。");
  u.power = req.Form("power");
  if (u.power != "1" && u.power != "2" && u.power != "3")
    throw Error(Errc::bad_request, "请选择公文权限。");
  // The department's name is taken from the department itself, not from
  // what the page script put into the hidden field.
  long long depno = 0;
  db::Result dep;
  if (text::parse_int(req.Form("dep"), depno))
    dep = ctx.conn().query("SELECT depno, depname FROM depart WHERE depno = ?", {depno});
  if (dep.empty()) throw Error(Errc::bad_request, "请选择部门。");
  u.depid = std::to_string(dep.front().integer("depno"));
  u.depname = dep.front().text("depname");
  return u;
}

void AddUser::main(db::Connection& conn) {
  if (request().ServerVariables("Request_Method") == "POST") {
    const std::string uid = typed_field(ctx(), "id", "用户帐号", kUserFieldChars, true);
    const std::string pw = typed_field(ctx(), "password", "密码", kUserFieldChars, true);
    const UserFields u = read_user_fields(ctx());
    const std::string hash = hash_password(ctx(), pw);
    db::Transaction tx(conn);
    if (!conn.query("SELECT id FROM userlist WHERE uid = ?", {uid}).empty())
      throw Error(Errc::conflict, "用户帐号“" + uid + "”已经存在，请换一个帐号。");
    conn.exec(
        "INSERT INTO userlist (uid, name, passwd, depid, dep, mobilephone, workphone, type, power, "
        "email, bz) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {uid, u.name, hash, u.depid, u.depname, u.mobilephone, u.workphone, u.type, u.power,
         u.email, u.bz});
    tx.commit();
    write(close_popup_script("usermanage.asp"));
    response().End();
  }

  write("<html><head><title>添加用户</title>");
  write("<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>");
  write("<link rel='stylesheet' href='outplan.css' type='text/css'></head>");
  write("<script language='javascript' src='apply.js'></script>");
  write("<body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0'>");

  write("<script language=javascript>var allid=new Array(200);");
  int i = 0;
  for (const db::Row& row : conn.query("SELECT uid FROM userlist ORDER BY id"))
    write("allid[" + std::to_string(i++) + "]='" + text::js_string(row.text("uid")) + "';");
  write("</script>");

  write("<form action='adduser.asp' method='POST' name='form'>");
  write(
      "<table width='100%' border='0' cellspacing='0' cellpadding='0' "
      "background='images/outplan4.gif'><tr><td width='10'><img src='images/outplan10.gif'></td>");
  write(
      "<td width='70' align='center'> <a href='#' class='wlink' onClick='return "
      "checkadduser()'>添加用户</a></td>");
  write("<td width='2'><img src='images/outplanline.gif'></td>");
  write(
      "<td width='70' align='center'> <a href='#' onClick='window.close()' class='wlink'>关 "
      "闭</a></td>");
  write("<td align='right'><img src='images/outplan5.gif'></td></tr></table>");

  write(
      "<table width='100%' border='0' cellspacing='0' cellpadding='0'><tr>"
      "<td width='10'><img src='images/outplan2.gif'></td>");
  write(
      "<td width='210' background='images/outplan1.gif' "
      "class='outtitle'>&nbsp;&nbsp;添加用户</td>");
  write(
      "<td width='20'><img src='images/outplan3.gif'></td><td background='images/outplan8.gif'>"
      "&nbsp;</td><td width='10'><img src='images/outplan9.gif'></td></tr></table>");
  write(
      "<div align='center'><table width='98%' border='0' cellspacing='0' cellpadding='0'>"
      "<tr><td><table border='0' cellspacing='0' cellpadding='0' class='tab'><tbody>");
  write("<tr><td align='center' class='whitetd'>详细内容</td></tr></tbody></table></td>");
  write(
      "</tr><tr><td><table width='100%' border='0' cellspacing='0' cellpadding='0' "
      "class='fields'><tr><td><table width='100%' border='0' cellspacing='0' cellpadding='0'>");

  write("<tr><td width='100' height='40' align='left'> 用户帐号： </td><td height='40'>");
  write(
      "<input type='text' class='noinput' title='点击输入用户帐号' name='id' maxlength='25' "
      "size='25'></td>");
  write("<td width='13%' align='center'>类　型:</td><td width='44%'>");
  write("<select name='type'><option value='1'>普通用户</option>");
  write("<option value='2'>管理员</option></select></td></tr>");

  write("<tr><td width='100' height='40' align='left'>密　码： </td><td height='40'>");
  write(
      "<input class='noinput' title='点击输入用户密码' type='text' name='password' maxlength='25' "
      "size='25'></td><td></td><td></td></tr>");

  write("<tr><td width='100' height='40' align='left'>姓　名： </td><td height='40'>");
  write(
      "<input class='noinput' title='点击输入用户姓名' type='text' name='name' maxlength='25' "
      "size='25'></td>");
  write("<td width='13%' align='center'>公文权限:</td><td width='44%'>");
  write("<select name='power'><option value='1'> 普 通</option>");
  write("<option value='2'> 秘 密</option><option value='3'> 绝 密</option>");
  write("</select></td></tr>");

  write("<tr><td width='100' height='40' align='left'> 电子邮箱：</td><td height='40'>");
  write(
      "<input title='点击输入电子邮箱' type='text' name='email' size='25' class='noinput' "
      "maxlength='25'></td></tr>");

  write("<tr><td width='100' height='40' align='left'> 手 机：</td><td height='40'>");
  write(
      "<input class='noinput' title='点击输入手机号码' type='text' name='mobilephone' size='25' "
      "maxlength='25'></td>");
  write("<td width='13%' align='center'>部　门:</td><td width='44%'>");
  write("<select name='dep' onChange='choosedep()'><option>请选择</option>");
  for (const db::Row& row : conn.query("SELECT depno, depname FROM depart ORDER BY id"))
    write("<option value='" + std::to_string(row.integer("depno")) + "'>" +
          html(row.text("depname")) + "</option>");
  write("</select></td></tr></table></td></tr><tr>");

  write("<td><table width='100%' border='0' cellspacing='0' cellpadding='0'><tr>");
  write("<td width='100' height='40' align='left'> 电 话：</td><td height='40'>");
  write(
      "<input type='text' class='noinput' title='点击输入办公电话' name='workphone' size='25' "
      "maxlength='25'></td></tr>");
  write(
      "<tr><td colspan='2' height='1' bgcolor='0066CC'></td></tr>"
      "<tr><td colspan='2' height='1' bgcolor='ffffff'></td></tr>");
  write("<tr><td width='100' align='left'>备　注:</td>");
  write("<td><textarea name='bz' rows='5' cols='69' class='body1'></textarea>");
  write("</td></tr></table></td></tr></table><input type='hidden' name='depname'>");
  write("</td></tr></table></div>" + form_end + "</form></body></html>");
}

}  // namespace desk::deskpages
