// What the pages shown on every screen ask the database: no statement of the
// desk, the menu, the status bar and the two lists walks the pending-work or
// mail table, nor all of one user's rows there (a count, or a sort the index
// does not give), and the per-user counts they read stay equal to the rows.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <mutex>
#include <regex>
#include <set>

#include "tests/support/testapp.h"

namespace desk {
namespace {

using testing::Browser;
using testing::TestApp;

// Every statement any connection of this process runs, once traced.
std::mutex seen_mu;
std::set<std::string> seen;

int on_statement(unsigned, void*, void* stmt, void*) {
  const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(stmt));
  std::lock_guard lock(seen_mu);
  if (sql) seen.insert(sql);
  return 0;
}

int trace_connection(sqlite3* db, char**, const sqlite3_api_routines*) {
  sqlite3_trace_v2(db, SQLITE_TRACE_STMT, on_statement, nullptr);
  return SQLITE_OK;
}

void seed(TestApp& app, const std::string& uid, int items, int mails) {
  db::Transaction tx(app.db());
  for (int k = 0; k < items; ++k)
    app.db().exec(
        "INSERT INTO newwork (userid, title, url, baseid, applytime, typed, status) "
        "VALUES (?, ?, 'hegao.asp', ?, ?, '核稿', ?)",
        {uid, "公文" + std::to_string(k), k, k % 3 ? "2006-11-20 09:00:00" : "2006-12-03 09:00:00",
         k % 7 == 0 ? 1 : 0});
  for (int k = 0; k < mails; ++k)
    app.db().exec(
        "INSERT INTO mail (topeopleid, title, mailtime, senderid, status) VALUES (?, ?, ?, 'li', "
        "?)",
        {uid, "邮件" + std::to_string(k), "2006-12-01 08:00:00", k % 4 ? 1 : 0});
  tx.commit();
}

TEST(QueryPlans, EveryScreenReachesItemsAndMailByIndex) {
  sqlite3_auto_extension(reinterpret_cast<void (*)()>(trace_connection));
  {
    TestApp app;
    app.add_user("zhang", "张伟", "pw");
    seed(app, "zhang", 300, 300);
    seed(app, "li", 50, 50);
    Browser b(app);
    ASSERT_TRUE(b.login("zhang", "pw"));
    {
      std::lock_guard lock(seen_mu);
      seen.clear();
    }
    for (const char* page : {"right.asp", "left.asp", "rz.asp", "newwork.asp", "mailbox.asp"})
      ASSERT_EQ(b.get(page).status, 200) << page;

    std::set<std::string> statements;
    {
      std::lock_guard lock(seen_mu);
      statements = seen;
    }
    const std::regex large_scan(R"(^SCAN (newwork|mail)\b)");
    const std::regex large_table(R"(\b(newwork|mail)\b)");
    int planned = 0;
    for (const std::string& sql : statements) {
      if (sql.rfind("SELECT", 0) != 0 && sql.rfind("UPDATE", 0) != 0 &&
          sql.rfind("DELETE", 0) != 0 && sql.rfind("INSERT", 0) != 0)
        continue;
      ++planned;
      const bool large = std::regex_search(sql, large_table);
      EXPECT_FALSE(large && sql.find("COUNT(") != std::string::npos) << sql;
      for (const db::Row& step : app.db().query("EXPLAIN QUERY PLAN " + sql)) {
        const std::string detail = step.text("detail");
        EXPECT_FALSE(std::regex_search(detail, large_scan)) << detail << "\n  in: " << sql;
        EXPECT_FALSE(large && detail.find("TEMP B-TREE") != std::string::npos)
            << detail << "\n  in: " << sql;
      }
    }
    EXPECT_GT(planned, 8);  // the pages' queries were seen
  }
  sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(trace_connection));
}

// The counts of every user equal the rows after each kind of change.
TEST(QueryPlans, CountsFollowEveryChangeOfItemsAndMail) {
  TestApp app;
  auto& db = app.db();
  const char* const changes[] = {
      "INSERT INTO newwork (userid, status) VALUES ('a', 0), ('a', 0), ('a', 1), ('b', 0)",
      "UPDATE newwork SET status = 1, donetime = '2006-12-03' WHERE userid = 'a' AND status = 0 "
      "AND id = (SELECT MIN(id) FROM newwork WHERE userid = 'a' AND status = 0)",
      "UPDATE newwork SET status = 0 WHERE status = 1 AND userid = 'a'",
      "UPDATE newwork SET userid = 'c' WHERE userid = 'b'",
      "UPDATE newwork SET title = 'x', status = 2 WHERE userid = 'c'",
      "DELETE FROM newwork WHERE userid = 'a' AND id = (SELECT MAX(id) FROM newwork)",
      "INSERT INTO mail (topeopleid, status) VALUES ('a', 0), ('a', 1), ('b', 0), ('b', 0)",
      "UPDATE mail SET status = 1 WHERE topeopleid = 'b' AND id = (SELECT MAX(id) FROM mail)",
      "UPDATE mail SET topeopleid = 'a' WHERE topeopleid = 'b'",
      "UPDATE mail SET title = 'read again', status = 0",
      "DELETE FROM mail WHERE id = (SELECT MIN(id) FROM mail)",
      "DELETE FROM newwork",
  };
  const std::string recount =
      "SELECT u.userid, "
      "(SELECT COUNT(*) FROM newwork WHERE userid = u.userid AND status = 0), "
      "(SELECT COUNT(*) FROM mail WHERE topeopleid = u.userid), "
      "(SELECT COUNT(*) FROM mail WHERE topeopleid = u.userid AND status = 0) "
      "FROM (SELECT 'a' AS userid UNION SELECT 'b' UNION SELECT 'c') u ORDER BY 1";
  const std::string kept =
      "SELECT u.userid, IFNULL(c.work, 0), IFNULL(c.mails, 0), IFNULL(c.unread, 0) "
      "FROM (SELECT 'a' AS userid UNION SELECT 'b' UNION SELECT 'c') u "
      "LEFT JOIN usercounts c ON c.userid = u.userid ORDER BY 1";
  auto rows = [&](const std::string& sql) {
    std::string out;
    for (const db::Row& r : db.query(sql))
      out +=
          r.at(0).text() + ":" + r.at(1).text() + "," + r.at(2).text() + "," + r.at(3).text() + " ";
    return out;
  };
  for (const char* change : changes) {
    db.exec(change);
    EXPECT_EQ(rows(kept), rows(recount)) << "after " << change;
  }
}

}  // namespace
}  // namespace desk
