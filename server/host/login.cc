#include "server/host/login.h"

#include "core/password.h"
#include "server/host/login_guard.h"

namespace desk::host {

namespace {
constexpr const char* kMakerAddress = "http://www.tarvo.example/";
constexpr const char* kMakerAddress2 = "http://oa.tarvo.example/";

// A hash of the configured cost that no typed password matches.
const std::string& dummy_hash(const std::string& cost_name) {
  if (password::cost_from_name(cost_name) == password::Cost::min) {
    static const std::string min = password::hash("unused", password::Cost::min);
    return min;
  }
  static const std::string interactive = password::hash("unused", password::Cost::interactive);
  return interactive;
}
}  // namespace

void Login::helpme() {
  write(std::string("welcome to ") + kMakerAddress);
}

void LoginSimp::helpme() {
  write(std::string("welcome to ") + kMakerAddress + " " + kMakerAddress2);
}

int Login::checklogin() {
  // The database the component names: the application's own pooled
  // connection when it is the application's database.
  return check(ctx().connection_to(server().MapPath(dlldatabase)));
}

int Login::check(db::Connection& conn) {
  const std::string ip = remote_addr();
  const DateTime t = now();
  if (login_gate(conn, username, ip, t) != Gate::open) return kLocked;
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
  // An unknown login id costs the same time as a wrong password, so login
  // ids cannot be told apart by how fast the answer comes.
  if (users.empty()) password::verify(dummy_hash(ctx().config().password_cost), password);
  if (!user) {
    record_failure(conn, username, ip, t);
    return kNoSuchUser;
  }
  if (user->integer("disabled") != 0) return kDisabled;
  if (user->text("name").empty()) return kNoName;

  // A login starts from a fresh session with a new id: nothing of an earlier
  // user of this browser stays, and an id known beforehand is useless.
  session().clear();
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

  {
    db::Transaction tx(conn);
    clear_failures(conn, s.get("uid"));
    conn.exec("INSERT INTO loginlog (uid, name, actiondate, ipaddress) VALUES (?, ?, ?, ?)",
              {s.get("uid"), s.get("username"), t.iso(), ip});
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
