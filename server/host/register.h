#pragma once

#include "platform/asp/asp.h"

namespace desk::host {

// Registers the login, logout and gate components and their hosting pages.
void register_pages(asp::Registry& registry);

}  // namespace desk::host
