// Shared by the fuzz targets: invariant checks that abort, so libFuzzer and
// the corpus replay both report a broken invariant as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace desk::fuzz {

inline void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Well-formed UTF-8: shortest forms, no surrogates, at most U+10FFFF.
inline bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80           ? 1
                      : (c >> 5) == 0x6  ? 2
                      : (c >> 4) == 0xE  ? 3
                      : (c >> 3) == 0x1E ? 4
                                         : 0;
    if (len == 0 || i + len > s.size()) return false;
    unsigned long cp = len == 1 ? c : c & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
      const unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d >> 6) != 0x2) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static constexpr unsigned long kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

}  // namespace desk::fuzz
