#include "tests/support/http_client.h"

#include <gtest/gtest.h>

namespace desk::testing {

namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

template <class Start>
void HttpClient::run(Start start) {
  ec_ = {};
  ioc_.restart();
  start([this](beast::error_code ec) { ec_ = ec; });
  ioc_.run();
}

HttpClient::HttpClient(unsigned short port, const std::string& local_addr) {
  if (!local_addr.empty()) {
    stream_.socket().open(tcp::v4());
    stream_.socket().bind(tcp::endpoint(net::ip::make_address(local_addr), 0));
  }
  run([&](auto done) {
    stream_.expires_after(std::chrono::seconds(5));
    stream_.async_connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port),
                          [done](beast::error_code ec) { done(ec); });
  });
  EXPECT_FALSE(ec_) << ec_.message();
}

bool HttpClient::try_send(const std::string& bytes) {
  run([&](auto done) {
    stream_.expires_after(std::chrono::seconds(5));
    net::async_write(stream_, net::buffer(bytes),
                     [done](beast::error_code ec, std::size_t) { done(ec); });
  });
  return !ec_;
}

void HttpClient::send(const std::string& bytes) {
  EXPECT_TRUE(try_send(bytes)) << ec_.message();
}

HttpClient::Response HttpClient::read(bool head_only, std::chrono::seconds within) {
  bhttp::response_parser<bhttp::string_body> parser;
  parser.body_limit(16 * 1024 * 1024);
  parser.skip(head_only);
  run([&](auto done) {
    stream_.expires_after(within);
    bhttp::async_read(stream_, buffer_, parser,
                      [done](beast::error_code ec, std::size_t) { done(ec); });
  });
  if (ec_) {
    Response none;
    none.result(0);
    return none;
  }
  return parser.release();
}

bool HttpClient::closed_by_server(std::chrono::seconds within) {
  char byte;
  run([&](auto done) {
    stream_.expires_after(within);
    stream_.async_read_some(net::buffer(&byte, 1),
                            [done](beast::error_code ec, std::size_t) { done(ec); });
  });
  return ec_ && ec_ != beast::error::timeout;
}

}  // namespace desk::testing
