// Wall-clock time as the pages see it: local civil time of the server.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace desk {

// A local date and time, to the second.
struct DateTime {
  int year = 1970, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0;

  // Storage forms: "YYYY-MM-DD HH:MM:SS", "YYYY-MM-DD", "HH:MM:SS".
  std::string iso() const;
  std::string iso_date() const;
  std::string iso_time() const;
  // Parses the storage forms (date alone gives midnight). False when malformed.
  static bool parse_iso(std::string_view s, DateTime& out);
  // Minutes since midnight.
  int minutes_of_day() const { return hour * 60 + minute; }
  // The civil time `seconds` later (earlier when negative).
  DateTime plus_seconds(long long seconds) const;
};

// Source of the current time; tests use a fixed clock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime now() const = 0;
};

std::shared_ptr<const Clock> system_clock();

class FixedClock : public Clock {
 public:
  explicit FixedClock(DateTime t) : t_(t) {}
  DateTime now() const override { return t_; }
  void set(DateTime t) { t_ = t; }

 private:
  DateTime t_;
};

// Monotonic milliseconds for timing device exchanges; unrelated to the wall
// clock. Tests drive their own.
class Ticker {
 public:
  virtual ~Ticker() = default;
  // Milliseconds since an arbitrary start; never goes back.
  virtual std::int64_t now_ms() const = 0;
};

std::shared_ptr<const Ticker> steady_ticker();

// A ticker that moves only when told. Thread-safe.
class ManualTicker : public Ticker {
 public:
  std::int64_t now_ms() const override {
    std::lock_guard<std::mutex> lock(mu_);
    return t_;
  }
  void advance(std::int64_t ms) {
    std::lock_guard<std::mutex> lock(mu_);
    t_ += ms;
  }

 private:
  mutable std::mutex mu_;
  std::int64_t t_ = 0;
};

// How dates and times are written on pages ("regional settings").
// Patterns: y (or yyyy) = year, yy = its last two digits; m/d = month/day
// without leading zero, mm/dd = with leading zero; H/M/S (or HH/MM/SS) =
// hour/minute/second with leading zero. A run of one letter is one field.
// The default writes 2006-12-3 and 15:30:45.
struct Regional {
  std::string date_pattern = "y-m-d";
  std::string time_pattern = "H:M:S";

  std::string date(const DateTime& t) const;
  std::string time(const DateTime& t) const;
  std::string date_time(const DateTime& t) const { return date(t) + " " + time(t); }
  // A stored ISO date, time of day or date and time in this format; text
  // that is none of these is returned as it is.
  std::string shown(std::string_view stored) const;
  // Reads a date written in any common form (2006-12-3, 2006/12/03,
  // 2006.12.3, 2006年12月3日, 2006-12-03 10:00:00); false when it is not a
  // date.
  static bool parse_date(std::string_view s, DateTime& out);
};

}  // namespace desk
