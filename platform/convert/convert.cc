#include "platform/convert/convert.h"

#include <fcntl.h>
#include <signal.h>
#include <sodium.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

extern char** environ;

namespace desk::convert {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNotDocument =
    "该正文不是可以预览的文字处理文档（.docx、.doc、.odt、.rtf）。";
constexpr const char* kNotConverted = "该正文无法转换为 PDF，文件可能已损坏。";
constexpr const char* kTooSlow = "该正文转换为 PDF 的时间过长，已放弃。";
constexpr const char* kNoProgram = "服务器上没有安装 LibreOffice，不能预览正文。";

// The extension LibreOffice is told, from the first bytes; "" for bytes
// that are not a word-processing document.
std::string extension_of(std::string_view b) {
  if (b.substr(0, 4) == std::string_view("PK\x03\x04", 4)) return ".docx";
  if (b.substr(0, 8) == std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) return ".doc";
  if (b.substr(0, 5) == "{\\rtf") return ".rtf";
  return "";
}

std::string file_url(const fs::path& p) {
  static const char* hex = "0123456789ABCDEF";
  std::string out = "file://";
  for (unsigned char c : fs::absolute(p).string()) {
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

void write_file(const fs::path& p, std::string_view bytes) {
  fs::path tmp = p;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  fs::rename(tmp, p);
}

std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs LibreOffice on `input`, writing into `out_dir`; "" on success, else
// why not (for the log). Kills the process group at the deadline, or when
// `stop` is set (the service is going away).
std::string run_converter(const std::string& program, const fs::path& input,
                          const fs::path& out_dir, const fs::path& scratch,
                          std::chrono::seconds timeout, bool& too_slow,
                          const std::atomic<bool>& stop) {
  std::vector<std::string> args = {
      program,        "--headless",
      "--norestore",  "-env:UserInstallation=" + file_url(scratch / "profile"),
      "--convert-to", "pdf",
      "--outdir",     out_dir.string(),
      input.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"HOME=" + scratch.string(), "TMPDIR=" + scratch.string()};
  for (char** e = environ; *e; ++e) {
    std::string_view v = *e;
    if (v.substr(0, 5) != "HOME=" && v.substr(0, 7) != "TMPDIR=") env.emplace_back(v);
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string log = (scratch / "convert.log").string();

  pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
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
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) break;
    if (stop || std::chrono::steady_clock::now() > deadline) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      too_slow = !stop;
      return stop ? "stopped" : "no PDF within " + std::to_string(timeout.count()) + " s";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(-pid, SIGKILL);  // helpers of its group do not outlive it
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  std::string why = read_text(log);
  if (why.size() > 300) why = why.substr(why.size() - 300);
  return (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status)) : "killed") + ": " +
         why;
}

}  // namespace

std::string version_key(std::string_view bytes) {
  static const bool ready = sodium_init() >= 0;
  (void)ready;
  unsigned char h[32];
  crypto_generichash(h, sizeof h, reinterpret_cast<const unsigned char*>(bytes.data()),
                     bytes.size(), nullptr, 0);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : h) {
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

std::string find_program(const std::string& name) {
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : "";
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    auto colon = dirs.find(':', start);
    std::string dir =
        dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    if (colon == std::string::npos) return "";
    start = colon + 1;
  }
}

PdfService::PdfService(Options options) : options_(std::move(options)) {
  worker_ = std::thread([this] { work(); });
}

PdfService::~PdfService() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
    aborting_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  worker_.join();
}

Outcome PdfService::request(const fs::path& cache, const std::string& key,
                            const std::function<std::string()>& load) {
  const fs::path pdf = cache / (key + ".pdf"), failed = cache / (key + ".failed");
  const std::string id = (cache / key).string();
  auto known = [&]() -> std::optional<Outcome> {
    std::error_code ec;
    if (fs::exists(pdf, ec)) return Outcome{State::ready, pdf, ""};
    if (fs::exists(failed, ec)) return Outcome{State::failed, {}, read_text(failed)};
    if (pending_.count(id)) return Outcome{State::pending, {}, ""};
    return std::nullopt;
  };
  {
    std::lock_guard lock(mu_);
    if (auto o = known()) return *o;
    if (queue_.size() >= options_.max_queue) return {State::busy, {}, ""};
  }
  if (find_program(options_.soffice).empty()) return {State::failed, {}, kNoProgram};
  std::string bytes = load();
  std::lock_guard lock(mu_);
  if (auto o = known()) return *o;
  if (queue_.size() >= options_.max_queue) return {State::busy, {}, ""};
  std::error_code ec;
  fs::create_directories(cache, ec);
  if (extension_of(bytes).empty()) {
    write_file(failed, kNotDocument);
    return {State::failed, {}, kNotDocument};
  }
  pending_.insert(id);
  queue_.push_back({cache, key, std::move(bytes)});
  wake_.notify_all();
  return {State::pending, {}, ""};
}

void PdfService::drain() {
  std::unique_lock lock(mu_);
  idle_.wait(lock, [&] { return queue_.empty() && !running_; });
}

void PdfService::work() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mu_);
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
      running_ = true;
    }
    try {
      convert(job);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "pdf preview: %s\n", e.what());
    }
    {
      std::lock_guard lock(mu_);
      pending_.erase((job.cache / job.key).string());
      running_ = false;
    }
    idle_.notify_all();
  }
}

void PdfService::convert(const Job& job) {
  std::string tmpl = (job.cache / (".work-" + job.key.substr(0, 16) + "-XXXXXX")).string();
  if (!::mkdtemp(tmpl.data()))
    throw std::runtime_error("no scratch folder in " + job.cache.string());
  const fs::path scratch = tmpl;
  struct Cleanup {
    fs::path p;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(p, ec);
    }
  } cleanup{scratch};
  const fs::path input = scratch / ("body" + extension_of(job.bytes));
  write_file(input, job.bytes);
  const std::string program = find_program(options_.soffice);
  bool too_slow = false;
  std::string why = program.empty() ? "no program"
                                    : run_converter(program, input, scratch, scratch,
                                                    options_.timeout, too_slow, aborting_);
  if (aborting_) return;  // nothing is kept of a conversion cut short
  const fs::path made = scratch / "body.pdf";
  std::string magic = read_text(made).substr(0, 5);
  if (why.empty() && magic == "%PDF-") {
    fs::rename(made, job.cache / (job.key + ".pdf"));
    return;
  }
  std::fprintf(stderr, "pdf preview of %s: %s\n", job.key.c_str(),
               why.empty() ? "no PDF made" : why.c_str());
  write_file(job.cache / (job.key + ".failed"), too_slow ? kTooSlow : kNotConverted);
}

PdfService& pdf_service() {
  static PdfService service;
  return service;
}

}  // namespace desk::convert
