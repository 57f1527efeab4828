// A blocking HTTP client on one connection to 127.0.0.1, with a deadline on
// every step, for tests of the server over real sockets.
#pragma once

#include <utility>  // before asio: its awaitable.hpp needs std::exchange

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <string>

namespace desk::testing {

class HttpClient {
 public:
  using Response = boost::beast::http::response<boost::beast::http::string_body>;

  // Connects to 127.0.0.1:port, from `local_addr` (another loopback
  // address, such as 127.0.0.2) when one is given.
  explicit HttpClient(unsigned short port, const std::string& local_addr = "");

  // Sends bytes; a failure is a test failure.
  void send(const std::string& bytes);
  // Sends bytes; false when the server had already closed.
  bool try_send(const std::string& bytes);
  // Reads one response; `head_only` for the answer to HEAD. Status 0 when
  // the connection ended (or the deadline passed) instead.
  Response read(bool head_only = false, std::chrono::seconds within = std::chrono::seconds(5));
  // True when the server closed the connection (rather than the deadline passing).
  bool closed_by_server(std::chrono::seconds within = std::chrono::seconds(5));

  const boost::beast::error_code& error() const { return ec_; }

 private:
  template <class Start>
  void run(Start start);

  boost::asio::io_context ioc_;
  boost::beast::tcp_stream stream_{ioc_};
  boost::beast::flat_buffer buffer_;
  boost::beast::error_code ec_;
};

}  // namespace desk::testing
