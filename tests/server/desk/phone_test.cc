// The phone book: adding a contact through the pop-up, the list with search,
// edit and delete, and the read-only directory of colleagues.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/text.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::header;
using testing::TestApp;
using testing::text_of;

bool has(const std::string& s, const std::string& what) {
  return s.find(what) != std::string::npos;
}

struct PhoneBook : ::testing::Test {
  TestApp app;
  Browser b{app};
  void SetUp() override {
    app.add_user("zhang", "张伟", "pw");
    ASSERT_TRUE(b.login("zhang", "pw"));
  }
  std::int64_t contact(const std::string& owner, const std::string& name,
                       const std::string& company, const std::string& mobile) {
    return app.db().insert(
        "INSERT INTO phone (userid, name, company, mobilephone) VALUES (?, ?, ?, ?)",
        {owner, name, company, mobile});
  }
  std::string list(const std::string& query = "") {
    return text_of(b.get("phonelist.asp" + query));
  }
};

TEST_F(PhoneBook, AddStoresTheContactAsTypedEvenWhenEmpty) {
  EXPECT_TRUE(has(text_of(b.get("addphone.asp")), "<input type='hidden' name='formtoken'"));
  auto r = b.post("addphone.asp", {});
  EXPECT_TRUE(has(text_of(r), "opener.location=opener.location;window.close()"));
  r = b.post("addphone.asp?username=" + text::url_encode(text::to_gb18030("  老王 ")),
             {{"name", "O'Brien <script>"},
              {"mobilephone", "139"},
              {"company", "\"公司\""},
              {"remark", "备注"}});
  EXPECT_EQ(r.status, 200);
  auto rows = app.db().query("SELECT * FROM phone ORDER BY id");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.rows[0].text("userid") + "|" + rows.rows[0].text("name"), "zhang|");
  const auto& c = rows.rows[1];
  EXPECT_EQ(
      c.text("username") + "|" + c.text("name") + "|" + c.text("company") + "|" + c.text("remark"),
      "老王|O'Brien <script>|\"公司\"|备注");
  std::string page = list();
  EXPECT_TRUE(has(page, "O&#39;Brien &lt;script&gt;"));
  EXPECT_TRUE(has(page, "&quot;公司&quot;"));
}

TEST_F(PhoneBook, OverLongFieldsAreRefusedAndWriteNothing) {
  for (const char* field : {"name", "mobilephone", "telephone", "email", "company", "address",
                            "postcode", "work", "fax"}) {
    auto r = b.post("addphone.asp", {{field, std::string(26, '1')}});
    EXPECT_EQ(r.status, 400) << field;
    EXPECT_TRUE(has(text_of(r), "不能超过25个字。")) << field;
  }
  EXPECT_EQ(b.post("addphone.asp", {{"remark", std::string(501, 'r')}}).status, 400);
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM phone"), "0");
}

TEST_F(PhoneBook, SearchFindsOwnContactsByNameCompanyOrNumber) {
  contact("zhang", "李明", "华信公司", "13900001111");
  contact("zhang", "周红", "100%科技", "13800002222");
  contact("li", "李四", "华信公司", "13900003333");
  struct Case {
    const char* key;
    std::vector<const char*> found;
  };
  const Case cases[] = {
      {"", {"李明", "周红"}}, {"李", {"李明"}}, {"华信", {"李明"}}, {"2222", {"周红"}},
      {"%", {"周红"}},        {"_", {}},        {"李四", {}},
  };
  for (const Case& c : cases) {
    std::string page = list("?key=" + text::url_encode(text::to_gb18030(c.key)));
    for (const char* name : {"李明", "周红", "李四"}) {
      bool expected = std::find_if(c.found.begin(), c.found.end(), [&](const char* f) {
                        return std::string(f) == name;
                      }) != c.found.end();
      EXPECT_EQ(has(page, std::string(">") + name + "<"), expected) << c.key << " " << name;
    }
    if (c.found.empty()) EXPECT_TRUE(has(page, "没有找到符合条件的联系人。")) << c.key;
  }
}

TEST_F(PhoneBook, EditAndDeleteOnlyOwnContacts) {
  auto mine = std::to_string(contact("zhang", "李明", "华信", "139"));
  auto theirs = std::to_string(contact("li", "李四", "华信", "138"));
  EXPECT_TRUE(has(text_of(b.get("editphone.asp?id=" + mine)), "value='李明'"));
  auto r = b.post("editphone.asp?id=" + mine, {{"name", "李明明"}, {"fax", "010"}});
  EXPECT_EQ(header(r, "Location"), "phonelist.asp");
  EXPECT_EQ(app.db().scalar("SELECT name || fax || company FROM phone WHERE id = ?", {mine}),
            "李明明010");
  EXPECT_EQ(b.post("editphone.asp?id=" + mine, {{"name", std::string(26, 'n')}}).status, 400);
  EXPECT_EQ(b.get("editphone.asp?id=" + theirs).status, 404);
  EXPECT_EQ(b.post("editphone.asp?id=" + theirs, {{"name", "x"}}).status, 404);
  EXPECT_EQ(b.post("delphone.asp?id=" + theirs, {}).status, 404);
  EXPECT_EQ(header(b.post("delphone.asp?id=" + mine, {}), "Location"), "phonelist.asp");
  EXPECT_EQ(app.db().scalar("SELECT group_concat(name) FROM phone"), "李四");
}

TEST_F(PhoneBook, ColleaguesAreListedReadOnlyWithoutDisabledAccounts) {
  app.db().exec("INSERT INTO depart (depno, depname) VALUES (2, '业务部')");
  app.db().exec(
      "INSERT INTO userlist (uid, name, depid, dep, mobilephone, email) VALUES "
      "('li', '李娜', '2', '', '13711112222', 'li@x.cn'), ('wu', '吴停', '2', '', '1', ''),"
      "('qian', '钱<b>', '1', '办公室', '', '')");
  app.db().exec("UPDATE userlist SET disabled = 1 WHERE uid = 'wu'");
  std::string page = list("?tab=colleague");
  EXPECT_TRUE(has(page,
                  "<td class='10blue'>李娜</td><td class='10blue'>业务部</td><td "
                  "class='10blue'>13711112222</td>"));
  EXPECT_TRUE(has(page, "钱&lt;b&gt;"));
  EXPECT_FALSE(has(page, "吴停"));
  EXPECT_FALSE(has(page, "editphone.asp"));
  page = list("?tab=colleague&key=" + text::url_encode(text::to_gb18030("业务")));
  EXPECT_TRUE(has(page, "李娜"));
  EXPECT_FALSE(has(page, "张伟"));
}

}  // namespace
}  // namespace desk
