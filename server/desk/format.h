// Dates and times of the desk pages: stored as ISO text, written in the
// regional format.
#pragma once

#include <string>
#include <string_view>

#include "core/clock.h"

namespace desk::deskpages {

// Midnight of the day after `t`, as "YYYY-MM-DD 00:00:00".
std::string next_midnight_iso(const DateTime& t);

// The shared head of the desk's list pages, up to and including the body tag.
std::string list_page_head();
// Closes what list_page_head opened.
inline constexpr const char* kListPageFoot = "</body></html>";

}  // namespace desk::deskpages
