// The ASP object layer: the scripting context a page runs in, the Server
// object, page components and their registry. The application a page runs
// in is app_env.h; the host that serves pages over HTTP is site_host.h.
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
#include <vector>

#include "core/clock.h"
#include "core/error.h"
#include "platform/asp/app_config.h"
#include "platform/asp/app_env.h"
#include "platform/asp/request.h"
#include "platform/asp/response.h"
#include "platform/asp/session.h"
#include "platform/db/db.h"

namespace desk::asp {

class ScriptingContext;

// A page component: one class per page (or family of pages). The hosting page
// creates it through Server.CreateObject, which calls OnStartPage; the handle
// calls OnEndPage when the page ends, also after a failed page method.
class PageComponent {
 public:
  virtual ~PageComponent() = default;
  void OnStartPage(ScriptingContext& mysc) { ctx_ = &mysc; }
  void OnEndPage() { ctx_ = nullptr; }
  bool started() const { return ctx_ != nullptr; }

 protected:
  // The intrinsic objects of the current request; only valid between
  // OnStartPage and OnEndPage.
  ScriptingContext& ctx() const;
  Request& request() const;
  Response& response() const;
  Session& session() const;
  class Server& server() const;
  Application& application() const;
  // Response.Write shorthand.
  void write(std::string_view utf8) const;
  // The page's clock and regional settings.
  DateTime now() const;
  const Regional& regional() const;
  // The client address ("remote_addr").
  std::string remote_addr() const;

 private:
  ScriptingContext* ctx_ = nullptr;
};

// Owning handle of a created component; calls OnEndPage when it goes.
template <class T>
class ComponentRef {
 public:
  explicit ComponentRef(std::unique_ptr<T> p) : p_(std::move(p)) {}
  ComponentRef(ComponentRef&&) noexcept = default;
  ~ComponentRef() {
    if (p_) p_->OnEndPage();
  }
  T* operator->() const { return p_.get(); }
  T& operator*() const { return *p_; }
  T* get() const { return p_.get(); }

 private:
  std::unique_ptr<T> p_;
};

// The Server object.
class Server {
 public:
  Server(ScriptingContext& ctx) : ctx_(ctx) {}
  // Physical path of a virtual path: "/x" from the application root, "x"
  // from the folder of the current page. Throws Error(forbidden) for a path
  // that leaves the application folder.
  std::filesystem::path MapPath(std::string_view virtual_path) const;
  // Creates "deskserver.<class>" and starts it on this page. Throws
  // Error(not_found) for an unknown ProgID.
  ComponentRef<PageComponent> CreateObject(std::string_view progid);
  // Typed form for hosting pages: throws Error(internal) when the ProgID is
  // registered with another class.
  template <class T>
  ComponentRef<T> CreateObject(std::string_view progid) {
    auto any = create(progid);
    T* typed = dynamic_cast<T*>(any.get());
    if (!typed)
      throw Error(Errc::internal, "component " + std::string(progid) + " has another type");
    any.release();
    return ComponentRef<T>(std::unique_ptr<T>(typed));
  }

 private:
  std::unique_ptr<PageComponent> create(std::string_view progid);
  ScriptingContext& ctx_;
};

// Everything one request runs with. Built by the host for each request, or
// by tests without any network.
class ScriptingContext {
 public:
  ScriptingContext(AppEnv& app, Request& request, Response& response, Session& session);
  ~ScriptingContext();

  Request& request() { return request_; }
  Response& response() { return response_; }
  Session& session() { return session_; }
  Server& server() { return server_; }
  Application& application() { return app_.application; }
  AppEnv& app() { return app_; }
  const AppConfig& config() const { return app_.config; }
  const Regional& regional() const { return app_.config.regional; }
  DateTime now() const { return app_.clock->now(); }

  // The database connection the hosting page opens and passes to page
  // methods. By default it is opened on first use and kept for this request;
  // the host lends its thread's pooled connection instead.
  db::Connection& conn();
  void lend_connection(db::Connection* c) { lent_ = c; }
  // A connection to the database file `file` (a component that is given
  // its database by path): conn() when it is the application's own
  // database, else one opened for the rest of this request.
  db::Connection& connection_to(const std::filesystem::path& file);
  // Drops the connection (as `quit` closes its caller's connection).
  void close_connection();

 private:
  AppEnv& app_;
  Request& request_;
  Response& response_;
  Session& session_;
  Server server_;
  db::Connection* lent_ = nullptr;
  std::unique_ptr<db::Connection> own_;
  std::vector<std::unique_ptr<db::Connection>> others_;
};

// Byte ceiling of one upload: the session's MaxSize (set at login), else the
// application's upload limit.
std::uint64_t upload_ceiling(const Session& session, const AppConfig& config);

// A hosting page: the code behind "<name>.asp".
using PageHandler = std::function<void(ScriptingContext&)>;

enum class Access {
  open,   // served without a logged-in session (login pages, error pages)
  login,  // needs Session login = "yes"; others go to "default.htm"
};

struct PageSpec {
  std::string name;  // "login.asp"
  PageHandler handler;
  Access access = Access::login;
  // Takes a raw-body upload: the body ceiling is the session's MaxSize
  // instead of the small form limit.
  bool upload = false;
  // Slow work (password hashing, SMS sends, document conversion): runs on
  // the host's worker pool, off the I/O threads; when the pool's queue is
  // full the request is answered 503 at once.
  bool pooled = false;
};

// Component classes by ProgID and hosting pages by name, filled explicitly by
// one registration function per subsystem.
class Registry {
 public:
  using Factory = std::function<std::unique_ptr<PageComponent>()>;

  // Registers "deskserver.<class_name>".
  void add_component(std::string_view class_name, Factory factory);
  template <class T>
  void add_component(std::string_view class_name) {
    add_component(class_name, [] { return std::make_unique<T>(); });
  }
  void add_page(PageSpec entry);

  // nullptr when unknown. ProgIDs and page names are case-insensitive.
  std::unique_ptr<PageComponent> create(std::string_view progid) const;
  const PageSpec* page(std::string_view name) const;
  bool has_component(std::string_view progid) const;
  // Every registered page name, lower-cased, in order.
  std::vector<std::string> page_names() const;

 private:
  std::map<std::string, Factory, std::less<>> components_;
  std::map<std::string, PageSpec, std::less<>> pages_;
};

}  // namespace desk::asp
