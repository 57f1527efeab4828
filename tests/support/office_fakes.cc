#include "tests/support/office_fakes.h"

namespace desk::testing {

void CallLog::add(const std::string& call) {
  calls.push_back(call);
  if (!fail.empty() && call.substr(0, call.find(' ')) == fail)
    throw web::WordError("fake failure of " + fail);
}

std::string FakeDocument::name() const {
  return name_;
}

web::CommandBars& FakeDocument::command_bars() {
  return bars;
}

void FakeDocument::set_track_revisions(bool on) {
  log_->add("track " + std::to_string(on));
  track = on;
}

void FakeDocument::set_show_revisions(bool on) {
  log_->add("show " + std::to_string(on));
  show = on;
}

void FakeDocument::accept_all_revisions() {
  log_->add("accept");
}

void FakeDocument::protect(int type, bool no_reset, const std::string& password) {
  log_->add("protect " + std::to_string(type) + " " + std::to_string(no_reset) + " " + password);
}

void FakeDocument::unprotect(const std::string& password) {
  log_->add("unprotect " + password);
}

void FakeDocument::save() {
  log_->add("save " + name_);
}

void FakeDocument::save_as(const std::filesystem::path& file) {
  log_->add("saveas " + file.string());
}

void FakeDocument::print_out() {
  log_->add("print");
}

void FakeDocument::convert_inline_shape(int index) {
  log_->add("convert " + std::to_string(index));
  --inline_shapes;  // a converted shape leaves the inline collection
}

std::shared_ptr<FakeDocument> FakeWord::load(const std::string& name) {
  active = std::make_shared<FakeDocument>(log, name);
  return active;
}

std::shared_ptr<web::WordDocument> FakeWord::active_document() {
  if (unreachable) throw web::WordError("the word processor cannot be reached");
  return active;
}

void FakeWord::set_user_name(const std::string& name) {
  log->add("username " + name);
  user = name;
}

void FakeWord::add_page_numbers(int alignment, bool first_page) {
  log->add("pagenumbers " + std::to_string(alignment) + " " + std::to_string(first_page));
}

void FakeWord::add_inline_picture(const std::filesystem::path& file, bool link, bool save_with) {
  log->add("picture " + file.string() + " " + std::to_string(link) + " " +
           std::to_string(save_with));
  if (active) ++active->inline_shapes;
}

void FakeWord::set_seek_view(int view) {
  log->add("seek " + std::to_string(view));
}

int FakeWord::show_dialog(int id) {
  log->add("dialog " + std::to_string(id));
  return -1;
}

}  // namespace desk::testing
