// HTTP requests of the control, made synchronously with libcurl.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace desk::web {

// The request could not be made or answered (bad address, no connection,
// time-out, body above the limit).
class HttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HttpResponse {
  long status = 0;
  std::string body;
  std::string content_disposition;  // the header's value, "" when absent
};

class HttpClient {
 public:
  // Sent as the Cookie header of every request: the page's session.
  std::string cookie;
  std::uint64_t max_body_bytes = 256ull << 20;
  long timeout_seconds = 120;

  // GET over http or https (no other scheme), following up to five redirects.
  HttpResponse get(const std::string& url) const;
};

}  // namespace desk::web
