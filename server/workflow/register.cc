#include "server/workflow/register.h"

namespace desk::workflow {

void register_pages(asp::Registry& registry) {}

}  // namespace desk::workflow
