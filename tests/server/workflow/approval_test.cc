// The approval steps of an outgoing document through the host: each step's
// writes, the countersign chain, distribution, send-back, and the refusals
// that keep a step from being taken twice, by the wrong user or half-way.
#include "server/workflow/approval.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "core/text.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::TestApp;
using testing::text_of;

using Fields = std::vector<std::pair<std::string, std::string>>;

const std::string kSigned = "&nbsp;2006年12月3日";

// Drafter zhang and the handlers li, wang, a, b, c, x, y, all logged in; one
// drafted document on its road.
struct Road {
  TestApp app;
  std::map<std::string, std::unique_ptr<Browser>> users;
  std::int64_t doc = 0;

  Road() {
    for (const auto& [uid, name] :
         std::vector<std::pair<std::string, std::string>>{{"zhang", "张三"},
                                                          {"li", "李四"},
                                                          {"wang", "王五"},
                                                          {"a", "甲"},
                                                          {"b", "乙"},
                                                          {"c", "丙"},
                                                          {"x", "戊"},
                                                          {"y", "己"}}) {
      app.add_user(uid, name, "pw");
      users[uid] = std::make_unique<Browser>(app);
      EXPECT_TRUE(users[uid]->login(uid, "pw"));
    }
    app.db().exec("INSERT INTO depart (depno, depname) VALUES (1, '办公室')");
    app.db().exec("UPDATE userlist SET depid = '1'");
    doc = app.db().insert(
        "INSERT INTO fawen (filedata, filetype, title, writeid, writename, name_hg, name_sh) "
        "VALUES (?, 'doc', '年会通知', 'zhang', '张三', '', '')",
        {db::Blob{"BODY"}});
  }

  Browser& as(const std::string& uid) { return *users.at(uid); }

  std::int64_t item(const std::string& user, const std::string& url, const std::string& typed,
                    const std::string& userlist = "", std::int64_t baseid = 0) {
    return app.db().insert(
        "INSERT INTO newwork (userid, title, url, baseid, applytime, typed, userlist) "
        "VALUES (?, '年会通知', ?, ?, '2006-12-02 09:00:00', ?, ?)",
        {user, url, baseid ? baseid : doc, typed, userlist});
  }

  http::Reply post(const std::string& uid, const std::string& page, std::int64_t nwid,
                   Fields fields) {
    fields.emplace_back("flowid", std::to_string(doc));
    fields.emplace_back("nwid", std::to_string(nwid));
    return as(uid).post(page, fields);
  }

  std::string fawen(const std::string& column) {
    return app.db().scalar("SELECT " + column + " FROM fawen WHERE id = ?", {doc});
  }
  std::string scalar(const std::string& sql) { return app.db().scalar(sql); }

  // The one pending item, which must exist.
  db::Row open_item() {
    auto r = app.db().query("SELECT * FROM newwork WHERE status = 0");
    EXPECT_EQ(r.size(), 1u);
    return r.rows.at(0);
  }
  db::Row last_history() {
    auto r = app.db().query("SELECT * FROM workflow ORDER BY id DESC LIMIT 1");
    EXPECT_FALSE(r.empty());
    return r.rows.at(0);
  }

  void set_session(const std::string& uid, const std::string& key, const std::string& value) {
    as(uid).set_session(key, value);
  }
  std::string session(const std::string& uid, const std::string& key) {
    return as(uid).session(key);
  }

  // What a refused step must leave: every table as it was.
  std::string snapshot() {
    std::string s;
    for (const char* sql :
         {"SELECT COUNT(*) FROM workflow", "SELECT COUNT(*) FROM newwork",
          "SELECT group_concat(status || ':' || IFNULL(donetime, '-')) FROM newwork",
          "SELECT name_hg || hegaoname || name_sh || name_hq || name_qf || name_correct || "
          "status || IFNULL(donetime, '-') FROM fawen"})
      s += app.db().scalar(sql) + "|";
    return s;
  }
};

TEST(DraftVerification, OpinionHistoryNextItemAndTheItemClosed) {
  Road r;
  std::int64_t nwid = r.item("li", "hegao.asp", "核稿");
  // Opening the item names the document in the session and shows it.
  auto page =
      r.as("li").get("hegao.asp?flowid=" + std::to_string(r.doc) + "&nwid=" + std::to_string(nwid));
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(r.session("li", "fawenid"), std::to_string(r.doc));
  std::string html = text_of(page);
  EXPECT_NE(html.find("年会通知"), std::string::npos);
  EXPECT_NE(html.find("<textarea name='name_hg'"), std::string::npos);
  EXPECT_NE(html.find("<input type='hidden' name='backtype' value='name_hg'>"), std::string::npos);
  EXPECT_NE(html.find("TurnGreen"), std::string::npos);

  auto done = r.post("li", "hegao.asp", nwid,
                     {{"name_hg", "请<审核>"}, {"hiddenselect", "wang"}, {"typed", "2"}});
  EXPECT_EQ(done.status, 200);
  EXPECT_NE(text_of(done).find("公文已发送"), std::string::npos);
  EXPECT_NE(text_of(done).find("right.asp"), std::string::npos);
  EXPECT_EQ(r.fawen("name_hg"), "请&lt;审核&gt;<br>李四" + kSigned);
  EXPECT_EQ(r.fawen("hegaoname"), "李四");
  auto h = r.last_history();
  EXPECT_EQ(h.integer("flowid"), r.doc);
  EXPECT_EQ(h.text("handlename"), "李四");
  EXPECT_EQ(h.text("handleid"), "li");
  EXPECT_EQ(h.text("handletime"), "2006-12-03 15:30:45");
  EXPECT_EQ(h.text("ipaddress"), "10.0.0.7");
  EXPECT_EQ(h.text("nextid"), "wang");
  EXPECT_EQ(h.text("handtype"), "1");
  EXPECT_EQ(h.text("nexttype"), "2");
  EXPECT_EQ(h.text("remark"), "请<审核>");
  auto next = r.open_item();
  EXPECT_EQ(next.text("userid"), "wang");
  EXPECT_EQ(next.text("typed"), "审核");
  EXPECT_EQ(next.text("url"), "shenhe.asp");
  EXPECT_EQ(next.integer("baseid"), r.doc);
  EXPECT_EQ(next.text("title"), "年会通知");
  auto closed = r.app.db().query("SELECT status, donetime FROM newwork WHERE id = ?", {nwid});
  EXPECT_EQ(closed.front().integer("status"), 1);
  EXPECT_EQ(closed.front().text("donetime"), "2006-12-03 15:30:45");
  EXPECT_EQ(r.session("li", "fawenid"), "");
}

TEST(DraftVerification, ASecondVerificationReplacesTheFirst) {
  Road r;
  std::int64_t first = r.item("li", "hegao.asp", "核稿");
  r.post("li", "hegao.asp", first, {{"name_hg", "一"}, {"hiddenselect", "wang"}, {"typed", "1"}});
  auto second = r.open_item();
  EXPECT_EQ(second.text("typed"), "核稿");
  EXPECT_EQ(second.text("url"), "hegao.asp");
  r.post("wang", "hegao.asp", second.integer("id"),
         {{"name_hg", "二"}, {"hiddenselect", "li"}, {"typed", "4"}});
  EXPECT_EQ(r.fawen("name_hg"), "二<br>王五" + kSigned);
  EXPECT_EQ(r.fawen("hegaoname"), "王五");
  EXPECT_EQ(r.open_item().text("url"), "qianfa.asp");
}

TEST(Steps, PostedStepCodesOutsideThePagesChoiceAreRefused) {
  Road r;
  std::int64_t hegao = r.item("li", "hegao.asp", "核稿");
  std::int64_t shenhe = r.item("wang", "shenhe.asp", "审核");
  std::string before = r.snapshot();
  for (const char* typed : {"0", "5", "6", "7", "", "2x"}) {
    auto h = r.post("li", "hegao.asp", hegao,
                    {{"name_hg", "x"}, {"hiddenselect", "a"}, {"typed", typed}});
    EXPECT_EQ(h.status, 400) << typed;
    EXPECT_NE(text_of(h).find("请选择有效的下一步骤"), std::string::npos);
  }
  for (const char* typed : {"1", "2", "5"}) {
    auto s = r.post("wang", "shenhe.asp", shenhe,
                    {{"name_sh", "x"}, {"hiddenselect", "a"}, {"typed", typed}});
    EXPECT_EQ(s.status, 400) << typed;
  }
  // Nobody chosen, or a list where one user is expected.
  for (const char* next : {"", "a;"}) {
    auto s = r.post("wang", "shenhe.asp", shenhe,
                    {{"name_sh", "x"}, {"hiddenselect", next}, {"typed", "4"}});
    EXPECT_NE(text_of(s).find("请选择下一步的处理人"), std::string::npos);
  }
  EXPECT_EQ(r.snapshot(), before);

  auto ok = r.post("wang", "shenhe.asp", shenhe,
                   {{"name_sh", "同意"}, {"hiddenselect", "a"}, {"typed", "4"}});
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(r.fawen("name_sh"), "同意<br>王五" + kSigned);
  EXPECT_EQ(r.last_history().text("handtype"), "2");
  EXPECT_EQ(r.last_history().text("nexttype"), "4");
}

TEST(Steps, TakenOnceOnlyByTheItemsOwnerOnItsOwnDocument) {
  Road r;
  std::int64_t other_doc =
      r.app.db().insert("INSERT INTO fawen (title, writeid) VALUES ('别的', 'zhang')");
  std::int64_t nwid = r.item("li", "hegao.asp", "核稿");
  Fields f = {{"name_hg", "同意"}, {"hiddenselect", "wang"}, {"typed", "2"}};
  std::string before = r.snapshot();

  // Another user's item.
  auto stranger = r.post("wang", "hegao.asp", nwid, f);
  EXPECT_EQ(stranger.status, 409);
  EXPECT_NE(text_of(stranger).find("不是您的待办事项"), std::string::npos);
  // The item of another document.
  Fields wrong = f;
  wrong.emplace_back("flowid", std::to_string(other_doc));
  wrong.emplace_back("nwid", std::to_string(nwid));
  EXPECT_EQ(r.as("li").post("hegao.asp", wrong).status, 409);
  // The item posted to another step's page.
  EXPECT_EQ(r.post("li", "qianfa.asp", nwid, {{"name_qf", "x"}, {"hiddenselect", "wang"}}).status,
            409);
  EXPECT_EQ(r.post("li", "fenfa.asp", nwid, {{"hiddenselect", "x;"}}).status, 409);
  // No such item, no numbers.
  EXPECT_EQ(r.post("li", "hegao.asp", 999, f).status, 409);
  EXPECT_EQ(r.as("li")
                .post("hegao.asp",
                      {{"flowid", "abc"}, {"nwid", "1"}, {"typed", "2"}, {"hiddenselect", "wang"}})
                .status,
            400);
  EXPECT_EQ(r.snapshot(), before);

  // The owner's post is taken once: the same form sent again adds nothing.
  EXPECT_EQ(r.post("li", "hegao.asp", nwid, f).status, 200);
  std::string after = r.snapshot();
  auto twice = r.post("li", "hegao.asp", nwid, f);
  EXPECT_EQ(twice.status, 409);
  EXPECT_EQ(r.snapshot(), after);
  EXPECT_EQ(r.scalar("SELECT COUNT(*) FROM workflow"), "1");
  EXPECT_EQ(r.scalar("SELECT COUNT(*) FROM newwork WHERE status = 0"), "1");
}

TEST(Steps, OpeningSomeoneElsesItemShowsNothingAndNamesNothing) {
  Road r;
  std::int64_t nwid = r.item("li", "shenhe.asp", "审核");
  r.set_session("wang", "fawenid", "");
  auto page = r.as("wang").get("shenhe.asp?flowid=" + std::to_string(r.doc) +
                               "&nwid=" + std::to_string(nwid));
  EXPECT_EQ(page.status, 409);
  EXPECT_EQ(text_of(page).find("年会通知"), std::string::npos);
  EXPECT_EQ(r.session("wang", "fawenid"), "");
  // The owner with a wrong document id.
  auto wrong = r.as("li").get("shenhe.asp?flowid=" + std::to_string(r.doc + 1) +
                              "&nwid=" + std::to_string(nwid));
  EXPECT_EQ(wrong.status, 409);
  EXPECT_EQ(r.session("li", "fawenid"), "");
}

TEST(Steps, AFailingWriteLeavesTheWholeStepUndone) {
  Road r;
  std::int64_t nwid = r.item("li", "hegao.asp", "核稿");
  std::string before = r.snapshot();
  // The new item cannot be written: the opinion, the history row and the
  // closing of the handler's item must not stay either.
  r.app.db().script(
      "CREATE TRIGGER no_items BEFORE INSERT ON newwork BEGIN SELECT RAISE(ABORT, 'full'); END;");
  auto res = r.post("li", "hegao.asp", nwid,
                    {{"name_hg", "同意"}, {"hiddenselect", "wang"}, {"typed", "2"}});
  EXPECT_EQ(res.status, 500);
  EXPECT_EQ(r.snapshot(), before);
  r.app.db().script("DROP TRIGGER no_items;");
  EXPECT_EQ(r.post("li", "hegao.asp", nwid,
                   {{"name_hg", "同意"}, {"hiddenselect", "wang"}, {"typed", "2"}})
                .status,
            200);
}

TEST(Countersign, ChainWalksEachCountersignerAndEndsWithSignOff) {
  Road r;
  std::int64_t review = r.item("wang", "shenhe.asp", "审核");
  // The chain form of the review page: multi picker and the sign-off user.
  auto page = r.as("wang").get("shenhe.asp?flowid=" + std::to_string(r.doc) +
                               "&nwid=" + std::to_string(review) + "&mode=chain");
  std::string html = text_of(page);
  EXPECT_NE(html.find("action='sendhuiqian.asp'"), std::string::npos);
  EXPECT_NE(html.find("TurnMore"), std::string::npos);
  EXPECT_NE(html.find("<option value='c'>丙（c）</option>"), std::string::npos);

  auto sent = r.post("wang", "sendhuiqian.asp", review,
                     {{"name_sh", "请会签"}, {"hiddenselect", "a;b;"}, {"qianfa", "c"}});
  EXPECT_EQ(sent.status, 200);
  EXPECT_EQ(r.session("wang", "name_sh"), "请会签");
  EXPECT_EQ(r.fawen("name_sh"), "请会签<br>王五" + kSigned);
  auto h = r.last_history();
  EXPECT_EQ(h.text("nextid"), "a;b;c;");
  EXPECT_EQ(h.text("handtype"), "2");
  EXPECT_EQ(h.text("nexttype"), "3");
  EXPECT_EQ(h.text("remark"), "请会签");
  auto to_a = r.open_item();
  EXPECT_EQ(to_a.text("userid"), "a");
  EXPECT_EQ(to_a.text("typed"), "会签");
  EXPECT_EQ(to_a.text("url"), "huiqian.asp");
  EXPECT_EQ(to_a.text("userlist"), "b;c;");

  // a's page tells what follows.
  std::string a_page = text_of(r.as("a").get("huiqian.asp?flowid=" + std::to_string(r.doc) +
                                             "&nwid=" + std::to_string(to_a.integer("id"))));
  EXPECT_NE(a_page.find("乙 会签，丙 签发"), std::string::npos);
  r.post("a", "huiqian.asp", to_a.integer("id"), {{"name_hq", "一"}, {"hiddenselect", "zzz"}});
  auto to_b = r.open_item();
  EXPECT_EQ(to_b.text("userid"), "b");
  EXPECT_EQ(to_b.text("typed"), "会签");
  EXPECT_EQ(to_b.text("userlist"), "c;");
  EXPECT_EQ(r.last_history().text("nextid"), "b");
  EXPECT_EQ(r.last_history().text("nexttype"), "3");
  EXPECT_EQ(r.last_history().text("remark"), "一");

  r.post("b", "huiqian.asp", to_b.integer("id"), {{"name_hq", "二"}});
  auto to_c = r.open_item();
  EXPECT_EQ(to_c.text("userid"), "c");
  EXPECT_EQ(to_c.text("typed"), "签发");
  EXPECT_EQ(to_c.text("url"), "qianfa.asp");
  EXPECT_EQ(to_c.text("userlist"), "");
  EXPECT_EQ(r.last_history().text("handtype"), "3");
  EXPECT_EQ(r.last_history().text("nexttype"), "4");
  EXPECT_EQ(r.fawen("name_hq"), "一<br>甲" + kSigned + "<br>二<br>乙" + kSigned + "<br>");

  // Sign-off hands the document to distribution.
  r.post("c", "qianfa.asp", to_c.integer("id"), {{"name_qf", "发"}, {"hiddenselect", "li"}});
  EXPECT_EQ(r.fawen("name_qf"), "发<br>丙" + kSigned);
  auto to_li = r.open_item();
  EXPECT_EQ(to_li.text("userid"), "li");
  EXPECT_EQ(to_li.text("typed"), "公文归档");
  EXPECT_EQ(to_li.text("url"), "fenfa.asp");
  EXPECT_EQ(r.last_history().text("handtype"), "4");
  EXPECT_EQ(r.last_history().text("nexttype"), "5");
}

TEST(Countersign, ChainsWithoutACountersignerOrWithAnEmptyIdAreRefused) {
  Road r;
  std::int64_t review = r.item("wang", "shenhe.asp", "审核");
  r.set_session("wang", "fawenid", std::to_string(r.doc));
  std::string before = r.snapshot();

  auto none = r.post("wang", "sendhuiqian.asp", review,
                     {{"name_sh", "x"}, {"hiddenselect", ""}, {"qianfa", "c"}});
  EXPECT_EQ(text_of(none), "你没有选择会签人<a href='javascript:history.go(-1)'>返回</a>");
  EXPECT_EQ(r.session("wang", "fawenid"), std::to_string(r.doc));

  // No sign-off user ("a;;"), empty ids, a list without its last ";".
  for (const auto& [list, signoff] : std::vector<std::pair<std::string, std::string>>{
           {"a;", ""}, {"a;;b;", "c"}, {";a;", "c"}, {"a;b", "c"}, {"a;", "c;d"}}) {
    auto res = r.post("wang", "sendhuiqian.asp", review,
                      {{"name_sh", "x"}, {"hiddenselect", list}, {"qianfa", signoff}});
    EXPECT_EQ(res.status, 400) << list << "+" << signoff;
  }
  EXPECT_EQ(r.snapshot(), before);
}

TEST(Countersign, AnItemWithoutAChainIsRefused) {
  Road r;
  // A countersign chosen as a plain next step carries no chain.
  std::int64_t nwid = r.item("a", "huiqian.asp", "会签");
  std::string link =
      "huiqian.asp?flowid=" + std::to_string(r.doc) + "&nwid=" + std::to_string(nwid);
  std::string page = text_of(r.as("a").get(link));
  EXPECT_NE(page.find("没有后续的会签人或签发人"), std::string::npos);
  EXPECT_EQ(page.find("<textarea name='name_hq'"), std::string::npos);
  EXPECT_NE(page.find("action='sendback.asp'"), std::string::npos);
  std::string before = r.snapshot();
  auto res = r.post("a", "huiqian.asp", nwid, {{"name_hq", "同意"}});
  EXPECT_EQ(res.status, 409);
  EXPECT_NE(text_of(res).find("没有后续的会签人或签发人"), std::string::npos);
  EXPECT_EQ(r.snapshot(), before);
}

TEST(Distribution, EachRecipientGetsARegistrationItem) {
  Road r;
  std::int64_t nwid = r.item("li", "fenfa.asp", "公文归档");
  auto res = r.post("li", "fenfa.asp", nwid, {{"hiddenselect", "x;y;"}});
  EXPECT_EQ(res.status, 200);
  EXPECT_NE(text_of(res).find("公文已分发"), std::string::npos);
  EXPECT_EQ(r.fawen("status"), "1");
  EXPECT_EQ(r.fawen("name_correct"), "李四");
  EXPECT_EQ(r.fawen("name_print"), "李四");
  EXPECT_EQ(r.fawen("donetime"), "2006-12-03 15:30:45");
  auto h = r.last_history();
  EXPECT_EQ(h.text("nextid"), "x;y;");
  EXPECT_EQ(h.text("handtype"), "5");
  EXPECT_EQ(h.text("nexttype"), "6");
  EXPECT_EQ(h.text("remark"), "");
  auto items = r.app.db().query(
      "SELECT userid, typed, url, baseid, title FROM newwork WHERE status = 0 ORDER BY id");
  ASSERT_EQ(items.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(items.rows[i].text("userid"), i == 0 ? "x" : "y");
    EXPECT_EQ(items.rows[i].text("typed"), "收文登记");
    EXPECT_EQ(items.rows[i].text("url"), "swdengji.asp");
    EXPECT_EQ(items.rows[i].integer("baseid"), r.doc);
    EXPECT_EQ(items.rows[i].text("title"), "年会通知");
  }
}

TEST(Distribution, FilingWithoutRecipientsAddsNoItem) {
  Road r;
  std::int64_t nwid = r.item("li", "fenfa.asp", "公文归档");
  EXPECT_EQ(r.post("li", "fenfa.asp", nwid, {{"hiddenselect", ""}}).status, 200);
  EXPECT_EQ(r.fawen("status"), "1");
  EXPECT_EQ(r.scalar("SELECT COUNT(*) FROM newwork WHERE status = 0"), "0");
}

TEST(SendBack, AppendsTheReasonAndReturnsTheDocumentToItsDrafter) {
  Road r;
  r.app.db().exec("UPDATE fawen SET name_sh = '旧意见' WHERE id = ?", {r.doc});
  std::int64_t nwid = r.item("wang", "shenhe.asp", "审核");
  r.as("wang").get("shenhe.asp?flowid=" + std::to_string(r.doc) + "&nwid=" + std::to_string(nwid));
  auto res = r.as("wang").post(
      "sendback.asp",
      {{"nwid", std::to_string(nwid)}, {"backtype", "name_sh"}, {"reason", "请改标题"}});
  EXPECT_EQ(res.status, 200);
  EXPECT_NE(text_of(res).find("公文已退回拟稿人"), std::string::npos);
  EXPECT_EQ(r.fawen("name_sh"), "旧意见请改标题<br>王五" + kSigned);
  auto back = r.open_item();
  EXPECT_EQ(back.text("userid"), "zhang");
  EXPECT_EQ(back.text("typed"), "重新起草公文");
  EXPECT_EQ(back.text("url"), "fawen1.asp");
  EXPECT_EQ(back.integer("baseid"), r.doc);
  EXPECT_EQ(back.text("title"), "年会通知");
  EXPECT_EQ(r.scalar("SELECT COUNT(*) FROM workflow"), "0");
  EXPECT_EQ(r.scalar("SELECT status FROM newwork WHERE id = " + std::to_string(nwid)), "1");
  EXPECT_EQ(r.session("wang", "fawenid"), "");
}

TEST(SendBack, OnlyIntoAnOpinionColumnOfTheItemsDocument) {
  Road r;
  std::int64_t nwid = r.item("wang", "shenhe.asp", "审核");
  r.set_session("wang", "fawenid", std::to_string(r.doc));
  std::string before = r.snapshot();
  std::string title = r.fawen("title");
  for (const char* column : {"title", "name_hg from fawen; --", "writeid", "", "NAME_SH "}) {
    auto res = r.as("wang").post(
        "sendback.asp", {{"nwid", std::to_string(nwid)}, {"backtype", column}, {"reason", "x"}});
    EXPECT_EQ(res.status, 400) << column;
    EXPECT_NE(text_of(res).find("退回意见的栏目不正确"), std::string::npos);
  }
  // The session names another document than the item's.
  r.set_session("wang", "fawenid", std::to_string(r.doc + 1));
  EXPECT_EQ(r.as("wang")
                .post("sendback.asp",
                      {{"nwid", std::to_string(nwid)}, {"backtype", "name_sh"}, {"reason", "x"}})
                .status,
            409);
  // Another user's item; a redraft item (not a step a send-back interrupts).
  r.set_session("li", "fawenid", std::to_string(r.doc));
  EXPECT_EQ(r.as("li")
                .post("sendback.asp",
                      {{"nwid", std::to_string(nwid)}, {"backtype", "name_sh"}, {"reason", "x"}})
                .status,
            409);
  std::int64_t redraft = r.item("zhang", "fawen1.asp", "重新起草公文");
  r.set_session("zhang", "fawenid", std::to_string(r.doc));
  EXPECT_EQ(r.as("zhang")
                .post("sendback.asp",
                      {{"nwid", std::to_string(redraft)}, {"backtype", "name_sh"}, {"reason", "x"}})
                .status,
            409);
  r.app.db().exec("DELETE FROM newwork WHERE id = ?", {redraft});
  EXPECT_EQ(r.snapshot(), before);
  EXPECT_EQ(r.fawen("title"), title);
}

// Every routing step refuses a handler who is not a user: nothing is
// written and the message names the login id, instead of an item for nobody
// and "公文已发送".
TEST(Routing, UnknownHandlersAreRefusedAndNothingIsWritten) {
  struct Case {
    std::string page, typed;
    Fields fields;
  };
  for (const Case& c : std::vector<Case>{
           {"hegao.asp", "核稿", {{"name_hg", "x"}, {"hiddenselect", "ghost"}, {"typed", "2"}}},
           {"shenhe.asp", "审核", {{"name_sh", "x"}, {"hiddenselect", "ghost"}, {"typed", "4"}}},
           {"sendhuiqian.asp", "审核", {{"hiddenselect", "a;ghost;"}, {"qianfa", "x"}}},
           {"sendhuiqian.asp", "审核", {{"hiddenselect", "a;"}, {"qianfa", "ghost"}}},
           {"qianfa.asp", "签发", {{"name_qf", "x"}, {"hiddenselect", "ghost"}}},
           {"fenfa.asp", "公文归档", {{"hiddenselect", "a;ghost;b;"}}},
       }) {
    Road r;
    const std::string url = c.page == "sendhuiqian.asp" ? "shenhe.asp" : c.page;
    std::int64_t nwid = r.item("li", url, c.typed);
    const std::string before = r.snapshot();
    auto res = r.post("li", c.page, nwid, c.fields);
    EXPECT_EQ(res.status, 400) << c.page;
    EXPECT_NE(text_of(res).find("ghost"), std::string::npos) << c.page;
    EXPECT_EQ(text_of(res).find("公文已发送"), std::string::npos) << c.page;
    EXPECT_EQ(r.snapshot(), before) << c.page;
  }
}

// Countersign needs its chain of countersigners and a sign-off user: it is
// not offered, nor taken, as a plain next step.
TEST(Routing, CountersignIsNotAPlainNextStep) {
  for (const auto& [page, field] : std::vector<std::pair<std::string, std::string>>{
           {"hegao.asp", "name_hg"}, {"shenhe.asp", "name_sh"}}) {
    Road r;
    std::int64_t nwid = r.item("li", page, "x");
    const std::string link =
        page + "?flowid=" + std::to_string(r.doc) + "&nwid=" + std::to_string(nwid);
    EXPECT_EQ(text_of(r.as("li").get(link)).find("<option value='3'"), std::string::npos) << page;
    const std::string before = r.snapshot();
    auto res = r.post("li", page, nwid, {{field, "x"}, {"hiddenselect", "a"}, {"typed", "3"}});
    EXPECT_EQ(res.status, 400) << page;
    EXPECT_NE(text_of(res).find("审核后送多人会签"), std::string::npos) << page;
    EXPECT_EQ(r.snapshot(), before) << page;
  }
}

// A send-back needs a reason, and the document's history shows it.
TEST(SendBack, NeedsAReasonAndShowsInTheHistory) {
  Road r;
  std::int64_t nwid = r.item("wang", "shenhe.asp", "审核");
  const std::string before = r.snapshot();
  for (const char* reason : {"", "  "}) {
    auto res = r.post("wang", "sendback.asp", nwid, {{"backtype", "name_sh"}, {"reason", reason}});
    EXPECT_EQ(res.status, 400);
    EXPECT_NE(text_of(res).find("请填写退回的理由"), std::string::npos);
  }
  EXPECT_EQ(r.snapshot(), before);
  // The form names its document: no page needs to have set the session.
  ASSERT_EQ(r.post("wang", "sendback.asp", nwid, {{"backtype", "name_sh"}, {"reason", "请改标题"}})
                .status,
            200);
  auto row = r.app.db().query("SELECT * FROM sendback");
  ASSERT_EQ(row.size(), 1u);
  EXPECT_EQ(row.front().text("handleid"), "wang");
  EXPECT_EQ(row.front().text("toid"), "zhang");
  EXPECT_EQ(row.front().text("step"), "shenhe.asp");
  EXPECT_EQ(row.front().text("reason"), "请改标题");
  EXPECT_EQ(r.scalar("SELECT COUNT(*) FROM workflow"), "0");  // the road's own rows as they were
  r.app.db().exec("UPDATE fawen SET writetime = '2006-12-01 09:00:00'");  // a drafted document
  std::string history =
      text_of(r.as("zhang").get("flowdetail.asp?type=fawen&id=" + std::to_string(r.doc)));
  EXPECT_NE(history.find("退回拟稿人"), std::string::npos);
  EXPECT_NE(history.find("请改标题"), std::string::npos);
}

// Two step pages open in two tabs: each body link fetches its own document,
// whatever the session names last; the access rule still applies.
TEST(Routing, BodyLinksNameTheirDocument) {
  Road r;
  std::int64_t other = r.app.db().insert(
      "INSERT INTO fawen (filedata, filetype, title, writeid, writename) "
      "VALUES (?, 'doc', '另一件', 'zhang', '张三')",
      {db::Blob{"OTHER"}});
  std::int64_t first = r.item("li", "hegao.asp", "核稿");
  std::int64_t second = r.item("li", "hegao.asp", "核稿", "", other);
  auto open = [&](std::int64_t doc, std::int64_t nwid) {
    return text_of(r.as("li").get("hegao.asp?flowid=" + std::to_string(doc) +
                                  "&nwid=" + std::to_string(nwid)));
  };
  std::string tab1 = open(r.doc, first);
  open(other, second);  // the session now names the other document
  const std::string link = "loadhg.asp?flowid=" + std::to_string(r.doc);
  EXPECT_NE(tab1.find(link), std::string::npos);
  EXPECT_EQ(r.as("li").get(link).body, "BODY");
  EXPECT_EQ(r.as("li").get("loadhg.asp?flowid=" + std::to_string(other)).body, "OTHER");
  EXPECT_EQ(r.as("y").get(link).status, 403);
}

}  // namespace
}  // namespace desk
