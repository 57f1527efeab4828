#include "server/sms/sendsms.h"

namespace desk::sms {

bool SendSms::sendmsg() {
  return sendsms(pcenter, preceive, pmsg);
}

bool SendSms::sendsms(std::string& csca, std::string& num, std::string& msg) {
  last_ = start(csca, num, msg)();
  return last_.sent();
}

SendJob SendSms::start(std::string& csca, std::string& num, std::string& msg) {
  Message m = prepare(csca, num, msg);
  csca = m.centre;
  num = m.number;
  msg = m.text;
  return SendJob(sender(), std::move(m));
}

std::shared_ptr<const Sender> SendSms::sender() {
  if (!sender_) {
    Sender::Options o;
    if (started()) {
      o.port = ctx().config().sms_port;
      o.ticker = ctx().app().ticker;
    }
    sender_ = std::make_shared<Sender>(std::move(o));
  }
  return sender_;
}

}  // namespace desk::sms
