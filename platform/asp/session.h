// Sessions: per-user state between pages, kept in memory by the host, and
// the cookie that carries a session's token.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace desk::asp {

// The values of one session. Keys are compared case-insensitively and kept
// in the order they were first set. Guarded by its own mutex: frames of one
// window are served in parallel.
struct SessionData {
  mutable std::mutex mu;
  std::vector<std::pair<std::string, std::string>> values;
  std::int64_t id = 0;  // the numeric SessionID
  std::chrono::steady_clock::time_point last_used;
  bool abandoned = false;
  // Once-only tokens of the forms this session was given, oldest first.
  std::vector<std::pair<std::string, int>> tokens;
};

// All sessions of one application. Tokens are 256-bit random values (the
// cookie); a session unused for `idle_timeout` is gone.
class SessionStore {
 public:
  explicit SessionStore(std::chrono::seconds idle_timeout = std::chrono::minutes(20));

  // The live session for a cookie token, touched; nullptr when unknown or expired.
  std::shared_ptr<SessionData> find(const std::string& token);
  // A new empty session and its token.
  std::pair<std::string, std::shared_ptr<SessionData>> create();
  // Moves a session to a fresh token and numeric id (values kept); returns the token.
  std::string rotate(const std::string& old_token, const std::shared_ptr<SessionData>& data);
  void remove(const std::string& token);
  // Drops expired sessions; returns how many are left.
  std::size_t sweep();
  std::size_t size() const;
  void set_idle_timeout(std::chrono::seconds t) { timeout_ = t; }

 private:
  std::int64_t next_id();

  mutable std::mutex mu_;
  std::unordered_map<std::string, std::shared_ptr<SessionData>> sessions_;
  std::chrono::seconds timeout_;
  std::int64_t counter_;
};

// The Session object of one request. A session is created on the first write
// or the first read of SessionID; reading an unset key gives "".
class Session {
 public:
  Session(SessionStore* store, std::string token);

  std::string get(std::string_view key) const;
  std::string operator[](std::string_view key) const { return get(key); }
  void set(std::string_view key, std::string value);
  void remove(std::string_view key);
  // Key/value pairs in the order the keys were first set.
  std::vector<std::pair<std::string, std::string>> contents() const;
  std::int64_t SessionID();
  // Ends the session: its values stay readable for the rest of this page,
  // the next request starts afresh.
  void Abandon();
  bool abandoned() const { return abandoned_; }
  // Gives the session a new token and id, keeping its values, so that an id
  // known before login is worthless after it.
  void renew();
  // Removes every value and form token (a login starts from a fresh session).
  void clear();

  // Once-only tokens: issue_token hands out a new random token (the session
  // keeps the newest 200); claim_token takes an issued token for one request
  // (false when it is unknown, spent or claimed by a request in flight);
  // settle_token spends a claimed token or, when the request was refused,
  // gives it back so the same form can be posted again.
  enum class Claim { claimed, unknown, spent, busy };
  std::string issue_token();
  Claim claim_token(std::string_view token);
  void settle_token(std::string_view token, bool spent);

  // For the host: the cookie token to send when it changed ("" to expire it).
  bool cookie_changed() const { return changed_; }
  const std::string& token() const { return token_; }

 private:
  void ensure();

  SessionStore* store_;
  std::string token_;
  std::shared_ptr<SessionData> data_;
  bool changed_ = false;
  bool abandoned_ = false;
};

// Cookie that carries the session token.
inline constexpr const char* kSessionCookie = "DESKSID";

// 64 hex digits of a ChaCha20 stream keyed from the system's random source,
// per thread (session, form and transfer tokens).
std::string random_token();

// The session token in a request's Cookie header ("" when there is none).
std::string session_token_of(std::string_view cookie_header);

// The Set-Cookie value for a session whose cookie changed on this page
// (cookie_changed()): its new token, or an expired cookie after Abandon.
// `path` is the application's path, "/tarvo/"; over HTTPS (`secure`) the
// cookie is marked Secure.
std::string session_set_cookie(const Session& session, const std::string& path, bool secure);

}  // namespace desk::asp
