// Pending-work items and history rows.
#include "server/work/work.h"

#include <gtest/gtest.h>

#include "server/workflow/flow.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::TestApp;

const DateTime kNow{2006, 12, 3, 15, 30, 45};

class Items : public ::testing::Test {
 protected:
  Items() {
    for (const char* uid : {"zhang", "li", "wang"}) app.add_user(uid, uid, "pw");
  }
  TestApp app;
};

TEST_F(Items, AddedItemIsPendingWithEmptyChain) {
  std::int64_t id =
      work::add_item(app.db(), "zhang", "关于放假的通知", workflow::find_step(1)->item, 17, kNow);
  auto item = work::load_item(app.db(), id);
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
  EXPECT_EQ(work::item_link(*item), "hegao.asp?flowid=17&nwid=" + std::to_string(id));
  EXPECT_FALSE(work::load_item(app.db(), id + 1));
}

TEST_F(Items, ChainAndCodelessKindsAreStored) {
  std::int64_t a =
      work::add_item(app.db(), "li", "t", workflow::find_step(3)->item, 5, kNow, "wang;zhao;");
  std::int64_t b = work::add_item(app.db(), "zhang", "t", workflow::kRedraftItem, 5, kNow);
  std::int64_t c = work::add_item(app.db(), "zhang", "t", workflow::kInstructionItem, 8, kNow);
  EXPECT_EQ(work::load_item(app.db(), a)->userlist, "wang;zhao;");
  EXPECT_EQ(work::item_link(*work::load_item(app.db(), b)),
            "fawen1.asp?flowid=5&nwid=" + std::to_string(b));
  auto ci = work::load_item(app.db(), c);
  EXPECT_EQ(ci->typed, "收文批办");
  EXPECT_EQ(ci->url, "piban.asp");
}

TEST_F(Items, OnlyTheOwnerClosesAnOpenItemOnce) {
  std::int64_t id = work::add_item(app.db(), "zhang", "t", workflow::find_step(2)->item, 3, kNow);
  std::int64_t other =
      work::add_item(app.db(), "zhang", "t", workflow::find_step(2)->item, 3, kNow);
  const DateTime later{2006, 12, 4, 9, 5, 0};

  EXPECT_FALSE(work::close_item(app.db(), id, "li", later));  // not li's
  EXPECT_EQ(work::load_item(app.db(), id)->status, 0);
  EXPECT_FALSE(work::close_item(app.db(), id, "zhang' OR '1'='1", later));
  EXPECT_EQ(work::load_item(app.db(), id)->status, 0);

  EXPECT_TRUE(work::close_item(app.db(), id, "zhang", later));
  auto done = work::load_item(app.db(), id);
  EXPECT_EQ(done->status, 1);
  EXPECT_EQ(done->donetime, "2006-12-04 09:05:00");

  // A second close (a reposted step) is refused and keeps the first time.
  EXPECT_FALSE(work::close_item(app.db(), id, "zhang", DateTime{2006, 12, 5, 0, 0, 0}));
  EXPECT_EQ(work::load_item(app.db(), id)->donetime, "2006-12-04 09:05:00");
  EXPECT_FALSE(work::close_item(app.db(), 9999, "zhang", later));
  // Other items are untouched.
  EXPECT_EQ(work::load_item(app.db(), other)->status, 0);
}

TEST_F(Items, WorkflowAndSwflowRows) {
  work::HistoryEntry e;
  e.flowid = 12;
  e.handlename = "张伟";
  e.handleid = "zhang";
  e.ipaddress = "10.0.0.7";
  e.nextid = "li;wang;";
  e.handtype = workflow::kReview;
  e.nexttype = workflow::kCountersign;
  e.remark = "同意";
  std::int64_t w = work::add_history(app.db(), work::Road::outgoing, e, kNow);
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
  std::int64_t s = work::add_history(app.db(), work::Road::incoming, e, kNow);
  auto srow = app.db().query("SELECT * FROM swflow WHERE id = ?", {s});
  ASSERT_EQ(srow.size(), 1u);
  EXPECT_EQ(srow.front().integer("flowid"), 4);
  EXPECT_EQ(srow.front().text("handletype"), "0");
  EXPECT_EQ(srow.front().text("nexttype"), "1");
  EXPECT_EQ(srow.front().text("remark"), "拟办");
  EXPECT_EQ(srow.front().text("handletime"), "2006-12-03 15:30:45");
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM workflow"), "1");
}

// Every way of failing the item check is one fault with one code.
TEST_F(Items, OpenItemRefusesEveryMismatchAsConflict) {
  const auto kind = workflow::find_step(1)->item;
  std::int64_t id = work::add_item(app.db(), "zhang", "t", kind, 7, kNow);
  std::int64_t done = work::add_item(app.db(), "zhang", "t", kind, 7, kNow);
  work::close_item(app.db(), done, "zhang", kNow);
  EXPECT_EQ(work::open_item(app.db(), id, "zhang", 7, "hegao.asp").id, id);
  struct Case {
    std::int64_t nwid;
    std::string uid;
    std::int64_t baseid;
    std::string url;
  };
  for (const Case& c : std::vector<Case>{{id, "li", 7, "hegao.asp"},
                                         {done, "zhang", 7, "hegao.asp"},
                                         {id + 100, "zhang", 7, "hegao.asp"},
                                         {id, "zhang", 8, "hegao.asp"},
                                         {id, "zhang", 7, "shenhe.asp"}}) {
    try {
      work::open_item(app.db(), c.nwid, c.uid, c.baseid, c.url);
      ADD_FAILURE() << "accepted " << c.nwid << " " << c.uid << " " << c.baseid << " " << c.url;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), Errc::conflict);
    }
  }
  EXPECT_THROW(work::open_item(app.db(), std::string_view("x"), "zhang", 7, "hegao.asp"), Error);
}

TEST_F(Items, ItemForAnUnknownUserIsRefused) {
  try {
    work::add_item(app.db(), "nobody", "t", workflow::kRedraftItem, 1, kNow);
    ADD_FAILURE() << "item for an unknown user";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), Errc::bad_request);
    EXPECT_NE(std::string(e.what()).find("nobody"), std::string::npos);
  }
  EXPECT_THROW(work::add_item(app.db(), "", "t", workflow::kRedraftItem, 1, kNow), Error);
  // A disabled account would never see the item.
  app.db().exec("UPDATE userlist SET disabled = 1 WHERE uid = 'li'");
  EXPECT_THROW(work::add_item(app.db(), "li", "t", workflow::kRedraftItem, 1, kNow), Error);
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM newwork"), "0");
}

}  // namespace
}  // namespace desk
