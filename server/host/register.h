#pragma once

#include "platform/asp/asp.h"

namespace desk::host {

// Registers the login, logout and gate components, the frame pages and the
// menu with their hosting pages, and the placeholders of pages not built yet.
void register_pages(asp::Registry& registry);

}  // namespace desk::host
