// The frame set, the banner and bottom bar, the placeholder pages, and the
// static files the frame pages rely on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "server/host/placeholders.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

namespace fs = std::filesystem;
using testing::Browser;
using testing::header;
using testing::TestApp;
using testing::text_of;

const fs::path kSite = DESK_SITE_DIR;

std::string read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

// Position of `needle` in `hay`, failing the test when it is missing.
size_t at(const std::string& hay, const std::string& needle) {
  size_t pos = hay.find(needle);
  EXPECT_NE(pos, std::string::npos) << "missing: " << needle;
  return pos;
}

struct LoggedIn {
  TestApp app;
  Browser b{app};
  LoggedIn() {
    app.add_user("zhang", "张伟", "pw");
    EXPECT_TRUE(b.login("zhang", "pw"));
  }
};

TEST(FrameSet, SixFramesWithTheirNamesSourcesAndNesting) {
  LoggedIn s;
  auto r = s.b.get("main.asp");
  ASSERT_EQ(r.status, 200);
  EXPECT_NE(header(r, "Content-Type").find("charset=gb2312"), std::string::npos);
  std::string page = text_of(r);
  EXPECT_NE(page.find("<title>TARVO网络办公系统</title>"), std::string::npos);

  // Outer rows: banner over everything, then menu beside the work column,
  // whose rows are the status bar, the strip with the work frame, the bottom bar.
  std::vector<std::string> in_order = {
      "<frameset rows='120,*' frameborder='NO' border='0' framespacing='0'>",
      "<frame name='top' scrolling='NO' noresize src='top.asp'>",
      "<frameset cols='150,*' frameborder='no' border='0' framespacing='0'>",
      "<frame name='left' scrolling='NO' noresize src='left.asp'>",
      "<frameset rows='59,*,17' frameborder='NO' border='0' framespacing='0'>",
      "<frame name='down' src='rz.asp' noresize scrolling='NO'>",
      "<frameset cols='5,*' frameborder='no' border='0' framespacing='0'>",
      "<frame name='rl' src='rl.htm' noresize scrolling='no'>",
      "<frame name='right' src='right.asp' noresize scrolling='yes'>",
      "</frameset>",
      "<frame name='rd' src='rd.asp' scrolling='no'>",
      "</frameset></frameset></frameset>",
      "<noframes>",
      "</html>",
  };
  size_t pos = 0;
  for (const auto& part : in_order) {
    size_t next = page.find(part, pos);
    ASSERT_NE(next, std::string::npos) << "missing or out of order: " << part;
    pos = next + part.size();
  }
  // The frame set is the same for every user.
  Browser other(s.app);
  s.app.add_user("li", "李娜", "pw");
  ASSERT_TRUE(other.login("li", "pw"));
  EXPECT_EQ(text_of(other.get("main.asp")), page);
}

TEST(FrameSet, EveryFramePageNeedsALogin) {
  TestApp app;
  Browser b(app);
  for (const char* page : {"main.asp", "top.asp", "left.asp", "rd.asp", "rz.asp", "bbs.asp"}) {
    auto r = b.get(page);
    EXPECT_EQ(r.status, 302) << page;
    EXPECT_EQ(header(r, "Location"), "/tarvo/default.htm") << page;
  }
}

TEST(Banner, KeepsTheMovieAndShowsThePictureWhereThereIsNoPlayer) {
  LoggedIn s;
  std::string page = text_of(s.b.get("top.asp"));
  size_t body = at(page,
                   "<BODY text=#ffffff bgColor=#000000 leftMargin=0 topMargin=0 "
                   "oncontextmenu='return false'>");
  size_t object = at(page,
                     "<object classid='clsid:D27CDB6E-AE6D-11cf-96B8-444553540000' "
                     "codebase='flash.ocx' width='100%' height='100%'>");
  size_t embed = at(page,
                    "<embed src='images/top.swf' quality=high "
                    "type='application/x-shockwave-flash' width='100%' height='100%'>");
  size_t end = at(page, "</TD></TR></TBODY></TABLE></CENTER></BODY></HTML>");
  EXPECT_LT(body, object);
  EXPECT_LT(object, embed);
  EXPECT_LT(embed, end);
  // The picture comes after the component's page and hides the player's
  // empty box.
  size_t style = at(page, "url(images/top.jpg)");
  EXPECT_GT(style, end);
  EXPECT_NE(page.find("embed[type='application/x-shockwave-flash']{display:none}"),
            std::string::npos);
}

TEST(BottomBar, ThreeCellsWithTheirPictures) {
  LoggedIn s;
  std::string page = text_of(s.b.get("rd.asp"));
  size_t left = at(page, "<img src='images/kuang24.gif' width='114' height='17'>");
  size_t fill = at(page, "<td align='center' width='100%' background='aa/kuang25.gif'></td>");
  size_t right = at(page, "<img src='images/kuang23.gif' width='71' height='17'>");
  EXPECT_LT(left, fill);
  EXPECT_LT(fill, right);
  EXPECT_NE(page.find("oncontextmenu='return false'"), std::string::npos);
}

TEST(Placeholders, AnswerWithTheNotYetMessageInsteadOfNotFound) {
  LoggedIn s;
  for (const auto& p : host::placeholder_pages()) {
    auto r = s.b.get(std::string(p.name));
    EXPECT_EQ(r.status, 200) << p.name;
    std::string page = text_of(r);
    EXPECT_NE(page.find("charset=gb2312"), std::string::npos) << p.name;
    EXPECT_NE(page.find("oncontextmenu='return false'"), std::string::npos) << p.name;
    bool message = page.find("该功能尚未开放，敬请期待。") != std::string::npos;
    // The status bar frame stays empty; every work page says it is not open.
    EXPECT_EQ(message, !p.frame) << p.name;
  }
  EXPECT_EQ(text_of(s.b.get("rz.asp")).find("尚未开放"), std::string::npos);
}

TEST(Placeholders, LeaveThePagesBuiltElsewhereAlone) {
  std::set<std::string> names;
  for (const auto& p : host::placeholder_pages()) names.insert(std::string(p.name));
  EXPECT_EQ(names.size(), host::placeholder_pages().size()) << "a name is listed twice";
  for (const char* built :
       {"right.asp", "newwork.asp", "news.asp", "notice.asp", "writemail.asp", "mailbox.asp",
        "readmail.asp", "main.asp", "left.asp", "top.asp", "rd.asp"})
    EXPECT_EQ(names.count(built), 0u) << built;
}

// GIF logical screen size, or {0, 0} when the file is not a GIF.
std::pair<int, int> gif_size(const std::string& bytes) {
  if (bytes.size() < 10 || bytes.compare(0, 4, "GIF8") != 0) return {0, 0};
  auto u = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  return {u(6) | (u(7) << 8), u(8) | (u(9) << 8)};
}

bool is_jpeg(const std::string& bytes) {
  return bytes.size() > 3 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xD8;
}

TEST(Site, EveryPictureScriptAndStyleTheFramePagesNameExists) {
  LoggedIn s;
  std::string pages;
  for (const char* p : {"main.asp", "top.asp", "left.asp", "rd.asp", "bbs.asp", "rz.asp"})
    pages += text_of(s.b.get(p));
  // The menu's other sprite.
  s.app.db().exec("INSERT INTO mail (topeopleid, status) VALUES ('zhang', 0)");
  pages += text_of(s.b.get("left.asp"));
  pages += read(kSite / "rl.htm");

  std::regex ref(R"((?:src|background|href)='([^'#:]+\.(?:gif|jpg|css|js|htm))')");
  std::regex url(R"(url\(([^)]+\.(?:gif|jpg))\))");
  std::set<std::string> files;
  for (auto* re : {&ref, &url})
    for (std::sregex_iterator it(pages.begin(), pages.end(), *re), end; it != end; ++it)
      files.insert((*it)[1]);
  EXPECT_GT(files.size(), 30u);
  for (const auto& f : files) {
    if (f == "apply.css" || f == "apply.js") continue;  // the desk's own files
    fs::path p = kSite / f;
    ASSERT_TRUE(fs::is_regular_file(p)) << f;
    std::string bytes = read(p);
    if (p.extension() == ".gif") {
      EXPECT_NE(gif_size(bytes).first, 0) << f << " is not a GIF";
    }
    if (p.extension() == ".jpg") {
      EXPECT_TRUE(is_jpeg(bytes)) << f << " is not a JPEG";
    }
  }

  // Pictures are drawn at the size the markup gives them.
  std::regex img(R"(<img [^>]*>)"), src(R"(src='(images/[^']+\.gif)')");
  std::regex width(R"( width='(\d+)')"), height(R"( height='(\d+)')");
  int checked = 0;
  for (std::sregex_iterator it(pages.begin(), pages.end(), img), end; it != end; ++it) {
    std::string tag = it->str();
    std::smatch m;
    // The transparent spacer stretches to whatever size it is given.
    if (!std::regex_search(tag, m, src) || m[1] == "images/spacer.gif") continue;
    auto [w, h] = gif_size(read(kSite / m[1].str()));
    std::string file = m[1];
    if (std::regex_search(tag, m, width)) {
      EXPECT_EQ(w, std::stoi(m[1])) << file;
      ++checked;
    }
    if (std::regex_search(tag, m, height)) {
      EXPECT_EQ(h, std::stoi(m[1])) << file;
      ++checked;
    }
  }
  EXPECT_GE(checked, 25);
}

}  // namespace
}  // namespace desk
