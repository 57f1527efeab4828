#include "server/host/placeholders.h"

#include <string>

#include "server/host/kit.h"

namespace desk::host {

namespace {

// The message of every work page that is linked but not open yet.
constexpr const char* kNotYet = "该功能尚未开放，敬请期待。";

void write_head(asp::Response& r, const char* title) {
  r.Write("<html><head><title>");
  r.Write(title);
  r.Write("</title>");
  r.Write("<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>");
  r.Write("<link rel='stylesheet' href='style.css' type='text/css'></head>");
}

void not_available_page(asp::ScriptingContext& ctx) {
  auto& r = ctx.response();
  write_head(r, "TARVO网络办公系统");
  r.Write(
      "<body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0' "
      "oncontextmenu='return false' class='plain'>");
  r.Write("<div class='notready'><p>");
  r.Write(kNotYet);
  r.Write("</p></div></body></html>");
}

void empty_frame_page(asp::ScriptingContext& ctx) {
  auto& r = ctx.response();
  write_head(r, "");
  r.Write(
      "<body leftmargin='0' topmargin='0' marginwidth='0' marginheight='0' "
      "oncontextmenu='return false' class='emptyframe'></body></html>");
}

}  // namespace

const std::vector<Placeholder>& placeholder_pages() {
  // A page leaves this list in the same change that registers its real
  // hosting page: the registry refuses a name registered twice, so a
  // forgotten entry stops the host at start-up.
  static const std::vector<Placeholder> pages = {
      {"bbs.asp"}, {"dailyinf.asp"}, {"meetinglist.asp"}, {"shenqing.asp"}, {"applygz.asp"},
  };
  return pages;
}

void register_placeholders(asp::Registry& registry) {
  for (const Placeholder& p : placeholder_pages())
    add_page(registry, p.name, p.frame ? empty_frame_page : not_available_page);
}

}  // namespace desk::host
