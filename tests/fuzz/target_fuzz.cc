// The request target and the same-site check: input is the target, then
// (after a line feed each) the Host and Origin values. A target that is
// served never leads out of its application or to a hidden name; its query
// decodes to UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.h"
#include "platform/asp/request.h"
#include "platform/asp/routing.h"
#include "tests/fuzz/fuzz_check.h"

using desk::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const auto lines = desk::text::split(raw, '\n');
  const desk::asp::Target t = desk::asp::resolve_target(lines[0]);
  if (t.status == 0) {
    check(!t.vdir.empty() && t.vdir.find('/') == std::string::npos, "bad application name");
    check(t.rel.find('\0') == std::string::npos && t.rel.find('\\') == std::string::npos,
          "NUL or backslash in a served path");
    std::string_view rel = t.rel;
    if (!rel.empty() && rel.back() == '/') rel.remove_suffix(1);
    for (const std::string& seg : desk::text::split(rel, '/'))
      check(rel.empty() || (!seg.empty() && seg[0] != '.'), "empty, dot or hidden segment served");
  }
  for (const auto& [k, v] : desk::asp::parse_urlencoded(t.query)) {
    check(desk::fuzz::valid_utf8(k), "query name not UTF-8");
    check(desk::fuzz::valid_utf8(v), "query value not UTF-8");
  }
  desk::http::Message m;
  if (lines.size() > 1) m.headers.emplace_back("Host", lines[1]);
  if (lines.size() > 2) m.headers.emplace_back("Origin", lines[2]);
  const bool other = desk::asp::from_other_site(m);
  if (lines.size() < 3 || lines[2].empty()) check(!other, "no Origin taken as another site");
  return 0;
}
