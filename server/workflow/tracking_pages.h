// Tracking and searching documents: "flowlist.asp" (the documents the user
// drafted, registered or handled), "flowdetail.asp" (one document with its
// history) and "findwork.asp" (search by title, document number and date).
#pragma once

#include "platform/asp/asp.h"

namespace desk::workflow {

// Registers the three pages; all need a logged-in session.
void register_tracking_pages(asp::Registry& registry);

}  // namespace desk::workflow
