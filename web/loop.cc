#include <thread>
#include <vector>

#include "web/platform.h"

namespace desk::web {

Millis SystemClock::now() const {
  return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now().time_since_epoch());
}

void SystemClock::sleep_until(Millis t) {
  auto d = t - now();
  if (d > Millis(0)) std::this_thread::sleep_for(d);
}

void MessageLoop::post(std::function<void()> call) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(call));
}

int MessageLoop::new_timer() {
  return next_timer_++;
}

void MessageLoop::start_timer(int id, Millis interval, std::function<void()> tick) {
  Timer& t = timers_[id];
  if (t.running) return;
  t.interval = interval;
  t.due = clock_.now() + interval;
  t.tick = std::move(tick);
  t.running = true;
}

void MessageLoop::stop_timer(int id) {
  if (auto it = timers_.find(id); it != timers_.end()) it->second.running = false;
}

bool MessageLoop::timer_running(int id) const {
  auto it = timers_.find(id);
  return it != timers_.end() && it->second.running;
}

void MessageLoop::pump() {
  std::size_t n;
  {
    std::lock_guard lock(mutex_);
    n = queue_.size();
  }
  for (std::size_t i = 0; i < n; ++i) {
    std::function<void()> call;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) break;
      call = std::move(queue_.front());
      queue_.pop_front();
    }
    call();
  }
  std::vector<int> due;
  for (auto& [id, t] : timers_)
    if (t.running && !t.firing && t.due <= clock_.now()) due.push_back(id);
  for (int id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end() || !it->second.running || it->second.firing) continue;
    it->second.due = clock_.now() + it->second.interval;
    it->second.firing = true;
    auto tick = it->second.tick;
    tick();
    timers_[id].firing = false;
  }
}

void MessageLoop::wait_until(Millis t) {
  for (;;) {
    pump();
    Millis now = clock_.now();
    if (now >= t) return;
    Millis next = std::min(t, now + Millis(10));
    for (auto& [id, timer] : timers_)
      if (timer.running && !timer.firing) next = std::min(next, std::max(timer.due, now));
    bool idle;
    {
      std::lock_guard lock(mutex_);
      idle = queue_.empty();
    }
    if (idle) clock_.sleep_until(next);
  }
}

void MessageLoop::run_pending() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
    }
    pump();
  }
}

void StreamMessages::show(const std::string& text, const std::string& title) {
  out_ << "[message] " << title << ": " << text << std::endl;
}

void StreamMessages::note(const std::string& text) {
  out_ << "[note] " << text << std::endl;
}

}  // namespace desk::web
