// `sendsms`: the page component that sends one text message through the
// server's GSM modem.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/asp/asp.h"
#include "server/sms/sender.h"

namespace desk::sms {

// The blocking half of a send, detached from the page: it holds copies of
// everything it needs, so it may run on any thread, also after the page that
// made it has ended. Copyable; each call sends once.
class SendJob {
 public:
  SendJob(std::shared_ptr<const Sender> sender, Message message)
      : sender_(std::move(sender)), message_(std::move(message)) {}
  Outcome operator()() const { return sender_->send(message_); }
  const Message& message() const { return message_; }

 private:
  std::shared_ptr<const Sender> sender_;
  Message message_;
};

class SendSms : public asp::PageComponent {
 public:
  // Properties, in interface order: the message centre's number, the
  // recipient's number and the text for sendmsg(); `pdu` is stored only, no
  // send uses or sets it.
  std::string pcenter, preceive, pmsg, pdu;

  // OnStartPage(MyScriptingContext), OnEndPage: the page component frame.

  // sendsms(pcenter, preceive, pmsg).
  bool sendmsg();

  // Sends msg to num through the message centre csca and returns whether the
  // modem confirmed it; last() tells why not. Writes back into the caller's
  // strings the numbers as sent (13 digits, "86" in front) and the text as
  // sent (cut to kMaxChars characters). Blocks for the whole exchange, at
  // least 5.6 s: a page should run it through start() on a worker thread.
  bool sendsms(std::string& csca, std::string& num, std::string& msg);

  // The same send in two halves. start() runs on the page's thread: it
  // checks and encodes the message and writes back like sendsms(); the
  // returned job does the blocking exchange. A message that is refused
  // before sending gives a job that only reports (and logs) the refusal.
  SendJob start(std::string& csca, std::string& num, std::string& msg);

  // How a text fits into one message, for telling the user before sending
  // that it will be cut, and how many characters are left.
  static Fit fit(std::string_view msg) { return fit_message(msg); }

  // How the last sendsms() or sendmsg() ended.
  const Outcome& last() const { return last_; }

  // The modem to use instead of the one in the application's settings
  // (whose waits run on the application's ticker).
  void use(std::shared_ptr<const Sender> sender) { sender_ = std::move(sender); }

 private:
  std::shared_ptr<const Sender> sender();
  std::shared_ptr<const Sender> sender_;
  Outcome last_;
};

}  // namespace desk::sms
