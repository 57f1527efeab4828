// Hosting pages of a case's sub-records: the lists of contacts, fees, work
// log, analysis notes and documents (each with its add form), the delete
// pages, the document upload and the document download.
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "server/cases/cases.h"
#include "server/cases/page_parts.h"
#include "server/cases/pages.h"
#include "server/cases/subrecords.h"
#include "server/files/upload.h"

namespace desk::cases {
namespace {

using text::html;

// Longest document name kept, in characters.
constexpr std::size_t kFileNameChars = 120;
// Extensions never kept as case documents: programs and server pages.
constexpr std::string_view kRefusedExt =
    "exe;com;bat;cmd;scr;pif;msi;vbs;vbe;js;jse;wsf;hta;asp;aspx;asa;cer;php;jsp";

constexpr std::string_view kWorkTypes[] = {"会见当事人", "调查取证", "阅卷", "出庭",
                                           "文书起草",   "谈判调解", "其他"};

// The case a list page shows (request `flowid`), for this user.
db::Row listed_case(asp::ScriptingContext& ctx) {
  return require_case(ctx.conn(), posted_id(ctx.request()("flowid")), host::current_user(ctx));
}

// A posted add form: the component writes the row, then the browser goes
// back to the list so a reload does not post again. False for a GET.
template <class T>
bool added(asp::ScriptingContext& ctx, T& add, std::string_view list_page) {
  if (!ctx.request().is_post()) return false;
  add.main(ctx.conn());
  ctx.response().Redirect(std::string(list_page) +
                          "?flowid=" + std::to_string(text::parse_id(ctx.request()("flowid"))));
  return true;
}

std::string open_list(std::string_view title, std::initializer_list<std::string_view> heads) {
  std::string out =
      "<table class='list' width='100%' border='0' cellspacing='0' cellpadding='0'>"
      "<tr><td colspan='" +
      std::to_string(heads.size()) + "' class='listtitle'>" + std::string(title) +
      "</td></tr><tr class='listhead'>";
  for (std::string_view h : heads) out += "<td>" + std::string(h) + "</td>";
  return out + "</tr>";
}

std::string cell(std::string_view content, std::string_view cls = "10blue") {
  return "<td class='" + std::string(cls) + "'>" + std::string(content) + "</td>";
}

std::string empty_row(std::size_t columns, std::string_view text) {
  return "<tr><td colspan='" + std::to_string(columns) + "' class='10blue'>" + std::string(text) +
         "</td></tr>";
}

// The add form of a list page: posts `flag` "2" and the case to `action`.
std::string add_form(asp::ScriptingContext& ctx, std::string_view action, std::int64_t flowid,
                     std::string_view check, std::string_view rows, std::string_view submit,
                     std::string_view enctype = "") {
  return "<form name='form' method='post' action='" + std::string(action) + "'" +
         (enctype.empty() ? "" : " enctype='" + std::string(enctype) + "'") +
         " onsubmit=\"return " + std::string(check) +
         "\"><input type='hidden' name='flag' value='2'><input type='hidden' name='flowid' "
         "value='" +
         std::to_string(flowid) +
         "'><table class='caseform' width='100%' border='0' cellspacing='0' cellpadding='3'>" +
         std::string(rows) +
         form_row("", "<input type='submit' value='" + std::string(submit) + "'>") + "</table>" +
         host::form_token_field(ctx) + "</form>";
}

std::string size_text(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " 字节";
  return std::to_string((bytes + 1023) / 1024) + " KB";
}

// ---- Contacts -------------------------------------------------------------------

void lawinfolinkbook_page(asp::ScriptingContext& ctx, LawInfoLinkbook& add) {
  if (added(ctx, add, "lawinfolinkbook.asp")) return;
  auto& conn = ctx.conn();
  const db::Row c = listed_case(ctx);
  const std::int64_t id = c.integer("id");
  auto& r = ctx.response();
  r.Write(case_page_head("联系人"));
  r.Write(case_heading(conn, c, Tab::linkbook));
  std::string list = open_list("联系人", {"姓名", "关系", "手机", "单位", "备注", "登记人", ""});
  db::Result rows = conn.query(
      "SELECT id, linkname, relation, mobile, companyname, \"desc\", writename FROM lawlinkbook "
      "WHERE flowid = ? AND status <> 99 ORDER BY id",
      {id});
  for (const db::Row& row : rows)
    list +=
        "<tr>" + cell(html(row.text("linkname"))) + cell(html(row.text("relation"))) +
        cell(html(row.text("mobile"))) + cell(html(row.text("companyname"))) +
        cell(text::html_lines(row.text("desc"))) + cell(html(row.text("writename"))) +
        cell(delete_link(row.integer("id"), "确定删除联系人“" + row.text("linkname") + "”吗？")) +
        "</tr>";
  if (rows.empty()) list += empty_row(7, "还没有联系人。");
  r.Write(list + "</table>");
  r.Write(add_form(ctx, "lawinfolinkbook.asp", id,
                   "checkText(this, 'linkname', '请输入联系人姓名！')",
                   form_row("姓　　名：", text_field("linkname", "", 20)) +
                       form_row("关　　系：", text_field("relation", "", 20) +
                                                  " （如当事人、对方律师、承办法官）") +
                       form_row("手　　机：", text_field("mobile", "", 20)) +
                       form_row("单　　位：", text_field("companyname", "", 40)) +
                       form_row("备　　注：", text_area("desc", "", 2)),
                   "添加联系人"));
  r.Write(delete_form(ctx, "lawinfolinkbookdel.asp", id));
  r.Write(case_page_end());
}

// ---- Fees -----------------------------------------------------------------------

void lawinfomoney_page(asp::ScriptingContext& ctx, LawInfoMoney& add) {
  if (added(ctx, add, "lawinfomoney.asp")) return;
  auto& conn = ctx.conn();
  const db::Row c = listed_case(ctx);
  const std::int64_t id = c.integer("id");
  auto& r = ctx.response();
  r.Write(case_page_head("收费"));
  r.Write(case_heading(conn, c, Tab::money));
  r.Write(fee_summary(conn, c));
  std::string list =
      open_list("收费记录", {"日期", "类别", "金额（元）", "说明", "经办律师", "登记人", ""});
  db::Result rows = conn.query(
      "SELECT id, moneytype, moneyamt, moneydesc, moneydate, lawyername, writename "
      "FROM lawmoneyflow WHERE flowid = ? AND status <> 99 ORDER BY moneydate, id",
      {id});
  for (const db::Row& row : rows)
    list += "<tr>" + cell(html(shown_date(ctx, row.text("moneydate")))) +
            cell(html(fee_kind_label(row.text("moneytype")))) +
            cell(amount_text(row["moneyamt"].real()), "10blue num") +
            cell(html(row.text("moneydesc"))) + cell(html(row.text("lawyername"))) +
            cell(html(row.text("writename"))) +
            cell(delete_link(row.integer("id"), "确定删除这笔收费记录吗？")) + "</tr>";
  if (rows.empty()) list += empty_row(7, "还没有收费记录。");
  r.Write(list + "</table>");

  std::string kinds = "<select name='moneytype'>";
  for (std::string_view k : kFeeKinds)
    kinds +=
        "<option value='" + std::string(k) + "'>" + std::string(fee_kind_label(k)) + "</option>";
  kinds += "</select> （收取的款项记为正数，退还和支出记为负数）";
  const host::User user = host::current_user(ctx);
  r.Write(add_form(
      ctx, "lawinfomoney.asp", id, "checkMoney(this)",
      form_row("类　　别：", kinds) +
          form_row("金　　额：", text_field("moneyamt", "", 14) + " 元") +
          form_row("日　　期：", text_field("moneydate", ctx.regional().date(ctx.now()), 14)) +
          form_row("说　　明：", text_field("moneydesc", "", 60)) +
          form_row("经办律师：", lawyer_choice(conn, user.uid, user.name)),
      "添加收费记录"));
  r.Write(delete_form(ctx, "lawinfomoneydel.asp", id));
  r.Write(case_page_end());
}

// ---- Work log -------------------------------------------------------------------

void lawinfowork_page(asp::ScriptingContext& ctx, LawInfoWork& add) {
  if (added(ctx, add, "lawinfowork.asp")) return;
  auto& conn = ctx.conn();
  const db::Row c = listed_case(ctx);
  const std::int64_t id = c.integer("id");
  auto& r = ctx.response();
  r.Write(case_page_head("工作日志"));
  r.Write(case_heading(conn, c, Tab::work));
  std::string list = open_list("工作日志", {"日期", "工作类别", "律师", "工作内容", "登记人", ""});
  db::Result rows = conn.query(
      "SELECT id, worktype, lawyername, donedate, \"desc\", writename FROM lawworkflow "
      "WHERE flowid = ? AND status <> 99 ORDER BY donedate DESC, id DESC",
      {id});
  for (const db::Row& row : rows)
    list += "<tr>" + cell(html(shown_date(ctx, row.text("donedate")))) +
            cell(html(row.text("worktype"))) + cell(html(row.text("lawyername"))) +
            cell(text::html_lines(row.text("desc"))) + cell(html(row.text("writename"))) +
            cell(delete_link(row.integer("id"), "确定删除这条工作日志吗？")) + "</tr>";
  if (rows.empty()) list += empty_row(6, "还没有工作日志。");
  r.Write(list + "</table>");
  const host::User user = host::current_user(ctx);
  r.Write(add_form(
      ctx, "lawinfowork.asp", id, "checkText(this, 'desc', '请输入工作内容！')",
      form_row("工作类别：", choice("worktype", kWorkTypes, "")) +
          form_row("律　　师：", lawyer_choice(conn, user.uid, user.name)) +
          form_row("日　　期：", text_field("donedate", ctx.regional().date(ctx.now()), 14)) +
          form_row("工作内容：", text_area("desc", "", 4)),
      "添加工作日志"));
  r.Write(delete_form(ctx, "lawinfoworkdel.asp", id));
  r.Write(case_page_end());
}

// ---- Analysis notes -------------------------------------------------------------

void lawinfoanalysis_page(asp::ScriptingContext& ctx, LawInfoAnalysis& add) {
  if (added(ctx, add, "lawinfoanalysis.asp")) return;
  auto& conn = ctx.conn();
  const db::Row c = listed_case(ctx);
  const std::int64_t id = c.integer("id");
  auto& r = ctx.response();
  r.Write(case_page_head("案件分析"));
  r.Write(case_heading(conn, c, Tab::analysis));
  std::string list = open_list("案件分析", {"日期", "律师", "分析内容", ""});
  db::Result rows = conn.query(
      "SELECT id, lawyername, donedate, \"desc\" FROM lawanalysisflow "
      "WHERE flowid = ? AND status <> 99 ORDER BY donedate DESC, id DESC",
      {id});
  for (const db::Row& row : rows)
    list += "<tr>" + cell(html(shown_date(ctx, row.text("donedate")))) +
            cell(html(row.text("lawyername"))) + cell(text::html_lines(row.text("desc"))) +
            cell(delete_link(row.integer("id"), "确定删除这条分析意见吗？")) + "</tr>";
  if (rows.empty()) list += empty_row(4, "还没有分析意见。");
  r.Write(list + "</table>");
  r.Write(
      add_form(ctx, "lawinfoanalysis.asp", id, "checkText(this, 'desc', '请输入分析内容！')",
               form_row("日　　期：", text_field("donedate", ctx.regional().date(ctx.now()), 14)) +
                   form_row("分析内容：", text_area("desc", "", 6)),
               "添加分析意见"));
  r.Write(delete_form(ctx, "lawinfoanalysisdel.asp", id));
  r.Write(case_page_end());
}

// ---- Documents ------------------------------------------------------------------

// "lawinfodoc.asp?flowid=": the documents of a case and the upload form.
void lawinfodoc_page(asp::ScriptingContext& ctx) {
  auto& conn = ctx.conn();
  const db::Row c = listed_case(ctx);
  const std::int64_t id = c.integer("id");
  auto& r = ctx.response();
  r.Write(case_page_head("案件文档"));
  r.Write(case_heading(conn, c, Tab::doc));
  std::string list = open_list("案件文档", {"文件名", "大小", "上传人", "上传时间", ""});
  db::Result rows = conn.query(
      "SELECT id, filename, filesize, writename, adddate FROM lawfj WHERE flowid = ? ORDER BY id",
      {id});
  for (const db::Row& row : rows)
    list += "<tr>" +
            cell("<a href='lawinfodocdown.asp?flowid=" + std::to_string(row.integer("id")) +
                 "' class='aapply'>" + html(row.text("filename")) + "</a>") +
            cell(size_text(row.integer("filesize")), "10blue num") +
            cell(html(row.text("writename"))) +
            cell(html(ctx.regional().shown(row.text("adddate")))) +
            cell(delete_link(row.integer("id"), "确定删除文档“" + row.text("filename") + "”吗？")) +
            "</tr>";
  if (rows.empty()) list += empty_row(5, "还没有案件文档。");
  r.Write(list + "</table>");
  r.Write(add_form(ctx, "lawinfodocsave.asp", id, "checkDoc(this)",
                   form_row("选择文件：", "<input type='file' name='fj'>"), "上传文档",
                   "multipart/form-data"));
  r.Write(delete_form(ctx, "lawinfodocdel.asp", id));
  r.Write("<script language='javascript'>var maxsize=" +
          std::to_string(asp::upload_ceiling(ctx.session(), ctx.config())) + ";</script>");
  r.Write(case_page_end());
}

// The stored name of an uploaded document: without control characters, at
// most kFileNameChars characters.
std::string clean_file_name(std::string_view given) {
  return text::char_prefix(text::trim(text::header_safe(given)), kFileNameChars);
}

// "lawinfodocsave.asp": the upload form of the documents page, posted as
// multipart/form-data with `flowid`; every file part becomes one document of
// the case, all of them or none. Back to the documents page.
void lawinfodocsave_page(asp::ScriptingContext& ctx, LawInfoDocSave& save) {
  save.main(ctx.conn());
  auto& req = ctx.request();
  if (!req.is_post())
    return ctx.response().Redirect("lawinfodoc.asp?flowid=" +
                                   std::to_string(text::parse_id(req("flowid"))));
  const std::int64_t flowid = posted_id(req("flowid"));
  const host::User user = host::current_user(ctx);
  auto& conn = ctx.conn();
  require_case(conn, flowid, user);

  auto up = ctx.server().CreateObject<files::Upload>("deskserver.upload");
  up->NoAllowExt(kRefusedExt);
  up->GetData(static_cast<long long>(asp::upload_ceiling(ctx.session(), ctx.config())));
  if (up->isErr())
    throw Error(up->isErr() == files::Upload::kTooLarge ? Errc::too_large : Errc::bad_request,
                up->ErrMessage());
  struct Document {
    std::string name;
    std::string_view bytes;
  };
  std::vector<Document> docs;
  for (files::FileInfo_Class& f : *up->File()) {
    if (f.FileName.empty() && f.filesize == 0) continue;  // a file field left empty
    const std::string name = clean_file_name(f.FileName);
    if (name.empty()) throw Error(Errc::bad_request, "上传的文件没有文件名。");
    if (f.filesize == 0) throw Error(Errc::bad_request, "文件“" + name + "”是空文件。");
    std::string_view bytes = up->filedata(f.FormName);
    if (up->isErr()) throw Error(Errc::bad_request, "文件“" + name + "”：" + up->ErrMessage());
    docs.push_back({name, bytes});
  }
  if (docs.empty()) throw Error(Errc::bad_request, "请选择要上传的文件。");

  const DateTime now = ctx.now();
  db::Transaction tx(conn);
  require_case(conn, flowid, user);
  for (const Document& d : docs)
    conn.insert(
        "INSERT INTO lawfj (flowid, filename, filedata, filesize, writeid, writename, adddate) "
        "VALUES (?, ?, ?, ?, ?, ?, ?)",
        {flowid, d.name, db::Blob{std::string(d.bytes)}, static_cast<long long>(d.bytes.size()),
         user.uid, user.name, now.iso()});
  tx.commit();
  ctx.response().Redirect("lawinfodoc.asp?flowid=" + std::to_string(flowid));
}

void lawinfodocdown_page(asp::ScriptingContext& ctx, LawInfoDocDown& down) {
  down.main(ctx.conn());
}

// A delete page: the component deletes and sends the browser back.
template <class T>
void delete_page(asp::ScriptingContext& ctx, T& del) {
  del.main(ctx.conn());
}

}  // namespace

void register_record_pages(asp::Registry& r) {
  add_case_page<LawInfoLinkbook>(r, "lawinfolinkbook", lawinfolinkbook_page,
                                 {.title = "联系人", .once = true});
  add_case_page<LawInfoMoney>(r, "lawinfomoney", lawinfomoney_page,
                              {.title = "收费", .once = true});
  add_case_page<LawInfoWork>(r, "lawinfowork", lawinfowork_page,
                             {.title = "工作日志", .once = true});
  add_case_page<LawInfoAnalysis>(r, "lawinfoanalysis", lawinfoanalysis_page,
                                 {.title = "案件分析", .once = true});
  add_case_page(r, "lawinfodoc.asp", lawinfodoc_page, {.title = "案件文档"});
  add_case_page<LawInfoDocSave>(r, "lawinfodocsave", lawinfodocsave_page,
                                {.title = "案件文档", .once = true, .upload = true});
  add_case_page<LawInfoDocDown>(r, "lawinfodocdown", lawinfodocdown_page, {.title = "案件文档"});
  add_case_page<LawInfoLinkbookDel>(r, "lawinfolinkbookdel", delete_page<LawInfoLinkbookDel>,
                                    {.title = "联系人", .once = true});
  add_case_page<LawInfoWorkDel>(r, "lawinfoworkdel", delete_page<LawInfoWorkDel>,
                                {.title = "工作日志", .once = true});
  add_case_page<LawInfoAnalysisDel>(r, "lawinfoanalysisdel", delete_page<LawInfoAnalysisDel>,
                                    {.title = "案件分析", .once = true});
  add_case_page<LawInfoMoneyDel>(r, "lawinfomoneydel", delete_page<LawInfoMoneyDel>,
                                 {.title = "收费", .once = true});
  add_case_page<LawInfoDocDel>(r, "lawinfodocdel", delete_page<LawInfoDocDel>,
                               {.title = "案件文档", .once = true});
}

}  // namespace desk::cases
