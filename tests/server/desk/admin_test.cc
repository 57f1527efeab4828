// User administration and the administrators' pages under 系统维护, and the
// password page of 个人设置.
#include <gtest/gtest.h>

#include "core/password.h"
#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::header;
using testing::TestApp;
using testing::text_of;

using Fields = std::vector<std::pair<std::string, std::string>>;

bool has(const std::string& s, const std::string& what) {
  return s.find(what) != std::string::npos;
}

// Fields with one replaced or added.
Fields with(Fields f, const std::string& key, const std::string& value) {
  for (auto& [k, v] : f)
    if (k == key) {
      v = value;
      return f;
    }
  f.emplace_back(key, value);
  return f;
}

struct Admin : ::testing::Test {
  TestApp app;
  Browser admin{app};
  void SetUp() override {
    app.db().exec("INSERT INTO depart (depno, depname) VALUES (1, '办公室'), (2, '业务部')");
    app.add_user("admin", "管理员", "adminpw", "2");
    app.add_user("zhang", "张伟", "pw");
    ASSERT_TRUE(admin.login("admin", "adminpw"));
  }
  const Fields new_user = {{"id", "wang"},        {"password", "wangpw"}, {"name", "王强"},
                           {"dep", "2"},          {"depname", "伪造"},    {"type", "1"},
                           {"power", "2"},        {"email", "w@x.cn"},    {"mobilephone", "139"},
                           {"workphone", "6688"}, {"bz", "备注"}};
  std::string users() { return app.db().scalar("SELECT COUNT(*) FROM userlist"); }
  std::int64_t id_of(const std::string& uid) {
    return std::stoll(app.db().scalar("SELECT id FROM userlist WHERE uid = ?", {uid}));
  }
  bool can_login(const std::string& uid, const std::string& pw) {
    Browser b(app);
    return b.login(uid, pw);
  }
};

TEST_F(Admin, EveryAdministratorPageIsGatedAndAGatedPostWritesNothing) {
  Browser user(app);
  ASSERT_TRUE(user.login("zhang", "pw"));
  for (const char* page : {"adduser.asp", "usermanage.asp", "useredit.asp?id=1", "departmanage.asp",
                           "newsmanage.asp", "newsedit.asp?id=1", "syssetting.asp", "system.asp"}) {
    auto r = user.get(page);
    EXPECT_EQ(r.status, 302) << page;
    EXPECT_EQ(header(r, "Location"), "powererror.htm") << page;
  }
  EXPECT_EQ(header(user.post("adduser.asp", new_user), "Location"), "powererror.htm");
  EXPECT_EQ(header(user.post("departmanage.asp?do=add", {{"depname", "新部门"}}), "Location"),
            "powererror.htm");
  EXPECT_EQ(users(), "2");
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM depart"), "2");
}

TEST_F(Admin, AddUserFormListsAccountsAndDepartments) {
  app.add_user("o'neil", "</script>", "pw");
  std::string page = text_of(admin.get("adduser.asp"));
  EXPECT_TRUE(has(page,
                  "<script language=javascript>var allid=new Array(200);allid[0]='admin';"
                  "allid[1]='zhang';allid[2]='o\\x27neil';</script>"));
  EXPECT_TRUE(has(page,
                  "<select name='dep' onChange='choosedep()'><option>请选择</option>"
                  "<option value='1'>办公室</option><option value='2'>业务部</option>"
                  "</select>"));
  EXPECT_TRUE(has(page, "<input type='hidden' name='depname'>"));
  EXPECT_TRUE(has(page, "name='formtoken'"));
}

TEST_F(Admin, AddedUserIsStoredWithAHashAndLogsIn) {
  auto r = admin.post("adduser.asp", with(new_user, "name", "王'强<script>"));
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(has(text_of(r), "{opener.location=opener.location;window.close()}"));
  auto row = app.db().query("SELECT * FROM userlist WHERE uid = 'wang'").front();
  EXPECT_EQ(row.text("name"), "王'强<script>");
  EXPECT_EQ(row.text("depid"), "2");
  EXPECT_EQ(row.text("dep"), "业务部");  // the department's own name, not the hidden field
  EXPECT_EQ(row.text("type") + row.text("power") + row.text("email") + row.text("mobilephone") +
                row.text("workphone") + row.text("bz"),
            "12w@x.cn1396688备注");
  EXPECT_TRUE(password::is_hash(row.text("passwd")));
  EXPECT_TRUE(can_login("wang", "wangpw"));
  EXPECT_TRUE(has(text_of(admin.get("usermanage.asp")), "王&#39;强&lt;script&gt;"));
}

TEST_F(Admin, BadNewUsersAreRefusedAndWriteNothing) {
  struct Case {
    const char* key;
    std::string value;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"id", "", 400, "请输入用户帐号。"},
      {"id", "   ", 400, "请输入用户帐号。"},
      {"id", "zhang", 409, "用户帐号“zhang”已经存在"},
      {"id", std::string(26, 'a'), 400, "用户帐号不能超过25个字。"},
      {"password", "", 400, "请输入密码。"},
      {"name", "", 400, "请输入姓名。"},
      {"email", std::string(26, 'e'), 400, "电子邮箱不能超过25个字。"},
      {"dep", "请选择", 400, "请选择部门。"},
      {"dep", "9", 400, "请选择部门。"},
      {"type", "3", 400, "请选择用户类型。"},
      {"power", "0", 400, "请选择公文权限。"},
  };
  for (const Case& c : cases) {
    auto r = admin.post("adduser.asp", with(new_user, c.key, c.value));
    EXPECT_EQ(r.status, c.status) << c.key << "=" << c.value;
    EXPECT_TRUE(has(text_of(r), c.message)) << text_of(r);
  }
  EXPECT_EQ(users(), "2");
  EXPECT_EQ(admin.post("adduser.asp", with(new_user, "id", std::string(25, 'a'))).status, 200);
}

TEST_F(Admin, DisabledUsersCannotLogInAndKeepTheirHistory) {
  app.db().exec("INSERT INTO workflow (flowid, handleid) VALUES (1, 'zhang')");
  const std::string id = std::to_string(id_of("zhang"));
  auto r = admin.post("usermanage.asp?do=disable&id=" + id, {});
  EXPECT_EQ(header(r, "Location"), "usermanage.asp?done=disabled");
  Browser b(app);
  r = b.post("login.asp", {{"username", "zhang"}, {"password", "pw"}});
  EXPECT_EQ(header(r, "Location"), "default.htm?e=5");
  EXPECT_EQ(b.session("login"), "");
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM workflow WHERE handleid = 'zhang'"), "1");
  EXPECT_TRUE(has(text_of(admin.get("usermanage.asp")), "已停用"));
  // A wrong password is still just wrong.
  r = b.post("login.asp", {{"username", "zhang"}, {"password", "nope"}});
  EXPECT_EQ(header(r, "Location"), "default.htm?e=1");

  admin.post("usermanage.asp?do=enable&id=" + id, {});
  EXPECT_TRUE(can_login("zhang", "pw"));
  r = admin.post("usermanage.asp?do=disable&id=" + std::to_string(id_of("admin")), {});
  EXPECT_EQ(r.status, 409);
  EXPECT_TRUE(has(text_of(r), "不能停用您自己的帐号。"));
}

TEST_F(Admin, EditResetsThePasswordOnlyWhenTyped) {
  const std::string page = "useredit.asp?id=" + std::to_string(id_of("zhang"));
  Fields f = {{"name", "张伟伟"}, {"dep", "2"}, {"type", "1"}, {"power", "3"}, {"password", ""}};
  EXPECT_EQ(header(admin.post(page, f), "Location"), "usermanage.asp?done=saved");
  EXPECT_TRUE(can_login("zhang", "pw"));
  admin.post(page, with(f, "password", "newpw"));
  EXPECT_FALSE(can_login("zhang", "pw"));
  EXPECT_TRUE(can_login("zhang", "newpw"));
  auto row = app.db().query("SELECT name, dep, power FROM userlist WHERE uid = 'zhang'").front();
  EXPECT_EQ(row.text("name") + row.text("dep") + row.text("power"), "张伟伟业务部3");

  auto r = admin.post("useredit.asp?id=" + std::to_string(id_of("admin")),
                      {{"name", "管理员"}, {"dep", "1"}, {"type", "1"}, {"power", "3"}});
  EXPECT_EQ(r.status, 409);
  EXPECT_EQ(app.db().scalar("SELECT type FROM userlist WHERE uid = 'admin'"), "2");
  EXPECT_EQ(admin.get("useredit.asp?id=99").status, 404);
}

TEST_F(Admin, LockedAccountsAreShownAndUnlocked) {
  Browser guesser(app);
  for (int i = 0; i < 5; ++i) guesser.post("login.asp", {{"username", "zhang"}, {"password", "x"}});
  EXPECT_EQ(
      header(guesser.post("login.asp", {{"username", "zhang"}, {"password", "pw"}}), "Location"),
      "default.htm?e=3");
  std::string list = text_of(admin.get("usermanage.asp"));
  EXPECT_TRUE(has(list, "登录已锁定至2006-12-3 15:45:45"));
  const std::string id = std::to_string(id_of("zhang"));
  EXPECT_TRUE(has(list, "formaction='usermanage.asp?do=unlock&amp;id=" + id + "'"));
  admin.post("usermanage.asp?do=unlock&id=" + id, {});
  EXPECT_TRUE(can_login("zhang", "pw"));
  EXPECT_FALSE(has(text_of(admin.get("usermanage.asp")), "锁定"));
}

TEST_F(Admin, DepartmentsAreAddedRenamedAndDeletedOnlyWhenEmpty) {
  struct Step {
    std::string target;
    Fields fields;
    int status;
    const char* message;
  };
  const Step steps[] = {
      {"departmanage.asp?do=add", {{"depname", "财务部"}}, 302, ""},
      {"departmanage.asp?do=add", {{"depname", "财务部"}}, 409, "部门“财务部”已经存在。"},
      {"departmanage.asp?do=add", {{"depname", ""}}, 400, "请输入部门名称。"},
      {"departmanage.asp?do=add",
       {{"depname", "人事部"}, {"depno", "1"}},
       409,
       "部门编号1已经使用。"},
      {"departmanage.asp?do=add", {{"depname", "人事部"}, {"depno", "x"}}, 400, "部门编号应是"},
      {"departmanage.asp?do=rename&id=1", {{"name1", "综合办公室"}}, 302, ""},
      {"departmanage.asp?do=rename&id=1", {{"name1", "业务部"}}, 409, "已经存在"},
      {"departmanage.asp?do=delete&id=1", {}, 409, "该部门还有2名用户"},
      {"departmanage.asp?do=delete&id=3", {}, 302, ""},
      {"departmanage.asp?do=delete&id=3", {}, 404, "该部门不存在。"},
  };
  for (const Step& s : steps) {
    auto r = admin.post(s.target, s.fields);
    EXPECT_EQ(r.status, s.status) << s.target;
    EXPECT_TRUE(has(text_of(r), s.message)) << s.target << ": " << text_of(r);
  }
  EXPECT_EQ(app.db().scalar("SELECT group_concat(depno || depname, ',') FROM depart"),
            "1综合办公室,2业务部");
  // Users of the renamed department log in with its new name.
  Browser b(app);
  ASSERT_TRUE(b.login("zhang", "pw"));
  EXPECT_EQ(b.session("dep"), "综合办公室");
}

TEST_F(Admin, NoticesArePublishedEditedAndDeleted) {
  auto r = admin.post("newsmanage.asp?do=add", {{"title", "放假<通知>"}, {"content", "三天"}});
  EXPECT_EQ(header(r, "Location"), "newsmanage.asp?done=added");
  auto row = app.db().query("SELECT * FROM news").front();
  EXPECT_EQ(row.text("senddate") + " " + row.text("sendtime") + " " + row.text("sendername"),
            "2006-12-03 2006-12-03 15:30:45 管理员");
  EXPECT_TRUE(has(text_of(admin.get("right.asp")), "放假&lt;通知&gt;[0次]"));
  EXPECT_TRUE(has(text_of(admin.get("rz.asp")), "15:30&nbsp;放假&lt;通知&gt;"));

  admin.post("newsedit.asp?id=1", {{"title", "元旦放假"}, {"content", "三天"}});
  EXPECT_EQ(app.db().scalar("SELECT title FROM news"), "元旦放假");
  EXPECT_EQ(admin.post("newsedit.asp?id=1", {{"title", ""}}).status, 400);
  EXPECT_EQ(admin.post("newsmanage.asp?do=add", {{"title", std::string(101, 't')}}).status, 400);
  admin.post("newsmanage.asp?do=delete&id=1", {});
  EXPECT_EQ(app.db().scalar("SELECT COUNT(*) FROM news"), "0");
}

TEST_F(Admin, SettingsReachTheNextLogin) {
  app.write_file("sound/ding.wav", "RIFF");
  struct Case {
    std::string maxsize, sound;
    int status;
  };
  for (const Case& c : {Case{"0", "/sound/ding.wav", 400}, Case{"12x", "/sound/ding.wav", 400},
                        Case{"800", "/sound/none.wav", 400}, Case{"800", "/../app.conf", 400},
                        Case{"800", "/sound/a b.wav", 400}, Case{"800", "sound/ding.wav", 302}})
    EXPECT_EQ(admin.post("syssetting.asp", {{"maxsize", c.maxsize}, {"soundpath", c.sound}}).status,
              c.status)
        << c.maxsize << " " << c.sound;
  EXPECT_EQ(app.db().scalar("SELECT maxsize || soundpath FROM sysconfig"), "800/sound/ding.wav");
  Browser b(app);
  ASSERT_TRUE(b.login("zhang", "pw"));
  EXPECT_EQ(b.session("MaxSize"), "800");
  EXPECT_EQ(b.session("remindsound"), "/sound/ding.wav");
}

TEST(Password, EveryUserChangesTheirOwnWithTheOldOne) {
  TestApp app;
  app.add_user("zhang", "张伟", "pw");
  Browser b(app);
  ASSERT_TRUE(b.login("zhang", "pw"));
  struct Case {
    const char *old_pw, *new_pw, *again;
    int status;
    const char* message;
  };
  for (const Case& c :
       {Case{"wrong", "n1", "n1", 403, "原密码不正确。"}, Case{"pw", "", "", 400, "请输入新密码。"},
        Case{"pw", "n1", "n2", 400, "两次输入的新密码不一致。"}, Case{"pw", "n1", "n1", 302, ""}}) {
    auto r =
        b.post("mypassword.asp",
               {{"oldpassword", c.old_pw}, {"newpassword", c.new_pw}, {"newpassword2", c.again}});
    EXPECT_EQ(r.status, c.status) << c.message;
    EXPECT_TRUE(has(text_of(r), c.message));
  }
  Browser again(app);
  EXPECT_FALSE(again.login("zhang", "pw"));
  EXPECT_TRUE(again.login("zhang", "n1"));
}

}  // namespace
}  // namespace desk
