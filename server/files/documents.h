// Document bodies, templates and signature pictures: the endpoints that move
// Word files and pictures between the database and the browser, and the rule
// that decides who may read a document's body.
//
// Uploads take the file as the whole request body (no framing; the request's
// Content-Type is ignored). Downloads send one binary column as the whole
// response. None of these components writes HTML; each closes the page's
// connection when its work is done.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/asp/asp.h"

namespace desk::files {

// Session keys naming the outgoing / incoming document whose body this
// session uploaded; they let the uploader read the body back before the
// drafting or registration form has completed the row.
inline constexpr std::string_view kFawenUploadKey = "fawenupload";
inline constexpr std::string_view kShouwenUploadKey = "shouwenupload";

// True when the session's user may read the body and attachment of outgoing
// document `fawen_id`: an administrator (Session `type` "admin"); its drafter
// (`fawen.writeid`); a user with a history row of it (`workflow.handleid`); a
// user who has or had a pending item on it whose page works on outgoing
// documents (the step pages, redrafting and recipient registration; items of
// other kinds share `newwork` and `baseid` numbers and do not count); or the
// session that uploaded its body.
bool may_read_fawen(db::Connection& conn, std::int64_t fawen_id, const asp::Session& session);

// The same for incoming document `shouwen_id`: an administrator, its
// registering user (`shouwen.writeid`), a user with a `swflow` row of it, a
// user with an instruction item on it, or the session that uploaded its body.
bool may_read_shouwen(db::Connection& conn, std::int64_t shouwen_id, const asp::Session& session);

// The "Content-Disposition" value that saves a download under the stored
// name `name` (UTF-8): "attachment;filename=" + the name in the site's code
// page, then ";filename*=UTF-8''" + the percent-encoded UTF-8 name. Only the
// last path component is used; control characters, quotes, backslashes and
// semicolons are dropped, so the value is always one well-formed header
// value. An empty result falls back to `fallback` (plain ASCII).
std::string attachment_disposition(std::string_view name, std::string_view fallback);

// The document a download serves: the one its link names ("?flowid="),
// else the one Session `key` names. Either way the access rule decides.
std::optional<std::int64_t> linked_document(asp::ScriptingContext& ctx, std::string_view key);

// ---- Downloads ------------------------------------------------------------

// `loadtemple`: template `id` (request) as "temp.doc". Error(bad_request) for
// an id that is not a whole number, Error(not_found) for a missing template.
class LoadTemple : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// `loadhg`: the body of outgoing document Session `fawenid`, saved under its
// `documentname`. Error(not_found) when the key names no document,
// Error(forbidden) when may_read_fawen refuses; no bytes are sent then.
class LoadHg : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// `loadpso`: the attachment of outgoing document Session `fawenid`, saved
// under its `fujianname`. When the key names no document, or the document has
// no attachment, the browser is sent to "error.asp"; Error(forbidden) when
// may_read_fawen refuses.
class LoadPso : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// `swload`: the body of incoming document Session `shouwenid`; "error.asp"
// when the key names no document, Error(forbidden) when may_read_shouwen
// refuses.
class SwLoad : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// `loadsignature`: the logged-in user's own signature picture as
// "signature.jpg"; Error(not_found) when there is none.
class LoadSignature : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// `showbig`: the signature picture of user row `id` (request) as an image/JPEG
// attachment "sign.jpg". Does nothing at all when `id` is empty.
class ShowBig : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// `showsign`: the signature picture of user row `id` (request) as the whole
// response, without a file name or length. Does nothing when `id` is empty.
// The response may not run script or load anything, whatever bytes a user
// stored as a picture.
class ShowSign : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// ---- Uploads --------------------------------------------------------------
//
// A body of 0 bytes stores nothing and changes no Session value. A body over
// asp::upload_ceiling is refused with Error(too_large) before anything is stored.

// `savedoc`: a new outgoing document holding only the body (`filetype` "doc");
// sets Session `fawenid` to its id. While the form has not been saved,
// another upload of the session replaces the body of that same row.
class SaveDoc : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// `swpso`: a new incoming document holding only the body; sets Session
// `shouwenid` to its id. As `savedoc`, a second upload before the form is
// saved replaces the body of that row.
class SwPso : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// `upsign`: replaces the signature picture of the user Session `signid`.
// Error(forbidden) when that is another user and the session is not an
// administrator's; Error(not_found) when no user has that login id.
class UpSign : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// ---- Templates ------------------------------------------------------------

// `savetemple`: when request `title` is not empty, completes template Session
// `templeid` (title, time, client address, user) and sends the browser to
// "templelist.asp". Error(not_found) when the key names no template.
class SaveTemple : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// `templeset`: when request `id` is not empty, makes template `id` the only
// default (`fileindex` 1) and sends the browser to "templelist.asp". The
// change is one transaction: an unknown id leaves the old default in place
// (Error(not_found)).
class TempleSet : public asp::PageComponent {
 public:
  void main(db::Connection& conn);
};

// Registers the twelve components above with their hosting pages
// ("<name>.asp"), the template list "templelist.asp" with its upload endpoint
// "templeup.asp", and the signature page "mysign.asp" (document_pages.cc).
// Every page needs a logged-in session; uploading templates and choosing the
// default are for administrators only.
void register_document_pages(asp::Registry& registry);

}  // namespace desk::files
