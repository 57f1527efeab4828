#include "server/host/register.h"

#include "server/host/edition.h"
#include "server/host/frames.h"
#include "server/host/kit.h"
#include "server/host/login.h"
#include "server/host/menu.h"
#include "server/host/placeholders.h"
#include "server/host/transfer.h"

namespace desk::host {
namespace {

// "login.asp": the login form posts username and password here. Failures go
// back to the form with a code the form turns into its message.
void login_page(asp::ScriptingContext& ctx) {
  auto& req = ctx.request();
  if (!req.is_post()) {
    ctx.response().Redirect("default.htm");
    return;
  }
  const Variant variant = variant_of(ctx.config());
  int result = 0;
  if (variant == Variant::full) {
    auto login = ctx.server().CreateObject<LoginFull>("deskserver.loginfull");
    login->username = req.Form("username");
    login->password = req.Form("password");
    result = login->checklogin(ctx.conn());
  } else {
    auto login = ctx.server().CreateObject<Login>(variant == Variant::simp ? "deskserver.loginsimp"
                                                                           : "deskserver.login");
    login->dlldatabase = "/" + ctx.config().database;
    login->username = req.Form("username");
    login->password = req.Form("password");
    result = login->checklogin();
  }
  if (result == kNoSuchUser) ctx.response().Redirect("default.htm?e=1");
  if (result == kNoName) ctx.response().Redirect("default.htm?e=2");
  if (result == kLocked) ctx.response().Redirect("default.htm?e=3");
  if (result == kDisabled) ctx.response().Redirect("default.htm?e=5");
}

// "quit.asp": the menu's logout link (a GET). Only a logged-in session's
// logout is journalled; anyone else is just sent to the login page.
void quit_page(asp::ScriptingContext& ctx) {
  if (ctx.session().get("login") != "yes") {
    ctx.session().Abandon();
    return ctx.response().Redirect("default.htm");
  }
  auto quit = ctx.server().CreateObject<Quit>("deskserver.quit");
  quit->main(ctx.conn());
}

// "error.asp": where a page sends the browser when it cannot go on.
void error_page(asp::ScriptingContext& ctx) {
  ctx.response().Write(
      "<html><head><title>TARVO</title>"
      "<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>"
      "<link rel='stylesheet' href='apply.css' type='text/css'></head>"
      "<body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0' "
      "oncontextmenu='return false'><div "
      "class='message'><p>操作没有完成：所要的记录不存在或已被处理。</p>"
      "<p><a href='javascript:history.go(-1)' class='aapply'>返回</a></p></div></body></html>");
}

// "main.asp": the frame set of the working screen.
void main_page(asp::ScriptingContext& ctx, MainFrame& frame) {
  frame.main();
}

// "top.asp": the banner. Browsers without the movie's player show the banner
// picture instead, and its placeholder box is hidden.
void top_page(asp::ScriptingContext& ctx, Top& top) {
  top.main();
  ctx.response().Write(
      "<style type='text/css'>embed[type='application/x-shockwave-flash']{display:none}"
      "body{background:url(images/top.jpg) no-repeat left top,"
      "url(images/topbg.jpg) repeat-x left top #0a2a6e}</style>");
}

// "rd.asp": the bottom bar.
void rd_page(asp::ScriptingContext& ctx, Rd& rd) {
  rd.main();
}

// "left.asp": the menu, with the script its buttons call. The component
// closes the page's connection.
void left_page(asp::ScriptingContext& ctx, Left& left) {
  left.main(ctx.conn());
  ctx.response().Write("<script language='javascript' src='menu.js'></script>");
}

// "transfer.asp" (posted `page`, `doc`): a transfer token for the user's
// document helper, as one line of text.
void transfer_page(asp::ScriptingContext& ctx) {
  if (!ctx.request().is_post()) return plain_answer(ctx, 405, "请用 POST 申请传输凭据。");
  const std::string page = ctx.request().Form("page");
  if (!is_transfer_page(page)) throw Error(Errc::bad_request, "该页面不接受传输凭据。");
  plain_answer(ctx, 200, issue_transfer(ctx, page, ctx.request().Form("doc")));
}

}  // namespace

void register_pages(asp::Registry& r) {
  r.add_component<Login>("login");
  r.add_component<LoginFull>("loginfull");
  r.add_component<LoginSimp>("loginsimp");
  r.add_component<Quit>("quit");
  r.add_component<CheckPower>("checkpower");

  // Password hashing is slow on purpose: the login runs on the worker pool.
  add_page(r, "login.asp", login_page, {.access = asp::Access::open, .pooled = true});
  add_page(r, "quit.asp", quit_page, {.access = asp::Access::open});
  add_page(r, "error.asp", error_page, {.access = asp::Access::open});
  add_page<MainFrame>(r, "main", main_page);
  add_page<Top>(r, "top", top_page);
  add_page<Rd>(r, "rd", rd_page);
  add_page<Left>(r, "left", left_page);
  add_page(r, "transfer.asp", transfer_page, {.answer = Answer::plain});
  register_placeholders(r);
}

}  // namespace desk::host
