// Printing to PDF through LibreOffice run headless as a child process.
#pragma once

#include <filesystem>
#include <string>

namespace desk::docx {

struct PdfOptions {
  std::string soffice = "soffice";  // program name (looked up on PATH) or path
  int timeout_seconds = 180;
};

// The converter program's full path, or "" when it is not installed.
std::string find_converter(const PdfOptions& options = {});

// Converts `docx` into out_dir/<stem>.pdf and returns that path. LibreOffice
// keeps its profile and temporary files in `scratch` (an empty writable
// folder the caller removes). Throws docx::Error(unavailable) when the
// converter is missing, fails, times out or leaves no PDF.
std::filesystem::path convert_to_pdf(const std::filesystem::path& docx,
                                     const std::filesystem::path& out_dir,
                                     const std::filesystem::path& scratch,
                                     const PdfOptions& options = {});

}  // namespace desk::docx
