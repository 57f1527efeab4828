#include "platform/asp/site_host.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "core/error.h"
#include "core/text.h"

namespace desk::asp {

namespace fs = std::filesystem;
using nlohmann::json;

std::vector<VirtualDir> load_metabase(const fs::path& file) {
  std::vector<VirtualDir> out;
  if (!fs::exists(file)) return out;
  std::ifstream in(file);
  json doc;
  try {
    doc = json::parse(in);
  } catch (const std::exception& e) {
    throw Error(Errc::config, "metabase " + file.string() + ": " + e.what());
  }
  const json& list = doc.is_object() ? doc.value("vdirs", json::array()) : doc;
  if (!list.is_array())
    throw Error(Errc::config, "metabase: expected a list of virtual directories");
  for (const auto& j : list) {
    VirtualDir d;
    try {
      d.name = j.at("name").get<std::string>();
      d.path = j.at("path").get<std::string>();
      if (j.contains("default_documents")) {
        d.default_documents.clear();
        for (const auto& s : text::split(j["default_documents"].get<std::string>(), ','))
          if (!text::trim(s).empty()) d.default_documents.push_back(text::trim(s));
      }
      if (j.contains("access")) {
        const auto& a = j["access"];
        d.read = a.value("read", d.read);
        d.script = a.value("script", d.script);
        d.write = a.value("write", d.write);
      }
      d.in_process = j.value("in_process", d.in_process);
    } catch (const json::exception& e) {
      throw Error(Errc::config, std::string("metabase entry: ") + e.what());
    }
    out.push_back(std::move(d));
  }
  return out;
}

void save_metabase(const fs::path& file, const std::vector<VirtualDir>& dirs) {
  json list = json::array();
  for (const auto& d : dirs) {
    std::string docs;
    for (const auto& s : d.default_documents) docs += (docs.empty() ? "" : ",") + s;
    list.push_back({{"name", d.name},
                    {"path", d.path.string()},
                    {"default_documents", docs},
                    {"access", {{"read", d.read}, {"script", d.script}, {"write", d.write}}},
                    {"in_process", d.in_process}});
  }
  std::ofstream out(file);
  out << json{{"vdirs", list}}.dump(2) << "\n";
  if (!out) throw Error(Errc::io, "cannot write metabase " + file.string());
}

struct SiteHost::Target {
  int status = 0;  // non-zero: refuse with this status
  std::string vdir;
  std::string rel;  // decoded path inside the application, '/'-separated
  std::string query;
  bool bare = false;  // "/name" without the trailing slash
};

namespace {

// Each worker thread keeps one connection per application, keyed by the
// application's instance number so a later application never inherits one.
thread_local std::map<std::uint64_t, std::unique_ptr<db::Connection>> t_connections;

db::Connection* thread_connection(AppEnv& env) {
  auto& slot = t_connections[env.instance];
  if (!slot && env.open_db) slot = env.open_db();
  return slot.get();
}

std::string content_type_for(const fs::path& p) {
  static const std::map<std::string, std::string> types = {
      {".htm", "text/html; charset=gb2312"},
      {".html", "text/html; charset=gb2312"},
      {".css", "text/css; charset=gb2312"},
      {".js", "application/javascript; charset=gb2312"},
      {".txt", "text/plain; charset=gb2312"},
      {".xml", "text/xml"},
      {".gif", "image/gif"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".svg", "image/svg+xml"},
      {".swf", "application/x-shockwave-flash"},
      {".mp3", "audio/mpeg"},
      {".wav", "audio/wav"},
      {".mid", "audio/midi"},
      {".wmv", "video/x-ms-wmv"},
      {".doc", "application/msword"},
      {".docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {".cab", "application/vnd.ms-cab-compressed"},
  };
  auto it = types.find(text::to_lower(p.extension().string()));
  return it == types.end() ? "application/octet-stream" : it->second;
}

void add_security_headers(http::Reply& r) {
  r.headers.emplace_back("X-Content-Type-Options", "nosniff");
  r.headers.emplace_back("Referrer-Policy", "same-origin");
  r.headers.emplace_back("X-Frame-Options", "SAMEORIGIN");
  r.headers.emplace_back("Content-Security-Policy", "frame-ancestors 'self'");
}

std::string cookie_value(const std::string& header, const std::string& name) {
  for (const auto& part : text::split(header, ';')) {
    std::string p = text::trim(part);
    if (p.rfind(name + "=", 0) == 0) return p.substr(name.size() + 1);
  }
  return "";
}

bool ends_with_ci(const std::string& s, std::string_view suffix) {
  return s.size() >= suffix.size() &&
         text::iequals(std::string_view(s).substr(s.size() - suffix.size()), suffix);
}

}  // namespace

SiteHost::SiteHost(const Registry& registry) : registry_(registry) {}

SiteHost::~SiteHost() {
  for (auto& a : apps_) t_connections.erase(a.env->instance);
}

AppEnv& SiteHost::add(const VirtualDir& dir) {
  AppConfig cfg = AppConfig::load(dir.path / "app.conf");
  return add(dir, cfg, system_clock());
}

AppEnv& SiteHost::add(const VirtualDir& dir, const AppConfig& config,
                      std::shared_ptr<const Clock> clock) {
  if (dir.name.empty() || dir.name.find('/') != std::string::npos)
    throw Error(Errc::config, "bad virtual directory name '" + dir.name + "'");
  if (find(dir.name)) throw Error(Errc::config, "virtual directory " + dir.name + " given twice");
  App app{dir, std::make_unique<AppEnv>()};
  AppEnv& env = *app.env;
  env.name = dir.name;
  env.root = fs::absolute(dir.path);
  env.config = config;
  env.registry = &registry_;
  env.clock = std::move(clock);
  env.sessions.set_idle_timeout(std::chrono::minutes(config.session_timeout));
  fs::path dbfile = env.root / config.database;
  env.open_db = [dbfile] { return db::open_sqlite(dbfile.string()); };
  apps_.push_back(std::move(app));
  return env;
}

AppEnv* SiteHost::find(std::string_view name) {
  for (auto& a : apps_)
    if (text::iequals(a.dir.name, name)) return a.env.get();
  return nullptr;
}

SiteHost::Target SiteHost::resolve(const std::string& raw) const {
  Target t;
  size_t q = raw.find('?');
  std::string path = raw.substr(0, q);
  if (q != std::string::npos) t.query = raw.substr(q + 1);
  if (path.empty() || path[0] != '/') {
    t.status = 400;
    return t;
  }
  std::string decoded = text::url_decode_path(path);
  if (decoded.find('\\') != std::string::npos || decoded.find('\0') != std::string::npos) {
    t.status = 400;
    return t;
  }
  auto segs = text::split(decoded.substr(1), '/');
  if (segs.empty() || segs[0].empty()) {
    t.status = 404;
    return t;
  }
  t.vdir = segs[0];
  t.bare = segs.size() == 1;
  for (size_t i = 1; i < segs.size(); ++i) {
    const std::string& s = segs[i];
    if (s.empty() && i + 1 == segs.size()) break;  // trailing slash
    if (s.empty() || s[0] == '.') {                // "..", ".", hidden files, "//"
      t.status = s == "." || s == ".." ? 400 : 404;
      return t;
    }
    t.rel += (t.rel.empty() ? "" : "/") + s;
  }
  if (!t.rel.empty() && decoded.back() == '/') t.rel += "/";
  return t;
}

std::uint64_t SiteHost::body_limit(const http::Message& head) {
  Target t = resolve(head.target);
  if (t.status) return form_limit;
  App* app = nullptr;
  for (auto& a : apps_)
    if (text::iequals(a.dir.name, t.vdir)) app = &a;
  if (!app) return form_limit;
  const PageSpec* page = registry_.page(t.rel);
  if (!page || !page->upload) return form_limit;
  Session s(&app->env->sessions, cookie_value(head.header("Cookie"), kSessionCookie));
  return upload_ceiling(s, app->env->config);
}

http::Reply SiteHost::error_reply(int status, const std::string& message) const {
  http::Reply r;
  r.status = status;
  r.headers.emplace_back("Content-Type", "text/html; charset=gb2312");
  r.body = text::to_gb18030(
      "<html><head><meta http-equiv='Content-Type' content='text/html; charset=gb2312'>"
      "<title>" +
      std::to_string(status) +
      "</title></head>"
      "<body style='font-size:12px;margin:40px'><p>" +
      text::html(message) + "</p></body></html>");
  return r;
}

http::Reply SiteHost::handle(http::Message& m) {
  http::Reply r;
  [&] {
    if (m.method != "GET" && m.method != "HEAD" && m.method != "POST") {
      r = error_reply(405, "不支持的请求方法。");
      r.headers.emplace_back("Allow", "GET, HEAD, POST");
      return;
    }
    Target t = resolve(m.target);
    if (t.status) {
      r = error_reply(t.status, t.status == 404 ? "找不到该页面。" : "请求地址无效。");
      return;
    }
    App* app = nullptr;
    for (auto& a : apps_)
      if (text::iequals(a.dir.name, t.vdir)) app = &a;
    if (!app) {
      r = error_reply(404, "找不到该页面。");
      return;
    }
    if (m.method == "POST") {
      std::string origin = m.header("Origin");
      std::string host = m.header("Host");
      if (!origin.empty() && origin != "http://" + host && origin != "https://" + host) {
        r = error_reply(403, "拒绝来自其他站点的提交。");
        return;
      }
    }
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
          r = serve_page(*app, *p, rel, t.query, m);
          return;
        }
        if (!ends_with_ci(doc, ".asp") && fs::is_regular_file(app->env->root / rel)) {
          r = serve_file(*app, rel, m);
          return;
        }
      }
      r = error_reply(404, "找不到该页面。");
      return;
    }
    if (ends_with_ci(t.rel, ".asp")) {
      const PageSpec* p = registry_.page(t.rel);
      if (!p) {
        r = error_reply(404, "找不到该页面。");
        return;
      }
      if (!app->dir.script) {
        r = error_reply(403, "该目录不允许执行页面。");
        return;
      }
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
  Session session(&env.sessions, cookie_value(m.header("Cookie"), kSessionCookie));
  ScriptingContext ctx(env, request, response, session);
  http::Reply r;

  if (page.access == Access::login && session.get("login") != "yes") {
    // A cookie that names no live session: the session ran out.
    bool expired =
        session.token().empty() && !cookie_value(m.header("Cookie"), kSessionCookie).empty();
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
      r = error_reply(status, msg);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "page %s failed: %s\n", rel.c_str(), e.what());
      r = error_reply(500, "系统出错，操作未能完成。");
    }
    // A page must never leave its transaction open for the next one.
    if (auto& slot = t_connections[env.instance]; slot && slot->in_transaction()) slot->rollback();
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
      r.body = response.body();
    }
    for (const auto& h : response.headers()) r.headers.push_back(h);
  }
  bool has_cache = false;
  for (const auto& [k, v] : r.headers)
    if (text::iequals(k, "Cache-Control")) has_cache = true;
  if (!has_cache) r.headers.emplace_back("Cache-Control", "private, no-cache");
  if (session.cookie_changed()) {
    std::string path = "/" + app.dir.name + "/";
    if (session.abandoned())
      r.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=; Path=" + path +
                                               "; Max-Age=0; HttpOnly; SameSite=Lax");
    else
      r.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + session.token() +
                                               "; Path=" + path + "; HttpOnly; SameSite=Lax");
  }
  return r;
}

http::Reply SiteHost::serve_file(App& app, const std::string& rel, const http::Message& m) {
  if (!app.dir.read) return error_reply(403, "该目录不允许读取。");
  if (m.method == "POST") {
    http::Reply r = error_reply(405, "静态文件不接受提交。");
    r.headers.emplace_back("Allow", "GET, HEAD");
    return r;
  }
  auto first = rel.substr(0, rel.find('/'));
  if (text::iequals(first, "data") || text::iequals(rel, "app.conf"))
    return error_reply(404, "找不到该页面。");
  std::error_code ec;
  fs::path root = fs::canonical(app.env->root, ec);
  if (ec) return error_reply(404, "找不到该页面。");
  fs::path file = fs::canonical(root / rel, ec);
  if (ec || !fs::is_regular_file(file, ec)) return error_reply(404, "找不到该页面。");
  // Symbolic links must not lead out of the application folder.
  auto mismatch = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
  if (mismatch.first != root.end()) return error_reply(404, "找不到该页面。");
  auto size = fs::file_size(file, ec);
  auto mtime = fs::last_write_time(file, ec).time_since_epoch().count();
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(mtime));
  http::Reply r;
  r.headers.emplace_back("ETag", etag);
  r.headers.emplace_back("Cache-Control", "no-cache");
  if (m.header("If-None-Match") == etag) {
    r.status = 304;
    return r;
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream buf;
  buf << in.rdbuf();
  r.body = buf.str();
  r.headers.emplace_back("Content-Type", content_type_for(file));
  return r;
}

}  // namespace desk::asp
