#include "deskhost/modem.h"

#include "core/error.h"
#include "platform/asp/app_config.h"

namespace desk::deskhost {

sms::Outcome check_modem(const ModemCheck& check, std::ostream& out) {
  asp::AppConfig config;
  if (!check.appdir.empty()) config = asp::AppConfig::load(check.appdir / "app.conf");
  serial::Settings port = config.sms_port;
  if (!check.device.empty()) port.device = check.device;
  if (check.speed != 0) {
    if (!serial::supported_speed(check.speed))
      throw Error(Errc::config, "unsupported speed " + std::to_string(check.speed));
    port.speed = check.speed;
  }
  if (!check.framing.empty()) serial::parse_framing(check.framing, port);
  std::string centre = check.centre.empty() ? config.sms_centre : check.centre;
  if (port.device.empty())
    throw Error(Errc::config, "no modem device: give --device or set sms_device in app.conf");
  if (centre.empty())
    throw Error(Errc::config, "no message centre: give --centre or set sms_centre in app.conf");

  sms::Sender::Options opt;
  opt.port = port;
  opt.ticker = check.ticker;
  opt.log = [&out](std::string_view line) { out << "log: " << line << "\n"; };
  sms::Sender sender(std::move(opt));

  sms::Message m = sms::prepare(centre, check.number, check.text);
  sms::Fit fit = sms::fit_message(check.text);
  out << "device: " << port.device << " " << port.speed << " " << serial::framing_text(port) << "\n"
      << "centre: " << m.centre << "\nnumber: " << m.number << "\n"
      << "text: " << m.text << " (" << sms::fit_message(m.text).chars << " characters";
  if (fit.cut()) out << ", cut from " << fit.chars;
  out << ")\n";
  if (!m.refused()) out << "pdu: " << m.pdu.hex << "\n";
  sms::Outcome o = sender.send(m);
  out << sms::format_exchange(o.exchange) << "result: " << (o.sent() ? "sent" : "not sent") << " ("
      << o.detail << ")\n";
  return o;
}

}  // namespace desk::deskhost
