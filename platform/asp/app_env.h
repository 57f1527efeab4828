// One application (one virtual directory) as the host knows it, and its
// Application object.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "platform/asp/app_config.h"
#include "platform/asp/session.h"
#include "platform/db/db.h"

namespace desk::asp {

class Registry;

// The Application object: values shared by all sessions of one application.
class Application {
 public:
  std::string get(std::string_view key) const;
  void set(std::string_view key, std::string value);

 private:
  mutable std::mutex mu_;
  std::map<std::string, std::string, std::less<>> values_;
};

// What the host knows of one application. Owned by the host; outlives
// every request it serves.
struct AppEnv {
  AppEnv();
  // Unique for the life of the process, never reused (unlike an address).
  const std::uint64_t instance;
  std::string name;            // virtual directory name, e.g. "tarvo"
  std::filesystem::path root;  // the application folder
  AppConfig config;
  const Registry* registry = nullptr;
  std::shared_ptr<const Clock> clock = system_clock();
  // Monotonic milliseconds that timed device exchanges (the modem's fixed
  // waits) run on; tests run it faster.
  std::shared_ptr<const Ticker> ticker = steady_ticker();
  SessionStore sessions;
  Application application;
  // The database file (absolute) and how to open a new connection to it.
  std::filesystem::path database;
  std::function<std::unique_ptr<db::Connection>()> open_db;
  // When set, connections from open_db commit without their own flush, and
  // an answer of a page leaves only once this gate says the commits it may
  // show are durable.
  std::shared_ptr<db::CommitGate> commits;
};

}  // namespace desk::asp
