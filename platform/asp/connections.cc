#include "platform/asp/connections.h"

#include <map>
#include <memory>

namespace desk::asp {

namespace {
// Keyed by the application's instance number, so that a later application
// never inherits a connection of an earlier one.
thread_local std::map<std::uint64_t, std::unique_ptr<db::Connection>> t_connections;
}  // namespace

db::Connection* thread_connection(AppEnv& env) {
  auto& slot = t_connections[env.instance];
  if (!slot && env.open_db) slot = env.open_db();
  return slot.get();
}

void end_page_connection(const AppEnv& env) {
  auto it = t_connections.find(env.instance);
  if (it != t_connections.end() && it->second && it->second->in_transaction())
    it->second->rollback();
}

void forget_thread_connection(const AppEnv& env) {
  t_connections.erase(env.instance);
}

}  // namespace desk::asp
