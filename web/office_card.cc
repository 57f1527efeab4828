// The control's card reader: a reader library's functions on the handle in
// cardport, opened and closed again within each call.
#include <exception>
#include <limits>
#include <stdexcept>
#include <vector>

#include "core/text.h"
#include "web/office.h"

namespace desk::web {
namespace {

constexpr std::int32_t kPorts[] = {0, 1, 100};
constexpr std::int32_t kCardType = 16;
constexpr std::int16_t kIdAddress = 138, kIdLength = 6;
constexpr std::size_t kBufferSize = 1024;

}  // namespace

bool office::open_reader() {
  if (!p_.reader) {
    p_.messages.note("no card reader library is set");
    return false;
  }
  if (!p_.reader->load()) {
    p_.messages.note(p_.reader->error());
    return false;
  }
  for (std::int32_t port : kPorts)
    if (cardport_ < 1) cardport_ = p_.reader->InitComm(port);
  return cardport_ >= 1;
}

void office::CloseComm() {
  if (cardport_ < 1 || !p_.reader || !p_.reader->load()) return;
  // A failed close keeps the handle.
  if (p_.reader->ExitComm(cardport_) >= 0) cardport_ = 0;
}

std::string office::ReadId() {
  std::string buffer(kBufferSize, '\0');
  ErrorMsg.clear();
  auto fail = [&](std::string_view why) {
    ErrorMsg = why;
    CloseComm();
    return std::string();
  };
  try {
    if (!open_reader()) {
      ErrorMsg = kPortFailed;
      return "";
    }
    ReaderLibrary& reader = *p_.reader;
    std::int16_t s = reader.Status(cardport_);
    if (s < 0) return fail(kStatusError);
    if (s == 1) return fail(kInsertCard);
    if (reader.InitType(cardport_, kCardType) != 0) return fail(kCardTypeError);
    p_.loop.pump();
    if (reader.Read(cardport_, kIdAddress, kIdLength,
                    reinterpret_cast<unsigned char*>(buffer.data())) != 0)
      return fail(kReadFailed);
    CloseComm();
    p_.loop.pump();
    CloseComm();
    // The card's bytes are text in the Chinese Windows code page.
    return text::from_gb18030(buffer);
  } catch (const std::exception& e) {
    p_.messages.note(std::string("ReadId: ") + e.what());
    CloseComm();
    return "";
  }
}

void office::DevBeep(const std::string& stimemin) {
  long long t;
  if (!text::parse_int(stimemin, t))
    throw std::invalid_argument("\"" + stimemin + "\" is not a whole number");
  if (t < std::numeric_limits<std::int16_t>::min() || t > std::numeric_limits<std::int16_t>::max())
    throw std::out_of_range("\"" + stimemin + "\" is out of range");
  ErrorMsg.clear();
  try {
    if (!open_reader()) {
      ErrorMsg = kPortFailed;
      return;
    }
    if (p_.reader->Status(cardport_) < 0)
      ErrorMsg = kStatusError;
    else
      p_.reader->DevBeep(cardport_, static_cast<std::int16_t>(t));
    CloseComm();
  } catch (const std::exception& e) {
    p_.messages.note(std::string("DevBeep: ") + e.what());
    CloseComm();
  }
}

}  // namespace desk::web
