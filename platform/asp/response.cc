#include "platform/asp/response.h"

#include "core/text.h"

namespace desk::asp {

namespace {

// Whether `s` is made of whole UTF-8 sequences (lead bytes followed by their
// continuation bytes). Such pieces convert the same one by one as joined:
// none ends inside a character, so no character is formed across two.
bool whole_sequences(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80           ? 1
                    : (c >> 5) == 0x6  ? 2
                    : (c >> 4) == 0xE  ? 3
                    : (c >> 3) == 0x1E ? 4
                                       : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

void Response::convert_pending() const {
  if (pending_.empty()) return;
  body_ += text::to_gb18030(pending_);
  pending_.clear();
}

void Response::Write(std::string_view utf8) {
  if (redirected()) return;
  if (whole_sequences(utf8)) {
    pending_.append(utf8.data(), utf8.size());
    return;
  }
  convert_pending();
  body_ += text::to_gb18030(utf8);
}

void Response::BinaryWrite(std::string_view bytes) {
  if (redirected()) return;
  convert_pending();
  body_.append(bytes.data(), bytes.size());
}

void Response::Redirect(std::string_view url) {
  location_ = text::header_safe(url);
  if (location_.empty()) location_ = "./";
  Status = 302;
  body_.clear();
  pending_.clear();
}

void Response::End() {
  throw ResponseEnd{};
}

void Response::AddHeader(std::string_view name, std::string_view value) {
  headers_.emplace_back(text::header_safe(name), text::header_safe(value));
}

std::string Response::content_type_header() const {
  std::string ct = text::header_safe(ContentType);
  if (!Charset.empty() && ct.rfind("text/", 0) == 0)
    ct += "; charset=" + text::header_safe(Charset);
  return ct;
}

}  // namespace desk::asp
