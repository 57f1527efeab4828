#include "server/host/register.h"

#include "server/host/login.h"

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
  const std::string& variant = ctx.config().variant;
  int result = 0;
  if (variant == "full") {
    auto login = ctx.server().CreateObject<LoginFull>("deskserver.loginfull");
    login->username = req.Form("username");
    login->password = req.Form("password");
    result = login->checklogin(ctx.conn());
  } else {
    auto login = ctx.server().CreateObject<Login>(variant == "simp" ? "deskserver.loginsimp"
                                                                    : "deskserver.login");
    login->dlldatabase = "/" + ctx.config().database;
    login->username = req.Form("username");
    login->password = req.Form("password");
    result = login->checklogin();
  }
  if (result == kNoSuchUser) ctx.response().Redirect("default.htm?e=1");
  if (result == kNoName) ctx.response().Redirect("default.htm?e=2");
}

void quit_page(asp::ScriptingContext& ctx) {
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
      "oncontextmenu='return false'><div class='message'><p>操作没有完成：所要的记录不存在或已被处理。</p>"
      "<p><a href='javascript:history.go(-1)' class='aapply'>返回</a></p></div></body></html>");
}

}  // namespace

void register_pages(asp::Registry& r) {
  r.add_component<Login>("login");
  r.add_component<LoginFull>("loginfull");
  r.add_component<LoginSimp>("loginsimp");
  r.add_component<Quit>("quit");
  r.add_component<CheckPower>("checkpower");

  r.add_page({"login.asp", login_page, asp::Access::open});
  r.add_page({"quit.asp", quit_page, asp::Access::open});
  r.add_page({"error.asp", error_page, asp::Access::open});
}

}  // namespace desk::host
