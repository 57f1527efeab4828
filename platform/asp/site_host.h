// The web host: serves each application folder under its virtual directory
// (http://host:port/NAME/...), runs hosting pages for "*.asp" and sends the
// static files of the folder.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/asp/asp.h"
#include "platform/http/http.h"

namespace desk::asp {

// One virtual directory as the metabase records it.
struct VirtualDir {
  std::string name;            // "tarvo"
  std::filesystem::path path;  // the application folder
  std::vector<std::string> default_documents = {"Default.asp", "index.asp", "index.htm",
                                                "default.htm"};
  bool read = true;    // static files may be read
  bool script = true;  // hosting pages may run
  bool write = false;  // no page writes files through plain HTTP verbs
  bool in_process = true;
};

// Reads the metabase (a JSON array of virtual directories, or an object
// with a "vdirs" array). A missing file gives no directories.
std::vector<VirtualDir> load_metabase(const std::filesystem::path& file);
void save_metabase(const std::filesystem::path& file, const std::vector<VirtualDir>& dirs);

class SiteHost : public http::Handler {
 public:
  // `registry` must outlive the host.
  explicit SiteHost(const Registry& registry);
  ~SiteHost() override;

  // Adds an application; reads APPDIR/app.conf. Throws Error(config).
  AppEnv& add(const VirtualDir& dir);
  // For tests: an application with the given settings and clock.
  AppEnv& add(const VirtualDir& dir, const AppConfig& config, std::shared_ptr<const Clock> clock);
  AppEnv* find(std::string_view name);

  // Form posts and other ordinary requests may carry this many bytes.
  std::uint64_t form_limit = 1024 * 1024;

  std::uint64_t body_limit(const http::Message& head) override;
  http::Reply handle(http::Message& request) override;

 private:
  struct App {
    VirtualDir dir;
    std::unique_ptr<AppEnv> env;
  };
  struct Target;
  Target resolve(const std::string& raw_target) const;
  http::Reply serve_page(App& app, const PageSpec& page, const std::string& rel,
                         const std::string& query, http::Message& m);
  http::Reply serve_file(App& app, const std::string& rel, const http::Message& m);
  http::Reply error_reply(int status, const std::string& message) const;

  const Registry& registry_;
  std::vector<App> apps_;
};

// Cookie that carries the session token.
inline constexpr const char* kSessionCookie = "DESKSID";

}  // namespace desk::asp
