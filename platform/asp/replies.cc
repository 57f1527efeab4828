#include "platform/asp/replies.h"

#include "core/text.h"

namespace desk::asp {

http::Reply error_page(int status, const std::string& message) {
  http::Reply r;
  r.status = status;
  r.headers.emplace_back("Content-Type", "text/html; charset=gb2312");
  r.body = text::to_gb18030(
      "<html><head><meta http-equiv='Content-Type' content='text/html; charset=gb2312'>"
      "<title>" +
      std::to_string(status) +
      "</title></head>"
      "<body style='font-size:12px;margin:40px'><p>" +
      text::html(message) + "</p></body></html>");
  return r;
}

http::Reply busy_page() {
  // Made once: it is needed when descriptors or memory are short, when the
  // character conversion may not be able to load what it needs.
  static const http::Reply page = [] {
    http::Reply r = error_page(503, "服务器忙，请稍后再试。");
    r.headers.emplace_back("Retry-After", "5");
    return r;
  }();
  return page;
}

void add_security_headers(http::Reply& r) {
  r.headers.emplace_back("X-Content-Type-Options", "nosniff");
  r.headers.emplace_back("Referrer-Policy", "same-origin");
  r.headers.emplace_back("X-Frame-Options", "SAMEORIGIN");
  r.headers.emplace_back("Content-Security-Policy", "frame-ancestors 'self'");
}

}  // namespace desk::asp
