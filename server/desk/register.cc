#include "server/desk/register.h"

namespace desk::deskpages {

void register_pages(asp::Registry& registry) {}

}  // namespace desk::deskpages
