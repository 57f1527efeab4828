#include "server/files/register.h"

namespace desk::files {

void register_pages(asp::Registry& registry) {}

}  // namespace desk::files
