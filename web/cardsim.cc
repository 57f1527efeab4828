// A simulated card reader: a library with the reader functions of
// cardreader_abi.h, for tests and demonstrations. DESK_CARDSIM names a control
// file, read again on every call, of "key=value" lines ('#' starts a comment):
//   ports=0,1,100        ports a reader answers on (default 0)
//   card=present|absent  (default present)
//   data=TEXT            card bytes from address 138 on (default 123456)
//   hex=D6D0...          the same bytes written in hexadecimal
//   status=error  inittype=error  read=error  exit=error
//                        that call fails
//   log=FILE             every call is appended to FILE as one line,
//                        "NAME ARG... = RESULT"
// With no control file the reader answers on port 0 with a card inserted.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "web/cardreader_abi.h"

namespace {

constexpr std::int32_t kHandleBase = 1000;
constexpr int kCardBytes = 256;
constexpr int kIdAddress = 138;

struct Settings {
  std::set<int> ports{0};
  bool card = true;
  std::string data = "123456";
  std::set<std::string> failing;
  std::string log;
};

Settings settings() {
  Settings s;
  const char* file = std::getenv("DESK_CARDSIM");
  if (!file || !*file) return s;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "ports") {
      s.ports.clear();
      std::stringstream list(value);
      for (std::string p; std::getline(list, p, ',');)
        if (!p.empty()) s.ports.insert(std::atoi(p.c_str()));
    } else if (key == "card") {
      s.card = value != "absent";
    } else if (key == "data") {
      s.data = value;
    } else if (key == "hex") {
      s.data.clear();
      for (std::size_t i = 0; i + 1 < value.size(); i += 2)
        s.data += static_cast<char>(std::strtol(value.substr(i, 2).c_str(), nullptr, 16));
    } else if (value == "error") {
      s.failing.insert(key);
    } else if (key == "log") {
      s.log = value;
    }
  }
  return s;
}

std::mutex mutex;
std::set<std::int32_t> open_handles;

template <typename R>
R logged(const Settings& s, const std::string& call, R result) {
  if (!s.log.empty()) std::ofstream(s.log, std::ios::app) << call << " = " << result << "\n";
  return result;
}

std::string args(std::initializer_list<long> values) {
  std::string out;
  for (long v : values) out += " " + std::to_string(v);
  return out;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) std::int32_t IC_InitComm(std::int32_t port) {
  std::lock_guard lock(mutex);
  Settings s = settings();
  std::int32_t handle = kHandleBase + port;
  bool opens = s.ports.count(port) && !open_handles.count(handle);
  if (opens) open_handles.insert(handle);
  return logged(s, "IC_InitComm" + args({port}), opens ? handle : -1);
}

__attribute__((visibility("default"))) std::int16_t IC_ExitComm(std::int32_t handle) {
  std::lock_guard lock(mutex);
  Settings s = settings();
  std::int16_t r = -1;
  if (open_handles.count(handle) && !s.failing.count("exit")) {
    open_handles.erase(handle);
    r = 0;
  }
  return logged(s, "IC_ExitComm" + args({handle}), r);
}

__attribute__((visibility("default"))) std::int16_t IC_Status(std::int32_t handle) {
  std::lock_guard lock(mutex);
  Settings s = settings();
  std::int16_t r = !open_handles.count(handle) || s.failing.count("status") ? -1 : s.card ? 0 : 1;
  return logged(s, "IC_Status" + args({handle}), r);
}

__attribute__((visibility("default"))) std::int16_t IC_InitType(std::int32_t handle,
                                                                std::int32_t type) {
  std::lock_guard lock(mutex);
  Settings s = settings();
  bool ok = open_handles.count(handle) && s.card && !s.failing.count("inittype");
  return logged(s, "IC_InitType" + args({handle, type}), std::int16_t(ok ? 0 : -1));
}

__attribute__((visibility("default"))) std::int16_t IC_Read(std::int32_t handle,
                                                            std::int16_t offset,
                                                            std::int16_t length,
                                                            unsigned char* buffer) {
  std::lock_guard lock(mutex);
  Settings s = settings();
  bool ok = open_handles.count(handle) && s.card && !s.failing.count("read") && offset >= 0 &&
            length >= 0 && offset + length <= kCardBytes && buffer;
  if (ok) {
    // A blank card holds 0xFF everywhere.
    std::vector<unsigned char> memory(kCardBytes, 0xFF);
    std::memcpy(memory.data() + kIdAddress, s.data.data(),
                std::min<std::size_t>(s.data.size(), kCardBytes - kIdAddress));
    std::memcpy(buffer, memory.data() + offset, static_cast<std::size_t>(length));
  }
  return logged(s, "IC_Read" + args({handle, offset, length}), std::int16_t(ok ? 0 : -1));
}

__attribute__((visibility("default"))) std::int16_t IC_DevBeep(std::int32_t handle,
                                                               std::int16_t time) {
  std::lock_guard lock(mutex);
  Settings s = settings();
  bool ok = open_handles.count(handle);
  return logged(s, "IC_DevBeep" + args({handle, time}), std::int16_t(ok ? 0 : -1));
}

}  // extern "C"
