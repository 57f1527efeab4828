// The document preview through the host with LibreOffice: a body is
// converted once, off the request, and shown as PDF to those who may read
// it; a body that cannot be converted gets a message and its download link.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/convert/convert.h"
#include "tests/support/docx_fixtures.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::header;
using testing::TestApp;
using testing::text_of;

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The text of a PDF, by pdftotext.
std::string pdf_text(const std::string& pdf) {
  testing::ScratchDir dir;
  testing::write_file(dir / "a.pdf", pdf);
  std::string cmd = "pdftotext '" + (dir / "a.pdf").string() + "' -";
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

TEST(Preview, ShowsTheBodyAsPdfToReadersOnly) {
  TestApp app;
  app.add_user("zhang", "张三", "pw");
  app.add_user("zhao", "赵六", "pw");
  Browser zhang(app), zhao(app);
  ASSERT_TRUE(zhang.login("zhang", "pw"));
  ASSERT_TRUE(zhao.login("zhao", "pw"));
  testing::DocxParts parts;
  parts.body = "<w:p><w:r><w:t>Quarterly report preview</w:t></w:r></w:p>";
  auto add = [&](const std::string& table, const std::string& body) {
    return std::to_string(app.db().insert(
        "INSERT INTO " + table + " (filedata, documentname, writeid) VALUES (?, 'a.docx', 'zhang')",
        {db::Blob{body}}));
  };
  const std::string doc = add("fawen", testing::make_docx(parts));
  const std::string page = "preview.asp?flowid=" + doc;

  std::string t = text_of(zhang.get(page));
  EXPECT_TRUE(has(t, "正在把正文转换为 PDF")) << t;
  EXPECT_TRUE(has(t, "loadhg.asp?flowid=" + doc));
  convert::pdf_service().drain();
  t = text_of(zhang.get(page));
  const std::string src = "previewpdf.asp?flowid=" + doc + "&amp;v=";
  ASSERT_TRUE(has(t, src)) << t;
  std::string key = t.substr(t.find(src) + src.size(), 64);
  http::Reply pdf = zhang.get("previewpdf.asp?flowid=" + doc + "&v=" + key);
  EXPECT_EQ(pdf.status, 200);
  EXPECT_EQ(header(pdf, "Content-Type"), "application/pdf");
  EXPECT_TRUE(has(pdf_text(pdf.body), "Quarterly report preview"));

  // Not for a user who may not read the document; not for an old version.
  EXPECT_EQ(zhao.get(page).status, 403);
  EXPECT_EQ(zhao.get("previewpdf.asp?flowid=" + doc + "&v=" + key).status, 403);
  EXPECT_EQ(zhang.get("previewpdf.asp?flowid=" + doc + "&v=" + std::string(64, '0')).status, 404);
  // A body that changed is converted afresh.
  app.db().exec("UPDATE fawen SET filedata = ? WHERE id = ?",
                {db::Blob{testing::make_docx()}, doc});
  EXPECT_TRUE(has(text_of(zhang.get(page)), "正在把正文转换为 PDF"));
  convert::pdf_service().drain();

  // Bodies that cannot be converted, outgoing and incoming: a message and the link.
  struct Case {
    std::string table, kind, link;
    std::string body;
  };
  for (const Case& k :
       {Case{"fawen", "", "loadhg.asp", "plain text, no document"},
        Case{"shouwen", "kind=sw&", "swload.asp", std::string("PK\x03\x04", 4) + "broken"}}) {
    const std::string id = add(k.table, k.body);
    const std::string p = "preview.asp?" + k.kind + "flowid=" + id;
    zhang.get(p);
    convert::pdf_service().drain();
    t = text_of(zhang.get(p));
    EXPECT_TRUE(has(t, "请下载后查看")) << t;
    EXPECT_TRUE(has(t, k.link + "?flowid=" + id)) << t;
    EXPECT_FALSE(has(t, "<iframe"));
  }
}

}  // namespace
}  // namespace desk
