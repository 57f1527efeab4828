// `deskhost modem`: one text message straight through the modem, with the
// whole exchange shown, so an administrator can try a modem without pages.
#pragma once

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "core/clock.h"
#include "server/sms/sender.h"

namespace desk::deskhost {

struct ModemCheck {
  std::filesystem::path appdir;  // its app.conf gives the settings when set
  // Given on the command line: they win over app.conf. Empty or 0 = not given.
  std::string device, framing, centre;
  int speed = 0;
  std::string number, text;
  std::shared_ptr<const Ticker> ticker;  // null: real time
};

// Sends the message and writes the settings, the PDU, the exchange and how
// it ended to `out`. Throws Error(config) when no device or no message
// centre is known, or a setting is bad.
sms::Outcome check_modem(const ModemCheck& check, std::ostream& out);

}  // namespace desk::deskhost
