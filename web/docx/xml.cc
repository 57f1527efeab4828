#include "web/docx/xml.h"

#include <algorithm>

#include "web/docx/error.h"

namespace desk::docx {
namespace {

constexpr unsigned kParseFlags = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_ws_pcdata |
                                 pugi::parse_declaration | pugi::parse_comments | pugi::parse_pi |
                                 pugi::parse_doctype;

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, std::size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};

}  // namespace

XmlPart::XmlPart(std::string_view name, const std::string& bytes, const Limits& limits) {
  auto res = doc_.load_buffer(bytes.data(), bytes.size(), kParseFlags, pugi::encoding_auto);
  if (!res)
    throw Error(Errc::malformed, "XML part \"" + std::string(name) + "\" does not parse: " +
                                     res.description() + " at byte " + std::to_string(res.offset));
  encoding_ = res.encoding;
  for (auto n : doc_.children())
    if (n.type() == pugi::node_doctype)
      throw Error(Errc::unsafe, "XML part \"" + std::string(name) +
                                    "\" has a DOCTYPE; DTDs and entity declarations are refused");
  if (!doc_.document_element())
    throw Error(Errc::malformed, "XML part \"" + std::string(name) + "\" has no root element");
  // Depth by walking the tree without recursion.
  std::size_t depth = 0;
  pugi::xml_node top = doc_;
  pugi::xml_node n = top.first_child();
  if (n) depth = 1;
  while (n) {
    if (depth > limits.max_xml_depth)
      throw Error(Errc::unsafe, "XML part \"" + std::string(name) + "\" nests deeper than " +
                                    std::to_string(limits.max_xml_depth) + " elements");
    if (n.first_child()) {
      n = n.first_child();
      ++depth;
      continue;
    }
    while (n != top && !n.next_sibling()) {
      n = n.parent();
      --depth;
    }
    if (n == top) break;
    n = n.next_sibling();
  }
}

XmlPart::XmlPart(std::string_view root, std::string_view prefix, std::string_view uri) {
  auto decl = doc_.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  decl.append_attribute("standalone") = "yes";
  auto el = doc_.append_child(std::string(root).c_str());
  std::string attr = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
  el.append_attribute(attr.c_str()) = std::string(uri).c_str();
  dirty = true;
}

std::string XmlPart::serialize() const {
  StringWriter w;
  doc_.save(w, "", pugi::format_raw | pugi::format_no_declaration, encoding_);
  return std::move(w.out);
}

bool XmlPart::find_prefix(std::string_view uri, std::string& out) const {
  if (auto it = prefixes_.find(uri); it != prefixes_.end()) {
    out = it->second;
    return true;
  }
  for (auto a : root().attributes()) {
    std::string_view name = a.name();
    if (a.value() != uri) continue;
    if (name == "xmlns") {
      out.clear();
      return true;
    }
    if (name.substr(0, 6) == "xmlns:") {
      out = std::string(name.substr(6)) + ":";
      return true;
    }
  }
  return false;
}

std::string XmlPart::prefix(std::string_view uri, std::string_view preferred) {
  std::string p;
  if (find_prefix(uri, p)) {
    prefixes_.emplace(std::string(uri), p);
    return p;
  }
  std::string candidate(preferred);
  for (int i = 1; root().attribute(("xmlns:" + candidate).c_str()); ++i)
    candidate = std::string(preferred) + std::to_string(i);
  root().append_attribute(("xmlns:" + candidate).c_str()) = std::string(uri).c_str();
  dirty = true;
  p = candidate + ":";
  prefixes_.emplace(std::string(uri), p);
  return p;
}

std::string_view local_name(std::string_view q) {
  auto colon = q.find(':');
  return colon == std::string_view::npos ? q : q.substr(colon + 1);
}

bool is(pugi::xml_node node, std::string_view prefix, std::string_view local) {
  std::string_view n = node.name();
  return n.size() == prefix.size() + local.size() && n.substr(0, prefix.size()) == prefix &&
         n.substr(prefix.size()) == local;
}

pugi::xml_node child(pugi::xml_node parent, std::string_view prefix, std::string_view local) {
  for (auto c : parent.children())
    if (c.type() == pugi::node_element && is(c, prefix, local)) return c;
  return {};
}

std::vector<pugi::xml_node> descendants(pugi::xml_node top, std::string_view prefix,
                                        std::string_view local) {
  std::vector<pugi::xml_node> out;
  walk(top, [&](pugi::xml_node n) {
    if (is(n, prefix, local)) out.push_back(n);
  });
  return out;
}

pugi::xml_node ensure_child_in_order(pugi::xml_node parent, const std::string& name,
                                     const std::vector<std::string>& before) {
  if (auto c = parent.child(name.c_str())) return c;
  for (auto c : parent.children()) {
    if (c.type() != pugi::node_element) continue;
    if (std::find(before.begin(), before.end(), c.name()) == before.end())
      return parent.insert_child_before(name.c_str(), c);
  }
  return parent.append_child(name.c_str());
}

}  // namespace desk::docx
