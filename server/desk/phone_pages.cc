// Hosting pages of the phone book: "phonelist.asp" (one's own contacts with
// search, and the read-only directory of colleagues), "editphone.asp" and
// "delphone.asp", and the `addphone` pop-up.
#include <string>

#include "core/text.h"
#include "server/desk/fields.h"
#include "server/desk/phone.h"
#include "server/host/kit.h"

namespace desk::deskpages {
namespace {

using text::html;

constexpr const char* kNoContact = "该联系人不存在或已删除。";

std::string num(long long n) {
  return std::to_string(n);
}

std::int64_t contact_id(asp::ScriptingContext& ctx) {
  std::int64_t id = text::parse_id(ctx.request().QueryString("id"));
  if (id == 0) throw Error(Errc::not_found, kNoContact);
  return id;
}

std::string phone_head(std::string_view title) {
  return host::page_head(title) + "<script language='javascript' src='apply.js'></script>" +
         host::title_bar(title, {{"phonelist.asp", "我的联系人"},
                                 {"phonelist.asp?tab=colleague", "同事通讯录"},
                                 {"right.asp", "返回桌面"}});
}

std::string search_box(bool colleagues, const std::string& key, std::string_view hint) {
  return std::string("<form method='get' action='phonelist.asp'><div class='toolbar'>") +
         (colleagues ? "<input type='hidden' name='tab' value='colleague'>" : "") +
         "查找：<input type='text' name='key' size='20' maxlength='25' value='" + html(key) +
         "'> <input type='submit' value='查 找'> " + html(hint) + "</div></form>";
}

std::string cell(const db::Row& r, std::string_view column) {
  return "<td class='10blue'>" + html(r.text(column)) + "</td>";
}

// The user's own contacts, found by name, company or any of their numbers.
std::string own_contacts(asp::ScriptingContext& ctx, const std::string& key) {
  const std::string like = contains_pattern(key);
  db::Result rows = ctx.conn().query(
      "SELECT id, name, mobilephone, telephone, fax, email, company, work FROM phone "
      "WHERE userid = ? AND (name LIKE ? ESCAPE '\\' OR company LIKE ? ESCAPE '\\' "
      "OR mobilephone LIKE ? ESCAPE '\\' OR telephone LIKE ? ESCAPE '\\' "
      "OR fax LIKE ? ESCAPE '\\') ORDER BY name, id",
      {ctx.session().get("uid"), like, like, like, like, like});
  std::string out =
      "<div class='toolbar'>" + popup_link("addphone.asp", "添加联系人") + "</div>" +
      search_box(false, key, "（按姓名、单位或电话号码）") +
      "<form name='form' method='post' action='delphone.asp'><table width='96%' border='0' "
      "cellspacing='0' cellpadding='0' align='center' class='list'><tr><td colspan='8' "
      "class='listtitle'>我的联系人</td></tr><tr class='listhead'><td>姓名</td><td>手机</td>"
      "<td>电话</td><td>传真</td><td>电子邮箱</td><td>单位</td><td>职务</td>"
      "<td width='90'>操作</td></tr>";
  for (const db::Row& r : rows) {
    const std::string id = num(r.integer("id"));
    out += "<tr>" + cell(r, "name") + cell(r, "mobilephone") + cell(r, "telephone") +
           cell(r, "fax") + cell(r, "email") + cell(r, "company") + cell(r, "work") +
           "<td class='10blue'><a href='editphone.asp?id=" + id +
           "' class='aapply'>修改</a> <input type='submit' class='smallbutton' value='删除' "
           "formaction='delphone.asp?id=" +
           id + "' onClick='return checkdelete(\"确定要删除这个联系人吗？\")'></td></tr>";
  }
  if (rows.empty())
    out += std::string("<tr><td colspan='8' class='10blue'>") +
           (key.empty() ? "您还没有联系人。" : "没有找到符合条件的联系人。") + "</td></tr>";
  return out + "</table>" + host::form_token_field(ctx) + "</form>";
}

// Colleagues with an account that is not disabled: read only.
std::string colleagues(asp::ScriptingContext& ctx, const std::string& key) {
  const std::string like = contains_pattern(key);
  db::Result rows = ctx.conn().query(
      "SELECT u.name, COALESCE(NULLIF(u.dep, ''), d.depname, '') AS depname, u.mobilephone, "
      "u.workphone, u.email FROM userlist u LEFT JOIN depart d ON CAST(d.depno AS TEXT) = u.depid "
      "WHERE u.disabled = 0 AND (u.name LIKE ? ESCAPE '\\' OR "
      "COALESCE(NULLIF(u.dep, ''), d.depname, '') LIKE ? ESCAPE '\\' "
      "OR u.mobilephone LIKE ? ESCAPE '\\' OR u.workphone LIKE ? ESCAPE '\\') "
      "ORDER BY depname, u.name, u.id",
      {like, like, like, like});
  std::string out = search_box(true, key, "（按姓名、部门或电话号码）") +
                    "<table width='96%' border='0' cellspacing='0' cellpadding='0' "
                    "align='center' class='list'><tr><td colspan='5' class='listtitle'>同事通讯录"
                    "</td></tr><tr class='listhead'><td>姓名</td><td>部门</td><td>手机</td>"
                    "<td>办公电话</td><td>电子邮箱</td></tr>";
  for (const db::Row& r : rows)
    out += "<tr>" + cell(r, "name") + cell(r, "depname") + cell(r, "mobilephone") +
           cell(r, "workphone") + cell(r, "email") + "</tr>";
  if (rows.empty()) out += "<tr><td colspan='5' class='10blue'>没有找到符合条件的同事。</td></tr>";
  return out + "</table>";
}

void phonelist_page(asp::ScriptingContext& ctx) {
  const std::string key = text::trim(ctx.request().QueryString("key"));
  const bool colleague = ctx.request().QueryString("tab") == "colleague";
  ctx.response().Write(phone_head(colleague ? "同事通讯录" : "通讯录") +
                       (colleague ? colleagues(ctx, key) : own_contacts(ctx, key)) +
                       std::string(host::kPageEnd));
}

// GET shows one of the user's contacts for editing; POST saves it.
void editphone_page(asp::ScriptingContext& ctx) {
  const std::int64_t id = contact_id(ctx);
  const std::string uid = ctx.session().get("uid");
  auto& conn = ctx.conn();
  if (ctx.request().is_post()) {
    const ContactFields c = read_contact(ctx);
    if (conn.exec("UPDATE phone SET name = ?, mobilephone = ?, telephone = ?, email = ?, "
                  "company = ?, address = ?, postcode = ?, work = ?, fax = ?, remark = ? "
                  "WHERE id = ? AND userid = ?",
                  {c.name, c.mobilephone, c.telephone, c.email, c.company, c.address, c.postcode,
                   c.work, c.fax, c.remark, id, uid})
            .changes == 0)
      throw Error(Errc::not_found, kNoContact);
    return ctx.response().Redirect("phonelist.asp");
  }
  db::Result rows = conn.query("SELECT * FROM phone WHERE id = ? AND userid = ?", {id, uid});
  if (rows.empty()) throw Error(Errc::not_found, kNoContact);
  const db::Row& r = rows.front();
  auto input = [&](const char* name, const char* label) {
    return std::string("<tr><td class='label'>") + label + "</td><td><input type='text' name='" +
           name + "' size='30' maxlength='25' value='" + html(r.text(name)) + "'></td></tr>";
  };
  ctx.response().Write(
      phone_head("修改联系人") + "<form name='form' method='post' action='editphone.asp?id=" +
      num(id) + "' onSubmit='return checksubmit()'><table class='formtable' align='center'>" +
      input("name", "姓　　名：") + input("mobilephone", "手　　机：") +
      input("telephone", "电　　话：") + input("fax", "传　　真：") + input("email", "电子邮箱：") +
      input("company", "单　　位：") + input("work", "职　　务：") +
      input("address", "通讯地址：") + input("postcode", "邮　　编：") +
      "<tr><td class='label'>备　　注：</td><td><textarea name='remark' rows='4' cols='50'>" +
      html(r.text("remark")) +
      "</textarea></td></tr><tr><td></td><td><input type='submit' value='保 存'> <input "
      "type='button' value='返 回' onClick=\"location='phonelist.asp'\"></td></tr></table>" +
      host::form_token_field(ctx) + "</form>" + std::string(host::kPageEnd));
}

void delphone_page(asp::ScriptingContext& ctx) {
  if (!ctx.request().is_post()) throw Error(Errc::unsupported, "请从通讯录中删除联系人。");
  if (ctx.conn()
          .exec("DELETE FROM phone WHERE id = ? AND userid = ?",
                {contact_id(ctx), ctx.session().get("uid")})
          .changes == 0)
    throw Error(Errc::not_found, kNoContact);
  ctx.response().Redirect("phonelist.asp");
}

}  // namespace

void register_phone_pages(asp::Registry& registry) {
  host::add_page<AddPhone>(registry, "addphone",
                           [](asp::ScriptingContext& ctx, AddPhone& add) {
                             if (!ctx.request().is_post())
                               add.form_end = host::form_token_field(ctx);
                             add.main(ctx.conn());
                           },
                           {.title = "添加联系人", .once = true});
  host::add_page(registry, "phonelist.asp", phonelist_page, {.title = "通讯录"});
  host::add_page(registry, "editphone.asp", editphone_page, {.title = "修改联系人", .once = true});
  host::add_page(registry, "delphone.asp", delphone_page, {.title = "通讯录", .once = true});
}

}  // namespace desk::deskpages
