// The text-message page against the modem simulator: sends to each kind of
// recipient and the sent list, the refusals that send and write nothing, the
// hourly limit, and modems that fail.
#include <gtest/gtest.h>

#include "server/sms/sendsms.h"
#include "tests/support/modem_sim.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using sms::Status;
using testing::ModemMode;
using testing::ModemSimulator;
using testing::text_of;
using Fields = std::vector<std::pair<std::string, std::string>>;

const std::string kCentre = "13900000001";

bool has(const std::string& page, const std::string& part) {
  return page.find(part) != std::string::npos;
}

// zhang is logged in; li is a colleague with a mobile number, wang one
// without; zhang's phone book holds one contact, li's another. The modem's
// waits run five times faster.
struct SmsPage {
  testing::TestApp app{settings()};
  testing::Browser b{app};
  std::int64_t li = 0, wang = 0, contact = 0, others_contact = 0;

  static asp::AppConfig settings() {
    asp::AppConfig c;
    c.sms_centre = kCentre;
    c.sms_hourly_limit = 3;
    return c;
  }
  SmsPage() {
    app.env().ticker = std::make_shared<testing::FastTicker>(5);
    app.add_user("zhang", "张伟", "pw");
    li = app.add_user("li", "李娜", "pw", "1", "1", "业务部");
    wang = app.add_user("wang", "王强", "pw");
    app.db().exec("UPDATE userlist SET mobilephone = '13800000002' WHERE id = ?", {li});
    contact = app.db().insert(
        "INSERT INTO phone (userid, name, mobilephone) VALUES ('zhang', '王<五>', '13700000003')");
    others_contact = app.db().insert(
        "INSERT INTO phone (userid, name, mobilephone) VALUES ('li', '赵六', '13600000004')");
    EXPECT_TRUE(b.login("zhang", "pw"));
  }
  void use(const std::string& device) { app.env().config.sms_port.device = device; }
  long long rows(const std::string& where = "1") {
    return std::stoll(app.db().scalar("SELECT COUNT(*) FROM smssent WHERE " + where));
  }
  // The message as the modem must receive it.
  static std::string pdu(const std::string& number, const std::string& text) {
    return sms::prepare(kCentre, number, text).pdu.hex;
  }
};

TEST(PhonePage, SendsToEachKindOfRecipientAndListsTheOutcome) {
  SmsPage s;
  ModemSimulator sim;
  s.use(sim.device());

  const std::string form = text_of(s.b.get("phone.asp"));
  EXPECT_TRUE(has(form, "<option value='u" + std::to_string(s.li) + "'>李娜（业务部）</option>"));
  EXPECT_FALSE(has(form, "13800000002")) << "colleagues' numbers are not shown";
  EXPECT_FALSE(has(form, "'u" + std::to_string(s.wang) + "'")) << "no number, no choice";
  EXPECT_TRUE(has(form, "王&lt;五&gt; 13700000003"));
  EXPECT_FALSE(has(form, "赵六")) << "another user's phone book";
  EXPECT_TRUE(has(form, "还可以输入 70 个字"));
  EXPECT_TRUE(has(form, "您还没有发送过短信。"));

  const std::string long_text(75, 'x'), cut(70, 'x');
  struct Case {
    const char* what;
    Fields fields;
    std::string number, sent_text, listed;
  } cases[] = {
      {"a colleague",
       {{"to", "u" + std::to_string(s.li)}, {"msg", "你好"}},
       "13800000002",
       "你好",
       "李娜<br>8613800000002"},
      {"a contact",
       {{"to", "p" + std::to_string(s.contact)}, {"mobile", "13911111111"}, {"msg", long_text}},
       "13700000003",
       cut,
       "王&lt;五&gt;<br>8613700000003"},
      {"a typed number",
       {{"to", ""}, {"mobile", " 139 1234-5678 "}, {"msg", "a\r\nb"}},
       "13912345678",
       "a\r\nb",
       "8613912345678"},
  };
  std::vector<std::string> accepted;
  for (const auto& c : cases) {
    const std::string page = testing::post_and_follow(s.b, "phone.asp", c.fields);
    EXPECT_TRUE(has(page, "<div id='smsresult' class='smsresult'><b>短信已发送</b>")) << c.what;
    EXPECT_TRUE(has(page, c.listed)) << c.what;
    accepted.push_back(SmsPage::pdu(c.number, c.sent_text));
    EXPECT_EQ(sim.accepted(), accepted) << c.what;
    EXPECT_EQ(s.app.db().scalar("SELECT content FROM smssent ORDER BY id DESC LIMIT 1"),
              c.sent_text)
        << c.what;
  }
  EXPECT_EQ(s.rows("userid = 'zhang' AND status = 'sent' AND sendtime = '2006-12-03 15:30:45'"), 3);
  const std::string list = text_of(s.b.get("phone.asp"));
  EXPECT_TRUE(has(list, "<td class='10blue'>a<br>b</td><td class='10blue'>短信已发送</td>"));
  EXPECT_LT(list.find("8613912345678"), list.find("8613800000002")) << "newest first";
  EXPECT_TRUE(has(list, "您最近一小时已发送 <span class='numberbold'>3</span> 条"));
  EXPECT_FALSE(has(list, "smsresult"));
}

TEST(PhonePage, RefusalsSendAndWriteNothing) {
  SmsPage s;
  ModemSimulator sim;
  const std::string to_li = "u" + std::to_string(s.li);
  struct Case {
    const char* what;
    Fields fields;
    int status;
    std::string message;
    std::string device = "sim";
  } cases[] = {
      {"a number of 10 digits",
       {{"mobile", "1391234567"}, {"msg", "hi"}},
       400,
       std::string(sms::user_text(Status::bad_number))},
      {"a number with letters",
       {{"mobile", "1391234567a"}, {"msg", "hi"}},
       400,
       std::string(sms::user_text(Status::bad_number))},
      {"no number", {{"mobile", ""}, {"msg", "hi"}}, 400, "请选择收信人或填写手机号码。"},
      {"another user's contact",
       {{"to", "p" + std::to_string(s.others_contact)}, {"msg", "hi"}},
       404,
       "没有找到所选的收信人"},
      {"a colleague without a number",
       {{"to", "u" + std::to_string(s.wang)}, {"msg", "hi"}},
       400,
       "所选的收信人没有登记手机号码"},
      {"an empty text", {{"to", to_li}, {"msg", " \r\n "}}, 400, "请填写短信内容。"},
      {"no modem configured",
       {{"to", to_li}, {"msg", "hi"}},
       409,
       std::string(sms::user_text(Status::no_modem)),
       ""},
  };
  for (const auto& c : cases) {
    s.use(c.device == "sim" ? sim.device() : c.device);
    ::testing::internal::CaptureStderr();
    http::Reply r = s.b.post("phone.asp", c.fields);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_TRUE(has(text_of(r), c.message)) << c.what << ": " << text_of(r);
    if (c.message == sms::user_text(Status::bad_number)) {
      EXPECT_TRUE(has(log, "sendsms: wrong number." + std::to_string(c.fields[0].second.size())))
          << c.what << ": " << log;
    }
  }
  EXPECT_TRUE(has(text_of(s.b.get("phone.asp")), "服务器没有配置短信设备，暂时不能发送短信。"));
  s.use(sim.device());
  s.app.env().config.sms_centre = "12345";  // the server's settings are wrong, not the input
  EXPECT_EQ(s.b.post("phone.asp", {{"to", to_li}, {"msg", "hi"}}).status, 409);
  EXPECT_EQ(sim.received(), "");
  EXPECT_EQ(s.rows(), 0);

  testing::Browser stranger(s.app);
  for (const http::Reply& r :
       {stranger.get("phone.asp"), stranger.post("phone.asp", {{"to", to_li}, {"msg", "hi"}})}) {
    EXPECT_EQ(r.status, 302);
    EXPECT_EQ(testing::header(r, "Location"), "/tarvo/default.htm");
  }
  EXPECT_EQ(sim.received(), "");
}

TEST(PhonePage, AtMostTheHourlyLimitPerUser) {
  SmsPage s;
  ModemSimulator sim;
  s.use(sim.device());
  // The limit is 3; the send an hour ago and li's do not count.
  for (const auto& [who, at] :
       std::vector<std::pair<std::string, std::string>>{{"zhang", "2006-12-03 14:31:00"},
                                                        {"zhang", "2006-12-03 15:00:00"},
                                                        {"zhang", "2006-12-03 14:30:45"},
                                                        {"li", "2006-12-03 15:30:00"}})
    s.app.db().exec(
        "INSERT INTO smssent (userid, mobile, sendtime, status) VALUES (?, '8613800000002', ?, "
        "'sent')",
        {who, at});
  const Fields fields = {{"to", "u" + std::to_string(s.li)}, {"msg", "hi"}};
  EXPECT_TRUE(has(testing::post_and_follow(s.b, "phone.asp", fields), "短信已发送"));
  http::Reply over = s.b.post("phone.asp", fields);
  EXPECT_EQ(over.status, 409);
  EXPECT_TRUE(has(text_of(over), "每人每小时最多发送3条短信")) << text_of(over);
  EXPECT_EQ(sim.accepted().size(), 1u);
  EXPECT_EQ(s.rows("userid = 'zhang'"), 4);

  s.app.clock().set({2006, 12, 3, 15, 31, 1});  // the oldest one counted is now over an hour old
  EXPECT_TRUE(has(testing::post_and_follow(s.b, "phone.asp", fields), "短信已发送"));
  EXPECT_EQ(sim.accepted().size(), 2u);
}

TEST(PhonePage, FailingModemsEndWithAClearMessageAndNothingStuck) {
  SmsPage s;
  s.app.env().config.sms_hourly_limit = 30;
  ModemSimulator sim;
  struct Case {
    const char* what;
    std::string device;
    ModemMode mode;
    Status status;
  } cases[] = {
      {"a missing device", "/nonexistent/ttyUSB9", ModemMode::normal, Status::port_failed},
      {"a modem that never answers", sim.device(), ModemMode::silent, Status::no_answer},
      {"a modem that answers ERROR", sim.device(), ModemMode::error_send, Status::refused},
      {"a modem that refuses PDU mode", sim.device(), ModemMode::error_mode, Status::refused},
  };
  const Fields fields = {{"to", "u" + std::to_string(s.li)}, {"msg", "hi"}};
  for (const auto& c : cases) {
    s.use(c.device);
    sim.set_mode(c.mode);
    ::testing::internal::CaptureStderr();
    const std::string page = testing::post_and_follow(s.b, "phone.asp", fields);
    EXPECT_TRUE(has(::testing::internal::GetCapturedStderr(), "sendsms: ")) << c.what;
    EXPECT_TRUE(has(page, "<div id='smsresult' class='smsresult failed'><b>" +
                              std::string(sms::user_text(c.status)) + "</b>"))
        << c.what << ": " << page;
  }
  EXPECT_EQ(s.rows("status = 'sending'"), 0);
  EXPECT_EQ(s.rows("status = 'sent'"), 0);

  // The port was closed and its lock released: the next send goes through.
  s.use(sim.device());
  sim.set_mode(ModemMode::normal);
  const size_t before = sim.accepted().size();
  EXPECT_TRUE(has(testing::post_and_follow(s.b, "phone.asp", fields), "短信已发送"));
  EXPECT_EQ(sim.accepted().size(), before + 1);
}

}  // namespace
}  // namespace desk
