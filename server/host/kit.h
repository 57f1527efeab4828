// The page kit every page of every subsystem is built with: who the user is,
// how a page refuses a request, how it answers, the choices its forms offer,
// the once-only token of a form that writes, and how a page is registered.
//
// Refusals: a page or component refuses by throwing desk::Error with a
// refusal code (bad_request, forbidden, not_found, conflict, too_large) and a
// message meant for the user. The page registered through add_page catches it
// in one place and answers with the message page (with its back link) or,
// for pages answering page script, with one line of plain text. Any other
// error reaches the host, which answers 500.
#pragma once

#include <array>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "core/error.h"
#include "platform/asp/asp.h"
#include "server/host/chrome.h"

namespace desk::host {

// ---- The user -----------------------------------------------------------------

// The user of the current request, read once from the Session.
struct User {
  std::string uid;   // login id; "" when nobody is logged in
  std::string name;  // display name
  std::string dep;   // department name
  bool admin = false;
  bool logged_in() const { return !uid.empty(); }
};
User current_user(const asp::Session& session);
inline User current_user(asp::ScriptingContext& ctx) {
  return current_user(ctx.session());
}

// The administrator gate: anyone else is sent to "powererror.htm" and the
// page ends there (`checkpower`).
void require_admin(asp::ScriptingContext& ctx);

// ---- Refusals and answers -----------------------------------------------------

// Codes that stand for a refused request rather than a failure of ours.
bool is_refusal(Errc code);

// How a page answers a refusal.
enum class Answer {
  page,   // the message page with a back link
  plain,  // one line of text/plain, for page script and the document control
};

// Replaces anything written with the message page: the site chrome, the
// message, a "返回" link back when `back` is set, and a link to the desk.
void message_page(asp::ScriptingContext& ctx, int status, std::string_view title,
                  std::string_view message, bool back = false);
// Replaces anything written with one plain-text answer.
void plain_answer(asp::ScriptingContext& ctx, int status, std::string_view text);

// ---- Typed input ----------------------------------------------------------------

// A date the user typed (2006-12-3, 2006/12/3, 2006年12月3日 …) in the one
// stored form, "2006-12-03"; "" stays "". Anything else is refused
// (Error bad_request) with a message naming the field `label`.
std::string typed_date(std::string_view typed, std::string_view label);

// ---- Form choices -----------------------------------------------------------------

struct Option {
  std::string_view value;
  std::string_view label;
};

// The classification and urgency of a document, stored as their labels.
inline constexpr std::array<Option, 3> kMiji = {
    {{"普通", "普通"}, {"秘密", "秘密"}, {"绝密", "绝密"}}};
inline constexpr std::array<Option, 3> kHuanji = {
    {{"一般", "一般"}, {"紧急", "紧急"}, {"加急", "加急"}}};
// A user's clearance for documents, stored as "1", "2", "3".
inline constexpr std::array<Option, 3> kPower = {{{"1", "普 通"}, {"2", "秘 密"}, {"3", "绝 密"}}};

// "<select name=…>" with the options, `current` selected (the first when no
// value matches). Values and labels are escaped.
std::string select(std::string_view name, std::span<const Option> options,
                   std::string_view current);

// ---- Once-only form tokens --------------------------------------------------------

// The field name of the token, in a form or (raw-body uploads) in the query.
inline constexpr std::string_view kFormTokenField = "formtoken";

// Issues a token for one form of this session. A page registered `once`
// accepts each token for one successful post.
std::string form_token(asp::ScriptingContext& ctx);
// The hidden field that carries a new token, for the end of a form.
std::string form_token_field(asp::ScriptingContext& ctx);

// ---- Registration -------------------------------------------------------------------

struct PageOptions {
  asp::Access access = asp::Access::login;
  Answer answer = Answer::page;
  std::string_view title = "TARVO网络办公系统";  // of the message page on a refusal
  // A POST must carry a form token issued by form_token; it is spent when the
  // page completes without a refusal, so a repeated or replayed post is
  // refused instead of written twice.
  bool once = false;
  // The page takes a raw-body or multipart upload up to the upload ceiling.
  bool upload = false;
  // The page does slow work (password hashing, a modem, a conversion) and runs
  // on the host's worker pool.
  bool pooled = false;
  // The page also serves requests that carry a transfer token instead of the
  // session cookie (server/host/transfer.h): such a request runs as the
  // session the token is bound to, and a bad token is refused with 403.
  bool transfer = false;
};

using Page = std::function<void(asp::ScriptingContext&)>;

// Registers hosting page `name` ("planlist.asp").
void add_page(asp::Registry& r, std::string_view name, Page page, PageOptions options = {});

// Registers component "deskserver.<class_name>" and its hosting page
// "<class_name>.asp" together; the page gets the component, started on it.
template <class T>
void add_page(asp::Registry& r, std::string_view class_name,
              std::function<void(asp::ScriptingContext&, T&)> page, PageOptions options = {}) {
  r.add_component<T>(class_name);
  std::string progid = "deskserver." + std::string(class_name);
  add_page(
      r, std::string(class_name) + ".asp",
      [progid, page = std::move(page)](asp::ScriptingContext& ctx) {
        auto component = ctx.server().CreateObject<T>(progid);
        page(ctx, *component);
      },
      options);
}

}  // namespace desk::host
