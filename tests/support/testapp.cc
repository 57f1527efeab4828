#include "tests/support/testapp.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "core/password.h"
#include "core/text.h"
#include "deskhost/register_all.h"
#include "server/host/schema.h"

namespace desk::testing {

namespace fs = std::filesystem;

TestApp::TestApp(asp::AppConfig config, DateTime now, asp::HostOptions host_options) {
  std::random_device rd;
  dir_ = fs::temp_directory_path() / ("desktest-" + std::to_string(rd()) + std::to_string(rd()));
  fs::create_directories(dir_ / "data");
  config.password_cost = "min";
  clock_ = std::make_shared<FixedClock>(now);
  registry_ = std::make_unique<asp::Registry>();
  deskhost::register_all(*registry_);
  host_ = std::make_unique<asp::SiteHost>(*registry_, host_options);
  asp::VirtualDir vd;
  vd.name = "tarvo";
  vd.path = dir_;
  env_ = &host_->add(vd, config, clock_);
  db_ =
      db::open_sqlite((dir_ / config.database).string(), {.busy_timeout_ms = 5000, .create = true});
  host::migrate(*db_);
}

TestApp::~TestApp() {
  db_.reset();
  host_.reset();
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::int64_t TestApp::add_user(const std::string& uid, const std::string& name,
                               const std::string& pw, const std::string& type,
                               const std::string& power, const std::string& dep) {
  return db_->insert(
      "INSERT INTO userlist (uid, name, passwd, depid, dep, type, power) VALUES (?, ?, ?, '1', ?, "
      "?, ?)",
      {uid, name, password::hash(pw, password::Cost::min), dep, type, power});
}

void TestApp::write_file(const std::string& rel, const std::string& bytes) {
  fs::path p = dir_ / rel;
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << bytes;
}

http::Message TestApp::make(const std::string& method, const std::string& target,
                            const std::string& body, const std::string& content_type) {
  http::Message m;
  m.method = method;
  m.target = target;
  m.body = body;
  m.remote_addr = "10.0.0.7";
  m.headers.emplace_back("Host", "127.0.0.1:8080");
  if (!content_type.empty()) m.headers.emplace_back("Content-Type", content_type);
  return m;
}

http::Reply TestApp::send(http::Message m) {
  return host_->handle(m);
}

std::string header(const http::Reply& r, const std::string& name) {
  for (const auto& [k, v] : r.headers)
    if (text::iequals(k, name)) return v;
  return "";
}

std::string text_of(const http::Reply& r) {
  return text::from_gb18030(r.body);
}

std::string form_body(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string body;
  for (const auto& [k, v] : fields) {
    if (!body.empty()) body += "&";
    body += text::url_encode(text::to_gb18030(k)) + "=" + text::url_encode(text::to_gb18030(v));
  }
  return body;
}

http::Reply Browser::send(http::Message m) {
  m.remote_addr = remote_addr;
  if (!token_.empty())
    m.headers.emplace_back("Cookie", std::string(asp::kSessionCookie) + "=" + token_);
  http::Reply r = app_.send(std::move(m));
  for (const auto& [k, v] : r.headers) {
    if (!text::iequals(k, "Set-Cookie")) continue;
    std::string prefix = std::string(asp::kSessionCookie) + "=";
    if (v.rfind(prefix, 0) != 0) continue;
    std::string value = v.substr(prefix.size(), v.find(';') - prefix.size());
    token_ = v.find("Max-Age=0") != std::string::npos ? "" : value;
  }
  return r;
}

http::Reply Browser::get(const std::string& target) {
  return send(app_.make("GET", "/tarvo/" + target));
}

http::Reply Browser::post(const std::string& path,
                          const std::vector<std::pair<std::string, std::string>>& fields) {
  auto all = fields;
  bool named = token_.empty();  // a browser without a session has no form token
  for (const auto& [k, v] : fields) named = named || k == "formtoken";
  if (!named) all.emplace_back("formtoken", form_token());
  return send(
      app_.make("POST", "/tarvo/" + path, form_body(all), "application/x-www-form-urlencoded"));
}

http::Reply Browser::post_raw(const std::string& target, const std::string& bytes,
                              const std::string& content_type) {
  std::string t = target;
  if (!token_.empty() && t.find("formtoken=") == std::string::npos)
    t += (t.find('?') == std::string::npos ? "?" : "&") + std::string("formtoken=") + form_token();
  return send(app_.make("POST", "/tarvo/" + t, bytes, content_type));
}

std::string Browser::form_token() {
  asp::Session s(&app_.env().sessions, token_);
  std::string t = s.issue_token();
  token_ = s.token();
  return t;
}

std::string Browser::session(const std::string& key) const {
  return asp::Session(&app_.env().sessions, token_).get(key);
}

void Browser::set_session(const std::string& key, const std::string& value) {
  asp::Session s(&app_.env().sessions, token_);
  s.set(key, value);
  token_ = s.token();
}

std::vector<std::pair<std::string, std::string>> Browser::session_values() const {
  return asp::Session(&app_.env().sessions, token_).contents();
}

std::int64_t Browser::session_id() const {
  auto data = app_.env().sessions.find(token_);
  return data ? data->id : 0;
}

bool Browser::login(const std::string& uid, const std::string& pw) {
  http::Reply r = post("login.asp", {{"username", uid}, {"password", pw}});
  return r.status == 302 && header(r, "Location") == "main.asp";
}

std::string post_and_follow(Browser& b, const std::string& path,
                            const std::vector<std::pair<std::string, std::string>>& fields) {
  http::Reply r = b.post(path, fields);
  if (r.status != 302) {
    ADD_FAILURE() << path << " answered " << r.status << " instead of a redirect";
    return text_of(r);
  }
  return text_of(b.get(header(r, "Location")));
}

}  // namespace desk::testing
