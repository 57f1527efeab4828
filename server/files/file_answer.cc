#include "server/files/file_answer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "core/text.h"

namespace desk::files {
namespace {

bool parse_count(std::string_view s, std::uint64_t& out) {
  if (s.empty() || s.size() > 19) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

// Reads `count` bytes at `offset`; false on a short read.
bool read_at(int fd, std::uint64_t offset, std::uint64_t count, std::string& out) {
  out.resize(count);
  std::uint64_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(fd, out.data() + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::uint64_t>(n);
  }
  return true;
}

}  // namespace

std::optional<ByteRange> requested_range(std::string_view header, std::uint64_t size) {
  std::string h = text::trim(header);
  if (h.rfind("bytes=", 0) != 0) return std::nullopt;
  std::string wanted = text::trim(std::string_view(h).substr(6));
  const std::size_t dash = wanted.find('-');
  if (dash == std::string::npos || wanted.find(',') != std::string::npos) return std::nullopt;
  const std::string from = text::trim(std::string_view(wanted).substr(0, dash));
  const std::string to = text::trim(std::string_view(wanted).substr(dash + 1));
  std::uint64_t a = 0, b = 0;
  if (from.empty()) {  // the last b bytes
    if (!parse_count(to, b)) return std::nullopt;
    if (b == 0 || size == 0) return ByteRange{1, 0};
    return ByteRange{b >= size ? 0 : size - b, size - 1};
  }
  if (!parse_count(from, a)) return std::nullopt;
  if (to.empty()) {
    if (a >= size) return ByteRange{1, 0};
    return ByteRange{a, std::min(size - 1, a + kMaxOpenRange - 1)};
  }
  if (!parse_count(to, b) || b < a) return std::nullopt;
  if (a >= size) return ByteRange{1, 0};
  return ByteRange{a, std::min(b, size - 1)};
}

void send_stored_file(asp::ScriptingContext& ctx, const std::filesystem::path& path,
                      std::string_view content_type, std::string_view disposition) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    throw Error(Errc::not_found, "stored file " + path.filename().string() + " is missing");
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  char tag[80];
  std::snprintf(tag, sizeof tag, "\"%llx-%llx-%lx\"", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(st.st_mtim.tv_sec),
                static_cast<long>(st.st_mtim.tv_nsec));

  asp::Request& req = ctx.request();
  asp::Response& r = ctx.response();
  r.Clear();
  r.Charset = "";
  r.ContentType = std::string(content_type);
  r.AddHeader("ETag", tag);
  r.AddHeader("Accept-Ranges", "bytes");
  r.AddHeader("Cache-Control", "private, no-cache");
  if (!disposition.empty()) r.AddHeader("Content-Disposition", disposition);
  if (req.header("If-None-Match") == tag) {
    r.Status = 304;
    return;
  }

  std::optional<ByteRange> range;
  const std::string if_range = req.header("If-Range");
  if (if_range.empty() || if_range == tag) range = requested_range(req.header("Range"), size);
  if (range && range->first > range->last) {
    r.Status = 416;
    r.AddHeader("Content-Range", "bytes */" + std::to_string(size));
    return;
  }
  const std::uint64_t first = range ? range->first : 0;
  const std::uint64_t count = range ? range->last - range->first + 1 : size;
  std::string bytes;
  if (!read_at(fd, first, count, bytes))
    throw Error(Errc::io, "cannot read stored file " + path.filename().string());
  if (range) {
    r.Status = 206;
    r.AddHeader("Content-Range", "bytes " + std::to_string(range->first) + "-" +
                                     std::to_string(range->last) + "/" + std::to_string(size));
  }
  r.BinaryWrite(bytes);
}

}  // namespace desk::files
