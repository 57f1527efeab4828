#include "deskhost/register_all.h"

#include "server/host/register.h"

namespace desk::deskhost {

void register_all(asp::Registry& registry) { host::register_pages(registry); }

}  // namespace desk::deskhost
