// Incoming documents through the host: registration of a document from
// outside, registration of a distributed outgoing document and the
// instruction step that walks the chain of leaders.
#include <gtest/gtest.h>

#include <map>

#include "core/text.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::TestApp;
using testing::text_of;

using Fields = std::vector<std::pair<std::string, std::string>>;

bool has(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

// The registering clerk "wang" and the leaders "lee" and "wu"; wang is
// logged in.
struct Office {
  TestApp app;
  Browser wang{app};
  Office() : Office(asp::AppConfig{}) {}
  explicit Office(asp::AppConfig config) : app(std::move(config)) {
    app.add_user("wang", "王收", "pw");
    app.add_user("lee", "李领导", "pw");
    app.add_user("wu", "吴领导", "pw");
    app.db().exec("INSERT INTO depart (depno, depname) VALUES (1, '办公室')");
    EXPECT_TRUE(wang.login("wang", "pw"));
  }

  std::string session(const Browser& b, const std::string& key) { return b.session(key); }
  std::string count(const std::string& table) {
    return app.db().scalar("SELECT COUNT(*) FROM " + table);
  }
  // Uploads a body as the registration page's script does; returns the new
  // row's id.
  std::string upload(Browser& b, const std::string& bytes) {
    auto r = b.post_raw("swpso.asp", bytes);
    EXPECT_EQ(r.status, 200);
    return session(b, "shouwenid");
  }
  static Fields outside_form(const std::string& leaders) {
    return {{"swid", "SW-7"},
            {"miji", "秘密"},
            {"huanji", "紧急"},
            {"arrivetime", "2006-12-1"},
            {"worktime", "2006-11-30"},
            {"fromdep", "市财政局"},
            {"copy", "3"},
            {"wenhao", "财发〔2006〕9号"},
            {"title", "关于预算的通知"},
            {"keyword", "budget"},
            {"name_nb", "请李局长阅示"},
            {"username", "李领导;吴领导"},
            {"fujian", "预算通知.doc"},
            {"fujiantype", "doc"},
            {"hiddenselect", leaders},
            {"single", "single"},
            {"flag", "2"},
            {"hiddennum", "0"}};
  }
};

TEST(Swdengji1, FormIsPrefilledInTheRegionalFormat) {
  asp::AppConfig config;
  config.regional.date_pattern = "y年m月d日";
  Office o(config);
  auto r = o.wang.get("swdengji1.asp");
  ASSERT_EQ(r.status, 200);
  std::string t = text_of(r);
  EXPECT_EQ(t.rfind("<html><head><title></title><meta http-equiv='Content-Type' "
                    "content='text/html; charset=gb2312'><link rel='stylesheet' href='fawen.css'",
                    0),
            0u);
  EXPECT_TRUE(has(t, "name='arrivetime' size='20' value=2006年12月3日 maxlength='20'></td>"));
  EXPECT_TRUE(has(t, "name='worktime' class='fileinput' size='20' value=2006年12月3日 maxlength"));
  EXPECT_TRUE(has(t,
                  "<input type='text' name='copy' class='fileinput' size='6' value='1' "
                  "maxlength='6'>"));
  EXPECT_TRUE(has(t, "<select name='miji'><option value='普通' selected>普通</option>"));
  EXPECT_TRUE(has(t, "<select name='huanji'><option value='一般' selected>一般</option>"));
  EXPECT_TRUE(has(t, "onClick='checkpeople()'"));
  // The leader picker (several users) sits in the right-hand column, and the
  // hidden fields the page script fills are inside the form.
  const auto column = t.find("<td width='200' valign='top'>");
  const auto tree = t.find("TurnMore('0','李领导')");
  const auto type = t.find("<input type='hidden' name='fujiantype'>");
  const auto form_end = t.find("</form>");
  ASSERT_NE(column, std::string::npos);
  ASSERT_NE(tree, std::string::npos);
  EXPECT_LT(column, tree);
  EXPECT_LT(tree, type);
  EXPECT_LT(type, form_end);
  EXPECT_TRUE(has(t, "fetch(tokened('swpso.asp')"));
  EXPECT_TRUE(has(t,
                  "<input type='hidden' name='flag' value='2'><input type='hidden' "
                  "name='hiddennum' value='0'></td></tr></table></form></td></tr></table>"
                  "</td></tr></table></body></html>"));
  // The page ends with its markup, then the guard that sends a form once.
  EXPECT_TRUE(t.ends_with("</body></html><script language='javascript' src='guard.js'></script>"));
}

TEST(Swdengji1, CompletesTheUploadedRowAndHandsItToTheFirstLeader) {
  Office o;
  const std::string id = o.upload(o.wang, std::string("BO\0DY", 5));
  ASSERT_FALSE(id.empty());
  auto r = o.wang.post("swdengji1.asp", Office::outside_form("lee;wu;"));
  EXPECT_EQ(r.status, 200);
  std::string t = text_of(r);
  EXPECT_TRUE(has(t,
                  "<script language=javascript>alert('收文登记完成！')</script>"
                  "<script>document.location='swdengji1.asp'</script>"));
  EXPECT_FALSE(has(t, "<form"));
  EXPECT_EQ(o.session(o.wang, "shouwenid"), "");

  auto sw = o.app.db().query("SELECT * FROM shouwen WHERE id = ?", {id});
  ASSERT_EQ(sw.size(), 1u);
  const auto& d = sw.front();
  std::map<std::string, std::string> want = {
      {"swid", "SW-7"},
      {"wenhao", "财发〔2006〕9号"},
      {"miji", "秘密"},
      {"huanji", "紧急"},
      {"title", "关于预算的通知"},
      {"keyword", " budget"},
      {"documentname", "预算通知.doc"},
      {"filetype", "doc"},
      {"arrivetime", "2006-12-01"},  // typed dates are stored in one form
      {"writetime", "2006-11-30"},
      {"fromdep", "市财政局"},
      {"writeid", "wang"},
      {"writename", "王收"},
      {"copy", "3"},
      {"plist", "lee;wu;"},
      {"draftime", "2006-12-03 15:30:45"},
      {"name_nb", "请李局长阅示"}};
  for (auto& [column, value] : want) EXPECT_EQ(d.text(column), value) << column;
  EXPECT_EQ(d["filedata"].bytes(), std::string("BO\0DY", 5));

  auto flow = o.app.db().query("SELECT * FROM swflow");
  ASSERT_EQ(flow.size(), 1u);
  EXPECT_EQ(flow.front().text("flowid"), id);
  EXPECT_EQ(flow.front().text("handlename"), "王收");
  EXPECT_EQ(flow.front().text("handleid"), "wang");
  EXPECT_EQ(flow.front().text("nextid"), "lee");
  EXPECT_EQ(flow.front().text("handletime"), "2006-12-03 15:30:45");
  EXPECT_EQ(flow.front().text("ipaddress"), "10.0.0.7");
  EXPECT_EQ(flow.front().text("remark"), "请李局长阅示");
  EXPECT_EQ(flow.front().text("handletype"), "0");
  EXPECT_EQ(flow.front().text("nexttype"), "1");

  auto items = o.app.db().query("SELECT * FROM newwork");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items.front().text("userid"), "lee");
  EXPECT_EQ(items.front().text("userlist"), "wu;");
  EXPECT_EQ(items.front().text("title"), "关于预算的通知");
  EXPECT_EQ(items.front().text("url"), "piban.asp");
  EXPECT_EQ(items.front().text("baseid"), id);
  EXPECT_EQ(items.front().text("typed"), "收文批办");
  EXPECT_EQ(items.front().integer("status"), 0);

  // The same form sent again finds no upload waiting and writes nothing.
  r = o.wang.post("swdengji1.asp", Office::outside_form("lee;wu;"));
  EXPECT_EQ(r.status, 400);
  EXPECT_TRUE(has(text_of(r), "没有找到上传的收文正文"));
  EXPECT_EQ(o.count("swflow"), "1");
  EXPECT_EQ(o.count("newwork"), "1");
}

TEST(Swdengji1, LeaderListSplitting) {
  struct Case {
    std::string list, first, rest;
  };
  for (const Case& c :
       {Case{"lee;", "lee", ""}, Case{"lee;wu;", "lee", "wu;"}, Case{"lee;;wu;", "lee", "wu;"},
        Case{";lee;", "lee", ""}, Case{"lee", "lee", ""}}) {
    Office o;
    o.upload(o.wang, "x");
    auto r = o.wang.post("swdengji1.asp", Office::outside_form(c.list));
    EXPECT_EQ(r.status, 200) << c.list;
    auto item = o.app.db().query("SELECT userid, userlist FROM newwork");
    ASSERT_EQ(item.size(), 1u) << c.list;
    EXPECT_EQ(item.front().text("userid"), c.first) << c.list;
    EXPECT_EQ(item.front().text("userlist"), c.rest) << c.list;
    // The routing list is kept as it was posted.
    EXPECT_EQ(o.app.db().scalar("SELECT plist FROM shouwen"), c.list);
  }
}

TEST(Swdengji1, RefusalsWriteNothing) {
  Office o;
  // Nothing uploaded in this session.
  auto r = o.wang.post("swdengji1.asp", Office::outside_form("lee;"));
  EXPECT_EQ(r.status, 400);
  EXPECT_TRUE(has(text_of(r), "没有找到上传的收文正文"));

  // No leader chosen: the upload stays waiting for a corrected form.
  const std::string id = o.upload(o.wang, "BODY");
  for (std::string list : {"", ";", " ; "}) {
    r = o.wang.post("swdengji1.asp", Office::outside_form(list));
    EXPECT_EQ(r.status, 400) << list;
    EXPECT_TRUE(has(text_of(r), "请选择批办领导")) << list;
  }
  EXPECT_EQ(o.app.db().scalar("SELECT draftime IS NULL FROM shouwen WHERE id = ?", {id}), "1");
  EXPECT_EQ(o.session(o.wang, "shouwenid"), id);
  EXPECT_EQ(o.count("swflow"), "0");
  EXPECT_EQ(o.count("newwork"), "0");

  // A plain GET or a post without the form's flag only shows the form.
  r = o.wang.post("swdengji1.asp", {{"hiddenselect", "lee;"}, {"title", "x"}});
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(has(text_of(r), "<form name='form' method='POST' action=''>"));
  EXPECT_EQ(o.count("newwork"), "0");
}

TEST(Swdengji1, NeverOverwritesARegisteredDocument) {
  Office o;
  o.upload(o.wang, "BODY");
  ASSERT_EQ(o.wang.post("swdengji1.asp", Office::outside_form("lee;")).status, 200);
  const std::string id = o.app.db().scalar("SELECT id FROM shouwen");
  const std::string nwid = o.app.db().scalar("SELECT id FROM newwork");

  // Opening the instruction page points Session shouwenid at the registered
  // document; a registration form posted now must not overwrite it.
  Browser lee(o.app);
  ASSERT_TRUE(lee.login("lee", "pw"));
  ASSERT_EQ(lee.get("piban.asp?flowid=" + id + "&nwid=" + nwid).status, 200);
  ASSERT_EQ(o.session(lee, "shouwenid"), id);
  Fields form = Office::outside_form("wu;");
  form[8].second = "篡改的标题";
  auto r = lee.post("swdengji1.asp", form);
  EXPECT_EQ(r.status, 409);
  EXPECT_EQ(o.app.db().scalar("SELECT title FROM shouwen WHERE id = ?", {id}), "关于预算的通知");
  EXPECT_EQ(o.app.db().scalar("SELECT writeid FROM shouwen WHERE id = ?", {id}), "wang");
  EXPECT_EQ(o.count("swflow"), "1");
  EXPECT_EQ(o.count("newwork"), "1");
}

TEST(Swdengji1, AFailedStepLeavesNoTrace) {
  Office o;
  const std::string id = o.upload(o.wang, "BODY");
  // The pending item cannot be written: the whole step rolls back.
  o.app.db().script(
      "CREATE TRIGGER noitem BEFORE INSERT ON newwork BEGIN SELECT RAISE(ABORT, 'full'); END;");
  auto r = o.wang.post("swdengji1.asp", Office::outside_form("lee;"));
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(o.count("swflow"), "0");
  EXPECT_EQ(
      o.app.db().scalar("SELECT draftime IS NULL AND writeid = '' FROM shouwen WHERE id = ?", {id}),
      "1");
}

// ---- registration of a distributed document --------------------------------

// A distributed outgoing document and wang's "收文登记" item on it.
struct Distributed : Office {
  std::string fawen, nwid;
  Distributed() {
    fawen = std::to_string(app.db().insert(
        "INSERT INTO fawen (filedata, filetype, documentname, wenhao, miji, huanji, writedep, "
        "writeid, writename, writetime, title, keywords, status) VALUES (?, 'doc', '通知.doc', "
        "'办发〔2006〕3号', '秘密', '加急', '办公室', 'zhao', '赵', '2006-11-28 09:00:00', "
        "'关于<年终>总结的通知', '总结', '1')",
        {db::Blob{std::string("WORD\0DOC", 8)}}));
    nwid = item_for("wang", fawen);
  }
  std::string item_for(const std::string& user, const std::string& baseid,
                       const std::string& url = "swdengji.asp") {
    return std::to_string(
        app.db().insert("INSERT INTO newwork (userid, title, url, baseid, applytime, typed) "
                        "VALUES (?, '关于年终总结的通知', ?, ?, '2006-12-01 10:00:00', '收文登记')",
                        {user, url, baseid}));
  }
  std::string link() { return "swdengji.asp?flowid=" + fawen + "&nwid=" + nwid; }
  Fields form(const std::string& leaders, const std::string& workpeople, const std::string& item) {
    return {{"swid", "SW-8"},
            {"wenhao", "办发〔2006〕3号"},
            {"miji", "秘密"},
            {"huanji", "加急"},
            {"title", "关于年终总结的通知"},
            {"keyword", "总结"},
            {"arrivetime", "2006-12-3"},
            {"worktime", "2006-11-28"},
            {"fromdep", "办公室"},
            {"copy", "1"},
            {"name_nb", "拟请李局长批示"},
            {"workpeople", workpeople},
            {"documentname", "通知.doc"},
            {"hiddenselect", leaders},
            {"flag", "2"},
            {"flowid", fawen},
            {"nwid", item}};
  }
};

TEST(Swdengji, OpeningTheItemShowsTheDocumentAndTheForm) {
  Distributed o;
  auto r = o.wang.get(o.link());
  ASSERT_EQ(r.status, 200);
  std::string t = text_of(r);
  EXPECT_EQ(o.session(o.wang, "fawenid"), o.fawen);
  EXPECT_TRUE(has(t, "关于&lt;年终&gt;总结的通知"));
  EXPECT_FALSE(has(t, "<年终>"));
  EXPECT_TRUE(has(t, "loadhg.asp"));
  EXPECT_TRUE(has(t, "<form name='form' method='POST' action='swdengji.asp'"));
  EXPECT_TRUE(has(t, "name='documentname' value='通知.doc'"));
  EXPECT_TRUE(has(t, "name='nwid' value='" + o.nwid + "'"));
  EXPECT_TRUE(has(t, "name='flag' value='2'"));
  EXPECT_TRUE(has(t, "name='arrivetime' value='2006-12-3'"));
  EXPECT_TRUE(has(t, "name='worktime' value='2006-11-28'"));
  EXPECT_TRUE(has(t, "name='copy' value='1'"));
  EXPECT_TRUE(has(t, "<option value='加急' selected>"));
  EXPECT_TRUE(has(t, "name='workpeople'"));
  EXPECT_TRUE(has(t, "TurnMore('0','"));

  // Another user's item, a done item or a mismatched document: a message,
  // and the session's document is left alone.
  Browser lee(o.app);
  ASSERT_TRUE(lee.login("lee", "pw"));
  r = lee.get(o.link());
  EXPECT_EQ(r.status, 409);
  EXPECT_TRUE(has(text_of(r), "不是您的待办事项"));
  EXPECT_EQ(o.session(lee, "fawenid"), "");
  r = o.wang.get("swdengji.asp?flowid=999&nwid=" + o.nwid);
  EXPECT_EQ(r.status, 409);
  EXPECT_TRUE(has(text_of(r), "不符"));
}

TEST(Swdengji, CopiesTheBodyClosesTheItemAndGoesBackToTheDesk) {
  Distributed o;
  ASSERT_EQ(o.wang.get(o.link()).status, 200);
  o.app.clock().set({2006, 12, 4, 8, 5, 0});
  auto r = o.wang.post("swdengji.asp", o.form("lee;", "wu", o.nwid));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(text_of(r),
            "<script language=javascript>alert('收文登记完成！')</script>"
            "<script>document.location='right.asp'</script>");

  auto sw = o.app.db().query("SELECT * FROM shouwen");
  ASSERT_EQ(sw.size(), 1u);
  const auto& d = sw.front();
  const std::string id = d.text("id");
  EXPECT_EQ(d["filedata"].bytes(), std::string("WORD\0DOC", 8));
  EXPECT_EQ(d.text("filetype"), "doc");
  EXPECT_EQ(d.text("documentname"), "通知.doc");
  EXPECT_EQ(d.text("plist"), "lee;wu;");
  EXPECT_EQ(d.text("keyword"), " 总结");
  EXPECT_EQ(d.text("writetime"), "2006-11-28");
  EXPECT_EQ(d.text("writeid"), "wang");
  EXPECT_EQ(d.text("draftime"), "2006-12-04 08:05:00");

  auto flow = o.app.db().query("SELECT flowid, nextid, remark, handletype, nexttype FROM swflow");
  ASSERT_EQ(flow.size(), 1u);
  EXPECT_EQ(flow.front().text("flowid"), id);
  EXPECT_EQ(flow.front().text("nextid"), "lee");
  EXPECT_EQ(flow.front().text("remark"), "拟请李局长批示");
  EXPECT_EQ(flow.front().text("handletype") + flow.front().text("nexttype"), "01");

  auto own = o.app.db().query("SELECT status, donetime FROM newwork WHERE id = ?", {o.nwid});
  EXPECT_EQ(own.front().integer("status"), 1);
  EXPECT_EQ(own.front().text("donetime"), "2006-12-04 08:05:00");
  auto next = o.app.db().query("SELECT * FROM newwork WHERE url = 'piban.asp'");
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next.front().text("userid"), "lee");
  EXPECT_EQ(next.front().text("userlist"), "");
  EXPECT_EQ(next.front().text("baseid"), id);
  EXPECT_EQ(next.front().text("typed"), "收文批办");
  EXPECT_EQ(o.session(o.wang, "fawenid"), "");
  EXPECT_EQ(o.session(o.wang, "shouwenid"), "");

  // Sent twice: nothing more is written.
  r = o.wang.post("swdengji.asp", o.form("lee;", "wu", o.nwid));
  EXPECT_EQ(r.status, 409);
  EXPECT_TRUE(has(text_of(r), "已经办理"));
  EXPECT_EQ(o.count("shouwen"), "1");
  EXPECT_EQ(o.count("newwork"), "2");
}

TEST(Swdengji, WorkpeopleAndBlankItem) {
  {  // No further user: the routing list is the leaders' list alone.
    Distributed o;
    o.wang.get(o.link());
    ASSERT_EQ(o.wang.post("swdengji.asp", o.form("lee;wu;", "", o.nwid)).status, 200);
    EXPECT_EQ(o.app.db().scalar("SELECT plist FROM shouwen"), "lee;wu;");
    EXPECT_EQ(o.app.db().scalar("SELECT userlist FROM newwork WHERE userid = 'lee'"), "wu;");
  }
  {  // An nwid of blanks registers and closes nothing.
    Distributed o;
    o.wang.get(o.link());
    ASSERT_EQ(o.wang.post("swdengji.asp", o.form("lee;", "", "   ")).status, 200);
    EXPECT_EQ(o.count("shouwen"), "1");
    EXPECT_EQ(o.app.db().scalar("SELECT status FROM newwork WHERE id = ?", {o.nwid}), "0");
  }
}

TEST(Swdengji, RefusalsWriteNothing) {
  Distributed o;
  const std::string other = o.item_for("lee", o.fawen);
  const std::string done = o.item_for("wang", o.fawen);
  o.app.db().exec("UPDATE newwork SET status = 1 WHERE id = ?", {done});
  const std::string hegao = o.item_for("wang", o.fawen, "hegao.asp");
  const std::string elsewhere = o.item_for("wang", "777");

  // Never opened, and the form names no document: nothing to register.
  Fields bare = o.form("lee;", "", "");
  bare[15].second = "";
  auto r = o.wang.post("swdengji.asp", bare);
  EXPECT_EQ(r.status, 400);
  EXPECT_TRUE(has(text_of(r), "没有正在登记的公文"));

  ASSERT_EQ(o.wang.get(o.link()).status, 200);
  struct Case {
    std::string leaders, nwid;
    int status;
    std::string message;
  };
  for (const Case& c :
       {Case{"lee;", other, 409, "不是您的待办事项"}, Case{"lee;", done, 409, "已经办理"},
        Case{"lee;", hegao, 409, "不符"}, Case{"lee;", elsewhere, 409, "不符"},
        Case{"lee;", "99999", 409, "已经办理"}, Case{"lee;", "abc", 400, "编号不正确"},
        Case{"", o.nwid, 400, "请选择批办领导"}, Case{";;", o.nwid, 400, "请选择批办领导"}}) {
    r = o.wang.post("swdengji.asp", o.form(c.leaders, "", c.nwid));
    EXPECT_EQ(r.status, c.status) << c.nwid << c.leaders;
    EXPECT_TRUE(has(text_of(r), c.message)) << c.nwid << " " << text_of(r);
  }
  // A form opened for another document than the session's.
  Fields moved = o.form("lee;", "", o.nwid);
  moved[15].second = "777";
  r = o.wang.post("swdengji.asp", moved);
  EXPECT_EQ(r.status, 409);

  EXPECT_EQ(o.count("shouwen"), "0");
  EXPECT_EQ(o.count("swflow"), "0");
  EXPECT_EQ(o.app.db().scalar("SELECT COUNT(*) FROM newwork WHERE status = 1"), "1");
  EXPECT_EQ(o.app.db().scalar("SELECT COUNT(*) FROM newwork"), "5");
  // The form can still be completed afterwards.
  EXPECT_EQ(o.wang.post("swdengji.asp", o.form("lee;", "", o.nwid)).status, 200);
}

TEST(Swdengji, AFailedStepLeavesNoTrace) {
  Distributed o;
  o.wang.get(o.link());
  o.app.db().script(
      "CREATE TRIGGER noitem BEFORE INSERT ON newwork BEGIN SELECT RAISE(ABORT, 'full'); END;");
  auto r = o.wang.post("swdengji.asp", o.form("lee;", "", o.nwid));
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(o.count("shouwen"), "0");
  EXPECT_EQ(o.count("swflow"), "0");
  EXPECT_EQ(o.app.db().scalar("SELECT status FROM newwork WHERE id = ?", {o.nwid}), "0");
  EXPECT_EQ(o.session(o.wang, "fawenid"), o.fawen);
}

// ---- instruction ------------------------------------------------------------

// A document registered by wang for the leaders lee, then wu.
struct Registered : Office {
  Browser lee{app}, wu{app};
  std::string id;
  Registered() {
    upload(wang, "BODY");
    EXPECT_EQ(wang.post("swdengji1.asp", outside_form("lee;wu;")).status, 200);
    id = app.db().scalar("SELECT id FROM shouwen");
    EXPECT_TRUE(lee.login("lee", "pw"));
    EXPECT_TRUE(wu.login("wu", "pw"));
  }
  std::string item_of(const std::string& user) {
    return app.db().scalar("SELECT id FROM newwork WHERE userid = ? ORDER BY id DESC LIMIT 1",
                           {user});
  }
  http::Reply instruct(Browser& b, const std::string& nwid, const std::string& remark) {
    return b.post("piban.asp", {{"flowid", id}, {"nwid", nwid}, {"remark", remark}});
  }
};

TEST(Piban, PassesAlongTheChainAndEndsWithTheLastLeader) {
  Registered o;
  const std::string lee_item = o.item_of("lee");
  auto r = o.lee.get("piban.asp?flowid=" + o.id + "&nwid=" + lee_item);
  ASSERT_EQ(r.status, 200);
  std::string t = text_of(r);
  EXPECT_EQ(o.session(o.lee, "shouwenid"), o.id);
  EXPECT_TRUE(has(t, "关于预算的通知"));
  EXPECT_TRUE(has(t, "<a href='swload.asp?flowid=" + o.id + "'"));
  EXPECT_TRUE(has(t, "请李局长阅示"));  // the proposed handling in the history
  EXPECT_TRUE(has(t, "提交后转交：吴领导"));
  EXPECT_TRUE(has(t, "name='remark'"));

  o.app.clock().set({2006, 12, 4, 9, 0, 0});
  r = o.instruct(o.lee, lee_item, "同意，请<吴>阅");
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(has(text_of(r), "alert('批办完成！')"));
  auto row = o.app.db().query("SELECT * FROM swflow ORDER BY id DESC LIMIT 1").front();
  EXPECT_EQ(row.text("flowid"), o.id);
  EXPECT_EQ(row.text("handleid"), "lee");
  EXPECT_EQ(row.text("handlename"), "李领导");
  EXPECT_EQ(row.text("nextid"), "wu");
  EXPECT_EQ(row.text("remark"), "同意，请<吴>阅");
  EXPECT_EQ(row.text("handletype"), "1");
  EXPECT_EQ(row.text("nexttype"), "1");
  EXPECT_EQ(row.text("handletime"), "2006-12-04 09:00:00");
  EXPECT_EQ(o.app.db().scalar("SELECT status FROM newwork WHERE id = ?", {lee_item}), "1");
  const std::string wu_item = o.item_of("wu");
  auto next = o.app.db().query("SELECT * FROM newwork WHERE id = ?", {wu_item}).front();
  EXPECT_EQ(next.text("userlist"), "");
  EXPECT_EQ(next.text("url"), "piban.asp");
  EXPECT_EQ(next.text("typed"), "收文批办");
  EXPECT_EQ(next.text("baseid"), o.id);
  EXPECT_EQ(next.text("title"), "关于预算的通知");
  EXPECT_EQ(next.integer("status"), 0);

  // The second post of the same form is refused.
  r = o.instruct(o.lee, lee_item, "同意");
  EXPECT_EQ(r.status, 409);
  EXPECT_EQ(o.count("swflow"), "2");
  EXPECT_EQ(o.count("newwork"), "2");

  // The history shows the instruction escaped; the last leader ends it.
  t = text_of(o.wu.get("piban.asp?flowid=" + o.id + "&nwid=" + wu_item));
  EXPECT_TRUE(has(t, "同意，请&lt;吴&gt;阅"));
  EXPECT_TRUE(has(t, "提交后本收文批办结束"));
  ASSERT_EQ(o.instruct(o.wu, wu_item, "已阅").status, 200);
  row = o.app.db().query("SELECT * FROM swflow ORDER BY id DESC LIMIT 1").front();
  EXPECT_EQ(row.text("nextid"), "");
  EXPECT_EQ(row.text("nexttype"), "");
  EXPECT_EQ(o.count("newwork"), "2");
  EXPECT_EQ(o.app.db().scalar("SELECT COUNT(*) FROM newwork WHERE status = 0"), "0");

  // A done item can still be looked at, without the form.
  t = text_of(o.wu.get("piban.asp?flowid=" + o.id + "&nwid=" + wu_item));
  EXPECT_TRUE(has(t, "办理完毕"));
  EXPECT_FALSE(has(t, "name='remark'"));
}

TEST(Piban, RefusalsWriteNothing) {
  Registered o;
  const std::string lee_item = o.item_of("lee");
  // Someone else's item, an empty instruction, a mismatched document.
  EXPECT_EQ(o.instruct(o.wang, lee_item, "同意").status, 409);
  EXPECT_EQ(o.instruct(o.lee, lee_item, "  ").status, 400);
  EXPECT_EQ(
      o.lee.post("piban.asp", {{"flowid", "999"}, {"nwid", lee_item}, {"remark", "x"}}).status,
      409);
  EXPECT_EQ(o.count("swflow"), "1");
  EXPECT_EQ(o.app.db().scalar("SELECT status FROM newwork WHERE id = ?", {lee_item}), "0");

  // Opening another user's item shows a message and leaves the session alone.
  auto r = o.wang.get("piban.asp?flowid=" + o.id + "&nwid=" + lee_item);
  EXPECT_EQ(r.status, 409);
  EXPECT_EQ(o.session(o.wang, "shouwenid"), "");
}

TEST(IncomingAndTracking, PagesNeedALoggedInUser) {
  TestApp app;
  Browser anon(app);
  for (std::string page :
       {"swdengji1.asp", "swdengji.asp?flowid=1&nwid=1", "piban.asp?flowid=1&nwid=1",
        "flowlist.asp", "flowdetail.asp?type=fawen&id=1", "findwork.asp?search=1"}) {
    auto r = anon.get(page);
    EXPECT_EQ(r.status, 302) << page;
    EXPECT_TRUE(has(testing::header(r, "Location"), "default.htm")) << page;
  }
}

}  // namespace
}  // namespace desk
