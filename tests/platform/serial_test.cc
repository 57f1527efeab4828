// Serial ports through termios, on the pseudo-terminal of the modem simulator.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/error.h"
#include "platform/serial/serial.h"
#include "tests/support/modem_sim.h"

namespace desk {
namespace {

namespace fs = std::filesystem;
using testing::ModemSimulator;

// The message of the Error(io) that opening `s` throws.
std::string open_failure(const serial::Settings& s) {
  try {
    serial::open_posix(s);
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), Errc::io);
    return e.what();
  }
  ADD_FAILURE() << "opened " << s.device;
  return "";
}

TEST(SerialFraming, ReadsDataParityStop) {
  struct Case {
    const char* text;
    int data;
    serial::Parity parity;
    int stop;
  } cases[] = {{"8N1", 8, serial::Parity::none, 1},
               {"7e2", 7, serial::Parity::even, 2},
               {"5O1", 5, serial::Parity::odd, 1}};
  for (const auto& c : cases) {
    serial::Settings s;
    serial::parse_framing(c.text, s);
    EXPECT_EQ(s.data_bits, c.data) << c.text;
    EXPECT_EQ(s.parity, c.parity) << c.text;
    EXPECT_EQ(s.stop_bits, c.stop) << c.text;
  }
  for (const char* bad : {"9N1", "4N1", "8X1", "8N3", "8N", "", "8N1 "}) {
    serial::Settings s;
    EXPECT_THROW(serial::parse_framing(bad, s), Error) << bad;
  }
}

TEST(SerialPort, OpeningFailsWithTheReason) {
  const fs::path file = fs::temp_directory_path() / ("desk-serial-" + std::to_string(::getpid()));
  std::ofstream(file) << "x";
  serial::Settings s;
  s.device = "/nonexistent/ttyUSB9";
  EXPECT_NE(open_failure(s).find("cannot open /nonexistent/ttyUSB9: No such file"),
            std::string::npos);
  s.device = file.string();
  EXPECT_NE(open_failure(s).find("is not a serial port"), std::string::npos);
  s.device = "";
  EXPECT_FALSE(open_failure(s).empty());
  fs::remove(file);
}

TEST(SerialPort, SettingsReachTheDeviceAndReadsEndInTime) {
  ModemSimulator sim;
  serial::Settings s;
  s.device = sim.device();
  s.speed = 9600;
  serial::parse_framing("8N2", s);
  auto port = serial::open_posix(s);

  int fd = ::open(sim.device().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(::tcgetattr(fd, &t), 0);
  ::close(fd);
  // A pseudo-terminal keeps speed and stop bits but forces 8 bits without
  // parity, so only those are checked here.
  EXPECT_EQ(::cfgetospeed(&t), B9600);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_FALSE(t.c_lflag & (ECHO | ICANON));

  EXPECT_EQ(port->read(30), "");  // nothing sent: the read gives up
  port->write("AT\r", 1000);
  std::string got;
  for (int i = 0; i < 100 && got.find("OK\r\n") == std::string::npos; ++i) got += port->read(50);
  EXPECT_EQ(got, "AT\r\r\nOK\r\n");
  port->close();
  port->close();
  EXPECT_THROW(port->read(10), Error);
  EXPECT_EQ(sim.received(), "AT\r");
}

TEST(SerialLock, OneLockPerDeviceWhateverItsName) {
  const fs::path dir =
      fs::temp_directory_path() / ("desk-serial-lock-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "ttyA") << "";
  std::ofstream(dir / "ttyB") << "";
  fs::create_symlink(dir / "ttyA", dir / "modem");
  std::mutex* a = serial::lock_device((dir / "ttyA").string()).mutex();
  std::mutex* via_link = serial::lock_device((dir / "modem").string()).mutex();
  std::mutex* b = serial::lock_device((dir / "ttyB").string()).mutex();
  EXPECT_EQ(a, via_link);
  EXPECT_NE(a, b);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace desk
