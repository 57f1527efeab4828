#include "server/host/chrome.h"

#include "core/text.h"

namespace desk::host {

using text::html;

std::string page_head(std::string_view title, std::initializer_list<std::string_view> stylesheets) {
  std::string out = "<html><head><title>" + html(title) +
                    "</title><meta http-equiv='Content-Type' content='text/html; charset=gb2312'>";
  for (std::string_view css : stylesheets)
    out += "<link rel='stylesheet' href='" + html(css) + "' type='text/css'>";
  out +=
      "</head><body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0' "
      "oncontextmenu='return false'>";
  return out;
}

namespace {

std::string links_html(std::initializer_list<Link> links) {
  std::string out;
  for (const Link& l : links) {
    if (!out.empty()) out += "&nbsp;&nbsp;";
    out += "<a href='" + html(l.href) + "' class='aapply'>" + html(l.text) + "</a>";
  }
  return out;
}

}  // namespace

std::string title_bar(std::string_view title, std::initializer_list<Link> links) {
  return "<table width='100%' border='0' cellspacing='0' cellpadding='4'><tr>"
         "<td class='10blue'><b>" +
         html(title) + "</b></td><td class='10blue' align='right'>" + links_html(links) +
         "</td></tr></table>";
}

void message_page(asp::Response& r, int status, std::string_view title, std::string_view message,
                  bool offer_back, std::initializer_list<Link> links,
                  std::initializer_list<std::string_view> stylesheets) {
  r.Clear();
  r.Status = status;
  std::string out = page_head(title, stylesheets) + title_bar(title, links) +
                    "<table width='100%' border='0' cellspacing='0' cellpadding='4'>"
                    "<tr><td class='10blue' align='center' height='60'>" +
                    html(message) + "</td></tr><tr><td class='10blue' align='center'>";
  if (offer_back) out += "<a href='javascript:history.go(-1)' class='aapply'>返回</a>";
  if (offer_back && links.size() > 0) out += "&nbsp;&nbsp;";
  out += links_html(links) + "</td></tr></table>" + std::string(kPageEnd);
  r.Write(out);
}

}  // namespace desk::host
