// The SQLite data store: bound values, blobs, transactions, locking between
// connections, the durability settings and the group flush.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "core/error.h"
#include "platform/db/db.h"
#include "platform/db/group_flush.h"

namespace desk {
namespace {

namespace fs = std::filesystem;

class DbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ =
        fs::temp_directory_path() / ("desk-dbtest-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(dir_);
    conn_ = open();
    conn_->script(
        "CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, body BLOB, n INTEGER,"
        " x REAL);");
  }
  void TearDown() override {
    conn_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::unique_ptr<db::Connection> open(int busy_ms = 5000) {
    return db::open_sqlite((dir_ / "test.db").string(),
                           {.busy_timeout_ms = busy_ms, .create = true});
  }
  std::int64_t count() { return std::stoll(conn_->scalar("SELECT COUNT(*) FROM t")); }

  fs::path dir_;
  std::unique_ptr<db::Connection> conn_;
};

Errc code_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.code();
  }
  ADD_FAILURE() << "no error thrown";
  return Errc::internal;
}

TEST_F(DbTest, BoundValuesArriveVerbatim) {
  const std::string nasty = "O'Brien \"x\"; DROP TABLE t; -- 中文 \\ %_";
  std::int64_t id = conn_->insert("INSERT INTO t (name, n) VALUES (?, ?)", {nasty, 42});
  EXPECT_GT(id, 0);
  auto r = conn_->query("SELECT name, n FROM t WHERE name = ?", {nasty});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r.front().text("name"), nasty);
  EXPECT_EQ(r.front().integer("n"), 42);
  EXPECT_EQ(conn_->scalar("SELECT COUNT(*) FROM t WHERE name LIKE ?", {"%DROP%"}), "1");
  EXPECT_EQ(conn_->scalar("SELECT id FROM t WHERE name = ?", {"nobody"}), "");

  auto changed = conn_->exec("UPDATE t SET n = n + 1 WHERE id = ?", {id});
  EXPECT_EQ(changed.changes, 1);
  EXPECT_EQ(conn_->scalar("SELECT n FROM t"), "43");
}

TEST_F(DbTest, NullAndEmptyTextStayDistinct) {
  conn_->exec("INSERT INTO t (id, name) VALUES (1, ?)", {nullptr});
  conn_->exec("INSERT INTO t (id, name) VALUES (2, ?)", {""});
  auto r = conn_->query("SELECT id, name FROM t ORDER BY id");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_TRUE(r.rows[0]["name"].is_null());
  EXPECT_FALSE(r.rows[1]["name"].is_null());
  EXPECT_EQ(r.rows[0].text("name"), "");
  EXPECT_EQ(r.rows[1].text("name"), "");
  EXPECT_EQ(conn_->scalar("SELECT COUNT(*) FROM t WHERE name IS NULL"), "1");
  EXPECT_EQ(conn_->scalar("SELECT COUNT(*) FROM t WHERE name = ''"), "1");
}

TEST_F(DbTest, BlobsAreReadAndWrittenWhole) {
  std::string zeros("a\0b\0\0\xFF\x80", 7);
  std::string big(20000, '\0');
  std::mt19937 rng(7);
  for (char& c : big) c = static_cast<char>(rng());
  conn_->exec("INSERT INTO t (id, body) VALUES (1, ?)", {db::Blob{zeros}});
  conn_->exec("INSERT INTO t (id, body) VALUES (2, ?)", {db::Blob{""}});
  conn_->exec("INSERT INTO t (id, body) VALUES (3, ?)", {db::Blob{big}});
  auto r = conn_->query("SELECT body, length(body) AS len FROM t ORDER BY id");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_TRUE(r.rows[0]["body"].is_blob());
  EXPECT_EQ(r.rows[0]["body"].bytes(), zeros);
  EXPECT_EQ(r.rows[0].integer("len"), 7);
  EXPECT_FALSE(r.rows[1]["body"].is_null());  // empty, not missing
  EXPECT_EQ(r.rows[1]["body"].bytes(), "");
  EXPECT_EQ(r.rows[1].integer("len"), 0);
  EXPECT_EQ(r.rows[2]["body"].bytes().size(), 20000u);
  EXPECT_EQ(r.rows[2]["body"].bytes(), big);
  // Text containing a zero byte is not cut either.
  conn_->exec("INSERT INTO t (id, name) VALUES (4, ?)", {std::string("x\0y", 3)});
  EXPECT_EQ(conn_->query("SELECT name FROM t WHERE id = 4").front().text("name"),
            std::string("x\0y", 3));
}

TEST(DbValue, NumbersAsText) {
  EXPECT_EQ(db::Value(2.5).text(), "2.5");
  EXPECT_EQ(db::Value(-3.0).text(), "-3");
  EXPECT_EQ(db::Value(1234.56).text(), "1234.56");
  EXPECT_DOUBLE_EQ(std::stod(db::Value(1e-7).text()), 1e-7);  // not rounded to "0"
  EXPECT_DOUBLE_EQ(std::stod(db::Value(1e20).text()), 1e20);
  EXPECT_EQ(db::Value("12abc").integer(), 0);
  EXPECT_EQ(db::Value(" 15 ").integer(), 15);
  EXPECT_EQ(db::Value().integer(), 0);
}

TEST_F(DbTest, RowsByNameAnyCaseAndUnknownColumnsFail) {
  conn_->exec("INSERT INTO t (name, n) VALUES ('a', 1)");
  auto r = conn_->query("SELECT name AS UserName, n FROM t");
  const db::Row& row = r.front();
  EXPECT_EQ(row.text("username"), "a");
  EXPECT_EQ(row.text("USERNAME"), "a");
  EXPECT_TRUE(row.has("N"));
  EXPECT_FALSE(row.has("missing"));
  EXPECT_EQ(code_of([&] { (void)row["missing"]; }), Errc::database);
  EXPECT_EQ(r.columns, (std::vector<std::string>{"UserName", "n"}));

  EXPECT_EQ(code_of([&] { conn_->query("SELEC nonsense"); }), Errc::database);
  EXPECT_EQ(code_of([&] { conn_->exec("INSERT INTO nowhere VALUES (1)"); }), Errc::database);
  // A statement that failed once can be used again.
  const char* sql = "INSERT INTO t (id, name) VALUES (?, ?)";
  conn_->exec(sql, {10, "x"});
  EXPECT_EQ(code_of([&] { conn_->exec(sql, {10, "dup"}); }), Errc::database);
  conn_->exec(sql, {11, "y"});
  EXPECT_EQ(conn_->scalar("SELECT name FROM t WHERE id = 11"), "y");
}

TEST_F(DbTest, TransactionsCommitOrRollBackWhole) {
  try {
    db::Transaction tx(*conn_);
    conn_->exec("INSERT INTO t (name) VALUES ('lost1')");
    conn_->exec("INSERT INTO t (name) VALUES ('lost2')");
    throw std::runtime_error("page failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(count(), 0);
  EXPECT_FALSE(conn_->in_transaction());

  {
    db::Transaction tx(*conn_);
    EXPECT_TRUE(conn_->in_transaction());
    conn_->exec("INSERT INTO t (name) VALUES ('kept')");
    tx.commit();
  }
  EXPECT_EQ(count(), 1);
  EXPECT_FALSE(conn_->in_transaction());

  {  // leaving without commit (an early return) is a rollback too
    db::Transaction tx(*conn_);
    conn_->exec("INSERT INTO t (name) VALUES ('dropped')");
  }
  EXPECT_EQ(count(), 1);
  // Other connections see only committed rows.
  auto other = open();
  EXPECT_EQ(other->scalar("SELECT name FROM t"), "kept");
}

TEST_F(DbTest, NestedTransactionJoinsTheOuterOne) {
  try {
    db::Transaction outer(*conn_);
    conn_->exec("INSERT INTO t (name) VALUES ('outer')");
    {
      db::Transaction inner(*conn_);
      conn_->exec("INSERT INTO t (name) VALUES ('inner')");
      inner.commit();  // joins: nothing is committed yet
    }
    EXPECT_TRUE(conn_->in_transaction());
    EXPECT_EQ(open()->scalar("SELECT COUNT(*) FROM t"), "0");
    throw std::runtime_error("later step failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(count(), 0);

  {
    db::Transaction outer(*conn_);
    {
      db::Transaction inner(*conn_);
      conn_->exec("INSERT INTO t (name) VALUES ('a')");
      inner.commit();
    }
    conn_->exec("INSERT INTO t (name) VALUES ('b')");
    outer.commit();
  }
  EXPECT_EQ(count(), 2);
}

TEST_F(DbTest, ABusyWriterMakesOthersWaitThenConflict) {
  auto other = open(200);
  db::Transaction tx(*conn_);
  conn_->exec("INSERT INTO t (name) VALUES ('pending')");

  // Readers go on during the write and see the last committed state.
  EXPECT_EQ(other->scalar("SELECT COUNT(*) FROM t"), "0");

  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(code_of([&] { other->exec("INSERT INTO t (name) VALUES ('blocked')"); }),
            Errc::conflict);
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_EQ(code_of([&] { db::Transaction blocked(*other); }), Errc::conflict);
  EXPECT_FALSE(other->in_transaction());

  tx.commit();
  other->exec("INSERT INTO t (name) VALUES ('after')");
  EXPECT_EQ(count(), 2);
}

TEST_F(DbTest, ConcurrentWritersAllGetTheirTurn) {
  // Read-modify-write steps from several threads on their own connections:
  // every step commits once and none is lost or refused.
  conn_->exec("INSERT INTO t (name, n) VALUES ('counter', 0)");
  constexpr int kThreads = 4, kSteps = 60;
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      auto c = open(5000);
      for (int k = 0; k < kSteps; ++k) {
        try {
          db::Transaction tx(*c);
          auto n = c->query("SELECT n FROM t WHERE name = 'counter'").front().integer("n");
          c->exec("UPDATE t SET n = ? WHERE name = 'counter'", {static_cast<long long>(n + 1)});
          if (k % 7 == 3) continue;  // left without commit: rolled back, then redone
          tx.commit();
        } catch (const Error&) {
          ++refused;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(refused, 0);
  int rolled_back = 0;
  for (int k = 0; k < kSteps; ++k) rolled_back += k % 7 == 3;
  EXPECT_EQ(conn_->scalar("SELECT n FROM t WHERE name = 'counter'"),
            std::to_string(kThreads * (kSteps - rolled_back)));
}

TEST_F(DbTest, WalAndFullSynchronousAreSet) {
  EXPECT_EQ(conn_->scalar("PRAGMA journal_mode"), "wal");
  EXPECT_EQ(conn_->scalar("PRAGMA synchronous"), "2");
  EXPECT_EQ(conn_->scalar("PRAGMA foreign_keys"), "1");
  EXPECT_EQ(open()->scalar("PRAGMA synchronous"), "2");
}

// A flush the test lets finish one at a time, with the answer it gives.
struct HeldFlush {
  std::mutex mu;
  std::condition_variable cv;
  int started = 0, allowed = 0;
  bool answer = true;
  bool run() {
    std::unique_lock lock(mu);
    ++started;
    cv.notify_all();
    cv.wait(lock, [&] { return allowed >= started; });
    return answer;
  }
  void wait_started(int n) {
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return started >= n; });
  }
  void allow(int n, bool ok = true) {
    std::lock_guard lock(mu);
    allowed = n;
    answer = ok;
    cv.notify_all();
  }
};

// What a waiter was told: not yet (-1), durable (1) or failed (0).
struct Told {
  std::atomic<int> value{-1};
  std::function<void(bool)> fn() {
    return [this](bool ok) { value = ok ? 1 : 0; };
  }
  int wait() {
    for (int i = 0; i < 5000 && value < 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return value;
  }
};

TEST(GroupFlush, WaitersAreReleasedOnlyByAFlushThatCoversTheirCommits) {
  HeldFlush flush;
  auto gate = std::make_unique<db::GroupFlush>([&] { return flush.run(); });
  Told idle;
  gate->after_durable(idle.fn());
  EXPECT_EQ(idle.value, 1) << "nothing committed: answered at once";

  // A commit whose frames are not yet written is not flushed for.
  std::uint64_t t1 = gate->begun();
  Told first;
  gate->after_durable(first.fn());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(flush.started, 0);
  gate->written(t1);
  flush.wait_started(1);

  // A commit made while that flush runs needs the next one.
  gate->written(gate->begun());
  Told second;
  gate->after_durable(second.fn());
  EXPECT_EQ(first.value, -1);
  flush.allow(1);
  EXPECT_EQ(first.wait(), 1);
  flush.wait_started(2);
  EXPECT_EQ(second.value, -1);
  flush.allow(2, false);
  EXPECT_EQ(second.wait(), 0) << "a failed flush is reported";

  // A later flush that succeeds covers what the failed one did not.
  gate->written(gate->begun());
  Told third;
  gate->after_durable(third.fn());
  flush.wait_started(3);
  flush.allow(3);
  EXPECT_EQ(third.wait(), 1);

  // At the end a commit still unsettled is flushed for all the same.
  gate->begun();
  Told last;
  gate->after_durable(last.fn());
  flush.allow(4);
  gate.reset();
  EXPECT_EQ(last.value, 1);
}

TEST_F(DbTest, GroupFlushConnectionsLeaveTheirCommitsToTheGate) {
  const std::string path = (dir_ / "test.db").string();
  auto grouped = db::open_sqlite(path, {.group_flush = true});
  EXPECT_EQ(grouped->scalar("PRAGMA synchronous"), "1");
  auto gate = db::sqlite_commit_gate(path);
  EXPECT_EQ(gate, db::sqlite_commit_gate((dir_ / "." / "test.db").string()));

  const std::vector<std::pair<const char*, std::function<void()>>> writes = {
      {"autocommit", [&] { grouped->exec("INSERT INTO t (name) VALUES ('a')"); }},
      {"transaction",
       [&] {
         db::Transaction tx(*grouped);
         grouped->exec("INSERT INTO t (name) VALUES ('b')");
         tx.commit();
       }},
      {"script", [&] { grouped->script("INSERT INTO t (name) VALUES ('c');"); }},
  };
  for (const auto& [name, write] : writes) {
    write();
    Told after_write, after_flush;
    gate->after_durable(after_write.fn());
    EXPECT_EQ(after_write.value, -1) << name << ": answered before the flush";
    EXPECT_EQ(after_write.wait(), 1) << name;
    gate->after_durable(after_flush.fn());
    EXPECT_EQ(after_flush.value, 1) << name << ": nothing new to flush";
  }
  {
    db::Transaction tx(*grouped);  // rolled back: nothing to wait for
    grouped->exec("INSERT INTO t (name) VALUES ('d')");
  }
  conn_->exec("INSERT INTO t (name) VALUES ('e')");  // flushes itself
  Told reads;
  grouped->scalar("SELECT COUNT(*) FROM t");
  gate->after_durable(reads.fn());
  EXPECT_EQ(reads.value, 1);
  EXPECT_EQ(count(), 4);
}

TEST_F(DbTest, OpeningFailuresAreReported) {
  EXPECT_EQ(code_of([&] { db::open_sqlite((dir_ / "missing.db").string()); }), Errc::database);
  EXPECT_FALSE(fs::exists(dir_ / "missing.db"));
  {
    std::ofstream junk(dir_ / "junk.db");
    junk << std::string(4096, 'x');
  }
  EXPECT_EQ(code_of([&] { db::open_sqlite((dir_ / "junk.db").string()); }), Errc::database);
}

}  // namespace
}  // namespace desk
