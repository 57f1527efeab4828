// Building .docx files for tests: a package from named parts, a scratch
// folder, and the picture files kept with the tests.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace desk::testing {

// A zip archive of the entries, in order, deflated.
std::string zip_bytes(const std::vector<std::pair<std::string, std::string>>& entries);

// Declarations for the namespaces the fixtures' parts use (w, r, wp, mc).
extern const char* const kWordNamespaces;

struct DocxParts {
  std::string body = "<w:p><w:r><w:t>Hello</w:t></w:r></w:p>";  // inside w:body
  std::string settings;  // inside w:settings; no settings part when empty
  // Further parts with their content type override, e.g. a header.
  std::vector<std::pair<std::string, std::string>> extra;  // name -> bytes
  std::vector<std::string> extra_rels;  // <Relationship .../> elements of document.xml
};
std::string make_docx(const DocxParts& parts = {});

// Reads a file whole; "" when it cannot be read.
std::string read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, std::string_view bytes);

// The tests' own data folder (tests/web/data).
std::filesystem::path test_data(std::string_view name);

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace desk::testing
