// Login, logout and the administrator gate.
#pragma once

#include <string>

#include "platform/asp/asp.h"

namespace desk::host {

// Result of checklogin.
enum LoginResult : int {
  kNoSuchUser = 1,  // no user matches the login id and password
  kNoName = 2,      // the user's display name is empty
  kLocked = 3,      // too many failed logins: the account or the address waits
  kLoggedIn = 4,    // Session filled, journal row written, sent to "main.asp"
  kDisabled = 5,    // the password matches an account an administrator disabled
};

// `login`: opens its own connection on the database named by `dlldatabase`.
class Login : public asp::PageComponent {
 public:
  // Stored only; no method uses them.
  std::string dllserver, dlluid, dllpwd;
  std::string dlldatabase;  // virtual path of the database file
  std::string username;     // the login id as typed
  std::string password;     // the password as typed

  virtual void helpme();
  int checklogin();

 protected:
  // The common algorithm on a given connection.
  int check(db::Connection& conn);
};

// `loginsimp`: as `login`, with a second address in helpme.
class LoginSimp : public Login {
 public:
  void helpme() override;
};

// `loginfull`: works on the hosting page's connection.
class LoginFull : public Login {
 public:
  int checklogin(db::Connection& conn) { return check(conn); }
};

// `quit`: journals the logout, closes the page's connection, ends the
// session and returns to the login page.
class Quit : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// `checkpower`: stops the page for anyone who is not an administrator.
class CheckPower : public asp::PageComponent {
 public:
  void main();
};

}  // namespace desk::host
