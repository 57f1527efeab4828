// A self-signed certificate for trying the suite over HTTPS.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace desk::deskhost {

// Writes a new P-256 key (readable by the owner only) and a certificate
// for it, signed by itself, valid for 825 days for the host names and IP
// addresses in `names` (always with localhost and 127.0.0.1). Throws
// Error(io) when either file cannot be written, Error(internal) when OpenSSL
// fails.
void make_self_signed(const std::filesystem::path& certificate, const std::filesystem::path& key,
                      std::vector<std::string> names);

}  // namespace desk::deskhost
