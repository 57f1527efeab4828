// The setup program: creates the site's virtual directory and application in
// the metabase that deskhost serves, pointing to the folder the program file
// is in, and tells the administrator the address of the system.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>

#include "setup/editions.h"

namespace desk::setup {

// What the program prints first, while it works.
inline constexpr std::string_view kLabel = "正在配置IIS服务";
inline constexpr std::string_view kDefaultDocuments = "Default.asp,index.asp,index.htm";
// The application root path is this prefix and the directory's name.
inline constexpr std::string_view kAppRootPrefix = "/LM/W3SVC/1/Root/";
// Recorded as given (read, write, execute, source, script); deskhost grants
// read and script only.
inline constexpr long long kAccessFlags = 535;
// strID when the virtual directory exists already.
inline constexpr std::string_view kExistsID = "-2147024713";
// The metabase when neither --metabase nor DESK_METABASE names one.
inline constexpr std::string_view kDefaultMetabase = "/etc/deskhost/metabase.json";

// One setup's state: the last failure's description and number.
class VdirSetup {
 public:
  explicit VdirSetup(std::filesystem::path metabase) : metabase_(std::move(metabase)) {}

  // Creates the virtual directory strWebSite under the site's root, as an
  // in-process application named strFriendlyName for the folder strWebPath
  // with the default documents strDefaultDoc. False on failure, with strID
  // (the failure's number as decimal text) and strError set; a failure after
  // the directory was created leaves it as far as it was written.
  bool WebVirtualDir(const std::string& strWebSite, const std::string& strFriendlyName,
                     const std::string& strWebPath, const std::string& strDefaultDoc);

  std::string strError;
  std::string strID;

 private:
  std::filesystem::path metabase_;
};

// A run at start-up, or one asked for again (--again), which reports a
// failure in one line.
enum class RunFrom { load, again };
enum class Outcome { created, exists, failed };

struct RunOptions {
  std::filesystem::path metabase;
  std::filesystem::path folder;  // of the application
  std::string host;              // the computer's address
  unsigned short port = 80;      // where the site listens; shown unless 80
  RunFrom from = RunFrom::load;
};

struct RunResult {
  Outcome outcome;
  std::string message;  // lines separated by "\n"
};

// One setup run of the edition: creates its virtual directory and composes
// the message for the administrator.
RunResult setup_run(const Edition& edition, const RunOptions& options);

// The computer's address for browsers on the network: the first IPv4
// address of an interface that is up and not loopback; else the host name.
std::string local_address();
// The folder of the running program file.
std::filesystem::path program_folder();

// The program: options, one run, the message on stdout (stderr on failure)
// with notes for the administrator on stderr. Exit status: 0 created,
// 3 existed already, 1 failed, 2 bad command line.
int run_program(const Edition& edition, int argc, char** argv, std::ostream& out,
                std::ostream& err);

}  // namespace desk::setup
