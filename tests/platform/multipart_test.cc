// The multipart parser: the control's wire format, header parameters, the
// faults and limits, and results that do not depend on where chunks end.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/multipart/multipart.h"
#include "tests/support/multipart_body.h"

namespace desk {
namespace {

using multipart::Fault;
using multipart::Limits;
using namespace std::string_literals;

// What a parse gave: the fault, and per part its head, extent and the data
// the streaming calls delivered.
struct Outcome {
  Fault fault = Fault::none;
  struct P {
    std::string name, filename, type;
    bool is_file;
    std::uint64_t offset, size;
    std::string streamed;
    bool operator==(const P&) const = default;
  };
  std::vector<P> parts;
  bool operator==(const Outcome& o) const { return fault == o.fault && parts == o.parts; }
};

struct Recorder : multipart::Handler {
  Outcome out;
  void part_begin(multipart::PartHead&& h, std::uint64_t off) override {
    out.parts.push_back({h.name, h.filename, h.content_type, h.is_file, off, 0, ""});
  }
  void part_data(std::string_view b) override { out.parts.back().streamed += b; }
  void part_end(std::uint64_t end) override {
    out.parts.back().size = end - out.parts.back().offset;
  }
};

// Feeds `body` in chunks of `chunk` bytes (0: whole).
Outcome run(std::string_view body, std::size_t chunk, const Limits& limits = {},
            std::string_view boundary = {}) {
  Recorder rec;
  multipart::Parser p(rec, limits, boundary);
  if (chunk == 0) chunk = std::max<std::size_t>(body.size(), 1);
  for (std::size_t i = 0; i < body.size(); i += chunk) p.feed(body.substr(i, chunk));
  p.finish();
  rec.out.fault = p.fault();
  if (p.fault() != Fault::none) rec.out.parts.clear();
  return rec.out;
}

// The outcome of feeding the whole body, checked to be the same for every
// chunk size up to 300 bytes and a few larger ones.
Outcome run_every_chunking(std::string_view body, const Limits& limits = {},
                           std::string_view boundary = {}) {
  Outcome whole = run(body, 0, limits, boundary);
  for (std::size_t c = 1; c <= std::min<std::size_t>(body.size(), 300); ++c)
    EXPECT_EQ(run(body, c, limits, boundary), whole) << "chunk size " << c;
  for (std::size_t c : {511, 4096, 65536}) EXPECT_EQ(run(body, c, limits, boundary), whole);
  return whole;
}

const std::string B = "----b7d5";
std::string part(const std::string& disposition, const std::string& data,
                 const std::string& extra = "") {
  return "--" + B + "\r\nContent-Disposition: " + disposition + "\r\n" + extra + "\r\n" + data +
         "\r\n";
}
const std::string kEnd = "--" + B + "--\r\n";

TEST(Multipart, ControlUploadIsReadByteExact) {
  // File bytes that hold line ends, hyphens, a delimiter without its CR LF,
  // its CR LF with a wrong last byte, and a CR just before the real delimiter.
  const std::string token = "7d510424800931";
  const std::string d = testing::control_delimiter(token);
  const std::string tricky = "a\r\n--\r\nx" + d + "\r\n" + d.substr(0, d.size() - 1) + "x" +
                             "\r\n\r\n" + d.substr(0, 10) + "\0\xFF"s + "\r";
  const std::string body =
      testing::control_body(token, {{"title", "报告 A"}, {"token", "t-1"}},
                            {{"C:\\Docs\\报告.DOC", tricky}, {"D:\\empty.txt", ""}});
  Outcome o = run_every_chunking(body);
  ASSERT_EQ(o.fault, Fault::none);
  ASSERT_EQ(o.parts.size(), 5u);
  EXPECT_EQ(o.parts[0].name, "filenum");
  EXPECT_EQ(body.substr(o.parts[0].offset, o.parts[0].size), "2");
  EXPECT_EQ(o.parts[1].name, "title");
  EXPECT_EQ(o.parts[1].streamed, text::to_gb18030("报告 A"));
  EXPECT_FALSE(o.parts[2].is_file);
  const Outcome::P& f1 = o.parts[3];
  EXPECT_TRUE(f1.is_file);
  EXPECT_EQ(f1.name, "file1");
  EXPECT_EQ(f1.filename, "C:\\Docs\\报告.DOC");
  EXPECT_EQ(f1.type, "application/octet-stream");
  EXPECT_EQ(body.substr(f1.offset, f1.size), tricky);
  EXPECT_EQ(f1.streamed, tricky);
  EXPECT_EQ(body.substr(f1.offset - 4, 4), "\r\n\r\n");
  EXPECT_EQ(o.parts[4].filename, "D:\\empty.txt");
  EXPECT_EQ(o.parts[4].size, 0u);

  // The same body with the boundary given by the caller.
  EXPECT_EQ(run(body, 7, {}, std::string(27, '-') + token), o);
}

TEST(Multipart, HeaderParametersAndFraming) {
  struct Case {
    const char* what;
    std::string body;
    std::string name, filename, type;
    bool is_file;
    std::string data;
  };
  const std::string gb_name = text::to_gb18030("名单");
  const Case cases[] = {
      {"plain field", part("form-data; name=\"a\"", "x") + kEnd, "a", "", "", false, "x"},
      {"unquoted name, blanks", part("form-data ;  name = a1 ; filename = f.txt", "x") + kEnd, "a1",
       "f.txt", "", true, "x"},
      {"quote inside a name",
       part("form-data; name=\"a\"b\"; filename=\"q\"uote\".doc\"", "") + kEnd, "a\"b",
       "q\"uote\".doc", "", true, ""},
      {"semicolon inside quotes", part("form-data; name=\"n;1\"; filename=\"x;y.doc\"", "z") + kEnd,
       "n;1", "x;y.doc", "", true, "z"},
      {"backslashes are kept",
       part("form-data; name=\"f\"; filename=\"C:\\a\\\"b.doc\"", "") + kEnd, "f", "C:\\a\\\"b.doc",
       "", true, ""},
      {"empty filename is still a file", part("form-data; name=\"f\"; filename=\"\"", "") + kEnd,
       "f", "", "", true, ""},
      {"filename* wins",
       part("form-data; name=\"f\"; filename=\"x.doc\"; "
            "filename*=UTF-8''%E6%8A%A5%E5%91%8A.doc",
            "") +
           kEnd,
       "f", "报告.doc", "", true, ""},
      {"filename* with bad UTF-8 is ignored",
       part("form-data; name=\"f\"; filename=\"x.doc\"; filename*=UTF-8''%FF.doc", "") + kEnd, "f",
       "x.doc", "", true, ""},
      {"GB18030 names",
       part("form-data; name=\"" + gb_name + "\"; filename=\"" + gb_name + ".xls\"", "") + kEnd,
       "名单", "名单.xls", "", true, ""},
      {"invalid GB18030 becomes U+FFFD",
       part("form-data; name=\"\x81\"; filename=\"\xFF.doc\"", "") + kEnd, "\xEF\xBF\xBD",
       "\xEF\xBF\xBD.doc", "", true, ""},
      {"NUL in a name", part("form-data; name=\"a\0b\""s, "") + kEnd, "a\0b"s, "", "", false, ""},
      {"header names in any case, folded value",
       "--" + B +
           "\r\ncontent-DISPOSITION: form-data;\r\n\tname=\"f\"; filename=\"a.jpg\"\r\n"
           "CONTENT-TYPE:image/jpeg \r\nX-Other: 1\r\n\r\nJ\r\n" +
           kEnd,
       "f", "a.jpg", "image/jpeg", true, "J"},
      {"epilogue after the closing delimiter",
       part("form-data; name=\"a\"", "v") + "--" + B + "--epilogue\r\n--" + B + "\r\nx", "a", "",
       "", false, "v"},
      {"no CR LF after the closing delimiter", part("form-data; name=\"a\"", "") + "--" + B + "--",
       "a", "", "", false, ""},
      {"delimiter inside data without its CR LF",
       part("form-data; name=\"a\"", "x--" + B + "\n--" + B) + kEnd, "a", "", "", false,
       "x--" + B + "\n--" + B},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = run_every_chunking(c.body);
    ASSERT_EQ(o.fault, Fault::none);
    ASSERT_EQ(o.parts.size(), 1u);
    EXPECT_EQ(o.parts[0].name, c.name);
    EXPECT_EQ(o.parts[0].filename, c.filename);
    EXPECT_EQ(o.parts[0].type, c.type);
    EXPECT_EQ(o.parts[0].is_file, c.is_file);
    EXPECT_EQ(o.parts[0].streamed, c.data);
  }

  // Transport padding may follow a delimiter.
  Outcome padded =
      run_every_chunking(part("form-data; name=\"a\"", "v") + "--" + B +
                         " \t\r\nContent-Disposition: form-data; name=b\r\n\r\nw\r\n" + kEnd);
  ASSERT_EQ(padded.parts.size(), 2u);
  EXPECT_EQ(padded.parts[1].streamed, "w");
}

TEST(Multipart, MalformedBodiesAndLimitsAreRefused) {
  const std::string ok = part("form-data; name=\"a\"", "xyz") + kEnd;
  const std::string b70(70, 'b');
  auto with_limits = [](auto set) {
    Limits l;
    set(l);
    return l;
  };
  struct Case {
    const char* what;
    std::string body;
    Limits limits;
    Fault fault;
  };
  const std::string three = part("form-data; name=\"a\"", "1") +
                            part("form-data; name=\"b\"", "2") +
                            part("form-data; name=\"c\"; filename=\"c.txt\"", "3") + kEnd;
  const Case cases[] = {
      {"empty body", "", {}, Fault::truncated},
      {"line ends LF only",
       "--" + B + "\nContent-Disposition: form-data; name=\"a\"\n\nx\n--" + B + "--\n",
       {},
       Fault::bad_boundary},
      {"CR LF only", std::string(4000, '\r') + "\n", {}, Fault::bad_boundary},
      {"LF only", std::string(4000, '\n'), {}, Fault::bad_boundary},
      {"empty boundary", "--\r\n" + ok, {}, Fault::bad_boundary},
      {"no leading hyphens", "b7d5\r\n", {}, Fault::bad_boundary},
      {"boundary of 71", "--" + b70 + "b\r\n", {}, Fault::bad_boundary},
      {"control byte in boundary", "--ab\x01\r\n", {}, Fault::bad_boundary},
      {"missing closing delimiter", ok.substr(0, ok.size() - kEnd.size()), {}, Fault::truncated},
      {"ends inside a delimiter", ok.substr(0, ok.size() - 5), {}, Fault::truncated},
      {"ends inside headers", "--" + B + "\r\nContent-Disposition: form", {}, Fault::truncated},
      {"no empty line after headers",
       "--" + B + "\r\nContent-Disposition: form-data; name=\"a\"\r\n",
       {},
       Fault::truncated},
      {"delimiter runs on",
       part("form-data; name=\"a\"", "1") + "--" + B + "x\r\n",
       {},
       Fault::bad_delimiter},
      {"one hyphen after delimiter",
       part("form-data; name=\"a\"", "1") + "--" + B + "-x",
       {},
       Fault::bad_delimiter},
      {"header without colon",
       "--" + B + "\r\nContent-Disposition form-data\r\n\r\n\r\n" + kEnd,
       {},
       Fault::bad_header},
      {"no Content-Disposition",
       "--" + B + "\r\nContent-Type: text/plain\r\n\r\nx\r\n" + kEnd,
       {},
       Fault::bad_header},
      {"no name", part("form-data; filename=\"a.doc\"", "x") + kEnd, {}, Fault::bad_header},
      {"no headers at all", "--" + B + "\r\n\r\nx\r\n" + kEnd, {}, Fault::bad_header},
      {"bare CR in a header",
       "--" + B + "\r\nContent-Disposition: form-data; name=\"a\"\rX\r\n\r\n" + kEnd,
       {},
       Fault::bad_header},
      {"header block over the limit",
       "--" + B + "\r\nContent-Disposition: form-data; name=\"a\"\r\n" +
           "X: " + std::string(80, 'h') + "\r\n\r\n" + kEnd,
       with_limits([](Limits& l) { l.header_bytes = 100; }), Fault::header_too_large},
      {"endless header line",
       "--" + B + "\r\nX: " + std::string(20000, 'h'),
       {},
       Fault::header_too_large},
      {"name over the limit", part("form-data; name=\"abcd\"", "") + kEnd,
       with_limits([](Limits& l) { l.name_bytes = 3; }), Fault::name_too_long},
      {"file name over the limit", part("form-data; name=\"a\"; filename=\"abcd\"", "") + kEnd,
       with_limits([](Limits& l) { l.filename_bytes = 3; }), Fault::filename_too_long},
      {"too many parts", three, with_limits([](Limits& l) { l.parts = 2; }), Fault::too_many_parts},
      {"fields over the limit", three, with_limits([](Limits& l) { l.field_bytes = 1; }),
       Fault::field_too_large},
      {"body over the limit", three,
       with_limits([&](Limits& l) { l.body_bytes = three.size() - 1; }), Fault::too_large},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run_every_chunking(c.body, c.limits).fault, c.fault);
  }

  // Each limit admits exactly its own value.
  Limits at;
  at.parts = 3;
  at.field_bytes = 2;
  at.body_bytes = three.size();
  at.name_bytes = 1;
  at.filename_bytes = 5;
  EXPECT_EQ(run_every_chunking(three, at).parts.size(), 3u);
  EXPECT_EQ(
      run("--" + b70 + "\r\nContent-Disposition: form-data; name=a\r\n\r\n\r\n--" + b70 + "--", 0)
          .fault,
      Fault::none);
  // A boundary the caller names must be the body's.
  EXPECT_EQ(run(ok, 0, {}, "other").fault, Fault::bad_boundary);
  EXPECT_EQ(run(ok, 0, {}, std::string(71, 'x')).fault, Fault::bad_boundary);
  EXPECT_EQ(multipart::to_error(Fault::too_large, 9).code(), Errc::too_large);
  EXPECT_EQ(multipart::to_error(Fault::truncated, 9).code(), Errc::bad_request);
}

TEST(Multipart, LargeAdversarialDataParsesInLinearTime) {
  // Many megabytes of CR LF, LF and delimiter fragments as file data: a
  // search that starts over at every line end would not finish here.
  std::string frag;
  for (std::size_t k = 0; k < B.size(); ++k) frag += "\r\n--" + B.substr(0, k) + "\r";
  frag += "\r\n--" + B.substr(0, B.size() - 2) + "x" + B.back();
  std::string fragments;
  while (fragments.size() < (4u << 20)) fragments += frag;
  for (const std::string& data :
       {std::string(4u << 20, '\r') + "\n", std::string(4u << 20, '\n'), fragments}) {
    const std::string body = part("form-data; name=\"f\"; filename=\"a.bin\"", data) + kEnd;
    for (std::size_t chunk : {0, 1 << 16, 4093}) {
      Outcome o = run(body, chunk);
      ASSERT_EQ(o.fault, Fault::none);
      ASSERT_EQ(o.parts.size(), 1u);
      EXPECT_EQ(o.parts[0].size, data.size());
      EXPECT_TRUE(o.parts[0].streamed == data);
    }
  }
}

}  // namespace
}  // namespace desk
