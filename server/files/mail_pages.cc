#include "server/files/mail_pages.h"
#include "server/host/chrome.h"

#include <string>
#include <string_view>

#include "core/text.h"
#include "server/files/documents.h"
#include "server/files/mail.h"
#include "server/files/upload.h"
#include "server/host/kit.h"
#include "server/workflow/picker.h"

namespace desk::files {
namespace {

using text::html;

// Longest subject shown in the mail box, in characters.
constexpr std::size_t kBoxTitleChars = 24;
// Longest attachment file name kept, in characters.
constexpr std::size_t kFileNameChars = 120;

void open_page(asp::Response& r, std::string_view title) {
  r.Write(host::page_head(title));
}

// The page's title bar with the links between the mail pages.
void title_bar(asp::Response& r, std::string_view title) {
  r.Write(host::title_bar(title, {{"mailbox.asp", "收件箱"}, {"writemail.asp", "写邮件"}}));
}

void close_page(asp::Response& r) {
  r.Write(host::kPageEnd);
}

using host::plain_answer;

std::string shown_time(const asp::ScriptingContext& ctx, const std::string& stored) {
  DateTime t;
  if (DateTime::parse_iso(stored, t)) return ctx.regional().date_time(t);
  return stored;
}

std::string size_text(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " 字节";
  return std::to_string((bytes + 1023) / 1024) + " KB";
}

// The stored name of an uploaded file: its last path component, without
// control characters, at most kFileNameChars characters.
std::string clean_file_name(std::string_view given) {
  std::size_t slash = given.find_last_of("/\\");
  if (slash != std::string_view::npos) given.remove_prefix(slash + 1);
  std::string name = text::trim(text::header_safe(given));
  return text::char_prefix(name, kFileNameChars);
}

std::int64_t id_param(asp::ScriptingContext& ctx) {
  return text::parse_id(ctx.request().QueryString("id"));
}

// The unsent attachments of this composing session, with download and remove
// links; the compose page reloads it after each change.
std::string attachment_list(asp::ScriptingContext& ctx) {
  db::Result rows = ctx.conn().query(
      "SELECT id, filename, filesize FROM mailfj WHERE mailid = ? AND uid = ? AND status = 0 "
      "ORDER BY id",
      {compose_key(ctx.session()), ctx.session().get("uid")});
  if (rows.empty()) return "<span class='10blue'>（无附件）</span>";
  std::string out = "<table border='0' cellspacing='0' cellpadding='2'>";
  for (const auto& row : rows) {
    const std::string id = std::to_string(row.integer("id"));
    out += "<tr><td class='10blue'><a href='mailfjdown.asp?id=" + id + "' class='aapply'>" +
           html(row.text("filename")) + "</a></td><td class='10blue'>" +
           size_text(row.integer("filesize")) +
           "</td><td class='10blue'><a href='#' class='aapply' onclick='return delfj(" + id +
           ")'>删除</a></td></tr>";
  }
  out += "</table>";
  return out;
}

// Compose page script. Uploads send the file as the whole body; the file name
// travels in the query with every character outside printable ASCII (and "&")
// as a numeric character reference, which the server turns back into text
// whatever code page the query is read in.
constexpr std::string_view kComposeScript = R"JS(
function gbtext(r) {
  return r.arrayBuffer().then(function (b) { return new TextDecoder('gb18030').decode(b); });
}
function fjname(n) {
  return encodeURIComponent(n.replace(/[^\x20-\x25\x27-\x7e]/gu,
      function (c) { return '&#' + c.codePointAt(0) + ';'; }));
}
function reloadfj() {
  return fetch('writemail.asp?fjlist=1', {credentials: 'same-origin', cache: 'no-store'})
      .then(gbtext).then(function (t) { document.getElementById('fjlist').innerHTML = t; });
}
// Uploads the chosen file; the promise fails with the message to show.
function sendfj(f) {
  var msg = document.getElementById('fjmsg');
  var input = document.getElementById('fjfile');
  if (f.size > maxsize) return Promise.reject(new Error('附件超过了允许的大小。'));
  msg.innerText = '正在上传……';
  return fetch('mailfj.asp?filename=' + fjname(f.name), {method: 'POST', body: f,
      credentials: 'same-origin', headers: {'Content-Type': 'application/octet-stream'}})
    .then(function (r) {
      return gbtext(r).then(function (t) {
        if (r.ok && t.indexOf('OK ') === 0) return;
        var plain = (r.headers.get('Content-Type') || '').indexOf('text/plain') === 0;
        throw new Error(r.status === 413 ? '附件超过了允许的大小。' : plain ? t : '上传失败。');
      });
    })
    .then(function () { msg.innerText = ''; input.value = ''; return reloadfj(); });
}
function uploadfj() {
  var input = document.getElementById('fjfile');
  var f = input.files && input.files[0];
  if (!f) { alert('请先选择要上传的文件。'); return; }
  sendfj(f).catch(function (e) { document.getElementById('fjmsg').innerText = e.message; });
}
// The document helper (office.js) uploads files of the user's computer,
// named by their paths ("d:\a.doc; d:\b.xls"), in one multi-part post.
var helpertokens = [];
function officefj() {
  var input = document.getElementById('officepath');
  var msg = document.getElementById('fjmsg');
  var paths = input.value.split(';').map(function (p) { return p.trim(); })
      .filter(function (p) { return p !== ''; });
  if (!paths.length) { alert('请输入本机文件的路径。'); return; }
  msg.innerText = '正在上传……';
  var done = office.initupload();
  paths.forEach(function (p) {
    done = done.then(function () { return office.addfile(p); })
        .then(function (ok) { if (!ok) throw new Error('找不到本机文件：' + p); });
  });
  done.then(function () {
    return office.uploadurl('mailfjup.asp?formtoken=' + (helpertokens.shift() || ''));
  }).then(function (ok) {
    if (!ok || office.retmsg.indexOf('OK') !== 0) throw new Error(office.retmsg || '上传失败。');
    msg.innerText = '';
    input.value = '';
    return reloadfj();
  }).catch(function (e) { msg.innerText = e.message; });
}
window.addEventListener('load', function () {
  office.ready().then(function (ok) {
    if (ok) document.getElementById('officebox').style.display = '';
    else office.sayFallback(document.getElementById('officenote'));
  });
});
function delfj(id) {
  fetch('mailfjdel.asp?id=' + id, {method: 'POST', credentials: 'same-origin'}).then(reloadfj);
  return false;
}
// Sending uploads a chosen file first, so a mail never leaves without the
// attachment its writer chose; a failed upload keeps the mail unsent.
var mailsending = false;
function checkmail() {
  if (mailsending) return false;
  if (document.form.hiddenselect.value === '') { alert('请选择收件人。'); return false; }
  var input = document.getElementById('fjfile');
  var f = input.files && input.files[0];
  mailsending = true;
  if (!f) return true;
  sendfj(f).then(function () { document.form.submit(); }).catch(function (e) {
    mailsending = false;
    document.getElementById('fjmsg').innerText = e.message;
    alert('附件没有上传，邮件没有发送：' + e.message);
  });
  return false;
}
)JS";

void compose_form(asp::ScriptingContext& ctx) {
  auto& r = ctx.response();
  open_page(r, "写邮件");
  title_bar(r, "写邮件");
  r.Write(
      "<table width='100%' border='0' cellspacing='0' cellpadding='4'><tr><td valign='top'>"
      "<form name='form' method='post' action='writemail.asp' onsubmit='return checkmail()'>"
      "<table width='100%' border='0' cellspacing='0' cellpadding='4'>"
      "<tr><td class='10blue' width='60'>收件人：</td><td class='10blue'>"
      "<input type='text' name='username' size='60' readonly>"
      "<input type='hidden' name='hiddenselect'> （在右边的成员列表中选择）</td></tr>"
      "<tr><td class='10blue'>主　题：</td><td><input type='text' name='title' size='60' "
      "maxlength='200'></td></tr>"
      "<tr><td class='10blue' valign='top'>内　容：</td><td>"
      "<textarea name='text' cols='70' rows='14'></textarea></td></tr>"
      "<tr><td class='10blue' valign='top'>附　件：</td><td class='10blue'><div id='fjlist'>" +
      attachment_list(ctx) +
      "</div><input type='file' id='fjfile'> "
      "<input type='button' value='上传附件' onclick='uploadfj()'> <span id='fjmsg'></span>"
      "<div id='officebox' style='display:none'>本机文件：<input type='text' id='officepath' "
      "size='50' placeholder='d:\\资料\\a.doc; d:\\资料\\b.xls'> <input type='button' "
      "value='用办公助手上传' onclick='officefj()'></div><div id='officenote'></div>"
      "</td></tr>"
      "<tr><td></td><td><input type='submit' value='发 送'></td></tr>"
      "</table>" +
      host::form_token_field(ctx) + "</form></td><td width='200' valign='top'>");
  auto picker = ctx.server().CreateObject<workflow::Picker>("deskserver.turnmore");
  picker->main(ctx.conn());
  r.Write(
      "</td></tr></table><script language='javascript' src='picker.js'></script>"
      "<script language='javascript' src='office.js'></script>");
  std::string tokens;
  for (int i = 0; i < 4; ++i)
    tokens += std::string(i ? "," : "") + "'" + text::js_string(host::form_token(ctx)) + "'";
  r.Write("<script language='javascript'>var maxsize=" +
          std::to_string(asp::upload_ceiling(ctx.session(), ctx.config())) + ";" +
          std::string(kComposeScript) + "helpertokens=[" + tokens + "];</script>");
  close_page(r);
}

// "writemail.asp": GET shows the compose form (with ?fjlist=1 only the
// attachment list), POST sends.
void writemail_page(asp::ScriptingContext& ctx, WriteMail& writer) {
  if (ctx.request().is_post()) {
    writer.main(ctx.conn());
    host::message_page(ctx, 200, "写邮件", "邮件已发送");
  } else if (ctx.request().QueryString("fjlist") == "1") {
    ctx.response().Write(attachment_list(ctx));
  } else {
    compose_form(ctx);
  }
}

// "mailfj.asp?filename=": the request body is one attachment of the message
// being composed. Answers "OK <id>" as text/plain.
void mailfj_page(asp::ScriptingContext& ctx) {
  auto& req = ctx.request();
  if (!req.is_post()) return plain_answer(ctx, 405, "请用 POST 上传附件。");
  if (req.TotalBytes() > asp::upload_ceiling(ctx.session(), ctx.config()))
    return plain_answer(ctx, 413, "附件超过了允许的大小。");
  std::string name = clean_file_name(req.QueryString("filename"));
  if (name.empty()) return plain_answer(ctx, 400, "没有给出附件的文件名。");
  auto& s = ctx.session();
  std::int64_t id = ctx.conn().insert(
      "INSERT INTO mailfj (status, mailid, filename, filesize, filedata, uid, uploadtime) "
      "VALUES (0, ?, ?, ?, ?, ?, ?)",
      {compose_key(s), name, static_cast<long long>(req.TotalBytes()), db::Blob{req.body()},
       s.get("uid"), ctx.now().iso()});
  plain_answer(ctx, 200, "OK " + std::to_string(id));
}

// "mailfjup.asp": the files of a multi-part upload (the document helper's)
// become attachments of the message being composed, all or none. Answers
// "OK" followed by their ids as text/plain. Attachments are stored and only
// ever sent back as downloads, so, as with "mailfj.asp", any file name is
// taken; the name kept is the file's name without its folder.
void mailfjup_page(asp::ScriptingContext& ctx) {
  auto& req = ctx.request();
  if (!req.is_post()) return plain_answer(ctx, 405, "请用 POST 上传附件。");
  auto up = ctx.server().CreateObject<Upload>("deskserver.upload");
  up->GetData(static_cast<long long>(asp::upload_ceiling(ctx.session(), ctx.config())));
  if (up->isErr())
    throw Error(up->isErr() == Upload::kTooLarge ? Errc::too_large : Errc::bad_request,
                up->ErrMessage());
  FileTable* files = up->File();
  if (!files || files->Count() == 0) throw Error(Errc::bad_request, "没有收到附件。");
  auto& s = ctx.session();
  db::Transaction tx(ctx.conn());
  std::string ids;
  for (const FileInfo_Class& f : *files) {
    std::string name = clean_file_name(f.FileName);
    if (name.empty()) throw Error(Errc::bad_request, "附件没有文件名。");
    std::int64_t id = ctx.conn().insert(
        "INSERT INTO mailfj (status, mailid, filename, filesize, filedata, uid, uploadtime) "
        "VALUES (0, ?, ?, ?, ?, ?, ?)",
        {compose_key(s), name, static_cast<long long>(f.filesize),
         db::Blob{req.body().substr(f.FileStart, f.filesize)}, s.get("uid"), ctx.now().iso()});
    ids += " " + std::to_string(id);
  }
  tx.commit();
  plain_answer(ctx, 200, "OK" + ids);
}

// "mailfjdel.asp?id=": removes one unsent attachment of this composing
// session, posted by script, which gets text; a GET changes nothing.
void mailfjdel_page(asp::ScriptingContext& ctx) {
  if (!ctx.request().is_post()) return ctx.response().Redirect("writemail.asp");
  db::ExecResult done =
      ctx.conn().exec("DELETE FROM mailfj WHERE id = ? AND mailid = ? AND uid = ? AND status = 0",
                      {id_param(ctx), compose_key(ctx.session()), ctx.session().get("uid")});
  if (done.changes > 0) return plain_answer(ctx, 200, "OK");
  plain_answer(ctx, 404, "没有这个附件。");
}

// "mailbox.asp": the user's mail, newest first, unread ones marked.
void mailbox_page(asp::ScriptingContext& ctx) {
  db::Result rows = ctx.conn().query(
      "SELECT id, senderid, sendername, title, mailtime, fjlist, status FROM mail "
      "WHERE topeopleid = ? ORDER BY mailtime DESC, id DESC",
      {ctx.session().get("uid")});
  std::size_t unread = 0;
  for (const auto& row : rows)
    if (row.integer("status") == 0) ++unread;

  auto& r = ctx.response();
  open_page(r, "收件箱");
  title_bar(r, "收件箱");
  r.Write(
      "<table width='100%' border='0' cellspacing='0' cellpadding='4'><tr><td class='10blue'>"
      "共有邮件 <span class='numberbold'>" +
      std::to_string(rows.size()) + "</span> 封，其中未读 <span class='numberbold'>" +
      std::to_string(unread) + "</span> 封</td></tr></table>");
  if (rows.empty()) {
    r.Write(
        "<table width='100%' border='0' cellspacing='0' cellpadding='4'><tr>"
        "<td class='10blue' align='center'>没有邮件。</td></tr></table>");
    close_page(r);
    return;
  }
  r.Write(
      "<table width='100%' border='0' cellspacing='1' cellpadding='3'>"
      "<tr><td class='10blue' width='30'></td><td class='10blue' width='120'><b>发件人</b></td>"
      "<td class='10blue'><b>主题</b></td><td class='10blue' width='150'><b>时间</b></td></tr>");
  for (const auto& row : rows) {
    const bool is_unread = row.integer("status") == 0;
    std::string sender = row.text("sendername");
    if (sender.empty()) sender = row.text("senderid");
    std::string title = text::cut_title(row.text("title"), kBoxTitleChars);
    if (title.empty()) title = "（无主题）";
    std::string subject = html(title);
    if (!row.text("fjlist").empty()) subject += " [附件]";
    auto bold = [is_unread](const std::string& s) { return is_unread ? "<b>" + s + "</b>" : s; };
    r.Write("<tr><td class='10blue' align='center'>" +
            std::string(is_unread ? "<b title='未读'>●</b>" : "") + "</td><td class='10blue'>" +
            bold(html(sender)) + "</td><td class='10blue'><a href='readmail.asp?id=" +
            std::to_string(row.integer("id")) + "' class='aapply'>" + bold(subject) +
            "</a></td><td class='10blue'>" + bold(html(shown_time(ctx, row.text("mailtime")))) +
            "</td></tr>");
  }
  r.Write("</table>");
  close_page(r);
}

// "readmail.asp?id=": one mail of which the user is the recipient; reading
// it marks it read.
void readmail_page(asp::ScriptingContext& ctx) {
  auto& conn = ctx.conn();
  std::int64_t id = id_param(ctx);
  db::Result found = conn.query(
      "SELECT topeople, title, text, mailtime, senderid, sendername, fjlist FROM mail "
      "WHERE id = ? AND topeopleid = ?",
      {id, ctx.session().get("uid")});
  if (found.empty()) throw Error(Errc::not_found, "该邮件不存在或不属于您。");
  const db::Row& mail = found.front();
  conn.exec("UPDATE mail SET status = 1 WHERE id = ? AND status = 0", {id});

  std::string sender = mail.text("sendername");
  if (sender.empty()) sender = mail.text("senderid");
  std::string attachments;
  for (std::int64_t fjid : parse_id_list(mail.text("fjlist"))) {
    db::Result fj = conn.query("SELECT filename, filesize FROM mailfj WHERE id = ?", {fjid});
    if (fj.empty()) continue;
    attachments += "<a href='mailfjdown.asp?id=" + std::to_string(fjid) + "' class='aapply'>" +
                   html(fj.front().text("filename")) + "</a> (" +
                   size_text(fj.front().integer("filesize")) + ")<br>";
  }

  auto& r = ctx.response();
  open_page(r, "阅读邮件");
  title_bar(r, "阅读邮件");
  std::string out =
      "<table width='100%' border='0' cellspacing='0' cellpadding='4'>"
      "<tr><td class='10blue' width='70'>发件人：</td><td class='10blue'>" +
      html(sender) + "</td></tr><tr><td class='10blue'>收件人：</td><td class='10blue'>" +
      html(mail.text("topeople")) +
      "</td></tr><tr><td class='10blue'>时　间：</td><td class='10blue'>" +
      html(shown_time(ctx, mail.text("mailtime"))) +
      "</td></tr><tr><td class='10blue'>主　题：</td><td class='10blue'><b>" +
      html(mail.text("title")) + "</b></td></tr>";
  if (!attachments.empty())
    out += "<tr><td class='10blue' valign='top'>附　件：</td><td class='10blue'>" + attachments +
           "</td></tr>";
  out += "<tr><td class='10blue' valign='top'>内　容：</td><td class='10blue'>" +
         text::html_lines(mail.text("text")) + "</td></tr></table>";
  r.Write(out);
  close_page(r);
}

// "mailfjdown.asp?id=": the attachment's bytes, for those allowed to see it.
void mailfjdown_page(asp::ScriptingContext& ctx) {
  auto& conn = ctx.conn();
  std::int64_t id = id_param(ctx);
  db::Result fj;
  if (may_download_attachment(conn, id, ctx.session().get("uid")))
    fj = conn.query("SELECT filename, filedata FROM mailfj WHERE id = ?", {id});
  if (fj.empty()) throw Error(Errc::not_found, "该附件不存在或您无权下载。");

  auto& r = ctx.response();
  r.Clear();
  r.ContentType = "application/octet-stream";
  r.Charset = "";
  r.AddHeader("Content-Disposition",
              attachment_disposition(fj.front().text("filename"), "attachment"));
  r.BinaryWrite(fj.front()["filedata"].bytes());
}

}  // namespace

void register_mail_pages(asp::Registry& r) {
  using host::add_page;
  using host::Answer;
  add_page<WriteMail>(r, "writemail", writemail_page, {.title = "写邮件", .once = true});
  add_page(r, "mailfj.asp", mailfj_page, {.answer = Answer::plain, .upload = true});
  add_page(r, "mailfjup.asp", mailfjup_page,
           {.answer = Answer::plain, .once = true, .upload = true, .transfer = true});
  add_page(r, "mailfjdel.asp", mailfjdel_page, {.answer = Answer::plain});
  add_page(r, "mailbox.asp", mailbox_page, {.title = "收件箱"});
  add_page(r, "readmail.asp", readmail_page, {.title = "阅读邮件"});
  add_page(r, "mailfjdown.asp", mailfjdown_page, {.title = "下载附件"});
}

}  // namespace desk::files
