// A word-processing document (.docx) opened from untrusted bytes, changed in
// place and saved. Parts the engine does not change are written back as they
// came; parts it changes are rewritten with their text unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/docx/package.h"
#include "web/docx/picture.h"
#include "web/docx/protection.h"

namespace pugi {
class xml_node;
}

namespace desk::docx {

class XmlPart;

// An insertion point: before content child `offset` (pPr not counted) of
// paragraph `paragraph` (document order) of the story part `part`.
struct Position {
  static constexpr std::size_t kEnd = static_cast<std::size_t>(-1);
  std::string part;
  std::size_t paragraph = 0;
  std::size_t offset = 0;  // kEnd: after the paragraph's last content
};

// Author and time (ISO 8601, UTC) stamped on changes recorded as revisions.
struct Revision {
  std::string author;
  std::string date;
};

enum class Story { header, footer };
enum class HeaderType { primary, first, even };  // w:type default, first, even

// Paper and margins of a section, in twentieths of a point (twips).
struct PageSetup {
  int width = 12240, height = 15840;
  bool landscape = false;
  int top = 1440, bottom = 1440, left = 1440, right = 1440;
  bool operator==(const PageSetup&) const = default;
};

class Document {
 public:
  // Checks the package (see Package::open), finds the main document part
  // through the package relationships and parses it. Throws docx::Error.
  static Document open(std::string bytes, const Limits& limits = {});
  static Document load(const std::filesystem::path& file, const Limits& limits = {});

  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  ~Document();

  // The package with every change. Clears modified().
  std::string save();
  // Writes the package to `file` through a temporary file in the same folder
  // renamed over it, so a failed save leaves the old file whole.
  void save(const std::filesystem::path& file);
  bool modified() const { return modified_; }
  // The package with every change, leaving modified() as it is.
  std::string snapshot();

  const std::string& main_part() const { return main_; }
  std::vector<std::string> part_names() const;
  // A part as save() would write it now.
  std::string part_bytes(std::string_view name);

  // Revision marking (settings trackRevisions) and whether revision marks
  // are shown (settings revisionView).
  bool track_revisions();
  void set_track_revisions(bool on);
  bool show_revisions();
  void set_show_revisions(bool on);
  // Takes every recorded insertion, deletion, move and property change of
  // the document, its headers, footers, notes and comments into the text.
  void accept_all_revisions();

  // Editing restriction (settings documentProtection). protect() throws
  // Errc::protected_doc when already protected; unprotect() throws
  // Errc::bad_password when the password does not match the stored hash and
  // does nothing on an unprotected document. Changes to the text refuse with
  // Errc::protected_doc while protected.
  bool is_protected();
  std::optional<ProtectionType> protection();
  void protect(ProtectionType type, std::string_view password);
  void protect(ProtectionType type, std::string_view password, std::string_view salt,
               std::uint32_t spin_count);
  void unprotect(std::string_view password);

  // Text of a story part: paragraphs joined by '\n', deleted text left out.
  std::string text(std::string_view part);
  std::size_t paragraph_count(std::string_view part);
  // Inserts text (tabs and line breaks kept) in a run carrying the formatting
  // of the run before it, inside w:ins when `tracked`. Returns the position
  // after the insertion.
  Position insert_text(const Position& at, std::string_view utf8, const Revision* tracked);
  // Deletes `count` characters (code points of the paragraph's text, deleted
  // text not counted) from character `first` of paragraph `paragraph` of
  // story `part`: inside w:del as w:delText when `tracked`, removed
  // otherwise. Runs are split where the range starts and ends; a run holding
  // more than text (a tab, a break, a picture) goes only when it lies wholly
  // inside the range. Returns the number of characters deleted.
  std::size_t delete_text(std::string_view part, std::size_t paragraph, std::size_t first,
                          std::size_t count, const Revision* tracked);
  // Embeds the picture and places it inline at `at`.
  Position insert_picture(const Position& at, const Picture& picture, const Revision* tracked);
  // Inline drawings of the main story, and turning one (0-based, document
  // order) into a floating shape in front of the text at the same place.
  std::size_t inline_shape_count();
  void convert_inline_shape(std::size_t index);

  // Sections: ended by a paragraph's sectPr, the last by the body's sectPr.
  std::size_t section_count();
  std::size_t section_of(const Position& at);
  // The header or footer part shown for a section: its own or the one it
  // inherits from an earlier section; with `create` a new empty part when
  // there is none. "" when there is none and `create` is false.
  std::string header_part(std::size_t section, Story story, HeaderType type, bool create);
  // Adds a centred (alignment 1; 0 left, 2 right) PAGE field paragraph to
  // the section's primary header, and to its first-page header when the
  // section has a distinct first page and `first_page` is set. Each call adds
  // one more.
  void add_page_number(std::size_t section, int alignment, bool first_page);
  PageSetup page_setup(std::size_t section);
  void set_page_setup(std::size_t section, const PageSetup& setup);

 private:
  Document();
  struct Part;
  XmlPart& xml(std::string_view name);
  std::string part_name(std::string_view name) const;
  void touch(XmlPart& part);
  void refuse_if_protected();
  std::string w(XmlPart& part);

  // Relationships and content types.
  struct Rel {
    std::string id, type, target;
    bool external = false;
  };
  std::vector<Rel> rels(std::string_view source);
  std::string resolve(std::string_view source, std::string_view target) const;
  std::string related(std::string_view source, std::string_view type_name);
  std::string add_rel(std::string_view source, std::string_view type_name, std::string_view target);
  void set_override(std::string_view part, std::string_view content_type);
  void ensure_default(std::string_view ext, std::string_view content_type);
  std::string new_part_name(std::string_view stem, std::string_view ext, bool plain_first = false);
  std::string settings_part(bool create);

  std::vector<pugi::xml_node> paragraphs(XmlPart& part);
  pugi::xml_node story_root(XmlPart& part);
  std::vector<pugi::xml_node> sections(bool create);
  int next_revision_id();
  unsigned next_drawing_id();
  std::vector<std::string> story_parts();

  Package pkg_;
  std::map<std::string, std::unique_ptr<Part>> parts_;  // parsed XML parts by lower-case name
  std::string main_;
  bool modified_ = false;
  int next_rev_id_ = -1;
  unsigned next_drawing_id_ = 0;
};

}  // namespace desk::docx
