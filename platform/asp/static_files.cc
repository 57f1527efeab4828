#include "platform/asp/static_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "core/text.h"
#include "platform/asp/replies.h"

namespace desk::asp {

namespace fs = std::filesystem;

std::string content_type_for(const fs::path& p) {
  static const std::map<std::string, std::string> types = {
      {".htm", "text/html; charset=gb2312"},
      {".html", "text/html; charset=gb2312"},
      {".css", "text/css; charset=gb2312"},
      {".js", "application/javascript; charset=gb2312"},
      {".txt", "text/plain; charset=gb2312"},
      {".xml", "text/xml"},
      {".gif", "image/gif"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".svg", "image/svg+xml"},
      {".swf", "application/x-shockwave-flash"},
      {".mp3", "audio/mpeg"},
      {".wav", "audio/wav"},
      {".mid", "audio/midi"},
      {".wmv", "video/x-ms-wmv"},
      {".doc", "application/msword"},
      {".docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {".cab", "application/vnd.ms-cab-compressed"},
  };
  auto it = types.find(text::to_lower(p.extension().string()));
  return it == types.end() ? "application/octet-stream" : it->second;
}

namespace {

std::string etag_of(const struct stat& st) {
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(st.st_size),
                static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                    static_cast<unsigned long long>(st.st_mtim.tv_nsec));
  return etag;
}

// The answer when a file that exists could not be read.
http::Reply read_failed(const fs::path& file, int err) {
  std::fprintf(stderr, "deskhost: cannot read %s: %s\n", file.c_str(), std::strerror(err));
  if (err == EMFILE || err == ENFILE || err == ENOMEM || err == EAGAIN) return busy_page();
  return error_page(500, "系统出错，操作未能完成。");
}

}  // namespace

http::Reply serve_static(const fs::path& app_root, const std::string& rel, const http::Message& m,
                         const std::string& base) {
  auto first = rel.substr(0, rel.find('/'));
  if (text::iequals(first, "data") || text::iequals(rel, "app.conf"))
    return error_page(404, "找不到该页面。", base);
  std::error_code ec;
  fs::path root = fs::canonical(app_root, ec);
  if (ec) return error_page(404, "找不到该页面。", base);
  fs::path file = fs::canonical(root / rel, ec);
  if (ec) return error_page(404, "找不到该页面。", base);
  // Symbolic links must not lead out of the application folder.
  auto mismatch = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
  if (mismatch.first != root.end()) return error_page(404, "找不到该页面。", base);
  // The database and the stored uploads (media files, the upload store) are
  // served only by pages that check the user, also when a link leads there.
  if (mismatch.second != file.end())
    for (std::string_view private_folder : {"data", "MP3", "dv", "pic", "upfiles"})
      if (text::iequals(mismatch.second->string(), private_folder))
        return error_page(404, "找不到该页面。", base);

  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return error_page(404, "找不到该页面。", base);
  http::Reply r;
  r.headers.emplace_back("Cache-Control", "no-cache");
  std::string etag = etag_of(st);
  if (m.header("If-None-Match") == etag) {
    r.status = 304;
    r.headers.emplace_back("ETag", etag);
    return r;
  }

  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return read_failed(file, errno);
  int err = 0;
  if (::fstat(fd, &st) != 0) err = errno;
  std::string body;
  if (!err) {
    try {
      body.resize(static_cast<std::size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
      err = ENOMEM;
    }
  }
  std::size_t got = 0;
  while (!err && got < body.size()) {
    ssize_t n = ::read(fd, body.data() + got, body.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (err) return read_failed(file, err);
  // A file cut short while it was read is sent as read, with no validator
  // that would let a cache keep it.
  if (got == body.size()) r.headers.emplace_back("ETag", etag_of(st));
  body.resize(got);
  r.body = std::move(body);
  r.headers.emplace_back("Content-Type", content_type_for(file));
  return r;
}

}  // namespace desk::asp
