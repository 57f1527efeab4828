#include "web/docx/pdf.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string_view>
#include <thread>
#include <vector>

#include "web/docx/error.h"

namespace desk::docx {
namespace {

std::string file_url(const std::filesystem::path& p) {
  static const char* hex = "0123456789ABCDEF";
  std::string out = "file://";
  for (unsigned char c : std::filesystem::absolute(p).string()) {
    if (isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string tail(const std::filesystem::path& log) {
  std::ifstream in(log, std::ios::binary);
  std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s.size() > 400 ? s.substr(s.size() - 400) : s;
}

}  // namespace

std::string find_converter(const PdfOptions& options) {
  if (options.soffice.find('/') != std::string::npos)
    return ::access(options.soffice.c_str(), X_OK) == 0 ? options.soffice : "";
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    auto colon = dirs.find(':', start);
    std::string dir =
        dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty()) {
      std::string candidate = dir + "/" + options.soffice;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return "";
}

std::filesystem::path convert_to_pdf(const std::filesystem::path& docx,
                                     const std::filesystem::path& out_dir,
                                     const std::filesystem::path& scratch,
                                     const PdfOptions& options) {
  std::string program = find_converter(options);
  if (program.empty())
    throw Error(Errc::unavailable,
                "printing needs LibreOffice (" + options.soffice + "), which is not installed");
  std::filesystem::path pdf = out_dir / (docx.stem().string() + ".pdf");
  std::error_code ec;
  std::filesystem::remove(pdf, ec);
  std::filesystem::path log = scratch / "convert.log";
  std::vector<std::string> args = {program,
                                   "--headless",
                                   "--norestore",
                                   "-env:UserInstallation=" + file_url(scratch / "profile"),
                                   "--infilter=MS Word 2007 XML",
                                   "--convert-to",
                                   "pdf",
                                   "--outdir",
                                   out_dir.string(),
                                   docx.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The child's environment: ours with HOME and TMPDIR in the scratch folder.
  std::vector<std::string> env = {"HOME=" + scratch.string(), "TMPDIR=" + scratch.string()};
  for (char** e = environ; *e; ++e) {
    std::string_view v = *e;
    if (v.substr(0, 5) != "HOME=" && v.substr(0, 7) != "TMPDIR=") env.emplace_back(v);
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid < 0) throw Error(Errc::unavailable, "cannot start LibreOffice: fork failed");
  if (pid == 0) {
    ::setpgid(0, 0);
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      throw Error(Errc::unavailable, "LibreOffice did not finish the PDF within " +
                                         std::to_string(options.timeout_seconds) + " s");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // LibreOffice may leave helper processes in its group; none may outlive us.
  ::kill(-pid, SIGKILL);
  std::ifstream in(pdf, std::ios::binary);
  char magic[5] = {};
  in.read(magic, 5);
  if (!in || std::string(magic, 5) != "%PDF-")
    throw Error(Errc::unavailable,
                "LibreOffice made no PDF of " + docx.filename().string() +
                    (WIFEXITED(status) ? " (exit " + std::to_string(WEXITSTATUS(status)) + ")"
                                       : " (killed)") +
                    ": " + tail(log));
  return pdf;
}

}  // namespace desk::docx
