// The document helper (officectl serve): the control `office` for the pages
// of one office-suite site, run on the user's computer and reached by the
// page script over HTTP on 127.0.0.1.
//
// Who may use it: only pages of the configured origin (the Origin header of
// every request must be exactly that; the Host header must name this
// address, against DNS rebinding), and only after the user has paired the
// browser once by typing into the page the code the helper shows. Pairing
// gives the page a secret it sends in the X-Office-Pairing header from then
// on; the helper keeps only a hash of it. Answers carry CORS headers for the
// configured origin only. A refused request changes nothing.
//
// Requests (POST, JSON bodies and answers):
//   /hello                      {"paired": bool, "version": "..."}; no pairing needed
//   /pair     {code}            {"token": "..."}; 403 for a wrong code (after five
//                               wrong codes a new code is shown)
//   /control                    {"id": N}: a new control for one page
//   /call     {id, member, args, props?}
//                               sets the given properties, calls the member and
//                               answers {"result", "args", "messages", "props",
//                               "error"?}; queued loads complete before the
//                               answer, and the control's changes are written to
//                               the document's file
//   /focus    {id, active}      the page gained or lost the focus
//   /close    {id}              ends the control (unsaved changes are saved)
//   /test/edit {id, paragraph, insert?, at_end?, delete_from?, delete_count?}
//                               with test operations on only: types and deletes
//                               text as the user at the word processor would
//
// Every control runs on the thread that runs the message loop; requests wait
// for their call there.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http/http.h"
#include "web/cardreader.h"
#include "web/ftp.h"
#include "web/paths.h"
#include "web/platform.h"

namespace desk::web {

struct CompanionOptions {
  // The office suite's origin exactly as browsers send it ("https://oa.example:8443").
  std::string origin;
  // Where pairings and the current pairing code are kept (made 0700).
  std::filesystem::path state;
  std::filesystem::path drives, work;
  // Program and arguments that open a document for the user to edit (the
  // file's path is added last); empty for none.
  std::vector<std::string> editor;
  // Offers /test/edit.
  bool test_ops = false;
  // Time limits of the controls' transfers.
  long connect_timeout_ms = 15'000, timeout_ms = 120'000;
  // Certificates trusted for the suite besides the system's (PEM); "" none.
  std::string ca_file;
  // The controls' FTP settings and card reader library (none: no reader).
  FtpOptions ftp = {};
  std::shared_ptr<ReaderLibrary> reader = {};
  // Shows a new pairing code to the user.
  std::function<void(const std::string& code)> announce;
};

class Companion final : public http::Handler {
 public:
  Companion(CompanionOptions options, MessageLoop& loop);
  ~Companion() override;

  // The port the helper listens on, for the Host check.
  void set_port(unsigned short port) { port_ = port; }
  std::string pairing_code() const;

  std::uint64_t body_limit(const http::Message& head) override;
  http::Reply handle(http::Message& request) override;

 private:
  struct Instance;
  http::Reply route(const std::string& path, const std::string& body, bool paired);
  bool paired(const http::Message& request) const;
  void new_code();
  void save_pairings() const;
  // Runs `f` on the loop thread and waits for it.
  template <typename F>
  auto on_loop(F&& f) -> decltype(f());
  // Keeps the document the user edits and the control's copy in step: a
  // file the user saved is read again, and the editor is opened on a newly
  // loaded document.
  void sync(Instance& in);
  // Writes the control's unsaved changes to the file, then syncs.
  void keep(Instance& in);

  CompanionOptions opt_;
  MessageLoop& loop_;
  PathMap paths_;
  unsigned short port_ = 0;

  mutable std::mutex mu_;  // pairing state
  std::string code_;
  int wrong_codes_ = 0;
  std::vector<std::string> token_hashes_;

  // Touched on the loop thread only.
  std::map<int, std::unique_ptr<Instance>> instances_;
  int next_id_ = 1;
};

}  // namespace desk::web
