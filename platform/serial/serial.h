// Serial ports: the narrow device interface that modem code is written
// against, with the POSIX implementation and the per-device lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace desk::serial {

enum class Parity { none, even, odd };

// Line settings of a port.
struct Settings {
  std::string device;  // "/dev/ttyUSB0"
  int speed = 19200;   // baud, one of supported_speed()
  int data_bits = 8;   // 5 to 8
  Parity parity = Parity::none;
  int stop_bits = 1;  // 1 or 2
};

// True for the speeds a port can be set to (1200 to 460800 baud).
bool supported_speed(int baud);
// Reads a framing such as "8N1": data bits, parity N, E or O (either case),
// stop bits. Throws Error(config) for anything else.
void parse_framing(std::string_view text, Settings& into);
// The framing of `s` in the same form ("8N1").
std::string framing_text(const Settings& s);

// An open, configured port; closed by close() or by destruction. One thread
// uses a port at a time.
class Port {
 public:
  virtual ~Port() = default;
  // Writes all of `bytes`, waiting at most timeout_ms in all for the device
  // to take them. Throws Error(io) on a device failure or when time runs out.
  virtual void write(std::string_view bytes, int timeout_ms) = 0;
  // Waits at most timeout_ms for input and returns what has arrived; "" when
  // nothing came in time. Never waits longer. Throws Error(io) on a device
  // failure (unplugged, hung up).
  virtual std::string read(int timeout_ms) = 0;
  // Drops unsent output and closes; never waits for the device. Idempotent.
  virtual void close() = 0;
};

// Opens and configures a port. Throws Error(io) whose message gives the
// device and the reason when it cannot be opened or configured.
using Opener = std::function<std::unique_ptr<Port>(const Settings&)>;

// Real ports through termios: raw 8-bit input, no flow control, modem
// control lines ignored (opening never waits for a carrier), buffers emptied
// on opening.
std::unique_ptr<Port> open_posix(const Settings& s);

// Serialises the users of one device within this process for the life of
// the returned lock. Paths naming the same device through links share one
// lock.
std::unique_lock<std::mutex> lock_device(const std::string& device);

}  // namespace desk::serial
