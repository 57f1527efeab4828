// Picture files placed into documents: the format and pixel size read from
// the file's own header, never from its name.
#pragma once

#include <string>

namespace desk::docx {

struct Picture {
  std::string bytes;
  std::string ext;                    // part name extension: "jpeg", "png", "gif", "bmp"
  std::string content_type;           // "image/jpeg", ...
  int width = 0, height = 0;          // pixels
  double dpi_x = 96.0, dpi_y = 96.0;  // resolution stored in the file, else 96
};

// Throws docx::Error(unsupported) when the bytes are not a JPEG, PNG, GIF or
// BMP picture whose size can be read.
Picture read_picture(std::string bytes);

}  // namespace desk::docx
