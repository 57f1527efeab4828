#include "core/text.h"

#include <iconv.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include "core/error.h"

namespace desk::text {
namespace {

// The calling thread's conversion descriptors, opened on first use and
// kept: opening one loads and sets up the converter, which costs far more
// than converting a page.
enum Direction { kToGb, kFromGb };

struct Converters {
  iconv_t cd[2] = {reinterpret_cast<iconv_t>(-1), reinterpret_cast<iconv_t>(-1)};
  ~Converters() {
    for (iconv_t c : cd)
      if (c != reinterpret_cast<iconv_t>(-1)) iconv_close(c);
  }
};

iconv_t converter(Direction d) {
  thread_local Converters mine;
  iconv_t& cd = mine.cd[d];
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    cd = d == kToGb ? iconv_open("GB18030", "UTF-8") : iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw Error(Errc::encoding, "iconv_open failed");
  } else {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  }
  return cd;
}

// One iconv conversion; `bad` is appended (in the target encoding) for every
// input sequence that cannot be converted, and the input resumes one byte on.
std::string convert(Direction d, std::string_view in, std::string_view bad) {
  iconv_t cd = converter(d);
  std::string out;
  out.resize(in.size() * 2 + 16);
  char* inp = const_cast<char*>(in.data());
  size_t inleft = in.size();
  size_t used = 0;
  while (inleft > 0) {
    char* outp = out.data() + used;
    size_t outleft = out.size() - used;
    size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
    used = out.size() - outleft;
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
    } else {  // EILSEQ or EINVAL: skip one byte
      if (out.size() - used < bad.size() + 8) out.resize(out.size() * 2);
      out.replace(used, bad.size(), bad);
      used += bad.size();
      ++inp;
      --inleft;
    }
  }
  // Flush any shift state.
  char* outp = out.data() + used;
  size_t outleft = out.size() - used;
  iconv(cd, nullptr, nullptr, &outp, &outleft);
  used = out.size() - outleft;
  out.resize(used);
  return out;
}

bool is_ascii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

void append_utf8(std::string& out, unsigned long cp) {
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

int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Byte length of the UTF-8 sequence that starts with c (1 for stray bytes).
size_t seq_len(unsigned char c) {
  if (c < 0x80) return 1;
  if ((c >> 5) == 0x6) return 2;
  if ((c >> 4) == 0xE) return 3;
  if ((c >> 3) == 0x1E) return 4;
  return 1;
}

}  // namespace

namespace {

// GB18030 bytes of every character of the Basic Multilingual Plane, made
// once with the converter: two-byte codes in the upper half, four-byte codes
// whole (their second byte is a digit); 0 where the converter gives no
// two- or four-byte code.
const std::vector<std::uint32_t>& gb_table() {
  static const std::vector<std::uint32_t> table = [] {
    std::vector<std::uint32_t> t(0x10000, 0);
    for (unsigned long cp = 0x80; cp < 0x10000; ++cp) {
      if (cp >= 0xD800 && cp <= 0xDFFF) continue;
      std::string one;
      append_utf8(one, cp);
      std::string gb = convert(kToGb, one, "");
      const auto b = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(gb[i]));
      };
      if (gb.size() == 2 && b(1) != 0)
        t[cp] = b(0) << 24 | b(1) << 16;
      else if (gb.size() == 4 && b(1) >= 0x30 && b(1) <= 0x39)
        t[cp] = b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
    }
    return t;
  }();
  return table;
}

// The code point of the well-formed two- or three-byte sequence at s[i]
// (its length in `n`), or 0 for anything else.
unsigned long bmp_at(std::string_view s, std::size_t i, std::size_t& n) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const auto cont = [&](std::size_t k, unsigned char lo, unsigned char hi) {
    return i + k < s.size() && at(k) >= lo && at(k) <= hi;
  };
  unsigned char c = at(0);
  if (c >= 0xC2 && c <= 0xDF && cont(1, 0x80, 0xBF)) {
    n = 2;
    return (c & 0x1Fu) << 6 | (at(1) & 0x3Fu);
  }
  unsigned char lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
  if (c >= 0xE0 && c <= 0xEF && cont(1, lo, hi) && cont(2, 0x80, 0xBF)) {
    n = 3;
    return (c & 0x0Fu) << 12 | (at(1) & 0x3Fu) << 6 | (at(2) & 0x3Fu);
  }
  return 0;
}

// Bytes before the first one of `s` at or above 0x80, from `from` on; eight
// at a time where it can.
std::size_t ascii_run_end(std::string_view s, std::size_t from) {
  std::size_t i = from;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    if (word & kHigh) break;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

}  // namespace

bool append_gb18030(std::string& out, std::string_view utf8) {
  // Text of the Basic Multilingual Plane goes through the table; anything
  // else (other planes, broken sequences) leaves `out` as it was.
  const std::size_t kept = out.size();
  std::size_t i = ascii_run_end(utf8, 0);
  out.append(utf8.data(), i);
  if (i == utf8.size()) return true;
  const std::vector<std::uint32_t>& table = gb_table();
  out.reserve(out.size() + (utf8.size() - i) + (utf8.size() - i) / 4);
  while (i < utf8.size()) {
    std::size_t n = 0;
    unsigned long cp = bmp_at(utf8, i, n);
    std::uint32_t code = cp ? table[cp] : 0;
    if (!code) {
      out.resize(kept);
      return false;
    }
    char bytes[4] = {static_cast<char>(code >> 24), static_cast<char>(code >> 16),
                     static_cast<char>(code >> 8), static_cast<char>(code)};
    out.append(bytes, (code >> 16 & 0xFF) >= 0x30 && (code >> 16 & 0xFF) <= 0x39 ? 4 : 2);
    i += n;
    std::size_t run = ascii_run_end(utf8, i);
    out.append(utf8.data() + i, run - i);
    i = run;
  }
  return true;
}

std::string to_gb18030(std::string_view utf8) {
  std::string out;
  if (append_gb18030(out, utf8)) return out;
  return convert(kToGb, utf8, "?");
}

std::string from_gb18030(std::string_view gb) {
  if (is_ascii(gb)) return std::string(gb);
  return convert(kFromGb, gb, "\xEF\xBF\xBD");
}

std::string decode_ncr(std::string_view s) {
  if (s.find("&#") == std::string_view::npos) return std::string(s);
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '&' && i + 2 < s.size() && s[i + 1] == '#') {
      size_t j = i + 2;
      bool hex = j < s.size() && (s[j] == 'x' || s[j] == 'X');
      if (hex) ++j;
      unsigned long cp = 0;
      size_t digits = 0;
      while (j < s.size() && digits < 8) {
        int v = hex ? hexval(s[j]) : (s[j] >= '0' && s[j] <= '9' ? s[j] - '0' : -1);
        if (v < 0) break;
        cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(v);
        ++j;
        ++digits;
      }
      bool valid = digits > 0 && j < s.size() && s[j] == ';' && cp > 0 && cp <= 0x10FFFF &&
                   !(cp >= 0xD800 && cp <= 0xDFFF);
      if (valid) {
        append_utf8(out, cp);
        i = j + 1;
        continue;
      }
    }
    out += s[i++];
  }
  return out;
}

std::string url_decode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < s.size() && hexval(s[i + 1]) >= 0 && hexval(s[i + 2]) >= 0) {
      out += static_cast<char>(hexval(s[i + 1]) * 16 + hexval(s[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::string url_decode_path(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hexval(s[i + 1]) >= 0 && hexval(s[i + 2]) >= 0) {
      out += static_cast<char>(hexval(s[i + 1]) * 16 + hexval(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string url_encode(std::string_view bytes) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::size_t char_count(std::string_view utf8) {
  size_t n = 0;
  for (size_t i = 0; i < utf8.size(); i += seq_len(static_cast<unsigned char>(utf8[i]))) ++n;
  return n;
}

std::string char_prefix(std::string_view utf8, std::size_t n) {
  size_t i = 0;
  for (size_t k = 0; k < n && i < utf8.size(); ++k)
    i += seq_len(static_cast<unsigned char>(utf8[i]));
  if (i > utf8.size()) i = utf8.size();
  return std::string(utf8.substr(0, i));
}

std::string cut_title(std::string_view utf8, std::size_t n) {
  if (char_count(utf8) <= n) return std::string(utf8);
  return char_prefix(utf8, n) + "…";
}

std::string html(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 8);
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string html_lines(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\r' || c == '\n') {
      out += "<br>";
      if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else {
      out += html(std::string_view(&s[i], 1));
    }
  }
  return out;
}

std::string js_string(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 8);
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\'':
        out += "\\x27";
        break;
      case '"':
        out += "\\x22";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '<':
        out += "\\x3C";
        break;  // never "</script>" or "<!--"
      case '>':
        out += "\\x3E";
        break;
      case '&':
        out += "\\x26";
        break;
      default:
        if (c < 0x20) {
          static const char* hex = "0123456789ABCDEF";
          out += "\\x";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else if (c == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(s[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(s[i + 2]) == 0xA9)) {
          out += static_cast<unsigned char>(s[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
          i += 2;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string header_safe(std::string_view s) {
  std::string out;
  for (unsigned char c : s)
    if (c >= 0x20 && c != 0x7F) out += static_cast<char>(c);
  return out;
}

std::string trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
    --e;
  return std::string(s.substr(b, e - b));
}

std::string to_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string> split(std::string_view s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == sep) {
      out.emplace_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  return out;
}

bool parse_int(std::string_view s, long long& out) {
  std::string t = trim(s);
  std::string_view v = t;
  if (!v.empty() && v[0] == '+') {
    v.remove_prefix(1);
    if (!v.empty() && v[0] == '-') return false;  // one sign only
  }
  if (v.empty()) return false;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
  return ec == std::errc() && p == v.data() + v.size();
}

std::int64_t parse_id(std::string_view s) {
  long long v = 0;
  return parse_int(s, v) && v > 0 ? v : 0;
}

}  // namespace desk::text
