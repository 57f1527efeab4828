#include "server/desk/format.h"

#include <chrono>
#include <cstdio>

namespace desk::deskpages {

std::string next_midnight_iso(const DateTime& t) {
  using namespace std::chrono;
  year_month_day ymd{year{t.year}, month{static_cast<unsigned>(t.month)},
                     day{static_cast<unsigned>(t.day)}};
  year_month_day next{sys_days{ymd} + days{1}};
  DateTime d;
  d.year = static_cast<int>(next.year());
  d.month = static_cast<int>(static_cast<unsigned>(next.month()));
  d.day = static_cast<int>(static_cast<unsigned>(next.day()));
  return d.iso();
}

std::string list_page_head() {
  return "<html><head><meta http-equiv='Content-Type' content='text/html; charset=gb2312'>"
         "<link rel='stylesheet' href='apply.css' type='text/css'>"
         "<script language='javascript' src='apply.js'></script>"
         "<title>tarvo网络办公自动化</title></head>"
         "<body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0' "
         "oncontextmenu='return false'>";
}

}  // namespace desk::deskpages
