// The pieces every workflow step shares: recipient lists, opinion blocks,
// step codes, pending-work items and the history rows of outgoing and
// incoming documents.
//
// The functions take the page's connection and plain values, never the
// request, and open no transaction of their own: a step page calls them inside
// its own db::Transaction so the whole step is written or nothing is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "platform/db/db.h"

namespace desk::workflow {

// ---- Recipient lists ------------------------------------------------------
//
// A recipient list is a text of login ids each followed by ";"
// ("zhang;li;wang;"). Lists are neither trimmed nor checked against the users.

struct NextUser {
  std::string next;  // the first login id of the list
  std::string rest;  // the list after that id and its ";" ("" when none is left)
};

// Takes the next user from a list: `next` is the text before the first ";",
// `rest` the text after it ("" when that ";" is the last character).
// A text without any ";" is one user with an empty rest; an empty list gives
// an empty `next` and an empty `rest`.
NextUser next_user(std::string_view list);

// Every login id of a list in order, by repeated next_user. Empty ids (as in
// "zhang;;li;") are skipped, so no item is ever addressed to nobody.
std::vector<std::string> list_users(std::string_view list);

// ---- Opinion block --------------------------------------------------------

// The date as a signature writes it: 2006年12月3日 (no leading zeros).
std::string signature_date(const DateTime& now);

// The signed opinion stored in a document's opinion columns and shown as
// markup by later pages: typed text + "<br>" + user name + "&nbsp;" + date.
// The typed text and the user name are HTML-escaped here, so a stored block
// is safe markup whatever the user typed; only "<br>" and "&nbsp;" are tags.
std::string opinion_block(std::string_view typed, std::string_view username, const DateTime& now);

// ---- Step codes -----------------------------------------------------------

// Codes written to workflow.handtype / workflow.nexttype; 1-4 are also the
// values of the posted `typed` choice.
enum StepCode : int {
  kDrafting = 0,      // drafting and redrafting
  kVerification = 1,  // draft verification
  kReview = 2,        // review
  kCountersign = 3,   // countersign
  kSignOff = 4,       // sign-off
  kDistribution = 5,  // distribution and filing
  kRegistration = 6,  // registration by each recipient
};

// What a pending-work item of a step shows on the desk and where it leads.
struct ItemKind {
  std::string_view typed;  // newwork.typed, shown in brackets on the desk
  std::string_view url;    // newwork.url, the page that performs the step
};

struct Step {
  int code;
  std::string_view name;  // short name of the step
  ItemKind item;          // empty for drafting, which no item leads to
};

// The step of a code 0-6; nullptr for any other code.
const Step* find_step(int code);

// The step a posted code names, when it is a whole number between `lowest`
// and `highest` (both inclusive, within 0-6); nullptr otherwise.
const Step* parse_step(std::string_view posted, int lowest, int highest);

// Items that have no step code.
inline constexpr ItemKind kRedraftItem{"重新起草公文", "fawen1.asp"};  // after a send-back
inline constexpr ItemKind kInstructionItem{"收文批办", "piban.asp"};   // after registration

// ---- Pending-work items ---------------------------------------------------

// One newwork row.
struct Item {
  std::int64_t id = 0;
  std::string userid;  // login id of the user who must act
  std::string title;
  std::string url;
  std::int64_t baseid = 0;  // document (or case) id
  std::string applytime;    // ISO date and time
  std::string typed;
  std::string userlist;  // rest of a sequential chain; "" for single items
  int status = 0;        // 0 pending, 1 done
  std::string donetime;  // ISO date and time; "" while pending
};

// Adds a pending item of `kind` for `userid`, created now, with the rest of a
// sequential chain in `userlist` ("" for a single item); the status is left
// to its default, 0. Returns the item's id.
std::int64_t add_item(db::Connection& conn, std::string_view userid, std::string_view title,
                      const ItemKind& kind, std::int64_t baseid, const DateTime& now,
                      std::string_view userlist = "");

// Marks item `id` done now, but only while it is pending and owned by
// `userid`. Returns false (and changes nothing) for an item that is missing,
// already done or another user's; callers then refuse the step.
bool close_item(db::Connection& conn, std::int64_t id, std::string_view userid,
                const DateTime& now);

// The item with that id, if any.
std::optional<Item> load_item(db::Connection& conn, std::int64_t id);

// The desk's link to an item: url + "?flowid=" + baseid + "&nwid=" + id.
std::string item_link(std::string_view url, std::int64_t baseid, std::int64_t id);
std::string item_link(const Item& item);

// ---- History --------------------------------------------------------------

// One step performed on a document, for the workflow (outgoing) or swflow
// (incoming) history. Codes are stored as decimal text.
struct HistoryEntry {
  std::int64_t flowid = 0;  // fawen.id or shouwen.id
  std::string handlename;   // name of the user who performed the step
  std::string handleid;     // that user's login id
  std::string ipaddress;    // the client's address
  std::string nextid;       // next recipient: one login id or a recipient list
  int handtype = 0;         // step performed
  int nexttype = 0;         // step requested next
  std::string remark;       // the opinion as typed, without its signature
};

// Appends a workflow row handled now; returns its id.
std::int64_t add_workflow(db::Connection& conn, const HistoryEntry& entry, const DateTime& now);
// Appends a swflow row handled now (handtype goes to `handletype`); returns
// its id.
std::int64_t add_swflow(db::Connection& conn, const HistoryEntry& entry, const DateTime& now);

}  // namespace desk::workflow
