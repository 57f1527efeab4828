// Sending one text message through a GSM modem on a serial port: the checks
// before anything is sent, the AT exchange in PDU mode and its verdict.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "platform/serial/serial.h"
#include "server/sms/pdu.h"

namespace desk::sms {

enum class Status {
  sent,         // the modem confirmed the message (+CMGS: and OK)
  bad_number,   // the recipient's number is no mobile number; nothing sent
  bad_centre,   // the message centre's number is no number; nothing sent
  no_modem,     // the server has no modem configured; nothing sent
  port_failed,  // the port could not be opened, written or read
  refused,      // the modem answered ERROR
  no_answer,    // the modem answered nothing at all
  unconfirmed,  // the modem answered, but never confirmed the message
};

// The text that tells the user how the send ended.
std::string_view user_text(Status s);

// One chunk of the exchange with the modem.
struct Event {
  std::int64_t at_ms = 0;  // since the send began
  bool to_modem = false;   // written (true) or received (false)
  std::string bytes;
};

// The exchange for people: one line per event, "+200ms -> AT+CMGF=0<CR>",
// control bytes spelled out (<CR>, <LF>, <^Z>, <xHH>).
std::string format_exchange(const std::vector<Event>& exchange);

struct Outcome {
  Status status = Status::no_modem;
  std::string detail;  // why, for the server log and the administrator
  std::vector<Event> exchange;
  bool sent() const { return status == Status::sent; }
};

// A message checked and encoded. The numbers and the text are as sent (13
// digits, at most kMaxChars characters); a refused message keeps a number it
// could not read as it was given.
struct Message {
  std::string centre, number, text;
  Pdu pdu;
  Status refusal = Status::sent;  // bad_number or bad_centre when it must not be sent
  std::string alert;              // the operator alert of a refusal: "wrong number.10"
  bool refused() const { return refusal != Status::sent; }
};
Message prepare(std::string_view centre, std::string_view number, std::string_view text);

// The fixed waits of the exchange, in milliseconds: before each of the three
// writes, and for the modem's answer to the message.
inline constexpr int kSettleMs = 200;
inline constexpr int kAnswerMs = 5000;

// Drives the modem. Thread-safe and shareable: send() holds copies of its
// settings only, and sends to one device are serialised in the process.
class Sender {
 public:
  // Where the server log goes; each call is one line without its newline.
  using Log = std::function<void(std::string_view line)>;
  struct Options {
    serial::Settings port;  // device "" = no modem
    serial::Opener open = serial::open_posix;
    std::shared_ptr<const Ticker> ticker = steady_ticker();
    Log log;  // default: standard error
  };
  explicit Sender(Options options);

  // Sends one prepared message: opens the port, waits kSettleMs, switches to
  // PDU mode, waits, announces the length, waits, writes the PDU and Ctrl-Z,
  // collects the answer for kAnswerMs and closes the port. Blocks for at
  // least 5.6 s on a working port (longer while another send to the same
  // device runs); every read and write has a time limit, so it always ends.
  // A refused message, a modem answering ERROR to the mode or the length,
  // and a port that fails end it early. Failures are written to the log.
  Outcome send(const Message& message) const;

  const serial::Settings& port() const { return options_.port; }

 private:
  Options options_;
};

}  // namespace desk::sms
