// The page components that act on a case as a whole: the case list's
// statement, deleting, accepting, editing, closing and reopening a case.
//
// Every change is one transaction and is made only on a POST; a refusal
// (Error with a message for the user) writes nothing. Each component checks
// the access rule of cases.h on the case it changes.
#pragma once

#include <string>
#include <string_view>

#include "platform/asp/asp.h"
#include "platform/db/db.h"
#include "server/host/kit.h"

namespace desk::cases {

// What every case component shares.
class CaseComponent : public asp::PageComponent {
 public:
  // Request field `td` (query string, then form) without surrounding blanks.
  std::string getvalue(std::string_view td) const;

  // Who acts, from where, and when.
  struct Actor {
    host::User user;
    std::string ip;
    DateTime now;
  };

 protected:
  // True for a POST whose `flag` is `flag`.
  bool posted(std::string_view flag) const;
  Actor actor() const;
};

// The statement of the case list, with `?` placeholders and their values in
// order.
struct ListStatement {
  std::string sql;
  db::Params values;
};

// `lawlistall`: the case list's statement from request `type` ("1": only the
// user's own cases), `title` (searched in `lawtitle`) and `ifdone` ("1" or
// empty: all, "2": open, "3": closed). The title goes into the `like`
// pattern as it was sent, untrimmed; whether there is a title at all is
// decided on the trimmed value. Deleted cases never show; newest first.
// Runs nothing.
class LawListAll : public CaseComponent {
 public:
  ListStatement main(db::Connection& conn);
};

// `lawinfoalldel`: on a POST, marks case `flowid` deleted (status 99, by the
// user, now, from the client's address) and closes every pending item of it;
// then sends the browser to "lawlistall.asp". A case that does not exist (or
// is deleted already) changes nothing. Error(bad_request) for a `flowid`
// that is not a whole number, Error(forbidden) for a case the user may not
// see.
class LawInfoAllDel : public CaseComponent {
 public:
  void main(db::Connection& conn);
};

// `lawaccept`: on a POST with `flag` "2", a new open case from the form
// fields (named like their `lawinfo` columns; `moneyrate` "100" when empty,
// `receivedate` a date or empty), its first history row and, when the
// responsible lawyer `lawyerid` is not the user, a "案件处理" item on that
// lawyer's desk titled with the case number. Answers with the script that
// announces "登记案件成功！" and returns to "lawaccept.asp", and ends the
// page. Any other request: nothing.
class LawAccept : public CaseComponent {
 public:
  void main(db::Connection& conn);
};

// `lawdiscuss`: the posted steps of case `flowid`, by `flag`:
//   "jiean"  closes it (status 1, by the user, now, from the client's
//            address); writes nothing to the response;
//   "reopen" opens a closed case again (status 0); writes nothing;
//   "2"      saves the form fields as `lawaccept` does (the status stays),
//            appends a history row, puts a "案件处理" item on the desk of a
//            lawyer who is not the user, announces "卷宗修改成功！" and returns
//            to the case page (to the case list when the user handed the
//            case over and may no longer see it), ending the page.
// Saving and closing close the user's own pending items of the case.
// Any other request: nothing.
class LawDiscuss : public CaseComponent {
 public:
  void main(db::Connection& conn);
};

}  // namespace desk::cases
