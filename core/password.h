// Password storage: argon2id hashes in libsodium's string format.
#pragma once

#include <string>
#include <string_view>

namespace desk::password {

enum class Cost { interactive, min };

Cost cost_from_name(std::string_view name);  // "min" or anything else = interactive
std::string hash(std::string_view plain, Cost cost = Cost::interactive);
bool is_hash(std::string_view stored);

struct Check {
  bool ok = false;
  bool rehash = false;  // the stored value is plain text and should be replaced
};
// Compares a typed password with a stored hash, or with a plain-text
// password left by an imported database.
Check verify(std::string_view stored, std::string_view typed);

// A random password of `length` letters and digits, for new installations.
std::string generate(std::size_t length = 12);

}  // namespace desk::password
