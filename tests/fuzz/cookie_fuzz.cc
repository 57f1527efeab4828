// The Cookie header decoder: values are UTF-8, names are trimmed and hold
// no separator.
#include <cstdint>
#include <string_view>

#include "platform/asp/request.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  for (const auto& [k, v] : desk::asp::parse_cookies(raw)) {
    desk::fuzz::check(k.find_first_of(";=") == std::string::npos, "cookie name holds a separator");
    desk::fuzz::check(k.empty() || (k.front() != ' ' && k.back() != ' '), "cookie name untrimmed");
    desk::fuzz::check(desk::fuzz::valid_utf8(v), "cookie value not UTF-8");
  }
  return 0;
}
