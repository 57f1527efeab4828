#include "tests/support/docx_fixtures.h"

#include <stdlib.h>
#include <zip.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace desk::testing {

const char* const kWordNamespaces =
    "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
    "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
    "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\"";

std::string zip_bytes(const std::vector<std::pair<std::string, std::string>>& entries) {
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &err);
  zip_t* za = zip_open_from_source(src, ZIP_TRUNCATE, &err);
  if (!za) throw std::runtime_error("zip_open_from_source failed");
  zip_source_keep(src);
  for (const auto& [name, bytes] : entries) {
    zip_source_t* data = zip_source_buffer(za, bytes.data(), bytes.size(), 0);
    if (zip_file_add(za, name.c_str(), data, ZIP_FL_ENC_UTF_8) < 0)
      throw std::runtime_error("zip_file_add failed: " + name);
  }
  if (zip_close(za) < 0) throw std::runtime_error("zip_close failed");
  zip_source_open(src);
  std::string out;
  char buf[65536];
  zip_int64_t n;
  while ((n = zip_source_read(src, buf, sizeof buf)) > 0)
    out.append(buf, static_cast<std::size_t>(n));
  zip_source_close(src);
  zip_source_free(src);
  return out;
}

std::string make_docx(const DocxParts& parts) {
  std::string types =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" "
      "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/word/document.xml\" "
      "ContentType=\"application/"
      "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>";
  std::string doc_rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  if (!parts.settings.empty()) {
    types +=
        "<Override PartName=\"/word/settings.xml\" ContentType=\"application/"
        "vnd.openxmlformats-officedocument.wordprocessingml.settings+xml\"/>";
    doc_rels +=
        "<Relationship Id=\"rId1\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
        "settings\" Target=\"settings.xml\"/>";
  }
  for (const auto& r : parts.extra_rels) doc_rels += r;
  types += "</Types>";
  doc_rels += "</Relationships>";
  std::vector<std::pair<std::string, std::string>> entries = {
      {"[Content_Types].xml", types},
      {"_rels/.rels",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" "
       "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
       "officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
      {"word/document.xml", std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" "
                                        "standalone=\"yes\"?><w:document ") +
                                kWordNamespaces + "><w:body>" + parts.body +
                                "</w:body></w:document>"},
      {"word/_rels/document.xml.rels", doc_rels},
  };
  if (!parts.settings.empty())
    entries.push_back({"word/settings.xml", std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" "
                                                        "standalone=\"yes\"?><w:settings ") +
                                                kWordNamespaces + ">" + parts.settings +
                                                "</w:settings>"});
  for (const auto& e : parts.extra) entries.push_back(e);
  return zip_bytes(entries);
}

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path& p, std::string_view bytes) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path test_data(std::string_view name) {
  return std::filesystem::path(DESK_TEST_DATA) / name;
}

ScratchDir::ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "desktest-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace desk::testing
