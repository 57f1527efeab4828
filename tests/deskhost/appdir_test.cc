// Creating application folders and refreshing their static site.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "core/error.h"
#include "core/password.h"
#include "core/text.h"
#include "deskhost/appdir.h"
#include "platform/db/db.h"
#include "server/files/storage.h"
#include "server/host/schema.h"

namespace desk {
namespace {

namespace fs = std::filesystem;

Errc code_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.code();
  }
  ADD_FAILURE() << "no error thrown";
  return Errc::internal;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

void put(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

const std::string kPage =
    "<html><title>办公系统</title><body>登录 \xF0\xA0\x80\x80</body></html>\n";
const std::string kScript = "alert('确定删除吗？');\n";
const std::string kGif = std::string("GIF89a\x00\x01\x80\xFF\xD6\xD0\x00", 13);

class AppDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    base_ =
        fs::temp_directory_path() / ("desk-appdir-" + std::to_string(rd()) + std::to_string(rd()));
    put(site() / "default.htm", kPage);
    put(site() / "js" / "menu.JS", kScript);
    put(site() / "images" / "logo.gif", kGif);
    opt_.appdir = base_ / "app";
    opt_.site = site();
    opt_.admin_password = "admin-pw";
    opt_.password_cost = "min";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(base_, ec);
  }
  fs::path site() const { return base_ / "site"; }
  fs::path app() const { return base_ / "app"; }
  std::unique_ptr<db::Connection> open_db() {
    return db::open_sqlite((app() / "data" / "office.db").string());
  }

  fs::path base_;
  deskhost::InitOptions opt_;
};

TEST_F(AppDirTest, InitCreatesSettingsDatabaseAndSite) {
  auto result = deskhost::init_appdir(opt_);
  EXPECT_EQ(result.admin_password, "admin-pw");
  EXPECT_TRUE(result.demo_accounts.empty());

  asp::AppConfig cfg = asp::AppConfig::load(app() / "app.conf");
  EXPECT_EQ(cfg.edition, "office");
  EXPECT_EQ(cfg.password_cost, "min");

  auto conn = open_db();
  EXPECT_EQ(host::schema_version(*conn), host::latest_schema_version());
  auto admin = conn->query("SELECT * FROM userlist WHERE uid = 'admin'");
  ASSERT_EQ(admin.size(), 1u);
  std::string stored = admin.front().text("passwd");
  EXPECT_TRUE(password::is_hash(stored));
  EXPECT_TRUE(password::verify(stored, "admin-pw").ok);
  EXPECT_EQ(admin.front().text("type"), "2");
  EXPECT_EQ(conn->scalar("SELECT depname FROM depart WHERE depno = 1"), "办公室");
  EXPECT_EQ(conn->scalar("SELECT COUNT(*) FROM userlist"), "1");
  EXPECT_EQ(conn->scalar("SELECT COUNT(*) FROM news"), "0");
  // The status bar appends the sound's path to the application's path.
  EXPECT_EQ(conn->scalar("SELECT soundpath FROM sysconfig"), "/sound/remind.wav");
  EXPECT_EQ(conn->scalar("PRAGMA integrity_check"), "ok");

  // Text files in GB18030, everything else byte for byte.
  EXPECT_EQ(slurp(app() / "default.htm"), text::to_gb18030(kPage));
  EXPECT_EQ(text::from_gb18030(slurp(app() / "default.htm")), kPage);
  EXPECT_EQ(slurp(app() / "js" / "menu.JS"), text::to_gb18030(kScript));
  EXPECT_EQ(slurp(app() / "images" / "logo.gif"), kGif);
  for (std::string_view folder : files::kStorageFolders)
    EXPECT_TRUE(fs::is_directory(app() / folder)) << folder;
  // Nothing half-made is left behind.
  for (const auto& e : fs::recursive_directory_iterator(app())) {
    std::string name = e.path().filename().string();
    EXPECT_EQ(name.find(".new"), std::string::npos) << name;
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
  }
}

TEST_F(AppDirTest, AnExistingDatabaseIsNeverOverwritten) {
  put(app() / "data" / "office.db", "precious data");
  put(app() / "app.conf", "variant = full\n");
  EXPECT_EQ(code_of([&] { deskhost::init_appdir(opt_); }), Errc::conflict);
  EXPECT_EQ(slurp(app() / "data" / "office.db"), "precious data");
  EXPECT_EQ(slurp(app() / "app.conf"), "variant = full\n");
  EXPECT_FALSE(fs::exists(app() / "default.htm"));
}

TEST_F(AppDirTest, BadOptionsChangeNothing) {
  opt_.edition = "bank";
  EXPECT_EQ(code_of([&] { deskhost::init_appdir(opt_); }), Errc::config);
  opt_.edition = "office";
  opt_.password_cost = "fast";
  EXPECT_EQ(code_of([&] { deskhost::init_appdir(opt_); }), Errc::config);
  EXPECT_FALSE(fs::exists(app()));
  opt_.password_cost = "min";
  opt_.site = base_ / "no-site";
  EXPECT_EQ(code_of([&] { deskhost::init_appdir(opt_); }), Errc::config);
  EXPECT_FALSE(fs::exists(app() / "data" / "office.db"));
}

TEST_F(AppDirTest, DemoAddsUsersDepartmentsAndNotices) {
  opt_.demo = true;
  opt_.admin_password.clear();
  auto result = deskhost::init_appdir(opt_);
  EXPECT_EQ(result.admin_password.size(), 12u);  // generated
  ASSERT_EQ(result.demo_accounts.size(), 5u);
  EXPECT_EQ(result.demo_accounts[0], "zhang / zhang123 / 张伟");
  auto conn = open_db();
  EXPECT_EQ(conn->scalar("SELECT COUNT(*) FROM userlist"), "6");
  EXPECT_EQ(conn->scalar("SELECT COUNT(*) FROM depart"), "3");
  EXPECT_EQ(conn->scalar("SELECT COUNT(*) FROM news"), "3");
  for (const auto& row : conn->query("SELECT uid, passwd FROM userlist")) {
    std::string pw = row.text("uid") == "admin" ? result.admin_password : row.text("uid") + "123";
    EXPECT_TRUE(password::is_hash(row.text("passwd"))) << row.text("uid");
    EXPECT_TRUE(password::verify(row.text("passwd"), pw).ok) << row.text("uid");
  }
  // Every demo user belongs to a department that exists.
  EXPECT_EQ(conn->scalar("SELECT COUNT(*) FROM userlist u WHERE NOT EXISTS "
                         "(SELECT 1 FROM depart d WHERE CAST(d.depno AS TEXT) = u.depid)"),
            "0");
  DateTime sent;
  EXPECT_TRUE(DateTime::parse_iso(conn->scalar("SELECT sendtime FROM news LIMIT 1"), sent));
}

TEST_F(AppDirTest, InstallSiteNeverTouchesData) {
  deskhost::init_appdir(opt_);
  std::string db_before = slurp(app() / "data" / "office.db");
  std::string conf_before = slurp(app() / "app.conf");
  put(site() / "data" / "office.db", "from the site");
  put(site() / "data" / "extra.txt", "from the site");
  put(site() / "app.conf", "edition = law\n");
  put(site() / "default.htm", "<p>新版</p>");
  put(site() / "new" / "page.htm", "<p>新页</p>");
  put(site() / "tools" / "make_images.py", "print('draw')");
  put(app() / "data" / "upload.bin", "user file");
  put(app() / "MP3" / "1.mp3", "user music");
  fs::remove_all(app() / "pic");

  deskhost::install_site(site(), app());
  EXPECT_EQ(slurp(app() / "MP3" / "1.mp3"), "user music");
  EXPECT_TRUE(fs::is_directory(app() / "pic"));
  EXPECT_EQ(slurp(app() / "data" / "office.db"), db_before);
  EXPECT_FALSE(fs::exists(app() / "data" / "extra.txt"));
  EXPECT_EQ(slurp(app() / "data" / "upload.bin"), "user file");
  EXPECT_EQ(slurp(app() / "app.conf"), conf_before);
  EXPECT_EQ(text::from_gb18030(slurp(app() / "default.htm")), "<p>新版</p>");
  EXPECT_EQ(text::from_gb18030(slurp(app() / "new" / "page.htm")), "<p>新页</p>");
  EXPECT_FALSE(fs::exists(app() / "tools"));
  EXPECT_EQ(code_of([&] { deskhost::install_site(base_ / "no-site", app()); }), Errc::config);
}

}  // namespace
}  // namespace desk
