// Converting stored documents to PDF with LibreOffice run headless as a child
// process, off the request path: one worker thread takes conversions from a
// bounded queue, each under a time limit, and keeps every result (the PDF,
// or why there is none) in a cache folder under the document version's key,
// so a version is converted once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

namespace desk::convert {

struct Options {
  std::string soffice = "soffice";   // program name (looked up on PATH) or path
  std::chrono::seconds timeout{90};  // one conversion, start to end
  std::size_t max_queue = 8;         // conversions waiting, besides the one running
};

enum class State {
  ready,    // the PDF is in the cache
  pending,  // queued or being converted
  failed,   // cannot be converted; `reason` says why
  busy,     // the queue is full: ask again later
};

struct Outcome {
  State state = State::pending;
  std::filesystem::path pdf;  // when ready
  std::string reason;         // when failed: for the user, in Chinese
};

// The key of one version of a document's bytes (a hash, 64 hex digits).
std::string version_key(std::string_view bytes);

// The program's full path, or "" when it is not installed.
std::string find_program(const std::string& name);

class PdfService {
 public:
  explicit PdfService(Options options = {});
  // Stops the conversion in hand (its LibreOffice is killed) and drops the
  // queued ones; nothing is kept of them.
  ~PdfService();
  PdfService(const PdfService&) = delete;
  PdfService& operator=(const PdfService&) = delete;

  // The PDF of version `key` in folder `cache`. When there is no result yet
  // and the version is not queued, `load` is called for its bytes and the
  // conversion is queued. Bytes that are not a word-processing document
  // (.docx, .odt, .doc, .rtf) fail at once without LibreOffice.
  Outcome request(const std::filesystem::path& cache, const std::string& key,
                  const std::function<std::string()>& load);
  // Waits until nothing is queued or running (tests, shutdown).
  void drain();

 private:
  struct Job {
    std::filesystem::path cache;
    std::string key, bytes;
  };
  void work();
  void convert(const Job& job);

  Options options_;
  std::mutex mu_;
  std::condition_variable wake_, idle_;
  std::deque<Job> queue_;
  std::set<std::string> pending_;  // cache/key of jobs queued or running
  bool running_ = false, stopping_ = false;
  std::atomic<bool> aborting_{false};
  std::thread worker_;
};

// The service of the process, started on first use.
PdfService& pdf_service();

}  // namespace desk::convert
