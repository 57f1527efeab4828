#include "deskhost/sites.h"

#include <sys/stat.h>

#include <cstdio>

#include "core/error.h"
#include "platform/db/db.h"
#include "server/host/schema.h"

namespace desk::deskhost {

namespace fs = std::filesystem;

int serve_dir(asp::SiteHost& site, const asp::VirtualDir& dir) {
  if (dir.path.empty()) throw Error(Errc::config, "no application folder set");
  asp::AppConfig cfg = asp::AppConfig::load(dir.path / "app.conf");
  auto conn = db::open_sqlite((fs::absolute(dir.path) / cfg.database).string());
  int version = host::migrate(*conn);
  site.add(dir, cfg, system_clock());
  std::fprintf(stderr, "deskhost: /%s/ -> %s (schema %d)\n", dir.name.c_str(),
               fs::absolute(dir.path).string().c_str(), version);
  return version;
}

MetabaseWatcher::MetabaseWatcher(asp::SiteHost& site, fs::path file, std::chrono::milliseconds poll)
    : site_(site), file_(std::move(file)), poll_(poll) {}

MetabaseWatcher::~MetabaseWatcher() {
  stop();
}

MetabaseWatcher::Stamp MetabaseWatcher::stamp() const {
  struct stat st {};
  if (::stat(file_.c_str(), &st) != 0) return {};
  return {true, static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

int MetabaseWatcher::reload() {
  std::lock_guard lock(mu_);
  // Taken before reading: a change made while the file is read is seen at
  // the next look.
  seen_ = stamp();
  asp::MetabaseContents contents;
  try {
    contents = asp::read_metabase(file_);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "deskhost: metabase not reloaded: %s\n", e.what());
    return 0;
  }
  int added = 0;
  for (const auto& dir : contents.dirs) {
    if (site_.find(dir.name)) continue;
    try {
      serve_dir(site_, dir);
      ++added;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "deskhost: /%s/ not served: %s\n", dir.name.c_str(), e.what());
    }
  }
  return added;
}

void MetabaseWatcher::start() {
  {
    std::lock_guard lock(mu_);
    if (thread_.joinable()) return;
    stopping_ = false;
    seen_ = stamp();
  }
  thread_ = std::thread([this] {
    std::unique_lock lock(mu_);
    while (!cv_.wait_for(lock, poll_, [this] { return stopping_; })) {
      bool asked = requested_.exchange(false, std::memory_order_relaxed);
      if (!asked && stamp() == seen_) continue;
      lock.unlock();
      reload();
      lock.lock();
    }
  });
}

void MetabaseWatcher::stop() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

}  // namespace desk::deskhost
