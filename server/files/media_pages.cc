// Hosting pages of the media library.
#include <string>
#include <string_view>

#include "core/text.h"
#include "server/files/documents.h"
#include "server/files/file_answer.h"
#include "server/files/media.h"
#include "server/host/chrome.h"
#include "server/host/kit.h"

namespace desk::files {
namespace {

using host::plain_answer;
using text::html;
using text::js_string;

// Longest title shown in the list, in characters.
constexpr std::size_t kListTitleChars = 30;

constexpr std::string_view kNoSuchItem = "该资源不存在，或者没有共享。";

void title_bar(asp::Response& r, std::string_view title) {
  r.Write(host::title_bar(title, {{"sharemore.asp", "共享资源"},
                                  {"shareadd.asp?type=pic", "上传图片"},
                                  {"shareadd.asp?type=mp3", "上传音乐"},
                                  {"shareadd.asp?type=dv", "上传视频"}}));
}

std::string shown_title(std::string_view title) {
  return title.empty() ? std::string("（无标题）") : std::string(title);
}

// The kind a request's `type` names ("pic", "mp3", "dv"); nullptr otherwise.
const MediaKindInfo* requested_kind(asp::ScriptingContext& ctx) {
  return kind_of_type(ctx.request().QueryString("type"));
}

// The visibility of one's own item as the list and the item page show it.
std::string visibility_text(std::string_view flag) {
  return flag == "1" ? "共享" : "仅自己可见";
}

// ---- The list ---------------------------------------------------------------

// "sharemore.asp[?type=pic|mp3|dv]": the albums, music and videos the user
// may see (shared ones and their own), newest first.
void sharemore_page(asp::ScriptingContext& ctx) {
  const std::string uid = host::current_user(ctx).uid;
  const MediaKindInfo* only = requested_kind(ctx);
  std::string sql =
      "SELECT s.id, s.type, s.title, s.username, s.uid, s.savedate, s.isshare, "
      "(SELECT COUNT(*) FROM sharepic p WHERE p.shareid = CAST(s.id AS TEXT)) AS pictures "
      "FROM share s WHERE (s.isshare = '1' OR s.uid = ?)";
  db::Params params{uid};
  if (only) {
    sql += " AND s.type = ?";
    params.emplace_back(std::string(only->type));
  }
  db::Result rows = ctx.conn().query(sql + " ORDER BY s.id DESC", params);

  auto& r = ctx.response();
  r.Write(host::page_head("共享资源"));
  title_bar(r, "共享资源");
  std::string filter =
      "<table width='100%' border='0' cellspacing='0' cellpadding='4'><tr>"
      "<td class='10blue'>";
  filter += only ? "<a href='sharemore.asp' class='aapply'>全部</a>" : "<b>全部</b>";
  for (const char* type : {"pic", "mp3", "dv"}) {
    const MediaKindInfo& k = *kind_of_type(type);
    filter += "&nbsp;&nbsp;";
    filter += only == &k ? "<b>" + std::string(k.label) + "</b>"
                         : "<a href='sharemore.asp?type=" + std::string(k.type) +
                               "' class='aapply'>" + std::string(k.label) + "</a>";
  }
  r.Write(filter + "</td></tr></table>");
  if (rows.empty()) {
    r.Write(
        "<table width='100%' border='0' cellspacing='0' cellpadding='4'><tr>"
        "<td class='10blue' align='center'>还没有共享的资源。</td></tr></table>");
    r.Write(host::kPageEnd);
    return;
  }
  r.Write(
      "<table width='100%' border='0' cellspacing='1' cellpadding='3' id='sharelist'>"
      "<tr><td class='10blue' width='90'><b>类别</b></td><td class='10blue'><b>标题</b></td>"
      "<td class='10blue' width='100'><b>上传者</b></td><td class='10blue' width='150'>"
      "<b>日期</b></td><td class='10blue' width='90'><b>共享</b></td></tr>");
  for (const db::Row& row : rows) {
    const MediaKindInfo* k = kind_of_type(row.text("type"));
    std::string label = k ? std::string(k->label) : row.text("type");
    if (k && k->kind == MediaKind::picture)
      label += "（" + std::to_string(row.integer("pictures")) + "张）";
    const bool own = row.text("uid") == uid;
    r.Write(
        "<tr class='shareitem'><td class='10blue'>" + html(label) +
        "</td><td class='10blue'><a href='shareview.asp?id=" + std::to_string(row.integer("id")) +
        "' class='aapply'>" +
        html(text::cut_title(shown_title(row.text("title")), kListTitleChars)) +
        "</a></td><td class='10blue'>" + html(row.text("username")) + "</td><td class='10blue'>" +
        html(ctx.regional().shown(row.text("savedate"))) + "</td><td class='10blue'>" +
        (own ? html(visibility_text(row.text("isshare"))) : "") + "</td></tr>");
  }
  r.Write("</table>");
  r.Write(host::kPageEnd);
}

// ---- One item -----------------------------------------------------------------

constexpr std::string_view kViewScript = R"JS(
function showpic(id) {
  document.getElementById('bigpic').src = 'sharefile.asp?pic=' + id;
  var links = document.querySelectorAll('img.thumb');
  for (var i = 0; i < links.length; ++i)
    links[i].className = links[i].getAttribute('data-id') == String(id) ? 'thumb chosen' : 'thumb';
  return false;
}
var deleting = false;
function deleteitem() {
  if (deleting) return false;
  if (!confirm('确定要删除吗？删除后不能恢复。')) return false;
  deleting = true;
  return true;
}
)JS";

// The player, or the note for a format the browser cannot play, of music or
// video item `id`.
std::string player(const MediaKindInfo& k, const MediaFormat* format, std::int64_t id) {
  const std::string src = "sharefile.asp?id=" + std::to_string(id);
  std::string out;
  if (format && format->plays) {
    out = k.kind == MediaKind::music
              ? "<audio id='player' controls preload='metadata' src='" + src + "'></audio>"
              : "<video id='player' controls preload='metadata' width='640' src='" + src +
                    "'></video>";
  } else {
    out = "<p class='medianote'>该文件的格式（" +
          html(format ? format->ext : std::string_view("未知")) +
          "）不能在浏览器中直接播放，请下载后用本机的播放器打开。</p>";
  }
  return out + "<p><a href='" + src + "&amp;download=1' class='aapply'>下载</a></p>";
}

// "shareview.asp?id=": an album with its thumbnails and a large view, or a
// music or video item with its player; its owner may delete it here.
void shareview_page(asp::ScriptingContext& ctx) {
  auto& conn = ctx.conn();
  const std::string uid = host::current_user(ctx).uid;
  const std::int64_t id = text::parse_id(ctx.request().QueryString("id"));
  db::Result found;
  if (id > 0 && !visible_item(conn, id, uid).empty())
    found = conn.query(
        "SELECT type, title, content, isshare, savedate, username, uid, format FROM share "
        "WHERE id = ?",
        {id});
  if (found.empty()) throw Error(Errc::not_found, std::string(kNoSuchItem));
  const db::Row& item = found.front();
  const MediaKindInfo* k = kind_of_type(item.text("type"));
  if (!k) throw Error(Errc::not_found, std::string(kNoSuchItem));
  const bool own = item.text("uid") == uid;

  auto& r = ctx.response();
  r.Write(host::page_head(shown_title(item.text("title"))));
  title_bar(r, k->label);
  std::string out =
      "<table width='100%' border='0' cellspacing='0' cellpadding='4'>"
      "<tr><td class='10blue' width='70'>标　题：</td><td class='10blue'><b id='itemtitle'>" +
      html(shown_title(item.text("title"))) +
      "</b></td></tr><tr><td class='10blue'>上传者：</td><td class='10blue'>" +
      html(item.text("username")) + "</td></tr><tr><td class='10blue'>日　期：</td>" +
      "<td class='10blue'>" + html(ctx.regional().shown(item.text("savedate"))) + "</td></tr>";
  if (own)
    out += "<tr><td class='10blue'>共　享：</td><td class='10blue'>" +
           html(visibility_text(item.text("isshare"))) + "</td></tr>";
  if (!item.text("content").empty())
    out += "<tr><td class='10blue' valign='top'>说　明：</td><td class='10blue'>" +
           text::html_lines(item.text("content")) + "</td></tr>";
  out += "<tr><td></td><td class='10blue'>";
  if (k->kind == MediaKind::picture) {
    db::Result pics =
        conn.query("SELECT id FROM sharepic WHERE shareid = ? ORDER BY id", {std::to_string(id)});
    if (pics.empty()) {
      out += "相册中没有图片。";
    } else {
      const std::string first = std::to_string(pics.front().integer("id"));
      out += "<div class='bigview'><img id='bigpic' class='bigpic' alt='' src='sharefile.asp?pic=" +
             first + "'></div><div class='thumbs'>";
      for (const db::Row& p : pics) {
        const std::string pid = std::to_string(p.integer("id"));
        out += "<img class='thumb" + std::string(pid == first ? " chosen" : "") +
               "' alt='' data-id='" + pid + "' src='sharefile.asp?pic=" + pid +
               "' onclick='return showpic(" + pid + ")'>";
      }
      out += "</div>";
    }
  } else {
    out += player(*k, format_named(k->kind, item.text("format")), id);
  }
  out += "</td></tr>";
  if (own)
    out +=
        "<tr><td></td><td class='10blue'><form method='post' action='sharedel.asp' "
        "onsubmit='return deleteitem()'><input type='hidden' name='id' value='" +
        std::to_string(id) + "'>" + host::form_token_field(ctx) +
        "<input type='submit' value='删除'></form></td></tr>";
  out += "</table><script language='javascript'>" + std::string(kViewScript) + "</script>";
  r.Write(out);
  r.Write(host::kPageEnd);
}

// ---- Uploading ----------------------------------------------------------------

// Uploads the chosen files one after the other as raw bodies to `upurl`, each
// with the once-only token the previous answer ("OK <id> <next token>")
// handed out, showing the progress of all of them; then posts the form.
constexpr std::string_view kAddScript = R"JS(
var mediasending = false;
var sent = 0;  // files of the current choice already stored
function setbar(part) {
  document.getElementById('upbar').value = Math.round(part * 100);
}
function upmsg(t) { document.getElementById('upmsg').innerText = t; }
function sendone(f, before, total) {
  return new Promise(function (resolve, reject) {
    var xhr = new XMLHttpRequest();
    xhr.open('POST', upurl + '?formtoken=' + encodeURIComponent(uptoken));
    xhr.responseType = 'arraybuffer';
    xhr.setRequestHeader('Content-Type', 'application/octet-stream');
    xhr.upload.onprogress = function (e) {
      if (e.lengthComputable && total > 0) setbar((before + e.loaded) / total);
    };
    xhr.onload = function () {
      var t = new TextDecoder('gb18030').decode(new Uint8Array(xhr.response));
      if (xhr.status === 200 && t.indexOf('OK ') === 0) {
        uptoken = t.split(' ')[2];
        resolve();
        return;
      }
      var plain = (xhr.getResponseHeader('Content-Type') || '').indexOf('text/plain') === 0;
      reject(new Error(xhr.status === 413 ? '文件超过了允许的大小。' : plain ? t : '上传失败，请重试。'));
    };
    xhr.onerror = function () { reject(new Error('网络错误，上传失败。')); };
    xhr.send(f);
  });
}
function choosefiles() { sent = 0; setbar(0); upmsg(''); }
// Files of the user's computer named by their paths ("d:\a.jpg; d:\b.jpg"),
// sent by the document helper (office.js) one by one with the tokens the
// page handed out for it.
function helperpaths() {
  var input = document.getElementById('officepath');
  if (!input || document.getElementById('officebox').style.display === 'none') return [];
  return input.value.split(';').map(function (p) { return p.trim(); })
      .filter(function (p) { return p !== ''; });
}
function sendbyhelper(paths) {
  var chain = Promise.resolve();
  paths.forEach(function (p, i) {
    chain = chain.then(function () {
      var cut = Math.max(p.lastIndexOf('\\'), p.lastIndexOf('/'));
      var folder = cut < 0 ? '' : p.substring(0, cut);
      var name = p.substring(cut + 1);
      var token = helpertokens.shift();
      if (!token) throw new Error('一次上传的文件太多，请分几次上传。');
      upmsg('正在上传“' + name + '”……');
      return office.upload(upurl + '?formtoken=' + encodeURIComponent(token), name, folder,
                           String(maxsize))
        .then(function (ok) {
          if (!ok) throw new Error('“' + name + '”没有上传（文件不存在、太大或不允许）。');
          setbar((i + 1) / paths.length);
        });
    });
  });
  return chain.then(function () { document.getElementById('officepath').value = ''; });
}
function sendmedia() {
  if (mediasending) return false;
  var files = Array.prototype.slice.call(document.getElementById('mediafile').files || []);
  var paths = helperpaths();
  if (files.length === 0 && paths.length === 0 && waiting === 0) {
    alert('请选择要上传的文件。');
    return false;
  }
  for (var i = 0; i < files.length; ++i) {
    if (files[i].size > maxsize) { alert('文件“' + files[i].name + '”超过了允许的大小。'); return false; }
  }
  if (document.form.title.value.replace(/\s/g, '') === '') { alert('请输入标题。'); return false; }
  mediasending = true;
  var total = 0, before = 0;
  files.forEach(function (f) { total += f.size; });
  files.slice(0, sent).forEach(function (f) { before += f.size; });
  var chain = paths.length ? sendbyhelper(paths) : Promise.resolve();
  files.slice(sent).forEach(function (f) {
    chain = chain.then(function () {
      upmsg('正在上传“' + f.name + '”……');
      return sendone(f, before, total).then(function () { before += f.size; ++sent; });
    });
  });
  chain.then(function () {
    setbar(1);
    upmsg('上传完成，正在保存……');
    document.form.submit();
  }).catch(function (e) {
    mediasending = false;
    upmsg(e.message);
  });
  return false;
}
window.addEventListener('load', function () {
  office.ready().then(function (ok) {
    if (ok) document.getElementById('officebox').style.display = '';
    else office.sayFallback(document.getElementById('officenote'));
  });
});
)JS";

// Form tokens handed to the page for uploads through the document helper,
// whose answers the page does not read.
constexpr int kHelperTokens = 10;

struct AddForm {
  std::string_view heading;
  std::string_view save_page;
  std::string_view share_page;
  std::string_view accept;
  std::string_view file_label;
};

AddForm add_form(MediaKind kind) {
  switch (kind) {
    case MediaKind::music:
      return {"上传音乐", "savemp3.asp", "sharemp3.asp", "audio/*,.mp3,.wav,.ogg,.flac,.m4a,.wma",
              "音　乐"};
    case MediaKind::video:
      return {"上传视频", "savedv.asp", "sharedv.asp",
              "video/*,.mp4,.webm,.ogv,.mov,.mkv,.wmv,.avi,.mpg,.mpeg,.flv", "视　频"};
    case MediaKind::picture:
      break;
  }
  return {"上传图片", "savepic.asp", "sharepic.asp", "image/jpeg,image/png,image/gif,image/webp",
          "图　片"};
}

// "shareadd.asp?type=pic|mp3|dv": choose the file (pictures: several), type
// the title, description and visibility, and share. Pictures of this session
// not yet in an album are shown and go into the next album.
void shareadd_page(asp::ScriptingContext& ctx) {
  const MediaKindInfo* k = requested_kind(ctx);
  if (!k) throw Error(Errc::not_found, "请选择要上传的资源类别。");
  const AddForm f = add_form(k->kind);
  const bool pictures = k->kind == MediaKind::picture;
  std::string waiting_html;
  std::size_t waiting = 0;
  if (pictures) {
    db::Result rows =
        ctx.conn().query("SELECT id FROM sharepic WHERE shareid = ? AND uid = ? ORDER BY id",
                         {std::to_string(ctx.session().SessionID()), host::current_user(ctx).uid});
    waiting = rows.size();
    for (const db::Row& row : rows)
      waiting_html +=
          "<img class='thumb' alt='' src='sharefile.asp?pic=" + std::to_string(row.integer("id")) +
          "'>";
  }

  auto& r = ctx.response();
  r.Write(host::page_head(f.heading));
  title_bar(r, f.heading);
  std::string out = "<form name='form' method='post' action='" + std::string(f.share_page) +
                    "' onsubmit='return sendmedia()'>"
                    "<table width='100%' border='0' cellspacing='0' cellpadding='4'>"
                    "<tr><td class='10blue' width='80'>" +
                    std::string(f.file_label) +
                    "：</td><td class='10blue'><input type='file' id='mediafile' accept='" +
                    std::string(f.accept) + "'" + (pictures ? " multiple" : "") +
                    " onchange='choosefiles()'>" + (pictures ? " （可以一次选择多张）" : "") +
                    "<div id='officebox' style='display:none'>或本机文件：<input type='text' "
                    "id='officepath' size='50' title='用办公助手上传，多个文件用分号隔开'></div>"
                    "<div id='officenote'></div></td></tr>";
  if (waiting > 0)
    out += "<tr><td class='10blue' valign='top'>已上传：</td><td class='10blue'>本次已上传 " +
           std::to_string(waiting) + " 张图片，将一起放入这个相册。<br><div class='thumbs'>" +
           waiting_html + "</div></td></tr>";
  out +=
      "<tr><td class='10blue'>标　题：</td><td><input type='text' name='title' size='50' "
      "maxlength='100'></td></tr>"
      "<tr><td class='10blue' valign='top'>说　明：</td><td>"
      "<textarea name='content' cols='60' rows='5'></textarea></td></tr>"
      "<tr><td class='10blue'>共　享：</td><td class='10blue'>"
      "<label><input type='radio' name='isshare' value='1' checked>共享给所有人</label> "
      "<label><input type='radio' name='isshare' value='0'>仅自己可见</label></td></tr>"
      "<tr><td class='10blue'>进　度：</td><td class='10blue'>"
      "<progress id='upbar' max='100' value='0'></progress> <span id='upmsg'></span></td></tr>"
      "<tr><td></td><td><input type='submit' value='上传并共享'></td></tr></table>" +
      host::form_token_field(ctx) + "</form>";
  out += "<script language='javascript'>var upurl='" + js_string(f.save_page) + "';var uptoken='" +
         js_string(host::form_token(ctx)) +
         "';var maxsize=" + std::to_string(asp::upload_ceiling(ctx.session(), ctx.config())) +
         ";var waiting=" + std::to_string(waiting) + ";var helpertokens=[";
  for (int i = 0; i < kHelperTokens; ++i)
    out += std::string(i ? "," : "") + "'" + js_string(host::form_token(ctx)) + "'";
  out += "];" + std::string(kAddScript) +
         "</script><script language='javascript' src='office.js'></script>";
  r.Write(out);
  r.Write(host::kPageEnd);
}

// The save pages answer the page script: "OK <id> <token>", the token being
// a fresh once-only token for the next upload.
template <class T>
void save_page(asp::ScriptingContext& ctx, T& component) {
  if (!ctx.request().is_post()) return plain_answer(ctx, 405, "请用 POST 上传文件。");
  component.main(ctx.conn());
  plain_answer(ctx, 200, "OK " + std::to_string(component.id()) + " " + host::form_token(ctx));
}

// The share pages: a POST completes the item (or makes the album) and shows
// it; a GET leads to the upload form.
template <class T>
void share_page(asp::ScriptingContext& ctx, T& component, std::string_view type) {
  if (!ctx.request().is_post())
    return ctx.response().Redirect("shareadd.asp?type=" + std::string(type));
  component.main(ctx.conn());
  ctx.response().Redirect(component.id() > 0 ? "shareview.asp?id=" + std::to_string(component.id())
                                             : std::string("sharemore.asp"));
}

// ---- Files and deletion -----------------------------------------------------------

// "sharefile.asp?id=" (music, video) or "?pic=" (a picture), with
// "&download=1" as an attachment: the stored file, to a user who may see it,
// with byte ranges.
void sharefile_page(asp::ScriptingContext& ctx) {
  auto& conn = ctx.conn();
  auto& req = ctx.request();
  const std::string uid = host::current_user(ctx).uid;
  const bool download = req.QueryString("download") == "1";
  const std::filesystem::path& root = ctx.app().root;
  if (!req.QueryString("pic").empty()) {
    const std::int64_t id = text::parse_id(req.QueryString("pic"));
    db::Result pic;
    if (id > 0) pic = visible_picture(conn, id, uid);
    if (pic.empty()) throw Error(Errc::not_found, std::string(kNoSuchItem));
    const MediaFormat* f = format_named(MediaKind::picture, pic.front().text("format"));
    const std::string name = "picture" + std::to_string(id) + "." + std::string(f ? f->ext : "jpg");
    return send_stored_file(ctx, media_file(root, MediaKind::picture, id),
                            f ? f->content_type : "application/octet-stream",
                            download || !f ? attachment_disposition(name, name) : "");
  }
  const std::int64_t id = text::parse_id(req.QueryString("id"));
  db::Result item;
  if (id > 0) item = visible_item(conn, id, uid);
  const MediaKindInfo* k = item.empty() ? nullptr : kind_of_type(item.front().text("type"));
  if (!k || k->kind == MediaKind::picture) throw Error(Errc::not_found, std::string(kNoSuchItem));
  const MediaFormat* f = format_named(k->kind, item.front().text("format"));
  const std::string fallback =
      std::string(k->type) + std::to_string(id) + "." + std::string(f ? f->ext : k->ext);
  std::string title = item.front().text("title");
  const std::string name =
      title.empty() ? fallback : title + "." + std::string(f ? f->ext : k->ext);
  send_stored_file(ctx, media_file(root, k->kind, id),
                   f ? f->content_type : "application/octet-stream",
                   download || !f ? attachment_disposition(name, fallback) : "");
}

// "sharedel.asp": the owner deletes an item (POST `id`), then sees the list.
void sharedel_page(asp::ScriptingContext& ctx) {
  if (ctx.request().is_post()) {
    const std::int64_t id = text::parse_id(ctx.request().Form("id"));
    if (id == 0 || !delete_item(ctx.conn(), ctx.app().root, id, host::current_user(ctx).uid))
      throw Error(Errc::not_found, "该资源不存在，或者不是您上传的。");
  }
  ctx.response().Redirect("sharemore.asp");
}

}  // namespace

void register_media_pages(asp::Registry& r) {
  using host::add_page;
  using host::Answer;
  const host::PageOptions save{
      .answer = Answer::plain, .once = true, .upload = true, .pooled = true, .transfer = true};
  const host::PageOptions share{.title = "共享资源", .once = true};
  add_page<SaveMp3>(r, "savemp3", save_page<SaveMp3>, save);
  add_page<SaveDv>(r, "savedv", save_page<SaveDv>, save);
  add_page<SavePic>(r, "savepic", save_page<SavePic>, save);
  add_page<ShareMp3>(
      r, "sharemp3", [](asp::ScriptingContext& ctx, ShareMp3& c) { share_page(ctx, c, "mp3"); },
      share);
  add_page<ShareDv>(
      r, "sharedv", [](asp::ScriptingContext& ctx, ShareDv& c) { share_page(ctx, c, "dv"); },
      share);
  add_page<SharePic>(
      r, "sharepic", [](asp::ScriptingContext& ctx, SharePic& c) { share_page(ctx, c, "pic"); },
      share);
  add_page(r, "sharemore.asp", sharemore_page, {.title = "共享资源"});
  add_page(r, "shareview.asp", shareview_page, {.title = "共享资源"});
  add_page(r, "shareadd.asp", shareadd_page, {.title = "共享资源"});
  add_page(r, "sharefile.asp", sharefile_page, {.title = "共享资源"});
  add_page(r, "sharedel.asp", sharedel_page, {.title = "共享资源", .once = true});
}

}  // namespace desk::files
