// One outgoing document over the whole road, through the hosting pages, by
// five users on their own sessions: drafting, draft verification, review with
// a countersign chain of two, sign-off, distribution to two recipients and
// both registrations. Every history row, item and document row is checked
// against the state rules.
#include <gtest/gtest.h>

#include <map>

#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::TestApp;
using Fields = std::vector<std::pair<std::string, std::string>>;

class Road : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* names[][2] = {
        {"u1", "王一"}, {"u2", "李二"}, {"u3", "张三"}, {"u4", "赵四"}, {"u5", "钱五"}};
    for (auto& [uid, name] : names) {
      app.add_user(uid, name, "pw", "1", "1", "办公室");
      users.emplace(uid, std::make_unique<Browser>(app));
      ASSERT_TRUE(users[uid]->login(uid, "pw")) << uid;
    }
  }

  Browser& as(const std::string& uid) { return *users.at(uid); }

  // The one open item of a user; fails the test when there is not exactly one.
  db::Row open_item(const std::string& uid) {
    auto r = app.db().query("SELECT * FROM newwork WHERE userid = ? AND status = 0", {uid});
    EXPECT_EQ(r.size(), 1u) << uid;
    return r.rows.at(0);
  }

  // Opens the item's page from the desk link, then posts the step's form.
  http::Reply act(const std::string& uid, const std::string& page, Fields fields) {
    db::Row item = open_item(uid);
    std::string flowid = item.text("baseid"), nwid = item.text("id");
    auto opened = as(uid).get(item.text("url") + "?flowid=" + flowid + "&nwid=" + nwid);
    EXPECT_EQ(opened.status, 200) << uid << " " << page;
    fields.emplace_back("flowid", flowid);
    fields.emplace_back("nwid", nwid);
    auto r = as(uid).post(page, fields);
    EXPECT_LT(r.status, 400) << uid << " " << page << ": " << testing::text_of(r);
    EXPECT_EQ(app.db().scalar("SELECT status FROM newwork WHERE id = ?", {item.integer("id")}), "1")
        << "the handler's item is closed by " << page;
    return r;
  }

  std::vector<std::string> history(const char* table, const char* handcol) {
    std::vector<std::string> out;
    for (auto& row : app.db().query(std::string("SELECT * FROM ") + table + " ORDER BY id"))
      out.push_back(row.text("handleid") + ":" + row.text(handcol) + ">" + row.text("nexttype") +
                    ":" + row.text("nextid"));
    return out;
  }

  TestApp app;
  std::map<std::string, std::unique_ptr<Browser>> users;
};

TEST_F(Road, OneDocumentFromDraftToBothRegistrations) {
  // Drafting: the body first, then the form, first handler u2 (draft verification).
  std::string body(3000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
  ASSERT_EQ(as("u1").post_raw("savedoc.asp", body).status, 200);
  auto drafted = as("u1").post("fawen.asp", {{"wenhao", "办〔2006〕12号"},
                                             {"miji", "普通"},
                                             {"huanji", "紧急"},
                                             {"dingmiyj", ""},
                                             {"baomiqx", "一年"},
                                             {"mainsend", "各部门"},
                                             {"tosend", "档案室"},
                                             {"title", "关于年终总结的通知"},
                                             {"keyword", "总结"},
                                             {"copy", "5"},
                                             {"documentname", "通知.doc"},
                                             {"fujian", ""},
                                             {"fujiantype", ""},
                                             {"hiddenselect", "u2"},
                                             {"typed", "1"},
                                             {"temple", ""}});
  ASSERT_LT(drafted.status, 400) << testing::text_of(drafted);
  std::string doc = app.db().scalar("SELECT id FROM fawen");
  ASSERT_FALSE(doc.empty());
  EXPECT_EQ(open_item("u2").text("url"), "hegao.asp");
  EXPECT_EQ(open_item("u2").text("typed"), "核稿");

  act("u2", "hegao.asp", {{"name_hg", "同意"}, {"hiddenselect", "u3"}, {"typed", "2"}});
  EXPECT_EQ(open_item("u3").text("url"), "shenhe.asp");

  // Review starting a countersign chain u4, u5 that ends with sign-off by u3.
  act("u3", "sendhuiqian.asp",
      {{"name_sh", "请会签"}, {"hiddenselect", "u4;u5;"}, {"qianfa", "u3"}});
  db::Row first = open_item("u4");
  EXPECT_EQ(first.text("url"), "huiqian.asp");
  EXPECT_EQ(first.text("userlist"), "u5;u3;");

  act("u4", "huiqian.asp", {{"name_hq", "无意见"}});
  EXPECT_EQ(open_item("u5").text("userlist"), "u3;");
  act("u5", "huiqian.asp", {{"name_hq", "同意发"}});
  db::Row signoff = open_item("u3");
  EXPECT_EQ(signoff.text("url"), "qianfa.asp");
  EXPECT_EQ(signoff.text("typed"), "签发");
  EXPECT_EQ(signoff.text("userlist"), "");

  act("u3", "qianfa.asp", {{"name_qf", "发"}, {"hiddenselect", "u1"}});
  EXPECT_EQ(open_item("u1").text("typed"), "公文归档");

  act("u1", "fenfa.asp", {{"hiddenselect", "u4;u5;"}});
  EXPECT_EQ(open_item("u4").text("typed"), "收文登记");
  EXPECT_EQ(open_item("u5").text("url"), "swdengji.asp");

  // While distribution items are open, only they remain of the document.
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM newwork WHERE status = 0"), "2");

  Fields reg = {{"flag", "2"},
                {"swid", "收2006-1"},
                {"wenhao", "办〔2006〕12号"},
                {"miji", "普通"},
                {"huanji", "紧急"},
                {"title", "关于年终总结的通知"},
                {"keyword", "总结"},
                {"documentname", "通知.doc"},
                {"arrivetime", "2006-12-3"},
                {"worktime", "2006-12-3"},
                {"fromdep", "办公室"},
                {"copy", "1"},
                {"name_nb", "请阅"},
                {"workpeople", ""}};
  Fields reg4 = reg, reg5 = reg;
  reg4.emplace_back("hiddenselect", "u2;");
  reg5.emplace_back("hiddenselect", "u3;u2;");
  act("u4", "swdengji.asp", reg4);
  act("u5", "swdengji.asp", reg5);

  // The document row.
  db::Row f = app.db().query("SELECT * FROM fawen").rows.at(0);
  EXPECT_EQ(f["filedata"].bytes(), body);
  EXPECT_EQ(f.text("filetype"), "doc");
  EXPECT_EQ(f.text("writeid"), "u1");
  EXPECT_EQ(f.text("writename"), "王一");
  EXPECT_EQ(f.text("writedep"), "办公室");
  EXPECT_EQ(f.text("title"), "关于年终总结的通知");
  EXPECT_EQ(f.text("name_hg"), "同意<br>李二&nbsp;2006年12月3日");
  EXPECT_EQ(f.text("hegaoname"), "李二");
  EXPECT_EQ(f.text("name_sh"), "请会签<br>张三&nbsp;2006年12月3日");
  EXPECT_EQ(f.text("name_hq"),
            "无意见<br>赵四&nbsp;2006年12月3日<br>同意发<br>钱五&nbsp;2006年12月3日<br>");
  EXPECT_EQ(f.text("name_qf"), "发<br>张三&nbsp;2006年12月3日");
  EXPECT_EQ(f.text("name_correct"), "王一");
  EXPECT_EQ(f.text("name_print"), "王一");
  EXPECT_EQ(f.text("status"), "1");
  EXPECT_EQ(f.text("donetime"), "2006-12-03 15:30:45");

  // History of the outgoing document: who did which step and what came next.
  EXPECT_EQ(history("workflow", "handtype"),
            (std::vector<std::string>{"u1:0>1:u2", "u2:1>2:u3", "u3:2>3:u4;u5;u3;", "u4:3>3:u5",
                                      "u5:3>4:u3", "u3:4>5:u1", "u1:5>6:u4;u5;"}));
  auto remarks = app.db().query("SELECT remark FROM workflow ORDER BY id");
  EXPECT_EQ(remarks.rows[0].text("remark"), "");
  EXPECT_EQ(remarks.rows[1].text("remark"), "同意");
  EXPECT_EQ(remarks.rows[2].text("remark"), "请会签");
  EXPECT_EQ(remarks.rows[6].text("remark"), "");

  // Incoming copies, their history and the instruction items.
  auto sw = app.db().query("SELECT * FROM shouwen ORDER BY id");
  ASSERT_EQ(sw.size(), 2u);
  EXPECT_EQ(sw.rows[0]["filedata"].bytes(), body);
  EXPECT_EQ(sw.rows[0].text("writeid"), "u4");
  EXPECT_EQ(sw.rows[0].text("plist"), "u2;");
  EXPECT_EQ(sw.rows[0].text("keyword"), " 总结");
  EXPECT_EQ(sw.rows[1].text("writeid"), "u5");
  EXPECT_EQ(sw.rows[1].text("plist"), "u3;u2;");
  EXPECT_EQ(history("swflow", "handletype"), (std::vector<std::string>{"u4:0>1:u2", "u5:0>1:u3"}));

  auto open = app.db().query(
      "SELECT userid, typed, url, baseid, userlist FROM newwork WHERE status = 0 ORDER BY id");
  ASSERT_EQ(open.size(), 2u);
  EXPECT_EQ(open.rows[0].text("userid"), "u2");
  EXPECT_EQ(open.rows[0].text("typed"), "收文批办");
  EXPECT_EQ(open.rows[0].text("url"), "piban.asp");
  EXPECT_EQ(open.rows[0].text("baseid"), sw.rows[0].text("id"));
  EXPECT_EQ(open.rows[0].text("userlist"), "");
  EXPECT_EQ(open.rows[1].text("userid"), "u3");
  EXPECT_EQ(open.rows[1].text("userlist"), "u2;");
  EXPECT_EQ(open.rows[1].text("baseid"), sw.rows[1].text("id"));

  // Every item of the outgoing document is done, each with its done time.
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM newwork WHERE baseid = ? AND url <> 'piban.asp' "
                            "AND (status <> 1 OR donetime IS NULL)",
                            {doc}),
            "0");
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM newwork WHERE url <> 'piban.asp'"), "8");
}

TEST_F(Road, ASendBackReturnsTheDocumentToItsDrafter) {
  ASSERT_EQ(as("u1").post_raw("savedoc.asp", "body").status, 200);
  ASSERT_LT(as("u1")
                .post("fawen.asp", {{"title", "草稿"},
                                    {"documentname", "a.doc"},
                                    {"hiddenselect", "u2"},
                                    {"typed", "2"}})
                .status,
            400);
  db::Row item = open_item("u2");
  as("u2").get("shenhe.asp?flowid=" + item.text("baseid") + "&nwid=" + item.text("id"));
  auto r = as("u2").post(
      "sendback.asp", {{"nwid", item.text("id")}, {"backtype", "name_sh"}, {"reason", "请修改"}});
  EXPECT_LT(r.status, 400) << testing::text_of(r);
  db::Row redraft = open_item("u1");
  EXPECT_EQ(redraft.text("typed"), "重新起草公文");
  EXPECT_EQ(redraft.text("url"), "fawen1.asp");
  EXPECT_EQ(app.db().scalar("SELECT name_sh FROM fawen"), "请修改<br>李二&nbsp;2006年12月3日");
  // A send-back leaves no history row: only drafting is recorded.
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM workflow"), "1");
}

}  // namespace
}  // namespace desk
