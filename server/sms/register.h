#pragma once

#include "platform/asp/asp.h"

namespace desk::sms {

// Registers this subsystem's components: deskserver.sendsms.
void register_pages(asp::Registry& registry);

}  // namespace desk::sms
