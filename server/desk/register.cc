#include "server/desk/register.h"

#include "server/desk/pages.h"
#include "server/desk/right.h"
#include "server/desk/settings_pages.h"

namespace desk::deskpages {

void register_pages(asp::Registry& registry) {
  registry.add_component<Right>("right");
  registry.add_component<RightSimp>("rightsimp");
  registry.add_component<RightFull>("rightfull");

  registry.add_page({"right.asp", right_page, asp::Access::login});
  registry.add_page({"newwork.asp", newwork_page, asp::Access::login});
  registry.add_page({"news.asp", news_page, asp::Access::login});
  registry.add_page({"notice.asp", notice_page, asp::Access::login});
  register_settings_pages(registry);
}

}  // namespace desk::deskpages
