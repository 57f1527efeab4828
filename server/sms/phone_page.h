// "phone.asp": a logged-in user sends a text message to a colleague's mobile
// number, a contact of the user's phone book or a typed number, and sees the
// messages sent before with their outcome.
#pragma once

#include "platform/asp/asp.h"

namespace desk::sms {

// Registers "phone.asp". A send is posted once per form token, blocks for
// the whole modem exchange (at least 5.6 s on a working modem) and runs on
// the host's worker pool; the page answers with the outcome.
void register_phone_page(asp::Registry& registry);

}  // namespace desk::sms
