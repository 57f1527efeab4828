#include "server/files/upload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>

#include "core/text.h"

namespace desk::files {
namespace {

namespace fs = std::filesystem;

// AutoSave gives up after this many names taken in a row.
constexpr int kNameAttempts = 1000;

// A file name without the trailing full stops and blanks that some systems
// drop when they store it ("x.asp." and "x.asp " are x.asp there).
std::string_view strip_trailing(std::string_view name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ' || name.back() == '\t'))
    name.remove_suffix(1);
  return name;
}

// Extension of a client or target file name: after its last full stop,
// lowercased; "" when it has none.
std::string name_ext(std::string_view path) {
  const std::string file = Upload::GetFileName(path);
  const std::string_view name = strip_trailing(file);
  std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? "" : text::to_lower(name.substr(dot + 1));
}

bool plain_word(std::string_view s) {
  if (s.empty() || s.size() > 16) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) return false;
  return true;
}

bool in_list(std::string_view list, std::string_view x) {
  for (const std::string& item : text::split(list, ';'))
    if (text::trim(item) == x) return true;
  return false;
}

std::uint32_t thread_random() {
  thread_local std::mt19937 engine(std::random_device{}());
  return engine();
}

// An open folder descriptor, closed on scope exit.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// The folders of `path` below the application folder `root`, outermost
// first; nullopt when the path names ".." or lies outside the root. A
// relative path counts from the root.
std::optional<std::vector<std::string>> folders_inside(std::string path, const fs::path& root) {
  for (char& c : path)
    if (c == '\\') c = '/';
  fs::path p(path);
  for (const fs::path& part : p)
    if (part == "..") return std::nullopt;
  fs::path rel = p.lexically_normal();
  if (p.is_absolute()) {
    rel = rel.lexically_relative(root.lexically_normal());
    if (rel.empty() || *rel.begin() == "..") {
      std::error_code ec;
      fs::path real = fs::canonical(root, ec);
      if (ec) return std::nullopt;
      rel = p.lexically_normal().lexically_relative(real);
      if (rel.empty() || *rel.begin() == "..") return std::nullopt;
    }
  }
  std::vector<std::string> out;
  for (const fs::path& part : rel)
    if (!part.empty() && part != "." && part != "/") out.push_back(part.string());
  return out;
}

// Opens the folder `folders` below `root`, following no symbolic link on
// the way; a link is a refusal (code 5), a missing or unreadable folder a
// failure (code 6).
int open_folder(const fs::path& root, const std::vector<std::string>& folders, Upload::Code& code) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    code = Upload::kWriteFailed;
    return -1;
  }
  for (const std::string& name : folders) {
    int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      struct stat st;
      const bool link =
          ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      code = link ? Upload::kPlaceRefused : Upload::kWriteFailed;
      ::close(fd);
      return -1;
    }
    ::close(fd);
    fd = next;
  }
  return fd;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes `bytes` to a new hidden file in `dir`; its name, "" on failure.
// Nothing is left behind on failure.
std::string write_temp(int dir, std::string_view bytes) {
  char name[40];
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::snprintf(name, sizeof name, ".upload-%08x%08x.tmp", thread_random(), thread_random());
    int fd = ::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return "";
    }
    const bool ok = write_all(fd, bytes) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok) {
      ::unlinkat(dir, name, 0);
      return "";
    }
    return name;
  }
  return "";
}

// Gives `tmp` the name `name` unless a file has it: 1 done, 0 taken, -1 failed.
int rename_no_replace(int dir, const std::string& tmp, const std::string& name) {
  if (::renameat2(dir, tmp.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) return 1;
  if (errno == EEXIST) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without the no-replace rename: a hard link fails the same way.
  if (::linkat(dir, tmp.c_str(), dir, name.c_str(), 0) != 0) return errno == EEXIST ? 0 : -1;
  ::unlinkat(dir, tmp.c_str(), 0);
  return 1;
}

}  // namespace

FileInfo_Class* FileTable::find(std::string_view form_name) {
  for (FileInfo_Class& f : items_)
    if (text::iequals(f.FormName, form_name)) return &f;
  return nullptr;
}

bool FileTable::add(FileInfo_Class info) {
  if (find(info.FormName)) return false;
  items_.push_back(std::move(info));
  return true;
}

void Upload::AllowExt(std::string_view list) {
  allow_ = text::to_lower(list);
}

void Upload::NoAllowExt(std::string_view list) {
  deny_ = text::to_lower(list);
}

void Upload::set_error(Code code) {
  static constexpr std::string_view kMessages[] = {
      "",
      "没有数据上传",
      "上传的数据超出限制大小",
      "该后缀名的文件不允许上传!",
      "上传的数据格式不正确",
      "不允许保存到该位置",
      "文件保存失败",
      "没有该上传文件",
  };
  err_ = code;
  if (code != kNone) message_ = std::string(kMessages[code]);
}

void Upload::GetData(long long MaxSize) {
  if (parsed_) return;
  const std::size_t n = request().TotalBytes();
  if (n < 1) return set_error(kNoData);
  if (MaxSize > 0 && n > static_cast<unsigned long long>(MaxSize)) return set_error(kTooLarge);
  parsed_ = true;
  const multipart::Form& form = request().multipart();
  if (!form.ok()) {
    fault_ = form.fault;
    return set_error(kMalformed);
  }
  for (const multipart::Part& part : form.parts) {
    if (!part.head.is_file) continue;
    FileInfo_Class f;
    f.FormName = part.head.name;
    f.FileName = GetFileName(part.head.filename);
    f.FilePath = GetFilePath(part.head.filename);
    f.filesize = part.size;
    f.FileMIME = part.head.content_type;
    f.FileStart = part.offset;
    f.FileExt = name_ext(f.FileName);
    files_.add(std::move(f));
  }
}

FileInfo_Class* Upload::File(std::string_view Item) {
  return parsed_ ? files_.find(Item) : nullptr;
}

std::string Upload::GetFilePath(std::string_view FullPath) {
  std::size_t i = FullPath.find_last_of("/\\");
  return i == std::string_view::npos ? "" : std::string(FullPath.substr(0, i + 1));
}

std::string Upload::GetFileName(std::string_view FullPath) {
  std::size_t i = FullPath.find_last_of("/\\");
  return std::string(i == std::string_view::npos ? FullPath : FullPath.substr(i + 1));
}

std::string Upload::GetFileExt(std::string_view FullPath) {
  std::size_t dot = FullPath.rfind('.');
  return text::to_lower(dot == std::string_view::npos ? FullPath : FullPath.substr(dot + 1));
}

std::string Upload::GetNewFileName() {
  const DateTime t = now();
  const std::uint32_t r = 10000 + (random_source ? random_source() : thread_random()) % 90000;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d%05u", t.year, t.month, t.day, t.hour,
                t.minute, t.second, r);
  return buf;
}

bool Upload::isAllowExt(std::string_view Ext) const {
  std::string x = text::to_lower(text::trim(strip_trailing(Ext)));
  if (!x.empty() && !plain_word(x)) return false;
  if (deny_.empty()) return in_list(allow_, x);
  return !in_list(deny_, x);
}

bool Upload::name_allowed(std::string_view name, std::string_view ext) const {
  if (!isAllowExt(ext)) return false;
  if (deny_.empty()) return true;
  std::vector<std::string> pieces = text::split(strip_trailing(GetFileName(name)), '.');
  for (std::size_t i = 1; i + 1 < pieces.size(); ++i) {
    std::string inner = text::to_lower(text::trim(pieces[i]));
    if (!inner.empty() && in_list(deny_, inner)) return false;
  }
  return true;
}

std::string Upload::save(std::string_view item, std::string_view path, Mode mode) {
  set_error(kNone);
  FileInfo_Class* f = File(item);
  const std::string_view body = request().body();
  if (!f || f->FileStart > body.size() || f->filesize > body.size() - f->FileStart) {
    set_error(kNoSuchFile);
    return "";
  }
  std::string name;
  std::string folder_part;
  if (mode == Mode::exact) {
    name = std::string(strip_trailing(GetFileName(path)));
    if (!name_allowed(name, name_ext(name))) {
      set_error(kExtRefused);
      return "";
    }
    if (name.empty() || name == "." || name == "..") {
      set_error(kPlaceRefused);
      return "";
    }
    folder_part = GetFilePath(path);
  } else {
    if (!name_allowed(f->FileName, f->FileExt)) {
      set_error(kExtRefused);
      return "";
    }
    folder_part = std::string(path);
  }
  const fs::path& root = ctx().app().root;
  std::optional<std::vector<std::string>> folders = folders_inside(folder_part, root);
  if (!folders) {
    set_error(kPlaceRefused);
    return "";
  }
  Code code = kNone;
  Fd dir(open_folder(root, *folders, code));
  if (dir.fd < 0) {
    set_error(code);
    return "";
  }
  const std::string tmp = write_temp(dir.fd, body.substr(f->FileStart, f->filesize));
  if (tmp.empty()) {
    set_error(kWriteFailed);
    return "";
  }
  bool done = false;
  if (mode == Mode::exact) {
    struct stat st;
    if (::fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      code = kPlaceRefused;
    } else {
      done = ::renameat(dir.fd, tmp.c_str(), dir.fd, name.c_str()) == 0;
    }
  } else {
    const std::string ext = f->FileExt.empty() ? "" : "." + f->FileExt;
    for (int attempt = 0; attempt < kNameAttempts && !done; ++attempt) {
      name = GetNewFileName() + ext;
      const int r = rename_no_replace(dir.fd, tmp, name);
      if (r < 0) break;
      done = r == 1;
    }
  }
  if (!done) {
    ::unlinkat(dir.fd, tmp.c_str(), 0);
    set_error(code == kNone ? kWriteFailed : code);
    return "";
  }
  ::fsync(dir.fd);
  return name;
}

std::string Upload::SaveToFile(std::string_view Item, std::string_view Path) {
  return save(Item, Path, Mode::exact);
}

std::string Upload::AutoSave(std::string_view Item, std::string& Path) {
  Path = GetFilePath(Path);
  return save(Item, Path, Mode::generated);
}

std::string_view Upload::filedata(std::string_view Item) {
  set_error(kNone);
  FileInfo_Class* f = File(Item);
  const std::string_view body = request().body();
  if (!f || f->FileStart > body.size() || f->filesize > body.size() - f->FileStart) {
    set_error(kNoSuchFile);
    return {};
  }
  if (!name_allowed(f->FileName, f->FileExt)) {
    set_error(kExtRefused);
    return {};
  }
  return body.substr(f->FileStart, f->filesize);
}

void register_upload(asp::Registry& registry) {
  registry.add_component<Upload>("upload");
}

}  // namespace desk::files
