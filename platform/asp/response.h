// The Response object: a buffered page. Text written with Write is UTF-8 in
// the program and GB18030 on the wire; BinaryWrite bytes go out as they are.
#pragma once

#include <string>
#include <string_view>

#include "platform/asp/request.h"

namespace desk::asp {

// Thrown by Response::End to stop the page; the host sends what was buffered.
struct ResponseEnd {};

class Response {
 public:
  void Write(std::string_view utf8);
  void BinaryWrite(std::string_view bytes);
  // Sends the browser to `url` (302). Output buffered so far is dropped and
  // later writes are ignored; the page itself goes on unless it calls End.
  void Redirect(std::string_view url);
  [[noreturn]] void End();
  void Clear() { body_.clear(); }
  // Adds a header; CR, LF and control characters are removed from both parts.
  void AddHeader(std::string_view name, std::string_view value);

  std::string ContentType = "text/html";
  std::string Charset = "gb2312";
  int Status = 200;

  // For the host.
  const std::string& body() const { return body_; }
  std::string release_body() { return std::move(body_); }
  const Pairs& headers() const { return headers_; }
  const std::string& location() const { return location_; }
  bool redirected() const { return !location_.empty(); }
  // The Content-Type header value: Charset is added for text types only.
  std::string content_type_header() const;

 private:
  // Bytes room is made for at the first Write: a desk or a list page.
  static constexpr std::size_t kBodyReserve = 16 * 1024;
  std::string body_;  // the answer's bytes, text already in GB18030
  Pairs headers_;
  std::string location_;
};

}  // namespace desk::asp
