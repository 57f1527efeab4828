#include "platform/http/http.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "core/error.h"
#include "core/text.h"
#include "platform/http/stream.h"

namespace desk::http {

namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using SteadyClock = std::chrono::steady_clock;

std::string Message::header(std::string_view name) const {
  for (const auto& [k, v] : headers)
    if (text::iequals(k, name)) return v;
  return "";
}

void Handler::handle_async(Message request, Done done) {
  done(handle(request));
}

Reply Handler::busy() {
  return Reply{
      503, {{"Content-Type", "text/plain"}, {"Retry-After", "5"}}, "server busy, try again\n"};
}

namespace {

std::mutex log_mu;

void log_line(const char* fmt, ...) {
  std::lock_guard lock(log_mu);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
}

Reply internal_error() {
  return Reply{500, {{"Content-Type", "text/plain"}}, "internal error\n"};
}

// Descriptors kept free for database and static files, logs and the like
// when the connection ceiling is fitted to the descriptor limit.
constexpr unsigned kReservedDescriptors = 64;
// Refused connections still being answered; beyond this they are closed
// without an answer.
constexpr int kMaxRefusing = 64;

}  // namespace

struct Server::Impl {
  Options opt;
  Handler& handler;
  unsigned max_conns = 0;
  // Declared before the io_context: connections still pending when the
  // grace period ran out are destroyed with it and unregister themselves.
  std::atomic<bool> stopping{false};
  std::atomic<int> live{0};  // every Conn, refused ones included
  std::atomic<int> refusing{0};
  struct Conn;
  std::mutex conns_mu;  // guards conns, admitted and per_address
  std::list<std::weak_ptr<Conn>> conns;
  unsigned admitted = 0;
  std::unordered_map<std::string, unsigned> per_address;
  std::atomic<std::uint64_t> n_accepted{0}, n_refused{0}, n_accept_failures{0}, n_faults{0},
      n_evicted{0};
  std::atomic<bool> trim_pending{false};

  net::io_context ioc;
  // Serialises accepting, the timers and the shutdown steps.
  net::strand<net::io_context::executor_type> control{ioc.get_executor()};
  tcp::acceptor acceptor{control};
  net::steady_timer grace{control};
  net::steady_timer accept_pause{control};
  net::steady_timer trim_timer{control};
  std::chrono::milliseconds backoff{0};
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
    bool admitted = false;  // counted against the ceilings
    // Since when the connection waits for a request head (its TLS handshake
    // included), in steady-clock ticks; 0 while a request is under way.
    std::atomic<SteadyClock::rep> waiting_since{SteadyClock::now().time_since_epoch().count()};
    std::atomic<bool> evicted{false};  // gave its place to a newcomer: no further request
    bool idle = true;                  // waiting for the next request head
    bool reading_body = false;
    bool answering = false;        // the request was read; its answer is under way
    bool refused = false;          // answered before the request was read whole
    std::uint64_t body_bytes = 0;  // received for the body of this request
    SteadyClock::time_point started;
    std::string log_method, log_target;
    bool keep = false, head_only = false;
    unsigned version = 11;
    std::list<std::weak_ptr<Conn>>::iterator self_it;

    Conn(Impl& s, tcp::socket sock, std::string addr)
        : srv(s), stream(std::move(sock), s.tls ? &*s.tls : nullptr), remote(std::move(addr)) {
      ++srv.live;
    }
    ~Conn() {
      {
        std::lock_guard lock(srv.conns_mu);
        srv.conns.erase(self_it);
        if (admitted) {
          --srv.admitted;
          auto it = srv.per_address.find(remote);
          if (it != srv.per_address.end() && --it->second == 0) srv.per_address.erase(it);
        }
      }
      if (refused && !admitted) --srv.refusing;
      // Once the io_context has stopped (the grace period ran out, or it is
      // being destroyed with this connection pending) nothing waits on the timer.
      if (--srv.live == 0 && srv.stopping && !srv.ioc.stopped()) {
        net::post(srv.control, [&s = srv] { s.grace.cancel(); });
      }
    }

    // Runs one step of this connection; an exception ends the connection
    // (answered 400 while the request is still being read), never the process.
    template <class F>
    void guarded(F&& step) {
      try {
        step();
      } catch (const std::exception& e) {
        fault(e.what());
      } catch (...) {
        fault("unknown exception");
      }
    }
    void fault(const char* what) {
      ++srv.n_faults;
      log_line("deskhost: connection from %s dropped: %s", remote.c_str(), what);
      if (!answering && !refused && parser && parser->got_some()) {
        try {
          return fail_fast(400, "bad request");
        } catch (...) {
        }
      }
      close();
    }

    // Over TLS the handshake comes first, within the time allowed for a head.
    void begin() {
      if (!stream.secure()) return read_head();
      stream.expires_after(srv.opt.header_timeout);
      stream.async_handshake([self = shared_from_this()](beast::error_code ec) {
        if (ec) return self->close();
        self->guarded([&] { self->read_head(); });
      });
    }

    void read_head() {
      if (srv.stopping || evicted) return close();
      idle = true;
      waiting_since = SteadyClock::now().time_since_epoch().count();
      reading_body = false;
      answering = false;
      body_bytes = 0;
      parser.emplace();
      parser->header_limit(srv.opt.header_limit);
      // The body ceiling is the handler's, set once the head is known; until
      // then the parser must not apply its own default (1 MB).
      parser->body_limit(std::numeric_limits<std::uint64_t>::max());
      stream.expires_after(srv.opt.header_timeout);
      pump();
    }

    // Feeds buffered bytes to the parser until the head (or the whole
    // request) is there, reading more as needed.
    void pump() {
      beast::error_code ec;
      while (!(reading_body ? parser->is_done() : parser->is_header_done())) {
        if (buffer.size() == 0) return read_more();
        std::size_t used = parser->put(buffer.data(), ec);
        buffer.consume(used);
        if (ec == bhttp::error::need_more || (!ec && used == 0)) {
          ec = {};
          return read_more();
        }
        if (ec) break;
      }
      if (reading_body) return on_body(ec);
      on_head(ec);
    }

    SteadyClock::time_point body_deadline() const {
      auto allowed = std::chrono::duration_cast<SteadyClock::duration>(srv.opt.body_timeout);
      if (srv.opt.body_min_rate > 0) {
        auto paced = srv.opt.body_grace +
                     std::chrono::milliseconds(body_bytes * 1000 / srv.opt.body_min_rate);
        allowed = std::min(allowed, std::chrono::duration_cast<SteadyClock::duration>(paced));
      }
      return started + allowed;
    }

    void read_more() {
      if (reading_body) stream.expires_at(body_deadline());
      auto space = buffer.prepare(64 * 1024);
      stream.async_read_some(space,
                             [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                               self->guarded([&] { self->on_read(ec, n); });
                             });
    }

    void on_read(beast::error_code ec, std::size_t n) {
      buffer.commit(n);
      if (reading_body) body_bytes += n;
      if (ec == net::error::eof) {
        if (!parser->got_some()) {
          ec = bhttp::error::end_of_stream;
        } else {
          ec = {};
          parser->put_eof(ec);
          if (!ec) return pump();
        }
      }
      if (ec) return reading_body ? on_body(ec) : on_head(ec);
      pump();
    }

    void on_head(beast::error_code ec) {
      idle = false;
      waiting_since = 0;
      if (ec) {
        if (ec == bhttp::error::header_limit) return fail_fast(431, "request header too large");
        if (ec != bhttp::error::end_of_stream && ec != net::error::operation_aborted &&
            ec != beast::error::timeout && ec != net::error::eof &&
            ec != net::error::connection_reset)
          return fail_fast(400, "bad request");
        return close();
      }
      started = SteadyClock::now();
      auto& req = parser->get();
      log_method = std::string(req.method_string());
      log_target = std::string(req.target());
      // HTTP/1.1 requires exactly one Host.
      if (req.version() >= 11 && req.count(bhttp::field::host) != 1)
        return fail_fast(400, "bad request: Host");
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
      parser->eager(true);
      reading_body = true;
      if (text::iequals(std::string(req[bhttp::field::expect]), "100-continue") &&
          !parser->is_done()) {
        auto cont =
            std::make_shared<bhttp::response<bhttp::empty_body>>(bhttp::status::continue_, 11);
        stream.expires_after(srv.opt.write_timeout);
        bhttp::async_write(stream, *cont,
                           [self = shared_from_this(), cont](beast::error_code ec, std::size_t) {
                             if (ec) return self->close();
                             self->guarded([&] { self->pump(); });
                           });
        return;
      }
      pump();
    }

    Message make_message(bool with_body) {
      auto& req = parser->get();
      Message m;
      m.method = std::string(req.method_string());
      m.target = std::string(req.target());
      for (const auto& f : req)
        m.headers.emplace_back(std::string(f.name_string()), std::string(f.value()));
      if (with_body) m.body = std::move(req.body());
      m.remote_addr = remote;
      m.secure = stream.secure();
      return m;
    }

    void on_body(beast::error_code ec) {
      if (ec) {
        if (ec == bhttp::error::body_limit) return fail_fast(413, "request body too large");
        if (ec == beast::error::timeout || ec == net::error::operation_aborted ||
            ec == net::error::eof || ec == net::error::connection_reset ||
            ec == bhttp::error::end_of_stream || ec == bhttp::error::partial_message)
          return close();
        return fail_fast(400, "bad request");
      }
      keep = parser->get().keep_alive();
      version = parser->get().version();
      Message m = make_message(true);
      head_only = m.method == "HEAD";
      answering = true;
      auto once = std::make_shared<std::atomic<bool>>(false);
      Done done = [self = shared_from_this(), once](Reply r) {
        if (once->exchange(true)) return;
        net::dispatch(self->stream.get_executor(), [self, r = std::move(r)]() mutable {
          self->guarded([&] { self->answer(std::move(r)); });
        });
      };
      try {
        srv.handler.handle_async(std::move(m), done);
      } catch (const std::exception& e) {
        log_line("handler failed: %s", e.what());
        done(internal_error());
      } catch (...) {  // must not end the worker thread
        log_line("handler failed");
        done(internal_error());
      }
    }

    void answer(Reply r) {
      if (head_only) {
        // The length of the body a GET would have got.
        r.headers.emplace_back("Content-Length",
                               std::to_string(r.file ? r.file->size : r.body.size()));
      }
      // A stop that began while the handler ran closes this connection too.
      send(std::move(r), keep && !srv.stopping, version, head_only);
    }

    void send(Reply r, bool keep_open, unsigned ver, bool head) {
      if (r.file) return send_file(std::move(r), keep_open, ver, head);
      auto res = std::make_shared<bhttp::response<bhttp::string_body>>();
      res->version(ver ? ver : 11);
      res->result(static_cast<unsigned>(r.status));
      res->set(bhttp::field::server, "deskhost");
      bool has_length = false;
      for (auto& [k, v] : r.headers) {
        if (text::iequals(k, "Content-Length")) has_length = true;
        res->insert(text::header_safe(k), text::header_safe(v));
      }
      std::size_t bytes = r.body.size();
      if (!head) res->body() = std::move(r.body);
      res->keep_alive(keep_open);
      if (!has_length) res->prepare_payload();
      if (srv.opt.access_log) {
        double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - started).count();
        log_line("%s \"%s %s\" %d %zu %.1fms", remote.c_str(), log_method.c_str(),
                 text::header_safe(log_target).c_str(), r.status, bytes, ms);
      }
      bool big = std::max<std::uint64_t>(bytes, body_bytes) >= srv.opt.trim_threshold;
      reply = res;
      stream.expires_after(srv.opt.write_timeout);
      bhttp::async_write(
          stream, *res,
          [self = shared_from_this(), keep_open, big](beast::error_code ec, std::size_t) {
            self->reply.reset();
            if (big) self->srv.schedule_trim();
            if (!ec && self->refused) return self->linger();
            if (ec || !keep_open) return self->close();
            self->guarded([&] { self->read_head(); });
          });
    }

    // Sends a reply whose body is a file: the head, then the file's bytes
    // straight from the file to the socket (read in pieces over TLS).
    void send_file(Reply r, bool keep_open, unsigned ver, bool head) {
      auto res = std::make_shared<bhttp::response<bhttp::empty_body>>();
      res->version(ver ? ver : 11);
      res->result(static_cast<unsigned>(r.status));
      res->set(bhttp::field::server, "deskhost");
      for (auto& [k, v] : r.headers)
        if (!text::iequals(k, "Content-Length"))
          res->insert(text::header_safe(k), text::header_safe(v));
      res->content_length(r.file->size);
      res->keep_alive(keep_open);
      std::uint64_t bytes = r.file->size;
      if (srv.opt.access_log) {
        double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - started).count();
        log_line("%s \"%s %s\" %d %llu %.1fms", remote.c_str(), log_method.c_str(),
                 text::header_safe(log_target).c_str(), r.status,
                 static_cast<unsigned long long>(bytes), ms);
      }
      auto file = head ? nullptr : r.file;
      stream.expires_after(srv.opt.write_timeout);
      // The serializer writes the head only: an empty body with the file's length.
      auto sr = std::make_shared<bhttp::response_serializer<bhttp::empty_body>>(*res);
      bhttp::async_write_header(
          stream, *sr,
          [self = shared_from_this(), res, sr, file, keep_open](beast::error_code ec, std::size_t) {
            if (ec) return self->close();
            if (!file) return self->sent(keep_open, false);
            self->guarded([&] { self->send_file_bytes(file, 0, keep_open); });
          });
    }

    // After a reply: the next request, or the end of the connection.
    void sent(bool keep_open, bool big) {
      reply.reset();
      if (big) srv.schedule_trim();
      if (refused) return linger();
      if (!keep_open) return close();
      guarded([&] { read_head(); });
    }

    void send_file_bytes(std::shared_ptr<const FileBody> file, std::uint64_t offset,
                         bool keep_open) {
      if (stream.secure()) return send_file_pieces(std::move(file), offset, keep_open);
      auto& sock = stream.socket();
      beast::error_code ec;
      sock.native_non_blocking(true, ec);
      if (ec) return close();
      while (offset < file->size) {
        off_t off = static_cast<off_t>(offset);
        std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(file->size - offset, 1u << 30));
        ssize_t n = ::sendfile(sock.native_handle(), file->fd, &off, want);
        if (n > 0) {
          offset += static_cast<std::uint64_t>(n);
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
          // Waits for room in the socket, within the write deadline.
          auto timer = std::make_shared<net::steady_timer>(stream.get_executor());
          timer->expires_after(srv.opt.write_timeout);
          timer->async_wait([self = shared_from_this()](beast::error_code e) {
            if (!e) self->close();
          });
          sock.async_wait(tcp::socket::wait_write, [self = shared_from_this(), file, offset,
                                                    keep_open, timer](beast::error_code e) {
            timer->cancel();
            if (e) return self->close();
            self->guarded([&] { self->send_file_bytes(file, offset, keep_open); });
          });
          return;
        }
        // The file shrank or cannot be read: the client must not take what it
        // got for the whole file.
        return close();
      }
      sent(keep_open, false);
    }

    void send_file_pieces(std::shared_ptr<const FileBody> file, std::uint64_t offset,
                          bool keep_open) {
      if (offset >= file->size) return sent(keep_open, false);
      auto piece = std::make_shared<std::string>(
          static_cast<std::size_t>(std::min<std::uint64_t>(file->size - offset, 256 * 1024)), '\0');
      ssize_t n;
      do {
        n = ::pread(file->fd, piece->data(), piece->size(), static_cast<off_t>(offset));
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return close();
      piece->resize(static_cast<std::size_t>(n));
      stream.expires_after(srv.opt.write_timeout);
      net::async_write(
          stream, net::buffer(*piece),
          [self = shared_from_this(), file, piece, offset, keep_open](beast::error_code ec,
                                                                      std::size_t) {
            if (ec) return self->close();
            self->guarded([&] { self->send_file_pieces(file, offset + piece->size(), keep_open); });
          });
    }

    // Answers an unreadable request and closes the connection.
    void fail_fast(int status, const char* why) {
      refused = true;
      started = SteadyClock::now();
      if (log_method.empty()) log_method = "-";
      send(Reply{status, {{"Content-Type", "text/plain"}}, std::string(why) + "\n"}, false, 11,
           false);
    }

    // Answers a connection over a ceiling before reading anything.
    void refuse() {
      refused = true;
      started = SteadyClock::now();
      log_method = "-";
      send(srv.handler.busy(), false, 11, false);
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

  // Hands memory freed by large bodies back to the system, at most once a second.
  void schedule_trim() {
    if (trim_pending.exchange(true)) return;
    net::post(control, [this] {
      if (stopping) return;
      trim_timer.expires_after(std::chrono::seconds(1));
      trim_timer.async_wait([this](beast::error_code ec) {
        trim_pending = false;
        if (!ec) malloc_trim(0);
      });
    });
  }

  void accept() {
    acceptor.async_accept(net::make_strand(ioc), [this](beast::error_code ec, tcp::socket sock) {
      if (ec) return on_accept_error(ec);
      backoff = std::chrono::milliseconds(0);
      try {
        admit(std::move(sock));
      } catch (const std::exception& e) {
        ++n_faults;
        log_line("deskhost: accepting a connection failed: %s", e.what());
      }
      accept();
    });
  }

  // Without descriptors (or memory) accepting fails at once and would spin:
  // wait, longer each time up to a second, and try again.
  void on_accept_error(beast::error_code ec) {
    if (stopping || !acceptor.is_open()) return;
    int e = ec.value();
    bool short_of_resources = ec.category() == boost::system::system_category() &&
                              (e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM);
    if (!short_of_resources) return accept();
    ++n_accept_failures;
    if (backoff.count() == 0)
      log_line("deskhost: cannot accept connections: %s", ec.message().c_str());
    backoff = std::min<std::chrono::milliseconds>(
        std::max(backoff * 2, std::chrono::milliseconds(50)), std::chrono::seconds(1));
    accept_pause.expires_after(backoff);
    accept_pause.async_wait([this](beast::error_code e2) {
      if (!e2 && !stopping && acceptor.is_open()) accept();
    });
  }

  void admit(tcp::socket sock) {
    beast::error_code ec;
    auto ep = sock.remote_endpoint(ec);
    std::string addr = ec ? "-" : ep.address().to_string();
    bool over = false;
    std::shared_ptr<Conn> evicted;
    std::vector<std::shared_ptr<Conn>> seen;  // released after the lock
    {
      std::lock_guard lock(conns_mu);
      unsigned& mine = per_address[addr];
      bool over_mine = opt.max_connections_per_address && mine >= opt.max_connections_per_address;
      over = (max_conns && admitted >= max_conns) || over_mine;
      if (over) {
        evicted = longest_waiting(over_mine ? &addr : nullptr, seen);
        if (evicted) {
          // The newcomer takes the place at once; the one evicted is closed
          // on its own strand and no longer counts.
          evicted->admitted = false;
          --admitted;
          if (--per_address[evicted->remote] == 0 && evicted->remote != addr)
            per_address.erase(evicted->remote);
          over = false;
        }
      }
      if (!over) {
        ++admitted;
        ++mine;
      } else if (mine == 0) {
        per_address.erase(addr);
      }
    }
    if (evicted) {
      ++n_evicted;
      net::post(evicted->stream.get_executor(), [evicted] {
        // A head that arrived meanwhile is served; the connection ends after it.
        if (evicted->idle) evicted->close();
      });
    }
    if (over) {
      ++n_refused;
      if (refusing >= kMaxRefusing) return;  // the socket closes here, unanswered
      ++refusing;
    } else {
      ++n_accepted;
    }
    auto c = std::make_shared<Conn>(*this, std::move(sock), std::move(addr));
    c->admitted = !over;
    c->refused = over;
    {
      std::lock_guard lock(conns_mu);
      conns.push_front(c);
      c->self_it = conns.begin();
    }
    net::dispatch(c->stream.get_executor(), [c, over] {
      c->guarded([&] {
        // Over TLS a refusal would need a handshake first: the connection
        // is closed unanswered instead.
        if (over) return c->stream.secure() ? c->close() : c->refuse();
        c->begin();
      });
    });
  }

  // The admitted connection (of `addr` when given) that has waited longest
  // for a request head, at least evict_after; null when there is none. It
  // stops waiting here, so it is chosen once. Called with conns_mu held.
  // The connections looked at are kept in `seen`, so that none is destroyed
  // (which takes conns_mu) while the lock is held.
  std::shared_ptr<Conn> longest_waiting(const std::string* addr,
                                        std::vector<std::shared_ptr<Conn>>& seen) {
    const auto latest = (SteadyClock::now() - opt.evict_after).time_since_epoch().count();
    Conn* best = nullptr;
    SteadyClock::rep best_since = 0;
    for (auto& w : conns) {
      auto c = w.lock();
      if (!c || !c->admitted || (addr && c->remote != *addr)) continue;
      auto since = c->waiting_since.load();
      seen.push_back(std::move(c));
      if (since == 0 || since > latest || (best && since >= best_since)) continue;
      best = seen.back().get();
      best_since = since;
    }
    if (!best) return nullptr;
    best->waiting_since = 0;
    best->evicted = true;
    return best->shared_from_this();
  }

  void begin_stop() {
    if (stopping.exchange(true)) return;
    net::post(control, [this] {
      beast::error_code ec;
      acceptor.close(ec);
      accept_pause.cancel();
      trim_timer.cancel();
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

  // One I/O thread. Exceptions that escape a completion handler are
  // logged and the loop goes on: they end that connection, not the process.
  void run_thread() {
    for (;;) {
      try {
        ioc.run();
        return;
      } catch (const std::exception& e) {
        ++n_faults;
        log_line("deskhost: request handling failed: %s", e.what());
      } catch (...) {
        ++n_faults;
        log_line("deskhost: request handling failed");
      }
    }
  }

  void join_all() {
    for (auto& t : threads)
      if (t.joinable()) t.join();
    threads.clear();
    handler.drain();
  }
};

Server::Server(Options options, Handler& handler)
    : impl_(std::make_unique<Impl>(std::move(options), handler)) {}

Server::~Server() {
  if (!impl_->threads.empty()) {
    stop();
    impl_->join_all();
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
  if (ec)
    throw Error(Errc::io, "cannot listen on " + impl_->opt.host + ":" +
                              std::to_string(impl_->opt.port) + ": " + ec.message());

  // Each connection takes a descriptor: the ceiling stays below the limit.
  unsigned max = impl_->opt.max_connections;
  rlimit rl{};
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
    auto fit = static_cast<unsigned>(std::min<rlim_t>(rl.rlim_cur > 2 * kReservedDescriptors
                                                          ? rl.rlim_cur - kReservedDescriptors
                                                          : rl.rlim_cur / 2,
                                                      std::numeric_limits<unsigned>::max()));
    if (max == 0 || max > fit) max = fit;
  }
  impl_->max_conns = max;
}

unsigned short Server::port() const {
  return impl_->acceptor.local_endpoint().port();
}

unsigned Server::max_connections() const {
  return impl_->max_conns;
}

void Server::start() {
  unsigned n =
      impl_->opt.threads ? impl_->opt.threads : std::max(1u, std::thread::hardware_concurrency());
  net::post(impl_->control, [this] { impl_->accept(); });
  for (unsigned i = 0; i < n; ++i) impl_->threads.emplace_back([this] { impl_->run_thread(); });
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
  impl_->join_all();
}

void Server::stop() {
  impl_->begin_stop();
  // A pending signal wait keeps the loop alive; stop() is only used without it.
}

Stats Server::stats() const {
  Stats s;
  s.accepted = impl_->n_accepted;
  s.refused = impl_->n_refused;
  s.evicted = impl_->n_evicted;
  s.accept_failures = impl_->n_accept_failures;
  s.faults = impl_->n_faults;
  std::lock_guard lock(impl_->conns_mu);
  s.open = impl_->admitted;
  return s;
}

}  // namespace desk::http
