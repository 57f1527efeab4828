#include "server/sms/sender.h"

#include <algorithm>
#include <cstdio>

#include "core/error.h"
#include "core/text.h"

namespace desk::sms {
namespace {

constexpr int kWriteLimitMs = 2000;  // for the device to take one command
constexpr int kSliceMs = 10;         // longest single read inside a wait
constexpr size_t kMaxReceived = 64 * 1024;

// The exchange on one open port, timed by the sender's ticker.
class Exchange {
 public:
  Exchange(const Ticker& ticker, std::vector<Event>& events)
      : ticker_(ticker), events_(events), start_(ticker.now_ms()) {}

  void write(serial::Port& port, std::string bytes) {
    events_.push_back({elapsed(), true, bytes});
    port.write(bytes, kWriteLimitMs);
  }

  // Waits `ms`, keeping what the modem sends meanwhile.
  void wait(serial::Port& port, int ms) {
    const std::int64_t start = ticker_.now_ms();
    for (;;) {
      const std::int64_t left = ms - (ticker_.now_ms() - start);
      if (left <= 0) return;
      std::string got = port.read(static_cast<int>(std::min<std::int64_t>(left, kSliceMs)));
      if (got.empty() || received_.size() >= kMaxReceived) continue;
      got.resize(std::min(got.size(), kMaxReceived - received_.size()));
      received_ += got;
      if (!events_.empty() && !events_.back().to_modem && events_.back().at_ms == elapsed())
        events_.back().bytes += got;
      else
        events_.push_back({elapsed(), false, std::move(got)});
    }
  }

  const std::string& received() const { return received_; }

 private:
  std::int64_t elapsed() const { return ticker_.now_ms() - start_; }
  const Ticker& ticker_;
  std::vector<Event>& events_;
  const std::int64_t start_;
  std::string received_;
};

// The first line of `s` that holds `word`, without its line ends.
std::string line_with(const std::string& s, std::string_view word) {
  size_t at = s.find(word);
  if (at == std::string::npos) return "";
  size_t b = s.find_last_of("\r\n", at);
  b = b == std::string::npos ? 0 : b + 1;
  size_t e = s.find_first_of("\r\n", at);
  return text::header_safe(s.substr(b, e == std::string::npos ? std::string::npos : e - b));
}

void to_stderr(std::string_view line) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

}  // namespace

std::string_view user_text(Status s) {
  switch (s) {
    case Status::sent:
      return "短信已发送";
    case Status::bad_number:
      return "接收号码不对：请填写11位手机号码，或以86开头的13位号码。短信没有发送。";
    case Status::bad_centre:
      return "短信中心号码不对：应为11位号码，或以86开头的13位号码。短信没有发送。";
    case Status::no_modem:
      return "服务器没有配置短信设备，短信没有发送。";
    case Status::port_failed:
      return "短信设备无法使用，短信未能发送。";
    case Status::refused:
      return "短信设备拒绝发送，短信没有发送。";
    case Status::no_answer:
      return "短信设备没有应答，短信未能发送。";
    case Status::unconfirmed:
      return "短信设备没有确认发送，短信可能没有发出。";
  }
  return "";
}

std::string format_exchange(const std::vector<Event>& exchange) {
  std::string out;
  for (const auto& e : exchange) {
    out += "+" + std::to_string(e.at_ms) + "ms " + (e.to_modem ? "-> " : "<- ");
    for (unsigned char c : e.bytes) {
      if (c == '\r') {
        out += "<CR>";
      } else if (c == '\n') {
        out += "<LF>";
      } else if (c == 0x1A) {
        out += "<^Z>";
      } else if (c < 0x20 || c >= 0x7F) {
        char b[8];
        std::snprintf(b, sizeof b, "<x%02X>", c);
        out += b;
      } else {
        out += static_cast<char>(c);
      }
    }
    out += '\n';
  }
  return out;
}

Message prepare(std::string_view centre, std::string_view number, std::string_view text) {
  Message m;
  m.text = fit_message(text).kept;
  auto c = international_number(centre);
  auto n = international_number(number);
  m.centre = c ? *c : std::string(centre);
  m.number = n ? *n : std::string(number);
  auto alert = [](std::string_view which, std::string_view value) {
    return "wrong number." + std::to_string(text::char_count(value)) + " (" + std::string(which) +
           " '" + text::header_safe(value) + "')";
  };
  if (!n) {
    m.refusal = Status::bad_number;
    m.alert = alert("recipient", number);
  } else if (!c) {
    m.refusal = Status::bad_centre;
    m.alert = alert("message centre", centre);
  } else {
    m.pdu = build_pdu(*c, *n, m.text);
  }
  return m;
}

Sender::Sender(Options options) : options_(std::move(options)) {
  if (!options_.log) options_.log = to_stderr;
  if (!options_.ticker) options_.ticker = steady_ticker();
  if (!options_.open) options_.open = serial::open_posix;
}

Outcome Sender::send(const Message& m) const {
  Outcome out;
  const std::string& device = options_.port.device;
  auto fail = [&](Status s, std::string detail) {
    out.status = s;
    out.detail = std::move(detail);
    options_.log("sendsms: " + out.detail);
    return out;
  };
  if (m.refused()) return fail(m.refusal, m.alert + "; message not sent");
  if (device.empty())
    return fail(Status::no_modem, "no modem configured (sms_device); message not sent");

  auto lock = serial::lock_device(device);
  Exchange ex(*options_.ticker, out.exchange);
  std::unique_ptr<serial::Port> port;
  auto refused_before = [&](std::string_view step) {
    return ex.received().find("ERROR") != std::string::npos
               ? device + ": the modem refused " + std::string(step) + "; message not sent"
               : "";
  };
  try {
    port = options_.open(options_.port);
    ex.wait(*port, kSettleMs);
    ex.write(*port, "AT+CMGF=0\r");
    ex.wait(*port, kSettleMs);
    // In text mode the PDU would go out as the text of a message to the
    // wrong number: a refused mode ends the send.
    if (auto why = refused_before("PDU mode (AT+CMGF=0)"); !why.empty()) {
      port->close();
      return fail(Status::refused, why);
    }
    ex.write(*port, "AT+CMGS= " + std::to_string(m.pdu.tpdu_length) + "\r");
    ex.wait(*port, kSettleMs);
    if (auto why = refused_before("the message length (AT+CMGS)"); !why.empty()) {
      port->close();
      return fail(Status::refused, why);
    }
    ex.write(*port, m.pdu.hex + "\x1A");
    ex.wait(*port, kAnswerMs);
    port->close();
  } catch (const std::exception& e) {
    if (port) port->close();
    return fail(Status::port_failed, e.what());
  }

  // Only the modem's reference for the message followed by OK confirms it:
  // the OK of the mode switch alone says nothing about the message.
  const std::string& r = ex.received();
  const size_t ref = r.find("+CMGS:");
  if (ref != std::string::npos && r.find("OK", ref) != std::string::npos) {
    out.status = Status::sent;
    out.detail = "confirmed: " + line_with(r, "+CMGS:");
    return out;
  }
  if (r.find("ERROR") != std::string::npos)
    return fail(Status::refused,
                device + ": the modem refused the message: " + line_with(r, "ERROR"));
  if (r.empty()) return fail(Status::no_answer, device + ": the modem did not answer");
  return fail(Status::unconfirmed, device + ": the modem did not confirm the message within " +
                                       std::to_string(kAnswerMs) + " ms");
}

}  // namespace desk::sms
