// GB18030 <-> UTF-8: decoding anything gives UTF-8 that survives a round
// trip, and valid UTF-8 survives one through GB18030.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.h"
#include "tests/fuzz/fuzz_check.h"

using desk::fuzz::check;
namespace text = desk::text;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const std::string utf8 = text::from_gb18030(raw);
  check(desk::fuzz::valid_utf8(utf8), "decoded text not UTF-8");
  check(text::from_gb18030(text::to_gb18030(utf8)) == utf8, "decoded text does not round-trip");
  const std::string gb = text::to_gb18030(raw);
  if (desk::fuzz::valid_utf8(raw))
    check(text::from_gb18030(gb) == raw, "UTF-8 does not round-trip");
  return 0;
}
