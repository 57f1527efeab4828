// `upload`: receives files posted as multipart/form-data, the format of the
// document control's multi-file upload and of a browser form with file
// inputs. The body is parsed once by the platform parser (the Request keeps
// the parts as offsets into the body it holds); this component lists the
// file parts and writes them to disk or hands their bytes to the page.
//
// A hosting page that uses it:
//
//   registry.add_page({"myupload.asp", handler, asp::Access::login, /*upload=*/true});
//
//   auto up = ctx.server().CreateObject<files::Upload>("deskserver.upload");
//   up->AllowExt("doc;xls");                 // or NoAllowExt("exe;asp")
//   up->GetData(upload_limit);               // e.g. asp::upload_ceiling(...)
//   if (up->isErr()) ... up->ErrMessage() ...
//   for (const files::FileInfo_Class& f : *up->File()) {
//     std::string folder = ctx.server().MapPath("upfiles").string() + "/";
//     std::string name = up->AutoSave(f.FormName, folder);
//     if (up->isErr()) ...
//   }
//
// `upload = true` on the page lets bodies up to the session's MaxSize in
// (larger ones are refused with 413 before they are read). The posted
// fields that are not files (the control's "filenum" and its named values, a
// form's hidden token) are read as usual with Request::Form.
//
// Failures never throw; they set isErr and ErrMessage:
//   1 "没有数据上传"                 GetData: empty body
//   2 "上传的数据超出限制大小"       GetData: body over MaxSize (nothing is read)
//   3 "该后缀名的文件不允许上传!"    save or filedata: extension refused
//   4 "上传的数据格式不正确"         GetData: malformed body; no file is listed
//   5 "不允许保存到该位置"           save: target outside the application folder
//   6 "文件保存失败"                 save: the file could not be written
//   7 "没有该上传文件"               save or filedata: no file part of that name
// Saves and filedata reset the code to 0 first; the message keeps its text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/asp/asp.h"

namespace desk::files {

// One file part of the posted body.
struct FileInfo_Class {
  std::string FormName;         // the part's form field name
  std::string FileName;         // the client's file name without its folder
  std::string FilePath;         // the client's folder with its trailing separator, or ""
  std::uint64_t filesize = 0;   // data bytes
  std::string FileMIME;         // the part's Content-Type value
  std::uint64_t FileStart = 0;  // offset of the first data byte in the request body
  std::string FileExt;          // extension of FileName, lowercased; "" when it has none
};

// The file parts by form field name, compared case-insensitively; in body
// order. Of two parts with one name the first is kept.
class FileTable {
 public:
  FileInfo_Class* find(std::string_view form_name);
  std::size_t Count() const { return items_.size(); }
  std::vector<FileInfo_Class>::iterator begin() { return items_.begin(); }
  std::vector<FileInfo_Class>::iterator end() { return items_.end(); }
  // False (and nothing added) when the name is taken.
  bool add(FileInfo_Class info);

 private:
  std::vector<FileInfo_Class> items_;
};

class Upload : public asp::PageComponent {
 public:
  enum Code : int {
    kNone = 0,
    kNoData = 1,
    kTooLarge = 2,
    kExtRefused = 3,
    kMalformed = 4,
    kPlaceRefused = 5,
    kWriteFailed = 6,
    kNoSuchFile = 7,
  };

  int isErr() const { return err_; }
  const std::string& ErrMessage() const { return message_; }
  // Extension lists without full stops, separated by ";"; stored lowercased.
  // A non-empty deny list is the only rule; otherwise an extension must be
  // on the allow list. With both empty only files without extension pass.
  const std::string& AllowExt() const { return allow_; }
  void AllowExt(std::string_view list);
  const std::string& NoAllowExt() const { return deny_; }
  void NoAllowExt(std::string_view list);

  // Reads and parses the body once; later calls do nothing. MaxSize is a
  // byte ceiling, 0 or less for none; a body of exactly MaxSize is taken.
  void GetData(long long MaxSize);

  // nullptr until GetData has parsed a body.
  FileTable* File() { return parsed_ ? &files_ : nullptr; }
  // The file part posted under `Item`, or nullptr.
  FileInfo_Class* File(std::string_view Item);

  // Writes file part `Item` to `Path` (a path in the application folder,
  // absolute or relative to it), replacing an existing file. The extension
  // check applies to the target's name. Returns the name written, "" on
  // refusal. Trailing full stops and blanks of the name are dropped.
  std::string SaveToFile(std::string_view Item, std::string_view Path);
  // Writes file part `Item` into the folder of `Path` under a new name
  // (GetNewFileName + "." + FileExt) that no other file has, also against
  // concurrent requests. `Path` becomes its folder part. Returns the new
  // name, "" on refusal.
  std::string AutoSave(std::string_view Item, std::string& Path);
  // The file's bytes, a view into the request body valid for the page; ""
  // on refusal.
  std::string_view filedata(std::string_view Item);

  // Path splitting; "/" and "\" both separate folders.
  // Up to and including the last separator; "" when there is none.
  static std::string GetFilePath(std::string_view FullPath);
  // After the last separator; the whole text when there is none.
  static std::string GetFileName(std::string_view FullPath);
  // After the last full stop, lowercased; the whole text lowercased when
  // there is no full stop.
  static std::string GetFileExt(std::string_view FullPath);
  // Date and time of the page's clock (yyyymmddhhmmss) and a random number
  // of 10000-99999: 19 characters.
  std::string GetNewFileName();
  // Whether files with extension `Ext` may be kept. Case, trailing full
  // stops and blanks make no difference; an extension that is not a plain
  // word (ASCII letters, digits, "_" and "-", at most 16) never passes.
  bool isAllowExt(std::string_view Ext) const;
  static std::string version() { return "TARVO-Upload"; }

  // Why GetData refused the body (code 4).
  multipart::Fault fault() const { return fault_; }
  // Source of the random part of GetNewFileName (taken modulo 90000, plus
  // 10000); a per-thread generator unless set.
  std::function<std::uint32_t()> random_source;

 private:
  enum class Mode { exact, generated };
  void set_error(Code code);
  // The extension check of a file name: its extension passes isAllowExt,
  // and with a deny list no inner extension ("x.asp.jpg") is denied.
  bool name_allowed(std::string_view name, std::string_view ext) const;
  std::string save(std::string_view item, std::string_view path, Mode mode);

  int err_ = kNone;
  std::string message_;
  std::string allow_, deny_;
  bool parsed_ = false;
  FileTable files_;
  multipart::Fault fault_ = multipart::Fault::none;
};

// Registers `upload` ("deskserver.upload").
void register_upload(asp::Registry& registry);

}  // namespace desk::files
