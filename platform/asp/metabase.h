// The metabase: the virtual directories the host serves, kept as JSON.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace desk::asp {

// One virtual directory as the metabase records it.
struct VirtualDir {
  std::string name;            // "tarvo"
  std::filesystem::path path;  // the application folder
  std::vector<std::string> default_documents = {"Default.asp", "index.asp", "index.htm",
                                                "default.htm"};
  bool read = true;    // static files may be read
  bool script = true;  // hosting pages may run
  bool write = false;  // no page writes files through plain HTTP verbs
  bool in_process = true;
};

// Reads the metabase (a JSON array of virtual directories, or an object
// with a "vdirs" array). A missing file gives no directories.
std::vector<VirtualDir> load_metabase(const std::filesystem::path& file);
void save_metabase(const std::filesystem::path& file, const std::vector<VirtualDir>& dirs);

}  // namespace desk::asp
