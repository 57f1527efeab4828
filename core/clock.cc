#include "core/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

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

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
long long days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civil_from_days(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

}  // namespace

DateTime DateTime::plus_seconds(long long seconds) const {
  long long t =
      days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second + seconds;
  long long days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
  long long rest = t - days * 86400;
  DateTime out;
  civil_from_days(days, out.year, out.month, out.day);
  out.hour = static_cast<int>(rest / 3600);
  out.minute = static_cast<int>(rest / 60 % 60);
  out.second = static_cast<int>(rest % 60);
  return out;
}

bool Regional::parse_date(std::string_view s, DateTime& out) {
  std::string str = text::trim(s);
  // 2006年12月3日 is read as 2006-12-3.
  for (auto [from, to] :
       {std::pair<std::string_view, std::string_view>{"年", "-"}, {"月", "-"}, {"日", " "}}) {
    for (std::size_t at = str.find(from); at != std::string::npos; at = str.find(from, at))
      str.replace(at, from.size(), to);
  }
  str = text::trim(str);
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
