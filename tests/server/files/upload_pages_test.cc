// The endpoint of the document control's multi-file upload and the files of
// the upload store: answers, refusals that store nothing, who may fetch a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/text.h"
#include "tests/support/multipart_body.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

namespace fs = std::filesystem;
using testing::Browser;
using testing::header;
using testing::TestApp;
using testing::text_of;

const std::string kToken = "7d510424800931";

std::string read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct UploadPages : ::testing::Test {
  TestApp app;
  Browser zhang{app}, li{app};
  UploadPages() {
    app.db().exec("INSERT INTO sysconfig (type, maxsize) VALUES (1, 3000)");
    app.add_user("zhang", "张三", "pw");
    app.add_user("li", "李四", "pw");
    EXPECT_TRUE(zhang.login("zhang", "pw"));
    EXPECT_TRUE(li.login("li", "pw"));
  }
  // The control's body, posted with a once-only token among its named values.
  http::Reply post(Browser& b, const std::vector<testing::SentFile>& files) {
    return b.post_raw("upload.asp?formtoken=",
                      testing::control_body(kToken, {{"formtoken", b.form_token()}}, files),
                      testing::control_content_type(kToken));
  }
  std::size_t stored() {
    return fs::is_directory(app.dir() / "upfiles")
               ? static_cast<std::size_t>(std::distance(
                     fs::directory_iterator(app.dir() / "upfiles"), fs::directory_iterator{}))
               : 0;
  }
};

TEST_F(UploadPages, StoresEveryFileAndAnswersALinePerFile) {
  auto r = post(zhang, {{"C:\\文档\\报告.DOC", "DOC\r\nbody"}, {"D:\\a.txt", ""}});
  ASSERT_EQ(r.status, 200) << text_of(r);
  EXPECT_EQ(header(r, "Content-Type"), "text/plain; charset=gb2312");
  const auto lines = text::split(text_of(r), '\n');
  ASSERT_EQ(lines.size(), 3u);  // two lines, each ended by CR LF
  EXPECT_EQ(lines[0].substr(0, 20), "file1 20061203153045");
  EXPECT_EQ(lines[0].substr(25), ".doc 9\r");
  EXPECT_EQ(lines[1].substr(0, 6), "file2 ");
  EXPECT_EQ(lines[1].substr(lines[1].size() - 7), ".txt 0\r");
  const std::string name = lines[0].substr(6, 23);
  EXPECT_EQ(read(app.dir() / "upfiles" / name), "DOC\r\nbody");
  EXPECT_EQ(app.db().scalar("SELECT origname || '|' || uid || '|' || filesize FROM upfile "
                            "WHERE filename = ?",
                            {name}),
            "报告.DOC|zhang|9");

  // The uploader fetches it under its own name; nobody else can.
  auto mine = zhang.get("upfile.asp?name=" + name);
  EXPECT_EQ(mine.body, "DOC\r\nbody");
  EXPECT_NE(header(mine, "Content-Disposition").find("%E6%8A%A5%E5%91%8A.DOC"), std::string::npos);
  EXPECT_EQ(li.get("upfile.asp?name=" + name).status, 404);
  EXPECT_EQ(zhang.get("upfile.asp?name=../data/office.db").status, 404);
  EXPECT_EQ(app.send(app.make("GET", "/tarvo/upfiles/" + name)).status, 404);

  // No file at all: an empty answer.
  auto none = post(zhang, {});
  EXPECT_EQ(none.status, 200);
  EXPECT_EQ(none.body, "");
}

TEST_F(UploadPages, RefusalsStoreNothing) {
  struct Case {
    const char* what;
    std::string body;
    int status;
    std::string message;
  };
  const std::string good = testing::control_body(kToken, {}, {{"C:\\a.doc", "x"}});
  const Case cases[] = {
      {"a program among good files",
       testing::control_body(kToken, {}, {{"C:\\a.doc", "x"}, {"C:\\setup.EXE.", "MZ"}}), 415,
       "该后缀名的文件不允许上传!"},
      {"a server script behind a second extension",
       testing::control_body(kToken, {}, {{"C:\\x.asp.jpg", "x"}}), 415,
       "该后缀名的文件不允许上传!"},
      {"over MaxSize", testing::control_body(kToken, {}, {{"C:\\a.doc", std::string(3000, 'x')}}),
       413, "上传的数据超出限制大小"},
      {"cut short", good.substr(0, good.size() - 4), 400, "上传的数据格式不正确"},
      {"empty", "", 400, "没有数据上传"},
  };
  for (const Case& c : cases) {
    auto r = zhang.post_raw("upload.asp", c.body, testing::control_content_type(kToken));
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(text_of(r), c.message) << c.what;
  }
  EXPECT_EQ(stored(), 0u);
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM upfile"), "0");

  // A post without its token, or with one already used, stores nothing.
  EXPECT_EQ(
      zhang.post_raw("upload.asp?formtoken=", good, testing::control_content_type(kToken)).status,
      400);
  const std::string token = zhang.form_token();
  EXPECT_EQ(
      zhang.post_raw("upload.asp?formtoken=" + token, good, testing::control_content_type(kToken))
          .status,
      200);
  EXPECT_EQ(
      zhang.post_raw("upload.asp?formtoken=" + token, good, testing::control_content_type(kToken))
          .status,
      409);
  EXPECT_EQ(stored(), 1u);
  // Logged out: sent to the login page. Bodies over the ceiling are refused
  // before they are read.
  Browser nobody(app);
  EXPECT_EQ(nobody.post_raw("upload.asp", good, testing::control_content_type(kToken)).status, 302);
  for (const char* page : {"upload.asp", "savemp3.asp", "savedv.asp", "savepic.asp"}) {
    auto head = app.make("POST", std::string("/tarvo/") + page);
    head.headers.emplace_back("Cookie",
                              std::string(asp::kSessionCookie) + "=" + zhang.session_token());
    EXPECT_EQ(app.host().body_limit(head), 3000u) << page;
  }
  EXPECT_EQ(stored(), 1u);
}

}  // namespace
}  // namespace desk
