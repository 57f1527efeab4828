#include "web/safety.h"

#include <cctype>

namespace desk::web::safety {
namespace {

enum class Kind { dispatch, persistence, other };

Kind kind_of(const std::string& riid) {
  std::string id = registry_form(riid);
  if (id == kIDispatch) return Kind::dispatch;
  if (id == kIPersistStorage || id == kIPersistStream || id == kIPersistPropertyBag)
    return Kind::persistence;
  return Kind::other;
}

}  // namespace

std::string registry_form(std::string_view iid) {
  std::string out = "{";
  for (char c : iid) {
    if (c == '{' || c == '}') continue;
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out + "}";
}

HRESULT GetInterfaceSafetyOptions(const std::string* riid, std::uint32_t& supported,
                                  std::uint32_t& enabled) {
  supported = kSafeForUntrustedCaller | kSafeForUntrustedData;
  if (!riid) return kOk;
  switch (kind_of(*riid)) {
    case Kind::dispatch:
      enabled = kSafeForScripting ? kSafeForUntrustedCaller : 0;
      return kOk;
    case Kind::persistence:
      enabled = kSafeForInitialising ? kSafeForUntrustedData : 0;
      return kOk;
    case Kind::other:
      break;
  }
  return kNoInterface;
}

HRESULT SetInterfaceSafetyOptions(const std::string* riid, std::uint32_t mask,
                                  std::uint32_t options) {
  std::uint32_t m = mask & options;
  if (!riid) return kOk;
  switch (kind_of(*riid)) {
    case Kind::dispatch:
      return m == kSafeForUntrustedCaller && kSafeForScripting ? kOk : kFail;
    case Kind::persistence:
      return m == kSafeForUntrustedData && kSafeForInitialising ? kOk : kFail;
    case Kind::other:
      break;
  }
  return kNoInterface;
}

}  // namespace desk::web::safety
