// The virtual directories deskhost serves: adding one to a running host,
// and following the metabase file as setup programs change it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "platform/asp/site_host.h"

namespace desk::deskhost {

// Serves an application folder under its virtual directory: reads its
// app.conf, brings its database to the current schema, then adds it to the
// host, so no request reaches it before it is ready. Returns the schema
// version. Throws Error when the folder cannot be served.
int serve_dir(asp::SiteHost& site, const asp::VirtualDir& dir);

// Keeps a host serving every virtual directory of a metabase file. A
// directory that appears in the file is served at once; a directory already
// served keeps its settings (changes and removals take effect when the host
// starts again). What cannot be served is reported on stderr and left out.
class MetabaseWatcher {
 public:
  // `site` must outlive the watcher.
  MetabaseWatcher(asp::SiteHost& site, std::filesystem::path file,
                  std::chrono::milliseconds poll = std::chrono::milliseconds(500));
  ~MetabaseWatcher();
  MetabaseWatcher(const MetabaseWatcher&) = delete;
  MetabaseWatcher& operator=(const MetabaseWatcher&) = delete;

  // Reads the file and serves the directories not served yet; returns how
  // many were added. A file that cannot be read is reported and changes nothing.
  int reload();
  // Looks at the file every `poll` and reloads when it changed (replaced,
  // written, grown or shrunk) or when a reload was requested.
  void start();
  void stop();
  // Asks the watching thread for a reload; safe in a signal handler.
  void request_reload() noexcept { requested_.store(true, std::memory_order_relaxed); }

 private:
  struct Stamp {
    bool exists = false;
    std::uint64_t inode = 0, size = 0;
    std::int64_t mtime_ns = 0;
    bool operator==(const Stamp&) const = default;
  };
  Stamp stamp() const;

  asp::SiteHost& site_;
  const std::filesystem::path file_;
  const std::chrono::milliseconds poll_;
  std::atomic<bool> requested_{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
  Stamp seen_;
  std::mutex mu_;  // reload() and stopping_
  std::condition_variable cv_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace desk::deskhost
