#include "platform/asp/app_env.h"

#include "core/text.h"

namespace desk::asp {

namespace {
std::atomic<std::uint64_t> next_app_instance{1};
}  // namespace

AppEnv::AppEnv() : instance(next_app_instance++) {}

std::string Application::get(std::string_view key) const {
  std::lock_guard lock(mu_);
  auto it = values_.find(text::to_lower(key));
  return it == values_.end() ? "" : it->second;
}

void Application::set(std::string_view key, std::string value) {
  std::lock_guard lock(mu_);
  values_[text::to_lower(key)] = std::move(value);
}

}  // namespace desk::asp
