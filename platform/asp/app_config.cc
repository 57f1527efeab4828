#include "platform/asp/app_config.h"

#include <fstream>
#include <sstream>

#include "core/error.h"
#include "core/text.h"

namespace desk::asp {

AppConfig AppConfig::load(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) throw Error(Errc::config, "cannot read " + file.string());
  AppConfig c;
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    std::string t = text::trim(line);
    if (t.empty() || t[0] == '#') continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos)
      throw Error(Errc::config, file.string() + ":" + std::to_string(n) + ": expected key = value");
    std::string key = text::trim(t.substr(0, eq));
    std::string value = text::trim(t.substr(eq + 1));
    if (key == "edition") {
      if (value != "office" && value != "law")
        throw Error(Errc::config, "edition must be office or law");
      c.edition = value;
    } else if (key == "variant") {
      if (value != "base" && value != "simp" && value != "full")
        throw Error(Errc::config, "variant must be base, simp or full");
      c.variant = value;
    } else if (key == "date_format") {
      c.regional.date_pattern = value;
    } else if (key == "time_format") {
      c.regional.time_pattern = value;
    } else if (key == "database") {
      c.database = value;
    } else if (key == "password_cost") {
      if (value != "interactive" && value != "min")
        throw Error(Errc::config, "password_cost must be interactive or min");
      c.password_cost = value;
    } else if (key == "upload_limit") {
      long long v = 0;
      if (!text::parse_int(value, v) || v <= 0) throw Error(Errc::config, "bad upload_limit");
      c.upload_limit = static_cast<std::uint64_t>(v);
    } else if (key == "sms_device") {
      c.sms_port.device = value;
    } else if (key == "sms_speed") {
      long long v = 0;
      if (!text::parse_int(value, v) || v <= 0 || v > 10000000 ||
          !serial::supported_speed(static_cast<int>(v)))
        throw Error(Errc::config, "sms_speed must be a serial speed such as 19200");
      c.sms_port.speed = static_cast<int>(v);
    } else if (key == "sms_framing") {
      serial::parse_framing(value, c.sms_port);
    } else if (key == "sms_centre") {
      c.sms_centre = value;
    } else if (key == "sms_hourly_limit") {
      long long v = 0;
      if (!text::parse_int(value, v) || v < 1 || v > 100000)
        throw Error(Errc::config, "sms_hourly_limit must be a whole number from 1 to 100000");
      c.sms_hourly_limit = static_cast<int>(v);
    } else if (key == "session_timeout") {
      long long v = 0;
      if (!text::parse_int(value, v) || v < 1 || v > 1440)
        throw Error(Errc::config, "session_timeout must be 1 to 1440 minutes");
      c.session_timeout = static_cast<int>(v);
    } else if (key == "status_refresh") {
      long long v = 0;
      if (!text::parse_int(value, v) || v < 5 || v > 3600)
        throw Error(Errc::config, "status_refresh must be 5 to 3600 seconds");
      c.status_refresh = static_cast<int>(v);
    } else {
      throw Error(Errc::config, file.string() + ": unknown setting " + key);
    }
  }
  if (c.status_refresh * 2 > c.session_timeout * 60)
    throw Error(Errc::config, "status_refresh must be at most half of session_timeout");
  return c;
}

void AppConfig::save(const std::filesystem::path& file) const {
  std::ofstream out(file);
  out << "# Application settings\n"
      << "edition = " << edition << "\n"
      << "variant = " << variant << "\n"
      << "date_format = " << regional.date_pattern << "\n"
      << "time_format = " << regional.time_pattern << "\n"
      << "database = " << database << "\n"
      << "password_cost = " << password_cost << "\n"
      << "upload_limit = " << upload_limit << "\n"
      << "# GSM modem for text messages (sms_device empty: none)\n"
      << "sms_device = " << sms_port.device << "\n"
      << "sms_speed = " << sms_port.speed << "\n"
      << "sms_framing = " << serial::framing_text(sms_port) << "\n"
      << "sms_centre = " << sms_centre << "\n"
      << "# text messages one user may send in any 60 minutes\n"
      << "sms_hourly_limit = " << sms_hourly_limit << "\n"
      << "# Idle minutes before a session ends; seconds between status bar loads\n"
      << "session_timeout = " << session_timeout << "\n"
      << "status_refresh = " << status_refresh << "\n";
  if (!out) throw Error(Errc::io, "cannot write " + file.string());
}

}  // namespace desk::asp
