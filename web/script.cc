#include "web/script.h"

#include "web/calls.h"

#include <istream>
#include <map>
#include <ostream>

namespace desk::web {
namespace {

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

const char* boolean(bool b) {
  return b ? "True" : "False";
}

bool parse_bool(const std::string& s) {
  std::string l;
  for (char c : s) l += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return l == "true" || l == "1" || l == "-1";
}

}  // namespace

std::vector<std::string> script_words(std::string_view line) {
  std::vector<std::string> out;
  std::string word;
  bool in_word = false, quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        word += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        word += c;
      }
    } else if (c == '"') {
      quoted = in_word = true;
    } else if (c == ' ' || c == '\t' || c == ',' || c == '(' || c == ')' || c == '\r') {
      if (in_word) out.push_back(word);
      word.clear();
      in_word = false;
    } else if (c == '=' && !in_word) {
      out.emplace_back("=");
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) out.push_back(word);
  return out;
}

ScriptRunner::ScriptRunner(office& control, DocxWord& word, FocusedWindow& focus, MessageLoop& loop,
                           std::ostream& out)
    : control_(control), word_(word), focus_(focus), loop_(loop), out_(out) {
  word_.page_setup_dialog = [this](const docx::PageSetup& s) -> std::optional<docx::PageSetup> {
    out_ << "[dialog] page setup: " << s.width << " x " << s.height
         << (s.landscape ? " landscape" : " portrait") << ", margins " << s.top << " " << s.bottom
         << " " << s.left << " " << s.right << (answer_ ? "" : "; cancelled") << std::endl;
    auto a = answer_;
    answer_.reset();
    return a;
  };
}

int ScriptRunner::run(std::istream& script) {
  std::string line;
  int status = 0;
  while (std::getline(script, line)) {
    if (!run_line(line)) {
      status = 1;
      if (!resume_next_) break;
    }
  }
  return status;
}

bool ScriptRunner::run_line(std::string_view line) {
  auto words = script_words(line);
  if (words.empty() || words[0][0] == '\'' || words[0][0] == '#') return true;
  bool ok;
  if (words.size() >= 2 && words[1] == "=")
    ok = property(words);
  else if (driver(words))
    ok = true;
  else if (words.size() == 1 && property(words))
    ok = true;
  else
    ok = call(words);
  loop_.run_pending();
  return ok;
}

bool ScriptRunner::property(const std::vector<std::string>& w) {
  const std::string& name = w[0];
  std::map<std::string, std::string*> texts = {
      {"ftpip", &control_.ftpip},       {"username", &control_.username},
      {"Password", &control_.Password}, {"localfile", &control_.localfile},
      {"opentype", &control_.opentype}, {"retmsg", &control_.retmsg},
      {"ErrorMsg", &control_.ErrorMsg}};
  bool set = w.size() >= 2;
  std::string value = w.size() >= 3 ? w[2] : "";
  if (auto it = texts.find(name); it != texts.end()) {
    if (set) *it->second = value;
    out_ << name << " = " << quoted(*it->second) << std::endl;
    return true;
  }
  if (name == "Port") {
    if (set) control_.Port = static_cast<std::int16_t>(std::stoi(value.empty() ? "0" : value));
    out_ << name << " = " << control_.Port << std::endl;
    return true;
  }
  if (name == "result1") {
    if (set) control_.result1 = parse_bool(value);
    out_ << name << " = " << boolean(control_.result1) << std::endl;
    return true;
  }
  if (!set && (name == "app" || name == "curdoc")) {
    bool there = name == "app" ? bool(control_.app) : bool(control_.curdoc);
    out_ << name << " = " << (there ? "(set)" : "Nothing") << std::endl;
    return true;
  }
  if (set) out_ << name << ": error: not a property that can be set" << std::endl;
  return false;
}

bool ScriptRunner::driver(const std::vector<std::string>& w) {
  const std::string& c = w[0];
  auto arg = [&](std::size_t i) { return i < w.size() ? w[i] : std::string(); };
  try {
    if (c == "wait") {
      double seconds = std::stod(arg(1).empty() ? "1" : arg(1));
      loop_.wait_until(loop_.clock().now() + Millis(static_cast<long long>(seconds * 1000)));
    } else if (c == "focus") {
      focus_.set(arg(1) == "page" ? FocusedWindow::kPage : FocusedWindow::kElsewhere);
    } else if (c == "type") {
      word_.type_text(arg(1));
    } else if (c == "select") {
      word_.select(static_cast<std::size_t>(std::stoul(arg(1))), arg(2) == "end");
    } else if (c == "show") {
      out_ << "text: " << quoted(word_.story_text()) << std::endl;
    } else if (c == "answer" && arg(1) == "pagesetup") {
      if (arg(2) == "cancel") {
        answer_.reset();
      } else {
        answer_ = docx::PageSetup{std::stoi(arg(2)), std::stoi(arg(3)), arg(4) == "landscape",
                                  std::stoi(arg(5)), std::stoi(arg(6)), std::stoi(arg(7)),
                                  std::stoi(arg(8))};
      }
    } else if (c == "on" && arg(1) == "error") {
      resume_next_ = true;
    } else {
      return false;
    }
  } catch (const std::exception& e) {
    out_ << c << ": error: " << e.what() << std::endl;
  }
  return true;
}

bool ScriptRunner::call(const std::vector<std::string>& w) {
  const std::string& name = w[0];
  std::vector<std::string> args(w.begin() + 1, w.end());
  try {
    if (call_ftp_card(w)) return true;
    if (!is_member(name)) {
      out_ << name << ": error: the control has no member " << quoted(name) << std::endl;
      return false;
    }
    CallOutcome done = invoke(control_, name, args);
    out_ << name << ": " << (done.result ? boolean(*done.result) : "ok") << std::endl;
    for (const auto& [arg, index] : done.changed)
      out_ << "  " << arg << " = " << quoted(args[index]) << std::endl;
    if (name == "printout" && !word_.last_printout().empty())
      out_ << "[printed] " << word_.last_printout().string() << std::endl;
  } catch (const std::exception& e) {
    out_ << name << ": error: " << e.what() << std::endl;
    return false;
  }
  return true;
}

}  // namespace desk::web
