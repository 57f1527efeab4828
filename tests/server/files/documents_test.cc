// Document bodies, templates and signature pictures through the host: raw
// uploads, binary downloads with their headers, who may read a body, the
// template list and the signature page.
#include <gtest/gtest.h>

#include "core/text.h"
#include "platform/asp/site_host.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::header;
using testing::TestApp;
using testing::text_of;

// Every value of a header the reply carries.
std::vector<std::string> headers_named(const http::Reply& r, const std::string& name) {
  std::vector<std::string> out;
  for (const auto& [k, v] : r.headers)
    if (text::iequals(k, name)) out.push_back(v);
  return out;
}

// n bytes covering every byte value, NULs included.
std::string bytes_of(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return s;
}

// Drafter zhang, handler li, administrator boss and stranger zhao, all
// logged in; uploads are limited to 1000 bytes.
struct DocFixture {
  TestApp app;
  Browser zhang{app}, li{app}, boss{app}, zhao{app};
  std::int64_t li_row = 0;

  DocFixture() {
    app.db().exec("INSERT INTO sysconfig (type, maxsize) VALUES (1, 1000)");
    app.add_user("zhang", "张三", "pw");
    li_row = app.add_user("li", "李四", "pw");
    app.add_user("boss", "王总", "pw", "2");
    app.add_user("zhao", "赵六", "pw");
    EXPECT_TRUE(zhang.login("zhang", "pw"));
    EXPECT_TRUE(li.login("li", "pw"));
    EXPECT_TRUE(boss.login("boss", "pw"));
    EXPECT_TRUE(zhao.login("zhao", "pw"));
  }
  void set(Browser& b, const std::string& key, const std::string& value) {
    b.set_session(key, value);
  }
  std::string get(const Browser& b, const std::string& key) { return b.session(key); }
  std::string count(const std::string& table) {
    return app.db().scalar("SELECT COUNT(*) FROM " + table);
  }
  // An outgoing document drafted by zhang.
  std::int64_t fawen(const std::string& name, const std::string& body) {
    return app.db().insert(
        "INSERT INTO fawen (filedata, filetype, documentname, writeid) VALUES (?, 'doc', ?, "
        "'zhang')",
        {db::Blob{body}, name});
  }
  std::string signature(const std::string& uid) {
    return app.db().scalar("SELECT signature FROM userlist WHERE uid = ?", {uid});
  }
};

TEST(TempleSet, LeavesExactlyOneDefaultAndRollsBackAnUnknownId) {
  DocFixture f;
  for (int i = 1; i <= 9; ++i)
    f.app.db().exec("INSERT INTO temple (filename, fileindex) VALUES (?, ?)",
                    {"模板" + std::to_string(i), i == 3 || i == 5 ? 1 : 0});
  auto defaults = [&] {
    return f.app.db().scalar("SELECT group_concat(id) FROM temple WHERE fileindex = 1");
  };

  // A GET changes nothing.
  EXPECT_EQ(header(f.boss.get("templeset.asp?id=7"), "Location"), "templelist.asp");
  EXPECT_EQ(defaults(), "3,5");

  auto r = f.boss.post("templeset.asp", {{"id", "7"}});
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(header(r, "Location"), "templelist.asp");
  EXPECT_EQ(defaults(), "7");

  // An unknown id does not clear the current default; neither does a
  // non-number, an ordinary user or an empty id.
  EXPECT_EQ(f.boss.post("templeset.asp", {{"id", "99"}}).status, 404);
  EXPECT_EQ(f.boss.post("templeset.asp", {{"id", "3 or 1=1"}}).status, 400);
  auto refused = f.zhang.post("templeset.asp", {{"id", "3"}});
  EXPECT_EQ(header(refused, "Location"), "powererror.htm");
  EXPECT_EQ(header(f.boss.post("templeset.asp", {{"id", ""}}), "Location"), "templelist.asp");
  EXPECT_EQ(defaults(), "7");
}

// A body upload waits for its form: uploading again before the form is
// saved replaces the body of the same row, and what no form completes within
// a day is removed by a later upload.
TEST(SaveDoc, UploadsWaitForTheirFormAndOrphansGo) {
  DocFixture f;
  for (const char* page : {"savedoc.asp", "swpso.asp"}) {
    f.zhang.post_raw(page, "ONE");
    f.zhang.post_raw(page, "TWO");
  }
  EXPECT_EQ(f.count("fawen"), "1");
  EXPECT_EQ(f.count("shouwen"), "1");
  EXPECT_EQ(f.app.db().scalar("SELECT filedata FROM fawen"), "TWO");
  // li's upload is li's own row.
  f.li.post_raw("savedoc.asp", "LI");
  EXPECT_EQ(f.count("fawen"), "2");

  // A day and a second later, zhao's upload sweeps away the abandoned rows;
  // a drafted document stays whatever its age.
  f.app.db().exec("UPDATE fawen SET writeid = 'li' WHERE id = (SELECT MAX(id) FROM fawen)");
  f.app.clock().set(DateTime{2006, 12, 4, 15, 30, 46});
  f.zhao.post_raw("savedoc.asp", "NEW");
  EXPECT_EQ(f.app.db().scalar("SELECT group_concat(filedata) FROM fawen ORDER BY id"), "LI,NEW");
  EXPECT_EQ(f.count("shouwen"), "0");
}

TEST(SaveDoc, EmptyBodyStoresNothingAndAFullBodyIsStoredExactly) {
  DocFixture f;
  f.set(f.zhang, "fawenid", "5");
  auto empty = f.zhang.post_raw("savedoc.asp", "");
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(f.count("fawen"), "0");
  EXPECT_EQ(f.get(f.zhang, "fawenid"), "5");

  // The control's header names multipart without a boundary; it is ignored.
  f.app.db().exec("UPDATE sysconfig SET maxsize = 5000000");
  ASSERT_TRUE(f.zhang.login("zhang", "pw"));
  const std::string body = bytes_of(20000);
  auto r = f.zhang.post_raw("savedoc.asp", body, "multipart/form-data");
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(r.body.empty());
  auto rows = f.app.db().query("SELECT id, filedata, filetype, writeid FROM fawen");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.front()["filedata"].bytes(), body);
  EXPECT_EQ(rows.front().text("filetype"), "doc");
  EXPECT_EQ(rows.front().text("writeid"), "");
  EXPECT_EQ(f.get(f.zhang, "fawenid"), rows.front().text("id"));

  // The uploader reads the body back before drafting; nobody else does.
  EXPECT_EQ(f.zhang.get("loadhg.asp").body, body);
  f.set(f.zhao, "fawenid", rows.front().text("id"));
  EXPECT_EQ(f.zhao.get("loadhg.asp").status, 403);
}

TEST(SwPso, StoresOnlyTheBodyAndNamesItInTheSession) {
  DocFixture f;
  EXPECT_EQ(f.li.post_raw("swpso.asp", "").status, 200);
  EXPECT_EQ(f.count("shouwen"), "0");
  EXPECT_EQ(f.get(f.li, "shouwenid"), "");

  ASSERT_EQ(f.li.post_raw("swpso.asp", bytes_of(700)).status, 200);
  auto rows = f.app.db().query("SELECT id, filedata, filetype FROM shouwen");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.front()["filedata"].bytes(), bytes_of(700));
  EXPECT_EQ(rows.front().text("filetype"), "");
  EXPECT_EQ(f.get(f.li, "shouwenid"), rows.front().text("id"));
  EXPECT_EQ(f.li.get("swload.asp").body, bytes_of(700));
}

TEST(Uploads, OverMaxSizeAreRefusedWith413AndStoreNothing) {
  DocFixture f;
  const std::string big = bytes_of(1001);
  f.set(f.zhang, "fawenid", "5");
  EXPECT_EQ(f.zhang.post_raw("savedoc.asp", big).status, 413);
  EXPECT_EQ(f.zhang.post_raw("swpso.asp", big).status, 413);
  f.zhang.get("mysign.asp");
  EXPECT_EQ(f.zhang.post_raw("upsign.asp", big).status, 413);
  EXPECT_EQ(f.boss.post_raw("templeup.asp", big).status, 413);
  EXPECT_EQ(f.count("fawen"), "0");
  EXPECT_EQ(f.count("shouwen"), "0");
  EXPECT_EQ(f.count("temple"), "0");
  EXPECT_EQ(f.signature("zhang"), "");
  EXPECT_EQ(f.get(f.zhang, "fawenid"), "5");
  EXPECT_EQ(f.get(f.zhang, "shouwenid"), "");
  EXPECT_EQ(f.get(f.boss, "templeid"), "");

  // Exactly the ceiling is allowed.
  EXPECT_EQ(f.zhang.post_raw("savedoc.asp", bytes_of(1000)).status, 200);
  EXPECT_EQ(f.count("fawen"), "1");

  // The host refuses by Content-Length with the same ceiling, on upload pages only.
  auto head = f.app.make("POST", "/tarvo/savedoc.asp");
  head.headers.emplace_back("Cookie",
                            std::string(asp::kSessionCookie) + "=" + f.zhang.session_token());
  EXPECT_EQ(f.app.host().body_limit(head), 1000u);
  head.target = "/tarvo/upsign.asp";
  EXPECT_EQ(f.app.host().body_limit(head), 1000u);
  head.target = "/tarvo/templelist.asp";
  EXPECT_NE(f.app.host().body_limit(head), 1000u);
}

TEST(LoadHg, SendsTheChineseNameAndTheStoredSize) {
  DocFixture f;
  const std::string body = bytes_of(900);
  std::int64_t id = f.fawen("报告.doc", body);
  f.set(f.zhang, "fawenid", std::to_string(id));
  auto r = f.zhang.get("loadhg.asp");
  ASSERT_EQ(r.status, 200);
  EXPECT_EQ(header(r, "Content-Disposition"),
            "attachment;filename=" + text::to_gb18030("报告.doc") +
                ";filename*=UTF-8''%E6%8A%A5%E5%91%8A.doc");
  EXPECT_EQ(header(r, "Content-Length"), "900");
  EXPECT_EQ(header(r, "Content-Type"), "application/x-msdownload");
  EXPECT_EQ(r.body, body);

  // A session key that names no document is the host's not-found.
  f.set(f.zhang, "fawenid", "999");
  EXPECT_EQ(f.zhang.get("loadhg.asp").status, 404);
}

TEST(LoadHg, NastyStoredNameNeverBreaksTheHeader) {
  DocFixture f;
  std::int64_t id = f.fawen("a\"b\r\nX-Evil: 1;c\x01.doc", "X");
  f.set(f.zhang, "fawenid", std::to_string(id));
  auto r = f.zhang.get("loadhg.asp");
  ASSERT_EQ(r.status, 200);
  auto values = headers_named(r, "Content-Disposition");
  ASSERT_EQ(values.size(), 1u);
  const std::string& v = values.front();
  EXPECT_EQ(v.find_first_of("\r\n\"\\\x01"), std::string::npos) << v;
  EXPECT_EQ(v, "attachment;filename=abX-Evil: 1c.doc;filename*=UTF-8''abX-Evil%3A%201c.doc");
  EXPECT_TRUE(headers_named(r, "X-Evil").empty());

  // Only the last path component is offered; an empty name gets a default.
  f.app.db().exec("UPDATE fawen SET documentname = ? WHERE id = ?", {"c:\\temp\\..\\通知.doc", id});
  EXPECT_EQ(header(f.zhang.get("loadhg.asp"), "Content-Disposition"),
            "attachment;filename=" + text::to_gb18030("通知.doc") +
                ";filename*=UTF-8''%E9%80%9A%E7%9F%A5.doc");
  f.app.db().exec("UPDATE fawen SET documentname = '\"\r\n' WHERE id = ?", {id});
  EXPECT_EQ(header(f.zhang.get("loadhg.asp"), "Content-Disposition"),
            "attachment;filename=document.doc;filename*=UTF-8''document.doc");
}

TEST(DocumentGuard, OnlyThoseWhoWorkedOnAnOutgoingDocumentReadIt) {
  DocFixture f;
  f.app.add_user("wang", "王五", "pw");
  f.app.add_user("qian", "钱七", "pw");
  Browser wang(f.app), qian(f.app);
  ASSERT_TRUE(wang.login("wang", "pw"));
  ASSERT_TRUE(qian.login("qian", "pw"));
  const std::string body = "BODY-BYTES";
  std::int64_t id = f.fawen("报告.doc", body);
  f.app.db().exec("UPDATE fawen SET psodata = ?, fujianname = '附件.xls' WHERE id = ?",
                  {db::Blob{"PSO"}, id});
  // li had a draft-verification item (now done), wang left a history row,
  // qian has a case item that happens to carry the same number.
  f.app.db().exec(
      "INSERT INTO newwork (userid, url, baseid, typed, status) VALUES ('li', 'hegao.asp', ?, "
      "'核稿', 1)",
      {id});
  f.app.db().exec("INSERT INTO workflow (flowid, handleid, handtype) VALUES (?, 'wang', '2')",
                  {id});
  f.app.db().exec(
      "INSERT INTO newwork (userid, url, baseid, typed) VALUES ('qian', 'lawdiscuss.asp', ?, "
      "'案件处理')",
      {id});

  for (Browser* b : {&f.zhang, &f.li, &wang, &f.boss}) {
    f.set(*b, "fawenid", std::to_string(id));
    EXPECT_EQ(b->get("loadhg.asp").body, body);
    EXPECT_EQ(b->get("loadpso.asp").body, "PSO");
  }
  for (Browser* b : {&f.zhao, &qian}) {
    f.set(*b, "fawenid", std::to_string(id));
    for (const char* page : {"loadhg.asp", "loadpso.asp"}) {
      auto r = b->get(page);
      EXPECT_EQ(r.status, 403) << page;
      EXPECT_EQ(r.body.find(body), std::string::npos);
      EXPECT_EQ(r.body.find("PSO"), std::string::npos);
      EXPECT_EQ(header(r, "Content-Disposition"), "");
    }
  }
  auto pso = f.li.get("loadpso.asp");
  EXPECT_EQ(header(pso, "Content-Disposition"),
            "attachment;filename=" + text::to_gb18030("附件.xls") +
                ";filename*=UTF-8''%E9%99%84%E4%BB%B6.xls");
  EXPECT_EQ(header(pso, "Content-Length"), "3");
}

TEST(DocumentGuard, IncomingBodiesAndMissingRecords) {
  DocFixture f;
  std::int64_t id = f.app.db().insert(
      "INSERT INTO shouwen (filedata, documentname, writeid) VALUES (?, '来文.doc', 'zhang')",
      {db::Blob{"SW"}});
  f.app.db().exec(
      "INSERT INTO newwork (userid, url, baseid, typed) VALUES ('li', 'piban.asp', ?, '收文批办')",
      {id});
  for (Browser* b : {&f.zhang, &f.li, &f.boss, &f.zhao}) f.set(*b, "shouwenid", std::to_string(id));
  EXPECT_EQ(f.zhang.get("swload.asp").body, "SW");
  EXPECT_EQ(f.li.get("swload.asp").body, "SW");
  EXPECT_EQ(f.boss.get("swload.asp").body, "SW");
  EXPECT_EQ(header(f.li.get("swload.asp"), "Content-Length"), "2");
  EXPECT_EQ(f.zhao.get("swload.asp").status, 403);

  // A key that names no record, or none at all, leads to the error page.
  for (const char* key : {"999", "", "abc"}) {
    f.set(f.boss, "shouwenid", key);
    f.set(f.boss, "fawenid", key);
    for (const char* page : {"swload.asp", "loadpso.asp"}) {
      auto r = f.boss.get(page);
      EXPECT_EQ(r.status, 302) << page << " " << key;
      EXPECT_EQ(header(r, "Location"), "error.asp");
    }
  }
  // So does an outgoing document without an attachment.
  f.set(f.boss, "fawenid", std::to_string(f.fawen("x.doc", "X")));
  EXPECT_EQ(header(f.boss.get("loadpso.asp"), "Location"), "error.asp");
}

// A JPEG file's first bytes, then `rest`.
std::string jpeg(const std::string& rest) {
  return "\xFF\xD8\xFF\xE0" + rest;
}

TEST(Signature, UploadReplacesThePictureOfTheChosenUserOnly) {
  DocFixture f;
  auto page = f.zhang.get("mysign.asp");
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(text_of(page).find("尚未上传签名图片"), std::string::npos);
  EXPECT_EQ(f.get(f.zhang, "signid"), "zhang");
  EXPECT_EQ(f.zhang.post_raw("upsign.asp", jpeg("OLD-PICTURE")).status, 200);
  EXPECT_EQ(f.zhang.post_raw("upsign.asp", jpeg("NEW")).status, 200);
  EXPECT_EQ(f.signature("zhang"), jpeg("NEW"));
  EXPECT_EQ(f.zhang.post_raw("upsign.asp", "").status, 200);
  EXPECT_EQ(f.signature("zhang"), jpeg("NEW"));
  // The page asks for a JPEG: other pictures are refused by their bytes.
  EXPECT_EQ(f.zhang.post_raw("upsign.asp", "\x89PNG\r\n\x1a\nIHDR").status, 400);
  EXPECT_EQ(f.signature("zhang"), jpeg("NEW"));

  auto own = f.zhang.get("loadsignature.asp");
  EXPECT_EQ(own.body, jpeg("NEW"));
  EXPECT_EQ(header(own, "Content-Disposition"), "attachment;filename=signature.jpg");
  EXPECT_EQ(f.li.get("loadsignature.asp").status, 404);

  // An ordinary user cannot pick another user, nor upload for one.
  f.zhang.get("mysign.asp?id=" + std::to_string(f.li_row));
  EXPECT_EQ(f.get(f.zhang, "signid"), "zhang");
  f.set(f.zhang, "signid", "li");
  EXPECT_EQ(f.zhang.post_raw("upsign.asp", jpeg("FORGED")).status, 403);
  EXPECT_EQ(f.signature("li"), "");

  // An administrator picks li; a page left open for li after picking
  // someone else stores nothing.
  const std::string li = std::to_string(f.li_row);
  EXPECT_NE(text_of(f.boss.get("mysign.asp?id=" + li)).find("李四 (li)"), std::string::npos);
  EXPECT_EQ(f.get(f.boss, "signid"), "li");
  EXPECT_EQ(f.boss.post_raw("upsign.asp?id=" + li, jpeg("LI")).status, 200);
  EXPECT_EQ(f.signature("li"), jpeg("LI"));
  f.boss.get("mysign.asp");
  EXPECT_EQ(f.boss.post_raw("upsign.asp?id=" + li, jpeg("STALE")).status, 409);
  EXPECT_EQ(f.signature("li"), jpeg("LI"));
  EXPECT_EQ(f.signature("boss"), "");
}

TEST(Signature, ShowBigAndShowSign) {
  DocFixture f;
  f.app.db().exec("UPDATE userlist SET signature = ? WHERE uid = 'li'", {db::Blob{"JPEGDATA"}});
  const std::string li = std::to_string(f.li_row);
  for (const char* page : {"showbig.asp?id=", "showsign.asp?id="}) {
    auto r = f.zhao.get(page);
    EXPECT_EQ(r.status, 200) << page;
    EXPECT_TRUE(r.body.empty()) << page;
    EXPECT_EQ(header(r, "Content-Disposition"), "");
  }
  // Only the owner and administrators read a signature: with it anyone could
  // stamp the owner's name on a document.
  for (const char* page : {"showbig.asp?id=", "showsign.asp?id="}) {
    auto r = f.zhao.get(page + li);
    EXPECT_EQ(r.status, 403) << page;
    EXPECT_EQ(r.body.find("JPEGDATA"), std::string::npos) << page;
    EXPECT_EQ(f.boss.get(page + li).status, 200) << page;
  }
  auto big = f.li.get("showbig.asp?id=" + li);
  EXPECT_EQ(big.body, "JPEGDATA");
  EXPECT_EQ(header(big, "Content-Type"), "image/JPEG");
  EXPECT_EQ(header(big, "Content-Disposition"), "attachment;filename=sign.jpg");
  EXPECT_EQ(header(big, "Content-Length"), "8");

  auto sign = f.li.get("showsign.asp?id=" + li);
  EXPECT_EQ(sign.body, "JPEGDATA");
  EXPECT_EQ(header(sign, "Content-Type").rfind("text/html", 0), 0u);
  EXPECT_EQ(header(sign, "Content-Length"), "");
  bool sandboxed = false;
  for (const auto& v : headers_named(sign, "Content-Security-Policy"))
    sandboxed = sandboxed || v.find("sandbox") != std::string::npos;
  EXPECT_TRUE(sandboxed);

  EXPECT_EQ(f.zhao.get("showbig.asp?id=x").status, 400);
  EXPECT_EQ(f.zhao.get("showsign.asp?id=" + std::to_string(f.li_row + 100)).status, 404);
}

TEST(Templates, AdministratorUploadsNamesAndEveryoneDownloads) {
  DocFixture f;
  // Ordinary users neither upload nor see the upload form.
  EXPECT_EQ(header(f.zhang.post_raw("templeup.asp", "T"), "Location"), "powererror.htm");
  EXPECT_EQ(header(f.zhang.post("savetemple.asp", {{"title", "x"}}), "Location"), "powererror.htm");
  EXPECT_EQ(f.count("temple"), "0");

  EXPECT_EQ(f.boss.post_raw("templeup.asp", "").status, 400);
  EXPECT_EQ(f.get(f.boss, "templeid"), "");
  auto up = f.boss.post_raw("templeup.asp", bytes_of(500));
  ASSERT_EQ(up.status, 200);
  const std::string id = text_of(up).substr(3);
  EXPECT_EQ(text_of(up), "OK " + id);
  EXPECT_EQ(f.get(f.boss, "templeid"), id);

  EXPECT_EQ(f.boss.post("savetemple.asp", {{"title", ""}}).status, 400);
  f.app.clock().set({2006, 12, 4, 9, 5, 0});
  auto saved = f.boss.post("savetemple.asp", {{"title", "<b>请示</b>模板"}});
  EXPECT_EQ(saved.status, 302);
  EXPECT_EQ(header(saved, "Location"), "templelist.asp");
  auto row = f.app.db().query("SELECT * FROM temple").front();
  EXPECT_EQ(row.text("filename"), "<b>请示</b>模板");
  EXPECT_EQ(row.text("wtime"), "2006-12-04 09:05:00");
  EXPECT_EQ(row.text("ipaddress"), "10.0.0.7");
  EXPECT_EQ(row.text("userid"), "boss");
  EXPECT_EQ(row.integer("fileindex"), 0);

  auto doc = f.zhang.get("loadtemple.asp?id=" + id);
  EXPECT_EQ(doc.body, bytes_of(500));
  EXPECT_EQ(header(doc, "Content-Disposition"), "attachment;filename=temp.doc");
  EXPECT_EQ(header(doc, "Content-Length"), "500");
  EXPECT_EQ(f.zhang.get("loadtemple.asp?id=1%20or%201=1").status, 400);
  EXPECT_EQ(f.zhang.get("loadtemple.asp?id=77").status, 404);

  f.boss.post("templeset.asp", {{"id", id}});
  const std::string list = text_of(f.zhang.get("templelist.asp"));
  EXPECT_NE(list.find("&lt;b&gt;请示&lt;/b&gt;模板"), std::string::npos);
  EXPECT_NE(list.find("<b>默认</b>"), std::string::npos);
  EXPECT_NE(list.find("loadtemple.asp?id=" + id), std::string::npos);
  EXPECT_EQ(list.find("templeup.asp"), std::string::npos);
  EXPECT_NE(text_of(f.boss.get("templelist.asp")).find("templeup.asp"), std::string::npos);
}

}  // namespace
}  // namespace desk
