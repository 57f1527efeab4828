// The pieces every workflow step shares: recipient lists, opinion blocks and
// step codes.
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
#include "server/work/work.h"

namespace desk::workflow {

// Items and history belong to server/work; the workflow names them often.
using work::Item;
using work::ItemKind;

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

// The next step a plain routing form (drafting, draft verification, review)
// chose: a code between `lowest` and `highest`, but never countersign, which
// needs its chain of countersigners and sign-off user and is started from the
// review page's chain form. Throws Error(bad_request) otherwise.
const Step& routed_step(std::string_view posted, int lowest, int highest);

// Items that have no step code.
inline constexpr ItemKind kRedraftItem{"重新起草公文", "fawen1.asp"};  // after a send-back
inline constexpr ItemKind kInstructionItem{"收文批办", "piban.asp"};   // after registration

}  // namespace desk::workflow
