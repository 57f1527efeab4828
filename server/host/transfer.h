// Transfer tokens: how the user's own document helper (a program on the
// user's computer that fetches and posts document bodies for the page)
// acts for the logged-in user without ever holding the session cookie.
//
// The page asks "transfer.asp" for a token naming one transfer page and one
// document; the helper adds it to that page's address as `transfer=TOKEN`.
// A token is bound to the session that asked (so to its user), to the page
// name and to the document (the request's `flowid`, else its `id`, else
// none); it is good for kTransferMinutes and for one request, refused after
// that, and refused when the session has ended or now holds another user.
// Pages accept tokens when registered with PageOptions::transfer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/asp/asp.h"

namespace desk::host {

inline constexpr std::string_view kTransferField = "transfer";
inline constexpr int kTransferMinutes = 5;

// The document a request to a transfer page names: its `flowid` query
// value, else its `id`, else "".
std::string transfer_document(const asp::Request& request);

// Issues a token for `page` (a page name such as "savedoc.asp", any case)
// and `document`, bound to the session of `ctx`.
std::string issue_transfer(asp::ScriptingContext& ctx, std::string_view page,
                           std::string_view document);

// The session a token acts for: its cookie token and the user it held when
// the token was issued.
struct TransferGrant {
  std::string session;
  std::string uid;
};

// Takes token `token` for one request to `page` naming `document` at time
// `now` of application `app`. nullopt when the token is unknown, used,
// expired, or issued for another page, document or application. A token is
// used once it has been presented with the right page and document, whatever
// happens next.
std::optional<TransferGrant> claim_transfer(const asp::AppEnv& app, std::string_view token,
                                            std::string_view page, std::string_view document,
                                            const DateTime& now);

// Names of pages that accept transfer tokens (lower case); filled when such
// pages are registered.
bool is_transfer_page(std::string_view page);
void add_transfer_page(std::string_view page);

}  // namespace desk::host
