#pragma once

#include "platform/asp/asp.h"

namespace desk::sms {

// Registers this subsystem's component deskserver.sendsms and its page
// "phone.asp".
void register_pages(asp::Registry& registry);

}  // namespace desk::sms
