#include "platform/db/group_flush.h"

#include <cstdio>

namespace desk::db {

GroupFlush::GroupFlush(std::function<bool()> flush) : flush_(std::move(flush)) {
  thread_ = std::thread([this] { run(); });
}

GroupFlush::~GroupFlush() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

std::uint64_t GroupFlush::begun() {
  std::lock_guard lock(mu_);
  return ++begun_;
}

void GroupFlush::written(std::uint64_t ticket) {
  bool wake;
  {
    std::lock_guard lock(mu_);
    if (ticket > written_max_) written_max_ = ticket;
    wake = !waiting_.empty();
  }
  if (wake) cv_.notify_all();
}

std::uint64_t GroupFlush::written_mark() const {
  // Tickets below the newest were written before it was handed out.
  if (begun_ == 0) return 0;
  return written_max_ >= begun_ ? begun_ : begun_ - 1;
}

void GroupFlush::after_durable(std::function<void(bool)> then) {
  {
    std::lock_guard lock(mu_);
    if (begun_ > durable_) {
      waiting_.emplace_back(begun_, std::move(then));
      cv_.notify_all();
      return;
    }
  }
  then(true);
}

void GroupFlush::run() {
  std::unique_lock lock(mu_);
  for (;;) {
    cv_.wait(lock,
             [this] { return stopping_ || (!waiting_.empty() && written_mark() > durable_); });
    if (waiting_.empty()) return;  // stopping
    // At the stop no commit is still running: flush whatever was handed out.
    const std::uint64_t mark = stopping_ ? begun_ : written_mark();
    lock.unlock();
    const bool ok = flush_();
    lock.lock();
    if (ok && mark > durable_) durable_ = mark;
    if (!ok) std::fprintf(stderr, "deskhost: flushing the database log failed\n");
    std::vector<std::function<void(bool)>> ready;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
      if (it->first <= mark) {
        ready.push_back(std::move(it->second));
        it = waiting_.erase(it);
      } else {
        ++it;
      }
    }
    lock.unlock();
    for (auto& then : ready) then(ok);
    lock.lock();
  }
}

}  // namespace desk::db
