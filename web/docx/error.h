// Errors of the .docx engine. Every refused input and every failed operation
// throws docx::Error with a code and a message a user can act on.
#pragma once

#include <stdexcept>
#include <string>

namespace desk::docx {

enum class Errc {
  malformed,      // not a readable .docx (bad zip, missing part, bad XML)
  unsafe,         // refused as hostile: zip bomb, ".." entry, DTD/entities, too large or deep
  io,             // a file could not be read or written
  protected_doc,  // the document is protected against this change
  bad_password,   // the password does not lift the protection
  unsupported,    // a feature the engine does not handle
  unavailable,    // an outside program (the PDF converter) is missing or failed
};

class Error : public std::runtime_error {
 public:
  Error(Errc code, const std::string& message) : std::runtime_error(message), code_(code) {}
  Errc code() const noexcept { return code_; }

 private:
  Errc code_;
};

}  // namespace desk::docx
