// The upload component: file records of the control's body, refusals,
// extension checks, saves confined to the application folder, concurrent
// AutoSave, and a hosting page that uses it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "core/text.h"
#include "server/files/upload.h"
#include "tests/support/multipart_body.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

namespace fs = std::filesystem;
using files::Upload;
using testing::SentFile;
using testing::TestApp;
using namespace std::string_literals;

const std::string kToken = "7d510424800931";

// One posted request with its component, created by ProgID.
struct Posted {
  asp::Request request;
  asp::Response response;
  asp::Session session;
  asp::ScriptingContext ctx;
  asp::ComponentRef<Upload> up;

  Posted(TestApp& app, std::string body)
      : request(init(std::move(body))),
        session(&app.env().sessions, ""),
        ctx(app.env(), request, response, session),
        up(ctx.server().CreateObject<Upload>("deskserver.upload")) {}

  static asp::Request::Init init(std::string body) {
    asp::Request::Init i;
    i.method = "POST";
    i.script_name = "/tarvo/upload.asp";
    i.headers = {{"Content-Type", testing::control_content_type(kToken)}};
    i.body = std::move(body);
    return i;
  }
};

std::string control(const std::vector<SentFile>& files) {
  return testing::control_body(kToken, {{"title", "t"}}, files);
}

std::string read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Files in `dir` whose names start with a full stop (the save's temporaries).
int hidden_files(const fs::path& dir) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string()[0] == '.') ++n;
  return n;
}

struct UploadTest : ::testing::Test {
  TestApp app;
  fs::path up_dir = app.dir() / "up";
  fs::path outside = app.dir().parent_path() / (app.dir().filename().string() + "-outside");
  UploadTest() {
    fs::create_directories(up_dir);
    fs::create_directories(outside);
  }
  ~UploadTest() override { fs::remove_all(outside); }
};

TEST_F(UploadTest, GetDataRefusalsAndOnce) {
  Posted empty(app, "");
  empty.up->GetData(0);
  EXPECT_EQ(empty.up->isErr(), 1);
  EXPECT_EQ(empty.up->ErrMessage(), "没有数据上传");
  EXPECT_EQ(empty.up->File(), nullptr);

  // A body of exactly MaxSize is taken, one byte more is not.
  std::string body = control({{"C:\\a.doc", ""}});
  body = control({{"C:\\a.doc", std::string(5000000 - body.size(), 'x')}});
  ASSERT_EQ(body.size(), 5000000u);
  Posted exact(app, body);
  exact.up->GetData(5000000);
  EXPECT_EQ(exact.up->isErr(), 0);
  ASSERT_NE(exact.up->File("file1"), nullptr);
  Posted over(app, body);
  over.up->GetData(4999999);
  EXPECT_EQ(over.up->isErr(), 2);
  EXPECT_EQ(over.up->ErrMessage(), "上传的数据超出限制大小");
  EXPECT_EQ(over.up->File(), nullptr);

  // A second call changes nothing, even with a ceiling the body is over.
  exact.up->GetData(10);
  EXPECT_EQ(exact.up->isErr(), 0);

  // A malformed body lists no file, so nothing of it can be saved.
  Posted cut(app, body.substr(0, body.size() - 3));
  cut.up->GetData(0);
  EXPECT_EQ(cut.up->isErr(), 4);
  EXPECT_EQ(cut.up->fault(), multipart::Fault::truncated);
  ASSERT_NE(cut.up->File(), nullptr);
  EXPECT_EQ(cut.up->File()->Count(), 0u);
  cut.up->AllowExt("doc");
  EXPECT_EQ(cut.up->SaveToFile("file1", "up/a.doc"), "");
  EXPECT_EQ(cut.up->isErr(), 7);
  EXPECT_FALSE(fs::exists(up_dir / "a.doc"));
}

TEST_F(UploadTest, FileRecords) {
  const std::string bytes = "DOC\r\n--\0x"s;
  std::string body =
      control({{"C:\\Docs\\报告.DOC", bytes}, {"..\\..\\README", "r"}, {"/home/u/x.tar.gz", ""}});
  Posted p(app, body);
  p.up->GetData(0);
  ASSERT_EQ(p.up->isErr(), 0);
  ASSERT_EQ(p.up->File()->Count(), 3u);
  const files::FileInfo_Class* f = p.up->File("FILE1");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->FormName, "file1");
  EXPECT_EQ(f->FileName, "报告.DOC");
  EXPECT_EQ(f->FilePath, "C:\\Docs\\");
  EXPECT_EQ(f->FileExt, "doc");
  EXPECT_EQ(f->FileMIME, "application/octet-stream");
  EXPECT_EQ(body.substr(f->FileStart, f->filesize), bytes);
  EXPECT_EQ(p.up->File("file2")->FileName, "README");
  EXPECT_EQ(p.up->File("file2")->FileExt, "");
  EXPECT_EQ(p.up->File("file3")->FileExt, "gz");
  EXPECT_EQ(p.up->File("file3")->filesize, 0u);
  EXPECT_EQ(p.up->File("title"), nullptr);  // a field, not a file
  EXPECT_EQ(p.request.Form("title"), "t");
  EXPECT_EQ(p.up->version(), "TARVO-Upload");

  // Two files under one name: the first stays. A two-letter field name is a file too.
  const std::string raw = testing::raw_body(
      "b", {{{"Content-Disposition: form-data; name=\"f\"; filename=\"one.doc\""}, "1"},
            {{"Content-Disposition: form-data; name=\"F\"; filename=\"two.doc\""}, "2"},
            {{"Content-Disposition: form-data; name=\"ab\"; filename=\"c.doc\""}, "3"}});
  Posted dup(app, raw);
  dup.up->GetData(0);
  EXPECT_EQ(dup.up->File("f")->FileName, "one.doc");
  ASSERT_NE(dup.up->File("ab"), nullptr);
  dup.up->AllowExt("doc");
  EXPECT_EQ(dup.up->filedata("AB"), "3");
}

// Extensions of client names of every length, folders and trailing full
// stops included, as recorded and as checked against a deny list.
TEST_F(UploadTest, ExtensionsOfNamesOfEveryLength) {
  std::vector<SentFile> sent;
  std::vector<std::string> exts;
  for (std::size_t n = 1; n <= 40; ++n) {
    const std::string ext = n % 3 == 0 ? "docx" : n % 3 == 1 ? "PDF" : "asp";
    std::string name = std::string(n, 'a') + "." + ext + (n % 4 == 0 ? ". " : "");
    if (n % 5 == 0) name = "C:\\folder\\" + name;
    sent.push_back({name, "x"});
    exts.push_back(text::to_lower(ext));
  }
  Posted p(app, control(sent));
  p.up->NoAllowExt("asp");
  p.up->GetData(0);
  ASSERT_EQ(p.up->File()->Count(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    const std::string item = "file" + std::to_string(i + 1);
    EXPECT_EQ(p.up->File(item)->FileExt, exts[i]) << sent[i].path;
    EXPECT_EQ(p.up->filedata(item).empty(), exts[i] == "asp") << sent[i].path;
  }
}

TEST(UploadPaths, SplittingKeepsItsRules) {
  struct Case {
    std::string in, path, name, ext;
  };
  const Case cases[] = {
      {"C:\\Docs\\报告.DOC", "C:\\Docs\\", "报告.DOC", "doc"},
      {"C:\\Temp\\README", "C:\\Temp\\", "README", "c:\\temp\\readme"},
      {"/srv/app/up/a.b.TXT", "/srv/app/up/", "a.b.TXT", "txt"},
      {"name", "", "name", "name"},
      {"dir\\", "dir\\", "", "dir\\"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Upload::GetFilePath(c.in), c.path) << c.in;
    EXPECT_EQ(Upload::GetFileName(c.in), c.name) << c.in;
    EXPECT_EQ(Upload::GetFileExt(c.in), c.ext) << c.in;
  }
}

TEST_F(UploadTest, ExtensionChecks) {
  struct Case {
    std::string allow, deny, ext;
    bool pass;
  };
  const Case cases[] = {
      {"doc;xls", "", "doc", true},
      {"doc;xls", "", "docx", false},
      {"doc;xls", "", "do", false},
      {"DOC;Xls", "", "xLS", true},
      {"doc;xls", "", "doc. ", true},
      {"doc;xls", "", "", false},
      {"doc;xls", "", "doc;xls", false},
      {"doc", "exe;asp", "jpg", true},
      {"doc", "exe;asp", "ASP", false},
      {"", "exe;asp", "asp.", false},
      {"", "exe;asp", "asp  ", false},
      {"", "exe;asp", "a p", false},
      {"", "exe;asp", "", true},
      {"", "", "", true},
      {"", "", "doc", false},
      {"", "exe", "c:\\temp\\readme", false},
  };
  Posted p(app, "");
  for (const Case& c : cases) {
    p.up->AllowExt(c.allow);
    p.up->NoAllowExt(c.deny);
    EXPECT_EQ(p.up->isAllowExt(c.ext), c.pass) << c.allow << "|" << c.deny << "|" << c.ext;
  }
  EXPECT_EQ(p.up->AllowExt(), "");
  p.up->AllowExt("DOC");
  EXPECT_EQ(p.up->AllowExt(), "doc");

  // Names sent by the client: case, trailing full stops or blanks and a
  // second extension do not get past the lists.
  struct Sent {
    std::string allow, deny, path;
    bool pass;
  };
  const Sent sent[] = {
      {"", "asp", "evil.ASP", false},    {"", "asp", "evil.asp.", false},
      {"", "asp", "evil.asp . ", false}, {"", "asp", "evil.asp.jpg", false},
      {"", "asp", "ok.v2.jpg", true},    {"jpg", "", "evil.jpg.asp", false},
      {"jpg", "", "Photo.JPG", true},    {"jpg", "", "noext", false},
  };
  for (const Sent& s : sent) {
    Posted q(app, control({{s.path, "x"}}));
    q.up->GetData(0);
    q.up->AllowExt(s.allow);
    q.up->NoAllowExt(s.deny);
    std::string folder = "up/";
    const std::string name = q.up->AutoSave("file1", folder);
    EXPECT_EQ(!name.empty(), s.pass) << s.path;
    EXPECT_EQ(q.up->isErr(), s.pass ? 0 : 3) << s.path;
    EXPECT_EQ(q.up->filedata("file1").empty(), !s.pass) << s.path;
    // The target's extension decides for SaveToFile.
    EXPECT_EQ(q.up->SaveToFile("file1", "up/" + s.path).empty(), !s.pass) << s.path;
  }
}

TEST_F(UploadTest, SaveToFileAndAutoSave) {
  std::string body = control({{"C:\\x\\a.doc", "DATA"}, {"C:\\x\\zero.doc", ""}});
  Posted p(app, body);
  p.up->GetData(0);
  p.up->AllowExt("doc");

  // The target's extension decides, not the sent file's.
  EXPECT_EQ(p.up->SaveToFile("file1", "up/a.exe"), "");
  EXPECT_EQ(p.up->isErr(), 3);
  EXPECT_EQ(p.up->ErrMessage(), "该后缀名的文件不允许上传!");
  std::ofstream(up_dir / "a.doc") << "old";
  EXPECT_EQ(p.up->SaveToFile("file1", (up_dir / "a.doc").string()), "a.doc");
  EXPECT_EQ(p.up->isErr(), 0);
  EXPECT_EQ(p.up->ErrMessage(), "该后缀名的文件不允许上传!");  // the message stays
  EXPECT_EQ(read(up_dir / "a.doc"), "DATA");
  EXPECT_EQ(p.up->SaveToFile("file1", "up\\b.doc.. "), "b.doc");
  EXPECT_EQ(read(up_dir / "b.doc"), "DATA");

  std::string path = "up/anything.txt";
  const std::string name = p.up->AutoSave("file1", path);
  EXPECT_EQ(path, "up/");
  ASSERT_EQ(name.size(), 23u);
  EXPECT_EQ(name.substr(0, 14), "20061203153045");
  EXPECT_EQ(name.substr(19), ".doc");
  EXPECT_EQ(read(up_dir / name), "DATA");

  std::string zero_dir = "up/";
  EXPECT_EQ(read(up_dir / p.up->AutoSave("file2", zero_dir)), "");
  EXPECT_EQ(p.up->SaveToFile("file9", "up/n.doc"), "");
  EXPECT_EQ(p.up->isErr(), 7);
  EXPECT_EQ(p.up->filedata("file1"), "DATA");
  EXPECT_EQ(p.up->filedata("nofile"), "");

  // A write that fails (the target is a folder) reports 6 and leaves nothing.
  fs::create_directories(up_dir / "dir.doc" / "sub");
  EXPECT_EQ(p.up->SaveToFile("file1", "up/dir.doc"), "");
  EXPECT_EQ(p.up->isErr(), 6);
  EXPECT_EQ(hidden_files(up_dir), 0);
}

TEST_F(UploadTest, SavesStayInsideTheApplicationFolder) {
  fs::create_symlink(outside, up_dir / "out");
  std::ofstream(outside / "victim.doc") << "keep";
  fs::create_symlink(outside / "victim.doc", up_dir / "link.doc");
  // Codes of SaveToFile to the target, and of AutoSave into its folder.
  struct Case {
    std::string target;
    int save, autosave;
  };
  const Case cases[] = {
      {"../x.doc", 5, 5},       {"up/../../x.doc", 5, 5},
      {"up/../up/x.doc", 5, 5}, {(outside / "x.doc").string(), 5, 5},
      {"/etc/x.doc", 5, 5},     {"up/out/x.doc", 5, 5},
      {"up/link.doc", 5, 0},    {"nofolder/x.doc", 6, 6},
      {"up/inside.doc", 0, 0},  {(up_dir / "abs.doc").string(), 0, 0},
  };
  Posted p(app, control({{"C:\\a.doc", "DATA"}}));
  p.up->GetData(0);
  p.up->AllowExt("doc");
  for (const Case& c : cases) {
    EXPECT_EQ(p.up->SaveToFile("file1", c.target).empty(), c.save != 0) << c.target;
    EXPECT_EQ(p.up->isErr(), c.save) << c.target;
    std::string folder = c.target;
    EXPECT_EQ(p.up->AutoSave("file1", folder).empty(), c.autosave != 0) << c.target;
    EXPECT_EQ(p.up->isErr(), c.autosave) << c.target;
  }
  EXPECT_EQ(read(outside / "victim.doc"), "keep");
  EXPECT_EQ(std::distance(fs::directory_iterator(outside), {}), 1);
  EXPECT_FALSE(fs::exists(app.dir().parent_path() / "x.doc"));
  EXPECT_EQ(hidden_files(up_dir), 0);

  // A client path is never a path on the server.
  Posted evil(app, control({{"..\\..\\..\\x.doc", "E"}, {"../../y.doc", "F"}}));
  evil.up->GetData(0);
  evil.up->AllowExt("doc");
  EXPECT_EQ(evil.up->File("file1")->FileName, "x.doc");
  EXPECT_EQ(evil.up->File("file2")->FileName, "y.doc");
  std::string folder = "up/";
  EXPECT_EQ(read(up_dir / evil.up->AutoSave("file2", folder)), "F");
}

TEST_F(UploadTest, ConcurrentAutoSavesNeverShareAName) {
  // Every request draws the same random numbers on the same second, so each
  // name is contested by all threads at once; each must end up with its own
  // files, whole.
  constexpr int kThreads = 8, kFiles = 10;
  std::vector<std::vector<std::string>> names(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      Posted p(app, control({{"C:\\a.doc", "thread " + std::to_string(t)}}));
      p.up->random_source = [n = 0u]() mutable { return n++; };
      p.up->GetData(0);
      p.up->AllowExt("doc");
      for (int i = 0; i < kFiles; ++i) {
        std::string folder = "up/";
        names[t].push_back(p.up->AutoSave("file1", folder));
      }
    });
  for (auto& th : threads) th.join();
  std::set<std::string> all;
  for (int t = 0; t < kThreads; ++t)
    for (const std::string& n : names[t]) {
      ASSERT_FALSE(n.empty());
      all.insert(n);
      EXPECT_EQ(read(up_dir / n), "thread " + std::to_string(t));
    }
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kFiles));
  EXPECT_EQ(std::distance(fs::directory_iterator(up_dir), {}), kThreads * kFiles);
}

TEST_F(UploadTest, AHostingPageUsesItThroughTheHost) {
  app.db().exec("INSERT INTO sysconfig (type, maxsize) VALUES (1, 2000)");
  app.add_user("zhang", "张三", "pw");
  app.registry().add_page(
      {"uptest.asp",
       [](asp::ScriptingContext& ctx) {
         auto up = ctx.server().CreateObject<Upload>("deskserver.upload");
         up->AllowExt("doc;txt");
         up->GetData(static_cast<long long>(asp::upload_ceiling(ctx.session(), ctx.config())));
         if (up->isErr()) return ctx.response().Write(up->ErrMessage());
         for (const files::FileInfo_Class& f : *up->File()) {
           std::string folder = ctx.server().MapPath("up").string() + "/";
           ctx.response().Write(f.FileName + ">" + up->AutoSave(f.FormName, folder) + ";");
         }
         ctx.response().Write("token=" + ctx.request().Form("token"));
       },
       asp::Access::login, true});
  testing::Browser b(app);
  ASSERT_TRUE(b.login("zhang", "pw"));
  const std::string body =
      testing::control_body(kToken, {{"token", "once-42"}}, {{"C:\\我的.doc", "D"}});
  auto r = b.post_raw("uptest.asp", body, testing::control_content_type(kToken));
  ASSERT_EQ(r.status, 200);
  const std::string text = testing::text_of(r);
  EXPECT_NE(text.find("我的.doc>20061203153045"), std::string::npos) << text;
  EXPECT_NE(text.find(".doc;token=once-42"), std::string::npos) << text;
  auto big = b.post_raw("uptest.asp",
                        testing::control_body(kToken, {}, {{"C:\\a.doc", std::string(2000, 'x')}}),
                        testing::control_content_type(kToken));
  EXPECT_EQ(testing::text_of(big), "上传的数据超出限制大小");
  auto head = app.make("POST", "/tarvo/uptest.asp");
  head.headers.emplace_back("Cookie", std::string(asp::kSessionCookie) + "=" + b.session_token());
  EXPECT_EQ(app.host().body_limit(head), 2000u);
}

}  // namespace
}  // namespace desk
