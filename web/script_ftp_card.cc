// Script calls of the FTP and card reader members.
#include <ostream>
#include <stdexcept>

#include "core/text.h"
#include "web/calls.h"
#include "web/script.h"

namespace desk::web {
namespace {

// A text result in quotes; NULs at its end are counted, not printed.
std::string shown(const std::string& s) {
  std::size_t end = s.find_last_not_of('\0') + 1;
  std::string out = "\"";
  for (std::size_t i = 0; i < end; ++i) out += s[i] == '"' ? std::string("\"\"") : s.substr(i, 1);
  out += "\"";
  if (end < s.size()) out += " + " + std::to_string(s.size() - end) + " NUL";
  return out;
}

}  // namespace

bool ScriptRunner::call_ftp_card(const std::vector<std::string>& w) {
  const std::string& name = w[0];
  auto arg = [&](std::size_t i) { return i < w.size() ? w[i] : std::string(); };
  std::string result;
  if (name == "uploadfile" || name == "downloadfile") {
    std::int16_t port = port_argument(arg(2));
    bool ok = name == "uploadfile"
                  ? control_.uploadfile(arg(1), port, arg(3), arg(4), arg(5), arg(6))
                  : control_.downloadfile(arg(1), port, arg(3), arg(4), arg(5), arg(6));
    result = ok ? "True" : "False";
  } else if (name == "connect") {
    result = shown(control_.connect());
  } else if (name == "disconnect") {
    FtpHandle hconnect = handle_argument(arg(1)), hInternet = handle_argument(arg(2));
    control_.disconnect(hconnect, hInternet);
    result = "ok";
  } else if (name == "ReadId") {
    result = shown(control_.ReadId());
  } else if (name == "CloseComm") {
    control_.CloseComm();
    result = "ok";
  } else if (name == "DevBeep") {
    control_.DevBeep(arg(1));
    result = "ok";
  } else {
    return false;
  }
  out_ << name << ": " << result << std::endl;
  return true;
}

}  // namespace desk::web
