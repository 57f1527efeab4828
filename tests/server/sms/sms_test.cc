// Text messages: the PDU, the exchange's waits on a fake line, whole sends
// through the termios code to the modem simulator, and the page component.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/serial/fake_port.h"
#include "server/sms/sendsms.h"
#include "tests/support/modem_sim.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using sms::Status;
using testing::ModemMode;
using testing::ModemOptions;
using testing::ModemSimulator;

ModemOptions modem(ModemMode mode, int delay_ms = 0, bool echo = true) {
  ModemOptions o;
  o.mode = mode;
  o.delay_ms = delay_ms;
  o.echo = echo;
  return o;
}

const std::string kCentre = "13900000001";
const std::string kNumber = "13912345678";
const std::string kHeads = "0891683109000000F111000D91683119325476F8000800";  // pieces 1-5

std::string repeat(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

TEST(SmsPdu, MessagesEncodeExactly) {
  struct Case {
    const char* what;
    std::string centre, number, text;
    std::string pdu, text_after;
    int length;
  } cases[] = {
      {"chinese", kCentre, kNumber, "你好", kHeads + "04" + "4F60597D", "你好", 19},
      {"one character, leading zero", kCentre, "8613912345678", "A", kHeads + "02" + "0041", "A",
       17},
      {"100 characters cut to 70", kCentre, kNumber, std::string(100, 'a'),
       kHeads + "8C" + repeat("0061", 70), std::string(70, 'a'), 155},
      {"line break", "8613900000001", kNumber, "a\r\nb", kHeads + "08" + "0061000D000A0062",
       "a\r\nb", 23},
      {"outside the basic plane", kCentre, kNumber, "𠀀", kHeads + "04" + "D840DC00", "𠀀", 19},
  };
  for (const auto& c : cases) {
    sms::Message m = sms::prepare(c.centre, c.number, c.text);
    ASSERT_FALSE(m.refused()) << c.what;
    EXPECT_EQ(m.pdu.hex, c.pdu) << c.what;
    EXPECT_EQ(m.pdu.tpdu_length, c.length) << c.what;
    EXPECT_EQ(m.centre, "8613900000001") << c.what;
    EXPECT_EQ(m.number, "8613912345678") << c.what;
    EXPECT_EQ(m.text, c.text_after) << c.what;
  }
}

TEST(SmsPdu, WrongNumbersAreRefusedWithTheAlert) {
  struct Case {
    std::string centre, number;
    Status refusal;
    std::string alert;
  } cases[] = {
      {kCentre, "1391234567", Status::bad_number, "wrong number.10 (recipient '1391234567')"},
      {kCentre, "139123456789", Status::bad_number, "wrong number.12"},
      {kCentre, "+8613912345678", Status::bad_number, "wrong number.14"},
      {kCentre, "1391234567a", Status::bad_number, "wrong number.11"},
      {kCentre, "", Status::bad_number, "wrong number.0"},
      {"12345", kNumber, Status::bad_centre, "wrong number.5 (message centre '12345')"},
  };
  for (const auto& c : cases) {
    sms::Message m = sms::prepare(c.centre, c.number, "你好");
    EXPECT_EQ(m.refusal, c.refusal) << c.number;
    EXPECT_EQ(m.alert.rfind(c.alert, 0), 0u) << m.alert;
    EXPECT_EQ(m.pdu.hex, "") << c.number;
  }
}

TEST(SmsPdu, TextsFitSeventyCharacters) {
  struct Case {
    std::string text;
    size_t chars;
    std::string kept;
    long left;
  } cases[] = {
      {std::string(70, 'x'), 70, std::string(70, 'x'), 0},
      {std::string(71, 'x'), 71, std::string(70, 'x'), -1},
      {repeat("中", 70), 70, repeat("中", 70), 0},
      {std::string(69, 'x') + "𠀀", 71, std::string(69, 'x'), -1},  // a pair is never split
      {"\xFF", 1, "\xEF\xBF\xBD", 69},                              // invalid UTF-8
      {"", 0, "", 70},
  };
  for (const auto& c : cases) {
    sms::Fit f = sms::SendSms::fit(c.text);
    EXPECT_EQ(f.chars, c.chars) << c.text;
    EXPECT_EQ(f.kept, c.kept) << c.text;
    EXPECT_EQ(f.left(), c.left) << c.text;
    EXPECT_EQ(f.cut(), c.left < 0) << c.text;
  }
}

// A modem on a fake line: answers 30 ms after each write, time moves only
// while the sender waits.
struct FakeModem {
  std::shared_ptr<ManualTicker> ticker = std::make_shared<ManualTicker>();
  testing::ModemLogic logic;
  serial::FakeLine line{ticker, [this](std::string_view w) {
                          std::string a = logic.feed(w);
                          return a.empty() ? std::vector<serial::FakeLine::Reply>{}
                                           : std::vector<serial::FakeLine::Reply>{{30, a}};
                        }};
  std::vector<std::string> log;
  sms::Sender sender(std::string device = "/dev/ttyUSB0") {
    sms::Sender::Options o;
    o.port.device = device;
    o.open = line.opener();
    o.ticker = ticker;
    o.log = [this](std::string_view l) { log.emplace_back(l); };
    return sms::Sender(std::move(o));
  }
};

TEST(SmsSender, WaitsTheFixedTimesBetweenSteps) {
  FakeModem f;
  sms::Message m = sms::prepare(kCentre, kNumber, "你好");
  sms::Outcome o = f.sender().send(m);
  EXPECT_TRUE(o.sent()) << o.detail;
  ASSERT_EQ(f.line.writes.size(), 3u);
  EXPECT_EQ(f.line.writes[0].at_ms, 200);
  EXPECT_EQ(f.line.writes[0].bytes, "AT+CMGF=0\r");
  EXPECT_EQ(f.line.writes[1].at_ms, 400);
  EXPECT_EQ(f.line.writes[1].bytes, "AT+CMGS= 19\r");
  EXPECT_EQ(f.line.writes[2].at_ms, 600);
  EXPECT_EQ(f.line.writes[2].bytes, m.pdu.hex + "\x1A");
  EXPECT_EQ(f.line.closed_at, 5600);
  EXPECT_EQ(f.line.opens, 1);
  EXPECT_EQ(f.line.closes, 1);
  EXPECT_EQ(f.line.opened_with.speed, 19200);
  EXPECT_EQ(serial::framing_text(f.line.opened_with), "8N1");
  EXPECT_TRUE(f.log.empty());
  const std::string shown = sms::format_exchange(o.exchange);
  EXPECT_NE(shown.find("+230ms <- AT+CMGF=0<CR><CR><LF>OK<CR><LF>\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("+600ms -> " + m.pdu.hex + "<^Z>\n"), std::string::npos) << shown;
}

TEST(SmsSender, PortFailuresGiveFalseAndALoggedReason) {
  sms::Message m = sms::prepare(kCentre, kNumber, "你好");
  {
    FakeModem f;
    f.line.open_error = "cannot open /dev/ttyUSB0: Permission denied";
    sms::Outcome o = f.sender().send(m);
    EXPECT_EQ(o.status, Status::port_failed);
    ASSERT_EQ(f.log.size(), 1u);
    EXPECT_EQ(f.log[0], "sendsms: cannot open /dev/ttyUSB0: Permission denied");
  }
  {
    FakeModem f;
    f.line.fail_write = 1;  // the device goes away after the mode switch
    sms::Outcome o = f.sender().send(m);
    EXPECT_EQ(o.status, Status::port_failed);
    EXPECT_EQ(f.line.closes, 1);
    ASSERT_EQ(f.log.size(), 1u);
  }
  {
    FakeModem f;
    sms::Outcome o = f.sender("").send(m);
    EXPECT_EQ(o.status, Status::no_modem);
    EXPECT_EQ(f.line.opens, 0);
    EXPECT_EQ(f.log.size(), 1u);
  }
}

// Real time run five times faster: a send's waits take about 1.1 s.
sms::Sender sender_for(const std::string& device, std::vector<std::string>* log = nullptr) {
  sms::Sender::Options o;
  o.port.device = device;
  o.ticker = std::make_shared<testing::FastTicker>(5);
  o.log = [log](std::string_view l) {
    if (log) log->emplace_back(l);
  };
  return sms::Sender(std::move(o));
}

TEST(SmsOverTerminal, EveryKindOfModemEndsWithTheRightResult) {
  const sms::Message good = sms::prepare(kCentre, kNumber, "你好");
  const std::string steps[] = {"AT+CMGF=0\r", "AT+CMGS= 19\r", good.pdu.hex + "\x1A"};
  struct Case {
    const char* what;
    ModemOptions modem;
    std::string number;
    Status status;
    int writes;  // how many of the three steps reached the modem
  } cases[] = {
      {"answers", modem(ModemMode::normal), kNumber, Status::sent, 3},
      {"answers without echo", modem(ModemMode::normal, 0, false), kNumber, Status::sent, 3},
      {"answers slowly but in time", modem(ModemMode::normal, 5), kNumber, Status::sent, 3},
      {"refuses PDU mode", modem(ModemMode::error_mode), kNumber, Status::refused, 1},
      {"refuses the length", modem(ModemMode::error_length), kNumber, Status::refused, 2},
      {"refuses the message", modem(ModemMode::error_send), kNumber, Status::refused, 3},
      {"never answers", modem(ModemMode::silent), kNumber, Status::no_answer, 3},
      {"answers after the wait", modem(ModemMode::normal, 3000), kNumber, Status::no_answer, 3},
      {"answers garbage", modem(ModemMode::garbage), kNumber, Status::unconfirmed, 3},
      {"gets a wrong number", modem(ModemMode::normal), "1391234567", Status::bad_number, 0},
  };
  for (const auto& c : cases) {
    ModemSimulator sim(c.modem);
    std::vector<std::string> log;
    sms::Outcome o = sender_for(sim.device(), &log).send(sms::prepare(kCentre, c.number, "你好"));
    EXPECT_EQ(o.status, c.status) << c.what << ": " << o.detail;
    std::string expected;
    for (int i = 0; i < c.writes; ++i) expected += steps[i];
    EXPECT_EQ(sim.received(), expected) << c.what;
    EXPECT_EQ(log.size(), o.sent() ? 0u : 1u) << c.what;
    if (o.sent()) {
      EXPECT_EQ(sim.accepted(), std::vector<std::string>{good.pdu.hex}) << c.what;
    }
  }
}

TEST(SmsOverTerminal, AnAnswerLeftFromBeforeDoesNotCount) {
  ModemSimulator sim(modem(ModemMode::silent));
  sim.inject("\r\n+CMGS: 7\r\n\r\nOK\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(sender_for(sim.device()).send(sms::prepare(kCentre, kNumber, "x")).status,
            Status::no_answer);
}

TEST(SmsOverTerminal, SendsToOnePortTakeTurns) {
  ModemSimulator sim;
  std::filesystem::path alias =
      std::filesystem::temp_directory_path() / ("desk-modem-" + std::to_string(::getpid()));
  std::filesystem::create_symlink(sim.device(), alias);
  const sms::Message a = sms::prepare(kCentre, kNumber, "第一条");
  const sms::Message b = sms::prepare(kCentre, "13800000002", "second");
  auto exchange = [](const sms::Message& m) {
    return "AT+CMGF=0\rAT+CMGS= " + std::to_string(m.pdu.tpdu_length) + "\r" + m.pdu.hex + "\x1A";
  };
  auto first = std::async(std::launch::async, [&] { return sender_for(sim.device()).send(a); });
  auto second = std::async(std::launch::async, [&] { return sender_for(alias.string()).send(b); });
  EXPECT_TRUE(first.get().sent());
  EXPECT_TRUE(second.get().sent());
  std::filesystem::remove(alias);
  const std::string got = sim.received();
  EXPECT_TRUE(got == exchange(a) + exchange(b) || got == exchange(b) + exchange(a)) << got;
  EXPECT_EQ(sim.accepted().size(), 2u);
}

TEST(SendSms, AJobSendsOnAnotherThreadAfterThePageHasGone) {
  ModemSimulator sim;
  std::string centre = kCentre, number = kNumber, text = std::string(80, 'z');
  std::optional<sms::SendJob> job;
  {
    sms::SendSms page;
    page.use(std::make_shared<sms::Sender>(sender_for(sim.device())));
    job = page.start(centre, number, text);
  }
  EXPECT_EQ(centre, "8613900000001");
  EXPECT_EQ(number, "8613912345678");
  EXPECT_EQ(text, std::string(70, 'z'));
  sms::Outcome o = std::async(std::launch::async, *job).get();
  EXPECT_TRUE(o.sent()) << o.detail;
  EXPECT_EQ(sim.accepted(), std::vector<std::string>{job->message().pdu.hex});
}

TEST(SendSms, HostedPageUsesTheApplicationsModemAndWritesBack) {
  asp::AppConfig config;
  config.sms_port.device = "/nonexistent/ttyUSB9";
  testing::TestApp app(config);
  app.registry().add_page({"smstest.asp",
                           [](asp::ScriptingContext& c) {
                             auto s = c.server().CreateObject<sms::SendSms>("deskserver.sendsms");
                             s->pcenter = c.request().Form("c");
                             s->preceive = c.request().Form("n");
                             s->pmsg = c.request().Form("m");
                             bool ok = s->sendmsg();
                             c.response().Write(std::string(ok ? "1" : "0") + "|" + s->pcenter +
                                                "|" + s->preceive + "|" + s->pmsg + "|" +
                                                std::string(sms::user_text(s->last().status)) +
                                                "|" + s->last().detail);
                           },
                           asp::Access::open});
  ASSERT_TRUE(app.registry().has_component("deskserver.sendsms"));
  testing::Browser b(app);
  auto r = b.post("smstest.asp", {{"c", kCentre}, {"n", kNumber}, {"m", repeat("短", 75)}});
  EXPECT_EQ(testing::text_of(r),
            "0|8613900000001|8613912345678|" + repeat("短", 70) + "|" +
                std::string(sms::user_text(Status::port_failed)) +
                "|cannot open /nonexistent/ttyUSB9: No such file or directory");
}

}  // namespace
}  // namespace desk
