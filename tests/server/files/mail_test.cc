// Internal mail through the host: sending with attachments, the mail box,
// reading, attachment upload, removal and download.
#include <gtest/gtest.h>

#include "core/text.h"
#include "tests/support/multipart_body.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::header;
using testing::TestApp;
using testing::text_of;

using Fields = std::vector<std::pair<std::string, std::string>>;

// Three users; the sender "wang" is logged in.
struct MailFixture {
  TestApp app;
  Browser wang{app};
  MailFixture() {
    app.add_user("wang", "王五", "pw");
    app.add_user("zhang", "张三", "pw");
    app.add_user("li", "李四", "pw");
    EXPECT_TRUE(wang.login("wang", "pw"));
  }
  std::string session_id(const Browser& b) {
    return b.session_id() ? std::to_string(b.session_id()) : "";
  }
  std::string upload(Browser& b, const std::string& name, const std::string& bytes) {
    auto r = b.post_raw("mailfj.asp?filename=" + text::url_encode(text::to_gb18030(name)), bytes);
    EXPECT_EQ(r.status, 200);
    std::string t = text_of(r);
    EXPECT_EQ(t.rfind("OK ", 0), 0u) << t;
    return t.substr(3);
  }
  http::Reply send(Browser& b, const std::string& to, const std::string& title = "周报",
                   const std::string& body = "正文") {
    return b.post(
        "writemail.asp",
        {{"hiddenselect", to}, {"username", "张三,李四"}, {"title", title}, {"text", body}});
  }
  std::string count(const std::string& table) {
    return app.db().scalar("SELECT COUNT(*) FROM " + table);
  }
};

TEST(WriteMail, TwoRecipientsShareTwoAttachments) {
  MailFixture f;
  std::string a = f.upload(f.wang, "a.txt", "AAA");
  std::string b = f.upload(f.wang, "b.doc", std::string("B\0B", 3));
  auto fj = f.app.db().query("SELECT status, mailid, uid, filesize FROM mailfj ORDER BY id");
  ASSERT_EQ(fj.size(), 2u);
  EXPECT_EQ(fj.rows[0].text("mailid"), f.session_id(f.wang));
  EXPECT_EQ(fj.rows[0].integer("status"), 0);
  EXPECT_EQ(fj.rows[1].integer("filesize"), 3);

  // A stranger's upload that happens to carry the same session id stays put.
  f.app.db().exec("INSERT INTO mailfj (mailid, filename, uid) VALUES (?, 'x', 'li')",
                  {f.session_id(f.wang)});

  f.app.clock().set({2006, 12, 3, 16, 0, 1});
  auto r = f.send(f.wang, "zhang;li;");
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(text_of(r).find("邮件已发送"), std::string::npos);

  auto mails = f.app.db().query("SELECT * FROM mail ORDER BY id");
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails.rows[0].text("topeopleid"), "zhang");
  EXPECT_EQ(mails.rows[1].text("topeopleid"), "li");
  const std::string ids = mails.rows[0].text("id") + "," + mails.rows[1].text("id");
  for (const auto& m : mails) {
    EXPECT_EQ(m.text("mailtime"), "2006-12-03 16:00:01");
    EXPECT_EQ(m.text("fjlist"), a + "," + b);
    EXPECT_EQ(m.text("topeople"), "张三,李四");
    EXPECT_EQ(m.text("senderid"), "wang");
    EXPECT_EQ(m.text("sendername"), "王五");
    EXPECT_EQ(m.text("ipaddress"), "10.0.0.7");
    EXPECT_EQ(m.integer("status"), 0);
  }
  EXPECT_EQ(f.app.db().scalar("SELECT status FROM mailfj WHERE uid = 'li'"), "0");
  for (const auto& row : f.app.db().query("SELECT status, mailid FROM mailfj WHERE uid = 'wang'")) {
    EXPECT_EQ(row.integer("status"), 1);
    EXPECT_EQ(row.text("mailid"), ids);
  }

  // The next message of the same session starts without attachments.
  f.send(f.wang, "zhang;");
  EXPECT_EQ(f.app.db().scalar("SELECT fjlist FROM mail ORDER BY id DESC LIMIT 1"), "");
  EXPECT_EQ(f.app.db().scalar("SELECT COUNT(*) FROM mailfj WHERE mailid = ?", {ids}), "2");
}

TEST(WriteMail, RecipientListParsing) {
  MailFixture f;
  // Twice listed: two copies. A last entry without ";" is not a recipient.
  f.send(f.wang, "zhang;zhang;li");
  EXPECT_EQ(f.app.db().scalar("SELECT group_concat(topeopleid) FROM mail"), "zhang,zhang");
}

TEST(WriteMail, RefusedListsWriteNothing) {
  MailFixture f;
  f.upload(f.wang, "a.txt", "AAA");
  for (std::string list : {"", ";", "li", " ; ;"}) {
    auto r = f.send(f.wang, list);
    EXPECT_EQ(r.status, 400) << list;
    EXPECT_NE(text_of(r).find("没有选择收件人"), std::string::npos) << list;
  }
  auto r = f.send(f.wang, "zhang;ghost;li;nobody;ghost;");
  EXPECT_EQ(r.status, 400);
  EXPECT_NE(text_of(r).find("以下收件人不存在：ghost、nobody。"), std::string::npos);
  EXPECT_EQ(f.count("mail"), "0");
  // The attachment still waits for the message.
  EXPECT_EQ(f.app.db().scalar("SELECT mailid FROM mailfj WHERE status = 0"), f.session_id(f.wang));
}

TEST(ReadMail, MarksReadAndShowsOnlyOwnMail) {
  MailFixture f;
  f.send(f.wang, "zhang;", "旧的", "x");
  f.app.clock().set({2006, 12, 4, 9, 5, 0});
  f.send(f.wang, "zhang;li;", "关于年终总结的通知（请各部门负责人务必按时提交材料）",
         "第一行\n<script>alert(1)</script>");
  std::string for_zhang =
      f.app.db().scalar("SELECT id FROM mail WHERE topeopleid = 'zhang' ORDER BY id DESC LIMIT 1");
  std::string for_li = f.app.db().scalar("SELECT id FROM mail WHERE topeopleid = 'li'");

  Browser zhang(f.app);
  ASSERT_TRUE(zhang.login("zhang", "pw"));
  std::string box = text_of(zhang.get("mailbox.asp"));
  auto newest = box.find("关于年终总结的通知（请各部门负责人务必按时提交材…");
  auto older = box.find("旧的");
  ASSERT_NE(newest, std::string::npos);
  ASSERT_NE(older, std::string::npos);
  EXPECT_LT(newest, older);
  EXPECT_NE(box.find("2006-12-4 09:05:00"), std::string::npos);
  EXPECT_NE(box.find("未读 <span class='numberbold'>2</span>"), std::string::npos);

  auto r = zhang.get("readmail.asp?id=" + for_zhang);
  EXPECT_EQ(r.status, 200);
  std::string page = text_of(r);
  EXPECT_NE(page.find("关于年终总结的通知（请各部门负责人务必按时提交材料）"), std::string::npos);
  EXPECT_NE(page.find("第一行<br>&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_EQ(page.find("<script>alert"), std::string::npos);
  EXPECT_EQ(f.app.db().scalar("SELECT status FROM mail WHERE id = ?", {for_zhang}), "1");
  EXPECT_EQ(f.app.db().scalar("SELECT title FROM mail WHERE id = ?", {for_zhang}),
            "关于年终总结的通知（请各部门负责人务必按时提交材料）");
  EXPECT_NE(text_of(zhang.get("mailbox.asp")).find("未读 <span class='numberbold'>1</span>"),
            std::string::npos);

  // Li's copy, and any copy for the sender himself, are not zhang's or wang's to read.
  for (Browser* b : {&zhang, &f.wang}) {
    auto other = b->get("readmail.asp?id=" + for_li);
    std::string t = text_of(other);
    EXPECT_NE(t.find("该邮件不存在或不属于您。"), std::string::npos);
    EXPECT_EQ(t.find("年终总结"), std::string::npos);
  }
  EXPECT_EQ(f.app.db().scalar("SELECT status FROM mail WHERE id = ?", {for_li}), "0");
  EXPECT_NE(text_of(zhang.get("readmail.asp?id=abc")).find("该邮件不存在或不属于您。"),
            std::string::npos);
}

TEST(Attachments, DownloadOnlyForRecipientsSenderAndUploader) {
  MailFixture f;
  f.app.add_user("zhao", "赵六", "pw");
  std::string id = f.upload(f.wang, "报告\"a\".doc", std::string("\x01\x02\0\xff", 4));
  Browser zhang(f.app), zhao(f.app);
  ASSERT_TRUE(zhang.login("zhang", "pw"));
  ASSERT_TRUE(zhao.login("zhao", "pw"));

  auto refused = [&](Browser& b) {
    auto r = b.get("mailfjdown.asp?id=" + id);
    return r.status == 404 && r.body.find('\xff') == std::string::npos &&
           text_of(r).find("该附件不存在或您无权下载。") != std::string::npos;
  };
  // Unsent: only the uploader.
  EXPECT_EQ(f.wang.get("mailfjdown.asp?id=" + id).body, std::string("\x01\x02\0\xff", 4));
  EXPECT_TRUE(refused(zhang));

  f.send(f.wang, "zhang;");
  for (Browser* b : {&zhang, &f.wang}) {
    auto r = b->get("mailfjdown.asp?id=" + id);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, std::string("\x01\x02\0\xff", 4));
    EXPECT_EQ(header(r, "Content-Type"), "application/octet-stream");
    // The name's quotes are dropped, as for every download.
    EXPECT_EQ(header(r, "Content-Disposition"),
              "attachment;filename=" + text::to_gb18030("报告a.doc") +
                  ";filename*=UTF-8''%E6%8A%A5%E5%91%8Aa.doc");
  }
  EXPECT_TRUE(refused(zhao));
  auto none = zhao.get("mailfjdown.asp?id=999");
  EXPECT_EQ(none.status, 404);
}

TEST(Attachments, UploadLimitNamesAndRemoval) {
  TestApp app;
  app.db().exec("INSERT INTO sysconfig (type, maxsize) VALUES (1, 10)");
  app.add_user("wang", "王五", "pw");
  app.add_user("li", "李四", "pw");
  Browser wang(app), li(app);
  ASSERT_TRUE(wang.login("wang", "pw"));
  ASSERT_TRUE(li.login("li", "pw"));

  auto big = wang.post_raw("mailfj.asp?filename=big.bin", std::string(11, 'x'));
  EXPECT_EQ(big.status, 413);
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM mailfj"), "0");
  EXPECT_EQ(wang.post_raw("mailfj.asp", "abc").status, 400);
  EXPECT_EQ(wang.get("mailfj.asp?filename=x").status, 405);
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM mailfj"), "0");

  // Exactly the limit is taken; the name loses its folders; characters
  // outside the query's code page arrive as numeric references.
  auto ok = wang.post_raw("mailfj.asp?filename=" + text::url_encode("C:\\docs\\&#20013;&#38;.txt"),
                          std::string(10, 'x'));
  EXPECT_EQ(ok.status, 200);
  std::string id = text_of(ok).substr(3);
  EXPECT_EQ(app.db().scalar("SELECT filename FROM mailfj WHERE id = ?", {id}), "中&.txt");
  std::string form = text_of(wang.get("writemail.asp"));
  EXPECT_NE(form.find("中&amp;.txt"), std::string::npos);
  EXPECT_NE(form.find("内部成员"), std::string::npos);  // the recipient picker

  // Only the uploader's own session removes it.
  EXPECT_EQ(li.post_raw("mailfjdel.asp?id=" + id, "").status, 404);
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM mailfj"), "1");
  EXPECT_EQ(text_of(wang.post_raw("mailfjdel.asp?id=" + id, "")), "OK");
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM mailfj"), "0");
  EXPECT_EQ(text_of(wang.get("writemail.asp?fjlist=1")).find(".txt"), std::string::npos);
}

TEST(Attachments, MultiPartUploadAddsEveryFileOrNone) {
  MailFixture f;
  const std::string token = "7d510424800931";
  const std::string body = testing::control_body(
      token, {{"note", "x"}},
      {{"d:\\资料\\报告.doc", "DOC\r\nBYTES"}, {"c:\\a\\b.tar.gz", std::string(5, '\0')}});
  auto post = [&](const std::string& bytes, const std::string& form) {
    return f.wang.post_raw("mailfjup.asp?formtoken=" + form, bytes,
                           testing::control_content_type(token));
  };
  const std::string form = f.wang.form_token();
  auto r = post(body, form);
  ASSERT_EQ(r.status, 200) << text_of(r);
  std::vector<std::string> ids = text::split(text_of(r).substr(3), ' ');
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(f.app.db().scalar("SELECT filename FROM mailfj WHERE id = ?", {ids[0]}), "报告.doc");
  EXPECT_EQ(f.app.db().scalar("SELECT filedata FROM mailfj WHERE id = ?", {ids[0]}),
            "DOC\r\nBYTES");
  EXPECT_EQ(f.app.db().scalar("SELECT filesize FROM mailfj WHERE id = ?", {ids[1]}), "5");
  // They belong to the message being composed.
  EXPECT_NE(text_of(f.wang.get("writemail.asp?fjlist=1")).find("报告.doc"), std::string::npos);
  // A replay, a body without files and a broken body store nothing.
  EXPECT_EQ(post(body, form).status, 409);
  EXPECT_EQ(post(testing::control_body(token, {{"note", "x"}}, {}), f.wang.form_token()).status,
            400);
  EXPECT_EQ(post(body.substr(0, body.size() / 2), f.wang.form_token()).status, 400);
  EXPECT_EQ(f.count("mailfj"), "2");
}

}  // namespace
}  // namespace desk
