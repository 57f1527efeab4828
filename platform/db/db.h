// The data store: a small connection layer with prepared statements and bound
// parameters only. Page components see only this interface; the SQLite
// backend is the embedded default and a PostgreSQL backend can be added behind
// the same calls (placeholders are '?', dates are ISO text).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace desk::db {

// Binary column contents, read and written whole.
struct Blob {
  std::string bytes;
};

// One column value. Text is UTF-8.
class Value {
 public:
  Value() = default;
  Value(std::nullptr_t) {}
  Value(int v) : v_(static_cast<std::int64_t>(v)) {}
  Value(long v) : v_(static_cast<std::int64_t>(v)) {}
  Value(long long v) : v_(static_cast<std::int64_t>(v)) {}
  Value(double v) : v_(v) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(Blob b) : v_(std::move(b)) {}

  bool is_null() const { return v_.index() == 0; }
  bool is_blob() const { return v_.index() == 4; }
  // Text form: NULL is "", numbers in decimal, blobs their bytes.
  std::string text() const;
  // Integer form: NULL and non-numeric text are 0.
  std::int64_t integer() const;
  double real() const;
  const std::string& bytes() const;  // blob or text bytes; "" for others

  using Storage = std::variant<std::monostate, std::int64_t, double, std::string, Blob>;
  const Storage& storage() const { return v_; }

 private:
  Storage v_;
};

using Params = std::vector<Value>;

// One result row; columns by name (case-insensitive) or position.
class Row {
 public:
  Row(std::shared_ptr<const std::vector<std::string>> names, std::vector<Value> values)
      : names_(std::move(names)), values_(std::move(values)) {}
  // Throws Error(database) for a column the row lacks.
  const Value& operator[](std::string_view column) const;
  const Value& at(std::size_t i) const { return values_.at(i); }
  std::string text(std::string_view column) const { return (*this)[column].text(); }
  std::int64_t integer(std::string_view column) const { return (*this)[column].integer(); }
  bool has(std::string_view column) const;
  std::size_t size() const { return values_.size(); }
  const std::vector<std::string>& names() const { return *names_; }

 private:
  std::shared_ptr<const std::vector<std::string>> names_;
  std::vector<Value> values_;
};

struct Result {
  std::vector<std::string> columns;
  std::vector<Row> rows;
  bool empty() const { return rows.empty(); }
  std::size_t size() const { return rows.size(); }
  const Row& front() const { return rows.front(); }
  auto begin() const { return rows.begin(); }
  auto end() const { return rows.end(); }
};

struct ExecResult {
  std::int64_t changes = 0;
  std::int64_t last_id = 0;
};

// An open connection. Not thread-safe: one thread uses it at a time. Every
// failure is thrown as Error(database) (Error(conflict) when the database
// stays busy beyond the busy timeout).
class Connection {
 public:
  virtual ~Connection() = default;
  virtual Result query(std::string_view sql, const Params& params = {}) = 0;
  virtual ExecResult exec(std::string_view sql, const Params& params = {}) = 0;
  // Runs an INSERT and returns the new row's id.
  virtual std::int64_t insert(std::string_view sql, const Params& params = {}) = 0;
  // Runs several statements without parameters (schema changes).
  virtual void script(std::string_view sql) = 0;

  // Writing transaction; see Transaction for the usual way in.
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
  virtual bool in_transaction() const = 0;

  // "sqlite" or "postgresql".
  virtual std::string_view dialect() const = 0;

  // Convenience: first row's first column as text, "" when no row.
  std::string scalar(std::string_view sql, const Params& params = {});
};

// Scope of one writing transaction. Commits only when commit() is called;
// rolls back when it is left otherwise (an exception). A Transaction opened
// while another is active on the same connection joins it.
class Transaction {
 public:
  explicit Transaction(Connection& c);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

 private:
  Connection& c_;
  bool owner_;
  bool done_ = false;
};

// Scope of a run of reads that see one state of the database, taken in one
// read transaction instead of one per statement. Nothing may be written
// inside it. Inside a writing transaction it does nothing.
class ReadScope {
 public:
  explicit ReadScope(Connection& c);
  ~ReadScope();
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  Connection& c_;
  bool owner_;
};

// Where commits are flushed in groups: an answer that may show a commit is
// held until that commit is on stable storage.
class CommitGate {
 public:
  virtual ~CommitGate() = default;
  // Calls `then(true)` once every commit this process has begun on the
  // database so far is on stable storage: at once, on the calling thread,
  // when it already is; otherwise later, on the gate's thread.
  // `then(false)` when the flush failed and those commits may be lost.
  virtual void after_durable(std::function<void(bool)> then) = 0;
};

struct SqliteOptions {
  int busy_timeout_ms = 5000;
  bool create = false;  // create the file when missing
  // Commits do not wait for their own flush (synchronous=NORMAL); the
  // database's gate (sqlite_commit_gate) flushes the log for them, several
  // at a time. Whoever acknowledges such a commit must wait on the gate.
  bool group_flush = false;
};

std::unique_ptr<Connection> open_sqlite(const std::string& path, const SqliteOptions& opt = {});

// The gate of the database file at `path`: one per file in this process,
// shared by its group-flush connections.
std::shared_ptr<CommitGate> sqlite_commit_gate(const std::string& path);

}  // namespace desk::db
