// Hosting pages of the desk: the desk itself and the lists it links to.
#pragma once

#include "platform/asp/asp.h"

namespace desk::deskpages {

// "right.asp": the desk of the edition the application is set to.
void right_page(asp::ScriptingContext& ctx);
// "rz.asp": the status bar of the edition the application is set to, with
// the sound element, the reload every `status_refresh` seconds and the counts
// for the window title and the menu's sprite (site script rz.js).
void rz_page(asp::ScriptingContext& ctx);
// "newwork.asp": every pending item of the user, newest first.
void newwork_page(asp::ScriptingContext& ctx);
// "news.asp?id=": one notice; each showing counts as a reading.
void news_page(asp::ScriptingContext& ctx);
// "notice.asp": all notices, newest first.
void notice_page(asp::ScriptingContext& ctx);

}  // namespace desk::deskpages
