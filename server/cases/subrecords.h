// The page components of a case's sub-records: contacts, fee entries, work
// log, analysis notes and documents.
//
// Adding acts on a POST with `flag` "2" only and writes one row of case
// `flowid` (status 0); nothing is written to the response. Deleting acts on a
// POST only and then sends the browser to the sub-record list of the case
// (`flowid`): contacts, work-log entries and analysis notes are kept and
// marked deleted (status 99, the deleting user, time and address in
// `writeid`, `writename`, `adddate`, `ipaddress`); fee entries and documents
// are removed. A delete only touches a row of the case it names. Every
// component refuses a case the user may not see (cases.h), an id that is not
// a whole number (Error(bad_request)), and writes nothing then.
#pragma once

#include "server/cases/lawinfo.h"

namespace desk::cases {

// Fields: moneytype (kind; "1" fee received, kept positive, every other kind
// stored negative), moneyamt (a number, else Error(bad_request)), moneydesc,
// moneydate (a date or empty), lawyerid, lawyername.
class LawInfoMoney : public CaseComponent {
 public:
  void main(db::Connection& conn);
};

// Fields: linkname, relation, mobile, companyname, desc.
class LawInfoLinkbook : public CaseComponent {
 public:
  void main(db::Connection& conn);
};

// Fields: worktype, lawyerid, lawyername, donedate (a date or empty), desc.
class LawInfoWork : public CaseComponent {
 public:
  void main(db::Connection& conn);
};

// Fields: donedate (a date or empty), desc; the writer is the lawyer.
class LawInfoAnalysis : public CaseComponent {
 public:
  void main(db::Connection& conn);
};

// Request `id` (the row) and `flowid` (its case); back to the list page.
class LawInfoLinkbookDel : public CaseComponent {
 public:
  void main(db::Connection& conn);  // -> "lawinfolinkbook.asp?flowid="
};
class LawInfoWorkDel : public CaseComponent {
 public:
  void main(db::Connection& conn);  // -> "lawinfowork.asp?flowid="
};
class LawInfoAnalysisDel : public CaseComponent {
 public:
  void main(db::Connection& conn);  // -> "lawinfoanalysis.asp?flowid="
};
class LawInfoMoneyDel : public CaseComponent {
 public:
  void main(db::Connection& conn);  // -> "lawinfomoney.asp?flowid="
};
class LawInfoDocDel : public CaseComponent {
 public:
  void main(db::Connection& conn);  // -> "lawinfodoc.asp?flowid="
};

// `lawinfodocdown`: the document whose `lawfj.id` is request `flowid`, as an
// attachment under its stored name. When there is no such document (or no
// number, or no bytes) the browser is sent to "error.asp";
// Error(forbidden) when the user may not see its case.
class LawInfoDocDown : public CaseComponent {
 public:
  void main(db::Connection& conn);
};

// `lawinfodocsave`: does nothing; its hosting page stores the uploaded
// documents.
class LawInfoDocSave : public CaseComponent {
 public:
  void main(db::Connection&) {}
};

}  // namespace desk::cases
