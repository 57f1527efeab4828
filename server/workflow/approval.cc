#include "server/workflow/approval.h"

#include <array>
#include <cstdint>
#include <limits>
#include <string>

#include "core/text.h"
#include "server/workflow/staging.h"

namespace desk::workflow {
namespace {

constexpr const char* kStaleItem = "该待办事项已经办理，或不是您的待办事项。";
constexpr const char* kNoDocument = "所办理的公文不存在。";
constexpr const char* kNoHandler = "请选择下一步的处理人。";
constexpr const char* kBadId = "缺少有效的公文或待办事项编号。";

// A document or item id from the request: a whole number in 1..2^31-1.
std::int64_t posted_id(const std::string& posted) {
  long long v = 0;
  if (!text::parse_int(posted, v) || v <= 0 || v > std::numeric_limits<std::int32_t>::max())
    throw Error(Errc::bad_request, kBadId);
  return v;
}

// One login id from a single-choice picker.
std::string single_user(const std::string& posted) {
  if (posted.empty() || posted.find(';') != std::string::npos)
    throw Error(Errc::bad_request, kNoHandler);
  return posted;
}

// Who performs the step, and when.
struct Handler {
  std::string uid;
  std::string username;
  std::string ip;
  DateTime now;
};

Handler handler_of(asp::ScriptingContext& ctx) {
  return {ctx.session().get("uid"), ctx.session().get("username"),
          ctx.request().ServerVariables("remote_addr"), ctx.now()};
}

std::string document_title(db::Connection& conn, std::int64_t id) {
  db::Result r = conn.query("SELECT title FROM fawen WHERE id = ?", {id});
  if (r.empty()) throw Error(Errc::not_found, kNoDocument);
  return r.front().text("title");
}

work::HistoryEntry history(const Handler& h, std::int64_t flowid, std::string nextid, int handtype,
                           int nexttype, std::string remark) {
  work::HistoryEntry e;
  e.flowid = flowid;
  e.handlename = h.username;
  e.handleid = h.uid;
  e.ipaddress = h.ip;
  e.nextid = std::move(nextid);
  e.handtype = handtype;
  e.nexttype = nexttype;
  e.remark = std::move(remark);
  return e;
}

// Closes the handler's item; the step was checked on it inside the same
// transaction, so a failure here means a broken invariant.
void close_handled(db::Connection& conn, std::int64_t nwid, const Handler& h) {
  if (!work::close_item(conn, nwid, h.uid, h.now)) throw Error(Errc::conflict, kStaleItem);
}

// The steps that take one opinion and hand the document to one user.
struct SingleStep {
  std::string_view url;     // the page of the item worked on
  std::string_view column;  // opinion field posted and column written
  int handtype;
  int lowest, highest;  // accepted `typed` codes; both 0: the next step is fixed
  int fixed_next;
  bool records_verifier;  // hegaoname = the handler's name
};

void single_step(asp::ScriptingContext& ctx, db::Connection& conn, const SingleStep& s) {
  auto& req = ctx.request();
  std::int64_t flowid = posted_id(req("flowid"));
  std::int64_t nwid = posted_id(req("nwid"));
  std::string opinion = req(s.column);
  const Step* next =
      s.fixed_next ? find_step(s.fixed_next) : &routed_step(req("typed"), s.lowest, s.highest);
  std::string nextid = single_user(req("hiddenselect"));
  Handler h = handler_of(ctx);

  db::Transaction tx(conn);
  work::open_item(conn, nwid, h.uid, flowid, s.url);
  apply_staged(conn, h.uid, flowid);  // the body as this handler revised or signed it
  std::string title = document_title(conn, flowid);
  std::string block = opinion_block(opinion, h.username, h.now);
  if (s.records_verifier) {
    conn.exec("UPDATE fawen SET name_hg = ?, hegaoname = ? WHERE id = ?",
              {block, h.username, flowid});
  } else {
    // `column` is one of this file's constants, never a request value.
    conn.exec("UPDATE fawen SET " + std::string(s.column) + " = ? WHERE id = ?", {block, flowid});
  }
  work::add_history(conn, work::Road::outgoing,
                    history(h, flowid, nextid, s.handtype, next->code, opinion), h.now);
  work::add_item(conn, nextid, title, next->item, flowid, h.now);
  close_handled(conn, nwid, h);
  tx.commit();
  ctx.session().set("fawenid", "");
}

constexpr std::array<std::string_view, 4> kOpinionColumns = {"name_hg", "name_sh", "name_hq",
                                                             "name_qf"};

}  // namespace

bool is_opinion_column(std::string_view column) {
  for (std::string_view c : kOpinionColumns)
    if (c == column) return true;
  return false;
}

void Hegao::main(db::Connection& conn) {
  single_step(ctx(), conn, {"hegao.asp", "name_hg", kVerification, 1, 4, 0, true});
}

void Shenhe::main(db::Connection& conn) {
  single_step(ctx(), conn, {"shenhe.asp", "name_sh", kReview, 3, 4, 0, false});
}

void Qianfa::main(db::Connection& conn) {
  single_step(ctx(), conn, {"qianfa.asp", "name_qf", kSignOff, 0, 0, kDistribution, false});
}

void Sendhuiqian::main(db::Connection& conn) {
  std::string countersigners = request()("hiddenselect");
  std::string signoff = request()("qianfa");
  // The chain: the countersigners' list, then the sign-off user.
  std::string chain = countersigners + signoff + ";";
  if (chain.find(';') == chain.size() - 1) {
    write("你没有选择会签人<a href='javascript:history.go(-1)'>返回</a>");
    response().End();
  }
  if (signoff.empty()) throw Error(Errc::bad_request, "你没有选择签发人。");
  // Every id of the chain must be a real one: an empty id would create an
  // item for nobody.
  if (signoff.find(';') != std::string::npos || !countersigners.ends_with(';') ||
      chain.front() == ';' || chain.find(";;") != std::string::npos)
    throw Error(Errc::bad_request, "会签人名单不正确，请重新选择。");
  std::int64_t flowid = posted_id(request()("flowid"));
  std::int64_t nwid = posted_id(request()("nwid"));
  std::string opinion = session().get("name_sh");
  NextUser first = next_user(chain);
  Handler h = handler_of(ctx());

  db::Transaction tx(conn);
  work::open_item(conn, nwid, h.uid, flowid, "shenhe.asp");
  // The chain's later users get their items one by one: all must exist now.
  work::require_users(conn, list_users(chain));
  apply_staged(conn, h.uid, flowid);
  std::string title = document_title(conn, flowid);
  conn.exec("UPDATE fawen SET name_sh = ? WHERE id = ?",
            {opinion_block(opinion, h.username, h.now), flowid});
  work::add_history(conn, work::Road::outgoing,
                    history(h, flowid, chain, kReview, kCountersign, opinion), h.now);
  work::add_item(conn, first.next, title, find_step(kCountersign)->item, flowid, h.now, first.rest);
  close_handled(conn, nwid, h);
  tx.commit();
  session().set("fawenid", "");
}

void Huiqian::main(db::Connection& conn) {
  std::int64_t flowid = posted_id(request()("flowid"));
  std::int64_t nwid = posted_id(request()("nwid"));
  std::string answer = request()("name_hq");
  Handler h = handler_of(ctx());

  db::Transaction tx(conn);
  Item item = work::open_item(conn, nwid, h.uid, flowid, "huiqian.asp");
  apply_staged(conn, h.uid, flowid);
  NextUser next = next_user(item.userlist);
  if (next.next.empty())
    throw Error(Errc::conflict, "该会签事项没有后续的会签人或签发人，无法继续传递，请退回拟稿人。");
  // The chain ends with the sign-off user: the last one left signs off.
  const Step* step = find_step(next.rest.empty() ? kSignOff : kCountersign);
  db::Result doc = conn.query("SELECT title, name_hq FROM fawen WHERE id = ?", {flowid});
  if (doc.empty()) throw Error(Errc::not_found, kNoDocument);
  std::string title = doc.front().text("title");
  conn.exec(
      "UPDATE fawen SET name_hq = ? WHERE id = ?",
      {doc.front().text("name_hq") + opinion_block(answer, h.username, h.now) + "<br>", flowid});
  work::add_history(conn, work::Road::outgoing,
                    history(h, flowid, next.next, kCountersign, step->code, answer), h.now);
  work::add_item(conn, next.next, title, step->item, flowid, h.now, next.rest);
  close_handled(conn, nwid, h);
  tx.commit();
  session().set("fawenid", "");
}

void Fenfa::main(db::Connection& conn) {
  std::int64_t flowid = posted_id(request()("flowid"));
  std::int64_t nwid = posted_id(request()("nwid"));
  std::string recipients = request()("hiddenselect");
  Handler h = handler_of(ctx());

  db::Transaction tx(conn);
  work::open_item(conn, nwid, h.uid, flowid, "fenfa.asp");
  apply_staged(conn, h.uid, flowid);
  std::string title = document_title(conn, flowid);
  conn.exec(
      "UPDATE fawen SET name_correct = ?, name_print = ?, donetime = ?, status = '1' "
      "WHERE id = ?",
      {h.username, h.username, h.now.iso(), flowid});
  work::add_history(conn, work::Road::outgoing,
                    history(h, flowid, recipients, kDistribution, kRegistration, ""), h.now);
  for (const std::string& user : list_users(recipients))
    work::add_item(conn, user, title, find_step(kRegistration)->item, flowid, h.now);
  close_handled(conn, nwid, h);
  tx.commit();
  session().set("fawenid", "");
}

void Sendback::main(db::Connection& conn) {
  std::string column = request()("backtype");
  if (!is_opinion_column(column)) throw Error(Errc::bad_request, "退回意见的栏目不正确。");
  std::string reason = request()("reason");
  if (text::trim(reason).empty()) throw Error(Errc::bad_request, "请填写退回的理由。");
  std::int64_t nwid = posted_id(request()("nwid"));
  // The form names its document; Session `fawenid` is the fallback for
  // forms that do not.
  std::int64_t docid = text::parse_id(request()("flowid"));
  if (docid == 0) docid = text::parse_id(session().get("fawenid"));
  if (docid == 0) throw Error(Errc::conflict, "没有正在办理的公文，请从待办事项重新打开。");
  Handler h = handler_of(ctx());

  db::Transaction tx(conn);
  Item item = work::open_item(conn, nwid, h.uid, docid, kSendBackFrom);
  // `column` passed the whitelist above.
  db::Result doc = conn.query(
      "SELECT title, writeid, " + column + " AS opinion FROM fawen WHERE id = ?", {docid});
  if (doc.empty()) throw Error(Errc::not_found, kNoDocument);
  const db::Row& row = doc.front();
  if (row.text("writeid").empty()) throw Error(Errc::conflict, "该公文没有拟稿人，无法退回。");
  conn.exec("UPDATE fawen SET " + column + " = ? WHERE id = ?",
            {row.text("opinion") + opinion_block(reason, h.username, h.now), docid});
  work::add_item(conn, row.text("writeid"), row.text("title"), kRedraftItem, docid, h.now);
  work::add_sendback(conn, work::Road::outgoing,
                     {docid, h.username, h.uid, h.ip, row.text("writeid"), item.url, reason},
                     h.now);
  close_handled(conn, nwid, h);
  tx.commit();
  session().set("fawenid", "");
}

}  // namespace desk::workflow
