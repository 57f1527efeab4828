#include "web/word.h"

namespace desk::web {
namespace {

std::string lower(const std::string& s) {
  std::string out = s;
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

CommandBars::CommandBars() {
  bars_["standard"].enabled.assign(24, true);
  bars_["formatting"].enabled.assign(24, true);
  bars_["tables and borders"].enabled.assign(20, true);
}

CommandBars::Bar& CommandBars::find(const std::string& bar) {
  auto it = bars_.find(lower(bar));
  if (it == bars_.end()) throw WordError("no command bar named \"" + bar + "\"");
  return it->second;
}

const CommandBars::Bar& CommandBars::find(const std::string& bar) const {
  return const_cast<CommandBars*>(this)->find(bar);
}

bool CommandBars::visible(const std::string& bar) const {
  return find(bar).visible;
}
void CommandBars::set_visible(const std::string& bar, bool on) {
  find(bar).visible = on;
}

bool CommandBars::enabled(const std::string& bar, int position) const {
  const Bar& b = find(bar);
  if (position < 1 || position > static_cast<int>(b.enabled.size()))
    throw WordError("command bar \"" + bar + "\" has no control " + std::to_string(position));
  return b.enabled[static_cast<std::size_t>(position - 1)];
}

void CommandBars::set_enabled(const std::string& bar, int position, bool on) {
  Bar& b = find(bar);
  if (position < 1 || position > static_cast<int>(b.enabled.size()))
    throw WordError("command bar \"" + bar + "\" has no control " + std::to_string(position));
  b.enabled[static_cast<std::size_t>(position - 1)] = on;
}

}  // namespace desk::web
