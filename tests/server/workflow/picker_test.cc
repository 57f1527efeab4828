// The recipient pickers: markup, order, numbering and escaping of the tree.
#include "server/workflow/picker.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::TestApp;

const std::string kTitle =
    "<table width='100%' border='0' cellspacing='0' cellpadding='0' height='24'>"
    "<tr><td background='images/emailt.gif' class='textblue'><a name='top'>内部成员</a></td>"
    "</tr></table>";
const std::string kScriptStart = "<script language='javascript'>var namevect=new Array();</script>";

// The picker's output for a ProgID, decoded to UTF-8.
std::string run(TestApp& app, const std::string& progid) {
  asp::Request req(asp::Request::Init{});
  asp::Response resp;
  asp::Session session(nullptr, "");
  asp::ScriptingContext ctx(app.env(), req, resp, session);
  {
    auto picker = ctx.server().CreateObject<workflow::Picker>("deskserver." + progid);
    picker->main(app.db());
  }
  return text::from_gb18030(resp.body());
}

void add_dep(TestApp& app, int depno, const std::string& name) {
  app.db().exec("INSERT INTO depart (depno, depname) VALUES (?, ?)", {depno, name});
}
void add_member(TestApp& app, const std::string& uid, const std::string& name,
                const std::string& depid) {
  app.db().exec("INSERT INTO userlist (uid, name, depid) VALUES (?, ?, ?)", {uid, name, depid});
}

std::size_t count(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (auto p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

TEST(Picker, NoDepartmentsGivesTitleAndEmptyNameArray) {
  TestApp app;
  add_member(app, "zhang", "张伟", "1");  // a member without any department
  EXPECT_EQ(run(app, "turnmore"), kTitle + kScriptStart);
}

TEST(Picker, WholeMarkupOfAnEmptyAndAFilledDepartment) {
  TestApp app;
  add_dep(app, 1, "办公室");
  add_dep(app, 2, "业务部");
  add_member(app, "zhang", " 张伟 ", "2");
  std::string expected =
      kTitle +
      "<table width='100%' border='0' cellspacing='0' cellpadding='0'>"
      "<tr><td class='workshop'  onClick=show('dep1')>"
      "<img src='images/list4.gif' width='16' height='16'>办公室</td></tr></table>"
      "<table id='dep1' width='100%' border='0' cellspacing='0' cellpadding='0' "
      "style='display:none'>"
      "<tr bgcolor='#ffffff'><td height=20  class='fontchoose'>&nbsp;&nbsp;&nbsp;&nbsp;无用户</td>"
      "</tr><tr><td height='1' bgcolor='#E0E7F3'></td></tr></table>"
      "<table width='100%' border='0' cellspacing='0' cellpadding='0'>"
      "<tr><td class='workshop'  onClick=show('dep2')>"
      "<img src='images/list4.gif' width='16' height='16'>业务部</td></tr></table>"
      "<table id='dep2' width='100%' border='0' cellspacing='0' cellpadding='0' "
      "style='display:none'>"
      "<tr bgcolor='#ffffff' onMouseOver='TurnColor(this)' onMouseOut='Turn(this)'>"
      "<td id='user0' height='20' class='fontchoose' onClick=\"TurnGreen('0',' 张伟 ')\" "
      "valign='bottom'>"
      "<input type='checkbox' name='checkbox' value='zhang' onClick='return false;'>"
      "<img src='images/list10.gif' width='16' height='16'> 张伟 </td></tr>"
      "<tr><td height='1' bgcolor='#E0E7F3'></td></tr></table>" +
      kScriptStart + "<script language='javascript'>namevect[0]='张伟';</script>";
  EXPECT_EQ(run(app, "turnone"), expected);
}

TEST(Picker, OrderAndNumberingAcrossDepartments) {
  TestApp app;
  add_dep(app, 2, "乙部");
  add_dep(app, 1, "甲部B");
  add_dep(app, 1, "甲部A");
  add_dep(app, 3, "空部");
  add_member(app, "wang", "王", "1");
  add_member(app, "li", "李二", "1");
  add_member(app, "li", "李一", "1");
  add_member(app, "zhao", "赵", "2");
  add_member(app, "ghost", "幽灵", "9");  // names no department
  add_member(app, "gone", "停用者", "1");
  app.db().exec("UPDATE userlist SET disabled = 1 WHERE uid = 'gone'");
  std::string out = run(app, "turnmorefawen");

  // Departments by number, then name; each takes a number.
  auto a = out.find("甲部A"), b = out.find("甲部B"), c = out.find("乙部"), e = out.find("空部");
  ASSERT_NE(e, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_LT(c, e);
  // 乙部 is the third department: its title sits between show('dep3') and
  // the member table dep3.
  EXPECT_LT(out.find("show('dep3')"), c);
  EXPECT_LT(c, out.find("id='dep3'"));
  EXPECT_LT(out.find("id='dep3'"), e);
  EXPECT_EQ(count(out, "onClick=show('dep"), 4u);
  EXPECT_EQ(count(out, "无用户"), 1u);
  EXPECT_GT(out.find("无用户"), out.find("id='dep4'"));

  // Members of department 1 appear under both of its rows, by login id then
  // name, numbered over the whole tree; the empty department takes no number.
  for (const char* s :
       {"namevect[0]='李一'", "namevect[1]='李二'", "namevect[2]='王'", "namevect[3]='李一'",
        "namevect[4]='李二'", "namevect[5]='王'", "namevect[6]='赵'"})
    EXPECT_NE(out.find(s), std::string::npos) << s;
  EXPECT_EQ(out.find("namevect[7]"), std::string::npos);
  EXPECT_NE(out.find("id='user6' height='20' class='fontchoose' onClick=\"TurnMore('6','赵')\""),
            std::string::npos);
  EXPECT_EQ(out.find("ghost"), std::string::npos);
  EXPECT_EQ(out.find("幽灵"), std::string::npos);
  EXPECT_EQ(out.find("停用者"), std::string::npos);
}

TEST(Picker, EachProgIdUsesItsClickHandler) {
  TestApp app;
  add_dep(app, 1, "部");
  add_member(app, "zhang", "张", "1");
  for (const char* one : {"turnone", "turnonefawen", "turnoneshouwen"}) {
    std::string out = run(app, one);
    EXPECT_NE(out.find("onClick=\"TurnGreen('0','张')\""), std::string::npos) << one;
    EXPECT_EQ(out.find("TurnMore"), std::string::npos) << one;
  }
  for (const char* more : {"turnmore", "turnmorefawen", "turnmoreshouwen"}) {
    std::string out = run(app, more);
    EXPECT_NE(out.find("onClick=\"TurnMore('0','张')\""), std::string::npos) << more;
    EXPECT_EQ(out.find("TurnGreen"), std::string::npos) << more;
  }
}

TEST(Picker, NamesAndIdsAreEscapedForTheirContexts) {
  TestApp app;
  add_dep(app, 1, "<b>部</b>");
  add_member(app, "o'b", "O'Brien x onmouseover=alert(1) </script><script>alert(2)</script>", "1");
  std::string out = run(app, "turnmore");

  EXPECT_EQ(out.find("<b>"), std::string::npos);
  EXPECT_NE(out.find("&lt;b&gt;部&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(out.find("<script>alert"), std::string::npos);
  // The only script blocks are the picker's own.
  EXPECT_EQ(count(out, "<script"), 2u);
  EXPECT_EQ(count(out, "</script>"), 2u);
  // Element text and the checkbox value are HTML-escaped.
  EXPECT_NE(out.find("value='o&#39;b'"), std::string::npos);
  EXPECT_NE(out.find("'>O&#39;Brien x onmouseover=alert(1) &lt;/script&gt;"), std::string::npos);
  // The click handler stays inside its quoted attribute: blanks and quotes of
  // the name cannot start a new attribute or end the script string.
  EXPECT_NE(out.find("onClick=\"TurnMore('0','O\\x27Brien x onmouseover=alert(1) "
                     "\\x3C/script\\x3E\\x3Cscript\\x3Ealert(2)\\x3C/script\\x3E')\" valign"),
            std::string::npos);
  EXPECT_NE(out.find("namevect[0]='O\\x27Brien x"), std::string::npos);
}

}  // namespace
}  // namespace desk
