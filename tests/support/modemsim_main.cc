// modemsim: a simulated GSM modem on a pseudo-terminal, for trying the text
// message pages and `deskhost modem` without hardware.
//
//   modemsim [--mode normal|error-mode|error-length|error-send|silent|garbage]
//            [--delay MS] [--no-echo] [--log FILE]
//
// Prints the device path on the first line of standard output, appends every
// byte received to FILE, and runs until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "tests/support/modem_sim.h"

int main(int argc, char** argv) {
  using namespace desk::testing;
  ModemOptions opt;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool has_value = i + 1 < argc;
    if (a == "--mode" && has_value && parse_modem_mode(argv[i + 1], opt.mode)) {
      ++i;
    } else if (a == "--delay" && has_value) {
      opt.delay_ms = std::atoi(argv[++i]);
    } else if (a == "--no-echo") {
      opt.echo = false;
    } else if (a == "--log" && has_value) {
      opt.log_file = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: modemsim [--mode normal|error-mode|error-length|error-send|silent|"
                   "garbage] [--delay MS] [--no-echo] [--log FILE]\n");
      return 2;
    }
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before the simulator's thread starts
  try {
    ModemSimulator sim(opt);
    std::printf("%s\n", sim.device().c_str());
    std::fflush(stdout);
    int sig = 0;
    sigwait(&stop, &sig);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "modemsim: %s\n", e.what());
    return 1;
  }
  return 0;
}
