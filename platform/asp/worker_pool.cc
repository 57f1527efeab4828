#include "platform/asp/worker_pool.h"

#include <cstdio>
#include <exception>

namespace desk::asp {

WorkerPool::WorkerPool(unsigned threads, std::size_t queue_limit)
    : threads_(threads), queue_limit_(queue_limit) {}

WorkerPool::~WorkerPool() {
  drain();
}

bool WorkerPool::try_submit(std::function<void()> job) {
  {
    std::lock_guard lock(mu_);
    if (draining_ || queue_.size() + running_ >= threads_ + queue_limit_ || threads_ == 0)
      return false;
    if (workers_.empty()) {
      for (unsigned i = 0; i < threads_; ++i) workers_.emplace_back([this] { work(); });
    }
    queue_.push_back(std::move(job));
  }
  cv_.notify_one();
  return true;
}

std::size_t WorkerPool::waiting() const {
  std::lock_guard lock(mu_);
  return queue_.size();
}

void WorkerPool::drain() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mu_);
    draining_ = true;
    workers.swap(workers_);
  }
  cv_.notify_all();
  for (auto& t : workers) t.join();
}

void WorkerPool::work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mu_);
      cv_.wait(lock, [&] { return draining_ || !queue_.empty(); });
      if (queue_.empty()) return;  // draining and nothing left
      job = std::move(queue_.front());
      queue_.pop_front();
      ++running_;
    }
    try {
      job();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "deskhost: pooled work failed: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "deskhost: pooled work failed\n");
    }
    job = nullptr;  // what it holds goes before the job counts as done
    std::lock_guard lock(mu_);
    --running_;
  }
}

}  // namespace desk::asp
