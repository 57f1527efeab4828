#include "platform/asp/replies.h"

#include "core/text.h"

namespace desk::asp {

http::Reply error_page(int status, const std::string& message, const std::string& base) {
  http::Reply r;
  r.status = status;
  r.headers.emplace_back("Content-Type", "text/html; charset=gb2312");
  std::string head =
      "<html><head><meta http-equiv='Content-Type' content='text/html; charset=gb2312'>"
      "<title>" +
      std::to_string(status) + "</title>";
  std::string links = "<a href='javascript:history.go(-1)' class='aapply'>返回</a>";
  if (!base.empty()) {
    head += "<link rel='stylesheet' href='" + text::html(base) + "apply.css' type='text/css'>";
    links += "&nbsp;&nbsp;<a href='" + text::html(base) + "' class='aapply' target='_top'>首页</a>";
  }
  r.body =
      text::to_gb18030(head +
                       "</head><body style='font-size:12px;margin:40px'>"
                       "<table width='100%' border='0' cellspacing='0' cellpadding='4'>"
                       "<tr><td class='10blue' align='center' height='60'>" +
                       text::html(message) + "</td></tr><tr><td class='10blue' align='center'>" +
                       links + "</td></tr></table></body></html>");
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
