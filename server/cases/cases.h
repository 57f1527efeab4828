// Case files of the law-firm edition: the rules every case page shares.
//
// A case is one `lawinfo` row (status 0 open, 1 closed, 99 deleted); its
// history (`lawflow`), documents (`lawfj`), contacts (`lawlinkbook`), fees
// (`lawmoneyflow`), work log (`lawworkflow`) and analysis notes
// (`lawanalysisflow`) point to it through `flowid` (`lawflow` through
// `lawid`). A deleted case is gone for every page.
//
// Who may see a case, and so open any of its pages, change it or download
// its documents: an administrator, the responsible lawyer (`lawinfo.lawyerid`)
// and every user the case was ever sent to for discussion (who has or had a
// "案件处理" item of it).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/asp/asp.h"
#include "platform/db/db.h"
#include "server/host/kit.h"
#include "server/work/work.h"

namespace desk::cases {

// The pending-work item that hands a case to a lawyer.
inline constexpr work::ItemKind kCaseItem = {"案件处理", "lawdiscuss.asp"};

enum CaseStatus : int { kOpen = 0, kClosed = 1, kDeleted = 99 };

// Refuses every case page outside the law-firm edition (Error(not_found)).
void require_law_edition(asp::ScriptingContext& ctx);

// A case or sub-record id from the request: a whole number above 0.
// Error(bad_request) otherwise.
std::int64_t posted_id(std::string_view given);

// Whether `user` may see case `id` (deleted cases excepted: nobody does).
bool may_see(db::Connection& conn, std::int64_t id, const host::User& user);

// The case row (all columns) for a page of `user`: Error(not_found) when
// there is no such case or it is deleted, Error(forbidden) when the user may
// not see it.
db::Row require_case(db::Connection& conn, std::int64_t id, const host::User& user);

// The condition that limits `lawinfo` rows to those `user` may see, to be
// joined to a WHERE clause with AND ("" for administrators), and its values.
struct Condition {
  std::string sql;
  db::Params values;
};
Condition visible_to(const host::User& user);

// What the desk shows of the cases of user `uid`: the open cases the user is
// the responsible lawyer of, and the user's pending "案件处理" items.
struct DeskCounts {
  std::int64_t open_cases = 0;
  std::int64_t pending_items = 0;
};
DeskCounts desk_counts(db::Connection& conn, std::string_view uid);

// ---- Fees -----------------------------------------------------------------

// A fee amount as typed: a decimal number with an optional sign and at most
// two decimals ("500", "-12.5", "1,200.00"; blanks around it allowed).
// nullopt for anything else, including the empty text and amounts of a
// trillion or more.
std::optional<double> parse_amount(std::string_view typed);

// The stored amount of a fee entry: kind "1" (fee received) keeps its sign,
// every other kind is stored negative whatever sign was typed.
double signed_amount(std::string_view kind, double amount);

// An amount as pages show it: two decimals, "-" for negatives.
std::string amount_text(double amount);

// ---- Dates ------------------------------------------------------------------

// A date typed on a case form, stored as ISO ("" stays ""). Error(bad_request)
// naming `label` for text that is not a date.
std::string typed_date(std::string_view typed, std::string_view label);

}  // namespace desk::cases
