// The control's HTTP transfers: a bodiless notice, raw-body uploads,
// downloads into the work folder or a named folder, and the multi-part
// upload in the system's wire format.
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

#include "core/text.h"
#include "web/office.h"

namespace desk::web {
namespace {

namespace fs = std::filesystem;

std::string trimmed(const std::string& s) {
  auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

bool ends_with_backslash(const std::string& s) {
  return !s.empty() && s.back() == '\\';
}

// A query value: bytes outside printable ASCII and the characters that
// would end or change the value are percent-encoded, in the page's code
// page; everything else goes as the page gave it.
std::string query_value(const std::string& utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text::to_gb18030(utf8)) {
    if (c <= 0x20 || c >= 0x7F || c == '&' || c == '#' || c == '%' || c == '+' || c == '=') {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The whole file, or nullopt when it cannot be read.
std::optional<std::string> read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return buf.str();
}

// Writes through a temporary file renamed over the target, so a failed
// write leaves an earlier file of that name whole.
void write_file(const fs::path& target, const std::string& bytes) {
  fs::path tmp = target;
  tmp += ".part";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      std::error_code ec;
      fs::remove(tmp, ec);
      throw std::runtime_error("cannot write " + target.string());
    }
  }
  fs::rename(tmp, target);
}

}  // namespace

bool office::exchange(const HttpRequest& request, bool show, HttpResponse& response) {
  try {
    response = http().send(request);
  } catch (const HttpError& e) {
    p_.messages.note(e.what());
    return false;
  }
  if (show) p_.messages.show(response_text(response), "");
  return true;
}

// ---- sendurl ----

bool office::notice(std::string& URL, const std::string& filename, const std::string& filetype,
                    bool show) {
  URL += (URL.find('?') == std::string::npos ? "?name=" : "&name=") +
         query_value(trimmed(filename)) + "&type=" + query_value(trimmed(filetype));
  HttpRequest r{"POST", URL, {}, {}};
  HttpResponse answer;
  return exchange(r, show, answer) && answer.status == 200;
}

bool office::sendurltry(std::string& URL, const std::string& filename,
                        const std::string& filetype) {
  return notice(URL, filename, filetype, true);
}

bool office::sendurl(std::string& URL, const std::string& filename, const std::string& filetype) {
  return notice(URL, filename, filetype, false);
}

// ---- raw-body upload ----

bool office::upload_file(const std::string& URL, const std::string& filename, std::string& filepath,
                         const std::string& filesize, bool show) {
  if (filepath.empty()) filepath = std::string(PathMap::kWorkFolder);
  filepath += "\\" + filename;
  std::optional<std::string> bytes;
  try {
    bytes = read_file(p_.paths.map(filepath));
  } catch (const PathError& e) {
    p_.messages.note(e.what());
    return false;
  }
  if (!bytes) {
    p_.messages.note("upload: cannot read " + filepath + "; nothing was sent");
    return false;
  }
  if (!filesize.empty()) {
    long long limit = 0;
    if (text::parse_int(trimmed(filesize), limit) &&
        limit < static_cast<long long>(bytes->size())) {
      p_.messages.show(std::string(kTooLarge), "");
      return false;
    }
  }
  HttpRequest r{"POST", URL, {{"Content-Type", "multipart/form-data"}}, std::move(*bytes)};
  HttpResponse answer;
  return exchange(r, show, answer) && answer.status == 200;
}

bool office::upload(const std::string& URL, const std::string& filename, std::string& filepath,
                    const std::string& filesize) {
  return upload_file(URL, filename, filepath, filesize, false);
}

bool office::uploadtry(const std::string& URL, const std::string& filename, std::string& filepath,
                       const std::string& filesize) {
  return upload_file(URL, filename, filepath, filesize, true);
}

// ---- downloads ----

bool office::fetch_to(const std::string& URL, const std::string& target, bool show) {
  fs::path local;
  try {
    local = p_.paths.map(target);
  } catch (const PathError& e) {
    p_.messages.note(e.what());
    return false;
  }
  HttpRequest r{"GET", URL, {}, {}};
  HttpResponse answer;
  if (!exchange(r, show, answer) || answer.status != 200) return false;
  try {
    write_file(local, answer.body);
  } catch (const std::exception& e) {
    p_.messages.note(std::string("download: ") + e.what());
    return false;
  }
  return true;
}

bool office::download(const std::string& URL, const std::string& filename) {
  std::error_code ec;
  fs::create_directories(p_.paths.work(), ec);
  return fetch_to(URL, std::string(PathMap::kWorkFolder) + "\\" + filename, false);
}

bool office::downloadtry(const std::string& URL, const std::string& filename) {
  std::error_code ec;
  fs::create_directories(p_.paths.work(), ec);
  return fetch_to(URL, std::string(PathMap::kWorkFolder) + "\\" + filename, true);
}

namespace {

// Makes sure every folder of `p` exists; `p` gets its trailing backslash.
bool makepath(const PathMap& paths, std::string& p, MessageSink& messages) {
  if (!ends_with_backslash(p)) p += "\\";
  try {
    fs::path local = paths.map_for_writing(p);
    std::error_code ec;
    fs::create_directories(local, ec);
    if (!fs::is_directory(local)) {
      messages.note("downloadpath: cannot create " + p);
      return false;
    }
    return true;
  } catch (const PathError& e) {
    messages.note(e.what());
    return false;
  }
}

}  // namespace

bool office::downloadpath(const std::string& URL, const std::string& filename, std::string& spath) {
  if (!makepath(p_.paths, spath, p_.messages)) return false;
  return fetch_to(URL, spath + filename, false);
}

bool office::downloadpathtry(const std::string& URL, const std::string& filename,
                             std::string& spath) {
  if (!makepath(p_.paths, spath, p_.messages)) return false;
  return fetch_to(URL, spath + filename, true);
}

// ---- multi-part upload ----

bool office::initupload() {
  paralist_.clear();
  filelist_.clear();
  upload_started_ = true;
  return true;
}

bool office::addpara(const std::string& paraname, const std::string& paravalue) {
  if (!upload_started_) return false;
  paralist_.emplace_back(paraname, paravalue);
  return true;
}

namespace {

bool is_file(const PathMap& paths, const std::string& windows_path, MessageSink& messages) {
  try {
    std::error_code ec;
    return fs::is_regular_file(paths.map(windows_path), ec);
  } catch (const PathError& e) {
    messages.note(e.what());
    return false;
  }
}

}  // namespace

bool office::addfile(const std::string& filepath) {
  if (!upload_started_ || !is_file(p_.paths, filepath, p_.messages)) return false;
  filelist_.push_back(filepath);
  return true;
}

bool office::addzw(const std::string& filename) {
  std::string p = std::string(PathMap::kWorkFolder) + "\\" + trimmed(filename);
  if (!upload_started_ || !is_file(p_.paths, p, p_.messages)) return false;
  filelist_.push_back(p);
  return true;
}

bool office::adddir(std::string& dirpath) {
  if (!ends_with_backslash(dirpath)) dirpath += "\\";
  if (!upload_started_) return false;
  fs::path local;
  try {
    local = p_.paths.map(dirpath);
  } catch (const PathError& e) {
    p_.messages.note(e.what());
    return false;
  }
  std::error_code ec;
  if (!fs::is_directory(local, ec)) return false;
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(local, ec)) {
    std::error_code e;
    if (entry.is_regular_file(e)) found.push_back(dirpath + entry.path().filename().string());
  }
  if (ec) return false;
  filelist_.insert(filelist_.end(), found.begin(), found.end());
  return true;
}

std::string office::multipart_body(std::string& content_type) {
  static thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto five = [](long n) {
    std::string s = std::to_string(n);
    return s.size() < 5 ? std::string(5 - s.size(), '0') + s : s;
  };
  const std::string token =
      "7d51" + five(std::lround(unit(random) * 100000)) + five(std::lround(unit(random) * 100000));
  content_type = "multipart/form-data; boundary=" + std::string(27, '-') + token;
  const std::string d = std::string(29, '-') + token;

  std::string body;
  auto line = [&](const std::string& utf8) {
    body += text::to_gb18030(utf8);
    body += "\r\n";
  };
  line(d);
  line("Content-Disposition: form-data; name=\"filenum\"");
  line("");
  line(std::to_string(filelist_.size()));
  for (const auto& [name, value] : paralist_) {
    line(d);
    line("Content-Disposition: form-data; name=\"" + name + "\"");
    line("");
    line(value);
  }
  for (std::size_t i = 0; i < filelist_.size(); ++i) {
    const std::string& path = filelist_[i];
    std::optional<std::string> bytes;
    std::string why = "File could not be opened.";
    try {
      bytes = read_file(p_.paths.map(path));
    } catch (const PathError& e) {
      why = e.what();
    }
    if (!bytes) {
      // A body with a file missing would store a wrong file: nothing is sent.
      p_.messages.show("3002:" + why + " " + path, "GetBinary");
      throw WordError("uploadurl: cannot read " + path + "; nothing was sent");
    }
    line(d);
    line("Content-Disposition: form-data; name=\"file" + std::to_string(i + 1) + "\"; filename=\"" +
         path + "\"");
    line("Content-Type: application/octet-stream");
    line("");
    body += *bytes;
    line("");
  }
  line(d + "--");
  return body;
}

bool office::uploadurl(const std::string& httpurl) {
  retmsg.clear();
  std::string content_type;
  std::string body = multipart_body(content_type);
  HttpRequest r{
      "POST", httpurl, {{"Referer", httpurl}, {"Content-Type", content_type}}, std::move(body)};
  HttpResponse answer = http().send(r);
  retmsg = response_text(answer);
  return answer.status == 200;
}

}  // namespace desk::web
