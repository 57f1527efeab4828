// The form and query decoder: any input gives UTF-8 names and values.
#include <cstdint>
#include <string_view>

#include "platform/asp/request.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  for (const auto& [k, v] : desk::asp::parse_urlencoded(raw)) {
    desk::fuzz::check(desk::fuzz::valid_utf8(k), "form name not UTF-8");
    desk::fuzz::check(desk::fuzz::valid_utf8(v), "form value not UTF-8");
  }
  return 0;
}
