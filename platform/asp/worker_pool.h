// A small bounded pool of worker threads for slow page work, so that it
// does not hold the I/O threads. Jobs wait in a queue of fixed length;
// when it is full a job is refused at once rather than queued.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace desk::asp {

class WorkerPool {
 public:
  // `threads` workers (started on the first job); at most `queue_limit`
  // jobs waiting while every worker is busy.
  WorkerPool(unsigned threads, std::size_t queue_limit);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues `job`; false (and the job is dropped) when the queue is full,
  // the pool has no threads or it is draining. A job must not throw.
  bool try_submit(std::function<void()> job);
  // Stops taking jobs, lets the queued and running ones finish and joins
  // the workers. Later submissions are refused.
  void drain();
  unsigned threads() const { return threads_; }
  // Jobs queued and not yet started.
  std::size_t waiting() const;

 private:
  void work();

  const unsigned threads_;
  const std::size_t queue_limit_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
  std::vector<std::thread> workers_;
  std::size_t running_ = 0;
  bool draining_ = false;
};

}  // namespace desk::asp
