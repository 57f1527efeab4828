// Replies the host writes itself: error pages, the busy page and the
// security headers of every reply.
#pragma once

#include <string>

#include "platform/http/http.h"

namespace desk::asp {

// A short page with `message` (UTF-8, escaped here) and the given status.
// With the application's base address ("/tarvo/") the page has the site's
// style sheet, a link back and a link to the application's start page.
http::Reply error_page(int status, const std::string& message, const std::string& base = "");

// 503 "服务器忙，请稍后再试。" with Retry-After: the answer when the host has
// no room for a request (connection ceilings, a full worker pool, no
// descriptors left). Made on the first call, which the host makes at start.
http::Reply busy_page();

void add_security_headers(http::Reply& r);

}  // namespace desk::asp
