#include "web/calls.h"

#include <functional>
#include <map>
#include <stdexcept>

#include "core/text.h"

namespace desk::web {
namespace {

using Args = std::vector<std::string>;

struct Member {
  std::function<std::optional<bool>(office&, Args&)> call;
  const char* changed = nullptr;  // name of the by-reference argument it may change
  std::size_t index = 0;
  std::size_t arity = 0;
  // Members answering text (connect, ReadId) instead of a boolean.
  std::function<std::string(office&, Args&)> text = {};
};

template <typename F>
Member none(std::size_t arity, F f) {
  return {[f](office& o, Args& a) -> std::optional<bool> {
            f(o, a);
            return std::nullopt;
          },
          nullptr, 0, arity};
}

template <typename F>
Member yes(std::size_t arity, F f, const char* changed = nullptr, std::size_t index = 0) {
  return {[f](office& o, Args& a) -> std::optional<bool> { return f(o, a); }, changed, index,
          arity};
}

template <typename F>
Member text(std::size_t arity, F f) {
  return {nullptr, nullptr, 0, arity, f};
}

bool ftp_transfer(office& o, Args& a, bool up) {
  std::int16_t port = port_argument(a[1]);
  return up ? o.uploadfile(a[0], port, a[2], a[3], a[4], a[5])
            : o.downloadfile(a[0], port, a[2], a[3], a[4], a[5]);
}

const std::map<std::string, Member>& members() {
  static const std::map<std::string, Member> table = {
      {"openfile", yes(1, [](office& o, Args& a) { return o.openfile(a[0]); })},
      {"writefile", none(1, [](office& o, Args& a) { o.writefile(a[0]); })},
      {"sendurltry",
       yes(
           3, [](office& o, Args& a) { return o.sendurltry(a[0], a[1], a[2]); }, "URL", 0)},
      {"sendurl", yes(
                      3, [](office& o, Args& a) { return o.sendurl(a[0], a[1], a[2]); }, "URL", 0)},
      {"upload",
       yes(
           4, [](office& o, Args& a) { return o.upload(a[0], a[1], a[2], a[3]); }, "filepath", 2)},
      {"uploadtry", yes(
                        4, [](office& o, Args& a) { return o.uploadtry(a[0], a[1], a[2], a[3]); },
                        "filepath", 2)},
      {"download", yes(2, [](office& o, Args& a) { return o.download(a[0], a[1]); })},
      {"downloadtry", yes(2, [](office& o, Args& a) { return o.downloadtry(a[0], a[1]); })},
      {"downloadpath",
       yes(
           3, [](office& o, Args& a) { return o.downloadpath(a[0], a[1], a[2]); }, "spath", 2)},
      {"downloadpathtry",
       yes(
           3, [](office& o, Args& a) { return o.downloadpathtry(a[0], a[1], a[2]); }, "spath", 2)},
      {"uploadurl", yes(1, [](office& o, Args& a) { return o.uploadurl(a[0]); })},
      {"initupload", yes(0, [](office& o, Args&) { return o.initupload(); })},
      {"addpara", yes(2, [](office& o, Args& a) { return o.addpara(a[0], a[1]); })},
      {"addfile", yes(1, [](office& o, Args& a) { return o.addfile(a[0]); })},
      {"addzw", yes(1, [](office& o, Args& a) { return o.addzw(a[0]); })},
      {"adddir", yes(
                     1, [](office& o, Args& a) { return o.adddir(a[0]); }, "dirpath", 0)},
      {"Emend", none(0, [](office& o, Args&) { o.Emend(); })},
      {"pagehead", none(0, [](office& o, Args&) { o.pagehead(); })},
      {"insertpageno", none(0, [](office& o, Args&) { o.insertpageno(); })},
      {"pagefoot", none(0, [](office& o, Args&) { o.pagefoot(); })},
      {"pagesetup", none(0, [](office& o, Args&) { o.pagesetup(); })},
      {"printout", none(0, [](office& o, Args&) { o.printout(); })},
      {"Protect", none(0, [](office& o, Args&) { o.Protect(); })},
      {"closedoc", none(0, [](office& o, Args&) { o.closedoc(); })},
      {"SaveAs", none(0, [](office& o, Args&) { o.SaveAs(); })},
      {"SaveDoc", none(0, [](office& o, Args&) { o.SaveDoc(); })},
      {"SetUserName", none(1, [](office& o, Args& a) { o.SetUserName(a[0]); })},
      {"signature", none(1, [](office& o, Args& a) { o.signature(a[0]); })},
      {"UnEmend", none(0, [](office& o, Args&) { o.UnEmend(); })},
      {"UnProtect", none(0, [](office& o, Args&) { o.UnProtect(); })},
      {"delfile", none(0, [](office& o, Args&) { o.delfile(); })},
      {"docpane_DocumentComplete", none(0, [](office& o, Args&) { o.docpane_DocumentComplete(); })},
      {"uploadfile", yes(6, [](office& o, Args& a) { return ftp_transfer(o, a, true); })},
      {"downloadfile", yes(6, [](office& o, Args& a) { return ftp_transfer(o, a, false); })},
      {"connect", text(0, [](office& o, Args&) { return o.connect(); })},
      {"disconnect", none(2,
                          [](office& o, Args& a) {
                            FtpHandle hconnect = handle_argument(a[0]);
                            FtpHandle hInternet = handle_argument(a[1]);
                            o.disconnect(hconnect, hInternet);
                            a[0] = std::to_string(hconnect);
                            a[1] = std::to_string(hInternet);
                          })},
      {"ReadId", text(0, [](office& o, Args&) { return o.ReadId(); })},
      {"CloseComm", none(0, [](office& o, Args&) { o.CloseComm(); })},
      {"DevBeep", none(1, [](office& o, Args& a) { o.DevBeep(a[0]); })},
  };
  return table;
}

}  // namespace

bool is_member(const std::string& name) {
  return members().count(name) > 0;
}

CallOutcome invoke(office& control, const std::string& name, std::vector<std::string>& args) {
  auto it = members().find(name);
  if (it == members().end())
    throw std::invalid_argument("the control has no member \"" + name + "\"");
  const Member& m = it->second;
  if (args.size() < m.arity) args.resize(m.arity);
  CallOutcome out;
  if (m.changed) out.changed.emplace_back(m.changed, m.index);
  if (name == "disconnect") out.changed = {{"hconnect", 0}, {"hInternet", 1}};
  if (m.text)
    out.text = m.text(control, args);
  else
    out.result = m.call(control, args);
  return out;
}

std::int16_t port_argument(const std::string& s) {
  long long v;
  if (!text::parse_int(s, v) || v < -32768 || v > 65535)
    throw std::invalid_argument("\"" + s + "\" is not a port number");
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF));
}

FtpHandle handle_argument(const std::string& s) {
  long long v;
  if (s.empty()) return 0;
  if (!text::parse_int(s, v) || v < 0 || v > 0xFFFFFFFFll)
    throw std::invalid_argument("\"" + s + "\" is not a handle");
  return static_cast<FtpHandle>(v);
}

std::string* text_property(office& o, const std::string& name) {
  if (name == "ftpip") return &o.ftpip;
  if (name == "username") return &o.username;
  if (name == "Password") return &o.Password;
  if (name == "localfile") return &o.localfile;
  if (name == "opentype") return &o.opentype;
  if (name == "retmsg") return &o.retmsg;
  if (name == "ErrorMsg") return &o.ErrorMsg;
  return nullptr;
}

}  // namespace desk::web
