// Text handling shared by every layer. Strings inside the program are UTF-8;
// the wire is GB18030 (served under the gb2312 label, which browsers decode
// as GB18030).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace desk::text {

// UTF-8 -> GB18030 bytes. Invalid UTF-8 sequences become '?'.
std::string to_gb18030(std::string_view utf8);
// Appends the GB18030 bytes of `utf8` to `out` when every character of it is
// a whole sequence of the Basic Multilingual Plane; otherwise leaves `out`
// as it was and returns false (to_gb18030 then converts it).
bool append_gb18030(std::string& out, std::string_view utf8);
// GB18030 bytes -> UTF-8. Undecodable bytes become U+FFFD.
std::string from_gb18030(std::string_view gb);

// Replaces decimal and hexadecimal numeric character references (&#20013;
// &#x4E2D;) by the characters they name, as browsers send characters that the
// form's code page lacks. Anything else is left untouched.
std::string decode_ncr(std::string_view s);

// Percent-decoding of one query or form component ('+' is a blank).
std::string url_decode(std::string_view s);
// Percent-decoding of a URL path ('+' stays '+').
std::string url_decode_path(std::string_view s);
// Percent-encoding of every byte outside the unreserved set.
std::string url_encode(std::string_view bytes);

// Number of characters (code points) of a UTF-8 string.
std::size_t char_count(std::string_view utf8);
// The first n characters of a UTF-8 string.
std::string char_prefix(std::string_view utf8, std::size_t n);
// A list title: the whole title when it has at most n characters, otherwise
// its first n characters followed by "…".
std::string cut_title(std::string_view utf8, std::size_t n);

// Escaping for the context a value is written into.
std::string html(std::string_view s);       // element text and quoted attributes
std::string js_string(std::string_view s);  // inside a '...' or "..." script string
// Typed text as element text: escaped, each line break (CR LF, LF or CR) a <br>.
std::string html_lines(std::string_view s);
// Removes CR, LF and other control characters so a value can sit in a header.
std::string header_safe(std::string_view s);

std::string trim(std::string_view s);
std::string to_lower(std::string_view s);
bool iequals(std::string_view a, std::string_view b);
std::vector<std::string> split(std::string_view s, char sep);
// Parses a whole decimal integer (optional sign, surrounding blanks allowed).
// Returns false for anything else, including overflow.
bool parse_int(std::string_view s, long long& out);
// A row id from a request or Session value: a whole number above 0; 0 for
// anything else (empty, negative, not a number).
std::int64_t parse_id(std::string_view s);

}  // namespace desk::text
