#include "platform/http/http.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <cstdio>
#include <limits>
#include <list>
#include <mutex>
#include <optional>

#include "core/error.h"
#include "core/text.h"
#include "platform/http/stream.h"

namespace desk::http {

namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

std::string Message::header(std::string_view name) const {
  for (const auto& [k, v] : headers)
    if (text::iequals(k, name)) return v;
  return "";
}

namespace {

std::mutex log_mu;

void access_log(const std::string& remote, const std::string& method, const std::string& target,
                int status, std::size_t bytes, double ms) {
  std::lock_guard lock(log_mu);
  std::fprintf(stderr, "%s \"%s %s\" %d %zu %.1fms\n", remote.c_str(), method.c_str(),
               text::header_safe(target).c_str(), status, bytes, ms);
}

}  // namespace

struct Server::Impl {
  Options opt;
  Handler& handler;
  // Declared before the io_context: connections still pending when the
  // grace period ran out are destroyed with it and unregister themselves.
  std::atomic<bool> stopping{false};
  std::atomic<int> live{0};
  struct Conn;
  std::mutex conns_mu;
  std::list<std::weak_ptr<Conn>> conns;

  net::io_context ioc;
  // Serialises accepting and the shutdown steps (the acceptor and the timer
  // are used from several threads).
  net::strand<net::io_context::executor_type> control{ioc.get_executor()};
  tcp::acceptor acceptor{control};
  net::steady_timer grace{control};
  std::vector<std::thread> threads;

  std::optional<net::ssl::context> tls;

  Impl(Options o, Handler& h) : opt(std::move(o)), handler(h) {
    if (opt.tls_certificate.empty() != opt.tls_key.empty())
      throw Error(Errc::config, "HTTPS needs both a certificate and a private key");
    if (!opt.tls_certificate.empty()) {
      try {
        tls.emplace(make_tls_context(opt.tls_certificate, opt.tls_key));
      } catch (const std::exception& e) {
        throw Error(Errc::config, e.what());
      }
    }
  }

  struct Conn : std::enable_shared_from_this<Conn> {
    Impl& srv;
    ServerStream stream;
    beast::flat_buffer buffer;
    std::optional<bhttp::request_parser<bhttp::string_body>> parser;
    std::shared_ptr<bhttp::response<bhttp::string_body>> reply;
    std::string remote;
    bool idle = true;      // waiting for the next request head
    bool refused = false;  // answered before the request was read whole
    std::chrono::steady_clock::time_point started;
    std::string log_method, log_target;
    std::list<std::weak_ptr<Conn>>::iterator self_it;

    Conn(Impl& s, tcp::socket sock) : srv(s), stream(std::move(sock), s.tls ? &*s.tls : nullptr) {
      beast::error_code ec;
      auto ep = stream.socket().remote_endpoint(ec);
      remote = ec ? "-" : ep.address().to_string();
      ++srv.live;
    }
    ~Conn() {
      {
        std::lock_guard lock(srv.conns_mu);
        srv.conns.erase(self_it);
      }
      // Once the io_context has stopped (the grace period ran out, or it is
      // being destroyed with this connection pending) nothing waits on the timer.
      if (--srv.live == 0 && srv.stopping && !srv.ioc.stopped()) {
        net::post(srv.control, [&s = srv] { s.grace.cancel(); });
      }
    }

    // Over TLS the handshake comes first, within the time allowed for a head.
    void begin() {
      if (!stream.secure()) return read_head();
      stream.expires_after(srv.opt.header_timeout);
      stream.async_handshake([self = shared_from_this()](beast::error_code ec) {
        if (ec) return self->close();
        self->read_head();
      });
    }

    void read_head() {
      if (srv.stopping) return close();
      idle = true;
      parser.emplace();
      parser->header_limit(srv.opt.header_limit);
      // The body ceiling is the handler's, set once the head is known; until
      // then the parser must not apply its own default (1 MB).
      parser->body_limit(std::numeric_limits<std::uint64_t>::max());
      stream.expires_after(srv.opt.header_timeout);
      bhttp::async_read_header(stream, buffer, *parser,
                               [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                 self->on_head(ec);
                               });
    }

    void on_head(beast::error_code ec) {
      idle = false;
      if (ec) {
        if (ec == bhttp::error::header_limit) return fail_fast(431, "request header too large");
        if (ec != bhttp::error::end_of_stream && ec != net::error::operation_aborted &&
            ec != beast::error::timeout && ec != net::error::eof && ec != net::error::connection_reset)
          return fail_fast(400, "bad request");
        return close();
      }
      started = std::chrono::steady_clock::now();
      auto& req = parser->get();
      log_method = std::string(req.method_string());
      log_target = std::string(req.target());
      Message head = make_message(false);
      std::uint64_t limit = 0;
      try {
        limit = srv.handler.body_limit(head);
      } catch (...) {
        limit = 0;
      }
      auto len = parser->content_length();
      if ((len && *len > limit) || (!len && parser->chunked() && limit == 0))
        return fail_fast(413, "request body too large");
      parser->body_limit(limit);
      if (text::iequals(std::string(req[bhttp::field::expect]), "100-continue")) {
        auto cont = std::make_shared<bhttp::response<bhttp::empty_body>>(bhttp::status::continue_, 11);
        stream.expires_after(srv.opt.write_timeout);
        bhttp::async_write(stream, *cont,
                           [self = shared_from_this(), cont](beast::error_code ec, std::size_t) {
                             if (ec) return self->close();
                             self->read_body();
                           });
        return;
      }
      read_body();
    }

    void read_body() {
      stream.expires_after(srv.opt.body_timeout);
      bhttp::async_read(stream, buffer, *parser,
                        [self = shared_from_this()](beast::error_code ec, std::size_t) {
                          self->on_body(ec);
                        });
    }

    Message make_message(bool with_body) {
      auto& req = parser->get();
      Message m;
      m.method = std::string(req.method_string());
      m.target = std::string(req.target());
      for (const auto& f : req) m.headers.emplace_back(std::string(f.name_string()), std::string(f.value()));
      if (with_body) m.body = std::move(req.body());
      m.remote_addr = remote;
      m.secure = stream.secure();
      return m;
    }

    void on_body(beast::error_code ec) {
      if (ec) {
        if (ec == bhttp::error::body_limit) return fail_fast(413, "request body too large");
        return close();
      }
      bool keep = parser->get().keep_alive();
      unsigned version = parser->get().version();
      Message m = make_message(true);
      Reply r;
      try {
        r = srv.handler.handle(m);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "handler failed: %s\n", e.what());
        r = Reply{500, {{"Content-Type", "text/plain"}}, "internal error\n"};
      } catch (...) {  // must not end the worker thread
        std::fprintf(stderr, "handler failed\n");
        r = Reply{500, {{"Content-Type", "text/plain"}}, "internal error\n"};
      }
      if (m.method == "HEAD") {
        // The length of the body a GET would have got.
        r.headers.emplace_back("Content-Length", std::to_string(r.body.size()));
      }
      // A stop that began while the handler ran closes this connection too.
      send(std::move(r), keep && !srv.stopping, version, m.method == "HEAD");
    }

    void send(Reply r, bool keep, unsigned version, bool head_only) {
      auto res = std::make_shared<bhttp::response<bhttp::string_body>>();
      res->version(version ? version : 11);
      res->result(static_cast<unsigned>(r.status));
      res->set(bhttp::field::server, "deskhost");
      bool has_length = false;
      for (auto& [k, v] : r.headers) {
        if (text::iequals(k, "Content-Length")) has_length = true;
        res->insert(text::header_safe(k), text::header_safe(v));
      }
      std::size_t bytes = r.body.size();
      if (!head_only) res->body() = std::move(r.body);
      res->keep_alive(keep);
      if (!has_length) res->prepare_payload();
      if (srv.opt.access_log) {
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        access_log(remote, log_method, log_target, r.status, bytes, ms);
      }
      reply = res;
      stream.expires_after(srv.opt.write_timeout);
      bhttp::async_write(stream, *res,
                         [self = shared_from_this(), keep](beast::error_code ec, std::size_t) {
                           self->reply.reset();
                           if (!ec && self->refused) return self->linger();
                           if (ec || !keep) return self->close();
                           self->read_head();
                         });
    }

    // Answers an unreadable request and closes the connection.
    void fail_fast(int status, const char* why) {
      refused = true;
      started = std::chrono::steady_clock::now();
      if (log_method.empty()) log_method = "-";
      send(Reply{status, {{"Content-Type", "text/plain"}}, std::string(why) + "\n"}, false, 11, false);
    }

    void close() {
      beast::error_code ec;
      stream.socket().shutdown(tcp::socket::shutdown_both, ec);
      stream.socket().close(ec);
    }

    // Closing with unread input resets the connection, and a client still
    // sending its body would lose the answer. After a refusal the input is
    // discarded for a short while (2 s at most) before the close.
    void linger() {
      beast::error_code ec;
      stream.socket().shutdown(tcp::socket::shutdown_send, ec);
      stream.expires_after(std::chrono::seconds(2));
      discard(std::make_shared<std::array<char, 16 * 1024>>());
    }
    void discard(std::shared_ptr<std::array<char, 16 * 1024>> scratch) {
      auto done = [self = shared_from_this(), scratch](beast::error_code ec, std::size_t) {
        if (ec) return self->close();
        self->discard(scratch);
      };
      stream.async_read_some(net::buffer(*scratch), std::move(done));
    }
  };

  void accept() {
    acceptor.async_accept(net::make_strand(ioc), [this](beast::error_code ec, tcp::socket sock) {
      if (ec) {
        if (!stopping && acceptor.is_open()) accept();
        return;
      }
      auto c = std::make_shared<Conn>(*this, std::move(sock));
      {
        std::lock_guard lock(conns_mu);
        conns.push_front(c);
        c->self_it = conns.begin();
      }
      net::dispatch(c->stream.get_executor(), [c] { c->begin(); });
      accept();
    });
  }

  void begin_stop() {
    if (stopping.exchange(true)) return;
    net::post(control, [this] {
      beast::error_code ec;
      acceptor.close(ec);
      std::vector<std::shared_ptr<Conn>> open;
      {
        std::lock_guard lock(conns_mu);
        for (auto& w : conns)
          if (auto c = w.lock()) open.push_back(c);
      }
      for (auto& c : open) {
        net::post(c->stream.get_executor(), [c] {
          if (c->idle) c->close();
        });
      }
      if (live == 0) return;
      grace.expires_after(opt.shutdown_grace);
      grace.async_wait([this](beast::error_code e) {
        if (!e) ioc.stop();  // the grace period ran out
      });
    });
  }
};

Server::Server(Options options, Handler& handler)
    : impl_(std::make_unique<Impl>(std::move(options), handler)) {}

Server::~Server() {
  if (!impl_->threads.empty()) {
    stop();
    for (auto& t : impl_->threads)
      if (t.joinable()) t.join();
  }
}

void Server::listen() {
  auto& a = impl_->acceptor;
  beast::error_code ec;
  auto addr = net::ip::make_address(impl_->opt.host, ec);
  if (ec) throw Error(Errc::config, "bad listen address " + impl_->opt.host);
  tcp::endpoint ep(addr, impl_->opt.port);
  a.open(ep.protocol(), ec);
  if (!ec) a.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) a.bind(ep, ec);
  if (!ec) a.listen(net::socket_base::max_listen_connections, ec);
  if (ec) throw Error(Errc::io, "cannot listen on " + impl_->opt.host + ":" + std::to_string(impl_->opt.port) + ": " + ec.message());
}

unsigned short Server::port() const { return impl_->acceptor.local_endpoint().port(); }

void Server::start() {
  unsigned n = impl_->opt.threads ? impl_->opt.threads : std::max(1u, std::thread::hardware_concurrency());
  impl_->accept();
  for (unsigned i = 0; i < n; ++i) impl_->threads.emplace_back([this] { impl_->ioc.run(); });
}

void Server::run(bool signals) {
  std::optional<net::signal_set> sigs;
  if (signals) {
    sigs.emplace(impl_->ioc, SIGINT, SIGTERM);
    sigs->async_wait([this](beast::error_code ec, int) {
      if (!ec) {
        std::fprintf(stderr, "deskhost: shutting down\n");
        impl_->begin_stop();
      }
    });
  }
  start();
  for (auto& t : impl_->threads) t.join();
  impl_->threads.clear();
}

void Server::stop() {
  impl_->begin_stop();
  // A pending signal wait keeps the loop alive; stop() is only used without it.
}

}  // namespace desk::http
