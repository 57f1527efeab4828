#include "server/work/work.h"

#include "core/error.h"
#include "core/text.h"

namespace desk::work {
namespace {

constexpr const char* kStaleItem = "该待办事项已经办理，或不是您的待办事项。";
constexpr const char* kOtherDocument = "该待办事项与所办理的公文不符，请从待办事宜中重新打开。";
constexpr const char* kBadItemId = "待办事项的编号不正确。";

Item item_of(const db::Row& r) {
  Item it;
  it.id = r.integer("id");
  it.userid = r.text("userid");
  it.title = r.text("title");
  it.url = r.text("url");
  it.baseid = r.integer("baseid");
  it.applytime = r.text("applytime");
  it.typed = r.text("typed");
  it.userlist = r.text("userlist");
  it.status = static_cast<int>(r.integer("status"));
  it.donetime = r.text("donetime");
  return it;
}

std::string code_text(int code) {
  return code < 0 ? std::string() : std::to_string(code);
}

}  // namespace

void require_users(db::Connection& conn, std::span<const std::string> uids) {
  for (const std::string& uid : uids)
    if (uid.empty() ||
        conn.scalar("SELECT COUNT(*) FROM userlist WHERE uid = ? AND disabled = 0", {uid}) == "0")
      throw Error(Errc::bad_request,
                  "找不到处理人“" + uid + "”（或其帐号已停用），请用选择框重新选择处理人。");
}

std::int64_t add_item(db::Connection& conn, std::string_view userid, std::string_view title,
                      const ItemKind& kind, std::int64_t baseid, const DateTime& now,
                      std::string_view userlist) {
  const std::string who(userid);
  require_users(conn, std::span<const std::string>(&who, 1));
  return conn.insert(
      "INSERT INTO newwork (userid, title, url, baseid, applytime, typed, userlist) "
      "VALUES (?, ?, ?, ?, ?, ?, ?)",
      {userid, title, kind.url, baseid, now.iso(), kind.typed, userlist});
}

bool close_item(db::Connection& conn, std::int64_t id, std::string_view userid,
                const DateTime& now) {
  db::ExecResult r = conn.exec(
      "UPDATE newwork SET status = 1, donetime = ? WHERE id = ? AND userid = ? AND status = 0",
      {now.iso(), id, userid});
  return r.changes == 1;
}

std::int64_t close_items_of(db::Connection& conn, std::string_view userid, std::string_view url,
                            std::int64_t baseid, const DateTime& now) {
  db::ExecResult r = conn.exec(
      "UPDATE newwork SET status = 1, donetime = ? "
      "WHERE userid = ? AND baseid = ? AND url = ? AND status = 0",
      {now.iso(), userid, baseid, url});
  return r.changes;
}

std::int64_t close_all_items_of(db::Connection& conn, std::string_view url, std::int64_t baseid,
                                const DateTime& now) {
  db::ExecResult r = conn.exec(
      "UPDATE newwork SET status = 1, donetime = ? WHERE baseid = ? AND url = ? AND status = 0",
      {now.iso(), baseid, url});
  return r.changes;
}

std::optional<Item> load_item(db::Connection& conn, std::int64_t id) {
  db::Result r = conn.query(
      "SELECT id, userid, title, url, baseid, applytime, typed, userlist, status, donetime "
      "FROM newwork WHERE id = ?",
      {id});
  if (r.empty()) return std::nullopt;
  return item_of(r.front());
}

Item open_item(db::Connection& conn, std::int64_t nwid, std::string_view uid, std::int64_t baseid,
               std::span<const std::string_view> urls) {
  if (nwid <= 0) throw Error(Errc::bad_request, kBadItemId);
  std::optional<Item> item = load_item(conn, nwid);
  if (!item || item->status != 0 || item->userid != uid) throw Error(Errc::conflict, kStaleItem);
  bool page_matches = false;
  for (std::string_view url : urls)
    if (text::iequals(item->url, url)) page_matches = true;
  if (item->baseid != baseid || !page_matches) throw Error(Errc::conflict, kOtherDocument);
  return *item;
}

Item open_item(db::Connection& conn, std::string_view nwid, std::string_view uid,
               std::int64_t baseid, std::span<const std::string_view> urls) {
  return open_item(conn, text::parse_id(nwid), uid, baseid, urls);
}

std::string item_link(std::string_view url, std::int64_t baseid, std::int64_t id) {
  return std::string(url) + "?flowid=" + std::to_string(baseid) + "&nwid=" + std::to_string(id);
}

std::int64_t add_history(db::Connection& conn, Road road, const HistoryEntry& e,
                         const DateTime& now) {
  if (road == Road::outgoing)
    return conn.insert(
        "INSERT INTO workflow (flowid, handlename, handleid, handletime, ipaddress, nextid, "
        "handtype, nexttype, remark) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {e.flowid, e.handlename, e.handleid, now.iso(), e.ipaddress, e.nextid,
         code_text(e.handtype), code_text(e.nexttype), e.remark});
  return conn.insert(
      "INSERT INTO swflow (flowid, handlename, handleid, nextid, handletime, ipaddress, remark, "
      "handletype, nexttype) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {e.flowid, e.handlename, e.handleid, e.nextid, now.iso(), e.ipaddress, e.remark,
       code_text(e.handtype), code_text(e.nexttype)});
}

std::int64_t add_sendback(db::Connection& conn, Road road, const SendBack& e, const DateTime& now) {
  return conn.insert(
      "INSERT INTO sendback (road, flowid, handlename, handleid, handletime, ipaddress, toid, "
      "step, reason) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {road == Road::outgoing ? "fawen" : "shouwen", e.flowid, e.handlename, e.handleid, now.iso(),
       e.ipaddress, e.toid, e.step, e.reason});
}

std::int64_t add_case_history(db::Connection& conn, const CaseHistoryEntry& e,
                              const DateTime& now) {
  return conn.insert(
      "INSERT INTO lawflow (lawid, lawyerid, lawyername, handletype, donedate, ipaddress) "
      "VALUES (?, ?, ?, 0, ?, ?)",
      {e.lawid, e.lawyerid, e.lawyername, now.iso(), e.ipaddress});
}

}  // namespace desk::work
