#include "tests/support/modem_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <stdexcept>

namespace desk::testing {

bool parse_modem_mode(std::string_view name, ModemMode& out) {
  static const std::pair<std::string_view, ModemMode> kModes[] = {
      {"normal", ModemMode::normal},
      {"error-mode", ModemMode::error_mode},
      {"error-length", ModemMode::error_length},
      {"error-send", ModemMode::error_send},
      {"silent", ModemMode::silent},
      {"garbage", ModemMode::garbage}};
  for (const auto& [n, m] : kModes)
    if (n == name) {
      out = m;
      return true;
    }
  return false;
}

std::string ModemLogic::answer(std::string a) const {
  if (mode_ == ModemMode::silent) return "";
  if (mode_ == ModemMode::garbage)
    return std::string("\r\n\xFF\xFE~0K ok\0#+CMG\x1B[", 18) + "\r\n";
  return a;
}

std::string ModemLogic::feed(std::string_view in) {
  std::string out;
  for (char c : in) {
    if (echo_ && mode_ != ModemMode::silent) out += c;
    if (in_pdu_) {
      if (c == '\x1A') {
        in_pdu_ = false;
        out += message(pending_);
        pending_.clear();
      } else if (c == '\x1B') {  // escape: the message is dropped
        in_pdu_ = false;
        pending_.clear();
        out += answer("\r\nOK\r\n");
      } else {
        pending_ += c;
      }
      continue;
    }
    if (c == '\r') {
      out += command(pending_);
      pending_.clear();
    } else if (c != '\n') {
      pending_ += c;
    }
  }
  return out;
}

std::string ModemLogic::command(const std::string& line) {
  if (line.empty()) return "";
  if (line == "AT") return answer("\r\nOK\r\n");
  if (line == "AT+CMGF=0")
    return answer(mode_ == ModemMode::error_mode ? "\r\nERROR\r\n" : "\r\nOK\r\n");
  if (line.rfind("AT+CMGS=", 0) == 0) {
    char* end = nullptr;
    long n = std::strtol(line.c_str() + 8, &end, 10);
    if (mode_ == ModemMode::error_length || *end != '\0' || n < 1 || n > 164)
      return answer("\r\nERROR\r\n");
    announced_ = n;
    in_pdu_ = true;
    return answer("\r\n> ");
  }
  return answer("\r\nERROR\r\n");
}

std::string ModemLogic::message(const std::string& pdu) {
  if (mode_ == ModemMode::error_send) return answer("\r\n+CMS ERROR: 500\r\n");
  bool hex =
      pdu.size() >= 2 && pdu.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
  long centre = hex ? std::strtol(pdu.substr(0, 2).c_str(), nullptr, 16) : 0;
  if (!hex || pdu.size() != static_cast<size_t>(2 * (1 + centre + announced_)))
    return answer("\r\n+CMS ERROR: 304\r\n");
  accepted_.push_back(pdu);
  return answer("\r\n+CMGS: " + std::to_string(++ref_) + "\r\n\r\nOK\r\n");
}

ModemSimulator::ModemSimulator(ModemOptions options)
    : options_(std::move(options)), logic_(options_.mode, options_.echo) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0)
    throw std::runtime_error(std::string("no pseudo-terminal: ") + std::strerror(errno));
  device_ = name;
  // The simulator's own hold on the device side: without it the terminal
  // hangs up whenever the host closes it. Raw, so nothing is echoed by the
  // terminal itself or changed on the way.
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  if (slave_ < 0 || ::tcgetattr(slave_, &t) != 0)
    throw std::runtime_error(std::string("cannot open ") + name + ": " + std::strerror(errno));
  ::cfmakeraw(&t);
  ::tcsetattr(slave_, TCSANOW, &t);
  thread_ = std::thread([this] { run(); });
}

ModemSimulator::~ModemSimulator() {
  stop_ = true;
  thread_.join();
  ::close(slave_);
  ::close(master_);
}

std::string ModemSimulator::received() const {
  std::lock_guard<std::mutex> lock(mu_);
  return received_;
}

std::vector<std::string> ModemSimulator::accepted() const {
  std::lock_guard<std::mutex> lock(mu_);
  return logic_.accepted();
}

void ModemSimulator::set_mode(ModemMode m) {
  std::lock_guard<std::mutex> lock(mu_);
  logic_.set_mode(m);
}

void ModemSimulator::inject(std::string_view bytes) {
  (void)!::write(master_, bytes.data(), bytes.size());
}

void ModemSimulator::run() {
  std::ofstream log;
  if (!options_.log_file.empty()) log.open(options_.log_file, std::ios::binary | std::ios::app);
  using Clock = std::chrono::steady_clock;
  // Answers wait here for their time; input is read meanwhile.
  std::deque<std::pair<Clock::time_point, std::string>> due;
  while (!stop_) {
    int wait = 20;
    if (!due.empty()) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(due.front().first - Clock::now());
      wait = static_cast<int>(std::clamp<long long>(left.count(), 0, 20));
    }
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, wait) > 0 && (p.revents & POLLIN)) {
      char buf[1024];
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) {
        std::string_view in(buf, static_cast<size_t>(n));
        if (log) log.write(in.data(), static_cast<std::streamsize>(in.size())).flush();
        std::lock_guard<std::mutex> lock(mu_);
        received_.append(in);
        std::string out = logic_.feed(in);
        if (!out.empty())
          due.emplace_back(Clock::now() + std::chrono::milliseconds(options_.delay_ms),
                           std::move(out));
      }
    }
    while (!due.empty() && due.front().first <= Clock::now()) {
      (void)!::write(master_, due.front().second.data(), due.front().second.size());
      due.pop_front();
    }
  }
}

}  // namespace desk::testing
