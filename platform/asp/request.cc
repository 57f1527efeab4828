#include "platform/asp/request.h"

#include <algorithm>

#include "core/text.h"

namespace desk::asp {

Pairs parse_urlencoded(std::string_view raw) {
  Pairs out;
  for (const auto& part : text::split(raw, '&')) {
    if (part.empty()) continue;
    size_t eq = part.find('=');
    std::string k = part.substr(0, eq);
    std::string v = eq == std::string::npos ? "" : part.substr(eq + 1);
    out.emplace_back(text::decode_ncr(text::from_gb18030(text::url_decode(k))),
                     text::decode_ncr(text::from_gb18030(text::url_decode(v))));
  }
  return out;
}

Pairs parse_cookies(std::string_view header) {
  Pairs out;
  for (const auto& part : text::split(header, ';')) {
    std::string p = text::trim(part);
    if (p.empty()) continue;
    size_t eq = p.find('=');
    if (eq == std::string::npos) continue;
    out.emplace_back(text::trim(p.substr(0, eq)),
                     text::from_gb18030(text::url_decode(p.substr(eq + 1))));
  }
  return out;
}

Request::Request(Init init) : init_(std::move(init)) {
  query_ = parse_urlencoded(init_.query);
  std::string ctype = text::to_lower(header("Content-Type"));
  if (ctype.rfind("application/x-www-form-urlencoded", 0) == 0)
    form_ = parse_urlencoded(init_.body);
  else if (ctype.rfind("multipart/form-data", 0) == 0)
    form_pending_ = true;
  cookies_ = parse_cookies(header("Cookie"));
}

const multipart::Form& Request::multipart() const {
  if (!multipart_) multipart_ = multipart::parse(init_.body);
  return *multipart_;
}

const Pairs& Request::form_items() const {
  if (form_pending_) {
    form_pending_ = false;
    for (const multipart::Part& p : multipart().parts)
      if (!p.head.is_file)
        form_.emplace_back(text::decode_ncr(p.head.name),
                           text::decode_ncr(text::from_gb18030(p.data(init_.body))));
  }
  return form_;
}

std::string Request::lookup(const Pairs& items, std::string_view key) {
  std::string out;
  bool found = false;
  for (const auto& [k, v] : items) {
    if (!text::iequals(k, key)) continue;
    if (found) out += ", ";
    out += v;
    found = true;
  }
  return out;
}

std::string Request::operator()(std::string_view key) const {
  for (const Pairs* c : {&query_, &form_items(), &cookies_}) {
    for (const auto& [k, v] : *c)
      if (text::iequals(k, key)) return lookup(*c, key);
  }
  return ServerVariables(key);
}

std::string Request::header(std::string_view name) const {
  for (const auto& [k, v] : init_.headers)
    if (text::iequals(k, name)) return v;
  return "";
}

std::string Request::ServerVariables(std::string_view name) const {
  std::string n = text::to_lower(name);
  if (n == "request_method") return init_.method;
  if (n == "remote_addr" || n == "remote_host") return init_.remote_addr;
  if (n == "script_name" || n == "path_info" || n == "url") return init_.script_name;
  if (n == "query_string") return init_.query;
  if (n == "content_type") return header("Content-Type");
  if (n == "content_length") return std::to_string(init_.body.size());
  if (n == "server_name") return init_.server_name;
  if (n == "server_port") return init_.server_port;
  if (n == "all_http") {
    std::string all;
    for (const auto& [k, v] : init_.headers) {
      std::string key = "HTTP_" + k;
      std::replace(key.begin(), key.end(), '-', '_');
      for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      all += key + ":" + v + "\n";
    }
    return all;
  }
  if (n.rfind("http_", 0) == 0) {
    std::string h = n.substr(5);
    std::replace(h.begin(), h.end(), '_', '-');
    return header(h);
  }
  return "";
}

std::string Request::BinaryRead(std::size_t count) {
  size_t n = std::min(count, init_.body.size() - read_pos_);
  std::string out = init_.body.substr(read_pos_, n);
  read_pos_ += n;
  return out;
}

}  // namespace desk::asp
