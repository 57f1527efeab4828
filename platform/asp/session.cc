#include "platform/asp/session.h"

#include <sodium.h>

#include <cstdint>
#include <cstring>

#include "core/error.h"
#include "core/text.h"

namespace desk::asp {

std::string random_token() {
  // Each thread draws from its own ChaCha20 stream, keyed once from the
  // system's generator, a fresh nonce per token: no system call per token.
  struct Stream {
    unsigned char key[crypto_stream_chacha20_KEYBYTES];
    std::uint64_t counter = 0;
    Stream() {
      if (sodium_init() < 0) throw Error(Errc::internal, "libsodium init failed");
      randombytes_buf(key, sizeof key);
    }
    ~Stream() { sodium_memzero(key, sizeof key); }
  };
  thread_local Stream stream;
  unsigned char nonce[crypto_stream_chacha20_NONCEBYTES] = {};
  static_assert(sizeof nonce >= sizeof stream.counter);
  const std::uint64_t n = stream.counter++;
  std::memcpy(nonce, &n, sizeof n);
  unsigned char raw[32];
  crypto_stream_chacha20(raw, sizeof raw, nonce, stream.key);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : raw) {
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

SessionStore::SessionStore(std::chrono::seconds idle_timeout) : timeout_(idle_timeout) {
  if (sodium_init() < 0) throw Error(Errc::internal, "libsodium init failed");
  // Classic session ids are nine-digit numbers; start somewhere random.
  counter_ = 100000000 + static_cast<std::int64_t>(randombytes_uniform(800000000));
}

std::int64_t SessionStore::next_id() {
  return ++counter_;
}

std::shared_ptr<SessionData> SessionStore::find(const std::string& token) {
  if (token.empty()) return nullptr;
  std::lock_guard lock(mu_);
  auto it = sessions_.find(token);
  if (it == sessions_.end()) return nullptr;
  auto now = std::chrono::steady_clock::now();
  // Held here so that erasing the entry cannot free the mutex while it is locked.
  std::shared_ptr<SessionData> data = it->second;
  std::lock_guard dl(data->mu);
  if (data->abandoned || now - data->last_used > timeout_) {
    sessions_.erase(it);
    return nullptr;
  }
  data->last_used = now;
  return data;
}

std::pair<std::string, std::shared_ptr<SessionData>> SessionStore::create() {
  auto data = std::make_shared<SessionData>();
  data->last_used = std::chrono::steady_clock::now();
  std::string token = random_token();
  std::lock_guard lock(mu_);
  data->id = next_id();
  sessions_.emplace(token, data);
  return {token, data};
}

std::string SessionStore::rotate(const std::string& old_token,
                                 const std::shared_ptr<SessionData>& data) {
  std::string token = random_token();
  std::lock_guard lock(mu_);
  sessions_.erase(old_token);
  {
    std::lock_guard dl(data->mu);
    data->id = next_id();
    data->last_used = std::chrono::steady_clock::now();
  }
  sessions_.emplace(token, data);
  return token;
}

void SessionStore::remove(const std::string& token) {
  std::lock_guard lock(mu_);
  sessions_.erase(token);
}

std::size_t SessionStore::sweep() {
  auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(mu_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    std::shared_ptr<SessionData> data = it->second;  // outlives the lock below
    std::lock_guard dl(data->mu);
    if (data->abandoned || now - data->last_used > timeout_)
      it = sessions_.erase(it);
    else
      ++it;
  }
  return sessions_.size();
}

std::size_t SessionStore::size() const {
  std::lock_guard lock(mu_);
  return sessions_.size();
}

Session::Session(SessionStore* store, std::string token) : store_(store), token_(std::move(token)) {
  if (store_) data_ = store_->find(token_);
  if (!data_) token_.clear();
}

void Session::ensure() {
  if (data_) return;
  if (!store_) {
    data_ = std::make_shared<SessionData>();
    return;
  }
  auto [token, data] = store_->create();
  token_ = token;
  data_ = data;
  changed_ = true;
}

std::string Session::get(std::string_view key) const {
  if (!data_) return "";
  std::lock_guard lock(data_->mu);
  for (const auto& [k, v] : data_->values)
    if (text::iequals(k, key)) return v;
  return "";
}

void Session::set(std::string_view key, std::string value) {
  ensure();
  std::lock_guard lock(data_->mu);
  for (auto& [k, v] : data_->values) {
    if (text::iequals(k, key)) {
      v = std::move(value);
      return;
    }
  }
  data_->values.emplace_back(std::string(key), std::move(value));
}

void Session::remove(std::string_view key) {
  if (!data_) return;
  std::lock_guard lock(data_->mu);
  auto& vals = data_->values;
  for (auto it = vals.begin(); it != vals.end(); ++it) {
    if (text::iequals(it->first, key)) {
      vals.erase(it);
      return;
    }
  }
}

std::vector<std::pair<std::string, std::string>> Session::contents() const {
  if (!data_) return {};
  std::lock_guard lock(data_->mu);
  return data_->values;
}

std::int64_t Session::SessionID() {
  ensure();
  std::lock_guard lock(data_->mu);
  return data_->id;
}

void Session::Abandon() {
  abandoned_ = true;
  if (!data_) return;
  {
    std::lock_guard lock(data_->mu);
    data_->abandoned = true;
  }
  if (store_ && !token_.empty()) store_->remove(token_);
  changed_ = true;
}

void Session::clear() {
  if (!data_) return;
  std::lock_guard lock(data_->mu);
  data_->values.clear();
  data_->tokens.clear();
}

namespace {
constexpr int kIssued = 0, kBusy = 1, kSpent = 2;
constexpr std::size_t kMaxTokens = 200;
}  // namespace

std::string Session::issue_token() {
  ensure();
  std::string t = random_token().substr(0, 32);
  std::lock_guard lock(data_->mu);
  auto& list = data_->tokens;
  if (list.size() >= kMaxTokens) list.erase(list.begin());
  list.emplace_back(t, kIssued);
  return t;
}

Session::Claim Session::claim_token(std::string_view token) {
  if (!data_ || token.empty()) return Claim::unknown;
  std::lock_guard lock(data_->mu);
  for (auto& [t, state] : data_->tokens) {
    if (t != token) continue;
    if (state == kSpent) return Claim::spent;
    if (state == kBusy) return Claim::busy;
    state = kBusy;
    return Claim::claimed;
  }
  return Claim::unknown;
}

void Session::settle_token(std::string_view token, bool spent) {
  if (!data_) return;
  std::lock_guard lock(data_->mu);
  for (auto& [t, state] : data_->tokens)
    if (t == token && state == kBusy) state = spent ? kSpent : kIssued;
}

void Session::renew() {
  ensure();
  if (!store_) return;
  token_ = store_->rotate(token_, data_);
  changed_ = true;
}

std::string session_token_of(std::string_view cookie_header) {
  const std::string prefix = std::string(kSessionCookie) + "=";
  for (const auto& part : text::split(cookie_header, ';')) {
    std::string p = text::trim(part);
    if (p.rfind(prefix, 0) == 0) return p.substr(prefix.size());
  }
  return "";
}

std::string session_set_cookie(const Session& session, const std::string& path, bool secure) {
  std::string value = session.abandoned() ? "" : session.token();
  return std::string(kSessionCookie) + "=" + value + "; Path=" + path +
         (session.abandoned() ? "; Max-Age=0" : "") + "; HttpOnly; SameSite=Lax" +
         (secure && !session.abandoned() ? "; Secure" : "");
}

}  // namespace desk::asp
