#include "server/workflow/tracking_pages.h"

#include "server/workflow/history.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "server/host/kit.h"
#include "server/workflow/flow.h"
#include "server/workflow/shouwen.h"

namespace desk::workflow {
namespace {

using text::html;

// Rows shown at most in one list; the newest come first.
constexpr std::size_t kListRows = 200;

// Who may see a document: its drafter (registering user) or anyone who
// performed a step on it; administrators see every document. Documents whose
// body was uploaded but that were never drafted or registered are not
// documents yet and show nowhere. Each condition takes the user's login id
// twice.
constexpr std::string_view kFawenSeen =
    " AND (f.writeid = ? OR f.id IN (SELECT flowid FROM workflow WHERE handleid = ?))";
constexpr std::string_view kShouwenSeen =
    " AND (s.writeid = ? OR s.id IN (SELECT flowid FROM swflow WHERE handleid = ?))";

bool is_admin(asp::ScriptingContext& ctx) {
  return host::current_user(ctx).admin;
}

// A LIKE pattern that matches `typed` literally anywhere in the text; used
// with ESCAPE '\'.
std::string contains_pattern(std::string_view typed) {
  std::string out = "%";
  for (char c : typed) {
    if (c == '%' || c == '_' || c == '\\') out += '\\';
    out += c;
  }
  return out + "%";
}

std::string detail_link(std::string_view kind, std::int64_t id, const std::string& title) {
  std::string shown = text::cut_title(title, 40);
  if (shown.empty()) shown = "（无标题）";
  return "<a href='flowdetail.asp?type=" + std::string(kind) + "&id=" + std::to_string(id) +
         "' class='aapply'>" + html(shown) + "</a>";
}

constexpr std::string_view kResultHead =
    "<table width='100%' border='0' cellspacing='1' cellpadding='3' bgcolor='990000' "
    "class='results'><tr bgcolor='#EEEEEE'>";

std::string more_note(std::size_t found) {
  if (found <= kListRows) return "";
  return "<p class='hint'>只列出最新的 " + std::to_string(kListRows) + " 件。</p>";
}

// ---- flowlist.asp -----------------------------------------------------------

// "flowlist.asp": the outgoing and incoming documents the user drafted,
// registered or handled, newest first, each linked to its history.
void flowlist_page(asp::ScriptingContext& ctx) {
  auto& conn = ctx.conn();
  const std::string uid = ctx.session().get("uid");
  const std::string limit = " LIMIT " + std::to_string(kListRows + 1);
  db::Result fawen = conn.query(
      "SELECT f.id, f.title, f.wenhao, f.writename, f.writetime, f.status FROM fawen f "
      "WHERE f.writetime IS NOT NULL" +
          std::string(kFawenSeen) + " ORDER BY f.writetime DESC, f.id DESC" + limit,
      {uid, uid});
  db::Result shouwen = conn.query(
      "SELECT s.id, s.title, s.wenhao, s.writename, s.draftime, "
      "(SELECT COUNT(*) FROM newwork n WHERE n.baseid = s.id AND n.url = ? AND n.status = 0) "
      "AS pending FROM shouwen s WHERE s.draftime IS NOT NULL" +
          std::string(kShouwenSeen) + " ORDER BY s.draftime DESC, s.id DESC" + limit,
      {kInstructionItem.url, uid, uid});

  const Regional& regional = ctx.regional();
  std::string out = page_head("流程跟踪");
  out += "<div class='pagetitle'>流程跟踪</div>";

  out += "<div class='section'>发文（" + std::to_string(fawen.size()) + "）</div>";
  if (fawen.empty()) {
    out += "<p class='hint'>没有您拟稿或办理过的发文。</p>";
  } else {
    out += std::string(kResultHead) +
           "<td><b>标题</b></td><td width='18%'><b>文号</b></td><td width='10%'><b>拟稿人</b>"
           "</td><td width='16%'><b>拟稿时间</b></td><td width='8%'><b>状态</b></td></tr>";
    for (std::size_t i = 0; i < fawen.size() && i < kListRows; ++i) {
      const db::Row& r = fawen.rows[i];
      const bool done = r.text("status") == "1";
      out += "<tr bgcolor='#FFFFFF'><td>" + detail_link("fawen", r.integer("id"), r.text("title")) +
             "</td><td>" + html(r.text("wenhao")) + "</td><td>" + html(r.text("writename")) +
             "</td><td>" + html(regional.shown(r.text("writetime"))) + "</td><td class='" +
             (done ? "state-done'>已分发" : "state-open'>办理中") + "</td></tr>";
    }
    out += "</table>" + more_note(fawen.size());
  }

  out += "<div class='section'>收文（" + std::to_string(shouwen.size()) + "）</div>";
  if (shouwen.empty()) {
    out += "<p class='hint'>没有您登记或批办过的收文。</p>";
  } else {
    out += std::string(kResultHead) +
           "<td><b>标题</b></td><td width='18%'><b>文号</b></td><td width='10%'><b>登记人</b>"
           "</td><td width='16%'><b>登记时间</b></td><td width='8%'><b>状态</b></td></tr>";
    for (std::size_t i = 0; i < shouwen.size() && i < kListRows; ++i) {
      const db::Row& r = shouwen.rows[i];
      const bool open = r.integer("pending") > 0;
      out += "<tr bgcolor='#FFFFFF'><td>" +
             detail_link("shouwen", r.integer("id"), r.text("title")) + "</td><td>" +
             html(r.text("wenhao")) + "</td><td>" + html(r.text("writename")) + "</td><td>" +
             html(regional.shown(r.text("draftime"))) + "</td><td class='" +
             (open ? "state-open'>批办中" : "state-done'>已办结") + "</td></tr>";
    }
    out += "</table>" + more_note(shouwen.size());
  }
  out += "</body></html>";
  ctx.response().Write(out);
}

// ---- flowdetail.asp ---------------------------------------------------------

std::string fawen_summary(db::Connection& conn, std::int64_t id, const Regional& regional) {
  db::Result found = conn.query(
      "SELECT title, wenhao, miji, huanji, mainsend, tosend, writedep, writename, writetime, "
      "keywords, status, donetime FROM fawen WHERE id = ?",
      {id});
  const db::Row& d = found.front();
  auto f = [&d](std::string_view column) { return html(d.text(column)); };
  auto row2 = [](std::string_view l1, const std::string& v1, std::string_view l2,
                 const std::string& v2) {
    return "<tr bgcolor='#FFFFFF'><td width='13%' height='26' class='label'>" + std::string(l1) +
           "</td><td width='37%'>" + v1 + "</td><td width='13%' class='label'>" + std::string(l2) +
           "</td><td width='37%'>" + v2 + "</td></tr>";
  };
  auto row1 = [](std::string_view label, const std::string& v) {
    return "<tr bgcolor='#FFFFFF'><td height='26' class='label'>" + std::string(label) +
           "</td><td colspan='3'>" + v + "</td></tr>";
  };
  const std::string state = d.text("status") == "1"
                                ? "已分发（" + html(regional.shown(d.text("donetime"))) + "）"
                                : std::string("办理中");
  std::string out =
      "<table width='100%' border='0' cellspacing='1' cellpadding='3' bgcolor='990000' "
      "class='docview'>";
  out += row1("标　　题：", "<b>" + f("title") + "</b>");
  out += row2("文　　号：", f("wenhao"), "密级缓急：", f("miji") + "&nbsp;" + f("huanji"));
  out += row2("主　　送：", f("mainsend"), "抄　　送：", f("tosend"));
  out += row2("拟稿单位：", f("writedep"), "拟 稿 人：", f("writename"));
  out += row2("拟稿时间：", html(regional.shown(d.text("writetime"))), "状　　态：", state);
  out += row1("主 题 词：", f("keywords"));
  out += "</table>";
  return out;
}

// "flowdetail.asp?type=fawen|shouwen&id=": one document the user may see and
// its history.
void flowdetail_page(asp::ScriptingContext& ctx) {
  auto& conn = ctx.conn();
  auto& req = ctx.request();
  const std::string kind = req.QueryString("type");
  const std::int64_t id = text::parse_id(req.QueryString("id"));
  const std::string uid = ctx.session().get("uid");
  const bool admin = is_admin(ctx);
  const bool outgoing = kind == "fawen";
  if (!outgoing && kind != "shouwen") throw Error(Errc::bad_request, "没有指明要查看的公文。");

  db::Params params{id};
  if (!admin) params.insert(params.end(), {uid, uid});
  const std::string seen =
      outgoing ? "SELECT f.id FROM fawen f WHERE f.id = ? AND f.writetime IS NOT NULL" +
                     std::string(admin ? "" : kFawenSeen)
               : "SELECT s.id FROM shouwen s WHERE s.id = ? AND s.draftime IS NOT NULL" +
                     std::string(admin ? "" : kShouwenSeen);
  if (conn.query(seen, params).empty()) throw Error(Errc::not_found, "该公文不存在或您无权查看。");

  const Regional& regional = ctx.regional();
  std::string out = page_head("流程跟踪");
  out += "<div class='pagetitle'>流程跟踪 — " + std::string(outgoing ? "发文" : "收文") +
         "</div><div class='section'>公文</div>";
  if (outgoing) {
    out += fawen_summary(conn, id, regional);
    out += "<div class='section'>办理记录</div>" +
           history_table(conn, DocKind::outgoing, id, regional);
  } else {
    out += shouwen_view(conn, id, regional, false).value_or("");
    out += "<div class='section'>办理记录</div>" +
           history_table(conn, DocKind::incoming, id, regional);
  }
  out +=
      "<p><a href='javascript:history.go(-1)' class='aapply'>返回</a>&nbsp;&nbsp;"
      "<a href='flowlist.asp' class='aapply'>流程跟踪</a>&nbsp;&nbsp;"
      "<a href='findwork.asp' class='aapply'>公文查询</a></p></body></html>";
  ctx.response().Write(out);
}

// ---- findwork.asp -----------------------------------------------------------

struct Hit {
  std::string_view kind;  // "fawen" or "shouwen"
  std::int64_t id;
  std::string title, wenhao, who, time;
};

struct Search {
  std::string title, wenhao;  // substrings; "" matches all
  std::string from, to;       // ISO bounds; "" for none
  bool fawen = true, shouwen = true;
};

// The documents of one kind that match, newest first, at most kListRows + 1.
void find(db::Connection& conn, const Search& s, bool outgoing, const std::string& uid, bool admin,
          std::vector<Hit>& hits) {
  const std::string time = outgoing ? "f.writetime" : "s.draftime";
  std::string sql =
      outgoing ? "SELECT f.id, f.title, f.wenhao, f.writename, f.writetime AS t FROM fawen f "
                 "WHERE f.writetime IS NOT NULL"
               : "SELECT s.id, s.title, s.wenhao, s.writename, s.draftime AS t FROM shouwen s "
                 "WHERE s.draftime IS NOT NULL";
  const std::string a = outgoing ? "f." : "s.";
  db::Params params;
  if (!admin) {
    sql += outgoing ? kFawenSeen : kShouwenSeen;
    params.insert(params.end(), {uid, uid});
  }
  if (!s.title.empty()) {
    sql += " AND " + a + "title LIKE ? ESCAPE '\\'";
    params.emplace_back(contains_pattern(s.title));
  }
  if (!s.wenhao.empty()) {
    sql += " AND " + a + "wenhao LIKE ? ESCAPE '\\'";
    params.emplace_back(contains_pattern(s.wenhao));
  }
  if (!s.from.empty()) {
    sql += " AND " + time + " >= ?";
    params.emplace_back(s.from);
  }
  if (!s.to.empty()) {
    sql += " AND " + time + " <= ?";
    params.emplace_back(s.to);
  }
  sql += " ORDER BY t DESC, " + a + "id DESC LIMIT " + std::to_string(kListRows + 1);
  for (const db::Row& r : conn.query(sql, params))
    hits.push_back({outgoing ? "fawen" : "shouwen", r.integer("id"), r.text("title"),
                    r.text("wenhao"), r.text("writename"), r.text("t")});
}

// The search form, filled with what was searched; `example` shows the date
// format.
std::string search_form(const asp::Request& req, const std::string& example) {
  auto field = [&req](std::string_view name, std::string_view size) {
    return "<input class='fileinput' type='text' name='" + std::string(name) + "' size='" +
           std::string(size) + "' value='" + html(req.QueryString(name)) + "'>";
  };
  const std::string kind = req.QueryString("kind");
  auto opt = [&kind](std::string_view v, std::string_view label) {
    return "<option value='" + std::string(v) + "'" + (kind == v ? " selected" : "") + ">" +
           std::string(label) + "</option>";
  };
  return "<form name='form' method='GET' action='findwork.asp'>"
         "<table width='100%' border='0' cellspacing='1' cellpadding='3' bgcolor='990000'>"
         "<tr bgcolor='#FFFFFF'><td width='13%' height='30' class='label'>标　　题：</td><td>" +
         field("title", "30") + "</td><td width='13%' class='label'>文　　号：</td><td>" +
         field("wenhao", "20") +
         "</td></tr><tr bgcolor='#FFFFFF'><td height='30' class='label'>日　　期：</td><td>" +
         field("date1", "12") + " 至 " + field("date2", "12") + " <span class='hint'>（如 " +
         html(example) + "）</span></td><td class='label'>类　　别：</td><td><select name='kind'>" +
         opt("", "全部") + opt("fawen", "发文") + opt("shouwen", "收文") +
         "</select>&nbsp;&nbsp;<input type='hidden' name='search' value='1'>"
         "<input type='submit' value=' 查 询 '></td></tr></table></form>";
}

// "findwork.asp": the search form and, once searched, the matching documents
// the user may see (administrators: all), newest first.
void findwork_page(asp::ScriptingContext& ctx) {
  auto& req = ctx.request();
  const Regional& regional = ctx.regional();
  Search s;
  s.title = text::trim(req.QueryString("title"));
  s.wenhao = text::trim(req.QueryString("wenhao"));
  const std::string kind = req.QueryString("kind");
  s.fawen = kind != "shouwen";
  s.shouwen = kind != "fawen";

  std::string error;
  for (auto [name, bound, end] :
       {std::tuple{"date1", &s.from, " 00:00:00"}, std::tuple{"date2", &s.to, " 23:59:59"}}) {
    const std::string given = text::trim(req.QueryString(name));
    if (given.empty()) continue;
    DateTime d;
    if (!Regional::parse_date(given, d)) {
      error = "日期“" + given + "”无法识别，请按 " + regional.date(ctx.now()) + " 的格式输入。";
      continue;
    }
    *bound = d.iso_date() + end;
  }

  std::string out = page_head("公文查询");
  out += "<div class='pagetitle'>公文查询</div>";
  out += search_form(req, regional.date(ctx.now()));
  if (!error.empty()) {
    ctx.response().Status = 400;
    out += "<p class='hint'>" + html(error) + "</p></body></html>";
    ctx.response().Write(out);
    return;
  }
  if (req.QueryString("search") != "1") {
    out +=
        "<p class='hint'>按标题、文号（包含所填文字即可）和日期查询您可以查看的发文和收文。</p>"
        "</body></html>";
    ctx.response().Write(out);
    return;
  }

  auto& conn = ctx.conn();
  const std::string uid = ctx.session().get("uid");
  const bool admin = is_admin(ctx);
  std::vector<Hit> hits;
  if (s.fawen) find(conn, s, true, uid, admin, hits);
  if (s.shouwen) find(conn, s, false, uid, admin, hits);
  std::stable_sort(hits.begin(), hits.end(),
                   [](const Hit& a, const Hit& b) { return a.time > b.time; });

  out += "<div class='section'>查询结果（" +
         (hits.size() > kListRows ? "超过 " + std::to_string(kListRows)
                                  : std::to_string(hits.size())) +
         " 件）</div>";
  if (hits.empty()) {
    out += "<p class='hint'>没有找到符合条件的公文。</p></body></html>";
    ctx.response().Write(out);
    return;
  }
  out += std::string(kResultHead) +
         "<td width='6%'><b>类别</b></td><td><b>标题</b></td><td width='18%'><b>文号</b></td>"
         "<td width='10%'><b>拟稿/登记人</b></td><td width='16%'><b>日期</b></td></tr>";
  for (std::size_t i = 0; i < hits.size() && i < kListRows; ++i) {
    const Hit& h = hits[i];
    out += "<tr bgcolor='#FFFFFF'><td>" + std::string(h.kind == "fawen" ? "发文" : "收文") +
           "</td><td>" + detail_link(h.kind, h.id, h.title) + "</td><td>" + html(h.wenhao) +
           "</td><td>" + html(h.who) + "</td><td>" + html(regional.shown(h.time)) + "</td></tr>";
  }
  out += "</table>" + more_note(hits.size()) + "</body></html>";
  ctx.response().Write(out);
}

}  // namespace

void register_tracking_pages(asp::Registry& registry) {
  host::add_page(registry, "flowlist.asp", flowlist_page);
  host::add_page(registry, "flowdetail.asp", flowdetail_page, {.title = "流程跟踪"});
  host::add_page(registry, "findwork.asp", findwork_page, {.title = "公文查询"});
}

}  // namespace desk::workflow
