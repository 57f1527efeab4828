// officectl: drives a document control from a script of calls, no browser.
//   officectl run SCRIPT [--drives DIR] [--work DIR] [--cookie TEXT] [--reader FILE]
//                        [--ftp-passive] [--ftp-timeout SECONDS]
//                        [--ftp-idle-timeout SECONDS] [--ftp-gb18030-names]
// SCRIPT "-" reads standard input. Windows paths in calls map into DIR of
// --drives (one folder per drive letter; default
// $XDG_DATA_HOME/deskoffice/drives); the work folder
// c:\windows\temp\temp1234 maps to --work (default: its place under the drives).
// --reader is the card reader library; the --ftp options are FtpOptions.
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "core/text.h"
#include "web/office.h"
#include "web/pane.h"
#include "web/script.h"

namespace {

int usage() {
  std::cerr << "usage: officectl run SCRIPT [--drives DIR] [--work DIR] [--cookie TEXT]\n"
               "                      [--reader FILE] [--ftp-passive] [--ftp-timeout SECONDS]\n"
               "                      [--ftp-idle-timeout SECONDS] [--ftp-gb18030-names]\n"
               "  runs the control calls of SCRIPT (\"-\" for standard input), one a line;\n"
               "  --reader FILE is the card reader library (e.g. build/lib/libdeskcardsim.so)\n";
  return 2;
}

std::filesystem::path default_drives() {
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x)
    return std::filesystem::path(x) / "deskoffice" / "drives";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : ".") / ".local" / "share" / "deskoffice" / "drives";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace desk::web;
  if (argc < 3 || std::string(argv[1]) != "run") return usage();
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
  office control({pane, word, messages, loop, focus, paths, ftp, reader});
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
