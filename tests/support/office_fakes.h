// Fakes of the platform pieces the document control talks to. Every call the
// control makes on the word processor is written to one shared log.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/docx_fixtures.h"
#include "web/docx_word.h"
#include "web/office.h"
#include "web/pane.h"
#include "web/platform.h"
#include "web/word.h"

namespace desk::testing {

using web::Millis;

struct CallLog {
  std::vector<std::string> calls;
  // Makes the call of this name (the log entry's first word) throw WordError.
  std::string fail;
  void add(const std::string& call);
};

class FakeDocument final : public web::WordDocument {
 public:
  FakeDocument(std::shared_ptr<CallLog> log, std::string name) : log_(log), name_(name) {}
  std::string name() const override;
  web::CommandBars& command_bars() override;
  bool track_revisions() const override { return track; }
  void set_track_revisions(bool on) override;
  bool show_revisions() const override { return show; }
  void set_show_revisions(bool on) override;
  void accept_all_revisions() override;
  void protect(int type, bool no_reset, const std::string& password) override;
  void unprotect(const std::string& password) override;
  void save() override;
  void save_as(const std::filesystem::path& file) override;
  void print_out() override;
  int inline_shape_count() override { return inline_shapes; }
  void convert_inline_shape(int index) override;

  void rename(std::string n) { name_ = std::move(n); }
  bool track = false, show = false;
  int inline_shapes = 0;
  web::CommandBars bars;

 private:
  std::shared_ptr<CallLog> log_;
  std::string name_;
};

class FakeWord final : public web::WordApp {
 public:
  FakeWord() : log(std::make_shared<CallLog>()) {}
  std::shared_ptr<FakeDocument> load(const std::string& name);  // becomes the active document
  std::shared_ptr<web::WordDocument> active_document() override;
  std::string user_name() const override { return user; }
  void set_user_name(const std::string& name) override;
  void add_page_numbers(int alignment, bool first_page) override;
  void add_inline_picture(const std::filesystem::path& file, bool link, bool save_with) override;
  void set_seek_view(int view) override;
  int show_dialog(int id) override;

  std::shared_ptr<CallLog> log;
  std::shared_ptr<FakeDocument> active;
  bool unreachable = false;  // active_document() throws
  std::string user;
};

// Records navigations; raises its events when the test says so.
class FakePane final : public web::DocumentPane {
 public:
  void navigate(const std::string& address) override { navigations.push_back(address); }
  void quit() override { ++quits; }
  void place(int l, int t, int w, int h) override { bounds = {l, t, w, h}; }
  std::vector<std::string> navigations;
  int quits = 0;
  std::vector<int> bounds;
};

class RecordingMessages final : public web::MessageSink {
 public:
  void show(const std::string& text, const std::string& title) override {
    boxes.emplace_back(title, text);
  }
  void note(const std::string& text) override { notes.push_back(text); }
  std::vector<std::pair<std::string, std::string>> boxes;  // title, text
  std::vector<std::string> notes;
};

// Time moves only when the loop sleeps.
class FakeClock final : public web::Clock {
 public:
  Millis now() const override { return t; }
  void sleep_until(Millis until) override { t = std::max(t, until); }
  Millis t{100000};
};

class FakeWindow final : public web::ActiveWindow {
 public:
  web::WindowHandle active() const override { return handle; }
  web::WindowHandle handle = 7;
};

// A control over fakes, with FTP options and a card reader library, for the
// transfer and reader members; its drives and work folder in a scratch folder.
struct DeviceControl {
  explicit DeviceControl(web::FtpOptions ftp = {}, std::shared_ptr<web::ReaderLibrary> reader = {})
      : control({pane, word, messages, loop, window, paths, nullptr, ftp, std::move(reader)}) {}
  ScratchDir dir;
  web::PathMap paths{dir / "drives", dir / "work"};
  FakePane pane;
  std::shared_ptr<FakeWord> word = std::make_shared<FakeWord>();
  RecordingMessages messages;
  FakeClock clock;
  web::MessageLoop loop{clock};
  FakeWindow window;
  web::office control;
};

// A control over the real word processor and pane, on a fake clock, with
// its drives and work folder in a scratch folder.
struct LiveControl {
  explicit LiveControl(docx::PdfOptions pdf = {})
      : word(std::make_shared<web::DocxWord>(web::DocxWordOptions{
            paths.work(), pdf, {}, [] { return std::string("2024-05-06T07:08:09Z"); }})) {}
  ScratchDir dir;
  web::PathMap paths{dir / "drives", dir / "work"};
  FakeClock clock;
  web::MessageLoop loop{clock};
  RecordingMessages messages;
  web::FocusedWindow focus;
  web::HttpClient http;
  std::shared_ptr<web::DocxWord> word;
  web::FetchingPane pane{loop, *word, paths, http, messages};
  web::office control{{pane, word, messages, loop, focus, paths, &http}};
};

}  // namespace desk::testing
