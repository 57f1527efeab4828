#include "web/companion.h"

#include <signal.h>
#include <sodium.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <future>

#include "web/calls.h"
#include "web/docx_word.h"
#include "web/office.h"
#include "web/pane.h"

extern char** environ;

namespace desk::web {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kHelperVersion = "1";
constexpr int kMaxWrongCodes = 5;
constexpr std::size_t kMaxInstances = 32;
constexpr Millis kSyncInterval{500};

std::string hex(const unsigned char* p, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

std::string hash_of(const std::string& token) {
  unsigned char h[32];
  crypto_generichash(h, sizeof h, reinterpret_cast<const unsigned char*>(token.data()),
                     token.size(), nullptr, 0);
  return hex(h, sizeof h);
}

http::Reply json_reply(int status, const json& body) {
  return {status,
          {{"Content-Type", "application/json; charset=utf-8"}, {"Cache-Control", "no-store"}},
          // A file name that is not UTF-8 must not end the answer.
          body.dump(-1, ' ', false, json::error_handler_t::replace)};
}

http::Reply refusal(int status, const std::string& why) {
  return json_reply(status, json{{"error", why}});
}

// Writes `text` to `file` readable by the user only.
void write_private(const fs::path& file, const std::string& text) {
  fs::path tmp = file;
  tmp += ".new";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + tmp.string());
  }
  ::chmod(tmp.c_str(), 0600);
  fs::rename(tmp, file);
}

// Message boxes of one call, handed to the page with its answer; notes go to
// the helper's log.
class CallMessages final : public MessageSink {
 public:
  void show(const std::string& text, const std::string& title) override {
    boxes.push_back({{"title", title}, {"text", text}});
  }
  void note(const std::string& text) override {
    std::fprintf(stderr, "officectl: %s\n", text.c_str());
  }
  json boxes = json::array();
};

}  // namespace

// One control, for one page.
struct Companion::Instance {
  Instance(MessageLoop& loop, const PathMap& paths, const CompanionOptions& o)
      : word(std::make_shared<DocxWord>(DocxWordOptions{paths.work(), {}, {}, {}})),
        pane(loop, *word, paths, http, messages),
        control({pane, word, messages, loop, focus, paths, &http, o.ftp, o.reader}),
        timer(loop.new_timer()) {
    http.connect_timeout_ms = o.connect_timeout_ms;
    http.timeout_ms = o.timeout_ms;
    http.ca_file = o.ca_file;
    // The page cannot answer a dialog in the middle of a call.
    word->page_setup_dialog = [](const docx::PageSetup&) -> std::optional<docx::PageSetup> {
      return std::nullopt;
    };
  }
  CallMessages messages;
  FocusedWindow focus;
  HttpClient http;
  std::shared_ptr<DocxWord> word;
  FetchingPane pane;
  office control;
  int timer;
  fs::path shown;  // the file last opened in the editor
  std::vector<pid_t> editors;
  std::chrono::steady_clock::time_point used = std::chrono::steady_clock::now();

  json props() const {
    return {{"ftpip", control.ftpip},         {"Port", control.Port},
            {"username", control.username},   {"Password", control.Password},
            {"localfile", control.localfile}, {"result1", control.result1},
            {"opentype", control.opentype},   {"retmsg", control.retmsg},
            {"ErrorMsg", control.ErrorMsg},   {"app", bool(control.app)},
            {"curdoc", bool(control.curdoc)}, {"docname", control.docname()}};
  }
  void set_props(const json& p) {
    if (!p.is_object()) return;
    for (const auto& [name, value] : p.items()) {
      if (std::string* t = text_property(control, name); t && value.is_string()) {
        *t = value.get<std::string>();
      } else if (name == "Port" && value.is_number_integer()) {
        control.Port = static_cast<std::int16_t>(value.get<int>());
      } else if (name == "result1" && value.is_boolean()) {
        control.result1 = value.get<bool>();
      }
    }
  }
};

Companion::Companion(CompanionOptions options, MessageLoop& loop)
    : opt_(std::move(options)), loop_(loop), paths_(opt_.drives, opt_.work) {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
  fs::create_directories(opt_.state);
  ::chmod(opt_.state.c_str(), 0700);
  std::ifstream in(opt_.state / "pairings.json");
  if (in) {
    try {
      json j = json::parse(in);
      if (j.value("origin", "") == opt_.origin)
        for (const auto& h : j.value("tokens", json::array())) token_hashes_.push_back(h);
    } catch (const json::exception& e) {
      std::fprintf(stderr, "officectl: ignoring %s: %s\n", (opt_.state / "pairings.json").c_str(),
                   e.what());
    }
  }
  new_code();
}

Companion::~Companion() {
  for (auto& [id, in] : instances_) loop_.stop_timer(in->timer);
}

std::string Companion::pairing_code() const {
  std::lock_guard lock(mu_);
  return code_;
}

void Companion::new_code() {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08u", randombytes_uniform(100000000));
  code_ = buf;
  wrong_codes_ = 0;
  write_private(opt_.state / "pairing-code", code_ + "\n");
  if (opt_.announce) opt_.announce(code_);
}

void Companion::save_pairings() const {
  write_private(opt_.state / "pairings.json",
                json{{"origin", opt_.origin}, {"tokens", token_hashes_}}.dump(2) + "\n");
}

bool Companion::paired(const http::Message& m) const {
  std::string token = m.header("X-Office-Pairing");
  if (token.size() != 64) return false;
  std::string h = hash_of(token);
  std::lock_guard lock(mu_);
  bool found = false;
  for (const auto& known : token_hashes_)
    if (known.size() == h.size() && sodium_memcmp(known.data(), h.data(), h.size()) == 0)
      found = true;
  return found;
}

std::uint64_t Companion::body_limit(const http::Message&) {
  return 256 * 1024;
}

template <typename F>
auto Companion::on_loop(F&& f) -> decltype(f()) {
  using R = decltype(f());
  auto task = std::make_shared<std::packaged_task<R()>>(std::forward<F>(f));
  auto done = task->get_future();
  loop_.post([task] { (*task)(); });
  return done.get();
}

http::Reply Companion::handle(http::Message& m) {
  const std::string port = std::to_string(port_);
  const std::string host = m.header("Host");
  // Requests from any other site, or through a name that is not this
  // address, get no CORS headers and change nothing.
  if ((host != "127.0.0.1:" + port && host != "localhost:" + port) ||
      m.header("Origin") != opt_.origin)
    return refusal(403, "this helper serves " + opt_.origin + " only");
  http::Reply r;
  if (m.method == "OPTIONS") {
    r.status = 204;
    r.headers = {{"Access-Control-Allow-Methods", "POST"},
                 {"Access-Control-Allow-Headers", "Content-Type, X-Office-Pairing"},
                 {"Access-Control-Max-Age", "600"}};
    if (m.header("Access-Control-Request-Private-Network") == "true")
      r.headers.emplace_back("Access-Control-Allow-Private-Network", "true");
  } else if (m.method != "POST") {
    r = refusal(405, "POST only");
  } else {
    std::string path = m.target.substr(0, m.target.find('?'));
    try {
      r = route(path, m.body, paired(m));
    } catch (const json::exception& e) {
      r = refusal(400, std::string("bad request: ") + e.what());
    }
  }
  r.headers.emplace_back("Access-Control-Allow-Origin", opt_.origin);
  r.headers.emplace_back("Vary", "Origin");
  return r;
}

http::Reply Companion::route(const std::string& path, const std::string& body, bool is_paired) {
  json in = body.empty() ? json::object() : json::parse(body);
  if (in.is_null()) in = json::object();
  if (!in.is_object()) return refusal(400, "bad request");
  if (path == "/hello")
    return json_reply(200, {{"paired", is_paired}, {"version", kHelperVersion}});
  if (path == "/pair") {
    std::string code = in.value("code", "");
    std::lock_guard lock(mu_);
    if (code.size() != code_.size() ||
        sodium_memcmp(code.data(), code_.data(), code_.size()) != 0) {
      if (++wrong_codes_ >= kMaxWrongCodes) new_code();
      return refusal(403, "wrong pairing code");
    }
    unsigned char raw[32];
    randombytes_buf(raw, sizeof raw);
    std::string token = hex(raw, sizeof raw);
    token_hashes_.push_back(hash_of(token));
    save_pairings();
    new_code();  // a code pairs one browser
    return json_reply(200, {{"token", token}});
  }
  if (!is_paired) return refusal(401, "not paired");

  if (path == "/control") {
    return on_loop([&] {
      if (instances_.size() >= kMaxInstances) {
        // The control unused the longest goes.
        auto oldest = instances_.begin();
        for (auto it = instances_.begin(); it != instances_.end(); ++it)
          if (it->second->used < oldest->second->used) oldest = it;
        loop_.stop_timer(oldest->second->timer);
        instances_.erase(oldest);
      }
      int id = next_id_++;
      auto made = std::make_unique<Instance>(loop_, paths_, opt_);
      Instance& inst = *made;
      instances_.emplace(id, std::move(made));
      loop_.start_timer(inst.timer, kSyncInterval, [this, &inst] { sync(inst); });
      return json_reply(200, {{"id", id}});
    });
  }

  const int id = in.value("id", 0);
  return on_loop([&]() -> http::Reply {
    auto it = instances_.find(id);
    if (it == instances_.end()) return refusal(404, "no such control");
    Instance& inst = *it->second;
    inst.used = std::chrono::steady_clock::now();
    if (path == "/close") {
      loop_.stop_timer(inst.timer);
      try {
        inst.word->close(true);
      } catch (const std::exception& e) {
        inst.messages.note(std::string("close: ") + e.what());
      }
      instances_.erase(it);
      return json_reply(200, json::object());
    }
    if (path == "/focus") {
      inst.focus.set(in.value("active", true) ? FocusedWindow::kPage : FocusedWindow::kElsewhere);
      return json_reply(200, json::object());
    }
    if (path == "/call") {
      sync(inst);
      inst.set_props(in.value("props", json::object()));
      std::string member = in.value("member", "");
      if (!is_member(member)) return refusal(400, "the control has no member " + member);
      std::vector<std::string> args;
      for (const auto& a : in.value("args", json::array()))
        args.push_back(a.is_string() ? a.get<std::string>() : a.dump());
      json answer = json::object();
      inst.messages.boxes = json::array();
      try {
        CallOutcome done = invoke(inst.control, member, args);
        answer["result"] = done.text     ? json(*done.text)
                           : done.result ? json(*done.result)
                                         : json(nullptr);
      } catch (const std::exception& e) {
        answer["error"] = e.what();
      }
      loop_.run_pending();  // a load the call started completes first
      keep(inst);
      answer["args"] = args;
      answer["messages"] = inst.messages.boxes;
      answer["props"] = inst.props();
      return json_reply(200, answer);
    }
    if (path == "/test/edit" && opt_.test_ops) {
      sync(inst);
      try {
        auto paragraph = in.value("paragraph", std::size_t{0});
        std::size_t deleted = 0;
        if (in.contains("insert")) {
          inst.word->select(paragraph, in.value("at_end", true));
          inst.word->type_text(in.value("insert", ""));
        }
        if (in.contains("delete_count"))
          deleted = inst.word->delete_text(paragraph, in.value("delete_from", std::size_t{0}),
                                           in.value("delete_count", std::size_t{0}));
        keep(inst);
        return json_reply(200, {{"deleted", deleted}, {"text", inst.word->story_text()}});
      } catch (const std::exception& e) {
        return refusal(409, e.what());
      }
    }
    return refusal(404, "no such request");
  });
}

// The file is the meeting point of the control and the word processor the
// user edits in: after each call the control's changes are written to it.
void Companion::keep(Instance& in) {
  try {
    if (auto doc = in.word->active_document()) doc->save();
  } catch (const std::exception& e) {
    in.messages.note("cannot save the document: " + std::string(e.what()));
  }
  sync(in);
}

void Companion::sync(Instance& in) {
  for (auto it = in.editors.begin(); it != in.editors.end();)
    it = ::waitpid(*it, nullptr, WNOHANG) != 0 ? in.editors.erase(it) : std::next(it);
  fs::path file = in.word->active_file();
  if (file.empty()) return;
  if (in.word->changed_on_disk()) {
    // The user saved in the word processor: the control works on that.
    try {
      in.word->reload();
    } catch (const std::exception& e) {
      in.messages.note("cannot read the edited document again: " + std::string(e.what()));
    }
  }
  if (file != in.shown && !opt_.editor.empty()) {
    in.shown = file;
    std::vector<std::string> words = opt_.editor;
    words.push_back(file.string());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0)
      in.editors.push_back(pid);
    else
      in.messages.note("cannot start " + words[0]);
  }
}

}  // namespace desk::web
