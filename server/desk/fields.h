// Reading typed form fields on the desk's pages: values are kept as typed;
// a blank required field or an over-long one is refused with a message that
// names the field.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/asp/asp.h"

namespace desk::deskpages {

// The posted form field `name` as typed.
// Throws Error(bad_request) "请输入<label>。" when `required` and it is blank,
// and "<label>不能超过<max_chars>个字。" when it is longer.
std::string typed_field(asp::ScriptingContext& ctx, std::string_view name, std::string_view label,
                        std::size_t max_chars, bool required = false);

// A LIKE pattern that finds `key` anywhere, with "\" as the escape
// character ("... LIKE ? ESCAPE '\'").
std::string contains_pattern(std::string_view key);

// "<a href='URL' onClick='return OpenWindows(this.href)' class='aapply'>TEXT</a>":
// a link that opens its page in a pop-up window (or in place when the
// browser blocks pop-ups). Both parts are escaped.
std::string popup_link(std::string_view url, std::string_view text);

// The answer of a pop-up form after it stored its record: the window that
// opened it is reloaded and the pop-up closes. Opened in place (no opener),
// the page goes to `fallback` instead.
std::string close_popup_script(std::string_view fallback);

}  // namespace desk::deskpages
