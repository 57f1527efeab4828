// Static files of an application folder: content types, validators and
// reads that are checked to the last byte.
#pragma once

#include <filesystem>
#include <string>

#include "platform/http/http.h"

namespace desk::asp {

// Answers GET or HEAD of the file `rel` inside `root`. The folder's data
// and app.conf are never served, nor anything a symbolic link leads to
// outside `root`. A file that cannot be read whole is never answered 200:
// 503 when descriptors or memory are short, else 500. `base` is the
// application's address, for the links of the not-found page.
http::Reply serve_static(const std::filesystem::path& root, const std::string& rel,
                         const http::Message& m, const std::string& base = "");

// Content-Type by file extension; text types in GB2312.
std::string content_type_for(const std::filesystem::path& p);

}  // namespace desk::asp
