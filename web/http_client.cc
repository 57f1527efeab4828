#include "web/http_client.h"

#include <curl/curl.h>

#include <memory>

#include "core/text.h"

namespace desk::web {
namespace {

struct Sink {
  HttpResponse* response;
  std::uint64_t limit;
  bool too_large = false;
};

std::size_t on_body(char* data, std::size_t size, std::size_t n, void* user) {
  auto* sink = static_cast<Sink*>(user);
  std::size_t bytes = size * n;
  if (sink->response->body.size() + bytes > sink->limit) {
    sink->too_large = true;
    return 0;
  }
  sink->response->body.append(data, bytes);
  return bytes;
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Keeps the headers of the last response only (a redirect's are dropped).
std::size_t on_header(char* data, std::size_t size, std::size_t n, void* user) {
  auto* sink = static_cast<Sink*>(user);
  std::string line(data, size * n);
  if (line.rfind("HTTP/", 0) == 0) {
    sink->response->content_disposition.clear();
    sink->response->content_type.clear();
    return size * n;
  }
  auto colon = line.find(':');
  if (colon == std::string::npos) return size * n;
  std::string name = lower(line.substr(0, colon));
  std::string value = line.substr(colon + 1);
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
  while (!value.empty() && value.front() == ' ') value.erase(0, 1);
  if (name == "content-disposition") sink->response->content_disposition = value;
  if (name == "content-type") sink->response->content_type = value;
  return size * n;
}

using Curl = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using Url = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

Curl new_handle() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (!ready) throw HttpError("the HTTP library cannot start");
  Curl curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) throw HttpError("the HTTP library cannot start");
  return curl;
}

// "scheme://host:port" of an absolute http(s) address, the port made
// explicit; "" when the address cannot be read.
std::string origin_of(const std::string& url) {
  Url u(curl_url(), curl_url_cleanup);
  if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return "";
  char *scheme = nullptr, *host = nullptr, *port = nullptr;
  std::string out;
  if (curl_url_get(u.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
      curl_url_get(u.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
      curl_url_get(u.get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK)
    out = lower(scheme) + "://" + lower(host) + ":" + port;
  curl_free(scheme);
  curl_free(host);
  curl_free(port);
  return out;
}

bool valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

bool is_redirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

HttpResponse HttpClient::get(const std::string& url) const {
  HttpRequest r;
  r.url = url;
  return send(r);
}

HttpResponse HttpClient::send(const HttpRequest& request) const {
  const bool post = request.method == "POST";
  if (!post && request.method != "GET") throw HttpError("unsupported method " + request.method);
  const std::string start = origin_of(request.url);
  std::string url = request.url;
  for (int hop = 0;; ++hop) {
    Curl curl = new_handle();
    CURL* c = curl.get();
    HttpResponse response;
    Sink sink{&response, max_body_bytes};
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, connect_timeout_ms);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeout_ms);
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(max_body_bytes));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &sink);
    if (!cookie.empty()) curl_easy_setopt(c, CURLOPT_COOKIE, cookie.c_str());
    if (!ca_file.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, ca_file.c_str());
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(nullptr,
                                                                        curl_slist_free_all);
    auto add = [&](const std::string& line) {
      curl_slist* l = curl_slist_append(headers.get(), line.c_str());
      if (!l) throw HttpError("out of memory");
      headers.release();
      headers.reset(l);
    };
    bool typed = false;
    for (const auto& [name, value] : request.headers) {
      typed = typed || lower(name) == "content-type";
      add(name + ": " + value);
    }
    if (post) {
      curl_easy_setopt(c, CURLOPT_POST, 1L);
      curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
      curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data());
      if (!typed) add("Content-Type:");  // libcurl would name a form type of its own
      add("Expect:");
    }
    if (headers) curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());

    CURLcode rc = curl_easy_perform(c);
    if (sink.too_large || rc == CURLE_FILESIZE_EXCEEDED)
      throw HttpError("the answer from " + url + " is larger than " +
                      std::to_string(max_body_bytes) + " bytes");
    if (rc != CURLE_OK) throw HttpError(request.method + " " + url + ": " + curl_easy_strerror(rc));
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
    response.url = url;
    if (post || !is_redirect(response.status)) return response;

    char* next = nullptr;
    curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &next);
    if (!next) return response;
    std::string target = next;
    if (start.empty() || origin_of(target) != start)
      throw HttpError("refused to follow a redirect from " + url + " to another host: " + target);
    if (hop >= max_redirects) throw HttpError("too many redirects from " + request.url);
    url = target;
  }
}

std::string response_text(const HttpResponse& response) {
  std::string type = lower(response.content_type);
  auto at = type.find("charset=");
  std::string charset;
  if (at != std::string::npos) {
    charset = type.substr(at + 8);
    charset = charset.substr(0, charset.find_first_of("; "));
    if (!charset.empty() && charset.front() == '"')
      charset = charset.substr(1, charset.find('"', 1) - 1);
  }
  if (charset == "utf-8" || charset == "utf8") return response.body;
  if (charset.empty()) {
    if (valid_utf8(response.body)) return response.body;
  }
  return text::from_gb18030(response.body);
}

}  // namespace desk::web
