#include "web/pane.h"

#include <fstream>

#include "core/text.h"

namespace desk::web {
namespace {

bool starts_with_nocase(const std::string& s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

std::string percent_decode(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

std::string download_name(const std::string& url, const std::string& disposition) {
  std::string name;
  // The extended parameter (RFC 6266) names the file in UTF-8.
  auto ext = disposition.find("filename*=");
  if (ext != std::string::npos) {
    std::string value = disposition.substr(ext + 10);
    value = value.substr(0, value.find(';'));
    auto quote = value.find("''");
    if (quote != std::string::npos && text::iequals(value.substr(0, quote), "utf-8"))
      name = percent_decode(value.substr(quote + 2));
  }
  auto at = disposition.find("filename=");
  if (name.empty() && at != std::string::npos) {
    name = disposition.substr(at + 9);
    if (!name.empty() && name.front() == '"') {
      name.erase(0, 1);
      name = name.substr(0, name.find('"'));
    } else {
      name = name.substr(0, name.find(';'));
    }
  }
  // A plain parameter comes in the site's code page unless it is UTF-8.
  if (!name.empty() && text::from_gb18030(text::to_gb18030(name)) != name)
    name = text::from_gb18030(name);
  if (name.empty()) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    auto scheme = path.find("://");
    if (scheme != std::string::npos) {
      auto slash = path.find('/', scheme + 3);
      path = slash == std::string::npos ? "" : path.substr(slash);
    }
    name = percent_decode(path.substr(path.rfind('/') + 1));
  }
  name =
      name.substr(name.find_last_of("/\\") == std::string::npos ? 0 : name.find_last_of("/\\") + 1);
  std::string clean;
  for (char c : name)
    if (static_cast<unsigned char>(c) >= 0x20 &&
        std::string_view("<>:\"|?*").find(c) == std::string_view::npos)
      clean += c;
  while (!clean.empty() && (clean.back() == '.' || clean.back() == ' ')) clean.pop_back();
  while (!clean.empty() && (clean.front() == '.' || clean.front() == ' ')) clean.erase(0, 1);
  if (clean.size() > 120) clean = clean.substr(clean.size() - 120);
  return clean.empty() ? "document.docx" : clean;
}

FetchingPane::FetchingPane(MessageLoop& loop, DocxWord& word, const PathMap& paths,
                           const HttpClient& http, MessageSink& messages)
    : loop_(loop), word_(word), paths_(paths), http_(http), messages_(messages) {}

void FetchingPane::navigate(const std::string& address) {
  loop_.post([this, address] { load(address); });
}

void FetchingPane::load(const std::string& address) {
  try {
    word_.close(true);
  } catch (const std::exception& e) {
    messages_.note("the shown document could not be saved before leaving it: " +
                   std::string(e.what()));
  }
  try {
    word_.open(fetch(address));
  } catch (const std::exception& e) {
    messages_.note("cannot open " + address + ": " + e.what());
  }
  loop_.post([this] {
    if (on_document_complete) on_document_complete();
  });
  if (on_download_complete) on_download_complete();
}

std::filesystem::path FetchingPane::fetch(const std::string& address) {
  if (starts_with_nocase(address, "http://") || starts_with_nocase(address, "https://")) {
    HttpResponse r = http_.get(address);
    if (r.status != 200) throw HttpError("the server answered " + std::to_string(r.status));
    std::filesystem::create_directories(paths_.work());
    std::filesystem::path target = paths_.work() / download_name(address, r.content_disposition);
    std::filesystem::path tmp = target;
    tmp += ".part";
    {
      std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
      out.write(r.body.data(), static_cast<std::streamsize>(r.body.size()));
      if (!out.flush()) throw HttpError("cannot write " + tmp.string());
    }
    std::filesystem::rename(tmp, target);
    return target;
  }
  if (starts_with_nocase(address, "file:")) {
    std::string path = percent_decode(address.substr(5));
    while (!path.empty() && path.front() == '/') path.erase(0, 1);
    return paths_.map(path);
  }
  return paths_.map(address);
}

void FetchingPane::quit() {
  word_.close(true);
}

void FetchingPane::place(int left, int top, int width, int height) {
  bounds_ = {left, top, width, height};
}

}  // namespace desk::web
