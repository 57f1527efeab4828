// A serial line for unit tests: no device, no real time. Time is a
// ManualTicker that a read moves forward by the time it waits; a responder
// decides what the far end answers to each write and after how long.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "platform/serial/serial.h"

namespace desk::serial {

class FakeLine {
 public:
  struct Reply {
    std::int64_t delay_ms = 0;  // after the write that caused it
    std::string bytes;
  };
  // The far end: answers to the bytes just written.
  using Responder = std::function<std::vector<Reply>(std::string_view written)>;

  struct Write {
    std::int64_t at_ms;  // ticker time of the write
    std::string bytes;
  };

  FakeLine(std::shared_ptr<ManualTicker> ticker, Responder responder = {});

  // Opens ports on this line. While open_error is set, opening throws
  // Error(io) with it. Ports may outlive neither the line nor the ticker.
  Opener opener();

  // What the tests set and check.
  std::string open_error;
  int fail_write = -1;  // index of the write that throws Error(io); -1 none
  int opens = 0, closes = 0;
  Settings opened_with;
  std::vector<Write> writes;
  std::int64_t closed_at = -1;

 private:
  friend class FakePort;
  std::shared_ptr<ManualTicker> ticker_;
  Responder responder_;
};

}  // namespace desk::serial
