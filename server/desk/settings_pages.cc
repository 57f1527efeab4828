#include "server/desk/settings_pages.h"

#include <initializer_list>
#include <string>

#include "core/password.h"
#include "core/text.h"
#include "server/desk/fields.h"
#include "server/desk/users.h"
#include "server/host/chrome.h"
#include "server/host/kit.h"

namespace desk::deskpages {
namespace {

struct Entry {
  std::string_view href;
  std::string_view title;
  std::string_view note;
};

// A page listing the tools of one menu entry.
void tool_list(asp::Response& r, std::string_view title, std::initializer_list<Entry> entries) {
  std::string out = host::page_head(title) + host::title_bar(title, {{"right.asp", "返回桌面"}}) +
                    "<table width='96%' align='center' border='0' cellspacing='1' cellpadding='6' "
                    "bgcolor='#B5C7E8'>";
  for (const Entry& e : entries)
    out += "<tr bgcolor='#FFFFFF'><td width='30%' class='10blue'><a href='" + text::html(e.href) +
           "' class='aapply'>" + text::html(e.title) + "</a></td><td class='10blue'>" +
           text::html(e.note) + "</td></tr>";
  out += "</table>" + std::string(host::kPageEnd);
  r.Write(out);
}

void personmsg_page(asp::ScriptingContext& ctx) {
  tool_list(ctx.response(), "个人设置",
            {{"mypassword.asp", "修改密码", "修改您登录系统的密码。"},
             {"mysign.asp", "个人签名", "上传或更换您在公文上使用的签名图片。"},
             {"planlist.asp", "个人安排", "记录您的日程，到时在状态栏提醒。"},
             {"phonelist.asp", "通讯录", "您的联系人和同事的联系方式。"},
             {"mailbox.asp", "收件箱", "查看您收到的内部邮件。"},
             {"flowlist.asp", "流程跟踪", "查看您起草或办理过的公文及其办理记录。"}});
}

void system_page(asp::ScriptingContext& ctx) {
  host::require_admin(ctx);
  tool_list(ctx.response(), "系统维护",
            {{"usermanage.asp", "用户管理", "添加、修改、停用用户，重置密码，解除登录锁定。"},
             {"departmanage.asp", "部门管理", "添加部门，修改部门名称，删除没有用户的部门。"},
             {"newsmanage.asp", "公告管理", "发布、修改和删除公告通知。"},
             {"syssetting.asp", "系统设置", "上传文件的大小上限和提示音。"},
             {"templelist.asp", "公文模板", "上传公文模板，选择默认模板。"},
             {"mysign.asp", "签名图片", "为任一用户上传签名图片。"}});
}

// "mypassword.asp": the user changes their own password; the old one must
// be given. POST answers with a redirect to the page with a note.
void mypassword_page(asp::ScriptingContext& ctx) {
  const host::User me = host::current_user(ctx);
  auto& conn = ctx.conn();
  if (ctx.request().is_post()) {
    const std::string old_pw = ctx.request().Form("oldpassword");
    const std::string new_pw = typed_field(ctx, "newpassword", "新密码", kPasswordChars, true);
    if (new_pw != ctx.request().Form("newpassword2"))
      throw Error(Errc::bad_request, "两次输入的新密码不一致。");
    // The account login would let in: the first row of the login id whose
    // password matches.
    std::int64_t id = 0;
    for (const db::Row& row :
         conn.query("SELECT id, passwd FROM userlist WHERE uid = ? ORDER BY id", {me.uid})) {
      if (password::verify(row.text("passwd"), old_pw).ok) {
        id = row.integer("id");
        break;
      }
    }
    if (id == 0) throw Error(Errc::forbidden, "原密码不正确。");
    const std::string hash = hash_password(ctx, new_pw);
    db::Transaction tx(conn);
    conn.exec("UPDATE userlist SET passwd = ? WHERE id = ?", {hash, id});
    tx.commit();
    return ctx.response().Redirect("mypassword.asp?done=1");
  }
  std::string out =
      host::page_head("修改密码") + "<script language='javascript' src='apply.js'></script>" +
      host::title_bar("修改密码", {{"personmsg.asp", "个人设置"}, {"right.asp", "返回桌面"}});
  if (ctx.request().QueryString("done") == "1") out += "<div class='notice'>密码已修改。</div>";
  out +=
      "<form name='form' method='post' action='mypassword.asp' onSubmit='return checkpassword()'>"
      "<table class='formtable' align='center'><tr><td class='label'>原 密 码：</td><td>"
      "<input type='password' name='oldpassword' size='25' maxlength='50' "
      "autocomplete='current-password'></td></tr><tr><td class='label'>新 密 码：</td><td>"
      "<input type='password' name='newpassword' size='25' maxlength='50' "
      "autocomplete='new-password'></td></tr><tr><td class='label'>确认新密码：</td><td>"
      "<input type='password' name='newpassword2' size='25' maxlength='50' "
      "autocomplete='new-password'></td></tr><tr><td></td><td><input type='submit' "
      "value='修 改'></td></tr></table>" +
      host::form_token_field(ctx) + "</form>" + std::string(host::kPageEnd);
  ctx.response().Write(out);
}

}  // namespace

void register_settings_pages(asp::Registry& registry) {
  host::add_page(registry, "personmsg.asp", personmsg_page);
  host::add_page(registry, "system.asp", system_page, {.title = "系统维护"});
  host::add_page(registry, "mypassword.asp", mypassword_page,
                 {.title = "修改密码", .once = true, .pooled = true});
}

}  // namespace desk::deskpages
