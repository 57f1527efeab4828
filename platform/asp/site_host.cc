#include "platform/asp/site_host.h"

#include <cstdio>
#include <future>

#include "core/error.h"
#include "core/text.h"
#include "platform/asp/connections.h"
#include "platform/asp/replies.h"
#include "platform/asp/routing.h"
#include "platform/asp/static_files.h"

namespace desk::asp {

namespace fs = std::filesystem;

SiteHost::SiteHost(const Registry& registry, HostOptions options)
    : registry_(registry),
      options_(options),
      statics_(options.statics),
      pool_(options.pool_threads, options.pool_queue) {
  busy_page();  // ready before it is needed
  sweeper_ = std::thread([this] {
    std::unique_lock lock(sweep_mu_);
    while (!sweep_cv_.wait_for(lock, options_.session_sweep, [this] { return stopping_; })) {
      lock.unlock();
      sweep_sessions();
      lock.lock();
    }
  });
}

SiteHost::~SiteHost() {
  {
    std::lock_guard lock(sweep_mu_);
    stopping_ = true;
  }
  sweep_cv_.notify_all();
  sweeper_.join();
  pool_.drain();
  for (auto& a : apps_) forget_thread_connection(*a->env);
}

void SiteHost::sweep_sessions() {
  std::vector<App*> apps;
  {
    std::shared_lock lock(apps_mu_);
    for (auto& a : apps_) apps.push_back(a.get());
  }
  for (App* a : apps) a->env->sessions.sweep();
}

AppEnv& SiteHost::add(const VirtualDir& dir) {
  AppConfig cfg = AppConfig::load(dir.path / "app.conf");
  return add(dir, cfg, system_clock());
}

AppEnv& SiteHost::add(const VirtualDir& dir, const AppConfig& config,
                      std::shared_ptr<const Clock> clock) {
  if (dir.name.empty() || dir.name.find('/') != std::string::npos)
    throw Error(Errc::config, "bad virtual directory name '" + dir.name + "'");
  auto app = std::make_unique<App>(App{dir, std::make_unique<AppEnv>()});
  AppEnv& env = *app->env;
  env.name = dir.name;
  env.root = fs::absolute(dir.path);
  env.config = config;
  env.registry = &registry_;
  env.clock = std::move(clock);
  env.sessions.set_idle_timeout(std::chrono::minutes(config.session_timeout));
  env.database = env.root / config.database;
  env.open_db = [dbfile = env.database] {
    return db::open_sqlite(dbfile.string(), {.group_flush = true});
  };
  env.commits = db::sqlite_commit_gate(env.database.string());
  std::unique_lock lock(apps_mu_);
  for (auto& a : apps_)
    if (text::iequals(a->dir.name, dir.name))
      throw Error(Errc::config, "virtual directory " + dir.name + " given twice");
  apps_.push_back(std::move(app));
  return env;
}

SiteHost::App* SiteHost::app_named(std::string_view name) {
  std::shared_lock lock(apps_mu_);
  for (auto& a : apps_)
    if (text::iequals(a->dir.name, name)) return a.get();
  return nullptr;
}

SiteHost::App* SiteHost::first_app() {
  std::shared_lock lock(apps_mu_);
  return apps_.empty() ? nullptr : apps_.front().get();
}

AppEnv* SiteHost::find(std::string_view name) {
  App* a = app_named(name);
  return a ? a->env.get() : nullptr;
}

std::uint64_t SiteHost::body_limit(const http::Message& head) {
  const std::uint64_t anonymous = std::min(options_.anonymous_limit, options_.form_limit);
  Target t = resolve_target(head.target);
  App* app = t.status ? nullptr : app_named(t.vdir);
  if (!app) return anonymous;
  // Only a logged-in session may send more than a small form.
  Session s(&app->env->sessions, session_token_of(head.header("Cookie")));
  if (s.get("login") != "yes") return anonymous;
  const PageSpec* page = registry_.page(t.rel);
  if (!page || !page->upload) return options_.form_limit;
  return upload_ceiling(s, app->env->config);
}

http::Reply SiteHost::busy() {
  http::Reply r = busy_page();
  add_security_headers(r);
  return r;
}

const PageSpec* SiteHost::pooled_page(const http::Message& m) {
  if (pool_.threads() == 0) return nullptr;
  Target t = resolve_target(m.target);
  if (t.status || t.bare || !ends_with_ci(t.rel, ".asp")) return nullptr;
  App* app = app_named(t.vdir);
  if (!app || !app->dir.script) return nullptr;
  const PageSpec* p = registry_.page(t.rel);
  if (!p || !p->pooled) return nullptr;
  // Without a login such a page is only a redirect: no need to wait for it.
  if (p->access == Access::login &&
      Session(&app->env->sessions, session_token_of(m.header("Cookie"))).get("login") != "yes")
    return nullptr;
  return p;
}

namespace {

// The answer to a page whose commits could not be made durable.
http::Reply not_durable() {
  http::Reply r = error_page(500, "系统出错，操作未能完成。");
  add_security_headers(r);
  return r;
}

}  // namespace

void SiteHost::handle_async(http::Message m, http::Done done) {
  if (!pooled_page(m)) return answer(m, std::move(done));
  struct Job {
    http::Message m;
    http::Done done;
  };
  auto job = std::make_shared<Job>(Job{std::move(m), std::move(done)});
  bool queued = pool_.try_submit([this, job] {
    try {
      answer(job->m, job->done);
    } catch (...) {
      job->done(error_page(500, "系统出错，操作未能完成。"));
    }
  });
  if (!queued) job->done(busy());
}

void SiteHost::answer(http::Message& m, http::Done done) {
  AppEnv* ran = nullptr;
  http::Reply r = respond(m, ran);
  if (!ran || !ran->commits) return done(std::move(r));
  // Held, not sent, until what the page may show is on disk; meanwhile this
  // thread goes on with other requests, whose commits share the flush.
  auto held = std::make_shared<http::Reply>(std::move(r));
  ran->commits->after_durable(
      [held, done = std::move(done)](bool ok) { done(ok ? std::move(*held) : not_durable()); });
}

void SiteHost::drain() {
  pool_.drain();
  // Answers still held for a flush are delivered before the last of these
  // waits returns.
  std::vector<App*> apps;
  {
    std::shared_lock lock(apps_mu_);
    for (auto& a : apps_) apps.push_back(a.get());
  }
  for (App* a : apps)
    if (a->env->commits) wait_durable(*a->env->commits);
}

bool SiteHost::wait_durable(db::CommitGate& gate) {
  std::promise<bool> flushed;
  auto result = flushed.get_future();
  gate.after_durable([&flushed](bool ok) { flushed.set_value(ok); });
  return result.get();
}

http::Reply SiteHost::handle(http::Message& m) {
  AppEnv* ran = nullptr;
  http::Reply r = respond(m, ran);
  if (ran && ran->commits && !wait_durable(*ran->commits)) return not_durable();
  return r;
}

http::Reply SiteHost::respond(http::Message& m, AppEnv*& ran) {
  http::Reply r;
  [&] {
    if (changes_state(m.method) && from_other_site(m)) {
      r = error_page(403, "拒绝来自其他站点的提交。");
      return;
    }
    if (m.method != "GET" && m.method != "HEAD" && m.method != "POST") {
      r = error_page(405, "不支持的请求方法。");
      r.headers.emplace_back("Allow", "GET, HEAD, POST");
      return;
    }
    Target t = resolve_target(m.target);
    if (t.status) {
      r = error_page(t.status, t.status == 404 ? "找不到该页面。" : "请求地址无效。");
      return;
    }
    App* app = app_named(t.vdir);
    // Browsers ask for the site's icon at the root of the address: the first
    // application's icon answers.
    if (!app && text::iequals(t.vdir, "favicon.ico") && t.bare) {
      if (App* first = first_app()) {
        r = serve_file(*first, "favicon.ico", m);
        return;
      }
    }
    if (!app) {
      r = error_page(404, "找不到该页面。");
      return;
    }
    const std::string base = "/" + app->dir.name + "/";
    if (t.bare) {
      r.status = 301;
      r.headers.emplace_back("Location",
                             "/" + app->dir.name + "/" + (t.query.empty() ? "" : "?" + t.query));
      return;
    }
    if (t.rel.empty() || t.rel.back() == '/') {
      for (const auto& doc : app->dir.default_documents) {
        std::string rel = t.rel + doc;
        if (const PageSpec* p = registry_.page(rel); p && app->dir.script) {
          ran = app->env.get();
          r = serve_page(*app, *p, rel, t.query, m);
          return;
        }
        if (!ends_with_ci(doc, ".asp") && fs::is_regular_file(app->env->root / rel)) {
          r = serve_file(*app, rel, m);
          return;
        }
      }
      r = error_page(404, "找不到该页面。", base);
      return;
    }
    if (ends_with_ci(t.rel, ".asp")) {
      const PageSpec* p = registry_.page(t.rel);
      if (!p) {
        r = error_page(404, "找不到该页面。", base);
        return;
      }
      if (!app->dir.script) {
        r = error_page(403, "该目录不允许执行页面。", base);
        return;
      }
      ran = app->env.get();
      r = serve_page(*app, *p, t.rel, t.query, m);
      return;
    }
    r = serve_file(*app, t.rel, m);
  }();
  add_security_headers(r);
  return r;
}

http::Reply SiteHost::serve_page(App& app, const PageSpec& page, const std::string& rel,
                                 const std::string& query, http::Message& m) {
  AppEnv& env = *app.env;
  Request::Init init;
  init.method = m.method;
  init.script_name = "/" + app.dir.name + "/" + rel;
  init.query = query;
  init.headers = m.headers;
  init.body = std::move(m.body);
  init.remote_addr = m.remote_addr;
  std::string host = m.header("Host");
  size_t colon = host.rfind(':');
  init.server_name = colon == std::string::npos ? host : host.substr(0, colon);
  init.server_port = colon == std::string::npos ? "80" : host.substr(colon + 1);
  Request request(std::move(init));
  Response response;
  Session session(&env.sessions, session_token_of(m.header("Cookie")));
  ScriptingContext ctx(env, request, response, session);
  http::Reply r;

  if (page.access == Access::login && session.get("login") != "yes") {
    // A cookie that names no live session: the session ran out.
    bool expired = session.token().empty() && !session_token_of(m.header("Cookie")).empty();
    response.Redirect("/" + app.dir.name + (expired ? "/default.htm?e=4" : "/default.htm"));
  } else {
    try {
      ctx.lend_connection(thread_connection(env));
      try {
        page.handler(ctx);
      } catch (const ResponseEnd&) {
      }
    } catch (const Error& e) {
      std::fprintf(stderr, "page %s failed: %s: %s\n", rel.c_str(),
                   std::string(errc_name(e.code())).c_str(), e.what());
      int status = http_status(e.code());
      std::string msg = status == 404   ? "找不到所要的内容。"
                        : status == 403 ? "您没有权限进行此操作。"
                        : status == 413 ? "上传的内容超过了允许的大小。"
                        : status == 400 ? "提交的内容不正确。"
                        : status == 409 ? "操作未能完成：数据正忙或状态已改变，请刷新后重试。"
                                        : "系统出错，操作未能完成。";
      r = error_page(status, msg, "/" + app.dir.name + "/");
    } catch (const std::exception& e) {
      std::fprintf(stderr, "page %s failed: %s\n", rel.c_str(), e.what());
      r = error_page(500, "系统出错，操作未能完成。", "/" + app.dir.name + "/");
    }
    // A page must never leave its transaction open for the next one.
    end_page_connection(env);
  }

  if (r.status == 200 && r.body.empty() && r.headers.empty()) {
    r.status = response.Status;
    if (response.redirected()) {
      r.headers.emplace_back("Location", response.location());
      r.headers.emplace_back("Content-Type", "text/html; charset=gb2312");
      r.body =
          "<html><head><title>Object moved</title></head><body><h1>Object Moved</h1>"
          "This object may be found <a href=\"" +
          text::html(response.location()) + "\">here</a>.</body></html>";
    } else {
      r.headers.emplace_back("Content-Type", response.content_type_header());
      r.body = response.release_body();
    }
    for (const auto& h : response.headers()) r.headers.push_back(h);
  }
  bool has_cache = false;
  for (const auto& [k, v] : r.headers)
    if (text::iequals(k, "Cache-Control")) has_cache = true;
  if (!has_cache) r.headers.emplace_back("Cache-Control", "private, no-cache");
  if (session.cookie_changed())
    r.headers.emplace_back("Set-Cookie",
                           session_set_cookie(session, "/" + app.dir.name + "/", m.secure));
  return r;
}

http::Reply SiteHost::serve_file(App& app, const std::string& rel, const http::Message& m) {
  if (!app.dir.read) return error_page(403, "该目录不允许读取。");
  if (m.method == "POST") {
    http::Reply r = error_page(405, "静态文件不接受提交。");
    r.headers.emplace_back("Allow", "GET, HEAD");
    return r;
  }
  return serve_static(app.env->root, rel, m, "/" + app.dir.name + "/", &statics_);
}

}  // namespace desk::asp
