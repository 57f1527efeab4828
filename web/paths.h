// Windows paths named by pages, mapped onto this machine. Nothing the control
// writes lands outside the folders this map yields.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace desk::web {

// A path a page passed that cannot be mapped safely.
class PathError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class PathMap {
 public:
  // The control's work folder as pages name it.
  static constexpr std::string_view kWorkFolder = R"(c:\windows\temp\temp1234)";

  // `drives` holds one folder per drive letter ("c", "d", ...); `work` is
  // where the work folder lives. Both are made absolute.
  PathMap(std::filesystem::path drives, std::filesystem::path work);

  const std::filesystem::path& drives() const { return drives_; }
  const std::filesystem::path& work() const { return work_; }

  // "X:\a\b" (either slash, any case) to a local path: the work folder and
  // what is below it map into work(), everything else into
  // drives()/x/a/b. Throws PathError for relative, UNC and device paths, a
  // ".." segment, a ':' after the drive, control characters, and for a
  // result that a symbolic link would lead outside its root.
  std::filesystem::path map(std::string_view windows_path) const;
  // Like map(), and makes sure the drive's own folder exists, as a drive
  // root does on the machine the pages were written for.
  std::filesystem::path map_for_writing(std::string_view windows_path) const;

 private:
  std::filesystem::path drives_, work_;
};

}  // namespace desk::web
