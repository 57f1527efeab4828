// The multipart parser on arbitrary bodies fed in arbitrary chunks.
//
// Input: two bytes (little-endian) giving the length of the first chunk,
// two bytes seeding the lengths of the chunks after it, then the body. The
// body is parsed whole and chunked; both must give the same parts, the
// streamed data must be the bytes the offsets name, and every part must end
// at a delimiter that does not occur inside its data.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/multipart/multipart.h"
#include "tests/fuzz/fuzz_check.h"

using desk::fuzz::check;
namespace mp = desk::multipart;

namespace {

struct Recorder : mp::Handler {
  struct P {
    mp::PartHead head;
    std::uint64_t offset = 0, size = 0;
    std::string data;
  };
  std::vector<P> parts;
  void part_begin(mp::PartHead&& h, std::uint64_t off) override {
    parts.push_back({std::move(h), off, 0, {}});
  }
  void part_data(std::string_view b) override { parts.back().data += b; }
  void part_end(std::uint64_t end) override { parts.back().size = end - parts.back().offset; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::size_t first = data[0] | (data[1] << 8);
  std::uint32_t seed = (data[2] | (data[3] << 8)) * 2654435761u + 1;
  const std::string_view body(reinterpret_cast<const char*>(data) + 4, size - 4);

  // Small ceilings, so that inputs of fuzzing size reach them.
  mp::Limits limits;
  limits.parts = 64;
  limits.header_bytes = 512;
  limits.name_bytes = 40;
  limits.filename_bytes = 80;
  limits.field_bytes = 4096;
  const mp::Form whole = mp::parse(body, limits);

  Recorder rec;
  mp::Parser parser(rec, limits);
  std::size_t pos = 0, n = first == 0 ? 1 : first;
  while (pos < body.size()) {
    n = std::min(n, body.size() - pos);
    parser.feed(body.substr(pos, n));
    pos += n;
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    n = 1 + seed % (seed & 0x100 ? 4 : 200);
  }
  parser.finish();

  check(parser.fault() == whole.fault, "chunked and whole parses differ in the fault");
  if (!whole.ok()) return 0;
  check(rec.parts.size() == whole.parts.size(), "chunked and whole parses differ in parts");
  const std::size_t eol = body.find("\r\n");
  check(eol != std::string_view::npos, "a body without a first line was taken");
  const std::string delimiter = "\r\n" + std::string(body.substr(0, eol));
  std::uint64_t last_end = 0;
  for (std::size_t i = 0; i < whole.parts.size(); ++i) {
    const mp::Part& w = whole.parts[i];
    const Recorder::P& c = rec.parts[i];
    check(c.head.name == w.head.name && c.head.filename == w.head.filename &&
              c.head.content_type == w.head.content_type && c.head.is_file == w.head.is_file &&
              c.offset == w.offset && c.size == w.size,
          "chunked and whole parses differ in a part");
    check(w.offset >= last_end && w.offset + w.size <= body.size(), "part outside the body");
    check(c.data == w.data(body), "streamed data differs from the part's bytes");
    check(body.substr(w.offset + w.size, delimiter.size()) == delimiter,
          "part does not end at a delimiter");
    check(w.data(body).find(delimiter) == std::string_view::npos, "delimiter inside a part");
    check(desk::fuzz::valid_utf8(w.head.name) && desk::fuzz::valid_utf8(w.head.filename),
          "name not UTF-8");
    last_end = w.offset + w.size;
  }
  return 0;
}
