#include "web/docx_word.h"

#include <stdlib.h>

#include <ctime>
#include <fstream>

#include "web/docx/error.h"

namespace desk::web {
namespace {

std::string utc_now() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

// Engine errors reach the caller as word-processor errors with their text.
template <typename F>
auto engine(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const docx::Error& e) {
    throw WordError(e.what());
  }
}

}  // namespace

class DocxWord::Doc final : public WordDocument {
 public:
  Doc(DocxWord& app, docx::Document doc, std::filesystem::path file)
      : app_(app), doc_(std::move(doc)), file_(std::move(file)) {}

  docx::Document& engine_doc() {
    check();
    return doc_;
  }
  const std::filesystem::path& file() const { return file_; }
  void closed() { open_ = false; }
  // The file's time when the engine last read or wrote it.
  void stamp() {
    std::error_code ec;
    stamp_ = std::filesystem::last_write_time(file_, ec);
  }
  bool changed_on_disk() const {
    std::error_code ec;
    auto t = std::filesystem::last_write_time(file_, ec);
    return !ec && t != stamp_;
  }
  void replace(docx::Document d) {
    doc_ = std::move(d);
    stamp();
  }

  std::string name() const override {
    check();
    return file_.filename().string();
  }
  CommandBars& command_bars() override {
    check();
    return app_.bars_;
  }
  bool track_revisions() const override {
    check();
    return engine([&] { return doc_.track_revisions(); });
  }
  void set_track_revisions(bool on) override {
    check();
    engine([&] { doc_.set_track_revisions(on); });
  }
  bool show_revisions() const override {
    check();
    return engine([&] { return doc_.show_revisions(); });
  }
  void set_show_revisions(bool on) override {
    check();
    engine([&] { doc_.set_show_revisions(on); });
  }
  void accept_all_revisions() override {
    check();
    engine([&] { doc_.accept_all_revisions(); });
  }
  void protect(int type, bool, const std::string& password) override {
    check();
    if (type < 0 || type > 3) throw WordError("no protection type " + std::to_string(type));
    engine([&] { doc_.protect(static_cast<docx::ProtectionType>(type), password); });
  }
  void unprotect(const std::string& password) override {
    check();
    engine([&] { doc_.unprotect(password); });
  }
  void save() override {
    check();
    if (!doc_.modified()) return;
    engine([&] { doc_.save(file_); });
    stamp();
  }
  void save_as(const std::filesystem::path& file) override {
    check();
    engine([&] { doc_.save(file); });
    file_ = file;
    stamp();
  }
  void print_out() override;
  int inline_shape_count() override {
    check();
    return static_cast<int>(engine([&] { return doc_.inline_shape_count(); }));
  }
  void convert_inline_shape(int index) override {
    check();
    if (index < 1) throw WordError("no inline shape " + std::to_string(index));
    engine([&] { doc_.convert_inline_shape(static_cast<std::size_t>(index - 1)); });
  }

 private:
  void check() const {
    if (!open_) throw WordError("the document " + file_.filename().string() + " has been closed");
  }
  DocxWord& app_;
  mutable docx::Document doc_;
  std::filesystem::path file_;
  std::filesystem::file_time_type stamp_{};
  bool open_ = true;
};

void DocxWord::Doc::print_out() {
  check();
  const auto& folder = app_.options_.print_folder;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::string tmpl = (folder / ".print-XXXXXX").string();
  if (!::mkdtemp(tmpl.data()))
    throw WordError("cannot print: no scratch folder in " + folder.string());
  std::filesystem::path scratch = tmpl;
  struct Cleanup {
    std::filesystem::path p;
    ~Cleanup() {
      std::error_code e;
      std::filesystem::remove_all(p, e);
    }
  } cleanup{scratch};
  // The copy holds unsaved changes too; the document's own file is untouched.
  std::filesystem::path copy = scratch / (file_.stem().string() + ".docx");
  std::string bytes = engine([&] { return doc_.snapshot(); });
  {
    std::ofstream out(copy, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw WordError("cannot print: cannot write " + copy.string());
  }
  std::filesystem::path pdf =
      engine([&] { return docx::convert_to_pdf(copy, scratch, scratch, app_.options_.pdf); });
  std::filesystem::path target = folder / pdf.filename();
  std::filesystem::rename(pdf, target, ec);
  if (ec) throw WordError("cannot place the PDF in " + folder.string() + ": " + ec.message());
  app_.last_pdf_ = target;
}

DocxWord::DocxWord(DocxWordOptions options) : options_(std::move(options)) {
  if (!options_.now) options_.now = utc_now;
}

DocxWord::~DocxWord() {
  if (doc_) doc_->closed();
}

void DocxWord::open(const std::filesystem::path& file) {
  close(true);
  auto d = engine([&] { return docx::Document::load(file, options_.limits); });
  doc_ = std::make_shared<Doc>(*this, std::move(d), file);
  doc_->stamp();
  seek_ = 0;
  selection_ = main_selection_ = {doc_->engine_doc().main_part(), 0, 0};
}

void DocxWord::close(bool save_changes) {
  if (!doc_) return;
  auto d = std::move(doc_);
  doc_.reset();
  if (save_changes) {
    try {
      d->save();
    } catch (...) {
      d->closed();
      throw;
    }
  }
  d->closed();
}

std::shared_ptr<WordDocument> DocxWord::active_document() {
  return doc_;
}

DocxWord::Doc& DocxWord::doc() {
  if (!doc_) throw WordError("no document is open");
  return *doc_;
}

const docx::Revision* DocxWord::revision(docx::Revision& storage) {
  if (!doc().track_revisions()) return nullptr;
  storage = {user_, options_.now()};
  return &storage;
}

void DocxWord::add_page_numbers(int alignment, bool first_page) {
  auto& d = doc().engine_doc();
  engine([&] { d.add_page_number(d.section_of(main_selection_), alignment, first_page); });
}

void DocxWord::add_inline_picture(const std::filesystem::path& file, bool link, bool) {
  auto& d = doc().engine_doc();
  if (link) throw WordError("linked pictures are not supported");
  std::error_code ec;
  auto size = std::filesystem::file_size(file, ec);
  if (ec) throw WordError("cannot read the picture " + file.string() + ": " + ec.message());
  if (size > options_.limits.max_part_bytes)
    throw WordError("the picture " + file.string() + " is too large");
  std::string bytes(size, '\0');
  {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f || std::fread(bytes.data(), 1, size, f) != size) {
      if (f) std::fclose(f);
      throw WordError("cannot read the picture " + file.string());
    }
    std::fclose(f);
  }
  docx::Revision rev;
  const docx::Revision* tracked = revision(rev);
  selection_ = engine(
      [&] { return d.insert_picture(selection_, docx::read_picture(std::move(bytes)), tracked); });
  if (seek_ == 0) main_selection_ = selection_;
}

void DocxWord::set_seek_view(int view) {
  auto& d = doc().engine_doc();
  if (view == 0) {
    seek_ = 0;
    selection_ = main_selection_;
    return;
  }
  using docx::HeaderType;
  using docx::Story;
  struct Target {
    int view;
    Story story;
    HeaderType type;
  };
  static const Target targets[] = {
      {1, Story::header, HeaderType::primary}, {2, Story::header, HeaderType::first},
      {3, Story::header, HeaderType::even},    {4, Story::footer, HeaderType::primary},
      {5, Story::footer, HeaderType::first},   {6, Story::footer, HeaderType::even},
      {9, Story::header, HeaderType::primary}, {10, Story::footer, HeaderType::primary},
  };
  for (const auto& t : targets)
    if (t.view == view) {
      std::string part = engine(
          [&] { return d.header_part(d.section_of(main_selection_), t.story, t.type, true); });
      seek_ = view;
      selection_ = {part, static_cast<std::size_t>(-1), docx::Position::kEnd};
      return;
    }
  throw WordError("view " + std::to_string(view) + " is not available");
}

int DocxWord::show_dialog(int id) {
  auto& d = doc().engine_doc();
  if (id != 178) throw WordError("dialog " + std::to_string(id) + " is not available");
  if (!page_setup_dialog) throw WordError("the page setup dialog cannot be shown here");
  std::size_t section = d.section_of(main_selection_);
  auto current = engine([&] { return d.page_setup(section); });
  auto answer = page_setup_dialog(current);
  if (!answer) return 0;
  engine([&] { d.set_page_setup(section, *answer); });
  return -1;
}

void DocxWord::type_text(const std::string& text) {
  auto& d = doc().engine_doc();
  docx::Revision rev;
  const docx::Revision* tracked = revision(rev);
  selection_ = engine([&] { return d.insert_text(selection_, text, tracked); });
  if (seek_ == 0) main_selection_ = selection_;
}

std::size_t DocxWord::delete_text(std::size_t paragraph, std::size_t first, std::size_t count) {
  auto& d = doc().engine_doc();
  docx::Revision rev;
  const docx::Revision* tracked = revision(rev);
  return engine([&] { return d.delete_text(d.main_part(), paragraph, first, count, tracked); });
}

std::filesystem::path DocxWord::active_file() const {
  return doc_ ? doc_->file() : std::filesystem::path();
}

bool DocxWord::changed_on_disk() const {
  return doc_ && doc_->changed_on_disk();
}

void DocxWord::reload() {
  auto& d = doc();
  d.replace(engine([&] { return docx::Document::load(d.file(), options_.limits); }));
  seek_ = 0;
  selection_ = main_selection_ = {d.engine_doc().main_part(), 0, 0};
}

void DocxWord::select(std::size_t paragraph, bool at_end) {
  auto& d = doc().engine_doc();
  seek_ = 0;
  main_selection_ = {d.main_part(), paragraph, at_end ? docx::Position::kEnd : 0};
  selection_ = main_selection_;
}

std::string DocxWord::story_text() {
  auto& d = doc().engine_doc();
  return engine([&] { return d.text(selection_.part); });
}

}  // namespace desk::web
