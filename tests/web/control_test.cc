// The control over the real word processor and pane: documents fetched over
// HTTP or taken from mapped paths, changed through the control and read back
// from disk; and officectl driving the same from a script.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <pugixml.hpp>
#include <thread>

#include "tests/support/docx_fixtures.h"
#include "tests/support/office_fakes.h"
#include "web/docx/document.h"
#include "web/office.h"
#include "web/pane.h"

namespace desk::web {
namespace {

using namespace desk::testing;

// Answers each connection on 127.0.0.1 with one canned response and keeps
// the request heads it saw.
class TinyServer {
 public:
  explicit TinyServer(std::string response) : response_(std::move(response)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        std::string head;
        char buf[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
          ssize_t n = ::read(c, buf, sizeof buf);
          if (n <= 0) break;
          head.append(buf, static_cast<std::size_t>(n));
        }
        requests.push_back(head);
        ::write(c, response_.data(), response_.size());
        ::close(c);
      }
    });
  }
  ~TinyServer() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<std::string> requests;

 private:
  std::string response_;
  int fd_;
  int port_ = 0;
  std::thread thread_;
};

std::string http_response(const std::string& status, const std::string& headers,
                          const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

std::size_t count(docx::Document& d, const std::string& part, const char* xpath) {
  pugi::xml_document x;
  std::string bytes = d.part_bytes(part);
  x.load_buffer(bytes.data(), bytes.size());
  return x.select_nodes(xpath).size();
}

TEST(Control, EditsThroughTheControlReachTheFileOnDisk) {
  LiveControl l;
  write_file(l.dir / "drives" / "d" / "in" / "report.docx", make_docx());
  write_file(l.paths.work() / "sign.jpg", read_file(test_data("sig.jpg")));
  l.control.writefile(R"(D:\in\report.docx)");
  l.loop.run_pending();
  ASSERT_TRUE(l.control.curdoc);
  EXPECT_EQ(l.control.docname(), "report.docx");
  EXPECT_TRUE(l.control.timer_enabled());

  l.control.SetUserName("张三");
  l.control.Emend();
  l.word->select(0, true);
  l.word->type_text(" world");
  l.control.insertpageno();
  l.control.signature(R"(c:\windows\temp\temp1234\sign.jpg)");
  l.control.SaveDoc();
  EXPECT_FALSE(l.control.curdoc);
  EXPECT_TRUE(l.messages.boxes.empty());
  EXPECT_TRUE(l.messages.notes.empty());

  auto saved = docx::Document::load(l.dir / "drives" / "d" / "in" / "report.docx");
  EXPECT_TRUE(saved.track_revisions());
  EXPECT_EQ(saved.text(saved.main_part()), "Hello world");
  EXPECT_EQ(count(saved, saved.main_part(),
                  "//w:ins[@w:author='张三' and @w:date='2024-05-06T07:08:09Z']"),
            2u);
  EXPECT_EQ(count(saved, saved.main_part(), "//wp:anchor"), 1u);
  EXPECT_EQ(saved.text(saved.header_part(0, docx::Story::header, docx::HeaderType::primary, false)),
            "1");
}

TEST(Control, TimerSavesTheEditsWhileThePageIsInactive) {
  LiveControl l;
  auto file = l.paths.work() / "a.docx";
  write_file(file, make_docx());
  l.control.writefile(R"(c:\windows\temp\temp1234\a.docx)");
  l.loop.run_pending();
  l.word->type_text("typed ");
  l.loop.wait_until(l.clock.now() + Millis(1500));
  EXPECT_EQ(docx::Document::load(file).text("word/document.xml"), "Hello");  // page active
  l.focus.set(FocusedWindow::kElsewhere);
  l.loop.wait_until(l.clock.now() + Millis(1000));
  EXPECT_EQ(docx::Document::load(file).text("word/document.xml"), "typed Hello");
}

TEST(Control, FetchesOverHttpIntoTheWorkFolder) {
  TinyServer server(http_response(
      "200 OK", "Content-Disposition: attachment; filename=\"draft 1.docx\"\r\n", make_docx()));
  LiveControl l;
  l.http.cookie = "DESKSID=abc";
  EXPECT_FALSE(l.control.openfile(server.url("/tarvo/loadhg.asp?flowid=3")));
  l.loop.run_pending();
  ASSERT_TRUE(l.control.curdoc);
  EXPECT_EQ(l.control.docname(), "draft 1.docx");
  EXPECT_TRUE(std::filesystem::exists(l.paths.work() / "draft 1.docx"));
  ASSERT_EQ(server.requests.size(), 1u);
  EXPECT_EQ(server.requests[0].rfind("GET /tarvo/loadhg.asp?flowid=3 HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(server.requests[0].find("Cookie: DESKSID=abc\r\n"), std::string::npos);
}

TEST(Control, FailedLoadsAreNotedAndShownInEditingMode) {
  TinyServer missing(http_response("404 Not Found", "", "gone"));
  TinyServer broken(http_response("200 OK", "", "not a docx"));
  struct Case {
    std::string address;
    const char* noted;
  } cases[] = {
      {missing.url("/x.docx"), "the server answered 404"},
      {broken.url("/x.docx"), "not a zip package"},
      {R"(d:\none.docx)", "cannot read"},
      {R"(d:\..\x.docx)", "\"..\" is not allowed"},
      {"ftp://host/x.docx", "not an absolute path"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    LiveControl l;
    l.control.writefile(c.address);
    l.loop.run_pending();
    EXPECT_FALSE(l.control.curdoc);
    EXPECT_EQ(l.messages.boxes.size(), 2u);
    ASSERT_FALSE(l.messages.notes.empty());
    EXPECT_NE(l.messages.notes[0].find(c.noted), std::string::npos) << l.messages.notes[0];
  }
}

TEST(Control, DownloadNamesStayInsideTheWorkFolder) {
  struct Case {
    const char* url;
    const char* disposition;
    const char* name;
  } cases[] = {
      {"http://h/a/b/report.docx?x=1", "", "report.docx"},
      {"http://h/%E5%85%AC%E6%96%87.docx", "", "公文.docx"},
      {"http://h/loadhg.asp", "attachment; filename=\"..\\..\\evil.docx\"", "evil.docx"},
      {"http://h/x", "inline; filename=a:b?.docx", "ab.docx"},
      {"http://h/..", "", "document.docx"},
      {"http://h/", "", "document.docx"},
  };
  for (const auto& c : cases) EXPECT_EQ(download_name(c.url, c.disposition), c.name) << c.url;
}

TEST(Officectl, RunsAScriptOfCalls) {
  ScratchDir dir;
  write_file(dir / "drives" / "d" / "a.docx", make_docx());
  write_file(dir / "s.txt",
             "' reading then editing\n"
             "SaveDoc\n"
             "openfile \"d:\\a.docx\"\n"
             "opentype\n"
             "UnProtect\n"
             "opentype = write\n"
             "docpane_DocumentComplete()\n"
             "SetUserName(\"li\")\n"
             "select 0 end\n"
             "type \" there\"\n"
             "show\n"
             "answer pagesetup 11906 16838 portrait 1440 1440 1800 1800\n"
             "pagesetup\n"
             "pagesetup\n"
             "Protect\n"
             "Protect\n"
             "nosuchcall\n"
             "Emend\n");
  std::string cmd = std::string(DESK_OFFICECTL) + " run " + (dir / "s.txt").string() +
                    " --drives " + (dir / "drives").string() + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(out,
            "[message] 错误！: 没有打开word或与word连接失败，请从新打开word！\n"
            "SaveDoc: ok\n"
            "openfile: False\n"
            "opentype = \"read\"\n"
            "UnProtect: ok\n"
            "opentype = \"write\"\n"
            "docpane_DocumentComplete: ok\n"
            "SetUserName: ok\n"
            "text: \"Hello there\"\n"
            "[dialog] page setup: 12240 x 15840 portrait, margins 1440 1440 1440 1440\n"
            "pagesetup: ok\n"
            "[dialog] page setup: 11906 x 16838 portrait, margins 1440 1440 1800 1800; cancelled\n"
            "pagesetup: ok\n"
            "Protect: ok\n"
            "Protect: error: the document is already protected\n");
  auto saved = docx::Document::load(dir / "drives" / "d" / "a.docx");
  EXPECT_EQ(saved.text("word/document.xml"), "Hello there");
  EXPECT_TRUE(saved.is_protected());
  EXPECT_EQ(saved.page_setup(0).width, 11906);
}

}  // namespace
}  // namespace desk::web
