// Personal plans: a text, a day, a time of day and how many minutes before
// it the status bar reminds the owner.
#pragma once

#include <string>

#include "platform/asp/asp.h"

namespace desk::deskpages {

// A plan as read from a form (fields `content`, `dodate`, `hourtext`,
// `minutetext`, `remind`), checked.
struct PlanInput {
  std::string content;  // as typed
  std::string date;     // ISO date
  int hour = 0;         // 0..23
  int minute = 0;       // 0..59
  int remind = 0;       // minutes before the plan, 0..1440

  // `plantime`: "HHMM".
  std::string plantime() const;
  // `remindtime`: "HHMM" of `remind` minutes before the plan, 0000 when that
  // would fall on the day before.
  std::string remindtime() const;
};

// Reads and checks the plan fields of the request; throws Error(bad_request)
// with a message for the user when one is missing or wrong.
PlanInput read_plan(asp::ScriptingContext& ctx);

// Longest plan text, in characters (the form field's limit).
inline constexpr std::size_t kPlanContentChars = 100;

// `planlist`: stores a posted plan and writes the top of the plan page, the
// head and the one-row entry form posting back to "planlist.asp". A post
// that carries a non-empty `finddate` is not a new plan.
class PlanList : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
  // The ISO date of the plan `main` stored; "" when it stored none.
  std::string stored_date;
};

}  // namespace desk::deskpages
