// Streaming parser of multipart/form-data bodies.
//
// The body may be fed in chunks of any size; the result does not depend on
// where the chunks end. Parts are reported as byte offsets into the body, so
// a host that already holds the body keeps a single copy of it. Between
// chunks the parser itself holds at most one part's header block (bounded by
// Limits::header_bytes) and nothing of the data.
//
// Framing, as browsers and the document control's multi-file upload send it:
//   - the first line of the body is the delimiter, "--" + boundary (1-70
//     printable ASCII characters, not ending in a blank), ended by CR LF;
//     there is no preamble;
//   - each part is a header block ended by an empty line, then its data,
//     then CR LF and the delimiter again;
//   - a delimiter followed by "--" closes the body; anything after it (the
//     epilogue) is ignored. Transport padding (blanks and tabs) may follow a
//     delimiter before its CR LF.
// Every line ends with CR LF; a body with bare LF line ends is malformed.
// Names, file names and header values are GB18030 text (the site's code
// page) and are handed on as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"

namespace desk::multipart {

// Why a body was refused. The parse stops at the first fault.
enum class Fault : std::uint8_t {
  none,
  bad_boundary,       // the first line is not a valid delimiter (or not the expected one)
  bad_delimiter,      // a delimiter followed by something else than "--" or CR LF
  header_too_large,   // a part's header block over Limits::header_bytes
  bad_header,         // a header line without a colon, or no Content-Disposition name
  name_too_long,      // a field name over Limits::name_bytes
  filename_too_long,  // a file name over Limits::filename_bytes
  too_many_parts,     // more parts than Limits::parts
  field_too_large,    // the data of the non-file parts together over Limits::field_bytes
  too_large,          // the body over Limits::body_bytes
  truncated,          // the body ended before the closing delimiter
};

std::string_view fault_name(Fault f);
// The fault in the code base's error vocabulary: Errc::too_large for the two
// size ceilings of the body and its fields, Errc::bad_request otherwise.
Error to_error(Fault f, std::uint64_t offset);

// Ceilings a server puts on one body. Sizes in bytes, of the raw text.
struct Limits {
  std::size_t parts = 1000;
  std::size_t header_bytes = 16 * 1024;  // one part's header block, its empty line included
  std::size_t name_bytes = 256;
  std::size_t filename_bytes = 1024;
  std::uint64_t field_bytes = 1024 * 1024;
  std::uint64_t body_bytes = 0;  // 0: no ceiling
};

// What a part's header block says.
struct PartHead {
  std::string name;          // the Content-Disposition name, UTF-8
  std::string filename;      // the file name as sent (possibly a full client path), UTF-8
  bool is_file = false;      // a filename (or filename*) parameter was present, even empty
  std::string content_type;  // the Content-Type value, "" when the part has none
};

// Receives the parts in body order. Offsets count from the first byte of
// the body. After a fault no further calls are made; parts already reported
// belong to a body that is refused as a whole.
class Handler {
 public:
  virtual ~Handler() = default;
  virtual void part_begin(PartHead&& head, std::uint64_t data_offset) = 0;
  // The current part's data, in pieces; a view is valid during the call only.
  virtual void part_data(std::string_view bytes) {}
  // The part's data ends before `data_end` (the CR LF of the next delimiter).
  virtual void part_end(std::uint64_t data_end) = 0;
};

class Parser {
 public:
  // `boundary` "": taken from the first line of the body. Otherwise the first
  // line must be the delimiter of this boundary. `handler` must outlive the parser.
  explicit Parser(Handler& handler, Limits limits = {}, std::string_view boundary = {});

  // The next chunk of the body. False once the body is known to be malformed;
  // later chunks are then ignored.
  bool feed(std::string_view chunk);
  // The body has ended: true when it was whole and well-formed. A body that
  // ends before its closing delimiter is truncated.
  bool finish();

  Fault fault() const { return fault_; }
  // Body offset where the fault was found.
  std::uint64_t fault_offset() const { return fault_offset_; }
  // Bytes fed so far.
  std::uint64_t consumed() const { return base_; }

 private:
  enum class State : std::uint8_t {
    first_line,
    after_delimiter,
    close_dash,
    padding,
    padding_cr,
    headers,
    data,
    epilogue,
    failed,
  };

  bool fail(Fault f, std::uint64_t offset);
  std::size_t first_line(std::string_view c, std::size_t pos);
  std::size_t headers(std::string_view c, std::size_t pos);
  std::size_t data(std::string_view c, std::size_t pos);
  bool begin_part(std::uint64_t data_offset);
  void emit(std::string_view bytes);

  Handler& handler_;
  Limits limits_;
  std::string expected_;  // the boundary given by the caller, or ""
  std::string needle_;    // CR LF "--" boundary
  State state_ = State::first_line;
  std::string buf_;           // the first line, then the current header block
  std::size_t line_len_ = 0;  // bytes of the current header line so far
  std::size_t match_ = 0;     // bytes of needle_ that ended the previous chunk
  bool in_file_ = false;
  std::size_t parts_ = 0;
  std::uint64_t field_bytes_ = 0;
  std::uint64_t base_ = 0;  // body offset of the current chunk
  Fault fault_ = Fault::none;
  std::uint64_t fault_offset_ = 0;
};

// A part of a whole body.
struct Part {
  PartHead head;
  std::uint64_t offset = 0;  // first data byte in the body
  std::uint64_t size = 0;    // data bytes
  std::string_view data(std::string_view body) const { return body.substr(offset, size); }
};

// The parts of one body, or why it was refused (then `parts` is empty).
struct Form {
  std::vector<Part> parts;
  Fault fault = Fault::none;
  std::uint64_t fault_offset = 0;
  bool ok() const { return fault == Fault::none; }
};

// Parses a body held whole, as one chunk.
Form parse(std::string_view body, const Limits& limits = {}, std::string_view boundary = {});

// Collects the parts of a body fed in chunks into a Form.
class FormBuilder : public Handler {
 public:
  void part_begin(PartHead&& head, std::uint64_t data_offset) override;
  void part_end(std::uint64_t data_end) override;
  // The result after Parser::finish.
  Form take(const Parser& parser);

 private:
  std::vector<Part> parts_;
};

}  // namespace desk::multipart
