#include "server/files/mail.h"

#include <set>

#include "core/error.h"
#include "core/text.h"

namespace desk::files {
namespace {

std::string join(const std::vector<std::int64_t>& ids, char sep) {
  std::string out;
  for (std::int64_t id : ids) {
    if (!out.empty()) out += sep;
    out += std::to_string(id);
  }
  return out;
}

}  // namespace

std::vector<std::string> parse_recipients(std::string_view list) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t semi = list.find(';'); semi != std::string_view::npos;
       semi = list.find(';', start)) {
    std::string id = text::trim(list.substr(start, semi - start));
    if (!id.empty()) out.push_back(std::move(id));
    start = semi + 1;
  }
  return out;
}

std::vector<std::int64_t> parse_id_list(std::string_view list) {
  std::vector<std::int64_t> out;
  for (const auto& part : text::split(list, ',')) {
    long long id = 0;
    if (text::parse_int(part, id) && id > 0) out.push_back(id);
  }
  return out;
}

std::string compose_key(asp::Session& session) {
  return std::to_string(session.SessionID());
}

bool may_download_attachment(db::Connection& conn, std::int64_t fjid, const std::string& uid) {
  if (fjid <= 0 || uid.empty()) return false;
  db::Result fj = conn.query("SELECT status, uid FROM mailfj WHERE id = ?", {fjid});
  if (fj.empty()) return false;
  if (fj.front().integer("status") == 0) return fj.front().text("uid") == uid;
  // Bound attachments: any mail of this user, received or sent, that lists it.
  db::Result mails = conn.query(
      "SELECT fjlist FROM mail WHERE (topeopleid = ? OR senderid = ?) AND "
      "(',' || fjlist || ',') LIKE ?",
      {uid, uid, "%," + std::to_string(fjid) + ",%"});
  for (const auto& m : mails)
    for (std::int64_t id : parse_id_list(m.text("fjlist")))
      if (id == fjid) return true;
  return false;
}

void WriteMail::main(db::Connection& conn) {
  mail_ids_.clear();
  attachment_ids_.clear();
  const asp::Request& req = request();
  std::vector<std::string> recipients = parse_recipients(req("hiddenselect"));
  if (recipients.empty()) throw Error(Errc::bad_request, "没有选择收件人，邮件未发送。");

  std::string unknown;
  std::set<std::string> checked;
  for (const auto& id : recipients) {
    if (!checked.insert(id).second) continue;
    if (conn.query("SELECT 1 FROM userlist WHERE uid = ?", {id}).empty())
      unknown += (unknown.empty() ? "" : "、") + id;
  }
  if (!unknown.empty())
    throw Error(Errc::bad_request, "以下收件人不存在：" + unknown + "。邮件未发送。");

  // Every copy of the message carries the same sending time.
  const std::string mailtime = now().iso();
  const std::string topeople = req("username");
  const std::string title = req("title");
  const std::string body = req("text");
  const std::string senderid = session().get("uid");
  const std::string sendername = session().get("username");
  const std::string ip = remote_addr();
  const std::string key = compose_key(session());

  db::Transaction tx(conn);
  for (const auto& to : recipients) {
    mail_ids_.push_back(conn.insert(
        "INSERT INTO mail (topeopleid, topeople, title, text, mailtime, senderid, sendername, "
        "ipaddress) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
        {to, topeople, title, body, mailtime, senderid, sendername, ip}));
  }
  const std::string mail_list = join(mail_ids_, ',');

  // The session's unsent attachments move to the new mails: each attachment
  // lists every copy, every copy lists each attachment. Only the sender's own
  // uploads qualify, so a session id met again later cannot pick up strangers'.
  db::Result waiting =
      conn.query("SELECT id FROM mailfj WHERE mailid = ? AND uid = ? AND status = 0 ORDER BY id",
                 {key, senderid});
  for (const auto& row : waiting) {
    std::int64_t id = row.integer("id");
    conn.exec("UPDATE mailfj SET status = 1, mailid = ? WHERE id = ?", {mail_list, id});
    attachment_ids_.push_back(id);
  }
  if (!attachment_ids_.empty()) {
    const std::string fjlist = join(attachment_ids_, ',');
    for (std::int64_t id : mail_ids_)
      conn.exec("UPDATE mail SET fjlist = ? WHERE id = ?", {fjlist, id});
  }
  tx.commit();
}

}  // namespace desk::files
