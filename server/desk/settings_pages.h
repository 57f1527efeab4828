// The menu's two settings entries: "个人设置" (personmsg.asp), the user's own
// settings, and "系统维护" (system.asp), the administrators' tools.
#pragma once

#include "platform/asp/asp.h"

namespace desk::deskpages {

void register_settings_pages(asp::Registry& registry);

}  // namespace desk::deskpages
