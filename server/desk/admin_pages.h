// The administrators' pages under 系统维护: users (list, add, edit, disable,
// password reset, lifting a login lock), departments, notices and the
// system settings. Every page runs the administrator gate first; every
// change is one transaction.
#pragma once

#include "platform/asp/asp.h"

namespace desk::deskpages {

void register_admin_pages(asp::Registry& registry);

}  // namespace desk::deskpages
