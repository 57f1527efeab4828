#include "platform/serial/fake_port.h"

#include <algorithm>

#include "core/error.h"

namespace desk::serial {

class FakePort : public Port {
 public:
  explicit FakePort(FakeLine& line) : line_(line) {}
  ~FakePort() override { close(); }

  void write(std::string_view bytes, int) override {
    if (closed_) throw Error(Errc::io, "fake port is closed");
    const std::int64_t now = line_.ticker_->now_ms();
    if (static_cast<int>(line_.writes.size()) == line_.fail_write)
      throw Error(Errc::io, "cannot write to " + line_.opened_with.device + ": fake failure");
    line_.writes.push_back({now, std::string(bytes)});
    if (!line_.responder_) return;
    for (auto& r : line_.responder_(bytes)) pending_.push_back({now + r.delay_ms, r.bytes});
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const Due& a, const Due& b) { return a.at < b.at; });
  }

  std::string read(int timeout_ms) override {
    if (closed_) throw Error(Errc::io, "fake port is closed");
    const std::int64_t now = line_.ticker_->now_ms();
    if (pending_.empty() || pending_.front().at > now + timeout_ms) {
      line_.ticker_->advance(timeout_ms);
      return "";
    }
    const std::int64_t at = std::max(now, pending_.front().at);
    line_.ticker_->advance(at - now);
    std::string out;
    while (!pending_.empty() && pending_.front().at <= at) {
      out += pending_.front().bytes;
      pending_.erase(pending_.begin());
    }
    return out;
  }

  void close() override {
    if (closed_) return;
    closed_ = true;
    ++line_.closes;
    line_.closed_at = line_.ticker_->now_ms();
  }

 private:
  struct Due {
    std::int64_t at;
    std::string bytes;
  };
  FakeLine& line_;
  std::vector<Due> pending_;
  bool closed_ = false;
};

FakeLine::FakeLine(std::shared_ptr<ManualTicker> ticker, Responder responder)
    : ticker_(std::move(ticker)), responder_(std::move(responder)) {}

Opener FakeLine::opener() {
  return [this](const Settings& s) -> std::unique_ptr<Port> {
    if (!open_error.empty()) throw Error(Errc::io, open_error);
    ++opens;
    opened_with = s;
    return std::make_unique<FakePort>(*this);
  };
}

}  // namespace desk::serial
