#include "server/cases/lawinfo.h"

#include <array>
#include <cstdint>
#include <vector>

#include "core/text.h"
#include "server/cases/cases.h"
#include "server/host/kit.h"
#include "server/work/work.h"

namespace desk::cases {
namespace {

// The form fields of a case, named like the `lawinfo` columns they fill, in
// the order they are assigned.
constexpr std::array<std::string_view, 18> kCaseFields = {
    "lawno",       "lawtitle",    "jztype",    "flbmtype",    "judgeperiod", "demandanttm",
    "defendanttm", "needmoney",   "moneytype", "moneyrate",   "receivedate", "receivetype",
    "proxyrange",  "proxyreason", "lawdesc",   "lawanalysis", "lawyerid",    "lawyername"};

// The posted case fields in kCaseFields order, checked.
struct CaseForm {
  std::vector<std::string> values;
  std::string lawno;
  std::string lawyerid;
};

CaseForm read_case_form(const CaseComponent& page) {
  CaseForm form;
  for (std::string_view field : kCaseFields) {
    std::string v = page.getvalue(field);
    if (field == "moneyrate" && v.empty()) v = "100";
    if (field == "receivedate") v = typed_date(v, "收案日期");
    if (field == "lawno") form.lawno = v;
    if (field == "lawyerid") form.lawyerid = v;
    form.values.push_back(std::move(v));
  }
  if (form.lawyerid.empty()) throw Error(Errc::bad_request, "请选择承办律师。");
  return form;
}

// The history row of an acceptance or edit, and the item that hands the case
// to its lawyer when that is someone else.
void record_step(db::Connection& conn, std::int64_t id, const CaseForm& form,
                 const CaseComponent::Actor& a) {
  work::add_case_history(conn, {id, a.user.uid, a.user.name, a.ip}, a.now);
  if (text::trim(a.user.uid) != form.lawyerid)
    work::add_item(conn, form.lawyerid, form.lawno, kCaseItem, id, a.now);
}

}  // namespace

std::string CaseComponent::getvalue(std::string_view td) const {
  return text::trim(request()(td));
}

bool CaseComponent::posted(std::string_view flag) const {
  return request().ServerVariables("Request_Method") == "POST" && getvalue("flag") == flag;
}

CaseComponent::Actor CaseComponent::actor() const {
  return {host::current_user(session()), remote_addr(), now()};
}

// ---- lawlistall -------------------------------------------------------------

ListStatement LawListAll::main(db::Connection&) {
  const std::string t = getvalue("type");
  const std::string title = request()("title");
  std::string d = request()("ifdone");
  if (d.empty() || d == "0") d = "1";
  const std::string c = d == "2" ? "status=0 and " : d == "3" ? "status=1 and " : "";
  const std::string uid = text::trim(session().get("uid"));
  if (text::trim(title).empty() && text::trim(c).empty()) {
    if (t == "1")
      return {"select * from lawinfo where status<>99 and lawyerid=? order by id desc", {uid}};
    return {"select * from lawinfo where status<>99 order by id desc", {}};
  }
  const std::string pattern = "%" + title + "%";
  if (t == "1")
    return {"select * from lawinfo where status<>99 and lawyerid=? and " + c +
                "lawtitle like ? order by id desc",
            {uid, pattern}};
  return {"select * from lawinfo where status<>99 and " + c + "lawtitle like ? order by id desc",
          {pattern}};
}

// ---- lawinfoalldel ----------------------------------------------------------

void LawInfoAllDel::main(db::Connection& conn) {
  if (request().is_post()) {
    const std::int64_t id = posted_id(request()("flowid"));
    const Actor a = actor();
    db::Transaction tx(conn);
    if (!conn.query("SELECT 1 FROM lawinfo WHERE id = ? AND status <> ?", {id, int{kDeleted}})
             .empty()) {
      require_case(conn, id, a.user);
      conn.exec(
          "UPDATE lawinfo SET writeid = ?, writename = ?, writetime = ?, ipaddress = ?, "
          "status = ? WHERE id = ?",
          {a.user.uid, a.user.name, a.now.iso(), a.ip, int{kDeleted}, id});
      // Items of a deleted case would lead nowhere.
      work::close_all_items_of(conn, kCaseItem.url, id, a.now);
    }
    tx.commit();
  }
  response().Redirect("lawlistall.asp");
  response().End();
}

// ---- lawaccept --------------------------------------------------------------

void LawAccept::main(db::Connection& conn) {
  if (!posted("2")) return;
  const CaseForm form = read_case_form(*this);
  const Actor a = actor();

  std::string columns, marks;
  db::Params values;
  for (std::size_t i = 0; i < kCaseFields.size(); ++i) {
    columns += std::string(kCaseFields[i]) + ", ";
    marks += "?, ";
    values.emplace_back(form.values[i]);
  }
  values.insert(values.end(), {a.user.uid, a.user.name, a.now.iso(), int{kOpen}});

  db::Transaction tx(conn);
  const std::int64_t id =
      conn.insert("INSERT INTO lawinfo (" + columns +
                      "writeid, writename, writetime, status) VALUES (" + marks + "?, ?, ?, ?)",
                  values);
  record_step(conn, id, form, a);
  tx.commit();

  write("<script language=javascript>alert('登记案件成功！')</script>");
  write("<script>document.location='lawaccept.asp'</script>");
  response().End();
}

// ---- lawdiscuss -------------------------------------------------------------

void LawDiscuss::main(db::Connection& conn) {
  const bool closing = posted("jiean");
  const bool reopening = posted("reopen");
  const bool saving = posted("2");
  if (!closing && !reopening && !saving) return;
  const std::int64_t id = posted_id(request()("flowid"));
  const Actor a = actor();

  if (closing || reopening) {
    db::Transaction tx(conn);
    const db::Row row = require_case(conn, id, a.user);
    if (closing) {
      conn.exec(
          "UPDATE lawinfo SET status = ?, closeuid = ?, closename = ?, closetime = ?, "
          "closeip = ? WHERE id = ?",
          {int{kClosed}, a.user.uid, a.user.name, a.now.iso(), a.ip, id});
      work::close_items_of(conn, a.user.uid, kCaseItem.url, id, a.now);
    } else {
      if (row.integer("status") != kClosed)
        throw Error(Errc::conflict, "该案件没有结案，不需要重新打开。");
      conn.exec("UPDATE lawinfo SET status = ? WHERE id = ?", {int{kOpen}, id});
    }
    tx.commit();
    return;
  }

  const CaseForm form = read_case_form(*this);
  std::string assignments;
  db::Params values;
  for (std::size_t i = 0; i < kCaseFields.size(); ++i) {
    assignments += std::string(kCaseFields[i]) + " = ?, ";
    values.emplace_back(form.values[i]);
  }
  values.insert(values.end(), {a.user.uid, a.user.name, a.now.iso(), id});

  db::Transaction tx(conn);
  require_case(conn, id, a.user);
  conn.exec("UPDATE lawinfo SET " + assignments +
                "writeid = ?, writename = ?, writetime = ? WHERE id = ?",
            values);
  record_step(conn, id, form, a);
  work::close_items_of(conn, a.user.uid, kCaseItem.url, id, a.now);
  tx.commit();

  // A user who handed the case to a colleague may no longer see it: back to
  // the case list then.
  const std::string next = may_see(conn, id, a.user) ? "lawdiscuss.asp?flowid=" + std::to_string(id)
                                                     : std::string("lawlistall.asp");
  write("<script language=javascript>alert('卷宗修改成功！')</script>");
  write("<script>document.location='" + next + "'</script>");
  response().End();
}

}  // namespace desk::cases
