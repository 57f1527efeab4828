#include "server/desk/phone.h"

#include <string>

#include "core/text.h"
#include "server/desk/fields.h"
#include "server/host/kit.h"

namespace desk::deskpages {

using text::html;

ContactFields read_contact(asp::ScriptingContext& ctx) {
  ContactFields c;
  c.name = typed_field(ctx, "name", "姓名", kContactChars);
  c.mobilephone = typed_field(ctx, "mobilephone", "手机", kContactChars);
  c.telephone = typed_field(ctx, "telephone", "电话", kContactChars);
  c.email = typed_field(ctx, "email", "电子邮箱", kContactChars);
  c.company = typed_field(ctx, "company", "单位", kContactChars);
  c.address = typed_field(ctx, "address", "通讯地址", kContactChars);
  c.postcode = typed_field(ctx, "postcode", "邮编", kContactChars);
  c.work = typed_field(ctx, "work", "职务", kContactChars);
  c.fax = typed_field(ctx, "fax", "传真", kContactChars);
  c.remark = typed_field(ctx, "remark", "备注", kContactRemarkChars);
  return c;
}

void AddPhone::main(db::Connection& conn) {
  if (request().ServerVariables("Request_Method") == "POST") {
    const ContactFields c = read_contact(ctx());
    // `username` is not a field of the form: only an address that carries
    // it fills it.
    const std::string username = text::trim(request()("username"));
    if (text::char_count(username) > kContactChars)
      throw Error(Errc::bad_request, "username不能超过25个字。");
    conn.exec(
        "INSERT INTO phone (username, userid, name, mobilephone, telephone, email, company, "
        "address, postcode, work, fax, remark) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {username, session().get("uid"), c.name, c.mobilephone, c.telephone, c.email, c.company,
         c.address, c.postcode, c.work, c.fax, c.remark});
    write(close_popup_script("phonelist.asp"));
    response().End();
  }

  write("<html><head><title>添加联系人</title>");
  write("<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>");
  write("<link rel='stylesheet' href='outplan.css' type='text/css'></head>");
  write("<script language='javascript' src='apply.js'></script>");
  write("<body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0'>");
  write("<form method='POST' name='form' action='addphone.asp'>");
  write(
      "<table width='100%' border='0' cellspacing='0' cellpadding='0' "
      "background='images/outplan4.gif'><tr><td width='10'><img src='images/outplan10.gif'></td>");
  write(
      "<td width='70' align='center'> <a href='#' class='wlink' onClick='return "
      "checkphoneadd()'>添 加</a></td>");
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
      "class='outtitle'>&nbsp;&nbsp;添加联系人</td>");
  write(
      "<td width='20'><img src='images/outplan11.gif'></td><td background='images/outplan8.gif'>"
      "&nbsp;</td><td width='10'><img src='images/outplan9.gif'></td></tr></table>");
  write(
      "<div align='center'><table width='98%' border='0' cellspacing='0' cellpadding='0'>"
      "<tr><td><table border='0' cellspacing='0' cellpadding='0' class='tab'><tbody>");
  write("<tr><td align='center' class='whitetd'>详细内容</td></tr></tbody></table></td>");
  write(
      "</tr><tr><td><table width='100%' border='0' cellspacing='0' cellpadding='0' "
      "class='fields'>");

  write("<tr><td width='100' height='40' align='left'> 姓　名： </td><td height='40'>");
  write("<input type='text' class='noinput' name='name' maxlength='25' size='25'></td></tr>");
  write("<tr><td width='100' height='40' align='left'>手　机： </td><td height='40'>");
  write(
      "<input class='noinput' type='text' name='mobilephone' maxlength='25' size='25'></td></tr>");
  write("<tr><td width='100' height='40' align='left'>电　话： </td><td height='40'>");
  write("<input class='noinput' type='text' name='telephone' maxlength='25' size='25'></td>");
  write("<td width='13%' align='center'>传　真:</td><td width='44%'>");
  write("<input class='noinput' type='text' name='fax' maxlength='25' size='15'></td></tr>");
  write("<tr><td width='100' height='40' align='left'> 电子邮箱：</td>");
  write(
      "<td height='40'><input type='text' name='email' size='25' class='noinput' "
      "maxlength='25'></td></tr>");
  write("<tr><td width='100' height='40' align='left'> 单　位：</td>");
  write(
      "<td width='43%'><input class='noinput' type='text' name='company' size='25' "
      "maxlength='25'></td>");
  write("<td width='13%' align='center'>职　务:</td><td width='44%'>");
  write("<input class='noinput' type='text' name='work' maxlength='25' size='15'></td></tr>");
  write("<tr><td width='100' height='40' align='left'> 通讯地址：</td><td height='40'>");
  write("<input class='noinput' type='text' name='address' size='25' maxlength='25'>");
  write("</td><td width='13%' align='center'>邮　编:</td>");
  write(
      "<td width='44%'><input class='noinput' type='text' name='postcode' maxlength='25' "
      "size='15'></td></tr>");
  write(
      "<tr><td colspan='4' height='1' bgcolor='0066CC'></td></tr>"
      "<tr><td colspan='4' height='1' bgcolor='ffffff'></td></tr>");
  write("<tr><td width='100' align='left'>备　注:</td>");
  write("<td colspan='3'><textarea name='remark' rows='5' cols='69' class='body1'></textarea>");
  write("</td></tr></table></td></tr></table></div>" + form_end + "</form></body></html>");
}

}  // namespace desk::deskpages
