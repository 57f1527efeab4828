// The reference for one draft-verification step: the same reads and writes
// the host's step makes, in one transaction each, straight on SQLite (WAL,
// synchronous=FULL, as the host opens its database), with no web host around
// them. Steps run back to back on one thread.
//
//   bench_step_sqlite DB UID NAME FLOW_BASE ITEM_BASE ITEMS SECONDS
//
// Item k (1..ITEMS) is newwork row ITEM_BASE + k, an open "核稿" item of
// UID (whose name is NAME) on document FLOW_BASE + k; each step hands the
// document to li.
// Steps run for SECONDS (or until the items run out) and the run prints
//   steps: ok=N seconds=S
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

sqlite3* db = nullptr;

[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "bench_step_sqlite: %s: %s\n", what, sqlite3_errmsg(db));
  std::exit(1);
}

void run(const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) die(sql);
}

// A prepared statement, bound and stepped to its end for each use.
struct Stmt {
  sqlite3_stmt* s = nullptr;
  explicit Stmt(const char* sql) {
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK)
      die(sql);
  }
  Stmt& bind(int i, long long v) {
    sqlite3_bind_int64(s, i, v);
    return *this;
  }
  Stmt& bind(int i, const std::string& v) {
    sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // Steps to the end; the first row's columns are read by `row`.
  template <class F>
  void each(F&& row) {
    int rc;
    bool first = true;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      if (first) row(s);
      first = false;
    }
    if (rc != SQLITE_DONE) die(sqlite3_sql(s));
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
  }
  void go() {
    each([](sqlite3_stmt*) {});
  }
};

std::string text(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? reinterpret_cast<const char*>(t) : "";
}

std::string now_iso() {
  std::time_t t = std::time(nullptr);
  struct tm l {};
  localtime_r(&t, &l);
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &l);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr,
                 "usage: bench_step_sqlite DB UID NAME FLOW_BASE ITEM_BASE ITEMS SECONDS\n");
    return 2;
  }
  const std::string uid = argv[2], name = argv[3];
  const long long flow_base = std::atoll(argv[4]), item_base = std::atoll(argv[5]);
  const long long items = std::atoll(argv[6]);
  const double seconds = std::atof(argv[7]);
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) die("open");
  sqlite3_busy_timeout(db, 5000);
  run("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");

  const std::string next = "li", ip = "127.0.0.1";
  Stmt begin("BEGIN IMMEDIATE"), commit("COMMIT");
  Stmt load(
      "SELECT id, userid, title, url, baseid, applytime, typed, userlist, status, donetime "
      "FROM newwork WHERE id = ?");
  Stmt staged_body(
      "UPDATE fawen SET filedata = (SELECT data FROM staged WHERE owner = ? AND target = ? AND "
      "kind = ?), filetype = 'doc' WHERE id = ? AND EXISTS (SELECT 1 FROM staged WHERE owner = ? "
      "AND target = ? AND kind = ?)");
  Stmt staged_pso(
      "UPDATE fawen SET psodata = (SELECT data FROM staged WHERE owner = ? AND target = ? AND "
      "kind = ?) WHERE id = ? AND EXISTS (SELECT 1 FROM staged WHERE owner = ? AND target = ? AND "
      "kind = ?)");
  Stmt unstage("DELETE FROM staged WHERE owner = ? AND target = ?");
  Stmt title_of("SELECT title FROM fawen WHERE id = ?");
  Stmt sign("UPDATE fawen SET name_hg = ?, hegaoname = ? WHERE id = ?");
  Stmt history(
      "INSERT INTO workflow (flowid, handlename, handleid, handletime, ipaddress, nextid, "
      "handtype, nexttype, remark) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
  Stmt user_known("SELECT COUNT(*) FROM userlist WHERE uid = ?");
  Stmt add_item(
      "INSERT INTO newwork (userid, title, url, baseid, applytime, typed, userlist) "
      "VALUES (?, ?, ?, ?, ?, ?, ?)");
  Stmt close_item(
      "UPDATE newwork SET status = 1, donetime = ? WHERE id = ? AND userid = ? AND status = 0");

  auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  long long ok = 0;
  for (long long k = 1; k <= items && elapsed() < seconds; ++k) {
    const long long flowid = flow_base + k, nwid = item_base + k;
    const std::string now = now_iso();
    begin.go();
    bool open = false;
    load.bind(1, nwid).each([&](sqlite3_stmt* s) {
      open = sqlite3_column_int64(s, 8) == 0 && text(s, 1) == uid &&
             sqlite3_column_int64(s, 4) == flowid && text(s, 3) == "hegao.asp";
    });
    if (!open) {
      run("ROLLBACK");
      continue;
    }
    for (Stmt* st : {&staged_body, &staged_pso}) {
      const std::string kind = st == &staged_body ? "filedata" : "psodata";
      st->bind(1, uid).bind(2, flowid).bind(3, kind).bind(4, flowid);
      st->bind(5, uid).bind(6, flowid).bind(7, kind).go();
    }
    unstage.bind(1, uid).bind(2, flowid).go();
    std::string title;
    title_of.bind(1, flowid).each([&](sqlite3_stmt* s) { title = text(s, 0); });
    const std::string block = "ok\n" + name + " " + now;
    sign.bind(1, block).bind(2, name).bind(3, flowid).go();
    history.bind(1, flowid).bind(2, name).bind(3, uid).bind(4, now).bind(5, ip).bind(6, next);
    history.bind(7, std::string("1")).bind(8, std::string("2")).bind(9, std::string("ok")).go();
    long long known = 0;
    user_known.bind(1, next).each([&](sqlite3_stmt* s) { known = sqlite3_column_int64(s, 0); });
    if (!known) die("no user li");
    add_item.bind(1, next).bind(2, title).bind(3, std::string("shenhe.asp")).bind(4, flowid);
    add_item.bind(5, now).bind(6, std::string("审核")).bind(7, std::string("")).go();
    close_item.bind(1, now).bind(2, nwid).bind(3, uid).go();
    if (sqlite3_changes(db) != 1) die("item not closed");
    commit.go();
    ++ok;
  }
  std::printf("steps: ok=%lld seconds=%.3f\n", ok, elapsed());
  sqlite3_close(db);
  return 0;
}
