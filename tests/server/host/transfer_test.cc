// Transfer tokens: the user's document helper fetches and posts bodies with
// them instead of the session cookie. A token acts for the session that asked
// for it, once, for its page and document, for a few minutes.
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

constexpr const char* kRefused = "传输凭据无效、已用过或已过期，请重新打开页面。";

struct Tokens {
  TestApp app;
  Browser zhang{app}, li{app};
  std::string doc, other;

  Tokens() {
    app.add_user("zhang", "张三", "pw");
    app.add_user("li", "李四", "pw");
    EXPECT_TRUE(zhang.login("zhang", "pw"));
    EXPECT_TRUE(li.login("li", "pw"));
    doc = std::to_string(app.db().insert(
        "INSERT INTO fawen (filedata, filetype, documentname, writeid) VALUES ('BODY', 'doc', "
        "'a.doc', 'zhang')"));
    other = std::to_string(app.db().insert(
        "INSERT INTO fawen (filedata, filetype, documentname, writeid) VALUES ('OTHER', 'doc', "
        "'b.doc', 'zhang')"));
  }
  std::string token(Browser& b, const std::string& page, const std::string& document) {
    http::Reply r = b.post("transfer.asp", {{"page", page}, {"doc", document}});
    EXPECT_EQ(r.status, 200) << text_of(r);
    return text_of(r);
  }
  // A request of the helper: no cookie.
  http::Reply helper(const std::string& method, const std::string& target,
                     const std::string& body = "") {
    return app.send(app.make(method, "/tarvo/" + target, body));
  }
  std::string count() { return app.db().scalar("SELECT COUNT(*) FROM fawen"); }
};

TEST(TransferTokens, ActOnceForTheirSessionPageAndDocument) {
  Tokens t;
  const std::string link = "loadhg.asp?flowid=" + t.doc + "&transfer=";
  std::string token = t.token(t.zhang, "loadhg.asp", t.doc);
  http::Reply r = t.helper("GET", link + token);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "BODY");
  EXPECT_EQ(header(r, "Set-Cookie"), "");  // the session never leaves the browser
  // Used: refused, whatever the request.
  r = t.helper("GET", link + token);
  EXPECT_EQ(r.status, 403);
  EXPECT_EQ(text_of(r), kRefused);

  // Each refused and nothing sent: another document, another page, no
  // document, a user who may not read it (the page itself refuses).
  struct Case {
    const char* what;
    Browser* who;
    std::string page, target;
  };
  for (const Case& k :
       {Case{"other document", &t.zhang, "loadhg.asp", "loadhg.asp?flowid=" + t.other},
        Case{"other page", &t.zhang, "loadhg.asp", "loadpso.asp?flowid=" + t.doc},
        Case{"no document", &t.zhang, "loadhg.asp", "loadhg.asp?x=1"},
        Case{"not the user's", &t.li, "loadhg.asp", "loadhg.asp?flowid=" + t.doc}}) {
    r = t.helper("GET", k.target + "&transfer=" + t.token(*k.who, k.page, t.doc));
    EXPECT_EQ(r.status, 403) << k.what;
    EXPECT_EQ(r.body.find("BODY"), std::string::npos) << k.what;
  }
  EXPECT_EQ(t.helper("GET", link + "0123").status, 403);

  // Expired after a few minutes.
  token = t.token(t.zhang, "loadhg.asp", t.doc);
  t.app.clock().set(t.app.clock().now().plus_seconds(6 * 60));
  EXPECT_EQ(t.helper("GET", link + token).status, 403);

  // Without a token the page still wants a session.
  r = t.helper("GET", "loadhg.asp?flowid=" + t.doc);
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(header(r, "Location"), "/tarvo/default.htm");
}

TEST(TransferTokens, UploadIntoTheSessionThatAskedOnce) {
  Tokens t;
  const std::string before = t.count();
  auto upload = [&](const std::string& token, const std::string& form) {
    return t.helper("POST", "savedoc.asp?formtoken=" + form + "&transfer=" + token, "NEW BODY");
  };
  // The form token belongs to the same session: the once rule holds.
  EXPECT_EQ(upload(t.token(t.zhang, "savedoc.asp", ""), "").status, 400);
  EXPECT_EQ(t.count(), before);

  const std::string form = t.zhang.form_token(), token = t.token(t.zhang, "savedoc.asp", "");
  http::Reply r = upload(token, form);
  EXPECT_EQ(r.status, 200) << text_of(r);
  EXPECT_EQ(header(r, "Set-Cookie"), "");
  const std::string id = t.zhang.session("fawenid");
  EXPECT_EQ(t.app.db().scalar("SELECT filedata FROM fawen WHERE id = ?", {id}), "NEW BODY");
  // Replayed: refused, nothing stored.
  EXPECT_EQ(upload(token, form).status, 403);
  EXPECT_EQ(t.count(), std::to_string(std::stoi(before) + 1));

  // A token outlives neither the login nor its user.
  std::string late = t.token(t.zhang, "savedoc.asp", "");
  std::string late_form = t.zhang.form_token();
  t.zhang.get("quit.asp");
  EXPECT_EQ(upload(late, late_form).status, 403);
  EXPECT_EQ(t.count(), std::to_string(std::stoi(before) + 1));
}

TEST(TransferTokens, AreIssuedByPostForTransferPagesOnly) {
  Tokens t;
  EXPECT_EQ(t.zhang.get("transfer.asp?page=loadhg.asp").status, 405);
  EXPECT_EQ(t.zhang.post("transfer.asp", {{"page", "fawen.asp"}, {"doc", ""}}).status, 400);
  Browser nobody(t.app);
  http::Reply r = nobody.post("transfer.asp", {{"page", "loadhg.asp"}, {"doc", t.doc}});
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(t.token(t.zhang, "LoadHg.asp", t.doc).size(), 64u);
}

}  // namespace
}  // namespace desk
