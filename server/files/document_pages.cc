// Hosting pages of document bodies, templates and signature pictures.
#include <optional>
#include <string>
#include <string_view>

#include "core/text.h"
#include "server/files/documents.h"
#include "server/host/chrome.h"
#include "server/host/kit.h"
#include "server/workflow/staging.h"

namespace desk::files {
namespace {

using text::html;

void open_page(asp::Response& r, std::string_view title) {
  r.Write(host::page_head(title));
}

void title_bar(asp::Response& r, std::string_view title) {
  r.Write(host::title_bar(title, {{"templelist.asp", "公文模板"}, {"mysign.asp", "个人签名"}}));
}

void close_page(asp::Response& r) {
  r.Write(host::kPageEnd);
}

using host::plain_answer;
using host::require_admin;

std::string shown_time(const asp::ScriptingContext& ctx, const std::string& stored) {
  DateTime t;
  if (DateTime::parse_iso(stored, t)) return ctx.regional().date_time(t);
  return stored;
}

std::optional<std::int64_t> query_id(asp::ScriptingContext& ctx) {
  std::int64_t id = text::parse_id(ctx.request().QueryString("id"));
  if (id == 0) return std::nullopt;
  return id;
}

// Script of the upload forms: posts the chosen file as the whole body and
// answers with the HTTP status, or a network failure as status 0.
constexpr std::string_view kUploadScript = R"JS(
function rawupload(url, file) {
  return fetch(url, {method: 'POST', body: file, credentials: 'same-origin',
      headers: {'Content-Type': 'application/octet-stream'}})
    .then(function (r) { return r.text().then(function (t) { return {status: r.status, text: t}; }); })
    .catch(function () { return {status: 0, text: ''}; });
}
function uploadmessage(status) {
  if (status === 413) return '文件超过了允许的大小。';
  if (status === 409) return '页面内容已过期，请刷新后重试。';
  return '上传失败，请重试。';
}
)JS";

// ---- Templates ------------------------------------------------------------

constexpr std::string_view kTempleScript = R"JS(
function uploadtemple() {
  var input = document.getElementById('templefile');
  var msg = document.getElementById('templemsg');
  var f = input.files && input.files[0];
  if (document.form.title.value.replace(/\s/g, '') === '') { alert('请输入模板名称。'); return false; }
  if (!f) { alert('请选择模板文件。'); return false; }
  if (f.size === 0) { alert('模板文件是空的。'); return false; }
  if (f.size > maxsize) { alert('文件超过了允许的大小。'); return false; }
  msg.innerText = '正在上传……';
  rawupload('templeup.asp', f).then(function (a) {
    if (a.status === 200 && a.text.indexOf('OK ') === 0) { document.form.submit(); return; }
    msg.innerText = uploadmessage(a.status);
  });
  return false;
}
)JS";

// "templelist.asp": every template with its default marked and a download
// link; administrators also choose the default and upload new templates.
void templelist_page(asp::ScriptingContext& ctx) {
  const bool admin = host::current_user(ctx).admin;
  db::Result rows = ctx.conn().query(
      "SELECT t.id, t.filename, t.fileindex, t.wtime, t.userid, "
      "(SELECT name FROM userlist u WHERE u.uid = t.userid ORDER BY u.id LIMIT 1) AS username "
      "FROM temple t WHERE NOT (t.filename = '' AND t.wtime IS NULL) ORDER BY t.id");
  auto& r = ctx.response();
  open_page(r, "公文模板");
  title_bar(r, "公文模板");
  if (rows.empty()) {
    r.Write(
        "<table width='100%' border='0' cellspacing='0' cellpadding='4'><tr>"
        "<td class='10blue' align='center'>还没有公文模板。</td></tr></table>");
  } else {
    r.Write(
        "<table width='100%' border='0' cellspacing='1' cellpadding='3'>"
        "<tr><td class='10blue'><b>模板名称</b></td><td class='10blue' width='150'><b>保存时间</b>"
        "</td><td class='10blue' width='100'><b>保存人</b></td><td class='10blue' width='80'>"
        "<b>默认模板</b></td><td class='10blue' width='120'><b>操作</b></td></tr>");
    for (const auto& row : rows) {
      const std::string id = std::to_string(row.integer("id"));
      const bool is_default = row.integer("fileindex") == 1;
      std::string name = row.text("filename");
      if (name.empty()) name = "（未命名）";
      std::string who = row.text("username");
      if (who.empty()) who = row.text("userid");
      std::string actions = "<a href='loadtemple.asp?id=" + id + "' class='aapply'>下载</a>";
      if (admin && !is_default)
        actions +=
            "&nbsp;&nbsp;<form method='post' action='templeset.asp' class='inline'>"
            "<input type='hidden' name='id' value='" +
            id + "'>" + host::form_token_field(ctx) +
            "<input type='submit' class='linkbutton' value='设为默认'></form>";
      r.Write("<tr><td class='10blue'>" + html(name) + "</td><td class='10blue'>" +
              html(shown_time(ctx, row.text("wtime"))) + "</td><td class='10blue'>" + html(who) +
              "</td><td class='10blue'>" + std::string(is_default ? "<b>默认</b>" : "") +
              "</td><td class='10blue'>" + actions + "</td></tr>");
    }
    r.Write("</table>");
  }
  if (admin) {
    r.Write(
        "<form name='form' method='post' action='savetemple.asp' "
        "onsubmit='return uploadtemple()'>"
        "<table width='100%' border='0' cellspacing='0' cellpadding='4'>"
        "<tr><td class='10blue' colspan='2'><b>上传新模板</b></td></tr>"
        "<tr><td class='10blue' width='80'>模板名称：</td><td class='10blue'>"
        "<input type='text' name='title' size='40' maxlength='100'></td></tr>"
        "<tr><td class='10blue'>模板文件：</td><td class='10blue'>"
        "<input type='file' id='templefile' accept='.doc,.dot,.docx,.dotx,application/msword'>"
        "</td></tr><tr><td></td><td class='10blue'><input type='submit' value='上传模板'> "
        "<span id='templemsg'></span></td></tr></table>" +
        host::form_token_field(ctx) + "</form>");
    r.Write("<script language='javascript'>var maxsize=" +
            std::to_string(asp::upload_ceiling(ctx.session(), ctx.config())) + ";" +
            std::string(kUploadScript) + std::string(kTempleScript) + "</script>");
  }
  close_page(r);
}

// "templeup.asp": the request body is a new template's document. Creates the
// template row, names it in Session `templeid` for "savetemple.asp" and
// answers "OK <id>" as text/plain.
void templeup_page(asp::ScriptingContext& ctx) {
  require_admin(ctx);
  auto& req = ctx.request();
  if (!req.is_post()) return plain_answer(ctx, 405, "请用 POST 上传模板。");
  const std::size_t n = req.TotalBytes();
  if (n > asp::upload_ceiling(ctx.session(), ctx.config()))
    return plain_answer(ctx, 413, "模板文件超过了允许的大小。");
  if (n == 0) return plain_answer(ctx, 400, "没有收到模板文件。");
  auto& conn = ctx.conn();
  const DateTime t = ctx.now();
  // An upload whose title form was not saved yet is replaced, not repeated.
  std::int64_t id = text::parse_id(ctx.session().get("templeid"));
  std::string bytes = req.BinaryRead(n);
  db::Transaction tx(conn);
  const bool replaced =
      id != 0 && conn.exec(
                         "UPDATE temple SET filedata = ?, uploadtime = ? WHERE id = ? AND "
                         "filename = '' AND wtime IS NULL",
                         {db::Blob{bytes}, t.iso(), id})
                         .changes == 1;
  if (!replaced)
    id = conn.insert("INSERT INTO temple (filedata, fileindex, uploadtime) VALUES (?, 0, ?)",
                     {db::Blob{std::move(bytes)}, t.iso()});
  tx.commit();
  workflow::sweep_uploads(conn, t);
  ctx.session().set("templeid", std::to_string(id));
  plain_answer(ctx, 200, "OK " + std::to_string(id));
}

// "savetemple.asp": the title form of a template just uploaded.
void savetemple_page(asp::ScriptingContext& ctx, SaveTemple& page) {
  require_admin(ctx);
  if (!ctx.request().is_post()) return ctx.response().Redirect("templelist.asp");
  page.main(ctx.conn());
  // The component sends the browser on once it has saved; it did not.
  throw Error(Errc::bad_request, "请输入模板名称。");
}

// "templeset.asp" (posted id): makes a template the default.
void templeset_page(asp::ScriptingContext& ctx, TempleSet& page) {
  require_admin(ctx);
  if (!ctx.request().is_post()) return ctx.response().Redirect("templelist.asp");
  page.main(ctx.conn());
  ctx.response().Redirect("templelist.asp");
}

// ---- Signature pictures ---------------------------------------------------

constexpr std::string_view kSignScript = R"JS(
function upsign() {
  var input = document.getElementById('signfile');
  var msg = document.getElementById('signmsg');
  var f = input.files && input.files[0];
  if (!f) { alert('请选择签名图片。'); return; }
  if (f.size === 0) { alert('图片文件是空的。'); return; }
  if (f.size > maxsize) { alert('文件超过了允许的大小。'); return; }
  msg.innerText = '正在上传……';
  rawupload('upsign.asp?id=' + owner, f).then(function (a) {
    if (a.status === 200) { location.reload(); return; }
    msg.innerText = uploadmessage(a.status);
  });
}
)JS";

// "mysign.asp": the user's own signature picture and its upload; sets
// Session `signid` to the user whose picture an upload replaces. An
// administrator may pick another user with "?id=" + that user's row id.
void mysign_page(asp::ScriptingContext& ctx) {
  auto& conn = ctx.conn();
  auto& s = ctx.session();
  const bool admin = host::current_user(ctx).admin;
  constexpr std::string_view kColumns =
      "SELECT id, uid, name, signature IS NOT NULL AS hassign FROM userlist ";
  db::Result found;
  std::optional<std::int64_t> chosen = admin ? query_id(ctx) : std::nullopt;
  if (chosen)
    found = conn.query(std::string(kColumns) + "WHERE id = ?", {*chosen});
  else
    found = conn.query(std::string(kColumns) + "WHERE uid = ? ORDER BY id LIMIT 1", {s.get("uid")});
  if (found.empty()) throw Error(Errc::not_found, "没有这个用户。");
  const db::Row& owner = found.front();
  const std::string owner_id = std::to_string(owner.integer("id"));
  const bool own = owner.text("uid") == s.get("uid");
  s.set("signid", owner.text("uid"));

  auto& r = ctx.response();
  open_page(r, "个人签名");
  title_bar(r, "个人签名");
  r.Write("<table width='100%' border='0' cellspacing='0' cellpadding='4'>");
  if (admin) {
    db::Result users = conn.query("SELECT id, uid, name FROM userlist ORDER BY depid, id");
    std::string options;
    for (const auto& u : users) {
      const std::string id = std::to_string(u.integer("id"));
      options += "<option value='" + id + "'" + (id == owner_id ? " selected" : "") + ">" +
                 html(u.text("name")) + " (" + html(u.text("uid")) + ")</option>";
    }
    r.Write(
        "<tr><td class='10blue' width='80'>选择用户：</td><td class='10blue'>"
        "<select name='who' onchange=\"location='mysign.asp?id='+this.value\">" +
        options + "</select></td></tr>");
  }
  r.Write("<tr><td class='10blue' width='80'>用　户：</td><td class='10blue'>" +
          html(owner.text("name")) + " (" + html(owner.text("uid")) +
          ")</td></tr>"
          "<tr><td class='10blue' valign='top'>签名图片：</td><td class='10blue'>");
  if (owner.integer("hassign")) {
    r.Write("<img src='showbig.asp?id=" + owner_id + "' border='0' alt='签名图片'>");
    if (own) r.Write("<br><a href='loadsignature.asp' class='aapply'>下载签名图片</a>");
  } else {
    r.Write("尚未上传签名图片。");
  }
  r.Write(
      "</td></tr><tr><td class='10blue'>上传图片：</td><td class='10blue'>"
      "<input type='file' id='signfile' accept='image/jpeg'> "
      "<input type='button' value='上传签名图片' onclick='upsign()'> "
      "<span id='signmsg'></span><br>请上传 JPEG 格式的图片；新图片将替换原有的签名图片。"
      "</td></tr></table>");
  r.Write("<script language='javascript'>var maxsize=" +
          std::to_string(asp::upload_ceiling(s, ctx.config())) + ";var owner=" + owner_id + ";" +
          std::string(kUploadScript) + std::string(kSignScript) + "</script>");
  close_page(r);
}

// "upsign.asp[?id=]": the request body is the picture of Session `signid`.
// The signature page names the user row it shows; when that is no longer
// the user in the Session (another page picked someone else since), nothing
// is stored.
void upsign_page(asp::ScriptingContext& ctx, UpSign& page) {
  if (!ctx.request().QueryString("id").empty()) {
    std::optional<std::int64_t> id = query_id(ctx);
    std::string uid;
    if (id) uid = ctx.conn().scalar("SELECT uid FROM userlist WHERE id = ?", {*id});
    if (uid.empty() || uid != ctx.session().get("signid"))
      return plain_answer(ctx, 409, "页面内容已过期，请刷新后重试。");
  }
  page.main(ctx.conn());
}

}  // namespace

// A page that only runs its component's main.
template <class T>
void component_page(asp::ScriptingContext& ctx, T& component) {
  component.main(ctx.conn());
}

void register_document_pages(asp::Registry& r) {
  using host::add_page;
  using host::Answer;
  // The bodies and pictures the document helper fetches and posts for the
  // page accept its transfer tokens; the uploads are once-only posts.
  add_page<LoadTemple>(r, "loadtemple", component_page<LoadTemple>, {.transfer = true});
  add_page<LoadHg>(r, "loadhg", component_page<LoadHg>, {.transfer = true});
  add_page<LoadPso>(r, "loadpso", component_page<LoadPso>, {.transfer = true});
  add_page<SwLoad>(r, "swload", component_page<SwLoad>, {.transfer = true});
  add_page<LoadSignature>(r, "loadsignature", component_page<LoadSignature>, {.transfer = true});
  add_page<ShowBig>(r, "showbig", component_page<ShowBig>);
  add_page<ShowSign>(r, "showsign", component_page<ShowSign>);
  add_page<SaveDoc>(r, "savedoc", component_page<SaveDoc>,
                    {.answer = Answer::plain, .once = true, .upload = true, .transfer = true});
  add_page<SwPso>(r, "swpso", component_page<SwPso>,
                  {.answer = Answer::plain, .once = true, .upload = true, .transfer = true});
  add_page<UpSign>(r, "upsign", upsign_page, {.answer = Answer::plain, .upload = true});
  add_page<SaveTemple>(r, "savetemple", savetemple_page, {.title = "公文模板", .once = true});
  add_page<TempleSet>(r, "templeset", templeset_page, {.title = "公文模板", .once = true});
  add_page(r, "templeup.asp", templeup_page, {.answer = Answer::plain, .upload = true});
  add_page(r, "templelist.asp", templelist_page, {.title = "公文模板"});
  add_page(r, "mysign.asp", mysign_page, {.title = "个人签名"});
}

}  // namespace desk::files
