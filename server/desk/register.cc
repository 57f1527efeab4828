#include "server/desk/register.h"

#include "server/desk/admin_pages.h"
#include "server/desk/pages.h"
#include "server/desk/phone.h"
#include "server/desk/plan_pages.h"
#include "server/desk/right.h"
#include "server/desk/rz.h"
#include "server/desk/settings_pages.h"
#include "server/host/kit.h"

namespace desk::deskpages {

void register_pages(asp::Registry& registry) {
  registry.add_component<Right>("right");
  registry.add_component<RightSimp>("rightsimp");
  registry.add_component<RightFull>("rightfull");
  registry.add_component<Rz>("rz");
  registry.add_component<RzSimp>("rzsimp");
  registry.add_component<RzFull>("rzfull");

  // The desk's post is a clock-in or clock-out: once per form token.
  host::add_page(registry, "right.asp", right_page, {.title = "桌面", .once = true});
  host::add_page(registry, "rz.asp", rz_page);
  host::add_page(registry, "newwork.asp", newwork_page);
  host::add_page(registry, "news.asp", news_page);
  host::add_page(registry, "notice.asp", notice_page);
  register_settings_pages(registry);
  register_plan_pages(registry);
  register_admin_pages(registry);
  register_phone_pages(registry);
}

}  // namespace desk::deskpages
