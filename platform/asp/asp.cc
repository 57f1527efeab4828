#include "platform/asp/asp.h"

#include "core/text.h"

namespace desk::asp {

ScriptingContext& PageComponent::ctx() const {
  if (!ctx_) throw Error(Errc::internal, "page component used outside its page");
  return *ctx_;
}
Request& PageComponent::request() const {
  return ctx().request();
}
Response& PageComponent::response() const {
  return ctx().response();
}
Session& PageComponent::session() const {
  return ctx().session();
}
Server& PageComponent::server() const {
  return ctx().server();
}
Application& PageComponent::application() const {
  return ctx().application();
}
void PageComponent::write(std::string_view utf8) const {
  ctx().response().Write(utf8);
}
DateTime PageComponent::now() const {
  return ctx().now();
}
const Regional& PageComponent::regional() const {
  return ctx().regional();
}
std::string PageComponent::remote_addr() const {
  return ctx().request().ServerVariables("REMOTE_ADDR");
}

std::filesystem::path Server::MapPath(std::string_view virtual_path) const {
  namespace fs = std::filesystem;
  std::string v(virtual_path);
  for (char& c : v)
    if (c == '\\') c = '/';
  std::string base;
  if (v.empty() || v[0] != '/') {
    // Relative to the folder of the current page inside the application.
    std::string script = ctx_.request().ServerVariables("SCRIPT_NAME");
    std::string prefix = "/" + ctx_.app().name + "/";
    std::string inside = script.rfind(prefix, 0) == 0 ? script.substr(prefix.size()) : "";
    size_t slash = inside.rfind('/');
    base = slash == std::string::npos ? "" : inside.substr(0, slash + 1);
  } else {
    std::string prefix = "/" + ctx_.app().name;
    if (v.rfind(prefix + "/", 0) == 0 || v == prefix) v = v.substr(prefix.size());
    while (!v.empty() && v[0] == '/') v.erase(0, 1);
  }
  fs::path rel = fs::path(base + v).lexically_normal();
  for (const auto& part : rel)
    if (part == "..") throw Error(Errc::forbidden, "path leaves the application folder");
  fs::path root = ctx_.app().root.lexically_normal();
  fs::path out = (root / rel).lexically_normal();
  if (!out.empty() && out.filename().empty()) out = out.parent_path();
  return out;
}

std::unique_ptr<PageComponent> Server::create(std::string_view progid) {
  const Registry* reg = ctx_.app().registry;
  std::unique_ptr<PageComponent> c = reg ? reg->create(progid) : nullptr;
  if (!c) throw Error(Errc::not_found, "no component " + std::string(progid));
  c->OnStartPage(ctx_);
  return c;
}

ComponentRef<PageComponent> Server::CreateObject(std::string_view progid) {
  return ComponentRef<PageComponent>(create(progid));
}

ScriptingContext::ScriptingContext(AppEnv& app, Request& request, Response& response,
                                   Session& session)
    : app_(app), request_(request), response_(response), session_(session), server_(*this) {}

ScriptingContext::~ScriptingContext() = default;

db::Connection& ScriptingContext::conn() {
  if (lent_) return *lent_;
  if (!own_) {
    if (!app_.open_db) throw Error(Errc::config, "application has no database");
    own_ = app_.open_db();
  }
  return *own_;
}

db::Connection& ScriptingContext::connection_to(const std::filesystem::path& file) {
  std::error_code e1, e2;
  auto wanted = std::filesystem::weakly_canonical(file, e1);
  auto own = std::filesystem::weakly_canonical(app_.database, e2);
  if (!app_.database.empty() && !e1 && !e2 && wanted == own) return conn();
  others_.push_back(db::open_sqlite(file.string()));
  return *others_.back();
}

void ScriptingContext::close_connection() {
  lent_ = nullptr;
  own_.reset();
}

std::uint64_t upload_ceiling(const Session& session, const AppConfig& config) {
  long long max = 0;
  if (text::parse_int(session.get("MaxSize"), max) && max >= 0)
    return static_cast<std::uint64_t>(max);
  return config.upload_limit;
}

void Registry::add_component(std::string_view class_name, Factory factory) {
  std::string key = "deskserver." + text::to_lower(class_name);
  if (components_.count(key)) throw Error(Errc::internal, "component registered twice: " + key);
  components_.emplace(std::move(key), std::move(factory));
}

void Registry::add_page(PageSpec entry) {
  std::string key = text::to_lower(entry.name);
  if (pages_.count(key)) throw Error(Errc::internal, "page registered twice: " + key);
  pages_.emplace(std::move(key), std::move(entry));
}

std::unique_ptr<PageComponent> Registry::create(std::string_view progid) const {
  auto it = components_.find(text::to_lower(progid));
  return it == components_.end() ? nullptr : it->second();
}

bool Registry::has_component(std::string_view progid) const {
  return components_.count(text::to_lower(progid)) > 0;
}

std::vector<std::string> Registry::page_names() const {
  std::vector<std::string> out;
  for (const auto& [name, entry] : pages_) out.push_back(name);
  return out;
}

const PageSpec* Registry::page(std::string_view name) const {
  auto it = pages_.find(text::to_lower(name));
  return it == pages_.end() ? nullptr : &it->second;
}

}  // namespace desk::asp
