#include "server/desk/settings_pages.h"

#include <initializer_list>
#include <string>

#include "core/text.h"
#include "server/host/chrome.h"
#include "server/host/kit.h"

namespace desk::deskpages {
namespace {

struct Entry {
  std::string_view href;
  std::string_view title;
  std::string_view note;
};

// A page listing the tools of one menu entry.
void tool_list(asp::Response& r, std::string_view title, std::initializer_list<Entry> entries) {
  std::string out = host::page_head(title) + host::title_bar(title, {{"right.asp", "返回桌面"}}) +
                    "<table width='96%' align='center' border='0' cellspacing='1' cellpadding='6' "
                    "bgcolor='#B5C7E8'>";
  for (const Entry& e : entries)
    out += "<tr bgcolor='#FFFFFF'><td width='30%' class='10blue'><a href='" + text::html(e.href) +
           "' class='aapply'>" + text::html(e.title) + "</a></td><td class='10blue'>" +
           text::html(e.note) + "</td></tr>";
  out += "</table>" + std::string(host::kPageEnd);
  r.Write(out);
}

void personmsg_page(asp::ScriptingContext& ctx) {
  tool_list(ctx.response(), "个人设置",
            {{"mysign.asp", "个人签名", "上传或更换您在公文上使用的签名图片。"},
             {"mailbox.asp", "收件箱", "查看您收到的内部邮件。"},
             {"flowlist.asp", "流程跟踪", "查看您起草或办理过的公文及其办理记录。"}});
}

void system_page(asp::ScriptingContext& ctx) {
  host::require_admin(ctx);
  tool_list(ctx.response(), "系统维护",
            {{"templelist.asp", "公文模板", "上传公文模板，选择默认模板。"},
             {"mysign.asp", "签名图片", "为任一用户上传签名图片。"}});
}

}  // namespace

void register_settings_pages(asp::Registry& registry) {
  host::add_page(registry, "personmsg.asp", personmsg_page);
  host::add_page(registry, "system.asp", system_page, {.title = "系统维护"});
}

}  // namespace desk::deskpages
