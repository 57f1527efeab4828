// The card reader's library, loaded at run time from a file chosen by whoever
// hosts the control (officectl --reader, the companion's settings).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "web/cardreader_abi.h"

namespace desk::web {

class ReaderLibrary {
 public:
  explicit ReaderLibrary(std::filesystem::path file) : file_(std::move(file)) {}
  ~ReaderLibrary();
  ReaderLibrary(const ReaderLibrary&) = delete;
  ReaderLibrary& operator=(const ReaderLibrary&) = delete;

  const std::filesystem::path& file() const { return file_; }
  // Loads the library unless it is loaded. False when the file cannot be
  // loaded or lacks one of the functions; error() says why, and the next
  // call tries again (the library may have been installed meanwhile).
  bool load();
  const std::string& error() const { return error_; }

  // The library's functions; only after load() succeeded.
  std::int32_t InitComm(std::int32_t port) { return init_comm_(port); }
  std::int16_t ExitComm(std::int32_t handle) { return exit_comm_(handle); }
  std::int16_t Status(std::int32_t handle) { return status_(handle); }
  std::int16_t InitType(std::int32_t handle, std::int32_t type) { return init_type_(handle, type); }
  std::int16_t Read(std::int32_t handle, std::int16_t offset, std::int16_t length,
                    unsigned char* buffer) {
    return read_(handle, offset, length, buffer);
  }
  std::int16_t DevBeep(std::int32_t handle, std::int16_t time) { return dev_beep_(handle, time); }

 private:
  std::filesystem::path file_;
  std::string error_;
  void* handle_ = nullptr;
  IC_InitComm_t* init_comm_ = nullptr;
  IC_ExitComm_t* exit_comm_ = nullptr;
  IC_Status_t* status_ = nullptr;
  IC_InitType_t* init_type_ = nullptr;
  IC_Read_t* read_ = nullptr;
  IC_DevBeep_t* dev_beep_ = nullptr;
};

}  // namespace desk::web
