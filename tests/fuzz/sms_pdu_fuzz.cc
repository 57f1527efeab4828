// The text message encoder on arbitrary input: centre, number and text are
// the input's first two lines and the rest. Any refused message has no PDU;
// any accepted one is well-formed hex whose announced lengths match its size
// and whose body is the kept text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/sms/sender.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool digits(std::string_view s, size_t n) {
  return s.size() == n && s.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  size_t a = in.find('\n');
  size_t b = a == std::string_view::npos ? a : in.find('\n', a + 1);
  std::string_view centre = in.substr(0, a);
  std::string_view number = a == std::string_view::npos ? "" : in.substr(a + 1, b - a - 1);
  std::string_view text = b == std::string_view::npos ? "" : in.substr(b + 1);

  using namespace desk::sms;
  Message m = prepare(centre, number, text);
  const Fit fit = fit_message(text);
  check(m.text == fit.kept);
  check(fit_message(m.text).chars <= kMaxChars && fit_message(m.text).kept == m.text);
  if (m.refused()) {
    check(m.pdu.hex.empty() && m.alert.rfind("wrong number.", 0) == 0);
    return 0;
  }
  check(digits(m.centre, 13) && digits(m.number, 13));
  const std::string& h = m.pdu.hex;
  check(h.find_first_not_of("0123456789ABCDEF") == std::string::npos);
  check(h.size() == 18 + 2 * static_cast<size_t>(m.pdu.tpdu_length));
  check(m.pdu.tpdu_length >= 15 && m.pdu.tpdu_length <= 15 + 2 * static_cast<int>(kMaxChars));
  check(h.compare(0, 4, "0891") == 0 && h.compare(4, 14, swap_semi_octets(m.centre)) == 0);
  check(h.compare(18, 8, "11000D91") == 0 && h.compare(26, 14, swap_semi_octets(m.number)) == 0);
  check(h.compare(40, 6, "000800") == 0);
  check(std::strtol(h.substr(46, 2).c_str(), nullptr, 16) == m.pdu.tpdu_length - 15);
  check(h.compare(48, std::string::npos, ucs2_hex(m.text)) == 0);
  (void)format_exchange({{0, false, std::string(in)}});
  return 0;
}
