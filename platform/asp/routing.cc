#include "platform/asp/routing.h"

#include "core/text.h"

namespace desk::asp {

Target resolve_target(std::string_view raw) {
  Target t;
  size_t q = raw.find('?');
  std::string path(raw.substr(0, q));
  if (q != std::string::npos) t.query = std::string(raw.substr(q + 1));
  if (path.empty() || path[0] != '/') {
    t.status = 400;
    return t;
  }
  std::string decoded = text::url_decode_path(path);
  if (decoded.find('\\') != std::string::npos || decoded.find('\0') != std::string::npos) {
    t.status = 400;
    return t;
  }
  auto segs = text::split(decoded.substr(1), '/');
  if (segs.empty() || segs[0].empty()) {
    t.status = 404;
    return t;
  }
  t.vdir = segs[0];
  t.bare = segs.size() == 1;
  for (size_t i = 1; i < segs.size(); ++i) {
    const std::string& s = segs[i];
    if (s.empty() && i + 1 == segs.size()) break;  // trailing slash
    if (s.empty() || s[0] == '.') {                // "..", ".", hidden files, "//"
      t.status = s == "." || s == ".." ? 400 : 404;
      return t;
    }
    t.rel += (t.rel.empty() ? "" : "/") + s;
  }
  if (!t.rel.empty() && decoded.back() == '/') t.rel += "/";
  return t;
}

bool changes_state(std::string_view method) {
  return method == "POST" || method == "PUT" || method == "DELETE" || method == "PATCH";
}

namespace {

// "host[:port]" in lower case, without the scheme's default port.
std::string authority(std::string_view hostport, std::string_view default_port) {
  std::string a = text::to_lower(text::trim(hostport));
  std::string suffix = ":" + std::string(default_port);
  if (a.size() > suffix.size() && a.compare(a.size() - suffix.size(), suffix.size(), suffix) == 0)
    a.resize(a.size() - suffix.size());
  return a;
}

// The authority of an http(s) address, "" for anything else.
std::string site_of(std::string_view url) {
  std::string_view port;
  std::string lower = text::to_lower(url.substr(0, 8));
  if (lower.rfind("http://", 0) == 0) {
    url.remove_prefix(7);
    port = "80";
  } else if (lower.rfind("https://", 0) == 0) {
    url.remove_prefix(8);
    port = "443";
  } else {
    return "";
  }
  std::string_view auth = url.substr(0, url.find_first_of("/?#"));
  if (auth.find('@') != std::string_view::npos) return "";  // user:password@host
  return authority(auth, port);
}

}  // namespace

bool from_other_site(const http::Message& m) {
  std::string source = m.header("Origin");
  if (source.empty()) source = m.header("Referer");
  if (source.empty()) return false;
  std::string site = site_of(source);
  return site.empty() || site != authority(m.header("Host"), "80");
}

bool ends_with_ci(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && text::iequals(s.substr(s.size() - suffix.size()), suffix);
}

}  // namespace desk::asp
