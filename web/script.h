// Scripts of control calls, one call a line, for driving a control without a
// browser (officectl run). A line is
//   MEMBER ARG ...        a method; arguments bare or "quoted" ("" is a quote),
//                         optionally written MEMBER(ARG, ARG)
//   PROPERTY = VALUE      sets a property;  PROPERTY alone prints it
//   ' or # ...            a comment
// and these commands of the driver itself:
//   wait SECONDS          lets the message loop run (timer ticks, loads)
//   focus page|elsewhere  which window is active
//   type TEXT             types at the insertion point
//   select N start|end    moves the insertion point to paragraph N (from 0)
//   show                  prints the text of the story being edited
//   answer pagesetup W H portrait|landscape TOP BOTTOM LEFT RIGHT | cancel
//                         how the next page setup dialog is answered (twips)
//   on error resume next  go on after a call that raised an error
// Each call prints "MEMBER: RESULT" (True, False, a value or ok), or
// "MEMBER: error: TEXT"; a transfer method that changes one of its
// arguments then prints "  NAME = VALUE"; message boxes and notes print as
// they come.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/docx_word.h"
#include "web/office.h"

namespace desk::web {

// Splits a script line into words: blanks, commas and parentheses separate,
// double quotes group ("" inside quotes is one quote).
std::vector<std::string> script_words(std::string_view line);

class ScriptRunner {
 public:
  ScriptRunner(office& control, DocxWord& word, FocusedWindow& focus, MessageLoop& loop,
               std::ostream& out);

  // Runs one line and lets the queued messages run. False when the line
  // raised an error or could not be understood.
  bool run_line(std::string_view line);
  // Runs lines until the end, or until a failing line unless "on error
  // resume next" came before. Returns 0, or 1 when a line failed.
  int run(std::istream& script);

 private:
  bool call(const std::vector<std::string>& words);
  // The FTP and card reader members; false when `words` names none of them.
  bool call_ftp_card(const std::vector<std::string>& words);
  bool property(const std::vector<std::string>& words);
  bool driver(const std::vector<std::string>& words);

  office& control_;
  DocxWord& word_;
  FocusedWindow& focus_;
  MessageLoop& loop_;
  std::ostream& out_;
  bool resume_next_ = false;
  std::optional<docx::PageSetup> answer_;
};

}  // namespace desk::web
