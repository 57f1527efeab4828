#include "server/desk/fields.h"

#include "core/text.h"

namespace desk::deskpages {

std::string typed_field(asp::ScriptingContext& ctx, std::string_view name, std::string_view label,
                        std::size_t max_chars, bool required) {
  std::string value = ctx.request().Form(name);
  if (required && text::trim(value).empty())
    throw Error(Errc::bad_request, "请输入" + std::string(label) + "。");
  if (text::char_count(value) > max_chars)
    throw Error(Errc::bad_request,
                std::string(label) + "不能超过" + std::to_string(max_chars) + "个字。");
  return value;
}

std::string contains_pattern(std::string_view key) {
  std::string out = "%";
  for (char c : key) {
    if (c == '%' || c == '_' || c == '\\') out += '\\';
    out += c;
  }
  return out + "%";
}

std::string popup_link(std::string_view url, std::string_view text) {
  return "<a href='" + text::html(url) +
         "' onClick='return OpenWindows(this.href)' class='aapply'>" + text::html(text) + "</a>";
}

std::string close_popup_script(std::string_view fallback) {
  return "<script language=javascript>if (window.opener && !window.opener.closed) "
         "{opener.location=opener.location;window.close()} else {location.replace('" +
         text::js_string(fallback) + "')}</script>";
}

}  // namespace desk::deskpages
