#include <stdexcept>

#include "platform/http/stream.h"

namespace desk::http {

namespace ssl = boost::asio::ssl;

ssl::context make_tls_context(const std::string& certificate, const std::string& key) {
  ssl::context ctx(ssl::context::tls_server);
  // TLS 1.2 and later only.
  ctx.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                  ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 |
                  ssl::context::single_dh_use);
  boost::system::error_code ec;
  ctx.use_certificate_chain_file(certificate, ec);
  if (ec)
    throw std::runtime_error("cannot use the certificate " + certificate + ": " + ec.message());
  ctx.use_private_key_file(key, ssl::context::pem, ec);
  if (ec) throw std::runtime_error("cannot use the private key " + key + ": " + ec.message());
  return ctx;
}

}  // namespace desk::http
