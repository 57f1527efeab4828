#include "server/cases/register.h"

namespace desk::cases {

void register_pages(asp::Registry& registry) {}

}  // namespace desk::cases
