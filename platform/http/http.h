// HTTP/1.1 server on Boost.Beast: keep-alive, header and per-route body
// limits, a deadline on every read and write, connection ceilings, graceful
// shutdown and one access-log line per request. Knows nothing of pages; a
// Handler answers, at once or later from another thread.
//
// No failure of one connection ends the process: an exception while a
// request is read or answered is logged and ends that connection only
// (with 400 when the request could not be read).
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace desk::http {

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct Message {
  std::string method;
  std::string target;  // raw request target: path and query
  Pairs headers;
  std::string body;
  std::string remote_addr;
  bool secure = false;  // came over TLS
  std::string header(std::string_view name) const;
};

// An open file sent as a reply's body, `size` bytes from its start, straight
// from the file to the connection. Owns the descriptor.
struct FileBody {
  FileBody(int fd, std::uint64_t size) : fd(fd), size(size) {}
  ~FileBody() { ::close(fd); }
  FileBody(const FileBody&) = delete;
  FileBody& operator=(const FileBody&) = delete;
  const int fd;
  const std::uint64_t size;
};

struct Reply {
  int status = 200;
  Pairs headers;
  std::string body;
  // When set, the body is this file and `body` is empty.
  std::shared_ptr<const FileBody> file{};
};

// Receives the reply of one request; called exactly once, on any thread.
using Done = std::function<void(Reply)>;

class Handler {
 public:
  virtual ~Handler() = default;
  // Body ceiling in bytes for a request whose head is given (body empty).
  // A larger body is refused with 413 before it is read.
  virtual std::uint64_t body_limit(const Message& head) = 0;
  // Answers one request on the calling thread; may block.
  virtual Reply handle(Message& request) = 0;
  // Answers one request through `done`, possibly after returning and from
  // another thread, so that slow work need not hold an I/O thread. The
  // default answers inline with handle(). If it throws, `done` must not
  // have been called.
  virtual void handle_async(Message request, Done done);
  // The answer to a connection refused over a connection ceiling (503).
  virtual Reply busy();
  // Called once the server has stopped serving; returns when no `done`
  // given out by handle_async remains to be called.
  virtual void drain() {}
};

struct Options {
  std::string host = "127.0.0.1";
  unsigned short port = 8080;  // 0 picks a free port
  unsigned threads = 0;        // 0: one per core
  std::uint32_t header_limit = 16 * 1024;
  std::chrono::seconds header_timeout{15};  // whole request head, and keep-alive idle time
  // A body must arrive within `body_grace` plus the time its bytes received
  // so far take at `body_min_rate` (bytes per second), and never later than
  // `body_timeout` after its head: a client that announces more than it
  // sends is dropped after the grace, a slow but steady upload goes on.
  std::chrono::seconds body_grace{10};
  std::uint32_t body_min_rate = 8 * 1024;
  std::chrono::seconds body_timeout{120};
  std::chrono::seconds write_timeout{60};
  std::chrono::seconds shutdown_grace{10};
  // Open connections in all and from one client address (0: no ceiling).
  // A connection over either is answered 503 and closed. The total is kept
  // below the process's descriptor limit.
  unsigned max_connections = 1000;
  unsigned max_connections_per_address = 64;
  // At a ceiling, a new connection takes the place of the one (of that
  // address, for the ceiling per address) that has waited longest for a
  // request head, once it has waited at least this long: clients that open
  // connections and send nothing, or a byte now and then, cannot lock the
  // others out. The newcomer is refused only when no connection waits.
  std::chrono::milliseconds evict_after{1000};
  // After a request or reply body of at least this many bytes, freed memory
  // is handed back to the system.
  std::size_t trim_threshold = 1024 * 1024;
  // PEM files of the certificate chain and the private key: when both are
  // given the server speaks HTTPS (TLS 1.2 or later) only.
  std::string tls_certificate{}, tls_key{};
  bool access_log = true;
};

// Counters since the server was made.
struct Stats {
  std::uint64_t accepted = 0;         // connections served
  std::uint64_t refused = 0;          // connections over a ceiling
  std::uint64_t evicted = 0;          // waiting connections closed for a newcomer
  std::uint64_t accept_failures = 0;  // accepts that failed (descriptors short)
  std::uint64_t faults = 0;           // connections ended by an exception
  unsigned open = 0;                  // connections served now
};

class Server {
 public:
  Server(Options options, Handler& handler);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; throws Error(io) when the address is taken.
  void listen();
  unsigned short port() const;
  // The connection ceiling in force (Options::max_connections, lowered to
  // fit the descriptor limit); set by listen().
  unsigned max_connections() const;
  // Serves on the worker threads until stop() or SIGINT/SIGTERM (when
  // `signals` is set); returns when every connection has ended or the grace
  // period is over, and the handler has drained.
  void run(bool signals);
  // Serves in the background (tests); stop() ends it.
  void start();
  // Stops accepting, lets requests in flight finish, closes idle connections.
  void stop();
  Stats stats() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace desk::http
