#include "core/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "core/text.h"

namespace desk {
namespace {

std::string two(int v) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

class SystemClock : public Clock {
 public:
  DateTime now() const override {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  }
};

bool valid(const DateTime& d) {
  static const int mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
  if (d.day > mdays[d.month - 1]) return false;
  bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  if (d.month == 2 && d.day == 29 && !leap) return false;
  return d.hour >= 0 && d.hour < 24 && d.minute >= 0 && d.minute < 60 && d.second >= 0 &&
         d.second < 60;
}

}  // namespace

std::string DateTime::iso() const {
  return iso_date() + " " + iso_time();
}

std::string DateTime::iso_date() const {
  char b[32];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d", year, month, day);
  return b;
}

std::string DateTime::iso_time() const {
  return two(hour) + ":" + two(minute) + ":" + two(second);
}

bool DateTime::parse_iso(std::string_view s, DateTime& out) {
  DateTime d;
  char tail = 0;
  std::string str(s);
  int n = std::sscanf(str.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &d.year, &d.month, &d.day, &d.hour,
                      &d.minute, &d.second, &tail);
  if (n == 3 && str.size() == 10) {
    d.hour = d.minute = d.second = 0;
  } else if (n != 6) {
    return false;
  }
  if (!valid(d)) return false;
  out = d;
  return true;
}

std::shared_ptr<const Clock> system_clock() {
  static auto clock = std::make_shared<SystemClock>();
  return clock;
}

std::shared_ptr<const Ticker> steady_ticker() {
  class Steady : public Ticker {
   public:
    std::int64_t now_ms() const override {
      using namespace std::chrono;
      return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
  };
  static auto ticker = std::make_shared<Steady>();
  return ticker;
}

static std::string format_with(std::string_view pattern, const DateTime& t) {
  std::string out;
  for (size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    switch (c) {
      case 'y':
        out += run == 2 ? two(t.year % 100) : std::to_string(t.year);
        break;
      case 'm':
        out += run >= 2 ? two(t.month) : std::to_string(t.month);
        break;
      case 'd':
        out += run >= 2 ? two(t.day) : std::to_string(t.day);
        break;
      case 'H':
        out += two(t.hour);
        break;
      case 'M':
        out += two(t.minute);
        break;
      case 'S':
        out += two(t.second);
        break;
      default:
        out.append(run, c);
    }
    i += run;
  }
  return out;
}

std::string Regional::shown(std::string_view stored) const {
  DateTime t;
  if (stored.size() == 8 && DateTime::parse_iso("2000-01-01 " + std::string(stored), t))
    return time(t);
  if (!DateTime::parse_iso(stored, t)) return std::string(stored);
  return stored.size() == 10 ? date(t) : date_time(t);
}

std::string Regional::date(const DateTime& t) const {
  return format_with(date_pattern, t);
}
std::string Regional::time(const DateTime& t) const {
  return format_with(time_pattern, t);
}

bool Regional::parse_date(std::string_view s, DateTime& out) {
  std::string str = text::trim(s);
  DateTime d;
  char sep1 = 0, sep2 = 0;
  int consumed = 0;
  if (std::sscanf(str.c_str(), "%d%c%d%c%d%n", &d.year, &sep1, &d.month, &sep2, &d.day,
                  &consumed) != 5)
    return false;
  if (sep1 != sep2 || (sep1 != '-' && sep1 != '/' && sep1 != '.')) return false;
  std::string rest = text::trim(std::string_view(str).substr(static_cast<size_t>(consumed)));
  if (!rest.empty() && std::sscanf(rest.c_str(), "%d:%d:%d", &d.hour, &d.minute, &d.second) < 2)
    return false;
  if (!valid(d)) return false;
  out = d;
  return true;
}

}  // namespace desk
