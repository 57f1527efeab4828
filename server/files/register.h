#pragma once

#include "platform/asp/asp.h"

namespace desk::files {

// Registers this subsystem's components and hosting pages.
void register_pages(asp::Registry& registry);

}  // namespace desk::files
