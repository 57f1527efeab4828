// A GSM modem for tests: the modem's side of the AT conversation in PDU mode,
// and a simulator that answers on a pseudo-terminal, so the real serial code
// talks to it as to a modem on /dev/ttyUSB0.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/clock.h"

namespace desk::testing {

enum class ModemMode {
  normal,        // OK, the "> " prompt, then "+CMGS: <ref>" and OK
  error_mode,    // ERROR to AT+CMGF
  error_length,  // ERROR to AT+CMGS (no prompt)
  error_send,    // "+CMS ERROR: 500" to the message
  silent,        // never answers
  garbage,       // line noise instead of every answer
};

// Parses "normal", "error-mode", "error-length", "error-send", "silent",
// "garbage"; false for anything else.
bool parse_modem_mode(std::string_view name, ModemMode& out);

// The modem's answers to what the host writes, without any device. A message
// is accepted when its PDU has the length that AT+CMGS announced and is hex;
// otherwise it is answered "+CMS ERROR: 304".
class ModemLogic {
 public:
  explicit ModemLogic(ModemMode mode = ModemMode::normal, bool echo = true)
      : mode_(mode), echo_(echo) {}
  // Answers to the bytes received so far; "" while a command is incomplete.
  std::string feed(std::string_view in);
  void set_mode(ModemMode m) { mode_ = m; }
  // The PDUs of the messages accepted, in order.
  const std::vector<std::string>& accepted() const { return accepted_; }

 private:
  std::string command(const std::string& line);
  std::string message(const std::string& pdu);
  std::string answer(std::string a) const;
  ModemMode mode_;
  bool echo_;
  std::string pending_;
  bool in_pdu_ = false;
  long announced_ = 0;
  int ref_ = 0;
  std::vector<std::string> accepted_;
};

struct ModemOptions {
  ModemMode mode = ModemMode::normal;
  bool echo = true;
  int delay_ms = 0;                // before each answer (a slow modem)
  std::filesystem::path log_file;  // received bytes are appended here when set
};

// A ModemLogic behind a pseudo-terminal, served by its own thread. The
// simulator keeps the terminal's device side open, so hosts may open and
// close device() as often as they like.
class ModemSimulator {
 public:
  explicit ModemSimulator(ModemOptions options = {});
  ~ModemSimulator();
  ModemSimulator(const ModemSimulator&) = delete;
  ModemSimulator& operator=(const ModemSimulator&) = delete;

  // The device path to open ("/dev/pts/N").
  const std::string& device() const { return device_; }
  // Everything received so far.
  std::string received() const;
  std::vector<std::string> accepted() const;
  void set_mode(ModemMode m);
  // Sends bytes to the host unasked (a late or stray answer).
  void inject(std::string_view bytes);

 private:
  void run();
  ModemOptions options_;
  int master_ = -1, slave_ = -1;
  std::string device_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  ModemLogic logic_;
  std::string received_;
  std::thread thread_;
};

// Real time run faster: each real millisecond counts as `factor`, so a send's
// 5.6 s of waits take 5.6 s / factor.
class FastTicker : public Ticker {
 public:
  explicit FastTicker(int factor) : factor_(factor), start_(steady_ticker()->now_ms()) {}
  std::int64_t now_ms() const override { return (steady_ticker()->now_ms() - start_) * factor_; }

 private:
  int factor_;
  std::int64_t start_;
};

}  // namespace desk::testing
