// The control's HTTP transfers against the real web host on loopback: the
// bytes the server stores are the bytes sent, the query strings and headers
// are the control's, the multi-part body is the wire format byte for byte,
// and silent servers and redirects elsewhere end a transfer with false.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <mutex>

#include "core/text.h"
#include "platform/http/http.h"
#include "server/files/upload.h"
#include "tests/support/multipart_body.h"
#include "tests/support/office_fakes.h"
#include "tests/support/testapp.h"

namespace desk::web {
namespace {

using namespace desk::testing;
namespace fs = std::filesystem;

std::string bytes_of(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 13 + 5) & 0xFF);
  return s;
}

std::string read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

// What the test pages saw of the last request.
struct Seen {
  std::mutex mu;
  std::string method, query, content_type, referer, body;
  bool has_content_type = false;
  std::vector<std::pair<std::string, std::string>> fields;  // filenum and the named values
  std::vector<files::FileInfo_Class> files;
  std::vector<std::string> file_bytes;
};

// The suite on 127.0.0.1 with zhang logged in, a control whose requests
// carry zhang's session, and test pages: "echo.asp" (records the request,
// answers "收到 " + the query in the site's code page), "parts.asp" (reads
// the body with the upload component), "moved.asp?to=" (redirects).
struct Served {
  TestApp app;
  Browser zhang{app};
  std::shared_ptr<Seen> seen = std::make_shared<Seen>();
  http::Server server{{.host = "127.0.0.1", .port = 0, .threads = 2, .access_log = false},
                      app.host()};
  LiveControl c;

  Served() {
    auto s = seen;
    auto record = [s](asp::ScriptingContext& ctx) {
      auto& req = ctx.request();
      std::lock_guard lock(s->mu);
      s->method = req.method();
      s->query = req.ServerVariables("QUERY_STRING");
      s->has_content_type = !req.ServerVariables("CONTENT_TYPE").empty();
      s->content_type = req.ServerVariables("CONTENT_TYPE");
      s->referer = req.header("Referer");
      s->body = req.body();
    };
    app.registry().add_page({"echo.asp",
                             [record](asp::ScriptingContext& ctx) {
                               record(ctx);
                               ctx.response().Write("收到 " + ctx.request().QueryString("name"));
                             },
                             asp::Access::open, true});
    app.registry().add_page({"parts.asp",
                             [record, s](asp::ScriptingContext& ctx) {
                               record(ctx);
                               auto up =
                                   ctx.server().CreateObject<files::Upload>("deskserver.upload");
                               up->NoAllowExt("exe");
                               up->GetData(0);
                               std::lock_guard lock(s->mu);
                               s->fields.clear();
                               for (const auto& [k, v] : ctx.request().form_items())
                                 s->fields.emplace_back(k, v);
                               s->files.clear();
                               s->file_bytes.clear();
                               if (up->File())
                                 for (const auto& f : *up->File()) {
                                   s->files.push_back(f);
                                   s->file_bytes.emplace_back(up->filedata(f.FormName));
                                 }
                               ctx.response().Write("OK 已收到");
                             },
                             asp::Access::open, true});
    app.registry().add_page({"moved.asp",
                             [](asp::ScriptingContext& ctx) {
                               ctx.response().Redirect(ctx.request().QueryString("to"));
                             },
                             asp::Access::open});
    app.add_user("zhang", "张三", "pw");
    EXPECT_TRUE(zhang.login("zhang", "pw"));
    server.listen();
    server.start();
    c.http.cookie = std::string(asp::kSessionCookie) + "=" + zhang.session_token();
  }
  std::string url(const std::string& page) const {
    return "http://127.0.0.1:" + std::to_string(server.port()) + "/tarvo/" + page;
  }
  fs::path local(const std::string& windows_path) { return c.paths.map(windows_path); }
  std::vector<std::string> boxes() {
    std::vector<std::string> out;
    for (const auto& [title, text] : c.messages.boxes) out.push_back(title + "|" + text);
    c.messages.boxes.clear();
    return out;
  }
};

TEST(RawUpload, StoresTheFileAsSentAndRefusesWhatItShouldNot) {
  Served s;
  const std::string body = bytes_of(70000);
  write(s.local(R"(c:\windows\temp\temp1234\正文.doc)"), body);
  write(s.local(R"(d:\docs\b.doc)"), "small");

  // An empty filepath means the work folder, and the caller learns the path.
  std::string path;
  EXPECT_TRUE(s.c.control.upload(s.url("savedoc.asp?formtoken=" + s.zhang.form_token()), "正文.doc",
                                 path, ""));
  EXPECT_EQ(path, R"(c:\windows\temp\temp1234\正文.doc)");
  std::string id = s.zhang.session("fawenid");
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(s.app.db().scalar("SELECT filedata FROM fawen WHERE id = ?", {id}), body);
  EXPECT_EQ(s.app.db().scalar("SELECT filetype FROM fawen WHERE id = ?", {id}), "doc");

  // The size limit: equal passes, smaller stops before anything is sent.
  struct Case {
    std::string filesize;
    bool sent;
  };
  for (const Case& k : {Case{"5", true}, Case{" 5 ", true}, Case{"4", false}}) {
    // The user's open upload row takes each new body; a refused one leaves it.
    std::string folder = R"(d:\docs)";
    s.app.db().exec("UPDATE fawen SET filedata = 'before'");
    EXPECT_EQ(s.c.control.upload(s.url("savedoc.asp?formtoken=" + s.zhang.form_token()), "b.doc",
                                 folder, k.filesize),
              k.sent)
        << k.filesize;
    EXPECT_EQ(
        s.app.db().scalar("SELECT filedata FROM fawen WHERE id = ?", {s.zhang.session("fawenid")}),
        k.sent ? "small" : "before");
    EXPECT_EQ(s.boxes(), k.sent ? std::vector<std::string>{}
                                : std::vector<std::string>{"|上传文件太大，请与管理员联系！"});
  }

  // A file that is not there is not sent as an empty body; a path leaving
  // its folder is refused.
  for (std::string folder : {std::string(R"(d:\docs)"), std::string(R"(d:\docs\..\..)")}) {
    std::string before = s.app.db().scalar("SELECT COUNT(*) FROM fawen");
    EXPECT_FALSE(s.c.control.upload(s.url("echo.asp"), "missing.doc", folder, ""));
    EXPECT_TRUE(s.seen->body.empty() && s.seen->method.empty());
  }
}

TEST(Transfers, SendTheQueryStringsAndHeadersOfTheControl) {
  Served s;
  write(s.local(R"(d:\docs\a.doc)"), "abc");

  // sendurl: bodiless POST, trimmed values, the caller's URL changed.
  std::string url = s.url("echo.asp");
  EXPECT_TRUE(s.c.control.sendurl(url, " a.doc ", "doc "));
  EXPECT_EQ(url, s.url("echo.asp?name=a.doc&type=doc"));
  EXPECT_EQ(s.seen->method, "POST");
  EXPECT_EQ(s.seen->query, "name=a.doc&type=doc");
  EXPECT_TRUE(s.seen->body.empty());
  EXPECT_FALSE(s.seen->has_content_type);
  EXPECT_TRUE(s.boxes().empty());

  // A name that would break the query reaches the page whole; an address
  // with a query of its own keeps it.
  url = s.url("echo.asp?formtoken=t1");
  EXPECT_TRUE(s.c.control.sendurltry(url, "报告 & 附件#1.doc", "doc"));
  EXPECT_EQ(s.seen->query.substr(0, 17), "formtoken=t1&name");
  EXPECT_EQ(s.boxes(), std::vector<std::string>{"|收到 报告 & 附件#1.doc"});

  // upload: the exact Content-Type, the file as the body, the answer shown
  // by the try variant.
  std::string folder = R"(d:\docs)";
  EXPECT_TRUE(s.c.control.uploadtry(s.url("echo.asp?name=x"), "a.doc", folder, ""));
  EXPECT_EQ(s.seen->content_type, "multipart/form-data");
  EXPECT_EQ(s.seen->body, "abc");
  EXPECT_EQ(s.boxes(), std::vector<std::string>{"|收到 x"});

  // A status other than 200 is false, and the try variant still shows the answer.
  url = s.url("nosuchpage.asp");
  EXPECT_FALSE(s.c.control.sendurltry(url, "a", "b"));
  EXPECT_EQ(s.boxes().size(), 1u);
}

TEST(Downloads, WriteTheBytesServedIntoTheirFolders) {
  Served s;
  const std::string body = bytes_of(40000);
  std::int64_t id = s.app.db().insert(
      "INSERT INTO fawen (filedata, filetype, documentname, writeid) VALUES (?, 'doc', 'a.doc', "
      "'zhang')",
      {db::Blob{body}});
  const std::string link = s.url("loadhg.asp?flowid=" + std::to_string(id));

  // Into the work folder, replacing a file of the same name.
  write(s.local(R"(c:\windows\temp\temp1234\a.doc)"), "old");
  EXPECT_TRUE(s.c.control.download(link, "a.doc"));
  EXPECT_EQ(read(s.local(R"(c:\windows\temp\temp1234\a.doc)")), body);

  // Into a named folder, made when missing; the caller's path gets its backslash.
  std::string spath = R"(d:\in\收文)";
  EXPECT_TRUE(s.c.control.downloadpathtry(link, "b.doc", spath));
  EXPECT_EQ(spath, R"(d:\in\收文\)");
  EXPECT_EQ(read(s.local(R"(d:\in\收文\b.doc)")), body);
  EXPECT_EQ(s.boxes().size(), 1u);

  // Refusals write nothing: a missing document, paths leaving their folders.
  struct Case {
    std::string url, name, folder;
  };
  for (const Case& k :
       {Case{s.url("loadhg.asp?flowid=999"), "c.doc", R"(d:\in)"},
        Case{link, "c.doc", R"(d:\in\..\..\x)"}, Case{link, R"(..\c.doc)", R"(d:\in)"}}) {
    std::string folder = k.folder;
    EXPECT_FALSE(s.c.control.downloadpath(k.url, k.name, folder)) << k.url << " " << k.folder;
  }
  EXPECT_FALSE(s.c.control.download(s.url("loadhg.asp?flowid=999"), "c.doc"));
  EXPECT_FALSE(s.c.control.download(link, R"(..\c.doc)"));
  EXPECT_FALSE(fs::exists(s.local(R"(d:\in\c.doc)")));
  EXPECT_FALSE(fs::exists(s.local(R"(c:\windows\temp\temp1234\c.doc)")));
  EXPECT_FALSE(fs::exists(s.c.dir / "drives" / "c.doc"));
}

TEST(MultipartUpload, SendsTheWireFormatTheParserReads) {
  Served s;
  write(s.local(R"(d:\up\报告.DOC)"), bytes_of(3000));
  write(s.local(R"(d:\up\b.txt)"), "\r\n--boundary-like\r\n");
  write(s.local(R"(c:\windows\temp\temp1234\zw.doc)"), "zw");
  write(s.local(R"(d:\dir\one.bin)"), "1");
  write(s.local(R"(d:\dir\sub\deep.bin)"), "not sent");
  auto& o = s.c.control;

  // Before initupload the lists refuse; missing files are refused.
  EXPECT_FALSE(o.addpara("a", "b"));
  EXPECT_FALSE(o.addfile(R"(d:\up\b.txt)"));
  EXPECT_TRUE(o.initupload());
  EXPECT_FALSE(o.addfile(R"(d:\up\none.txt)"));
  EXPECT_FALSE(o.addfile(R"(d:\up)"));
  EXPECT_FALSE(o.addzw("none.doc"));
  std::string missing = R"(d:\nodir)";
  EXPECT_FALSE(o.adddir(missing));

  // Files first, values after: values still precede files in the body.
  EXPECT_TRUE(o.addfile(R"(d:\up\报告.DOC)"));
  EXPECT_TRUE(o.addpara("title", "季度报告"));
  EXPECT_TRUE(o.addfile(R"(d:\up\b.txt)"));
  EXPECT_TRUE(o.addzw(" zw.doc "));
  std::string dir = R"(d:\dir)";
  EXPECT_TRUE(o.adddir(dir));
  EXPECT_EQ(dir, R"(d:\dir\)");
  EXPECT_TRUE(o.addpara("mailid", "7"));
  EXPECT_TRUE(o.uploadurl(s.url("parts.asp")));
  EXPECT_EQ(o.retmsg, "OK 已收到");

  EXPECT_EQ(s.seen->referer, s.url("parts.asp"));
  const std::string prefix = "multipart/form-data; boundary=" + std::string(27, '-') + "7d51";
  ASSERT_EQ(s.seen->content_type.substr(0, prefix.size()), prefix);
  const std::string token = s.seen->content_type.substr(prefix.size() - 4);
  EXPECT_GE(token.size(), 14u);
  std::vector<SentFile> sent = {{R"(d:\up\报告.DOC)", bytes_of(3000)},
                                {R"(d:\up\b.txt)", "\r\n--boundary-like\r\n"},
                                {R"(c:\windows\temp\temp1234\zw.doc)", "zw"},
                                {R"(d:\dir\one.bin)", "1"}};
  EXPECT_EQ(s.seen->body, control_body(token, {{"title", "季度报告"}, {"mailid", "7"}}, sent));

  using Fields = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(s.seen->fields, (Fields{{"filenum", "4"}, {"title", "季度报告"}, {"mailid", "7"}}));
  ASSERT_EQ(s.seen->files.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    const auto& f = s.seen->files[i];
    EXPECT_EQ(f.FormName, "file" + std::to_string(i + 1));
    EXPECT_EQ(f.FilePath + f.FileName, sent[i].path);
    EXPECT_EQ(f.FileMIME, "application/octet-stream");
    EXPECT_EQ(s.seen->file_bytes[i], sent[i].bytes);
  }
  EXPECT_EQ(s.seen->files[0].FileExt, "doc");

  // The lists stay until the next initupload; an empty upload is the count alone.
  EXPECT_EQ(o.filelist().size(), 4u);
  EXPECT_TRUE(o.initupload());
  EXPECT_TRUE(o.uploadurl(s.url("parts.asp")));
  const std::string t = s.seen->content_type.substr(prefix.size() - 4);
  EXPECT_EQ(s.seen->body, control_body(t, {}, {}));
}

TEST(MultipartUpload, AFileThatCannotBeReadSendsNothing) {
  Served s;
  write(s.local(R"(d:\up\a.txt)"), "a");
  auto& o = s.c.control;
  o.initupload();
  ASSERT_TRUE(o.addfile(R"(d:\up\a.txt)"));
  fs::remove(s.local(R"(d:\up\a.txt)"));
  EXPECT_THROW(o.uploadurl(s.url("parts.asp")), WordError);
  EXPECT_TRUE(s.seen->method.empty());
  ASSERT_EQ(s.c.messages.boxes.size(), 1u);
  EXPECT_EQ(s.c.messages.boxes[0].first, "GetBinary");
}

// A server that accepts connections and never answers.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 16);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~SilentServer() { ::close(fd_); }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  int fd_;
  unsigned short port_;
};

TEST(Transfers, EndOnAServerThatNeverAnswers) {
  SilentServer silent;
  LiveControl c;
  c.http.timeout_ms = 300;
  write(c.paths.map(R"(d:\a.doc)"), "abc");
  auto& o = c.control;
  std::string url = silent.url("/x.asp"), folder = R"(d:\)", spath = R"(d:\in)";
  EXPECT_FALSE(o.sendurltry(url, "a", "b"));
  EXPECT_FALSE(o.uploadtry(silent.url("/x.asp"), "a.doc", folder, ""));
  EXPECT_FALSE(o.downloadtry(silent.url("/x.doc"), "x.doc"));
  EXPECT_FALSE(o.downloadpathtry(silent.url("/x.doc"), "x.doc", spath));
  o.initupload();
  EXPECT_THROW(o.uploadurl(silent.url("/x.asp")), HttpError);
  EXPECT_EQ(o.retmsg, "");
  // No message box for a server that did not answer, also in the try variants.
  EXPECT_TRUE(c.messages.boxes.empty());
  EXPECT_EQ(c.messages.notes.size(), 4u);
}

TEST(Transfers, FollowRedirectsOnlyOnTheSameHost) {
  Served s;
  std::int64_t id = s.app.db().insert(
      "INSERT INTO fawen (filedata, filetype, documentname, writeid) VALUES ('body', 'doc', "
      "'a.doc', 'zhang')");
  const std::string target = "/tarvo/loadhg.asp?flowid=" + std::to_string(id);
  const std::string port = std::to_string(s.server.port());
  auto moved = [&](const std::string& to) { return s.url("moved.asp?to=" + text::url_encode(to)); };

  // Same scheme, host and port: followed.
  EXPECT_TRUE(s.c.control.download(moved(target), "same.doc"));
  EXPECT_EQ(read(s.local(R"(c:\windows\temp\temp1234\same.doc)")), "body");
  // Another host name, even for this machine, or another port: refused.
  for (const std::string& to : {"http://localhost:" + port + target, "http://127.0.0.1:1" + target,
                                "https://127.0.0.1:" + port + target}) {
    EXPECT_FALSE(s.c.control.download(moved(to), "other.doc")) << to;
    EXPECT_FALSE(fs::exists(s.local(R"(c:\windows\temp\temp1234\other.doc)")));
  }
  // A POST answered with a redirect is not a success.
  write(s.local(R"(d:\a.doc)"), "abc");
  std::string folder = R"(d:\)";
  EXPECT_FALSE(s.c.control.upload(moved(target), "a.doc", folder, ""));
}

}  // namespace
}  // namespace desk::web
