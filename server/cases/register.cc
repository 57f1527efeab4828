#include "server/cases/register.h"

#include "server/cases/pages.h"

namespace desk::cases {

void register_pages(asp::Registry& registry) {
  register_case_pages(registry);
  register_record_pages(registry);
}

}  // namespace desk::cases
