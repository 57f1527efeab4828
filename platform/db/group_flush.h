// Group flush: commits that skip their own flush are made durable by one
// flush of the write-ahead log shared by every commit written before it
// began. Commits are counted with tickets in the order the log receives them;
// waiters are released once every ticket handed out before they asked is
// covered by a finished flush.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/db/db.h"

namespace desk::db {

class GroupFlush : public CommitGate {
 public:
  // `flush` makes durable every write to the log made before it was called;
  // false when it failed. It runs on the gate's own thread.
  explicit GroupFlush(std::function<bool()> flush);
  // Flushes once more for any waiter left and delivers it.
  ~GroupFlush() override;
  GroupFlush(const GroupFlush&) = delete;
  GroupFlush& operator=(const GroupFlush&) = delete;

  // A commit is about to write its frames. Called while the commit holds the
  // database's write lock, so tickets follow the log's order and ticket t + 1
  // is handed out only after ticket t's frames were written. Returns the
  // commit's ticket.
  std::uint64_t begun();
  // The call that made commit `ticket` has returned (whether the commit
  // succeeded or not): its frames, if any, are written.
  void written(std::uint64_t ticket);

  void after_durable(std::function<void(bool)> then) override;

 private:
  // Highest ticket whose frames are surely written.
  std::uint64_t written_mark() const;
  void run();

  std::function<bool()> flush_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::uint64_t begun_ = 0;        // tickets handed out
  std::uint64_t written_max_ = 0;  // highest ticket whose call returned
  std::uint64_t durable_ = 0;      // every ticket up to this one is on disk
  // Each waiter with the highest ticket it must see durable.
  std::vector<std::pair<std::uint64_t, std::function<void(bool)>>> waiting_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace desk::db
