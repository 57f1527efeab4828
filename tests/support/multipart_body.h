// Multipart bodies for tests: the document control's multi-file upload byte
// for byte, and free-form bodies.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/text.h"

namespace desk::testing {

// One file of the control's upload: its full local path (UTF-8 here, GB18030
// on the wire) and its bytes.
struct SentFile {
  std::string path;
  std::string bytes;
};

// The control's boundary token after the hyphens, such as "7d510424800931".
inline std::string control_delimiter(const std::string& token) {
  return std::string(29, '-') + token;
}
inline std::string control_content_type(const std::string& token) {
  return "multipart/form-data; boundary=" + std::string(27, '-') + token;
}

// The body as the control builds it: the file count as "filenum", the named
// values in order, the files as file1, file2, ..., each line ended by CR LF.
inline std::string control_body(const std::string& token,
                                const std::vector<std::pair<std::string, std::string>>& params,
                                const std::vector<SentFile>& files) {
  const std::string d = control_delimiter(token);
  auto line = [](std::string& out, const std::string& utf8) {
    out += text::to_gb18030(utf8);
    out += "\r\n";
  };
  std::string b;
  line(b, d);
  line(b, "Content-Disposition: form-data; name=\"filenum\"");
  line(b, "");
  line(b, std::to_string(files.size()));
  for (const auto& [name, value] : params) {
    line(b, d);
    line(b, "Content-Disposition: form-data; name=\"" + name + "\"");
    line(b, "");
    line(b, value);
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    line(b, d);
    line(b, "Content-Disposition: form-data; name=\"file" + std::to_string(i + 1) +
                "\"; filename=\"" + files[i].path + "\"");
    line(b, "Content-Type: application/octet-stream");
    line(b, "");
    b += files[i].bytes;
    line(b, "");
  }
  line(b, d + "--");
  return b;
}

// A part of a free-form body: its header lines (raw bytes, without CR LF)
// and its data.
struct RawPart {
  std::vector<std::string> headers;
  std::string data;
};

// "--" + boundary, each part's headers, an empty line, its data, and the
// closing delimiter with CR LF.
inline std::string raw_body(const std::string& boundary, const std::vector<RawPart>& parts) {
  std::string b;
  for (const RawPart& p : parts) {
    b += "--" + boundary + "\r\n";
    for (const std::string& h : p.headers) b += h + "\r\n";
    b += "\r\n" + p.data + "\r\n";
  }
  b += "--" + boundary + "--\r\n";
  return b;
}

}  // namespace desk::testing
