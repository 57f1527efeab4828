#include "server/workflow/picker.h"

#include "core/text.h"

namespace desk::workflow {

// Names and department names are escaped for the context they land in. The
// click handler's attribute is double-quoted (its argument strings use single
// quotes), so no name, blanks included, can end the attribute early.
void Picker::main(db::Connection& conn) {
  std::string out =
      "<table width='100%' border='0' cellspacing='0' cellpadding='0' height='24'>"
      "<tr><td background='images/emailt.gif' class='textblue'><a name='top'>内部成员</a></td>"
      "</tr></table>";
  // Collected while the tree is written and written after it.
  std::string script = "<script language='javascript'>var namevect=new Array();</script>";

  int d = 0;
  int k = 0;
  db::Result deps = conn.query("SELECT depno, depname FROM depart ORDER BY depno, depname");
  for (const db::Row& dep : deps) {
    ++d;
    const std::string dn = std::to_string(d);
    out += "<table width='100%' border='0' cellspacing='0' cellpadding='0'>";
    out += "<tr><td class='workshop'  onClick=show('dep" + dn + "')>";
    out += "<img src='images/list4.gif' width='16' height='16'>" + text::html(dep.text("depname")) +
           "</td></tr></table>";
    out += "<table id='dep" + dn +
           "' width='100%' border='0' cellspacing='0' cellpadding='0' style='display:none'>";

    // depid is text; the department number is compared in its decimal form.
    db::Result members = conn.query(
        "SELECT name, id, uid FROM userlist WHERE depid = ? AND disabled = 0 ORDER BY uid, name",
        {dep.text("depno")});
    if (members.empty()) {
      out +=
          "<tr bgcolor='#ffffff'><td height=20  class='fontchoose'>&nbsp;&nbsp;&nbsp;&nbsp;无用户"
          "</td></tr><tr><td height='1' bgcolor='#E0E7F3'></td></tr>";
    }
    for (const db::Row& m : members) {
      const std::string kn = std::to_string(k);
      const std::string name = m.text("name");
      script += "<script language='javascript'>namevect[" + kn + "]='" +
                text::js_string(text::trim(name)) + "';</script>";
      out += "<tr bgcolor='#ffffff' onMouseOver='TurnColor(this)' onMouseOut='Turn(this)'>";
      out += "<td id='user" + kn + "' height='20' class='fontchoose' onClick=\"" + handler_ + "('" +
             kn + "','" + text::html(text::js_string(name)) + "')\" valign='bottom'>";
      out += "<input type='checkbox' name='checkbox' value='" + text::html(m.text("uid")) +
             "' onClick='return false;'>";
      out +=
          "<img src='images/list10.gif' width='16' height='16'>" + text::html(name) + "</td></tr>";
      out += "<tr><td height='1' bgcolor='#E0E7F3'></td></tr>";
      ++k;
    }
    out += "</table>";
  }
  out += script;
  write(out);
}

}  // namespace desk::workflow
