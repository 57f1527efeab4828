// The control's life cycle against fakes of the pane, the word processor,
// message boxes, the clock and the active window.
#include <gtest/gtest.h>

#include "tests/support/docx_fixtures.h"
#include "tests/support/office_fakes.h"
#include "web/office.h"
#include "web/safety.h"

namespace desk::web {
namespace {

using namespace desk::testing;
using Calls = std::vector<std::string>;

const std::pair<std::string, std::string> kNoDocumentBox{"错误！", std::string(kNoDocument)};
const std::pair<std::string, std::string> kOpenFailedBox{"错误！", std::string(kOpenFailed)};

enum Events { download = 1, document = 2, both = 3 };

// One control with its fakes.
struct Rig {
  Rig() : control({pane, word, messages, loop, window, PathMap(dir / "drives", dir / "work")}) {}

  // The pane reports a finished load: download complete, during whose wait
  // document complete runs, as the real pane orders them.
  void complete(Events events) {
    if (events & document) loop.post([this] { pane.on_document_complete(); });
    if (events & download) pane.on_download_complete();
    loop.run_pending();
  }
  std::shared_ptr<FakeDocument> load(const std::string& mode, Events events = both) {
    auto doc = word->load("a.doc");
    mode == "read" ? (void)control.openfile("x") : control.writefile("x");
    complete(events);
    word->log->calls.clear();
    return doc;
  }

  ScratchDir dir;
  FakePane pane;
  std::shared_ptr<FakeWord> word = std::make_shared<FakeWord>();
  RecordingMessages messages;
  FakeClock clock;
  MessageLoop loop{clock};
  FakeWindow window;
  office control;
};

TEST(Office, LoadSetsUpReadingOrEditingModeByHandler) {
  struct Case {
    const char* opentype;
    Events events;
    bool tracked;         // revisions marked and shown
    bool two_disabled;    // standard control 2 disabled
    bool three_disabled;  // standard control 3 disabled
    bool timer;
  } cases[] = {
      {"read", download, true, true, true, false},
      {"read", document, true, true, false, true},
      {"read", both, true, true, true, true},
      {"write", download, false, true, false, false},
      {"write", document, false, true, true, true},
      {"READ", document, false, true, true, true},  // capitals are editing mode
      {"", download, false, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.opentype) + " events " + std::to_string(c.events));
    Rig r;
    Rig* f = &r;
    auto doc = f->word->load("a.doc");
    doc->track = doc->show = !c.tracked;
    f->control.opentype = c.opentype;
    f->window.handle = 7;
    Millis start = f->clock.now();
    f->complete(c.events);
    EXPECT_EQ(f->control.curdoc, doc);
    EXPECT_EQ(f->control.app, f->word);
    EXPECT_EQ(doc->track, c.tracked);
    EXPECT_EQ(doc->show, c.tracked);
    EXPECT_EQ(!doc->bars.enabled("standard", 2), c.two_disabled);
    EXPECT_EQ(!doc->bars.enabled("standard", 3), c.three_disabled);
    EXPECT_TRUE(doc->bars.enabled("standard", 4));
    for (const char* bar : {"standard", "formatting", "tables and borders"})
      EXPECT_TRUE(doc->bars.visible(bar)) << bar;
    EXPECT_EQ(f->control.docname(), "a.doc");
    EXPECT_EQ(f->control.timer_enabled(), c.timer);
    EXPECT_TRUE(f->messages.boxes.empty());
    if (c.timer) {
      EXPECT_EQ(f->control.docwindow(), 7u);
    }
    // The download handler waits two seconds, letting the other handler run.
    EXPECT_EQ(f->clock.now() - start, (c.events & download) ? Millis(2000) : Millis(0));
  }
}

TEST(Office, WordMissingShowsTheMessageOncePerHandlerInEditingModeOnly) {
  Rig r;
  struct Case {
    const char* opentype;
    bool unreachable;  // else the word processor runs with no active document
    std::size_t boxes;
  } cases[] = {{"read", true, 0}, {"read", false, 0}, {"write", true, 2}, {"READ", false, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.opentype);
    r.messages.boxes.clear();
    r.word->active.reset();
    r.word->unreachable = c.unreachable;
    r.control.opentype = c.opentype;
    r.complete(both);
    EXPECT_EQ(r.messages.boxes, std::vector(c.boxes, kOpenFailedBox));
    EXPECT_FALSE(r.control.curdoc);
    EXPECT_FALSE(r.control.app);
    EXPECT_EQ(r.control.docname(), "");
  }
  // A failed load in editing mode keeps the earlier document and name.
  r.word->unreachable = false;
  auto doc = r.load("write");
  r.word->active.reset();
  r.control.writefile("y");
  r.complete(both);
  EXPECT_EQ(r.control.curdoc, doc);
  EXPECT_EQ(r.control.docname(), "a.doc");
}

TEST(Office, OpenfileAndWritefileOnlyStartTheLoad) {
  Rig r;
  r.word->load("a.doc");
  EXPECT_FALSE(r.control.openfile("http://host/loadhg.asp?id=3"));
  EXPECT_EQ(r.control.opentype, "read");
  EXPECT_EQ(r.control.fileurl(), "http://host/loadhg.asp?id=3");
  r.complete(both);
  EXPECT_TRUE(r.control.curdoc);  // loaded, and still the result was false
  r.control.writefile("d:\\b.doc");
  EXPECT_EQ(r.control.opentype, "write");
  EXPECT_EQ(r.pane.navigations, (Calls{"http://host/loadhg.asp?id=3", "d:\\b.doc"}));
}

TEST(Office, TimerSavesWhileThePageIsInactiveAndReloadsWhenWordShowsAnotherDocument) {
  Rig r;
  auto doc = r.load("write", document);
  ASSERT_TRUE(r.control.timer_enabled());
  r.window.handle = 8;  // another window is active
  r.loop.wait_until(r.clock.now() + Millis(3500));
  EXPECT_EQ(r.word->log->calls, (Calls{"save a.doc", "save a.doc", "save a.doc"}));
  r.window.handle = 7;
  r.loop.wait_until(r.clock.now() + Millis(2000));
  EXPECT_EQ(r.word->log->calls.size(), 3u);
  EXPECT_TRUE(r.pane.navigations.size() == 1);

  // A failing save is noted; the page goes on.
  r.word->log->fail = "save";
  r.window.handle = 8;
  r.loop.wait_until(r.clock.now() + Millis(1000));
  EXPECT_EQ(r.messages.notes.size(), 1u);
  r.word->log->fail.clear();

  // Inactive and another document shown: neither save nor reload.
  doc->rename("other.doc");
  r.loop.wait_until(r.clock.now() + Millis(2000));
  EXPECT_EQ(r.pane.navigations.size(), 1u);
  // Active again: the timer stops and the document is loaded afresh.
  r.window.handle = 7;
  r.loop.wait_until(r.clock.now() + Millis(1000));
  EXPECT_FALSE(r.control.timer_enabled());
  EXPECT_EQ(r.pane.navigations, (Calls{"x", "x"}));
}

TEST(Office, SaveDocLetsGoAndEveryOperationThenShowsTheNoDocumentMessage) {
  Rig r;
  auto doc = r.load("write");
  r.control.SaveDoc();
  EXPECT_EQ(r.word->log->calls, (Calls{"save a.doc"}));
  EXPECT_TRUE(doc->bars.enabled("standard", 2));
  EXPECT_TRUE(doc->bars.enabled("standard", 3));
  EXPECT_FALSE(r.control.curdoc);
  EXPECT_FALSE(r.control.app);

  std::pair<const char*, std::function<void()>> ops[] = {
      {"SaveDoc", [&] { r.control.SaveDoc(); }},
      {"SaveAs", [&] { r.control.SaveAs(); }},
      {"Emend", [&] { r.control.Emend(); }},
      {"UnEmend", [&] { r.control.UnEmend(); }},
      {"Protect", [&] { r.control.Protect(); }},
      {"UnProtect", [&] { r.control.UnProtect(); }},
      {"pagehead", [&] { r.control.pagehead(); }},
      {"pagefoot", [&] { r.control.pagefoot(); }},
      {"insertpageno", [&] { r.control.insertpageno(); }},
      {"pagesetup", [&] { r.control.pagesetup(); }},
      {"printout", [&] { r.control.printout(); }},
      {"SetUserName", [&] { r.control.SetUserName("li"); }},
      {"signature", [&] { r.control.signature("c:\\windows\\temp\\temp1234\\s.jpg"); }},
  };
  for (auto& [name, op] : ops) {
    r.messages.boxes.clear();
    r.word->log->calls.clear();
    op();
    EXPECT_EQ(r.messages.boxes, std::vector{kNoDocumentBox}) << name;
    EXPECT_TRUE(r.word->log->calls.empty()) << name;
  }
}

TEST(Office, OperationsMakeTheirWordCallsInOrder) {
  Rig r;
  std::string picture = (r.dir / "work" / "sign.jpg").string();
  struct Case {
    const char* name;
    std::function<void(office&)> op;
    Calls calls;
  } cases[] = {
      {"Emend", [](office& o) { o.Emend(); }, {"accept", "track 1", "show 1"}},
      {"UnEmend", [](office& o) { o.UnEmend(); }, {"track 0", "show 0"}},
      {"Protect", [](office& o) { o.Protect(); }, {"protect 1 0 kvq"}},
      {"UnProtect", [](office& o) { o.UnProtect(); }, {"unprotect kvq"}},
      {"pagehead", [](office& o) { o.pagehead(); }, {"seek 9"}},
      {"pagefoot", [](office& o) { o.pagefoot(); }, {"seek 10"}},
      {"insertpageno", [](office& o) { o.insertpageno(); }, {"pagenumbers 1 1"}},
      {"pagesetup", [](office& o) { o.pagesetup(); }, {"dialog 178"}},
      {"printout", [](office& o) { o.printout(); }, {"print"}},
      {"SetUserName", [](office& o) { o.SetUserName("张三"); }, {"username 张三"}},
      {"SaveAs",
       [](office& o) { o.SaveAs(); },
       {"saveas " + (r.dir / "drives" / "c" / "template1.doc").string()}},
      // The earlier inline picture is converted too.
      {"signature",
       [](office& o) { o.signature(R"(C:\Windows\Temp\temp1234\sign.jpg)"); },
       {"picture " + picture + " 0 1", "convert 2", "convert 1"}},
  };
  for (const auto& c : cases) {
    auto doc = r.load("write");
    doc->inline_shapes = 1;
    c.op(r.control);
    EXPECT_EQ(r.word->log->calls, c.calls) << c.name;
    EXPECT_TRUE(r.messages.boxes.empty()) << c.name;
  }
  EXPECT_TRUE(std::filesystem::is_directory(r.dir / "drives" / "c"));
}

TEST(Office, WordErrorsReachTheScriptAndChangeNothing) {
  Rig r;
  auto doc = r.load("write");
  r.word->log->fail = "protect";
  EXPECT_THROW(r.control.Protect(), WordError);
  EXPECT_EQ(r.control.curdoc, doc);
  EXPECT_THROW(r.control.signature("relative\\sign.jpg"), PathError);
  EXPECT_THROW(r.control.signature("c:\\windows\\temp\\temp1234\\..\\..\\x.jpg"), PathError);
  EXPECT_TRUE(r.messages.boxes.empty());
}

TEST(Office, DelfileEmptiesAndRemovesTheWorkFolder) {
  Rig r;
  auto work = r.dir / "work";
  r.control.delfile();  // no folder: nothing happens
  EXPECT_TRUE(r.messages.notes.empty());
  write_file(work / "a.doc", "x");
  write_file(work / "b.jpg", "y");
  r.control.delfile();
  EXPECT_FALSE(std::filesystem::exists(work));
  write_file(work / "c.doc", "z");
  write_file(work / "sub" / "keep.txt", "k");
  r.control.delfile();  // the folder cannot go: noted, not raised
  EXPECT_FALSE(std::filesystem::exists(work / "c.doc"));
  EXPECT_TRUE(std::filesystem::exists(work / "sub" / "keep.txt"));
  EXPECT_EQ(r.messages.notes.size(), 1u);
}

TEST(Office, ClosedocQuitsThePaneOnly) {
  Rig r;
  auto doc = r.load("write");
  r.control.closedoc();
  EXPECT_EQ(r.pane.quits, 1);
  EXPECT_EQ(r.control.curdoc, doc);
  r.control.resize(640, 480);
  EXPECT_EQ(r.pane.bounds, (std::vector<int>{0, 0, 640, 480}));
}

TEST(OfficeSafety, InterfaceSafetyOptions) {
  using namespace safety;
  const std::string dispatch = "{00020400-0000-0000-c000-000000000046}";
  const std::string bag = "37D84F60-42CB-11CE-8135-00AA004BB851";
  const std::string stream(kIPersistStream), storage(kIPersistStorage);
  const std::string other = "{00000000-0000-0000-C000-000000000046}";
  struct Get {
    const std::string* riid;
    HRESULT result;
    std::uint32_t enabled;
  } gets[] = {{nullptr, kOk, 99}, {&dispatch, kOk, 1}, {&bag, kOk, 2},
              {&stream, kOk, 2},  {&storage, kOk, 2},  {&other, kNoInterface, 99}};
  for (const auto& g : gets) {
    std::uint32_t supported = 0, enabled = 99;
    EXPECT_EQ(GetInterfaceSafetyOptions(g.riid, supported, enabled), g.result);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, g.enabled);
  }
  struct Set {
    const std::string* riid;
    std::uint32_t mask, options;
    HRESULT result;
  } sets[] = {{nullptr, 3, 3, kOk},    {&dispatch, 1, 1, kOk},      {&dispatch, 3, 3, kFail},
              {&dispatch, 3, 1, kOk},  {&dispatch, 2, 2, kFail},    {&bag, 2, 2, kOk},
              {&storage, 3, 3, kFail}, {&other, 1, 1, kNoInterface}};
  for (const auto& s : sets)
    EXPECT_EQ(SetInterfaceSafetyOptions(s.riid, s.mask, s.options), s.result)
        << (s.riid ? *s.riid : "null") << " " << s.mask << " " << s.options;
}

TEST(OfficePaths, WindowsPathsMapIntoTheirFoldersOnly) {
  ScratchDir dir;
  PathMap map(dir / "drives", dir / "work");
  struct Case {
    const char* path;
    std::filesystem::path expected;  // empty: refused
  } cases[] = {
      {R"(c:\windows\temp\temp1234)", dir / "work"},
      {R"(C:\WINDOWS\Temp\TEMP1234\a.doc)", dir / "work" / "a.doc"},
      {"c:/windows/temp/temp1234/sub/b.doc", dir / "work" / "sub" / "b.doc"},
      {R"(c:\template1.doc)", dir / "drives" / "c" / "template1.doc"},
      {R"(D:\in\.\x.doc)", dir / "drives" / "d" / "in" / "x.doc"},
      {R"(c:\windows\temp\temp12345\a)",
       dir / "drives" / "c" / "windows" / "temp" / "temp12345" / "a"},
      {R"(c:\windows\temp\temp1234\..\..\x)", ""},
      {R"(\\server\share\x)", ""},
      {R"(a.doc)", ""},
      {R"(c:a.doc)", ""},
      {R"(c:\a.doc:stream)", ""},
      {"c:\\a\x01.doc", ""},
  };
  for (const auto& c : cases) {
    if (c.expected.empty())
      EXPECT_THROW(map.map(c.path), PathError) << c.path;
    else
      EXPECT_EQ(map.map(c.path), c.expected) << c.path;
  }
  // A link inside a drive folder cannot lead out of it.
  std::filesystem::create_directories(dir / "drives" / "d");
  std::filesystem::create_directory_symlink(dir.path(), dir / "drives" / "d" / "up");
  EXPECT_THROW(map.map(R"(d:\up\work\a.doc)"), PathError);
}

}  // namespace
}  // namespace desk::web
