// Recipient lists, opinion blocks, step codes, pending-work items and history.
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

TEST(Items, AddedItemIsPendingWithEmptyChain) {
  TestApp app;
  std::int64_t id = workflow::add_item(app.db(), "zhang", "关于放假的通知",
                                       workflow::find_step(1)->item, 17, kNow);
  auto item = workflow::load_item(app.db(), id);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->id, id);
  EXPECT_EQ(item->userid, "zhang");
  EXPECT_EQ(item->title, "关于放假的通知");
  EXPECT_EQ(item->typed, "核稿");
  EXPECT_EQ(item->url, "hegao.asp");
  EXPECT_EQ(item->baseid, 17);
  EXPECT_EQ(item->applytime, "2006-12-03 15:30:45");
  EXPECT_EQ(item->userlist, "");
  EXPECT_EQ(item->status, 0);
  EXPECT_EQ(item->donetime, "");
  EXPECT_EQ(workflow::item_link(*item), "hegao.asp?flowid=17&nwid=" + std::to_string(id));
  EXPECT_FALSE(workflow::load_item(app.db(), id + 1));
}

TEST(Items, ChainAndCodelessKindsAreStored) {
  TestApp app;
  std::int64_t a =
      workflow::add_item(app.db(), "li", "t", workflow::find_step(3)->item, 5, kNow, "wang;zhao;");
  std::int64_t b = workflow::add_item(app.db(), "zhang", "t", workflow::kRedraftItem, 5, kNow);
  std::int64_t c = workflow::add_item(app.db(), "zhang", "t", workflow::kInstructionItem, 8, kNow);
  EXPECT_EQ(workflow::load_item(app.db(), a)->userlist, "wang;zhao;");
  EXPECT_EQ(workflow::item_link(*workflow::load_item(app.db(), b)),
            "fawen1.asp?flowid=5&nwid=" + std::to_string(b));
  auto ci = workflow::load_item(app.db(), c);
  EXPECT_EQ(ci->typed, "收文批办");
  EXPECT_EQ(ci->url, "piban.asp");
}

TEST(Items, OnlyTheOwnerClosesAnOpenItemOnce) {
  TestApp app;
  std::int64_t id =
      workflow::add_item(app.db(), "zhang", "t", workflow::find_step(2)->item, 3, kNow);
  std::int64_t other =
      workflow::add_item(app.db(), "zhang", "t", workflow::find_step(2)->item, 3, kNow);
  const DateTime later{2006, 12, 4, 9, 5, 0};

  EXPECT_FALSE(workflow::close_item(app.db(), id, "li", later));  // not li's
  EXPECT_EQ(workflow::load_item(app.db(), id)->status, 0);
  EXPECT_FALSE(workflow::close_item(app.db(), id, "zhang' OR '1'='1", later));
  EXPECT_EQ(workflow::load_item(app.db(), id)->status, 0);

  EXPECT_TRUE(workflow::close_item(app.db(), id, "zhang", later));
  auto done = workflow::load_item(app.db(), id);
  EXPECT_EQ(done->status, 1);
  EXPECT_EQ(done->donetime, "2006-12-04 09:05:00");

  // A second close (a reposted step) is refused and keeps the first time.
  EXPECT_FALSE(workflow::close_item(app.db(), id, "zhang", DateTime{2006, 12, 5, 0, 0, 0}));
  EXPECT_EQ(workflow::load_item(app.db(), id)->donetime, "2006-12-04 09:05:00");
  EXPECT_FALSE(workflow::close_item(app.db(), 9999, "zhang", later));
  // Other items are untouched.
  EXPECT_EQ(workflow::load_item(app.db(), other)->status, 0);
}

TEST(History, WorkflowAndSwflowRows) {
  TestApp app;
  workflow::HistoryEntry e;
  e.flowid = 12;
  e.handlename = "张伟";
  e.handleid = "zhang";
  e.ipaddress = "10.0.0.7";
  e.nextid = "li;wang;";
  e.handtype = workflow::kReview;
  e.nexttype = workflow::kCountersign;
  e.remark = "同意";
  std::int64_t w = workflow::add_workflow(app.db(), e, kNow);
  auto row = app.db().query("SELECT * FROM workflow WHERE id = ?", {w});
  ASSERT_EQ(row.size(), 1u);
  const auto& r = row.front();
  EXPECT_EQ(r.integer("flowid"), 12);
  EXPECT_EQ(r.text("handlename"), "张伟");
  EXPECT_EQ(r.text("handleid"), "zhang");
  EXPECT_EQ(r.text("handletime"), "2006-12-03 15:30:45");
  EXPECT_EQ(r.text("ipaddress"), "10.0.0.7");
  EXPECT_EQ(r.text("nextid"), "li;wang;");
  EXPECT_EQ(r.text("handtype"), "2");
  EXPECT_EQ(r.text("nexttype"), "3");
  EXPECT_EQ(r.text("remark"), "同意");

  e.flowid = 4;
  e.handtype = 0;
  e.nexttype = 1;
  e.remark = "拟办";
  std::int64_t s = workflow::add_swflow(app.db(), e, kNow);
  auto srow = app.db().query("SELECT * FROM swflow WHERE id = ?", {s});
  ASSERT_EQ(srow.size(), 1u);
  EXPECT_EQ(srow.front().integer("flowid"), 4);
  EXPECT_EQ(srow.front().text("handletype"), "0");
  EXPECT_EQ(srow.front().text("nexttype"), "1");
  EXPECT_EQ(srow.front().text("remark"), "拟办");
  EXPECT_EQ(srow.front().text("handletime"), "2006-12-03 15:30:45");
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM workflow"), "1");
}

}  // namespace
}  // namespace desk
