#include "server/host/login.h"

#include "core/password.h"

namespace desk::host {

namespace {
constexpr const char* kMakerAddress = "http://www.tarvo.example/";
constexpr const char* kMakerAddress2 = "http://oa.tarvo.example/";
}  // namespace

void Login::helpme() {
  write(std::string("welcome to ") + kMakerAddress);
}

void LoginSimp::helpme() {
  write(std::string("welcome to ") + kMakerAddress + " " + kMakerAddress2);
}

int Login::checklogin() {
  auto conn = db::open_sqlite(server().MapPath(dlldatabase).string());
  return check(*conn);
}

int Login::check(db::Connection& conn) {
  // Several rows may share a login id; the first whose password matches wins.
  db::Result users = conn.query("SELECT * FROM userdep WHERE uid = ? ORDER BY id", {username});
  const db::Row* user = nullptr;
  password::Check pw;
  for (const auto& row : users) {
    pw = password::verify(row.text("passwd"), password);
    if (pw.ok) {
      user = &row;
      break;
    }
  }
  if (!user) return kNoSuchUser;
  if (user->text("name").empty()) return kNoName;

  // A fresh session id at every login, so an id known beforehand is useless.
  session().renew();
  auto& s = session();
  s.set("MaxSize", "5000000");
  s.set("username", user->text("name"));
  s.set("dep", user->text("depname"));
  s.set("uid", user->text("uid"));
  if (user->text("type") == "2") s.set("type", "admin");
  s.set("DocumentRoot", "c:\\windows\\temp\\temp1234");
  s.set("power", user->text("power"));

  db::Result cfg = conn.query(
      "SELECT maxsize, soundpath FROM sysconfig WHERE type = 2 OR type = 1 ORDER BY type DESC");
  if (!cfg.empty()) {
    s.set("MaxSize", cfg.front().text("maxsize"));
    s.set("remindsound", cfg.front().text("soundpath"));
  }

  std::string ip = remote_addr();
  {
    db::Transaction tx(conn);
    conn.exec("INSERT INTO loginlog (uid, name, actiondate, ipaddress) VALUES (?, ?, ?, ?)",
              {s.get("uid"), s.get("username"), now().iso(), ip});
    if (pw.rehash) {
      // A plain-text password from an imported database is replaced by its hash.
      auto cost = password::cost_from_name(ctx().config().password_cost);
      conn.exec("UPDATE userlist SET passwd = ? WHERE id = ?",
                {password::hash(password, cost), user->integer("id")});
    }
    tx.commit();
  }

  s.set("login", "yes");
  response().Redirect("main.asp");
  return kLoggedIn;
}

void Quit::main(db::Connection& conn) {
  conn.exec(
      "INSERT INTO loginlog (uid, name, actiondate, ipaddress, type) VALUES (?, ?, ?, ?, '1')",
      {session().get("uid"), session().get("username"), now().iso(), remote_addr()});
  ctx().close_connection();
  session().Abandon();
  response().Redirect("default.htm");
}

void CheckPower::main() {
  if (session().get("type") != "admin") {
    response().Redirect("powererror.htm");
    response().End();
  }
}

}  // namespace desk::host
