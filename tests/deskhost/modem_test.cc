// `deskhost modem`: one message through the simulated modem, settings from
// app.conf or the command line.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "core/error.h"
#include "deskhost/modem.h"
#include "platform/asp/app_config.h"
#include "tests/support/modem_sim.h"

namespace desk {
namespace {

namespace fs = std::filesystem;

struct ModemCheckFixture {
  testing::ModemSimulator sim;
  fs::path appdir = fs::temp_directory_path() / ("desk-modemcheck-" + std::to_string(::getpid()));
  deskhost::ModemCheck check;
  std::ostringstream out;
  ModemCheckFixture() {
    fs::create_directories(appdir);
    asp::AppConfig c;
    c.sms_port.device = sim.device();
    c.sms_port.speed = 115200;
    c.sms_centre = "13900000001";
    c.save(appdir / "app.conf");
    check.appdir = appdir;
    check.number = "13912345678";
    check.text = "你好";
    check.ticker = std::make_shared<testing::FastTicker>(5);
  }
  ~ModemCheckFixture() { fs::remove_all(appdir); }
};

TEST(ModemCheck, SendsWithTheApplicationsSettingsAndShowsTheExchange) {
  ModemCheckFixture f;
  EXPECT_TRUE(deskhost::check_modem(f.check, f.out).sent());
  const std::string shown = f.out.str();
  for (const std::string& line : std::vector<std::string>{
           "device: " + f.sim.device() + " 115200 8N1\n", "number: 8613912345678\n",
           "pdu: 0891683109000000F111000D91683119325476F8000800044F60597D\n",
           "ms -> AT+CMGS= 19<CR>\n", "<LF>+CMGS: 1<CR><LF><CR><LF>OK<CR><LF>\n",
           "result: sent (confirmed: +CMGS: 1)\n"})
    EXPECT_NE(shown.find(line), std::string::npos) << line << "\nin\n" << shown;
  EXPECT_EQ(f.sim.accepted().size(), 1u);
}

TEST(ModemCheck, CommandLineWinsAndFailuresAreShown) {
  ModemCheckFixture f;
  f.check.device = "/nonexistent/ttyS7";
  f.check.framing = "7E1";
  f.check.text = std::string(75, 'x');
  EXPECT_EQ(deskhost::check_modem(f.check, f.out).status, sms::Status::port_failed);
  const std::string shown = f.out.str();
  EXPECT_NE(shown.find("device: /nonexistent/ttyS7 115200 7E1\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("(70 characters, cut from 75)"), std::string::npos) << shown;
  EXPECT_NE(shown.find("log: sendsms: cannot open /nonexistent/ttyS7"), std::string::npos) << shown;
  EXPECT_EQ(f.sim.received(), "");
}

TEST(ModemCheck, MissingOrBadSettingsAreConfigurationErrors) {
  auto code = [](deskhost::ModemCheck c) {
    std::ostringstream out;
    try {
      deskhost::check_modem(c, out);
    } catch (const Error& e) {
      return e.code();
    }
    return Errc::internal;
  };
  deskhost::ModemCheck c;
  c.number = "13912345678";
  c.centre = "13900000001";
  EXPECT_EQ(code(c), Errc::config);  // no device
  c.device = "/dev/null";
  c.centre = "";
  EXPECT_EQ(code(c), Errc::config);  // no centre
  c.centre = "13900000001";
  c.framing = "8Q1";
  EXPECT_EQ(code(c), Errc::config);
  c.framing = "";
  c.speed = 12345;
  EXPECT_EQ(code(c), Errc::config);
}

}  // namespace
}  // namespace desk
