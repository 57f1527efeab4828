// Hosting pages of cases as a whole: the case list, acceptance, the case
// page with its editing, closing and reopening, and deleting a case.
#include <algorithm>
#include <string>
#include <string_view>

#include "core/text.h"
#include "server/cases/cases.h"
#include "server/cases/lawinfo.h"
#include "server/cases/page_parts.h"
#include "server/cases/pages.h"

namespace desk::cases {
namespace {

using text::html;

// Cases per page of the case list.
constexpr std::int64_t kPageRows = 20;
// Longest case title shown in the list, in characters.
constexpr std::size_t kListTitleChars = 30;

constexpr std::string_view kJzTypes[] = {"民事", "刑事", "行政", "仲裁", "非诉讼"};
constexpr std::string_view kJudgePeriods[] = {"一审", "二审", "再审", "执行", "其他"};
constexpr std::string_view kMoneyTypes[] = {"固定收费", "按标的比例收费", "计时收费", "风险代理"};
constexpr std::string_view kReceiveTypes[] = {"当事人委托", "法律援助", "指定代理", "其他"};
constexpr std::string_view kProxyRanges[] = {"一般代理", "特别授权代理"};

// The fields of the acceptance and case forms, filled from `value` (a
// column name gives the text to show).
template <class ValueOf>
std::string case_fields(db::Connection& conn, ValueOf value) {
  return form_row("案　　号：", text_field("lawno", value("lawno"), 30)) +
         form_row("案件名称：", text_field("lawtitle", value("lawtitle"), 60)) +
         form_row("卷宗类别：",
                  choice("jztype", kJzTypes, value("jztype")) + "&nbsp;&nbsp;法律部门：" +
                      text_field("flbmtype", value("flbmtype"), 16) + "&nbsp;&nbsp;审　　级：" +
                      choice("judgeperiod", kJudgePeriods, value("judgeperiod"))) +
         form_row("原告/申请人：", text_field("demandanttm", value("demandanttm"), 60)) +
         form_row("被告/被申请人：", text_field("defendanttm", value("defendanttm"), 60)) +
         form_row("约定律师费：", text_field("needmoney", value("needmoney"), 14) +
                                      " 元&nbsp;&nbsp;收费方式：" +
                                      choice("moneytype", kMoneyTypes, value("moneytype")) +
                                      "&nbsp;&nbsp;收费比例：" +
                                      text_field("moneyrate", value("moneyrate"), 5) + " %") +
         form_row("收案日期：", text_field("receivedate", value("receivedate"), 14) +
                                    "&nbsp;&nbsp;收案方式：" +
                                    choice("receivetype", kReceiveTypes, value("receivetype")) +
                                    "&nbsp;&nbsp;代理权限：" +
                                    choice("proxyrange", kProxyRanges, value("proxyrange"))) +
         form_row("案　　由：", text_field("proxyreason", value("proxyreason"), 60)) +
         form_row("案情简介：", text_area("lawdesc", value("lawdesc"), 5)) +
         form_row("初步分析：", text_area("lawanalysis", value("lawanalysis"), 5)) +
         form_row("承办律师：", lawyer_choice(conn, value("lawyerid"), value("lawyername")) +
                                    " （交给其他律师时，该案件将出现在其待办事宜中）");
}

// ---- The case list ------------------------------------------------------------

// The address of one page of the list with the same search.
std::string list_link(const std::string& title, const std::string& ifdone, const std::string& type,
                      std::int64_t page) {
  std::string out = "lawlistall.asp?title=" + text::url_encode(text::to_gb18030(title)) +
                    "&ifdone=" + text::url_encode(ifdone) + "&type=" + text::url_encode(type);
  return out + "&page=" + std::to_string(page);
}

void lawlistall_page(asp::ScriptingContext& ctx, LawListAll& list) {
  auto& conn = ctx.conn();
  auto& req = ctx.request();
  const host::User user = host::current_user(ctx);
  const ListStatement st = list.main(conn);

  // The statement as the component built it, limited to the cases the user
  // may see and cut into pages.
  const Condition visible = visible_to(user);
  std::string from = " FROM (" + st.sql + ")";
  db::Params values = st.values;
  if (!visible.sql.empty()) {
    from += " WHERE " + visible.sql;
    values.insert(values.end(), visible.values.begin(), visible.values.end());
  }
  const std::int64_t total = std::stoll(conn.scalar("SELECT COUNT(*)" + from, values));
  const std::int64_t pages = std::max<std::int64_t>(1, (total + kPageRows - 1) / kPageRows);
  const std::int64_t page = std::clamp<std::int64_t>(text::parse_id(req("page")), 1, pages);
  db::Params page_values = values;
  page_values.insert(page_values.end(), {kPageRows, (page - 1) * kPageRows});
  const db::Result rows = conn.query(
      "SELECT id, lawno, lawtitle, demandanttm, defendanttm, lawyername, receivedate, status" +
          from + " ORDER BY id DESC LIMIT ? OFFSET ?",
      page_values);

  const std::string title = req("title");
  std::string ifdone = text::trim(req("ifdone"));
  if (ifdone != "2" && ifdone != "3") ifdone = "1";
  const std::string type = text::trim(req("type")) == "1" ? "1" : "";

  auto& r = ctx.response();
  r.Write(case_page_head("案件管理"));
  r.Write(
      host::title_bar("案件管理", {{"lawaccept.asp", "受理新案件"}, {"right.asp", "返回桌面"}}));
  const std::string_view states[] = {"1", "全部案件", "2", "在办案件", "3", "已结案件"};
  std::string state_choice = "<select name='ifdone'>";
  for (int i = 0; i < 6; i += 2)
    state_choice += "<option value='" + std::string(states[i]) + "'" +
                    (ifdone == states[i] ? " selected" : "") + ">" + std::string(states[i + 1]) +
                    "</option>";
  state_choice += "</select>";
  r.Write(
      "<div class='searchbar'><form name='search' method='get' action='lawlistall.asp' "
      "class='inline'>案件名称：<input type='text' name='title' size='30' value='" +
      html(title) + "'>&nbsp;&nbsp;状态：" + state_choice +
      "&nbsp;&nbsp;<label><input type='checkbox' name='type' value='1'" +
      (type == "1" ? " checked" : "") +
      ">只看我承办的案件</label>&nbsp;&nbsp;<input type='submit' value='查 询'></form></div>");
  r.Write("<div class='10blue'>共有案件 <span class='numberbold'>" + std::to_string(total) +
          "</span> 件</div>");
  r.Write(
      "<table class='list cases' border='0' cellspacing='0' cellpadding='0'>"
      "<tr class='listhead'><td width='110'>案号</td><td>案件名称</td><td width='120'>原告/申请人"
      "</td><td width='120'>被告/被申请人</td><td width='80'>承办律师</td><td width='90'>收案日期"
      "</td><td width='50'>状态</td><td width='40'></td></tr>");
  for (const db::Row& row : rows) {
    const std::int64_t id = row.integer("id");
    const bool closed = row.integer("status") == kClosed;
    std::string name = text::cut_title(row.text("lawtitle"), kListTitleChars);
    if (name.empty()) name = "（未命名案件）";
    r.Write(std::string("<tr") + (closed ? " class='closedcase'" : "") + "><td class='10blue'>" +
            html(row.text("lawno")) + "</td><td class='10blue'><a href='lawdiscuss.asp?flowid=" +
            std::to_string(id) + "' class='aapply'>" + html(name) + "</a></td><td class='10blue'>" +
            html(row.text("demandanttm")) + "</td><td class='10blue'>" +
            html(row.text("defendanttm")) + "</td><td class='10blue'>" +
            html(row.text("lawyername")) + "</td><td class='10blue'>" +
            html(shown_date(ctx, row.text("receivedate"))) + "</td><td class='10blue'>" +
            (closed ? "已结案" : "在办") + "</td><td class='10blue'>" +
            "<a href='#' class='aapply' onclick=\"return lawDelete(" + std::to_string(id) + ", '" +
            html(text::js_string("确定删除案件“" + row.text("lawtitle") + "”吗？")) +
            "')\">删除</a></td></tr>");
  }
  if (rows.empty()) r.Write("<tr><td colspan='8' class='10blue'>没有符合条件的案件。</td></tr>");
  r.Write("</table>");

  std::string pager = "<div class='pager 10blue'>";
  auto link = [&](std::int64_t to, std::string_view label) {
    if (to < 1 || to > pages || to == page) return "<span>" + std::string(label) + "</span>";
    return "<a href='" + html(list_link(title, ifdone, type, to)) + "' class='aapply'>" +
           std::string(label) + "</a>";
  };
  pager += link(1, "首页") + link(page - 1, "上一页") + "<span>第 " + std::to_string(page) + " / " +
           std::to_string(pages) + " 页</span>" + link(page + 1, "下一页") + link(pages, "末页") +
           "</div>";
  r.Write(pager);
  r.Write(
      "<form name='delform' method='post' action='lawinfoalldel.asp' class='inline' "
      "data-field='flowid'><input type='hidden' name='flowid'>" +
      host::form_token_field(ctx) + "</form>");
  r.Write(case_page_end());
}

void lawinfoalldel_page(asp::ScriptingContext& ctx, LawInfoAllDel& del) {
  del.main(ctx.conn());
}

// ---- Acceptance -----------------------------------------------------------------

void acceptance_form(asp::ScriptingContext& ctx) {
  const host::User user = host::current_user(ctx);
  const std::string today = ctx.regional().date(ctx.now());
  auto value = [&](std::string_view column) -> std::string {
    if (column == "moneyrate") return "100";
    if (column == "receivedate") return today;
    if (column == "lawyerid") return user.uid;
    if (column == "lawyername") return user.name;
    return "";
  };
  auto& r = ctx.response();
  r.Write(case_page_head("案件受理"));
  r.Write(host::title_bar("案件受理", {{"lawlistall.asp", "案件管理"}, {"right.asp", "返回桌面"}}));
  r.Write(
      "<form name='form' method='post' action='lawaccept.asp' onsubmit='return checkCase(this)'>"
      "<input type='hidden' name='flag' value='2'>"
      "<table class='caseform' width='100%' border='0' cellspacing='0' cellpadding='3'>" +
      case_fields(ctx.conn(), value) + form_row("", "<input type='submit' value='受理案件'>") +
      "</table>" + host::form_token_field(ctx) + "</form>");
  r.Write(case_page_end());
}

// "lawaccept.asp": the form; its post registers the case.
void lawaccept_page(asp::ScriptingContext& ctx, LawAccept& accept) {
  accept.main(ctx.conn());
  acceptance_form(ctx);
}

// ---- The case page --------------------------------------------------------------

std::string history_table(asp::ScriptingContext& ctx, const db::Row& c) {
  auto& conn = ctx.conn();
  const std::int64_t id = c.integer("id");
  std::string out =
      "<table class='list' width='100%' border='0' cellspacing='0' cellpadding='0'>"
      "<tr><td colspan='4' class='listtitle'>办理记录</td></tr>"
      "<tr class='listhead'><td width='160'>时间</td><td width='100'>办理</td><td>经办人</td>"
      "<td width='120'>地址</td></tr>";
  bool first = true;
  for (const db::Row& h :
       conn.query("SELECT lawyerid, lawyername, donedate, ipaddress FROM lawflow WHERE lawid = ? "
                  "ORDER BY id",
                  {id})) {
    out += "<tr><td class='10blue'>" + html(ctx.regional().shown(h.text("donedate"))) +
           "</td><td class='10blue'>" + (first ? "受理案件" : "修改卷宗") +
           "</td><td class='10blue'>" + html(h.text("lawyername")) + "（" +
           html(h.text("lawyerid")) + "）</td><td class='10blue'>" + html(h.text("ipaddress")) +
           "</td></tr>";
    first = false;
  }
  if (c.integer("status") == kClosed)
    out += "<tr><td class='10blue'>" + html(ctx.regional().shown(c.text("closetime"))) +
           "</td><td class='10blue'>结案</td><td class='10blue'>" + html(c.text("closename")) +
           "（" + html(c.text("closeuid")) + "）</td><td class='10blue'>" +
           html(c.text("closeip")) + "</td></tr>";
  out += "</table>";

  db::Result items = conn.query(
      "SELECT n.userid, n.applytime, n.status, n.donetime, "
      "(SELECT name FROM userlist u WHERE u.uid = n.userid ORDER BY u.id LIMIT 1) AS name "
      "FROM newwork n WHERE n.baseid = ? AND n.url = ? ORDER BY n.id",
      {id, std::string(kCaseItem.url)});
  if (items.empty()) return out;
  out +=
      "<table class='list' width='100%' border='0' cellspacing='0' cellpadding='0'>"
      "<tr><td colspan='3' class='listtitle'>送交处理</td></tr>"
      "<tr class='listhead'><td width='160'>送达时间</td><td>处理人</td><td width='220'>状态</td>"
      "</tr>";
  for (const db::Row& it : items) {
    const bool done = it.integer("status") != 0;
    out += "<tr><td class='10blue'>" + html(ctx.regional().shown(it.text("applytime"))) +
           "</td><td class='10blue'>" + html(it.text("name")) + "（" + html(it.text("userid")) +
           "）</td><td class='10blue'>" +
           (done ? "已处理 " + html(ctx.regional().shown(it.text("donetime"))) : "待处理") +
           "</td></tr>";
  }
  return out + "</table>";
}

void case_page(asp::ScriptingContext& ctx, std::int64_t id) {
  auto& conn = ctx.conn();
  const db::Row c = require_case(conn, id, host::current_user(ctx));
  const std::string flowid = std::to_string(id);
  const bool closed = c.integer("status") == kClosed;
  auto& r = ctx.response();
  r.Write(case_page_head("案件信息"));
  r.Write(case_heading(conn, c, Tab::info));
  r.Write(fee_summary(conn, c));

  const std::string state_form =
      "<form method='post' action='lawdiscuss.asp' class='inline' onsubmit=\"return "
      "lawConfirm(this, '" +
      std::string(closed ? "确定重新打开该案件吗？" : "确定结案吗？") +
      "')\"><input type='hidden' name='flowid' value='" + flowid +
      "'><input type='hidden' name='flag' value='" + (closed ? "reopen" : "jiean") + "'>" +
      host::form_token_field(ctx) + "<input type='submit' value='" +
      (closed ? "重新打开" : "结　案") + "'></form>";
  const std::string delete_case =
      "<form method='post' action='lawinfoalldel.asp' class='inline' onsubmit=\"return "
      "lawConfirm(this, '确定删除该案件吗？删除后所有人都不能再查看。')\">"
      "<input type='hidden' name='flowid' value='" +
      flowid + "'>" + host::form_token_field(ctx) + "<input type='submit' value='删除案件'></form>";
  std::string state = closed ? "该案件已于 " + html(ctx.regional().shown(c.text("closetime"))) +
                                   " 由 " + html(c.text("closename")) + " 结案。"
                             : std::string("该案件在办。");
  r.Write("<div class='10blue'>" + state + "&nbsp;&nbsp;" + state_form + "&nbsp;" + delete_case +
          "</div>");

  auto value = [&](std::string_view column) -> std::string {
    if (column == "receivedate") return shown_date(ctx, c.text("receivedate"));
    return c.text(column);
  };
  r.Write(
      "<form name='form' method='post' action='lawdiscuss.asp' onsubmit='return checkCase(this)'>"
      "<input type='hidden' name='flag' value='2'><input type='hidden' name='flowid' value='" +
      flowid +
      "'><table class='caseform' width='100%' border='0' cellspacing='0' cellpadding='3'>" +
      case_fields(conn, value) + form_row("", "<input type='submit' value='保存卷宗'>") +
      "</table>" + host::form_token_field(ctx) + "</form>");
  r.Write(history_table(ctx, c));
  r.Write(case_page_end());
}

// "lawdiscuss.asp?flowid=[&nwid=]": the case page, also opened from an item
// on the desk; its forms post saving, closing and reopening here.
void lawdiscuss_page(asp::ScriptingContext& ctx, LawDiscuss& discuss) {
  discuss.main(ctx.conn());
  const std::int64_t id = text::parse_id(ctx.request()("flowid"));
  if (ctx.request().is_post())
    return ctx.response().Redirect("lawdiscuss.asp?flowid=" + std::to_string(id));
  case_page(ctx, posted_id(ctx.request()("flowid")));
}

}  // namespace

void add_case_page(asp::Registry& r, std::string_view name, host::Page page,
                   host::PageOptions options) {
  host::add_page(
      r, name,
      [page = std::move(page)](asp::ScriptingContext& ctx) {
        require_law_edition(ctx);
        page(ctx);
      },
      options);
}

void register_case_pages(asp::Registry& r) {
  add_case_page<LawListAll>(r, "lawlistall", lawlistall_page, {.title = "案件管理"});
  add_case_page<LawInfoAllDel>(r, "lawinfoalldel", lawinfoalldel_page,
                               {.title = "案件管理", .once = true});
  add_case_page<LawAccept>(r, "lawaccept", lawaccept_page, {.title = "案件受理", .once = true});
  add_case_page<LawDiscuss>(r, "lawdiscuss", lawdiscuss_page, {.title = "案件信息", .once = true});
}

}  // namespace desk::cases
