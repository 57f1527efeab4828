// The page chrome shared by the work-area pages of every subsystem: the head
// with the GB2312 meta line and the style sheets, the title bar, and the page
// that tells the user the outcome of a request.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/asp/asp.h"

namespace desk::host {

// A link written into a bar; both parts are escaped when written.
struct Link {
  std::string_view href;
  std::string_view text;
};

// "<html><head>…</head><body …>" of a work-area page: the title (escaped), the
// GB2312 meta line, the given style sheets, zero margins and no context menu.
std::string page_head(std::string_view title,
                      std::initializer_list<std::string_view> stylesheets = {"apply.css"});
inline constexpr std::string_view kPageEnd = "</body></html>";

// A bar with the page's title on the left and links on the right.
std::string title_bar(std::string_view title, std::initializer_list<Link> links);

// Replaces anything buffered with a whole page that tells the user
// `message`, with the HTTP `status`, an optional "返回" (history back) link
// and the given links.
void message_page(asp::Response& r, int status, std::string_view title, std::string_view message,
                  bool offer_back, std::initializer_list<Link> links,
                  std::initializer_list<std::string_view> stylesheets = {"apply.css"});

}  // namespace desk::host
