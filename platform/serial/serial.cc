#include "platform/serial/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>

#include "core/error.h"

namespace desk::serial {
namespace {

struct SpeedCode {
  int baud;
  speed_t code;
};
constexpr SpeedCode kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}};

std::string reason() {
  return std::strerror(errno);
}

std::int64_t steady_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class PosixPort : public Port {
 public:
  PosixPort(int fd, std::string device) : fd_(fd), device_(std::move(device)) {}
  ~PosixPort() override { close(); }

  void write(std::string_view bytes, int timeout_ms) override {
    const std::int64_t deadline = steady_ms() + timeout_ms;
    while (!bytes.empty()) {
      if (fd_ < 0) throw Error(Errc::io, device_ + " is closed");
      ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        throw Error(Errc::io, "cannot write to " + device_ + ": " + reason());
      if (!wait_for(POLLOUT, deadline - steady_ms()))
        throw Error(Errc::io, "timed out writing to " + device_);
    }
  }

  std::string read(int timeout_ms) override {
    if (fd_ < 0) throw Error(Errc::io, device_ + " is closed");
    if (!wait_for(POLLIN, timeout_ms)) return "";
    char buf[4096];
    for (;;) {
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) return std::string(buf, static_cast<size_t>(n));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return "";
      if (n == 0) throw Error(Errc::io, device_ + " hung up");
      throw Error(Errc::io, "cannot read from " + device_ + ": " + reason());
    }
  }

  void close() override {
    if (fd_ < 0) return;
    // Output still queued after the exchange is stuck; dropping it keeps
    // close() from waiting for the device to drain.
    ::tcflush(fd_, TCIOFLUSH);
    ::close(fd_);
    fd_ = -1;
  }

 private:
  // True when the port is ready for `events` within timeout_ms. Throws when
  // the device reports an error or hung up.
  bool wait_for(short events, std::int64_t timeout_ms) {
    const std::int64_t deadline = steady_ms() + std::max<std::int64_t>(timeout_ms, 0);
    for (;;) {
      pollfd p{fd_, events, 0};
      std::int64_t left = std::max<std::int64_t>(deadline - steady_ms(), 0);
      int r = ::poll(&p, 1, static_cast<int>(left));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) throw Error(Errc::io, "cannot wait for " + device_ + ": " + reason());
      if (r == 0) return false;
      if (p.revents & events) return true;
      if (p.revents & (POLLERR | POLLNVAL)) throw Error(Errc::io, device_ + " failed");
      if (p.revents & POLLHUP) throw Error(Errc::io, device_ + " hung up");
    }
  }

  int fd_;
  std::string device_;
};

}  // namespace

bool supported_speed(int baud) {
  for (const auto& s : kSpeeds)
    if (s.baud == baud) return true;
  return false;
}

void parse_framing(std::string_view text, Settings& into) {
  auto bad = [&] {
    return Error(Errc::config,
                 "framing must look like 8N1 (data bits 5-8, parity N/E/O, "
                 "stop bits 1 or 2), not '" +
                     std::string(text) + "'");
  };
  if (text.size() != 3) throw bad();
  int data = text[0] - '0';
  int stop = text[2] - '0';
  if (data < 5 || data > 8 || (stop != 1 && stop != 2)) throw bad();
  Parity parity;
  switch (text[1]) {
    case 'N':
    case 'n':
      parity = Parity::none;
      break;
    case 'E':
    case 'e':
      parity = Parity::even;
      break;
    case 'O':
    case 'o':
      parity = Parity::odd;
      break;
    default:
      throw bad();
  }
  into.data_bits = data;
  into.parity = parity;
  into.stop_bits = stop;
}

std::string framing_text(const Settings& s) {
  const char p = s.parity == Parity::none ? 'N' : s.parity == Parity::even ? 'E' : 'O';
  return std::to_string(s.data_bits) + p + std::to_string(s.stop_bits);
}

std::unique_ptr<Port> open_posix(const Settings& s) {
  const std::string& dev = s.device;
  if (dev.empty()) throw Error(Errc::io, "no serial device given");
  speed_t speed = B0;
  for (const auto& k : kSpeeds)
    if (k.baud == s.speed) speed = k.code;
  if (speed == B0) throw Error(Errc::io, "unsupported speed " + std::to_string(s.speed));
  if (s.data_bits < 5 || s.data_bits > 8 || (s.stop_bits != 1 && s.stop_bits != 2))
    throw Error(Errc::io, "unsupported framing " + framing_text(s));

  // Non-blocking: a port whose carrier line is down would otherwise block
  // open() for ever.
  int fd = ::open(dev.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw Error(Errc::io, "cannot open " + dev + ": " + reason());
  auto fail = [&](const std::string& why) {
    ::close(fd);
    return Error(Errc::io, why);
  };
  if (!::isatty(fd)) throw fail(dev + " is not a serial port");
  termios t{};
  if (::tcgetattr(fd, &t) != 0) throw fail("cannot read the settings of " + dev + ": " + reason());
  ::cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[s.data_bits - 5] | CLOCAL | CREAD;
  if (s.parity != Parity::none) {
    t.c_cflag |= PARENB;
    t.c_iflag |= INPCK;
    if (s.parity == Parity::odd) t.c_cflag |= PARODD;
  }
  if (s.stop_bits == 2) t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0 ||
      ::tcsetattr(fd, TCSANOW, &t) != 0)
    throw fail("cannot set " + dev + " to " + std::to_string(s.speed) + " " + framing_text(s) +
               ": " + reason());
  // Whatever the device sent before this exchange is not an answer to it.
  ::tcflush(fd, TCIOFLUSH);
  return std::make_unique<PosixPort>(fd, dev);
}

std::unique_lock<std::mutex> lock_device(const std::string& device) {
  std::error_code ec;
  std::string key = std::filesystem::weakly_canonical(device, ec).string();
  if (ec || key.empty()) key = device;
  // One mutex per device ever used, kept for the life of the process: a
  // server drives a handful of devices at most.
  static std::mutex registry_mu;
  static std::map<std::string, std::unique_ptr<std::mutex>> locks;
  std::mutex* m;
  {
    std::lock_guard<std::mutex> g(registry_mu);
    auto& slot = locks[key];
    if (!slot) slot = std::make_unique<std::mutex>();
    m = slot.get();
  }
  return std::unique_lock<std::mutex>(*m);
}

}  // namespace desk::serial
