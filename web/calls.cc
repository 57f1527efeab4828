#include "web/calls.h"

#include <functional>
#include <map>
#include <stdexcept>

namespace desk::web {
namespace {

using Args = std::vector<std::string>;

struct Member {
  std::function<std::optional<bool>(office&, Args&)> call;
  const char* changed = nullptr;  // name of the by-reference argument it may change
  std::size_t index = 0;
  std::size_t arity = 0;
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
  out.result = m.call(control, args);
  return out;
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
