// Incoming documents: registration (of a document that arrived from outside,
// or of an outgoing document distributed to the user), the instruction step
// and the shared read-only view of an incoming document with its history.
//
// Failures a user can cause (a missing body, no leader chosen, an item that is
// done or not theirs) are refusals (desk::Error with a refusal code and a
// message meant for the user). Nothing of the step is written then.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/error.h"
#include "platform/asp/asp.h"
#include "platform/db/db.h"
#include "server/workflow/flow.h"

namespace desk::workflow {

// The first instructing leader and the rest of the chain, taken from a
// recipient list. Empty or blank ids ("lee;;wu;", "lee; ;") are skipped, so
// `next` is empty only when the list names nobody; `rest` is again a
// recipient list.
struct LeaderChain {
  std::string next;
  std::string rest;
};
LeaderChain leader_chain(std::string_view list);

// `swdengji1`: registration of a document that arrived from outside. Its body
// was uploaded before to "swpso.asp", which left the new shouwen row's id in
// Session `shouwenid`.
//
// The hosting page calls main(conn), main1(), then (after the right-hand
// column it fills with the leader picker) main2().
class Swdengji1 : public asp::PageComponent {
 public:
  // Writes the head of the page. A valid post (POST with `flag` "2")
  // completes the uploaded row, appends the registration history row, creates
  // the "收文批办" item for the first leader, clears Session `shouwenid`,
  // writes the closing script and ends the response. Refuses (throws, nothing
  // written) when `shouwenid` names no unregistered upload or no leader is
  // chosen.
  void main(db::Connection& conn);
  // The registration form up to the opened right-hand column.
  void main1();
  // The hidden fields and the closing tags.
  void main2();
};

// `swdengji`: registration of a distributed outgoing document (item
// "收文登记"). Session `fawenid` names the outgoing document; its body is
// copied into a new shouwen row.
class Swdengji : public asp::PageComponent {
 public:
  // Writes nothing unless the post is valid (POST with `flag` "2"). Then, in
  // one transaction: the new shouwen row, its history row, the "收文批办"
  // item and, when `nwid` is not blank, the closing of that registration
  // item, which must be the user's pending "收文登记" item of this document.
  // Clears Session `fawenid` and `shouwenid`, writes the closing script and
  // ends the response.
  void main(db::Connection& conn);
};

// `piban`: the instruction step of an incoming document (item "收文批办").
class Piban : public asp::PageComponent {
 public:
  // On a POST with `flowid`, `nwid` and `remark` (the instruction): in one
  // transaction appends the swflow row (handletype "1"), closes the item and,
  // while the item's `userlist` names further leaders, hands a new
  // "收文批办" item to the next of them with the rest of the chain. Writes the
  // closing script and ends the response. Returns without writing anything
  // for any other request.
  void main(db::Connection& conn);
};

// Markup (a self-contained <table>, values escaped) of shouwen row `id`: its
// registration fields and, when `with_body_link`, the link "swload.asp" to its
// body (which serves the row named by Session `shouwenid`). nullopt when no
// such row exists.
std::optional<std::string> shouwen_view(db::Connection& conn, std::int64_t id,
                                        const Regional& regional, bool with_body_link);

// The head of a workflow page up to and including the body tag: GB2312 meta
// line, the site's style sheets, zero margins, no context menu.
std::string page_head(std::string_view title);

}  // namespace desk::workflow
