// The Request object: what the browser sent, decoded to UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/multipart/multipart.h"

namespace desk::asp {

using Pairs = std::vector<std::pair<std::string, std::string>>;

class Request {
 public:
  // Raw request as the host received it. `script_name` is the page's full
  // virtual path ("/tarvo/login.asp"); `query` is the raw query string; header
  // names may have any case.
  struct Init {
    std::string method = "GET";
    std::string script_name;
    std::string query;
    Pairs headers;
    std::string body;
    std::string remote_addr = "127.0.0.1";
    std::string server_name = "localhost";
    std::string server_port = "80";
  };

  explicit Request(Init init);

  // Request(key): QueryString, then Form, then Cookies, then ServerVariables.
  std::string operator()(std::string_view key) const;
  // One collection; several values of one key are joined with ", ". Form
  // holds the fields of an url-encoded body, or the non-file parts of a
  // multipart/form-data body (none when that body is malformed).
  std::string QueryString(std::string_view key) const { return lookup(query_, key); }
  std::string Form(std::string_view key) const { return lookup(form_items(), key); }
  std::string Cookies(std::string_view key) const { return lookup(cookies_, key); }
  // REQUEST_METHOD, REMOTE_ADDR, SCRIPT_NAME, PATH_INFO, QUERY_STRING,
  // CONTENT_TYPE, CONTENT_LENGTH, SERVER_NAME, SERVER_PORT, HTTP_<HEADER>,
  // ALL_HTTP. Names are case-insensitive.
  std::string ServerVariables(std::string_view name) const;

  const Pairs& query_items() const { return query_; }
  const Pairs& form_items() const;

  // The parts of the body read as multipart/form-data, parsed on first use
  // with the default limits, the delimiter taken from the body's first line
  // (the Content-Type header is not consulted). Parts are offsets into
  // body(). A body of another kind gives a Form with a fault.
  const multipart::Form& multipart() const;

  // The raw body.
  std::size_t TotalBytes() const { return init_.body.size(); }
  // Reads up to `count` further bytes of the raw body.
  std::string BinaryRead(std::size_t count);
  const std::string& body() const { return init_.body; }

  const std::string& method() const { return init_.method; }
  bool is_post() const { return init_.method == "POST"; }
  std::string header(std::string_view name) const;

 private:
  static std::string lookup(const Pairs& items, std::string_view key);

  Init init_;
  Pairs query_;
  // Filled on first use for a multipart body, in the constructor otherwise.
  mutable Pairs form_;
  mutable bool form_pending_ = false;
  mutable std::optional<multipart::Form> multipart_;
  Pairs cookies_;
  std::size_t read_pos_ = 0;
};

// Parses an application/x-www-form-urlencoded text sent from a GB2312 page
// into UTF-8 pairs (numeric character references turned into characters).
Pairs parse_urlencoded(std::string_view raw);
// Parses a Cookie header into UTF-8 pairs: names as sent (trimmed), values
// percent-decoded from GB18030; entries without "=" are skipped.
Pairs parse_cookies(std::string_view header);

}  // namespace desk::asp
