#include "server/cases/page_parts.h"

#include <optional>

#include "core/text.h"
#include "server/cases/cases.h"

namespace desk::cases {

using text::html;

std::string case_page_head(std::string_view title) {
  return host::page_head(title, {"apply.css", "law.css"});
}

std::string case_page_end() {
  return "<script language='javascript' src='law.js'></script>" + std::string(host::kPageEnd);
}

namespace {

struct TabLink {
  Tab tab;
  std::string_view page;
  std::string_view label;
};

constexpr TabLink kTabs[] = {
    {Tab::info, "lawdiscuss.asp", "案件信息"},
    {Tab::linkbook, "lawinfolinkbook.asp", "联系人"},
    {Tab::money, "lawinfomoney.asp", "收费"},
    {Tab::work, "lawinfowork.asp", "工作日志"},
    {Tab::analysis, "lawinfoanalysis.asp", "案件分析"},
    {Tab::doc, "lawinfodoc.asp", "案件文档"},
};

}  // namespace

std::string case_heading(db::Connection& conn, const db::Row& c, Tab current) {
  const std::int64_t id = c.integer("id");
  const db::Row counts =
      conn.query(
              "SELECT (SELECT COUNT(*) FROM lawlinkbook WHERE flowid = ? AND status <> 99) AS "
              "linkbook, (SELECT COUNT(*) FROM lawmoneyflow WHERE flowid = ?) AS money, "
              "(SELECT COUNT(*) FROM lawworkflow WHERE flowid = ? AND status <> 99) AS work, "
              "(SELECT COUNT(*) FROM lawanalysisflow WHERE flowid = ? AND status <> 99) AS "
              "analysis, (SELECT COUNT(*) FROM lawfj WHERE flowid = ?) AS doc",
              {id, id, id, id, id})
          .front();
  const bool closed = c.integer("status") == kClosed;
  std::string title = c.text("lawtitle");
  if (title.empty()) title = "（未命名案件）";
  std::string out =
      "<table class='casehead' width='100%' border='0' cellspacing='0' cellpadding='4'><tr>"
      "<td class='casetitle'>案件：<b>" +
      html(title) + "</b>";
  if (!c.text("lawno").empty()) out += "（案号：" + html(c.text("lawno")) + "）";
  out += std::string("<span class='casestate ") + (closed ? "closed'>已结案" : "open'>在办") +
         "</span></td><td class='10blue' align='right'><a href='lawlistall.asp' "
         "class='aapply'>返回案件列表</a></td></tr></table><div class='casetabs'>";
  for (const TabLink& t : kTabs) {
    std::string label(t.label);
    const char* column = t.tab == Tab::linkbook   ? "linkbook"
                         : t.tab == Tab::money    ? "money"
                         : t.tab == Tab::work     ? "work"
                         : t.tab == Tab::analysis ? "analysis"
                         : t.tab == Tab::doc      ? "doc"
                                                  : nullptr;
    if (column) label += "(" + std::to_string(counts.integer(column)) + ")";
    out += "<a href='" + std::string(t.page) + "?flowid=" + std::to_string(id) + "'" +
           (t.tab == current ? " class='current'" : "") + ">" + html(label) + "</a>";
  }
  return out + "</div>";
}

std::string form_row(std::string_view label, std::string_view content) {
  return "<tr><td class='label'>" + std::string(label) + "</td><td class='10blue'>" +
         std::string(content) + "</td></tr>";
}

std::string text_field(std::string_view name, std::string_view value, int size,
                       std::string_view extra) {
  return "<input type='text' name='" + html(name) + "' size='" + std::to_string(size) +
         "' value='" + html(value) + "'" + (extra.empty() ? "" : " " + std::string(extra)) + ">";
}

std::string text_area(std::string_view name, std::string_view value, int rows) {
  return "<textarea name='" + html(name) + "' cols='70' rows='" + std::to_string(rows) + "'>" +
         html(value) + "</textarea>";
}

std::string choice(std::string_view name, std::span<const std::string_view> options,
                   std::string_view current) {
  bool listed = false;
  for (std::string_view o : options) listed = listed || o == current;
  std::string out = "<select name='" + html(name) + "'>";
  if (!listed && !current.empty())
    out += "<option value='" + html(current) + "' selected>" + html(current) + "</option>";
  for (std::string_view o : options)
    out += "<option value='" + html(o) + "'" + (o == current ? " selected" : "") + ">" + html(o) +
           "</option>";
  return out + "</select>";
}

std::string lawyer_choice(db::Connection& conn, std::string_view current_id,
                          std::string_view current_name) {
  // Disabled accounts are offered only as the case's current lawyer.
  db::Result users =
      conn.query("SELECT uid, name FROM userlist WHERE disabled = 0 OR uid = ? ORDER BY depid, id",
                 {std::string(current_id)});
  std::string out =
      "<select name='lawyerid' onchange='pickLawyer(this)'><option value='' data-name=''>"
      "（请选择）</option>";
  bool found = false;
  std::string name(current_name);
  for (const db::Row& u : users) {
    const std::string uid = u.text("uid");
    const std::string uname = text::trim(u.text("name"));
    const bool chosen = !found && uid == current_id;
    if (chosen) {
      found = true;
      name = uname;
    }
    out += "<option value='" + html(uid) + "' data-name='" + html(uname) + "'" +
           (chosen ? " selected" : "") + ">" + html(uname) + "（" + html(uid) + "）</option>";
  }
  if (!found && !current_id.empty())
    out += "<option value='" + html(current_id) + "' data-name='" + html(current_name) +
           "' selected>" + html(current_name) + "（" + html(current_id) + "）</option>";
  return out + "</select><input type='hidden' name='lawyername' value='" + html(name) + "'>";
}

std::string shown_date(const asp::ScriptingContext& ctx, const std::string& stored) {
  return ctx.regional().shown(stored);
}

std::string_view fee_kind_label(std::string_view kind) {
  if (kind == "1") return "收取律师费";
  if (kind == "2") return "退还律师费";
  if (kind == "3") return "办案费用支出";
  return kind;
}

std::string fee_summary(db::Connection& conn, const db::Row& c) {
  const db::Row sums = conn.query(
                               "SELECT COALESCE(SUM(moneyamt), 0) AS total, "
                               "COALESCE(SUM(CASE WHEN moneytype = '1' THEN moneyamt END), 0) "
                               "AS received, COUNT(*) AS entries FROM lawmoneyflow "
                               "WHERE flowid = ? AND status <> 99",
                               {c.integer("id")})
                           .front();
  const double total = sums["total"].real();
  std::string out = "<div class='feesummary'>约定律师费：";
  const std::string agreed_text = c.text("needmoney");
  out += agreed_text.empty() ? "未约定" : "<b>" + html(agreed_text) + "</b>";
  if (!c.text("moneytype").empty()) out += "（" + html(c.text("moneytype")) + "）";
  out += "&nbsp;&nbsp;已收合计：<b>" + amount_text(total) + "</b>";
  out += "（收取 " + amount_text(sums["received"].real()) + "，退还及支出 " +
         amount_text(total - sums["received"].real()) + "，共 " +
         std::to_string(sums.integer("entries")) + " 笔）";
  if (std::optional<double> agreed = parse_amount(agreed_text)) {
    const double left = *agreed - total;
    out += "&nbsp;&nbsp;" + std::string(left >= 0 ? "尚欠：<b>" : "超收：<b>") +
           amount_text(left >= 0 ? left : -left) + "</b>";
  }
  return out + "</div>";
}

std::string delete_form(asp::ScriptingContext& ctx, std::string_view action, std::int64_t flowid) {
  return "<form name='delform' method='post' action='" + html(action) +
         "' class='inline'><input type='hidden' name='id'><input type='hidden' name='flowid' "
         "value='" +
         std::to_string(flowid) + "'>" + host::form_token_field(ctx) + "</form>";
}

std::string delete_link(std::int64_t id, std::string_view question) {
  return "<a href='#' class='aapply' onclick=\"return lawDelete(" + std::to_string(id) + ", '" +
         html(text::js_string(question)) + "')\">删除</a>";
}

}  // namespace desk::cases
