#include "server/files/documents.h"

#include <optional>
#include <utility>
#include <vector>

#include "core/text.h"
#include "server/workflow/flow.h"
#include "server/workflow/staging.h"

namespace desk::files {
namespace {

constexpr std::string_view kDownloadType = "application/x-msdownload";

// The whole number a request or Session value holds; nullopt for anything
// else, including the empty text.
std::optional<std::int64_t> whole_number(std::string_view s) {
  long long n = 0;
  if (!text::parse_int(s, n)) return std::nullopt;
  return n;
}

bool is_admin(const asp::Session& session) {
  return session.get("type") == "admin";
}

// Pages of the pending items that work on an outgoing document: the step
// pages (codes 1-6) and redrafting.
std::vector<std::string> fawen_item_urls() {
  std::vector<std::string> urls;
  for (int code = workflow::kVerification; code <= workflow::kRegistration; ++code)
    if (const workflow::Step* step = workflow::find_step(code)) urls.emplace_back(step->item.url);
  urls.emplace_back(workflow::kRedraftItem.url);
  return urls;
}

// Sends `bytes` as the whole response. `disposition` "" sends no
// Content-Disposition; `with_length` adds Content-Length and the UTF-8
// character set.
void send_file(asp::Response& r, std::string_view bytes, std::string_view disposition,
               std::string_view content_type, bool with_length) {
  r.Clear();
  if (!disposition.empty()) r.AddHeader("Content-Disposition", disposition);
  if (with_length) {
    r.AddHeader("Content-Length", std::to_string(bytes.size()));
    r.Charset = "UTF-8";
  }
  r.ContentType = std::string(content_type);
  r.BinaryWrite(bytes);
}

// The raw body of an upload, after the ceiling check; "" for an empty body.
std::string read_upload(asp::Request& req, const asp::Session& session,
                        const asp::AppConfig& config) {
  const std::size_t n = req.TotalBytes();
  if (n > asp::upload_ceiling(session, config))
    throw Error(Errc::too_large, "文件超过了允许的大小。");
  return req.BinaryRead(n);
}

}  // namespace

std::optional<std::int64_t> linked_document(asp::ScriptingContext& ctx, std::string_view key) {
  const std::string given = ctx.request().QueryString("flowid");
  return whole_number(given.empty() ? ctx.session().get(key) : given);
}

bool may_read_fawen(db::Connection& conn, std::int64_t fawen_id, const asp::Session& session) {
  if (is_admin(session)) return true;
  if (session.get(kFawenUploadKey) == std::to_string(fawen_id)) return true;
  const std::string uid = session.get("uid");
  if (uid.empty()) return false;
  db::Params params{fawen_id, uid, fawen_id, uid, fawen_id, uid};
  std::string items = "SELECT 1 FROM newwork WHERE baseid = ? AND userid = ? AND url IN (";
  bool first = true;
  for (std::string& url : fawen_item_urls()) {
    items += first ? "?" : ", ?";
    first = false;
    params.emplace_back(std::move(url));
  }
  items += ")";
  const std::string sql =
      "SELECT 1 FROM fawen WHERE id = ? AND writeid = ? "
      "UNION ALL SELECT 1 FROM workflow WHERE flowid = ? AND handleid = ? "
      "UNION ALL " +
      items + " LIMIT 1";
  return !conn.query(sql, params).empty();
}

bool may_read_shouwen(db::Connection& conn, std::int64_t shouwen_id, const asp::Session& session) {
  if (is_admin(session)) return true;
  if (session.get(kShouwenUploadKey) == std::to_string(shouwen_id)) return true;
  const std::string uid = session.get("uid");
  if (uid.empty()) return false;
  return !conn.query(
                  "SELECT 1 FROM shouwen WHERE id = ? AND writeid = ? "
                  "UNION ALL SELECT 1 FROM swflow WHERE flowid = ? AND handleid = ? "
                  "UNION ALL SELECT 1 FROM newwork WHERE baseid = ? AND userid = ? AND url = ? "
                  "LIMIT 1",
                  {shouwen_id, uid, shouwen_id, uid, shouwen_id, uid,
                   std::string(workflow::kInstructionItem.url)})
              .empty();
}

std::string attachment_disposition(std::string_view name, std::string_view fallback) {
  std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  std::string clean;
  for (unsigned char c : name)
    if (c >= 0x20 && c != 0x7F && c != '"' && c != '\\' && c != ';') clean += static_cast<char>(c);
  clean = text::trim(clean);
  if (clean.empty()) clean = std::string(fallback);
  // The site's code page for browsers that read the plain parameter in it;
  // a character that does not convert becomes '?', never a delimiter.
  return "attachment;filename=" + text::to_gb18030(clean) + ";filename*=UTF-8''" +
         text::url_encode(clean);
}

// ---- Downloads ------------------------------------------------------------

void LoadTemple::main(db::Connection& conn) {
  std::optional<std::int64_t> id = whole_number(request()("id"));
  if (!id) throw Error(Errc::bad_request, "模板编号不正确。");
  db::Result rows = conn.query("SELECT filedata, filename FROM temple WHERE id = ?", {*id});
  if (rows.empty()) throw Error(Errc::not_found, "该模板不存在。");
  send_file(response(), rows.front()["filedata"].bytes(), "attachment;filename=temp.doc",
            kDownloadType, true);
  ctx().close_connection();
}

void LoadHg::main(db::Connection& conn) {
  std::optional<std::int64_t> id = linked_document(ctx(), "fawenid");
  db::Result rows;
  if (id) rows = conn.query("SELECT filedata, documentname FROM fawen WHERE id = ?", {*id});
  if (rows.empty()) throw Error(Errc::not_found, "所要下载的公文不存在。");
  if (!may_read_fawen(conn, *id, session())) throw Error(Errc::forbidden, "您无权查看该公文。");
  const db::Row& row = rows.front();
  send_file(response(), row["filedata"].bytes(),
            attachment_disposition(row.text("documentname"), "document.doc"), kDownloadType, true);
  ctx().close_connection();
}

namespace {

// The row that `sql` selects for the id held in Session `key`, read with
// errors trapped: when the key names no row (or the row lacks `needed`), the
// browser is sent to "error.asp" and the page ends there.
std::pair<std::int64_t, db::Row> session_row_or_error_page(asp::ScriptingContext& ctx,
                                                           db::Connection& conn,
                                                           std::string_view key,
                                                           std::string_view sql,
                                                           std::string_view needed) {
  std::optional<std::int64_t> id = linked_document(ctx, key);
  std::optional<db::Row> row;
  try {
    if (id) {
      db::Result rows = conn.query(sql, {*id});
      if (!rows.empty() && !rows.front()[needed].is_null()) row = rows.front();
    }
  } catch (const Error&) {
    row.reset();
  }
  if (!row) {
    ctx.close_connection();
    ctx.response().Redirect("error.asp");
    ctx.response().End();
  }
  return {*id, *row};
}

}  // namespace

void LoadPso::main(db::Connection& conn) {
  auto [id, row] = session_row_or_error_page(
      ctx(), conn, "fawenid", "SELECT psodata, psotype, fujianname FROM fawen WHERE id = ?",
      "psodata");
  if (!may_read_fawen(conn, id, session())) throw Error(Errc::forbidden, "您无权查看该公文。");
  send_file(response(), row["psodata"].bytes(),
            attachment_disposition(row.text("fujianname"), "attachment"), kDownloadType, true);
  ctx().close_connection();
}

void SwLoad::main(db::Connection& conn) {
  auto [id, row] = session_row_or_error_page(
      ctx(), conn, "shouwenid",
      "SELECT 1 AS found, filedata, filetype, documentname FROM shouwen WHERE id = ?", "found");
  if (!may_read_shouwen(conn, id, session())) throw Error(Errc::forbidden, "您无权查看该收文。");
  send_file(response(), row["filedata"].bytes(),
            attachment_disposition(row.text("documentname"), "document.doc"), kDownloadType, true);
  ctx().close_connection();
}

void LoadSignature::main(db::Connection& conn) {
  db::Result rows = conn.query(
      "SELECT signature FROM userlist WHERE uid = ? AND signature IS NOT NULL ORDER BY id LIMIT 1",
      {session().get("uid")});
  if (rows.empty()) throw Error(Errc::not_found, "您还没有上传签名图片。");
  send_file(response(), rows.front()["signature"].bytes(), "attachment;filename=signature.jpg",
            kDownloadType, true);
  ctx().close_connection();
}

namespace {

// The signature picture of the user row a request `id` names; nullopt when
// `id` is empty. A signature is read only by its owner and administrators:
// anyone else could forge the owner's stamp with it. Error(bad_request) for
// a non-number, Error(forbidden) for another user's picture,
// Error(not_found) when the row or its picture is missing.
std::optional<std::string> signature_by_row(db::Connection& conn, const std::string& given,
                                            const asp::Session& session) {
  if (given.empty()) return std::nullopt;
  std::optional<std::int64_t> id = whole_number(given);
  if (!id) throw Error(Errc::bad_request, "用户编号不正确。");
  db::Result rows = conn.query(
      "SELECT uid, signature FROM userlist WHERE id = ? AND signature IS NOT NULL", {*id});
  if (rows.empty()) throw Error(Errc::not_found, "该用户没有签名图片。");
  if (!is_admin(session) && rows.front().text("uid") != session.get("uid"))
    throw Error(Errc::forbidden, "只有本人和系统管理员可以查看签名图片。");
  return rows.front()["signature"].bytes();
}

// JPEG files begin with a start-of-image marker followed by another marker.
bool is_jpeg(std::string_view bytes) {
  return bytes.size() >= 3 && bytes.substr(0, 3) == std::string_view("\xFF\xD8\xFF", 3);
}

}  // namespace

void ShowBig::main(db::Connection& conn) {
  std::optional<std::string> picture = signature_by_row(conn, request()("id"), session());
  if (!picture) return;
  send_file(response(), *picture, "attachment;filename=sign.jpg", "image/JPEG", true);
  ctx().close_connection();
}

void ShowSign::main(db::Connection& conn) {
  std::optional<std::string> picture = signature_by_row(conn, request()("id"), session());
  if (!picture) return;
  // The bytes go out under a page type; as a page they get a unique origin
  // and may neither run script nor load anything.
  response().AddHeader("Content-Security-Policy", "sandbox; default-src 'none'");
  send_file(response(), *picture, "", "text/html", false);
  ctx().close_connection();
}

// ---- Uploads --------------------------------------------------------------

namespace {

// The row this session uploaded under `upload_key` while Session `key` still
// names it and `open_sql` finds it not yet completed; 0 otherwise. A second
// upload before the form is saved replaces that row's body.
std::int64_t own_open_upload(db::Connection& conn, const asp::Session& s, std::string_view key,
                             std::string_view upload_key, const std::string& open_sql) {
  const std::string id = s.get(key);
  if (id.empty() || id != s.get(upload_key)) return 0;
  std::int64_t n = text::parse_id(id);
  return n != 0 && !conn.query(open_sql, {n}).empty() ? n : 0;
}

}  // namespace

void SaveDoc::main(db::Connection& conn) {
  std::string body = read_upload(request(), session(), ctx().config());
  if (!body.empty()) {
    const DateTime t = now();
    db::Transaction tx(conn);
    std::int64_t id = own_open_upload(conn, session(), "fawenid", kFawenUploadKey,
                                      "SELECT 1 FROM fawen WHERE id = ? AND writeid = ''");
    if (id != 0)
      conn.exec("UPDATE fawen SET filedata = ?, filetype = 'doc', uploadtime = ? WHERE id = ?",
                {db::Blob{std::move(body)}, t.iso(), id});
    else
      id = conn.insert("INSERT INTO fawen (filetype, filedata, uploadtime) VALUES (?, ?, ?)",
                       {"doc", db::Blob{std::move(body)}, t.iso()});
    tx.commit();
    workflow::sweep_uploads(conn, t);
    session().set("fawenid", std::to_string(id));
    session().set(kFawenUploadKey, std::to_string(id));
  }
  ctx().close_connection();
}

void SwPso::main(db::Connection& conn) {
  std::string body = read_upload(request(), session(), ctx().config());
  if (!body.empty()) {
    const DateTime t = now();
    db::Transaction tx(conn);
    std::int64_t id = own_open_upload(conn, session(), "shouwenid", kShouwenUploadKey,
                                      "SELECT 1 FROM shouwen WHERE id = ? AND draftime IS NULL");
    if (id != 0)
      conn.exec("UPDATE shouwen SET filedata = ?, uploadtime = ? WHERE id = ?",
                {db::Blob{std::move(body)}, t.iso(), id});
    else
      id = conn.insert("INSERT INTO shouwen (filedata, uploadtime) VALUES (?, ?)",
                       {db::Blob{std::move(body)}, t.iso()});
    tx.commit();
    workflow::sweep_uploads(conn, t);
    session().set("shouwenid", std::to_string(id));
    session().set(kShouwenUploadKey, std::to_string(id));
  }
  ctx().close_connection();
}

void UpSign::main(db::Connection& conn) {
  std::string body = read_upload(request(), session(), ctx().config());
  if (!body.empty()) {
    const std::string owner = session().get("signid");
    if (owner.empty()) throw Error(Errc::not_found, "请从个人签名页面上传签名图片。");
    if (owner != session().get("uid") && !is_admin(session()))
      throw Error(Errc::forbidden, "只有系统管理员可以设置其他用户的签名图片。");
    // The page asks for a JPEG; the name a browser gives proves nothing.
    if (!is_jpeg(body)) throw Error(Errc::bad_request, "签名图片必须是 JPEG 格式的图片。");
    db::ExecResult done = conn.exec("UPDATE userlist SET signature = ? WHERE uid = ?",
                                    {db::Blob{std::move(body)}, owner});
    if (done.changes == 0) throw Error(Errc::not_found, "没有这个用户：" + owner);
  }
  ctx().close_connection();
}

// ---- Templates ------------------------------------------------------------

void SaveTemple::main(db::Connection& conn) {
  const std::string title = request()("title");
  if (title.empty()) return;
  std::optional<std::int64_t> id = whole_number(session().get("templeid"));
  if (!id) throw Error(Errc::not_found, "请先上传模板文件。");
  db::ExecResult done =
      conn.exec("UPDATE temple SET wtime = ?, ipaddress = ?, filename = ?, userid = ? WHERE id = ?",
                {now().iso(), remote_addr(), title, session().get("uid"), *id});
  if (done.changes == 0) throw Error(Errc::not_found, "该模板不存在。");
  ctx().close_connection();
  response().Redirect("templelist.asp");
  response().End();
}

void TempleSet::main(db::Connection& conn) {
  const std::string given = request()("id");
  if (given.empty()) return;
  std::optional<std::int64_t> id = whole_number(given);
  if (!id) throw Error(Errc::bad_request, "模板编号不正确。");
  {
    db::Transaction tx(conn);
    conn.exec("UPDATE temple SET fileindex = 0 WHERE fileindex <> 0");
    if (conn.exec("UPDATE temple SET fileindex = 1 WHERE id = ?", {*id}).changes == 0)
      throw Error(Errc::not_found, "该模板不存在。");
    tx.commit();
  }
  ctx().close_connection();
  response().Redirect("templelist.asp");
  response().End();
}

}  // namespace desk::files
