// officectl: the document control without a browser, and the document
// helper that gives the pages of the office suite the control.
//   officectl run SCRIPT [--drives DIR] [--work DIR] [--cookie TEXT] [--reader FILE]
//                        [--ftp-passive] [--ftp-timeout SECONDS]
//                        [--ftp-idle-timeout SECONDS] [--ftp-gb18030-names]
//   officectl serve [--origin URL] [--port N] [--drives DIR] [--work DIR]
//                   [--state DIR] [--editor CMD|none] [--timeout SECONDS]
//                   [--ca FILE] [--reader FILE] [--ftp-passive] [--test-ops] [--log]
//   officectl code [--state DIR]
// SCRIPT "-" reads standard input. Windows paths in calls map into DIR of
// --drives (one folder per drive letter; default
// $XDG_DATA_HOME/deskoffice/drives); the work folder
// c:\windows\temp\temp1234 maps to --work (default: its place under the drives).
// --reader is the card reader library; the --ftp options are FtpOptions.
// serve listens on 127.0.0.1:N (19280) for pages of origin URL only (without
// --origin, the URL in the file "origin" of the state folder); the pairing
// code it prints (and `officectl code` shows) is typed into the page once.
// --state (default $XDG_CONFIG_HOME/deskoffice) keeps the pairings.
// --editor opens each loaded document for the user (default: LibreOffice
// when installed). --ca names a PEM file of certificates to trust for the
// suite besides the system's (a trial suite's self-signed certificate).
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "core/text.h"
#include "platform/http/http.h"
#include "web/companion.h"
#include "web/docx/pdf.h"
#include "web/office.h"
#include "web/pane.h"
#include "web/script.h"

namespace {

int usage() {
  std::cerr
      << "usage: officectl run SCRIPT [--drives DIR] [--work DIR] [--cookie TEXT]\n"
         "                      [--reader FILE] [--ftp-passive] [--ftp-timeout SECONDS]\n"
         "                      [--ftp-idle-timeout SECONDS] [--ftp-gb18030-names]\n"
         "  runs the control calls of SCRIPT (\"-\" for standard input), one a line;\n"
         "  --reader FILE is the card reader library (e.g. build/lib/libdeskcardsim.so)\n"
         "       officectl serve [--origin URL] [--port N] [--drives DIR] [--work DIR]\n"
         "                       [--state DIR] [--editor CMD|none] [--timeout SECONDS]\n"
         "                       [--ca FILE] [--reader FILE] [--ftp-passive] [--test-ops] [--log]\n"
         "  the document helper for the pages of the office suite at URL\n"
         "       officectl code [--state DIR]\n"
         "  shows the current pairing code\n";
  return 2;
}

std::filesystem::path default_state() {
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
    return std::filesystem::path(x) / "deskoffice";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : ".") / ".config" / "deskoffice";
}

std::filesystem::path default_drives() {
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x)
    return std::filesystem::path(x) / "deskoffice" / "drives";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : ".") / ".local" / "share" / "deskoffice" / "drives";
}

int run_script(int argc, char** argv) {
  using namespace desk::web;
  if (argc < 3) return usage();
  std::string script = argv[2];
  std::filesystem::path drives = default_drives(), work;
  std::string cookie;
  std::shared_ptr<ReaderLibrary> reader;
  FtpOptions ftp;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--ftp-passive") {
      ftp.passive = true;
      continue;
    }
    if (a == "--ftp-gb18030-names") {
      ftp.gb18030_names = true;
      continue;
    }
    if (i + 1 >= argc) return usage();
    std::string v = argv[++i];
    long long seconds = 0;
    bool timeout = a == "--ftp-timeout" || a == "--ftp-idle-timeout";
    if (timeout && (!desk::text::parse_int(v, seconds) || seconds < 1)) return usage();
    if (a == "--drives")
      drives = v;
    else if (a == "--work")
      work = v;
    else if (a == "--cookie")
      cookie = v;
    else if (a == "--reader")
      reader = std::make_shared<ReaderLibrary>(v);
    else if (a == "--ftp-timeout")
      ftp.connect_timeout = static_cast<long>(seconds);
    else if (a == "--ftp-idle-timeout")
      ftp.idle_timeout = static_cast<long>(seconds);
    else
      return usage();
  }
  if (work.empty()) work = drives / "c" / "windows" / "temp" / "temp1234";

  std::ifstream file;
  if (script != "-") {
    file.open(script);
    if (!file) {
      std::cerr << "officectl: cannot read " << script << "\n";
      return 2;
    }
  }
  std::istream& in = script == "-" ? std::cin : file;

  PathMap paths(drives, work);
  SystemClock clock;
  MessageLoop loop(clock);
  StreamMessages messages(std::cout);
  FocusedWindow focus;
  HttpClient http;
  http.cookie = cookie;
  auto word = std::make_shared<DocxWord>(DocxWordOptions{paths.work(), {}, {}, {}});
  FetchingPane pane(loop, *word, paths, http, messages);
  office control({pane, word, messages, loop, focus, paths, &http, ftp, reader});
  ScriptRunner runner(control, *word, focus, loop, std::cout);
  int status = runner.run(in);
  // Leave nothing unsaved in the work folder.
  try {
    word->close(true);
  } catch (const std::exception& e) {
    std::cout << "[note] the document could not be saved: " << e.what() << std::endl;
    status = 1;
  }
  return status;
}

int serve(int argc, char** argv) {
  using namespace desk::web;
  CompanionOptions o;
  std::filesystem::path drives = default_drives(), work;
  o.state = default_state();
  unsigned short port = 19280;
  std::string editor = "default";
  bool log = false;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument("missing value for " + a);
      return argv[++i];
    };
    if (a == "--origin") {
      o.origin = value();
    } else if (a == "--port") {
      port = static_cast<unsigned short>(std::stoul(value()));
    } else if (a == "--drives") {
      drives = value();
    } else if (a == "--work") {
      work = value();
    } else if (a == "--state") {
      o.state = value();
    } else if (a == "--editor") {
      editor = value();
    } else if (a == "--timeout") {
      o.timeout_ms = std::stol(value()) * 1000;
    } else if (a == "--ca") {
      o.ca_file = value();
    } else if (a == "--reader") {
      o.reader = std::make_shared<ReaderLibrary>(value());
    } else if (a == "--ftp-passive") {
      o.ftp.passive = true;
    } else if (a == "--test-ops") {
      o.test_ops = true;
    } else if (a == "--log") {
      log = true;
    } else {
      return usage();
    }
  }
  if (o.origin.empty()) std::ifstream(o.state / "origin") >> o.origin;
  while (!o.origin.empty() && o.origin.back() == '/') o.origin.pop_back();
  if (o.origin.rfind("https://", 0) != 0 && o.origin.rfind("http://", 0) != 0) {
    std::cerr << "officectl: --origin (or the file " << (o.state / "origin").string()
              << ") names the office suite's address, such as https://oa.example.org:8443\n";
    return 2;
  }
  if (work.empty()) work = drives / "c" / "windows" / "temp" / "temp1234";
  o.drives = drives;
  o.work = work;
  if (editor == "default") {
    std::string soffice = desk::docx::find_converter();
    if (!soffice.empty()) o.editor = {soffice, "--writer"};
  } else if (editor != "none") {
    std::istringstream words(editor);
    for (std::string w; words >> w;) o.editor.push_back(w);
  }
  o.announce = [origin = o.origin](const std::string& code) {
    std::cout << "officectl: pairing code for " << origin << ": " << code << std::endl;
  };

  // Signals are taken by one thread; every other thread leaves them alone.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  SystemClock clock;
  MessageLoop loop(clock);
  Companion helper(o, loop);
  desk::http::Options hopt;
  hopt.host = "127.0.0.1";
  hopt.port = port;
  hopt.threads = 2;
  hopt.access_log = log;
  desk::http::Server server(hopt, helper);
  server.listen();
  helper.set_port(server.port());
  std::cout << "officectl: serving " << o.origin << " on http://127.0.0.1:" << server.port() << "/"
            << std::endl;
  server.start();

  std::atomic<bool> stopping{false};
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stop_signals, &sig);
    stopping = true;
    loop.post([] {});
  });
  while (!stopping) loop.wait_until(clock.now() + Millis(200));
  waiter.join();
  server.stop();
  return 0;
}

int show_code(int argc, char** argv) {
  std::filesystem::path state = default_state();
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--state" && i + 1 < argc)
      state = argv[++i];
    else
      return usage();
  }
  std::ifstream in(state / "pairing-code");
  std::string code;
  if (!(in >> code)) {
    std::cerr << "officectl: no pairing code; is officectl serve running?\n";
    return 1;
  }
  std::cout << code << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  try {
    if (cmd == "run") return run_script(argc, argv);
    if (cmd == "serve") return serve(argc, argv);
    if (cmd == "code") return show_code(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "officectl: " << e.what() << "\n";
    return 1;
  }
  return usage();
}
