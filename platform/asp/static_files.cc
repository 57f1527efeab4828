#include "platform/asp/static_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

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

std::string http_date(std::time_t t) {
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm g {};
  gmtime_r(&t, &g);
  char out[40];
  std::snprintf(out, sizeof out, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[g.tm_wday], g.tm_mday,
                months[g.tm_mon], g.tm_year + 1900, g.tm_hour, g.tm_min, g.tm_sec);
  return out;
}

bool parse_http_date(const std::string& s, std::time_t& out) {
  struct tm g {};
  const char* end = strptime(s.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &g);
  if (!end || *end != '\0') return false;
  out = timegm(&g);
  return out != static_cast<std::time_t>(-1);
}

namespace {

bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool same_file(const StaticCache::Entry& e, const struct stat& st) {
  return e.dev == st.st_dev && e.ino == st.st_ino && e.size == st.st_size &&
         same_time(e.mtime, st.st_mtim) && same_time(e.ctime, st.st_ctim);
}

}  // namespace

std::shared_ptr<const StaticCache::Entry> StaticCache::find(const std::string& key,
                                                            const struct stat& st) const {
  std::shared_lock lock(mu_);
  auto it = entries_.find(key);
  if (it == entries_.end() || !same_file(*it->second, st)) return nullptr;
  return it->second;
}

void StaticCache::put(const std::string& key, std::shared_ptr<const Entry> entry) {
  std::unique_lock lock(mu_);
  auto it = entries_.find(key);
  if (it != entries_.end()) {
    bytes_ -= it->second->body.size();
    entries_.erase(it);
  }
  if (bytes_ + entry->body.size() > options_.cache_total) return;
  bytes_ += entry->body.size();
  entries_.emplace(key, std::move(entry));
}

void StaticCache::erase(const std::string& key) {
  std::unique_lock lock(mu_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return;
  bytes_ -= it->second->body.size();
  entries_.erase(it);
}

std::size_t StaticCache::bytes() const {
  std::shared_lock lock(mu_);
  return bytes_;
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

// Whether If-None-Match names `etag` ("*", or one of a list; weak tags
// compare by their opaque part).
bool etag_listed(std::string_view header, const std::string& etag) {
  for (const std::string& part : text::split(header, ',')) {
    std::string tag = text::trim(part);
    if (tag == "*") return true;
    if (tag.rfind("W/", 0) == 0) tag.erase(0, 2);
    if (tag == etag) return true;
  }
  return false;
}

// Whether the client's copy is current: If-None-Match decides when sent;
// otherwise If-Modified-Since at or after the modification second.
bool not_modified(const http::Message& m, const std::string& etag, std::time_t mtime) {
  std::string inm = m.header("If-None-Match");
  if (!inm.empty()) return etag_listed(inm, etag);
  std::string ims = m.header("If-Modified-Since");
  std::time_t since = 0;
  return !ims.empty() && parse_http_date(ims, since) && mtime <= since;
}

http::Reply validated(int status, const std::string& etag, const std::string& last_modified) {
  http::Reply r;
  r.status = status;
  r.headers.reserve(8);
  r.headers.emplace_back("Cache-Control", "no-cache");
  r.headers.emplace_back("ETag", etag);
  r.headers.emplace_back("Last-Modified", last_modified);
  return r;
}

http::Reply from_entry(const StaticCache::Entry& e, const http::Message& m) {
  if (not_modified(m, e.etag, e.mtime.tv_sec)) return validated(304, e.etag, e.last_modified);
  http::Reply r = validated(200, e.etag, e.last_modified);
  r.body = e.body;
  r.headers.emplace_back("Content-Type", e.content_type);
  return r;
}

bool settled(const struct stat& st, std::chrono::milliseconds settle) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  auto age = std::chrono::seconds(now.tv_sec - st.st_ctim.tv_sec) +
             std::chrono::nanoseconds(now.tv_nsec - st.st_ctim.tv_nsec);
  return age >= settle;
}

}  // namespace

http::Reply serve_static(const fs::path& app_root, const std::string& rel, const http::Message& m,
                         const std::string& base, StaticCache* cache) {
  auto first = rel.substr(0, rel.find('/'));
  if (text::iequals(first, "data") || text::iequals(rel, "app.conf"))
    return error_page(404, "找不到该页面。", base);

  // A kept file answers when the requested path still leads to it unchanged;
  // it was checked against the rules below when it was kept.
  std::string key;
  if (cache) {
    key = app_root.native();
    key += '\0';
    key += rel;
    struct stat now {};
    if (::stat((app_root / rel).c_str(), &now) == 0 && S_ISREG(now.st_mode)) {
      if (auto e = cache->find(key, now)) return from_entry(*e, m);
    } else {
      cache->erase(key);
    }
  }

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
  std::string etag = etag_of(st);
  std::string last_modified = http_date(st.st_mtim.tv_sec);
  if (not_modified(m, etag, st.st_mtim.tv_sec)) return validated(304, etag, last_modified);

  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return read_failed(file, errno);
  int err = 0;
  if (::fstat(fd, &st) != 0) err = errno;
  const std::uint64_t stream_from = cache ? cache->options().stream_from : 0;
  if (!err && stream_from && static_cast<std::uint64_t>(st.st_size) >= stream_from) {
    // Large: the connection sends the file itself. The validators are those
    // of the descriptor that is sent.
    http::Reply r = validated(200, etag_of(st), http_date(st.st_mtim.tv_sec));
    r.file = std::make_shared<const http::FileBody>(fd, static_cast<std::uint64_t>(st.st_size));
    r.headers.emplace_back("Content-Type", content_type_for(file));
    return r;
  }
  const struct stat before = st;
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
  struct stat after {};
  bool unchanged = !err && ::fstat(fd, &after) == 0 && same_time(after.st_mtim, before.st_mtim) &&
                   same_time(after.st_ctim, before.st_ctim) && after.st_size == before.st_size;
  ::close(fd);
  if (err) return read_failed(file, err);
  // A file cut short while it was read is sent as read, with no validator
  // that would let a cache keep it.
  const bool whole = got == body.size();
  http::Reply r;
  if (whole) {
    r = validated(200, etag_of(st), http_date(st.st_mtim.tv_sec));
  } else {
    r.headers.emplace_back("Cache-Control", "no-cache");
  }
  body.resize(got);
  std::string type = content_type_for(file);
  if (cache && unchanged && whole && body.size() <= cache->options().cache_file &&
      settled(st, cache->options().settle)) {
    auto e = std::make_shared<StaticCache::Entry>();
    e->dev = st.st_dev;
    e->ino = st.st_ino;
    e->size = st.st_size;
    e->mtime = st.st_mtim;
    e->ctime = st.st_ctim;
    e->etag = etag_of(st);
    e->last_modified = http_date(st.st_mtim.tv_sec);
    e->content_type = type;
    e->body = body;
    cache->put(key, std::move(e));
  }
  r.body = std::move(body);
  r.headers.emplace_back("Content-Type", std::move(type));
  return r;
}

}  // namespace desk::asp
