// Drafting and redrafting of outgoing documents through the host: the
// drafting form, the first save, the redraft of a sent-back document, the
// body and attachment uploads that go with them, the document view and
// MakeName.
#include "server/workflow/fawen.h"

#include <gtest/gtest.h>

#include <set>

#include "core/text.h"
#include "server/workflow/docview.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::header;
using testing::TestApp;
using testing::text_of;

using Fields = std::vector<std::pair<std::string, std::string>>;

std::string session_value(TestApp&, const Browser& b, const std::string& key) {
  return b.session(key);
}

void set_session(TestApp&, Browser& b, const std::string& key, const std::string& value) {
  b.set_session(key, value);
}

std::string count(TestApp& app, const std::string& table) {
  return app.db().scalar("SELECT COUNT(*) FROM " + table);
}

// Drafter zhang (办公室) and handler li, both logged in.
struct Drafting {
  TestApp app;
  Browser zhang{app}, li{app};

  Drafting() {
    app.add_user("zhang", "张三", "pw", "1", "1", "办公室");
    app.add_user("li", "李四", "pw");
    EXPECT_TRUE(zhang.login("zhang", "pw"));
    EXPECT_TRUE(li.login("li", "pw"));
  }

  // A document row as the body upload leaves it, named in zhang's session.
  std::int64_t uploaded(const std::string& bytes = "BODY") {
    std::int64_t id = app.db().insert("INSERT INTO fawen (filedata, filetype) VALUES (?, 'doc')",
                                      {db::Blob{bytes}});
    set_session(app, zhang, "fawenid", std::to_string(id));
    return id;
  }

  static Fields form(const std::string& typed = "2", const std::string& next = "li") {
    return {{"wenhao", "办发[2006]1号"},
            {"miji", "秘密"},
            {"huanji", "紧急"},
            {"baomiqx", "一年"},
            {"dingmiyj", "规定"},
            {"mainsend", "各部门"},
            {"tosend", "档案室"},
            {"title", "关于年会的通知"},
            {"keyword", "年会"},
            {"copy", "5"},
            {"documentname", "年会.doc"},
            {"fujian", ""},
            {"fujiantype", ""},
            {"hiddenselect", next},
            {"typed", typed}};
  }
};

TEST(MakeName, DigitsOfTheRegionalDateAndTime) {
  EXPECT_EQ(workflow::name_digits("2006-12-3 15:30:45"), 2006123153045.0);
  EXPECT_EQ(workflow::name_digits("2006-12-3 下午 03:30:45"), 2006123033045.0);
  EXPECT_EQ(workflow::name_digits("2006-12-3 上午 09:05:01"), 2006123090501.0);
  EXPECT_EQ(workflow::name_digits("2006-12-3 03:30:45 PM"), 2006123033045.0);
  EXPECT_EQ(workflow::name_digits("2006-12-3 AM 03:30:45"), 2006123033045.0);
  // Anything else ends the number.
  EXPECT_EQ(workflow::name_digits("2006/12/3"), 2006.0);
  EXPECT_EQ(workflow::name_digits(""), 0.0);
}

TEST(MakeName, AddsOneToTenToTheApplicationsRegionalFormat) {
  asp::AppConfig config;
  config.regional.time_pattern = "下午 H:M:S";
  TestApp app(config, DateTime{2006, 12, 3, 3, 30, 45});
  asp::Request req(asp::Request::Init{});
  asp::Response resp;
  asp::Session session(nullptr, "");
  asp::ScriptingContext ctx(app.env(), req, resp, session);
  auto fawen = ctx.server().CreateObject<workflow::Fawen>("deskserver.fawen");
  auto fawen1 = ctx.server().CreateObject<workflow::Fawen1>("deskserver.fawen1");
  std::set<double> seen;
  for (int i = 0; i < 300; ++i) {
    seen.insert(fawen->MakeName());
    seen.insert(fawen1->MakeName());
  }
  EXPECT_EQ(*seen.begin(), 2006123033045.0 + 1);
  EXPECT_EQ(*seen.rbegin(), 2006123033045.0 + 10);
  EXPECT_EQ(seen.size(), 10u);
}

TEST(DraftingForm, WritesTheFormAroundTheTemplateList) {
  Drafting d;
  d.app.db().exec("UPDATE userlist SET name = '<张三>' WHERE uid = 'zhang'");
  EXPECT_TRUE(d.zhang.login("zhang", "pw"));
  d.app.db().exec("INSERT INTO depart (depno, depname) VALUES (1, '办公室')");
  d.app.db().exec("UPDATE userlist SET depid = '1'");
  d.app.db().exec("INSERT INTO temple (filename, fileindex) VALUES ('普通<公文>', 0)");
  d.app.db().exec("INSERT INTO temple (filename, fileindex) VALUES ('通知', 1)");
  std::string page = text_of(d.zhang.get("fawen.asp"));

  EXPECT_NE(page.find("charset=gb2312"), std::string::npos);
  EXPECT_NE(page.find("oncontextmenu='return false'"), std::string::npos);
  EXPECT_NE(page.find("<form name='form' method='post' action='fawen.asp'"), std::string::npos);
  EXPECT_NE(page.find("<table width='100%' border='0' cellspacing='0' cellpadding='0' "
                      "height='400'>"),
            std::string::npos);
  EXPECT_NE(page.find("<img src='images/gwng.gif' width='114' height='24'>"), std::string::npos);
  EXPECT_NE(page.find("<input type='text' name='baomiqx' class='fileinput' title='单击，请输入保密"
                      "时限'  size='10' maxlength='4' value='一年'>"),
            std::string::npos);
  EXPECT_NE(page.find("<td height='35' width='45%'>&nbsp;拟稿单位：<font class='bblue'>办公室"
                      "</font></td><td height='35' width='27%'>&nbsp;拟 稿 人：<font "
                      "class='bblue'>&lt;张三&gt;</font></td><td height='35' width='28%'>"
                      "&nbsp;核 稿 人：</td>"),
            std::string::npos);
  EXPECT_NE(page.find("<select name='temple'><option value=1>普通&lt;公文&gt;</option>"
                      "<option value=2 selected>通知</option></select><b>　　</b><input "
                      "type='image' name='Submit' value='公文正文' onClick='return "
                      "OpenWindows();' src='images/zhengwengif.gif' alt='公文正文'>"),
            std::string::npos);
  EXPECT_NE(page.find("<td height='35' colspan='3'>&nbsp;附　　件： <input type='file' "
                      "name='file' ></td></tr>"),
            std::string::npos);
  EXPECT_NE(page.find("</td></tr></table></td><td valign='top' align='center' width='180'>"),
            std::string::npos);
  // The right-hand column: the next step, the single picker and the fields
  // the page script fills.
  // Countersign is not a plain next step: it needs its chain, chosen at review.
  EXPECT_NE(page.find("<select name='typed'><option value='1' selected>核稿</option><option "
                      "value='2'>审核</option><option value='4'>签发</option></select>"),
            std::string::npos);
  EXPECT_NE(page.find("<input type='hidden' name='hiddenselect'>"), std::string::npos);
  for (const char* f : {"documentname", "fujian", "fujiantype"})
    EXPECT_NE(page.find("<input type='hidden' name='" + std::string(f) + "'>"), std::string::npos)
        << f;
  EXPECT_NE(page.find("TurnGreen"), std::string::npos);
  EXPECT_NE(page.find("src='fawen.js'"), std::string::npos);
}

TEST(DraftingForm, DefaultTemplateMarks) {
  Drafting d;
  auto options = [&d] {
    std::string page = text_of(d.zhang.get("fawen.asp"));
    std::size_t from = page.find("<select name='temple'>");
    return page.substr(from, page.find("</select>", from) - from);
  };
  d.app.db().exec("INSERT INTO temple (filename, fileindex) VALUES ('甲', 0)");
  EXPECT_EQ(options().find(" selected"), std::string::npos);
  // Two defaults cannot come from choosing one, but both are shown as such.
  d.app.db().exec("INSERT INTO temple (filename, fileindex) VALUES ('乙', 1)");
  d.app.db().exec("INSERT INTO temple (filename, fileindex) VALUES ('丙', 1)");
  EXPECT_EQ(options(),
            "<select name='temple'><option value=1>甲</option><option value=2 selected>乙"
            "</option><option value=3 selected>丙</option>");
}

TEST(Drafting, SaveCompletesTheDocumentRecordsTheStepAndHandsItOn) {
  Drafting d;
  std::int64_t id = d.uploaded();
  d.app.db().exec("UPDATE fawen SET fujianname = 'old.xls', psotype = 'xls' WHERE id = ?", {id});
  auto r = d.zhang.post("fawen.asp", Drafting::form("2"));
  EXPECT_EQ(r.status, 200);
  std::string page = text_of(r);
  EXPECT_NE(page.find("公文已发送"), std::string::npos);
  EXPECT_NE(page.find("href='right.asp'"), std::string::npos);

  auto doc = d.app.db().query("SELECT * FROM fawen WHERE id = ?", {id}).front();
  EXPECT_EQ(doc.text("wenhao"), "办发[2006]1号");
  EXPECT_EQ(doc.text("miji"), "秘密");
  EXPECT_EQ(doc.text("huanji"), "紧急");
  EXPECT_EQ(doc.text("baomiqx"), "一年");
  EXPECT_EQ(doc.text("dingmiyj"), "规定");
  EXPECT_EQ(doc.text("mainsend"), "各部门");
  EXPECT_EQ(doc.text("tosend"), "档案室");
  EXPECT_EQ(doc.text("writedep"), "办公室");
  EXPECT_EQ(doc.text("writeid"), "zhang");
  EXPECT_EQ(doc.text("writename"), "张三");
  EXPECT_EQ(doc.text("writetime"), "2006-12-03 15:30:45");
  EXPECT_EQ(doc.text("copy"), "5");
  EXPECT_EQ(doc.text("title"), "关于年会的通知");
  EXPECT_EQ(doc.text("keywords"), "年会");
  EXPECT_EQ(doc.text("documentname"), "年会.doc");
  EXPECT_EQ(doc["filedata"].bytes(), "BODY");
  // Without an attachment its name and type stay.
  EXPECT_EQ(doc.text("fujianname"), "old.xls");
  EXPECT_EQ(doc.text("psotype"), "xls");
  EXPECT_EQ(doc.text("status"), "0");

  auto h = d.app.db().query("SELECT * FROM workflow");
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h.front().integer("flowid"), id);
  EXPECT_EQ(h.front().text("handlename"), "张三");
  EXPECT_EQ(h.front().text("handleid"), "zhang");
  EXPECT_EQ(h.front().text("handletime"), "2006-12-03 15:30:45");
  EXPECT_EQ(h.front().text("ipaddress"), "10.0.0.7");
  EXPECT_EQ(h.front().text("nextid"), "li");
  EXPECT_EQ(h.front().text("handtype"), "0");
  EXPECT_EQ(h.front().text("nexttype"), "2");
  EXPECT_EQ(h.front().text("remark"), "");

  auto items = d.app.db().query("SELECT * FROM newwork");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items.front().text("userid"), "li");
  EXPECT_EQ(items.front().text("typed"), "审核");
  EXPECT_EQ(items.front().text("url"), "shenhe.asp");
  EXPECT_EQ(items.front().text("title"), "关于年会的通知");
  EXPECT_EQ(items.front().integer("baseid"), id);
  EXPECT_EQ(items.front().text("applytime"), "2006-12-03 15:30:45");
  EXPECT_EQ(items.front().integer("status"), 0);
  EXPECT_EQ(items.front().text("userlist"), "");
  EXPECT_EQ(session_value(d.app, d.zhang, "fawenid"), "");

  // The same form sent again finds no document and starts nothing.
  auto again = d.zhang.post("fawen.asp", Drafting::form("2"));
  EXPECT_EQ(again.status, 302);
  EXPECT_EQ(header(again, "Location"), "error.htm");
  EXPECT_EQ(count(d.app, "workflow"), "1");
  EXPECT_EQ(count(d.app, "newwork"), "1");
}

TEST(Drafting, AttachmentNameAndTypeReplacedOnlyWhenSent) {
  Drafting d;
  std::int64_t id = d.uploaded();
  d.app.db().exec("UPDATE fawen SET fujianname = 'old.xls', psotype = 'xls' WHERE id = ?", {id});
  Fields f = Drafting::form("1");
  for (auto& [k, v] : f) {
    if (k == "fujian") v = "名单.xls";
    if (k == "fujiantype") v = "xls2";
  }
  d.zhang.post("fawen.asp", f);
  auto doc = d.app.db().query("SELECT fujianname, psotype FROM fawen WHERE id = ?", {id});
  EXPECT_EQ(doc.front().text("fujianname"), "名单.xls");
  EXPECT_EQ(doc.front().text("psotype"), "xls2");
  auto item = d.app.db().query("SELECT typed, url FROM newwork").front();
  EXPECT_EQ(item.text("typed"), "核稿");
  EXPECT_EQ(item.text("url"), "hegao.asp");
}

// The drafting form sent twice (a double click, a replayed post) writes
// one document and one item; a handler who is not a user is refused.
TEST(Drafting, SentTwiceWritesOnceAndUnknownHandlersAreRefused) {
  Drafting d;
  d.uploaded();
  Fields ghost = Drafting::form("2", "ghost");
  auto refused = d.zhang.post("fawen.asp", ghost);
  EXPECT_EQ(refused.status, 400);
  EXPECT_NE(text_of(refused).find("ghost"), std::string::npos);
  EXPECT_EQ(count(d.app, "newwork"), "0");
  EXPECT_EQ(count(d.app, "workflow"), "0");

  Fields form = Drafting::form();
  form.emplace_back("formtoken", d.zhang.form_token());
  EXPECT_EQ(d.zhang.post("fawen.asp", form).status, 200);
  EXPECT_EQ(d.zhang.post("fawen.asp", form).status, 409);
  EXPECT_EQ(count(d.app, "newwork"), "1");
  EXPECT_EQ(count(d.app, "workflow"), "1");
}

TEST(Drafting, RefusalsWriteNothing) {
  Drafting d;
  auto untouched = [&d](std::int64_t id) {
    EXPECT_EQ(count(d.app, "workflow"), "0");
    EXPECT_EQ(count(d.app, "newwork"), "0");
    EXPECT_EQ(d.app.db().scalar("SELECT title FROM fawen WHERE id = ?", {id}), "");
  };
  std::int64_t id = d.uploaded();
  // A step code without a page, or none at all, would leave dead work.
  for (const char* typed : {"7", "0", "5", "", "x"}) {
    auto r = d.zhang.post("fawen.asp", Drafting::form(typed));
    EXPECT_EQ(r.status, 400) << typed;
    EXPECT_NE(text_of(r).find("请选择有效的下一步骤"), std::string::npos) << typed;
    untouched(id);
  }
  // Nobody (or a list where one user is expected) to hand it to.
  for (const char* next : {"", "li;"}) {
    auto r = d.zhang.post("fawen.asp", Drafting::form("2", next));
    EXPECT_EQ(r.status, 400) << next;
    EXPECT_NE(text_of(r).find("请选择下一步的处理人"), std::string::npos);
    untouched(id);
  }
  EXPECT_EQ(session_value(d.app, d.zhang, "fawenid"), std::to_string(id));

  // No such document: error.htm, and the session keeps its value.
  set_session(d.app, d.zhang, "fawenid", "999");
  auto r = d.zhang.post("fawen.asp", Drafting::form());
  EXPECT_EQ(header(r, "Location"), "error.htm");
  EXPECT_EQ(session_value(d.app, d.zhang, "fawenid"), "999");
  // No document at all.
  set_session(d.app, d.zhang, "fawenid", "");
  EXPECT_EQ(header(d.zhang.post("fawen.asp", Drafting::form()), "Location"), "error.htm");
  untouched(id);

  // A document already on its road (its id left in the session by a step
  // page) is not drafted a second time.
  d.app.db().exec("UPDATE fawen SET writeid = 'wang', title = '' WHERE id = ?", {id});
  set_session(d.app, d.zhang, "fawenid", std::to_string(id));
  r = d.zhang.post("fawen.asp", Drafting::form());
  EXPECT_EQ(r.status, 409);
  EXPECT_NE(text_of(r).find("已经发出"), std::string::npos);
  untouched(id);
  EXPECT_EQ(d.app.db().scalar("SELECT writeid FROM fawen WHERE id = ?", {id}), "wang");
}

// A document sent back to zhang: item 1 "重新起草公文" on document 1.
struct Redrafting : Drafting {
  std::int64_t doc = 0, item = 0;
  Redrafting() {
    doc = app.db().insert(
        "INSERT INTO fawen (filedata, filetype, documentname, wenhao, miji, huanji, title, "
        "writeid, writename, name_sh, fujianname, psotype) VALUES (?, 'doc', '旧.doc', "
        "'文<1>', '绝密', '加急', '旧''标题', 'zhang', '张三', '退回<br>李四&nbsp;2006年12月2日', "
        "'a.xls', 'xls')",
        {db::Blob{"OLD"}});
    item = app.db().insert(
        "INSERT INTO newwork (userid, title, url, baseid, applytime, typed) VALUES ('zhang', "
        "'旧标题', 'fawen1.asp', ?, '2006-12-02 10:00:00', '重新起草公文')",
        {doc});
  }
  std::string link() const {
    return "fawen1.asp?flowid=" + std::to_string(doc) + "&nwid=" + std::to_string(item);
  }
  Fields redraft_form(const std::string& nwid) const {
    Fields f = form("4", "li");
    for (auto& [k, v] : f)
      if (k == "documentname") k = "opendoc";
    f.emplace_back("nwid", nwid);
    return f;
  }
};

TEST(Redrafting, OpeningTheItemShowsTheDocumentAndNamesIt) {
  Redrafting d;
  auto r = d.zhang.get(d.link());
  ASSERT_EQ(r.status, 200);
  std::string page = text_of(r);
  EXPECT_EQ(session_value(d.app, d.zhang, "fawenid"), std::to_string(d.doc));
  // The view, with the reason of the send-back as stored, and the form
  // filled with what was saved (escaped).
  EXPECT_NE(page.find("退回<br>李四&nbsp;2006年12月2日"), std::string::npos);
  EXPECT_NE(page.find("<form name='form' method='post' action='fawen1.asp'"), std::string::npos);
  EXPECT_NE(page.find("name='wenhao' size='20' value='文&lt;1&gt;'"), std::string::npos);
  EXPECT_NE(page.find("name='title' size='48' value='旧&#39;标题'"), std::string::npos);
  EXPECT_NE(page.find("<option value='绝密' selected>"), std::string::npos);
  EXPECT_NE(page.find("<input type='hidden' name='opendoc' value='旧.doc'>"), std::string::npos);
  EXPECT_NE(page.find("<input type='hidden' name='nwid' value='" + std::to_string(d.item) + "'>"),
            std::string::npos);

  // Someone else's item, or one of another document, names nothing.
  set_session(d.app, d.li, "fawenid", "");
  auto other = d.li.get(d.link());
  EXPECT_EQ(other.status, 409);
  EXPECT_EQ(session_value(d.app, d.li, "fawenid"), "");
  set_session(d.app, d.zhang, "fawenid", "");
  d.zhang.get("fawen1.asp?flowid=77&nwid=" + std::to_string(d.item));
  EXPECT_EQ(session_value(d.app, d.zhang, "fawenid"), "");
}

TEST(Redrafting, SaveClosesTheRedraftItemInTheSameStep) {
  Redrafting d;
  d.zhang.get(d.link());
  auto r = d.zhang.post("fawen1.asp", d.redraft_form(std::to_string(d.item)));
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(text_of(r).find("公文已发送"), std::string::npos);
  auto doc = d.app.db().query("SELECT * FROM fawen WHERE id = ?", {d.doc}).front();
  EXPECT_EQ(doc.text("documentname"), "年会.doc");
  EXPECT_EQ(doc.text("title"), "关于年会的通知");
  EXPECT_EQ(doc.text("fujianname"), "a.xls");
  EXPECT_EQ(doc.text("name_sh"), "退回<br>李四&nbsp;2006年12月2日");
  auto closed = d.app.db().query("SELECT status, donetime FROM newwork WHERE id = ?", {d.item});
  EXPECT_EQ(closed.front().integer("status"), 1);
  EXPECT_EQ(closed.front().text("donetime"), "2006-12-03 15:30:45");
  auto h = d.app.db().query("SELECT handtype, nexttype, nextid FROM workflow").front();
  EXPECT_EQ(h.text("handtype"), "0");
  EXPECT_EQ(h.text("nexttype"), "4");
  auto next = d.app.db().query("SELECT userid, typed, url FROM newwork WHERE status = 0");
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next.front().text("userid"), "li");
  EXPECT_EQ(next.front().text("url"), "qianfa.asp");
  EXPECT_EQ(session_value(d.app, d.zhang, "fawenid"), "");

  // Sent twice: nothing more.
  set_session(d.app, d.zhang, "fawenid", std::to_string(d.doc));
  auto again = d.zhang.post("fawen1.asp", d.redraft_form(std::to_string(d.item)));
  EXPECT_EQ(again.status, 409);
  EXPECT_EQ(count(d.app, "workflow"), "1");
  EXPECT_EQ(count(d.app, "newwork"), "2");
}

TEST(Redrafting, RefusedForAnItemThatIsNotThisDocumentsOrNotTheUsers) {
  Redrafting d;
  std::int64_t other_doc = d.app.db().insert("INSERT INTO fawen (writeid) VALUES ('zhang')");
  std::int64_t other_item = d.app.db().insert(
      "INSERT INTO newwork (userid, url, baseid, typed) VALUES ('zhang', 'fawen1.asp', ?, "
      "'重新起草公文')",
      {other_doc});
  std::int64_t hegao_item = d.app.db().insert(
      "INSERT INTO newwork (userid, url, baseid, typed) VALUES ('zhang', 'hegao.asp', ?, '核稿')",
      {d.doc});
  std::int64_t li_item = d.app.db().insert(
      "INSERT INTO newwork (userid, url, baseid, typed) VALUES ('li', 'fawen1.asp', ?, "
      "'重新起草公文')",
      {d.doc});
  set_session(d.app, d.zhang, "fawenid", std::to_string(d.doc));
  for (std::int64_t nwid : {other_item, hegao_item, li_item}) {
    auto r = d.zhang.post("fawen1.asp", d.redraft_form(std::to_string(nwid)));
    EXPECT_EQ(r.status, 409) << nwid;
  }
  EXPECT_EQ(d.app.db().scalar("SELECT title FROM fawen WHERE id = ?", {d.doc}), "旧'标题");
  EXPECT_EQ(count(d.app, "workflow"), "0");
  EXPECT_EQ(d.app.db().scalar("SELECT COUNT(*) FROM newwork WHERE status = 0"), "4");
}

TEST(Uploads, RedraftBodyReplacesOnlyTheDraftersSentBackDocument) {
  Redrafting d;
  d.zhang.get(d.link());
  auto r = d.zhang.post_raw("redraftdoc.asp", "NEW BODY");
  EXPECT_EQ(r.status, 200);
  auto body = [&d] {
    return d.app.db()
        .query("SELECT filedata FROM fawen WHERE id = ?", {d.doc})
        .front()["filedata"]
        .bytes();
  };
  // The new body waits for the redraft form: an abandoned redraft leaves the
  // document as it was.
  EXPECT_EQ(body(), "OLD");
  EXPECT_EQ(count(d.app, "fawen"), "1");

  // Not the drafter.
  set_session(d.app, d.li, "fawenid", std::to_string(d.doc));
  EXPECT_EQ(d.li.post_raw("redraftdoc.asp", "LI").status, 403);
  // Above the ceiling: refused, nothing stored.
  set_session(d.app, d.zhang, "MaxSize", "10");
  EXPECT_EQ(d.zhang.post_raw("redraftdoc.asp", std::string(11, 'x')).status, 413);
  set_session(d.app, d.zhang, "MaxSize", "1000");
  EXPECT_EQ(d.zhang.post_raw("redraftdoc.asp", "").status, 400);
  // Saving the redraft puts the new body in place; after that the body is
  // fixed again.
  ASSERT_EQ(d.zhang.post("fawen1.asp", d.redraft_form(std::to_string(d.item))).status, 200);
  EXPECT_EQ(body(), "NEW BODY");
  EXPECT_EQ(count(d.app, "staged"), "0");
  EXPECT_EQ(d.zhang.post_raw("redraftdoc.asp", "LATE").status, 403);
  EXPECT_EQ(body(), "NEW BODY");
  // A document still being drafted has no redraft: its body comes from the
  // ordinary body upload.
  d.uploaded("FRESH");
  EXPECT_EQ(d.zhang.post_raw("redraftdoc.asp", "X").status, 403);
}

TEST(Uploads, AttachmentOfTheDocumentBeingDrafted) {
  Drafting d;
  std::int64_t id = d.uploaded();
  EXPECT_EQ(d.zhang.post_raw("fawenpso.asp", "PK\x03\x04").status, 200);
  EXPECT_EQ(
      d.app.db().query("SELECT psodata FROM fawen WHERE id = ?", {id}).front()["psodata"].bytes(),
      "PK\x03\x04");
  set_session(d.app, d.zhang, "MaxSize", "3");
  EXPECT_EQ(d.zhang.post_raw("fawenpso.asp", "ABCD").status, 413);
  set_session(d.app, d.zhang, "MaxSize", "1000");
  // A drafted document on its road: not changeable by its drafter either.
  d.app.db().exec("UPDATE fawen SET writeid = 'zhang' WHERE id = ?", {id});
  EXPECT_EQ(d.zhang.post_raw("fawenpso.asp", "LATE").status, 403);
  EXPECT_EQ(
      d.app.db().query("SELECT psodata FROM fawen WHERE id = ?", {id}).front()["psodata"].bytes(),
      "PK\x03\x04");
}

TEST(Uploads, StepBodyReachesTheDocumentWithTheStepsForm) {
  Drafting d;
  std::int64_t id = d.app.db().insert(
      "INSERT INTO fawen (filedata, filetype, writeid, title) VALUES ('DRAFT', 'doc', 'zhang', "
      "'通知')");
  auto body = [&] { return d.app.db().scalar("SELECT filedata FROM fawen WHERE id = ?", {id}); };
  const std::string target = "stepdoc.asp?flowid=" + std::to_string(id);
  // No item of li's on it yet, then items of the wrong kind or another
  // user's: refused.
  EXPECT_EQ(d.li.post_raw(target, "LI").status, 403);
  d.app.db().exec(
      "INSERT INTO newwork (userid, url, baseid, typed) VALUES ('li', 'fawen1.asp', ?, 'x'), "
      "('zhang', 'shenhe.asp', ?, '审核')",
      {id, id});
  EXPECT_EQ(d.li.post_raw(target, "LI").status, 403);
  EXPECT_EQ(d.li.post_raw("stepdoc.asp?flowid=0", "X").status, 403);
  std::int64_t item = d.app.db().insert(
      "INSERT INTO newwork (userid, url, baseid, typed) VALUES ('li', 'qianfa.asp', ?, '签发')",
      {id});
  // The signer's open item: kept, once per form token, until the form is saved.
  const std::string token = d.li.form_token();
  EXPECT_EQ(d.li.post_raw(target + "&formtoken=" + token, "SIGNED").status, 200);
  EXPECT_EQ(d.li.post_raw(target + "&formtoken=" + token, "AGAIN").status, 409);
  EXPECT_EQ(body(), "DRAFT");
  auto r = d.li.post("qianfa.asp", {{"flowid", std::to_string(id)},
                                    {"nwid", std::to_string(item)},
                                    {"name_qf", "同意"},
                                    {"hiddenselect", "zhang"}});
  EXPECT_EQ(r.status, 200) << text_of(r);
  EXPECT_EQ(body(), "SIGNED");
  EXPECT_EQ(d.app.db().scalar("SELECT COUNT(*) FROM staged"), "0");
  // Once the step is done the body is fixed.
  EXPECT_EQ(d.li.post_raw(target, "LATE").status, 403);
}

TEST(DocumentView, FieldsEscapedOpinionsAsStoredAndDownloadLinks) {
  TestApp app;
  std::int64_t id = app.db().insert(
      "INSERT INTO fawen (title, wenhao, documentname, writetime, name_hg, name_hq, hegaoname) "
      "VALUES ('<b>标题</b>', 'A&B', '报告.doc', '2006-12-03 09:05:00', "
      "'同意<br>李四&nbsp;2006年12月3日', 'x<br>王&nbsp;2006年12月3日<br>', '李四')");
  std::string v = *workflow::fawen_view(app.db(), id, Regional{});
  EXPECT_NE(v.find("&lt;b&gt;标题&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(v.find("<b>标题"), std::string::npos);
  EXPECT_NE(v.find("A&amp;B"), std::string::npos);
  EXPECT_NE(v.find("同意<br>李四&nbsp;2006年12月3日"), std::string::npos);
  EXPECT_NE(v.find("x<br>王&nbsp;2006年12月3日<br>"), std::string::npos);
  EXPECT_NE(v.find("2006-12-3 09:05:00"), std::string::npos);
  // Neither body nor attachment stored: no links.
  EXPECT_EQ(v.find("loadhg.asp"), std::string::npos);
  EXPECT_EQ(v.find("loadpso.asp"), std::string::npos);

  app.db().exec("UPDATE fawen SET filedata = ?, psodata = ?, fujianname = '名单.xls' WHERE id = ?",
                {db::Blob{"D"}, db::Blob{"P"}, id});
  v = *workflow::fawen_view(app.db(), id, Regional{});
  EXPECT_NE(v.find("<a href='loadhg.asp?flowid=" + std::to_string(id) +
                   "' class='aapply' target='_blank'>报告.doc</a>"),
            std::string::npos);
  EXPECT_NE(v.find("<a href='loadpso.asp?flowid=" + std::to_string(id) +
                   "' class='aapply' target='_blank'>名单.xls</a>"),
            std::string::npos);
  EXPECT_FALSE(workflow::fawen_view(app.db(), id + 1, Regional{}));
}

}  // namespace
}  // namespace desk
