// Hosting pages for pages that are linked (from the menu or the frame set)
// but not built yet.
#pragma once

#include <string_view>
#include <vector>

#include "platform/asp/asp.h"

namespace desk::host {

struct Placeholder {
  std::string_view name;  // "bbs.asp"
  // A frame of the working screen rather than a work page: it shows the bare
  // page chrome without the "not available" message.
  bool frame = false;
};

// Every page answered by a placeholder.
const std::vector<Placeholder>& placeholder_pages();

// Registers every page of placeholder_pages(), login required.
void register_placeholders(asp::Registry& registry);

}  // namespace desk::host
