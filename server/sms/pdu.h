// Text messages as SMS-SUBMIT PDUs in hexadecimal text: the numbers, the
// UCS2 body and its length limit.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace desk::sms {

// Longest message in characters (UTF-16 code units, two octets each in the
// PDU); a longer text is cut to its first kMaxChars characters.
inline constexpr std::size_t kMaxChars = 70;

// How a text fits into one message.
struct Fit {
  std::size_t chars = 0;  // length of the whole text in characters
  std::string kept;       // the part that is sent (UTF-8): the whole text when it fits
  bool cut() const { return chars > kMaxChars; }
  // Characters still free; negative when the text is too long.
  long left() const { return static_cast<long>(kMaxChars) - static_cast<long>(chars); }
};

// Characters are UTF-16 code units, so a character outside the basic plane
// counts twice and is never split. Invalid UTF-8 counts as U+FFFD.
Fit fit_message(std::string_view utf8);

// A number as it is sent: 11 digits (a national mobile number) get the
// country code "86" in front, 13 digits are taken as they are. Anything else,
// another length or a character that is not a digit, is no number: nullopt.
std::optional<std::string> international_number(std::string_view number);

// A 13-digit number in swapped semi-octets, the last digit padded with F:
// 8613912345678 gives 683119325476F8. Throws Error(internal) for other input.
std::string swap_semi_octets(std::string_view digits13);

// Four uppercase hex digits per UTF-16 code unit ("中A" gives 4E2D0041).
// Invalid UTF-8 is encoded as U+FFFD.
std::string ucs2_hex(std::string_view utf8);

struct Pdu {
  std::string hex;      // the whole PDU as uppercase hex text
  int tpdu_length = 0;  // octets after the service-centre part: what AT+CMGS= announces
};

// The PDU for a 13-digit centre and number and a text of at most kMaxChars
// characters: service centre (international), SMS-SUBMIT with a relative
// validity period of 5 minutes, the number (international), UCS2 body.
// Throws Error(internal) for other input.
Pdu build_pdu(std::string_view centre13, std::string_view number13, std::string_view text);

}  // namespace desk::sms
