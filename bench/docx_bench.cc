// Open-change-save of a 50-page .docx with the document engine, beside a
// plain unzip+zip of the same file measured in the same run.
//   docx_bench [--iterations N] [--keep FILE]
// The document is generated: 900 paragraphs of mixed Chinese and Latin
// text with formatted runs, a table every 50 paragraphs, a header, styles and
// a 300 KB picture part, about 50 pages when printed. --keep writes it to FILE.
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "web/docx/document.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string zip_entries(const Entries& entries) {
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &err);
  zip_t* za = zip_open_from_source(src, ZIP_TRUNCATE, &err);
  zip_source_keep(src);
  for (const auto& [name, bytes] : entries)
    zip_file_add(za, name.c_str(), zip_source_buffer(za, bytes.data(), bytes.size(), 0),
                 ZIP_FL_ENC_UTF_8);
  if (zip_close(za) < 0) std::abort();
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

std::string fifty_pages() {
  const char* ns =
      "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
  const char* words[] = {"关于",   "加强", "办公",   "自动化",   "系统",     "管理",
                         "的",     "通知", "office", "document", "workflow", "approval",
                         "各部门", "请",   "认真",   "执行"};
  std::mt19937 rng(42);
  std::string body;
  for (int p = 0; p < 900; ++p) {
    if (p % 50 == 49) {
      body += "<w:tbl><w:tblPr><w:tblW w:w=\"0\" w:type=\"auto\"/></w:tblPr>";
      for (int r = 0; r < 4; ++r) {
        body += "<w:tr>";
        for (int c = 0; c < 3; ++c)
          body += "<w:tc><w:p><w:r><w:t>" + std::string(words[rng() % 16]) +
                  "</w:t></w:r></w:p></w:tc>";
        body += "</w:tr>";
      }
      body += "</w:tbl>";
    }
    body += "<w:p><w:pPr><w:spacing w:after=\"120\"/><w:ind w:firstLine=\"420\"/></w:pPr>";
    for (int r = 0; r < 3; ++r) {
      body += r == 1 ? "<w:r><w:rPr><w:b/><w:rFonts w:hint=\"eastAsia\"/></w:rPr>"
                     : "<w:r><w:rPr><w:rFonts w:hint=\"eastAsia\"/></w:rPr>";
      body += "<w:t xml:space=\"preserve\">";
      for (int k = 0; k < 8; ++k) body += std::string(words[rng() % 16]) + " ";
      body += "</w:t></w:r>";
    }
    body += "</w:p>";
  }
  std::string styles = std::string("<w:styles ") + ns + ">";
  for (int i = 0; i < 150; ++i)
    styles += "<w:style w:type=\"paragraph\" w:styleId=\"s" + std::to_string(i) +
              "\"><w:name w:val=\"Style " + std::to_string(i) +
              "\"/><w:pPr><w:spacing w:line=\"360\"/></w:pPr><w:rPr><w:sz "
              "w:val=\"24\"/></w:rPr></w:style>";
  styles += "</w:styles>";
  std::string picture(300 * 1024, '\0');
  for (auto& c : picture) c = static_cast<char>(rng());
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  const std::string ct = "application/vnd.openxmlformats-officedocument.wordprocessingml.";
  Entries e = {
      {"[Content_Types].xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
       "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default "
       "Extension=\"rels\" "
       "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
       "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Default Extension=\"png\" "
       "ContentType=\"image/png\"/><Override PartName=\"/word/document.xml\" ContentType=\"" +
           ct + "document.main+xml\"/><Override PartName=\"/word/styles.xml\" ContentType=\"" + ct +
           "styles+xml\"/><Override PartName=\"/word/header1.xml\" ContentType=\"" + ct +
           "header+xml\"/></Types>"},
      {"_rels/.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" Type=\"" +
           rel + "officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
      {"word/document.xml",
       std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document ") + ns + "><w:body>" +
           body +
           "<w:sectPr><w:headerReference w:type=\"default\" r:id=\"rId2\"/>"
           "<w:pgSz w:w=\"11906\" w:h=\"16838\"/></w:sectPr></w:body></w:document>"},
      {"word/_rels/document.xml.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" Type=\"" +
           rel + "styles\" Target=\"styles.xml\"/><Relationship Id=\"rId2\" Type=\"" + rel +
           "header\" Target=\"header1.xml\"/><Relationship Id=\"rId3\" Type=\"" + rel +
           "image\" Target=\"media/image1.png\"/></Relationships>"},
      {"word/styles.xml", styles},
      {"word/header1.xml",
       std::string("<w:hdr ") + ns + "><w:p><w:r><w:t>办公室</w:t></w:r></w:p></w:hdr>"},
      {"word/media/image1.png", picture},
  };
  return zip_entries(e);
}

// Inflates every entry and deflates it into a new file: what any tool that
// rewrites the package must at least do.
void unzip_zip(const std::filesystem::path& in, const std::filesystem::path& out) {
  int err = 0;
  zip_t* za = zip_open(in.c_str(), ZIP_RDONLY, &err);
  if (!za) std::abort();
  Entries entries;
  for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st);
    std::string bytes(st.size, '\0');
    zip_file_t* f = zip_fopen_index(za, static_cast<zip_uint64_t>(i), 0);
    if (!f || zip_fread(f, bytes.data(), st.size) != static_cast<zip_int64_t>(st.size))
      std::abort();
    zip_fclose(f);
    entries.emplace_back(st.name, std::move(bytes));
  }
  zip_discard(za);
  std::string bytes = zip_entries(entries);
  std::ofstream(out, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

double median_ms(int iterations, const std::function<void()>& f) {
  std::vector<double> ms;
  for (int i = 0; i < iterations; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  using desk::docx::Document;
  int iterations = 20;
  std::string keep;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--iterations")
      iterations = std::max(1, std::atoi(argv[i + 1]));
    else if (a == "--keep")
      keep = argv[i + 1];
  }
  auto dir = std::filesystem::temp_directory_path() / ("docx-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto file = dir / "fifty.docx", out = dir / "out.docx";
  std::string bytes = fifty_pages();
  std::ofstream(file, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!keep.empty())
    std::filesystem::copy_file(file, keep, std::filesystem::copy_options::overwrite_existing);

  auto change = [](Document& d) {
    desk::docx::Revision rev{"bench", "2024-01-01T00:00:00Z"};
    d.accept_all_revisions();
    d.set_track_revisions(true);
    d.insert_text({d.main_part(), 600, desk::docx::Position::kEnd}, "已阅", &rev);
    d.add_page_number(0, 1, true);
  };
  double reference = median_ms(iterations, [&] { unzip_zip(file, out); });
  double open = median_ms(iterations, [&] { Document::load(file); });
  double whole = median_ms(iterations, [&] {
    auto d = Document::load(file);
    change(d);
    d.save(out);
  });
  double in_memory = median_ms(iterations, [&] {
    auto d = Document::load(file);
    change(d);
    d.save();
  });
  double open_text = median_ms(iterations, [&] {
    auto d = Document::load(file);
    d.text(d.main_part());
  });

  std::printf("document: %zu bytes, %d iterations, median ms per operation\n", bytes.size(),
              iterations);
  std::printf("%-40s %10s %10s\n", "operation", "ms", "of ref");
  auto row = [&](const char* name, double ms) {
    std::printf("%-40s %10.2f %9.0f%%\n", name, ms, 100.0 * ms / reference);
  };
  row("unzip+zip of every entry (reference)", reference);
  row("open (zip directory, main part parsed)", open);
  row("open + read all text", open_text);
  row("open + change + save to memory", in_memory);
  row("open + change + save to file (fsync)", whole);
  std::filesystem::remove_all(dir);
  return 0;
}
