// Static files of an application folder: content types, validators, reads
// that are checked to the last byte, and a memory cache of small files.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <shared_mutex>
#include <string>
#include <unordered_map>

#include "platform/http/http.h"

namespace desk::asp {

struct StaticOptions {
  // Files up to `cache_file` bytes are kept in memory, `cache_total` bytes in
  // all; 0 keeps nothing.
  std::size_t cache_file = 256 * 1024;
  std::size_t cache_total = 32 * 1024 * 1024;
  // A file changed less than this long ago is served but not kept: two
  // changes within one tick of the file system's clock can leave the same
  // time stamps and size behind.
  std::chrono::milliseconds settle{2000};
  // Files of at least this many bytes go from the file to the connection
  // instead of being read into memory.
  std::uint64_t stream_from = 1024 * 1024;
};

// Small files kept in memory with their validators. An entry answers only
// while a stat of the requested path still finds the same file (device,
// inode) with the same size, modification and change times: a file changed
// on disk is read again at its next request. Thread-safe.
class StaticCache {
 public:
  explicit StaticCache(StaticOptions options = {}) : options_(options) {}
  const StaticOptions& options() const { return options_; }

  struct Entry {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{}, ctime{};
    std::string etag, last_modified, content_type;
    std::string body;
  };
  // The entry of `key` when it still describes the file `st` was taken of.
  std::shared_ptr<const Entry> find(const std::string& key, const struct stat& st) const;
  void put(const std::string& key, std::shared_ptr<const Entry> entry);
  void erase(const std::string& key);
  std::size_t bytes() const;

 private:
  StaticOptions options_;
  mutable std::shared_mutex mu_;
  std::unordered_map<std::string, std::shared_ptr<const Entry>> entries_;
  std::size_t bytes_ = 0;
};

// Answers GET or HEAD of the file `rel` inside `root`. The folder's data
// and app.conf are never served, nor anything a symbolic link leads to
// outside `root`. A file that cannot be read whole is never answered 200:
// 503 when descriptors or memory are short, else 500. `base` is the
// application's address, for the links of the not-found page. A request
// whose If-None-Match (or, without it, If-Modified-Since) matches the file
// is answered 304. With a cache, small files are answered from memory.
http::Reply serve_static(const std::filesystem::path& root, const std::string& rel,
                         const http::Message& m, const std::string& base = "",
                         StaticCache* cache = nullptr);

// Content-Type by file extension; text types in GB2312.
std::string content_type_for(const std::filesystem::path& p);

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT") and back; parse_http_date
// returns false for anything else.
std::string http_date(std::time_t t);
bool parse_http_date(const std::string& s, std::time_t& out);

}  // namespace desk::asp
