#include "web/docx/document.h"

#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "web/docx/error.h"
#include "web/docx/xml.h"

namespace desk::docx {
namespace {

constexpr std::string_view kRelBase =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr std::string_view kStrictRelBase =
    "http://purl.oclc.org/ooxml/officeDocument/relationships/";
constexpr std::string_view kWordCt =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.";

// Children of w:settings in their schema order, up to the ones we write.
const std::vector<std::string> kSettingsOrder = {"writeProtection",
                                                 "view",
                                                 "zoom",
                                                 "removePersonalInformation",
                                                 "removeDateAndTime",
                                                 "doNotDisplayPageBoundaries",
                                                 "displayBackgroundShape",
                                                 "printPostScriptOverText",
                                                 "printFractionalCharacterWidth",
                                                 "printFormsData",
                                                 "embedTrueTypeFonts",
                                                 "embedSystemFonts",
                                                 "saveSubsetFonts",
                                                 "saveFormsData",
                                                 "mirrorMargins",
                                                 "alignBordersAndEdges",
                                                 "bordersDoNotSurroundHeader",
                                                 "bordersDoNotSurroundFooter",
                                                 "gutterAtTop",
                                                 "hideSpellingErrors",
                                                 "hideGrammaticalErrors",
                                                 "activeWritingStyle",
                                                 "proofState",
                                                 "formsDesign",
                                                 "attachedTemplate",
                                                 "linkStyles",
                                                 "stylePaneFormatFilter",
                                                 "stylePaneSortMethod",
                                                 "documentType",
                                                 "mailMerge",
                                                 "revisionView",
                                                 "trackRevisions",
                                                 "doNotTrackMoves",
                                                 "doNotTrackFormatting",
                                                 "documentProtection"};
// Children of w:sectPr ahead of pgSz, then pgMar.
const std::vector<std::string> kSectOrder = {
    "headerReference", "footerReference", "footnotePr", "endnotePr", "type", "pgSz", "pgMar"};

std::vector<std::string> before(const std::vector<std::string>& order, std::string_view local,
                                const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& n : order) {
    if (n == local) break;
    out.push_back(prefix + n);
  }
  return out;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool rel_type_is(std::string_view type, std::string_view name) {
  for (auto base : {kRelBase, kStrictRelBase})
    if (type.size() == base.size() + name.size() && type.substr(0, base.size()) == base &&
        type.substr(base.size()) == name)
      return true;
  return false;
}

std::string dir_of(std::string_view part) {
  auto slash = part.rfind('/');
  return slash == std::string_view::npos ? "" : std::string(part.substr(0, slash));
}

// Target of a relationship from `source` to `part`.
std::string relative_target(std::string_view source, const std::string& part) {
  std::string dir = dir_of(source);
  if (dir.empty()) return part;
  if (part.compare(0, dir.size() + 1, dir + "/") == 0) return part.substr(dir.size() + 1);
  return "/" + part;
}

bool on(pugi::xml_attribute a, bool missing) {
  if (!a) return missing;
  std::string_view v = a.value();
  return !(v == "0" || v == "false" || v == "off");
}

int int_attr(pugi::xml_node n, const std::string& name, int fallback) {
  std::string_view v = n.attribute(name.c_str()).value();
  int out = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
  return ec == std::errc() && p == v.data() + v.size() ? out : fallback;
}

std::string attr_escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

struct Document::Part {
  std::string name;
  std::unique_ptr<XmlPart> xml;
};

Document::Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

Document Document::open(std::string bytes, const Limits& limits) {
  Document d;
  d.pkg_ = Package::open(std::move(bytes), limits);
  if (!d.pkg_.has("[Content_Types].xml"))
    throw Error(Errc::malformed, "not a .docx: the package has no [Content_Types].xml");
  d.xml("[Content_Types].xml");
  if (!d.pkg_.has("_rels/.rels"))
    throw Error(Errc::malformed, "not a .docx: the package has no relationships");
  for (const auto& rel : d.rels(""))
    if (!rel.external && rel_type_is(rel.type, "officeDocument")) {
      d.main_ = d.resolve("", rel.target);
      break;
    }
  if (d.main_.empty() || !d.pkg_.has(d.main_))
    throw Error(Errc::malformed, "not a .docx: no main document part");
  XmlPart& m = d.xml(d.main_);
  std::string w;
  if (!m.find_prefix(ns::w, w))
    throw Error(Errc::unsupported, "the main part is not a transitional word-processing document");
  if (!is(m.root(), w, "document") || !child(m.root(), w, "body"))
    throw Error(Errc::malformed, "not a .docx: the main part has no document body");
  return d;
}

Document Document::load(const std::filesystem::path& file, const Limits& limits) {
  std::error_code ec;
  auto size = std::filesystem::file_size(file, ec);
  if (ec) throw Error(Errc::io, "cannot read " + file.string() + ": " + ec.message());
  if (size > limits.max_file_bytes)
    throw Error(Errc::unsafe, file.string() + " has " + std::to_string(size) +
                                  " bytes, above the limit of " +
                                  std::to_string(limits.max_file_bytes));
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Error(Errc::io, "cannot read " + file.string() + ": " + std::strerror(errno));
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw Error(Errc::io, "cannot read " + file.string());
  return open(std::move(bytes), limits);
}

std::string Document::save() {
  for (auto& [key, part] : parts_)
    if (part->xml->dirty) pkg_.write(part->name, part->xml->serialize());
  std::string out = pkg_.save();
  for (auto& [key, part] : parts_) part->xml->dirty = false;
  modified_ = false;
  return out;
}

std::string Document::snapshot() {
  bool was = modified_;
  std::string out = save();
  modified_ = was;
  return out;
}

void Document::save(const std::filesystem::path& file) {
  std::string bytes = save();
  std::string tmp = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    modified_ = true;
    throw Error(Errc::io, "cannot write " + file.string() + ": " + std::strerror(errno));
  }
  // The new file keeps the permissions of the one it replaces.
  struct stat st;
  ::fchmod(fd, ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  int err = done == bytes.size() ? 0 : errno;
  if (::fsync(fd) != 0 && !err) err = errno;
  ::close(fd);
  if (err || std::rename(tmp.c_str(), file.c_str()) != 0) {
    if (!err) err = errno;
    std::remove(tmp.c_str());
    modified_ = true;
    throw Error(Errc::io, "cannot write " + file.string() + ": " + std::strerror(err));
  }
}

std::vector<std::string> Document::part_names() const {
  auto out = pkg_.names();
  for (const auto& [key, part] : parts_)
    if (!pkg_.has(part->name)) out.push_back(part->name);
  return out;
}

std::string Document::part_bytes(std::string_view name) {
  if (auto it = parts_.find(lower(name)); it != parts_.end() && it->second->xml->dirty)
    return it->second->xml->serialize();
  return pkg_.read(name);
}

XmlPart& Document::xml(std::string_view name) {
  auto key = lower(name);
  if (auto it = parts_.find(key); it != parts_.end()) return *it->second->xml;
  auto part = std::make_unique<Part>();
  part->name = std::string(name);
  part->xml = std::make_unique<XmlPart>(name, pkg_.read(name), pkg_.limits());
  return *parts_.emplace(key, std::move(part)).first->second->xml;
}

void Document::touch(XmlPart& part) {
  part.dirty = true;
  modified_ = true;
}

std::string Document::w(XmlPart& part) {
  return part.prefix(ns::w, "w");
}

// ---- relationships and content types ----

std::vector<Document::Rel> Document::rels(std::string_view source) {
  std::string name = source.empty()
                         ? "_rels/.rels"
                         : (dir_of(source).empty() ? "" : dir_of(source) + "/") + "_rels/" +
                               std::string(source.substr(source.rfind('/') + 1)) + ".rels";
  std::vector<Rel> out;
  if (!pkg_.has(name) && !parts_.count(lower(name))) return out;
  XmlPart& x = xml(name);
  for (auto r : x.root().children()) {
    if (local_name(r.name()) != "Relationship") continue;
    Rel rel{r.attribute("Id").value(), r.attribute("Type").value(), r.attribute("Target").value(),
            std::string_view(r.attribute("TargetMode").value()) == "External"};
    out.push_back(std::move(rel));
  }
  return out;
}

std::string Document::resolve(std::string_view source, std::string_view target) const {
  std::string path(target.substr(0, target.find('#')));
  if (path.empty()) return "";
  std::string joined = path.front() == '/'
                           ? path.substr(1)
                           : (dir_of(source).empty() ? path : dir_of(source) + "/" + path);
  std::vector<std::string> segs;
  std::size_t start = 0;
  while (start <= joined.size()) {
    auto slash = joined.find('/', start);
    std::string seg =
        joined.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (seg == "..") {
      if (segs.empty()) return "";  // above the package root
      segs.pop_back();
    } else if (!seg.empty() && seg != ".") {
      segs.push_back(seg);
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  std::string out;
  for (const auto& s : segs) out += (out.empty() ? "" : "/") + s;
  return out;
}

std::string Document::related(std::string_view source, std::string_view type_name) {
  for (const auto& rel : rels(source))
    if (!rel.external && rel_type_is(rel.type, type_name)) {
      std::string part = resolve(source, rel.target);
      if (!part.empty() && (pkg_.has(part) || parts_.count(lower(part)))) return part;
    }
  return "";
}

std::string Document::add_rel(std::string_view source, std::string_view type_name,
                              std::string_view target) {
  std::string name = (dir_of(source).empty() ? "" : dir_of(source) + "/") + "_rels/" +
                     std::string(source.substr(source.rfind('/') + 1)) + ".rels";
  if (!pkg_.has(name) && !parts_.count(lower(name))) {
    auto part = std::make_unique<Part>();
    part->name = name;
    part->xml = std::make_unique<XmlPart>("Relationships", "", ns::rels);
    parts_.emplace(lower(name), std::move(part));
    ensure_default("rels", "application/vnd.openxmlformats-package.relationships+xml");
  }
  XmlPart& x = xml(name);
  std::string prefix;
  x.find_prefix(ns::rels, prefix);
  std::vector<std::string> ids;
  for (auto r : x.root().children()) ids.emplace_back(r.attribute("Id").value());
  std::string id;
  for (std::size_t k = ids.size() + 1;; ++k) {
    id = "rId" + std::to_string(k);
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) break;
  }
  auto r = x.root().append_child((prefix + "Relationship").c_str());
  r.append_attribute("Id") = id.c_str();
  r.append_attribute("Type") = (std::string(kRelBase) + std::string(type_name)).c_str();
  r.append_attribute("Target") = std::string(target).c_str();
  touch(x);
  return id;
}

void Document::set_override(std::string_view part, std::string_view content_type) {
  XmlPart& x = xml("[Content_Types].xml");
  std::string want = "/" + lower(part);
  for (auto o : x.root().children())
    if (local_name(o.name()) == "Override" && lower(o.attribute("PartName").value()) == want) {
      o.attribute("ContentType").set_value(std::string(content_type).c_str());
      touch(x);
      return;
    }
  std::string prefix;
  x.find_prefix(ns::types, prefix);
  auto o = x.root().append_child((prefix + "Override").c_str());
  o.append_attribute("PartName") = ("/" + std::string(part)).c_str();
  o.append_attribute("ContentType") = std::string(content_type).c_str();
  touch(x);
}

void Document::ensure_default(std::string_view ext, std::string_view content_type) {
  XmlPart& x = xml("[Content_Types].xml");
  for (auto d : x.root().children())
    if (local_name(d.name()) == "Default" && lower(d.attribute("Extension").value()) == lower(ext))
      return;
  std::string prefix;
  x.find_prefix(ns::types, prefix);
  auto d = x.root().prepend_child((prefix + "Default").c_str());
  d.append_attribute("Extension") = std::string(ext).c_str();
  d.append_attribute("ContentType") = std::string(content_type).c_str();
  touch(x);
}

std::string Document::new_part_name(std::string_view stem, std::string_view ext, bool plain_first) {
  for (int n = plain_first ? 0 : 1;; ++n) {
    std::string name =
        std::string(stem) + (n ? std::to_string(n) : std::string()) + "." + std::string(ext);
    if (!pkg_.has(name) && !parts_.count(lower(name))) return name;
  }
}

std::string Document::settings_part(bool create) {
  std::string name = related(main_, "settings");
  if (!name.empty() || !create) return name;
  name = new_part_name("word/settings", "xml", true);
  auto part = std::make_unique<Part>();
  part->name = name;
  part->xml = std::make_unique<XmlPart>("w:settings", "w", ns::w);
  parts_.emplace(lower(name), std::move(part));
  modified_ = true;
  set_override(name, std::string(kWordCt) + "settings+xml");
  add_rel(main_, "settings", relative_target(main_, name));
  return name;
}

std::vector<std::string> Document::story_parts() {
  std::vector<std::string> out{main_};
  for (const auto& rel : rels(main_)) {
    if (rel.external) continue;
    for (auto t : {"header", "footer", "footnotes", "endnotes", "comments"})
      if (rel_type_is(rel.type, t)) {
        std::string part = resolve(main_, rel.target);
        if (!part.empty() && pkg_.has(part) && std::find(out.begin(), out.end(), part) == out.end())
          out.push_back(part);
      }
  }
  return out;
}

// ---- settings: revisions and protection ----

bool Document::track_revisions() {
  std::string s = settings_part(false);
  if (s.empty()) return false;
  XmlPart& x = xml(s);
  auto t = child(x.root(), w(x), "trackRevisions");
  return t && on(t.attribute((w(x) + "val").c_str()), true);
}

void Document::set_track_revisions(bool value) {
  if (track_revisions() == value) return;
  XmlPart& x = xml(settings_part(true));
  std::string p = w(x);
  if (value) {
    auto t = ensure_child_in_order(x.root(), p + "trackRevisions",
                                   before(kSettingsOrder, "trackRevisions", p));
    t.remove_attribute((p + "val").c_str());
  } else {
    x.root().remove_child(child(x.root(), p, "trackRevisions"));
  }
  touch(x);
}

bool Document::show_revisions() {
  std::string s = settings_part(false);
  if (s.empty()) return true;
  XmlPart& x = xml(s);
  std::string p = w(x);
  auto v = child(x.root(), p, "revisionView");
  return !v || on(v.attribute((p + "insDel").c_str()), true);
}

void Document::set_show_revisions(bool value) {
  if (show_revisions() == value) return;
  XmlPart& x = xml(settings_part(true));
  std::string p = w(x);
  auto v = ensure_child_in_order(x.root(), p + "revisionView",
                                 before(kSettingsOrder, "revisionView", p));
  for (const char* a : {"insDel", "formatting", "markup"}) {
    std::string name = p + a;
    if (value) {
      v.remove_attribute(name.c_str());
    } else {
      auto attr = v.attribute(name.c_str());
      (attr ? attr : v.append_attribute(name.c_str())).set_value("0");
    }
  }
  if (value && !v.first_attribute()) x.root().remove_child(v);
  touch(x);
}

std::optional<ProtectionType> Document::protection() {
  std::string s = settings_part(false);
  if (s.empty()) return std::nullopt;
  XmlPart& x = xml(s);
  std::string p = w(x);
  auto d = child(x.root(), p, "documentProtection");
  if (!d || !on(d.attribute((p + "enforcement").c_str()), true)) return std::nullopt;
  std::string_view edit = d.attribute((p + "edit").c_str()).value();
  if (edit == "comments") return ProtectionType::comments;
  if (edit == "trackedChanges") return ProtectionType::tracked_changes;
  if (edit == "forms") return ProtectionType::forms;
  return ProtectionType::read_only;
}

bool Document::is_protected() {
  return protection().has_value();
}

void Document::refuse_if_protected() {
  if (is_protected())
    throw Error(Errc::protected_doc, "the document is protected; lift the protection first");
}

void Document::protect(ProtectionType type, std::string_view password) {
  unsigned char salt[16];
  if (RAND_bytes(salt, sizeof salt) != 1)
    throw Error(Errc::unavailable, "no random bytes for the protection salt");
  protect(type, password, std::string_view(reinterpret_cast<char*>(salt), sizeof salt), 100000);
}

void Document::protect(ProtectionType type, std::string_view password, std::string_view salt,
                       std::uint32_t spin_count) {
  if (is_protected()) throw Error(Errc::protected_doc, "the document is already protected");
  XmlPart& x = xml(settings_part(true));
  std::string p = w(x);
  if (auto old = child(x.root(), p, "documentProtection")) x.root().remove_child(old);
  auto d = ensure_child_in_order(x.root(), p + "documentProtection",
                                 before(kSettingsOrder, "documentProtection", p));
  const char* edit = type == ProtectionType::comments          ? "comments"
                     : type == ProtectionType::tracked_changes ? "trackedChanges"
                     : type == ProtectionType::forms           ? "forms"
                                                               : "readOnly";
  auto set = [&](const char* name, const std::string& value) {
    d.append_attribute((p + name).c_str()) = value.c_str();
  };
  set("edit", edit);
  set("enforcement", "1");
  if (!password.empty()) {
    set("cryptProviderType", "rsaAES");
    set("cryptAlgorithmClass", "hash");
    set("cryptAlgorithmType", "typeAny");
    set("cryptAlgorithmSid", "14");
    set("cryptSpinCount", std::to_string(spin_count));
    set("hash", base64_encode(protection_hash(password, salt, HashAlgorithm::sha512, spin_count)));
    set("salt", base64_encode(salt));
  }
  touch(x);
}

void Document::unprotect(std::string_view password) {
  if (!is_protected()) return;
  XmlPart& x = xml(settings_part(false));
  std::string p = w(x);
  auto d = child(x.root(), p, "documentProtection");
  auto get = [&](const char* a, const char* b) -> std::string_view {
    auto v = d.attribute((p + a).c_str());
    return v ? v.value() : d.attribute((p + b).c_str()).value();
  };
  std::string_view hash = get("hash", "hashValue");
  if (!hash.empty()) {
    std::string_view sid = d.attribute((p + "cryptAlgorithmSid").c_str()).value();
    std::string_view name = d.attribute((p + "algorithmName").c_str()).value();
    HashAlgorithm alg;
    if (sid == "4" || name == "SHA-1")
      alg = HashAlgorithm::sha1;
    else if (sid == "12" || name == "SHA-256")
      alg = HashAlgorithm::sha256;
    else if (sid == "13" || name == "SHA-384")
      alg = HashAlgorithm::sha384;
    else if (sid == "14" || name == "SHA-512")
      alg = HashAlgorithm::sha512;
    else
      throw Error(Errc::unsupported, "cannot check the password: unknown hash algorithm \"" +
                                         std::string(sid.empty() ? name : sid) + "\"");
    std::string_view spin_text = get("cryptSpinCount", "spinCount");
    std::uint32_t spin = 0;
    auto [ptr, ec] = std::from_chars(spin_text.data(), spin_text.data() + spin_text.size(), spin);
    if (ec != std::errc() || spin > 1'000'000)
      throw Error(Errc::unsupported,
                  "cannot check the password: bad spin count \"" + std::string(spin_text) + "\"");
    std::string salt = base64_decode(get("salt", "saltValue"));
    if (base64_decode(hash) != protection_hash(password, salt, alg, spin))
      throw Error(Errc::bad_password, "the password is not correct");
  }
  x.root().remove_child(d);
  touch(x);
}

// ---- stories and text ----

pugi::xml_node Document::story_root(XmlPart& part) {
  if (&part == &xml(main_)) return child(part.root(), w(part), "body");
  return part.root();
}

std::vector<pugi::xml_node> Document::paragraphs(XmlPart& part) {
  std::string p = w(part), mc;
  bool has_mc = part.find_prefix(ns::mc, mc);
  std::vector<pugi::xml_node> out;
  walk(
      story_root(part),
      [&](pugi::xml_node n) {
        if (is(n, p, "p")) out.push_back(n);
      },
      [&](pugi::xml_node n) { return has_mc && is(n, mc, "Fallback"); });
  return out;
}

std::size_t Document::paragraph_count(std::string_view part) {
  return paragraphs(xml(part)).size();
}

std::string Document::text(std::string_view part) {
  XmlPart& x = xml(part);
  std::string p = w(x), out;
  bool first = true;
  for (auto para : paragraphs(x)) {
    if (!first) out += '\n';
    first = false;
    walk(
        para,
        [&](pugi::xml_node n) {
          if (is(n, p, "t")) out += n.text().get();
          if (is(n, p, "tab") && !is(n.parent(), p, "tabs")) out += '\t';
        },
        // Deleted content, tabs included, is not part of the text.
        [&](pugi::xml_node n) { return is(n, p, "del") || is(n, p, "moveFrom"); });
  }
  return out;
}

int Document::next_revision_id() {
  if (next_rev_id_ < 0) {
    int max = 0;
    for (const auto& name : story_parts()) {
      XmlPart& x = xml(name);
      std::string id = w(x) + "id";
      walk(x.root(), [&](pugi::xml_node n) {
        if (auto a = n.attribute(id.c_str())) max = std::max(max, a.as_int());
      });
    }
    next_rev_id_ = max + 1;
  }
  return next_rev_id_++;
}

unsigned Document::next_drawing_id() {
  if (next_drawing_id_ == 0) {
    unsigned max = 0;
    for (const auto& name : story_parts()) {
      XmlPart& x = xml(name);
      std::string wp;
      if (!x.find_prefix(ns::wp, wp)) continue;
      walk(x.root(), [&](pugi::xml_node n) {
        if (is(n, wp, "docPr")) max = std::max(max, n.attribute("id").as_uint());
      });
    }
    next_drawing_id_ = max + 1;
  }
  return next_drawing_id_++;
}

namespace {

// The run properties typing continues with at a point of paragraph `para`:
// those of the last run before it, else the paragraph mark's.
pugi::xml_node typing_properties(pugi::xml_node para, pugi::xml_node ref, const std::string& w) {
  pugi::xml_node found;
  for (auto c = ref ? ref.previous_sibling() : para.last_child(); c && !found;
       c = c.previous_sibling()) {
    if (is(c, w, "r")) {
      found = c;
    } else if (c.type() == pugi::node_element && !is(c, w, "pPr")) {
      auto runs = descendants(c, w, "r");
      if (!runs.empty()) found = runs.back();
    }
  }
  if (found) return child(found, w, "rPr");
  return child(child(para, w, "pPr"), w, "rPr");
}

}  // namespace

Position Document::insert_text(const Position& at, std::string_view text, const Revision* tracked) {
  refuse_if_protected();
  XmlPart& x = xml(at.part);
  std::string p = w(x);
  auto paras = paragraphs(x);
  Position pos = at;
  if (paras.empty()) {
    auto root = story_root(x);
    auto sect = child(root, p, "sectPr");
    paras.push_back(sect ? root.insert_child_before((p + "p").c_str(), sect)
                         : root.append_child((p + "p").c_str()));
    pos.paragraph = 0;
    pos.offset = Position::kEnd;
  }
  if (pos.paragraph >= paras.size()) pos = {at.part, paras.size() - 1, Position::kEnd};
  auto para = paras[pos.paragraph];
  std::vector<pugi::xml_node> content;
  for (auto c : para.children())
    if (c.type() == pugi::node_element && !is(c, p, "pPr")) content.push_back(c);
  pugi::xml_node ref = pos.offset < content.size() ? content[pos.offset] : pugi::xml_node();

  pugi::xml_node rpr = typing_properties(para, ref, p);
  pugi::xml_node holder = ref ? para.insert_child_before((p + "ins").c_str(), ref)
                              : para.append_child((p + "ins").c_str());
  if (tracked) {
    holder.append_attribute((p + "id").c_str()) = next_revision_id();
    holder.append_attribute((p + "author").c_str()) = tracked->author.c_str();
    holder.append_attribute((p + "date").c_str()) = tracked->date.c_str();
  }
  auto run = holder.append_child((p + "r").c_str());
  if (rpr) {
    auto copy = run.append_copy(rpr);
    for (auto name : {"rPrChange", "ins", "del", "moveFrom", "moveTo"})
      while (auto c = child(copy, p, name)) copy.remove_child(c);
  }
  std::string chunk;
  auto flush = [&] {
    if (chunk.empty()) return;
    auto t = run.append_child((p + "t").c_str());
    t.append_attribute("xml:space") = "preserve";
    t.text().set(chunk.c_str());
    chunk.clear();
  };
  for (char c : text) {
    if (c == '\t' || c == '\n') {
      flush();
      run.append_child((p + (c == '\t' ? "tab" : "br")).c_str());
    } else if (c != '\r') {
      chunk += c;
    }
  }
  flush();
  if (!tracked) {  // an untracked insertion is the bare run
    para.insert_move_before(run, holder);
    para.remove_child(holder);
  }
  touch(x);
  if (pos.offset != Position::kEnd) pos.offset = std::min(pos.offset, content.size()) + 1;
  return pos;
}

namespace {

// Byte offset of code point `n` of `s` (s.size() when past the end).
std::size_t byte_of(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  for (; i < s.size() && n > 0; --n) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  }
  return i;
}

std::size_t chars_of(std::string_view s) {
  std::size_t n = 0;
  for (char c : s)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

// A copy of run `run` placed before it, holding `text` as its only text.
pugi::xml_node text_copy(pugi::xml_node run, const std::string& w, std::string_view text) {
  auto copy = run.parent().insert_copy_before(run, run);
  while (auto t = child(copy, w, "t")) copy.remove_child(t);
  auto t = copy.append_child((w + "t").c_str());
  t.append_attribute("xml:space") = "preserve";
  t.text().set(std::string(text).c_str());
  return copy;
}

}  // namespace

std::size_t Document::delete_text(std::string_view part, std::size_t paragraph, std::size_t first,
                                  std::size_t count, const Revision* tracked) {
  refuse_if_protected();
  XmlPart& x = xml(part);
  std::string p = w(x);
  auto paras = paragraphs(x);
  if (paragraph >= paras.size() || count == 0) return 0;
  auto para = paras[paragraph];
  // Runs whose text shows: not inside deleted or moved-away content.
  std::vector<pugi::xml_node> runs;
  walk(
      para,
      [&](pugi::xml_node n) {
        if (is(n, p, "r")) runs.push_back(n);
      },
      [&](pugi::xml_node n) {
        return is(n, p, "r") || is(n, p, "del") || is(n, p, "moveFrom") || is(n, p, "pPr");
      });
  const std::size_t end = first + count;
  std::size_t pos = 0, deleted = 0;
  for (auto run : runs) {
    bool plain = true;
    std::string text;
    std::size_t length = 0;
    for (auto c : run.children()) {
      if (c.type() != pugi::node_element || is(c, p, "rPr")) continue;
      if (is(c, p, "t")) {
        text += c.text().get();
      } else {
        plain = false;
        if (is(c, p, "tab") || is(c, p, "br") || is(c, p, "cr")) ++length;
      }
    }
    length += chars_of(text);
    const std::size_t a = std::max(first, pos), b = std::min(end, pos + length);
    const std::size_t start = pos;
    pos += length;
    if (a >= b) continue;
    pugi::xml_node gone;
    if (plain) {
      std::size_t from = byte_of(text, a - start), to = byte_of(text, b - start);
      if (from > 0) text_copy(run, p, std::string_view(text).substr(0, from));
      gone = text_copy(run, p, std::string_view(text).substr(from, to - from));
      if (to < text.size()) text_copy(run, p, std::string_view(text).substr(to));
      run.parent().remove_child(run);
    } else if (a == start && b == start + length) {
      gone = run;
    } else {
      continue;
    }
    deleted += b - a;
    if (!tracked) {
      gone.parent().remove_child(gone);
      continue;
    }
    auto del = gone.parent().insert_child_before((p + "del").c_str(), gone);
    del.append_attribute((p + "id").c_str()) = next_revision_id();
    del.append_attribute((p + "author").c_str()) = tracked->author.c_str();
    del.append_attribute((p + "date").c_str()) = tracked->date.c_str();
    del.append_move(gone);
    for (auto t : descendants(gone, p, "t")) t.set_name((p + "delText").c_str());
  }
  if (deleted > 0) touch(x);
  return deleted;
}

Position Document::insert_picture(const Position& at, const Picture& pic, const Revision* tracked) {
  refuse_if_protected();
  XmlPart& x = xml(at.part);
  std::string p = w(x), wp = x.prefix(ns::wp, "wp"), r = x.prefix(ns::r, "r");
  std::string media = new_part_name("word/media/image", pic.ext);
  pkg_.write(media, pic.bytes);
  modified_ = true;
  ensure_default(pic.ext, pic.content_type);
  std::string rid = add_rel(at.part, "image", relative_target(at.part, media));
  unsigned id = next_drawing_id();

  // Size at the picture's own resolution, at most 6 inches wide.
  double cx = pic.width * 914400.0 / pic.dpi_x, cy = pic.height * 914400.0 / pic.dpi_y;
  if (cx > 6 * 914400.0) cy *= 6 * 914400.0 / cx, cx = 6 * 914400.0;
  std::string ext = "cx=\"" + std::to_string(std::llround(cx)) + "\" cy=\"" +
                    std::to_string(std::llround(cy)) + "\"";
  std::string name = attr_escape("Picture " + std::to_string(id));
  std::string frag =
      "<" + p + "drawing><" + wp + "inline distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\"><" + wp +
      "extent " + ext + "/><" + wp + "effectExtent l=\"0\" t=\"0\" r=\"0\" b=\"0\"/><" + wp +
      "docPr id=\"" + std::to_string(id) + "\" name=\"" + name + "\"/><" + wp +
      "cNvGraphicFramePr><a:graphicFrameLocks xmlns:a=\"" + std::string(ns::a) +
      "\" noChangeAspect=\"1\"/></" + wp + "cNvGraphicFramePr><a:graphic xmlns:a=\"" +
      std::string(ns::a) + "\"><a:graphicData uri=\"" + std::string(ns::pic) +
      "\"><pic:pic xmlns:pic=\"" + std::string(ns::pic) +
      "\"><pic:nvPicPr><pic:cNvPr id=\"0\" name=\"" + name +
      "\"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill><a:blip " + r + "embed=\"" + rid +
      "\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x=\"0\" "
      "y=\"0\"/><a:ext " +
      ext +
      "/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></"
      "a:graphicData></a:graphic></" +
      wp + "inline></" + p + "drawing>";
  pugi::xml_document parsed;
  if (!parsed.load_string(frag.c_str(), pugi::parse_default))
    throw Error(Errc::unsupported, "cannot build the picture's drawing");

  // The drawing rides in a run inserted like text, then takes the text's place.
  Position after = insert_text(at, "", tracked);
  auto paras = paragraphs(x);
  auto para = paras[std::min(after.paragraph, paras.size() - 1)];
  std::vector<pugi::xml_node> runs;
  for (auto c : para.children())
    if (c.type() == pugi::node_element && !is(c, p, "pPr")) runs.push_back(c);
  std::size_t idx = after.offset == Position::kEnd ? runs.size() - 1 : after.offset - 1;
  auto run = is(runs[idx], p, "ins") ? child(runs[idx], p, "r") : runs[idx];
  run.append_copy(parsed.document_element());
  return after;
}

std::size_t Document::inline_shape_count() {
  XmlPart& x = xml(main_);
  std::string wp;
  if (!x.find_prefix(ns::wp, wp)) return 0;
  return descendants(story_root(x), wp, "inline").size();
}

void Document::convert_inline_shape(std::size_t index) {
  refuse_if_protected();
  XmlPart& x = xml(main_);
  std::string wp;
  std::vector<pugi::xml_node> shapes;
  if (x.find_prefix(ns::wp, wp)) shapes = descendants(story_root(x), wp, "inline");
  if (index >= shapes.size())
    throw Error(Errc::unsupported, "the document has no inline shape " + std::to_string(index + 1));
  unsigned height = 251659264;
  for (auto a : descendants(x.root(), wp, "anchor"))
    height = std::max(height, a.attribute("relativeHeight").as_uint() + 1);

  auto inl = shapes[index];
  auto anchor = inl.parent().insert_child_before((wp + "anchor").c_str(), inl);
  auto set = [](pugi::xml_node n, const char* name, const std::string& v) {
    n.append_attribute(name) = v.c_str();
  };
  for (auto [name, value] : {std::pair{"distT", "0"},
                             {"distB", "0"},
                             {"distL", "114300"},
                             {"distR", "114300"},
                             {"simplePos", "0"}})
    set(anchor, name, value);
  set(anchor, "relativeHeight", std::to_string(height));
  for (auto [name, value] :
       {std::pair{"behindDoc", "0"}, {"locked", "0"}, {"layoutInCell", "1"}, {"allowOverlap", "1"}})
    set(anchor, name, value);
  for (auto a : inl.attributes()) {
    std::string_view n = a.name();
    if (n.substr(0, 4) != "dist") anchor.append_attribute(a.name()) = a.value();
  }
  auto simple = anchor.append_child((wp + "simplePos").c_str());
  set(simple, "x", "0");
  set(simple, "y", "0");
  for (auto [axis, from] : {std::pair{"positionH", "column"}, {"positionV", "paragraph"}}) {
    auto pos = anchor.append_child((wp + axis).c_str());
    set(pos, "relativeFrom", from);
    pos.append_child((wp + "posOffset").c_str()).text().set("0");
  }
  auto move = [&](const char* local) {
    if (auto c = child(inl, wp, local)) return anchor.append_move(c);
    return pugi::xml_node();
  };
  move("extent");
  if (!move("effectExtent")) {
    auto e = anchor.append_child((wp + "effectExtent").c_str());
    for (auto side : {"l", "t", "r", "b"}) set(e, side, "0");
  }
  anchor.append_child((wp + "wrapNone").c_str());
  move("docPr");
  move("cNvGraphicFramePr");
  std::vector<pugi::xml_node> rest;
  for (auto c : inl.children())
    if (c.type() == pugi::node_element) rest.push_back(c);
  for (auto c : rest) anchor.append_move(c);
  inl.parent().remove_child(inl);
  touch(x);
}

// ---- sections, headers, page setup ----

std::vector<pugi::xml_node> Document::sections(bool create) {
  XmlPart& x = xml(main_);
  std::string p = w(x);
  std::vector<pugi::xml_node> out;
  for (auto para : paragraphs(x))
    if (auto s = child(child(para, p, "pPr"), p, "sectPr")) out.push_back(s);
  auto body = story_root(x);
  auto last = child(body, p, "sectPr");
  if (!last && create) {
    last = body.append_child((p + "sectPr").c_str());
    touch(x);
  }
  out.push_back(last);
  return out;
}

std::size_t Document::section_count() {
  return sections(false).size();
}

std::size_t Document::section_of(const Position& at) {
  if (lower(at.part) != lower(main_)) return 0;
  XmlPart& x = xml(main_);
  std::string p = w(x);
  auto paras = paragraphs(x);
  std::size_t s = 0;
  for (std::size_t i = 0; i < paras.size() && i < at.paragraph; ++i)
    if (child(child(paras[i], p, "pPr"), p, "sectPr")) ++s;
  return s;
}

std::string Document::header_part(std::size_t section, Story story, HeaderType type, bool create) {
  auto secs = sections(create);
  section = std::min(section, secs.size() - 1);
  XmlPart& m = xml(main_);
  std::string p = w(m);
  const char* ref_name = story == Story::header ? "headerReference" : "footerReference";
  const char* type_name = type == HeaderType::primary ? "default"
                          : type == HeaderType::first ? "first"
                                                      : "even";
  std::string r;
  bool has_r = m.find_prefix(ns::r, r);
  auto main_rels = rels(main_);
  for (std::size_t s = section + 1; s-- > 0;) {
    if (!secs[s] || !has_r) continue;
    for (auto ref : secs[s].children()) {
      if (!is(ref, p, ref_name)) continue;
      std::string_view t = ref.attribute((p + "type").c_str()).value();
      if (!(t == type_name || (t.empty() && type == HeaderType::primary))) continue;
      std::string_view id = ref.attribute((r + "id").c_str()).value();
      for (const auto& rel : main_rels)
        if (rel.id == id && !rel.external) {
          std::string part = resolve(main_, rel.target);
          if (!part.empty() && (pkg_.has(part) || parts_.count(lower(part)))) return part;
        }
    }
  }
  if (!create) return "";
  const char* kind = story == Story::header ? "header" : "footer";
  std::string name = new_part_name(std::string("word/") + kind, "xml");
  auto part = std::make_unique<Part>();
  part->name = name;
  part->xml = std::make_unique<XmlPart>(story == Story::header ? "w:hdr" : "w:ftr", "w", ns::w);
  part->xml->root().append_child("w:p");
  parts_.emplace(lower(name), std::move(part));
  set_override(name, std::string(kWordCt) + kind + "+xml");
  std::string id = add_rel(main_, kind, relative_target(main_, name));
  r = m.prefix(ns::r, "r");
  auto ref = secs[section].prepend_child((p + ref_name).c_str());
  ref.append_attribute((p + "type").c_str()) = type_name;
  ref.append_attribute((r + "id").c_str()) = id.c_str();
  touch(m);
  return name;
}

void Document::add_page_number(std::size_t section, int alignment, bool first_page) {
  refuse_if_protected();
  const char* jc = alignment == 0 || alignment == 3 ? "left" : alignment == 1 ? "center" : "right";
  auto add = [&](const std::string& part_name) {
    XmlPart& x = xml(part_name);
    std::string p = w(x);
    // A header made empty a moment ago takes the number in its one paragraph.
    auto only = x.root().first_child();
    bool empty = only && is(only, p, "p") && !only.first_child() && !only.next_sibling();
    auto para = empty ? only : x.root().append_child((p + "p").c_str());
    para.append_child((p + "pPr").c_str())
        .append_child((p + "jc").c_str())
        .append_attribute((p + "val").c_str()) = jc;
    auto fld = para.append_child((p + "fldSimple").c_str());
    fld.append_attribute((p + "instr").c_str()) = " PAGE ";
    fld.append_child((p + "r").c_str()).append_child((p + "t").c_str()).text().set("1");
    touch(x);
  };
  add(header_part(section, Story::header, HeaderType::primary, true));
  auto secs = sections(true);
  XmlPart& m = xml(main_);
  auto title = child(secs[std::min(section, secs.size() - 1)], w(m), "titlePg");
  if (first_page && title && on(title.attribute((w(m) + "val").c_str()), true))
    add(header_part(section, Story::header, HeaderType::first, true));
}

PageSetup Document::page_setup(std::size_t section) {
  auto secs = sections(false);
  auto s = secs[std::min(section, secs.size() - 1)];
  PageSetup out;
  if (!s) return out;
  std::string p = w(xml(main_));
  if (auto sz = child(s, p, "pgSz")) {
    out.width = int_attr(sz, p + "w", out.width);
    out.height = int_attr(sz, p + "h", out.height);
    out.landscape = std::string_view(sz.attribute((p + "orient").c_str()).value()) == "landscape";
  }
  if (auto mar = child(s, p, "pgMar")) {
    out.top = int_attr(mar, p + "top", out.top);
    out.bottom = int_attr(mar, p + "bottom", out.bottom);
    out.left = int_attr(mar, p + "left", out.left);
    out.right = int_attr(mar, p + "right", out.right);
  }
  return out;
}

void Document::set_page_setup(std::size_t section, const PageSetup& s) {
  refuse_if_protected();
  constexpr int kMax = 31680;  // 22 inches
  if (s.width < 1440 || s.height < 1440 || s.width > kMax || s.height > kMax || s.top < 0 ||
      s.bottom < 0 || s.left < 0 || s.right < 0 || s.left + s.right >= s.width ||
      s.top + s.bottom >= s.height)
    throw Error(Errc::unsupported, "the page setup does not fit: paper " + std::to_string(s.width) +
                                       " x " + std::to_string(s.height) + " twips");
  auto secs = sections(true);
  auto sect = secs[std::min(section, secs.size() - 1)];
  XmlPart& m = xml(main_);
  std::string p = w(m);
  auto put = [&](pugi::xml_node n, const char* name, int v) {
    std::string q = p + name;
    auto a = n.attribute(q.c_str());
    (a ? a : n.append_attribute(q.c_str())).set_value(v);
  };
  auto sz = ensure_child_in_order(sect, p + "pgSz", before(kSectOrder, "pgSz", p));
  put(sz, "w", s.width);
  put(sz, "h", s.height);
  sz.remove_attribute((p + "orient").c_str());
  if (s.landscape) sz.append_attribute((p + "orient").c_str()) = "landscape";
  auto mar = ensure_child_in_order(sect, p + "pgMar", before(kSectOrder, "pgMar", p));
  put(mar, "top", s.top);
  put(mar, "right", s.right);
  put(mar, "bottom", s.bottom);
  put(mar, "left", s.left);
  for (auto [name, v] : {std::pair{"header", 720}, {"footer", 720}, {"gutter", 0}})
    if (!mar.attribute((p + name).c_str())) put(mar, name, v);
  touch(m);
}

}  // namespace desk::docx
