// deskhost: creates application folders and serves them.
//
//   deskhost init APPDIR [--edition office|law] [--admin-password PW] [--demo]
//                 [--self-signed [--tls-name NAME]...]
//   deskhost update-site APPDIR
//   deskhost serve [--host 127.0.0.1] [--port 8080] [--vdir NAME=APPDIR]...
//                  [--metabase FILE] [--threads N] [--quiet]
//                  (the metabase is followed: new directories are served at
//                  once, when the file changes or on SIGHUP)
//                  [--max-connections N] [--max-per-address N]
//                  [--pool-threads N] [--pool-queue N]
//                  [--body-min-rate BYTES] [--body-timeout SECONDS]
//                  [--https-port N --cert FILE --key FILE]
// HTTPS is served beside HTTP when a port, a certificate and a key are given,
// on the command line or in the metabase object ("https_port",
// "tls_certificate", "tls_key"). init --self-signed makes a trial pair in
// APPDIR/data/tls/ (cert.pem, key.pem) for localhost, 127.0.0.1 and each NAME.
//   deskhost modem NUMBER TEXT [--app APPDIR] [--device DEV] [--speed BAUD]
//                  [--framing 8N1] [--centre NUMBER]
#include <sys/resource.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/text.h"
#include "deskhost/appdir.h"
#include "deskhost/modem.h"
#include "deskhost/register_all.h"
#include "deskhost/sites.h"
#include "deskhost/tls_cert.h"
#include "platform/asp/site_host.h"
#include "platform/http/http.h"
#include "server/host/edition.h"
#include "server/host/schema.h"

#ifndef DESK_SITE_DIR
#define DESK_SITE_DIR "site"
#endif

namespace fs = std::filesystem;
using namespace desk;

namespace {

int usage() {
  std::fprintf(
      stderr,
      "usage:\n"
      "  deskhost init APPDIR [--edition office|law] [--admin-password PW] [--demo]\n"
      "                [--site DIR] [--password-cost interactive|min]\n"
      "                [--self-signed [--tls-name NAME]...]\n"
      "  deskhost update-site APPDIR [--site DIR]\n"
      "  deskhost serve [--host ADDR] [--port N] [--vdir NAME=APPDIR]... [--metabase FILE]\n"
      "                 (the metabase is followed: read again when it changes or on SIGHUP)\n"
      "                 [--threads N] [--quiet]\n"
      "                 [--max-connections N] [--max-per-address N]   (1000, 64; 0: none)\n"
      "                 [--pool-threads N] [--pool-queue N]           (2, 32)\n"
      "                 [--body-min-rate BYTES] [--body-timeout S]    (8192/s, 120 s)\n"
      "                 [--https-port N --cert FILE --key FILE]\n"
      "  deskhost modem NUMBER TEXT [--app APPDIR] [--device DEV] [--speed BAUD]\n"
      "                 [--framing 8N1] [--centre NUMBER]\n");
  return 2;
}

// Takes the value of option argv[i] ("--x V"); throws on a missing value.
std::string value_of(int argc, char** argv, int& i) {
  if (i + 1 >= argc) throw Error(Errc::config, std::string("missing value for ") + argv[i]);
  return argv[++i];
}

// The number that follows option argv[i], within [lo, hi].
long long number_of(int argc, char** argv, int& i, long long lo, long long hi) {
  std::string name = argv[i];
  long long n = 0;
  if (!text::parse_int(value_of(argc, argv, i), n) || n < lo || n > hi)
    throw Error(Errc::config, "bad value for " + name);
  return n;
}

// SIGHUP asks the metabase watcher for a reload.
std::atomic<deskhost::MetabaseWatcher*> g_watcher{nullptr};
extern "C" void on_hangup(int) {
  if (auto* w = g_watcher.load()) w->request_reload();
}

// Every connection takes a descriptor: allow as many as the hard limit lets.
void raise_descriptor_limit() {
  rlimit rl{};
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return;
  rlim_t want = rl.rlim_max == RLIM_INFINITY ? 65536 : std::min<rlim_t>(rl.rlim_max, 65536);
  if (rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur < want) {
    rl.rlim_cur = want;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
}

int cmd_init(int argc, char** argv) {
  if (argc < 3) return usage();
  deskhost::InitOptions opt;
  opt.appdir = argv[2];
  opt.site = DESK_SITE_DIR;
  bool self_signed = false;
  std::vector<std::string> tls_names;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--self-signed")
      self_signed = true;
    else if (a == "--tls-name")
      tls_names.push_back(value_of(argc, argv, i));
    else if (a == "--edition")
      opt.edition = value_of(argc, argv, i);
    else if (a == "--admin-password")
      opt.admin_password = value_of(argc, argv, i);
    else if (a == "--demo")
      opt.demo = true;
    else if (a == "--site")
      opt.site = value_of(argc, argv, i);
    else if (a == "--password-cost")
      opt.password_cost = value_of(argc, argv, i);
    else
      return usage();
  }
  auto r = deskhost::init_appdir(opt);
  std::printf("created application folder %s (%s edition)\n", opt.appdir.string().c_str(),
              opt.edition.c_str());
  std::printf("administrator: admin / %s\n", r.admin_password.c_str());
  for (const auto& line : r.demo_accounts) std::printf("demo user: %s\n", line.c_str());
  if (self_signed) {
    // Under data/, which is never served as a file.
    fs::path dir = opt.appdir / "data" / "tls";
    deskhost::make_self_signed(dir / "cert.pem", dir / "key.pem", tls_names);
    std::printf("self-signed certificate: serve with --https-port 8443 --cert %s --key %s\n",
                (dir / "cert.pem").string().c_str(), (dir / "key.pem").string().c_str());
  }
  const std::string_view vdir = host::virtual_directory(host::parse_edition(opt.edition));
  std::printf("serve it with: deskhost serve --vdir %.*s=%s\n", static_cast<int>(vdir.size()),
              vdir.data(), opt.appdir.string().c_str());
  return 0;
}

int cmd_update_site(int argc, char** argv) {
  if (argc < 3) return usage();
  fs::path site = DESK_SITE_DIR;
  for (int i = 3; i < argc; ++i) {
    if (std::string(argv[i]) == "--site")
      site = value_of(argc, argv, i);
    else
      return usage();
  }
  deskhost::install_site(site, argv[2]);
  std::printf("site files of %s refreshed\n", argv[2]);
  return 0;
}

unsigned short port_of(const std::string& v) {
  long long p = 0;
  if (!text::parse_int(v, p) || p < 0 || p > 65535) throw Error(Errc::config, "bad port " + v);
  return static_cast<unsigned short>(p);
}

int cmd_serve(int argc, char** argv) {
  http::Options hopt;
  asp::HostOptions site_opt;
  std::vector<asp::VirtualDir> dirs;
  fs::path metabase;
  std::string https_port, cert, key;
  bool host_given = false, port_given = false;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--host") {
      hopt.host = value_of(argc, argv, i);
      host_given = true;
    } else if (a == "--port") {
      hopt.port = port_of(value_of(argc, argv, i));
      port_given = true;
    } else if (a == "--threads") {
      hopt.threads = static_cast<unsigned>(number_of(argc, argv, i, 1, 256));
    } else if (a == "--max-connections") {
      hopt.max_connections = static_cast<unsigned>(number_of(argc, argv, i, 0, 1000000));
    } else if (a == "--max-per-address") {
      hopt.max_connections_per_address =
          static_cast<unsigned>(number_of(argc, argv, i, 0, 1000000));
    } else if (a == "--pool-threads") {
      site_opt.pool_threads = static_cast<unsigned>(number_of(argc, argv, i, 0, 256));
    } else if (a == "--pool-queue") {
      site_opt.pool_queue = static_cast<std::size_t>(number_of(argc, argv, i, 0, 100000));
    } else if (a == "--body-min-rate") {
      hopt.body_min_rate = static_cast<std::uint32_t>(number_of(argc, argv, i, 0, 1LL << 30));
    } else if (a == "--body-timeout") {
      hopt.body_timeout = std::chrono::seconds(number_of(argc, argv, i, 1, 86400));
    } else if (a == "--vdir") {
      std::string v = value_of(argc, argv, i);
      size_t eq = v.find('=');
      if (eq == std::string::npos || eq == 0) throw Error(Errc::config, "--vdir takes NAME=APPDIR");
      asp::VirtualDir d;
      d.name = v.substr(0, eq);
      d.path = v.substr(eq + 1);
      dirs.push_back(d);
    } else if (a == "--metabase") {
      metabase = value_of(argc, argv, i);
    } else if (a == "--quiet") {
      hopt.access_log = false;
    } else if (a == "--https-port") {
      https_port = value_of(argc, argv, i);
    } else if (a == "--cert") {
      cert = value_of(argc, argv, i);
    } else if (a == "--key") {
      key = value_of(argc, argv, i);
    } else {
      return usage();
    }
  }
  // The metabase is read whole before anything is served: a damaged file
  // stops the start. Its entries that cannot be served are reported and
  // left out, like those a setup program adds later.
  if (!metabase.empty()) {
    asp::SiteBinding binding = asp::read_metabase(metabase).binding;
    if (!host_given && !binding.host.empty()) hopt.host = binding.host;
    if (!port_given && binding.port) hopt.port = binding.port;
    // The host's HTTPS settings, unless the command line gives them.
    std::ifstream in(metabase);
    nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
    if (doc.is_object()) {
      auto setting = [&](std::string& out, const char* name) {
        if (out.empty() && doc.contains(name))
          out = doc[name].is_string() ? doc[name].get<std::string>() : doc[name].dump();
      };
      setting(https_port, "https_port");
      setting(cert, "tls_certificate");
      setting(key, "tls_key");
    }
  }
  if (!https_port.empty() && (cert.empty() || key.empty()))
    throw Error(Errc::config, "HTTPS needs --cert FILE and --key FILE");
  if (metabase.empty() && dirs.empty()) {
    throw Error(Errc::config, "nothing to serve: give --vdir NAME=APPDIR or --metabase FILE");
  }

  asp::Registry registry;
  deskhost::register_all(registry);
  asp::SiteHost site(registry, site_opt);
  for (const auto& d : dirs) deskhost::serve_dir(site, d);
  std::unique_ptr<deskhost::MetabaseWatcher> watcher;
  if (!metabase.empty()) {
    watcher = std::make_unique<deskhost::MetabaseWatcher>(site, metabase);
    watcher->reload();
    g_watcher = watcher.get();
    struct sigaction sa {};
    sa.sa_handler = on_hangup;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGHUP, &sa, nullptr);
    watcher->start();
  }
  raise_descriptor_limit();
  http::Server server(hopt, site);
  server.listen();
  std::fprintf(
      stderr,
      "deskhost: listening on http://%s:%u/ (at most %u connections, %u from one address)\n",
      hopt.host.c_str(), server.port(), server.max_connections(), hopt.max_connections_per_address);
  std::unique_ptr<http::Server> secure;
  if (!https_port.empty()) {
    http::Options sopt = hopt;
    sopt.port = port_of(https_port);
    sopt.tls_certificate = cert;
    sopt.tls_key = key;
    secure = std::make_unique<http::Server>(sopt, site);
    secure->listen();
    std::fprintf(stderr, "deskhost: listening on https://%s:%u/\n", sopt.host.c_str(),
                 secure->port());
    secure->start();
  }
  server.run(true);
  if (secure) secure->stop();  // its destructor waits for it
  g_watcher = nullptr;
  if (watcher) watcher->stop();
  return 0;
}

// Sends one text message through the modem and prints the exchange; exits 0
// when the modem confirmed it.
int cmd_modem(int argc, char** argv) {
  if (argc < 4) return usage();
  deskhost::ModemCheck check;
  check.number = argv[2];
  check.text = argv[3];
  for (int i = 4; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--app") {
      check.appdir = value_of(argc, argv, i);
    } else if (a == "--device") {
      check.device = value_of(argc, argv, i);
    } else if (a == "--framing") {
      check.framing = value_of(argc, argv, i);
    } else if (a == "--centre") {
      check.centre = value_of(argc, argv, i);
    } else if (a == "--speed") {
      long long v = 0;
      if (!text::parse_int(value_of(argc, argv, i), v) || v <= 0 || v > 10000000)
        throw Error(Errc::config, "bad speed");
      check.speed = static_cast<int>(v);
    } else {
      return usage();
    }
  }
  return deskhost::check_modem(check, std::cout).sent() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  try {
    if (cmd == "init") return cmd_init(argc, argv);
    if (cmd == "update-site") return cmd_update_site(argc, argv);
    if (cmd == "serve") return cmd_serve(argc, argv);
    if (cmd == "modem") return cmd_modem(argc, argv);
  } catch (const Error& e) {
    std::fprintf(stderr, "deskhost: %s\n", e.what());
    return e.code() == Errc::config ? 2 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "deskhost: %s\n", e.what());
    return 1;
  }
  return usage();
}
