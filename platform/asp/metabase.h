// The metabase: the web site the host serves (where it listens and its
// virtual directories), kept as one JSON file:
//
//   {"host": "0.0.0.0", "port": 80,
//    "vdirs": [{"name": "tarvo", "path": "/srv/tarvo",
//               "default_documents": "Default.asp,index.asp,index.htm",
//               "access_flags": 535, "app_root": "/LM/W3SVC/1/Root/tarvo",
//               "app_friendly_name": "tarvo", "app_isolated": 0}]}
//
// "host" and "port" are optional; a plain JSON array of directories is read
// too, and so is the older "access": {"read", "script", "write"} object with
// "in_process" in place of "access_flags" and "app_isolated".
//
// Writers go through MetabaseRoot and MetabaseDir (the site's administration
// objects) or save_metabase. Every write takes an exclusive lock on FILE.lock,
// re-reads the file, applies its own change and replaces the file by renaming
// a complete temporary file over it: concurrent writers never lose each
// other's entries, and a reader sees the old file or the new one, never a
// part of either.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/error.h"

namespace desk::asp {

// Bits of a directory's access flags.
inline constexpr long long kAccessRead = 1;
inline constexpr long long kAccessWrite = 2;
inline constexpr long long kAccessExecute = 4;
inline constexpr long long kAccessSource = 16;
inline constexpr long long kAccessScript = 512;

// One virtual directory as the host serves it.
struct VirtualDir {
  std::string name;            // "tarvo"
  std::filesystem::path path;  // the application folder; empty: not set yet, not served
  std::vector<std::string> default_documents = {"Default.asp", "index.asp", "index.htm",
                                                "default.htm"};
  bool read = true;    // static files may be read
  bool script = true;  // hosting pages may run
  // Recorded, never granted: the host takes no writes through plain HTTP
  // verbs and never sends a page's source.
  bool write = false;
  bool in_process = true;
};

// Where the site listens, when the metabase says so (empty, 0: not given).
struct SiteBinding {
  std::string host;
  unsigned short port = 0;
};

struct MetabaseContents {
  SiteBinding binding;
  std::vector<VirtualDir> dirs;
};

// Reads the metabase. A missing file is an empty site. Throws Error(config)
// when the file is not a metabase.
MetabaseContents read_metabase(const std::filesystem::path& file);
// The virtual directories of read_metabase.
std::vector<VirtualDir> load_metabase(const std::filesystem::path& file);
// Replaces the list of directories; the rest of the file is kept.
void save_metabase(const std::filesystem::path& file, const std::vector<VirtualDir>& dirs);

// A failure of the administration objects: a number (an HRESULT as a signed
// decimal, the way administrators see it) and a description.
class MetabaseError : public Error {
 public:
  MetabaseError(long number, const std::string& description);
  long number() const noexcept { return number_; }

 private:
  long number_;
};

// The virtual directory exists already.
inline constexpr long kMetabaseExists = -2147024713;  // 0x800700B7
// No such virtual directory.
inline constexpr long kMetabaseNotFound = -2147024893;  // 0x80070003
// A property (or object class) the metabase does not have, or a value of the wrong kind.
inline constexpr long kMetabaseBadProperty = -2147463155;  // 0x8000500D
// The metabase file cannot be read, locked or written.
inline constexpr long kMetabaseUnreachable = -2147467259;  // 0x80004005

// The class of a virtual directory object.
inline constexpr std::string_view kVirtualDirClass = "IIsWebVirtualDir";
// The path of the site's root in application root paths.
inline constexpr std::string_view kSiteRootPath = "/LM/W3SVC/1/Root";

// A property value: text or a whole number.
using MetabaseValue = std::variant<std::string, long long>;

// One virtual directory object. Changes (AppCreate, Put) are held by the
// object until SetInfo writes them. Every method throws MetabaseError.
class MetabaseDir {
 public:
  const std::string& name() const { return name_; }
  // Makes the directory an application: its root path is the site's root
  // path plus its name; in the host's process when `in_process`.
  void AppCreate(bool in_process);
  // Properties: "Path", "DefaultDoc", "AppRoot", "AppFriendlyName" (text),
  // "AccessFlags", "AppIsolated" (numbers).
  void Put(std::string_view property, MetabaseValue value);
  // The property as last written or put; kMetabaseNotFound when it has none.
  MetabaseValue Get(std::string_view property) const;
  // Writes the object: a created object becomes a directory of the site
  // (kMetabaseExists when the name, compared without case, is taken), then
  // the changes held are stored in the order they were made.
  void SetInfo();

 private:
  friend class MetabaseRoot;
  MetabaseDir(std::filesystem::path file, std::string name, bool created,
              nlohmann::ordered_json stored);

  std::filesystem::path file_;
  std::string name_;
  bool created_;                   // not written yet
  nlohmann::ordered_json stored_;  // the entry as last read or written, with the changes held
  std::vector<std::pair<std::string, nlohmann::ordered_json>> held_;  // file key, value
};

// The root of the site's virtual directories, kept in one metabase file.
class MetabaseRoot {
 public:
  explicit MetabaseRoot(std::filesystem::path file) : file_(std::move(file)) {}
  const std::filesystem::path& file() const { return file_; }
  // A new directory object; it exists once its SetInfo succeeds.
  MetabaseDir Create(std::string_view object_class, std::string_view name);
  // The stored directory of that name (compared without case).
  MetabaseDir GetObject(std::string_view object_class, std::string_view name);

 private:
  std::filesystem::path file_;
};

}  // namespace desk::asp
