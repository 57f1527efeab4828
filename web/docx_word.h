// The word processor of the control: the .docx engine behind the WordApp
// interface, with one active document, a selection, the header and footer
// views and the user name recorded on revisions.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "web/docx/document.h"
#include "web/docx/pdf.h"
#include "web/word.h"

namespace desk::web {

struct DocxWordOptions {
  // Printing writes the PDF here (the work folder) and uses a scratch folder
  // inside it for the converter.
  std::filesystem::path print_folder;
  docx::PdfOptions pdf;
  docx::Limits limits;
  // Time stamp of revisions, ISO 8601 in UTC; the system clock when unset.
  std::function<std::string()> now;
};

class DocxWord final : public WordApp {
 public:
  explicit DocxWord(DocxWordOptions options);
  ~DocxWord() override;

  // The pane's side. open() makes `file` the active document (closing the
  // one before); on failure there is no active document and the error is
  // thrown. close() saves unsaved changes first when asked to.
  void open(const std::filesystem::path& file);
  void close(bool save_changes);

  std::shared_ptr<WordDocument> active_document() override;
  std::string user_name() const override { return user_; }
  void set_user_name(const std::string& name) override { user_ = name; }
  void add_page_numbers(int alignment, bool first_page) override;
  void add_inline_picture(const std::filesystem::path& file, bool link,
                          bool save_with_document) override;
  void set_seek_view(int view) override;
  int show_dialog(int id) override;

  // Typing and moving the insertion point, as the keyboard does: typed text
  // goes to the selection in the story the view shows and is recorded as an
  // insertion under user_name() while revisions are tracked.
  void type_text(const std::string& utf8);
  // Deletes `count` characters from character `first` of main-story
  // paragraph `paragraph`, recorded as a deletion under user_name() while
  // revisions are tracked. Returns how many were deleted.
  std::size_t delete_text(std::size_t paragraph, std::size_t first, std::size_t count);
  void select(std::size_t paragraph, bool at_end);
  int seek_view() const { return seek_; }
  // The text of the story the view shows.
  std::string story_text();

  // Answers the page-setup dialog (178): given the current setup of the
  // selection's section, the new one, or nullopt for Cancel.
  std::function<std::optional<docx::PageSetup>(const docx::PageSetup&)> page_setup_dialog;
  // The file of the active document ("" when none).
  std::filesystem::path active_file() const;
  // True when another program has written the active document's file since
  // the engine last read or wrote it.
  bool changed_on_disk() const;
  // Reads the active document again from its file; the document object the
  // control holds stays valid. Throws WordError (the document stays as it was).
  void reload();
  // The PDF the last print_out() made.
  const std::filesystem::path& last_printout() const { return last_pdf_; }

 private:
  class Doc;
  Doc& doc();
  const docx::Revision* revision(docx::Revision& storage);

  DocxWordOptions options_;
  std::shared_ptr<Doc> doc_;
  CommandBars bars_;
  std::string user_;
  int seek_ = 0;
  docx::Position selection_, main_selection_;
  std::filesystem::path last_pdf_;
};

}  // namespace desk::web
