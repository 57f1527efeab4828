#include "deskhost/register_all.h"

#include "server/cases/register.h"
#include "server/desk/register.h"
#include "server/files/register.h"
#include "server/host/register.h"
#include "server/sms/register.h"
#include "server/workflow/register.h"

namespace desk::deskhost {

void register_all(asp::Registry& registry) {
  host::register_pages(registry);
  deskpages::register_pages(registry);
  workflow::register_pages(registry);
  files::register_pages(registry);
  cases::register_pages(registry);
  sms::register_pages(registry);
}

}  // namespace desk::deskhost
