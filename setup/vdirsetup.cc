#include "setup/vdirsetup.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdlib>
#include <ostream>

#include "platform/asp/metabase.h"
#include "platform/http/http.h"

namespace desk::setup {

namespace fs = std::filesystem;

bool VdirSetup::WebVirtualDir(const std::string& strWebSite, const std::string& strFriendlyName,
                              const std::string& strWebPath, const std::string& strDefaultDoc) {
  try {
    asp::MetabaseRoot root(metabase_);
    asp::MetabaseDir d = root.Create(asp::kVirtualDirClass, strWebSite);
    d.SetInfo();
    d = root.GetObject(asp::kVirtualDirClass, strWebSite);
    d.AppCreate(true);
    d.Put("AppFriendlyName", strFriendlyName);
    d.Put("AppRoot", std::string(kAppRootPrefix) + strWebSite);
    d.Put("Path", strWebPath);
    d.Put("AppIsolated", 0LL);
    d.Put("DefaultDoc", strDefaultDoc);
    d.Put("AccessFlags", kAccessFlags);
    d.SetInfo();
    return true;
  } catch (const asp::MetabaseError& e) {
    strID = std::to_string(e.number());
    strError = e.what();
  } catch (const std::exception& e) {
    strID = std::to_string(asp::kMetabaseUnreachable);
    strError = e.what();
  }
  return false;
}

RunResult setup_run(const Edition& edition, const RunOptions& options) {
  const std::string name(edition.name);
  VdirSetup setup(options.metabase);
  bool ok =
      setup.WebVirtualDir(name, name, options.folder.string(), std::string(kDefaultDocuments));
  const std::string address = "http://" + options.host +
                              (options.port == 80 ? "" : ":" + std::to_string(options.port)) + "/" +
                              name;
  const std::string second(edition.second_line);
  if (ok)
    return {Outcome::created, "在服务器" + options.host + "上新建虚拟目录" + name + "成功\n" +
                                  second + "\n\n" + address};
  if (setup.strID == kExistsID)
    return {Outcome::exists,
            "在服务器" + options.host + "已存在虚拟目录" + name + "\n" + second + "\n\n" + address};
  if (options.from == RunFrom::load)
    return {Outcome::failed,
            "操作系统没有IIS服务，请安装IIS服务\n具体错误如下：\n\n" + setup.strError};
  return {Outcome::failed, "操作系统没有IIS服务，请安装IIS服务。具体错误如下：" + setup.strError};
}

std::string local_address() {
  std::string found;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) == 0) {
    for (ifaddrs* a = list; a && found.empty(); a = a->ifa_next) {
      if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
      if (!(a->ifa_flags & IFF_UP) || (a->ifa_flags & IFF_LOOPBACK)) continue;
      char buf[INET_ADDRSTRLEN] = {};
      const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
      if (::inet_ntop(AF_INET, &in->sin_addr, buf, sizeof buf)) found = buf;
    }
    ::freeifaddrs(list);
  }
  if (found.empty()) {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0) found = name;
  }
  return found.empty() ? "localhost" : found;
}

fs::path program_folder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path();
}

namespace {

bool is_loopback(const std::string& host) {
  return host.starts_with("127.") || host == "localhost" || host == "::1";
}

int usage(const Edition& edition, std::ostream& err) {
  err << "usage: " << edition.program << " [--again] [--metabase FILE]\n"
      << "  creates the virtual directory " << edition.name
      << " for the folder this program is in, in the metabase that\n"
      << "  deskhost serve --metabase FILE serves (default: $DESK_METABASE, else "
      << kDefaultMetabase << ")\n"
      << "  --again  runs the setup again, reporting a failure in one line\n";
  return 2;
}

}  // namespace

int run_program(const Edition& edition, int argc, char** argv, std::ostream& out,
                std::ostream& err) {
  RunOptions opt;
  const char* env = std::getenv("DESK_METABASE");
  opt.metabase = env && *env ? fs::path(env) : fs::path(kDefaultMetabase);
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--again")
      opt.from = RunFrom::again;
    else if (a == "--metabase" && i + 1 < argc)
      opt.metabase = argv[++i];
    else
      return usage(edition, err);
  }
  out << kLabel << std::endl;

  // Where deskhost listens for this metabase: its "host" and "port", else
  // deskhost's own defaults.
  const http::Options defaults;
  asp::SiteBinding binding;
  try {
    binding = asp::read_metabase(opt.metabase).binding;
  } catch (const std::exception&) {
    // The setup run reports what is wrong with the file.
  }
  const std::string listen = binding.host.empty() ? defaults.host : binding.host;
  opt.port = binding.port ? binding.port : defaults.port;
  opt.host = local_address();
  opt.folder = program_folder();

  RunResult r = setup_run(edition, opt);
  (r.outcome == Outcome::failed ? err : out) << r.message << std::endl;
  if (r.outcome == Outcome::failed) return 1;
  if (!fs::exists(opt.folder / "app.conf"))
    err << "note: " << opt.folder.string()
        << " is not an application folder (no app.conf); create one there with "
           "deskhost init, or copy this program into one and run it again there\n";
  if (is_loopback(listen))
    err << "note: deskhost serves this metabase on " << listen << " only; set \"host\" in "
        << opt.metabase.string() << " (for example \"0.0.0.0\") so that other computers reach it\n";
  return r.outcome == Outcome::created ? 0 : 3;
}

}  // namespace desk::setup
