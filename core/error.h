// The one error vocabulary of the code base. Every layer throws desk::Error;
// the web host maps the code to an HTTP status and a page for the user.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace desk {

enum class Errc {
  bad_request,   // malformed or missing input from the client
  unauthorized,  // no logged-in session where one is required
  forbidden,     // the user may not do or see this
  not_found,     // no such page, row or file
  conflict,      // the step was already done or the state does not allow it
  too_large,     // a body above the applicable ceiling
  unsupported,   // a method or media type the page does not take
  database,      // the data store failed
  io,            // a file, socket or device failed
  encoding,      // text that cannot be converted
  config,        // a bad configuration or command line
  internal,      // a broken invariant of our own
};

std::string_view errc_name(Errc code);

class Error : public std::runtime_error {
 public:
  Error(Errc code, const std::string& message) : std::runtime_error(message), code_(code) {}
  Errc code() const noexcept { return code_; }

 private:
  Errc code_;
};

// HTTP status that stands for an error code.
int http_status(Errc code);

}  // namespace desk
