// The word processor as the control sees it: its application (the global
// object: the active document, the selection, the active window) and its
// documents. DocxWord is the real one; the tests have a fake.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace desk::web {

// A failed word-processor call; it reaches the page script as an error.
class WordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Tool bars and the enabled state of their controls. Bars are named
// "standard", "formatting" and "tables and borders" (any case); controls
// are numbered from 1. Unknown bars or positions throw WordError.
class CommandBars {
 public:
  CommandBars();
  bool visible(const std::string& bar) const;
  void set_visible(const std::string& bar, bool on);
  bool enabled(const std::string& bar, int position) const;
  void set_enabled(const std::string& bar, int position, bool on);

 private:
  struct Bar {
    bool visible = false;
    std::vector<bool> enabled;
  };
  Bar& find(const std::string& bar);
  const Bar& find(const std::string& bar) const;
  std::map<std::string, Bar> bars_;
};

class WordDocument {
 public:
  virtual ~WordDocument() = default;
  virtual std::string name() const = 0;
  virtual CommandBars& command_bars() = 0;
  virtual bool track_revisions() const = 0;
  virtual void set_track_revisions(bool on) = 0;
  virtual bool show_revisions() const = 0;
  virtual void set_show_revisions(bool on) = 0;
  virtual void accept_all_revisions() = 0;
  // type: 0 tracked changes, 1 comments, 2 forms, 3 reading only.
  virtual void protect(int type, bool no_reset, const std::string& password) = 0;
  virtual void unprotect(const std::string& password) = 0;
  // Writes the document to its file when it has unsaved changes.
  virtual void save() = 0;
  // Writes to `file`, which becomes the document's file and name.
  virtual void save_as(const std::filesystem::path& file) = 0;
  virtual void print_out() = 0;
  virtual int inline_shape_count() = 0;
  // Converts inline shape `index` (1-based) into a floating shape.
  virtual void convert_inline_shape(int index) = 0;
};

class WordApp {
 public:
  virtual ~WordApp() = default;
  // The document in the pane; null when there is none. Throws WordError
  // when the word processor cannot be reached.
  virtual std::shared_ptr<WordDocument> active_document() = 0;
  virtual std::string user_name() const = 0;
  virtual void set_user_name(const std::string& name) = 0;
  // Selection.Sections(1).Headers(1).PageNumbers.Add(alignment, first_page).
  virtual void add_page_numbers(int alignment, bool first_page) = 0;
  // Selection.InlineShapes.AddPicture(file, link, save_with_document).
  virtual void add_inline_picture(const std::filesystem::path& file, bool link,
                                  bool save_with_document) = 0;
  // ActiveWindow.ActivePane.View.SeekView.
  virtual void set_seek_view(int view) = 0;
  // Dialogs(id).Show: -1 when confirmed, 0 when cancelled.
  virtual int show_dialog(int id) = 0;
};

}  // namespace desk::web
