// An application folder in a temporary directory with the whole schema, all
// pages registered and a fixed clock; requests go through the web host
// without any network.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "platform/asp/site_host.h"
#include "platform/db/db.h"

namespace desk::testing {

class TestApp {
 public:
  explicit TestApp(asp::AppConfig config = {}, DateTime now = {2006, 12, 3, 15, 30, 45},
                   asp::HostOptions host_options = {});
  ~TestApp();

  asp::AppEnv& env() { return *env_; }
  db::Connection& db() { return *db_; }  // for arranging and checking rows
  FixedClock& clock() { return *clock_; }
  const std::filesystem::path& dir() const { return dir_; }
  asp::SiteHost& host() { return *host_; }
  // Tests may add pages of their own.
  asp::Registry& registry() { return *registry_; }

  // Adds a user row (password stored hashed); returns its id.
  std::int64_t add_user(const std::string& uid, const std::string& name,
                        const std::string& password, const std::string& type = "1",
                        const std::string& power = "1", const std::string& dep = "办公室");

  // Writes a file into the application folder.
  void write_file(const std::string& rel, const std::string& bytes);

  // One request through the host; `body` is sent as it is.
  http::Message make(const std::string& method, const std::string& target,
                     const std::string& body = "", const std::string& content_type = "");
  http::Reply send(http::Message m);

 private:
  std::filesystem::path dir_;
  std::shared_ptr<FixedClock> clock_;
  std::unique_ptr<asp::Registry> registry_;
  std::unique_ptr<asp::SiteHost> host_;
  asp::AppEnv* env_ = nullptr;
  std::unique_ptr<db::Connection> db_;
};

// A browser with a cookie jar on one TestApp (virtual directory "tarvo").
class Browser {
 public:
  explicit Browser(TestApp& app) : app_(app) {}

  http::Reply get(const std::string& path_and_query);
  // Posts url-encoded fields; values are UTF-8 here and GB18030 on the wire.
  // Like a form of the site, the post of a browser with a session carries a
  // fresh once-only form token unless the fields name one ("formtoken", which
  // may be "" for none).
  http::Reply post(const std::string& path,
                   const std::vector<std::pair<std::string, std::string>>& fields);
  // Posts raw bytes as the whole body; a fresh form token goes into the query
  // unless it names one.
  http::Reply post_raw(const std::string& path_and_query, const std::string& bytes,
                       const std::string& content_type = "application/octet-stream");
  // A once-only form token of this browser's session, as a page hands it out.
  std::string form_token();

  // The browser's Session, read and written directly.
  std::string session(const std::string& key) const;
  void set_session(const std::string& key, const std::string& value);
  std::vector<std::pair<std::string, std::string>> session_values() const;
  std::int64_t session_id() const;
  // Logs in through login.asp; true when answered with the redirect to main.asp.
  bool login(const std::string& uid, const std::string& password);

  const std::string& session_token() const { return token_; }
  void set_session_token(std::string t) { token_ = std::move(t); }
  std::string remote_addr = "10.0.0.7";

 private:
  http::Reply send(http::Message m);
  TestApp& app_;
  std::string token_;
};

// Posts a form that answers with a redirect (post, redirect, get) and returns
// the text of the page the redirect leads to; a post answered otherwise fails
// the calling test and returns the answer's text.
std::string post_and_follow(Browser& b, const std::string& path,
                            const std::vector<std::pair<std::string, std::string>>& fields);

// Helpers on replies.
std::string header(const http::Reply& r, const std::string& name);
// The body decoded from GB18030 to UTF-8.
std::string text_of(const http::Reply& r);
// Url-encodes fields the way a GB2312 page posts them.
std::string form_body(const std::vector<std::pair<std::string, std::string>>& fields);

}  // namespace desk::testing
