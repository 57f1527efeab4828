#include "server/sms/register.h"

#include "server/sms/phone_page.h"
#include "server/sms/sendsms.h"

namespace desk::sms {

void register_pages(asp::Registry& registry) {
  registry.add_component<SendSms>("sendsms");
  register_phone_page(registry);
}

}  // namespace desk::sms
