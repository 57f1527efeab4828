#pragma once

#include "platform/asp/asp.h"

namespace desk::deskpages {

// Registers this subsystem's components and hosting pages.
void register_pages(asp::Registry& registry);

}  // namespace desk::deskpages
