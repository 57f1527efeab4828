// The personal phone book: each user's own contacts (table `phone`).
#pragma once

#include <string>

#include "platform/asp/asp.h"

namespace desk::deskpages {

// The contact fields of a form, as typed, each at most kContactChars
// characters (the remark kContactRemarkChars). A contact may have every
// field empty.
inline constexpr std::size_t kContactChars = 25;
inline constexpr std::size_t kContactRemarkChars = 500;
struct ContactFields {
  std::string name, mobilephone, telephone, email, company, address, postcode, work, fax, remark;
};
ContactFields read_contact(asp::ScriptingContext& ctx);

// `addphone`: GET writes the pop-up form for a new contact; POST stores the
// contact for the session's user and answers with the script that reloads
// the opener and closes the pop-up.
class AddPhone : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
  // Markup the hosting page adds at the end of the form (its once-only
  // token); written by `main` before the form closes.
  std::string form_end;
};

void register_phone_pages(asp::Registry& registry);

}  // namespace desk::deskpages
