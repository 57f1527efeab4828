// The approval steps of an outgoing document: draft verification, review
// (alone or starting a countersign chain), countersign, sign-off,
// distribution, and the send-back to the drafter.
//
// Every step is one transaction: the document row, the history row, the new
// item(s) and the closing of the handler's own item are written together or
// not at all. A step refuses by throwing Error (bad_request for bad input,
// conflict for an item that is done, another user's or of another document,
// not_found for a missing document) with a message meant for the user, and
// writes nothing then. Each successful step clears Session `fawenid`.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/asp/asp.h"
#include "server/workflow/flow.h"

namespace desk::workflow {

// The pages of the steps that a send-back may interrupt.
inline constexpr std::array<std::string_view, 5> kSendBackFrom = {
    "hegao.asp", "shenhe.asp", "huiqian.asp", "qianfa.asp", "fenfa.asp"};

// The opinion columns of fawen, the only columns a send-back may append to.
bool is_opinion_column(std::string_view column);

// Request fields: flowid, nwid, name_hg, hiddenselect (one login id), typed
// (1-4). Replaces name_hg and hegaoname.
class Hegao : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// Request fields: flowid, nwid, name_sh, hiddenselect, typed (3 or 4).
class Shenhe : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// Review that starts a countersign chain. Request fields: flowid, nwid,
// hiddenselect (the countersigners, a recipient list), qianfa (the sign-off
// user); the opinion comes from Session `name_sh`. The chain is the
// countersigners followed by the sign-off user. A chain without any
// countersigner is answered with a message and the response ends.
class Sendhuiqian : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// One countersign answer. Request fields: flowid, nwid, name_hq. The next
// user is taken from the item's chain: the last one signs off.
class Huiqian : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// Request fields: flowid, nwid, name_qf, hiddenselect (the distributor).
class Qianfa : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// Request fields: flowid, nwid, hiddenselect (the recipients, a recipient
// list; each gets a registration item). Marks the document distributed.
class Fenfa : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// Return to the drafter. Request fields: nwid, backtype (one of the opinion
// columns), reason (required); the document is Session `fawenid`, or the
// posted `flowid` when the form names one. Appends no workflow row; the
// send-back is recorded beside the history (work::add_sendback).
class Sendback : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

}  // namespace desk::workflow
