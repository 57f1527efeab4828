// The navigation menu of the `left` frame.
#pragma once

#include "platform/asp/asp.h"
#include "platform/db/db.h"

namespace desk::host {

// `left`: the menu page "left.asp". The law-firm edition adds the case
// entries (acceptance, the case list) to the daily-work group. Below the
// groups a sprite tells whether
// anything waits for the user: images/logo.gif when the user has an open
// pending-work item or an unread mail, images/logo1.gif otherwise.
class Left : public asp::PageComponent {
 public:
  // Closes the page's connection after the two look-ups: the caller must not
  // use `conn` once this returns.
  void main(db::Connection& conn);

 private:
  void write_group(int group);
};

}  // namespace desk::host
