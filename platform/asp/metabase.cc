#include "platform/asp/metabase.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/text.h"

namespace desk::asp {

namespace fs = std::filesystem;
// Keys keep the order they were written in.
using json = nlohmann::ordered_json;

namespace {

// A directory entry as the host serves it.
VirtualDir dir_of(const json& j) {
  VirtualDir d;
  try {
    d.name = j.at("name").get<std::string>();
    if (j.contains("path")) d.path = j["path"].get<std::string>();
    if (j.contains("default_documents")) {
      d.default_documents.clear();
      for (const auto& s : text::split(j["default_documents"].get<std::string>(), ','))
        if (!text::trim(s).empty()) d.default_documents.push_back(text::trim(s));
    }
    if (j.contains("access_flags")) {
      auto flags = j["access_flags"].get<long long>();
      d.read = flags & kAccessRead;
      d.script = flags & (kAccessScript | kAccessExecute);
      d.write = flags & kAccessWrite;
    } else if (j.contains("access")) {
      const auto& a = j["access"];
      d.read = a.value("read", d.read);
      d.script = a.value("script", d.script);
      d.write = a.value("write", d.write);
    }
    if (j.contains("app_isolated"))
      d.in_process = j["app_isolated"].get<long long>() == 0;
    else
      d.in_process = j.value("in_process", d.in_process);
  } catch (const json::exception& e) {
    throw Error(Errc::config, std::string("metabase entry: ") + e.what());
  }
  return d;
}

// The file as a JSON object with a "vdirs" array. A missing file is an
// empty site; throws Error(config) for anything that is not a metabase.
json read_document(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (!fs::exists(file, ec) && !ec) return json{{"vdirs", json::array()}};
    throw Error(Errc::config, "cannot read metabase " + file.string());
  }
  json doc;
  try {
    doc = json::parse(in);
  } catch (const std::exception& e) {
    throw Error(Errc::config, "metabase " + file.string() + ": " + e.what());
  }
  if (doc.is_array()) doc = json{{"vdirs", std::move(doc)}};
  if (!doc.is_object() || !doc.value("vdirs", json::array()).is_array())
    throw Error(Errc::config,
                "metabase " + file.string() + ": expected a list of virtual directories");
  if (!doc.contains("vdirs")) doc["vdirs"] = json::array();
  return doc;
}

std::string system_error(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Holds the exclusive lock of the metabase FILE (on FILE.lock, which is never
// replaced, so every writer locks the same file).
class WriteLock {
 public:
  explicit WriteLock(const fs::path& file) {
    std::error_code ec;
    if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
    fs::path lock = file;
    lock += ".lock";
    fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
      throw MetabaseError(kMetabaseUnreachable, system_error("cannot open " + lock.string()));
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      std::string msg = system_error("cannot lock " + lock.string());
      ::close(fd_);
      throw MetabaseError(kMetabaseUnreachable, msg);
    }
  }
  ~WriteLock() { ::close(fd_); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  int fd_ = -1;
};

// The document under the write lock; a damaged file is never overwritten.
json read_for_write(const fs::path& file) {
  try {
    return read_document(file);
  } catch (const Error& e) {
    throw MetabaseError(kMetabaseUnreachable, e.what());
  }
}

// Replaces FILE with `doc`: a complete temporary file in the same folder,
// flushed to disk, renamed over it. Called with the write lock held.
void replace_file(const fs::path& file, const json& doc) {
  const std::string bytes = doc.dump(2) + "\n";
  fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  std::string tmp = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
  int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0)
    throw MetabaseError(kMetabaseUnreachable, system_error("cannot write in " + folder.string()));
  struct stat st {};
  mode_t mode = ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd, mode) == 0;
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  std::string failure = ok ? "" : system_error("cannot write " + tmp);
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(tmp.c_str(), file.c_str()) != 0) {
    failure = system_error("cannot replace " + file.string());
    ok = false;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    throw MetabaseError(kMetabaseUnreachable, failure.empty() ? "cannot write " + tmp : failure);
  }
  // The rename itself reaches the disk with the folder.
  int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

json* entry_named(json& doc, std::string_view name) {
  for (auto& e : doc["vdirs"])
    if (e.is_object() && e.contains("name") && e["name"].is_string() &&
        text::iequals(e["name"].get<std::string>(), name))
      return &e;
  return nullptr;
}

struct Property {
  std::string_view name;  // as the administration objects call it
  std::string_view key;   // in the file
  bool number;
};

constexpr Property kProperties[] = {
    {"Path", "path", false},
    {"DefaultDoc", "default_documents", false},
    {"AppRoot", "app_root", false},
    {"AppFriendlyName", "app_friendly_name", false},
    {"AccessFlags", "access_flags", true},
    {"AppIsolated", "app_isolated", true},
};

const Property& property_named(std::string_view name) {
  for (const auto& p : kProperties)
    if (text::iequals(p.name, name)) return p;
  throw MetabaseError(kMetabaseBadProperty, "the metabase has no property " + std::string(name));
}

void check_class(std::string_view object_class) {
  if (!text::iequals(object_class, kVirtualDirClass))
    throw MetabaseError(kMetabaseBadProperty, "no object class " + std::string(object_class));
}

}  // namespace

MetabaseContents read_metabase(const fs::path& file) {
  json doc = read_document(file);
  MetabaseContents out;
  try {
    out.binding.host = doc.value("host", "");
    long long port = doc.value("port", 0LL);
    if (port < 0 || port > 65535) throw Error(Errc::config, "metabase: bad port");
    out.binding.port = static_cast<unsigned short>(port);
  } catch (const json::exception& e) {
    throw Error(Errc::config, std::string("metabase: ") + e.what());
  }
  for (const auto& j : doc["vdirs"]) out.dirs.push_back(dir_of(j));
  return out;
}

std::vector<VirtualDir> load_metabase(const fs::path& file) {
  return read_metabase(file).dirs;
}

void save_metabase(const fs::path& file, const std::vector<VirtualDir>& dirs) {
  json list = json::array();
  for (const auto& d : dirs) {
    std::string docs;
    for (const auto& s : d.default_documents) docs += (docs.empty() ? "" : ",") + s;
    long long flags =
        (d.read ? kAccessRead : 0) | (d.write ? kAccessWrite : 0) | (d.script ? kAccessScript : 0);
    list.push_back({{"name", d.name},
                    {"path", d.path.string()},
                    {"default_documents", docs},
                    {"access_flags", flags},
                    {"app_isolated", d.in_process ? 0 : 1}});
  }
  try {
    WriteLock lock(file);
    json doc = read_for_write(file);
    doc["vdirs"] = std::move(list);
    replace_file(file, doc);
  } catch (const MetabaseError& e) {
    throw Error(Errc::io, e.what());
  }
}

MetabaseError::MetabaseError(long number, const std::string& description)
    : Error(number == kMetabaseExists     ? Errc::conflict
            : number == kMetabaseNotFound ? Errc::not_found
                                          : Errc::io,
            description),
      number_(number) {}

MetabaseDir::MetabaseDir(fs::path file, std::string name, bool created, json stored)
    : file_(std::move(file)),
      name_(std::move(name)),
      created_(created),
      stored_(std::move(stored)) {}

void MetabaseDir::AppCreate(bool in_process) {
  Put("AppRoot", std::string(kSiteRootPath) + "/" + name_);
  Put("AppIsolated", in_process ? 0LL : 1LL);
}

void MetabaseDir::Put(std::string_view property, MetabaseValue value) {
  const Property& p = property_named(property);
  if (p.number != std::holds_alternative<long long>(value))
    throw MetabaseError(kMetabaseBadProperty, "property " + std::string(p.name) + " takes " +
                                                  (p.number ? "a number" : "text"));
  json v = p.number ? json(std::get<long long>(value)) : json(std::get<std::string>(value));
  stored_[std::string(p.key)] = v;
  held_.emplace_back(std::string(p.key), std::move(v));
}

MetabaseValue MetabaseDir::Get(std::string_view property) const {
  const Property& p = property_named(property);
  auto it = stored_.find(p.key);
  if (it == stored_.end())
    throw MetabaseError(kMetabaseNotFound, "property " + std::string(p.name) + " is not set");
  try {
    if (p.number) return it->get<long long>();
    return it->get<std::string>();
  } catch (const json::exception&) {
    throw MetabaseError(kMetabaseBadProperty, "property " + std::string(p.name) + " is damaged");
  }
}

void MetabaseDir::SetInfo() {
  WriteLock lock(file_);
  json doc = read_for_write(file_);
  json* entry = entry_named(doc, name_);
  if (created_) {
    if (entry)
      throw MetabaseError(kMetabaseExists, "cannot create a file when that file already exists: " +
                                               name_ + " exists in " + file_.string());
    doc["vdirs"].push_back(json{{"name", name_}});
    entry = &doc["vdirs"].back();
  } else if (!entry) {
    throw MetabaseError(kMetabaseNotFound,
                        "no virtual directory " + name_ + " in " + file_.string());
  }
  for (const auto& [key, value] : held_) (*entry)[key] = value;
  replace_file(file_, doc);
  stored_ = *entry;
  held_.clear();
  created_ = false;
}

MetabaseDir MetabaseRoot::Create(std::string_view object_class, std::string_view name) {
  check_class(object_class);
  if (name.empty() || name.find_first_of("/\\") != std::string_view::npos || name == "." ||
      name == "..")
    throw MetabaseError(kMetabaseBadProperty,
                        "bad virtual directory name '" + std::string(name) + "'");
  return MetabaseDir(file_, std::string(name), true, json{{"name", name}});
}

MetabaseDir MetabaseRoot::GetObject(std::string_view object_class, std::string_view name) {
  check_class(object_class);
  json doc = read_for_write(file_);
  json* entry = entry_named(doc, name);
  if (!entry)
    throw MetabaseError(kMetabaseNotFound,
                        "no virtual directory " + std::string(name) + " in " + file_.string());
  return MetabaseDir(file_, (*entry)["name"].get<std::string>(), false, *entry);
}

}  // namespace desk::asp
