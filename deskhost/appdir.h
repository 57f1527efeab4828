// Creating and refreshing application folders.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/asp/app_config.h"

namespace desk::deskhost {

struct InitOptions {
  std::filesystem::path appdir;
  std::filesystem::path site;  // source of the static site (UTF-8 text files)
  std::string edition = "office";
  std::string admin_password;  // empty: generate one
  bool demo = false;
  std::string password_cost = "interactive";
};

struct InitResult {
  std::string admin_password;
  // Demo accounts as "login id / password / name" lines.
  std::vector<std::string> demo_accounts;
};

// Creates the folder: static site, app.conf, data/office.db with the schema,
// one department and the administrator "admin". Throws Error(conflict) when
// the database already exists, leaving everything as it was.
InitResult init_appdir(const InitOptions& opt);

// Copies the static site into the folder; text files are converted to
// GB18030. Existing files are replaced; data/ and app.conf are not touched.
// Creates the folders of stored uploads (media, upload store) when missing.
void install_site(const std::filesystem::path& site, const std::filesystem::path& appdir);

}  // namespace desk::deskhost
