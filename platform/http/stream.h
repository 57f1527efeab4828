// The byte stream of one server connection: plain TCP, or TLS over it
// (Asio SSL on OpenSSL). Either way the TCP stream underneath carries the
// socket and the deadline of every read and write.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>

#include <optional>
#include <string>
#include <utility>

namespace desk::http {

class ServerStream {
 public:
  using executor_type = boost::beast::tcp_stream::executor_type;

  // TLS when `tls` is given; it must outlive the stream.
  ServerStream(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context* tls) {
    if (tls)
      tls_.emplace(std::move(socket), *tls);
    else
      plain_.emplace(std::move(socket));
  }

  bool secure() const { return tls_.has_value(); }
  boost::beast::tcp_stream& tcp() { return tls_ ? tls_->next_layer() : *plain_; }
  boost::asio::ip::tcp::socket& socket() { return tcp().socket(); }
  executor_type get_executor() { return tcp().get_executor(); }
  template <class Duration>
  void expires_after(Duration d) {
    tcp().expires_after(d);
  }
  template <class TimePoint>
  void expires_at(TimePoint t) {
    tcp().expires_at(t);
  }

  // The server side of the TLS handshake; only for a secure stream.
  template <class Handler>
  void async_handshake(Handler&& handler) {
    tls_->async_handshake(boost::asio::ssl::stream_base::server, std::forward<Handler>(handler));
  }

  template <class Buffers, class Handler>
  void async_read_some(const Buffers& buffers, Handler&& handler) {
    if (tls_)
      tls_->async_read_some(buffers, std::forward<Handler>(handler));
    else
      plain_->async_read_some(buffers, std::forward<Handler>(handler));
  }
  template <class Buffers, class Handler>
  void async_write_some(const Buffers& buffers, Handler&& handler) {
    if (tls_)
      tls_->async_write_some(buffers, std::forward<Handler>(handler));
    else
      plain_->async_write_some(buffers, std::forward<Handler>(handler));
  }

 private:
  std::optional<boost::beast::tcp_stream> plain_;
  std::optional<boost::beast::ssl_stream<boost::beast::tcp_stream>> tls_;
};

// A server context with the certificate chain and private key of the PEM
// files; throws std::runtime_error naming the file that cannot be used.
boost::asio::ssl::context make_tls_context(const std::string& certificate, const std::string& key);

}  // namespace desk::http
