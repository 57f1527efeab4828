// Drafting of outgoing documents: the drafting form and the saving of a
// drafted or redrafted document, which hands it to its first handler.
#pragma once

#include <string_view>

#include "platform/asp/asp.h"

namespace desk::workflow {

// The number MakeName derives from a date-and-time text: every "-", " ",
// ":", "PM", "AM", "上午" and "下午" removed, then the leading digits of what
// is left read as a whole number (0 when there are none).
double name_digits(std::string_view shown);

// Both drafting components refuse a post by throwing Error(bad_request,
// conflict or not_found) whose message is meant for the user; nothing is
// written then. A missing document is not thrown: it redirects to
// "error.htm", as the form expects.

// `fawen`: the drafting form and the first save of a document whose body was
// uploaded (Session `fawenid`, set by the body upload).
class Fawen : public asp::PageComponent {
 public:
  // The date and time in the regional format, read by name_digits, plus 1 to
  // 10 at random.
  double MakeName();
  // Completes the uploaded document from the posted form, records the
  // drafting step and creates the first handler's item; clears Session
  // `fawenid`. A document that was already drafted is refused, so a form
  // sent twice (or a `fawenid` left by another page) cannot start a second
  // road.
  void main(db::Connection& conn);
  // Writes the left column of the drafting page and opens the right one.
  void main1(db::Connection& conn);
};

// `fawen1`: saving a document sent back to its drafter. Session `fawenid`
// names the document; `nwid` is the drafter's open redraft item of it, which
// is closed in the same transaction.
class Fawen1 : public asp::PageComponent {
 public:
  double MakeName();
  void main(db::Connection& conn);
};

}  // namespace desk::workflow
