// Throughput of the multipart parser; driven by run_multipart_bench.sh.
//
//   bench_multipart gen DIR
//     writes the bodies the benchmark measures into DIR (see below) and
//     prints the Content-Type that goes with them.
//   bench_multipart run FILE CHUNK ROUNDS
//     parses FILE ROUNDS times, fed CHUNK bytes at a time (0: whole), and
//     prints: median MB/s, best MB/s, parts, peak resident MiB, body MiB.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/multipart/multipart.h"

namespace {

const std::string kToken = "7d510424800931";
const std::string kBoundary = std::string(27, '-') + kToken;
const std::string kDelimiter = "--" + kBoundary;
constexpr std::size_t kBodySize = 20u << 20;

std::string random_bytes(std::size_t n, std::uint64_t seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; i += 8) {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    for (std::size_t k = 0; k < 8 && i + k < n; ++k) s[i + k] = static_cast<char>(seed >> (8 * k));
  }
  return s;
}

std::string field(const std::string& name, const std::string& value) {
  return kDelimiter + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
         "\r\n";
}

std::string file_part(int i, const std::string& bytes) {
  return kDelimiter + "\r\nContent-Disposition: form-data; name=\"file" + std::to_string(i) +
         "\"; filename=\"C:\\Documents\\report" + std::to_string(i) +
         ".doc\"\r\nContent-Type: application/octet-stream\r\n\r\n" + bytes + "\r\n";
}

const std::string kClose = kDelimiter + "--\r\n";

// One file part whose data fills the body up to kBodySize.
std::string one_file_of(const std::string& pattern) {
  const std::string head = field("filenum", "1");
  std::string data;
  const std::size_t want = kBodySize - head.size() - file_part(1, "").size() - kClose.size();
  data.reserve(want + pattern.size());
  while (data.size() < want) data += pattern;
  data.resize(want);
  // Data ending inside a delimiter prefix would swallow the real one.
  while (!data.empty() && (data.back() == '\r' || data.back() == '\n' || data.back() == '-'))
    data.back() = 'x';
  return head + file_part(1, data) + kClose;
}

void write(const std::string& dir, const std::string& name, const std::string& body) {
  std::ofstream(dir + "/" + name, std::ios::binary) << body;
}

int gen(const std::string& dir) {
  // The control's upload of a few documents: 8, 6, 4 MiB and the rest.
  std::string normal = field("filenum", "4") + field("title", "quarterly report") +
                       field("token", "t-1") + field("memo", std::string(300, 'm'));
  const std::size_t sizes[] = {8u << 20, 6u << 20, 4u << 20};
  for (int i = 0; i < 3; ++i) normal += file_part(i + 1, random_bytes(sizes[i], 77 + i));
  normal += file_part(
      4, random_bytes(kBodySize - normal.size() - file_part(4, "").size() - kClose.size(), 99));
  normal += kClose;
  write(dir, "normal.bin", normal);
  write(dir, "crlf.bin", one_file_of("\r\n"));
  write(dir, "lf.bin", one_file_of("\n"));
  // Every prefix of the delimiter after a line end, and near misses that
  // match its first and last bytes.
  std::string frags;
  for (std::size_t k = 0; k < kDelimiter.size(); ++k) frags += "\r\n" + kDelimiter.substr(0, k);
  frags += "\r\n" + kDelimiter.substr(0, kDelimiter.size() - 2) + "x" + kDelimiter.back();
  write(dir, "fragments.bin", one_file_of(frags));
  std::printf("multipart/form-data; boundary=%s\n", kBoundary.c_str());
  return 0;
}

struct Count : desk::multipart::Handler {
  std::size_t parts = 0;
  std::uint64_t bytes = 0;
  void part_begin(desk::multipart::PartHead&&, std::uint64_t) override { ++parts; }
  void part_data(std::string_view b) override { bytes += b.size(); }
  void part_end(std::uint64_t) override {}
};

long peak_kib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}

int run(const std::string& file, std::size_t chunk, int rounds) {
  // Read at its exact size, so the peak shows the body held once.
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  std::string body(static_cast<std::size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(body.data(), static_cast<std::streamsize>(body.size()));
  if (chunk == 0) chunk = body.size();
  std::vector<double> mbps;
  std::size_t parts = 0;
  for (int r = 0; r < rounds; ++r) {
    Count count;
    desk::multipart::Parser parser(count);
    const auto t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < body.size(); i += chunk)
      parser.feed(std::string_view(body).substr(i, chunk));
    const bool ok = parser.finish();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!ok) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(),
                   std::string(desk::multipart::fault_name(parser.fault())).c_str());
      return 1;
    }
    parts = count.parts;
    mbps.push_back(body.size() / s / 1e6);
  }
  std::sort(mbps.begin(), mbps.end());
  std::printf("%.0f %.0f %zu %.1f %.1f\n", mbps[mbps.size() / 2], mbps.back(), parts,
              peak_kib() / 1024.0, body.size() / 1048576.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "gen" && argc == 3) return gen(argv[2]);
  if (cmd == "run" && argc == 5)
    return run(argv[2], std::strtoull(argv[3], nullptr, 10), std::atoi(argv[4]));
  std::fprintf(stderr, "usage: bench_multipart gen DIR | run FILE CHUNK ROUNDS\n");
  return 2;
}
