// One case from acceptance to closing through the hosting pages: zhang
// accepts it, fills its contact, fee, work log, analysis note and document,
// hands it to li; li opens it from the desk, saves it (his item is closed)
// and closes it.
#include <gtest/gtest.h>

#include "core/text.h"
#include "tests/server/cases/case_fixture.h"
#include "tests/support/multipart_body.h"

namespace desk {
namespace {

using testing::case_fields;
using testing::CaseFiles;
using testing::header;
using testing::text_of;

TEST(CaseRoad, FromAcceptanceToClosing) {
  CaseFiles f;
  ASSERT_TRUE(text_of(f.zhang.get("lawaccept.asp"))
                  .find("<option value='zhang' data-name='张三' "
                        "selected>") != std::string::npos);
  const std::int64_t id = f.accept(f.zhang);
  ASSERT_GT(id, 0);
  const std::string flowid = std::to_string(id);
  auto posted = [&](const std::string& page, testing::Fields fields) {
    fields.insert(fields.end(), {{"flag", "2"}, {"flowid", flowid}});
    auto r = f.zhang.post(page, fields);
    EXPECT_EQ(header(r, "Location"), page + "?flowid=" + flowid) << text_of(r);
  };
  posted("lawinfolinkbook.asp", {{"linkname", "甲公司王经理"}, {"mobile", "13900000000"}});
  posted("lawinfomoney.asp",
         {{"moneytype", "1"}, {"moneyamt", "3000"}, {"moneydate", "2006-12-2"}});
  posted("lawinfowork.asp",
         {{"worktype", "会见当事人"}, {"donedate", "2006-12-2"}, {"desc", "初次会见"}});
  posted("lawinfoanalysis.asp", {{"donedate", "2006-12-3"}, {"desc", "证据链完整"}});
  auto up = f.zhang.post_raw(
      "lawinfodocsave.asp",
      testing::control_body("road", {{"flowid", flowid}}, {{"委托合同.doc", "DOC-BYTES"}}),
      testing::control_content_type("road"));
  EXPECT_EQ(header(up, "Location"), "lawinfodoc.asp?flowid=" + flowid) << up.status << text_of(up);

  const std::string info = text_of(f.zhang.get("lawdiscuss.asp?flowid=" + flowid));
  for (const char* tab : {"联系人(1)", "收费(1)", "工作日志(1)", "案件分析(1)", "案件文档(1)"})
    EXPECT_NE(info.find(tab), std::string::npos) << tab;
  EXPECT_NE(info.find("已收合计：<b>3000.00</b>"), std::string::npos);
  EXPECT_NE(info.find("尚欠：<b>7000.00</b>"), std::string::npos);

  // Handed to li: an item on his desk leads to the case page.
  f.zhang.post("lawdiscuss.asp",
               case_fields({{"flowid", flowid}, {"lawyerid", "li"}, {"lawyername", "李四"}}));
  auto item = f.app.db().query("SELECT id, status FROM newwork WHERE userid = 'li'");
  ASSERT_EQ(item.size(), 1u);
  const std::string link = "lawdiscuss.asp?flowid=" + flowid + "&nwid=" + item.front().text("id");
  const std::string desk = text_of(f.li.get("right.asp"));
  EXPECT_NE(desk.find("<a href='" + link + "' class=aapply>[案件处理]"), std::string::npos);
  auto opened = f.li.get(link);
  ASSERT_EQ(opened.status, 200);
  EXPECT_NE(text_of(opened).find("甲公司诉乙公司买卖合同纠纷"), std::string::npos);
  EXPECT_EQ(f.scalar("SELECT status FROM newwork WHERE userid = 'li'"), "0") << "opening is a GET";

  // li saves it: his item is done, a third history row.
  auto saved = f.li.post("lawdiscuss.asp", case_fields({{"flowid", flowid},
                                                        {"lawdesc", "对方已部分付款"},
                                                        {"lawyerid", "li"},
                                                        {"lawyername", "李四"}}));
  EXPECT_NE(text_of(saved).find("卷宗修改成功"), std::string::npos);
  EXPECT_EQ(f.scalar("SELECT status || donetime FROM newwork WHERE userid = 'li'"),
            "12006-12-03 15:30:45");
  EXPECT_EQ(f.scalar("SELECT group_concat(lawyerid) FROM lawflow WHERE lawid = ?", {id}),
            "zhang,zhang,li");

  // li closes it.
  auto closed = f.li.post("lawdiscuss.asp", {{"flag", "jiean"}, {"flowid", flowid}});
  EXPECT_EQ(header(closed, "Location"), "lawdiscuss.asp?flowid=" + flowid);
  EXPECT_EQ(f.scalar("SELECT status || lawyerid || closeuid || lawdesc FROM lawinfo"),
            "1lili对方已部分付款");
  EXPECT_EQ(f.scalar("SELECT COUNT(*) FROM newwork WHERE status = 0"), "0");
  const std::string listed = text_of(f.li.get("lawlistall.asp?ifdone=3&type=1"));
  EXPECT_NE(listed.find("lawdiscuss.asp?flowid=" + flowid), std::string::npos);
  for (const char* table :
       {"lawlinkbook", "lawmoneyflow", "lawworkflow", "lawanalysisflow", "lawfj"})
    EXPECT_EQ(f.scalar(std::string("SELECT COUNT(*) FROM ") + table + " WHERE flowid = ?", {id}),
              "1")
        << table;
}

}  // namespace
}  // namespace desk
