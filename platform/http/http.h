// HTTP/1.1 server on Boost.Beast: keep-alive, header and per-route body
// limits, a deadline on every read and write, graceful shutdown and one
// access-log line per request. Knows nothing of pages; a Handler answers.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
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

struct Reply {
  int status = 200;
  Pairs headers;
  std::string body;
};

class Handler {
 public:
  virtual ~Handler() = default;
  // Body ceiling in bytes for a request whose head is given (body empty).
  // A larger body is refused with 413 before it is read.
  virtual std::uint64_t body_limit(const Message& head) = 0;
  // Answers one request. Runs on a server thread; may block.
  virtual Reply handle(Message& request) = 0;
};

struct Options {
  std::string host = "127.0.0.1";
  unsigned short port = 8080;  // 0 picks a free port
  unsigned threads = 0;        // 0: one per core
  std::uint32_t header_limit = 16 * 1024;
  std::chrono::seconds header_timeout{15};  // whole request head, and keep-alive idle time
  std::chrono::seconds body_timeout{120};
  std::chrono::seconds write_timeout{60};
  std::chrono::seconds shutdown_grace{10};
  // PEM files of the certificate chain and the private key: when both are
  // given the server speaks HTTPS (TLS 1.2 or later) only.
  std::string tls_certificate{}, tls_key{};
  bool access_log = true;
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
  // Serves on the worker threads until stop() or SIGINT/SIGTERM (when
  // `signals` is set); returns when every connection has ended or the grace
  // period is over.
  void run(bool signals);
  // Serves in the background (tests); stop() ends it.
  void start();
  // Stops accepting, lets requests in flight finish, closes idle connections.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace desk::http
