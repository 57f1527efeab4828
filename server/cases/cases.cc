#include "server/cases/cases.h"

#include <cmath>
#include <cstdio>
#include <regex>

#include "core/text.h"
#include "server/host/edition.h"

namespace desk::cases {

void require_law_edition(asp::ScriptingContext& ctx) {
  if (host::edition_of(ctx.config()) != host::Edition::law)
    throw Error(Errc::not_found, "案件管理只在律师事务所版中提供。");
}

std::int64_t posted_id(std::string_view given) {
  std::int64_t id = text::parse_id(given);
  if (id == 0) throw Error(Errc::bad_request, "缺少有效的案件或记录编号。");
  return id;
}

Condition visible_to(const host::User& user) {
  if (user.admin) return {};
  return {"(lawyerid = ? OR id IN (SELECT baseid FROM newwork WHERE userid = ? AND url = ?))",
          {user.uid, user.uid, std::string(kCaseItem.url)}};
}

bool may_see(db::Connection& conn, std::int64_t id, const host::User& user) {
  if (!user.admin && !user.logged_in()) return false;
  Condition c = visible_to(user);
  db::Params values{id, static_cast<int>(kDeleted)};
  std::string sql = "SELECT 1 FROM lawinfo WHERE id = ? AND status <> ?";
  if (!c.sql.empty()) {
    sql += " AND " + c.sql;
    values.insert(values.end(), c.values.begin(), c.values.end());
  }
  return !conn.query(sql, values).empty();
}

db::Row require_case(db::Connection& conn, std::int64_t id, const host::User& user) {
  db::Result rows =
      conn.query("SELECT * FROM lawinfo WHERE id = ? AND status <> ?", {id, int{kDeleted}});
  if (rows.empty()) throw Error(Errc::not_found, "该案件不存在或已被删除。");
  if (!may_see(conn, id, user)) throw Error(Errc::forbidden, "您无权查看该案件。");
  return rows.front();
}

DeskCounts desk_counts(db::Connection& conn, std::string_view uid) {
  const db::Row r =
      conn.query(
              "SELECT (SELECT COUNT(*) FROM lawinfo WHERE lawyerid = ? AND status = ?) AS cases, "
              "(SELECT COUNT(*) FROM newwork WHERE userid = ? AND url = ? AND status = 0) AS items",
              {uid, int{kOpen}, uid, std::string(kCaseItem.url)})
          .front();
  return {r.integer("cases"), r.integer("items")};
}

std::optional<double> parse_amount(std::string_view typed) {
  static const std::regex kAmount(R"(([+-]?)(\d{1,3}(?:,\d{3})+|\d+)(?:\.(\d{1,2}))?)");
  const std::string s = text::trim(typed);
  std::smatch m;
  if (!std::regex_match(s, m, kAmount)) return std::nullopt;
  std::string digits;
  for (char c : m[2].str())
    if (c != ',' && !(digits.empty() && c == '0')) digits += c;
  // A trillion or more is refused rather than stored without its cents.
  if (digits.size() > 12) return std::nullopt;
  std::string cents = m[3].str();
  cents.resize(2, '0');
  double value = (digits.empty() ? 0.0 : std::stod(digits)) + std::stod(cents) / 100.0;
  return m[1].str() == "-" ? -value : value;
}

double signed_amount(std::string_view kind, double amount) {
  if (kind != "1" && amount > 0) return -amount;
  return amount;
}

std::string amount_text(double amount) {
  char buf[64];
  // Rounded to cents; a negative zero is shown as 0.00.
  double cents = std::round(amount * 100.0) / 100.0;
  if (cents == 0) cents = 0;
  std::snprintf(buf, sizeof buf, "%.2f", cents);
  return buf;
}

std::string typed_date(std::string_view typed, std::string_view label) {
  const std::string s = text::trim(typed);
  if (s.empty()) return "";
  DateTime t;
  if (!Regional::parse_date(s, t))
    throw Error(
        Errc::bad_request,
        std::string(label) + "不是有效的日期，请按 2026-12-7 或 2026年12月7日 的格式填写。");
  return t.iso_date();
}

}  // namespace desk::cases
