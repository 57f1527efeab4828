// Hosting pages of incoming documents: registration of a document from
// outside ("swdengji1.asp"), registration of a distributed outgoing document
// ("swdengji.asp") and the instruction step ("piban.asp").
#pragma once

#include "platform/asp/asp.h"

namespace desk::workflow {

// Registers `swdengji1`, `swdengji`, `piban` and their pages; all need a
// logged-in session.
void register_shouwen_pages(asp::Registry& registry);

}  // namespace desk::workflow
