#include "web/paths.h"

#include <cctype>
#include <vector>

namespace desk::web {
namespace {

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when `p`, with links resolved as far as it exists, stays below `root`.
bool inside(const std::filesystem::path& root, const std::filesystem::path& p) {
  std::error_code ec;
  auto r = std::filesystem::weakly_canonical(root, ec);
  if (ec) return false;
  auto c = std::filesystem::weakly_canonical(p, ec);
  if (ec) return false;
  auto rel = c.lexically_relative(r);
  return !rel.empty() && *rel.begin() != "..";
}

}  // namespace

PathMap::PathMap(std::filesystem::path drives, std::filesystem::path work)
    : drives_(std::filesystem::absolute(drives).lexically_normal()),
      work_(std::filesystem::absolute(work).lexically_normal()) {}

std::filesystem::path PathMap::map(std::string_view path) const {
  auto refuse = [&](const char* why) -> std::filesystem::path {
    throw PathError("refused path \"" + std::string(path) + "\": " + why);
  };
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0])))
    return refuse("not an absolute path with a drive letter");
  if (path.size() > 2 && path[2] != '\\' && path[2] != '/')
    return refuse("not an absolute path with a drive letter");
  std::vector<std::string> segs;
  std::string seg;
  auto flush = [&] {
    if (seg == "..") refuse("\"..\" is not allowed");
    if (!seg.empty() && seg != ".") segs.push_back(seg);
    seg.clear();
  };
  for (char c : path.substr(2)) {
    if (c == '\\' || c == '/') {
      flush();
    } else if (static_cast<unsigned char>(c) < 0x20 || c == ':' || c == '*' || c == '?' ||
               c == '"' || c == '<' || c == '>' || c == '|') {
      refuse("character not allowed in a path");
    } else {
      seg += c;
    }
  }
  flush();

  // The work folder: compare its segments ignoring case.
  static const std::vector<std::string> work_segs = {"windows", "temp", "temp1234"};
  bool in_work = lower(path[0]) == 'c' && segs.size() >= work_segs.size();
  for (std::size_t i = 0; in_work && i < work_segs.size(); ++i) {
    std::string s;
    for (char c : segs[i]) s += lower(c);
    in_work = s == work_segs[i];
  }
  std::filesystem::path root = in_work ? work_ : drives_ / std::string(1, lower(path[0]));
  std::filesystem::path out = root;
  for (std::size_t i = in_work ? work_segs.size() : 0; i < segs.size(); ++i) out /= segs[i];
  if (out != root && !inside(root, out)) return refuse("it leads outside its folder");
  return out;
}

std::filesystem::path PathMap::map_for_writing(std::string_view path) const {
  auto out = map(path);
  std::error_code ec;
  if (!(out.string().rfind(work_.string(), 0) == 0))
    std::filesystem::create_directories(drives_ / std::string(1, lower(path[0])), ec);
  return out;
}

}  // namespace desk::web
