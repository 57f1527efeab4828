// Hosting pages of the outgoing-document road: drafting, redrafting, the
// approval steps, send-back and the uploads that go with them.
#pragma once

#include "platform/asp/asp.h"

namespace desk::workflow {

// Registers the drafting and approval components and their pages.
void register_fawen_pages(asp::Registry& registry);

}  // namespace desk::workflow
