// Pending work and history: the one owner of `newwork` items and of the
// history rows the roads append (`workflow` for outgoing documents, `swflow`
// for incoming ones, and the send-backs beside them) and of the case history
// (`lawflow`).
//
// The functions take the page's connection and plain values, never the
// request, and open no transaction of their own: a step calls them inside its
// own db::Transaction so the whole step is written or nothing is.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "platform/db/db.h"

namespace desk::work {

// What an item shows on the desk and where it leads.
struct ItemKind {
  std::string_view typed;  // newwork.typed, shown in brackets on the desk
  std::string_view url;    // newwork.url, the page that performs the step
};

// One newwork row.
struct Item {
  std::int64_t id = 0;
  std::string userid;  // login id of the user who must act
  std::string title;
  std::string url;
  std::int64_t baseid = 0;  // document or case id
  std::string applytime;    // ISO date and time
  std::string typed;
  std::string userlist;  // rest of a sequential chain; "" for single items
  int status = 0;        // 0 pending, 1 done
  std::string donetime;  // ISO date and time; "" while pending
};

// Adds a pending item of `kind` for `userid`, created now, with the rest of a
// sequential chain in `userlist` ("" for a single item). Returns its id.
// An item is only ever addressed to a user who exists: an unknown login id is
// refused with Error(bad_request) naming it, so the caller's transaction
// writes nothing.
std::int64_t add_item(db::Connection& conn, std::string_view userid, std::string_view title,
                      const ItemKind& kind, std::int64_t baseid, const DateTime& now,
                      std::string_view userlist = "");

// Refuses (Error bad_request naming the login id) unless every id names a
// user; for chains whose later users get their items only step by step.
void require_users(db::Connection& conn, std::span<const std::string> uids);

// Marks item `id` done now, but only while it is pending and owned by
// `userid`. False (nothing changed) for an item missing, done or another's.
bool close_item(db::Connection& conn, std::int64_t id, std::string_view userid,
                const DateTime& now);

// Closes every pending item of `userid` that leads to `url` for `baseid`;
// returns how many were closed.
std::int64_t close_items_of(db::Connection& conn, std::string_view userid, std::string_view url,
                            std::int64_t baseid, const DateTime& now);

// Closes every pending item of any user that leads to `url` for `baseid`
// (the document or case is gone); returns how many were closed.
std::int64_t close_all_items_of(db::Connection& conn, std::string_view url, std::int64_t baseid,
                                const DateTime& now);

// The item with that id, if any.
std::optional<Item> load_item(db::Connection& conn, std::int64_t id);

// The item a step works on. Item `nwid` must be pending, owned by `uid`, act
// on `baseid` and lead to one of `urls`. Every way of failing that check is
// one fault, answered with Error(conflict) and a message for the user; a
// `nwid` that is not a positive whole number is Error(bad_request).
Item open_item(db::Connection& conn, std::string_view nwid, std::string_view uid,
               std::int64_t baseid, std::span<const std::string_view> urls);
Item open_item(db::Connection& conn, std::int64_t nwid, std::string_view uid, std::int64_t baseid,
               std::span<const std::string_view> urls);
inline Item open_item(db::Connection& conn, std::int64_t nwid, std::string_view uid,
                      std::int64_t baseid, std::string_view url) {
  return open_item(conn, nwid, uid, baseid, std::span<const std::string_view>(&url, 1));
}
inline Item open_item(db::Connection& conn, std::string_view nwid, std::string_view uid,
                      std::int64_t baseid, std::string_view url) {
  return open_item(conn, nwid, uid, baseid, std::span<const std::string_view>(&url, 1));
}

// The link to an item: url + "?flowid=" + baseid + "&nwid=" + id (with an
// empty url, the query part alone). Not escaped: the url is stored text.
std::string item_link(std::string_view url, std::int64_t baseid, std::int64_t id);
inline std::string item_link(const Item& item) {
  return item_link(item.url, item.baseid, item.id);
}

// ---- History ----------------------------------------------------------------

// The history tables of the document roads.
enum class Road {
  outgoing,  // workflow: fawen ids; the step performed is `handtype`
  incoming,  // swflow: shouwen ids; the step performed is `handletype`
};

// One step performed on a document or case. Codes are stored as decimal text;
// a code below 0 is stored as "" (no next step).
struct HistoryEntry {
  std::int64_t flowid = 0;  // the document or case
  std::string handlename;   // name of the user who performed the step
  std::string handleid;     // that user's login id
  std::string ipaddress;    // the client's address
  std::string nextid;       // next recipient: one login id or a recipient list
  int handtype = 0;         // step performed
  int nexttype = 0;         // step requested next
  std::string remark;       // the opinion as typed, without its signature
};

// Appends a history row handled now to the road's table; returns its id.
std::int64_t add_history(db::Connection& conn, Road road, const HistoryEntry& entry,
                         const DateTime& now);

// Send-backs, which the roads' own tables do not record: kept beside them so
// a document's history page can show them. Returns the row's id.
struct SendBack {
  std::int64_t flowid = 0;
  std::string handlename;
  std::string handleid;
  std::string ipaddress;
  std::string toid;    // the user the document went back to
  std::string step;    // the page the item was sent back from ("hegao.asp")
  std::string reason;  // as typed
};
std::int64_t add_sendback(db::Connection& conn, Road road, const SendBack& entry,
                          const DateTime& now);

// ---- Case history -------------------------------------------------------------

// One acceptance or edit of a case (a `lawflow` row; the system writes
// handletype 0 in every row).
struct CaseHistoryEntry {
  std::int64_t lawid = 0;  // the case
  std::string lawyerid;    // login id of the user who accepted or edited it
  std::string lawyername;  // that user's name
  std::string ipaddress;   // the client's address
};

// Appends a case history row done now; returns its id.
std::int64_t add_case_history(db::Connection& conn, const CaseHistoryEntry& entry,
                              const DateTime& now);

}  // namespace desk::work
