// SQLite backend: WAL journal with synchronous=FULL (an acknowledged write
// survives a power cut) or, for group-flush connections, synchronous=NORMAL
// with the log flushed by the database's gate before acknowledgement; a busy
// timeout, BEGIN IMMEDIATE for writers and a per-connection cache of
// prepared statements.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/error.h"
#include "platform/db/db.h"
#include "platform/db/group_flush.h"

namespace desk::db {
namespace {

// Process-wide settings, made once before the library's first use: no
// memory statistics (they take a global mutex on every allocation).
void configure_library() {
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

std::string canonical_path(const std::string& path) {
  std::error_code ec;
  auto canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : canonical.string();
}

// Makes every write to the log of the database at `path` made so far
// durable. A log that is gone was checkpointed into the database file and
// removed, which SQLite does only after flushing that file; it is flushed
// once more all the same.
bool flush_log(const std::string& path) {
  int fd = ::open((path + "-wal").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int rc;
  do rc = ::fdatasync(fd);
  while (rc != 0 && errno == EINTR);
  ::close(fd);
  return rc == 0;
}

// One gate per database file (by canonical path) while anyone holds it.
std::shared_ptr<GroupFlush> gate_for(const std::string& canonical) {
  static std::mutex registry_mu;
  static std::map<std::string, std::weak_ptr<GroupFlush>> registry;
  std::lock_guard lock(registry_mu);
  auto& slot = registry[canonical];
  auto gate = slot.lock();
  if (!gate) {
    gate = std::make_shared<GroupFlush>([canonical] { return flush_log(canonical); });
    slot = gate;
  }
  return gate;
}

class SqliteConnection : public Connection {
 public:
  SqliteConnection(const std::string& path, const SqliteOptions& opt) {
    configure_library();
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (opt.create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      db_ = nullptr;
      throw Error(Errc::database, "cannot open database " + path + ": " + msg);
    }
    // Writers wait in short, even steps: SQLite's own handler backs off to
    // 100 ms sleeps, which lets a waiting step lose its turn to later ones.
    busy_timeout_us_ = static_cast<long long>(opt.busy_timeout_ms) * 1000;
    sqlite3_busy_handler(db_, &SqliteConnection::on_busy, this);
    sqlite3_extended_result_codes(db_, 1);
    try {
      bool grouped = false;
      if (path != ":memory:") {
        script("PRAGMA journal_mode=WAL;");
        const std::string canonical = canonical_path(path);
        writer_ = writer_mutex_for(canonical);
        if (opt.group_flush) {
          // In WAL mode with synchronous=NORMAL a commit writes its frames
          // without flushing them (the log's header is still flushed when
          // the log restarts); the gate's flush of the log makes them
          // durable.
          gate_ = gate_for(canonical);
          sqlite3_commit_hook(db_, &SqliteConnection::on_commit, this);
          grouped = true;
        }
      }
      script(grouped ? "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;"
                     : "PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
    } catch (...) {  // e.g. a file that is not a database
      sqlite3_close(db_);
      db_ = nullptr;
      throw;
    }
  }

  ~SqliteConnection() override {
    unlock_writer();
    for (auto& [sql, st] : cache_) sqlite3_finalize(st);
    sqlite3_close(db_);
  }

  Result query(std::string_view sql, const Params& params) override {
    Stmt st(*this, sql, params);
    Result r;
    int n = sqlite3_column_count(st.s);
    auto names = std::make_shared<std::vector<std::string>>();
    for (int i = 0; i < n; ++i) names->push_back(sqlite3_column_name(st.s, i));
    r.columns = *names;
    for (;;) {
      int rc = sqlite3_step(st.s);
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) fail(rc, sql);
      std::vector<Value> vals;
      vals.reserve(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) vals.push_back(column(st.s, i));
      r.rows.emplace_back(names, std::move(vals));
    }
    return r;
  }

  ExecResult exec(std::string_view sql, const Params& params) override {
    Stmt st(*this, sql, params);
    for (;;) {
      int rc = sqlite3_step(st.s);
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) fail(rc, sql);
    }
    return ExecResult{sqlite3_changes64(db_), sqlite3_last_insert_rowid(db_)};
  }

  std::int64_t insert(std::string_view sql, const Params& params) override {
    return exec(sql, params).last_id;
  }

  void script(std::string_view sql) override {
    std::string s(sql);
    char* err = nullptr;
    int rc = sqlite3_exec(db_, s.c_str(), nullptr, nullptr, &err);
    settle();
    if (rc != SQLITE_OK) {
      std::string msg = err ? err : sqlite3_errstr(rc);
      sqlite3_free(err);
      int primary = rc & 0xFF;
      bool busy = primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
      throw Error(busy ? Errc::conflict : Errc::database, msg);
    }
  }

  void begin() override {
    lock_writer();
    try {
      exec("BEGIN IMMEDIATE", {});  // prepared once, like every statement
    } catch (...) {
      unlock_writer();
      throw;
    }
    in_tx_ = true;
  }
  void commit() override {
    exec("COMMIT", {});  // on failure the transaction stays open for rollback()
    in_tx_ = false;
    unlock_writer();
  }
  void rollback() override {
    in_tx_ = false;
    struct Release {
      SqliteConnection* c;
      ~Release() { c->unlock_writer(); }
    } release{this};
    if (!sqlite3_get_autocommit(db_)) script("ROLLBACK");
  }
  bool in_transaction() const override { return in_tx_ && !sqlite3_get_autocommit(db_); }
  std::string_view dialect() const override { return "sqlite"; }

 private:
  // A cached statement, bound for one use and reset when released.
  struct Stmt {
    sqlite3_stmt* s = nullptr;
    Stmt(SqliteConnection& conn, std::string_view sql, const Params& params) : c(conn) {
      s = c.prepare(sql);
      for (size_t i = 0; i < params.size(); ++i) c.bind(s, static_cast<int>(i) + 1, params[i], sql);
    }
    ~Stmt() {
      sqlite3_reset(s);
      sqlite3_clear_bindings(s);
      c.settle();
    }
    SqliteConnection& c;
  };

  // Tells the gate that the commit begun in the call that just returned has
  // written its frames.
  void settle() {
    if (!pending_) return;
    gate_->written(pending_);
    pending_ = 0;
  }

  static int on_commit(void* self) {
    auto* c = static_cast<SqliteConnection*>(self);
    c->pending_ = c->gate_->begun();
    return 0;  // go on with the commit
  }

  sqlite3_stmt* prepare(std::string_view sql) {
    auto it = cache_.find(sql);
    if (it != cache_.end()) return it->second;
    std::string key(sql);
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v3(db_, key.data(), static_cast<int>(key.size()),
                                SQLITE_PREPARE_PERSISTENT, &st, nullptr);
    if (rc != SQLITE_OK) fail(rc, sql);
    if (cache_.size() > 256) {
      for (auto& [k, v] : cache_) sqlite3_finalize(v);
      cache_.clear();
    }
    cache_.emplace(std::move(key), st);
    return st;
  }

  void bind(sqlite3_stmt* st, int i, const Value& v, std::string_view sql) {
    int rc = SQLITE_OK;
    const auto& s = v.storage();
    switch (s.index()) {
      case 0:
        rc = sqlite3_bind_null(st, i);
        break;
      case 1:
        rc = sqlite3_bind_int64(st, i, std::get<std::int64_t>(s));
        break;
      case 2:
        rc = sqlite3_bind_double(st, i, std::get<double>(s));
        break;
      case 3: {
        const auto& t = std::get<std::string>(s);
        rc = sqlite3_bind_text64(st, i, t.data(), t.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
      }
      case 4: {
        const auto& b = std::get<Blob>(s).bytes;
        rc = sqlite3_bind_blob64(st, i, b.data(), b.size(), SQLITE_TRANSIENT);
        break;
      }
    }
    if (rc != SQLITE_OK) fail(rc, sql);
  }

  static Value column(sqlite3_stmt* st, int i) {
    switch (sqlite3_column_type(st, i)) {
      case SQLITE_INTEGER:
        return Value(static_cast<long long>(sqlite3_column_int64(st, i)));
      case SQLITE_FLOAT:
        return Value(sqlite3_column_double(st, i));
      case SQLITE_TEXT: {
        const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        return Value(std::string(t, static_cast<size_t>(sqlite3_column_bytes(st, i))));
      }
      case SQLITE_BLOB: {
        const char* b = static_cast<const char*>(sqlite3_column_blob(st, i));
        return Value(
            Blob{std::string(b ? b : "", static_cast<size_t>(sqlite3_column_bytes(st, i)))});
      }
      default:
        return Value();
    }
  }

  [[noreturn]] void fail(int rc, std::string_view sql) {
    int primary = rc & 0xFF;
    Errc code =
        (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) ? Errc::conflict : Errc::database;
    throw Error(code, std::string(sqlite3_errmsg(db_)) + " in: " + std::string(sql.substr(0, 200)));
  }

  // Returns 0 (give up: SQLITE_BUSY) once the wait that began with attempt 0
  // has lasted the busy timeout.
  // Writing transactions of this process on one database file queue on a
  // mutex instead of polling SQLite's lock: waiters are woken in turn the
  // moment the writer ends. Other processes still meet the busy handler.
  static std::shared_ptr<std::timed_mutex> writer_mutex_for(const std::string& path) {
    static std::mutex registry_mu;
    static std::map<std::string, std::weak_ptr<std::timed_mutex>> registry;
    std::lock_guard lock(registry_mu);
    auto& slot = registry[path];
    auto m = slot.lock();
    if (!m) {
      m = std::make_shared<std::timed_mutex>();
      slot = m;
    }
    return m;
  }

  void lock_writer() {
    if (!writer_ || holding_writer_) return;
    if (!writer_->try_lock_for(std::chrono::microseconds(busy_timeout_us_)))
      throw Error(Errc::conflict, "database busy: another step is still being written");
    holding_writer_ = true;
  }

  void unlock_writer() {
    if (!holding_writer_) return;
    holding_writer_ = false;
    writer_->unlock();
  }

  static int on_busy(void* self, int attempts) {
    auto* c = static_cast<SqliteConnection*>(self);
    auto now = std::chrono::steady_clock::now();
    if (attempts == 0) c->busy_since_ = now;
    auto waited = std::chrono::duration_cast<std::chrono::microseconds>(now - c->busy_since_);
    if (waited.count() >= c->busy_timeout_us_) return 0;
    std::this_thread::sleep_for(std::chrono::microseconds(250));
    return 1;
  }

  sqlite3* db_ = nullptr;
  long long busy_timeout_us_ = 0;
  std::shared_ptr<std::timed_mutex> writer_;  // null for in-memory databases
  bool holding_writer_ = false;
  std::chrono::steady_clock::time_point busy_since_;
  std::map<std::string, sqlite3_stmt*, std::less<>> cache_;
  bool in_tx_ = false;
  std::shared_ptr<GroupFlush> gate_;  // group-flush connections only
  std::uint64_t pending_ = 0;         // ticket of a commit not yet settled
};

}  // namespace

std::unique_ptr<Connection> open_sqlite(const std::string& path, const SqliteOptions& opt) {
  return std::make_unique<SqliteConnection>(path, opt);
}

std::shared_ptr<CommitGate> sqlite_commit_gate(const std::string& path) {
  return gate_for(canonical_path(path));
}

}  // namespace desk::db
