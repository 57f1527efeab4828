#include "server/sms/pdu.h"

#include <cstdint>
#include <vector>

#include "core/error.h"

namespace desk::sms {
namespace {

// Code points of a UTF-8 text; each byte of an invalid sequence is U+FFFD.
std::vector<char32_t> decode(std::string_view s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int len = b0 < 0x80 ? 1 : (b0 >> 5) == 6 ? 2 : (b0 >> 4) == 14 ? 3 : (b0 >> 3) == 30 ? 4 : 0;
    char32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    bool ok = len > 0 && i + static_cast<size_t>(len) <= s.size();
    for (int k = 1; ok && k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      ok = (b & 0xC0) == 0x80;
      cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && cp >= kMin[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += static_cast<size_t>(len);
  }
  return out;
}

void encode(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

size_t units(char32_t cp) {
  return cp >= 0x10000 ? 2 : 1;
}

void hex4(unsigned v, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(v >> shift) & 0xF];
}

bool all_digits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

Fit fit_message(std::string_view utf8) {
  Fit f;
  for (char32_t cp : decode(utf8)) {
    f.chars += units(cp);
    if (f.chars <= kMaxChars) encode(cp, f.kept);
  }
  return f;
}

std::optional<std::string> international_number(std::string_view number) {
  if (!all_digits(number)) return std::nullopt;
  if (number.size() == 11) return "86" + std::string(number);
  if (number.size() == 13) return std::string(number);
  return std::nullopt;
}

std::string swap_semi_octets(std::string_view n) {
  if (n.size() != 13 || !all_digits(n))
    throw Error(Errc::internal, "semi-octets need a 13-digit number");
  std::string out;
  out.reserve(14);
  for (size_t i = 0; i < 13; i += 2) {
    out += i + 1 < n.size() ? n[i + 1] : 'F';
    out += n[i];
  }
  return out;
}

std::string ucs2_hex(std::string_view utf8) {
  std::string out;
  for (char32_t cp : decode(utf8)) {
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      hex4(0xD800 | (v >> 10), out);
      hex4(0xDC00 | (v & 0x3FF), out);
    } else {
      hex4(cp, out);
    }
  }
  return out;
}

Pdu build_pdu(std::string_view centre13, std::string_view number13, std::string_view text) {
  const std::string body = ucs2_hex(text);
  const size_t octets = body.size() / 2;
  if (octets > 2 * kMaxChars) throw Error(Errc::internal, "message longer than one PDU takes");
  std::string length;
  hex4(static_cast<unsigned>(octets), length);
  Pdu p;
  p.hex = "0891" + swap_semi_octets(centre13) + "11000D91" + swap_semi_octets(number13) + "000800" +
          length.substr(2) + body;
  p.tpdu_length = 15 + static_cast<int>(octets);
  return p;
}

}  // namespace desk::sms
