#include "server/files/media.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "core/text.h"

namespace desk::files {
namespace {

namespace fs = std::filesystem;

// Longest title and description kept, in characters.
constexpr std::size_t kTitleChars = 100;
constexpr std::size_t kContentChars = 2000;

constexpr MediaKindInfo kKinds[] = {
    {MediaKind::music, "mp3", kMusicFolder, "mp3", "mp3id", "音乐"},
    {MediaKind::video, "dv", kVideoFolder, "wmv", "dvid", "视频"},
    {MediaKind::picture, "pic", kPictureFolder, "jpg", "", "相册"},
};

std::string random_suffix() {
  thread_local std::mt19937_64 engine(std::random_device{}());
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(engine()));
  return buf;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes `bytes` to a new hidden file in `folder` (created when missing) and
// returns its path. Error(io), with nothing left behind, when it cannot.
fs::path write_temporary(const fs::path& folder, std::string_view bytes) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path tmp = folder / (".upload-" + random_suffix() + ".tmp");
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      break;
    }
    const bool ok = write_all(fd, bytes) && ::fsync(fd) == 0;
    if (::close(fd) == 0 && ok) return tmp;
    fs::remove(tmp, ec);
    break;
  }
  throw Error(Errc::io, "cannot write a file into " + folder.string());
}

// The body of a save page: Error(too_large) over the ceiling,
// Error(bad_request) when empty.
std::string_view upload_body(asp::ScriptingContext& ctx) {
  const std::string& body = ctx.request().body();
  if (body.size() > asp::upload_ceiling(ctx.session(), ctx.config()))
    throw Error(Errc::too_large, "上传的数据超出限制大小");
  if (body.empty()) throw Error(Errc::bad_request, "没有数据上传");
  return body;
}

// Stores `bytes` as the next record of `table` (largest id plus one): the
// file takes its final name and `insert(id)` adds the record inside one
// write transaction. Returns the id; on any failure neither the file nor the
// record remains.
std::int64_t store_next(db::Connection& conn, const fs::path& root, MediaKind kind,
                        std::string_view table, std::string_view bytes,
                        const std::function<void(std::int64_t)>& insert) {
  const fs::path tmp = write_temporary(root / kind_info(kind).folder, bytes);
  std::error_code ec;
  try {
    db::Transaction tx(conn);
    const std::int64_t id =
        conn.query("SELECT COALESCE(MAX(id), 0) + 1 AS next FROM " + std::string(table))
            .front()
            .integer("next");
    const fs::path target = media_file(root, kind, id);
    // A file of that name belongs to no record (a record would hold the id):
    // it is replaced.
    fs::rename(tmp, target, ec);
    if (ec) throw Error(Errc::io, "cannot store " + target.string() + ": " + ec.message());
    try {
      insert(id);
      tx.commit();
    } catch (...) {
      fs::remove(target, ec);
      throw;
    }
    return id;
  } catch (...) {
    fs::remove(tmp, ec);
    throw;
  }
}

std::string typed_title(const asp::Request& req) {
  return text::char_prefix(text::trim(req("title")), kTitleChars);
}

std::string typed_content(const asp::Request& req) {
  return text::char_prefix(req("content"), kContentChars);
}

}  // namespace

const MediaKindInfo& kind_info(MediaKind kind) {
  for (const MediaKindInfo& k : kKinds)
    if (k.kind == kind) return k;
  return kKinds[0];
}

const MediaKindInfo* kind_of_type(std::string_view type) {
  for (const MediaKindInfo& k : kKinds)
    if (k.type == type) return &k;
  return nullptr;
}

fs::path media_file(const fs::path& root, MediaKind kind, std::int64_t id) {
  const MediaKindInfo& k = kind_info(kind);
  return root / k.folder / (std::to_string(id) + "." + std::string(k.ext));
}

std::string visibility_flag(std::string_view posted) {
  return text::trim(posted) == "1" ? "1" : "0";
}

db::Result visible_item(db::Connection& conn, std::int64_t id, std::string_view uid) {
  return conn.query(
      "SELECT type, format, title, uid FROM share WHERE id = ? AND (isshare = '1' OR uid = ?)",
      {id, uid});
}

db::Result visible_picture(db::Connection& conn, std::int64_t id, std::string_view uid) {
  return conn.query(
      "SELECT p.format, p.shareid FROM sharepic p WHERE p.id = ? AND (p.uid = ? OR EXISTS "
      "(SELECT 1 FROM share s WHERE s.type = 'pic' AND CAST(s.id AS TEXT) = p.shareid "
      "AND (s.isshare = '1' OR s.uid = ?)))",
      {id, uid, uid});
}

bool delete_item(db::Connection& conn, const fs::path& root, std::int64_t id,
                 std::string_view uid) {
  db::Transaction tx(conn);
  db::Result item = conn.query("SELECT type FROM share WHERE id = ? AND uid = ?", {id, uid});
  if (item.empty()) return false;
  const MediaKindInfo* kind = kind_of_type(item.front().text("type"));
  std::vector<fs::path> files;
  if (kind && kind->kind == MediaKind::picture) {
    for (const db::Row& p :
         conn.query("SELECT id FROM sharepic WHERE shareid = ?", {std::to_string(id)}))
      files.push_back(media_file(root, MediaKind::picture, p.integer("id")));
  } else if (kind) {
    files.push_back(media_file(root, kind->kind, id));
  }
  // Moved aside first, so a failed transaction can put every file back.
  std::vector<std::pair<fs::path, fs::path>> aside;
  std::error_code ec;
  auto put_back = [&] {
    for (const auto& [from, to] : aside) fs::rename(to, from, ec);
  };
  try {
    for (const fs::path& f : files) {
      if (!fs::exists(f, ec)) continue;
      fs::path hidden = f.parent_path() / (".delete-" + random_suffix() + ".tmp");
      fs::rename(f, hidden, ec);
      if (ec) throw Error(Errc::io, "cannot remove " + f.string() + ": " + ec.message());
      aside.emplace_back(f, hidden);
    }
    conn.exec("DELETE FROM sharepic WHERE shareid = ?", {std::to_string(id)});
    conn.exec("DELETE FROM share WHERE id = ?", {id});
    tx.commit();
  } catch (...) {
    put_back();
    throw;
  }
  for (const auto& [from, to] : aside) fs::remove(to, ec);
  return true;
}

// ---- Components -------------------------------------------------------------

void SaveMedia::main(db::Connection& conn) {
  const MediaKindInfo& k = kind_info(kind_);
  std::string_view body = upload_body(ctx());
  const MediaFormat* format = recognise(kind_, body);
  if (!format)
    throw Error(Errc::bad_request,
                kind_ == MediaKind::music
                    ? "上传的文件不是可以识别的音乐文件（MP3、WAV、OGG、FLAC、M4A、WMA）。"
                    : "上传的文件不是可以识别的视频文件（MP4、WebM、OGG、MOV、MKV、WMV、AVI、"
                      "MPEG、FLV）。");
  const db::Params values{now().iso(),
                          remote_addr(),
                          std::string(k.type),
                          session().get("uid"),
                          session().get("username"),
                          std::string(format->name),
                          static_cast<long long>(body.size())};
  id_ = store_next(conn, ctx().app().root, kind_, "share", body, [&](std::int64_t id) {
    db::Params p{id};
    p.insert(p.end(), values.begin(), values.end());
    conn.exec(
        "INSERT INTO share (id, savedate, ipaddress, type, uid, username, format, filesize) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
        p);
  });
  session().set(k.session_key, std::to_string(id_));
}

void SavePic::main(db::Connection& conn) {
  std::string_view body = upload_body(ctx());
  const MediaFormat* format = recognise(MediaKind::picture, body);
  if (!format)
    throw Error(Errc::bad_request, "上传的文件不是可以识别的图片（JPEG、PNG、GIF、WebP）。");
  const db::Params values{std::to_string(session().SessionID()), session().get("uid"),
                          std::string(format->name), static_cast<long long>(body.size()),
                          now().iso()};
  id_ = store_next(conn, ctx().app().root, MediaKind::picture, "sharepic", body,
                   [&](std::int64_t id) {
                     db::Params p{id};
                     p.insert(p.end(), values.begin(), values.end());
                     conn.exec(
                         "INSERT INTO sharepic (id, shareid, uid, format, filesize, savedate) "
                         "VALUES (?, ?, ?, ?, ?, ?)",
                         p);
                   });
}

void ShareMedia::main(db::Connection& conn) {
  const MediaKindInfo& k = kind_info(kind_);
  const std::int64_t id = text::parse_id(session().get(k.session_key));
  if (id == 0) return;
  db::ExecResult done = conn.exec(
      "UPDATE share SET title = ?, content = ?, isshare = ? WHERE id = ? AND type = ? AND uid = ?",
      {typed_title(request()), typed_content(request()), visibility_flag(request()("isshare")), id,
       std::string(k.type), session().get("uid")});
  if (done.changes > 0) id_ = id;
}

void SharePic::main(db::Connection& conn) {
  const std::string uid = session().get("uid");
  const std::string waiting = std::to_string(session().SessionID());
  db::Transaction tx(conn);
  if (conn.query("SELECT 1 FROM sharepic WHERE shareid = ? AND uid = ? LIMIT 1", {waiting, uid})
          .empty())
    throw Error(Errc::bad_request, "请先上传图片，再保存相册。");
  const std::int64_t id =
      conn.query("SELECT COALESCE(MAX(id), 0) + 1 AS next FROM share").front().integer("next");
  conn.exec(
      "INSERT INTO share (id, title, content, isshare, savedate, ipaddress, type, uid, username, "
      "format, filesize) VALUES (?, ?, ?, ?, ?, ?, 'pic', ?, ?, '', "
      "(SELECT COALESCE(SUM(filesize), 0) FROM sharepic WHERE shareid = ? AND uid = ?))",
      {id, typed_title(request()), typed_content(request()), visibility_flag(request()("isshare")),
       now().iso(), remote_addr(), uid, session().get("username"), waiting, uid});
  conn.exec("UPDATE sharepic SET shareid = ? WHERE shareid = ? AND uid = ?",
            {std::to_string(id), waiting, uid});
  tx.commit();
  id_ = id;
}

}  // namespace desk::files
