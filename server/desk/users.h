// User administration: the `adduser` pop-up and what the administrators'
// pages share for reading a user's fields.
#pragma once

#include <string>

#include "platform/asp/asp.h"

namespace desk::deskpages {

// Longest account name, name, password and phone or mail field, in
// characters (the forms' limit); longest remark.
inline constexpr std::size_t kUserFieldChars = 25;
inline constexpr std::size_t kRemarkChars = 500;
// Longest password a user may choose on the password pages.
inline constexpr std::size_t kPasswordChars = 50;

// The fields of a user row an administrator sets, read from a posted form
// and checked: a department that exists, a known type and clearance, no
// blank name, nothing over-long.
struct UserFields {
  std::string name;
  std::string depid;    // `depart.depno` as text
  std::string depname;  // that department's name
  std::string mobilephone, workphone, email, bz;
  std::string type;   // "1" ordinary user, "2" administrator
  std::string power;  // "1", "2", "3"
};
UserFields read_user_fields(asp::ScriptingContext& ctx);

// A password hash at the application's configured cost.
std::string hash_password(asp::ScriptingContext& ctx, const std::string& plain);

// `adduser`: GET writes the pop-up form for a new account; POST stores the
// account (password hashed) and answers with the script that reloads the
// opener and closes the pop-up. Administrators only: the hosting page runs
// the gate first.
class AddUser : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
  // Markup the hosting page adds at the end of the form (its once-only
  // token); written by `main` before the form closes.
  std::string form_end;
};

}  // namespace desk::deskpages
