#include "server/cases/subrecords.h"

#include <optional>
#include <string>

#include "core/text.h"
#include "server/cases/cases.h"
#include "server/files/documents.h"

namespace desk::cases {
namespace {

// Inserts one sub-record of the case the request names, after the access
// check, in one transaction. `columns` follow "flowid"; `values` likewise.
void add_row(db::Connection& conn, std::int64_t flowid, const host::User& user,
             std::string_view table, std::string_view columns, const db::Params& values) {
  std::string marks = "?";
  db::Params all{flowid};
  for (const db::Value& v : values) {
    marks += ", ?";
    all.push_back(v);
  }
  db::Transaction tx(conn);
  require_case(conn, flowid, user);
  conn.insert("INSERT INTO " + std::string(table) + " (flowid, " + std::string(columns) +
                  ") VALUES (" + marks + ")",
              all);
  tx.commit();
}

// How a sub-record goes: marked deleted (kept) or removed.
enum class Removal { mark, remove };

// The delete procedure shared by the five delete components; `table` and
// `list_page` are constants of this file.
void delete_row(CaseComponent& page, asp::ScriptingContext& ctx, db::Connection& conn,
                std::string_view table, std::string_view list_page, Removal how) {
  std::int64_t flowid = text::parse_id(page.getvalue("flowid"));
  if (ctx.request().is_post()) {
    const std::int64_t id = posted_id(page.getvalue("id"));
    flowid = posted_id(page.getvalue("flowid"));
    const host::User user = host::current_user(ctx);
    db::Transaction tx(conn);
    require_case(conn, flowid, user);
    if (how == Removal::mark)
      conn.exec("UPDATE " + std::string(table) +
                    " SET writeid = ?, writename = ?, adddate = ?, ipaddress = ?, status = 99 "
                    "WHERE id = ? AND flowid = ? AND status <> 99",
                {user.uid, user.name, ctx.now().iso(), ctx.request().ServerVariables("remote_addr"),
                 id, flowid});
    else
      conn.exec("DELETE FROM " + std::string(table) + " WHERE id = ? AND flowid = ?", {id, flowid});
    tx.commit();
  }
  ctx.response().Redirect(std::string(list_page) + "?flowid=" + std::to_string(flowid));
  ctx.response().End();
}

}  // namespace

// ---- Adding -----------------------------------------------------------------

void LawInfoMoney::main(db::Connection& conn) {
  if (!posted("2")) return;
  const std::int64_t flowid = posted_id(getvalue("flowid"));
  const std::string kind = getvalue("moneytype");
  const std::optional<double> amount = parse_amount(getvalue("moneyamt"));
  if (!amount) throw Error(Errc::bad_request, "金额必须是数字，例如 5000 或 1200.50。");
  const std::string date = typed_date(getvalue("moneydate"), "日期");
  const Actor a = actor();
  add_row(conn, flowid, a.user, "lawmoneyflow",
          "moneytype, moneyamt, moneydesc, moneydate, lawyerid, lawyername, writeid, writename, "
          "adddate, status",
          {kind, signed_amount(kind, *amount), getvalue("moneydesc"), date, getvalue("lawyerid"),
           getvalue("lawyername"), a.user.uid, a.user.name, a.now.iso(), 0});
}

void LawInfoLinkbook::main(db::Connection& conn) {
  if (!posted("2")) return;
  const std::int64_t flowid = posted_id(getvalue("flowid"));
  const Actor a = actor();
  add_row(conn, flowid, a.user, "lawlinkbook",
          "linkname, relation, mobile, companyname, \"desc\", writeid, writename, adddate, "
          "ipaddress, status",
          {getvalue("linkname"), getvalue("relation"), getvalue("mobile"), getvalue("companyname"),
           getvalue("desc"), a.user.uid, a.user.name, a.now.iso(), a.ip, 0});
}

void LawInfoWork::main(db::Connection& conn) {
  if (!posted("2")) return;
  const std::int64_t flowid = posted_id(getvalue("flowid"));
  const std::string date = typed_date(getvalue("donedate"), "工作日期");
  const Actor a = actor();
  add_row(conn, flowid, a.user, "lawworkflow",
          "worktype, lawyerid, lawyername, donedate, \"desc\", writeid, writename, adddate, "
          "ipaddress, status",
          {getvalue("worktype"), getvalue("lawyerid"), getvalue("lawyername"), date,
           getvalue("desc"), a.user.uid, a.user.name, a.now.iso(), a.ip, 0});
}

void LawInfoAnalysis::main(db::Connection& conn) {
  if (!posted("2")) return;
  const std::int64_t flowid = posted_id(getvalue("flowid"));
  const std::string date = typed_date(getvalue("donedate"), "分析日期");
  const Actor a = actor();
  add_row(conn, flowid, a.user, "lawanalysisflow",
          "lawyerid, lawyername, donedate, \"desc\", writeid, writename, adddate, ipaddress, "
          "status",
          {a.user.uid, a.user.name, date, getvalue("desc"), a.user.uid, a.user.name, a.now.iso(),
           a.ip, 0});
}

// ---- Deleting ---------------------------------------------------------------

void LawInfoLinkbookDel::main(db::Connection& conn) {
  delete_row(*this, ctx(), conn, "lawlinkbook", "lawinfolinkbook.asp", Removal::mark);
}

void LawInfoWorkDel::main(db::Connection& conn) {
  delete_row(*this, ctx(), conn, "lawworkflow", "lawinfowork.asp", Removal::mark);
}

void LawInfoAnalysisDel::main(db::Connection& conn) {
  delete_row(*this, ctx(), conn, "lawanalysisflow", "lawinfoanalysis.asp", Removal::mark);
}

void LawInfoMoneyDel::main(db::Connection& conn) {
  delete_row(*this, ctx(), conn, "lawmoneyflow", "lawinfomoney.asp", Removal::remove);
}

void LawInfoDocDel::main(db::Connection& conn) {
  delete_row(*this, ctx(), conn, "lawfj", "lawinfodoc.asp", Removal::remove);
}

// ---- Downloading ------------------------------------------------------------

void LawInfoDocDown::main(db::Connection& conn) {
  std::optional<db::Row> doc;
  try {
    const std::int64_t id = text::parse_id(request()("flowid"));
    db::Result rows;
    if (id != 0)
      rows = conn.query("SELECT flowid, filename, filedata FROM lawfj WHERE id = ?", {id});
    if (!rows.empty() && !rows.front()["filedata"].bytes().empty()) doc = rows.front();
  } catch (const Error&) {
    doc.reset();
  }
  if (!doc) {
    ctx().close_connection();
    response().Redirect("error.asp");
    response().End();
  }
  if (!may_see(conn, doc->integer("flowid"), host::current_user(session())))
    throw Error(Errc::forbidden, "您无权下载该案件的文档。");
  const std::string& bytes = (*doc)["filedata"].bytes();
  auto& r = response();
  r.Clear();
  r.AddHeader("Content-Disposition",
              files::attachment_disposition(doc->text("filename"), "document"));
  r.AddHeader("Content-Length", std::to_string(bytes.size()));
  r.Charset = "UTF-8";
  r.ContentType = "application/x-msdownload";
  r.BinaryWrite(bytes);
  ctx().close_connection();
}

}  // namespace desk::cases
