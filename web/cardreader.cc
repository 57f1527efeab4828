#include "web/cardreader.h"

#include <dlfcn.h>

namespace desk::web {

ReaderLibrary::~ReaderLibrary() {
  if (handle_) ::dlclose(handle_);
}

bool ReaderLibrary::load() {
  if (handle_) return true;
  if (file_.empty()) {
    error_ = "no card reader library is set";
    return false;
  }
  // A bare name would be searched on the library path: only a file is taken.
  auto file = std::filesystem::absolute(file_);
  void* h = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* why = ::dlerror();
    error_ = "the card reader library cannot be loaded: " + std::string(why ? why : file.string());
    return false;
  }
  bool complete = true;
  auto find = [&](const char* name, auto*& fn) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(h, name));
    if (!fn && complete) {
      complete = false;
      error_ = "the card reader library " + file.string() + " has no function " + name;
    }
  };
  find("IC_InitComm", init_comm_);
  find("IC_ExitComm", exit_comm_);
  find("IC_Status", status_);
  find("IC_InitType", init_type_);
  find("IC_Read", read_);
  find("IC_DevBeep", dev_beep_);
  if (!complete) {
    ::dlclose(h);
    return false;
  }
  handle_ = h;
  error_.clear();
  return true;
}

}  // namespace desk::web
