// The control's members by name, as page script calls them: the one table
// officectl's scripts and the page bridge both go through.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "web/office.h"

namespace desk::web {

struct CallOutcome {
  std::optional<bool> result;       // the member's result; none for a member without one
  std::optional<std::string> text;  // the result of a member that answers text
  // By-reference arguments the member may change: (name, index into args).
  std::vector<std::pair<std::string, std::size_t>> changed;
};

// True when `name` is a method of the control that invoke() knows.
bool is_member(const std::string& name);

// Calls method `name` of `control` with `args` (missing arguments are "");
// arguments passed by reference are updated in `args`. Throws
// std::invalid_argument for an unknown member; whatever the member throws
// passes through.
CallOutcome invoke(office& control, const std::string& name, std::vector<std::string>& args);

// Arguments as pages pass them to the FTP members: a port 0 to 65535 or
// the 16-bit negative value that stands for a port above 32767; a handle
// ("" is 0). Throw std::invalid_argument for anything else.
std::int16_t port_argument(const std::string& s);
FtpHandle handle_argument(const std::string& s);

// The control's plain text properties by name (ftpip, username, Password,
// localfile, opentype, retmsg, ErrorMsg); nullptr for another name.
std::string* text_property(office& control, const std::string& name);

}  // namespace desk::web
