// The PDF service with a stand-in for LibreOffice (a shell script): one
// conversion per version, failures kept with their reason, the time limit,
// the bounded queue, and bytes that are no document never reaching it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <random>
#include <thread>

#include "platform/convert/convert.h"

namespace desk::convert {
namespace {

namespace fs = std::filesystem;

struct Scratch {
  fs::path dir;
  Scratch() {
    std::random_device rd;
    dir = fs::temp_directory_path() / ("convtest-" + std::to_string(rd()));
    fs::create_directories(dir);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  // A converter that appends to "runs", waits `seconds`, then writes a PDF
  // (or nothing) into its --outdir.
  std::string program(int seconds, bool makes_pdf) {
    fs::path p = dir / ("soffice-" + std::to_string(seconds) + (makes_pdf ? "y" : "n"));
    std::ofstream(p) << "#!/bin/sh\necho run >> '" << (dir / "runs").string() << "'\n"
                     << "sleep " << seconds << "\n"
                     << "while [ \"$1\" != --outdir ]; do shift; done\n"
                     << (makes_pdf ? "printf '%%PDF-1.4 test' > \"$2/body.pdf\"\n" : "")
                     << "exit 0\n";
    ::chmod(p.c_str(), 0755);
    return p.string();
  }
  int runs() {
    std::ifstream in(dir / "runs");
    int n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
  }
};

const std::string kDocx = std::string("PK\x03\x04", 4) + "rest of a package";

TEST(PdfService, ConvertsAVersionOnceAndKeepsItsResult) {
  Scratch s;
  PdfService service({s.program(0, true), std::chrono::seconds(20), 4});
  const fs::path cache = s.dir / "cache";
  const std::string key = version_key(kDocx);
  int loads = 0;
  auto load = [&] {
    ++loads;
    return kDocx;
  };
  EXPECT_EQ(service.request(cache, key, load).state, State::pending);
  EXPECT_NE(service.request(cache, key, load).state, State::failed);
  service.drain();
  Outcome o = service.request(cache, key, load);
  ASSERT_EQ(o.state, State::ready);
  std::ifstream in(o.pdf);
  std::string head(5, '\0');
  in.read(head.data(), 5);
  EXPECT_EQ(head, "%PDF-");
  EXPECT_EQ(s.runs(), 1);
  EXPECT_EQ(loads, 1);
  EXPECT_NE(version_key(kDocx + "x"), key);
}

TEST(PdfService, FailuresAreKeptWithTheirReason) {
  Scratch s;
  struct Case {
    const char* what;
    std::string program, bytes, reason;
    int runs;
  };
  PdfService none({s.program(0, false), std::chrono::seconds(20), 4});
  PdfService slow({s.program(5, true), std::chrono::seconds(1), 4});
  const std::vector<std::pair<PdfService*, Case>> cases = {
      {&none,
       {"not a document", "", "<html>not a document</html>",
        "该正文不是可以预览的文字处理文档（.docx、.doc、.odt、.rtf）。", 0}},
      {&none, {"no PDF made", "", kDocx, "该正文无法转换为 PDF，文件可能已损坏。", 1}},
      {&slow, {"too slow", "", kDocx + "slow", "该正文转换为 PDF 的时间过长，已放弃。", 2}},
  };
  for (const auto& [service, k] : cases) {
    const fs::path cache = s.dir / "cache";
    const std::string key = version_key(k.bytes);
    service->request(cache, key, [&] { return k.bytes; });
    service->drain();
    Outcome o = service->request(cache, key, [&] { return k.bytes; });
    EXPECT_EQ(o.state, State::failed) << k.what;
    EXPECT_EQ(o.reason, k.reason) << k.what;
    EXPECT_EQ(s.runs(), k.runs) << k.what;
  }
  PdfService missing({(s.dir / "no-such-program").string(), std::chrono::seconds(1), 4});
  Outcome o = missing.request(s.dir / "cache", "k", [] { return kDocx; });
  EXPECT_EQ(o.state, State::failed);
  EXPECT_EQ(o.reason, "服务器上没有安装 LibreOffice，不能预览正文。");
}

TEST(PdfService, AFullQueueSaysBusy) {
  Scratch s;
  PdfService service({s.program(1, true), std::chrono::seconds(20), 1});
  const fs::path cache = s.dir / "cache";
  auto ask = [&](const std::string& bytes) {
    return service.request(cache, version_key(bytes), [&] { return bytes; }).state;
  };
  EXPECT_EQ(ask(kDocx + "a"), State::pending);
  // Once the first is running, one more may wait.
  while (s.runs() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ask(kDocx + "b"), State::pending);
  EXPECT_EQ(ask(kDocx + "c"), State::busy);
  service.drain();
  EXPECT_EQ(ask(kDocx + "c"), State::pending);
  service.drain();
  EXPECT_EQ(s.runs(), 3);
}

TEST(PdfService, GoingAwayStopsTheConversionAndKeepsNothing) {
  Scratch s;
  const fs::path cache = s.dir / "cache";
  {
    PdfService service({s.program(30, true), std::chrono::seconds(60), 4});
    service.request(cache, version_key(kDocx), [] { return kDocx; });
    while (s.runs() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (const auto& entry : fs::directory_iterator(cache)) ADD_FAILURE() << entry.path();
}

}  // namespace
}  // namespace desk::convert
