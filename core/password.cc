#include "core/password.h"

#include <sodium.h>

#include "core/error.h"

namespace desk::password {
namespace {

void init() {
  static const bool ok = sodium_init() >= 0;
  if (!ok) throw Error(Errc::internal, "libsodium init failed");
}

}  // namespace

Cost cost_from_name(std::string_view name) {
  return name == "min" ? Cost::min : Cost::interactive;
}

std::string hash(std::string_view plain, Cost cost) {
  init();
  char out[crypto_pwhash_STRBYTES];
  unsigned long long ops =
      cost == Cost::min ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
  size_t mem = cost == Cost::min ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
  if (crypto_pwhash_str_alg(out, plain.data(), plain.size(), ops, mem,
                            crypto_pwhash_ALG_ARGON2ID13) != 0)
    throw Error(Errc::internal, "password hashing ran out of memory");
  return out;
}

bool is_hash(std::string_view stored) {
  return stored.rfind("$argon2id$", 0) == 0;
}

Check verify(std::string_view stored, std::string_view typed) {
  init();
  Check c;
  if (is_hash(stored)) {
    std::string s(stored);
    c.ok = crypto_pwhash_str_verify(s.c_str(), typed.data(), typed.size()) == 0;
    return c;
  }
  // Plain text from an imported database: constant-time comparison.
  c.ok = stored.size() == typed.size() &&
         (stored.empty() || sodium_memcmp(stored.data(), typed.data(), stored.size()) == 0);
  c.rehash = c.ok;
  return c;
}

std::string generate(std::size_t length) {
  init();
  static const char alphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  std::string out;
  for (std::size_t i = 0; i < length; ++i)
    out += alphabet[randombytes_uniform(sizeof alphabet - 1)];
  return out;
}

}  // namespace desk::password
