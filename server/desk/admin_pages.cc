#include "server/desk/admin_pages.h"

#include <cctype>
#include <filesystem>
#include <map>
#include <span>
#include <string>

#include "core/text.h"
#include "server/desk/fields.h"
#include "server/desk/users.h"
#include "server/host/kit.h"
#include "server/host/login_guard.h"

namespace desk::deskpages {
namespace {

using text::html;

std::string num(long long n) {
  return std::to_string(n);
}

// Longest department name and notice title, in characters; longest notice.
constexpr std::size_t kDepartChars = 25;
constexpr std::size_t kNewsTitleChars = 100;
constexpr std::size_t kNewsChars = 10000;
// Upload ceiling an administrator may set, in bytes.
constexpr long long kMaxUploadCeiling = 1LL << 31;

std::string label_of(std::string_view value, std::span<const host::Option> options) {
  for (const host::Option& o : options)
    if (o.value == value) return text::trim(o.label);
  return std::string(value);
}

constexpr host::Option kUserType[] = {{"1", "普通用户"}, {"2", "管理员"}};

std::string page_start(std::string_view title) {
  return host::page_head(title) + "<script language='javascript' src='apply.js'></script>" +
         host::title_bar(title, {{"system.asp", "系统维护"}, {"right.asp", "返回桌面"}});
}

// A note shown once at the top of a page after a redirect (`?done=`).
std::string done_note(asp::ScriptingContext& ctx) {
  static const std::pair<std::string_view, std::string_view> kNotes[] = {
      {"added", "已添加。"},        {"saved", "已保存。"},       {"deleted", "已删除。"},
      {"disabled", "帐号已停用。"}, {"enabled", "帐号已启用。"}, {"unlocked", "已解除锁定。"},
  };
  std::string done = ctx.request().QueryString("done");
  for (const auto& [key, note] : kNotes)
    if (done == key) return "<div class='notice'>" + std::string(note) + "</div>";
  return "";
}

std::int64_t row_id(asp::ScriptingContext& ctx, const char* missing) {
  std::int64_t id = text::parse_id(ctx.request().QueryString("id"));
  if (id == 0) throw Error(Errc::not_found, missing);
  return id;
}

// ---- Users ----------------------------------------------------------------------

constexpr const char* kNoUser = "该用户不存在。";

// "usermanage.asp": every account with its state; POST ?do=disable|enable|unlock&id=.
void usermanage_page(asp::ScriptingContext& ctx) {
  host::require_admin(ctx);
  auto& conn = ctx.conn();
  if (ctx.request().is_post()) {
    const std::string action = ctx.request().QueryString("do");
    const std::int64_t id = row_id(ctx, kNoUser);
    db::Transaction tx(conn);
    db::Result rows = conn.query("SELECT uid FROM userlist WHERE id = ?", {id});
    if (rows.empty()) throw Error(Errc::not_found, kNoUser);
    const std::string uid = rows.front().text("uid");
    std::string done;
    if (action == "disable" || action == "enable") {
      if (action == "disable" && uid == host::current_user(ctx).uid)
        throw Error(Errc::conflict, "不能停用您自己的帐号。");
      conn.exec("UPDATE userlist SET disabled = ? WHERE id = ?", {action == "disable" ? 1 : 0, id});
      done = action + "d";
    } else if (action == "unlock") {
      host::clear_failures(conn, uid);
      done = "unlocked";
    } else {
      throw Error(Errc::bad_request, "未知的操作。");
    }
    tx.commit();
    return ctx.response().Redirect("usermanage.asp?done=" + done);
  }

  std::map<std::string, std::string> locked;
  for (const host::LockedAccount& a : host::locked_accounts(conn, ctx.now()))
    locked[a.uid] = a.until;
  db::Result users = conn.query(
      "SELECT u.id, u.uid, u.name, u.type, u.power, u.mobilephone, u.disabled, "
      "COALESCE(NULLIF(u.dep, ''), d.depname, '') AS depname FROM userlist u "
      "LEFT JOIN depart d ON CAST(d.depno AS TEXT) = u.depid ORDER BY u.id");

  std::string out = page_start("用户管理") + done_note(ctx) + "<div class='toolbar'>" +
                    popup_link("adduser.asp", "添加用户") +
                    "</div><form name='form' method='post' action='usermanage.asp'>"
                    "<table width='96%' border='0' cellspacing='0' cellpadding='0' align='center' "
                    "class='list'><tr class='listhead'><td>帐号</td><td>姓名</td><td>部门</td>"
                    "<td>类型</td><td>公文权限</td><td>手机</td><td>状态</td><td>操作</td></tr>";
  for (const db::Row& u : users) {
    const std::string id = num(u.integer("id"));
    const bool disabled = u.integer("disabled") != 0;
    auto lock = locked.find(u.text("uid"));
    std::string state = disabled ? "已停用" : "正常";
    if (lock != locked.end()) state += "，登录已锁定至" + ctx.regional().shown(lock->second);
    std::string buttons = "<a href='useredit.asp?id=" + id + "' class='aapply'>修改</a>";
    auto button = [&](const char* action, const char* text) {
      buttons += " <input type='submit' class='smallbutton' value='" + std::string(text) +
                 "' formaction='usermanage.asp?do=" + action + "&amp;id=" + id + "'>";
    };
    // Nobody disables their own account.
    if (u.text("uid") != host::current_user(ctx).uid)
      button(disabled ? "enable" : "disable", disabled ? "启用" : "停用");
    if (lock != locked.end()) button("unlock", "解锁");
    out += std::string("<tr") + (disabled ? " class='disabled'" : "") + "><td class='10blue'>" +
           html(u.text("uid")) + "</td><td class='10blue'>" + html(u.text("name")) +
           "</td><td class='10blue'>" + html(u.text("depname")) + "</td><td class='10blue'>" +
           html(label_of(u.text("type"), kUserType)) + "</td><td class='10blue'>" +
           html(label_of(u.text("power"), host::kPower)) + "</td><td class='10blue'>" +
           html(u.text("mobilephone")) + "</td><td class='10blue'>" + html(state) +
           "</td><td class='10blue'>" + buttons + "</td></tr>";
  }
  out += "</table>" + host::form_token_field(ctx) + "</form>" + std::string(host::kPageEnd);
  ctx.response().Write(out);
}

std::string department_select(db::Connection& conn, const std::string& current) {
  std::string out = "<select name='dep'><option value=''>请选择</option>";
  for (const db::Row& d : conn.query("SELECT depno, depname FROM depart ORDER BY depno, id")) {
    std::string no = num(d.integer("depno"));
    out += "<option value='" + no + "'" + (no == current ? " selected" : "") + ">" +
           html(d.text("depname")) + "</option>";
  }
  return out + "</select>";
}

// "useredit.asp?id=": one account's fields; a new password, when typed,
// replaces the old one. The login id stays: every table refers to it.
void useredit_page(asp::ScriptingContext& ctx) {
  host::require_admin(ctx);
  auto& conn = ctx.conn();
  const std::int64_t id = row_id(ctx, kNoUser);
  if (ctx.request().is_post()) {
    const UserFields u = read_user_fields(ctx);
    const std::string pw = typed_field(ctx, "password", "新密码", kPasswordChars);
    const std::string hash = pw.empty() ? "" : hash_password(ctx, pw);
    db::Transaction tx(conn);
    db::Result rows = conn.query("SELECT uid, type FROM userlist WHERE id = ?", {id});
    if (rows.empty()) throw Error(Errc::not_found, kNoUser);
    if (rows.front().text("uid") == host::current_user(ctx).uid && u.type != "2")
      throw Error(Errc::conflict, "不能取消您自己的管理员身份。");
    conn.exec(
        "UPDATE userlist SET name = ?, depid = ?, dep = ?, mobilephone = ?, workphone = ?, "
        "type = ?, power = ?, email = ?, bz = ? WHERE id = ?",
        {u.name, u.depid, u.depname, u.mobilephone, u.workphone, u.type, u.power, u.email, u.bz,
         id});
    if (!hash.empty()) conn.exec("UPDATE userlist SET passwd = ? WHERE id = ?", {hash, id});
    tx.commit();
    return ctx.response().Redirect("usermanage.asp?done=saved");
  }

  db::Result rows = conn.query(
      "SELECT uid, name, depid, mobilephone, workphone, type, power, email, bz FROM userlist "
      "WHERE id = ?",
      {id});
  if (rows.empty()) throw Error(Errc::not_found, kNoUser);
  const db::Row& u = rows.front();
  auto input = [&](const char* name, const char* label, std::size_t max) {
    return std::string("<tr><td class='label'>") + label + "</td><td><input type='text' name='" +
           name + "' size='30' maxlength='" + num(static_cast<long long>(max)) + "' value='" +
           html(u.text(name)) + "'></td></tr>";
  };
  std::string out =
      page_start("修改用户") +
      "<form name='form' method='post' action='useredit.asp?id=" + num(id) +
      "' onSubmit='return checksubmit()'><table class='formtable' align='center'>" +
      "<tr><td class='label'>用户帐号：</td><td class='10blue'>" + html(u.text("uid")) +
      "</td></tr>" + input("name", "姓　　名：", kUserFieldChars) +
      "<tr><td class='label'>新 密 码：</td><td><input type='password' name='password' "
      "size='30' maxlength='50' autocomplete='new-password'> 不修改请留空</td></tr>"
      "<tr><td class='label'>部　　门：</td><td>" +
      department_select(conn, u.text("depid")) +
      "</td></tr><tr><td class='label'>类　　型：</td><td>" +
      host::select("type", kUserType, u.text("type")) +
      "</td></tr><tr><td class='label'>公文权限：</td><td>" +
      host::select("power", host::kPower, u.text("power")) + "</td></tr>" +
      input("mobilephone", "手　　机：", kUserFieldChars) +
      input("workphone", "办公电话：", kUserFieldChars) +
      input("email", "电子邮箱：", kUserFieldChars) +
      "<tr><td class='label'>备　　注：</td><td><textarea name='bz' rows='4' cols='50'>" +
      html(u.text("bz")) +
      "</textarea></td></tr><tr><td></td><td><input type='submit' value='保 存'> "
      "<input type='button' value='返 回' onClick=\"location='usermanage.asp'\"></td></tr>"
      "</table>" +
      host::form_token_field(ctx) + "</form>" + std::string(host::kPageEnd);
  ctx.response().Write(out);
}

// ---- Departments -------------------------------------------------------------------

constexpr const char* kNoDepart = "该部门不存在。";

std::string depart_name(asp::ScriptingContext& ctx, const char* field) {
  std::string name = typed_field(ctx, field, "部门名称", kDepartChars, true);
  return name;
}

void refuse_taken_name(db::Connection& conn, const std::string& name, std::int64_t except) {
  if (!conn.query("SELECT id FROM depart WHERE depname = ? AND id <> ?", {name, except}).empty())
    throw Error(Errc::conflict, "部门“" + name + "”已经存在。");
}

// "departmanage.asp": the departments with their member counts; POST
// ?do=add, ?do=rename&id=, ?do=delete&id= (only a department without users).
void departmanage_page(asp::ScriptingContext& ctx) {
  host::require_admin(ctx);
  auto& conn = ctx.conn();
  if (ctx.request().is_post()) {
    const std::string action = ctx.request().QueryString("do");
    std::string done;
    db::Transaction tx(conn);
    if (action == "add") {
      const std::string name = depart_name(ctx, "depname");
      std::string typed = text::trim(ctx.request().Form("depno"));
      long long no = 0;
      if (typed.empty()) {
        no = std::stoll(conn.scalar("SELECT COALESCE(MAX(depno), 0) + 1 FROM depart"));
      } else if (!text::parse_int(typed, no) || no < 1 || no > 99999) {
        throw Error(Errc::bad_request, "部门编号应是1到99999之间的整数。");
      }
      refuse_taken_name(conn, name, 0);
      if (!conn.query("SELECT id FROM depart WHERE depno = ?", {no}).empty())
        throw Error(Errc::conflict, "部门编号" + num(no) + "已经使用。");
      conn.exec("INSERT INTO depart (depno, depname) VALUES (?, ?)", {no, name});
      done = "added";
    } else if (action == "rename" || action == "delete") {
      const std::int64_t id = row_id(ctx, kNoDepart);
      db::Result rows = conn.query("SELECT depno FROM depart WHERE id = ?", {id});
      if (rows.empty()) throw Error(Errc::not_found, kNoDepart);
      const std::string depno = num(rows.front().integer("depno"));
      if (action == "rename") {
        const std::string name = depart_name(ctx, ("name" + num(id)).c_str());
        refuse_taken_name(conn, name, id);
        conn.exec("UPDATE depart SET depname = ? WHERE id = ?", {name, id});
        // Users keep their department's name in their own row.
        conn.exec("UPDATE userlist SET dep = ? WHERE depid = ?", {name, depno});
        done = "saved";
      } else {
        std::string members = conn.scalar("SELECT COUNT(*) FROM userlist WHERE depid = ?", {depno});
        if (members != "0")
          throw Error(Errc::conflict,
                      "该部门还有" + members + "名用户（含已停用的帐号），不能删除。");
        conn.exec("DELETE FROM depart WHERE id = ?", {id});
        done = "deleted";
      }
    } else {
      throw Error(Errc::bad_request, "未知的操作。");
    }
    tx.commit();
    return ctx.response().Redirect("departmanage.asp?done=" + done);
  }

  db::Result deps = conn.query(
      "SELECT d.id, d.depno, d.depname, (SELECT COUNT(*) FROM userlist u WHERE u.depid = "
      "CAST(d.depno AS TEXT)) AS members FROM depart d ORDER BY d.depno, d.id");
  std::string out =
      page_start("部门管理") + done_note(ctx) +
      "<form name='addform' method='post' action='departmanage.asp?do=add' "
      "onSubmit='return checksubmit()'><div class='toolbar'>新部门名称：<input type='text' "
      "name='depname' size='20' maxlength='25'> 编号：<input type='text' name='depno' size='5' "
      "maxlength='5'> <input type='submit' value='添加部门'> （编号可不填）</div>" +
      host::form_token_field(ctx) +
      "</form><form name='form' method='post' action='departmanage.asp'>"
      "<table width='96%' border='0' cellspacing='0' cellpadding='0' align='center' class='list'>"
      "<tr class='listhead'><td width='60'>编号</td><td>部门名称</td><td width='70'>用户数</td>"
      "<td width='160'>操作</td></tr>";
  for (const db::Row& d : deps) {
    const std::string id = num(d.integer("id"));
    const bool empty = d.integer("members") == 0;
    out += "<tr><td class='10blue'>" + num(d.integer("depno")) +
           "</td><td class='10blue'><input type='text' name='name" + id +
           "' size='20' maxlength='25' value='" + html(d.text("depname")) +
           "'></td><td class='10blue'>" + num(d.integer("members")) +
           "</td><td class='10blue'><input type='submit' class='smallbutton' value='改名' "
           "formaction='departmanage.asp?do=rename&amp;id=" +
           id + "'>";
    if (empty)
      out +=
          " <input type='submit' class='smallbutton' value='删除' "
          "formaction='departmanage.asp?do=delete&amp;id=" +
          id + "' onClick='return checkdelete(\"确定要删除这个部门吗？\")'>";
    out += "</td></tr>";
  }
  if (deps.empty()) out += "<tr><td colspan='4' class='10blue'>还没有部门。</td></tr>";
  out += "</table>" + host::form_token_field(ctx) + "</form>" + std::string(host::kPageEnd);
  ctx.response().Write(out);
}

// ---- Notices -------------------------------------------------------------------------

constexpr const char* kNoNews = "该公告不存在。";

struct NewsFields {
  std::string title, content;
};
NewsFields read_news(asp::ScriptingContext& ctx) {
  return {typed_field(ctx, "title", "公告标题", kNewsTitleChars, true),
          typed_field(ctx, "content", "公告内容", kNewsChars)};
}

std::string news_form(asp::ScriptingContext& ctx, const std::string& action,
                      const std::string& title, const std::string& content,
                      const std::string& button) {
  return "<form name='form' method='post' action='" + action +
         "' onSubmit='return checksubmit()'><table class='formtable' align='center'>"
         "<tr><td class='label'>标　题：</td><td><input type='text' name='title' size='60' "
         "maxlength='100' value='" +
         html(title) +
         "'></td></tr><tr><td class='label'>内　容：</td><td><textarea name='content' rows='8' "
         "cols='60'>" +
         html(content) + "</textarea></td></tr><tr><td></td><td><input type='submit' value='" +
         button + "'></td></tr></table>" + host::form_token_field(ctx) + "</form>";
}

// "newsmanage.asp": publish a notice; the notices with edit and delete
// (POST ?do=add, ?do=delete&id=).
void newsmanage_page(asp::ScriptingContext& ctx) {
  host::require_admin(ctx);
  auto& conn = ctx.conn();
  if (ctx.request().is_post()) {
    const std::string action = ctx.request().QueryString("do");
    std::string done;
    db::Transaction tx(conn);
    if (action == "add") {
      const NewsFields n = read_news(ctx);
      const host::User me = host::current_user(ctx);
      const DateTime t = ctx.now();
      conn.exec(
          "INSERT INTO news (title, content, senddate, sendtime, senderid, sendername) "
          "VALUES (?, ?, ?, ?, ?, ?)",
          {n.title, n.content, t.iso_date(), t.iso(), me.uid, me.name});
      done = "added";
    } else if (action == "delete") {
      if (conn.exec("DELETE FROM news WHERE id = ?", {row_id(ctx, kNoNews)}).changes == 0)
        throw Error(Errc::not_found, kNoNews);
      done = "deleted";
    } else {
      throw Error(Errc::bad_request, "未知的操作。");
    }
    tx.commit();
    return ctx.response().Redirect("newsmanage.asp?done=" + done);
  }

  db::Result news =
      conn.query("SELECT id, title, clicknum, sendtime, sendername FROM news ORDER BY id DESC");
  std::string out =
      page_start("公告管理") + done_note(ctx) +
      news_form(ctx, "newsmanage.asp?do=add", "", "", "发布公告") +
      "<form name='listform' method='post' action='newsmanage.asp'>"
      "<table width='96%' border='0' cellspacing='0' cellpadding='0' "
      "align='center' class='list'><tr class='listhead'><td>标题</td>"
      "<td width='80'>发布人</td><td width='150'>发布时间</td><td width='60'>阅读</td>"
      "<td width='110'>操作</td></tr>";
  for (const db::Row& n : news) {
    const std::string id = num(n.integer("id"));
    out += "<tr><td class='10blue'>" + popup_link("news.asp?id=" + id, n.text("title")) +
           "</td><td class='10blue'>" + html(n.text("sendername")) + "</td><td class='10blue'>" +
           html(ctx.regional().shown(n.text("sendtime"))) + "</td><td class='10blue'>" +
           num(n.integer("clicknum")) + "次</td><td class='10blue'><a href='newsedit.asp?id=" + id +
           "' class='aapply'>修改</a> <input type='submit' class='smallbutton' value='删除' "
           "formaction='newsmanage.asp?do=delete&amp;id=" +
           id + "' onClick='return checkdelete(\"确定要删除这条公告吗？\")'></td></tr>";
  }
  if (news.empty()) out += "<tr><td colspan='5' class='10blue'>暂无公告。</td></tr>";
  out += "</table>" + host::form_token_field(ctx) + "</form>" + std::string(host::kPageEnd);
  ctx.response().Write(out);
}

// "newsedit.asp?id=": a notice's title and text; its publication time stays.
void newsedit_page(asp::ScriptingContext& ctx) {
  host::require_admin(ctx);
  auto& conn = ctx.conn();
  const std::int64_t id = row_id(ctx, kNoNews);
  if (ctx.request().is_post()) {
    const NewsFields n = read_news(ctx);
    db::Transaction tx(conn);
    if (conn.exec("UPDATE news SET title = ?, content = ? WHERE id = ?", {n.title, n.content, id})
            .changes == 0)
      throw Error(Errc::not_found, kNoNews);
    tx.commit();
    return ctx.response().Redirect("newsmanage.asp?done=saved");
  }
  db::Result rows = conn.query("SELECT title, content FROM news WHERE id = ?", {id});
  if (rows.empty()) throw Error(Errc::not_found, kNoNews);
  ctx.response().Write(page_start("修改公告") +
                       news_form(ctx, "newsedit.asp?id=" + num(id), rows.front().text("title"),
                                 rows.front().text("content"), "保 存") +
                       std::string(host::kPageEnd));
}

// ---- Settings ---------------------------------------------------------------------------

// The settings row login reads: type 2 when there is one, else type 1.
db::Result settings_row(db::Connection& conn) {
  return conn.query(
      "SELECT id, maxsize, soundpath FROM sysconfig WHERE type = 2 OR type = 1 "
      "ORDER BY type DESC LIMIT 1");
}

// A reminder sound's path inside the application, "/" first; only letters,
// digits and "-_./" so it can stand in markup and addresses as it is.
std::string checked_sound(asp::ScriptingContext& ctx, std::string path) {
  path = text::trim(path);
  if (path.empty()) return path;
  if (path[0] != '/') path = "/" + path;
  bool plain = path.find("..") == std::string::npos && path.find("//") == std::string::npos;
  for (char c : path)
    plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
                      c == '.' || c == '/');
  if (!plain || path.size() > 200)
    throw Error(Errc::bad_request,
                "提示音文件的路径只能由字母、数字和“-_./”组成，例如 /sound/remind.wav。");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(ctx.server().MapPath(path), ec))
    throw Error(Errc::bad_request, "找不到提示音文件" + path + "。");
  return path;
}

// "syssetting.asp": the upload ceiling and the reminder sound; they reach a
// user's session at the next login.
void syssetting_page(asp::ScriptingContext& ctx) {
  host::require_admin(ctx);
  auto& conn = ctx.conn();
  if (ctx.request().is_post()) {
    long long max = 0;
    if (!text::parse_int(ctx.request().Form("maxsize"), max) || max < 1 || max > kMaxUploadCeiling)
      throw Error(Errc::bad_request, "上传大小上限应是1到2147483648之间的字节数。");
    const std::string sound = checked_sound(ctx, ctx.request().Form("soundpath"));
    db::Transaction tx(conn);
    db::Result row = settings_row(conn);
    if (row.empty())
      conn.exec("INSERT INTO sysconfig (type, maxsize, soundpath) VALUES (1, ?, ?)", {max, sound});
    else
      conn.exec("UPDATE sysconfig SET maxsize = ?, soundpath = ? WHERE id = ?",
                {max, sound, row.front().integer("id")});
    tx.commit();
    return ctx.response().Redirect("syssetting.asp?done=saved");
  }
  db::Result row = settings_row(conn);
  const std::string max = row.empty() ? "5000000" : row.front().text("maxsize");
  const std::string sound = row.empty() ? "" : row.front().text("soundpath");
  std::string out =
      page_start("系统设置") + done_note(ctx) +
      "<form name='form' method='post' action='syssetting.asp' onSubmit='return checksubmit()'>"
      "<table class='formtable' align='center'><tr><td class='label'>上传大小上限：</td>"
      "<td><input type='text' name='maxsize' size='12' maxlength='10' value='" +
      html(max) +
      "'> 字节（5000000 约为 5MB）</td></tr><tr><td class='label'>提 示 音：</td><td>"
      "<input type='text' name='soundpath' size='40' maxlength='200' value='" +
      html(sound) +
      "'> <input type='button' value='试听' onClick=\"var a=document.getElementById('trysound');"
      "a.src=document.form.soundpath.value.replace(/^\\/?/,'./');a.play()\">"
      "<audio id='trysound'></audio><br>应用目录中的声音文件，例如 /sound/remind.wav</td></tr>"
      "<tr><td></td><td class='10blue'>新的设置在用户下次登录后生效。</td></tr>"
      "<tr><td></td><td><input type='submit' value='保 存'></td></tr></table>" +
      host::form_token_field(ctx) + "</form>" + std::string(host::kPageEnd);
  ctx.response().Write(out);
}

}  // namespace

void register_admin_pages(asp::Registry& registry) {
  // Password hashing is slow on purpose: pages that hash run on the worker pool.
  host::add_page<AddUser>(registry, "adduser",
                          [](asp::ScriptingContext& ctx, AddUser& add) {
                            host::require_admin(ctx);
                            if (!ctx.request().is_post())
                              add.form_end = host::form_token_field(ctx);
                            add.main(ctx.conn());
                          },
                          {.title = "添加用户", .once = true, .pooled = true});
  host::add_page(registry, "usermanage.asp", usermanage_page, {.title = "用户管理", .once = true});
  host::add_page(registry, "useredit.asp", useredit_page,
                 {.title = "修改用户", .once = true, .pooled = true});
  host::add_page(registry, "departmanage.asp", departmanage_page,
                 {.title = "部门管理", .once = true});
  host::add_page(registry, "newsmanage.asp", newsmanage_page, {.title = "公告管理", .once = true});
  host::add_page(registry, "newsedit.asp", newsedit_page, {.title = "修改公告", .once = true});
  host::add_page(registry, "syssetting.asp", syssetting_page, {.title = "系统设置", .once = true});
}

}  // namespace desk::deskpages
