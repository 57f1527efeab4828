// The pieces the case pages are drawn with: the page frame, the case's
// heading with its tabs, form fields, the lawyer choice and the fee summary.
// Every value is escaped here for where it is written.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/asp/asp.h"
#include "platform/db/db.h"
#include "server/host/kit.h"

namespace desk::cases {

// Head of a case page (style sheets of the work area and of the cases).
std::string case_page_head(std::string_view title);
// The end of a case page, with the script its forms call.
std::string case_page_end();

// The tabs of a case's pages, by the page they lead to.
enum class Tab { info, linkbook, money, work, analysis, doc };

// The heading of case `c`: number, title and state, a link back to the list,
// and the tabs with the number of current records of each kind.
std::string case_heading(db::Connection& conn, const db::Row& c, Tab current);

// A form row: the label cell and the content cell.
std::string form_row(std::string_view label, std::string_view content);
// A text field with its current value.
std::string text_field(std::string_view name, std::string_view value, int size,
                       std::string_view extra = "");
// A text area with its current value.
std::string text_area(std::string_view name, std::string_view value, int rows = 4);
// A choice of `options` with `current` selected; a current value that is
// not among them is kept as the first choice, so saving never changes it.
std::string choice(std::string_view name, std::span<const std::string_view> options,
                   std::string_view current);

// The choice of the responsible lawyer among all users ("lawyerid"), with
// the hidden "lawyername" that follows it.
std::string lawyer_choice(db::Connection& conn, std::string_view current_id,
                          std::string_view current_name);

// A date stored as ISO, as the page shows it; other text as it is.
std::string shown_date(const asp::ScriptingContext& ctx, const std::string& stored);

// Fee kinds of a fee entry: "1" is money received, the others are paid out.
std::string_view fee_kind_label(std::string_view kind);
inline constexpr std::string_view kFeeKinds[] = {"1", "2", "3"};

// The running total of the fees of case `c` against its agreed fee.
std::string fee_summary(db::Connection& conn, const db::Row& c);

// One hidden form per page that posts a delete of row `id` of case `flowid`
// to `action`; rows call lawdelete(id, question).
std::string delete_form(asp::ScriptingContext& ctx, std::string_view action, std::int64_t flowid);
std::string delete_link(std::int64_t id, std::string_view question);

}  // namespace desk::cases
