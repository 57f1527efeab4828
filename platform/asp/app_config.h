// Settings of one application folder, kept in APPDIR/app.conf as
// "key = value" lines.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/clock.h"
#include "platform/serial/serial.h"

namespace desk::asp {

struct AppConfig {
  std::string edition = "office";  // "office" or "law"
  std::string variant = "base";    // which edition classes the pages use: base, simp, full
  Regional regional;
  std::string database = "data/office.db";  // relative to the application folder
  // Cost of password hashing: "interactive" (the default) or "min" (tests).
  std::string password_cost = "interactive";
  // Upload ceiling in bytes until a session carries MaxSize.
  std::uint64_t upload_limit = 5000000;
  // The GSM modem for text messages: its serial port ("sms_device", empty
  // when the server has none; "sms_speed" in baud; "sms_framing" such as 8N1)
  // and the message centre number that the pages send through ("sms_centre").
  serial::Settings sms_port;
  std::string sms_centre;
  // Most text messages one user may send in any 60 minutes
  // ("sms_hourly_limit"), so the pages cannot be used to flood numbers.
  int sms_hourly_limit = 30;
  // Minutes a session lives without a request ("session_timeout").
  int session_timeout = 20;
  // Seconds between two loads of the status bar ("status_refresh"). Every
  // load keeps the session alive, so an open working screen never times out:
  // at most half the session timeout.
  int status_refresh = 60;

  // Throws Error(config) on an unreadable file or a bad value.
  static AppConfig load(const std::filesystem::path& file);
  void save(const std::filesystem::path& file) const;
};

}  // namespace desk::asp
