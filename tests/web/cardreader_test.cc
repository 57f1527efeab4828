// The control's card reader over the simulator library, loaded the way a
// reader maker's library is: every library call is read back from the
// simulator's log.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <stdexcept>

#include "core/text.h"
#include "tests/support/docx_fixtures.h"
#include "tests/support/office_fakes.h"
#include "web/office.h"

namespace desk::web {
namespace {

using namespace desk::testing;
using Calls = std::vector<std::string>;

const std::string kNuls1018(1018, '\0');

// A control on the simulator, steered by a control file.
struct Reader : DeviceControl {
  Reader() : DeviceControl({}, std::make_shared<ReaderLibrary>(DESK_CARDSIM)) {
    ::setenv("DESK_CARDSIM", (dir / "sim.conf").c_str(), 1);
  }
  // The simulator's settings for the calls that follow.
  void set(const std::string& settings) {
    write_file(dir / "sim.conf", settings + "\nlog=" + (dir / "calls.log").string() + "\n");
    std::filesystem::remove(dir / "calls.log");
  }
  Calls calls() const { return text::split(read_file(dir / "calls.log"), '\n'); }
  // Closes a reader a case left open, so the next case finds it free.
  ~Reader() {
    set("");
    control.CloseComm();
  }
};

Calls lines(std::initializer_list<const char*> l) {
  Calls c(l.begin(), l.end());
  c.emplace_back();  // after the last line's end
  return c;
}

TEST(CardReader, ReadIdReportsEachFailureAndClosesTheReader) {
  struct Case {
    const char* settings;
    std::string result;
    std::string_view error;
    Calls calls;
  } cases[] = {
      {"ports=7", "", kPortFailed,
       lines({"IC_InitComm 0 = -1", "IC_InitComm 1 = -1", "IC_InitComm 100 = -1"})},
      {"status=error", "", kStatusError,
       lines({"IC_InitComm 0 = 1000", "IC_Status 1000 = -1", "IC_ExitComm 1000 = 0"})},
      {"card=absent", "", kInsertCard,
       lines({"IC_InitComm 0 = 1000", "IC_Status 1000 = 1", "IC_ExitComm 1000 = 0"})},
      {"inittype=error", "", kCardTypeError,
       lines({"IC_InitComm 0 = 1000", "IC_Status 1000 = 0", "IC_InitType 1000 16 = -1",
              "IC_ExitComm 1000 = 0"})},
      {"read=error", "", kReadFailed,
       lines({"IC_InitComm 0 = 1000", "IC_Status 1000 = 0", "IC_InitType 1000 16 = 0",
              "IC_Read 1000 138 6 = -1", "IC_ExitComm 1000 = 0"})},
      {"ports=100\ndata=000042", "000042" + kNuls1018, "",
       lines({"IC_InitComm 0 = -1", "IC_InitComm 1 = -1", "IC_InitComm 100 = 1100",
              "IC_Status 1100 = 0", "IC_InitType 1100 16 = 0", "IC_Read 1100 138 6 = 0",
              "IC_ExitComm 1100 = 0"})},
      // The card's bytes are in the Chinese Windows code page.
      {"hex=D6D0CEC43132", "中文12" + kNuls1018, "",
       lines({"IC_InitComm 0 = 1000", "IC_Status 1000 = 0", "IC_InitType 1000 16 = 0",
              "IC_Read 1000 138 6 = 0", "IC_ExitComm 1000 = 0"})},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.settings);
    Reader r;
    r.set(k.settings);
    r.control.ErrorMsg = "from before";
    EXPECT_EQ(r.control.ReadId(), k.result);
    EXPECT_EQ(r.control.ErrorMsg, k.error);
    EXPECT_EQ(r.calls(), k.calls);
    EXPECT_LT(r.control.cardport(), 1);  // closed
  }
}

TEST(CardReader, ASuccessfulReadIs1024CharactersAndLetsMessagesRun) {
  Reader r;
  r.set("data=123456");
  int ran = 0;
  r.loop.post([&] { ++ran; });
  std::string id = r.control.ReadId();
  EXPECT_EQ(text::char_count(id), 1024u);
  EXPECT_EQ(id.substr(0, 6), "123456");
  EXPECT_EQ(id.find_first_not_of('\0', 6), std::string::npos);
  EXPECT_EQ(ran, 1);
}

TEST(CardReader, AFailedCloseKeepsTheHandleForTheNextCall) {
  Reader r;
  r.set("exit=error");
  EXPECT_EQ(r.control.ReadId(), "123456" + kNuls1018);
  EXPECT_EQ(r.control.cardport(), 1000);
  EXPECT_EQ(r.calls(),
            lines({"IC_InitComm 0 = 1000", "IC_Status 1000 = 0", "IC_InitType 1000 16 = 0",
                   "IC_Read 1000 138 6 = 0", "IC_ExitComm 1000 = -1", "IC_ExitComm 1000 = -1"}));
  r.set("card=absent");
  EXPECT_EQ(r.control.ReadId(), "");
  EXPECT_EQ(r.calls(), lines({"IC_Status 1000 = 1", "IC_ExitComm 1000 = 0"}));
  EXPECT_EQ(r.control.cardport(), 0);
  r.control.CloseComm();
  EXPECT_EQ(r.calls().size(), 3u);  // nothing open: no call
}

TEST(CardReader, DevBeepBeepsWithOrWithoutACard) {
  struct Case {
    const char* settings;
    const char* time;
    std::string_view error;
    Calls calls;
  } cases[] = {
      {"", "50", "",
       lines({"IC_InitComm 0 = 1000", "IC_Status 1000 = 0", "IC_DevBeep 1000 50 = 0",
              "IC_ExitComm 1000 = 0"})},
      {"card=absent", " 7 ", "",
       lines({"IC_InitComm 0 = 1000", "IC_Status 1000 = 1", "IC_DevBeep 1000 7 = 0",
              "IC_ExitComm 1000 = 0"})},
      {"status=error", "50", kStatusError,
       lines({"IC_InitComm 0 = 1000", "IC_Status 1000 = -1", "IC_ExitComm 1000 = 0"})},
      {"ports=2", "50", kPortFailed,
       lines({"IC_InitComm 0 = -1", "IC_InitComm 1 = -1", "IC_InitComm 100 = -1"})},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.settings);
    Reader r;
    r.set(k.settings);
    r.control.DevBeep(k.time);
    EXPECT_EQ(r.control.ErrorMsg, k.error);
    EXPECT_EQ(r.calls(), k.calls);
  }
  // A duration that is not a 16-bit whole number is refused before the
  // reader is touched.
  for (const char* bad : {"soon", "1.5", "", "40000"}) {
    Reader r;
    r.set("");
    EXPECT_ANY_THROW(r.control.DevBeep(bad)) << bad;
    EXPECT_EQ(r.calls(), Calls{""}) << bad;
  }
}

TEST(CardReader, WithoutAUsableLibraryNoPortOpens) {
  ScratchDir dir;
  write_file(dir / "junk.so", "not a library");
  struct Case {
    std::shared_ptr<ReaderLibrary> library;
    const char* noted;
  } cases[] = {
      {nullptr, "no card reader library is set"},
      {std::make_shared<ReaderLibrary>(""), "no card reader library is set"},
      {std::make_shared<ReaderLibrary>(dir / "none.so"), "cannot be loaded"},
      {std::make_shared<ReaderLibrary>(dir / "junk.so"), "cannot be loaded"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.noted);
    DeviceControl c({}, k.library);
    EXPECT_EQ(c.control.ReadId(), "");
    EXPECT_EQ(c.control.ErrorMsg, kPortFailed);
    c.control.DevBeep("10");
    EXPECT_EQ(c.control.ErrorMsg, kPortFailed);
    c.control.CloseComm();
    ASSERT_EQ(c.messages.notes.size(), 2u);
    EXPECT_NE(c.messages.notes[0].find(k.noted), std::string::npos) << c.messages.notes[0];
    EXPECT_TRUE(c.messages.boxes.empty());
  }
}

}  // namespace
}  // namespace desk::web
