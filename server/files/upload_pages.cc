#include "server/files/upload_pages.h"

#include <filesystem>
#include <string>
#include <vector>

#include "core/text.h"
#include "server/files/documents.h"
#include "server/files/file_answer.h"
#include "server/files/storage.h"
#include "server/files/upload.h"
#include "server/host/kit.h"

namespace desk::files {
namespace {

namespace fs = std::filesystem;

// Longest client file name kept, in characters.
constexpr std::size_t kNameChars = 120;

// The refusal or failure that an error code of the upload component stands for.
Error upload_error(const Upload& up) {
  switch (up.isErr()) {
    case Upload::kTooLarge:
      return Error(Errc::too_large, up.ErrMessage());
    case Upload::kExtRefused:
      return Error(Errc::unsupported, up.ErrMessage());
    case Upload::kNoData:
    case Upload::kMalformed:
    case Upload::kNoSuchFile:
      return Error(Errc::bad_request, up.ErrMessage());
    default:
      return Error(Errc::io, up.ErrMessage());
  }
}

// "upload.asp": see upload_pages.h.
void upload_page(asp::ScriptingContext& ctx) {
  if (!ctx.request().is_post()) return host::plain_answer(ctx, 405, "请用 POST 上传文件。");
  auto up = ctx.server().CreateObject<Upload>("deskserver.upload");
  up->NoAllowExt(kRefusedUploadExt);
  up->GetData(static_cast<long long>(asp::upload_ceiling(ctx.session(), ctx.config())));
  if (up->isErr()) throw upload_error(*up);

  const fs::path folder = ctx.app().root / kUploadStore;
  fs::create_directories(folder);
  auto& conn = ctx.conn();
  const std::string uid = host::current_user(ctx).uid;
  std::vector<std::string> stored;
  std::string answer;
  try {
    db::Transaction tx(conn);
    for (const FileInfo_Class& f : *up->File()) {
      std::string path = std::string(kUploadStore) + "/";
      const std::string name = up->AutoSave(f.FormName, path);
      if (up->isErr()) throw upload_error(*up);
      stored.push_back(name);
      conn.exec(
          "INSERT INTO upfile (filename, origname, filesize, uid, savedate, ipaddress) "
          "VALUES (?, ?, ?, ?, ?, ?)",
          {name, text::char_prefix(f.FileName, kNameChars), static_cast<long long>(f.filesize), uid,
           ctx.now().iso(), ctx.request().ServerVariables("remote_addr")});
      answer += f.FormName + " " + name + " " + std::to_string(f.filesize) + "\r\n";
    }
    tx.commit();
  } catch (...) {
    std::error_code ec;
    for (const std::string& name : stored) fs::remove(folder / name, ec);
    throw;
  }
  host::plain_answer(ctx, 200, answer);
}

// "upfile.asp?name=": see upload_pages.h.
void upfile_page(asp::ScriptingContext& ctx) {
  const std::string name = ctx.request().QueryString("name");
  db::Result rows;
  if (!name.empty() && name.find_first_of("/\\") == std::string::npos && name[0] != '.')
    rows = ctx.conn().query("SELECT origname FROM upfile WHERE filename = ? AND uid = ?",
                            {name, host::current_user(ctx).uid});
  if (rows.empty()) throw Error(Errc::not_found, "该文件不存在，或者不是您上传的。");
  send_stored_file(ctx, ctx.app().root / kUploadStore / name, "application/octet-stream",
                   attachment_disposition(rows.front().text("origname"), name));
}

}  // namespace

void register_upload_pages(asp::Registry& r) {
  using host::Answer;
  host::add_page(r, "upload.asp", upload_page,
                 {.answer = Answer::plain, .once = true, .upload = true, .pooled = true});
  host::add_page(r, "upfile.asp", upfile_page, {.title = "上传文件"});
}

}  // namespace desk::files
