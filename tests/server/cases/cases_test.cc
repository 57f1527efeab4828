// Case files through the host: the case list's statement and page, accepting,
// saving, closing, reopening and deleting a case, the sub-records with their
// fees, documents and deletes, who may see a case, and the edition.
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "core/text.h"
#include "server/cases/cases.h"
#include "server/cases/lawinfo.h"
#include "tests/server/cases/case_fixture.h"
#include "tests/support/multipart_body.h"

namespace desk {
namespace {

using testing::Browser;
using testing::case_fields;
using testing::CaseFiles;
using testing::Fields;
using testing::header;
using testing::text_of;

std::string enc(const std::string& utf8) {
  return text::url_encode(text::to_gb18030(utf8));
}

bool has(const std::string& page, const std::string& part) {
  return page.find(part) != std::string::npos;
}

// ---- The list ---------------------------------------------------------------

TEST(CaseList, StatementKeepsItsClausesWithTheTitleBound) {
  CaseFiles f;
  struct Row {
    std::string query;
    std::string sql;
    std::vector<std::string> values;
  };
  const std::string all = "select * from lawinfo where status<>99 order by id desc";
  const std::string like = "select * from lawinfo where status<>99 and ";
  const std::vector<Row> rows = {
      {"", all, {}},
      {"ifdone=0&title=" + enc("   "), all, {}},  // emptiness is judged on the trimmed title
      {"ifdone=7", all, {}},
      {"type=1",
       "select * from lawinfo where status<>99 and lawyerid=? order by id desc",
       {"zhang"}},
      {"ifdone=2", like + "status=0 and lawtitle like ? order by id desc", {"%%"}},
      {"type=1&ifdone=3&title=" + enc(" 合同 "),
       "select * from lawinfo where status<>99 and lawyerid=? and status=1 and lawtitle like ? "
       "order by id desc",
       {"zhang", "% 合同 %"}},
      {"title=" + enc("x' or '1'='1"),
       like + "lawtitle like ? order by id desc",
       {"%x' or '1'='1%"}},
  };
  for (const Row& row : rows) {
    asp::Request::Init init;
    init.query = row.query;
    asp::Request req(init);
    asp::Response resp;
    asp::Session session(nullptr, "");
    session.set("uid", " zhang ");
    asp::ScriptingContext ctx(f.app.env(), req, resp, session);
    auto list = ctx.server().CreateObject<cases::LawListAll>("deskserver.lawlistall");
    cases::ListStatement st = list->main(ctx.conn());
    EXPECT_EQ(st.sql, row.sql) << row.query;
    std::vector<std::string> values;
    for (const auto& v : st.values) values.push_back(v.text());
    EXPECT_EQ(values, row.values) << row.query;
    EXPECT_TRUE(resp.body().empty());
  }
}

struct ListedCases : CaseFiles {
  std::int64_t add(const std::string& title, const std::string& lawyer, int status) {
    return app.db().insert(
        "INSERT INTO lawinfo (lawno, lawtitle, lawyerid, lawyername, status) VALUES (?, ?, ?, ?, "
        "?)",
        {"号" + title, title, lawyer, lawyer, status});
  }
  ListedCases() {
    add("合同纠纷一", "zhang", 0);
    add("合同纠纷二", "zhang", 1);
    add("借贷纠纷", "zhang", 0);
    add("已删合同", "zhang", 99);
    std::int64_t sent = add("李的合同", "li", 0);
    add("李的借贷", "li", 0);
    // li's case was sent to zhang for discussion once; the item is done.
    app.db().exec(
        "INSERT INTO newwork (userid, title, url, baseid, typed, status) "
        "VALUES ('zhang', 't', 'lawdiscuss.asp', ?, '案件处理', 1)",
        {sent});
  }
};

TEST(CaseList, ShowsTheCasesEachUserMaySeeBySearch) {
  ListedCases f;
  const std::vector<std::string> titles = {"合同纠纷一", "合同纠纷二", "借贷纠纷",
                                           "已删合同",   "李的合同",   "李的借贷"};
  struct Row {
    Browser* who;
    std::string query;
    std::set<std::string> shown;
  };
  const std::vector<Row> rows = {
      {&f.boss, "", {"合同纠纷一", "合同纠纷二", "借贷纠纷", "李的合同", "李的借贷"}},
      {&f.zhang, "", {"合同纠纷一", "合同纠纷二", "借贷纠纷", "李的合同"}},
      {&f.zhang, "type=1", {"合同纠纷一", "合同纠纷二", "借贷纠纷"}},
      {&f.zhang, "ifdone=2", {"合同纠纷一", "借贷纠纷", "李的合同"}},
      {&f.zhang, "ifdone=3", {"合同纠纷二"}},
      {&f.zhang, "title=" + enc("合同"), {"合同纠纷一", "合同纠纷二", "李的合同"}},
      {&f.zhang, "title=" + enc(" 合同"), {}},  // the blank is part of the pattern
      {&f.li, "", {"李的合同", "李的借贷"}},
      {&f.zhao, "", {}},
      {&f.zhao, "title=" + enc("' or 1=1 --"), {}},
  };
  for (const Row& row : rows) {
    auto r = row.who->get("lawlistall.asp?" + row.query);
    ASSERT_EQ(r.status, 200) << row.query;
    const std::string page = text_of(r);
    for (const std::string& t : titles)
      EXPECT_EQ(has(page, ">" + t + "</a>"), row.shown.count(t) == 1) << row.query << " " << t;
    EXPECT_TRUE(has(page, "共有案件 <span class='numberbold'>" + std::to_string(row.shown.size())))
        << row.query;
  }
}

TEST(CaseList, PagesThroughManyCasesNewestFirstKeepingTheSearch) {
  CaseFiles f;
  for (int i = 1; i <= 45; ++i)
    f.app.db().exec("INSERT INTO lawinfo (lawtitle, lawyerid) VALUES (?, 'zhang')",
                    {"案件" + std::to_string(1000 + i)});
  auto titles_of = [&](const std::string& query) {
    std::vector<std::string> out;
    const std::string page = text_of(f.zhang.get("lawlistall.asp?" + query));
    for (std::size_t at = page.find(">案件1"); at != std::string::npos;
         at = page.find(">案件1", at + 1))
      out.push_back(page.substr(at + 1, std::string("案件1000").size()));
    return out;
  };
  auto first = titles_of("title=" + enc("案件"));
  ASSERT_EQ(first.size(), 20u);
  EXPECT_EQ(first.front(), "案件1045");
  EXPECT_EQ(first.back(), "案件1026");
  auto last = titles_of("title=" + enc("案件") + "&page=3");
  ASSERT_EQ(last.size(), 5u);
  EXPECT_EQ(last.back(), "案件1001");
  EXPECT_EQ(titles_of("page=99"), last);  // beyond the end: the last page
  const std::string page = text_of(f.zhang.get("lawlistall.asp?title=" + enc("案件")));
  EXPECT_TRUE(
      has(page, "lawlistall.asp?title=" + enc("案件") + "&amp;ifdone=1&amp;type=&amp;page=2"));
  EXPECT_TRUE(has(page, "第 1 / 3 页"));
}

// ---- Acceptance -------------------------------------------------------------

TEST(Acceptance, StoresTheFormWithItsHistoryAndHandsTheCaseOn) {
  CaseFiles f;
  auto r = f.zhang.post("lawaccept.asp",
                        case_fields({{"moneyrate", ""}, {"receivedate", "2006年12月1日"}}));
  const std::string answer = text_of(r);
  EXPECT_TRUE(has(answer, "<script language=javascript>alert('登记案件成功！')</script>"));
  EXPECT_TRUE(has(answer, "<script>document.location='lawaccept.asp'</script>"));
  auto c = f.app.db().query("SELECT * FROM lawinfo").front();
  EXPECT_EQ(c.text("moneyrate"), "100");
  EXPECT_EQ(c.text("receivedate"), "2006-12-01");
  EXPECT_EQ(c.text("lawtitle"), "甲公司诉乙公司买卖合同纠纷");
  EXPECT_EQ(c.integer("status"), 0);
  EXPECT_EQ(c.text("writeid") + c.text("writename") + c.text("writetime"),
            "zhang张三2006-12-03 15:30:45");
  auto h = f.app.db().query("SELECT * FROM lawflow").front();
  EXPECT_EQ(h.integer("lawid"), c.integer("id"));
  EXPECT_EQ(h.text("lawyerid") + h.text("lawyername") + h.text("handletype") + h.text("ipaddress"),
            "zhang张三010.0.0.7");
  EXPECT_EQ(f.count("newwork"), "0") << "a lawyer accepting for himself gets no item";

  std::int64_t id = f.accept(f.zhang, {{"lawyerid", "li"}, {"lawyername", "李四"}});
  ASSERT_GT(id, 0);
  auto item = f.app.db().query("SELECT * FROM newwork").front();
  EXPECT_EQ(item.text("userid") + "|" + item.text("title") + "|" + item.text("url") + "|" +
                item.text("typed") + "|" + item.text("status"),
            "li|（2006）民字第12号|lawdiscuss.asp|案件处理|0");
  EXPECT_EQ(item.integer("baseid"), id);
}

TEST(Acceptance, RefusedOrNotPostedWritesNothing) {
  CaseFiles f;
  const std::vector<Fields> refused = {
      {{"lawyerid", "nobody"}}, {{"lawyerid", ""}}, {{"receivedate", "明天"}}};
  for (const Fields& changes : refused) {
    auto r = f.zhang.post("lawaccept.asp", case_fields(changes));
    EXPECT_EQ(r.status, 400) << changes.front().second;
  }
  EXPECT_EQ(f.zhang.get("lawaccept.asp?" + testing::form_body(case_fields())).status, 200);
  auto unflagged = f.zhang.post("lawaccept.asp", case_fields({{"flag", "1"}}));
  EXPECT_TRUE(has(text_of(unflagged), "<form name='form' method='post' action='lawaccept.asp'"));
  for (const char* table : {"lawinfo", "lawflow", "newwork"})
    EXPECT_EQ(f.count(table), "0") << table;
}

// ---- Editing, closing, reopening, deleting ----------------------------------

TEST(CasePage, SavingClosingAndReopeningFollowTheStates) {
  CaseFiles f;
  const std::int64_t id = f.accept(f.zhang, {{"lawyerid", "li"}, {"lawyername", "李四"}});
  const std::string flowid = std::to_string(id);
  auto status = [&] { return f.scalar("SELECT status FROM lawinfo WHERE id = ?", {id}); };
  auto open_items = [&](const std::string& uid) {
    return f.scalar("SELECT COUNT(*) FROM newwork WHERE userid = ? AND status = 0", {uid});
  };
  ASSERT_EQ(open_items("li"), "1");

  // li saves it for himself: his item is closed, one more history row.
  auto saved = f.li.post("lawdiscuss.asp", case_fields({{"flowid", flowid},
                                                        {"lawtitle", "改后的标题"},
                                                        {"lawyerid", "li"},
                                                        {"lawyername", "李四"}}));
  EXPECT_TRUE(has(text_of(saved), "alert('卷宗修改成功！')"));
  EXPECT_TRUE(has(text_of(saved), "document.location='lawdiscuss.asp?flowid=" + flowid + "'"));
  EXPECT_EQ(f.scalar("SELECT lawtitle || writeid FROM lawinfo WHERE id = ?", {id}), "改后的标题li");
  EXPECT_EQ(open_items("li"), "0");
  EXPECT_EQ(f.count("lawflow"), "2");

  // Closing: status 1 with who, when and where; an empty answer that leads back.
  auto closed = f.li.post("lawdiscuss.asp", {{"flag", "jiean"}, {"flowid", flowid}});
  EXPECT_EQ(closed.status, 302);
  EXPECT_FALSE(has(text_of(closed), "<script")) << "closing writes nothing of its own";
  EXPECT_EQ(header(closed, "Location"), "lawdiscuss.asp?flowid=" + flowid);
  EXPECT_EQ(status(), "1");
  EXPECT_EQ(f.scalar("SELECT closeuid || closename || closetime || closeip FROM lawinfo"),
            "li李四2006-12-03 15:30:4510.0.0.7");
  EXPECT_EQ(f.count("lawflow"), "2") << "closing leaves no history row";

  // A closed case can still be edited; it stays closed.
  f.li.post("lawdiscuss.asp", case_fields({{"flowid", flowid}, {"lawyerid", "li"}}));
  EXPECT_EQ(status(), "1");
  EXPECT_EQ(f.li.post("lawdiscuss.asp", {{"flag", "reopen"}, {"flowid", flowid}}).status, 302);
  EXPECT_EQ(status(), "0");
  EXPECT_EQ(f.li.post("lawdiscuss.asp", {{"flag", "reopen"}, {"flowid", flowid}}).status, 409);

  // li hands it back to zhang and keeps seeing it: it was sent to him.
  auto handed = f.li.post("lawdiscuss.asp", case_fields({{"flowid", flowid}}));
  EXPECT_TRUE(has(text_of(handed), "document.location='lawdiscuss.asp?flowid="));
  EXPECT_EQ(open_items("zhang"), "1");

  // A GET changes nothing.
  const std::string before = f.scalar("SELECT COUNT(*) || status FROM lawinfo");
  EXPECT_EQ(f.li.get("lawdiscuss.asp?flag=jiean&flowid=" + flowid).status, 200);
  EXPECT_EQ(f.scalar("SELECT COUNT(*) || status FROM lawinfo"), before);
}

TEST(CasePage, HandingOverLeavesTheUserWhoHadNoItemOnTheList) {
  CaseFiles f;
  const std::int64_t id = f.accept(f.zhang);
  auto r = f.zhang.post(
      "lawdiscuss.asp",
      case_fields({{"flowid", std::to_string(id)}, {"lawyerid", "li"}, {"lawyername", "李四"}}));
  EXPECT_TRUE(has(text_of(r), "document.location='lawlistall.asp'"));
  EXPECT_EQ(f.zhang.get("lawdiscuss.asp?flowid=" + std::to_string(id)).status, 403);
  EXPECT_EQ(f.li.get("lawdiscuss.asp?flowid=" + std::to_string(id)).status, 200);
}

TEST(CasePage, RefusalsChangeNothing) {
  CaseFiles f;
  const std::int64_t id = f.accept(f.zhang);
  const std::string flowid = std::to_string(id);
  f.app.db().exec("INSERT INTO lawinfo (lawtitle, lawyerid, status) VALUES ('删了', 'zhang', 99)");
  const std::string gone = f.scalar("SELECT MAX(id) FROM lawinfo");
  struct Row {
    Browser* who;
    Fields fields;
    int status;
  };
  const std::vector<Row> rows = {
      {&f.zhang, {{"flag", "jiean"}, {"flowid", "1 or 1=1"}}, 400},
      {&f.zhang, {{"flag", "jiean"}, {"flowid", "999"}}, 404},
      {&f.zhang, {{"flag", "jiean"}, {"flowid", gone}}, 404},  // a deleted case stays deleted
      {&f.zhao, {{"flag", "jiean"}, {"flowid", flowid}}, 403},
      {&f.zhao, case_fields({{"flowid", flowid}, {"lawyerid", "zhao"}}), 403},
      {&f.zhang, case_fields({{"flowid", flowid}, {"lawyerid", "ghost"}}), 400},
  };
  const std::string before = f.scalar(
      "SELECT group_concat(id || status || lawtitle || lawyerid || closeuid) FROM lawinfo");
  for (const Row& row : rows)
    EXPECT_EQ(row.who->post("lawdiscuss.asp", row.fields).status, row.status)
        << row.fields.back().second;
  EXPECT_EQ(
      f.scalar(
          "SELECT group_concat(id || status || lawtitle || lawyerid || closeuid) FROM lawinfo"),
      before);
  EXPECT_EQ(f.count("lawflow"), "1");
  EXPECT_EQ(f.count("newwork"), "0");
}

TEST(DeleteCase, MarksItDeletedClosesItsItemsAndHidesItEverywhere) {
  CaseFiles f;
  const std::int64_t id = f.accept(f.zhang, {{"lawyerid", "li"}, {"lawyername", "李四"}});
  const std::string flowid = std::to_string(id);
  f.boss.post("lawdiscuss.asp", {{"flag", "jiean"}, {"flowid", flowid}});  // closed first
  ASSERT_EQ(f.scalar("SELECT COUNT(*) FROM newwork WHERE userid = 'li' AND status = 0"), "1");

  EXPECT_EQ(header(f.li.get("lawinfoalldel.asp?flowid=" + flowid), "Location"), "lawlistall.asp");
  EXPECT_EQ(f.zhao.post("lawinfoalldel.asp", {{"flowid", flowid}}).status, 403);
  EXPECT_EQ(f.li.post("lawinfoalldel.asp", {{"flowid", "x"}}).status, 400);
  EXPECT_EQ(header(f.li.post("lawinfoalldel.asp", {{"flowid", "999"}}), "Location"),
            "lawlistall.asp");
  EXPECT_EQ(f.scalar("SELECT status FROM lawinfo"), "1");

  auto r = f.boss.post("lawinfoalldel.asp", {{"flowid", flowid}});
  EXPECT_EQ(header(r, "Location"), "lawlistall.asp");
  EXPECT_EQ(
      f.scalar("SELECT status || writeid || writename || writetime || ipaddress FROM lawinfo"),
      "99boss王总2006-12-03 15:30:4510.0.0.7");
  EXPECT_EQ(f.scalar("SELECT COUNT(*) FROM newwork WHERE status = 0"), "0")
      << "li's item of the deleted case is closed";
  for (Browser* b : {&f.boss, &f.li}) {
    EXPECT_FALSE(has(text_of(b->get("lawlistall.asp")), "lawdiscuss.asp?flowid=" + flowid));
    EXPECT_FALSE(has(text_of(b->get("lawlistall.asp?ifdone=3")), "lawdiscuss.asp?flowid="));
    EXPECT_EQ(b->get("lawdiscuss.asp?flowid=" + flowid).status, 404);
  }
}

// ---- Sub-records ------------------------------------------------------------

TEST(Fees, SignRuleNumbersAndTheRunningTotal) {
  CaseFiles f;
  const std::string flowid = std::to_string(f.accept(f.zhang));
  struct Row {
    std::string kind, typed;
    std::optional<double> stored;  // nullopt: refused
  };
  const std::vector<Row> rows = {
      {"2", "500", -500},         {"2", "-500", -500},
      {"1", "500", 500},          {"1", "-500", -500},
      {"3", "1,200.50", -1200.5}, {"1", " 42 ", 42},
      {"1", "abc", {}},           {"1", "", {}},
      {"1", "1e3", {}},           {"1", "12.345", {}},
      {"1", "1,20", {}},          {"1", "9999999999999", {}},
  };
  for (const Row& row : rows) {
    const std::string before = f.count("lawmoneyflow");
    auto r = f.zhang.post("lawinfomoney.asp", {{"flag", "2"},
                                               {"flowid", flowid},
                                               {"moneytype", row.kind},
                                               {"moneyamt", row.typed},
                                               {"moneydate", "2006-12-2"},
                                               {"lawyerid", "zhang"},
                                               {"lawyername", "张三"}});
    if (!row.stored) {
      EXPECT_EQ(r.status, 400) << row.typed;
      EXPECT_EQ(f.count("lawmoneyflow"), before) << row.typed;
      continue;
    }
    EXPECT_EQ(header(r, "Location"), "lawinfomoney.asp?flowid=" + flowid) << row.typed;
    auto got = f.app.db().query(
        "SELECT moneyamt, moneytype, moneydate, writeid, status FROM "
        "lawmoneyflow ORDER BY id DESC LIMIT 1");
    EXPECT_DOUBLE_EQ(got.front()["moneyamt"].real(), *row.stored) << row.typed;
    EXPECT_EQ(
        got.front().text("moneydate") + got.front().text("writeid") + got.front().text("status"),
        "2006-12-02zhang0");
  }
  // -500 - 500 + 500 - 500 - 1200.50 + 42 = -2158.50 against the agreed 10000.
  const std::string page = text_of(f.zhang.get("lawdiscuss.asp?flowid=" + flowid));
  EXPECT_TRUE(has(page, "约定律师费：<b>10000</b>"));
  EXPECT_TRUE(has(page, "已收合计：<b>-2158.50</b>"));
  EXPECT_TRUE(has(page, "尚欠：<b>12158.50</b>"));
  EXPECT_EQ(f.zhang.get("lawinfomoney.asp?flag=2&moneyamt=5&flowid=" + flowid).status, 200);
  EXPECT_EQ(f.count("lawmoneyflow"), "6") << "a GET adds nothing";
}

TEST(SubRecords, AddedThenDeletedKeptOrRemovedAsTheirKindIs) {
  CaseFiles f;
  const std::string flowid = std::to_string(f.accept(f.zhang));
  const std::string other = std::to_string(f.accept(f.zhang, {{"lawtitle", "另一案件"}}));
  struct Row {
    std::string list, del, table;
    Fields fields;
    bool kept;  // marked 99 instead of removed
  };
  const std::vector<Row> rows = {
      {"lawinfolinkbook",
       "lawinfolinkbookdel",
       "lawlinkbook",
       {{"linkname", "王经理"}, {"relation", "当事人"}, {"mobile", "139"}, {"desc", "备注"}},
       true},
      {"lawinfowork",
       "lawinfoworkdel",
       "lawworkflow",
       {{"worktype", "阅卷"},
        {"donedate", "2006/12/2"},
        {"desc", "阅卷一天"},
        {"lawyerid", "zhang"}},
       true},
      {"lawinfoanalysis",
       "lawinfoanalysisdel",
       "lawanalysisflow",
       {{"donedate", "2006-12-2"}, {"desc", "胜诉可能大"}},
       true},
      {"lawinfomoney",
       "lawinfomoneydel",
       "lawmoneyflow",
       {{"moneytype", "1"}, {"moneyamt", "800"}},
       false},
  };
  for (const Row& row : rows) {
    Fields fields = row.fields;
    fields.insert(fields.end(), {{"flag", "2"}, {"flowid", flowid}});
    EXPECT_EQ(f.zhang.get(row.list + ".asp?flowid=" + flowid).status, 200) << row.list;
    ASSERT_EQ(f.zhang.post(row.list + ".asp", fields).status, 302) << row.list;
    EXPECT_EQ(f.zhao.post(row.list + ".asp", fields).status, 403) << row.list;
    const std::string id = f.scalar("SELECT MAX(id) FROM " + row.table);
    EXPECT_EQ(f.scalar("SELECT COUNT(*) FROM " + row.table), "1") << row.list;
    EXPECT_EQ(f.scalar("SELECT flowid || writeid || status FROM " + row.table), flowid + "zhang0");

    // A GET, another case's number or a stranger changes nothing.
    f.li.get(row.del + ".asp?id=" + id + "&flowid=" + flowid);
    f.zhang.post(row.del + ".asp", {{"id", id}, {"flowid", other}});
    EXPECT_EQ(f.zhao.post(row.del + ".asp", {{"id", id}, {"flowid", flowid}}).status, 403);
    EXPECT_EQ(f.zhang.post(row.del + ".asp", {{"id", "x"}, {"flowid", flowid}}).status, 400);
    EXPECT_EQ(f.scalar("SELECT status FROM " + row.table), "0") << row.del;

    f.boss.remote_addr = "10.0.0.9";
    auto r = f.boss.post(row.del + ".asp", {{"id", id}, {"flowid", flowid}});
    EXPECT_EQ(header(r, "Location"), row.list + ".asp?flowid=" + flowid);
    if (row.kept)
      EXPECT_EQ(f.scalar("SELECT status || writeid || writename || ipaddress FROM " + row.table),
                "99boss王总10.0.0.9")
          << row.del;
    else
      EXPECT_EQ(f.count(row.table), "0") << row.del;
    EXPECT_FALSE(has(text_of(f.zhang.get(row.list + ".asp?flowid=" + flowid)), "lawDelete(" + id))
        << row.list;
  }
}

TEST(Documents, UploadedToTheCaseAndDownloadedByThoseWhoMaySeeIt) {
  CaseFiles f;
  const std::int64_t id = f.accept(f.zhang);
  const std::string flowid = std::to_string(id);
  std::string bytes(3000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31);
  auto upload = [&](Browser& b, const std::vector<testing::SentFile>& files) {
    return b.post_raw("lawinfodocsave.asp",
                      testing::control_body("7d5abc", {{"flowid", flowid}}, files),
                      testing::control_content_type("7d5abc"));
  };
  auto r = upload(f.zhang, {{"C:\\案卷\\起诉状 (定稿).doc", bytes}, {"证据.pdf", "PDF"}});
  EXPECT_EQ(header(r, "Location"), "lawinfodoc.asp?flowid=" + flowid);
  auto docs =
      f.app.db().query("SELECT id, flowid, filename, filesize, writeid FROM lawfj ORDER BY id");
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs.front().text("filename"), "起诉状 (定稿).doc");
  EXPECT_EQ(docs.front().integer("flowid"), id);
  EXPECT_EQ(docs.front().text("filesize") + docs.front().text("writeid"), "3000zhang");
  const std::string doc = docs.front().text("id");

  // Refused uploads store nothing: a program, an empty file, no file, a stranger.
  EXPECT_EQ(upload(f.zhang, {{"setup.exe", "MZ"}}).status, 400);
  EXPECT_EQ(upload(f.zhang, {{"空.doc", ""}, {"好.doc", "x"}}).status, 400);
  EXPECT_EQ(upload(f.zhang, {}).status, 400);
  EXPECT_EQ(upload(f.zhao, {{"a.doc", "x"}}).status, 403);
  EXPECT_EQ(f.count("lawfj"), "2");

  auto down = f.zhang.get("lawinfodocdown.asp?flowid=" + doc);
  EXPECT_EQ(down.body, bytes);
  EXPECT_EQ(header(down, "Content-Length"), "3000");
  EXPECT_EQ(header(down, "Content-Disposition"),
            "attachment;filename=" + text::to_gb18030("起诉状 (定稿).doc") + ";filename*=UTF-8''" +
                text::url_encode("起诉状 (定稿).doc"));
  EXPECT_TRUE(has(header(down, "Content-Type"), "application/x-msdownload"));
  EXPECT_EQ(f.boss.get("lawinfodocdown.asp?flowid=" + doc).body, bytes);
  EXPECT_EQ(f.zhao.get("lawinfodocdown.asp?flowid=" + doc).status, 403);
  for (const char* missing : {"999", "abc", ""})
    EXPECT_EQ(header(f.zhang.get(std::string("lawinfodocdown.asp?flowid=") + missing), "Location"),
              "error.asp");

  const std::string page = text_of(f.zhang.get("lawinfodoc.asp?flowid=" + flowid));
  EXPECT_TRUE(has(page, "lawinfodocdown.asp?flowid=" + doc + "' class='aapply'>起诉状 (定稿).doc"));
  EXPECT_TRUE(has(page, "enctype='multipart/form-data'"));
}

// ---- Who may see a case; the edition ------------------------------------------

TEST(Access, OnlyTheLawyerThoseSentItAndAdministratorsSeeACase) {
  CaseFiles f;
  const std::string flowid = std::to_string(f.accept(f.zhang));
  const std::vector<std::string> pages = {"lawdiscuss",  "lawinfolinkbook", "lawinfomoney",
                                          "lawinfowork", "lawinfoanalysis", "lawinfodoc"};
  for (const std::string& p : pages) {
    const std::string url = p + ".asp?flowid=" + flowid;
    EXPECT_EQ(f.zhang.get(url).status, 200) << p;
    EXPECT_EQ(f.boss.get(url).status, 200) << p;
    EXPECT_EQ(f.li.get(url).status, 403) << p;
    EXPECT_EQ(f.li.get(p + ".asp?flowid=999").status, 404) << p;
  }
  // Sent to li for discussion: li sees it from then on, also after handing it back.
  f.zhang.post("lawdiscuss.asp", case_fields({{"flowid", flowid}, {"lawyerid", "li"}}));
  f.li.post("lawdiscuss.asp", case_fields({{"flowid", flowid}, {"lawyerid", "zhang"}}));
  EXPECT_EQ(f.li.get("lawdiscuss.asp?flowid=" + flowid).status, 200);
  EXPECT_EQ(f.zhao.get("lawdiscuss.asp?flowid=" + flowid).status, 403);
}

TEST(Edition, TheOfficeEditionHasNoCasesAndTheLawEditionShowsThem) {
  CaseFiles office{asp::AppConfig{}};
  for (const char* page : {"lawlistall.asp", "lawaccept.asp", "lawdiscuss.asp?flowid=1",
                           "lawinfodoc.asp?flowid=1", "lawinfodocdown.asp?flowid=1"})
    EXPECT_EQ(office.boss.get(page).status, 404) << page;
  EXPECT_EQ(office.boss.post("lawaccept.asp", case_fields()).status, 404);
  EXPECT_EQ(office.count("lawinfo"), "0");
  for (const char* page : {"left.asp", "right.asp"}) {
    const std::string shown = text_of(office.zhang.get(page));
    EXPECT_FALSE(has(shown, "lawaccept.asp")) << page;
    EXPECT_FALSE(has(shown, "lawlistall.asp")) << page;
  }

  CaseFiles law;
  law.accept(law.zhang);
  law.accept(law.boss, {{"lawyerid", "zhang"}});
  const std::string menu = text_of(law.zhang.get("left.asp"));
  const std::size_t daily = menu.find("id='child3'");
  EXPECT_LT(daily, menu.find("<a href='lawaccept.asp' target=right>"));
  EXPECT_LT(menu.find("<a href='lawlistall.asp' target=right>"),
            menu.find("<a href='newwork.asp' target=right>"));
  const std::string desk = text_of(law.zhang.get("right.asp"));
  EXPECT_TRUE(has(desk,
                  "您承办的在办案件<font class=numberbold>2</font>件，待处理的案件"
                  "<font class=numberbold>1</font>件"));
  EXPECT_TRUE(has(desk, "<a href='lawlistall.asp?type=1&amp;ifdone=2' class='aapply'>"));
}

}  // namespace
}  // namespace desk
