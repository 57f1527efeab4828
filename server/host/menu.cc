#include "server/host/menu.h"

#include <string>
#include <string_view>
#include <vector>

#include "server/host/edition.h"

namespace desk::host {

namespace {

// One button of the menu. `link` is relative to the application folder and
// opens in the `right` frame; an empty link marks the logout button, which
// calls quitoa() instead. A zero width or height leaves that attribute out.
struct MenuEntry {
  int group;  // 1..5, in display order
  std::string_view label;
  std::string_view link;
  std::string_view icon;  // file name under images/
  int width;
  int height;
};

// The entries of the office edition in display order; the same for every
// user.
const std::vector<MenuEntry>& office_entries() {
  static const std::vector<MenuEntry> entries = {
      {1, "公告牌", "right.asp", "005.gif", 0, 0},
      {1, "交流园地", "bbs.asp", "007.gif", 0, 0},
      {1, "共享资源", "sharemore.asp", "027.gif", 0, 0},
      {1, "日常信息", "dailyinf.asp", "016.gif", 32, 32},
      {2, "发文拟稿", "fawen.asp", "024.gif", 31, 32},
      {2, "收文登记", "swdengji1.asp", "027.gif", 32, 35},
      {2, "流程跟踪", "flowlist.asp", "013.gif", 32, 32},
      {2, "公文查询", "findwork.asp", "022.gif", 29, 32},
      {3, "待办事宜", "newwork.asp", "025.gif", 32, 35},
      {3, "会议安排", "meetinglist.asp", "002.gif", 29, 32},
      {3, "事务申请", "shenqing.asp", "014.gif", 0, 32},
      {3, "申请跟踪", "applygz.asp", "20.gif", 0, 32},
      {4, "通讯录", "phonelist.asp", "001.gif", 0, 0},
      {4, "个人安排", "planlist.asp", "028.gif", 36, 32},
      {4, "个人日历", "calender.asp", "003.gif", 0, 0},
      {4, "手机短信", "phone.asp", "21.gif", 32, 32},
      {5, "个人设置", "personmsg.asp", "019.gif", 0, 0},
      {5, "系统维护", "system.asp", "018.gif", 32, 32},
      {5, "退出系统", "", "017.gif", 32, 32},
  };
  return entries;
}

// The law-firm edition: the office entries with the case files first in
// the daily-work group.
const std::vector<MenuEntry>& law_entries() {
  static const std::vector<MenuEntry> entries = [] {
    std::vector<MenuEntry> all;
    for (const MenuEntry& e : office_entries()) {
      if (e.link == "newwork.asp") {
        all.push_back({3, "案件受理", "lawaccept.asp", "024.gif", 31, 32});
        all.push_back({3, "案件管理", "lawlistall.asp", "022.gif", 29, 32});
      }
      all.push_back(e);
    }
    return all;
  }();
  return entries;
}

const std::vector<MenuEntry>& menu_entries(Edition edition) {
  return edition == Edition::law ? law_entries() : office_entries();
}

// Header and child table attributes that differ between the groups.
struct GroupLayout {
  const char* header_height;  // "" for none
  const char* child_height;
  int spacing;           // pixels between the entries
  bool short_followers;  // entries after the first are 24 high instead of 35
};

GroupLayout layout_of(int group) {
  switch (group) {
    case 1:
      return {"58%", "66", 0, false};
    case 3:
      return {"400", "66", 0, false};
    case 4:
    case 5:
      return {"", "", 1, true};
    default:
      return {"", "", 0, false};
  }
}

}  // namespace

void Left::write_group(int group) {
  const std::string n = std::to_string(group);
  const GroupLayout layout = layout_of(group);
  auto height_attr = [](const char* h) {
    return *h ? std::string(" height='") + h + "'" : std::string();
  };

  write("<table id='parent" + n + "' width='100%' border='0' cellspacing='0' cellpadding='0'" +
        height_attr(layout.header_height) + ">");
  write("<tr height='30' background='images/left00" + n + ".gif'>");
  write("<td onClick=javascript:expand('" + n + "') style='cursor:hand'>");
  write("</td></tr></table>");

  write("<table id='child" + n + "' width='100%' border='0' cellspacing='" +
        std::to_string(layout.spacing) + "' cellpadding='0'" + height_attr(layout.child_height) +
        ">");
  bool first = true;
  for (const MenuEntry& e : menu_entries(edition_of(ctx().config()))) {
    if (e.group != group) continue;
    const int row_height = (layout.short_followers && !first) ? 24 : 35;
    first = false;
    write("<tr><td height='" + std::to_string(row_height) + "'>");
    write(
        "<table bgcolor='#215ADB' border=1 bordercolordark='#215ADB' "
        "bordercolorlight='#215ADB' cellpadding=0 cellspacing=0 onMouseDown='mouseDown(this)' "
        "onMouseOut='mouseOut(this)' onMouseOver='mouseOver(this)' onMouseUp='mouseUp(this)' "
        "align='center' height='100%' width='40'>");
    write("<tr><td>");
    std::string anchor = e.link.empty() ? std::string("<a href='#' onClick='return quitoa()'>")
                                        : "<a href='" + std::string(e.link) + "' target=right>";
    std::string size;
    if (e.width) size += " width='" + std::to_string(e.width) + "'";
    if (e.height) size += " height='" + std::to_string(e.height) + "'";
    write("<div align='center'>" + anchor + "<img align=middle alt='" + std::string(e.label) +
          "' border=0 src='images/" + std::string(e.icon) + "' style='FILTER: alpha(opacity=100)'" +
          size + ">" + "</a></div>");
    write("</td></tr></table>");
    write("</td></tr>");
    write("<tr><td height='26'><div align='center'>" + std::string(e.label) + "</div></td></tr>");
  }
  write("</table>");
}

void Left::main(db::Connection& conn) {
  write("<html><head><style type='text/css'>");
  write("<!--");
  write("UNKNOWN {FONT-SIZE: 9pt; COLOR: #000000; LINE-HEIGHT: 15pt; FONT-FAMILY: 宋体}");
  write("TD {FONT-SIZE: 10.5pt; COLOR:ffffff; LINE-HEIGHT: 18pt; FONT-FAMILY: 宋体}");
  write("A:link {COLOR: #555555; TEXT-DECORATION: none}");
  write("A:visited { COLOR: #555555; TEXT-DECORATION: none}");
  write("A:hover {COLOR: #83ABEB; TEXT-DECORATION: underline}");
  write("-->");
  write("</style>");
  write("<title>TARVO网络办公系统</title></head>");
  write("<link rel='stylesheet' href='style.css' type='text/css'>");
  write(
      "<body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0' "
      "background='images/leftback.jpg' oncontextmenu='return false'>");

  write(
      "<table width='150' border='0' cellspacing='0' cellpadding='0' align='center' "
      "height='20'>");
  write(
      "<tr><td background='images/kuang14.gif'><img src='images/kuang14.gif' "
      "width='150'></td></tr>");
  write("</table>");

  write(
      "<table align='center' border='0' cellspacing='0' cellpadding='0'  width='150' "
      "height='100%'>");
  write("<tr><td valign='top'>");
  for (int group = 1; group <= 5; ++group) write_group(group);

  write(
      "<table width='149' border='0' cellspacing='0' cellpadding='0' align='center' "
      "height='100%' background='images/down.gif'>");
  write("<tr><td valign='top'><div align='center'>");

  // Something waits when the user has an open pending-work item or an unread
  // mail. Without a login id nothing can be addressed to the user.
  const std::string uid = session().get("uid");
  bool waiting = false;
  if (!uid.empty()) {
    const db::ReadScope reads(conn);
    waiting = !conn.query("SELECT id FROM newwork WHERE status = 0 AND userid = ? LIMIT 1", {uid})
                   .empty() ||
              !conn.query("SELECT id FROM mail WHERE status = 0 AND topeopleid = ? LIMIT 1", {uid})
                   .empty();
  }
  // The page's connection ends here; `conn` dangles from now on.
  ctx().close_connection();

  write(std::string("<img id='cat' src='images/") + (waiting ? "logo.gif" : "logo1.gif") +
        "' align='bottom' alt='小精灵！' width='43' height='41' border='0' style='cursor:hand'>");
  write("</div></td></tr></table></td></tr></table>");
}

}  // namespace desk::host
