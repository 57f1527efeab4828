// The web host: serves each application folder under its virtual directory
// (http://host:port/NAME/...), runs hosting pages for "*.asp" and sends the
// static files of the folder. The parts it is made of: metabase.h and
// app_config.h (site configuration), routing.h, static_files.h, session.h
// (sessions and their cookie), connections.h (the connection pool),
// worker_pool.h (slow pages) and replies.h (its own pages).
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/asp/asp.h"
#include "platform/asp/metabase.h"
#include "platform/asp/static_files.h"
#include "platform/asp/worker_pool.h"
#include "platform/http/http.h"

namespace desk::asp {

struct HostOptions {
  // Body ceilings in bytes: requests without a logged-in session, and
  // logged-in requests to pages that are not uploads (whose ceiling is the
  // session's MaxSize).
  std::uint64_t anonymous_limit = 64 * 1024;
  std::uint64_t form_limit = 1024 * 1024;
  // The worker pool of pooled pages: threads, and requests that may wait.
  unsigned pool_threads = 2;
  std::size_t pool_queue = 32;
  // How often idle sessions are dropped.
  std::chrono::milliseconds session_sweep = std::chrono::seconds(60);
  // Small static files kept in memory, large ones sent from the file.
  StaticOptions statics{};
};

class SiteHost : public http::Handler {
 public:
  // `registry` must outlive the host.
  explicit SiteHost(const Registry& registry, HostOptions options = {});
  ~SiteHost() override;

  // Adds an application; reads APPDIR/app.conf. Throws Error(config).
  // Applications may be added while the host serves: a request sees the
  // application once add() has returned. Applications are never removed.
  AppEnv& add(const VirtualDir& dir);
  // An application with the given settings and clock.
  AppEnv& add(const VirtualDir& dir, const AppConfig& config, std::shared_ptr<const Clock> clock);
  AppEnv* find(std::string_view name);
  const HostOptions& options() const { return options_; }
  const WorkerPool& pool() const { return pool_; }

  std::uint64_t body_limit(const http::Message& head) override;
  // Answers on the calling thread, pooled pages included; a page's answer
  // after the commits it may show are durable (a 500 when they cannot be).
  http::Reply handle(http::Message& request) override;
  // Pooled pages go to the worker pool; everything else runs inline. A
  // page's answer is handed to `done` once the commits it may show are
  // durable, possibly from the database's flush thread.
  void handle_async(http::Message request, http::Done done) override;
  http::Reply busy() override;
  // Waits for the pooled pages in flight (later ones are answered busy) and
  // for the answers held for a flush.
  void drain() override;

 private:
  struct App {
    VirtualDir dir;
    std::unique_ptr<AppEnv> env;
  };
  // Apps live as long as the host: the pointers stay valid without the lock.
  App* app_named(std::string_view name);
  App* first_app();
  // The page a request runs when it is to run on the pool, else nullptr.
  const PageSpec* pooled_page(const http::Message& m);
  // The answer to a request; `ran` is set to the application whose page ran.
  http::Reply respond(http::Message& m, AppEnv*& ran);
  // respond(), with the page's answer handed to `done` once durable.
  void answer(http::Message& m, http::Done done);
  // Blocks until `gate` says every commit so far is durable.
  static bool wait_durable(db::CommitGate& gate);
  http::Reply serve_page(App& app, const PageSpec& page, const std::string& rel,
                         const std::string& query, http::Message& m);
  http::Reply serve_file(App& app, const std::string& rel, const http::Message& m);
  void sweep_sessions();

  const Registry& registry_;
  const HostOptions options_;
  std::shared_mutex apps_mu_;  // apps_: add() against requests and the sweeper
  std::vector<std::unique_ptr<App>> apps_;
  std::mutex sweep_mu_;
  std::condition_variable sweep_cv_;
  bool stopping_ = false;
  std::thread sweeper_;
  StaticCache statics_;
  WorkerPool pool_;  // last: drained first, while everything its jobs use is still there
};

}  // namespace desk::asp
