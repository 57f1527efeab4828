// HTTP requests of the control, made synchronously with libcurl.
//
// Every request has a connect time limit and a time limit for the whole
// exchange, so a server that never answers cannot hold the page forever.
// Only http and https addresses are used. A GET follows redirects to the same
// scheme, host and port only; a redirect anywhere else is refused. A POST
// never follows a redirect: its caller sees the 3xx status.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace desk::web {

// The request could not be made or answered (bad address, no connection,
// time-out, refused redirect, body above the limit).
class HttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HttpResponse {
  long status = 0;
  std::string body;
  std::string content_disposition;  // the header's value, "" when absent
  std::string content_type;         // the header's value, "" when absent
  std::string url;                  // the address that answered, after redirects
};

struct HttpRequest {
  std::string method = "GET";  // GET or POST
  std::string url;
  // Extra header lines, sent as given. A POST carries no Content-Type unless
  // one is named here.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // the whole body of a POST (may be empty)
};

class HttpClient {
 public:
  // Sent as the Cookie header of every request when not empty.
  std::string cookie;
  // PEM file of certificates trusted for https besides the system's (a
  // server's own self-signed certificate); "" for the system's only.
  std::string ca_file;
  std::uint64_t max_body_bytes = 256ull << 20;
  long connect_timeout_ms = 15'000;
  long timeout_ms = 120'000;  // the whole exchange, body included
  int max_redirects = 5;

  HttpResponse get(const std::string& url) const;
  HttpResponse send(const HttpRequest& request) const;
};

// The text of a response body: UTF-8 as sent when the Content-Type names
// UTF-8, or names no character set and the bytes are valid UTF-8; otherwise
// decoded from GB18030 (which covers GB2312 and GBK).
std::string response_text(const HttpResponse& response);

}  // namespace desk::web
