// The frame set of the working screen and its two fixed frames: the banner
// and the bottom bar. None of them takes a connection or reads the Session,
// so every caller gets the same page.
#pragma once

#include "platform/asp/asp.h"

namespace desk::host {

// `main`: the frame set "main.asp" that login sends the browser to. Frames:
// top (banner), left (menu), down (status bar), rl (strip), right (work
// pages, the target of every work link) and rd (bottom bar).
class MainFrame : public asp::PageComponent {
 public:
  void main();
};

// `top`: the 120-pixel banner "top.asp".
class Top : public asp::PageComponent {
 public:
  void main();
};

// `rd`: the 17-pixel bottom bar "rd.asp".
class Rd : public asp::PageComponent {
 public:
  void main();
};

}  // namespace desk::host
