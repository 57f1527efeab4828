// The status bar (frame `down`): announces new pending work, new unread mail
// and due personal plans with the reminder sound, scrolls the due plans (or,
// without any, today's notices), and draws the tool bar and the link picture.
#pragma once

#include <string>

#include "platform/asp/asp.h"

namespace desk::deskpages {

// `rz`: the status bar of the base edition. One instance serves one page:
// `main1` (body tag, reminders, sound), `main2` (the bar up to its left text
// cell), then `main` (scrolling line, tool bar, link picture, end of page).
class Rz : public asp::PageComponent {
 public:
  void main1(db::Connection& conn);
  void main2(db::Connection& conn);
  void main(db::Connection& conn);

  // Set by `main1`: whether this load announced something new or due, and
  // the sound's address (the application's path followed by the Session's
  // `remindsound`), percent-encoded so it can stand unquoted in markup.
  bool announced = false;
  std::string sound;
  // Markup the hosting page adds at the end of the page; written by `main`
  // before the body closes.
  std::string page_end;

 private:
  std::string reminders_;  // the due plans' links, filled by `main1`
};

// `rzsimp`, `rzfull`: the status bar of the simple and full editions; the
// same as `rz` (dates are bound values in every edition).
class RzSimp : public Rz {};
class RzFull : public Rz {};

// Pending work and mail of a user, for the desk, the status line and the
// window title: read from the counts the database keeps, one row per user.
struct Waiting {
  std::int64_t work = 0;   // open items
  std::int64_t mail = 0;   // unread mails
  std::int64_t mails = 0;  // all mails
};
Waiting waiting_of(db::Connection& conn, const std::string& uid);

}  // namespace desk::deskpages
