// Hosting pages of personal plans: the plan page with the list of one day
// ("planlist.asp"), one plan's edit page ("modifyplanonce.asp"), deletion
// ("delplan.asp") and the month calendar ("calender.asp").
#pragma once

#include "platform/asp/asp.h"

namespace desk::deskpages {

void register_plan_pages(asp::Registry& registry);

}  // namespace desk::deskpages
