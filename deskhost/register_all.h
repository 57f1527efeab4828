#pragma once

#include "platform/asp/asp.h"

namespace desk::deskhost {

// Every subsystem's components and hosting pages.
void register_all(asp::Registry& registry);

}  // namespace desk::deskhost
