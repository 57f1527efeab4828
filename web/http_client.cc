#include "web/http_client.h"

#include <curl/curl.h>

#include <memory>

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

std::size_t on_header(char* data, std::size_t size, std::size_t n, void* user) {
  auto* sink = static_cast<Sink*>(user);
  std::string line(data, size * n);
  static const std::string name = "content-disposition:";
  if (line.size() > name.size()) {
    std::string head = line.substr(0, name.size());
    for (auto& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (head == name) {
      std::string value = line.substr(name.size());
      while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
      while (!value.empty() && value.front() == ' ') value.erase(0, 1);
      sink->response->content_disposition = value;
    }
  }
  return size * n;
}

}  // namespace

HttpResponse HttpClient::get(const std::string& url) const {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (!ready) throw HttpError("the HTTP library cannot start");
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) throw HttpError("the HTTP library cannot start");
  HttpResponse response;
  Sink sink{&response, max_body_bytes};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, timeout_seconds);
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(max_body_bytes));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &sink);
  if (!cookie.empty()) curl_easy_setopt(c, CURLOPT_COOKIE, cookie.c_str());
  CURLcode rc = curl_easy_perform(c);
  if (sink.too_large || rc == CURLE_FILESIZE_EXCEEDED)
    throw HttpError("the answer from " + url + " is larger than " + std::to_string(max_body_bytes) +
                    " bytes");
  if (rc != CURLE_OK) throw HttpError(std::string("GET ") + url + ": " + curl_easy_strerror(rc));
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
  return response;
}

}  // namespace desk::web
