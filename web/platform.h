// The platform pieces the control talks to: the document pane, message
// boxes, the clock with the thread's message loop, and which window is
// active. Each has a real implementation here and a fake in the tests.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>

namespace desk::web {

using Millis = std::chrono::milliseconds;
using WindowHandle = std::uint32_t;

// Monotonic time of the control's thread.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual Millis now() const = 0;
  // Returns at `t` at the latest; callers check now() again.
  virtual void sleep_until(Millis t) = 0;
};

class SystemClock final : public Clock {
 public:
  Millis now() const override;
  void sleep_until(Millis t) override;
};

// The message queue of the control's thread. Queued calls and timers run
// only inside pump(), wait_until() and run_pending(), on that thread, and may
// themselves pump (a handler that waits lets other messages run).
class MessageLoop {
 public:
  explicit MessageLoop(Clock& clock) : clock_(clock) {}
  Clock& clock() { return clock_; }

  // Queues a call; safe from any thread.
  void post(std::function<void()> call);
  // Timers: `tick` runs every `interval` while started. Starting a running
  // timer keeps its schedule; a tick never runs inside itself.
  int new_timer();
  void start_timer(int id, Millis interval, std::function<void()> tick);
  void stop_timer(int id);
  bool timer_running(int id) const;

  // Runs the calls queued now and the timers that are due.
  void pump();
  // Pumps until the clock reaches `t`, sleeping in short steps.
  void wait_until(Millis t);
  // Pumps until no call is queued; timers run only when due.
  void run_pending();

 private:
  struct Timer {
    Millis interval{0}, due{0};
    std::function<void()> tick;
    bool running = false, firing = false;
  };
  Clock& clock_;
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
  std::map<int, Timer> timers_;
  int next_timer_ = 1;
};

// The browser pane the document is shown in. navigate() returns at once; the
// pane raises its events later from the message loop: download complete,
// then document complete.
class DocumentPane {
 public:
  virtual ~DocumentPane() = default;
  virtual void navigate(const std::string& address) = 0;
  virtual void quit() = 0;
  virtual void place(int left, int top, int width, int height) = 0;

  std::function<void()> on_download_complete;
  std::function<void()> on_document_complete;
};

// Modal message boxes with an OK button, and notes: failures the control
// goes past by design (a load step, delfile, a timer tick), kept for the log.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void show(const std::string& text, const std::string& title) = 0;
  virtual void note(const std::string& text) = 0;
};

// Writes boxes as "[message] TITLE: TEXT" and notes as "[note] TEXT" lines.
class StreamMessages final : public MessageSink {
 public:
  explicit StreamMessages(std::ostream& out) : out_(out) {}
  void show(const std::string& text, const std::string& title) override;
  void note(const std::string& text) override;

 private:
  std::ostream& out_;
};

// Which window of the control's thread is active.
class ActiveWindow {
 public:
  virtual ~ActiveWindow() = default;
  virtual WindowHandle active() const = 0;
};

// The page's window is kPage while it has the focus, kElsewhere while another
// window has; whoever hosts the page (the page bridge, officectl) reports
// focus changes from any thread.
class FocusedWindow final : public ActiveWindow {
 public:
  static constexpr WindowHandle kPage = 1, kElsewhere = 2;
  WindowHandle active() const override { return active_.load(); }
  void set(WindowHandle w) { active_.store(w); }

 private:
  std::atomic<WindowHandle> active_{kPage};
};

}  // namespace desk::web
