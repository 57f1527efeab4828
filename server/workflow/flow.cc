#include "server/workflow/flow.h"

#include <array>

#include "core/text.h"

namespace desk::workflow {

NextUser next_user(std::string_view list) {
  std::size_t p = list.find(';');
  if (p == std::string_view::npos) return {std::string(list), ""};
  NextUser out;
  out.next = std::string(list.substr(0, p));
  if (p + 1 < list.size()) out.rest = std::string(list.substr(p + 1));
  return out;
}

std::vector<std::string> list_users(std::string_view list) {
  std::vector<std::string> users;
  std::string rest(list);
  while (!rest.empty()) {
    NextUser n = next_user(rest);
    if (!n.next.empty()) users.push_back(std::move(n.next));
    rest = std::move(n.rest);
  }
  return users;
}

std::string signature_date(const DateTime& now) {
  return std::to_string(now.year) + "年" + std::to_string(now.month) + "月" +
         std::to_string(now.day) + "日";
}

std::string opinion_block(std::string_view typed, std::string_view username, const DateTime& now) {
  return text::html(typed) + "<br>" + text::html(username) + "&nbsp;" + signature_date(now);
}

namespace {

constexpr std::array<Step, 7> kSteps = {{
    {kDrafting, "drafting", {"", ""}},
    {kVerification, "draft verification", {"核稿", "hegao.asp"}},
    {kReview, "review", {"审核", "shenhe.asp"}},
    {kCountersign, "countersign", {"会签", "huiqian.asp"}},
    {kSignOff, "sign-off", {"签发", "qianfa.asp"}},
    {kDistribution, "distribution and filing", {"公文归档", "fenfa.asp"}},
    {kRegistration, "registration", {"收文登记", "swdengji.asp"}},
}};

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

}  // namespace

const Step* find_step(int code) {
  if (code < 0 || code >= static_cast<int>(kSteps.size())) return nullptr;
  return &kSteps[code];
}

const Step* parse_step(std::string_view posted, int lowest, int highest) {
  long long code = 0;
  if (!text::parse_int(posted, code) || code < lowest || code > highest) return nullptr;
  return find_step(static_cast<int>(code));
}

std::int64_t add_item(db::Connection& conn, std::string_view userid, std::string_view title,
                      const ItemKind& kind, std::int64_t baseid, const DateTime& now,
                      std::string_view userlist) {
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

std::optional<Item> load_item(db::Connection& conn, std::int64_t id) {
  db::Result r = conn.query(
      "SELECT id, userid, title, url, baseid, applytime, typed, userlist, status, donetime "
      "FROM newwork WHERE id = ?",
      {id});
  if (r.empty()) return std::nullopt;
  return item_of(r.front());
}

std::string item_link(std::string_view url, std::int64_t baseid, std::int64_t id) {
  return std::string(url) + "?flowid=" + std::to_string(baseid) + "&nwid=" + std::to_string(id);
}

std::string item_link(const Item& item) {
  return item_link(item.url, item.baseid, item.id);
}

std::int64_t add_workflow(db::Connection& conn, const HistoryEntry& e, const DateTime& now) {
  return conn.insert(
      "INSERT INTO workflow (flowid, handlename, handleid, handletime, ipaddress, nextid, "
      "handtype, nexttype, remark) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {e.flowid, e.handlename, e.handleid, now.iso(), e.ipaddress, e.nextid,
       std::to_string(e.handtype), std::to_string(e.nexttype), e.remark});
}

std::int64_t add_swflow(db::Connection& conn, const HistoryEntry& e, const DateTime& now) {
  return conn.insert(
      "INSERT INTO swflow (flowid, handlename, handleid, nextid, handletime, ipaddress, remark, "
      "handletype, nexttype) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {e.flowid, e.handlename, e.handleid, e.nextid, now.iso(), e.ipaddress, e.remark,
       std::to_string(e.handtype), std::to_string(e.nexttype)});
}

}  // namespace desk::workflow
