// Password hashes of document protection: the legacy 16+16-bit key of the
// password, written as hex text, then a salted, iterated digest.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace desk::docx {

// Editing restrictions, numbered as the word-processor's object model does.
enum class ProtectionType { tracked_changes = 0, comments = 1, forms = 2, read_only = 3 };

enum class HashAlgorithm { sha1, sha256, sha384, sha512 };

// The legacy key: the first 15 UTF-16 units of the password, each reduced to
// one byte (low byte, or high byte when the low one is 0), folded into a high
// word from the initial-code table and encryption matrix and a low word from
// the rotating checksum. 0 for an empty password.
std::uint32_t legacy_password_key(std::string_view utf8_password);

// The stored hash: H0 = digest(salt || UTF-16LE(hex of the key's bytes in
// little-endian order, upper case)); H(i+1) = digest(H(i) || uint32le(i)),
// `spin_count` times. Returns the raw digest.
std::string protection_hash(std::string_view utf8_password, std::string_view salt,
                            HashAlgorithm algorithm, std::uint32_t spin_count);

std::string base64_encode(std::string_view bytes);
// Throws docx::Error(malformed) on text that is not base64.
std::string base64_decode(std::string_view text);

}  // namespace desk::docx
