#include "server/sms/register.h"

#include "server/sms/sendsms.h"

namespace desk::sms {

void register_pages(asp::Registry& registry) {
  registry.add_component<SendSms>("sendsms");
}

}  // namespace desk::sms
