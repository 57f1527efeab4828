#include "server/host/kit.h"

#include "core/text.h"
#include "server/host/login.h"
#include "server/host/transfer.h"

namespace desk::host {

using text::html;

User current_user(const asp::Session& s) {
  User u;
  u.uid = s.get("uid");
  u.name = s.get("username");
  u.dep = s.get("dep");
  u.admin = s.get("type") == "admin";
  return u;
}

void require_admin(asp::ScriptingContext& ctx) {
  ctx.server().CreateObject<CheckPower>("deskserver.checkpower")->main();
}

bool is_refusal(Errc code) {
  switch (code) {
    case Errc::bad_request:
    case Errc::forbidden:
    case Errc::not_found:
    case Errc::conflict:
    case Errc::too_large:
    case Errc::unsupported:
      return true;
    default:
      return false;
  }
}

void message_page(asp::ScriptingContext& ctx, int status, std::string_view title,
                  std::string_view message, bool back) {
  message_page(ctx.response(), status, title, message, back, {{"right.asp", "返回桌面"}});
}

void plain_answer(asp::ScriptingContext& ctx, int status, std::string_view text) {
  auto& r = ctx.response();
  r.Clear();
  r.Status = status;
  r.ContentType = "text/plain";
  r.Write(text);
}

std::string typed_date(std::string_view typed, std::string_view label) {
  if (text::trim(typed).empty()) return "";
  DateTime d;
  if (!Regional::parse_date(typed, d))
    throw Error(Errc::bad_request, "“" + std::string(label) + "”不是有效的日期：" +
                                       std::string(typed) + "，请按 2006-12-3 的格式填写。");
  return d.iso_date();
}

std::string select(std::string_view name, std::span<const Option> options,
                   std::string_view current) {
  bool any = false;
  for (const Option& o : options) any = any || o.value == current;
  std::string out = "<select name='" + html(name) + "'>";
  bool first = true;
  for (const Option& o : options) {
    bool chosen = any ? o.value == current : first;
    out += "<option value='" + html(o.value) + "'" + (chosen ? " selected" : "") + ">" +
           html(o.label) + "</option>";
    first = false;
  }
  return out + "</select>";
}

std::string form_token(asp::ScriptingContext& ctx) {
  return ctx.session().issue_token();
}

std::string form_token_field(asp::ScriptingContext& ctx) {
  return "<input type='hidden' name='" + std::string(kFormTokenField) + "' value='" +
         html(form_token(ctx)) + "'>";
}

namespace {

constexpr const char* kResent = "该表单已经提交过了，请勿重复提交。";
constexpr const char* kBusy = "该表单正在提交，请稍候，不要重复点击。";
constexpr const char* kStale = "表单已经失效（可能已超时），请重新打开页面后再提交。";
constexpr const char* kBadTransfer = "传输凭据无效、已用过或已过期，请重新打开页面。";

void refuse(asp::ScriptingContext& ctx, const PageOptions& o, int status, std::string_view msg) {
  if (o.answer == Answer::plain)
    plain_answer(ctx, status, msg);
  else
    message_page(ctx, status, o.title, msg, true);
}

// The page with its form token, refusals caught in one place.
void run_page(asp::ScriptingContext& ctx, const Page& page, const PageOptions& o) {
  std::string token;
  if (o.once && ctx.request().is_post()) {
    token = ctx.request().Form(kFormTokenField);
    if (token.empty()) token = ctx.request().QueryString(kFormTokenField);
    switch (ctx.session().claim_token(token)) {
      case asp::Session::Claim::claimed:
        break;
      case asp::Session::Claim::spent:
        return refuse(ctx, o, 409, kResent);
      case asp::Session::Claim::busy:
        return refuse(ctx, o, 409, kBusy);
      case asp::Session::Claim::unknown:
        return refuse(ctx, o, 400, kStale);
    }
  }
  try {
    page(ctx);
  } catch (const asp::ResponseEnd&) {
    // Response.End after the work is done is a normal end of the page.
    if (!token.empty()) ctx.session().settle_token(token, true);
    throw;
  } catch (const Error& e) {
    if (!token.empty()) ctx.session().settle_token(token, false);
    if (!is_refusal(e.code())) throw;
    return refuse(ctx, o, http_status(e.code()), e.what());
  } catch (...) {
    if (!token.empty()) ctx.session().settle_token(token, false);
    throw;
  }
  if (!token.empty()) ctx.session().settle_token(token, true);
  // Every page with a form gets the guard that sends a form once.
  auto& r = ctx.response();
  if (!r.redirected() && r.ContentType == "text/html" &&
      r.body().find("<form") != std::string::npos)
    r.Write("<script language='javascript' src='guard.js'></script>");
}

// A request with a transfer token runs as the session the token is bound
// to; that session's cookie is never sent with the answer.
void run_transfer(asp::ScriptingContext& ctx, const std::string& name, const Page& page,
                  const PageOptions& o, std::string_view token) {
  auto grant = claim_transfer(ctx.app(), token, name, transfer_document(ctx.request()), ctx.now());
  if (!grant) return plain_answer(ctx, 403, kBadTransfer);
  asp::Session bound(&ctx.app().sessions, grant->session);
  if (bound.get("login") != "yes" || bound.get("uid") != grant->uid)
    return plain_answer(ctx, 403, kBadTransfer);
  asp::ScriptingContext as_user(ctx.app(), ctx.request(), ctx.response(), bound);
  as_user.lend_connection(&ctx.conn());
  run_page(as_user, page, o);
}

}  // namespace

void add_page(asp::Registry& r, std::string_view name, Page page, PageOptions options) {
  asp::PageSpec entry;
  entry.name = std::string(name);
  entry.access = options.access;
  entry.upload = options.upload;
  entry.pooled = options.pooled;
  if (options.transfer) {
    // The host lets these requests in without a session; the login check
    // is made here once the request is known not to carry a token.
    entry.access = asp::Access::open;
    add_transfer_page(name);
  }
  entry.handler = [page = std::move(page), o = options,
                   name = text::to_lower(name)](asp::ScriptingContext& ctx) {
    if (o.transfer) {
      std::string token = ctx.request().QueryString(kTransferField);
      if (!token.empty()) return run_transfer(ctx, name, page, o, token);
      if (o.access == asp::Access::login && ctx.session().get("login") != "yes")
        return ctx.response().Redirect("/" + ctx.app().name + "/default.htm");
    }
    run_page(ctx, page, o);
  };
  r.add_page(std::move(entry));
}

}  // namespace desk::host
