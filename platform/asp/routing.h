// Routing: where a request target leads inside the site, and which
// requests the site refuses before any page sees them.
#pragma once

#include <string>
#include <string_view>

#include "platform/http/http.h"

namespace desk::asp {

// A request target taken apart.
struct Target {
  int status = 0;  // non-zero: refuse with this status (400 or 404)
  std::string vdir;
  std::string rel;  // decoded path inside the application, '/'-separated
  std::string query;
  bool bare = false;  // "/name" without the trailing slash
};

// Decodes "/vdir/path?query". Refuses backslashes, NUL, "." and ".."
// segments (400) and hidden names or empty segments (404).
Target resolve_target(std::string_view raw);

// POST, PUT, DELETE and PATCH.
bool changes_state(std::string_view method);

// True when the request's Origin, or without one its Referer, names
// another site than its Host ("null", or an address that is not http(s),
// counts as another site). A request with neither is taken as same-site.
bool from_other_site(const http::Message& m);

bool ends_with_ci(std::string_view s, std::string_view suffix);

}  // namespace desk::asp
