// Settings of one application folder, kept in APPDIR/app.conf as
// "key = value" lines.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/clock.h"

namespace desk::asp {

struct AppConfig {
  std::string edition = "office";  // "office" or "law"
  std::string variant = "base";    // which edition classes the pages use: base, simp, full
  Regional regional;
  std::string database = "data/office.db";  // relative to the application folder
  // Cost of password hashing: "interactive" (the default) or "min" (tests).
  std::string password_cost = "interactive";
  // Upload ceiling in bytes until a session carries MaxSize.
  std::uint64_t upload_limit = 5000000;

  // Throws Error(config) on an unreadable file or a bad value.
  static AppConfig load(const std::filesystem::path& file);
  void save(const std::filesystem::path& file) const;
};

}  // namespace desk::asp
