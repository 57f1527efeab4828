#include "deskhost/appdir.h"

#include <fstream>
#include <sstream>

#include "core/error.h"
#include "core/password.h"
#include "core/text.h"
#include "platform/db/db.h"
#include "server/files/storage.h"
#include "server/host/edition.h"
#include "server/host/schema.h"

namespace desk::deskhost {

namespace fs = std::filesystem;

namespace {

bool is_text(const fs::path& p) {
  std::string ext = text::to_lower(p.extension().string());
  return ext == ".htm" || ext == ".html" || ext == ".css" || ext == ".js" || ext == ".txt";
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw Error(Errc::io, "cannot read " + p.string());
  std::ostringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

void write_file(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  fs::path tmp = p;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw Error(Errc::io, "cannot write " + tmp.string());
  }
  fs::rename(tmp, p);
}

struct DemoUser {
  const char* uid;
  const char* name;
  int depno;
  const char* type;
  const char* power;
};

}  // namespace

void install_site(const fs::path& site, const fs::path& appdir) {
  if (!fs::is_directory(site)) throw Error(Errc::config, "no site folder at " + site.string());
  for (const auto& entry : fs::recursive_directory_iterator(site)) {
    if (!entry.is_regular_file()) continue;
    fs::path rel = fs::relative(entry.path(), site);
    std::string first = rel.begin()->string();
    // tools/ holds the scripts that draw the pictures: not part of the site.
    if (first == "data" || first == "tools" || rel == "app.conf") continue;
    std::string bytes = read_file(entry.path());
    if (is_text(entry.path())) bytes = text::to_gb18030(bytes);
    write_file(appdir / rel, bytes);
  }
  files::make_storage_folders(appdir);
}

InitResult init_appdir(const InitOptions& opt) {
  host::parse_edition(opt.edition);  // refuses any other name
  // app.conf refuses any other value, so the folder would not start.
  if (opt.password_cost != "interactive" && opt.password_cost != "min")
    throw Error(Errc::config, "password cost must be interactive or min");
  fs::path dbfile = opt.appdir / "data" / "office.db";
  if (fs::exists(dbfile))
    throw Error(Errc::conflict, "database " + dbfile.string() + " exists already; not overwritten");
  fs::create_directories(opt.appdir / "data");
  install_site(opt.site, opt.appdir);

  asp::AppConfig cfg;
  cfg.edition = opt.edition;
  cfg.password_cost = opt.password_cost;
  cfg.save(opt.appdir / "app.conf");

  InitResult result;
  result.admin_password = opt.admin_password.empty() ? password::generate() : opt.admin_password;
  auto cost = password::cost_from_name(opt.password_cost);

  // Built under a temporary name so a failure leaves no half-made database.
  fs::path tmp = dbfile;
  tmp += ".new";
  fs::remove(tmp);
  {
    auto conn = db::open_sqlite(tmp.string(), {.busy_timeout_ms = 5000, .create = true});
    host::migrate(*conn);
    db::Transaction tx(*conn);
    conn->exec("INSERT INTO depart (depno, depname) VALUES (1, '办公室')");
    conn->exec(
        "INSERT INTO userlist (uid, name, passwd, depid, dep, type, power) "
        "VALUES ('admin', '系统管理员', ?, '1', '办公室', '2', '3')",
        {password::hash(result.admin_password, cost)});
    conn->exec(
        "INSERT INTO sysconfig (type, maxsize, soundpath) VALUES (1, 5000000, "
        "'/sound/remind.wav')");
    if (opt.demo) {
      conn->exec("INSERT INTO depart (depno, depname) VALUES (2, '业务部'), (3, '财务部')");
      const DemoUser users[] = {
          {"zhang", "张伟", 1, "1", "2"}, {"li", "李娜", 2, "1", "1"},
          {"wang", "王强", 2, "1", "1"},  {"zhao", "赵敏", 3, "1", "1"},
          {"chen", "陈杰", 1, "2", "3"},
      };
      const char* deps[] = {"", "办公室", "业务部", "财务部"};
      for (const auto& u : users) {
        std::string pw = std::string(u.uid) + "123";
        conn->exec(
            "INSERT INTO userlist (uid, name, passwd, depid, dep, type, power, mobilephone, email) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, '', '')",
            {u.uid, u.name, password::hash(pw, cost), std::to_string(u.depno), deps[u.depno],
             u.type, u.power});
        result.demo_accounts.push_back(std::string(u.uid) + " / " + pw + " / " + u.name);
      }
      DateTime now = system_clock()->now();
      const char* notices[][2] = {
          {"关于年终工作总结的通知", "各部门请于本月二十日前提交年度工作总结。"},
          {"办公系统启用说明", "即日起公文、邮件和日程统一在办公系统中处理。"},
          {"安全检查安排", "本周五下午进行办公区安全检查，请各部门做好准备。"},
      };
      for (const auto& n : notices)
        conn->exec(
            "INSERT INTO news (title, content, senddate, sendtime, senderid, sendername) "
            "VALUES (?, ?, ?, ?, 'admin', '系统管理员')",
            {n[0], n[1], now.iso_date(), now.iso()});
    }
    tx.commit();
  }
  fs::rename(tmp, dbfile);
  for (const char* suffix : {"-wal", "-shm"}) {
    fs::path side = tmp;
    side += suffix;
    fs::remove(side);
  }
  return result;
}

}  // namespace desk::deskhost
