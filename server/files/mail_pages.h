// Hosting pages of internal mail: compose, attachment upload and removal,
// mail box, reading a mail and attachment download.
#pragma once

#include "platform/asp/asp.h"

namespace desk::files {

// "writemail.asp", "mailfj.asp", "mailfjdel.asp", "mailbox.asp",
// "readmail.asp", "mailfjdown.asp"; all need a logged-in session.
void register_mail_pages(asp::Registry& registry);

}  // namespace desk::files
