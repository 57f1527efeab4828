#include "platform/multipart/multipart.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/text.h"

namespace desk::multipart {
namespace {

constexpr std::size_t kMaxBoundary = 70;
// The first line with a boundary the caller gave may carry transport padding.
constexpr std::size_t kMaxPadding = 64;

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// Printable ASCII, 1-70 characters, not ending in a blank. Such a boundary
// holds no CR, so the delimiter needle has its only CR in front.
bool valid_boundary(std::string_view b) {
  if (b.empty() || b.size() > kMaxBoundary || b.back() == ' ') return false;
  for (unsigned char c : b)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80           ? 1
                      : (c >> 5) == 0x6  ? 2
                      : (c >> 4) == 0xE  ? 3
                      : (c >> 3) == 0x1E ? 4
                                         : 0;
    if (len == 0 || i + len > s.size()) return false;
    unsigned long cp = len == 1 ? c : c & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d >> 6) != 0x2) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static constexpr unsigned long kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

// Offset of the first occurrence of `needle` in [p, p + n), or n. The needle
// starts with CR and holds no other CR: a candidate is a CR with the needle's
// last byte where it belongs, and a candidate that matches k bytes has no CR
// in them, so no byte is compared more than twice whatever the input.
std::size_t find_needle(const char* p, std::size_t n, std::string_view needle) {
  const std::size_t m = needle.size();
  if (n < m) return n;
  const char last = needle[m - 1];
  const char* nd = needle.data();
  const std::size_t end = n - m + 1;  // candidate starts are below end
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lst = _mm_set1_epi8(last);
  for (; i + 32 <= end; i += 32) {
    const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + m - 1));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + m + 15));
    const unsigned lo = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a0, cr), _mm_cmpeq_epi8(b0, lst))));
    const unsigned hi = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a1, cr), _mm_cmpeq_epi8(b1, lst))));
    for (unsigned mask = lo | (hi << 16); mask != 0; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (std::memcmp(p + at + 1, nd + 1, m - 2) == 0) return at;
    }
  }
#endif
  while (i < end) {
    const void* hit = std::memchr(p + i, '\r', end - i);
    if (!hit) break;
    i = static_cast<std::size_t>(static_cast<const char*>(hit) - p);
    if (p[i + m - 1] == last && std::memcmp(p + i + 1, nd + 1, m - 2) == 0) return i;
    ++i;
  }
  return n;
}

// Length of the longest suffix of [p, p + n) that is a proper prefix of
// `needle` (a delimiter that may go on in the next chunk).
std::size_t partial_tail(const char* p, std::size_t n, std::string_view needle) {
  std::size_t w = std::min(n, needle.size() - 1);
  const char* s = p + n - w;
  while (w > 0) {
    const char* cr = static_cast<const char*>(std::memchr(s, '\r', w));
    if (!cr) return 0;
    const std::size_t k = static_cast<std::size_t>(p + n - cr);
    if (std::memcmp(cr, needle.data(), k) == 0) return k;
    w = k - 1;
    s = cr + 1;
  }
  return 0;
}

struct Disposition {
  std::string name, filename;  // raw bytes as sent
  bool has_name = false;
  bool is_file = false;
  bool filename_utf8 = false;  // taken from filename*=UTF-8''...
  bool has_ext_filename = false;
};

// filename*=CHARSET'LANG'PERCENT-ENCODED. Only UTF-8 and the GB family are
// understood; anything else leaves the plain filename in force.
void ext_filename(std::string_view v, Disposition& d) {
  std::size_t q1 = v.find('\'');
  if (q1 == std::string_view::npos) return;
  std::size_t q2 = v.find('\'', q1 + 1);
  if (q2 == std::string_view::npos) return;
  std::string charset = text::to_lower(v.substr(0, q1));
  std::string bytes = text::url_decode_path(v.substr(q2 + 1));
  if (charset == "utf-8" || charset == "utf8") {
    if (!valid_utf8(bytes)) return;
    d.filename_utf8 = true;
  } else if (charset != "gb18030" && charset != "gbk" && charset != "gb2312") {
    return;
  }
  d.filename = std::move(bytes);
  d.is_file = true;
  d.has_ext_filename = true;
}

// The parameters of a Content-Disposition value. A quoted value ends at a
// quote followed by optional blanks and ";" or the end of the value, so a
// quote inside a name is kept; a backslash is an ordinary character (client
// paths keep theirs). An unterminated quote runs to the end. The first of a
// repeated parameter counts; filename* wins over filename.
Disposition parse_disposition(std::string_view v) {
  Disposition d;
  std::size_t i = v.find(';');
  if (i == std::string_view::npos) return d;
  ++i;
  while (i < v.size()) {
    while (i < v.size() && is_blank(v[i])) ++i;
    std::size_t stop = v.find_first_of("=;", i);
    if (stop == std::string_view::npos) break;
    if (v[stop] == ';') {
      i = stop + 1;
      continue;
    }
    std::string attr = text::to_lower(trim_blanks(v.substr(i, stop - i)));
    i = stop + 1;
    while (i < v.size() && is_blank(v[i])) ++i;
    std::string_view value;
    if (i < v.size() && v[i] == '"') {
      std::size_t close = std::string_view::npos;
      for (std::size_t q = v.find('"', i + 1); q != std::string_view::npos;
           q = v.find('"', q + 1)) {
        std::size_t k = q + 1;
        while (k < v.size() && is_blank(v[k])) ++k;
        if (k == v.size() || v[k] == ';') {
          close = q;
          break;
        }
      }
      if (close == std::string_view::npos) {
        value = v.substr(i + 1);
        i = v.size();
      } else {
        value = v.substr(i + 1, close - i - 1);
        std::size_t semi = v.find(';', close);
        i = semi == std::string_view::npos ? v.size() : semi + 1;
      }
    } else {
      std::size_t semi = v.find(';', i);
      value = trim_blanks(
          v.substr(i, semi == std::string_view::npos ? std::string_view::npos : semi - i));
      i = semi == std::string_view::npos ? v.size() : semi + 1;
    }
    if (attr == "name" && !d.has_name) {
      d.name = std::string(value);
      d.has_name = true;
    } else if (attr == "filename" && !d.is_file) {
      d.filename = std::string(value);
      d.is_file = true;
    } else if (attr == "filename*" && !d.has_ext_filename) {
      ext_filename(value, d);
    }
  }
  return d;
}

// The part's header block, its closing empty line included.
Fault parse_head(std::string_view block, const Limits& limits, PartHead& out) {
  std::string disposition, type;
  bool has_disposition = false, has_type = false;
  std::string* current = nullptr;  // the header a folded line continues
  bool folding = false;            // the previous header line may be continued
  while (!block.empty()) {
    std::size_t eol = block.find("\r\n");
    if (eol == std::string_view::npos) return Fault::bad_header;
    std::string_view line = block.substr(0, eol);
    block.remove_prefix(eol + 2);
    if (line.empty()) break;
    if (line.find_first_of("\r\n") != std::string_view::npos) return Fault::bad_header;
    if (is_blank(line.front())) {
      if (!folding) return Fault::bad_header;
      if (current) *current += " " + std::string(trim_blanks(line));
      continue;
    }
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return Fault::bad_header;
    std::string_view hname = trim_blanks(line.substr(0, colon));
    std::string_view value = trim_blanks(line.substr(colon + 1));
    folding = true;
    current = nullptr;
    if (text::iequals(hname, "content-disposition") && !has_disposition) {
      disposition = std::string(value);
      has_disposition = true;
      current = &disposition;
    } else if (text::iequals(hname, "content-type") && !has_type) {
      type = std::string(value);
      has_type = true;
      current = &type;
    }
  }
  Disposition d = parse_disposition(disposition);
  if (!d.has_name) return Fault::bad_header;
  if (d.name.size() > limits.name_bytes) return Fault::name_too_long;
  if (d.filename.size() > limits.filename_bytes) return Fault::filename_too_long;
  out.name = text::from_gb18030(d.name);
  out.filename = d.filename_utf8 ? std::move(d.filename) : text::from_gb18030(d.filename);
  out.is_file = d.is_file;
  out.content_type = text::from_gb18030(type);
  return Fault::none;
}

}  // namespace

std::string_view fault_name(Fault f) {
  switch (f) {
    case Fault::none:
      return "none";
    case Fault::bad_boundary:
      return "bad boundary";
    case Fault::bad_delimiter:
      return "bad delimiter";
    case Fault::header_too_large:
      return "part header too large";
    case Fault::bad_header:
      return "bad part header";
    case Fault::name_too_long:
      return "field name too long";
    case Fault::filename_too_long:
      return "file name too long";
    case Fault::too_many_parts:
      return "too many parts";
    case Fault::field_too_large:
      return "form fields too large";
    case Fault::too_large:
      return "body too large";
    case Fault::truncated:
      return "body truncated";
  }
  return "unknown";
}

Error to_error(Fault f, std::uint64_t offset) {
  const Errc code =
      f == Fault::too_large || f == Fault::field_too_large ? Errc::too_large : Errc::bad_request;
  return Error(code, "multipart body refused: " + std::string(fault_name(f)) + " at byte " +
                         std::to_string(offset));
}

Parser::Parser(Handler& handler, Limits limits, std::string_view boundary)
    : handler_(handler), limits_(limits), expected_(boundary) {
  if (!boundary.empty() && !valid_boundary(boundary)) fail(Fault::bad_boundary, 0);
}

bool Parser::fail(Fault f, std::uint64_t offset) {
  state_ = State::failed;
  fault_ = f;
  fault_offset_ = offset;
  buf_.clear();
  buf_.shrink_to_fit();
  return false;
}

bool Parser::feed(std::string_view c) {
  if (state_ == State::failed) return false;
  if (limits_.body_bytes > 0 && c.size() > limits_.body_bytes - base_)
    return fail(Fault::too_large, limits_.body_bytes);
  std::size_t pos = 0;
  while (pos < c.size()) {
    switch (state_) {
      case State::first_line:
        pos = first_line(c, pos);
        break;
      case State::headers:
        pos = headers(c, pos);
        break;
      case State::data:
        pos = data(c, pos);
        break;
      case State::epilogue:
        pos = c.size();
        break;
      case State::failed:
        pos = c.size();
        break;
      case State::after_delimiter:
      case State::close_dash:
      case State::padding:
      case State::padding_cr: {
        const char ch = c[pos];
        const State s = state_;
        if (s == State::after_delimiter && ch == '-') {
          state_ = State::close_dash;
        } else if (s == State::close_dash) {
          if (ch != '-') return fail(Fault::bad_delimiter, base_ + pos);
          state_ = State::epilogue;
        } else if (s != State::padding_cr && ch == '\r') {
          state_ = State::padding_cr;
        } else if (s != State::padding_cr && is_blank(ch)) {
          state_ = State::padding;
        } else if (s == State::padding_cr && ch == '\n') {
          state_ = State::headers;
          buf_.clear();
          line_len_ = 0;
        } else {
          return fail(Fault::bad_delimiter, base_ + pos);
        }
        ++pos;
        break;
      }
    }
  }
  base_ += c.size();
  return state_ != State::failed;
}

bool Parser::finish() {
  if (state_ == State::failed) return false;
  if (state_ != State::epilogue) return fail(Fault::truncated, base_);
  return true;
}

std::size_t Parser::first_line(std::string_view c, std::size_t pos) {
  const std::size_t cap =
      2 + (expected_.empty() ? kMaxBoundary : expected_.size() + kMaxPadding) + 2;
  const std::size_t stop = std::min(c.size(), pos + (cap - buf_.size()));
  const void* nl = std::memchr(c.data() + pos, '\n', stop - pos);
  if (!nl) {
    buf_.append(c.substr(pos, stop - pos));
    if (stop < c.size()) fail(Fault::bad_boundary, base_ + stop);
    return stop;
  }
  const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(nl) - c.data()) + 1;
  buf_.append(c.substr(pos, end - pos));
  const std::uint64_t at = base_ + end;
  std::string_view line(buf_);
  if (line.size() < 4 || line[line.size() - 2] != '\r' || line.substr(0, 2) != "--") {
    fail(Fault::bad_boundary, at);
    return end;
  }
  std::string_view b = line.substr(2, line.size() - 4);
  if (!expected_.empty()) {
    if (b.substr(0, expected_.size()) != expected_ ||
        !trim_blanks(b.substr(expected_.size())).empty()) {
      fail(Fault::bad_boundary, at);
      return end;
    }
    b = expected_;
  }
  if (!valid_boundary(b)) {
    fail(Fault::bad_boundary, at);
    return end;
  }
  needle_ = "\r\n--" + std::string(b);
  buf_.clear();
  line_len_ = 0;
  state_ = State::headers;
  return end;
}

std::size_t Parser::headers(std::string_view c, std::size_t pos) {
  const std::size_t start = pos;
  const std::size_t room = limits_.header_bytes - buf_.size();
  const std::size_t stop = c.size() - pos > room ? pos + room : c.size();
  while (pos < stop) {
    const void* nl = std::memchr(c.data() + pos, '\n', stop - pos);
    const std::size_t upto =
        nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - c.data()) : stop;
    line_len_ += upto - pos;
    if (!nl) {
      pos = upto;
      break;
    }
    const char before = upto > start ? c[upto - 1] : buf_.empty() ? '\0' : buf_.back();
    const bool empty_line = line_len_ == 1 && before == '\r';
    pos = upto + 1;
    line_len_ = 0;
    if (empty_line) {
      buf_.append(c.substr(start, pos - start));
      begin_part(base_ + pos);
      return pos;
    }
  }
  buf_.append(c.substr(start, pos - start));
  if (pos < c.size()) fail(Fault::header_too_large, base_ + pos);
  return pos;
}

bool Parser::begin_part(std::uint64_t data_offset) {
  PartHead head;
  if (Fault f = parse_head(buf_, limits_, head); f != Fault::none)
    return fail(f, data_offset - buf_.size());
  if (++parts_ > limits_.parts) return fail(Fault::too_many_parts, data_offset - buf_.size());
  buf_.clear();
  in_file_ = head.is_file;
  state_ = State::data;
  handler_.part_begin(std::move(head), data_offset);
  return true;
}

void Parser::emit(std::string_view bytes) {
  if (bytes.empty()) return;
  if (!in_file_) {
    field_bytes_ += bytes.size();
    if (field_bytes_ > limits_.field_bytes) {
      fail(Fault::field_too_large, base_);
      return;
    }
  }
  handler_.part_data(bytes);
}

std::size_t Parser::data(std::string_view c, std::size_t pos) {
  const std::size_t m = needle_.size();
  if (match_ > 0) {
    const std::size_t need = m - match_;
    const std::size_t k = std::min(need, c.size() - pos);
    if (std::memcmp(c.data() + pos, needle_.data() + match_, k) == 0) {
      if (k < need) {
        match_ += k;
        return c.size();
      }
      handler_.part_end(base_ + pos - match_);
      match_ = 0;
      state_ = State::after_delimiter;
      return pos + k;
    }
    // The held bytes were data after all; being a needle prefix they hold no
    // further CR, so the search resumes at the current byte.
    emit(std::string_view(needle_).substr(0, match_));
    match_ = 0;
    if (state_ == State::failed) return c.size();
  }
  const std::size_t n = c.size() - pos;
  const std::size_t hit = find_needle(c.data() + pos, n, needle_);
  if (hit < n) {
    emit(c.substr(pos, hit));
    if (state_ == State::failed) return c.size();
    handler_.part_end(base_ + pos + hit);
    state_ = State::after_delimiter;
    return pos + hit + m;
  }
  const std::size_t tail = partial_tail(c.data() + pos, n, needle_);
  emit(c.substr(pos, n - tail));
  match_ = tail;
  return c.size();
}

void FormBuilder::part_begin(PartHead&& head, std::uint64_t data_offset) {
  parts_.push_back(Part{std::move(head), data_offset, 0});
}

void FormBuilder::part_end(std::uint64_t data_end) {
  parts_.back().size = data_end - parts_.back().offset;
}

Form FormBuilder::take(const Parser& parser) {
  Form form;
  form.fault = parser.fault();
  form.fault_offset = parser.fault_offset();
  if (form.ok()) form.parts = std::move(parts_);
  parts_.clear();
  return form;
}

Form parse(std::string_view body, const Limits& limits, std::string_view boundary) {
  FormBuilder builder;
  Parser parser(builder, limits, boundary);
  parser.feed(body);
  parser.finish();
  return builder.take(parser);
}

}  // namespace desk::multipart
