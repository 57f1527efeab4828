// Printing through LibreOffice: a tracked, protected document with page
// numbers and a signature becomes a PDF whose text and picture can be read
// back with poppler's tools.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/office_fakes.h"
#include "web/docx/document.h"

namespace desk::web {
namespace {

using namespace desk::testing;

std::string run(const std::string& cmd) {
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

void prepare(LiveControl& l) {
  write_file(l.paths.work() / "letter.docx", make_docx());
  write_file(l.paths.work() / "sign.jpg", read_file(test_data("sig.jpg")));
  l.control.writefile(R"(c:\windows\temp\temp1234\letter.docx)");
  l.loop.run_pending();
  ASSERT_TRUE(l.control.curdoc);
  l.control.SetUserName("张三");
  l.control.Emend();
  l.word->select(0, true);
  l.word->type_text(" from the office");
  l.control.insertpageno();
  l.control.signature(R"(c:\windows\temp\temp1234\sign.jpg)");
  l.control.Protect();
}

TEST(Printout, MakesAPdfWithTheTextPageNumberAndSignature) {
  LiveControl l;
  prepare(l);
  l.control.printout();
  auto pdf = l.word->last_printout();
  EXPECT_EQ(pdf, l.paths.work() / "letter.pdf");
  ASSERT_TRUE(std::filesystem::exists(pdf));

  std::string text = run("pdftotext -layout '" + pdf.string() + "' -");
  EXPECT_NE(text.find("Hello from the office"), std::string::npos) << text;
  bool number_line = false;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    line.erase(0, line.find_first_not_of(" \f"));
    if (line == "1") number_line = true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  EXPECT_TRUE(number_line) << text;

  std::string images = run("pdfimages -list '" + pdf.string() + "'");
  // Two heading lines, then one line per image.
  EXPECT_GE(std::count(images.begin(), images.end(), '\n'), 3) << images;
  EXPECT_NE(images.find(" 48    24 "), std::string::npos) << images;

  // Printing leaves the document's own file and the work folder as they were.
  EXPECT_EQ(docx::Document::load(l.paths.work() / "letter.docx").text("word/document.xml"),
            "Hello");
  for (const auto& e : std::filesystem::directory_iterator(l.paths.work()))
    EXPECT_TRUE(e.is_regular_file()) << e.path();
}

TEST(Printout, WithoutLibreOfficeSaysSo) {
  LiveControl l(docx::PdfOptions{"/nonexistent/soffice"});
  prepare(l);
  try {
    l.control.printout();
    ADD_FAILURE() << "printout without a converter succeeded";
  } catch (const WordError& e) {
    EXPECT_STREQ(e.what(),
                 "printing needs LibreOffice (/nonexistent/soffice), which is not installed");
  }
  EXPECT_TRUE(l.word->last_printout().empty());
}

}  // namespace
}  // namespace desk::web
