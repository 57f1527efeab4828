// Safety for scripting and initialisation of the control, as the browser
// asks for it through IObjectSafety. Interface identifiers are passed as
// text; a null identifier is nullptr.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace desk::web::safety {

using HRESULT = std::int32_t;
inline constexpr HRESULT kOk = 0;
inline constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002u);  // E_NOINTERFACE
inline constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005u);         // E_FAIL

inline constexpr std::uint32_t kSafeForUntrustedCaller = 1;
inline constexpr std::uint32_t kSafeForUntrustedData = 2;

inline constexpr std::string_view kIDispatch = "{00020400-0000-0000-C000-000000000046}";
inline constexpr std::string_view kIPersistStorage = "{0000010A-0000-0000-C000-000000000046}";
inline constexpr std::string_view kIPersistStream = "{00000109-0000-0000-C000-000000000046}";
inline constexpr std::string_view kIPersistPropertyBag = "{37D84F60-42CB-11CE-8135-00AA004BB851}";

// Both flags are set when the library starts and never change.
inline constexpr bool kSafeForScripting = true;
inline constexpr bool kSafeForInitialising = true;

// The registry form of an interface identifier: upper case, in braces.
std::string registry_form(std::string_view iid);

HRESULT GetInterfaceSafetyOptions(const std::string* riid, std::uint32_t& supported,
                                  std::uint32_t& enabled);
HRESULT SetInterfaceSafetyOptions(const std::string* riid, std::uint32_t option_set_mask,
                                  std::uint32_t enabled_options);

}  // namespace desk::web::safety
