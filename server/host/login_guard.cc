#include "server/host/login_guard.h"

namespace desk::host {
namespace {

std::string window_start(const DateTime& now) {
  return now.plus_seconds(-std::chrono::seconds(kWindow).count()).iso();
}

}  // namespace

Gate login_gate(db::Connection& conn, std::string_view uid, std::string_view ip,
                const DateTime& now) {
  const std::string since = window_start(now);
  db::Result r = conn.query(
      "SELECT (SELECT COUNT(*) FROM loginfail WHERE uid = ? AND failtime > ?) AS account, "
      "(SELECT COUNT(*) FROM loginfail WHERE ipaddress = ? AND failtime > ?) AS address",
      {uid, since, ip, since});
  if (r.front().integer("account") >= kAccountFailures) return Gate::account_locked;
  if (r.front().integer("address") >= kAddressFailures) return Gate::address_blocked;
  return Gate::open;
}

void record_failure(db::Connection& conn, std::string_view uid, std::string_view ip,
                    const DateTime& now) {
  db::Transaction tx(conn);
  conn.exec("INSERT INTO loginfail (uid, ipaddress, failtime) VALUES (?, ?, ?)",
            {uid, ip, now.iso()});
  // Rows older than the window never count again.
  conn.exec("DELETE FROM loginfail WHERE failtime <= ?", {window_start(now)});
  tx.commit();
}

void clear_failures(db::Connection& conn, std::string_view uid) {
  conn.exec("DELETE FROM loginfail WHERE uid = ?", {uid});
}

std::vector<LockedAccount> locked_accounts(db::Connection& conn, const DateTime& now) {
  std::vector<LockedAccount> out;
  db::Result rows = conn.query(
      "SELECT uid, MAX(failtime) AS latest FROM loginfail WHERE failtime > ? GROUP BY uid "
      "HAVING COUNT(*) >= ? ORDER BY uid",
      {window_start(now), kAccountFailures});
  for (const db::Row& r : rows) {
    DateTime latest;
    std::string until = r.text("latest");
    if (DateTime::parse_iso(until, latest))
      until = latest.plus_seconds(std::chrono::seconds(kWindow).count()).iso();
    out.push_back({r.text("uid"), until});
  }
  return out;
}

}  // namespace desk::host
