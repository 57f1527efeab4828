// Recipient lists, opinion blocks and step codes.
#include "server/workflow/flow.h"

#include <gtest/gtest.h>

#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::TestApp;
using workflow::NextUser;

const DateTime kNow{2006, 12, 3, 15, 30, 45};

TEST(RecipientList, NextUserAndRest) {
  struct Case {
    std::string list, next, rest;
  };
  for (const Case& c : std::vector<Case>{
           {"zhang;", "zhang", ""},        // the first ";" is the last character
           {"zhang;li;", "zhang", "li;"},  // the rest keeps its own ";"
           {"zhang;li;wang;", "zhang", "li;wang;"},
           {"zhang", "zhang", ""},           // no ";" at all: one user
           {"", "", ""},                     // empty list: nobody
           {";li;", "", "li;"},              // empty id first
           {" zhang ;li", " zhang ", "li"},  // not trimmed
       }) {
    NextUser n = workflow::next_user(c.list);
    EXPECT_EQ(n.next, c.next) << c.list;
    EXPECT_EQ(n.rest, c.rest) << c.list;
  }
}

TEST(RecipientList, ListUsersWalksTheWholeListAndSkipsEmptyIds) {
  using V = std::vector<std::string>;
  EXPECT_EQ(workflow::list_users("zhang;li;wang;"), (V{"zhang", "li", "wang"}));
  EXPECT_EQ(workflow::list_users("zhang;;li;wang"), (V{"zhang", "li", "wang"}));
  EXPECT_EQ(workflow::list_users(";;"), V{});
  EXPECT_EQ(workflow::list_users(""), V{});
}

TEST(OpinionBlock, SignsWithNameAndDateWithoutLeadingZeros) {
  EXPECT_EQ(workflow::opinion_block("同意", "张伟", kNow), "同意<br>张伟&nbsp;2006年12月3日");
  EXPECT_EQ(workflow::opinion_block("", "李", DateTime{2007, 1, 9, 0, 0, 0}),
            "<br>李&nbsp;2007年1月9日");
}

TEST(OpinionBlock, TypedTextAndNameCannotInjectMarkup) {
  EXPECT_EQ(workflow::opinion_block("<script>alert('x')</script>", "A&B\"", kNow),
            "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;<br>A&amp;B&quot;&nbsp;2006年12月3日");
}

TEST(StepCodes, LookupAndPostedChoice) {
  ASSERT_NE(workflow::find_step(0), nullptr);
  EXPECT_EQ(workflow::find_step(0)->item.url, "");
  ASSERT_NE(workflow::find_step(6), nullptr);
  EXPECT_EQ(workflow::find_step(6)->item.typed, "收文登记");
  EXPECT_EQ(workflow::find_step(6)->item.url, "swdengji.asp");
  EXPECT_EQ(workflow::find_step(7), nullptr);
  EXPECT_EQ(workflow::find_step(-1), nullptr);

  const workflow::Step* s = workflow::parse_step("3", 1, 4);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->code, workflow::kCountersign);
  EXPECT_EQ(s->item.url, "huiqian.asp");
  EXPECT_EQ(workflow::parse_step("1", 3, 4), nullptr);  // below the page's range
  EXPECT_EQ(workflow::parse_step("5", 1, 4), nullptr);  // above it
  EXPECT_EQ(workflow::parse_step("", 1, 4), nullptr);
  EXPECT_EQ(workflow::parse_step("2x", 1, 4), nullptr);
  EXPECT_EQ(workflow::parse_step("2 or 1=1", 1, 4), nullptr);
}

}  // namespace
}  // namespace desk
