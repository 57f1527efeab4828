// The recipient picker: the tree of departments and their members from which
// the workflow and mail pages choose the next handler(s).
#pragma once

#include <string>

#include "platform/asp/asp.h"

namespace desk::workflow {

// Writes the department/member tree. The hosting page supplies the page
// script (site/picker.js): show, TurnColor, Turn and the click handler this
// picker was built with, "TurnMore" (several users) or "TurnGreen" (one user).
//
// Output contract: departments in depno, depname order, numbered dep1, dep2,
// ... as the ids of their (initially hidden) member tables; members of each
// department in uid, name order, numbered 0, 1, ... over the whole tree as
// cell ids user0, user1, ...; the cell holds a checkbox whose value is the
// member's login id; script array `namevect` maps each member number to the
// trimmed name. Numbers are positions in this output, not database keys.
class Picker : public asp::PageComponent {
 public:
  explicit Picker(std::string click_handler) : handler_(std::move(click_handler)) {}

  void main(db::Connection& conn);

 private:
  std::string handler_;
};

}  // namespace desk::workflow
