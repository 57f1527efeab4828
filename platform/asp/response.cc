#include "platform/asp/response.h"

#include "core/text.h"

namespace desk::asp {

void Response::Write(std::string_view utf8) {
  if (redirected()) return;
  // A page is mostly written in many small pieces; the first one makes room
  // for a typical page at once.
  if (body_.capacity() < kBodyReserve) body_.reserve(kBodyReserve);
  if (!text::append_gb18030(body_, utf8)) body_ += text::to_gb18030(utf8);
}

void Response::BinaryWrite(std::string_view bytes) {
  if (redirected()) return;
  body_.append(bytes.data(), bytes.size());
}

void Response::Redirect(std::string_view url) {
  location_ = text::header_safe(url);
  if (location_.empty()) location_ = "./";
  Status = 302;
  body_.clear();
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
