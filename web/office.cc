#include "web/office.h"

#include <filesystem>
#include <vector>

namespace desk::web {
namespace {

constexpr Millis kTimerInterval{1000};
constexpr Millis kDownloadWait{2000};
constexpr const char* kBars[] = {"standard", "formatting", "tables and borders"};

}  // namespace

office::office(OfficePlatform platform) : p_(std::move(platform)), timer_(p_.loop.new_timer()) {
  p_.pane.on_download_complete = [this] { docpane_DownloadComplete(); };
  p_.pane.on_document_complete = [this] { docpane_DocumentComplete(); };
  resize(0, 0);
}

office::~office() {
  p_.loop.stop_timer(timer_);
  p_.pane.on_download_complete = nullptr;
  p_.pane.on_document_complete = nullptr;
}

bool office::timer_enabled() const {
  return p_.loop.timer_running(timer_);
}

void office::resize(int width, int height) {
  p_.pane.place(0, 0, width, height);
}

template <typename F>
void office::attempt(const char* step, F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    p_.messages.note(std::string(step) + ": " + e.what());
  }
}

bool office::openfile(const std::string& filename) {
  opentype = "read";
  fileurl_ = filename;
  p_.pane.navigate(filename);
  return false;
}

void office::writefile(const std::string& filename) {
  opentype = "write";
  fileurl_ = filename;
  p_.pane.navigate(filename);
}

void office::docpane_DownloadComplete() {
  load_completed(Handler::download);
}
void office::docpane_DocumentComplete() {
  load_completed(Handler::document);
}

std::shared_ptr<WordDocument> office::active_document() {
  auto doc = p_.word->active_document();
  if (!doc) throw WordError("the word processor has no active document");
  return doc;
}

// Both handlers: every step goes past its own failure.
void office::load_completed(Handler handler) {
  const bool reading = opentype == "read";
  std::shared_ptr<WordDocument> doc;
  attempt("load: the active document", [&] { doc = p_.word->active_document(); });
  if (!doc) {
    if (reading) return;
    p_.messages.show(std::string(kOpenFailed), std::string(kErrorTitle));
  } else {
    attempt("load: the application", [&] { app = p_.word; });
    attempt("load: the document", [&] { curdoc = doc; });
    for (const char* bar : kBars)
      attempt("load: show a command bar", [&] { curdoc->command_bars().set_visible(bar, true); });
    // Controls of the standard bar each handler disables, by mode.
    const std::vector<int> positions =
        (handler == Handler::download) == reading ? std::vector<int>{3, 2} : std::vector<int>{2};
    for (int pos : positions)
      attempt("load: disable a control",
              [&] { curdoc->command_bars().set_enabled("standard", pos, false); });
    attempt("load: revision marking", [&] { curdoc->set_track_revisions(reading); });
    attempt("load: revision display", [&] { curdoc->set_show_revisions(reading); });
  }
  attempt("load: the document's name", [&] { docname_ = active_document()->name(); });
  if (handler == Handler::download) {
    p_.loop.wait_until(p_.loop.clock().now() + kDownloadWait);
  } else {
    attempt("load: the active window", [&] { docwindow_ = p_.window.active(); });
    p_.loop.start_timer(timer_, kTimerInterval, [this] { Timer1_Timer(); });
  }
}

void office::Timer1_Timer() {
  // A failing call (the word processor closing, a full disk) must not end
  // the page: the tick stops there and the failure is noted.
  try {
    WindowHandle w = p_.window.active();
    std::string n;
    if (auto doc = p_.word->active_document()) {
      if (doc->name() == docname_ && w != docwindow_) doc->save();
      n = doc->name();
    }
    if (n != docname_ && w == docwindow_) {
      p_.loop.stop_timer(timer_);
      p_.pane.navigate(fileurl_);
    }
  } catch (const std::exception& e) {
    p_.messages.note(std::string("timer: ") + e.what());
  }
}

bool office::guard() {
  if (curdoc) return true;
  p_.messages.show(std::string(kNoDocument), std::string(kErrorTitle));
  return false;
}

WordApp& office::application() {
  if (!app) throw WordError("the word processor is not connected");
  return *app;
}

void office::closedoc() {
  p_.pane.quit();
}

void office::SaveAs() {
  if (!guard()) return;
  curdoc->save_as(p_.paths.map_for_writing(R"(c:\template1.doc)"));
}

void office::SaveDoc() {
  if (!guard()) return;
  curdoc->save();
  CommandBars& bars = curdoc->command_bars();
  bars.set_enabled("standard", 3, true);
  bars.set_enabled("standard", 2, true);
  bars.set_visible("standard", true);
  bars.set_visible("formatting", true);
  curdoc.reset();
  app.reset();
}

void office::delfile() {
  const auto& work = p_.paths.work();
  std::error_code ec;
  if (!std::filesystem::exists(work, ec)) return;
  for (const auto& entry : std::filesystem::directory_iterator(work, ec)) {
    std::error_code e;
    if (entry.is_directory(e)) continue;
    if (!std::filesystem::remove(entry.path(), e))
      p_.messages.note("delfile: cannot delete " + entry.path().string() + ": " + e.message());
  }
  if (!std::filesystem::remove(work, ec))
    p_.messages.note("delfile: cannot remove " + work.string() + ": " + ec.message());
}

void office::Emend() {
  if (!guard()) return;
  curdoc->accept_all_revisions();
  curdoc->set_track_revisions(true);
  curdoc->set_show_revisions(true);
}

void office::UnEmend() {
  if (!guard()) return;
  curdoc->set_track_revisions(false);
  curdoc->set_show_revisions(false);
}

void office::Protect() {
  if (!guard()) return;
  curdoc->protect(1, false, "kvq");
}

void office::UnProtect() {
  if (!guard()) return;
  curdoc->unprotect("kvq");
}

void office::pagehead() {
  if (!guard()) return;
  p_.word->set_seek_view(9);
}

void office::pagefoot() {
  if (!guard()) return;
  p_.word->set_seek_view(10);
}

void office::insertpageno() {
  if (!guard()) return;
  application().add_page_numbers(1, true);
}

void office::pagesetup() {
  if (!guard()) return;
  application().show_dialog(178);
}

void office::printout() {
  if (!guard()) return;
  active_document()->print_out();
}

void office::SetUserName(const std::string& name) {
  if (!guard()) return;
  application().set_user_name(name);
}

void office::signature(const std::string& picturepath) {
  if (!guard()) return;
  application().add_inline_picture(p_.paths.map(picturepath), false, true);
  // Converting takes a shape out of the inline collection, so the items are
  // taken from the last to the first: every one is converted.
  auto doc = active_document();
  for (int i = doc->inline_shape_count(); i >= 1; --i) doc->convert_inline_shape(i);
}

}  // namespace desk::web
